#!/usr/bin/env bash
# Signs a Windows program in place: Authenticode with SHA-256 through
# osslsigncode, with the certificate and key of the PKCS#12 file
# NV38K_SIGN_PKCS12 and its password from NV38K_SIGN_PASSWORD or the file
# NV38K_SIGN_PASSWORD_FILE. The signing time is SOURCE_DATE_EPOCH, so the same
# certificate signs the same program identically; NV38K_SIGN_TIMESTAMP_URL adds
# an RFC 3161 timestamp from that server, which is different every time.
# The password goes to osslsigncode through a pipe, never on a command line.
# Usage: sign.sh FILE
set -euo pipefail
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
