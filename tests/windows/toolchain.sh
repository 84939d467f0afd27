#!/usr/bin/env bash
# scripts/build-windows.sh takes the toolchain step's results from the file
# that step writes, never from what it prints: a step that talks on standard
# output (as the first run on a fresh machine does, adding deb-src entries)
# still gives the right prefixes, and a results file with a line it does not
# know is refused before anything in it runs. The step is the real one, with
# the toolchain cached; a stand-in python3 adds the noise or the stray line.
# The stray row goes first: the noise row writes the results afresh.
# One line per row. scripts/test.sh --windows runs it after the first build.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
suite=windows-toolchain
work=$top/build/windows-toolchain
rm -rf "$work"
mkdir -p "$work/stand-in"
source tests/packages/rows.sh
python=$(command -v python3)

# python3 that, running the toolchain step, says a line on standard output
# first (NV38K_STAND_IN=noise), or appends a line to its results that would
# run a command if evaluated (stray).
cat >"$work/stand-in/python3" <<STANDIN
#!/usr/bin/env bash
[[ \$1 == scripts/windows/build.py ]] || exec "$python" "\$@"
[[ \$NV38K_STAND_IN == noise ]] && echo "Adding deb-src entries for apt-get source"
"$python" "\$@" || exit
[[ \$NV38K_STAND_IN == stray ]] && echo 'touch=\$(touch $work/ran)' >>"\$2/windows-prefixes.txt"
exit 0
STANDIN
chmod +x "$work/stand-in/python3"
build() {
    NV38K_STAND_IN=$1 PATH=$work/stand-in:$PATH NV38K_WINDOWS_BUILD=build/windows \
        scripts/build-windows.sh >"$work/$1.out" 2>"$work/$1.log"
}

stray() {
    ! build stray && grep -q "windows-prefixes.txt has a line it does not know: 'touch=" "$work/stray.log" &&
        [[ ! -e $work/ran ]]
}
row "a line the results may not hold: refused with a message, nothing in it run" stray

noise() {
    build noise && grep -qx "Adding deb-src entries for apt-get source" "$work/noise.out" &&
        grep -q "^Qt5_DIR:PATH=$(sed -n 's/^qt_prefix=//p' build/windows/windows-prefixes.txt)/lib/cmake/Qt5\$" \
            build/windows/CMakeCache.txt
}
row "the toolchain step talks on standard output: the tool still built with its prefixes" noise
