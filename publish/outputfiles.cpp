#include "outputfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <memory>
#include <vector>

namespace OutputFiles {

Result<QByteArray> readAtMost(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.read(maxBytes + 1);
    if (!file.isOpen() || file.error() != QFileDevice::NoError)
        return Failure{Failure::Kind::Failed,
                       QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    return bytes;
}

Result<> writeInOrder(const QList<File> &files)
{
    const auto cannotWrite = [](const QSaveFile &file) {
        return Failure{
            Failure::Kind::Failed,
            QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString())};
    };
    std::vector<std::unique_ptr<QSaveFile>> saved;
    for (const File &file : files) {
        saved.push_back(file.bytes ? std::make_unique<QSaveFile>(file.path) : nullptr);
        QSaveFile *written = saved.back().get();
        // Flushed here: commit() does not fail when buffered bytes cannot be written.
        if (written
            && !(written->open(QIODevice::WriteOnly)
                 && written->write(*file.bytes) == file.bytes->size() && written->flush()))
            return cannotWrite(*written);
    }
    for (std::size_t i = 0; i < saved.size(); ++i) {
        const QString &path = files.at(int(i)).path;
        if (saved[i] && !saved[i]->commit())
            return cannotWrite(*saved[i]);
        if (!saved[i] && QFileInfo::exists(path) && !QFile::remove(path))
            return Failure{Failure::Kind::Failed, QStringLiteral("cannot remove %1").arg(path)};
    }
    return {};
}

} // namespace OutputFiles
