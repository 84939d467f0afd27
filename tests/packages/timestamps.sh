#!/usr/bin/env bash
# Checks that an RFC 3161 timestamp keeps a release's Authenticode signature
# valid after its code-signing certificate expires, and only then: a
# time-stamping authority started here on 127.0.0.1 (tsa.sh) stamps copies
# of the release's unsigned dfu-util as packaging/windows/sign.sh signs them,
# with throwaway certificates (faketime makes one that had expired already),
# and osslsigncode verifies each at a given time. Prints one line per row;
# stops at the first that fails.
# Usage: tests/packages/timestamps.sh RELEASE_PACKAGES
set -euo pipefail
packages=$(realpath "${1:?usage: $0 RELEASE_PACKAGES}")
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=timestamps
source "$top/tests/packages/rows.sh"
source "$top/tests/packages/tsa.sh"
"$top/scripts/install-deps.sh" osslsigncode faketime
work=$(mktemp -d)
trap 'stop_tsa; rm -rf "$work"' EXIT
now=$(date +%s)
later=$((now + 30 * 86400))
password=$(openssl rand -hex 12)

# A code-signing root, and certificates with their keys in PKCS#12 files:
# one valid for two days from now, one that expired five days ago.
certificates() {
    local name
    test_root "$work" root 400 "NV38K test code-signing root" &&
        test_certificate "$work" root valid 2 codeSigning "NV38K test publisher" &&
        test_certificate "$work" root expired 2 codeSigning "NV38K test publisher" faketime -f -7d || return 1
    for name in valid expired; do
        openssl pkcs12 -export -inkey "$work/$name.key" -in "$work/$name.pem" -passout "pass:$password" \
            -out "$work/$name.p12" || return 1
    done
}
# Signed as a release is, stamped by the TSA; one byte of a copy changed.
stamp() {
    local certificate
    for certificate in valid expired; do
        cp "$packages/trees/windows/bin/x64/dfu-util-static.exe" "$work/$certificate.exe" &&
            SOURCE_DATE_EPOCH=$([[ $certificate == valid ]] && echo "$now" || echo $((now - 6 * 86400))) \
                NV38K_SIGN_PKCS12=$work/$certificate.p12 NV38K_SIGN_PASSWORD=$password NV38K_SIGN_TIMESTAMP_URL=$tsa_url \
                "$top/packaging/windows/sign.sh" "$work/$certificate.exe" || return 1
    done
    cp "$work/valid.exe" "$work/changed.exe" && flip_byte "$work/changed.exe"
}
# EXPECT (ok or fails) FILE [OPTION...]: verified with the code-signing
# root and, unless -no-tsa-root, the TSA's; the time is NOW or LATER.
verify() {
    local expect=$1 file=$work/$2.exe options=() option tsa=(-TSA-CAfile "$tsa_dir/tsa-root.pem")
    shift 2
    for option in "$@"; do
        case $option in
        NOW) options+=("$now") ;;
        LATER) options+=("$later") ;;
        -no-tsa-root) tsa=() ;;
        *) options+=("$option") ;;
        esac
    done
    if osslsigncode verify -CAfile "$work/root.pem" "${tsa[@]}" "${options[@]}" -in "$file" >"$work/verify.log" 2>&1; then
        [[ $expect == ok ]]
    else
        [[ $expect == fails ]]
    fi
}

tsa_dir=$work/tsa
row "a throwaway TSA on 127.0.0.1 (openssl ts -reply), EKU timeStamping alone, critical" \
    eval 'make_tsa "$tsa_dir" && start_tsa "$tsa_dir" && [[ -n $tsa_url ]]'
row "code-signing certificates: valid for two days, and one expired five days ago (faketime)" certificates
row "dfu-util signed and stamped with each; a copy with one byte changed" stamp
while IFS='|' read -r expect file options what; do
    # shellcheck disable=SC2086 # the options are words
    row "$what: $expect" verify "$expect" "$file" $options
done <<'ROWS'
ok|valid|-time LATER|30 days on, the certificate expired, the timestamp vouches
fails|valid|-time LATER -ignore-timestamp|the same with -ignore-timestamp
fails|expired|-time NOW|stamped after its certificate had expired
fails|changed|-time NOW|one byte changed after signing
fails|valid|-time LATER -no-tsa-root|30 days on, without the TSA's root
ROWS
