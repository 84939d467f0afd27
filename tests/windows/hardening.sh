#!/usr/bin/env bash
# What another user of the PC could plant cannot reach into the tool. The
# tool is built as a release is, for a firmware server on this machine
# (nginx, with a root and a firmware signing key made here), put in its own
# folder in a fresh 32-bit Wine prefix, and used as a user would: the
# information, the device check with the bundled dfu-util, then with a
# keyboard listed, the download and its signature. Before that, these are
# planted where a user other than the tool's could create them:
#   - an openssl.cnf in OpenSSL's compiled-in OPENSSLDIR that loads a DLL as
#     a provider and would make every algorithm fetch fail;
#   - the server's root certificate nobody trusts, in each of the Unix
#     certificate folders that Qt hands OpenSSL elsewhere (on drive C:);
#   - a qtlogging.ini, a qt.conf and plugin DLLs under the Qt build's prefix,
#     on drive C:, and a qtlogging.ini in ProgramData\QtProject.
# Nothing may change: the use works, no planted DLL runs, no logging rule
# applies, a server whose root is planted is refused, and so is one whose key
# is too weak for security level 2. All of it runs under
# WINEDEBUG=+file,+loaddll, and every path that the tool's own process asks
# for must lie in its folder, the user's profile, Windows' folders or the
# program folders (tests/windows/trace_paths.py). One line per row; stops at
# the first that fails. scripts/test.sh --windows runs it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
source scripts/start-nginx.sh
suite=windows-hardening
work=$top/build/windows-hardening
mkdir -p "$work"
rm -f "$work"/*.log
source tests/packages/rows.sh
title=NV38K升级工具V1.5
program=nv38k-upgrade-tool.exe

export WINEPREFIX=$work/wine WINEDEBUG=-all
xvfb_pid=
cleanup() {
    stop_nginx
    wineserver -k 2>/dev/null || true
    [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

port=$(pick_port "$work/port")
pki=$work/pki
[[ -f $pki/weakkey.pem ]] || scripts/make-certs.sh "$pki" localhost >/dev/null
build=$work/build
linux=$work/linux

build() {
    # tests/windows/selfupdate.sh builds other versions in the same tree.
    NV38K_WINDOWS_BUILD=$build scripts/build-windows.sh -DNV38K_FIRMWARE_HOST="localhost:$port" \
        -DNV38K_TRUSTED_CA="$pki/ca.pem" -DNV38K_FIRMWARE_SIGNING_KEY="$pki/signing.pub" \
        -DNV38K_TOOL_RELEASE_KEY="$pki/tool-release.pub" \
        -DNV38K_VERSION=1.5 -DNV38K_TEST_HOOKS=OFF >"$work/build.log" 2>&1 &&
        cmake --preset release -B "$linux" >>"$work/build.log" &&
        cmake --build "$linux" --target nv38k-publish --parallel "$(nproc)" >>"$work/build.log" &&
        served=$(demo/make-sample-firmware.sh "$work/www" "$linux/publish/nv38k-publish" \
            "$pki/signing.key" 2>>"$work/build.log") &&
        i686-w64-mingw32-g++ -O2 -s -static -o "$work/dfu-util-stand-in.exe" testkit/fake_dfu_util.cpp &&
        i686-w64-mingw32-gcc -O2 -s -shared -o "$work/planted.dll" \
            -DPLANTED_MARK="\"Z:${work//\//\\\\}\\\\planted-dll-ran\"" tests/windows/planted_dll.c
}
row "build: the tool for localhost:$port, the test root and signing key; a signed release" build

# Wine's processes keep the display they start with.
start_display
# The tool in its own folder in the user's profile, as the installer puts it.
prefix() {
    fresh_prefix &&
        install -D -m 755 "$build/$program" "$folder_unix/$program" &&
        install -D -m 755 "$build/bin/x64/dfu-util-static.exe" "$folder_unix/bin/x64/dfu-util-static.exe"
}
row "prefix: the tool and dfu-util in %LOCALAPPDATA%\\Programs\\NV38K Upgrade Tool" prefix

# Drive C: as the tool sees it.
on_c() { echo "$WINEPREFIX/drive_c/$(sed 's|^[Cc]:[\\/]*||; s|\\|/|g' <<<"$1")"; }
plant() {
    local openssldir qt_prefix dir hash name
    rm -f "$work/planted-dll-ran"
    openssldir=$(strings -a "$build/$program" | sed -n 's/^OPENSSLDIR: "\(.*\)"$/\1/p')
    [[ -n $openssldir ]] || return 1
    mkdir -p "$(on_c "$openssldir")" "$WINEPREFIX/drive_c/planted"
    cp "$work/planted.dll" "$WINEPREFIX/drive_c/planted/provider.dll"
    cat >"$(on_c "$openssldir")/openssl.cnf" <<CNF
openssl_conf = planted
[planted]
providers = planted_providers
alg_section = planted_algorithms
[planted_providers]
planted = planted_provider
[planted_provider]
module = C:\\planted\\provider.dll
activate = 1
[planted_algorithms]
default_properties = fips=yes
CNF
    hash=$(openssl x509 -hash -noout -in "$pki/other-ca.pem")
    for dir in /etc/ssl/certs /usr/lib/ssl/certs /usr/share/ssl /usr/local/ssl /var/ssl/certs \
        /usr/local/ssl/certs /etc/openssl/certs /opt/openssl/certs /etc/ssl; do
        mkdir -p "$WINEPREFIX/drive_c$dir"
        cp "$pki/other-ca.pem" "$WINEPREFIX/drive_c$dir/$hash.0"
    done
    # The Qt that the tool was linked with, at its build folder's path on drive C:.
    qt_prefix=$(sed -n 's/^NV38K_WINDOWS_PREFIX:[A-Z]*=\([^;]*\);.*/\1/p' "$build/CMakeCache.txt")
    [[ -n $qt_prefix ]] || return 1
    for dir in "$WINEPREFIX/drive_c$qt_prefix" "$WINEPREFIX/drive_c/ProgramData/QtProject"; do
        mkdir -p "$dir"
        printf '[Rules]\n*.debug=true\nqt.*=true\n' >"$dir/qtlogging.ini"
    done
    printf '[Paths]\nPrefix=C:/planted\n' >"$WINEPREFIX/drive_c$qt_prefix/qt.conf"
    for name in platforms/qwindows styles/qwindowsvistastyle imageformats/qplanted \
        bearer/qgenericbearer tls/qplanted; do
        install -D "$work/planted.dll" "$WINEPREFIX/drive_c$qt_prefix/plugins/$name.dll"
    done
    echo "$openssldir" >"$work/openssldir"
    echo "$qt_prefix" >"$work/qt-prefix"
}
row "plant: openssl.cnf loading a DLL, the untrusted root in Qt's Unix certificate folders, qtlogging.ini, qt.conf and plugins under the Qt prefix" plant

