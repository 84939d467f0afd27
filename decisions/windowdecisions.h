#pragma once

#include "device/unreachablekeyboard.h"
#include "download/firmwaredownload.h"
#include "server/versioninfo.h"
#include "usertexts/usertexts.h"

#include <QStringList>
#include <functional>
#include <optional>

// What the window makes of each answer it gets, decided apart from the
// window, as plain values: the box it shows, the lines it logs and what it
// does next. The window's slots only carry these out.
namespace Decisions {

// A string value as the debug stream writes it: quoted, with escapes. Log
// lines hold these, and plain texts as they are.
QString loggedString(const QString &text);

struct DeviceCheck
{
    QStringList log = {}; // written as they are, before the box
    std::optional<WindowBox> box = {};
    QStringList logAfterBox = {};
    bool download = false; // the keyboard is there: request the firmware
};

// What dfu-util -l tells once it has finished with `exitCode`, having written
// `listing` to standard output and `standardError` to standard error (both
// GBK, this run's alone). `boundDriver` is asked only when the keyboard
// turned out to be attached but unreachable.
DeviceCheck deviceCheck(int exitCode, const QByteArray &listing, const QByteArray &standardError,
                        UnreachableKeyboard::Platform platform,
                        const std::function<UnreachableKeyboard::BoundDriver()> &boundDriver);

struct Information
{
    std::optional<WindowBox> box = {};
    bool showsModel = false; // the model label takes the file's model
    bool takesAll = false; // version, notes and firmware address too
};

// What an information reply makes the window show: `info` is the parsed
// file, or nothing when the reply failed.
Information information(const std::optional<VersionInfo> &info);

struct Firmware
{
    WindowBox box;
    QStringList log = {};
    bool received = false; // the firmware came and was accepted
    bool stored = false; // and is in place: the listing is done with
};

// What a finished firmware download makes the window show.
Firmware firmware(const FirmwareDownload::Outcome &outcome);

} // namespace Decisions
