# Sourced by the signing tests: throwaway certificates, made on the spot.
# None names a CRL or AIA address, which osslsigncode would try to fetch.

# test_root DIR NAME DAYS CN: a root, DIR/NAME.pem with its key DIR/NAME.key.
test_root() {
    mkdir -p "$1" &&
        openssl req -x509 -newkey rsa:2048 -nodes -days "$3" -subj "/CN=$4" \
            -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign \
            -keyout "$1/$2.key" -out "$1/$2.pem" 2>/dev/null
}

# test_certificate DIR ROOT NAME DAYS EKU CN [COMMAND...]: DIR/NAME.pem with
# its key DIR/NAME.key, issued by DIR/ROOT for the extended key usage EKU;
# openssl issues it under COMMAND (faketime, for one that has expired).
test_certificate() {
    local dir=$1 root=$2 name=$3 days=$4 eku=$5 cn=$6
    shift 6
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$cn" \
        -keyout "$dir/$name.key" -out "$dir/$name.csr" 2>/dev/null &&
        "$@" openssl x509 -req -days "$days" -in "$dir/$name.csr" -CA "$dir/$root.pem" \
            -CAkey "$dir/$root.key" -set_serial "0x$(openssl rand -hex 8)" -out "$dir/$name.pem" \
            2>/dev/null -extfile <(printf '%s\n' basicConstraints=CA:FALSE \
            keyUsage=critical,digitalSignature "extendedKeyUsage=$eku")
}
