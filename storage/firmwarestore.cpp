#include "storage/firmwarestore.h"

#include <QDir>
#include <QSaveFile>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

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
#ifdef Q_OS_LINUX
    qint64 written = 0;
    qint64 handedToDisk = 0;
#endif
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(64 * 1024);
        if (chunk.isEmpty() || file.write(chunk) != chunk.size()) {
            // commit() then fails and discards the temporary file.
            file.cancelWriting();
            break;
        }
#ifdef Q_OS_LINUX
        // Starts writing each MiB out to the disk while the rest is still
        // being copied, so that commit()'s fsync has less left to wait for.
        // Only a hint: the fsync still makes the file durable.
        written += chunk.size();
        if (written - handedToDisk >= 1024 * 1024) {
            sync_file_range(file.handle(), handedToDisk, written - handedToDisk,
                            SYNC_FILE_RANGE_WRITE);
            handedToDisk = written;
        }
#endif
    }
    return file.commit() ? Result::Saved : Result::WriteFailed;
}

} // namespace FirmwareStore
