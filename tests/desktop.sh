#!/usr/bin/env bash
# The menu entry and the AppStream file as this build makes them, checked by
# the tools that desktops and software centres read them with, and installed
# where those look. Prints one line per row; stops at the first that fails.
# Usage: tests/desktop.sh BUILD_DIR APPSTREAM_ID
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
id=$2
suite=desktop
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$top/tests/packages/rows.sh"
metainfo=$build/$id.metainfo.xml

# The modalias that the udev rule's vendor and product make.
rule_modalias() {
    local rule=$top/packaging/70-nv38k-dfu.rules vendor product
    vendor=$(grep -o 'ATTR{idVendor}=="[0-9a-f]*"' "$rule" | cut -d'"' -f2)
    product=$(grep -o 'ATTR{idProduct}=="[0-9a-f]*"' "$rule" | cut -d'"' -f2)
    echo "usb:v${vendor^^}p${product^^}d*"
}
installed() {
    local share
    DESTDIR=$work/root cmake --install "$build" --prefix /usr >"$work/install.log" &&
        share=$work/root/usr/share &&
        [[ -f $share/metainfo/$id.metainfo.xml ]] &&
        launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' \
            "$share/metainfo/$id.metainfo.xml") &&
        [[ -f $share/applications/$launchable ]]
}

row "desktop-file-validate: the menu entry" desktop-file-validate "$build/nv38k-upgrade-tool.desktop"
row "appstreamcli validate: the AppStream file" \
    appstreamcli validate --no-net --explain "$metainfo"
row "it provides the keyboard in DFU mode as the udev rule matches it" \
    grep -qF "<modalias>$(rule_modalias)</modalias>" "$metainfo"
row "cmake --install puts it beside the menu entry it launches" installed
