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
# Usage: scripts/test.sh [--sanitize | --windows | --packages]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments --sanitize --windows --packages -- "$@"
[[ $# -le 1 ]] || { echo "test.sh: one mode at a time (see --help)" >&2; exit 2; }
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}" "${desktop_packages[@]}"

mode=${1:-}
[[ $mode != --packages ]] || exec tests/packages/run.sh
preset=tests
[[ $mode != --sanitize ]] || preset=sanitize
if [[ $mode == --windows ]]; then
    build=build/windows-tests
    # The test servers' root is compiled in, as a release build's extra root is.
    certs=$PWD/$build/certs
    [[ -f $certs/weakkey.pem ]] || scripts/make-certs.sh "$certs" firmware.nv38k.example
    # With the benchmarks that build for Windows, as bench/run.sh --windows does.
    options=(-DBUILD_TESTING=ON -DNV38K_BENCH=ON -DNV38K_TRUSTED_CA="$certs/ca.pem")
    scripts/install-deps.sh "${windows_packages[@]}"
    scripts/build-windows.sh
    scripts/check-windows-exe.sh build/windows/nv38k-upgrade-tool.exe
    tests/windows/toolchain.sh
    NV38K_WINDOWS_BUILD=$build scripts/build-windows.sh "${options[@]}"
    # The tests share one Wine prefix and one wineserver, both ready before
    # the first test starts: test programs that start Wine together can hang.
    scripts/wine-run.sh
    # It refuses when one runs for this prefix already, which does as well.
    WINEPREFIX=$PWD/build/wine wineserver --persistent=60 || true
    xvfb-run -a -s "-screen 0 1024x768x24" \
        ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
    # The tool with files planted where other users could put them, traced.
    tests/windows/hardening.sh
    # A security fix installed through the tool's own update.
    tests/windows/selfupdate.sh
    exit
fi
# The tests' build builds the benchmarks too (without running them), so
# that none of them rots.
scripts/install-deps.sh "${bench_packages[@]}"
# What anyone can run once the packages are there.
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --parallel "$(nproc)"
ctest --preset "$preset" --parallel "$(nproc)"
