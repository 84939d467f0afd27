#!/usr/bin/env bash
# Plants each fault of tests/faults/faults.txt in turn: changes one line in
# place, rebuilds the tests incrementally (cmake --build --preset tests),
# runs them (ctest --preset tests, stopping at the first failure) and puts
# the line back. A fault is caught when some test failed, survived when all
# passed, and unbuilt when the build failed. Prints one line a fault and a
# summary; exits with 1 when a fault survived. The tree is restored even when
# interrupted. Needs a configured build (cmake --preset tests).
# Usage: scripts/plant-faults.sh [--check] [--only=GLOB]... [--exclude=REGEX] [--faults=FILE]
#   --check          only check that each fault's line occurs once, as written
#   --only=GLOB      plant only the faults whose name matches GLOB
#   --exclude=REGEX  the tests not run, as ctest -E takes it; by default the
#                    slow ones that start desktops and the tool whole:
#                    ^(accessibility|tst_endtoend)$
#   --faults=FILE    another list, in the same form
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments --check '--only=*' '--exclude=*' '--faults=*' -- "$@"
cd "$(dirname "$0")/.."

list=tests/faults/faults.txt
exclude='^(accessibility|tst_endtoend)$'
check=false
only=()
for argument in "$@"; do
    case $argument in
    --check) check=true ;;
    --only=*) only+=("${argument#--only=}") ;;
    --exclude=*) exclude=${argument#--exclude=} ;;
    --faults=*) list=${argument#--faults=} ;;
    esac
done

work=$(mktemp -d)
planted=""
restore() {
    if [[ -n $planted ]]; then
        cp "$work/original" "$planted"
        planted=""
    fi
    rm -rf "$work"
}
trap restore EXIT
trap 'exit 130' INT TERM

# Replaces, in FILE, the one occurrence of ORIGINAL by REPLACEMENT; fails when
# ORIGINAL does not occur exactly once.
replace() {
    python3 - "$@" <<'EOF'
import sys
path, original, replacement = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if text.count(original) != 1:
    sys.exit(f"occurs {text.count(original)} times")
open(path, "w", encoding="utf-8").write(text.replace(original, replacement))
EOF
}

wanted() {
    [[ ${#only[@]} -eq 0 ]] && return 0
    local glob
    for glob in "${only[@]}"; do
        # shellcheck disable=SC2053
        [[ $1 == $glob ]] && return 0
    done
    return 1
}

caught=0 survived=0 unbuilt=0 stale=0
survivors=()
# Tabs become a separator that is no blank, so an empty field stays a field.
while IFS=$'\037' read -r -u 3 file original replacement name; do
    [[ -z $file || $file == \#* ]] && continue
    wanted "$name" || continue
    cp "$file" "$work/original"
    planted=$file
    if ! replace "$file" "$original" "$replacement" 2>"$work/why"; then
        planted=""
        echo "stale     $name: $file: $(cat "$work/why")"
        stale=$((stale + 1))
        continue
    fi
    if $check; then
        :
    elif ! cmake --build --preset tests --parallel 2 >"$work/build.log" 2>&1; then
        echo "unbuilt   $name"
        unbuilt=$((unbuilt + 1))
    elif ctest --preset tests -E "$exclude" --stop-on-failure >"$work/test.log" 2>&1; then
        echo "SURVIVED  $name ($file)"
        survived=$((survived + 1))
        survivors+=("$name")
    else
        echo "caught    $name by $(grep -A1 'tests FAILED' "$work/test.log" | awk 'NR == 2 { print $3 }')"
        caught=$((caught + 1))
    fi
    # A new time, so that the next build takes the line as it was.
    cp "$work/original" "$file"
    planted=""
done 3< <(tr '\t' '\037' <"$list")

if $check; then
    echo "$stale stale"
    [[ $stale -eq 0 ]]
    exit
fi
# The build tree again as the sources are.
cmake --build --preset tests --parallel 2 >"$work/build.log" 2>&1 || echo "the final rebuild failed" >&2
echo "$caught caught, $survived survived, $unbuilt unbuilt, $stale stale${survivors:+; survived: ${survivors[*]}}"
[[ $survived -eq 0 && $unbuilt -eq 0 && $stale -eq 0 ]]
