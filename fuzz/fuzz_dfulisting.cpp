// libFuzzer target: judging dfu-util's listing, decoded from GBK as the tool
// does. Checks the verdict against the two texts it is about.
#include "device/dfulisting.h"
#include "encoding/gbk.h"

#include <QByteArray>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray output =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QString listing = decodeGbkForLog(output);
    const DfuListing::Verdict verdict = DfuListing::judge(listing);

    const bool hasDevice = listing.contains(DfuListing::deviceText());
    const bool hasName =
        listing.contains(DfuListing::nameAndSerialText() + QLatin1Char('\n'))
        || listing.contains(DfuListing::nameAndSerialText() + QLatin1String("\r\n"));
    const DfuListing::Verdict expected = !hasDevice ? DfuListing::Verdict::NoDevice
                                         : !hasName ? DfuListing::Verdict::ForeignDevice
                                                    : DfuListing::Verdict::DevicePresent;
    if (verdict != expected)
        std::abort();
    return 0;
}
