#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the tool and its tests, runs the tests.
# With --sanitize, the same under AddressSanitizer and UndefinedBehaviorSanitizer.
# With --windows, the same suites cross-built for 32-bit Windows and run
# under Wine (see scripts/build-windows.sh), the release .exe checked, and
# the tool used with files planted where other users could put them
# (tests/windows/hardening.sh), and the tool's own update installed
# (tests/windows/selfupdate.sh).
# With --packages, a signed release made by docs/releasing.md ("Releasing,
# step by step") in a clone of the commit (commit changes first), its packages
# installed and used as a user would, and rebuilt and compared
# (tests/packages/run.sh).
# Each is a stage of ci/CMakeLists.txt, whose steps CTest runs in order;
# several may be named, and --all runs every stage, as CI does (.ci/run).
# Usage: scripts/test.sh [--linux] [--sanitize] [--fuzz] [--windows] [--packages] [--all]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments --linux --sanitize --fuzz --windows --packages --all -- "$@"
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}" "${desktop_packages[@]}"
# The tests' build builds the benchmarks too (without running them), so
# that none of them rots.
scripts/install-deps.sh "${bench_packages[@]}"
stages=("${@:---linux}")
labels=()
for stage in "${stages[@]}"; do
    case $stage in
    --all) scripts/install-deps.sh "${ci_packages[@]}" ;;
    --windows) scripts/install-deps.sh "${windows_packages[@]}" ;;
    esac
    labels+=("${stage#--}")
done
# --all picks no label: every step runs.
selected=(-L "^($(IFS='|'; echo "${labels[*]}"))\$")
[[ " ${labels[*]} " != *" all "* ]] || selected=()
cd ci
cmake --preset ci >/dev/null
ctest --preset ci --parallel $(($(nproc) + 1)) "${selected[@]}"
