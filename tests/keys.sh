#!/usr/bin/env bash
# The signing keys a build is configured with are compared as their 32 raw
# bytes, however their PEM text is wrapped. Configures throwaway builds,
# builds nothing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
suite=keys
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$top/tests/packages/rows.sh"
cd "$work"
for name in first second; do
    openssl genpkey -algorithm ed25519 | openssl pkey -pubout -out $name.pub
done
# The first key again, in shorter CR LF lines and with blank lines.
{ sed 2q first.pub | sed '2s/.\{16\}/&\r\n/g'; printf '\n%s\n\n' "$(tail -n 1 first.pub)"; } >rewrapped.pub
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 | openssl pkey -pubout -out p256.pub

configure() { # firmware keys, tool release keys
    cmake -S "$top" -B build -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr \
        -DNV38K_FIRMWARE_SIGNING_KEY="$1" -DNV38K_TOOL_RELEASE_KEY="$2" >cmake.log 2>&1
}
refused() { ! configure "$1" "$2" && tr -s ' \n' ' ' <cmake.log | grep -qF "$3"; }

row "a key in both roles, wrapped otherwise: refused" refused "$work/first.pub" "$work/rewrapped.pub" \
    "A key is both in NV38K_FIRMWARE_SIGNING_KEY and in NV38K_TOOL_RELEASE_KEY"
row "one key twice in a role: refused" refused "" "$work/first.pub;$work/second.pub;$work/rewrapped.pub" \
    "NV38K_TOOL_RELEASE_KEY names one key twice (again in $work/rewrapped.pub)"
row "a key that is not Ed25519: refused" refused "$work/p256.pub" "" "p256.pub holds a public key that is not Ed25519"
row "a tool release key, wrapped otherwise: configured" configure "$work/second.pub" "$work/rewrapped.pub"
