# Sourced by the install tests. Each sets $suite (the table's name) and
# $work (a scratch folder whose *.log files a failing row shows) first, and
# $top (the repository) before it uses Wine.

# How long a wait for the desktop or Wine may last, times NV38K_WAIT_SCALE (a
# whole number; CI sets it, as its builds slow everything down): tries N
# lists the numbers of N tries, scaled; seconds N prints N seconds, scaled.
tries() { seq $(($1 * ${NV38K_WAIT_SCALE:-1})); }
seconds() { echo $(($1 * ${NV38K_WAIT_SCALE:-1})); }

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
    for _ in $(tries 100); do
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

# Waits up to 30 s (scaled) for a visible window whose title is exactly $1; prints its id.
window() { timeout "$(seconds 30)" xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }

# Clicks button $2 (1 or 2) of the two along the bottom of window $1, $3
# pixels (default 14) above its bottom edge.
click() {
    local width height
    window_size "$1" && xdotool mousemove --window "$1" $((width * (2 * $2 - 1) / 4)) $((height - ${3:-14})) click 1
}

# Presses the default button of box $1: clicks into it and, once it has the
# keyboard focus, presses Return (or key $2, as Escape for its cancel button).
press_return() {
    xdotool mousemove --window "$1" 5 5 click 1 || return 1
    for _ in $(tries 100); do
        [[ $(xdotool getwindowfocus 2>/dev/null) == "$1" ]] && { xdotool key "${2:-Return}"; return; }
        sleep 0.1
    done
    return 1
}

# How many answers with status $3 (default 200) to a GET of the firmware
# folder's file $2 nginx's access log $1 holds.
served() { grep -c "\"GET /NV38Firmware/N3KFirmware/$2 HTTP/1.1\" ${3:-200} " "$1" 2>/dev/null || true; }

# Clicks "获取固件信息" in window $1 (see click for $3) and waits, up to a
# minute (a traced Wine on a busy machine is slow), until the window has
# shown the answer: it asks for ToolRelease.txt once it has, the first time
# in a run, which access log $2 then holds one more answer to.
fetch_information() {
    local before
    before=$(served "$2" ToolRelease.txt '[0-9]*')
    click "$1" 1 "${3:-14}" || return 1
    for _ in $(tries 600); do
        [[ $(served "$2" ToolRelease.txt '[0-9]*') -gt $before ]] && return 0
        sleep 0.1
    done
    return 1
}

# Windows programs run in $WINEPREFIX. fresh_prefix makes it anew and sets
# profile and app_data (%USERPROFILE% and %APPDATA%), and folder, where the
# installer puts the tool, with folder_unix its path here.
wine() { "$top/scripts/wine-run.sh" "$@"; }
fresh_prefix() {
    local local_app_data
    # A wineserver lingers after its last program and writes the registry
    # as it ends: ended first, it writes nothing into the new prefix.
    wineserver -k 2>/dev/null || true
    wineserver --wait 2>/dev/null || true
    rm -rf "$WINEPREFIX" && wine || return 1
    { read -r profile && read -r app_data && read -r local_app_data; } < <(
        wine cmd /c 'echo %USERPROFILE%&echo %APPDATA%&echo %LOCALAPPDATA%' | tr -d '\r') &&
        folder="$local_app_data\\Programs\\NV38K Upgrade Tool" && folder_unix=$(winepath -u "$folder")
}

# Changes one byte of program $1's code, as tampering after signing would.
flip_byte() {
    python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(4096); b = f.read(1); f.seek(4096); f.write(bytes([b[0] ^ 1]))' "$1"
}

# Each program $3... of folder $1, its signature removed, equals the one of
# folder $2 byte for byte: what anyone can check a release with.
same_unsigned() {
    local signed=$1 unsigned=$2 file
    shift 2
    for file; do
        rm -f "$work/stripped.exe"
        osslsigncode remove-signature -in "$signed/$file" -out "$work/stripped.exe" >/dev/null &&
            cmp "$work/stripped.exe" "$unsigned/$file" || return 1
    done
}
