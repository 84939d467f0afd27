#include "encoding/gbk.h"

#include <QByteArray>
#include <QTextCodec>

namespace {

QTextCodec *gbkCodec()
{
    // Qt keeps codecs alive for the whole run, so the pointer can be cached.
    static QTextCodec *const codec = QTextCodec::codecForName("GBK");
    return codec;
}

} // namespace

std::optional<QString> decodeGbk(const QByteArray &bytes)
{
    if (!gbkCodec())
        return std::nullopt;
    return gbkCodec()->toUnicode(bytes);
}

std::optional<QByteArray> encodeGbk(const QString &text)
{
    if (!gbkCodec())
        return std::nullopt;
    // The codec puts "?" for what GBK lacks; the way back shows it.
    const QByteArray bytes = gbkCodec()->fromUnicode(text);
    if (gbkCodec()->toUnicode(bytes) != text)
        return std::nullopt;
    return bytes;
}

QString decodeGbkForLog(const QByteArray &bytes)
{
    return decodeGbk(bytes).value_or(QString::fromLatin1(bytes));
}
