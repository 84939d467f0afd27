#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The firmware server and dfu-util both speak GBK, the Simplified Chinese
// Windows code page.

// The decoded text, or nothing when this Qt build has no GBK codec.
std::optional<QString> decodeGbk(const QByteArray &bytes);

// The GBK bytes of `text`, or nothing when GBK cannot hold all of it (or this
// Qt build has no GBK codec): the bytes must decode to the very same text.
std::optional<QByteArray> encodeGbk(const QString &text);

// For log lines only: falls back to Latin-1 so that nothing is ever dropped.
QString decodeGbkForLog(const QByteArray &bytes);
