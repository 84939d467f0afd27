#pragma once

#include <QStringList>

// Whether this copy installs the tool's updates itself: only a Windows build
// that carries a tool release key, so that a program may start only after a
// key the build carries has verified the statement naming its installer, and
// only the copy in the folder its installer installed. Linux packages are
// updated through the package manager; every other copy tells of a release
// and its advisory.
namespace UpdatePolicy {

bool installsUpdates();

// The arguments the installer is started with: none, so that the owner sees
// it and goes through it. Test builds may pass its silent switch in
// NV38K_TEST_INSTALLER_ARGUMENTS.
QStringList installerArguments();

} // namespace UpdatePolicy
