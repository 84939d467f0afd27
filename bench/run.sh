#!/usr/bin/env bash
# Measures the tool against what a user would otherwise use, side by side in
# one run, and prints a table: start-up against a bare Qt window, the
# information round trip, the firmware download and `nv38k-publish check`
# against curl, all from a local nginx over HTTPS, and the parsers' growth
# with input size. With --windows also the Windows build: the .exe's size
# and its start-up under Wine, against a bare window built the same way.
# Usage: bench/run.sh [--windows] [RUNS]   (medians of RUNS runs each, default 15)
set -euo pipefail
cd "$(dirname "$0")/.."
windows=false
if [[ ${1:-} == --windows ]]; then
    windows=true
    shift
fi
runs=${1:-15}
source scripts/packages.sh
source scripts/start-nginx.sh
# libssl-dev: nv38k-publish hashes with OpenSSL's SHA-256 when it is there.
scripts/install-deps.sh "${build_packages[@]}" "${font_packages[@]}" "${server_packages[@]}" \
    curl libbenchmark-dev libssl-dev xvfb xauth

work=$PWD/build/bench
mkdir -p "$work"
port=$(pick_port "$work/port")
[[ -f $work/pki/signing.pub ]] || scripts/make-certs.sh "$work/pki" localhost
cmake --preset release -B "$work/build" -DNV38K_BENCH=ON \
    -DNV38K_FIRMWARE_HOST="localhost:$port" -DNV38K_TRUSTED_CA="$work/pki/ca.pem" \
    -DNV38K_BENCH_SIGNING_KEY="$work/pki/signing.pub" >/dev/null
cmake --build "$work/build" --parallel "$(nproc)" >/dev/null
bin=$work/build/bench

served=$(demo/make-sample-firmware.sh "$work/www" "$work/build/publish/nv38k-publish" \
    "$work/pki/signing.key" 2>/dev/null)
small=$work/firmware-170k.nv
large=$work/firmware-16m.nv
cp "$served" "$small"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$large"
run=$work/run
mkdir -p "$run/bin/x64"
# The window's dfu-util is a stand-in that prints what Debian's dfu-util prints
# for the emulated keyboard, so that the download leaves dfu-util aside; the
# listing itself is measured on its own, against the stand-in.
emulated=$work/build/demo/keyboards/keyboard/dfu-util-static
"$emulated" -l >"$work/listing.txt"
export FAKE_DFU_LISTING=$work/listing.txt
cp "$work/build/testkit/fake_dfu_util" "$run/bin/x64/dfu-util-static"

trap stop_nginx EXIT
trap 'exit 130' INT TERM
start_nginx "$port" "$work/www" "$work/pki/server.pem" "$work/pki/server.key" "$work/nginx"
base=https://localhost:$port/NV38Firmware/N3KFirmware
curl_get() { echo curl -sS --fail --cacert "$work/pki/ca.pem" -o "$1" "$2"; }

# Everything with a window runs on one virtual X server.
xvfb=(xvfb-run -a -s "-screen 0 1024x768x24")

read -r emulated_ms _ stand_in_ms _ < <("$bin/bench_command" "$runs" "$emulated" -l \
    --vs "$work/build/testkit/fake_dfu_util")
read -r tool_start bare_start < <("${xvfb[@]}" "$bin/bench_startup" "$runs" 2>>"$work/bench.log")

if $windows; then
    # The same programs cross-built, and started inside Wine by a Windows
    # bench_startup.exe. A persistent wineserver keeps Wine's own start-up
    # out of the figures; the warm-up run boots the prefix.
    windows_build=$work/windows
    NV38K_WINDOWS_BUILD=$windows_build scripts/build-windows.sh -DNV38K_BENCH=ON \
        >"$work/windows-build.log" 2>&1 || { tail -n 20 "$work/windows-build.log" >&2; exit 1; }
    export WINEPREFIX=$work/wine WINEARCH=win32
    scripts/wine-run.sh
    read -r win_tool_start win_bare_start < <("${xvfb[@]}" bash -c \
        'wineserver --persistent=60 && scripts/wine-run.sh "$1" "$2"; status=$?; wineserver -k; exit $status' \
        _ "$windows_build/bench/bench_startup.exe" "$runs" 2>>"$work/bench.log" | tr -d '\r')
    mib() { awk -v bytes="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", bytes / 1048576 }'; }
    win_tool_mib=$(mib "$windows_build/nv38k-upgrade-tool.exe")
    win_bare_mib=$(mib "$windows_build/bench/bench_startup_bare.exe")
fi
cd "$run"
# The window and its reference in turn, so that both see the machine's load alike.
read -r tool_info curl_info curl_info_kib < <("${xvfb[@]}" "$bin/bench_use" information "$runs" \
    --vs $(curl_get /dev/null "$base/Version.txt") 2>>"$work/bench.log")
# Both of the release's files, each side in one process over one connection;
# check runs in turn with each of the two others.
check=("$work/build/publish/nv38k-publish" check "$base/")
read -r check_ms check_kib curl_two_ms curl_two_kib < <("$bin/bench_command" "$runs" "${check[@]}" \
    --vs $(curl_get /dev/null "$base/Version.txt") -o /dev/null "$base/$(basename "$served")")
