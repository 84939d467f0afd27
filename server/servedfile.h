#pragma once

#include "integrity/firmwaresignature.h"

#include <QByteArray>
#include <QString>
#include <variant>

// The server has no such file: it answered 404, or a folder read as the
// server would serve it holds none.
struct FileAbsent
{
    QString why;
};
// A file could not be had, read or written, saying why: for a served file a
// network or TLS error, a body past its limit, or an answer that brings no
// file.
struct FileFailed
{
    QString why;
};
// One of the server's files as it came: its bytes, or why there are none.
// The window and nv38k-publish check judge the same values, however they
// fetched them.
using ServedFile = std::variant<QByteArray, FileAbsent, FileFailed>;

// Why `file` holds no bytes, for the log; empty when it holds them.
QString whyNoFile(const ServedFile &file);

// Whether a signature as it was served over `statement` is by one of the
// keys in `keysPem`: as FirmwareSignature::verify(), or Absent or Failed,
// saying why, when none came.
Result<> checkServedSignature(const QByteArray &statement, const ServedFile &signature,
                              const QByteArray &keysPem);
