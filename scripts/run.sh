#!/usr/bin/env bash
# Builds ZEQHealth.exe (server host: localhost) and runs it headless under Wine:
# `ZEQHealth.exe --collect build/report.json`, then prints what the report holds.
#
#   scripts/run.sh                 headless collection and its summary
#   scripts/run.sh --with-server   then also the local demo: starts zeq-server on
#                                  127.0.0.1:443 (its test CA trusted only in the
#                                  build's Wine prefix), opens the tool's window
#                                  (needs a display), and once the window is
#                                  closed lists what the server stored and stops it;
#                                  the technicians' console meanwhile on
#                                  http://127.0.0.1:8081 with a demo account.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEQ_BUILD_DIR:-$root/build}
with_server=false
[ "${1:-}" = "--with-server" ] && with_server=true

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
  -DZEQ_SERVER_HOST=localhost >/dev/null
cmake --build "$build/windows" --target ZEQHealth -j "$(nproc)"

prefix=$build/windows/wineprefix
exe=$build/windows/src/ZEQHealth.exe
report=$build/report.json
rm -f "$report"
# Relative to the current folder, which Wine maps to a drive: build/report.json.
cd "$(dirname "$build")"
started=$(date +%s.%N)
status=0
"$root/scripts/wine-run.sh" "$prefix" "$exe" --collect "$(basename "$build")/report.json" \
  2>/dev/null || status=$?
finished=$(date +%s.%N)

echo "ZEQHealth.exe: $(stat -c %s "$exe") bytes; exit code $status;" \
  "$(/usr/bin/python3 -c "print('%.1f' % ($finished - $started))") s including Wine start-up"
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
/usr/bin/python3 "$root/scripts/report_summary.py" "$report"

$with_server || exit 0

# The local demo: the real server, and the window talking to it.
if [ -z "${DISPLAY:-}" ]; then
  echo "--with-server opens the tool's window: run it from a desktop session (DISPLAY is not set)." >&2
  exit 1
fi
demo=${ZEQ_DEMO_DIR:-$build/demo-server}
cmake --build "$build/windows" --target zeq_trust_root -j "$(nproc)" >/dev/null
"$root/scripts/make-dev-certs.sh" "$demo/certs"
"$root/scripts/wine-run.sh" "$prefix" "$build/windows/tests/zeq_trust_root.exe" \
  "$(WINEPREFIX=$prefix winepath -w "$demo/certs/ca.der" 2>/dev/null)"

console_port=8081
ZEQ_DEMO_DIR=$demo "$root/scripts/run-server.sh" 443 --console-port "$console_port" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
sleep 1
# A demo technician for the console, made once (the database exists once serve runs).
demo_password=demo-consola-local
if ! "$build/server/zeq-server" user list --db "$demo/reports.db" 2>/dev/null | grep -q '^demo '; then
  printf '%s\n' "$demo_password" |
    "$build/server/zeq-server" user add demo --db "$demo/reports.db" >/dev/null
fi
echo "Consola: http://127.0.0.1:$console_port  (usuario demo, contraseña $demo_password)"
"$root/scripts/wine-run.sh" "$prefix" "$exe" 2>/dev/null || true
"$build/server/zeq-server" list --db "$demo/reports.db"
