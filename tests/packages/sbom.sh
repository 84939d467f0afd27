#!/usr/bin/env bash
# Checks the SBOMs that scripts/package.sh wrote into OUT_DIR, as a scanner
# and BSI TR-03183-2 read them: valid CycloneDX 1.6 by the validator of
# @cyclonedx/cyclonedx-library (installed from npm at a pinned version into
# build/sbom-check) with SPDX licence expressions, canonical purls, the
# required fields; each file's SHA-512 and SHA-256; NVD's CPE names; the
# libraries built from pinned sources rather than Qt's copies; the same
# components at the same versions as the notices; the query
# scripts/sbom-affected.sh; and the sources archive holding them.
# Prints one line per row; stops at the first that fails.
# Usage: tests/packages/sbom.sh OUT_DIR
set -euo pipefail
out=$(realpath "${1:?usage: $0 OUT_DIR}")
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=sbom
source "$top/tests/packages/rows.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$top/scripts/install-deps.sh" jq unzip binutils
check=$top/build/sbom-check
library=10.3.0
version=$(cat "$out/trees/windows/nv38k-version.txt")
windows=("$out/nv38k-upgrade-tool-$version-windows.cdx.json" "$out/nv38k-upgrade-tool-$version-dfu-util.cdx.json")
sboms=("${windows[@]}" "$out"/*.deb)
sboms[-1]=${sboms[-1]%.deb}.cdx.json

install_validator() {
    command -v npm >/dev/null || "$top/scripts/install-deps.sh" nodejs npm
    [[ $(jq -r .version "$check/node_modules/@cyclonedx/cyclonedx-library/package.json" 2>/dev/null) == "$library" ]] ||
        npm install --prefix "$check" --no-save --no-package-lock --no-audit --no-fund --silent \
            "@cyclonedx/cyclonedx-library@$library" ajv@8.17.1 ajv-formats@3.0.1 ajv-formats-draft2019@1.6.1 \
            spdx-expression-parse@4.0.0 packageurl-js@2.0.1 >"$work/npm.log" 2>&1
}

# One check of one SBOM: "schema" (and each licence expression in SPDX's
# syntax and ids), "purls" (each parsed, and in its canonical form) or
# "fields" (what BSI TR-03183-2 and the NTIA minimum ask: the maker, author
# and compositions; on every component a supplier or maker, a version, a
# declared licence, a well-formed CPE or a purl; on each file its hashes and
# properties; a concluded licence on the program).
valid() {
    NODE_PATH=$check/node_modules node - "$1" "$2" >"$work/valid.log" 2>&1 <<'JS'
const fs = require('fs');
const cdx = require('@cyclonedx/cyclonedx-library');
const parse = require('spdx-expression-parse');
const {PackageURL} = require('packageurl-js');
const [mode, file] = process.argv.slice(2);
const text = fs.readFileSync(file, 'utf8');
const bom = JSON.parse(text);
const faults = [];
const cpe = /^cpe:2\.3:a(:(\\[^A-Za-z0-9]|[A-Za-z0-9._-])+){2}(:(\\[^A-Za-z0-9]|[A-Za-z0-9._-])+|:\*){8}$/;
function check(c, root) {
    c.isExternal = (c.properties || []).some(p => p.name === 'nv38k:shipped' && p.value === 'false');
    const fault = f => faults.push(`${c.name}: ${f}`);
    const bsi = (c.properties || []).filter(p => p.name.startsWith('bsi:component:')).length;
    if (mode === 'schema') for (const l of c.licenses || []) {
        try { if (l.expression) parse(l.expression); } catch (e) { fault(`${l.expression}: ${e.message}`); }
    }
    if (mode === 'purls' && c.purl) {
        try { const canonical = PackageURL.fromString(c.purl).toString();
              if (canonical !== c.purl) fault(`${c.purl} is not canonical: ${canonical}`); } catch (e) { fault(e.message); }
    }
    if (mode === 'fields') {
        if (!c.supplier && !c.manufacturer) fault('no supplier or manufacturer');
        if (!(c.purl || c.cpe || c.type === 'file')) fault('no purl or CPE');
        if (c.cpe && !cpe.test(c.cpe)) fault(`malformed CPE ${c.cpe}`);
        if (!c.isExternal && !c.version) fault('no version');
        if (!c.isExternal && c.type !== 'file' && !(c.licenses || []).some(l => (l.license || l).acknowledgement === 'declared')) fault('no declared licence');
        if (root && !(c.licenses || []).some(l => (l.license || l).acknowledgement === 'concluded')) fault('no concluded licence');
        if ((c.type === 'file' || c.hashes) && (bsi !== 4 || (c.hashes || []).length !== 2)) fault('file without its hashes or properties');
    }
    for (const inner of c.components || []) check(inner, false);
}
(async () => {
    if (mode === 'schema') {
        const errors = await new cdx.Validation.JsonStrictValidator('1.6').validate(text);
        if (errors) faults.push(JSON.stringify(errors, null, 1));
    }
    const m = bom.metadata;
    if (mode === 'fields' && !(m.manufacturer.contact[0].email && m.authors[0].name && m.timestamp && bom.serialNumber
                               && (bom.compositions || []).length)) faults.push('metadata or compositions incomplete');
    check(m.component, true);
    for (const component of bom.components || []) check(component, false);
    for (const fault of faults) console.log(fault);
    process.exit(faults.length ? 1 : 0);
})();
JS
}

# Each file's SHA-512 and SHA-256 are those of the file: the programs'
# (metadata) as built, the rest as shipped, from the zip and the .deb.
hashes() {
    local name sha512 sha256 file
    mkdir -p "$work/shipped" "$work/deb" &&
        cp "$out"/*-setup.exe "$out"/*.zip "$out"/*.deb "$out/trees/windows/uninstall.exe" "$work/shipped/" &&
        unzip -q -o -j "$out"/*.zip '*.exe' -d "$work/shipped" && dpkg-deb -x "$out"/*.deb "$work/deb" &&
        cp "$work/deb/usr/bin/"* "$work/shipped/" || return 1
    while read -r name sha512 sha256; do
        file=$work/shipped/$name
        [[ $name != built/* ]] || file=$out/trees/windows/${name#built/}
        [[ $(sha512sum <"$file") == "$sha512  -" && $(sha256sum <"$file") == "$sha256  -" ]] ||
            { echo "$name: not the file's hashes" >"$work/hashes.log"; return 1; }
    done < <(jq -r '(.metadata.component | select(.hashes) | .name = "built/" + .["bom-ref"]), .components[] | select(.hashes)
                    | "\(.name) \(.hashes[] | select(.alg == "SHA-512").content) \(.hashes[] | select(.alg == "SHA-256").content)"' \
        "${sboms[@]}")
}

# The components in the notices' words: "NAME UPSTREAM (Debian [source]
# package PACKAGE VERSION)", and "NAME VERSION" for Qt's bundled parts.
agree() {
    tr -d '\r' <"$out/trees/windows/licenses/THIRD-PARTY-NOTICES.txt" |
        awk '/^(In|  Licence): / { print previous } { previous = $0 }' | sed 's/^  //' | sort -u >"$work/notices.txt"
    jq -r '.components[] | select(.pedigree) | "\(.pedigree.ancestors[0].name) \(.pedigree.ancestors[0].version) (Debian \(
                if (.purl | contains("arch=source")) then "source " else "" end)package \(.name) \(.version))",
           (.components[]? | .name + (if (.description | endswith("so Qt'"'"'s")) then "" else " " + .version end))' \
        "${windows[@]}" |
        sort -u >"$work/sbom.txt"
    diff "$work/notices.txt" "$work/sbom.txt" >"$work/agree.log" && [[ -s $work/sbom.txt ]]
}

# Today's OpenSSL is inside a range that ends with it and outside one that
# ends before it; a name no SBOM holds is neither; a library is found by its
# common name, its CPE's product and its purl's name.
affected() {
    local openssl
    openssl=$(jq -r '.components[] | select(.name == "openssl") | .pedigree.ancestors[0].version' "${windows[0]}")
    local unknown=0
    "$top/scripts/sbom-affected.sh" no-such-component "<1" "${sboms[@]}" >"$work/affected.log" 2>&1 || unknown=$?
    [[ $unknown -eq 2 ]] &&
        "$top/scripts/sbom-affected.sh" openssl ">=3.0.0,<=$openssl" "${sboms[@]}" >>"$work/affected.log" &&
        ! "$top/scripts/sbom-affected.sh" OpenSSL "<$openssl" "${sboms[@]}" >>"$work/affected.log"
}
found() { "$top/scripts/sbom-affected.sh" "$1" ">=0" "${sboms[@]}" >"$work/affected.log" 2>&1; }

# A CPE with NVD's vendor and product, and the upstream version.
nvd_cpe() {
    jq -s --arg v "$1" --arg p "$2" '[.[] | .. | objects | select(.cpe? and .pedigree?) | select(.cpe ==
        "cpe:2.3:a:\($v):\($p):\(.pedigree.ancestors[0].version):*:*:*:*:*:*:*")] | length > 0' \
        "${sboms[@]}" | grep -q true
}

# The library built from the pinned source, not a copy bundled in Qt: the
# version its code carries is the pin's.
pinned_inside() {
    local version
    version=$(sed -n "s/^$1 \([0-9]*:\)\{0,1\}\([0-9.]*[0-9]\).*/\2/p" "$top/packaging/windows/source-pins.txt")
    # grep reads on to the end: -q would leave strings to die of SIGPIPE, a failure under pipefail.
    [[ -n $version ]] && strings "$out/trees/windows/nv38k-upgrade-tool.exe" | grep -E "$2$version" >/dev/null
}

