#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root. Idempotent:
# on a machine that has everything it only checks and returns.
set -euo pipefail

packages=(
  cmake make g++ git python3 python3-jsonschema openssl osslsigncode
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686
  wine wine32 wine64 xvfb xauth imagemagick
  googletest libgtest-dev
  libsqlite3-dev libssl-dev libsodium-dev nlohmann-json3-dev libboost-dev nginx sqlite3 pkg-config
  dpkg-dev curl
  chromium chromium-driver python3-selenium
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
