#include "storage/firmwarestore.h"

#include <QDir>

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

Writer::Writer(const QString &directory, const QString &filePath)
    : m_directory(directory)
    , m_file(filePath)
{ }

bool Writer::open()
{
    if (m_opened)
        return m_result.ok();
    m_opened = true;
    // An existing directory is fine; one that cannot be made shows up when
    // the file is opened.
    m_madeDirectory = QDir().mkdir(m_directory);
    if (!m_file.open(QIODevice::WriteOnly))
        m_result = Failure{Failure::Kind::NotOpened, m_file.errorString()};
    return m_result.ok();
}

void Writer::write(const char *data, qint64 size)
{
    if (!open())
        return;
    if (m_file.write(data, size) != size) {
        m_result = Failure{Failure::Kind::Failed, m_file.errorString()};
        m_file.cancelWriting();
        return;
    }
#ifdef Q_OS_LINUX
    // Starts writing each MiB out to the disk while the rest is still coming,
    // so that commit()'s fsync has less left to wait for. Only a hint: the
    // fsync still makes the file durable.
    m_written += size;
    if (m_written - m_handedToDisk >= 1024 * 1024) {
        sync_file_range(m_file.handle(), m_handedToDisk, m_written - m_handedToDisk,
                        SYNC_FILE_RANGE_WRITE);
        m_handedToDisk = m_written;
    }
#endif
}

Result<> Writer::commit()
{
    if (!open())
        return m_result;
    // Once committed, discard() has nothing left to undo.
    m_madeDirectory = false;
    // QSaveFile::commit() does not fail when what is still buffered cannot be
    // written out, as when the disk takes only part of a small last piece.
    if (!m_file.flush())
        m_file.cancelWriting();
    if (!m_file.commit())
        return Failure{Failure::Kind::Failed, m_file.errorString()};
    return {};
}

void Writer::discard()
{
    if (m_file.isOpen()) {
        m_file.cancelWriting();
        m_file.commit();
    }
    if (m_madeDirectory)
        QDir().rmdir(m_directory);
    m_madeDirectory = false;
}

} // namespace FirmwareStore
