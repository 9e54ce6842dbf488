#!/usr/bin/env bash
# Builds ZEQHealth.exe (server host: localhost) and runs it headless under Wine:
# `ZEQHealth.exe --collect build/report.json`, then prints what the report holds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEQ_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
  -DZEQ_SERVER_HOST=localhost >/dev/null
cmake --build "$build/windows" --target ZEQHealth -j "$(nproc)"

exe=$build/windows/src/ZEQHealth.exe
report=$build/report.json
rm -f "$report"
# Relative to the current folder, which Wine maps to a drive: build/report.json.
cd "$(dirname "$build")"
started=$(date +%s.%N)
status=0
"$root/scripts/wine-run.sh" "$build/windows/wineprefix" "$exe" --collect "$(basename "$build")/report.json" \
  2>/dev/null || status=$?
finished=$(date +%s.%N)

echo "ZEQHealth.exe: $(stat -c %s "$exe") bytes; exit code $status;" \
  "$(/usr/bin/python3 -c "print('%.1f' % ($finished - $started))") s including Wine start-up"
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
/usr/bin/python3 "$root/scripts/report_summary.py" "$report"
