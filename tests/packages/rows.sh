# Sourced by the install tests. Each sets $suite (the table's name) and
# $work (a scratch folder whose *.log files a failing row shows) first.

# Runs one row of the table and prints it; stops the test at the first that fails.
row() {
    local name=$1
    shift
    if "$@"; then
        printf 'ok    %s  %s\n' "$suite" "$name"
    else
        printf 'FAIL  %s  %s\n' "$suite" "$name"
        tail -n 20 "$work"/*.log >&2 2>/dev/null || true
        [[ -z ${DISPLAY:-} ]] || xdotool search --onlyvisible --name . getwindowname %@ >&2 || true
        exit 1
    fi
}

# Ends a test that builds from a clone of the commit ($top's HEAD) when the
# working tree has changes that the clone would lack, with status 77: a
# table that did not run is reported as skipped, never as passed.
skip_unless_committed() {
    git -C "$top" diff --quiet HEAD && return
    echo "skip  $suite  the working tree has changes that a clone of the commit lacks"
    exit 77
}

# Starts Xvfb on a free display closed to the machine's other programs and
# points DISPLAY and XAUTHORITY at it; sets xvfb_pid for the clean-up. Xvfb
# takes every cookie in its file, whatever display it names, and says which
# display it took once it accepts clients.
start_display() {
    local cookie
    cookie=$(mcookie)
    export XAUTHORITY=$work/xauthority
    xauth add :0 . "$cookie"
    Xvfb -displayfd 3 -auth "$XAUTHORITY" -nolisten tcp -screen 0 1024x768x24 \
        3>"$work/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s $work/display ]] && break
        sleep 0.1
    done
    export DISPLAY=:$(cat "$work/display")
    xauth add "$DISPLAY" . "$cookie"
}

# Sets width and height to the size of window $1, read from xdotool's
# answer as data; false when it gives none.
window_size() {
    local name value
    width= height=
    while IFS== read -r name value; do
        case $name in
        WIDTH) width=$value ;;
        HEIGHT) height=$value ;;
        esac
    done < <(xdotool getwindowgeometry --shell "$1")
    [[ $width =~ ^[0-9]+$ && $height =~ ^[0-9]+$ ]]
}

# Waits up to 30 s for a visible window whose title is exactly $1; prints its id.
window() { timeout 30 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
