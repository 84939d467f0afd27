#!/usr/bin/env bash
# Rebuilds the release's Windows programs from this sources archive alone, on
# Debian 12 and without any network: OUT_DIR/nv38k-upgrade-tool.exe and
# OUT_DIR/bin/x64/dfu-util-static.exe, byte for byte the release's. The
# Debian source packages come from debian/, the tool's source from the
# folder beside it, and the release's build settings (firmware host, extra
# root certificate, firmware signing keys, the time stamp its resources
# carry) from settings/. OpenSSL and Qt are built into $NV38K_WINDOWS_CACHE
# (by default ~/.cache/nv38k-windows) unless cached there already. The toolchain packages that BUILDING.txt names are
# installed when missing, if apt can; otherwise their names are printed.
# Usage: ./rebuild.sh OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: $0 OUT_DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
tree=$(dirname "$(echo "$here"/*/scripts/build-windows.sh)")/..
tree=$(cd "$tree" && pwd)

options=(-DNV38K_FIRMWARE_HOST="$(cat "$here/settings/firmware-host")")
[[ ! -f $here/settings/trusted-ca.pem ]] || options+=(-DNV38K_TRUSTED_CA="$here/settings/trusted-ca.pem")
keys=$(find "$here/settings" -name 'firmware-signing-*.pub' | LC_ALL=C sort | paste -sd ';')
[[ -z $keys ]] || options+=(-DNV38K_FIRMWARE_SIGNING_KEY="$keys")

SOURCE_DATE_EPOCH=$(cat "$here/settings/source-date-epoch") \
    NV38K_SOURCE_PACKAGES=$here/debian NV38K_WINDOWS_BUILD=$out/build \
    "$tree/scripts/build-windows.sh" "${options[@]}"
install -D -m 755 "$out/build/nv38k-upgrade-tool.exe" "$out/nv38k-upgrade-tool.exe"
install -D -m 755 "$out/build/bin/x64/dfu-util-static.exe" "$out/bin/x64/dfu-util-static.exe"
echo "$out/nv38k-upgrade-tool.exe"
echo "$out/bin/x64/dfu-util-static.exe"
