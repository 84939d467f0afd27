#include "testkit/fixtures.h"

#include "integrity/firmwaresignature.h"
#include "integrity/sha256.h"
#include "server/toolrelease.h"

#include <QDateTime>
#include <QFile>

QByteArray firmwareImage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + (i >> 9)) & 0xff);
    return bytes;
}

namespace {

QByteArray signedBy(const QByteArray &statement, const char *key)
{
    const auto signingKey = FirmwareSignature::readSigningKey(readFile(
        QStringLiteral(NV38K_TEST_CERT_DIR "/") + QLatin1String(key) + QStringLiteral(".key")));
    return signingKey ? FirmwareSignature::sign(statement, *signingKey).value_or(QByteArray())
                      : QByteArray();
}

} // namespace

QByteArray firmwareSignature(const QByteArray &firmware, const char *key, const QString &version,
                             const QString &model)
{
    return signedBy(
        FirmwareSignature::statement(model, version, firmware.size(), *Sha256::hash(firmware)),
        key);
}

QByteArray toolReleaseFile(const QString &version, bool securityFix)
{
    ToolRelease release;
    release.version = version;
    release.securityFix = securityFix;
    release.advisory = QStringLiteral("修复了固件下载中的问题");
    release.installerName = QStringLiteral("nv38k-upgrade-tool-%1-setup.exe").arg(version);
    release.installerSize = 4096;
    release.installerSha256 = *Sha256::hash(firmwareImage(4096));
    // Fresh for as long as nv38k-publish makes a statement by default.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    release.expires = now.addDays(90).addMSecs(-now.time().msec());
    return ToolReleaseFile::format(release);
}

QByteArray toolReleaseSignature(const QByteArray &statementFile, const char *key)
{
    return signedBy(FirmwareSignature::toolReleaseStatement(statementFile), key);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
