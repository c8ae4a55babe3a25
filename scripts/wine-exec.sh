#!/usr/bin/env bash
# CTest's emulator for the win32 build: wine-exec.sh <build dir> <program.exe> [args...]
# Uses the prefix and display that scripts/test.sh prepared; when run on its own (a developer
# calling ctest directly) it prepares them for this one program and tears them down after.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build_dir=$1
shift
# Wine leaves helper processes (services, the desktop's explorer) running after a program ends;
# they must not inherit the caller's output pipe, or CTest would wait for them to close it.
run_captured() {
  local out rc
  out=$(mktemp)
  wine "$@" >"$out" 2>&1 </dev/null
  rc=$?
  cat "$out"
  rm -f "$out"
  return $rc
}

if [ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
  run_captured "$@"
  exit $?
fi
. "$here/wine-env.sh"
prefix_lock="$build_dir/.wineprefix.lock"
exec 9>"$prefix_lock"
flock 9
quillon_wine_up "$build_dir"
flock -u 9
run_captured "$@"
rc=$?
quillon_wine_down
exit $rc
