#!/usr/bin/env bash
# scripts/release.sh with a throwaway certificate chain made here (a root CA, an
# intermediate CA, a code-signing certificate): the signed file verifies against
# that root and not against another, passes the executable checks, writes a valid
# report with --collect under Wine, signs to the same bytes twice, and without its
# signature is the unsigned build byte for byte.
# Usage: signed_release_test.sh SOURCE_DIR WORK_DIR HOST OBJDUMP WINE_RUN PREFIX
set -euo pipefail
source_dir=$1 work=$2 host=$3 objdump=$4 wine_run=$5 prefix=$6
release=$source_dir/scripts/release.sh
build=$work/build

rm -rf "$work"
mkdir -p "$work/ca"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() {
  echo "ok: $*"
}

# The chain. RSA keys: their PKCS#1 v1.5 signatures carry no randomness, so
# the same file signed twice must give the same bytes.
ca=$work/ca
ext() { printf '%s\n' "${@:2}" >"$ca/$1.ext"; }
ext root basicConstraints=critical,CA:TRUE keyUsage=critical,keyCertSign,cRLSign
ext other basicConstraints=critical,CA:TRUE keyUsage=critical,keyCertSign,cRLSign
ext inter basicConstraints=critical,CA:TRUE,pathlen:0 keyUsage=critical,keyCertSign,cRLSign
ext leaf basicConstraints=critical,CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning
make_cert() { # name, subject, issuer (empty: self-signed)
  openssl req -new -newkey rsa:2048 -nodes -keyout "$ca/$1.key" -out "$ca/$1.csr" -subj "$2" 2>/dev/null
  if [ -z "$3" ]; then
    openssl x509 -req -in "$ca/$1.csr" -signkey "$ca/$1.key" -days 2 -extfile "$ca/$1.ext" \
      -out "$ca/$1.pem" 2>/dev/null
  else
    openssl x509 -req -in "$ca/$1.csr" -CA "$ca/$3.pem" -CAkey "$ca/$3.key" -set_serial "0x$(openssl rand -hex 8)" \
      -days 2 -extfile "$ca/$1.ext" -out "$ca/$1.pem" 2>/dev/null
  fi
}
make_cert root "/CN=Throwaway Root CA" ""
make_cert inter "/CN=Throwaway Code Signing CA" root
make_cert leaf "/O=Throwaway Help Desk/CN=Throwaway Help Desk" inter
make_cert other "/CN=Unrelated Root CA" ""
cat "$ca/leaf.pem" "$ca/inter.pem" >"$ca/chain.pem"
password='correct horse; $(not a command) "quoted"'
ZEQ_TEST_PASSWORD=$password openssl pkcs12 -export -in "$ca/leaf.pem" -inkey "$ca/leaf.key" \
  -certfile "$ca/inter.pem" -out "$ca/leaf.p12" -passout env:ZEQ_TEST_PASSWORD
ZEQ_TEST_PASSWORD=$password openssl pkey -in "$ca/leaf.key" -aes256 -passout env:ZEQ_TEST_PASSWORD \
  -out "$ca/leaf-encrypted.key"

run_release() { # dist folder, then release.sh arguments; output in dist.log
  local dist=$1
  shift
  "$release" --host "$host" --build-dir "$build" --dist "$dist" "$@" </dev/null >"$dist.log" 2>&1
}

# 1. Signed with the PKCS#12 file, the password from the environment.
if ZEQ_SIGN_PASSWORD=$password run_release "$work/dist1" --sign-pkcs12 "$ca/leaf.p12"; then
  pass "signed with a PKCS#12 file"
else
  fail "release.sh --sign-pkcs12: $(cat "$work/dist1.log")"
fi
cat "$work/dist1.log"
signed=$work/dist1/ZEQHealth.exe
unsigned=$build/src/ZEQHealth.exe
grep -q "^Signed: .*Throwaway Help Desk" "$work/dist1.log" || fail "release.sh does not name the signer"

