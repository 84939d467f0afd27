#!/usr/bin/env bash
# Makes a test CA and server certificates into OUTDIR for the firmware HOST.
# The keys a build compiles in (the CA, the signing keys) are made once and
# kept; with --roots only those are made, as a configure step needs them
# before the tests make the rest.
# Usage: scripts/make-certs.sh [--roots] OUTDIR [HOST]
#   ca.pem                 the test CA, trusted by the tests
#   server.pem/.key        for HOST, localhost and 127.0.0.1, signed by the test CA
#   other-ca.pem           a second CA that nobody trusts
#   untrusted.pem/.key     for HOST, signed by the second CA
#   expired.pem/.key       for HOST, signed by the test CA, valid only in 2020
#   wronghost.pem/.key     for another name, signed by the test CA
#   selfsigned.pem/.key    for HOST, signed by itself
#   weakkey.pem/.key       for HOST, signed by the test CA, but a 1024-bit RSA key
#   signing.key/.pub       an Ed25519 key pair that signs test firmware
#   other-signing.key      an Ed25519 key that nobody trusts
#   rotation.pub           its public key, then signing.pub: two keys in one file
#   tool-release.key/.pub  an Ed25519 key pair that signs test tool release statements
set -euo pipefail
roots_only=false
if [[ ${1:-} == --roots ]]; then
    roots_only=true
    shift
fi
out=$1
host=${2:-firmware.nv38k.example}
mkdir -p "$out"
cd "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

san_for() {
    if [[ $1 =~ ^[0-9.]+$ || $1 == *:* ]]; then echo "IP:$1"; else echo "DNS:$1"; fi
}
host_san="$(san_for "$host"),DNS:localhost,IP:127.0.0.1"

make_ca() { # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=$2" \
        -keyout "$1.key" -out "$1.pem" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        2>/dev/null
}

sign() { # name ca san [startdate enddate]
    openssl req -new -newkey "rsa:${bits:-2048}" -nodes -sha256 -subj "/CN=NV38K test server" \
        -keyout "$1.key" -out "$work/$1.csr" 2>/dev/null
    cat >"$work/$1.ext" <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$3
EXT
    if [[ $# -eq 5 ]]; then
        # "openssl ca" is the only way to set validity dates in the past.
        mkdir -p "$work/db"
        : >"$work/db/index"
        cat >"$work/ca.cnf" <<CNF
[ca]
default_ca=test
[test]
database=$work/db/index
new_certs_dir=$work/db
serial=$work/db/serial
default_md=sha256
policy=anything
copy_extensions=none
[anything]
commonName=supplied
CNF
        openssl rand -hex 8 >"$work/db/serial"
        openssl ca -batch -notext -config "$work/ca.cnf" -cert "$2.pem" -keyfile "$2.key" \
            -startdate "$4" -enddate "$5" -extfile "$work/$1.ext" \
            -in "$work/$1.csr" -out "$1.pem" 2>/dev/null
    else
        openssl x509 -req -sha256 -days 3650 -in "$work/$1.csr" -CA "$2.pem" -CAkey "$2.key" \
            -set_serial "0x$(openssl rand -hex 8)" -extfile "$work/$1.ext" -out "$1.pem" 2>/dev/null
    fi
}

if [[ ! -f ca.pem || ! -f ca.key || ! -f rotation.pub ]]; then
    make_ca ca "NV38K test CA"
    for key in signing other-signing; do
        openssl genpkey -algorithm ed25519 -out "$key.key" 2>/dev/null
    done
    openssl pkey -in signing.key -pubout -out signing.pub
    openssl pkey -in other-signing.key -pubout | cat - signing.pub >rotation.pub
fi
if [[ ! -f tool-release.pub ]]; then
    openssl genpkey -algorithm ed25519 -out tool-release.key 2>/dev/null
    openssl pkey -in tool-release.key -pubout -out tool-release.pub
fi
$roots_only && exit
make_ca other-ca "Untrusted test CA"
sign server ca "$host_san"
sign untrusted other-ca "$host_san"
sign expired ca "$host_san" 20200101000000Z 20201231000000Z
sign wronghost ca "DNS:wrong.nv38k.example"
bits=1024 sign weakkey ca "$host_san"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=$host" \
    -addext "subjectAltName=$host_san" -keyout selfsigned.key -out selfsigned.pem 2>/dev/null
