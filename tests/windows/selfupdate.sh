#!/usr/bin/env bash
# A security fix reaches an owner on Windows, under Wine: the tool, built for
# a firmware server on this machine (nginx, a root and a firmware signing key
# made here) and signed with a throwaway code-signing certificate, is
# installed with its installer. The server then serves a release identical
# but for a higher version, built over the same tree so that only what the
# version changes is compiled again, with its signed statement. The owner
# clicks "获取固件信息", then "立即更新" in the warning: the installed
# program is then the new version, and the firmware downloaded earlier is
# untouched. A served installer whose SHA-256 differs from the statement's
# runs nothing and the box says why; one signed by the vendor's renewed
# certificate installs as well. The next check removes the download; a copy
# outside the installed folder offers no "立即更新". While a second copy of
# 1.5 runs, the installer's box names it, and "取消", or a silent install,
# leaves 1.5 installed.
# The installer's silent switch comes through a test build's
# NV38K_TEST_INSTALLER_ARGUMENTS; an owner clicks through the installer.
# One line per row; stops at the first that fails. scripts/test.sh --windows
# runs it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
source scripts/start-nginx.sh
suite=windows-update
work=$top/build/windows-update
mkdir -p "$work"
rm -f "$work"/*.log
source tests/packages/rows.sh
source tests/packages/certificates.sh
program=nv38k-upgrade-tool.exe
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\NV38KUpgradeTool'

export WINEPREFIX=$work/wine WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
xvfb_pid=
cleanup() {
    stop_nginx
    wineserver -k 2>/dev/null || true
    [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The tool's build tree, its server's port and keys, and nv38k-publish are
# tests/windows/hardening.sh's, which runs first: only what the test hook
# and the version change is built again.
shared=$top/build/windows-hardening
mkdir -p "$shared"
port=$(pick_port "$shared/port")
pki=$shared/pki
[[ -f $pki/weakkey.pem ]] || scripts/make-certs.sh "$pki" localhost >/dev/null
build=$shared/build
linux=$shared/linux
www=$work/www/NV38Firmware/N3KFirmware
packages=$work/packages

# A code-signing certificate, as the vendor's, and its renewal: another key
# and certificate for the same publisher.
certificates() {
    local name
    test_root "$work/signing" root 2 "NV38K test code-signing root" || return 1
    for name in vendor renewed; do
        test_certificate "$work/signing" root "$name" 2 codeSigning "NV38K test vendor" &&
            openssl pkcs12 -export -inkey "$work/signing/$name.key" -in "$work/signing/$name.pem" \
                -passout pass:test -out "$work/signing/$name.p12" || return 1
    done
}
row "a code-signing certificate, and its renewal, from a throwaway root" certificates

# The installer of the tree's tool, signed with certificate $1, into folder $2.
package() {
    NV38K_SIGN_PKCS12=$work/signing/$1.p12 NV38K_SIGN_PASSWORD=test \
        packaging/windows/make-packages.sh "$build" "$2" >>"$work/build.log" 2>&1
}
build_version() {
    NV38K_WINDOWS_BUILD=$build scripts/build-windows.sh -DNV38K_FIRMWARE_HOST="localhost:$port" \
        -DNV38K_TRUSTED_CA="$pki/ca.pem" -DNV38K_FIRMWARE_SIGNING_KEY="$pki/signing.pub" \
        -DNV38K_TOOL_RELEASE_KEY="$pki/tool-release.pub" -DNV38K_TEST_HOOKS=ON -DNV38K_VERSION="$1" >>"$work/build.log" 2>&1
}
build() {
    rm -rf "$packages" "$work/www" && : >"$work/build.log"
    build_version 1.5 && package vendor "$packages/1.5" &&
        build_version 1.6 && package vendor "$packages/1.6" && package renewed "$packages/renewed" &&
        cmake --preset release -B "$linux" >>"$work/build.log" &&
        cmake --build "$linux" --target nv38k-publish --parallel "$(nproc)" >>"$work/build.log" &&
        demo/make-sample-firmware.sh "$work/www" "$linux/publish/nv38k-publish" \
            "$pki/signing.key" >"$work/served" 2>>"$work/build.log"
}
started=$SECONDS
row "build: 1.5 for localhost:$port and its installer, then 1.6 over the same tree, signed" build
echo "      $suite  (the builds took $((SECONDS - started)) s)"

# Serves the installer of folder $1 and a statement of it, signed by the
# tool release key: a security fix, or with $2 "routine" a routine release
# with an advisory address.
announce() {
    local kind=(--security --advisory "修复了 OpenSSL 的安全漏洞，请尽快更新。")
    [[ ${2:-} != routine ]] ||
        kind=(--advisory "新版本改进了固件下载的速度。" --advisory-url https://nv38k.example/releases/1.6)
    rm -f "$www"/nv38k-upgrade-tool-*-setup.exe &&
        "$linux/publish/nv38k-publish" tool-release --version 1.6 "${kind[@]}" \
            --installer "$packages/$1/nv38k-upgrade-tool-1.6-setup.exe" \
            --signing-key "$pki/tool-release.key" --out "$www" >>"$work/publish.log" 2>&1
}

start_display

# A fresh prefix with 1.5 installed by its installer, and firmware downloaded before.
installed() {
    fresh_prefix &&
        wine "$(winepath -w "$packages/1.5/nv38k-upgrade-tool-1.5-setup.exe")" /S &&
        wineserver --wait && [[ $(version) == 1.5 ]] &&
        mkdir -p "$folder_unix/tmp" && cp "$(cat "$work/served")" "$folder_unix/tmp/Data.nv"
}
# The Uninstall entry's DisplayVersion.
version() {
    wine reg query "$key" /v DisplayVersion 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *DisplayVersion *REG_SZ *//p'
}