# 2. The signature verifies against the throwaway root, and not against another.
if osslsigncode verify -CAfile "$ca/root.pem" -in "$signed" >"$work/verify.log" 2>&1 &&
  grep -q "Signature verification: ok" "$work/verify.log"; then
  pass "verifies against the throwaway root"
else
  fail "osslsigncode verify: $(cat "$work/verify.log")"
fi
grep -q "Message digest algorithm *: SHA256" "$work/verify.log" || fail "not a SHA-256 signature"
if osslsigncode verify -CAfile "$ca/other.pem" -in "$signed" >/dev/null 2>&1; then
  fail "verifies against an unrelated root"
else
  pass "refused against an unrelated root"
fi

# 3. Format, the single manifest resource, imports and size of the signed file.
if python3 "$source_dir/tests/integration/check_executable.py" "$objdump" "$signed"; then
  pass "executable checks on the signed file"
else
  fail "executable checks on the signed file"
fi

# 4. SHA256SUMS names the signed file with its digest.
if (cd "$work/dist1" && sha256sum --check --strict SHA256SUMS); then
  pass "SHA256SUMS"
else
  fail "SHA256SUMS does not match"
fi

# 5. Signing adds only the signature: without it the file is the unsigned build.
osslsigncode remove-signature -in "$signed" -out "$work/removed.exe" >/dev/null
if cmp "$work/removed.exe" "$unsigned"; then
  pass "signature removed: the unsigned build, byte for byte"
else
  fail "the signed file differs from the unsigned build beyond its signature"
fi

# 6. Signed again a few seconds later, with the same key: the same bytes.
sleep 2
if ZEQ_SIGN_PASSWORD=$password run_release "$work/dist2" --sign-pkcs12 "$ca/leaf.p12" &&
  cmp "$signed" "$work/dist2/ZEQHealth.exe"; then
  pass "signed twice: identical"
else
  fail "signed twice: different bytes ($(cat "$work/dist2.log"))"
fi

# 7. The certificate and key as PEM files, the key encrypted; a wrong password fails.
if ZEQ_SIGN_PASSWORD=$password run_release "$work/dist3" --sign-cert "$ca/chain.pem" \
  --sign-key "$ca/leaf-encrypted.key" &&
  osslsigncode verify -CAfile "$ca/root.pem" -in "$work/dist3/ZEQHealth.exe" >/dev/null 2>&1; then
  pass "signed with PEM certificate chain and encrypted key"
else
  fail "release.sh --sign-cert --sign-key: $(cat "$work/dist3.log")"
fi
if ZEQ_SIGN_PASSWORD=wrong run_release "$work/dist4" --sign-pkcs12 "$ca/leaf.p12"; then
  fail "signed with a wrong password"
elif [ -e "$work/dist4/ZEQHealth.exe" ] || [ -e "$work/dist4/SHA256SUMS" ]; then
  fail "a failed signing left a file in dist"
else
  pass "a wrong password fails and leaves nothing"
fi
if run_release "$work/dist5" --sign-pkcs12 "$ca/leaf.p12" --sign-password "$password"; then
  fail "a password accepted as an argument"
else
  pass "a password as an argument is refused"
fi

# 8. Without a certificate: the unsigned build, and said so plainly.
if run_release "$work/dist6" && grep -q "^UNSIGNED: " "$work/dist6.log" &&
  cmp "$work/dist6/ZEQHealth.exe" "$unsigned"; then
  pass "unsigned release says so"
else
  fail "unsigned release: $(cat "$work/dist6.log")"
fi

# 9. The signed file runs: --collect under Wine writes a report the schema accepts.
report=$work/report.json
code=0
timeout 300 "$wine_run" "$prefix" "$signed" --collect "Z:${report//\//\\}" </dev/null || code=$?
if [ "$code" -eq 0 ] && python3 - "$source_dir/docs/report.schema.json" "$report" <<'EOF'; then
import json, sys, jsonschema
schema, report = (json.load(open(path, encoding="utf-8")) for path in sys.argv[1:3])
jsonschema.validate(report, schema)
EOF
  pass "--collect under Wine with the signed file"
else
  fail "--collect under Wine with the signed file: exit $code"
fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
