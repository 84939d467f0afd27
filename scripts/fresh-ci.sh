#!/usr/bin/env bash
# Runs .ci/run as CI does, on a machine that has never seen this project: a
# new minimal Debian 12 root (debootstrap, from this machine's own Debian apt
# entries, with git and the CA certificates), a clean clone of COMMIT
# (default HEAD) in it at /work/main and ../shared beside it, run as root
# with CI=true and no standard input. Nothing of this machine's caches, apt
# settings or installed packages goes in; what it has for reaching the
# package registries does: its CA bundle, NODE_EXTRA_CA_CERTS and npm's
# settings, and its name resolution. /proc, /sys, /dev, /dev/pts and /dev/shm
# are bound in for Wine, Xvfb, umockdev and nginx. Prints how long the run
# took; the root stays in $NV38K_FRESH_ROOT (default /var/tmp/nv38k-fresh/root)
# until the next run, debootstrap's downloads in $NV38K_FRESH_ROOT/../tarballs.
# A change to install steps, scripts/windows/, packaging/ or .ci/run is
# checked with this before it lands. STAGEs pick stages of .ci/run, as its
# own arguments do. Needs root (or sudo) and about 20 GB.
# With --older, the root starts from an older package state, as a new
# machine's image does: a handful of libraries that Wine's i386 half has
# twins of (and their tools) are installed at Debian 12's point-release
# versions, behind the security updates the mirror also serves, so that a
# run which installs packages between its stages upgrades them there.
# Usage: scripts/fresh-ci.sh [--older] [COMMIT [STAGE...]]
set -euo pipefail
# Read whole before it runs: a checkout may change this file meanwhile.
{
source "$(dirname "$0")/usage.sh"
take_arguments --older '[0-9a-zA-Z]*' -- "$@"
cd "$(dirname "$0")/.."
top=$PWD
if [[ $(id -u) -ne 0 ]]; then
    exec sudo NV38K_FRESH_ROOT="${NV38K_FRESH_ROOT:-}" "$0" "$@"
fi
older=no
[[ ${1:-} != --older ]] || { older=yes; shift; }
commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
stages=("${@:2}")
root=$(realpath -m "${NV38K_FRESH_ROOT:-/var/tmp/nv38k-fresh/root}")
shared=$top/../shared
[[ -d $shared ]] || { echo "fresh-ci.sh: no $shared to lay beside the clone" >&2; exit 1; }
scripts/install-deps.sh debootstrap

# Nothing may be mounted under the root when it is removed: rm would reach
# the machine's own /dev and /proc through it.
unmount() {
    local mounts
    mounts=$(findmnt -rn -o TARGET | grep -F "$root/" | sort -r) || true
    [[ -z $mounts ]] || umount -l $mounts
}
remove_root() {
    unmount
    if findmnt -rn -o TARGET | grep -qF "$root/"; then
        echo "fresh-ci.sh: still mounted under $root; not removing it" >&2
        exit 1
    fi
    rm -rf --one-file-system "$root"
}
echo "fresh-ci.sh: a new Debian 12 root in $root"
remove_root
trap unmount EXIT
mkdir -p "$root"
python3 scripts/windows/debian_sources.py new-root "$root" "$(dirname "$root")/tarballs"

# This machine's CA bundle may hold roots that reaching the registries needs;
# the root's own update-ca-certificates keeps them as a local certificate.
install -D -m 644 /etc/ssl/certs/ca-certificates.crt "$root/usr/local/share/ca-certificates/machine.crt"
install -m 644 /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
for file in /etc/npmrc /usr/etc/npmrc /etc/resolv.conf /etc/hosts; do
    [[ ! -f $file ]] || install -D -m 644 "$file" "$root$file"
done

git clone -q --no-local "$top" "$root/work/main"
git -C "$root/work/main" checkout -q --detach "$commit"
cp -r "$shared" "$root/work/shared"

for dir in proc sys dev dev/pts dev/shm; do
    mkdir -p "$root/$dir"
    mount --bind "/$dir" "$root/$dir"
done

in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive "$@" </dev/null
}
if [[ $older == yes ]]; then
    echo "fresh-ci.sh: an older package state, from the bookworm suite alone:"
    in_root apt-get update -qq
    in_root apt-get install -y -qq --no-install-recommends -t bookworm \
        xz-utils liblzma5 openssl libssl3 zlib1g libzstd1 libpcre2-8-0 libexpat1 libglib2.0-0 >/dev/null
    in_root dpkg-query -W xz-utils liblzma5 openssl libssl3 zlib1g libzstd1 libpcre2-8-0 libexpat1 libglib2.0-0
fi

echo "fresh-ci.sh: .ci/run of $commit in $root"
started=$SECONDS
status=0
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb CI=true NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt \
    bash -c 'cd /work/main && exec .ci/run "$@"' run "${stages[@]}" </dev/null || status=$?
elapsed=$((SECONDS - started))
printf 'fresh-ci.sh: .ci/run of %s on a fresh Debian 12 root %s in %d:%02d\n' "${commit:0:12}" \
    "$([[ $status -eq 0 ]] && echo passed || echo "failed ($status)")" $((elapsed / 60)) $((elapsed % 60))
exit "$status"
}
