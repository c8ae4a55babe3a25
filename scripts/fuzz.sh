#!/usr/bin/env bash
# scripts/fuzz.sh [sql|filter|skin|table|repair] [seconds] [extra libFuzzer args...]
# Builds a fuzz target (default sql: the SQL parser; filter: filter texts compiled into filter
# buffers; skin: the skin package loader and BMP reader; table: opening, checking and walking
# damaged tables; repair: repairing damaged tables, whose result must check clean)
# with clang (libFuzzer, AddressSanitizer, UBSan) in its own
# CMake build folder (build/fuzz, option QUILLON_FUZZ, off in the normal builds) and runs it for
# the given number of seconds (default 60) on a working corpus seeded from the target's corpus
# folder. New inputs stay in build/fuzz/corpus (build/fuzz/skin-corpus); a crash leaves its input
# in build/fuzz/ and makes the script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=sql
case "${1:-}" in sql|filter|skin|table|repair) target=$1; shift ;; esac
seconds=${1:-60}
shift || true
dir=${QUILLON_FUZZ_DIR:-$root/build/fuzz}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_SANITIZE=ON -DQUILLON_FUZZ=ON -DQUILLON_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -O1" >/dev/null
fi
if [ "$target" = table ] || [ "$target" = repair ]; then
  # Seeds are real tables written by the engine itself, so they follow the current file format.
  cmake --build "$dir" -j 2 --target "${target}_fuzz" make_table_seeds
  mkdir -p "$dir/$target-corpus"
  "$dir/engine/make_table_seeds" "$dir/table-seeds"
  cp -n "$dir"/table-seeds/*.table "$dir/$target-corpus/" 2>/dev/null || true
  cd "$dir"
  exec "./engine/${target}_fuzz" -max_total_time="$seconds" -timeout=20 -max_len=262144 -rss_limit_mb=2048 \
    -print_final_stats=1 "$@" "$target-corpus"
fi
if [ "$target" = filter ]; then
  cmake --build "$dir" -j 2 --target filter_fuzz
  mkdir -p "$dir/filter-corpus"
  cp -n "$root"/dataset/sql/fuzz/filter-corpus/* "$dir/filter-corpus/" 2>/dev/null || true
  cd "$dir"
  exec ./dataset/sql/filter_fuzz -max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1 "$@" \
    filter-corpus
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