# With NV38K_SCREENSHOTS set to a folder, the screen as the owner sees it, as $1.png there.
screenshot() {
    [[ -z ${NV38K_SCREENSHOTS:-} ]] || { sleep 1 && import -window root "$NV38K_SCREENSHOTS/$1.png"; }
}

tool_pid=
# Starts the tool of version $2 (default 1.5) in the Windows folder $1
# (default the installed one) as its shortcut does, and clicks "获取固件信息".
start_tool() {
    local at=${1:-$folder} main
    (cd "$(winepath -u "$at")" && NV38K_TEST_INSTALLER_ARGUMENTS=${installer_arguments-/S} exec wine "$at\\$program") \
        >"$work/tool.log" 2>&1 &
    tool_pid=$!
    main=$(window "NV38K升级工具V${2:-1.5}") && [[ -n $main ]] &&
        fetch_information "$main" "$work/nginx/access.log" 20
}
# Presses the default button of the box $2 (default the warning) that came,
# screenshot as $1: "立即更新" where the tool installs updates, else
# "稍后提醒", or "跳过此版本" for a routine release.
press_default() {
    local box
    box=$(window "${2:-安全更新}") && [[ -n $box ]] && screenshot "${1:-update-box}" &&
        press_return "$box"
}
update() { start_tool && press_default; }
stop_tool() {
    wine taskkill /im "$program" >/dev/null 2>&1
    wait "$tool_pid" || true
}
# Waits up to a minute (scaled) for $1 to hold.
eventually() {
    for _ in $(tries 600); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
gone() { ! kill -0 "$tool_pid" 2>/dev/null; }
is_version() { [[ $(version) == "$1" ]]; }
firmware_untouched() { cmp "$folder_unix/tmp/Data.nv" "$(cat "$work/served")"; }
# Nothing of a refused download is left in the user's temporary folder.
nothing_left() {
    local temp
    temp=$(winepath -u "$(wine cmd /c 'echo %TEMP%' | tr -d '\r')") &&
        ! ls -d "$temp"/nv38k-update-* 2>/dev/null
}

serve() {
    stop_nginx
    start_nginx "$port" "$work/www" "$pki/server.pem" "$pki/server.key" "$work/nginx" 2>>"$work/nginx.log"
}
row "serve: the firmware, and 1.6 announced as a security fix" eval 'announce 1.6 && serve'
row "install 1.5 with its installer, with firmware downloaded before" installed

updated() {
    update && eventually gone && eventually is_version 1.6 && wineserver --wait &&
        is_version 1.6 && firmware_untouched && grep -q '^InstallerStarted' "$work/tool.log"
}
row "获取固件信息, 立即更新: the installed tool is 1.6, tmp/Data.nv untouched" updated

# The installer ran from its download folder, which the next check removes.
next_check_cleans() {
    local checked=0
    ! nothing_left >/dev/null && start_tool "$folder" 1.6 &&
        eventually grep -q 'ToolRelease: 1.6, not newer than 1.6' "$work/tool.log" || checked=1
    stop_tool
    [[ $checked -eq 0 ]] && nothing_left
}
row "1.6's next 获取固件信息 removes the folder 1.5 downloaded the installer into" next_check_cleans

# The box "更新失败" came, saying $1, and 1.5 stayed as it was.
refused() {
    local box said=0
    box=$(window 更新失败) && [[ -n $box ]] && grep -q "^InstallerRefused $1" "$work/tool.log" &&
        screenshot "refused-${1%%[ :]*}" &&
        press_return "$box" || said=1
    stop_tool
    [[ $said -eq 0 ]] && is_version 1.5 && firmware_untouched && nothing_left
}
changed_installer() {
    announce 1.6 && flip_byte "$www/nv38k-upgrade-tool-1.6-setup.exe" && installed && update &&
        refused "SHA-256 differs"
}
row "an installer whose SHA-256 differs from the statement's: nothing runs, the box says so" \
    changed_installer
# The statement vouches for the installer's bytes, whoever's certificate
# signed them: a renewal is a signed statement like any release.
row "an installer signed by the renewed certificate: the installed tool is 1.6" \
    eval 'announce renewed && installed && updated'

# A copy outside the installed folder, as the portable zip's, only tells:
# the default button of a routine release's box skips it, and nothing is
# installed.
skipped() {
    wine reg query 'HKCU\Software\NV38K\nv38k-upgrade-tool' /v ShownToolVersion 2>/dev/null |
        grep -q 'REG_SZ *1\.6'
}
portable() {
    local copy='C:\portable' told=0
    announce 1.6 routine && installed && cp -r "$folder_unix" "$(winepath -u "$copy")" &&
        start_tool "$copy" && press_default portable-box 工具更新 && eventually skipped || told=1
    stop_tool
    [[ $told -eq 0 ]] && is_version 1.5 && ! grep -q '^InstallerStarted' "$work/tool.log"
}
row "a copy outside the installed folder: 立即更新 is not offered, 跳过此版本 is the default" portable

# A second copy of 1.5 runs, as the owner may have started it: the installer
# must not report 1.6 installed over a program it could not replace.
# Starts it, and waits until $1 windows of 1.5 are there.
second_pid=
start_second() {
    (cd "$folder_unix" && exec wine "$folder\\$program") >"$work/second.log" 2>&1 &
    second_pid=$!
    eventually windows_of_1_5 "$1"
}
windows_of_1_5() { [[ $(xdotool search --onlyvisible --name '^NV38K升级工具V1\.5$' | wc -l) -ge $1 ]]; }
stop_both() {
    stop_tool
    wait "$second_pid" || true
}
# The texts Wine traced the installer's windows with (+win), in Chinese again:
# Wine writes \XXXX for a character beyond ASCII and \\ for a backslash.
window_texts() {
    sed -n 's/.*:set_window_text L"\(.*\)"$/\1/p' "$1" |
        python3 -c 'import re, sys; print(re.sub(r"\\(\\|[0-9a-f]{4})", lambda m: "\\" if m[1] == "\\" else chr(int(m[1], 16)), sys.stdin.read()))'
}
# With windows of two programs, a box that another's window came after is
# not the active one until a click beside its icon.
activate() { xdotool mousemove --window "$1" 30 60 click 1; }
installer_ended() { ! pgrep -f 'nv38k-upgrade-tool-1\.6-setup\.exe' >/dev/null; }
# 立即更新 in one copy while the other runs: the installer's box names the
# running program; 取消 (Esc) ends it with nothing changed.
running_copy() {
    local box warning said=0 before
    announce 1.6 && installed && before=$(sha256sum <"$folder_unix/$program") || return 1
    # Wine's dialog fonts have no Chinese: the box's text in a face with it.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /d 'WenQuanYi Micro Hei' /f >/dev/null &&
        installer_arguments='' WINEDEBUG=+win start_tool && start_second 2 && warning=$(window 安全更新) &&
        activate "$warning" && press_default &&
        box=$(timeout "$(seconds 120)" xdotool search --sync --onlyvisible --name '^NV38K升级工具 1\.6 安装$' | head -n 1) &&
        [[ -n $box ]] && screenshot installer-running-box && activate "$box" && press_return "$box" Escape &&
        eventually gone && eventually installer_ended || said=1
    cp "$work/tool.log" "$work/running-copy-wine.txt"
    stop_both
    [[ $said -eq 0 ]] && is_version 1.5 && [[ $(sha256sum <"$folder_unix/$program") == "$before" ]] &&
        firmware_untouched && window_texts "$work/running-copy-wine.txt" |
        grep -F "NV38K升级工具仍在运行：$folder\\$program。请关闭它，然后点击“重试”。" >/dev/null
}
row "立即更新 while a second copy runs: the box names it, 取消 leaves 1.5 installed" running_copy

# Silently, nobody is asked: the installer ends with exit code 2.
running_copy_silent() {
    local status=0
    installed && start_second 1 || return 1
    wine "$(winepath -w "$packages/1.6/nv38k-upgrade-tool-1.6-setup.exe")" /S || status=$?
    stop_both
    [[ $status -eq 2 ]] && is_version 1.5
}
row "/S while a copy runs: exit code 2, 1.5 stays installed" running_copy_silent
