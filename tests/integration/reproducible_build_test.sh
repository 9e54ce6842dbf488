#!/usr/bin/env bash
# Builds ZEQHealth.exe twice from the same sources, in two build folders with
# different paths, at different times and in different time zones, and checks
# that both files are byte for byte the same, and the same as REFERENCE (the
# executable of the build running this test, configured alike).
# Usage: reproducible_build_test.sh SOURCE_DIR WORK_DIR HOST BUILD_TYPE REFERENCE
set -euo pipefail
source_dir=$1 work=$2 host=$3 build_type=$4 reference=$5

rm -rf "$work"
mkdir -p "$work"
build() { # build folder, then environment assignments for the build
  local dir=$1
  shift
  env "$@" cmake -S "$source_dir" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE="$build_type" -DZEQ_SERVER_HOST="$host" -DZEQ_BUILD_TESTS=OFF >/dev/null
  env "$@" cmake --build "$dir" --target ZEQHealth -j 2 >/dev/null
}
first=$work/a
second=$work/a-much-longer-folder-name/with/more/levels
build "$first" TZ=Pacific/Pago_Pago
# Whole seconds apart, so that a link time written anywhere differs.
sleep 2
build "$second" TZ=Pacific/Kiritimati

status=0
for exe in "$second/src/ZEQHealth.exe" "$reference"; do
  if cmp "$first/src/ZEQHealth.exe" "$exe"; then
    echo "identical: $exe"
  else
    status=1
  fi
done
echo "size: $(stat -c %s "$first/src/ZEQHealth.exe") bytes, sha256: $(sha256sum <"$first/src/ZEQHealth.exe" | cut -d' ' -f1)"
# The result must not depend on the folders either: neither path may appear in it.
for dir in "$first" "$second" "$source_dir"; do
  if grep -qF "$dir" "$first/src/ZEQHealth.exe"; then
    echo "FAIL: the executable contains the path $dir"
    status=1
  fi
done
exit $status
