#!/usr/bin/env bash
# One step of the packages tables; ci/CMakeLists.txt runs them in order
# (scripts/test.sh --packages). nginx and tsa start the firmware server (a CA
# made here) and the time-stamping authority, in the background, and
# stop SERVER ends one. release makes a signed release as
# docs/releasing.md ("Releasing, step by step") does, in a fresh clone
# (tests/packages/release.sh); sbom, timestamps and deb check its SBOMs,
# timestamps and Debian package (installed and used as a user would);
# reproduce rebuilds it from another clone with the command its sources
# archive's BUILDING.txt prints, and its Windows programs from that archive
# alone, and compares; windows installs and uses its Windows installer under
# Wine; update tries, in that other clone, a security update of a pinned
# source package. Each table prints one line per row. The release is made
# from a clone of the commit: with changes, every step exits with 77
# (skipped, which is not passed).
# Usage: tests/packages/run.sh nginx|tsa|stop SERVER|release|sbom|timestamps|deb|reproduce|windows|update
set -euo pipefail
cd "$(dirname "$0")/../.."
step=${1:?usage: $0 STEP}
work=$PWD/build/packages-test
release=$work/release
packages=$release/clone/build/packages
mkdir -p "$work"
# A server that runs on after its step: its pid in $work/SERVER.pid.
stop() {
    [[ -f $work/$1.pid ]] || return 0
    kill "$(cat "$work/$1.pid")" 2>/dev/null || true
    rm -f "$work/$1.pid"
}
if [[ $step == stop ]]; then
    stop "$2"
    exit
fi
if ! git diff --quiet HEAD; then
    echo "skip  packages  the working tree has changes that a clone of the commit lacks; commit them first"
    exit 77
fi
source scripts/packages.sh
case $step in
nginx)
    source scripts/start-nginx.sh
    scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}" "${desktop_packages[@]}" \
        xvfb xauth xdotool
    stop nginx
    port=$(pick_port "$work/port")
    [[ -f $work/pki/ca.pem ]] || scripts/make-certs.sh "$work/pki" localhost >/dev/null
    rm -rf "$work/www"
    mkdir -p "$work/www"
    # Its output elsewhere, so that CTest does not wait for it.
    start_nginx "$port" "$work/www" "$work/pki/server.pem" "$work/pki/server.key" "$work/nginx" \
        >"$work/nginx.log" 2>&1 || { cat "$work/nginx.log"; exit 1; }
    echo "$nginx_pid" >"$work/nginx.pid"
    ;;
tsa)
    source tests/packages/tsa.sh
    stop tsa
    rm -rf "$work/tsa"
    make_tsa "$work/tsa"
    python3 tests/packages/tsa.py "$work/tsa/tsa.cnf" >"$work/tsa/url" 2>"$work/tsa/log" &
    echo $! >"$work/tsa.pid"
    for _ in $(seq 100); do
        [[ ! -s $work/tsa/url ]] || exit 0
        sleep 0.1
    done
    cat "$work/tsa/log"
    exit 1
    ;;
release)
    # The release is timestamped, as docs/releasing.md's steps do, by the TSA.
    exec tests/packages/release.sh "$release" "localhost:$(cat "$work/port")" "$work/pki/ca.pem" \
        "$work/www" "$(cat "$work/tsa/url")" "$work/tsa/tsa-root.pem"
    ;;
sbom) exec tests/packages/sbom.sh "$packages" ;;
timestamps) exec tests/packages/timestamps.sh "$packages" ;;
deb) exec tests/packages/deb.sh "$packages"/*.deb "$work/nginx/access.log" ;;
reproduce)
    exec tests/packages/reproduce.sh "$packages" "$release/signing/vendor.p12" "$release/signing/vendor.pass"
    ;;
windows)
    # Wine (.ci/run installs it before the stages; run alone, this does).
    scripts/install-deps.sh "${windows_packages[@]}"
    exec tests/packages/windows.sh "$packages"/*-setup.exe "$release/signing/root.pem" \
        build/packages-reproduce/clone/build/packages
    ;;
update)
    exec tests/packages/update.sh build/packages-reproduce -DNV38K_FIRMWARE_HOST="localhost:$(cat "$work/port")" \
        -DNV38K_TRUSTED_CA="$work/pki/ca.pem" -DNV38K_FIRMWARE_SIGNING_KEY="$release/keys/firmware-signing.pub" \
        -DNV38K_TOOL_RELEASE_KEY="$release/keys/tool-release.pub"
    ;;
*)
    echo "run.sh: no step \"$step\" (see its opening comment)" >&2
    exit 2
    ;;
esac
