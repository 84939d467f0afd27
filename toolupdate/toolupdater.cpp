#include "toolupdate/toolupdater.h"

#include "buildsettings/buildsettings.h"
#include "preferences/updatepreferences.h"
#include "server/firmwareserver.h"
#include "server/logtext.h"
#include "toolupdate/downloadfolder.h"
#include "toolupdate/installerdownload.h"
#include "toolupdate/toolreleasecheck.h"
#include "toolupdate/updatepolicy.h"

#include <QDateTime>

ToolUpdater::Platform ToolUpdater::Platform::system()
{
    return {[] { return std::make_unique<UpdatePreferenceStore>(); }, UpdatePolicy::installsUpdates,
            DownloadFolder::startDetached};
}

ToolUpdater::ToolUpdater(QNetworkAccessManager *manager, QObject *parent, Platform platform)
    : QObject(parent)
    , m_manager(manager)
    , m_platform(std::move(platform))
{ }

ToolUpdater::~ToolUpdater() = default;

void ToolUpdater::ask()
{
    // Opened here, not at start-up, which reads no settings.
    if (!m_preferences)
        m_preferences = m_platform.preferences();
    if (m_asked)
        return;
    const UpdatePreferences kept = m_preferences->read();
    if (kept.unreadableCheck) {
        m_asked = true;
        return emit reaction({{QStringLiteral("CheckToolUpdates: %1 is neither 1 nor 0; not "
                                              "checking for tool updates")
                                   .arg(quotedForLog(*kept.unreadableCheck))}});
    }
    if (!kept.checkForUpdates)
        return;
    m_asked = true;
    m_installs = m_platform.installsUpdates();
    if (m_installs)
        DownloadFolder::removeEarlier(*m_preferences);
    connect(new ToolReleaseCheck({m_manager, FirmwareServer::baseUrl()}),
            &ToolReleaseCheck::answered, this, &ToolUpdater::judge);
}

void ToolUpdater::judge(const ToolReleaseFile::Answer &answer)
{
    Decisions::ToolUpdate update =
        Decisions::toolRelease(answer, QLatin1String(BuildSettings::toolVersion),
                               m_preferences->read(), QDateTime::currentDateTimeUtc(), m_installs);
    if (update.keep && !m_preferences->write(*update.keep))
        update.log << QStringLiteral("UpdatePreferencesNotSaved");
    emit reaction(update);
    if (update.offer)
        emit offered(*update.offer);
}

void ToolUpdater::answer(const Decisions::UpdateOffer &offer, Decisions::UpdateChoice choice,
                         bool stopChecking)
{
    if (!m_preferences->write(Decisions::afterUpdateBox(m_preferences->read(), offer.release,
                                                        choice, stopChecking,
                                                        QDateTime::currentDateTimeUtc())))
        emit reaction({{QStringLiteral("UpdatePreferencesNotSaved")}});
    if (choice != Decisions::UpdateChoice::InstallNow || !m_installs)
        return;
    m_download = new InstallerDownload(m_manager, offer.release, *m_preferences);
    connect(m_download, &InstallerDownload::progress, this, &ToolUpdater::progress);
    connect(m_download, &InstallerDownload::finished, this, &ToolUpdater::downloaded);
    emit downloadStarted(offer.release);
}

void ToolUpdater::cancel()
{
    if (m_download)
        m_download->cancel();
}

void ToolUpdater::downloaded(const InstallerOutcome &outcome)
{
    m_asked = false;
    emit downloadEnded();
    if (outcome.installer.failed(Failure::Kind::Cancelled))
        return emit reaction({{QStringLiteral("InstallerDownloadCancelled")}});
    if (!outcome.installer)
        return emit reaction(
            {{QStringLiteral("InstallerRefused ") + outcome.installer.failure().reason},
             outcome.box});
    if (const Result<> started =
            (*outcome.installer)
                ->start(UpdatePolicy::installerArguments(), m_platform.startInstaller);
        !started)
        return emit reaction({{},
                              UserTexts::installerRefused(UserTexts::InstallerProblem::NotStarted,
                                                          started.failure().reason)});
    emit reaction({{QStringLiteral("InstallerStarted")}});
    emit installerStarted();
}
