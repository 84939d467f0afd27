#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the tool and its tests, runs the tests.
# With --sanitize, the same under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" "${server_packages[@]}"

build=build/tests
options=()
if [[ ${1:-} == --sanitize ]]; then
    build=build/sanitize
    options=(-DNV38K_SANITIZE=ON)
fi
# The test servers' root is compiled in, as a release build's extra root is.
certs=$PWD/$build/certs
[[ -f $certs/server.pem ]] || scripts/make-certs.sh "$certs" firmware.nv38k.example
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DNV38K_TRUSTED_CA="$certs/ca.pem" "${options[@]}" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
