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

Failure noCodec()
{
    return {Failure::Kind::Failed, QStringLiteral("this Qt build has no GBK codec")};
}

} // namespace

Result<QString> decodeGbk(const QByteArray &bytes)
{
    if (!gbkCodec())
        return noCodec();
    return gbkCodec()->toUnicode(bytes);
}

Result<QByteArray> encodeGbk(const QString &text)
{
    if (!gbkCodec())
        return noCodec();
    // The codec puts "?" for what GBK lacks; the way back shows it.
    const QByteArray bytes = gbkCodec()->fromUnicode(text);
    if (gbkCodec()->toUnicode(bytes) != text)
        return Failure{Failure::Kind::Refused, QStringLiteral("GBK cannot hold this text")};
    return bytes;
}

QString decodeGbkForLog(const QByteArray &bytes)
{
    return decodeGbk(bytes).value_or(QString::fromLatin1(bytes));
}
