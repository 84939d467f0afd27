#include "firmware_info/firmwareserver.h"

#include "firmware_info/buildsettings.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QUrl>

namespace FirmwareServer {

namespace {

// Built on the first request only, so start-up never touches TLS or the
// system's certificate store.
const std::optional<QSslConfiguration> &buildSslConfiguration()
{
    static const std::optional<QSslConfiguration> config =
        []() -> std::optional<QSslConfiguration> {
        const QList<QSslCertificate> roots =
            QSslCertificate::fromData(QByteArray(BuildSettings::trustedCaPem), QSsl::Pem);
        if (roots.isEmpty())
            return std::nullopt;
        return withExtraRoots(QSslConfiguration::defaultConfiguration(), roots);
    }();
    return config;
}

// Set on a reply that limitBodySize() cut off, to the limit it passed.
const char exceededLimitProperty[] = "nv38kExceededLimit";

} // namespace

QString baseUrl()
{
    return QStringLiteral("https://") + QLatin1String(BuildSettings::firmwareHost)
           + QStringLiteral("/NV38Firmware/N3KFirmware/");
}

QString firmwareUrl(const QString &deviceModel, const QString &version)
{
    return baseUrl() + deviceModel + QLatin1Char('_') + version + QStringLiteral(".nv");
}

QNetworkRequest request(const QString &address)
{
    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (const auto &config = buildSslConfiguration())
        request.setSslConfiguration(*config);
    return request;
}

void limitBodySize(QNetworkReply *reply, qint64 maxBytes)
{
    // Qt reads ahead in a thread of its own; a bounded buffer keeps it from
    // taking in much more than the limit before the abort comes through.
    reply->setReadBufferSize(maxBytes + 1);
    const auto check = [reply, maxBytes] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (reply->bytesAvailable() <= maxBytes && announced <= maxBytes)
            return;
        if (exceededBodySize(*reply))
            return;
        reply->setProperty(exceededLimitProperty, maxBytes);
        // Not from inside the reply's own signal: it would finish, and be
        // handled, halfway through emitting it.
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, check);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, check);
}

bool exceededBodySize(const QNetworkReply &reply)
{
    return reply.property(exceededLimitProperty).isValid();
}

std::optional<QString> firmwareReplyFailure(const QNetworkReply &reply)
{
    const QVariant exceededLimit = reply.property(exceededLimitProperty);
    if (exceededLimit.isValid())
        return QStringLiteral("larger than %1 MiB").arg(exceededLimit.toLongLong() / (1024 * 1024));
    if (reply.error() != QNetworkReply::NoError)
        return reply.errorString();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return QStringLiteral("HTTP %1").arg(status);
    return std::nullopt;
}

QSslConfiguration withExtraRoots(QSslConfiguration config, const QList<QSslCertificate> &extraRoots)
{
    // Setting an explicit list turns off Qt's on-demand loading of the
    // system roots, so they are listed here as well.
    config.setCaCertificates(config.caCertificates() + QSslConfiguration::systemCaCertificates()
                             + extraRoots);
    return config;
}

} // namespace FirmwareServer
