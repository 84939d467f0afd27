#include "server/toolrelease.h"

#include "integrity/firmwaresignature.h"
#include "server/firmwareserver.h"
#include "server/logtext.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QTextCodec>
#include <QUrl>
#include <QVector>

namespace ToolReleaseFile {

namespace {

// Plain numbers, not too many nor too long to compare as integers.
std::optional<QVector<qint64>> versionNumbers(const QString &version)
{
    // One way to write each version: no leading zeros, so 01.6 is no version.
    static const QRegularExpression shape(
        QStringLiteral("^(0|[1-9][0-9]{0,8})(\\.(0|[1-9][0-9]{0,8})){0,7}$"));
    if (!shape.match(version).hasMatch())
        return std::nullopt;
    QVector<qint64> numbers;
    for (const QString &part : version.split(QLatin1Char('.')))
        numbers.append(part.toLongLong());
    return numbers;
}

// One line that shows as it reads: no control characters, no line breaks,
// and no format characters (direction overrides, zero-width spaces, tag
// characters), which could make a box say other than the statement does;
// no blanks around it. Judged by code point, so that characters beyond the
// first 65,536 are judged as what they are, not as two surrogates.
bool isPlainLine(const QString &text)
{
    for (const uint c : text.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Other_Surrogate || category == QChar::Other_NotAssigned
            || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return false;
    }
    return text == text.trimmed();
}

// A date and time in UTC, to the second, written one way only.
QDateTime utcDateTime(const QString &text)
{
    static const QRegularExpression shape(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$"));
    if (!shape.match(text).hasMatch())
        return {};
    const QDateTime read = QDateTime::fromString(text, Qt::ISODate);
    return read.isValid() && read.toUTC().toString(Qt::ISODate) == text ? read.toUTC()
                                                                        : QDateTime();
}

Failure refused(const QString &why)
{
    return {Failure::Kind::Refused, why};
}

} // namespace

QString fileName()
{
    return QStringLiteral("ToolRelease.txt");
}

QString signatureFileName()
{
    return fileName() + QStringLiteral(".sig");
}

QString installerUrl(const ToolRelease &release)
{
    return FirmwareServer::baseUrl() + release.installerName;
}

Result<> check(const ToolRelease &release)
{
    static const QRegularExpression plainName(
        QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,99}\\.exe$"));
    if (!versionNumbers(release.version))
        return refused(QStringLiteral("version: not numbers separated by dots"));
    if (release.advisory.trimmed().isEmpty())
        return refused(QStringLiteral("advisory: empty"));
    if (release.advisory.size() > maxAdvisoryLength || !isPlainLine(release.advisory))
        return refused(QStringLiteral("advisory: not one plain line of at most %1 characters")
                           .arg(maxAdvisoryLength));
    if (!release.advisoryUrl.isEmpty()) {
        const QUrl url(release.advisoryUrl, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()
            || !isPlainLine(release.advisoryUrl) || release.advisoryUrl.contains(QLatin1Char(' ')))
            return refused(QStringLiteral("advisory-url: not an https:// address"));
    }
    if (!plainName.match(release.installerName).hasMatch())
        return refused(QStringLiteral("installer: not a plain file name ending in .exe"));
    if (release.installerSize <= 0 || release.installerSize > maxInstallerBytes)
        return refused(
            QStringLiteral("installer-size: not between 1 and %1 bytes").arg(maxInstallerBytes));
    if (release.installerSha256.size() != 32)
        return refused(QStringLiteral("installer-sha256: not 64 hexadecimal digits"));
    if (!release.expires.isValid() || release.expires.timeSpec() != Qt::UTC
        || release.expires.time().msec() != 0)
        return refused(
            QStringLiteral("expires: not a date and time in UTC, such as 2027-03-09T12:00:00Z"));
    return {};
}

QByteArray format(const ToolRelease &release)
{
    QByteArray text;
    const auto line = [&text](const char *key, const QString &value) {
        text += key + QByteArray("=") + value.toUtf8() + '\n';
    };
    line("version", release.version);
    line("security", release.securityFix ? QStringLiteral("yes") : QStringLiteral("no"));
    line("advisory", release.advisory);
    if (!release.advisoryUrl.isEmpty())
        line("advisory-url", release.advisoryUrl);
    line("installer", release.installerName);
    line("installer-size", QString::number(release.installerSize));
    line("installer-sha256", QString::fromLatin1(release.installerSha256.toHex()));
    line("expires", release.expires.toUTC().toString(Qt::ISODate));
    return text;
}

Answer parse(const QByteArray &body)
{
    QTextCodec::ConverterState state;
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(body.constData(), body.size(), &state);
    if (state.invalidChars > 0)
        return refused(QStringLiteral("not UTF-8"));

    QHash<QString, QString> values;
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QString line : qAsConst(lines)) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return refused(QStringLiteral("a line that is not key=value"));
        const QString key = line.left(equals);
        if (values.contains(key))
            return refused(QStringLiteral("%1: given twice").arg(quotedForLog(key)));
        values.insert(key, line.mid(equals + 1));
    }
    for (const char *key : {"version", "security", "advisory", "installer", "installer-size",
                            "installer-sha256", "expires"}) {
        if (!values.contains(QLatin1String(key)))
            return refused(QStringLiteral("%1: missing").arg(QLatin1String(key)));
    }

