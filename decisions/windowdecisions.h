#pragma once

#include "device/unreachablekeyboard.h"
#include "download/downloadoutcome.h"
#include "preferences/updatepreferences.h"
#include "server/toolrelease.h"
#include "usertexts/usertexts.h"

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <optional>

// What the window makes of each click and answer, decided apart from the
// window, as plain values: the lines it logs, the box it shows and what it
// does next. The window's slots only carry these out, and nv38k-publish's
// check prints them.
namespace Decisions {

// What the window logs and shows, in this order.
struct Reaction
{
    QStringList log = {};
    std::optional<WindowBox> box = {};
    QStringList logAfterBox = {};
};

// "下载固件" clicked: dfu-util's listing comes first, and needs a firmware
// address from an information file read before.
struct DownloadClick : Reaction
{
    bool startsListing = false;
};
DownloadClick downloadClicked(bool hasFirmwareAddress);

// dfu-util is missing, cannot run, crashed or failed otherwise.
Reaction listingFailed();

struct DeviceCheck : Reaction
{
    bool download = false; // the keyboard is there: request the firmware
};

// What dfu-util -l tells once it has finished with `exitCode`, having written
// `listing` to standard output and `standardError` to standard error (both
// GBK, this run's alone). `boundDriver` is asked only when the keyboard
// turned out to be attached but unreachable.
DeviceCheck deviceCheck(int exitCode, const QByteArray &listing, const QByteArray &standardError,
                        UnreachableKeyboard::Platform platform,
                        const std::function<UnreachableKeyboard::BoundDriver()> &boundDriver);

// The firmware a valid information file offers, as the window shows it.
struct Release
{
    QString deviceModel;
    QString version;
    QString notes; // the "[Desc]" lines joined with CR LF
    QString firmwareUrl;
};

struct Information : Reaction
{
    std::optional<QString> deviceModel = {}; // into the model label, before the box
    std::optional<Release> release = {}; // the version and notes labels, and what to download
};

// What Version.txt, as it was served, makes the window show.
Information information(const ServedFile &file);

struct Firmware : Reaction
{
    bool received = false; // the firmware came and was accepted
    bool stored = false; // and is in place: the listing is done with
};

// What a finished firmware download makes the window log and show.
Firmware firmware(const DownloadOutcome &outcome);

// How the owner left the update box.
enum class UpdateChoice {
    InstallNow, // "立即更新"
    Later, // "稍后提醒": offered again in three days
    Skip, // "跳过此版本": never offered again
};

// A newer tool release to offer the owner, and how.
struct UpdateOffer
{
    ToolRelease release;
    UpdateBox box;
    UpdateChoice dismissal; // what the box's dismiss button, Esc or closing it chooses
};

struct ToolUpdate : Reaction
{
    std::optional<UpdateOffer> offer = {};
    // What to keep once the statement was accepted as the newest yet.
    std::optional<UpdatePreferences> keep = {};
};

// What the tool release statement the server gave (or why it gave none)
// makes the window do, for a tool of `runningVersion` whose owner chose
// `kept`, at `now`; `installs` where the tool installs updates itself.
// Nothing but one log line unless a newer release is due to be offered. A
// statement past its expiry, or older than one accepted before, offers
// nothing.
ToolUpdate toolRelease(const ToolReleaseFile::Answer &answer, const QString &runningVersion,
                       const UpdatePreferences &kept, const QDateTime &now, bool installs);

// How long "稍后提醒" keeps a release from being offered again. A stored
// date further ahead than this was chosen under a wrong clock, and holds
// nothing back.
constexpr int postponementDays = 3;

// What is kept after the owner left the box for `offered` with `choice`,
// having ticked the opt-out or not.
UpdatePreferences afterUpdateBox(UpdatePreferences kept, const ToolRelease &offered,
                                 UpdateChoice choice, bool stopChecking, const QDateTime &now);

} // namespace Decisions
