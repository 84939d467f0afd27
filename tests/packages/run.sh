#!/usr/bin/env bash
# Makes a signed release as docs/releasing.md ("Releasing, step by step") does, for a
# firmware server on this machine (nginx, with a CA made here), in a fresh
# clone (tests/packages/release.sh); checks its SBOMs (tests/packages/sbom.sh);
# its timestamps (tests/packages/timestamps.sh);
# installs and uses its Debian package as a user would (tests/packages/deb.sh);
# rebuilds it from another clone with the command its sources archive's
# BUILDING.txt prints, and its Windows programs from that archive alone, and
# compares (tests/packages/reproduce.sh); installs and uses its Windows
# installer under Wine (tests/packages/windows.sh); and, in that other clone,
# tries a security update of a pinned source package (tests/packages/update.sh).
# One line per row. The SBOM, timestamp and .deb tables run beside
# reproduce.sh; their lines follow its own.
# scripts/test.sh --packages runs this.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
source scripts/start-nginx.sh
source tests/packages/tsa.sh
scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}" "${desktop_packages[@]}" \
    xvfb xauth xdotool
# The release is made from a clone of the commit: with changes, every table
# is skipped (77), which is not passed.
if ! git diff --quiet HEAD; then
    echo "skip  packages  the working tree has changes that a clone of the commit lacks; commit them first"
    exit 77
fi

work=$PWD/build/packages-test
mkdir -p "$work"
port=$(pick_port "$work/port")
[[ -f $work/pki/ca.pem ]] || scripts/make-certs.sh "$work/pki" localhost
rm -rf "$work/www"
mkdir -p "$work/www"
# The tables beside reproduce.sh (below): readers_done waits for them,
# shows their lines and fails as they did.
readers=
readers_done() {
    local status=0
    [[ -n $readers ]] || return 0
    wait "$readers" || status=$?
    readers=
    cat "$work/readers.log"
    return "$status"
}
trap 'readers_done || true; stop_nginx; stop_tsa' EXIT
start_nginx "$port" "$work/www" "$work/pki/server.pem" "$work/pki/server.key" "$work/nginx"
# The release is timestamped, as docs/releasing.md's steps do, by a TSA of its own.
rm -rf "$work/tsa"
make_tsa "$work/tsa"
start_tsa "$work/tsa"

release=$work/release
tests/packages/release.sh "$release" "localhost:$port" "$work/pki/ca.pem" "$work/www" "$tsa_url" \
    "$work/tsa/tsa-root.pem"
stop_tsa
packages=$release/clone/build/packages
# The tables that only read the release run while reproduce.sh builds it
# again, their lines after its own: they mostly wait, it mostly compiles.
{ tests/packages/sbom.sh "$packages" && tests/packages/timestamps.sh "$packages" &&
    tests/packages/deb.sh "$packages"/*.deb "$work/nginx/access.log"; } >"$work/readers.log" 2>&1 &
readers=$!
tests/packages/reproduce.sh "$packages" "$release/signing/vendor.p12" "$release/signing/vendor.pass"
readers_done
# Wine (.ci/run installs it before the stages; run alone, this does).
scripts/install-deps.sh "${windows_packages[@]}"
tests/packages/windows.sh "$packages"/*-setup.exe "$release/signing/root.pem" \
    build/packages-reproduce/clone/build/packages
tests/packages/update.sh build/packages-reproduce -DNV38K_FIRMWARE_HOST="localhost:$port" \
    -DNV38K_TRUSTED_CA="$work/pki/ca.pem" -DNV38K_FIRMWARE_SIGNING_KEY="$release/keys/firmware-signing.pub" \
    -DNV38K_TOOL_RELEASE_KEY="$release/keys/tool-release.pub"
