# Sourced by the package tests. make_tsa DIR makes a throwaway
# time-stamping authority in DIR: tsa-root.pem, and the TSA's certificate
# (extended key usage timeStamping alone, and critical, as OpenSSL wants)
# with its key and the openssl ts configuration. start_tsa DIR starts
# tsa.py with it and sets tsa_url and tsa_pid; stop_tsa ends it.

source "$(dirname "${BASH_SOURCE[0]}")/certificates.sh"

make_tsa() {
    local dir=$1
    mkdir -p "$dir" &&
        test_root "$dir" tsa-root 400 "NV38K test TSA root" &&
        test_certificate "$dir" tsa-root tsa 400 critical,timeStamping "NV38K test TSA" &&
        echo 01 >"$dir/serial" &&
        cat >"$dir/tsa.cnf" <<CNF
[ tsa ]
default_tsa = nv38k
[ nv38k ]
dir = $dir
serial = \$dir/serial
signer_cert = \$dir/tsa.pem
certs = \$dir/tsa.pem
signer_key = \$dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
ess_cert_id_chain = no
CNF
}

start_tsa() {
    coproc tsa_server { exec python3 "$(dirname "${BASH_SOURCE[0]}")/tsa.py" "$1/tsa.cnf"; }
    tsa_pid=$tsa_server_PID
    read -r tsa_url <&"${tsa_server[0]}"
}

stop_tsa() {
    [[ -n ${tsa_pid:-} ]] || return 0
    kill "$tsa_pid" 2>/dev/null || true
    wait "$tsa_pid" 2>/dev/null || true
    tsa_pid=
}
