#pragma once

#include <QString>

class QByteArray;

namespace FirmwareStore {

// Where the flashing tool expects the firmware, relative to the working directory.
QString directory();
QString filePath();

enum class Result {
    Saved,
    OpenFailed, // the file could not be created
    WriteFailed, // writing or replacing the file failed; the old one is intact
};

// Replaces `filePath` with `data` atomically: whoever reads the file sees
// either the earlier firmware or the new one, whole, never a mix. Creates
// `directory` first when it does not exist.
Result save(const QString &directory, const QString &filePath, const QByteArray &data);

} // namespace FirmwareStore