in_archive() {
    local sbom
    tar -xf "$out/nv38k-upgrade-tool-$version-sources.tar.xz" -C "$work" --wildcards '*/sbom/*'
    for sbom in "${sboms[@]}"; do
        cmp "$sbom" "$work/nv38k-upgrade-tool-$version-sources/sbom/$(basename "$sbom")" || return 1
    done
}

row "validator: @cyclonedx/cyclonedx-library $library from npm in $check" install_validator
for sbom in "${sboms[@]}"; do
    for what in schema purls fields; do
        row "$what: $(basename "$sbom")" valid "$what" "$sbom"
    done
done
row "each file's SHA-512 and SHA-256 in the SBOMs" hashes
row "the notices and the Windows SBOMs name the same components at the same versions" agree
row "sbom-affected.sh: openssl in a range up to today's pin, not in one below it; an unknown name" affected
row "the sources archive holds the SBOMs" in_archive
# NVD's vendor and product for each upstream project; zlib, PCRE2 and libpng
# last, built from pinned sources since Qt no longer bundles them.
while read -r vendor product; do
    row "CPE cpe:2.3:a:$vendor:$product with the upstream version" nvd_cpe "$vendor" "$product"
done <<'NVD'
openssl openssl
qt qt
libusb libusb
dfu-util_project dfu-util
zlib zlib
pcre pcre2
libpng libpng
NVD
for name in zlib PCRE2 libpng libpng1.6 pcre2; do
    row "sbom-affected.sh finds $name" found "$name"
done
row "strings in the .exe: zlib's version is the pin's" pinned_inside zlib '^'
row "strings in the .exe: PCRE2's version is the pin's" pinned_inside pcre2 '^'
