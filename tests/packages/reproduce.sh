#!/usr/bin/env bash
# Builds the packages a second time, from a fresh clone of the commit at
# another path with the build cache copied to another path too, and compares
# each artefact with a first build's, byte for byte. Then rebuilds the
# Windows programs a third time from the first build's sources archive
# alone, unpacked at yet another path, with its rebuild.sh in a network
# namespace of its own (no network at all), and compares those. The copied
# cache holds the cached Qt, OpenSSL, libusb and dfu-util builds, not their
# sources, which come from the archive. Prints one line per row; stops at
# the first that fails.
# Usage: tests/packages/reproduce.sh FIRST_OUT_DIR PACKAGE_SH_ARGUMENTS...
set -euo pipefail
first=$(realpath "${1:?usage: $0 FIRST_OUT_DIR PACKAGE_SH_ARGUMENTS...}")
shift
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=reproduce
source "$top/tests/packages/rows.sh"
skip_unless_committed
work=$top/build/packages-reproduce
rm -rf "$work"
mkdir -p "$work"
source "$top/scripts/source-packages.sh"

# The cached builds and downloaded source packages, linked where they can be.
copy_cache() {
    local dir
    mkdir -p "$work/cache"
    for dir in "$windows_cache"/*/; do
        case $(basename "$dir") in
        src | build) ;;
        *) cp -al "$dir" "$work/cache/" 2>/dev/null || cp -a "$dir" "$work/cache/" ;;
        esac
    done
}
build() {
    git clone -q "$top" "$work/clone" &&
        git -C "$work/clone" checkout -q "$(git -C "$top" rev-parse HEAD)" &&
        NV38K_WINDOWS_CACHE=$work/cache NV38K_PACKAGES=$work/out \
            "$work/clone/scripts/package.sh" "$@" >"$work/package.log" 2>&1
}
same() { cmp "$first/$1" "$work/out/$1"; }

started=$SECONDS
row "cache copied to $work/cache" copy_cache
row "second build from a clone in $work/clone" build "$@"
echo "      $suite  (the second build took $((SECONDS - started)) s)"
version=$(sed -n 's/^project(nv38k-upgrade-tool VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
programs=(nv38k-upgrade-tool.exe bin/x64/dfu-util-static.exe)
for file in "${programs[@]/#/trees/windows/}" \
    "nv38k-upgrade-tool-$version-setup.exe" "nv38k-upgrade-tool-$version-windows.zip" \
    "nv38k-upgrade-tool_${version}_amd64.deb" "nv38k-upgrade-tool-$version-sources.tar.xz" \
    "nv38k-upgrade-tool-$version-windows.cdx.json" "nv38k-upgrade-tool-$version-dfu-util.cdx.json" \
    "nv38k-upgrade-tool_${version}_amd64.cdx.json"; do
    row "identical: $file" same "$file"
done

rebuild() {
    mkdir -p "$work/unpacked" &&
        tar -xf "$first/nv38k-upgrade-tool-$version-sources.tar.xz" -C "$work/unpacked" &&
        NV38K_WINDOWS_CACHE=$work/cache unshare --net \
            "$work/unpacked/nv38k-upgrade-tool-$version-sources/rebuild.sh" "$work/rebuilt" \
            >"$work/rebuild.log" 2>&1
}
started=$SECONDS
row "rebuild.sh from the sources archive in $work/unpacked, with no network" rebuild
echo "      $suite  (the rebuild took $((SECONDS - started)) s)"
for file in "${programs[@]}"; do
    row "identical: rebuilt $file" cmp "$first/trees/windows/$file" "$work/rebuilt/$file"
done
