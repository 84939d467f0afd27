#pragma once

#include "server/toolrelease.h"
#include "toolupdate/downloadfolder.h"
#include "usertexts/usertexts.h"

#include <QFile>
#include <QObject>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class UpdatePreferenceStore;

// The installer passed every check, and is held until it has started.
using HeldInstaller = std::shared_ptr<DownloadFolder::HeldFile>;
// How an installer download ended: the installer, or why it may not run,
// for the log: Cancelled when the owner stopped the download, else Refused,
// with the box that tells the owner.
struct InstallerOutcome
{
    Result<HeldInstaller> installer;
    std::optional<WindowBox> box = {};
};

// Downloads the installer a verified statement names into a new folder that
// only this user can write, never taking more than the stated size, then
// checks its size and its SHA-256 against the statement, which a key the
// build carries has verified: the statement is what the installer is trusted
// for, so that a renewed code-signing certificate changes nothing. Anything
// short of that removes the folder with what it held. Emits finished() once
// and deletes itself.
class InstallerDownload : public QObject
{
    Q_OBJECT

public:
    // Asks through `manager`, whose child it becomes; keeps the folder's name
    // in `store`, for DownloadFolder::removeEarlier().
    InstallerDownload(QNetworkAccessManager *manager, const ToolRelease &release,
                      UpdatePreferenceStore &store);
    ~InstallerDownload() override;

    void cancel();

signals:
    void progress(qint64 received, qint64 total);
    void finished(const InstallerOutcome &outcome);

private:
    void take();
    void replyFinished();
    void refuse(UserTexts::InstallerProblem problem, const QString &reason);
    void end(const InstallerOutcome &outcome);

    ToolRelease m_release;
    QString m_folder; // where it goes; empty until made
    QFile m_file;
    qint64 m_size = 0;
    QNetworkReply *m_reply = nullptr;
    std::optional<InstallerOutcome> m_refusal; // set while the reply is being cut off
    bool m_cancelled = false;
};
