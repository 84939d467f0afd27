#include "server/versioninfo.h"

#include "encoding/gbk.h"

#include <QStringList>
#include <QVector>
#include <optional>

namespace {

const QLatin1String deviceTag("[Device]");
const QLatin1String versionTag("[Version]");
const QLatin1String noteTag("[Desc]");
const QString lineEnd = QStringLiteral("\r\n");

// The value of a "key=value" line whose key begins with `tag` (case-sensitive);
// a line with no "=" or with more than one is not well formed.
std::optional<QString> valueOf(const QStringRef &line, QLatin1String tag)
{
    const int separator = line.indexOf(QLatin1Char('='));
    if (separator < 0 || line.indexOf(QLatin1Char('='), separator + 1) >= 0)
        return std::nullopt;
    // The tags hold no "=", so a line that starts with one has it in its key.
    if (!line.startsWith(tag))
        return std::nullopt;
    return line.mid(separator + 1).toString();
}

} // namespace

VersionInfo parseVersionInfo(const QByteArray &body)
{
    VersionInfo info;
    const Result<QString> text = decodeGbk(body);
    if (!text) {
        info.status = VersionInfo::Status::NoGbkCodec;
        return info;
    }

    const QVector<QStringRef> lines = text->splitRef(lineEnd, Qt::KeepEmptyParts);
    const std::optional<QString> model = valueOf(lines.at(0), deviceTag);
    if (!model) {
        info.status = VersionInfo::Status::BadDeviceLine;
        return info;
    }
    info.deviceModel = *model;

    const std::optional<QString> version =
        lines.size() > 1 ? valueOf(lines.at(1), versionTag) : std::nullopt;
    if (!version) {
        info.status = VersionInfo::Status::BadVersionLine;
        return info;
    }
    info.version = *version;

    QStringList notes;
    for (const QStringRef &line : lines) {
        if (std::optional<QString> note = valueOf(line, noteTag))
            notes.append(*note);
    }
    info.notes = notes.join(lineEnd);
    info.status = VersionInfo::Status::Valid;
    return info;
}

std::optional<QString> noteOfLine(const QString &line)
{
    return valueOf(QStringRef(&line), noteTag);
}

QString formatVersionInfo(const QString &deviceModel, const QString &version,
                          const QStringList &notes)
{
    QString text = deviceTag + QLatin1Char('=') + deviceModel + lineEnd + versionTag
                   + QLatin1Char('=') + version + lineEnd;
    for (const QString &note : notes)
        text += noteTag + QLatin1Char('=') + note + lineEnd;
    return text;
}
