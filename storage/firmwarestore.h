#pragma once

#include "result/result.h"

#include <QSaveFile>
#include <QString>

namespace FirmwareStore {

// Where the flashing tool expects the firmware, relative to the working directory.
QString directory();
QString filePath();

// Replaces `filePath` with the bytes written to it, atomically: whoever reads
// the file sees either the earlier firmware or the new one, whole, never a
// mix. The bytes go to a temporary file beside it as they come, so a download
// is never held in memory whole; commit() puts that file in place.
class Writer
{
public:
    // Nothing is touched before the first write() or commit().
    Writer(const QString &directory, const QString &filePath);
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // Creates `directory` when it does not exist, and opens the temporary
    // file, on the first call. A failure is remembered for commit().
    void write(const char *data, qint64 size);
    // Replaces the file, or says why it could not: NotOpened when the file
    // could not be created, Failed when writing or replacing it failed (the
    // old one is intact).
    Result<> commit();
    // Leaves the earlier file as it was, and removes the temporary file and a
    // directory made for it. Also what destroying an uncommitted writer does.
    void discard();
    ~Writer() { discard(); }

private:
    bool open();

    QString m_directory;
    QSaveFile m_file;
    bool m_opened = false;
    bool m_madeDirectory = false;
    Result<> m_result; // the first failure, once there is one
    qint64 m_written = 0;
    qint64 m_handedToDisk = 0;
};

} // namespace FirmwareStore
