#!/usr/bin/env bash
# Publishes the demo's release into the firmware server tree under ROOT with
# `nv38k-publish release` (PUBLISH is that program): Version.txt and the
# firmware image it names, a deterministic 170 KB pseudo-random file, the
# size of the keyboard's flash; with SIGNING_KEY, its signature too. Prints the
# firmware file's path.
# Usage: make-sample-firmware.sh ROOT PUBLISH [SIGNING_KEY]
set -euo pipefail
# Standard output is the path alone, whatever the steps below say: they all
# write to standard error, and only the last line goes to the saved stdout.
exec 3>&1 1>&2
root=$1
publish=$2
signing=()
[[ -z ${3:-} ]] || signing=(--signing-key "$3")
dir=$root/NV38Firmware/N3KFirmware
model=NV38K
version=1.6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%s\n' 修复部分按键偶发失灵的问题 提升USB连接的稳定性 新增两种背光灯效 >"$work/notes.txt"

# AES-CTR over zeros with a fixed key: the same bytes on every machine.
head -c $((170 * 1024)) /dev/zero |
    openssl enc -aes-128-ctr -nosalt -K 4e5633384b2d64656d6f2d696d616765 \
        -iv 00000000000000000000000000000000 >"$work/firmware.nv"

"$publish" release --model "$model" --version "$version" --notes "$work/notes.txt" \
    --firmware "$work/firmware.nv" --out "$dir" "${signing[@]}"
echo "$dir/${model}_${version}.nv" >&3
