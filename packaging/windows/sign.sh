#!/usr/bin/env bash
# Signs a Windows program in place: Authenticode with SHA-256 through
# osslsigncode, with the certificate and key of the PKCS#12 file
# NV38K_SIGN_PKCS12 and its password from NV38K_SIGN_PASSWORD or the file
# NV38K_SIGN_PASSWORD_FILE. The signing time is SOURCE_DATE_EPOCH, so the same
# certificate signs the same program identically; NV38K_SIGN_TIMESTAMP_URL adds
# an RFC 3161 timestamp from that server, which is different every time.
# The password goes to osslsigncode through a pipe, never on a command line.
# With --summary, says for each signed FILE whose certificate signed it, the
# signing time and whether a timestamp backs it, and warns when one has none.
# Usage: sign.sh FILE | sign.sh --summary FILE...
set -euo pipefail
if [[ ${1:-} == --summary ]]; then
    shift
    untimed=false
    for file in "$@"; do
        # Read, not judged: the chain may end at a root this machine lacks.
        report=$(osslsigncode verify -in "$file" 2>&1 || true)
        field() { sed -n "/^[[:space:]]*$1: /{s///p;q}" <<<"$report"; }
        stamp=$(field 'Timestamp time')
        if [[ -z $stamp ]]; then
            stamp="no timestamp"
            untimed=true
        else
            stamp="timestamp $stamp"
        fi
        echo "Signed $(basename "$file"): subject $(field Subject), signing time $(field 'Signing time'), $stamp"
    done
    if $untimed; then
        echo "warning: no timestamp (NV38K_SIGN_TIMESTAMP_URL is empty): the signing time is the" \
            "commit's, which may fall before the certificate's start, and Windows stops" \
            "accepting these signatures once the certificate expires" >&2
    fi
    exit 0
fi
file=${1:?usage: $0 FILE}
: "${NV38K_SIGN_PKCS12:?NV38K_SIGN_PKCS12 names no certificate}"
timestamp=()
[[ -z ${NV38K_SIGN_TIMESTAMP_URL:-} ]] || timestamp=(-ts "$NV38K_SIGN_TIMESTAMP_URL")
password() {
    if [[ -n ${NV38K_SIGN_PASSWORD_FILE:-} ]]; then
        cat "$NV38K_SIGN_PASSWORD_FILE"
    else
        printf '%s' "${NV38K_SIGN_PASSWORD:-}"
    fi
}
rm -f "$file.signed"
osslsigncode sign -pkcs12 "$NV38K_SIGN_PKCS12" -readpass <(password) -h sha256 \
    -time "${SOURCE_DATE_EPOCH:-$(date +%s)}" "${timestamp[@]}" \
    -in "$file" -out "$file.signed" >/dev/null
mv "$file.signed" "$file"