    ToolRelease release;
    release.version = values.value(QStringLiteral("version"));
    const QString security = values.value(QStringLiteral("security"));
    if (security != QLatin1String("yes") && security != QLatin1String("no"))
        return refused(QStringLiteral("security: neither yes nor no"));
    release.securityFix = security == QLatin1String("yes");
    release.advisory = values.value(QStringLiteral("advisory"));
    release.advisoryUrl = values.value(QStringLiteral("advisory-url"));
    release.installerName = values.value(QStringLiteral("installer"));
    static const QRegularExpression decimal(QStringLiteral("^[1-9][0-9]{0,17}$"));
    const QString size = values.value(QStringLiteral("installer-size"));
    if (decimal.match(size).hasMatch())
        release.installerSize = size.toLongLong();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    const QString sha256 = values.value(QStringLiteral("installer-sha256"));
    if (hex.match(sha256).hasMatch())
        release.installerSha256 = QByteArray::fromHex(sha256.toLatin1());
    release.expires = utcDateTime(values.value(QStringLiteral("expires")));
    if (const Result<> valid = check(release); !valid)
        return valid.failure();
    return release;
}

Answer parseServed(const ServedFile &statement)
{
    if (statement)
        return parse(*statement);
    if (statement.failed(Failure::Kind::Absent))
        return statement.failure();
    return refused(fileName() + QStringLiteral(": ") + statement.failure().reason);
}

Answer verified(const Answer &parsed, const QByteArray &statementFile, const ServedFile &signature,
                const QByteArray &keysPem)
{
    if (keysPem.isEmpty())
        return withoutKeys(parsed);
    if (!parsed)
        return parsed;
    const Result<> signed_ = checkServedSignature(
        FirmwareSignature::toolReleaseStatement(statementFile), signature, keysPem);
    if (!signed_)
        return refused(signatureFileName() + QStringLiteral(": ") + signed_.failure().reason);
    return parsed;
}

Answer withoutKeys(const Answer &parsed)
{
    if (!parsed)
        return parsed;
    ToolRelease unverified = *parsed;
    unverified.advisoryUrl.clear();
    return unverified;
}

std::optional<InstallerMismatch> installerMismatch(const ToolRelease &release, qint64 size,
                                                   const QByteArray &sha256)
{
    if (size != release.installerSize)
        return InstallerMismatch::Size;
    if (sha256 != release.installerSha256)
        return InstallerMismatch::Sha256;
    return std::nullopt;
}

QString describe(InstallerMismatch mismatch)
{
    return mismatch == InstallerMismatch::Size
               ? QStringLiteral("size differs from the statement's")
               : QStringLiteral("SHA-256 differs from the statement's");
}

std::optional<int> compareVersions(const QString &a, const QString &b)
{
    const std::optional<QVector<qint64>> left = versionNumbers(a);
    const std::optional<QVector<qint64>> right = versionNumbers(b);
    if (!left || !right)
        return std::nullopt;
    for (int i = 0; i < qMax(left->size(), right->size()); ++i) {
        const qint64 x = left->value(i);
        const qint64 y = right->value(i);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool isNewerStatement(const ToolRelease &release, const ToolRelease &earlier)
{
    const std::optional<int> order = compareVersions(release.version, earlier.version);
    return order && (*order > 0 || (*order == 0 && release.expires > earlier.expires));
}

} // namespace ToolReleaseFile
