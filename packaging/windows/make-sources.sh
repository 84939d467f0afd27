#!/usr/bin/env bash
# Writes OUT_DIR/nv38k-upgrade-tool-VERSION-sources.tar.xz, the corresponding
# source of the Windows programs in BUILD_DIR (scripts/build-windows.sh made
# it and listed there what it compiled): the Debian source packages, each
# .dsc with its tarballs as apt-get fetches them (kept in a cache by
# version), the tool's own source at the commit built, and BUILDING.txt,
# which says how the programs are built from them. The same commit gives the
# same archive.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: $0 BUILD_DIR OUT_DIR}
out_dir=${2:?usage: $0 BUILD_DIR OUT_DIR}
version=$(sed -n 's/^project(nv38k-upgrade-tool VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
commit=$(git -C "$top" rev-parse HEAD)
name=nv38k-upgrade-tool-$version
cache=${XDG_CACHE_HOME:-$HOME/.cache}/nv38k-windows/debian-sources

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/$name-sources
mkdir -p "$root/debian"
packages=
while read -r _ package debian_version _; do
    dir=$cache/$package-${debian_version//:/_}
    if [[ ! -f $dir/.complete ]]; then
        rm -rf "$dir"
        mkdir -p "$dir"
        if ! (cd "$dir" && apt-get source -qq --download-only "$package=$debian_version") >"$stage/apt.log" 2>&1; then
            cat "$stage/apt.log" >&2
            exit 1
        fi
        touch "$dir/.complete"
    fi
    cp "$dir"/* "$root/debian/"
    packages+="  $package $debian_version"$'\n'
done <"$build/windows-sources.txt"
git -C "$top" archive --prefix="$name/" "$commit" | tar -x -C "$root"

cat >"$root/BUILDING.txt" <<EOF
How the Windows programs of the NV38K upgrade tool $version are built

debian/ holds the Debian source packages that the build compiled:
$packages
$name/ is the tool's own source at commit $commit.

On Debian 12, $name/scripts/build-windows.sh builds them all. It installs
MinGW-w64 and the other tools it needs, unpacks each source package with
its Debian patches applied (for OpenSSL it takes back debian/patches/pic.patch,
whose assembler only ELF can represent), builds each with make and
make install after the configure line below, \$CACHE being its cache
~/.cache/nv38k-windows, and then builds the tool with CMake and the
toolchain file cmake/mingw-w64-i686.cmake:

$(cat "$build/windows-configure.txt")

$name/scripts/package.sh, run with SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH and the
release's own -DNV38K_FIRMWARE_HOST=... and -DNV38K_TRUSTED_CA=... arguments,
then makes the packages; the README's "Verifying a release" says how they
compare with a release. To relink the tool against a changed Qt, OpenSSL or
libusb, build the changed source into a prefix with the same configure line
and run the tool's CMake line with NV38K_WINDOWS_PREFIX naming the prefixes.
EOF

# Most of it is compressed already: the fastest level packs it as small, and
# one thread packs it the same way on every machine.
mkdir -p "$out_dir"
tar -C "$stage" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mode=u+rwX,go=rX --mtime="@$SOURCE_DATE_EPOCH" -c "$name-sources" |
    xz -T1 -0 >"$out_dir/$name-sources.tar.xz"
echo "$out_dir/$name-sources.tar.xz"
