#!/usr/bin/env bash
# scripts/fuzz.sh [seconds] [extra libFuzzer args...]
# Builds the SQL parser fuzz target with clang (libFuzzer, AddressSanitizer, UBSan) in its own
# CMake build folder (build/fuzz, option QUILLON_FUZZ, off in the normal builds) and runs it for
# the given number of seconds (default 60) on a working corpus seeded from
# dataset/sql/fuzz/corpus. New inputs stay in build/fuzz/corpus; a crash leaves its input in
# build/fuzz/ and makes the script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
dir=${QUILLON_FUZZ_DIR:-$root/build/fuzz}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_SANITIZE=ON -DQUILLON_FUZZ=ON -DQUILLON_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -O1" >/dev/null
fi
cmake --build "$dir" -j 2 --target parser_fuzz
mkdir -p "$dir/corpus"
cp -n "$root"/dataset/sql/fuzz/corpus/* "$dir/corpus/" 2>/dev/null || true
cd "$dir"
./dataset/sql/parser_fuzz -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
  -dict="$root/dataset/sql/fuzz/sql.dict" "$@" corpus
