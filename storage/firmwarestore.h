#pragma once

#include <QString>

class QIODevice;

namespace FirmwareStore {

// Where the flashing tool expects the firmware, relative to the working directory.
QString directory();
QString filePath();

enum class Result {
    Saved,
    OpenFailed, // the file could not be created
    WriteFailed, // writing or replacing the file failed; the old one is intact
};

// Replaces `filePath` with all that `source` has to read, atomically: whoever
// reads the file sees either the earlier firmware or the new one, whole, never
// a mix. Creates `directory` first when it does not exist. Copies in chunks,
// so that the data is never held twice.
Result save(const QString &directory, const QString &filePath, QIODevice &source);

} // namespace FirmwareStore
