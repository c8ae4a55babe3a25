#!/usr/bin/env bash
# scripts/build.sh native|win32|win64|release|win32-release [cmake --build args...]
#   native   host compiler, sanitizers on: portable libraries, tools, native tests   -> build/native
#   win32    MinGW-w64 i686, static: everything, tests run under Wine                  -> build/win32
#   win64    MinGW-w64 x86_64, static: the same, for machines that run no 32-bit code  -> build/win64
#   release  host compiler, optimised, no sanitizers: benchmarks and the fast shell     -> build/release
#   win32-release  the shipped program and tools (scripts/package.sh builds only those
#            targets, so no test code): optimised as win32, no benchmarks  -> build/win32-release
# QUILLON_BUILD_ROOT moves the build folders elsewhere (default: build/ in the checkout), so that
# several builds of one checkout can run side by side.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?usage: scripts/build.sh native|win32|win64|release|win32-release}
shift || true
jobs=$(nproc)
build_root=${QUILLON_BUILD_ROOT:-$root/build}
case "$kind" in
  native)
    dir="$build_root/native"
    args=(-DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON)
    ;;
  win32)
    dir="$build_root/win32"
    "$root/scripts/third_party.sh" "$root/build/third_party"
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
          -DQUILLON_THIRD_PARTY="$root/build/third_party/i686")
    ;;
  win32-release)
    # The same compiler flags as win32, so that ccache serves the objects of one build to the
    # other; the package strips the debugging information off the executables.
    dir="$build_root/win32-release"
    "$root/scripts/third_party.sh" "$root/build/third_party"
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
          -DQUILLON_THIRD_PARTY="$root/build/third_party/i686" -DQUILLON_BENCH=OFF)
    ;;
  win64)
    dir="$build_root/win64"
    "$root/scripts/third_party.sh" "$root/build/third_party" x86_64
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
          -DQUILLON_THIRD_PARTY="$root/build/third_party/x86_64")
    ;;
  release)
    dir="$build_root/release"
    args=(-DCMAKE_BUILD_TYPE=Release)
    ;;
  *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
# ccache, when installed, keeps repeated builds (and builds of other clones of the tree) short.
if command -v ccache >/dev/null 2>&1; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root"
  # Debug information would otherwise tie every cached object to one checkout's build folder.
  export CCACHE_NOHASHDIR=1
fi
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "${args[@]}" >/dev/null
fi
cmake --build "$dir" -j "$jobs" "$@"
