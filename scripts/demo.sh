#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the tool and opens its window.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" "${font_packages[@]}"

build=build/demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    scripts/install-deps.sh xvfb xauth
    exec xvfb-run -a "$build/nv38k-upgrade-tool"
fi
exec "$build/nv38k-upgrade-tool"
