#!/usr/bin/env bash
# Builds the artefacts users install from, into build/packages (or
# $NV38K_PACKAGES): the Windows installer and portable zip, the Debian
# package, the Windows programs' corresponding source, and the CycloneDX
# SBOMs of the Windows tool, its dfu-util and the Debian package (*.cdx.json,
# in the sources archive too). Arguments go to
# both builds' CMake configure step, as for scripts/build-windows.sh, e.g.
# -DNV38K_FIRMWARE_HOST=... -DNV38K_TRUSTED_CA=...; -DNV38K_TOOL_RELEASE_KEY=...
# is required, since every package carries a tool release key. The same commit and
# arguments give the same files, wherever and whenever they are built; with
# NV38K_SIGN_PKCS12 and its password in the environment the Windows programs
# are signed (packaging/windows/sign.sh), and what was signed is listed.
# It refuses while the mirror lists a newer version of a source package that
# packaging/windows/source-pins.txt pins (Debian's stable updates are
# security fixes), naming each and the command that moves its pin.
# --accept-lagging-pins releases anyway and says which pins lagged in the
# release notes (OUT/nv38k-upgrade-tool-VERSION-notes.txt) and the SBOMs.
# --lagging-pins-record=FILE asks no mirror and records FILE's lines as
# the pins that lagged: a rebuild of a release (its BUILDING.txt) passes the
# release's own record.
# Usage: scripts/package.sh [--accept-lagging-pins | --lagging-pins-record=FILE] [-DNAME=VALUE...]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments '-D?*' --accept-lagging-pins '--lagging-pins-record=?*' -- "$@"
accept_lagging=no record= tool_release_key=
configure=()
for argument in "$@"; do
    case $argument in
    --accept-lagging-pins) accept_lagging=yes ;;
    --lagging-pins-record=*) record=$(realpath "${argument#*=}") ;;
    -DNV38K_TOOL_RELEASE_KEY=* | -DNV38K_TOOL_RELEASE_KEY:*=*) tool_release_key=${argument#*=} ;&
    *) configure+=("$argument") ;;
    esac
done
set -- "${configure[@]}"
# Before anything is installed or built; cpack and make-packages.sh refuse
# such a build too.
[[ -n $tool_release_key ]] || {
    echo "package.sh: every package needs a tool release key; pass -DNV38K_TOOL_RELEASE_KEY=FILE" \
        "(see docs/building.md)" >&2
    exit 1
}
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" "${deb_packages[@]}" nsis zip osslsigncode

# Lines "PACKAGE PINNED NEWEST", before anything is built.
if [[ -n $record ]]; then
    lagging=$(cat "$record")
else
    lagging=$(python3 scripts/windows/debian_sources.py lagging)
    if [[ -n $lagging && $accept_lagging == no ]]; then
        {
            echo "package.sh: Debian has newer versions of source packages that the Windows programs are built from:"
            while read -r package pinned newest; do
                echo "  $package: pinned $pinned, the mirror lists $newest;" \
                    "scripts/update-source-pins.sh $package moves the pin"
            done <<<"$lagging"
            echo "Move the pins, commit and test, then release from that commit (docs/releasing.md, step 1)."
            echo "To release anyway, run package.sh with --accept-lagging-pins: the release notes and the SBOMs say which pins lagged."
        } >&2
        exit 1
    fi
fi
# Every time stamp that the build writes is the commit's.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

out=${NV38K_PACKAGES:-build/packages}
mkdir -p "$out"
out=$(realpath "$out")
trees=$out/trees

linux=$trees/linux
cmake --preset release -B "$linux" -DCMAKE_INSTALL_PREFIX=/usr "$@" >/dev/null
cmake --build "$linux" --parallel "$(nproc)"
rm -rf "$linux/cpack"
(cd "$linux" && cpack -G DEB -B "$linux/cpack" >/dev/null)
deb=$(echo "$linux"/cpack/*.deb)
# CPack writes its archive members in the order it finds them; dpkg-deb
# sorts them, clamps their times to SOURCE_DATE_EPOCH and makes root the owner.
rm -rf "$linux/deb-root"
dpkg-deb -R "$deb" "$linux/deb-root"
dpkg-deb --root-owner-group -Zxz --build "$linux/deb-root" "$out/$(basename "$deb")" >/dev/null
# Errors fail the build; warnings are shown.
lintian --fail-on error "$out/$(basename "$deb")"

NV38K_WINDOWS_BUILD=$trees/windows scripts/build-windows.sh "$@"
# Read by the SBOMs, the notes and the sources archive.
printf '%s' "$lagging${lagging:+$'\n'}" >"$trees/windows/windows-lagging-pins.txt"
packaging/windows/make-packages.sh "$trees/windows" "$out"
# The SBOMs are the .cdx.json files it writes, not what it prints.
rm -f "$out"/*.cdx.json
python3 packaging/sbom.py "$trees/windows" "$out" "$out/$(basename "$deb")"
sboms=("$out"/*.cdx.json)
packaging/windows/make-sources.sh "$trees/windows" "$out" "${sboms[@]}"
packaging/windows/release-notes.sh "$trees/windows" >"$out/nv38k-upgrade-tool-$(cat "$trees/windows/nv38k-version.txt")-notes.txt"
ls -l "$out"/*.deb "$out"/*.exe "$out"/*.zip "$out"/*.tar.xz "$out"/*.cdx.json "$out"/*-notes.txt
