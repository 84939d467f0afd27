#!/usr/bin/env bash
# Cross-builds build/windows/nv38k-upgrade-tool.exe for 32-bit Windows on
# Debian 12: one static executable that needs no DLL beyond Windows' own,
# and beside it bin/x64/dfu-util-static.exe. OpenSSL, zlib, PCRE2, libpng,
# Qt, libusb and dfu-util are built once from the Debian source packages pinned in
# packaging/windows/source-pins.txt, each by its recipe in
# scripts/windows/recipes.py, and cached outside the work tree, in
# $NV38K_WINDOWS_CACHE (by default ~/.cache/nv38k-windows); later runs
# rebuild only the tool. The source packages are downloaded with apt-get
# source or, when NV38K_SOURCE_PACKAGES names a folder holding them (as a
# release's sources archive does), taken from there without any network.
# Arguments go to the tool's CMake configure step (preset "windows"), e.g.
# -DNV38K_FIRMWARE_HOST=...; the build tree is build/windows unless
# NV38K_WINDOWS_BUILD names another. NV38K_TOOLCHAIN_RECORD names the
# toolchain record of a release being rebuilt (its toolchain.txt): the build
# stops unless this machine's toolchain is that one.
# Usage: scripts/build-windows.sh [-DNAME=VALUE...]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments '-D?*' -- "$@"
cd "$(dirname "$0")/.."
source scripts/packages.sh
source scripts/source-packages.sh
started=$SECONDS
step() { printf '[%4ds] %s\n' $((SECONDS - started)) "$*"; }

scripts/install-deps.sh "${windows_build_packages[@]}"
# scripts/test.sh --windows builds its test binaries in a tree of their own.
build=${NV38K_WINDOWS_BUILD:-build/windows}
mkdir -p "$build"
# Records in $build what the components were built from and how, and where
# they are: windows-prefixes.txt, read here as data, never run as shell.
NV38K_WINDOWS_CACHE=$windows_cache python3 scripts/windows/build.py "$build"
qt_prefix= openssl_prefix= library_prefixes= dfu_util=
while IFS= read -r line || [[ -n $line ]]; do
    case ${line%%=*} in
    qt_prefix | openssl_prefix | library_prefixes | dfu_util) printf -v "${line%%=*}" '%s' "${line#*=}" ;;
    *)
        echo "build-windows.sh: $build/windows-prefixes.txt has a line it does not know: ${line@Q}" >&2
        exit 1
        ;;
    esac
done <"$build/windows-prefixes.txt"
IFS=';' read -ra libraries <<<"$library_prefixes"
for path in "$qt_prefix" "$openssl_prefix" "${libraries[@]}" "$dfu_util"; do
    [[ $path == /* && -e $path ]] || {
        echo "build-windows.sh: $build/windows-prefixes.txt names no qt_prefix, openssl_prefix," \
            "library_prefixes and dfu_util that exist (${path@Q})" >&2
        exit 1
    }
done
scripts/check-windows-exe.sh --console "$dfu_util" >/dev/null

step "Building the tool"
# dfu-util goes where the tool looks for it, so the build tree is a folder the
# tool runs from; the Windows tests run that copy.
install -D -m 755 "$dfu_util" "$build/bin/x64/dfu-util-static.exe"
# CMake keeps the packages it found by path: another Qt or OpenSSL needs a
# fresh configure.
if [[ -f $build/CMakeCache.txt ]] &&
    ! { grep -qxF "Qt5_DIR:PATH=$qt_prefix/lib/cmake/Qt5" "$build/CMakeCache.txt" &&
        grep -qxF "OPENSSL_INCLUDE_DIR:PATH=$openssl_prefix/include" "$build/CMakeCache.txt"; }; then
    rm "$build/CMakeCache.txt"
fi
configure=(--preset windows -DNV38K_WINDOWS_PREFIX="$qt_prefix;$openssl_prefix;$library_prefixes")
cmake -B "$build" "${configure[@]}" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# How the tool was configured, after its components' lines, and the
# toolchain's packages: another version compiles other bytes.
printf 'tool: cmake%s\n' "$(printf ' %q' "${configure[@]}")" | sed "s|$windows_cache|\$CACHE|g" \
    >>"$build/windows-configure.txt"
toolchain() {
    dpkg-query -W -f='${Package} ${Version}\n' "${windows_build_packages[@]}" mingw-w64-i686-dev \
        gcc-mingw-w64-base gcc-mingw-w64-i686-posix-runtime | sort -u
}
if [[ -n ${NV38K_TOOLCHAIN_RECORD:-} ]]; then
    # A rebuild of a release: the toolchain must be the one its record names.
    if ! toolchain | diff -u "$NV38K_TOOLCHAIN_RECORD" - >"$build/windows-toolchain.diff"; then
        echo "build-windows.sh: this machine's toolchain is not the one $NV38K_TOOLCHAIN_RECORD records:" >&2
        grep -E '^[-+][^-+]' "$build/windows-toolchain.diff" >&2
        exit 1
    fi
    cp "$NV38K_TOOLCHAIN_RECORD" "$build/windows-toolchain.txt"
else
    toolchain >"$build/windows-toolchain.txt"
fi
python3 packaging/windows/notices.py "$build/windows-sources.txt" "$build/licenses"
step "Built $build/nv38k-upgrade-tool.exe and $build/bin/x64/dfu-util-static.exe"
