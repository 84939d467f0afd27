#!/usr/bin/env bash
# Makes the Windows packages from a build folder holding nv38k-upgrade-tool.exe
# and bin/x64/dfu-util-static.exe (scripts/build-windows.sh makes one):
#   OUT_DIR/nv38k-upgrade-tool-VERSION-setup.exe   per-user NSIS installer
#   OUT_DIR/nv38k-upgrade-tool-VERSION-windows.zip the same folder, portable
# VERSION is the CMake project's unless NV38K_VERSION says otherwise. Needs
# Debian's nsis and zip.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe_dir=${1:?usage: $0 EXE_DIR OUT_DIR}
out_dir=${2:?usage: $0 EXE_DIR OUT_DIR}
version=${NV38K_VERSION:-$(sed -n 's/^project(nv38k-upgrade-tool VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")}
[[ -n $version ]] || { echo "make-packages: no project version in CMakeLists.txt" >&2; exit 1; }

files=(nv38k-upgrade-tool.exe bin/x64/dfu-util-static.exe)
for file in "${files[@]}"; do
    [[ -f $exe_dir/$file ]] || { echo "make-packages: $exe_dir/$file is missing" >&2; exit 1; }
done
mkdir -p "$out_dir"
exe_dir=$(cd "$exe_dir" && pwd)
out_dir=$(cd "$out_dir" && pwd)
name=nv38k-upgrade-tool-$version

# -WX: any warning fails the build.
makensis -V2 -WX -INPUTCHARSET UTF8 -DVERSION="$version" -DSOURCE="$exe_dir" \
    -DOUTFILE="$out_dir/$name-setup.exe" "$here/nv38k-upgrade-tool.nsi"

# The zip holds one folder, laid out as the tool runs from it.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for file in "${files[@]}"; do
    install -D -m 755 "$exe_dir/$file" "$stage/$name/$file"
done
rm -f "$out_dir/$name-windows.zip"
(cd "$stage" && zip -q -X -r -9 "$out_dir/$name-windows.zip" "$name")
echo "$out_dir/$name-setup.exe"
echo "$out_dir/$name-windows.zip"
