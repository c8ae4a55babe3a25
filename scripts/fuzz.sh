#!/usr/bin/env bash
# scripts/fuzz.sh [sql|skin|table] [seconds] [extra libFuzzer args...]
# Builds a fuzz target (default sql: the SQL parser; skin: the skin package loader and BMP reader;
# table: opening, checking and walking damaged tables)
# with clang (libFuzzer, AddressSanitizer, UBSan) in its own
# CMake build folder (build/fuzz, option QUILLON_FUZZ, off in the normal builds) and runs it for
# the given number of seconds (default 60) on a working corpus seeded from the target's corpus
# folder. New inputs stay in build/fuzz/corpus (build/fuzz/skin-corpus); a crash leaves its input
# in build/fuzz/ and makes the script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=sql
case "${1:-}" in sql|skin|table) target=$1; shift ;; esac
seconds=${1:-60}
shift || true
dir=${QUILLON_FUZZ_DIR:-$root/build/fuzz}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_SANITIZE=ON -DQUILLON_FUZZ=ON -DQUILLON_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -O1" >/dev/null
fi
if [ "$target" = table ]; then
  # Seeds are real tables written by the engine itself, so they follow the current file format.
  cmake --build "$dir" -j 2 --target table_fuzz make_table_seeds
  mkdir -p "$dir/table-corpus"
  "$dir/engine/make_table_seeds" "$dir/table-seeds"
  cp -n "$dir"/table-seeds/*.table "$dir/table-corpus/" 2>/dev/null || true
  cd "$dir"
  exec ./engine/table_fuzz -max_total_time="$seconds" -timeout=20 -max_len=262144 -rss_limit_mb=2048 \
    -print_final_stats=1 "$@" table-corpus
fi
if [ "$target" = skin ]; then
  cmake --build "$dir" -j 2 --target skin_fuzz
  mkdir -p "$dir/skin-corpus"
  cp -n "$root"/skin/fuzz/corpus/* "$dir/skin-corpus/" 2>/dev/null || true
  cd "$dir"
  exec ./skin/skin_fuzz -max_total_time="$seconds" -timeout=10 -max_len=131072 -rss_limit_mb=2048 \
    -print_final_stats=1 "$@" skin-corpus
fi
cmake --build "$dir" -j 2 --target parser_fuzz
mkdir -p "$dir/corpus"
cp -n "$root"/dataset/sql/fuzz/corpus/* "$dir/corpus/" 2>/dev/null || true
cd "$dir"
./dataset/sql/parser_fuzz -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
  -dict="$root/dataset/sql/fuzz/sql.dict" "$@" corpus
