#!/usr/bin/env bash
# Writes OUT_DIR/nv38k-upgrade-tool-VERSION-sources.tar.xz, the corresponding
# source of the Windows programs in BUILD_DIR (scripts/build-windows.sh made
# it and listed there what it compiled): the Debian source packages, each
# .dsc with its tarballs as apt-get fetches them (kept in a cache by
# version), the tool's own source at the commit built, the build's settings
# (firmware host, extra root, firmware signing keys), BUILDING.txt, which
# says how the programs are built from them, rebuild.sh, which does it with
# no network, and in sbom/ the SBOMs named after OUT_DIR. The same commit
# gives the same archive.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: $0 BUILD_DIR OUT_DIR [SBOM...]}
out_dir=${2:?usage: $0 BUILD_DIR OUT_DIR [SBOM...]}
shift 2
version=$(sed -n 's/^project(nv38k-upgrade-tool VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
commit=$(git -C "$top" rev-parse HEAD)
name=nv38k-upgrade-tool-$version
source "$top/scripts/source-packages.sh"
cache=$windows_cache/debian-sources

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/$name-sources
mkdir -p "$root/debian"
packages=
while read -r _ package debian_version _; do
    dir=$cache/$package-${debian_version//:/_}
    python3 "$top/scripts/windows/debian_sources.py" download "$package" "$debian_version" "$dir"
    cp "$dir"/* "$root/debian/"
    packages+="  $package $debian_version"$'\n'
done <"$build/windows-sources.txt"
git -C "$top" archive --prefix="$name/" "$commit" | tar -x -C "$root"
install -m 755 "$top/packaging/windows/rebuild.sh" "$root/rebuild.sh"
if [[ $# -gt 0 ]]; then
    mkdir -p "$root/sbom"
    cp "$@" "$root/sbom/"
fi

# The build's own settings, as its CMake cache holds them.
setting() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
mkdir -p "$root/settings"
setting NV38K_FIRMWARE_HOST >"$root/settings/firmware-host"
# The time stamp that the build gave its resources (Qt's rcc takes it).
echo "$SOURCE_DATE_EPOCH" >"$root/settings/source-date-epoch"
[[ -z $(setting NV38K_TRUSTED_CA) ]] || cp "$(setting NV38K_TRUSTED_CA)" "$root/settings/trusted-ca.pem"
n=0
IFS=';' read -r -a keys <<<"$(setting NV38K_FIRMWARE_SIGNING_KEY)"
for key in "${keys[@]}"; do
    n=$((n + 1))
    cp "$key" "$root/settings/firmware-signing-$n.pub"
done
settings="firmware host $(cat "$root/settings/firmware-host"), time stamp $SOURCE_DATE_EPOCH"
[[ ! -f $root/settings/trusted-ca.pem ]] || settings+=", extra root trusted-ca.pem"
[[ $n -eq 0 ]] || settings+=", $n firmware signing key(s) firmware-signing-N.pub"

cat >"$root/BUILDING.txt" <<EOF
How the Windows programs of the NV38K upgrade tool $version are built

On Debian 12, with no network:

  ./rebuild.sh OUT_DIR

builds OUT_DIR/nv38k-upgrade-tool.exe and OUT_DIR/bin/x64/dfu-util-static.exe,
equal byte for byte to the release's (once a signed program's signature is
removed: osslsigncode remove-signature), in whatever folder this archive was
unpacked and with whatever cache folder (NV38K_WINDOWS_CACHE). From a cold
cache it compiles OpenSSL and Qt first, which takes about a quarter of an
hour on two cores. It needs the toolchain that the release was built with,
since other versions of these packages compile other bytes:

$(sed 's/^/  /' "$build/windows-toolchain.txt")

debian/ holds the Debian source packages that the build compiled, at the
versions and .dsc checksums that $name/packaging/windows/source-pins.txt pins:
$packages
$name/ is the tool's own source at commit $commit.
settings/ holds the release's build settings: $settings.
$([[ $# -eq 0 ]] || echo "sbom/ holds the CycloneDX SBOMs of the programs: $(cd "$root/sbom" && echo *).")

$name/scripts/build-windows.sh unpacks each source package with its Debian
patches applied, then applies the modifications in
$name/packaging/windows/patches/ (Qt on Windows: no Unix certificate
folders, no system-wide logging rules) and, for OpenSSL, takes back
debian/patches/pic.patch, whose assembler only ELF can represent. It builds each with make after the
configure line below (\$CACHE being the cache folder), and then the tool
with CMake and the toolchain file cmake/mingw-w64-i686.cmake. OpenSSL's
line leaves out the algorithms and protocols that Debian's build leaves out
(its no-... options) and builds in Debian's TLS security level 2
(-DOPENSSL_TLS_SECURITY_LEVEL=2), since the programs read no OpenSSL
configuration that could set it:

$(cat "$build/windows-configure.txt")

To relink the tool against a changed Qt, OpenSSL or libusb, build the
changed source into a prefix with the same configure line and run the
tool's CMake line with NV38K_WINDOWS_PREFIX naming the prefixes.
EOF

# Most of it is compressed already: the fastest level packs it as small, and
# one thread packs it the same way on every machine.
mkdir -p "$out_dir"
tar -C "$stage" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mode=u+rwX,go=rX --mtime="@$SOURCE_DATE_EPOCH" -c "$name-sources" |
    xz -T1 -0 >"$out_dir/$name-sources.tar.xz"
echo "$out_dir/$name-sources.tar.xz"
