#pragma once

#include "result/result.h"

#include <QByteArray>
#include <QString>

// The firmware server and dfu-util both speak GBK, the Simplified Chinese
// Windows code page.

// The decoded text; Failed when this Qt build has no GBK codec.
Result<QString> decodeGbk(const QByteArray &bytes);

// The GBK bytes of `text`: Refused when GBK cannot hold all of it, as the
// bytes must decode to the very same text; Failed when this Qt build has no
// GBK codec.
Result<QByteArray> encodeGbk(const QString &text);

// For log lines only: falls back to Latin-1 so that nothing is ever dropped.
QString decodeGbkForLog(const QByteArray &bytes);
