#!/usr/bin/env bash
# The downloaded installer's Authenticode signature, judged under Wine by
# WinVerifyTrust as the tool judges it: copies of CHECKER (which prints the
# judgement of its first argument against its second) signed on the spot with
# throwaway certificates from one throwaway root that Wine does not trust.
# One line per row; stops at the first that fails. CTest runs it.
# Usage: tests/windows/authenticode.sh CHECKER
set -euo pipefail
checker=$(realpath "${1:?usage: $0 CHECKER}")
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=windows-authenticode
work=$(dirname "$checker")/authenticode
rm -rf "$work"
mkdir -p "$work"
source "$top/tests/packages/rows.sh"
source "$top/tests/packages/certificates.sh"

# FILE signed with certificate NAME, as OUT.
sign() {
    osslsigncode sign -certs <(cat "$work/$2.pem" "$work/root.pem") -key "$work/$2.key" -h sha256 \
        -in "$work/$1" -out "$work/$3" >"$work/sign.log" 2>&1
}
test_root "$work" root 2 "NV38K test code-signing root"
for name in vendor stranger; do
    test_certificate "$work" root "$name" 2 codeSigning "NV38K test $name"
done
cp "$checker" "$work/unsigned.exe"
sign unsigned.exe vendor vendor.exe
sign unsigned.exe vendor installer.exe
sign unsigned.exe stranger stranger.exe
cp "$work/installer.exe" "$work/changed.exe"
flip_byte "$work/changed.exe"

# judged INSTALLER RUNNING EXPECTED: the checker, run as RUNNING, says EXPECTED of INSTALLER.
judged() {
    local said
    said=$(cd "$work" && "$top/scripts/wine-run.sh" "$2" "$1" "$2" 2>"$work/wine.log") &&
        [[ $said == "$3" ]] || { echo "said: ${said@Q}" >"$work/said.log"; return 1; }
}
row "unsigned program: an unsigned installer may run" judged unsigned.exe unsigned.exe ""
row "signed program: an installer signed by the same certificate may run" \
    judged installer.exe vendor.exe ""
row "signed program: an unsigned installer may not" judged unsigned.exe vendor.exe "the installer is not signed"
row "signed program: an installer signed by another certificate may not" \
    judged stranger.exe vendor.exe "another certificate signed the installer"
row "signed program: a signed installer with one byte changed may not" \
    judged changed.exe vendor.exe "the installer's signature is damaged or invalid"
