#!/usr/bin/env bash
# Starts the collection server on this machine for a demo or a manual test:
# builds it if needed, makes a private test CA with a certificate for
# localhost/127.0.0.1 (first run only), and serves HTTPS on 127.0.0.1 until
# Ctrl+C. Not for real use: see docs/server.md.
#
#   scripts/run-server.sh [PORT] [more serve options...]
#
# PORT defaults to 443, the only port the Windows tool connects to (binding it
# needs root). The demo database, secret and certificates live in
# build/demo-server/ (ZEQ_DEMO_DIR to change). A Windows test machine or Wine
# prefix must trust certs/ca.der (certutil -addstore Root ca.der) to accept the
# certificate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEQ_BUILD_DIR:-$root/build}/server
demo=${ZEQ_DEMO_DIR:-$root/build/demo-server}
port=${1:-443}
[ $# -gt 0 ] && shift

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root/server" -B "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target zeq-server >/dev/null

"$root/scripts/make-dev-certs.sh" "$demo/certs"
mkdir -p "$demo"
cat >&2 <<MSG
Servidor de prueba: https://localhost:$port (Ctrl+C para parar)
  CA de prueba:  $demo/certs/ca.pem  (DER: ca.der)
  Informes:      $build/zeq-server list --db $demo/reports.db
MSG
exec "$build/zeq-server" serve --address 127.0.0.1 --port "$port" \
  --cert "$demo/certs/server.pem" --key "$demo/certs/server.key" \
  --db "$demo/reports.db" "$@"
