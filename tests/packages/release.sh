#!/usr/bin/env bash
# Runs docs/releasing.md, "Releasing, step by step", in a fresh clone of the commit,
# every command block as it stands there but for the first, whose settings
# are this test's: the firmware server HOST (nginx serving WWW_ROOT, its root
# ROOT_PEM), and firmware signing keys and a code-signing certificate made
# here on the spot, and the time-stamping authority at TSA_URL, whose root is
# TSA_ROOT. Then checks what the steps claim. Prints one line per
# row; stops at the first that fails. The packages end up in
# WORK/clone/build/packages, the code-signing root in WORK/signing/root.pem.
# Usage: tests/packages/release.sh WORK HOST ROOT_PEM WWW_ROOT TSA_URL TSA_ROOT
set -euo pipefail
work=${1:?usage: $0 WORK HOST ROOT_PEM WWW_ROOT TSA_URL TSA_ROOT}
host=$2
extra_root=$(realpath "$3")
www_root=$(realpath "$4")
tsa_url=$5
tsa_root=$(realpath "$6")
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=release
source "$top/tests/packages/rows.sh"
source "$top/tests/packages/certificates.sh"
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
clone=$work/clone
signing=$work/signing

# The page's blocks, the first replaced by this test's settings.
walkthrough() {
    echo "set -euo pipefail"
    printf '%s=%q\n' host "$host" extra_root "$extra_root" keys "$work/keys" signing "$signing" \
        signing_roots "$signing/root.pem" timestamp_url "$tsa_url" timestamp_roots "$tsa_root" notes "$work/notes.txt" \
        firmware "$work/NV38K.bin" www "$www_root/NV38Firmware/N3KFirmware"
    # Debian may publish an update of a pinned package on any day.
    echo "package_options=(--accept-lagging-pins)"
    awk '/^```sh$/ { block++; inside = 1; next } /^```$/ { inside = 0; next }
         inside && block > 1' "$top/docs/releasing.md"
}

# A throwaway code-signing root and, as a certificate authority hands them
# out, a certificate with its key and the chain above it.
certificate() {
    test_root "$signing" root 2 "NV38K test code-signing root" &&
        test_certificate "$signing" root vendor 2 codeSigning "NV38K test publisher" &&
        cp "$signing/root.pem" "$signing/chain.pem"
}
release_files() {
    printf '%s\n' 修复部分按键偶发失灵的问题 提升USB连接的稳定性 >"$work/notes.txt" &&
        head -c 4096 /dev/urandom >"$work/NV38K.bin"
}
run_walkthrough() {
    git clone -q "$top" "$clone" &&
        git -C "$clone" checkout -q "$(git -C "$top" rev-parse HEAD)" &&
        walkthrough >"$work/walkthrough.sh" &&
        (cd "$clone" && bash "$work/walkthrough.sh") >"$work/walkthrough.log" 2>&1
}
said() { grep -qF -- "$1" "$work/walkthrough.log"; }
summary() {
    local file
    for file in nv38k-upgrade-tool.exe dfu-util-static.exe uninstall.exe "$(basename "$clone"/build/packages/*-setup.exe)"; do
        grep -q "^Signed $file: subject /CN=NV38K test publisher, signing time .*, timestamp [A-Z].* GMT$" \
            "$work/walkthrough.log" || return 1
    done
}
deb_ships_publish() {
    dpkg-deb -c "$clone"/build/packages/*.deb >"$work/contents.txt" &&
        grep -q ' \./usr/bin/nv38k-publish$' "$work/contents.txt" &&
        grep -q ' \./usr/share/man/man1/nv38k-publish\.1\.gz$' "$work/contents.txt"
}

started=$SECONDS
row "a code-signing certificate, key and chain from a throwaway root" certificate
row "the release's notes and firmware" release_files
row "docs/releasing.md's commands, run in order in a clone at $clone" run_walkthrough
echo "      $suite  (the walkthrough took $((SECONDS - started)) s)"
row "package.sh lists each signature: subject, signing time, its timestamp" summary
row "package.sh does not warn of a missing timestamp" eval '! said "warning: no timestamp"'
row "osslsigncode verified the installer, the uninstaller and the zip's two programs, timestamps included" \
    test "$(grep -c '^Timestamp Server Signature verification: ok' "$work/walkthrough.log")" -eq 4 -a \
    "$(grep -c '^Signature verification: ok' "$work/walkthrough.log")" -eq 4
row "the package's nv38k-publish check: the served release verified" \
    said "NV38K_1.6.nv.sig: HTTP 200, 64 bytes, verified"
row "the package's nv38k-publish check: the tool release statement verified" \
    said "ToolRelease.txt.sig: HTTP 200, 64 bytes, verified"
row "the .deb ships nv38k-publish and its manual page" deb_ships_publish
# Whatever the mirror lists newer than the pins today, the notes and the
# Windows SBOMs say so; with nothing behind, the notes say that instead.
lag_recorded() {
    local packages=$clone/build/packages notes package pinned newest
    notes=$(echo "$packages"/*-notes.txt)
    python3 "$top/scripts/windows/debian_sources.py" lagging >"$work/lagging.txt" || return 1
    [[ -s $work/lagging.txt ]] || { grep -q "^Each was Debian's newest version" "$notes"; return; }
    while read -r package pinned newest; do
        grep -qxF "  $package $pinned (Debian had $newest)" "$notes" &&
            jq -se --arg p "$package" --arg n "$newest" '[.[].components[] | select(.name == $p)
                | .properties[]? | select(.name == "nv38k:debian-newer-version" and .value == $n)] | length > 0' \
                "$packages"/*-windows.cdx.json "$packages"/*-dfu-util.cdx.json >/dev/null || return 1
    done <"$work/lagging.txt"
}
row "the release notes and the SBOM name each pin the mirror has a newer version of" lag_recorded
