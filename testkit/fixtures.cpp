#include "testkit/fixtures.h"

#include "integrity/firmwaresignature.h"
#include "integrity/sha256.h"

#include <QFile>

QByteArray firmwareImage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + (i >> 9)) & 0xff);
    return bytes;
}

QByteArray firmwareSignature(const QByteArray &firmware, const char *key, const QString &version)
{
    QString error;
    const auto signingKey =
        FirmwareSignature::readSigningKey(readFile(QStringLiteral(NV38K_TEST_CERT_DIR "/")
                                                   + QLatin1String(key) + QStringLiteral(".key")),
                                          error);
    const QByteArray statement = FirmwareSignature::statement(
        QStringLiteral("K1"), version, firmware.size(), Sha256::hash(firmware));
    return signingKey ? FirmwareSignature::sign(statement, *signingKey) : QByteArray();
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
