#include "firmware_info/gbk.h"

#include <QByteArray>
#include <QTextCodec>

std::optional<QString> decodeGbk(const QByteArray &bytes)
{
    // Qt keeps codecs alive for the whole run, so the pointer can be cached.
    static QTextCodec *const codec = QTextCodec::codecForName("GBK");
    if (!codec)
        return std::nullopt;
    return codec->toUnicode(bytes);
}

QString decodeGbkForLog(const QByteArray &bytes)
{
    return decodeGbk(bytes).value_or(QString::fromLatin1(bytes));
}
