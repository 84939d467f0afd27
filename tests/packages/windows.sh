#!/usr/bin/env bash
# Installs the Windows package as a user would, in a fresh 32-bit Wine prefix
# (build/wine-packages) on a virtual display: silent install, the installed
# files, the Start-menu shortcut, the Uninstall registry entry, the tool
# started from the shortcut's working directory, the tool's settings (the
# update check's opt-out), silent uninstall through the registry's
# QuietUninstallString. The installer is a signed one: its
# signatures are checked against the test root ROOT_PEM, and its programs
# against those of UNSIGNED_DIR, where scripts/package.sh put the same
# packages made without a certificate. Prints one line per row; stops at the
# first that fails. Needs wine, xvfb, xdotool, osslsigncode and python3.
# Usage: tests/packages/windows.sh SETUP_EXE ROOT_PEM UNSIGNED_DIR
set -euo pipefail
setup=$(realpath "${1:?usage: $0 SETUP_EXE ROOT_PEM UNSIGNED_DIR}")
# The installer's name carries the version that the registry must show.
version=$(basename "$setup" | sed -n 's/^nv38k-upgrade-tool-\(.*\)-setup\.exe$/\1/p')
root=$(realpath "$2")
unsigned=$(realpath "$3")
top=$(cd "$(dirname "$0")/../.." && pwd)
title=NV38K升级工具V1.5
program=nv38k-upgrade-tool.exe
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\NV38KUpgradeTool'
settings='HKCU\Software\NV38K\nv38k-upgrade-tool'
support_until=$(cat "$unsigned/trees/windows/nv38k-support-until.txt")
suite=windows
source "$top/tests/packages/rows.sh"

