#pragma once

#include "decisions/windowdecisions.h"
#include "toolupdate/installerdownload.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class UpdatePreferenceStore;

// The tool's own update, from the question to the installer's start. It asks
// the server once a run, unless the owner opted out; judges the statement
// against the owner's kept choices; keeps the owner's answer; downloads,
// checks and starts the installer; and removes what earlier updates left.
// The window only shows what it hands over, as values, and forwards the
// owner's answer to an offer.
class ToolUpdater : public QObject
{
    Q_OBJECT

public:
    // What it asks of the system it runs on; tests stand in for each.
    struct Platform
    {
        // Where the owner's choices are kept, opened when first asked.
        std::function<std::unique_ptr<UpdatePreferenceStore>()> preferences;
        // Whether this copy installs updates itself.
        std::function<bool()> installsUpdates;
        // How the checked installer is started.
        DownloadFolder::Start startInstaller;
        // The owner's store, UpdatePolicy and a detached process.
        static Platform system();
    };

    // Asks through `manager`, which the window owns.
    ToolUpdater(QNetworkAccessManager *manager, QObject *parent,
                Platform platform = Platform::system());
    ~ToolUpdater() override;

    // After information the window accepted, on the owner's own click: the
    // answer holds until the tool is started again, unless an update that
    // was to be installed did not get that far.
    void ask();
    // How the owner left the box of `offer`.
    void answer(const Decisions::UpdateOffer &offer, Decisions::UpdateChoice choice,
                bool stopChecking);
    // The owner stopped the installer's download.
    void cancel();

signals:
    // What to log, and the box to show, if any.
    void reaction(const Decisions::Reaction &reaction);
    // A release to offer in the update box; answer() says how it was left.
    void offered(const Decisions::UpdateOffer &offer);
    // The installer of `release` is downloading: progress() follows until
    // downloadEnded().
    void downloadStarted(const ToolRelease &release);
    void progress(qint64 received, qint64 total);
    void downloadEnded();
    // The installer runs and replaces this program's files: the tool gives way.
    void installerStarted();

private:
    void judge(const ToolReleaseFile::Answer &answer);
    void downloaded(const InstallerOutcome &outcome);

    QNetworkAccessManager *m_manager;
    Platform m_platform;
    std::unique_ptr<UpdatePreferenceStore> m_preferences; // opened when first asked
    bool m_asked = false; // in this run
    bool m_installs = false; // whether this copy installs updates, settled when asked
    QPointer<InstallerDownload> m_download; // while the installer downloads
};
