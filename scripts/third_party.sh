#!/usr/bin/env bash
# scripts/third_party.sh <dir> [i686|x86_64] : builds the libraries the Windows program needs from
# Debian's source packages, for i686 (default) or x86_64 with MinGW-w64, static, into <dir>/<arch>.
# Does nothing when they are
# already there.
set -euo pipefail
out=${1:?usage: scripts/third_party.sh <dir>}
mkdir -p "$out"
out=$(cd "$out" && pwd)
arch=${2:-i686}
prefix="$out/$arch"
# Build folders of the default architecture keep their old names.
build_suffix=""
[ "$arch" = i686 ] || build_suffix="-$arch"
root=$(cd "$(dirname "$0")/.." && pwd)

if [ ! -f "$prefix/lib/libjpeg.a" ]; then
  src="$out/src"
  mkdir -p "$src"
  if ! ls -d "$src"/libjpeg-turbo-*/ >/dev/null 2>&1; then
    (cd "$src" && apt-get source -q libjpeg-turbo >/dev/null)
  fi
  jpeg_src=$(ls -d "$src"/libjpeg-turbo-*/ | head -n 1)
  cmake -S "$jpeg_src" -B "$out/libjpeg-build$build_suffix" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch-plain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
    -DWITH_JAVA=OFF >/dev/null
  cmake --build "$out/libjpeg-build$build_suffix" -j "$(nproc)" >/dev/null
  cmake --install "$out/libjpeg-build$build_suffix" >/dev/null
fi
