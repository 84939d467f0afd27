#pragma once

#include "device/unreachablekeyboard.h"
#include "result/result.h"
#include "server/toolrelease.h"
#include "server/versioninfo.h"

#include <QString>
#include <optional>

// Every text a user of the tool reads, in one place: the window's title and
// the title and text of each message box it shows, shared with nv38k-publish,
// which reports the very boxes the window would show. The form's captions
// and buttons live in window/widget.ui.

// One modal box with an OK button.
struct WindowBox
{
    enum class Kind { Information, Warning, Critical };

    Kind kind;
    QString title;
    QString text;
    bool parented = true; // false: shown with no parent window
};

// The box that tells of a newer tool release: its kind, title and text,
// and the owner's choices.
struct UpdateBox
{
    WindowBox box; // a warning for a security fix, else information
    QString installButton; // empty where the tool does not install updates itself
    // "稍后提醒" for a security fix, "跳过此版本" for any other release; Esc
    // and closing the box choose it too.
    QString dismissButton;
    QString detailsButton; // empty when the release gives no advisory address
    QString stopCheckingText; // the opt-out checkbox
};

namespace UserTexts {

// "NV38K" followed by the tool's name and version.
QString windowTitle();

// "下载固件" clicked before any information file was read.
WindowBox informationFirst();
// dfu-util is missing, cannot run or crashed.
WindowBox toolDamaged();

// What dfu-util's listing says.
WindowBox noDevice();
WindowBox foreignDevice();
// The keyboard is in DFU mode, but dfu-util reports the libusb error `error`
// (such as "LIBUSB_ERROR_NOT_SUPPORTED") for it on `platform`; `driver` is
// named where Windows told it.
WindowBox unreachableKeyboard(UnreachableKeyboard::Platform platform, const QString &error,
                              const UnreachableKeyboard::BoundDriver &driver = {});

// For a Version.txt that could not be had.
WindowBox informationReplyFailed();
// For a parsed information file that the window does not show; none for a
// valid file.
std::optional<WindowBox> informationRefused(VersionInfo::Status status);
// For any GBK text when this Qt build cannot decode GBK.
WindowBox noGbkCodec();

// For a firmware that could not be had, with why (its Failure's reason).
WindowBox firmwareDownloadFailed(const QString &failure);
// For a firmware whose signature a build with signing keys does not accept,
// by the kind of its failure: none came, it is no signature, or no key
// signed the firmware.
WindowBox firmwareSignatureFailed(Failure::Kind why);
// The firmware file could not be created, or not written whole.
WindowBox fileOpenFailed();
WindowBox fileWriteFailed();
// The firmware is stored where the flashing tool reads it.
WindowBox firmwareStored();

// A newer tool release than `runningVersion`; `installs` where the tool can
// download and start its installer (Windows), else the owner is sent to the
// package manager.
UpdateBox toolUpdateAvailable(const ToolRelease &release, const QString &runningVersion,
                              bool installs);
// Why the installer was not started.
enum class InstallerProblem {
    DownloadFailed, // with the reply's failure
    TooLarge,
    WrongSize,
    WrongSha256,
    NotSaved, // the temporary folder or file could not be written
    NotStarted,
};
WindowBox installerRefused(InstallerProblem problem, const QString &detail = {});
// The progress dialog while the installer of `version` downloads.
QString installerDownloading(const QString &version);
QString cancelButton();

// The form's captions as nv38k-publish prints them beside their English.
QString modelCaption();
QString versionCaption();
QString notesCaption();

// The log's one Chinese word: the label before the firmware's size.
QString firmwareSizeLogLabel();

} // namespace UserTexts
