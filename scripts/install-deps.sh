#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not yet
# installed; does nothing when all are there. NAME:ARCH adds dpkg's
# architecture ARCH when it is missing.
# Usage: scripts/install-deps.sh PACKAGE...
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments '[a-z0-9]*' -- "$@"

source "$(dirname "$0")/packages.sh"
missing=()
backported=()
find_missing() {
    local package pair version
    missing=() backported=()
    for package in "$@"; do
        for pair in "${backported_packages[@]}"; do
            [[ ${pair%%=*} == "$package" ]] || continue
            version=$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || true)
            if [[ -z $version ]] || dpkg --compare-versions "$version" lt "${pair#*=}"; then
                backported+=("$package")
                continue 2
            fi
        done
        # One line per installed architecture (libssl3 and libssl3:i386 once
        # Wine is there); any of them will do.
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -qx 'install ok installed' ||
            missing+=("$package")
    done
}
find_missing "$@"
[[ ${#missing[@]} -eq 0 && ${#backported[@]} -eq 0 ]] && exit 0
if [[ ${#backported[@]} -gt 0 ]]; then
    # The backports entry is made from this machine's own, by Python, which
    # takes the lock below itself.
    command -v python3 >/dev/null || "$0" python3
    python3 "$(dirname "$0")/windows/debian_sources.py" ensure-backports
fi
# One install at a time, with scripts/windows/debian_sources.py's apt runs
# too (CI builds the Windows toolchain beside the Linux stages); what another
# installed meanwhile is not installed again.
# The lock is in /run, where only root makes files: another user can neither
# plant it nor hold it.
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
lock=/run/nv38k-apt.lock
[[ -f $lock ]] || "${sudo[@]}" touch "$lock"
exec 9<"$lock"
flock 9
find_missing "$@"
[[ ${#missing[@]} -eq 0 && ${#backported[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}${missing[*]:+ }${backported[*]}"
export DEBIAN_FRONTEND=noninteractive
# A package of another architecture (wine32:i386) needs that architecture
# added first; under the lock, as two stages may ask for it at once.
for package in "${missing[@]}"; do
    arch=${package#*:}
    if [[ $arch != "$package" ]] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        "${sudo[@]}" dpkg --add-architecture "$arch"
    fi
done
# A mirror in the middle of a sync serves an index that does not match its
# Release file for a few minutes: apt-get update fails, and a later try passes.
update() {
    local try
    for try in 1 2 3 4 5; do
        "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq && return 0
        [[ $try -eq 5 ]] || { echo "apt-get update failed; trying again in a minute" >&2; sleep 60; }
    done
    return 1
}
if ! { update &&
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null &&
    { [[ ${#backported[@]} -eq 0 ]] || "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends -t bookworm-backports "${backported[@]}" >/dev/null; }; }; then
    echo "Could not install these Debian packages; install them, then run this again:" \
        "${missing[*]} ${backported[*]/%/ (from bookworm-backports)}" >&2
    exit 1
fi
