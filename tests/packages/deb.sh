#!/usr/bin/env bash
# Installs the Debian package as a user would and uses it from its menu
# entry: as a user with a fresh home, on a virtual display, against the
# firmware server the package was built for (nginx serving the demo release,
# its access log at ACCESS_LOG), with Debian's dfu-util and no keyboard.
# Prints one line per row; stops at the first that fails.
# Usage: tests/packages/deb.sh DEB ACCESS_LOG   (as root, or with sudo)
set -euo pipefail
deb=$(realpath "$1")
access_log=$2
package=nv38k-upgrade-tool
title=NV38K升级工具V1.5
user=nv38k-tester
suite=deb
source "$(dirname "$0")/rows.sh"

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
work=$(mktemp -d)
# The tester reaches its home inside.
chmod 755 "$work"
home=$work/home
xvfb_pid=
cleanup() {
    [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true
    "${sudo[@]}" pkill -u "$user" 2>/dev/null || true
    "${sudo[@]}" userdel "$user" 2>/dev/null || true
    "${sudo[@]}" rm -rf "$work"
}
trap cleanup EXIT

# Another stage may be installing packages meanwhile: apt waits for it.
install() {
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq "$deb" >"$work/apt.log" 2>&1 &&
        dpkg-query -W -f='${Status}' "$package" | grep -qx 'install ok installed'
}

# The menu entry's command, run as a user who has never used the tool.
start_from_menu() {
    local exec
    exec=$(sed -n 's/^Exec=//p' "/usr/share/applications/$package.desktop" | sed 's/ %[A-Za-z]//g')
    "${sudo[@]}" useradd --no-create-home --home-dir "$home" --shell /usr/sbin/nologin "$user"
    mkdir -p "$home"
    "${sudo[@]}" chown "$user:" "$home"
    start_display
    # The tester runs the tool on it.
    chmod 644 "$XAUTHORITY"
    "${sudo[@]}" runuser -u "$user" -- env -i HOME="$home" DISPLAY="$DISPLAY" \
        XAUTHORITY="$XAUTHORITY" LANG=C.UTF-8 PATH=/usr/local/bin:/usr/bin:/bin \
        sh -c "exec $exec" >"$work/tool.log" 2>&1 &
    main=$(window "$title") && [[ -n $main ]]
}

# "获取固件信息" reads Version.txt, then asks once whether a newer tool
# exists (the packaged default; the release announces itself, so no box);
# "下载固件" then runs Debian's dfu-util, which finds no keyboard here.
use_against_server() {
    local asked
    asked=$(served "$access_log" ToolRelease.txt)
    fetch_information "$main" "$access_log" && click "$main" 2 &&
        [[ $(served "$access_log" ToolRelease.txt) -eq $((asked + 1)) ]] &&
        [[ -n $(window 未检测到设备) ]] &&
        [[ $(readlink "$home/.local/share/$package/bin/x64/dfu-util-static") == /usr/bin/dfu-util ]] &&
        [[ ! -e $home/.local/share/$package/tmp ]]
}

purge() {
    local files
    files=$(dpkg-query -L "$package" | while read -r f; do [[ -d $f ]] || echo "$f"; done)
    grep -qx /etc/xdg/NV38K/nv38k-upgrade-tool.conf <<<"$files" &&
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 purge -y -qq "$package" >>"$work/apt.log" 2>&1 &&
        ! ls -d $files 2>/dev/null
}

metainfo_valid() {
    local file
    file=$(dpkg -L "$package" | grep '^/usr/share/metainfo/.*\.metainfo\.xml$') &&
        appstreamcli validate --no-net "$file" >"$work/appstream.log"
}

row "apt-get install ./$(basename "$deb")" install
row "software centres find it: its AppStream file is valid" metainfo_valid
row "the menu entry starts the window as a new user" start_from_menu
row "获取固件信息, 下载固件: Debian's dfu-util finds no keyboard" use_against_server
row "apt-get purge removes every file, the settings' packaged defaults included" purge
