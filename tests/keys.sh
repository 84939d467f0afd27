#!/usr/bin/env bash
# The signing keys a build is configured with are compared as their 32 raw
# bytes, however their PEM text is wrapped; a build without a tool release
# key is never packaged. Configures throwaway builds, builds nothing.
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
unpackaged() {
    configure "" "" && ! (cd build && cpack -G DEB -B "$work/cpack") >cpack.log 2>&1 &&
        grep -qx ' *cpack: .*-DNV38K_TOOL_RELEASE_KEY=.*(see docs/building.md)' cpack.log && [[ ! -d cpack/DEB ]]
}
recorded() {
    configure "$work/second.pub" "$work/rewrapped.pub" && [[ $(cat build/nv38k-tool-release-keys.txt) == \
        "$(openssl pkey -pubin -in first.pub -outform DER | tail -c 32 | od -An -tx1 | tr -d ' \n')" ]]
}

row "a key in both roles, wrapped otherwise: refused" refused "$work/first.pub" "$work/rewrapped.pub" \
    "A key is both in NV38K_FIRMWARE_SIGNING_KEY and in NV38K_TOOL_RELEASE_KEY"
row "one key twice in a role: refused" refused "" "$work/first.pub;$work/second.pub;$work/rewrapped.pub" \
    "NV38K_TOOL_RELEASE_KEY names one key twice (again in $work/rewrapped.pub)"
row "a key that is not Ed25519: refused" refused "$work/p256.pub" "" "p256.pub holds a public key that is not Ed25519"
row "no tool release key: configured, and cpack refuses the .deb" unpackaged
row "a tool release key, wrapped otherwise: configured, recorded as its raw bytes" recorded
