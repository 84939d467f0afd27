#!/usr/bin/env bash
# Runs a command in a desktop session of its own, as a screen reader sees
# one: Xvfb with the openbox window manager, a D-Bus session, the AT-SPI
# bus, and its address on the root window, where Qt 5.15 looks for it when
# no desktop announces a screen reader.
# Usage: tests/accessibility/session.sh COMMAND [ARGUMENT...]
set -euo pipefail
[[ ${1:-} != --in-session ]] || {
    shift
    # Asking for the bus's address starts it (org.a11y.Bus is D-Bus activated).
    address=
    source "$(dirname "$0")/../packages/rows.sh"
    for _ in $(tries 100); do
        address=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
            --method org.a11y.Bus.GetAddress 2>/dev/null | sed -n "s/^('\(.*\)',)$/\1/p") || true
        [[ -z $address ]] || break
        sleep 0.1
    done
    [[ -n $address ]] || { echo "session.sh: the AT-SPI bus did not start" >&2; exit 1; }
    xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "$address"
    "$@"
    exit
}
work=$(mktemp -d)
trap 'kill ${wm:-} ${xvfb_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
# A display closed to the machine's other programs, as the install tests use.
source "$(dirname "$0")/../packages/rows.sh"
start_display
openbox >/dev/null 2>&1 &
wm=$!
dbus-run-session -- "$0" --in-session "$@" 2> >(grep -v "^dbus-daemon" >&2)
