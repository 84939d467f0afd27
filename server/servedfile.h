#pragma once

#include "result/result.h"

#include <QByteArray>

// One of the server's files as it came: its bytes, or why there are none.
// Absent: the server has no such file (it answered 404, or a folder read as
// the server would serve it holds none). Failed: a network or TLS error, a
// body past its limit, or an answer that brings no file. The window and
// nv38k-publish check judge the same values, however they fetched them.
using ServedFile = Result<QByteArray>;

// Whether a signature as it was served over `statement` is by one of the
// keys in `keysPem`: as FirmwareSignature::verify(), or as the signature's
// fetch failed when none came.
Result<> checkServedSignature(const QByteArray &statement, const ServedFile &signature,
                              const QByteArray &keysPem);
