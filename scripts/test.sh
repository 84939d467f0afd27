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
# Each is a stage of ci/CMakeLists.txt, whose steps CTest runs in order.
# Usage: scripts/test.sh [--sanitize | --windows | --packages]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments --sanitize --windows --packages -- "$@"
[[ $# -le 1 ]] || { echo "test.sh: one mode at a time (see --help)" >&2; exit 2; }
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}" "${desktop_packages[@]}"
# The tests' build builds the benchmarks too (without running them), so
# that none of them rots.
scripts/install-deps.sh "${bench_packages[@]}"
stage=${1:---linux}
[[ $stage != --windows ]] || scripts/install-deps.sh "${windows_packages[@]}"
cd ci
cmake --preset ci >/dev/null
ctest --preset ci --parallel $(($(nproc) + 1)) -L "^${stage#--}\$"
