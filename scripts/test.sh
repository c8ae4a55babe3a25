#!/usr/bin/env bash
# Runs every test: sets the machine up, builds the native configuration (with AddressSanitizer and
# UBSan) and the win32 configuration, runs the native tests, then the Windows tests under Wine on
# a virtual X display (in the win64 build where the machine runs no 32-bit code). Exits non-zero
# when anything fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

"$root/scripts/setup.sh"

summary=()
failed=0
passed_total=0
failed_total=0

run_ctest() {  # run_ctest <label> <build dir>
  local label=$1 dir=$2 log rc=0
  log="$dir/ctest.log"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure 2>&1 | tee "$log" || rc=$?
  [ "${PIPESTATUS[0]:-$rc}" = 0 ] || rc=1
  local line p=0 f=0
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    local total
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    p=$((total - f))
  elif [ $rc != 0 ]; then
    f=1
  fi
  passed_total=$((passed_total + p))
  failed_total=$((failed_total + f))
  summary+=("$label: $p passed, $f failed")
  if [ $rc != 0 ] || [ "$f" != 0 ]; then failed=1; fi
}

echo "== native build (sanitizers)"
"$root/scripts/build.sh" native
echo "== native tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest native build/native

echo "== win32 build"
"$root/scripts/build.sh" win32
. "$root/scripts/wine-env.sh"
# The program is a 32-bit one; where this machine runs no 32-bit code its Windows tests run in the
# 64-bit build of the same sources instead.
kind=$(quillon_windows_kind)
if [ "$kind" = win64 ]; then
  echo "== this machine runs no 32-bit code: the Windows tests run in the win64 build"
  "$root/scripts/build.sh" win64
fi
echo "== $kind tests under Wine"
trap quillon_wine_down EXIT
quillon_wine_up "build/$kind"
quillon_wine_persist
run_ctest "$kind" "build/$kind"
wineserver -k >/dev/null 2>&1 || true
quillon_wine_down
trap - EXIT

echo "== summary"
for s in "${summary[@]}"; do echo "$s"; done
echo "tests: $passed_total passed, $failed_total failed"
exit $failed
