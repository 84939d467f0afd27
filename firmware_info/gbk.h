#pragma once

#include <QString>
#include <optional>

class QByteArray;

// The firmware server and dfu-util both speak GBK, the Simplified Chinese
// Windows code page.

// The decoded text, or nothing when this Qt build has no GBK codec.
std::optional<QString> decodeGbk(const QByteArray &bytes);

// For log lines only: falls back to Latin-1 so that nothing is ever dropped.
QString decodeGbkForLog(const QByteArray &bytes);
