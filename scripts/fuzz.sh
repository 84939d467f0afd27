#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for SECONDS (default 60) from the
# seed corpus in fuzz/corpus. Prints each target's final statistics.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments '[1-9]*' -- "$@"
cd "$(dirname "$0")/.."
seconds=${1:-60}
source scripts/packages.sh
scripts/install-deps.sh "${build_packages[@]}" clang-14 libclang-rt-14-dev

build=build/fuzz
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fuzz_versioninfo fuzz_dfulisting

for name in versioninfo dfulisting; do
    corpus=$build/corpus/$name
    mkdir -p "$corpus"
    echo "== fuzz_$name for ${seconds}s"
    "$build/fuzz/fuzz_$name" "$corpus" "fuzz/corpus/$name" -dict="fuzz/$name.dict" \
        -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 2>"$build/fuzz_$name.log" || {
        tail -50 "$build/fuzz_$name.log"
        exit 1
    }
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
        "$build/fuzz_$name.log"
done
