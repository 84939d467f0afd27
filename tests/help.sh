#!/usr/bin/env bash
# Each script that users run, given --help, prints its usage and exits with
# 0; given an argument it does not take, it is refused with 2. Either way it
# installs, builds and writes nothing: it runs in a copy of the scripts, laid
# out as in the repository (rebuild.sh as in a sources archive), with a home
# of its own and stubs for apt-get, dpkg-query, cmake, git and sudo that
# record being called. Prints one line per row; stops at the first that fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
suite=help
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$top/tests/packages/rows.sh"

copy=$work/copy
mkdir -p "$copy/tree" "$work/stubs" "$copy/home"
cp -r "$top/scripts" "$top/packaging" "$copy/tree/"
cp "$top/packaging/windows/rebuild.sh" "$copy/"
for stub in apt-get dpkg-query cmake git sudo; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\nexit 1\n' "$stub" "$work/called" >"$work/stubs/$stub"
    chmod +x "$work/stubs/$stub"
done

# Runs SCRIPT ARGUMENT...; true when it exits with STATUS and the copy, its
# home included, is as it was, with no stub called.
exits() {
    local status=$1 script=$2 code=0
    touch "$work/before"
    sleep 0.01
    (cd "$copy" && HOME=$copy/home PATH=$work/stubs:$PATH "./$script" "${@:3}") \
        >"$work/out.log" 2>"$work/err.log" || code=$?
    [[ $code -eq $status && ! -e $work/called && -z $(find "$copy" -newer "$work/before") ]]
}
helps() { exits 0 "$1" --help && grep -q '^Usage: ' "$work/out.log"; }
refuses() { exits 2 "$1" --frob && grep -q 'unknown argument "--frob"' "$work/err.log"; }
# Refused in one line that names the setting and where it is explained.
keyless() { exits 1 "$@" && [[ $(wc -l <"$work/err.log") == 1 ]] &&
    grep -q -- '-DNV38K_TOOL_RELEASE_KEY=.*docs/building.md' "$work/err.log"; }

for script in tree/scripts/{package,build-windows,demo,test,update-source-pins,fuzz,install-deps,check-windows-exe,fresh-ci,plant-faults}.sh \
    tree/packaging/windows/make-packages.sh rebuild.sh; do
    row "${script#tree/} --help: usage, nothing done" helps "$script"
    row "${script#tree/} --frob: refused, nothing done" refuses "$script"
done

# Every package carries a tool release key.
row "package.sh without a tool release key: refused, nothing done" keyless tree/scripts/package.sh \
    -DNV38K_FIRMWARE_HOST=firmware.example.com -DNV38K_TOOL_RELEASE_KEY=
mkdir "$work/keyless" && cd "$work/keyless" && echo 1.5 >nv38k-version.txt && echo 2031-12-31 >nv38k-support-until.txt &&
    : >nv38k-tool-release-keys.txt
row "make-packages.sh of a build without a tool release key: refused, nothing done" keyless \
    tree/packaging/windows/make-packages.sh "$work/keyless" "$work/packages"
