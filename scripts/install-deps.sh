#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not yet
# installed; does nothing when all are there.
# Usage: scripts/install-deps.sh PACKAGE...
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments '[a-z0-9]*' -- "$@"

missing=()
find_missing() {
    missing=()
    for package in "$@"; do
        # One line per installed architecture (libssl3 and libssl3:i386 once
        # Wine is there); any of them will do.
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -qx 'install ok installed' ||
            missing+=("$package")
    done
}
find_missing "$@"
[[ ${#missing[@]} -eq 0 ]] && exit 0
# One install at a time, with scripts/windows/debian_sources.py's apt runs
# too (CI builds the Windows toolchain beside the Linux stages); what another
# installed meanwhile is not installed again.
lock=${TMPDIR:-/tmp}/nv38k-apt.lock
{ exec 9>>"$lock"; } 2>/dev/null || exec 9<"$lock"
flock 9
find_missing "$@"
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ! { "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq &&
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }; then
    echo "Could not install these Debian packages; install them, then run this again: ${missing[*]}" >&2
    exit 1
fi
