# Sourced by the scripts that users run, before they install or write
# anything. take_arguments PATTERN... -- "$@" prints the script's opening
# comment for --help (or -h) and exits with 0, and refuses with 2 any
# argument that matches none of the shell patterns.

usage() { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; }

take_arguments() {
    local patterns=() argument pattern
    while [[ $1 != -- ]]; do
        patterns+=("$1")
        shift
    done
    shift
    for argument in "$@"; do
        if [[ $argument == --help || $argument == -h ]]; then
            usage
            exit 0
        fi
    done
    for argument in "$@"; do
        for pattern in "${patterns[@]}"; do
            [[ $argument == $pattern ]] && continue 2
        done
        echo "$(basename "$0"): unknown argument \"$argument\" (see --help)" >&2
        exit 2
    done
}
