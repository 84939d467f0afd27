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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 scripts/windows/debian_sources.py update-pins "$work" "$@"
