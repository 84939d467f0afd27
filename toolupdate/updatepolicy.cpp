#include "toolupdate/updatepolicy.h"

#include "integrity/buildkeys.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

namespace UpdatePolicy {

bool installsUpdates()
{
#ifdef Q_OS_WIN
    // A copy elsewhere, the portable zip's say, would install into the
    // installer's folder and keep running the old version itself.
    const QSettings uninstallEntry(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                       "Uninstall\\NV38KUpgradeTool"),
        QSettings::NativeFormat);
    const QString installedIn = uninstallEntry.value(QStringLiteral("InstallLocation")).toString();
    return !BuildKeys::toolReleaseKeys().isEmpty() && !installedIn.isEmpty()
           && QFileInfo(installedIn) == QFileInfo(QCoreApplication::applicationDirPath());
#else
    return false;
#endif
}

QStringList installerArguments()
{
#ifdef NV38K_TEST_HOOKS
    const QString arguments = qEnvironmentVariable("NV38K_TEST_INSTALLER_ARGUMENTS");
    if (!arguments.isEmpty())
        return arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
#endif
    return {};
}

} // namespace UpdatePolicy
