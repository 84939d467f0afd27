#pragma once

#include <QByteArray>

// The public keys compiled into this build, by role (NV38K_FIRMWARE_SIGNING_KEY
// and NV38K_TOOL_RELEASE_KEY): PEM blocks one after the other, as
// FirmwareSignature::verify takes them. The roles never share a key, so a
// firmware key cannot start a program on an owner's computer.
namespace BuildKeys {

// The keys that sign firmware; empty when the build requires no signature.
QByteArray firmwareKeys();
// Whether a firmware is stored only when one of firmwareKeys() signed it.
bool firmwareSignatureRequired();

// The keys that sign the tool's release statement; empty when the build only
// tells of updates.
QByteArray toolReleaseKeys();

} // namespace BuildKeys
