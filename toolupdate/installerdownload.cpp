#include "toolupdate/installerdownload.h"

#include "requests/serverrequests.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>

using UserTexts::InstallerProblem;

InstallerDownload::InstallerDownload(QNetworkAccessManager *manager, const ToolRelease &release)
    : QObject(manager)
    , m_release(release)
    // A new folder of the user's temporary folder: on Windows, one in the
    // user's own profile that other users cannot write; elsewhere made with
    // mode 0700.
    , m_folder(std::make_unique<QTemporaryDir>(QDir::tempPath()
                                               + QStringLiteral("/nv38k-update-XXXXXX")))
{
    m_file.setFileName(m_folder->filePath(release.installerName));
    if (!m_folder->isValid() || !m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        const QString why = m_folder->isValid() ? m_file.errorString() : m_folder->errorString();
        // Reported once the caller has connected.
        QMetaObject::invokeMethod(
            this,
            [this, why] {
                end({{},
                     UserTexts::installerRefused(InstallerProblem::NotSaved, why),
                     QStringLiteral("not saved: ") + why,
                     false});
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
    m_refusal = Refusal{UserTexts::installerRefused(problem, reason), reason};
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
        m_hash.addData(chunk, read);
        m_size += read;
    }
    emit progress(m_size, m_release.installerSize);
}

void InstallerDownload::replyFinished()
{
    take();
    if (m_cancelled)
        return end({{}, std::nullopt, QStringLiteral("cancelled"), true});
    if (!m_refusal) {
        if (const std::optional<QString> failure = ServerRequests::firmwareReplyFailure(*m_reply))
            m_refusal = Refusal{
                UserTexts::installerRefused(InstallerProblem::DownloadFailed, *failure), *failure};
        else if (!m_file.flush())
            m_refusal = Refusal{
                UserTexts::installerRefused(InstallerProblem::NotSaved, m_file.errorString()),
                m_file.errorString()};
    }
    m_file.close();
    if (!m_refusal)
        m_refusal = check();
    if (m_refusal)
        return end({{}, m_refusal->box, m_refusal->reason, false});
    end({m_file.fileName(), std::nullopt, {}, false});
}

std::optional<InstallerDownload::Refusal> InstallerDownload::check()
{
    if (m_size != m_release.installerSize)
        return Refusal{UserTexts::installerRefused(InstallerProblem::WrongSize),
                       QStringLiteral("size differs from the statement's")};
    if (m_hash.result() != m_release.installerSha256)
        return Refusal{UserTexts::installerRefused(InstallerProblem::WrongSha256),
                       QStringLiteral("SHA-256 differs from the statement's")};
    return std::nullopt;
}

void InstallerDownload::end(const InstallerOutcome &outcome)
{
    if (outcome.installerPath.isEmpty()) {
        m_file.close();
        m_folder->remove();
    } else {
        // It runs from there; the installer is the user's to keep or delete.
        m_folder->setAutoRemove(false);
    }
    deleteLater();
    emit finished(outcome);
}
