#!/usr/bin/env bash
# The tool's whole use on this machine, with nothing attached and no server:
# a demo build that trusts a CA and a firmware signing key made here, nginx
# serving a signed sample firmware on 127.0.0.1, and Debian's dfu-util finding
# an NV38K in DFU mode that umockdev emulates (demo/emulated_keyboard.py).
# With a display you get the window to click; without one, a headless
# walkthrough clicks for you and prints what happens.
# Usage: scripts/demo.sh
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments -- "$@"
cd "$(dirname "$0")/.."
source scripts/packages.sh
source scripts/start-nginx.sh
scripts/install-deps.sh "${build_packages[@]}" "${font_packages[@]}" "${server_packages[@]}" xvfb xauth

demo=$PWD/build/demo
mkdir -p "$demo"

# The port of the last run, while it is free, keeps the build as it is.
port=$(pick_port "$demo/port")

# The CA and the signing key pair are the demo's own, made once.
[[ -f $demo/pki/signing.pub ]] || scripts/make-certs.sh "$demo/pki" localhost
cmake --preset demo -B "$demo/build" -DNV38K_FIRMWARE_HOST="localhost:$port" \
    -DNV38K_TRUSTED_CA="$demo/pki/ca.pem" -DNV38K_FIRMWARE_SIGNING_KEY="$demo/pki/signing.pub" >/dev/null
cmake --build "$demo/build" --parallel "$(nproc)"

served=$(demo/make-sample-firmware.sh "$demo/www" "$demo/build/publish/nv38k-publish" \
    "$demo/pki/signing.key")
run=$demo/run
rm -rf "$run/tmp"
mkdir -p "$run/bin/x64"
cp "$demo/build/demo/keyboards/keyboard/dfu-util-static" "$run/bin/x64/dfu-util-static"

trap stop_nginx EXIT
trap 'exit 130' INT TERM
start_nginx "$port" "$demo/www" "$demo/pki/server.pem" "$demo/pki/server.key" "$demo/nginx"
echo "Firmware server: https://localhost:$port/NV38Firmware/N3KFirmware/ (nginx, pid $nginx_pid)"
# The served release, read as the window will read it.
"$demo/build/publish/nv38k-publish" check

cd "$run"
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    echo "Working directory: $run"
    "$demo/build/nv38k-upgrade-tool"
else
    echo "No display: running the walkthrough on a virtual X server."
    xvfb-run -a -s "-screen 0 1024x768x24" \
        "$demo/build/demo/nv38k-walkthrough" "$served" "$demo/screenshots"
fi
