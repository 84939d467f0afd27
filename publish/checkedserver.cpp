#include "checkedserver.h"

#include "download/firmwaredownload.h"
#include "server/firmwareserver.h"
#include "toolupdate/toolreleasecheck.h"

#include <QDir>
#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>

namespace {

// Never destroyed: Qt's network thread can still be ending after the
// manager's destructor has waited for it, and then races OpenSSL's own
// clean-up at exit. Left running, it is simply stopped with the process.
QNetworkAccessManager &manager()
{
    static QNetworkAccessManager *const instance = new QNetworkAccessManager;
    return *instance;
}

} // namespace

CheckedServer::CheckedServer(const QString &baseUrl, int silenceLimitMs, const QString &folder)
    : m_source{&manager(), baseUrl, silenceLimitMs}
    , m_folder(folder)
{
    connect(&manager(), &QNetworkAccessManager::sslErrors, this,
            [this](QNetworkReply *reply, const QList<QSslError> &errors) {
                m_sslErrors.insert(reply, errors);
            });
    connect(&manager(), &QNetworkAccessManager::finished, this, &CheckedServer::note);
}

void CheckedServer::lookUpAhead(const QString &address)
{
    const QUrl url = FirmwareServer::toUrl(address);
    // Through a proxy the proxy looks it up, and so nothing is.
    if (QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url)).value(0).type()
        == QNetworkProxy::NoProxy)
        QHostInfo::lookupHost(url.host(), [](const QHostInfo &) {});
}

Answer CheckedServer::fetch(const QUrl &url, qint64 maxBytes, bool information)
{
    QNetworkReply *reply = ServerRequests::get(m_source, url, maxBytes, this);
    waitUntil([reply] { return reply->isFinished(); });
    reply->deleteLater();
    return answer(*reply, information ? ServerRequests::servedInformation(*reply)
                                      : ServerRequests::servedFile(*reply));
}

DownloadOutcome CheckedServer::downloadFirmware(const Decisions::Release &release,
                                                const QByteArray &keysPem)
{
    m_noted.clear();
    m_outcome.reset();
    new FirmwareDownload(m_source, release.deviceModel, release.version, keysPem);
    waitUntil([this] { return m_outcome.has_value(); });
    return *m_outcome;
}

ToolReleaseFile::Answer CheckedServer::checkToolRelease(const QByteArray &keysPem)
{
    m_noted.clear();
    std::optional<ToolReleaseFile::Answer> answered;
    connect(new ToolReleaseCheck(m_source, keysPem), &ToolReleaseCheck::answered, this,
            [&answered](const ToolReleaseFile::Answer &answer) { answered = answer; });
    waitUntil([&answered] { return answered.has_value(); });
    return *answered;
}

// Qt tells the manager of a finished reply before anyone else.
void CheckedServer::note(QNetworkReply *reply)
{
    if (reply->parent() == this)
        return;
    m_noted << answer(*reply, ServerRequests::unreadServedFile(*reply));
    // As the window hands the firmware's replies on.
    if (FirmwareDownload *download = FirmwareDownload::of(*reply)) {
        reply->deleteLater();
        m_outcome = download->finished(reply);
        m_firmwareSha256 = download->sha256();
    }
}

Answer CheckedServer::answer(QNetworkReply &reply, const ServedFile &file)
{
    const QUrl url = reply.url();
    return {url.isLocalFile() ? QDir(m_folder).filePath(
                QDir(QDir(m_folder).absolutePath()).relativeFilePath(url.toLocalFile()))
                              : url.toString(),
            url.isLocalFile() ? 0
                              : reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            file, m_sslErrors.take(&reply)};
}

template<typename Done> void CheckedServer::waitUntil(const Done &done)
{
    QEventLoop loop;
    // Queued, so that whoever the reply belongs to has handled it.
    connect(
        &manager(), &QNetworkAccessManager::finished, &loop,
        [&] {
            if (done())
                loop.quit();
        },
        Qt::QueuedConnection);
    if (!done())
        loop.exec();
}
