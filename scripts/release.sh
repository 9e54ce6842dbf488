#!/usr/bin/env bash
# Builds ZEQHealth.exe for one collection server host into dist/, signs it when
# given a code-signing certificate, and writes dist/SHA256SUMS.
#
# Usage: scripts/release.sh --host HOST
#          [--sign-pkcs12 FILE | --sign-cert FILE --sign-key FILE]
#          [--timestamp-url URL] [--build-dir DIR] [--dist DIR]
#
# The key's password is read from the environment variable ZEQ_SIGN_PASSWORD,
# or asked for on the terminal; it is never taken as an argument (arguments are
# visible to every user of the machine and stay in shell histories). A key
# without a password needs neither.
#
# The build is reproducible: the same commit and host give the same unsigned
# bytes whatever the folder, the time and the user. The signature carries the
# commit's time as its signing time, so that signing the same file with the same
# RSA key gives the same bytes again; a time-stamp (--timestamp-url) adds the
# time-stamping authority's own time and keeps the signature valid after the
# certificate expires.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  sed -n 's/^# \{0,1\}//; 5,7p' "$0" >&2
  exit 2
}
fail() {
  echo "release.sh: $*" >&2
  exit 1
}

host='' pkcs12='' cert='' key='' timestamp_url='' build='' dist=''
while [ $# -gt 0 ]; do
  case $1 in
    --host | --sign-pkcs12 | --sign-cert | --sign-key | --timestamp-url | --build-dir | --dist)
      [ $# -ge 2 ] || usage
      case $1 in
        --host) host=$2 ;;
        --sign-pkcs12) pkcs12=$2 ;;
        --sign-cert) cert=$2 ;;
        --sign-key) key=$2 ;;
        --timestamp-url) timestamp_url=$2 ;;
        --build-dir) build=$2 ;;
        --dist) dist=$2 ;;
      esac
      shift 2
      ;;
    --sign-pass* | --pass*)
      fail "the key's password is never an argument: set ZEQ_SIGN_PASSWORD or answer the prompt" ;;
    -h | --help) usage ;;
    *) usage ;;
  esac
done

[ -n "$host" ] || usage
# The host name becomes a string literal in the executable and the address it
# uploads to: a DNS name, nothing else (letters, digits, hyphens, dots).
label='[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?'
if ! [[ $host =~ ^$label(\.$label)*$ ]] || [ ${#host} -gt 253 ]; then
  fail "not a host name: '$host'"
fi
if [ -n "$pkcs12" ] && { [ -n "$cert" ] || [ -n "$key" ]; }; then
  fail "give either --sign-pkcs12 or --sign-cert with --sign-key, not both"
fi
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  fail "--sign-cert and --sign-key go together"
fi
signing=''
[ -n "$pkcs12$cert" ] && signing=yes
[ -n "$timestamp_url" ] && [ -z "$signing" ] && fail "--timestamp-url needs a certificate to sign with"
for file in $pkcs12 $cert $key; do
  [ -r "$file" ] || fail "cannot read $file"
done

needed=(cmake i686-w64-mingw32-g++-posix sha256sum)
[ -n "$signing" ] && needed+=(osslsigncode)
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup.sh (as root) first"
done

build=${build:-$root/build/release-$host}
dist=${dist:-$root/dist}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DZEQ_SERVER_HOST="$host" -DZEQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target ZEQHealth -j 2 >/dev/null
built=$build/src/ZEQHealth.exe

mkdir -p "$dist"
out=$dist/ZEQHealth.exe
rm -f "$out" "$dist/SHA256SUMS"
commit=$(git -C "$root" rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
if [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
  commit="$commit (with uncommitted changes)"
fi

if [ -n "$signing" ]; then
  password=${ZEQ_SIGN_PASSWORD-}
  if [ -z "${ZEQ_SIGN_PASSWORD+set}" ] && [ -t 0 ]; then
    read -r -s -p "Password of the signing key (empty if none): " password
    echo >&2
  fi
  args=(sign -h sha256 -n "ZEQ Health")
  if [ -n "$pkcs12" ]; then
    args+=(-pkcs12 "$pkcs12")
  else
    args+=(-certs "$cert" -key "$key")
  fi
  # The commit's time, not the clock's: the same commit signs to the same bytes.
  args+=(-time "$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)")
  [ -n "$timestamp_url" ] && args+=(-ts "$timestamp_url")
  # The password reaches osslsigncode through a pipe on descriptor 3, never its
  # command line (osslsigncode refuses an empty password file: none then).
  [ -n "$password" ] && args+=(-readpass /dev/fd/3)
  if ! signed=$(osslsigncode "${args[@]}" -in "$built" -out "$out" \
    3< <(printf '%s' "$password") 2>&1); then
    rm -f "$out"
    fail "signing failed: $signed"
  fi
  unset password
  subject=$(osslsigncode verify -in "$out" 2>/dev/null | sed -n 's/^[[:space:]]*Subject: //p' | head -n 1 || true)
else
  cp "$built" "$out"
fi

(cd "$dist" && sha256sum ZEQHealth.exe >SHA256SUMS)
sum=$(cut -d' ' -f1 "$dist/SHA256SUMS")
echo "Host:      $host"
echo "Commit:    $commit"
echo "Made:      $out ($(stat -c %s "$out") bytes)"
echo "SHA-256:   $sum (also in $dist/SHA256SUMS)"
if [ -n "$signing" ]; then
  echo "Signed:    Authenticode SHA-256 by ${subject:-the given certificate}"
  if [ -n "$timestamp_url" ]; then
    echo "Timestamp: $timestamp_url"
  else
    echo "Timestamp: none (the signature stops being valid when the certificate expires)"
  fi
else
  echo "UNSIGNED:  this file carries no signature. Windows SmartScreen and antivirus" \
    "products will warn about it or block it when downloaded; sign it with" \
    "--sign-pkcs12 FILE or --sign-cert FILE --sign-key FILE."
fi
