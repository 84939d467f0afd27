#include "integrity/buildkeys.h"

#include "buildsettings/buildsettings.h"

namespace BuildKeys {

QByteArray firmwareKeys()
{
    return QByteArray(BuildSettings::firmwareSigningKeysPem);
}

bool firmwareSignatureRequired()
{
    return BuildSettings::firmwareSigningKeysPem[0] != '\0';
}

QByteArray toolReleaseKeys()
{
    return QByteArray(BuildSettings::toolReleaseKeysPem);
}

} // namespace BuildKeys
