#include "toolupdate/installerdownload.h"

#include "requests/serverrequests.h"
#include "toolupdate/downloadfolder.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>

using UserTexts::InstallerProblem;

InstallerDownload::InstallerDownload(QNetworkAccessManager *manager, const ToolRelease &release)
    : QObject(manager)
    , m_release(release)
{
    const std::variant<QString, FileFailed> folder = DownloadFolder::make();
    QString why;
    if (const auto *made = std::get_if<QString>(&folder)) {
        m_folder = *made;
        m_file.setFileName(QDir(m_folder).filePath(release.installerName));
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            why = m_file.errorString();
    } else {
        why = std::get<FileFailed>(folder).why;
    }
    if (!why.isEmpty()) {
        // Reported once the caller has connected.
        QMetaObject::invokeMethod(
            this,
            [this, why] {
                end(InstallerRefused{UserTexts::installerRefused(InstallerProblem::NotSaved, why),
                                     QStringLiteral("not saved: ") + why});
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
    m_refusal = InstallerRefused{UserTexts::installerRefused(problem, reason), reason};
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
        return end(InstallerCancelled{});
    if (!m_refusal) {
        const ServedFile served = ServerRequests::servedFile(*m_reply);
        if (!std::holds_alternative<QByteArray>(served))
            m_refusal = InstallerRefused{
                UserTexts::installerRefused(InstallerProblem::DownloadFailed, whyNoFile(served)),
                whyNoFile(served)};
        else if (!m_file.flush())
            m_refusal = InstallerRefused{
                UserTexts::installerRefused(InstallerProblem::NotSaved, m_file.errorString()),
                m_file.errorString()};
    }
    m_file.close();
    if (m_refusal)
        return end(*m_refusal);
    // Held from here until it has started, and judged by what the held file
    // holds, read through the handle that holds it.
    auto holding = DownloadFolder::HeldFile::hold(m_file.fileName());
    std::shared_ptr<DownloadFolder::HeldFile> held;
    if (auto *file = std::get_if<std::unique_ptr<DownloadFolder::HeldFile>>(&holding))
        held = std::move(*file);
    // Let go of before its folder is removed.
    const auto refused = [this, &held](InstallerProblem problem, const QString &reason,
                                       const QString &detail = {}) {
        held.reset();
        end(InstallerRefused{UserTexts::installerRefused(problem, detail), reason});
    };
    const std::variant<DownloadFolder::HeldFile::Contents, FileFailed> read =
        held ? held->read() : std::get<FileFailed>(holding);
    const auto *contents = std::get_if<DownloadFolder::HeldFile::Contents>(&read);
    if (!contents) {
        const QString why = std::get<FileFailed>(read).why;
        return refused(InstallerProblem::NotSaved, QStringLiteral("not held: ") + why, why);
    }
    if (const std::optional<ToolReleaseFile::InstallerMismatch> mismatch =
            ToolReleaseFile::installerMismatch(m_release, contents->size, contents->sha256))
        return refused(*mismatch == ToolReleaseFile::InstallerMismatch::Size
                           ? InstallerProblem::WrongSize
                           : InstallerProblem::WrongSha256,
                       ToolReleaseFile::describe(*mismatch));
    end(std::move(held));
}

void InstallerDownload::end(const InstallerOutcome &outcome)
{
    // The installer runs from there; the next update check removes it.
    if (!std::holds_alternative<HeldInstaller>(outcome)) {
        m_file.close();
        if (!m_folder.isEmpty())
            DownloadFolder::remove(m_folder);
    }
    deleteLater();
    emit finished(outcome);
}
