#include "server/firmwareserver.h"

#include "buildsettings/buildsettings.h"

#include <QUrl>

namespace FirmwareServer {

QString baseUrl()
{
    return QStringLiteral("https://") + QLatin1String(BuildSettings::firmwareHost)
           + QStringLiteral("/NV38Firmware/N3KFirmware/");
}

QString infoFileName()
{
    return QStringLiteral("Version.txt");
}

QString firmwareFileName(const QString &deviceModel, const QString &version)
{
    return deviceModel + QLatin1Char('_') + version + QStringLiteral(".nv");
}

QString firmwareUrl(const QString &deviceModel, const QString &version)
{
    return baseUrl() + firmwareFileName(deviceModel, version);
}

QUrl toUrl(const QString &address)
{
    return QUrl(address, QUrl::TolerantMode);
}

} // namespace FirmwareServer
