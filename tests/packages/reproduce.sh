#!/usr/bin/env bash
# Rebuilds a release's packages (RELEASE_PACKAGES, as scripts/package.sh
# wrote them) with the command that its sources archive's BUILDING.txt
# prints, run where the archive is unpacked, in a fresh clone of the commit
# at another path and with the build cache copied to another path too, and
# compares each artefact with the release's, byte for byte. The release is
# signed with timestamps, new on every signing, so its signed programs
# compare once their signatures are removed, and its SBOMs and sources
# archive (which holds them) but for the signed files' hashes; the rebuilt
# programs signed with the release's PKCS12 and PASSWORD_FILE without a
# timestamp must still make the packages. Then rebuilds
# the Windows programs a third time from the archive alone, unpacked at yet
# another path, with its rebuild.sh in a network namespace of its own (no
# network at all), and compares those. The copied cache holds the cached
# Qt, OpenSSL, libusb and dfu-util builds, not their sources, which come
# from the archive. Prints one line per row; stops at the first that fails.
# Usage: tests/packages/reproduce.sh RELEASE_PACKAGES PKCS12 PASSWORD_FILE
set -euo pipefail
first=$(realpath "${1:?usage: $0 RELEASE_PACKAGES PKCS12 PASSWORD_FILE}")
pkcs12=$(realpath "$2")
password_file=$(realpath "$3")
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=reproduce
source "$top/tests/packages/rows.sh"
skip_unless_committed
"$top/scripts/install-deps.sh" jq unzip osslsigncode
work=$top/build/packages-reproduce
rm -rf "$work"
mkdir -p "$work"
source "$top/scripts/source-packages.sh"
version=$(cat "$first/trees/windows/nv38k-version.txt")
archive=nv38k-upgrade-tool-$version

# The cached builds and downloaded source packages, linked where they can be.
copy_cache() {
    local dir
    mkdir -p "$work/cache"
    for dir in "$windows_cache"/*/; do
        case $(basename "$dir") in
        src | build) ;;
        *) cp -al "$dir" "$work/cache/" 2>/dev/null || cp -a "$dir" "$work/cache/" ;;
        esac
    done
}
# BUILDING.txt's command, its first line naming the clone.
build() {
    local sources=$work/sources/$archive-sources commit
    mkdir -p "$work/sources" &&
        tar -xf "$first/$archive-sources.tar.xz" -C "$work/sources" &&
        commit=$(sed -n 's|^  clone=/path/to/a/clone/at/||p' "$sources/BUILDING.txt") &&
        git clone -q "$top" "$work/clone" && git -C "$work/clone" checkout -q "$commit" &&
        sed -n '/^  clone=/,/^$/p' "$sources/BUILDING.txt" |
        sed "1s|.*|clone=$work/clone|" >"$work/command.sh" &&
        (cd "$sources" && NV38K_WINDOWS_CACHE=$work/cache NV38K_TOOLCHAIN_RECORD=$PWD/toolchain.txt \
            bash -e "$work/command.sh") \
            >"$work/package.log" 2>&1
}
second=$work/clone/build/packages
same() { cmp "$first/$1" "$second/$1"; }
# With the release's time stamp, which is also its signing time.
sign_again() {
    SOURCE_DATE_EPOCH=$(cat "$work/sources/$archive-sources/settings/source-date-epoch") \
        NV38K_SIGN_PKCS12=$pkcs12 NV38K_SIGN_PASSWORD_FILE=$password_file \
        "$work/clone/packaging/windows/make-packages.sh" "$second/trees/windows" "$work/signed" \
        >"$work/sign.log" 2>&1
}
# An SBOM less its serial number and the hashes of files that a signature changes.
unsigned_view() {
    jq -S 'del(.serialNumber) | (.components[] | select(.type == "file")) |= del(.hashes, .externalReferences)' "$1"
}
same_sbom() { cmp <(unsigned_view "$1") <(unsigned_view "$2"); }
same_sources() {
    local at sbom
    for at in first second; do
        mkdir -p "$work/archives/$at" && tar -xf "${!at}/$archive-sources.tar.xz" -C "$work/archives/$at" || return 1
    done
    diff -r --exclude=sbom "$work/archives/first" "$work/archives/second" >"$work/sources.log" || return 1
    for sbom in "$work/archives/first/$archive-sources/sbom/"*; do
        same_sbom "$sbom" "$work/archives/second/$archive-sources/sbom/$(basename "$sbom")" || return 1
    done
}
stripped() {
    mkdir -p "$work/zip" && unzip -q -o -d "$work/zip" "$first/$archive-windows.zip" &&
        same_unsigned "$work/zip/$archive" "$second/trees/windows" "${programs[@]}"
}

started=$SECONDS
row "cache copied to $work/cache" copy_cache
row "second build: BUILDING.txt's command, in a clone in $work/clone" build
echo "      $suite  (the second build took $((SECONDS - started)) s)"
programs=(nv38k-upgrade-tool.exe bin/x64/dfu-util-static.exe)
for file in "${programs[@]/#/trees/windows/}" "nv38k-upgrade-tool_${version}_amd64.deb" \
    "nv38k-upgrade-tool_${version}_amd64.cdx.json" "$archive-notes.txt"; do
    row "identical: $file" same "$file"
done
for file in "$archive-windows.cdx.json" "$archive-dfu-util.cdx.json"; do
    row "identical but the signed files' hashes: $file" same_sbom "$first/$file" "$second/$file"
done
row "identical but the SBOMs' signed files' hashes: $archive-sources.tar.xz" same_sources
row "the release's signed programs, signatures removed, equal the rebuilt ones" stripped
row "the rebuilt programs signed with the release's certificate, no timestamp" sign_again

rebuild() {
    mkdir -p "$work/unpacked" &&
        tar -xf "$first/$archive-sources.tar.xz" -C "$work/unpacked" &&
        NV38K_WINDOWS_CACHE=$work/cache unshare --net \
            "$work/unpacked/$archive-sources/rebuild.sh" "$work/rebuilt" >"$work/rebuild.log" 2>&1
}
started=$SECONDS
row "rebuild.sh from the sources archive in $work/unpacked, with no network" rebuild
echo "      $suite  (the rebuild took $((SECONDS - started)) s)"
for file in "${programs[@]}"; do
    row "identical: rebuilt $file" cmp "$first/trees/windows/$file" "$work/rebuilt/$file"
done
