#!/usr/bin/env bash
# Writes OUT_DIR/nv38k-upgrade-tool-VERSION-sources.tar.xz, the corresponding
# source of the Windows programs in BUILD_DIR (scripts/build-windows.sh made
# it and listed there what it compiled): the Debian source packages, each
# .dsc with its tarballs as apt-get fetches them (kept in a cache by
# version), the tool's own source at the commit built, the build's settings
# (firmware host, extra root, firmware signing keys), BUILDING.txt, which
# says how the programs are built from them and prints the command that
# rebuilds all of the release's packages from a clone, toolchain.txt,
# rebuild.sh, which builds the programs with no network, and in sbom/ the
# SBOMs named after OUT_DIR. The same commit
# gives the same archive.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: $0 BUILD_DIR OUT_DIR [SBOM...]}
out_dir=${2:?usage: $0 BUILD_DIR OUT_DIR [SBOM...]}
shift 2
version=$(cat "$build/nv38k-version.txt")
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
cp "$build/windows-toolchain.txt" "$root/toolchain.txt"
# The pins that lagged behind Debian's mirror, which a rebuild records as
# they were, whatever the mirror lists by then.
lagging=$build/windows-lagging-pins.txt
[[ -f $lagging ]] || lagging=/dev/null
if [[ $# -gt 0 ]]; then
    mkdir -p "$root/sbom"
    cp "$@" "$root/sbom/"
fi

# The build's own settings, as its CMake cache holds them.
setting() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
mkdir -p "$root/settings"
setting NV38K_FIRMWARE_HOST >"$root/settings/firmware-host"
cp "$lagging" "$root/settings/lagging-pins.txt"
# The time stamp that the build gave its resources (Qt's rcc takes it).
echo "$SOURCE_DATE_EPOCH" >"$root/settings/source-date-epoch"
[[ -z $(setting NV38K_TRUSTED_CA) ]] || cp "$(setting NV38K_TRUSTED_CA)" "$root/settings/trusted-ca.pem"
# Copies the public keys the setting $1 names as settings/$2-N.pub; prints N.
copy_keys() {
    local key count=0 keys
    IFS=';' read -r -a keys <<<"$(setting "$1")"
    for key in "${keys[@]}"; do
        count=$((count + 1))
        cp "$key" "$root/settings/$2-$count.pub"
    done
    echo "$count"
}
n=$(copy_keys NV38K_FIRMWARE_SIGNING_KEY firmware-signing)
t=$(copy_keys NV38K_TOOL_RELEASE_KEY tool-release)
# The maker the release named: the .deb's maintainer, the SBOMs' manufacturer.
[[ -z $(setting NV38K_PACKAGE_MAINTAINER) ]] ||
    setting NV38K_PACKAGE_MAINTAINER >"$root/settings/package-maintainer"
settings="firmware host $(cat "$root/settings/firmware-host"), time stamp $SOURCE_DATE_EPOCH"
[[ ! -f $root/settings/trusted-ca.pem ]] || settings+=", extra root trusted-ca.pem"
[[ $n -eq 0 ]] || settings+=", $n firmware signing key(s) firmware-signing-N.pub"
[[ $t -eq 0 ]] || settings+=", $t tool release key(s) tool-release-N.pub"
[[ ! -f $root/settings/package-maintainer ]] || settings+=", the maker (the .deb's maintainer)"

# scripts/package.sh as the release ran it, each setting read from settings/,
# to be run where this archive is unpacked (tests/packages/reproduce.sh runs it).
package_command="  clone=/path/to/a/clone/at/$commit
  SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH \"\$clone/scripts/package.sh\" \\
      --lagging-pins-record=\"\$PWD/settings/lagging-pins.txt\" \\
      -DNV38K_FIRMWARE_HOST=\"$(cat "$root/settings/firmware-host")\""
[[ ! -f $root/settings/trusted-ca.pem ]] ||
    package_command+=" \\"$'\n'"      -DNV38K_TRUSTED_CA=\"\$PWD/settings/trusted-ca.pem\""
if [[ $n -gt 0 ]]; then
    keys=$(seq -f '$PWD/settings/firmware-signing-%g.pub' "$n" | paste -sd ';')
    package_command+=" \\"$'\n'"      -DNV38K_FIRMWARE_SIGNING_KEY=\"$keys\""
fi
if [[ $t -gt 0 ]]; then
    keys=$(seq -f '$PWD/settings/tool-release-%g.pub' "$t" | paste -sd ';')
    package_command+=" \\"$'\n'"      -DNV38K_TOOL_RELEASE_KEY=\"$keys\""
fi
[[ ! -f $root/settings/package-maintainer ]] ||
    package_command+=" \\"$'\n'"      -DNV38K_PACKAGE_MAINTAINER=\"\$(cat settings/package-maintainer)\""

cat >"$root/BUILDING.txt" <<EOF
How the NV38K upgrade tool $version is built

All of the release's packages: on Debian 12, with the network, in a clone of
the tool's repository checked out at commit $commit,
run this in the folder where this archive is unpacked:

$package_command

It writes the packages into the clone's build/packages/. The .deb and this
archive equal the release's byte for byte. The Windows programs in
build/packages/trees/windows/ equal the release's once a signed program's
signature is removed (osslsigncode remove-signature); the installer and the
zip hold the signed programs, so they are equal only when NV38K_SIGN_PKCS12
names the release's certificate and key and no timestamp server is used.

The Windows programs alone: on Debian 12, with no network,

  ./rebuild.sh OUT_DIR

builds OUT_DIR/nv38k-upgrade-tool.exe and OUT_DIR/bin/x64/dfu-util-static.exe,
equal byte for byte to the release's (once a signed program's signature is
removed), in whatever folder this archive was unpacked and with whatever
cache folder (NV38K_WINDOWS_CACHE). From a cold cache it compiles OpenSSL,
zlib, PCRE2, libpng, Qt, libusb and dfu-util first, which takes about 25
minutes on two cores. It needs the toolchain
that the release was built with, since other versions of these packages
compile other bytes; toolchain.txt lists it, and rebuild.sh stops and prints
the apt-get line that installs what is missing (which needs the network):

$(sed 's/^/  /' "$build/windows-toolchain.txt")

debian/ holds the Debian source packages that the build compiled, at the
versions and .dsc checksums that $name/packaging/windows/source-pins.txt pins:
$packages
$("$top/packaging/windows/release-notes.sh" --lagging "$build")

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
configuration that could set it. Qt takes zlib, PCRE2 and libpng from the
builds above, not its own copies, and leaves FreeType and HarfBuzz-NG out
(Windows draws its text):

$(cat "$build/windows-configure.txt")

Every component is compiled with -fstack-protector-strong (stack cookies,
GCC's libssp linked statically into the programs) and -D_FORTIFY_SOURCE=2
(the string and memory calls that MinGW-w64's headers check). The
components other than the programs are static libraries that are not
linked on their own, so the link flags -fstack-protector-strong and
-Wl,--no-seh (the programs register no SEH handler: i686 MinGW code unwinds
with DWARF tables, and OpenSSL's assembler for it has none) are given where
the tool and dfu-util are linked; Qt's configure line also gives them to
its test programs. No component leaves a flag out. Control Flow Guard is not
used: Debian 12's MinGW-w64 runtime and GCC 12 do not support it.

To relink the tool against a changed Qt, OpenSSL, zlib, PCRE2, libpng or
libusb, build the changed source into a prefix with the same configure line
and run the tool's CMake line with NV38K_WINDOWS_PREFIX naming the Qt,
OpenSSL, zlib, PCRE2 and libpng prefixes, in the same folder as the others.
EOF

# Most of it is compressed already: the fastest level packs it as small, and
# one thread packs it the same way on every machine.
mkdir -p "$out_dir"
tar -C "$stage" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mode=u+rwX,go=rX --mtime="@$SOURCE_DATE_EPOCH" -c "$name-sources" |
    xz -T1 -0 >"$out_dir/$name-sources.tar.xz"
echo "$out_dir/$name-sources.tar.xz"
