#!/usr/bin/env bash
# Says whether a release's SBOMs hold COMPONENT at a version in RANGE, as a
# vendor asks when a vulnerability is published: one line per component
# found, "yes" or "no", then exit status 0 if any is in the range, 1 if none
# is, 2 if no SBOM names COMPONENT (check the spelling: such a "no" proves
# nothing). COMPONENT is, in any case, a component's name (a Debian package
# or a part that Qt bundles), its upstream's common name (OpenSSL, Qt, zlib,
# libpng, ...), the product of its CPE (as an NVD advisory names it: pcre2)
# or the name in its purl (libusb-1.0). A package that the Debian package
# only depends on is named, but "not shipped": Debian's updates reach it. RANGE is constraints joined by commas, such as
# '<3.0.21' or '>=3.0.0,<3.0.21', compared as Debian compares versions,
# with the upstream version; with --debian, with the Debian package's version
# instead, as Debian's security tracker gives fixed versions (Debian
# backports fixes without a new upstream version).
# Usage: scripts/sbom-affected.sh [--debian] COMPONENT RANGE [SBOM...]
# The SBOMs are build/packages/*.cdx.json unless named.
set -euo pipefail
usage() { echo "usage: $0 [--debian] COMPONENT RANGE [SBOM...]" >&2; exit 2; }
debian=
[[ ${1:-} != --debian ]] || { debian=1; shift; }
[[ $# -ge 2 ]] || usage
component=$1
wanted=${1,,}
range=$2
shift 2
sboms=("$@")
[[ ${#sboms[@]} -gt 0 ]] || sboms=("$(dirname "$0")"/../build/packages/*.cdx.json)
command -v jq >/dev/null || "$(dirname "$0")/install-deps.sh" jq

declare -A operator=([<]=lt [<=]=le [>]=gt [>=]=ge [=]=eq [!=]=ne)
IFS=, read -r -a constraints <<<"$range"
for constraint in "${constraints[@]}"; do
    [[ $constraint =~ ^(<=|>=|!=|<|>|=)([^[:space:]]+)$ ]] || usage
done
in_range() {
    local constraint
    for constraint in "${constraints[@]}"; do
        [[ $constraint =~ ^(<=|>=|!=|<|>|=)(.+)$ ]]
        dpkg --compare-versions "$1" "${operator[${BASH_REMATCH[1]}]}" "${BASH_REMATCH[2]}" 2>/dev/null || return 1
    done
}

found=0 affected=0
for sbom in "${sboms[@]}"; do
    [[ -f $sbom ]] || { echo "$sbom: no such SBOM" >&2; exit 2; }
    # Each component, parts included: name, upstream name, upstream version,
    # version, CPE product, purl name, range of one not shipped.
    while IFS=$'\x1f' read -r name upstream upstream_version version product purl_name external; do
        named=0
        for one in "$name" "$upstream" "$product" "$purl_name"; do
            [[ ${one,,} != "$wanted" ]] || named=1
        done
        [[ $named -eq 1 ]] || continue
        if [[ -n $external ]]; then
            found=1
            echo "not shipped  $(basename "$sbom")  $name ${external#-} (Debian's package, updated by Debian)"
            continue
        fi
        [[ -n $version ]] || continue
        found=1
        compared=$upstream_version
        [[ -z $debian ]] || compared=$version
        answer=no
        if in_range "$compared"; then
            answer=yes
            affected=1
        fi
        shown="$upstream $upstream_version (Debian $name $version)"
        # A part that Qt bundles has no Debian version of its own.
        [[ $name != "$upstream" || $version != "$upstream_version" ]] || shown="$name $version"
        echo "$answer  $(basename "$sbom")  $shown"
    done < <(jq -r '.. | objects | select(has("components")) | .components[]
                    | [.name, (.pedigree.ancestors[0].name // .name),
                       (.pedigree.ancestors[0].version // .version // ""), (.version // ""),
                       ((.cpe // "") | split(":") | .[4] // ""),
                       ((.purl // "") | sub("[@?#].*"; "") | split("/") | (.[-1] // "") | gsub("%2B"; "+")),
                       (if any(.properties[]?; .name == "nv38k:shipped" and .value == "false")
                        then ([.properties[] | select(.name == "nv38k:debian:version-range").value][0] // "-")
                        else "" end)] | join("\u001f")' "$sbom")
done
[[ $found -eq 1 ]] || { echo "no SBOM names $component: check the name" >&2; exit 2; }
[[ $affected -eq 1 ]]
