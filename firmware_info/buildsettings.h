#pragma once

// Values fixed when the tool is built (see NV38K_FIRMWARE_HOST and
// NV38K_TRUSTED_CA in CMakeLists.txt).
namespace BuildSettings {

// Host of the firmware server, optionally with ":port".
extern const char firmwareHost[];

// PEM text of an extra root certificate to trust; empty when none was given.
extern const char trustedCaPem[];

} // namespace BuildSettings
