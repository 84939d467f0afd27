#!/usr/bin/env bash
# Tries a security update of a pinned source package end to end, as
# SECURITY.md describes it, in the clone and copied cache that
# tests/packages/reproduce.sh left in WORK: a new dfu-util source package
# made here (the pinned one with a changelog entry more) is served from a
# local apt repository, which alone apt sees (APT_CONFIG); then
# scripts/package.sh refuses to release behind it,
# scripts/update-source-pins.sh dfu-util moves the pin, the move is
# committed, and scripts/package.sh builds the packages again in that
# clone, as a maintainer's clone would, over the build that reproduce.sh
# made there: only what the moved pin changes is built anew. The SBOM, the
# notices and BUILDING.txt must all name the new version, and the SBOMs
# still pass tests/packages/sbom.sh. Prints one line per row; stops at the
# first that fails. PACKAGE_SH_ARGUMENTS are the release's settings.
# Usage: tests/packages/update.sh WORK PACKAGE_SH_ARGUMENTS...
set -euo pipefail
reproduced=$(realpath "${1:?usage: $0 WORK PACKAGE_SH_ARGUMENTS...}")
shift
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=update
source "$top/tests/packages/rows.sh"
skip_unless_committed
clone=$reproduced/clone
out=$clone/build/packages
export NV38K_WINDOWS_CACHE=$reproduced/cache
work=$reproduced/update
rm -rf "$work"
mkdir -p "$work/repo" "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts"
package=dfu-util
read -r _ pinned _ < <(grep "^$package " "$clone/packaging/windows/source-pins.txt")
new=$pinned+nv38k1
version=$(cat "$out/trees/windows/nv38k-version.txt")
source "$top/scripts/source-packages.sh"

# The pinned source package with one changelog entry more, as a local
# repository's only source.
make_source() {
    local pinned_dir=$NV38K_WINDOWS_CACHE/debian-sources/$package-${pinned//:/_}
    dpkg-source -x "$pinned_dir/$(dsc_name "$package" "$pinned")" "$work/repo/src" >"$work/source.log" 2>&1 &&
        cp "$pinned_dir"/*.orig.tar.* "$work/repo/" &&
        { printf '%s (%s) bookworm-security; urgency=high\n\n  * A security update made by the update test.\n\n -- %s  %s\n\n' \
            "$package" "$new" "NV38K upgrade tool developers <maintainers@nv38k.example>" \
            "$(date -R -u -d "@$(git -C "$clone" log -1 --format=%ct)")"
          cat "$work/repo/src/debian/changelog"; } >"$work/changelog" &&
        mv "$work/changelog" "$work/repo/src/debian/changelog" &&
        (cd "$work/repo" && dpkg-source -b src && rm -rf src && dpkg-scansources . >Sources) >>"$work/source.log" 2>&1 &&
        printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "%s";\nDir::State::Lists "%s";\nDir::Cache "%s";\n' \
            "$work/apt/sources.list" "$work/apt/parts" "$work/apt/lists" "$work/apt/cache" >"$work/apt.conf" &&
        echo "deb-src [trusted=yes] file:$work/repo ./" >"$work/apt/sources.list"
}
export APT_CONFIG=$work/apt.conf

move_pin() {
    local dsc
    dsc=$(sha256sum <"$work/repo/$(dsc_name "$package" "$new")" | cut -d ' ' -f 1)
    "$clone/scripts/update-source-pins.sh" "$package" >"$work/pins.log" 2>&1 &&
        grep -qx "$package $new $dsc" "$clone/packaging/windows/source-pins.txt" &&
        [[ $(git -C "$clone" diff --numstat | cut -f 1-2) == "1	1" ]] &&
        git -C "$clone" -c user.name=test -c user.email=test@nv38k.example commit -qam "$package $new"
}

build() { NV38K_PACKAGES=$out "$clone/scripts/package.sh" "$@" >"$work/package.log" 2>&1; }
# Before the pin moves, a release is refused, before anything is built.
refused() {
    ! NV38K_PACKAGES=$work/refused "$clone/scripts/package.sh" "$@" >"$work/refused.log" 2>&1 &&
        grep -qxF "  $package: pinned $pinned, the mirror lists $new; scripts/update-source-pins.sh $package moves the pin" \
            "$work/refused.log" && [[ ! -e $work/refused ]]
}

sbom_names() {
    jq -e --arg v "$new" --arg dsc "$(sed -n "s/^$package [^ ]* //p" "$clone/packaging/windows/source-pins.txt")" \
        '.components[] | select(.name == "dfu-util" and .version == $v
            and .externalReferences[0].hashes[0].content == $dsc)' \
        "$out/nv38k-upgrade-tool-$version-dfu-util.cdx.json" >/dev/null
}
notices_name() { grep -qF "(Debian source package $package $new)" "$out/trees/windows/licenses/THIRD-PARTY-NOTICES.txt"; }
building_names() {
    tar -xf "$out/nv38k-upgrade-tool-$version-sources.tar.xz" -C "$work" --wildcards '*/BUILDING.txt' &&
        grep -qx "  $package $new" "$work"/*/BUILDING.txt
}

started=$SECONDS
row "$package $new: a source package made here, in a local apt repository" make_source
row "package.sh refuses while the mirror lists $package $new, naming the command that moves the pin" refused "$@"
row "update-source-pins.sh $package moves the pin to $new, and only that pin" move_pin
row "scripts/package.sh builds from the moved pin" build "$@"
echo "      $suite  (the update's build took $((SECONDS - started)) s)"
row "the SBOM names $package $new and its .dsc's SHA-256" sbom_names
row "the notices name $package $new" notices_name
row "BUILDING.txt names $package $new" building_names
"$top/tests/packages/sbom.sh" "$out"
