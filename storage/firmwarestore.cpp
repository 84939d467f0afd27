#include "storage/firmwarestore.h"

#include <QDir>
#include <QSaveFile>

namespace FirmwareStore {

QString directory()
{
    return QStringLiteral("tmp");
}

QString filePath()
{
    return QStringLiteral("./tmp/Data.nv");
}

Result save(const QString &directory, const QString &filePath, QIODevice &source)
{
    // An existing directory is fine; one that cannot be made shows up when
    // the file is opened.
    QDir().mkdir(directory);

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return Result::OpenFailed;
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(64 * 1024);
        if (chunk.isEmpty() || file.write(chunk) != chunk.size()) {
            // commit() then fails and discards the temporary file.
            file.cancelWriting();
            break;
        }
    }
    return file.commit() ? Result::Saved : Result::WriteFailed;
}

} // namespace FirmwareStore
