#include "requests/serverrequests.h"

#include "buildsettings/buildsettings.h"
#include "server/firmwareserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

namespace ServerRequests {

namespace {

// Adds the build's own root to the application's default configuration, on
// the first request only, so start-up never touches TLS.
void trustBuildRoot()
{
    static const bool trusted = [] {
        trustRoots(QSslCertificate::fromData(QByteArray(BuildSettings::trustedCaPem), QSsl::Pem));
        return true;
    }();
    Q_UNUSED(trusted)
}

// Set on a reply that limitBodySize() cut off, to the limit it passed.
const char exceededLimitProperty[] = "nv38kExceededLimit";

// Set on a reply that a Source's silence limit aborted, to that limit.
const char fellSilentProperty[] = "nv38kFellSilent";

// Whether limitBodySize() cut `reply` off. The whole body can arrive before
// the abort takes effect, so a reply without an error may still be one.
bool exceededBodySize(const QNetworkReply &reply)
{
    return reply.property(exceededLimitProperty).isValid();
}

// Whether a finished `reply` brings its file, or why not.
Result<> fileCame(const QNetworkReply &reply)
{
    using Kind = Failure::Kind;
    const QVariant silentFor = reply.property(fellSilentProperty);
    if (silentFor.isValid())
        return Failure{Kind::Failed, QStringLiteral("no answer for %1 s; the window would wait "
                                                    "for ever")
                                         .arg(silentFor.toInt() / 1000)};
    const QVariant exceededLimit = reply.property(exceededLimitProperty);
    if (exceededLimit.isValid())
        return Failure{Kind::Failed, sizeLimitFailure(exceededLimit.toLongLong())};
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool local = reply.url().isLocalFile();
    if (status == 404 || (local && reply.error() == QNetworkReply::ContentNotFoundError))
        return Failure{Kind::Absent, local ? QStringLiteral("no such file") : reply.errorString()};
    if (reply.error() != QNetworkReply::NoError)
        return Failure{Kind::Failed, reply.errorString()};
    if (!bringsFile(reply))
        return Failure{Kind::Failed, QStringLiteral("HTTP %1").arg(status)};
    return {};
}

} // namespace

QNetworkRequest request(const QString &address)
{
    return request(FirmwareServer::toUrl(address));
}

QNetworkRequest request(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // Nothing tells the server who asks: a cookie it set is never sent back.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    trustBuildRoot();
    return request;
}

QUrl Source::url(const QString &fileName) const
{
    return FirmwareServer::toUrl(baseUrl + fileName);
}

QNetworkReply *get(const Source &source, const QUrl &url, qint64 maxBytes, QObject *parent)
{
    QNetworkReply *reply = source.manager->get(request(url));
    reply->setParent(parent);
    limitBodySize(reply, maxBytes);
    if (source.silenceLimitMs > 0) {
        auto *silence = new QTimer(reply);
        silence->setSingleShot(true);
        QObject::connect(silence, &QTimer::timeout, reply, [reply, limit = source.silenceLimitMs] {
            reply->setProperty(fellSilentProperty, limit);
            reply->abort();
        });
        QObject::connect(reply, &QNetworkReply::downloadProgress, silence,
                         qOverload<>(&QTimer::start));
        QObject::connect(reply, &QNetworkReply::finished, silence, &QTimer::stop);
        silence->start(source.silenceLimitMs);
    }
    return reply;
}

// QSslConfiguration's own setters would also switch off Qt's on-demand loading
// of the system's roots, which Windows fetches lazily from Windows Update;
// this call keeps it.
void trustRoots(const QList<QSslCertificate> &roots)
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    if (!roots.isEmpty())
        QSslSocket::addDefaultCaCertificates(roots);
    QT_WARNING_POP
}

void limitBodySize(QNetworkReply *reply, qint64 maxBytes)
{
    // Qt reads ahead in a thread of its own; a bounded buffer keeps it from
    // taking in much more than the limit before the abort comes through.
    reply->setReadBufferSize(maxBytes + 1);
    const auto check = [reply, maxBytes] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (reply->bytesAvailable() > maxBytes || announced > maxBytes)
            cutOff(reply, maxBytes);
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, check);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, check);
}

void cutOff(QNetworkReply *reply, qint64 maxBytes)
{
    if (exceededBodySize(*reply))
        return;
    reply->setProperty(exceededLimitProperty, maxBytes);
    // Not from inside the reply's own signal: it would finish, and be
    // handled, halfway through emitting it.
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

QString sizeLimitFailure(qint64 maxBytes)
{
    if (maxBytes % (1024 * 1024) == 0)
        return QStringLiteral("larger than %1 MiB").arg(maxBytes / (1024 * 1024));
    return QStringLiteral("larger than %1 bytes").arg(maxBytes);
}

bool bringsFile(const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply.error() == QNetworkReply::NoError
           && (reply.url().isLocalFile() || (status >= 200 && status <= 299));
}

ServedFile servedFile(QNetworkReply &reply)
{
    if (const Result<> came = fileCame(reply); !came)
        return came.failure();
    return reply.readAll();
}

ServedFile unreadServedFile(QNetworkReply &reply)
{
    if (const Result<> came = fileCame(reply); !came)
        return came.failure();
    return reply.peek(reply.bytesAvailable());
}

ServedFile servedInformation(QNetworkReply &reply)
{
    if (reply.error() != QNetworkReply::NoError || exceededBodySize(reply))
        return servedFile(reply);
    return reply.readAll();
}

} // namespace ServerRequests
