#!/usr/bin/env bash
# Rebuilds the release's Windows programs from this sources archive alone, on
# Debian 12 and without any network: OUT_DIR/nv38k-upgrade-tool.exe and
# OUT_DIR/bin/x64/dfu-util-static.exe, byte for byte the release's. The
# Debian source packages come from debian/, the tool's source from the
# folder beside it, and the release's build settings (firmware host, extra
# root certificate, firmware signing keys, the time stamp its resources
# carry) from settings/. OpenSSL and Qt are built into $NV38K_WINDOWS_CACHE
# (by default ~/.cache/nv38k-windows) unless cached there already.
# It installs nothing: when a toolchain package of toolchain.txt is missing,
# it prints the apt-get line that installs it (which needs the network) and
# stops; a package at another version is named, since it compiles other bytes.
# Usage: ./rebuild.sh OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=$(dirname "$(echo "$here"/*/scripts/build-windows.sh)")/..
tree=$(cd "$tree" && pwd)
source "$tree/scripts/usage.sh"
take_arguments '[!-]*' -- "$@"
out=${1:?usage: $0 OUT_DIR}

missing=()
while read -r package version; do
    installed=$(dpkg-query -W -f='${db:Status-Abbrev}${Version}\n' "$package" 2>/dev/null |
        awk '/^ii / && !seen++ { print $2 }' || true)
    if [[ -z $installed ]]; then
        missing+=("$package=$version")
    elif [[ $installed != "$version" ]]; then
        echo "warning: $package is $installed here, $version in the release's build;" \
            "the programs may differ" >&2
    fi
done <"$here/toolchain.txt"
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Missing toolchain packages; install them (this needs the network), then run this again:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
options=(-DNV38K_FIRMWARE_HOST="$(cat "$here/settings/firmware-host")")
[[ ! -f $here/settings/trusted-ca.pem ]] || options+=(-DNV38K_TRUSTED_CA="$here/settings/trusted-ca.pem")
keys=$(find "$here/settings" -name 'firmware-signing-*.pub' | LC_ALL=C sort | paste -sd ';')
[[ -z $keys ]] || options+=(-DNV38K_FIRMWARE_SIGNING_KEY="$keys")
keys=$(find "$here/settings" -name 'tool-release-*.pub' | LC_ALL=C sort | paste -sd ';')
[[ -z $keys ]] || options+=(-DNV38K_TOOL_RELEASE_KEY="$keys")

SOURCE_DATE_EPOCH=$(cat "$here/settings/source-date-epoch") \
    NV38K_SOURCE_PACKAGES=$here/debian NV38K_WINDOWS_BUILD=$out/build \
    "$tree/scripts/build-windows.sh" "${options[@]}"
install -D -m 755 "$out/build/nv38k-upgrade-tool.exe" "$out/nv38k-upgrade-tool.exe"
install -D -m 755 "$out/build/bin/x64/dfu-util-static.exe" "$out/bin/x64/dfu-util-static.exe"
echo "$out/nv38k-upgrade-tool.exe"
echo "$out/bin/x64/dfu-util-static.exe"
