#!/usr/bin/env bash
# Cross-builds build/windows/nv38k-upgrade-tool.exe for 32-bit Windows on
# Debian 12: one static executable that needs no DLL beyond Windows' own.
# OpenSSL and Qt are built once from the Debian source packages pinned in
# packaging/windows/source-pins.txt and cached outside the work tree, in
# $NV38K_WINDOWS_CACHE (by default ~/.cache/nv38k-windows); later runs
# rebuild only the tool. The source packages are downloaded with apt-get
# source or, when NV38K_SOURCE_PACKAGES names a folder holding them (as a
# release's sources archive does), taken from there without any network.
# Arguments go to the tool's CMake configure step, e.g.
# -DNV38K_FIRMWARE_HOST=...; the build tree is build/windows unless
# NV38K_WINDOWS_BUILD names another.
# Usage: scripts/build-windows.sh [-DNAME=VALUE...]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments '-D?*' -- "$@"
cd "$(dirname "$0")/.."
top=$PWD
source scripts/packages.sh
source scripts/source-packages.sh

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
# One job more than cores: Qt's build waits on moc and ar often enough.
jobs=$(($(nproc) + 1))
started=$SECONDS

step() { printf '[%4ds] %s\n' $((SECONDS - started)) "$*"; }

# Runs a long build step quietly into a log; shows the log's end if it fails.
logged() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        echo "Failed: $* (log: $log)" >&2
        grep -E -m 20 -i '(error|fatal|failed|not found)' "$log" | cut -c 1-300 >&2 || true
        tail -n 5 "$log" | cut -c 1-300 >&2
        exit 1
    fi
}

scripts/install-deps.sh "${windows_build_packages[@]}"

# Qt's test library needs std::mutex, which only the POSIX thread model has.
for tool in gcc g++; do
    posix=/usr/bin/i686-w64-mingw32-$tool-posix
    if [[ $(readlink -f "/usr/bin/i686-w64-mingw32-$tool") != "$(readlink -f "$posix")" ]]; then
        "${sudo[@]}" update-alternatives --quiet --set "i686-w64-mingw32-$tool" "$posix"
    fi
done

local_sources=${NV38K_SOURCE_PACKAGES:-}
if [[ -n $local_sources ]]; then
    local_sources=$(realpath "$local_sources")
else
    ensure_deb_src
fi

cross=i686-w64-mingw32-
compiler_id=$("${cross}g++" --version | head -n 1)$("${cross}g++" -v 2>&1 | grep -o 'Thread model: .*')

cache=$windows_cache
mkdir -p "$cache/src" "$cache/build"
# One build at a time uses the cache.
exec 9>"$cache/.lock"
flock 9
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS QMAKESPEC QTDIR

# A cached build's key: the compiler, and the arguments with the cache's own
# path left out, so that a cache moved elsewhere is still used.
key() { printf '%s\n' "$compiler_id" "${@//"$cache"/CACHE}" | sha256sum | cut -c 1-12; }