serve() { # certificate
    stop_nginx
    start_nginx "$port" "$work/www" "$pki/$1.pem" "$pki/$1.key" "$work/nginx" 2>>"$work/nginx.log"
}

# Starts the tool in its folder, traced, and waits for its window.
tool_pid=
start_tool() { # trace-file
    (cd "$folder_unix" && WINEDEBUG=+pid,+file,+loaddll exec wine "$folder\\$program") \
        >"$work/tool.out" 2>"$1" &
    tool_pid=$!
    tool_window=$(window "$title") && [[ -n $tool_window ]]
}
# The window's two buttons along its bottom edge, 1 or 2, and its
# information fetched, as tests/packages/rows.sh has them.
press() { click "$tool_window" "$1" 20; }
fetched() { fetch_information "$tool_window" "$work/nginx/access.log" 20; }
# Waits for a message box titled $1, then presses its default button.
answer() {
    local box
    box=$(window "$1") && [[ -n $box ]] || return 1
    press_return "$box"
    for _ in $(tries 50); do
        xdotool search --onlyvisible --name "^$1\$" >/dev/null || return 0
        sleep 0.1
    done
    return 1
}
stop_tool() {
    wine taskkill /im "$program" >/dev/null 2>&1
    wait "$tool_pid"
}
requested() { [[ $(served "$work/nginx/access.log" "$1") -gt 0 ]]; }

