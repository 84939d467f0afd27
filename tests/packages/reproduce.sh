#!/usr/bin/env bash
# Builds the packages a second time, from a fresh clone of the commit at
# another path, and compares each artefact with a first build's, byte for
# byte (Qt, OpenSSL, libusb and dfu-util come from the same cache). Prints
# one line per row; stops at the first that fails.
# Usage: tests/packages/reproduce.sh FIRST_OUT_DIR PACKAGE_SH_ARGUMENTS...
set -euo pipefail
first=$(realpath "${1:?usage: $0 FIRST_OUT_DIR PACKAGE_SH_ARGUMENTS...}")
shift
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=reproduce
source "$top/tests/packages/rows.sh"
if ! git -C "$top" diff --quiet HEAD; then
    echo "skip  $suite  the working tree has changes that a clone of the commit lacks"
    exit
fi
work=$top/build/packages-reproduce
rm -rf "$work"
mkdir -p "$work"

build() {
    git clone -q "$top" "$work/clone" &&
        git -C "$work/clone" checkout -q "$(git -C "$top" rev-parse HEAD)" &&
        NV38K_PACKAGES=$work/out "$work/clone/scripts/package.sh" "$@" >"$work/package.log" 2>&1
}
same() { cmp "$first/$1" "$work/out/$1"; }

started=$SECONDS
row "second build from a clone in $work" build "$@"
echo "      $suite  (the second build took $((SECONDS - started)) s)"
version=$(sed -n 's/^project(nv38k-upgrade-tool VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
for file in trees/windows/nv38k-upgrade-tool.exe trees/windows/bin/x64/dfu-util-static.exe \
    "nv38k-upgrade-tool-$version-setup.exe" "nv38k-upgrade-tool-$version-windows.zip" \
    "nv38k-upgrade-tool_${version}_amd64.deb" "nv38k-upgrade-tool-$version-sources.tar.xz"; do
    row "identical: $file" same "$file"
done
