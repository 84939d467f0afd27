#!/usr/bin/env bash
# Writes the demo's firmware server tree into ROOT: Version.txt (GBK, CR LF)
# and the firmware image it names, a deterministic 170 KB pseudo-random file,
# the size of the keyboard's flash. Prints the firmware file's path.
set -euo pipefail
root=$1
dir=$root/NV38Firmware/N3KFirmware
model=NV38K
version=1.6
mkdir -p "$dir"

printf '%s\r\n' "[Device]=$model" "[Version]=$version" \
    "[Desc]=修复部分按键偶发失灵的问题" \
    "[Desc]=提升USB连接的稳定性" \
    "[Desc]=新增两种背光灯效" |
    iconv -f UTF-8 -t GBK >"$dir/Version.txt"

# AES-CTR over zeros with a fixed key: the same bytes on every machine.
head -c $((170 * 1024)) /dev/zero |
    openssl enc -aes-128-ctr -nosalt -K 4e5633384b2d64656d6f2d696d616765 \
        -iv 00000000000000000000000000000000 >"$dir/${model}_${version}.nv"
echo "$dir/${model}_${version}.nv"