information_and_no_device() {
    serve server && start_tool "$work/trace-1.log" && fetched && press 2 && answer 未检测到设备 && stop_tool
}
row "whole use, traced: the information, then no keyboard listed by the bundled dfu-util" information_and_no_device

download() {
    local firmware
    firmware=$(basename "$served")
    # Wine cannot emulate the keyboard: a stand-in prints what dfu-util 0.11
    # lists for it, and the tool hands it its environment.
    printf '%s\n' "dfu-util 0.11" "" "Found DFU: [0483:df13] ver=0200, devnum=7, cfg=1, intf=0, path=\"1-2\", alt=0, name=\"@NV38K Flash   /0x00000000/15*001Ka,155*001Kg\", serial=\"NV38K CUSTOMED KEYBOARD\"" \
        >"$work/listing.txt"
    cp "$work/dfu-util-stand-in.exe" "$folder_unix/bin/x64/dfu-util-static.exe" &&
        FAKE_DFU_LISTING=$(winepath -w "$work/listing.txt") start_tool "$work/trace-2.log" &&
        fetched && press 2 && answer 成功 && stop_tool &&
        requested "$firmware" && requested "$firmware.sig" &&
        cmp "$folder_unix/tmp/Data.nv" "$served"
}
row "whole use, traced: a keyboard listed, the signed firmware downloaded, verified and stored" download

# The information asked with trace number $1: the tool says it was refused.
refused() { start_tool "$work/trace-$1.log" && press 1 && answer error && stop_tool; }
row "refused: a server whose root lies in the Unix certificate folders on drive C:" \
    eval 'serve untrusted && refused 3'

# nginx's own OpenSSL is Debian's, at security level 2 like the tool's: for
# this row it starts at level 0 so that it serves the weak key at all.
weak_key() {
    printf '%s\n' 'openssl_conf = init' '[init]' 'ssl_conf = ssl' '[ssl]' 'system_default = any' \
        '[any]' 'CipherString = DEFAULT:@SECLEVEL=0' >"$work/any-key.cnf"
    OPENSSL_CONF=$work/any-key.cnf serve weakkey && refused 4
}
row "refused: a server whose certificate, from the build's root, holds a 1024-bit RSA key" weak_key

unchanged() {
    # Qt's own categories (qt.*) log only if a planted rule turned them on.
    [[ ! -e $work/planted-dll-ran ]] &&
        ! grep -qE '^qt\.[A-Za-z0-9_.]+: ' "$work"/trace-*.log &&
        ! grep -h 'trace:loaddll' "$work"/trace-*.log | grep -qi planted
}
row "unchanged: no planted DLL loaded, no planted logging rule applied" unchanged

traced() {
    local trace
    for trace in "$work"/trace-*.log; do
        # Wine's gdi32 takes the fonts of the system it runs on for Windows'
        # own, from its drive Z:.
        python3 tests/windows/trace_paths.py "$trace" "$program" "$folder" "$folder" "$profile" \
            'C:\windows' 'C:\Program Files' 'C:\Program Files (x86)' 'Z:\usr\share\fonts' \
            >"$work/paths.log" || return 1
    done
    tail -n 1 "$work/paths.log" | sed 's/^/      /'
}
row "traced: every path the tool asked for lies in its folder, the profile, Windows' or the program folders" traced
