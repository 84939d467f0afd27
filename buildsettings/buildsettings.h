#pragma once

// Values fixed when the tool is built (see NV38K_VERSION, NV38K_FIRMWARE_HOST,
// NV38K_TRUSTED_CA, NV38K_FIRMWARE_SIGNING_KEY and NV38K_TOOL_RELEASE_KEY in
// CMakeLists.txt).
namespace BuildSettings {

// The tool's version (NV38K_VERSION), numbers separated by dots.
extern const char toolVersion[];

// Host of the firmware server, optionally with ":port".
extern const char firmwareHost[];

// PEM text of an extra root certificate to trust; empty when none was given.
extern const char trustedCaPem[];

// PEM text of the Ed25519 public keys that sign firmware, one block after
// the other; empty when the build requires no signature.
extern const char firmwareSigningKeysPem[];

// PEM text of the Ed25519 public keys that sign the tool's release statement;
// empty when the build only tells of updates.
extern const char toolReleaseKeysPem[];

} // namespace BuildSettings
