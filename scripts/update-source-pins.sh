#!/usr/bin/env bash
# Moves the pins in packaging/windows/source-pins.txt to the newest version of
# each source package (or of those named) that the mirror serves, and prints
# what moved. Commit the change on purpose: the Windows programs are then
# rebuilt from the new sources (for Qt and OpenSSL, Debian's security updates).
# Usage: scripts/update-source-pins.sh [PACKAGE...]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments '[a-z0-9]*' -- "$@"
cd "$(dirname "$0")/.."
source scripts/source-packages.sh
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
ensure_deb_src
"${sudo[@]}" apt-get update -qq

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wanted=" $* "
while IFS= read -r line; do
    read -r package version _ <<<"$line"
    if [[ -z $package || $package == \#* || ($# -gt 0 && $wanted != *" $package "*) ]]; then
        printf '%s\n' "$line"
        continue
    fi
    # A mirror can list a version that it does not serve yet.
    moved=
    while read -r candidate; do
        if download_source "$package" "$candidate" "$work/$package"; then
            moved=$candidate
            break
        fi
        echo "The mirror lists $package $candidate but does not serve it" >&2
    done < <(source_versions "$package")
    [[ -n $moved ]] || { echo "The mirror serves no version of $package" >&2; exit 1; }
    sha256=$(sha256sum <"$work/$package/$(dsc_name "$package" "$moved")" | cut -d ' ' -f 1)
    [[ $moved == "$version" ]] || echo "$package: $version -> $moved" >&2
    echo "$package $moved $sha256"
done <"$pins_file" >"$work/pins"
cp "$work/pins" "$pins_file"
