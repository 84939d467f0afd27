#!/usr/bin/env bash
# Makes the Windows packages from a build folder holding nv38k-upgrade-tool.exe,
# bin/x64/dfu-util-static.exe and licenses/ (scripts/build-windows.sh makes one):
#   OUT_DIR/nv38k-upgrade-tool-VERSION-setup.exe   per-user NSIS installer
#   OUT_DIR/nv38k-upgrade-tool-VERSION-windows.zip the same folder, portable
# and, for the SBOM, the installer's uninstall.exe into EXE_DIR.
# VERSION is the one CMake wrote into EXE_DIR/nv38k-version.txt unless
# NV38K_VERSION says otherwise, and the installer names the last day of
# security updates from EXE_DIR/nv38k-support-until.txt. A build without a
# tool release key (EXE_DIR/nv38k-tool-release-keys.txt) is refused. With
# NV38K_SIGN_PKCS12 set, the programs, the uninstaller and the installer are
# signed (see sign.sh), and each signature is summed up: the certificate's
# subject, the signing time and whether a timestamp backs it (the uninstaller's too). Both packages
# come out the same for the same input and SOURCE_DATE_EPOCH (the time of the
# last commit by default). Needs Debian's nsis, zip and, for signing,
# osslsigncode.
# Usage: packaging/windows/make-packages.sh EXE_DIR OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/usage.sh"
take_arguments '[!-]*' -- "$@"
exe_dir=${1:?usage: $0 EXE_DIR OUT_DIR}
out_dir=${2:?usage: $0 EXE_DIR OUT_DIR}
version=${NV38K_VERSION:-$(cat "$exe_dir/nv38k-version.txt" 2>/dev/null || true)}
[[ -n $version ]] || { echo "make-packages: $exe_dir/nv38k-version.txt is missing (CMake writes it)" >&2; exit 1; }
support_until=$(cat "$exe_dir/nv38k-support-until.txt" 2>/dev/null || true)
[[ -n $support_until ]] || { echo "make-packages: $exe_dir/nv38k-support-until.txt is missing (CMake writes it)" >&2; exit 1; }
[[ -s $exe_dir/nv38k-tool-release-keys.txt ]] || {
    echo "make-packages: $exe_dir has no tool release key, which every package needs;" \
        "build it with -DNV38K_TOOL_RELEASE_KEY=FILE (see docs/building.md)" >&2
    exit 1
}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct)}

programs=(nv38k-upgrade-tool.exe bin/x64/dfu-util-static.exe)
for file in "${programs[@]}" licenses/THIRD-PARTY-NOTICES.txt; do
    [[ -f $exe_dir/$file ]] || { echo "make-packages: $exe_dir/$file is missing" >&2; exit 1; }
done
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)
name=nv38k-upgrade-tool-$version

# The folder as it is installed, with fixed modes and times.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/$name
for file in "${programs[@]}"; do
    install -D -m 755 "$exe_dir/$file" "$folder/$file"
done
cp -r "$exe_dir/licenses" "$folder/"
chmod -R u=rwX,go=rX "$folder/licenses"
sign=()
if [[ -n ${NV38K_SIGN_PKCS12:-} ]]; then
    # makensis runs the signing script in another folder.
    NV38K_SIGN_PKCS12=$(realpath "$NV38K_SIGN_PKCS12")
    [[ -z ${NV38K_SIGN_PASSWORD_FILE:-} ]] || NV38K_SIGN_PASSWORD_FILE=$(realpath "$NV38K_SIGN_PASSWORD_FILE")
    for file in "${programs[@]}"; do
        "$here/sign.sh" "$folder/$file"
    done
    sign=(-DSIGN="$here/sign.sh")
else
    echo "make-packages: no NV38K_SIGN_PKCS12, so nothing is signed"
fi
find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

# The licence files in a fixed order, for the installer.
(
    cd "$folder"
    find licenses -type d | LC_ALL=C sort | while read -r dir; do
        echo "SetOutPath \"\$INSTDIR\\${dir//\//\\}\""
        find "$dir" -maxdepth 1 -type f | LC_ALL=C sort | sed 's/.*/File "${SOURCE}\/&"/'
    done
) >"$stage/licenses.nsh"

# -WX: any warning fails the build.
makensis -V2 -WX -INPUTCHARSET UTF8 -DVERSION="$version" -DSUPPORT_UNTIL="$support_until" -DSOURCE="$folder" \
    -DLICENSES="$stage/licenses.nsh" "${sign[@]}" -DUNINSTALLER="$exe_dir/uninstall.exe" \
    -DOUTFILE="$out_dir/$name-setup.exe" "$here/nv38k-upgrade-tool.nsi"

# The zip holds the one folder, in a fixed order and with times in UTC.
rm -f "$out_dir/$name-windows.zip"
(cd "$stage" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -9 -@ "$out_dir/$name-windows.zip")
echo "$out_dir/$name-setup.exe"
echo "$out_dir/$name-windows.zip"
[[ -z ${sign[*]} ]] || "$here/sign.sh" --summary "${programs[@]/#/$folder/}" "$exe_dir/uninstall.exe" \
    "$out_dir/$name-setup.exe"
