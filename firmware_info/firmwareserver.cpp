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

std::optional<QString> firmwareReplyFailure(const QNetworkReply &reply)
{
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
