#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Running "dfu-util -l" and judging whether its listing shows the NV38K in
// DFU mode.
namespace DfuListing {

// dfu-util as shipped beside the tool, relative to the working directory.
QString program();
QStringList arguments();

// The USB vendor and product of the keyboard in DFU mode.
QString deviceText();
// Its DFU alt-setting name and serial string, exactly as dfu-util prints them.
QString nameAndSerialText();

enum class Verdict {
    DevicePresent,
    NoDevice, // nothing with the keyboard's USB identifiers is in DFU mode
    ForeignDevice, // the identifiers are there, but not the keyboard's name and serial
};

// Both texts are searched case-sensitively anywhere in the listing; the name
// and serial text must end its line (CR LF as on Windows, LF as elsewhere).
Verdict judge(const QString &listing);

// How much of dfu-util's standard error is kept: its warnings are a line per
// USB device it could not open, so a flood is not worth keeping.
constexpr int maxStandardErrorBytes = 1024 * 1024;

// The libusb error name (such as "LIBUSB_ERROR_ACCESS") from dfu-util's
// warning that it found a DFU device with the keyboard's identifiers but
// could not open it, which leaves the keyboard out of the listing; the
// first such warning counts. Nothing when standard error holds none.
std::optional<QString> keyboardOpenError(const QString &standardError);

} // namespace DfuListing
