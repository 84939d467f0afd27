#include "serverfiles.h"

#include "encoding/gbk.h"
#include "server/firmwareserver.h"
#include "server/versioninfo.h"
#include "usertexts/usertexts.h"

#include <QTextCodec>
#include <QUrl>
#include <QVector>
#include <algorithm>
#include <iterator>
#include <utility>

namespace ServerFiles {

namespace {

QString basePath()
{
    return FirmwareServer::toUrl(FirmwareServer::baseUrl()).path();
}

// "#" (U+0023): readable even where the character is a blank or a control.
QString namedCharacter(uint codePoint)
{
    return QStringLiteral("\"%1\" (U+%2)")
        .arg(QString::fromUcs4(&codePoint, 1),
             QString::number(codePoint, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

// The first character of `value` that fails `keeps` on its own.
std::optional<uint> firstFailing(const QString &value, bool (*keeps)(const QString &))
{
    for (const uint codePoint : value.toUcs4()) {
        if (!keeps(QString::fromUcs4(&codePoint, 1)))
            return codePoint;
    }
    return std::nullopt;
}

Failure refused(const QString &why)
{
    return {Failure::Kind::Refused, why};
}

bool encodableInGbk(const QString &text)
{
    return encodeGbk(text).ok();
}

bool reachesServerAsWritten(const QString &value)
{
    const QString path = basePath() + value;
    const QUrl url = FirmwareServer::toUrl(FirmwareServer::baseUrl() + value);
    // A "/" is kept, but puts the file into a folder of its own.
    return !value.contains(QLatin1Char('/')) && url.path(QUrl::FullyEncoded) == path
           && url.path(QUrl::FullyDecoded) == path;
}

bool looksLikeUtf8(const QByteArray &body)
{
    const bool beyondAscii =
        std::any_of(body.cbegin(), body.cend(), [](char byte) { return byte & 0x80; });
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(body.constData(), body.size(), &state);
    return beyondAscii && state.invalidChars == 0;
}

// The notes box shows about 190 pixels of a line before it has to be scrolled
// sideways: the window's 9 pt face draws a Chinese character 12 pixels wide
// and a Latin one about 6. A note is measured in columns of 6 pixels, which
// this tool can count without a font.
constexpr int notesBoxColumns = 30;

bool isWide(uint codePoint)
{
    // East Asian wide and full-width ranges: Hangul Jamo, CJK symbols,
    // kana and ideographs, Yi, Hangul syllables, compatibility ideographs,
    // vertical and small forms, full-width forms, the supplementary planes'
    // ideographs.
    static constexpr std::pair<uint, uint> wide[] = {
        {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF}, {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x20000, 0x3FFFD},
    };
    return std::any_of(std::begin(wide), std::end(wide), [codePoint](const auto &range) {
        return codePoint >= range.first && codePoint <= range.second;
    });
}

int columns(const QString &note)
{
    int count = 0;
    for (const uint codePoint : note.toUcs4())
        count += isWide(codePoint) ? 2 : 1;
    return count;
}

// Findings about the bytes themselves, whatever the parser makes of them.
QStringList encodingFragilities(const QByteArray &body, const QString &text)
{
    QStringList found;
    if (body.startsWith("\xEF\xBB\xBF") || body.startsWith("\xFF\xFE")
        || body.startsWith("\xFE\xFF"))
        found << QStringLiteral("Version.txt starts with a byte-order mark, which the window "
                                "reads as text in front of \"[Device]\"");
    for (int at = body.indexOf('\n'); at >= 0; at = body.indexOf('\n', at + 1)) {
        if (at == 0 || body.at(at - 1) != '\r') {
            found << QStringLiteral("Version.txt line %1 ends in LF alone; the window splits "
                                    "lines only at CR LF")
                         .arg(body.left(at).count('\n') + 1);
            break;
        }
    }
    if (looksLikeUtf8(body))
        found << QStringLiteral("Version.txt looks UTF-8 encoded; the window reads GBK and "
                                "shows such text garbled");
    else if (text.contains(QChar::ReplacementCharacter))
        found << QStringLiteral("Version.txt is not valid GBK; the window shows garbage there");
    return found;
}

} // namespace

Result<> checkLineValue(const QString &value)
{
    if (value.contains(QLatin1Char('=')))
        return refused(QStringLiteral("holds \"=\": the window reads no line with a second \"=\""));
    if (value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n')))
        return refused(QStringLiteral("holds a line break (CR or LF): it would split the line"));
    // Encoded whole first: one character at a time is only for naming the
    // one at fault, and takes seconds on a long value.
    if (encodableInGbk(value))
        return {};
    const std::optional<uint> lacking = firstFailing(value, encodableInGbk);
    return refused(QStringLiteral("holds %1, which GBK cannot encode")
                       .arg(lacking ? namedCharacter(*lacking) : QStringLiteral("characters")));
}

Result<> checkAddressValue(const QString &value)
{
    if (reachesServerAsWritten(value))
        return {};
    const std::optional<uint> breaking = firstFailing(value, reachesServerAsWritten);
    return refused(QStringLiteral("holds %1, which the firmware address would not carry as written")
                       .arg(breaking ? namedCharacter(*breaking) : QStringLiteral("characters")));
}

QStringList fragilities(const QByteArray &body)
{
    const Result<QString> text = decodeGbk(body);
    if (!text)
        return {};
    QStringList found = encodingFragilities(body, *text);

    const VersionInfo info = parseVersionInfo(body);
    if (info.status != VersionInfo::Status::Valid
        && info.status != VersionInfo::Status::BadVersionLine)
        return found;
    if (const Result<> model = checkAddressValue(info.deviceModel); !model)
        found << QStringLiteral("Version.txt line 1: the model ") + model.failure().reason;
    if (info.status != VersionInfo::Status::Valid)
        return found;
    if (const Result<> version = checkAddressValue(info.version); !version)
        found << QStringLiteral("Version.txt line 2: the version ") + version.failure().reason;

    const QStringList lines = text->split(QStringLiteral("\r\n"));
    for (int i = 2; i < lines.size(); ++i) {
        const QString where = QStringLiteral("Version.txt line %1: ").arg(i + 1);
        const std::optional<QString> note = noteOfLine(lines.at(i));
        const bool lastAndEmpty = i == lines.size() - 1 && lines.at(i).isEmpty();
        if (!note && !lastAndEmpty)
            found << where
                         + QStringLiteral("is no \"[Desc]=note\" line; the window passes it over");
        else if (note && !note->isEmpty() && note->back().isSpace())
            found << where + QStringLiteral("the note ends in a blank, which the window shows");
        if (note && columns(*note) > notesBoxColumns)
            found << where
                         + QStringLiteral("the note is %1 columns wide (a Chinese character "
                                          "takes two); the window's notes box shows about %2 "
                                          "before the note must be scrolled sideways")
                               .arg(columns(*note))
                               .arg(notesBoxColumns);
    }
    return found;
}

QString describe(const WindowBox &box)
{
    QString kind;
    switch (box.kind) {
    case WindowBox::Kind::Information:
        kind = QStringLiteral("information");
        break;
    case WindowBox::Kind::Warning:
        kind = QStringLiteral("warning");
        break;
    case WindowBox::Kind::Critical:
        kind = QStringLiteral("critical");
        break;
    }
    return QStringLiteral("%1 box \"%2\": %3").arg(kind, box.title, box.text);
}

} // namespace ServerFiles
