#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use (64-bit, so both registry views exist).
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers during prefix creation; nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot --init >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$prefix.lock"
fi

# The program's output goes through files, not straight to the caller: Wine's
# background processes (wineserver, services) inherit the standard handles and
# would keep a caller's pipe open for seconds, or for as long as other programs
# use the prefix, after this program has ended.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.err.XXXXXX")
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err" &
program=$!
trap 'kill "$program" 2>/dev/null' TERM INT
status=0
wait "$program" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"
