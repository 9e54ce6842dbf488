#!/usr/bin/env bash
# Builds everything and runs every test: the Windows tool's suites under Wine
# (with a virtual display for the window tests) and the server's native suites.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEQ_BUILD_DIR:-$root/build}
jobs=$(nproc)

"$root/scripts/setup.sh"

# The collection server: a native build beside the Windows one, built first because
# the end-to-end window test (real_server_e2e_test) submits to it.
cmake -S "$root/server" -B "$build/server" -DZEQ_WERROR=ON >/dev/null
cmake --build "$build/server" -j "$jobs"

cmake -S "$root" -B "$build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
  -DZEQ_SERVER_HOST=localhost -DZEQ_SERVER_BINARY="$build/server/zeq-server" >/dev/null
cmake --build "$build/windows" -j "$jobs"

status=0
# Wine runs the tool's 32-bit programs as 32-bit Linux processes. A kernel built
# without 32-bit (IA32) emulation cannot execute them at all; there the Windows
# suites cannot run, and this says so instead of reporting them as failed code.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --test-dir "$build/windows" --output-on-failure -j 2 || status=$?
else
  echo "test.sh: this kernel cannot execute 32-bit programs (no IA32 emulation), so Wine" \
       "cannot run here: the Windows suites are NOT run, only the checks that need no Wine." >&2
  ctest --test-dir "$build/windows" --output-on-failure -R '^(executable_check|report_schema_test|reproducible_build_test)$' ||
    status=$?
fi
WINEPREFIX="$build/windows/wineprefix" wineserver -k 2>/dev/null || true

# The server's own suites (unit, HTTPS against a live server, load test).
ctest --test-dir "$build/server" --output-on-failure -j 2 || status=$?
exit $status
