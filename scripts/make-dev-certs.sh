#!/usr/bin/env bash
# Makes a private test CA and a certificate for localhost/127.0.0.1 signed by it,
# for the server's tests and the local demo. Never for real use.
#   make-dev-certs.sh DIR   ->  DIR/ca.pem DIR/ca.der DIR/server.pem DIR/server.key
# Does nothing when DIR already holds them.
set -euo pipefail
dir=${1:?usage: make-dev-certs.sh DIR}
mkdir -p "$dir"
cd "$dir"
if [ -s ca.pem ] && [ -s ca.der ] && [ -s server.pem ] && [ -s server.key ]; then
  exit 0
fi
umask 077
tmp=$(mktemp -d "$dir/.certs.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# Wine's crypt32 (8.0) rejects an ECDSA signature whose r or s is shorter than 32
# bytes (about one signature in 128); Windows accepts them. A set with such a
# signature is made again, so that every set also works in a Wine test prefix.
full_length_signature() {
  local offset
  offset=$(openssl asn1parse -in "$1" | tail -n 1 | cut -d: -f1)
  openssl asn1parse -in "$1" -strparse "$offset" |
    awk '/prim: INTEGER/ { sub(/.* l= */, ""); if ($1 + 0 < 32) short = 1 } END { exit short }'
}

make_set() {
  openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 \
    -subj "/CN=ZEQ Health test CA" -keyout "$tmp/ca.key" -out "$tmp/ca.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    2>/dev/null
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
    -keyout "$tmp/server.key" -out "$tmp/server.csr" 2>/dev/null
  cat >"$tmp/server.ext" <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
EXT
  openssl x509 -req -in "$tmp/server.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" \
    -CAcreateserial -days 825 -extfile "$tmp/server.ext" -out "$tmp/server.pem" 2>/dev/null
  openssl x509 -in "$tmp/ca.pem" -outform DER -out "$tmp/ca.der"
}

for attempt in 1 2 3 4 5 6 7 8; do
  make_set
  if full_length_signature "$tmp/ca.pem" && full_length_signature "$tmp/server.pem"; then
    break
  fi
  [ "$attempt" -lt 8 ] || { echo "make-dev-certs.sh: no usable signature" >&2; exit 1; }
done

# The CA key is not kept: nothing else can ever be signed with it.
chmod 644 "$tmp/ca.pem" "$tmp/ca.der" "$tmp/server.pem"
mv "$tmp/ca.der" "$tmp/server.key" "$tmp/server.pem" .
mv "$tmp/ca.pem" .
