#pragma once

#include <QString>

// The keyboard is in DFU mode, but dfu-util could not open it: what the tool
// can find out about why (UserTexts words it).
namespace UnreachableKeyboard {

enum class Platform { Windows, Linux };

// The platform this build runs on; the BSDs and macOS count as Linux.
Platform currentPlatform();

// The driver that Windows has bound to the keyboard in DFU mode.
struct BoundDriver
{
    enum class State {
        Unknown, // Windows cannot say, or not Windows
        NotInstalled, // device problem code 28
        Service, // bound to `service`, such as WinUSB or STTub30
    };

    State state = State::Unknown;
    QString service;
};

// Asks Windows (SetupAPI) about the attached USB\VID_0483&PID_DF13;
// elsewhere, and when Windows cannot say, Unknown.
BoundDriver boundDriver();

} // namespace UnreachableKeyboard
