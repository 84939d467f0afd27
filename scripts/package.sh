#!/usr/bin/env bash
# Builds the three artefacts users install from, into build/packages (or
# $NV38K_PACKAGES): the Windows installer and portable zip, and the Debian
# package. Arguments go to both builds' CMake configure step, as for
# scripts/build-windows.sh, e.g. -DNV38K_FIRMWARE_HOST=... -DNV38K_TRUSTED_CA=...
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" "${deb_packages[@]}"

out=${NV38K_PACKAGES:-build/packages}
mkdir -p "$out"
out=$(realpath "$out")
trees=$out/trees

linux=$trees/linux
cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr "$@" >/dev/null
cmake --build "$linux" --parallel "$(nproc)"
rm -rf "$linux/cpack"
(cd "$linux" && cpack -G DEB -B "$linux/cpack" >/dev/null)
deb=$(echo "$linux"/cpack/*.deb)
cp "$deb" "$out/"
# Errors fail the build; warnings are shown.
lintian --fail-on error "$out/$(basename "$deb")"

NV38K_WINDOWS_BUILD=$trees/windows scripts/build-windows.sh "$@"
packaging/windows/make-packages.sh "$trees/windows" "$out"
ls -l "$out"/*.deb "$out"/*.exe "$out"/*.zip
