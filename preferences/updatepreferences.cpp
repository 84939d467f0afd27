#include "preferences/updatepreferences.h"

#include <QSettings>

namespace {

const QString checkKey = QStringLiteral("CheckToolUpdates");
const QString postponedVersionKey = QStringLiteral("PostponedToolVersion");
const QString postponedUntilKey = QStringLiteral("PostponedUntil");
// Named when a release was shown once, and skipped by closing its box.
const QString skippedVersionKey = QStringLiteral("ShownToolVersion");
const QString downloadFoldersKey = QStringLiteral("DownloadFolders");

} // namespace

bool UpdatePreferences::operator==(const UpdatePreferences &other) const
{
    return checkForUpdates == other.checkForUpdates && postponedVersion == other.postponedVersion
           && postponedUntil == other.postponedUntil && skippedVersion == other.skippedVersion;
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
    // The installer writes a DWORD, which reads as a number.
    kept.checkForUpdates = m_settings->value(checkKey, true).toBool();
    kept.postponedVersion = m_settings->value(postponedVersionKey).toString();
    kept.postponedUntil =
        QDateTime::fromString(m_settings->value(postponedUntilKey).toString(), Qt::ISODate);
    kept.skippedVersion = m_settings->value(skippedVersionKey).toString();
    return kept;
}

bool UpdatePreferenceStore::write(const UpdatePreferences &preferences)
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
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QStringList UpdatePreferenceStore::downloadFolders() const
{
    return m_settings->value(downloadFoldersKey).toStringList();
}

bool UpdatePreferenceStore::keepDownloadFolders(const QStringList &names)
{
    if (names.isEmpty())
        m_settings->remove(downloadFoldersKey);
    else
        m_settings->setValue(downloadFoldersKey, names);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}
