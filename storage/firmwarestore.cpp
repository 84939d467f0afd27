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

Result save(const QString &directory, const QString &filePath, const QByteArray &data)
{
    // An existing directory is fine; one that cannot be made shows up when
    // the file is opened.
    QDir().mkdir(directory);

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return Result::OpenFailed;
    // A short write makes commit() fail and discard the temporary file.
    if (file.write(data) != data.size())
        file.cancelWriting();
    return file.commit() ? Result::Saved : Result::WriteFailed;
}

} // namespace FirmwareStore