read -r check_qt_ms _ qt_two_ms qt_two_kib < <("$bin/bench_command" "$runs" "${check[@]}" \
    --vs "$bin/bench_fetch" "$work/pki/ca.pem" "$base/Version.txt" "$base/$(basename "$served")")

download() { # firmware-file
    cp "$1" "$served"
    # curl -o, followed by an fsync of its file: as durable as the tool's
    # save. Like the tool, curl writes a new file each run, not over the last.
    local curl=(--fresh "$work/curl.out" $(curl_get "$work/curl.out" "$base/$(basename "$served")"))
    read -r tool_ms tool_kib synced_ms _ < <("${xvfb[@]}" "$bin/bench_use" download "$runs" \
        "$(stat -c %s "$1")" --vs --fsync "$work/curl.out" "${curl[@]}" 2>>"$work/bench.log")
    read -r curl_ms curl_kib < <("$bin/bench_command" "$runs" "${curl[@]}")
    cmp -s "$work/curl.out" "$1"
    echo "$tool_ms $tool_kib $curl_ms $curl_kib $synced_ms"
}
read -r small_tool small_tool_kib small_curl small_curl_kib small_synced < <(download "$small")
read -r large_tool large_tool_kib large_curl large_curl_kib large_synced < <(download "$large")
cp "$small" "$served"
# The 170 KB release is signed: the build that checks its signature against
# the same build without the check. Each times its clicks inside one process,
# so they take turns in rounds instead of run for run.
size=$(stat -c %s "$small")
signed_rounds=()
unsigned_rounds=()
for _ in 1 2 3 4 5; do
    round() { # program
        "${xvfb[@]}" "$1" download "$(((runs + 4) / 5))" "$size" 2>>"$work/bench.log" | cut -d' ' -f1
    }
    signed_rounds+=("$(round "$bin/bench_use_signed")")
    unsigned_rounds+=("$(round "$bin/bench_use")")
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
signed_tool=$(median "${signed_rounds[@]}")
unsigned_tool=$(median "${unsigned_rounds[@]}")
cd - >/dev/null

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GiB; $(date -u +%F)"
echo "Medians of $runs runs; times in ms, memory in KiB."
echo
printf '| %-44s | %10s | %10s | %6s | %s |\n' "measure" "tool" "reference" "ratio" "goal"
printf '|%s|%s|%s|%s|%s|\n' "----------------------------------------------" "------------" "------------" "--------" "------"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "start-up to first frame (bare QWidget)" "$tool_start" "$bare_start" "$(ratio "$tool_start" "$bare_start")" "≤ 1.10"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "information round trip (curl)" "$tool_info" "$curl_info" "$(ratio "$tool_info" "$curl_info")" "report"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "nv38k-publish check (curl, both files)" "$check_ms" "$curl_two_ms" "$(ratio "$check_ms" "$curl_two_ms")" "≤ 1.00"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "nv38k-publish check (bare Qt GETs)" "$check_qt_ms" "$qt_two_ms" "$(ratio "$check_qt_ms" "$qt_two_ms")" "report"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "download 170 KB, wall (curl -o)" "$small_tool" "$small_curl" "$(ratio "$small_tool" "$small_curl")" "≤ 1.30"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "download 16 MiB, wall (curl -o)" "$large_tool" "$large_curl" "$(ratio "$large_tool" "$large_curl")" "report"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "download 170 KB, wall (curl -o, fsync)" "$small_tool" "$small_synced" "$(ratio "$small_tool" "$small_synced")" "report"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "download 16 MiB, wall (curl -o, fsync)" "$large_tool" "$large_synced" "$(ratio "$large_tool" "$large_synced")" "≤ 1.30"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "download 170 KB, signature checked (not)" "$signed_tool" "$unsigned_tool" "$(ratio "$signed_tool" "$unsigned_tool")" "≤ 1.10"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "download 170 KB, peak above idle (body)" "$small_tool_kib" "170" "$(ratio "$small_tool_kib" 170)" "≤ 2"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "download 16 MiB, peak above idle (body)" "$large_tool_kib" "16384" "$(ratio "$large_tool_kib" 16384)" "≤ 2"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "dfu-util -l, keyboard emulated (stand-in)" "$emulated_ms" "$stand_in_ms" "$(ratio "$emulated_ms" "$stand_in_ms")" "< 1000 ms"
printf '| %-44s | %10s | %10s | %6s | %s |\n' "curl -o peak memory, 170 KB / 16 MiB" "" "$small_curl_kib / $large_curl_kib" "" ""
if $windows; then
    printf '| %-44s | %10s | %10s | %6s | %s |\n' "Windows: start-up under Wine (bare QWidget)" "$win_tool_start" "$win_bare_start" "$(ratio "$win_tool_start" "$win_bare_start")" "report"
    printf '| %-44s | %10s | %10s | %6s | %s |\n' "Windows: .exe MiB, stripped (bare QWidget)" "$win_tool_mib" "$win_bare_mib" "$(ratio "$win_tool_mib" "$win_bare_mib")" "report"
fi
echo
echo "Parsers (Google Benchmark, CPU time per call):"
"$bin/bench_parsers" --benchmark_min_time=0.05 2>/dev/null | grep -E '^(parse|judge|verify|-)' | grep -v '^-'