export WINEPREFIX=$top/build/wine-packages WINEDEBUG=-all
# The prefix's shortcuts make no menu entries on this machine.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
work=$(mktemp -d)
xvfb_pid=
# The prefix stays for a look when a row failed.
cleanup() {
    local status=$?
    wineserver -k 2>/dev/null || true
    [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
    [[ $status -ne 0 ]] || rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The target and working directory of a Shell Link (.lnk, [MS-SHLLINK]).
shortcut() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
flags = struct.unpack_from('<I', data, 0x14)[0]
pos = struct.unpack_from('<I', data, 0)[0]
if flags & 0x1:  # HasLinkTargetIDList
    pos += 2 + struct.unpack_from('<H', data, pos)[0]
target = ''
if flags & 0x2:  # HasLinkInfo: LocalBasePath and CommonPathSuffix, Unicode if given
    size, header, info_flags, _, base, _, suffix = struct.unpack_from('<7I', data, pos)
    def text(at, wide):
        end = data.index(b'\0\0' if wide else b'\0', pos + at)
        end += (end - pos - at) % 2 if wide else 0
        return data[pos + at:end].decode('utf-16-le' if wide else 'latin-1')
    if info_flags & 1:
        if header >= 0x24:
            base, suffix = struct.unpack_from('<2I', data, pos + 0x1C)
        target = text(base, header >= 0x24) + text(suffix, header >= 0x24)
    pos += size
strings = []  # name, relative path, working directory, arguments, icon
for bit in (0x4, 0x8, 0x10, 0x20, 0x40):
    count = struct.unpack_from('<H', data, pos)[0] if flags & bit else 0
    width = 2 if flags & 0x80 else 1
    raw = data[pos + 2:pos + 2 + count * width]
    strings.append(raw.decode('utf-16-le' if width == 2 else 'latin-1').rstrip('\0'))
    pos += 2 + count * width if flags & bit else 0
print(target)
print(strings[2])
PY
}

# A string value of the Uninstall key. reg export writes UTF-16 and keeps the Chinese
# name that reg query would print as "?" through the console's code page.
value() {
    sed -n "s/^\"$1\"=\"\(.*\)\"$/\1/p" "$work/key.txt" | sed 's/\\\(.\)/\1/g'
}

start_display

install() {
    fresh_prefix && wine "$setup" /S >"$work/setup.log" 2>&1 &&
        link=$(winepath -u "$app_data\\Microsoft\\Windows\\Start Menu\\Programs")/NV38K升级工具.lnk &&
        [[ -d $folder_unix ]]
}

# Besides the licences, just the tool, dfu-util where the tool runs it, and
# the uninstaller; the installed dfu-util runs and prints its banner.
files() {
    [[ $(cd "$folder_unix" && find . -type f ! -path './licenses/*' | sort | tr '\n' ' ') == \
        "./bin/x64/dfu-util-static.exe ./$program ./uninstall.exe " ]] &&
        (cd "$folder_unix" && wine bin/x64/dfu-util-static.exe -l) >"$work/dfu-util.log" 2>&1 &&
        head -n 1 "$work/dfu-util.log" | grep -q '^dfu-util 0\.11'
}

# The tool's licence, and notices that name each package that went into the
# programs and the installer at the version used, each text they cite there.
licenses() {
    local notices=$folder_unix/licenses/THIRD-PARTY-NOTICES.txt package version text
    cmp -s "$folder_unix/licenses/LICENSE.txt" "$top/LICENSE" || return 1
    while read -r _ package version _; do
        grep -qF "(Debian source package $package $version)" "$notices" || return 1
    done <"$unsigned/trees/windows/windows-sources.txt"
    for package in mingw-w64-i686-dev gcc-mingw-w64-i686-posix-runtime nsis-common; do
        version=$(dpkg-query -W -f='${Version}' "$package")
        grep -qF "(Debian package $package $version)" "$notices" || return 1
    done
    # Our modifications of a package's source are named, with their patch.
    for text in "$top"/packaging/windows/patches/*.patch; do
        grep -qF "packaging/windows/patches/$(basename "$text") in" "$notices" || return 1
    done
    while read -r text; do
        [[ -s $folder_unix/licenses/$text ]] || return 1
    done < <(tr -d '\r' <"$notices" | sed -n 's/^ *Texts\{0,1\}: //p' | sed 's/, /\n/g')
}

# Authenticode signatures that chain to the test root.
verify() { osslsigncode verify -CAfile "$root" -in "$1" >"$work/verify.log" 2>&1; }
signed() {
    local file
    for file in "$setup" "$folder_unix/$program" "$folder_unix/bin/x64/dfu-util-static.exe" "$folder_unix/uninstall.exe"; do
        verify "$file" || return 1
    done
    cp "$folder_unix/$program" "$work/changed.exe" && flip_byte "$work/changed.exe" && ! verify "$work/changed.exe"
}

# What anyone can check a release with: a signed program less its signature
# is the unsigned build's, byte for byte.
unsigned() {
    local file
    same_unsigned "$folder_unix" "$unsigned/trees/windows" "$program" bin/x64/dfu-util-static.exe || return 1
    # Packages made without a certificate hold no signature.
    python3 -m zipfile -e "$unsigned"/*-windows.zip "$work/zip"
    for file in "$unsigned"/*-setup.exe "$work"/zip/*/"$program" "$work"/zip/*/bin/x64/dfu-util-static.exe; do
        [[ -f $file ]] && ! verify "$file" && grep -q 'No signature found' "$work/verify.log" || return 1
    done
}

start_menu_shortcut() {
    [[ -f $link ]] && shortcut "$link" >"$work/shortcut.txt" &&
        [[ $(sed -n 1p "$work/shortcut.txt") == "$folder\\$program" ]] &&
        [[ $(sed -n 2p "$work/shortcut.txt") == "$folder" ]]
}

registry() {
    wine reg export "$key" "$work/key.reg" /y >/dev/null 2>&1 &&
        iconv -f UTF-16 -t UTF-8 "$work/key.reg" | tr -d '\r' >"$work/key.txt" &&
        [[ $(value DisplayName) == NV38K升级工具 ]] &&
        [[ -n $version && $(value DisplayVersion) == "$version" ]] &&
        [[ $(value Publisher) == NV38K ]] &&
        [[ $(value Comments) == "安全更新提供至 $support_until。" ]] &&
        [[ $(value DisplayIcon) == "$folder\\$program,0" ]] &&
        [[ $(value InstallLocation) == "$folder" ]] &&
        [[ $(value UninstallString) == "\"$folder\\uninstall.exe\"" ]] &&
        [[ $(value QuietUninstallString) == "\"$folder\\uninstall.exe\" /S" ]]
}

# Started in the shortcut's working directory, the window shows; asked to
# close as Windows asks (WM_CLOSE), the tool ends with 0.
start() {
    local pid shown
    (cd "$(winepath -u "$(sed -n 2p "$work/shortcut.txt")")" &&
        exec wine "$(sed -n 1p "$work/shortcut.txt")") >"$work/tool.log" 2>&1 &
    pid=$!
    shown=$(window "$title") &&
        [[ -n $shown ]] &&
        wine taskkill /im "$program" >/dev/null 2>&1 &&
        wait "$pid"
}

# CheckToolUpdates as the tool reads it (0x0 or 0x1), nothing when absent.
update_check() {
    wine reg query "$settings" /v CheckToolUpdates 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *CheckToolUpdates *REG_DWORD *//p'
}
no_settings() { ! wine reg query "$settings" >/dev/null 2>&1; }

# Installed silently again, over the tool: a choice made before stays; none
# made stays unmade; /NOUPDATECHECK makes it "never check".
reinstall() { wine "$setup" /S "$@" >"$work/setup.log" 2>&1; }
settings() {
    wine reg add "$settings" /v CheckToolUpdates /t REG_DWORD /d 0 /f >/dev/null 2>&1 &&
        reinstall && [[ $(update_check) == 0x0 ]] &&
        wine reg delete "$settings" /f >/dev/null 2>&1 && reinstall && no_settings &&
        reinstall /NOUPDATECHECK && [[ $(update_check) == 0x0 ]]
}

# The firmware the tool downloaded (tmp\Data.nv, planted here as the tool
# leaves it) goes with it. NSIS's uninstaller copies itself to %TEMP% and
# runs from there; wineserver --wait sees that copy end too. The tool's
# settings go too (a value the tool writes is planted), and NV38K's key with
# them, which holds nothing else.
uninstall() {
    local quiet
    mkdir -p "$folder_unix/tmp" && echo firmware >"$folder_unix/tmp/Data.nv" &&
        wine reg add "$settings" /v PostponedVersion /d 1.6 /f >/dev/null 2>&1 &&
        quiet=$(value QuietUninstallString) &&
        [[ $quiet =~ ^\"(.*)\"\ (.*)$ ]] &&
        wine "${BASH_REMATCH[1]}" ${BASH_REMATCH[2]} >"$work/uninstall.log" 2>&1 &&
        wineserver --wait &&
        [[ ! -e $folder_unix && ! -e $link ]] &&
        ! wine reg query "$key" >/dev/null 2>&1 && ! wine reg query 'HKCU\Software\NV38K' >/dev/null 2>&1
}

row "install: $(basename "$setup") /S" install
row "no settings: a silent install makes no choice for the owner" no_settings
row "files: the tool, bin\\x64\\dfu-util-static.exe (runs: dfu-util 0.11), uninstall.exe" files
row "licenses: LICENSE.txt, notices naming each package built or embedded at its version, our modifications, their texts" licenses
row "signed: setup, tool, dfu-util and uninstall.exe verify against the test root; a changed byte does not" signed
row "unsigned: signed programs less their signatures equal the unsigned build's; unsigned packages have none" unsigned
row "shortcut: Start menu NV38K升级工具.lnk starts the tool in its install folder" start_menu_shortcut
row "registry: Uninstall entry NV38K升级工具 $version by NV38K, updates until $support_until, quiet uninstall /S" registry
row "start: the window \"$title\" shows and closes" start
row "settings: /S again keeps CheckToolUpdates=0 and makes none; /S /NOUPDATECHECK writes 0" settings
row "uninstall: /S removes files, firmware cache, shortcut, registry key and the tool's settings" uninstall
