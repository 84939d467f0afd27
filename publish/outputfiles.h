#pragma once

#include "result/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// Reading the publisher's inputs and writing the server's files, the same
// way for every command.
namespace OutputFiles {

// Reads at most `maxBytes` + 1 bytes of `path`, so that too large a file
// shows as such; or why it cannot be read, naming it.
Result<QByteArray> readAtMost(const QString &path, qint64 maxBytes);

// A file to put in place, or to remove where it has no bytes.
struct File
{
    QString path;
    std::optional<QByteArray> bytes;
};

// Writes every file beside its place first, then puts each in place, or
// removes it, in the order given: a file is whole before a later one can
// name it, and nothing is replaced when one cannot be written; or says why
// it stopped.
Result<> writeInOrder(const QList<File> &files);

} // namespace OutputFiles
