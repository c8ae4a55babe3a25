#!/usr/bin/env bash
# scripts/build.sh native|win32|release [cmake --build args...]
#   native   host compiler, sanitizers on: portable libraries, tools, native tests   -> build/native
#   win32    MinGW-w64 i686, static: everything, tests run under Wine                  -> build/win32
#   release  host compiler, optimised, no sanitizers: benchmarks and the fast shell     -> build/release
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?usage: scripts/build.sh native|win32|release}
shift || true
jobs=$(nproc)
case "$kind" in
  native)
    dir="$root/build/native"
    args=(-DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON)
    ;;
  win32)
    dir="$root/build/win32"
    "$root/scripts/third_party.sh" "$root/build/third_party"
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
          -DQUILLON_THIRD_PARTY="$root/build/third_party/i686")
    ;;
  release)
    dir="$root/build/release"
    args=(-DCMAKE_BUILD_TYPE=Release)
    ;;
  *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "${args[@]}" >/dev/null
fi
cmake --build "$dir" -j "$jobs" "$@"
