#!/usr/bin/env bash
# Runs a Windows program under Wine, in this repository's private 32-bit
# prefix (build/wine, or $WINEPREFIX), which it makes on first use. CTest
# starts the Windows tests through it; it needs an X display for windows,
# which no window manager handles (see below).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$top/build/wine}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No offers to install Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [[ ! -f $WINEPREFIX/.complete ]]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot --init >/dev/null 2>&1
    # Qt writes its log to the debugger channel unless told otherwise, and
    # Wine hands no QT_* variable of ours to Windows programs.
    wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >/dev/null 2>&1
    # A crashing program ends at once instead of waiting in a debugger.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Auto /d 0 /f >/dev/null 2>&1
    wineserver --wait
    touch "$WINEPREFIX/.complete"
fi
# Windows get no window manager: the tests' Xvfb has none, and Wine would
# wait two seconds for one each time it hides a window. A stamp of its own,
# so that prefixes made before get it too.
if [[ ! -f $WINEPREFIX/.unmanaged ]]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver --wait
    touch "$WINEPREFIX/.unmanaged"
fi
[[ $# -gt 0 ]] || exit 0
# Wine's own processes (its services, the desktop window) live as long as the
# wineserver and keep open the output of the program that started them:
# CTest would wait for them until then. Started here where they are not
# running yet, they write to nowhere.
wine cmd /c exit </dev/null >/dev/null 2>&1
exec wine "$@"
