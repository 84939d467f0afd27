#include "toolupdate/updatepolicy.h"

#include "integrity/firmwaresignature.h"

namespace UpdatePolicy {

bool installsUpdates()
{
#ifdef Q_OS_WIN
    return !FirmwareSignature::toolReleaseKeys().isEmpty();
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
