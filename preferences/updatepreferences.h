#pragma once

#include "result/result.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

// What the owner chose about the tool's own updates.
struct UpdatePreferences
{
    bool checkForUpdates = true; // false: never ask the server for a newer tool
    QString postponedVersion; // "稍后提醒" was chosen for this version …
    QDateTime postponedUntil; // … and it is not offered again before this
    QString skippedVersion; // "跳过此版本": a release without a security fix, never offered again
    // The newest statement of a tool release accepted so far: one stating an
    // older release, or the same one expiring sooner, is a replay.
    QString acceptedVersion;
    QDateTime acceptedExpires;
    // "CheckToolUpdates" as it was found where it was neither the installer's
    // 1 or 0 nor the tool's true or false: then taken as the opt-out.
    std::optional<QString> unreadableCheck;

    bool operator==(const UpdatePreferences &other) const;
};

// Where the choices are kept, per user: on Windows under the registry key
// HKCU\Software\NV38K\nv38k-upgrade-tool, elsewhere in
// ~/.config/NV38K/nv38k-upgrade-tool.conf, whose defaults the system-wide
// /etc/xdg/NV38K/nv38k-upgrade-tool.conf may set. "CheckToolUpdates" false
// (or 0) is the opt-out; true, 1 or none is to check.
class UpdatePreferenceStore
{
public:
    // The owner's own store.
    UpdatePreferenceStore();
    // A store in the INI file `path`, for tests.
    explicit UpdatePreferenceStore(const QString &path);
    ~UpdatePreferenceStore();
    UpdatePreferenceStore(const UpdatePreferenceStore &) = delete;
    UpdatePreferenceStore &operator=(const UpdatePreferenceStore &) = delete;

    UpdatePreferences read() const;
    // Whether the choices reached the store, or why not.
    Result<> write(const UpdatePreferences &preferences);

    // The names of the folders the tool made in the user's temporary folder
    // for its installers and has not removed yet ("DownloadFolders"): the
    // only ones it ever removes there.
    QStringList downloadFolders() const;
    // Whether `names` reached the store, in place of those, or why not.
    Result<> keepDownloadFolders(const QStringList &names);

private:
    std::unique_ptr<QSettings> m_settings;
};
