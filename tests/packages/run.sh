#!/usr/bin/env bash
# Builds the packages as scripts/package.sh does, for a firmware server on
# this machine (nginx serving the demo release, with a CA made here), and
# the Windows packages again, signed with a code-signing certificate made
# here; then checks their SBOMs (tests/packages/sbom.sh), installs and uses
# each as a user would (tests/packages/deb.sh and tests/packages/windows.sh),
# builds them all a second time from another clone to compare
# (tests/packages/reproduce.sh) and, there, tries a security update of a
# pinned source package (tests/packages/update.sh), one line per row.
# scripts/test.sh --packages runs this.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
source scripts/start-nginx.sh
scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}" xvfb xauth xdotool

work=$PWD/build/packages-test
mkdir -p "$work"
port=$(pick_port "$work/port")
[[ -f $work/pki/ca.pem ]] || scripts/make-certs.sh "$work/pki" localhost
options=(-DNV38K_FIRMWARE_HOST="localhost:$port" -DNV38K_TRUSTED_CA="$work/pki/ca.pem")
NV38K_PACKAGES=$work/out scripts/package.sh "${options[@]}"

# A throwaway code-signing root and certificate, and the packages signed with it.
signing=$work/signing
rm -rf "$signing"
mkdir -p "$signing"
openssl rand -hex 16 >"$signing/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=NV38K test code-signing root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
    -keyout "$signing/root.key" -out "$signing/root.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=NV38K test publisher" \
    -keyout "$signing/signer.key" -out "$signing/signer.csr" 2>/dev/null
openssl x509 -req -days 2 -in "$signing/signer.csr" -CA "$signing/root.pem" -CAkey "$signing/root.key" \
    -set_serial 1 -out "$signing/signer.pem" 2>/dev/null -extfile <(
    printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning)
openssl pkcs12 -export -inkey "$signing/signer.key" -in "$signing/signer.pem" \
    -passout "file:$signing/password" -out "$signing/signer.p12"
NV38K_SIGN_PKCS12=$signing/signer.p12 NV38K_SIGN_PASSWORD_FILE=$signing/password \
    packaging/windows/make-packages.sh "$work/out/trees/windows" "$work/signed" >/dev/null

demo/make-sample-firmware.sh "$work/www" "$work/out/trees/linux/publish/nv38k-publish" >/dev/null 2>&1
trap stop_nginx EXIT
start_nginx "$port" "$work/www" "$work/pki/server.pem" "$work/pki/server.key" "$work/nginx"

tests/packages/sbom.sh "$work/out"
tests/packages/deb.sh "$work"/out/*.deb "$work/nginx/access.log"
tests/packages/windows.sh "$work"/signed/*-setup.exe "$signing/root.pem" "$work/out"
tests/packages/reproduce.sh "$work/out" "${options[@]}"
tests/packages/update.sh build/packages-reproduce "${options[@]}"
