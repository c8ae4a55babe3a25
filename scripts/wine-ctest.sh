#!/usr/bin/env bash
# scripts/wine-ctest.sh <Windows build dir> [ctest args...]
# Runs a Windows build's tests under Wine on a virtual display with one Wine prefix and server for
# the whole run. scripts/test.sh starts it through scripts/run32.sh for the win32 build, so that it
# also runs where 32-bit code runs only under emulation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "${1:?usage: wine-ctest.sh <build dir> [ctest args...]}" && pwd)
shift
. "$root/scripts/wine-env.sh"
trap quillon_wine_down EXIT
quillon_wine_up "$dir"
quillon_wine_persist
# Which code runs here, for the log: the test executables' kind, and how this machine runs it.
exe=$(find "$dir/util/tests" -maxdepth 1 -name '*.exe' | head -n 1)
if [ -n "$exe" ]; then
  how="natively"
  if [ -r /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    how="through $(/usr/bin/qemu-i386 --version | head -n 1)"
  fi
  echo "wine-ctest: $(file -b "$exe" | cut -d, -f1) executables, run $how"
fi
rc=0
ctest --test-dir "$dir" -j "$(nproc)" --output-on-failure "$@" || rc=$?
wineserver -k >/dev/null 2>&1 || true
exit $rc
