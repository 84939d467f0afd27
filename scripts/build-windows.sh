#!/usr/bin/env bash
# Cross-builds build/windows/nv38k-upgrade-tool.exe for 32-bit Windows on
# Debian 12: one static executable that needs no DLL beyond Windows' own.
# OpenSSL and Qt are built from Debian's source packages once and cached
# outside the work tree; later runs rebuild only the tool. Arguments go to the
# tool's CMake configure step, e.g. -DNV38K_FIRMWARE_HOST=...; the build
# tree is build/windows unless NV38K_WINDOWS_BUILD names another.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
source scripts/packages.sh

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

# Wine's 32-bit half, used to start the result, is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
scripts/install-deps.sh "${windows_packages[@]}"

# Qt's test library needs std::mutex, which only the POSIX thread model has.
for tool in gcc g++; do
    posix=/usr/bin/i686-w64-mingw32-$tool-posix
    if [[ $(readlink -f "/usr/bin/i686-w64-mingw32-$tool") != "$(readlink -f "$posix")" ]]; then
        "${sudo[@]}" update-alternatives --quiet --set "i686-w64-mingw32-$tool" "$posix"
    fi
done

# Source packages: deb-src entries made from this machine's own deb entries.
apt_lists=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
apt_sources=(/etc/apt/sources.list.d/*.sources)
if ! grep -Eqs '^[[:space:]]*(deb-src[[:space:]]|Types:.*[[:space:]]deb-src([[:space:]]|$))' \
        "${apt_lists[@]}" "${apt_sources[@]}"; then
    step "Adding deb-src entries for apt-get source"
    sources=$(awk 'BEGIN { RS = "" }
        {
            n = split($0, line, "\n"); out = ""; deb = 0; off = 0
            for (i = 1; i <= n; i++) {
                if (line[i] ~ /^#/) continue
                if (line[i] ~ /^Types:/) {
                    if (line[i] ~ /[[:space:]]deb([[:space:]]|$)/) deb = 1
                    line[i] = "Types: deb-src"
                }
                if (tolower(line[i]) ~ /^enabled:[[:space:]]*no/) off = 1
                out = out line[i] "\n"
            }
            if (deb && !off) printf "%s\n", out
        }' "${apt_sources[@]}" 2>/dev/null || true)
    lists=$(sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "${apt_lists[@]}" 2>/dev/null || true)
    [[ -n $sources || -n $lists ]] || { echo "No deb entry in the apt sources to derive deb-src from" >&2; exit 1; }
    [[ -z $sources ]] || printf '%s\n' "$sources" | "${sudo[@]}" tee /etc/apt/sources.list.d/nv38k-deb-src.sources >/dev/null
    [[ -z $lists ]] || printf '%s\n' "$lists" | "${sudo[@]}" tee /etc/apt/sources.list.d/nv38k-deb-src.list >/dev/null
    "${sudo[@]}" apt-get update -qq
fi

# The versions of a source package that apt knows, newest first.
source_versions() {
    local versions=() version sorted=() i
    if ! apt-cache showsrc --only-source "$1" 2>/dev/null | grep -q '^Version:'; then
        "${sudo[@]}" apt-get update -qq
    fi
    mapfile -t versions < <(apt-cache showsrc --only-source "$1" | sed -n 's/^Version: //p' | sort -u)
    for version in "${versions[@]}"; do
        for ((i = 0; i < ${#sorted[@]}; i++)); do
            dpkg --compare-versions "$version" gt "${sorted[i]}" && break
        done
        sorted=("${sorted[@]:0:i}" "$version" "${sorted[@]:i}")
    done
    [[ ${#sorted[@]} -gt 0 ]] || { echo "apt knows no source package $1" >&2; exit 1; }
    printf '%s\n' "${sorted[@]}"
}

# Unpacks a source package, Debian's patches applied, unless already there.
# Fails when the mirror does not serve that version.
unpack_source() {
    local package=$1 version=$2 dir=$3
    [[ -d $dir ]] && return
    rm -rf "$dir.part"
    mkdir -p "$dir.part"
    if ! (cd "$dir.part" && apt-get source -qq "$package=$version" >source.log 2>&1); then
        rm -rf "$dir.part"
        return 1
    fi
    mv "$(find "$dir.part" -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$dir"
    rm -rf "$dir.part"
}

cross=i686-w64-mingw32-
compiler_id=$("${cross}g++" --version | head -n 1)$("${cross}g++" -v 2>&1 | grep -o 'Thread model: .*')
key() { printf '%s\n' "$compiler_id" "$@" | sha256sum | cut -c 1-12; }

cache=${XDG_CACHE_HOME:-$HOME/.cache}/nv38k-windows
mkdir -p "$cache/src" "$cache/build"
# One build at a time uses the cache.
exec 9>"$cache/.lock"
flock 9
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS QMAKESPEC QTDIR

# What each cached_build used: "NAME PACKAGE VERSION SOURCE" lines.
built=()
# Sets $prefix to the cached build of the newest version of a source package
# that is either cached already or served by the mirror and then built with
# build_NAME SOURCE PREFIX. The prefix counts as built only once its .complete
# stamp, written last, is there. A mirror can list a version it does not
# serve yet; then the next older one is used.
cached_build() {
    local package=$1 name=$2 version source
    shift 2
    while read -r version; do
        prefix=$cache/$name-${version//:/_}-$(key "$@")
        source=$cache/src/$package-${version//:/_}
        if [[ ! -f $prefix/.complete ]]; then
            if ! unpack_source "$package" "$version" "$source"; then
                echo "The mirror does not serve $package $version; trying an older version." >&2
                continue
            fi
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
        # The notices are read from the source, which must still be there.
        unpack_source "$package" "$version" "$source"
        built+=("$name $package $version $source")
        return
    done < <(source_versions "$package")
    echo "No version of $package could be fetched." >&2
    exit 1
}

# OpenSSL, static, for QSslSocket.
openssl_options=(mingw no-shared no-tests "--cross-compile-prefix=$cross" --libdir=lib)
build_openssl() {
    # Debian's pic.patch makes the x86 assembler ELF-only (GOT-relative calls),
    # which COFF cannot represent; upstream's code is right for Windows.
    if patch -d "$1" -R -p1 -s -f --dry-run <"$1/debian/patches/pic.patch" >/dev/null; then
        patch -d "$1" -R -p1 -s -f <"$1/debian/patches/pic.patch"
    fi
    logged configure.log "$1/Configure" "${openssl_options[@]}" "--prefix=$2"
    logged make.log make -j"$jobs" build_libs
    logged install.log make install_dev
}
cached_build openssl openssl "${openssl_options[@]}" "without debian/patches/pic.patch"
openssl_prefix=$prefix

# Qt, static and release, qtbase only: Core, Gui, Widgets, Network, Test and
# the Windows platform plugin. Without ICU, Qt's own codecs provide GBK.
qt_options=(
    -xplatform win32-g++ -device-option "CROSS_COMPILE=$cross"
    -static -release -opensource -confirm-license -nomake examples -nomake tests
    -openssl-linked -feature-textcodec -feature-big_codecs
    # Debian's source lacks the tablet header that the Windows plugin includes.
    -no-feature-tabletevent
    -no-icu -no-opengl -no-direct2d -no-vulkan -no-dbus
    -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printer
    -no-feature-bearermanagement -no-feature-tuiotouch -no-gif -no-ico
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

dfu_util_options=(--host=i686-w64-mingw32 "$no_paths" "USB_CFLAGS=-I$libusb_prefix/include/libusb-1.0"
                  "USB_LIBS=-L$libusb_prefix/lib -lusb-1.0" "LDFLAGS=-static -s -Wl,--no-insert-timestamp")
build_dfu_util() {
    logged configure.log "$1/configure" "${dfu_util_options[@]}" "--prefix=$2"
    logged make.log make -j"$jobs" -C src dfu-util.exe
    install -D -m 755 src/dfu-util.exe "$2/bin/dfu-util.exe"
}
cached_build dfu-util dfu_util "${dfu_util_options[@]}"
dfu_util=$prefix/bin/dfu-util.exe
scripts/check-windows-exe.sh --console "$dfu_util" >/dev/null

step "Building the tool"
# scripts/test.sh --windows builds its test binaries in a tree of their own.
build=${NV38K_WINDOWS_BUILD:-build/windows}
# dfu-util goes where the tool looks for it, so the build tree is a folder the
# tool runs from; the Windows tests run that copy.
install -D -m 755 "$dfu_util" "$build/bin/x64/dfu-util-static.exe"
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
    configure_line openssl Configure "${openssl_options[@]}" --prefix="$openssl_prefix"
    configure_line qt configure -prefix "$qt_prefix" "${qt_options[@]}"
    configure_line libusb configure "${libusb_options[@]}" --prefix="$libusb_prefix"
    configure_line dfu_util configure "${dfu_util_options[@]}"
    configure_line tool cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
        -DNV38K_WINDOWS_PREFIX="$qt_prefix;$openssl_prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
} >"$build/windows-configure.txt"
python3 packaging/windows/notices.py "$build/windows-sources.txt" "$build/licenses"
step "Built $build/nv38k-upgrade-tool.exe and $build/bin/x64/dfu-util-static.exe"
