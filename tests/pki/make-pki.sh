#!/usr/bin/env bash
# Throw-away PKI shared by all tests. Usage: make-pki.sh OUTDIR
# Idempotent: returns at once when every output already exists.
set -euo pipefail

out=${1:?usage: make-pki.sh OUTDIR}
outputs=(ca.key ca.pem server.key server.pem other-host.key other-host.pem
         expired.key expired.pem unknown-ca.key unknown-ca.pem
         unknown-root.key unknown-root.pem bundle-with-system.pem)

complete() {
    local f
    for f in "${outputs[@]}"; do [[ -s $out/$f ]] || return 1; done
}

complete && exit 0
mkdir -p "$out"
# Several test runners may call this at once.
exec 9>"$out/.lock"
flock 9
complete && exit 0

work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

san="DNS:localhost"
for i in 1 2 3 4 5 6 7 8 9; do san+=",IP:127.0.0.$i"; done

newkey() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
serial() { echo "0x$(openssl rand -hex 15)"; }

# $1 name, $2 subject CN
make_root() {
    newkey "$1.key"
    openssl req -x509 -new -key "$1.key" -sha256 -days 3650 -subj "/O=coletor tests/CN=$2" \
        -set_serial "$(serial)" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -addext "subjectKeyIdentifier=hash" -out "$1.pem"
}

# $1 name, $2 SAN list -> $1.key, $1.csr, $1.ext
make_req() {
    newkey "$1.key"
    local cn=${2%%,*}; cn=${cn#DNS:}
    openssl req -new -key "$1.key" -subj "/O=coletor tests/CN=$cn" -out "$1.csr"
    cat >"$1.ext" <<EOF
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$2
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EOF
}

# $1 name, $2 SAN list, $3 signing CA name
make_leaf() {
    make_req "$1" "$2"
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "$(serial)" \
        -sha256 -days 3650 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

make_root ca "coletor test CA"
make_root unknown-root "coletor untrusted CA"
make_leaf server "$san" ca
make_leaf other-host "DNS:outro-host.invalid" ca
make_leaf unknown-ca "$san" unknown-root

# openssl 3.0 has no way to back-date with x509 -req; "openssl ca" takes explicit dates.
make_req expired "$san"
: >index.txt
cat >ca.cnf <<EOF
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
EOF
openssl rand -hex 15 >serial
openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key \
    -startdate 20150101000000Z -enddate 20200101000000Z \
    -extfile expired.ext -in expired.csr -out expired.pem 2>/dev/null

if [[ -r /etc/ssl/certs/ca-certificates.crt ]]; then
    cat /etc/ssl/certs/ca-certificates.crt ca.pem >bundle-with-system.pem
else
    cp ca.pem bundle-with-system.pem
fi

chmod 644 ./*.pem ./*.key
# ca.pem last, so a half-done run never looks complete.
for f in "${outputs[@]}"; do [[ $f == ca.pem ]] || mv -f "$f" "$out/$f"; done
mv -f ca.pem "$out/ca.pem"
