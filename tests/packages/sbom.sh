#!/usr/bin/env bash
# Checks the SBOMs that scripts/package.sh wrote into OUT_DIR: valid
# CycloneDX 1.6 by the validator of @cyclonedx/cyclonedx-library (installed
# from npm at a pinned version into build/sbom-check), with SPDX licence
# expressions, valid purls and a version on every component; the programs'
# SHA-256; the same components at the same versions as the notices; the
# query scripts/sbom-affected.sh; and the sources archive holding them.
# Prints one line per row; stops at the first that fails.
# Usage: tests/packages/sbom.sh OUT_DIR
set -euo pipefail
out=$(realpath "${1:?usage: $0 OUT_DIR}")
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=sbom
source "$top/tests/packages/rows.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$top/scripts/install-deps.sh" jq
check=$top/build/sbom-check
library=10.3.0
version=$(sed -n 's/^project(nv38k-upgrade-tool VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
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

# The schema, then what it leaves open: each licence expression in SPDX's
# syntax and ids, each purl parsed, and on every component but Qt's bundled
# parts and the Debian package's declared dependencies a version, a licence
# and a purl.
valid() {
    NODE_PATH=$check/node_modules node - "$1" >"$work/valid.log" 2>&1 <<'JS'
const fs = require('fs');
const cdx = require('@cyclonedx/cyclonedx-library');
const parse = require('spdx-expression-parse');
const {PackageURL} = require('packageurl-js');
const text = fs.readFileSync(process.argv[2], 'utf8');
const bom = JSON.parse(text);
const faults = [];
function check(component, part) {
    const declared = (component.properties || []).some(p => p.name.startsWith('nv38k:debian:'));
    for (const l of component.licenses || []) {
        try { if (l.expression) parse(l.expression); } catch (e) { faults.push(`${component.name}: ${l.expression}: ${e.message}`); }
    }
    if (component.purl) {
        try { PackageURL.fromString(component.purl); } catch (e) { faults.push(`${component.name}: ${e.message}`); }
    }
    if (!part && !declared) {
        for (const field of ['version', 'licenses', 'purl'])
            if (!component[field] || component[field].length === 0) faults.push(`${component.name}: no ${field}`);
    }
    for (const inner of component.components || []) check(inner, true);
}
(async () => {
    const errors = await new cdx.Validation.JsonStrictValidator('1.6').validate(text);
    if (errors) faults.push(JSON.stringify(errors, null, 1));
    if (bom.specVersion !== '1.6') faults.push(`specVersion ${bom.specVersion}`);
    check(bom.metadata.component, true);
    for (const component of bom.components || []) check(component, false);
    for (const fault of faults) console.log(fault);
    process.exit(faults.length ? 1 : 0);
})();
JS
}

# Each program's SHA-256 is that of the file that ships.
hashes() {
    local sbom program
    for sbom in "${windows[@]}"; do
        program=$(jq -r .metadata.component.name "$sbom")
        [[ $(jq -r '.metadata.component.hashes[0].content' "$sbom") == \
            $(sha256sum <"$out/trees/windows/$program" | cut -d ' ' -f 1) ]] || return 1
    done
    [[ $(jq -r '.metadata.component.hashes[0].content' "${sboms[-1]}") == \
        $(sha256sum <"${sboms[-1]%.cdx.json}.deb" | cut -d ' ' -f 1) ]]
}

# The components in the notices' words: "NAME UPSTREAM (Debian [source]
# package PACKAGE VERSION)", and "NAME VERSION" for Qt's bundled parts.
agree() {
    tr -d '\r' <"$out/trees/windows/licenses/THIRD-PARTY-NOTICES.txt" |
        awk '/^(In|  Licence): / { print previous } { previous = $0 }' | sed 's/^  //' | sort -u >"$work/notices.txt"
    jq -r '.components[] | "\(.pedigree.ancestors[0].name) \(.pedigree.ancestors[0].version) (Debian \(
                if (.purl | endswith("arch=source")) then "source " else "" end)package \(.name) \(.version))",
           (.components[]? | .name + (if .version then " " + .version else "" end))' "${windows[@]}" |
        sort -u >"$work/sbom.txt"
    diff "$work/notices.txt" "$work/sbom.txt" >"$work/agree.log" && [[ -s $work/sbom.txt ]]
}

# Today's OpenSSL is inside a range that ends with it and outside one that
# ends before it; a name no SBOM holds is neither.
affected() {
    local openssl
    openssl=$(jq -r '.components[] | select(.name == "openssl") | .pedigree.ancestors[0].version' "${windows[0]}")
    local unknown=0
    "$top/scripts/sbom-affected.sh" no-such-component "<1" "${sboms[@]}" >"$work/affected.log" 2>&1 || unknown=$?
    [[ $unknown -eq 2 ]] &&
        "$top/scripts/sbom-affected.sh" openssl ">=3.0.0,<=$openssl" "${sboms[@]}" >>"$work/affected.log" &&
        ! "$top/scripts/sbom-affected.sh" OpenSSL "<$openssl" "${sboms[@]}" >>"$work/affected.log"
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
    row "valid CycloneDX 1.6, SPDX licences, purls, versions: $(basename "$sbom")" valid "$sbom"
done
row "each program's SHA-256 in its SBOM" hashes
row "the notices and the Windows SBOMs name the same components at the same versions" agree
row "sbom-affected.sh: openssl in a range up to today's pin, not in one below it; an unknown name" affected
row "the sources archive holds the SBOMs" in_archive