declare -A pinned_version pinned_dsc
while read -r package version sha256; do
    [[ -z $package || $package == \#* ]] && continue
    pinned_version[$package]=$version
    pinned_dsc[$package]=$sha256
done <"$pins_file"

# Sets $source to the unpacked source of PACKAGE at its pinned version, with
# Debian's patches and then ours (packaging/windows/patches/PACKAGE-*.patch)
# applied. The .dsc must have the pinned SHA-256; dpkg-source checks the
# tarballs against it.
fetch_source() {
    local package=$1 version=${pinned_version[$1]:-} files newest dsc patches=() patch
    [[ -n $version ]] || { echo "$pins_file pins no version of $package" >&2; exit 1; }
    if [[ -n $local_sources ]]; then
        files=$local_sources
    else
        files=$cache/debian-sources/$package-${version//:/_}
        if ! download_source "$package" "$version" "$files"; then
            echo "The mirror does not serve $package $version, the version pinned in $pins_file;" \
                "scripts/update-source-pins.sh $package moves the pin to one it serves." >&2
            exit 1
        fi
        # sed reads to the end: head would leave source_versions a closed pipe.
        newest=$(source_versions "$package" | sed -n 1p)
        if dpkg --compare-versions "$newest" gt "$version"; then
            echo "The mirror lists $package $newest; building the pinned $version" \
                "(scripts/update-source-pins.sh $package moves the pin)."
        fi
    fi
    dsc=$files/$(dsc_name "$package" "$version")
    [[ -f $dsc ]] || { echo "$dsc is missing" >&2; exit 1; }
    if [[ $(sha256sum <"$dsc" | cut -d ' ' -f 1) != "${pinned_dsc[$package]}" ]]; then
        echo "$dsc does not have the SHA-256 pinned in $pins_file" >&2
        exit 1
    fi
    shopt -s nullglob
    patches=("$top/packaging/windows/patches/$package"-*.patch)
    shopt -u nullglob
    source=$cache/src/$package-${version//:/_}-$(cat "$dsc" "${patches[@]}" | sha256sum | cut -c 1-12)
    [[ -d $source ]] && return
    rm -rf "$source.part"
    logged "$cache/src/$package.log" dpkg-source --no-copy -x "$dsc" "$source.part"
    for patch in "${patches[@]}"; do
        patch -d "$source.part" -p1 -s <"$patch"
    done
    mv "$source.part" "$source"
}

# What each cached_build used: "NAME PACKAGE VERSION SOURCE" lines.
built=()
# Sets $prefix to the cached build of PACKAGE's pinned version, built with
# build_NAME SOURCE PREFIX unless cached already. The prefix counts as built
# only once its .complete stamp, written last, is there.
cached_build() {
    local package=$1 name=$2 version
    shift 2
    fetch_source "$package"
    version=${pinned_version[$package]}
    prefix=$cache/$name-${version//:/_}-$(key "$source" "$@")
    if [[ ! -f $prefix/.complete ]]; then
        step "Building $package $version into $prefix"
        rm -rf "$prefix" "$cache/build/$name"
        mkdir -p "$cache/build/$name"
        # Time stamps that the build writes are the source package's.
        (cd "$cache/build/$name" &&
            SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$source/debian/changelog" -STimestamp) \
                "build_$name" "$source" "$prefix")
        rm -rf "$cache/build/$name"
        touch "$prefix/.complete"
    fi
    built+=("$name $package $version $source")
}

# OpenSSL, static, for QSslSocket and the tool's own SHA-256 and Ed25519.
# Nothing in it may read a file or load a module at run time that another
# user could plant: no configuration autoloading (the tool also turns it
# off before Qt starts OpenSSL, since some of OpenSSL 3.0's calls load it
# regardless), no engines and no DSO to load providers with, and folders
# that only administrators may create (64-bit Windows' program folders,
# which 32-bit Windows has too; not "(x86)"). No source file names.
# Its Unix makefile takes C:/... for a relative path, so the folders are
# given relative to the prefix: OPENSSLDIR C:/Program Files/Common Files/SSL,
# ENGINESDIR and MODULESDIR in C:/Program Files/OpenSSL/lib.
# It accepts no more than Debian's build, which the tool uses on Linux: the
# same algorithms and protocols left out (debian/rules), and security level 2
# (debian-targets.patch) built in as the default, since no configuration is
# read that could raise it: no RSA or DH key under 2048 bits.
openssl_options=(mingw no-shared no-tests no-autoload-config no-engine no-dso no-filenames
                 no-idea no-mdc2 no-rc5 no-zlib no-ssl3 no-ssl3-method -DOPENSSL_TLS_SECURITY_LEVEL=2
                 "--cross-compile-prefix=$cross" "--prefix=C:/Program Files"
                 "--openssldir=Common Files/SSL" --libdir=OpenSSL/lib
                 -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables)
build_openssl() {
    # Debian's pic.patch makes the x86 assembler ELF-only (GOT-relative calls),
    # which COFF cannot represent; upstream's code is right for Windows.
    if patch -d "$1" -R -p1 -s -f --dry-run <"$1/debian/patches/pic.patch" >/dev/null; then
        patch -d "$1" -R -p1 -s -f <"$1/debian/patches/pic.patch"
    fi
    logged configure.log "$1/Configure" "${openssl_options[@]}"
    logged make.log make -j"$jobs" build_libs
    # The prefix above is only what the library names; headers and
    # libraries go into the cache.
    mkdir -p "$2/include/openssl" "$2/lib"
    cp "$1"/include/openssl/*.h include/openssl/*.h "$2/include/openssl/"
    cp libcrypto.a libssl.a "$2/lib/"
}
cached_build openssl openssl "${openssl_options[@]}" "without debian/patches/pic.patch"
openssl_prefix=$prefix

# Qt, static and release, qtbase only: Core, Gui, Widgets, Network, Test and
# the Windows platform plugin. Without ICU, Qt's own codecs provide GBK.
qt_options=(
    -xplatform win32-g++ -device-option "CROSS_COMPILE=$cross"
    # Source file names relative to the cache, and unwind tables only where
    # exceptions need them. GCC 12's mod/ref analysis takes QByteArray's
    # raw-data offsets for proof that a buffer is never read, and drops the
    # stores into it (QByteArray::replace(char, ...) then replaces nothing).
    -device-option "QMAKE_CFLAGS=-ffile-prefix-map=$cache/= -fno-asynchronous-unwind-tables -fno-ipa-modref"
    -static -release -opensource -confirm-license -nomake examples -nomake tests
    # Qt's prefix is the program's own folder: nothing is looked up in the
    # folder it was built in, which would be a folder on drive C: there.
    -feature-relocatable
    # Smaller: optimised for size, unused sections dropped at link time.
    -optimize-size -gc-binaries
    -openssl-linked -feature-textcodec -feature-big_codecs
    # Debian's source lacks the tablet header that the Windows plugin includes.
    -no-feature-tabletevent
    -no-icu -no-opengl -no-direct2d -no-vulkan -no-dbus
    -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printer
    -no-feature-bearermanagement -no-feature-tuiotouch -no-gif -no-ico
    # Widgets, formats and protocols that the tool never uses.
    -no-feature-graphicsview -no-feature-mdiarea -no-feature-calendarwidget -no-feature-dockwidget
    -no-feature-wizard -no-feature-undocommand -no-feature-lcdnumber -no-feature-dial
    -no-feature-splashscreen -no-feature-keysequenceedit -no-feature-fontcombobox
    -no-feature-columnview -no-feature-textodfwriter -no-feature-textmarkdownreader
    -no-feature-textmarkdownwriter -no-feature-movie -no-feature-networkdiskcache -no-feature-ftp
    -no-feature-dnslookup -no-feature-dtls
    -qt-zlib -qt-pcre -qt-libpng -no-libjpeg -qt-harfbuzz -qt-freetype
    "OPENSSL_PREFIX=$openssl_prefix"
    "OPENSSL_LIBS=-lssl -lcrypto -lws2_32 -lgdi32 -lcrypt32 -luser32 -ladvapi32"
)
build_qt() {
    logged configure.log "$1/configure" -prefix "$2" "${qt_options[@]}"
    step "Configured Qt; compiling"
    logged make.log make -j"$jobs"
    logged install.log make install
}
cached_build qtbase-opensource-src qt "${qt_options[@]}"
qt_prefix=$prefix

# dfu-util for Windows, which the tool runs as bin\x64\dfu-util-static.exe:
# a static libusb (its Windows back end loads WinUSB and SetupAPI itself) and
# dfu-util linked against it, C runtime and all, needing only Windows' DLLs.
# The programs hold no path of the cache (libusb's asserts name their files).
no_paths="CFLAGS=-O2 -ffile-prefix-map=$cache/="
libusb_options=(--host=i686-w64-mingw32 --enable-static --disable-shared
                --disable-examples-build --disable-tests-build "$no_paths")
build_libusb() {
    logged configure.log "$1/configure" "${libusb_options[@]}" "--prefix=$2"
    logged make.log make -j"$jobs"
    logged install.log make install
}
cached_build libusb-1.0 libusb "${libusb_options[@]}"
libusb_prefix=$prefix

# It carries the application manifest that the tool carries, linked in as a
# resource object made before configure, whose test links take it too.
manifest=$top/packaging/windows/application.manifest
dfu_util_options=(--host=i686-w64-mingw32 "$no_paths" "USB_CFLAGS=-I$libusb_prefix/include/libusb-1.0"
                  "USB_LIBS=-L$libusb_prefix/lib -lusb-1.0"
                  "LDFLAGS=-static -s -Wl,--no-insert-timestamp $cache/build/dfu_util/manifest.o")
build_dfu_util() {
    printf '1 24 "%s"\n' "$manifest" | "${cross}windres" -O coff -o manifest.o
    logged configure.log "$1/configure" "${dfu_util_options[@]}" "--prefix=$2"
    logged make.log make -j"$jobs" -C src dfu-util.exe
    install -D -m 755 src/dfu-util.exe "$2/bin/dfu-util.exe"
}
cached_build dfu-util dfu_util "${dfu_util_options[@]}" "manifest $(sha256sum <"$manifest")"
dfu_util=$prefix/bin/dfu-util.exe
scripts/check-windows-exe.sh --console "$dfu_util" >/dev/null

step "Building the tool"
# scripts/test.sh --windows builds its test binaries in a tree of their own.
build=${NV38K_WINDOWS_BUILD:-build/windows}
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
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake" \
    -DNV38K_WINDOWS_PREFIX="$qt_prefix;$openssl_prefix" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# What the programs were built from and how, for the sources archive
# (packaging/windows/make-sources.sh), and the notices that ship beside them.
printf '%s\n' "${built[@]}" >"$build/windows-sources.txt"
configure_line() {
    local name=$1 line
    shift
    line=$(printf ' %q' "$@")
    echo "$name:${line//"$cache"/\$CACHE}"
}
{
    configure_line openssl Configure "${openssl_options[@]}"
    configure_line qt configure -prefix "$qt_prefix" "${qt_options[@]}"
    configure_line libusb configure "${libusb_options[@]}" --prefix="$libusb_prefix"
    configure_line dfu_util configure "${dfu_util_options[@]}"
    configure_line tool cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
        -DNV38K_WINDOWS_PREFIX="$qt_prefix;$openssl_prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
} >"$build/windows-configure.txt"
# The toolchain's packages: another version compiles other bytes.
dpkg-query -W -f='${Package} ${Version}\n' "${windows_build_packages[@]}" mingw-w64-i686-dev \
    gcc-mingw-w64-base gcc-mingw-w64-i686-posix-runtime | sort -u >"$build/windows-toolchain.txt"
python3 packaging/windows/notices.py "$build/windows-sources.txt" "$build/licenses"
step "Built $build/nv38k-upgrade-tool.exe and $build/bin/x64/dfu-util-static.exe"
