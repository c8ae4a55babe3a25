#!/usr/bin/env bash
# Runs every test: sets the machine up, builds the native configuration (with AddressSanitizer and
# UBSan) and runs its tests, then builds the win32 configuration (the program that ships) and runs
# its tests under Wine on a virtual display: natively where this machine runs 32-bit code, through
# qemu-user in a private namespace (scripts/run32.sh) where it runs 64-bit code only. Exits
# non-zero when anything fails.
#   QUILLON_WINDOWS_TESTS=all   also the Windows runs of portable suites that repeat the native run
#   QUILLON_TEST_WIN64=1        also build the win64 configuration and run its tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

"$root/scripts/setup.sh"

summary=()
failed=0
passed_total=0
failed_total=0
started=$SECONDS
stage_start=$SECONDS

stage_done() {  # stage_done <label>
  summary+=("time: $1 $((SECONDS - stage_start)) s")
  stage_start=$SECONDS
}

run_ctest() {  # run_ctest <label> <build dir> <command...>
  local label=$1 dir=$2 log rc=0
  shift 2
  log="$dir/ctest.log"
  "$@" 2>&1 | tee "$log" || rc=$?
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

stage_done setup
echo "== native build (sanitizers)"
"$root/scripts/build.sh" native
stage_done "native build"
echo "== native tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest native build/native ctest --test-dir build/native -j "$jobs" --output-on-failure
stage_done "native tests"

echo "== win32 build"
"$root/scripts/build.sh" win32
stage_done "win32 build"
# Portable suites already ran natively with sanitizers; their Windows runs are left out unless
# asked for (the label is set in cmake/QuillonTesting.cmake).
windows_args=()
[ "${QUILLON_WINDOWS_TESTS:-}" = all ] || windows_args=(-LE native-repeat)
if mode=$("$root/scripts/run32.sh" --mode); then
  echo "== win32 tests under Wine (32-bit code runs $mode here)"
  run_ctest win32 build/win32 "$root/scripts/run32.sh" bash "$root/scripts/wine-ctest.sh" build/win32 \
    "${windows_args[@]}"
  stage_done "win32 tests"
else
  echo "== this machine can run no 32-bit code: the Windows tests run in the win64 build"
  QUILLON_TEST_WIN64=1
fi
if [ "${QUILLON_TEST_WIN64:-0}" = 1 ]; then
  echo "== win64 build"
  "$root/scripts/build.sh" win64
  echo "== win64 tests under Wine"
  run_ctest win64 build/win64 bash "$root/scripts/wine-ctest.sh" build/win64 "${windows_args[@]}"
  stage_done "win64 build and tests"
fi

echo "== summary"
for s in "${summary[@]}"; do echo "$s"; done
echo "time: total $((SECONDS - started)) s"
echo "tests: $passed_total passed, $failed_total failed"
exit $failed
