#!/usr/bin/env bash
# Checks from the file alone that a Windows build of the tool is what ships:
# a 32-bit GUI program that imports only Windows' own DLLs (Qt, OpenSSL and
# the C++ runtime linked in), carries the icon and version 0.0.0.0 of
# app/nv38k.rc and an application manifest, and names no folder of the
# machine that built it. With --console, that a program shipped beside it
# (dfu-util) is a 32-bit console program that imports only Windows' own DLLs,
# carries the manifest and names no such folder. Both must pass what a
# Windows security scanner checks (see hardening() below).
# Needs binutils-mingw-w64-i686, icoutils and python3.
# Usage: scripts/check-windows-exe.sh [--console] EXE
set -euo pipefail
source "$(dirname "$0")/usage.sh"
take_arguments --console '[!-]*' -- "$@"
console=false
[[ ${1:-} != --console ]] || { console=true; shift; }
exe=${1:?usage: $0 [--console] EXE}
ico=$(dirname "$0")/../app/nv38k.ico

fail() {
    echo "check-windows-exe: $exe: $*" >&2
    exit 1
}

[[ -f $exe ]] || fail "no such file"
dump=$(i686-w64-mingw32-objdump -p "$exe" 2>&1) || fail "objdump cannot read it: $dump"
grep -q 'file format pei-i386$' <<<"$dump" || fail "not a PE32 (i386) file"
if $console; then
    grep -Eq '^Subsystem[[:space:]]+0*3[[:space:]]' <<<"$dump" || fail "not a Windows console program (Subsystem 3)"
else
    grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$dump" || fail "not a Windows GUI program (Subsystem 2)"
fi

# No folder of the machine that built it, in 8-bit or UTF-16 strings: not
# this clone, not the build cache, not a home folder. On Windows, /x is C:\x.
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/source-packages.sh"
text=$(strings -a "$exe")
found=$({ echo "$text"; strings -a -el "$exe"; } |
    grep -F -e "$top" -e "$windows_cache" -e "$HOME/" -e /home/ -e /root/ | head -n 3 || true)
[[ -z $found ]] || fail "names a folder of the machine that built it: ${found//$'\n'/, }"

mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort -fu)
[[ ${#dlls[@]} -gt 0 ]] || fail "no imported DLL found"
windows_dlls='advapi32|bcrypt|comctl32|comdlg32|crypt32|d3d9|dnsapi|dwmapi|dxgi|gdi32|imm32|iphlpapi|kernel32|mpr|msvcrt|netapi32|ntdll|ole32|oleaut32|secur32|setupapi|shell32|shlwapi|user32|userenv|uxtheme|version|winmm|winspool\.drv|wintrust|ws2_32|wtsapi32'
for dll in "${dlls[@]}"; do
    if [[ ${dll,,} =~ ^(qt5|libstdc\+\+|libgcc|libwinpthread|libssp|libssl|libcrypto|libusb|zlib|libpng|libfreetype|libharfbuzz|libpcre) ]]; then
        fail "needs $dll, which should have been linked in statically"
    fi
    [[ ${dll,,} =~ ^($windows_dlls)(\.dll)?$ ]] || fail "needs $dll, which is not one of Windows' own DLLs"
done
# The manifest (RT_MANIFEST, 24): run as invoked, never as administrator, and
# made for Windows 7, 8, 8.1 and 10/11.
manifest=$(wrestool -x --raw --type=24 "$exe" 2>/dev/null | tr -d '\r') || true
[[ -n $manifest ]] || fail "no application manifest"
grep -q '<requestedExecutionLevel level="asInvoker"' <<<"$manifest" ||
    fail "the manifest does not ask to run as invoked"
for os in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -qi "<supportedOS Id=\"{$os}\"/>" <<<"$manifest" || fail "the manifest lacks supportedOS {$os}"
done

# What a Windows security scanner checks of a 32-bit program: ASLR
# (DYNAMIC_BASE, and the relocation table it needs), DEP (NX_COMPAT), no SEH
# handlers to hijack (NO_SEH, as the program has no SafeSEH table), no
# FORCE_INTEGRITY (a signature check on load that Windows would enforce),
# no section both writable and executable, and GCC's stack protector linked
# in (libssp's message; a libssp DLL is refused above).
hardening() {
    local flags wx
    flags=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$dump")
    for flag in DYNAMIC_BASE NX_COMPAT NO_SEH; do
        grep -qw "$flag" <<<"$flags" || fail "DllCharacteristics lacks $flag"
    done
    ! grep -qw FORCE_INTEGRITY <<<"$flags" || fail "DllCharacteristics sets FORCE_INTEGRITY"
    grep -Eq '^Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory' <<<"$dump" ||
        fail "no relocation table"
    wx=$(python3 - "$exe" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3c)[0]
count, optional = struct.unpack_from("<H12xH", data, pe + 6)
for n in range(count):  # IMAGE_SCN_MEM_EXECUTE and IMAGE_SCN_MEM_WRITE
    name, flags = struct.unpack_from("<8s28xI", data, pe + 24 + optional + 40 * n)
    if flags & 0x20000000 and flags & 0x80000000:
        print(name.rstrip(b"\0").decode(errors="replace"))
EOF
    )
    [[ -z $wx ]] || fail "sections both writable and executable: ${wx//$'\n'/ }"
    grep -qF '*** stack smashing detected ***' <<<"$text" || fail "no stack protector (libssp) linked in"
    echo "DYNAMIC_BASE NX_COMPAT NO_SEH, no FORCE_INTEGRITY, relocations, no W+X section, stack protector"
}
hardened=$(hardening)

if $console; then
    echo "$exe: PE32 i386, Windows console, imports only ${dlls[*]}; manifest asInvoker, Windows 7 to 11;" \
        "$hardened"
    exit
fi

# zlib and PCRE2 are the pinned Debian sources' (their version strings, which
# the tool's Qt passes to zlib and reads from PCRE2), not Qt's own copies.
for package in zlib pcre2; do
    version=$(awk -v package=$package '$1 == package { print $2 }' "$top/packaging/windows/source-pins.txt" |
        sed 's/^[0-9]*://; s/-[^-]*$//; s/[.+~]dfsg.*$//')
    grep -Fwq "$version" <<<"$text" || fail "carries no $package $version, the version pinned"
done

# Screen readers reach the window through Qt's UI Automation provider, which
# a Qt configured without accessibility lacks; Qt's own Chinese texts (the
# boxes' buttons) are built in.
grep -qx UiaReturnRawElementProvider <<<"$text" || fail "no UI Automation provider: Qt's accessibility is not built in"
# Resource names are UTF-16, big-endian.
grep -qx qt_zh_CN.qm < <(strings -a -eb "$exe") || fail "no Qt translation (qt_zh_CN.qm) built in"
# An update's installer is started as the owner sees it: no test hook passes it arguments.
! grep -q NV38K_TEST_INSTALLER_ARGUMENTS <<<"$text" || fail "built with NV38K_TEST_HOOKS"

grep -q 'Resource Directory' <<<"$dump" || fail "no resource directory"
resources=$(wrestool -l "$exe")
grep -q 'type=group_icon' <<<"$resources" || fail "no icon group resource"
grep -q 'type=version' <<<"$resources" || fail "no version resource"

# The icon group holds the same images as app/nv38k.ico.
icons=$(wrestool -x --type=group_icon "$exe" | icotool -l - | sed 's/--index=[0-9]* //')
[[ $icons == "$(icotool -l "$ico" | sed 's/--index=[0-9]* //')" ]] ||
    fail "the icon is not app/nv38k.ico's: $icons"

# VS_FIXEDFILEINFO: signature, structure version 1.0, then file and product
# version 0.0.0.0.
version=$(wrestool -x --raw --type=version "$exe" | od -An -v -tx1 | tr -d ' \n')
[[ $version == *bd04effe00000100$(printf '0%.0s' {1..32})* ]] ||
    fail "the version resource does not say 0.0.0.0"

echo "$exe: PE32 i386, Windows GUI, imports only ${dlls[*]}; icon ${icons//--/}; version 0.0.0.0;" \
    "manifest asInvoker, Windows 7 to 11; UI Automation and Qt's Chinese texts built in; $hardened"
