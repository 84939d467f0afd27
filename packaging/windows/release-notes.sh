#!/usr/bin/env bash
# Prints the release notes of the Windows programs in BUILD_DIR (as
# scripts/package.sh made them): the Debian source packages they are built
# from, and which of those pins lagged behind Debian when the release was
# made (BUILD_DIR/windows-lagging-pins.txt). With --lagging, only the latter,
# as the sources archive's BUILDING.txt says it too.
# Usage: packaging/windows/release-notes.sh [--lagging] BUILD_DIR
set -euo pipefail
only_lagging=no
[[ ${1:-} != --lagging ]] || { only_lagging=yes; shift; }
build=${1:?usage: $0 [--lagging] BUILD_DIR}
if [[ $only_lagging == no ]]; then
    echo "NV38K upgrade tool $(cat "$build/nv38k-version.txt")"
    echo
    echo "The Windows programs are built from these Debian source packages:"
    while read -r _ package version _; do
        echo "  $package $version"
    done <"$build/windows-sources.txt"
    echo
fi
if [[ -s $build/windows-lagging-pins.txt ]]; then
    echo "Released behind Debian: when this release was made, Debian had newer versions"
    echo "of these, which are security fixes; the release does not carry them:"
    while read -r package pinned newest; do
        echo "  $package $pinned (Debian had $newest)"
    done <"$build/windows-lagging-pins.txt"
else
    echo "Each was Debian's newest version when this release was made."
fi
