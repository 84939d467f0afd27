#include "device/dfulisting.h"

#include <QRegularExpression>

namespace DfuListing {

QString program()
{
    return QStringLiteral("./bin/x64/dfu-util-static");
}

QStringList arguments()
{
    return {QStringLiteral("-l")};
}

QString deviceText()
{
    return QStringLiteral("Found DFU: [0483:df13]");
}

QString nameAndSerialText()
{
    return QStringLiteral(
        R"(name="@NV38K Flash   /0x00000000/15*001Ka,155*001Kg", serial="NV38K CUSTOMED KEYBOARD")");
}

namespace {

bool containsAtLineEnd(const QString &listing, const QString &text)
{
    for (int at = listing.indexOf(text); at >= 0; at = listing.indexOf(text, at + 1)) {
        const QStringRef rest = listing.midRef(at + text.size());
        if (rest.startsWith(QLatin1String("\r\n")) || rest.startsWith(QLatin1Char('\n')))
            return true;
    }
    return false;
}

} // namespace

Verdict judge(const QString &listing)
{
    if (!listing.contains(deviceText()))
        return Verdict::NoDevice;
    if (!containsAtLineEnd(listing, nameAndSerialText()))
        return Verdict::ForeignDevice;
    return Verdict::DevicePresent;
}

std::optional<QString> keyboardOpenError(const QString &standardError)
{
    // dfu-util's warnx() line, prefixed with the program's name where the C
    // library does that (not on Windows).
    static const QRegularExpression warning(
        QStringLiteral(R"(^(?:\S+: )?Cannot open DFU device 0483:df13 found on devnum \d+ )"
                       R"(\(([^()\s]+)\)\r?$)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = warning.match(standardError);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

} // namespace DfuListing
