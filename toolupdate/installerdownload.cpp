#include "toolupdate/installerdownload.h"

#include "requests/serverrequests.h"
#include "toolupdate/downloadfolder.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>

using UserTexts::InstallerProblem;

namespace {

// A refusal whose box tells `detail`, logged as `reason`, or as the detail
// where there is no reason of its own.
InstallerOutcome refusal(InstallerProblem problem, const QString &detail,
                         const QString &reason = {})
{
    return {Failure{Failure::Kind::Refused, reason.isEmpty() ? detail : reason},
            UserTexts::installerRefused(problem, detail)};
}

} // namespace

InstallerDownload::InstallerDownload(QNetworkAccessManager *manager, const ToolRelease &release,
                                     UpdatePreferenceStore &store)
    : QObject(manager)
    , m_release(release)
{
    const Result<QString> folder = DownloadFolder::make(store);
    QString why;
    if (folder) {
        m_folder = *folder;
        m_file.setFileName(QDir(m_folder).filePath(release.installerName));
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            why = m_file.errorString();
    } else {
        why = folder.failure().reason;
    }
    if (!why.isEmpty()) {
        // Reported once the caller has connected.
        QMetaObject::invokeMethod(
            this,
            [this, why] {
                end(refusal(InstallerProblem::NotSaved, why, QStringLiteral("not saved: ") + why));
            },
            Qt::QueuedConnection);
        return;
    }
    m_reply = manager->get(ServerRequests::request(ToolReleaseFile::installerUrl(release)));
    m_reply->setParent(this);
    // The body is taken as it comes, so nothing past the stated size is ever held.
    m_reply->setReadBufferSize(256 * 1024);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (announced.isValid() && announced.toLongLong() > m_release.installerSize)
            refuse(InstallerProblem::TooLarge, QStringLiteral("larger than stated"));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &InstallerDownload::take);
    connect(m_reply, &QNetworkReply::finished, this, &InstallerDownload::replyFinished);
}

InstallerDownload::~InstallerDownload() = default;

void InstallerDownload::cancel()
{
    m_cancelled = true;
    if (m_reply)
        m_reply->abort();
}

void InstallerDownload::refuse(InstallerProblem problem, const QString &reason)
{
    if (m_refusal)
        return;
    m_refusal = refusal(problem, reason);
    if (problem == InstallerProblem::TooLarge)
        ServerRequests::cutOff(m_reply, m_release.installerSize);
    else
        m_reply->abort();
}

void InstallerDownload::take()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299 || m_refusal)
        return;
    char chunk[64 * 1024];
    qint64 read;
    while ((read = m_reply->read(chunk, sizeof chunk)) > 0) {
        if (m_size + read > m_release.installerSize)
            return refuse(InstallerProblem::TooLarge, QStringLiteral("larger than stated"));
        if (m_file.write(chunk, read) != read)
            return refuse(InstallerProblem::NotSaved, m_file.errorString());
        m_size += read;
    }
    emit progress(m_size, m_release.installerSize);
}

void InstallerDownload::replyFinished()
{
    take();
    if (m_cancelled)
        return end({Failure{Failure::Kind::Cancelled, QStringLiteral("stopped by the owner")}});
    if (!m_refusal) {
        const ServedFile served = ServerRequests::servedFile(*m_reply);
        if (!served)
            m_refusal = refusal(InstallerProblem::DownloadFailed, served.failure().reason);
        else if (!m_file.flush())
            m_refusal = refusal(InstallerProblem::NotSaved, m_file.errorString());
    }
    m_file.close();
    if (m_refusal)
        return end(*m_refusal);
    // Held from here until it has started, and judged by what the held file
    // holds, read through the handle that holds it.
    const auto notHeld = [](const Failure &failed) {
        return refusal(InstallerProblem::NotSaved, failed.reason,
                       QStringLiteral("not held: ") + failed.reason);
    };
    auto holding = DownloadFolder::HeldFile::hold(m_file.fileName());
    if (!holding)
        return end(notHeld(holding.failure()));
    HeldInstaller held = std::move(*holding);
    const auto read = held->read();
    std::optional<InstallerOutcome> refused;
    if (!read)
        refused = notHeld(read.failure());
    else if (const auto mismatch =
                 ToolReleaseFile::installerMismatch(m_release, read->size, read->sha256))
        refused = refusal(*mismatch == ToolReleaseFile::InstallerMismatch::Size
                              ? InstallerProblem::WrongSize
                              : InstallerProblem::WrongSha256,
                          {}, ToolReleaseFile::describe(*mismatch));
    if (refused) {
        held.reset(); // let go of before its folder is removed
        return end(*refused);
    }
    end({std::move(held)});
}

void InstallerDownload::end(const InstallerOutcome &outcome)
{
    // The installer runs from there; the next update check removes it.
    if (!outcome.installer) {
        m_file.close();
        if (!m_folder.isEmpty())
            DownloadFolder::remove(m_folder);
    }
    deleteLater();
    emit finished(outcome);
}
