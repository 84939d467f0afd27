#!/usr/bin/env bash
# Builds the packages as scripts/package.sh does, for a firmware server on
# this machine (nginx serving the demo release, with a CA made here), then
# installs and uses each as a user would: tests/packages/deb.sh and
# tests/packages/windows.sh, one line per row. scripts/test.sh --packages
# runs this.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
source scripts/start-nginx.sh
scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}" xvfb xauth xdotool

work=$PWD/build/packages-test
mkdir -p "$work"
port=$(pick_port "$work/port")
[[ -f $work/pki/ca.pem ]] || scripts/make-certs.sh "$work/pki" localhost
NV38K_PACKAGES=$work/out scripts/package.sh \
    -DNV38K_FIRMWARE_HOST="localhost:$port" -DNV38K_TRUSTED_CA="$work/pki/ca.pem"

demo/make-sample-firmware.sh "$work/www" "$work/out/trees/linux/publish/nv38k-publish" >/dev/null 2>&1
trap stop_nginx EXIT
start_nginx "$port" "$work/www" "$work/pki/server.pem" "$work/pki/server.key" "$work/nginx"

tests/packages/deb.sh "$work"/out/*.deb "$work/nginx/access.log"
tests/packages/windows.sh "$work"/out/*-setup.exe
