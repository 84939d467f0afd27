#include "preferences/updatepreferences.h"

#include <QHash>
#include <QSettings>
#include <optional>

namespace {

const QString checkKey = QStringLiteral("CheckToolUpdates");
const QString postponedVersionKey = QStringLiteral("PostponedToolVersion");
const QString postponedUntilKey = QStringLiteral("PostponedUntil");
// Named when a release was shown once, and skipped by closing its box.
const QString skippedVersionKey = QStringLiteral("ShownToolVersion");
const QString acceptedVersionKey = QStringLiteral("AcceptedToolRelease");
const QString acceptedExpiresKey = QStringLiteral("AcceptedToolReleaseExpires");

// Whether to check, from the value as the installer (a DWORD, 1 or 0) or the
// tool (true or false) writes it; nothing for any other.
std::optional<bool> checkSetting(const QVariant &value)
{
    if (!value.isValid())
        return true;
    static const QHash<QString, bool> known = {{QStringLiteral("1"), true},
                                               {QStringLiteral("true"), true},
                                               {QStringLiteral("0"), false},
                                               {QStringLiteral("false"), false}};
    const auto found = known.constFind(value.toString());
    if (found == known.constEnd())
        return std::nullopt;
    return *found;
}
const QString downloadFoldersKey = QStringLiteral("DownloadFolders");

// Whether what was set reached the store, or why not.
Result<> synced(QSettings &settings)
{
    settings.sync();
    switch (settings.status()) {
    case QSettings::NoError:
        return {};
    case QSettings::AccessError:
        return Failure{Failure::Kind::Failed, QStringLiteral("the settings cannot be written")};
    case QSettings::FormatError:
        break;
    }
    return Failure{Failure::Kind::Failed, QStringLiteral("the settings are malformed")};
}

} // namespace

bool UpdatePreferences::operator==(const UpdatePreferences &other) const
{
    return checkForUpdates == other.checkForUpdates && postponedVersion == other.postponedVersion
           && postponedUntil == other.postponedUntil && skippedVersion == other.skippedVersion
           && acceptedVersion == other.acceptedVersion && acceptedExpires == other.acceptedExpires
           && unreadableCheck == other.unreadableCheck;
}

UpdatePreferenceStore::UpdatePreferenceStore()
    // In Qt's default format, the registry on Windows, which tests may
    // change to files of their own.
    : m_settings(std::make_unique<QSettings>(QSettings::defaultFormat(), QSettings::UserScope,
                                             QStringLiteral("NV38K"),
                                             QStringLiteral("nv38k-upgrade-tool")))
{ }

UpdatePreferenceStore::UpdatePreferenceStore(const QString &path)
    : m_settings(std::make_unique<QSettings>(path, QSettings::IniFormat))
{ }

UpdatePreferenceStore::~UpdatePreferenceStore() = default;

UpdatePreferences UpdatePreferenceStore::read() const
{
    UpdatePreferences kept;
    // The installer writes a DWORD, which reads as a number. A value the tool
    // cannot read is no consent to ask a server.
    const QVariant check = m_settings->value(checkKey);
    const std::optional<bool> checks = checkSetting(check);
    kept.checkForUpdates = checks.value_or(false);
    if (!checks)
        kept.unreadableCheck = check.toString();
    kept.postponedVersion = m_settings->value(postponedVersionKey).toString();
    kept.postponedUntil =
        QDateTime::fromString(m_settings->value(postponedUntilKey).toString(), Qt::ISODate);
    kept.skippedVersion = m_settings->value(skippedVersionKey).toString();
    kept.acceptedVersion = m_settings->value(acceptedVersionKey).toString();
    kept.acceptedExpires =
        QDateTime::fromString(m_settings->value(acceptedExpiresKey).toString(), Qt::ISODate);
    return kept;
}

Result<> UpdatePreferenceStore::write(const UpdatePreferences &preferences)
{
    const auto keep = [this](const QString &key, const QString &value) {
        if (value.isEmpty())
            m_settings->remove(key);
        else
            m_settings->setValue(key, value);
    };
    // The opt-out is written only once chosen, so that a system-wide
    // default still applies until then.
    if (!preferences.checkForUpdates)
        m_settings->setValue(checkKey, false);
    keep(postponedVersionKey, preferences.postponedVersion);
    keep(postponedUntilKey, preferences.postponedUntil.toUTC().toString(Qt::ISODate));
    keep(skippedVersionKey, preferences.skippedVersion);
    keep(acceptedVersionKey, preferences.acceptedVersion);
    keep(acceptedExpiresKey, preferences.acceptedExpires.toUTC().toString(Qt::ISODate));
    return synced(*m_settings);
}

QStringList UpdatePreferenceStore::downloadFolders() const
{
    return m_settings->value(downloadFoldersKey).toStringList();
}

Result<> UpdatePreferenceStore::keepDownloadFolders(const QStringList &names)
{
    if (names.isEmpty())
        m_settings->remove(downloadFoldersKey);
    else
        m_settings->setValue(downloadFoldersKey, names);
    return synced(*m_settings);
}
