// libFuzzer target: the information-file parser on arbitrary bytes. Besides
// crashes and sanitizer reports it checks what a valid result promises.
#include "encoding/gbk.h"
#include "server/versioninfo.h"

#include <QByteArray>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const VersionInfo info = parseVersionInfo(body);

    const auto check = [](bool promise) {
        if (!promise)
            std::abort();
    };
    const auto isValue = [](const QString &value) {
        return !value.contains(QLatin1Char('=')) && !value.contains(QLatin1String("\r\n"));
    };
    const QString text = decodeGbk(body).value_or(QString());
    switch (info.status) {
    case VersionInfo::Status::Valid:
        check(isValue(info.version));
        check(text.section(QLatin1String("\r\n"), 1, 1).startsWith(QLatin1String("[Version]")));
        check(info.notes.count(QLatin1String("\r\n")) <= text.count(QLatin1String("\r\n")));
        Q_FALLTHROUGH();
    case VersionInfo::Status::BadVersionLine:
        check(isValue(info.deviceModel));
        check(text.startsWith(QLatin1String("[Device]")));
        break;
    case VersionInfo::Status::BadDeviceLine:
        check(info.deviceModel.isEmpty() && info.version.isEmpty() && info.notes.isEmpty());
        break;
    case VersionInfo::Status::NoGbkCodec:
        check(false); // Qt always has GBK here
        break;
    }
    return 0;
}
