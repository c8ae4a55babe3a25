// Index B+-tree throughput: 1,000,000 keys inserted in random order into the primary index of a
// fresh table, then 1,000,000 lookups of random present keys, for an int32 key (KeyLength 5) and
// a 41-byte string key, in each leaf compression mode. Reports keys per second and the index
// file's size per key. Run from the release build: build/release/bench/index_tree_bench.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/index_key.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

constexpr int kKeys = 1000000;

enum TKeyKind { kInt32 = 0, kString41 = 1 };

TTableDefinition Definition(TKeyKind kind, int compression) {
  TFieldDescriptor field;
  field.FieldName = "K";
  if (kind == kInt32) {
    field.FieldType = static_cast<std::uint8_t>(TFieldType::Integer);
  } else {
    field.FieldType = static_cast<std::uint8_t>(TFieldType::String);
    field.DeclaredSize = 39;  // 40 data bytes + the null byte = 41
  }
  TIndexDescriptor primary;
  primary.KeyFieldCount = 1;
  primary.KeyFields[0] = 1;
  primary.Compression = static_cast<std::uint8_t>(compression);
  TTableDefinition t;
  t.Fields = {field};
  t.Indexes = {primary};
  return t;
}

// Distinct keys in random order: integers spread over the whole range, or names of 8 to 39
// letters with common leading words, as the lyrics tables hold.
std::vector<TKey> MakeKeys(TKeyKind kind) {
  std::mt19937 random(42);
  std::vector<TKey> keys;
  keys.reserve(kKeys);
  if (kind == kInt32) {
    std::vector<std::int32_t> values(kKeys);
    for (int i = 0; i < kKeys; ++i) values[static_cast<std::size_t>(i)] = i * 2147 - 1073741824;
    std::shuffle(values.begin(), values.end(), random);
    for (std::int32_t v : values) {
      TKey key(5);
      key[0] = 1;
      PutIntegerKey(key.data() + 1, v);
      keys.push_back(std::move(key));
    }
    return keys;
  }
  const char* words[] = {"THE ", "LOVE ", "MY ", "NIGHT ", "SONG ", "BLUE ", "A ", "HEART "};
  for (int i = 0; i < kKeys; ++i) {
    std::string s = words[random() % 8];
    s += words[random() % 8];
    int letters = 2 + static_cast<int>(random() % 16);
    for (int k = 0; k < letters; ++k) s += static_cast<char>('A' + random() % 26);
    s += std::to_string(i);
    s.resize(std::min<std::size_t>(s.size(), 39));
    TKey key(41, 0);
    key[0] = 1;
    std::memcpy(key.data() + 1, s.data(), s.size());
    keys.push_back(std::move(key));
  }
  return keys;
}

const std::vector<TKey>& Keys(TKeyKind kind) {
  static std::vector<TKey> ints = MakeKeys(kInt32);
  static std::vector<TKey> strings = MakeKeys(kString41);
  return kind == kInt32 ? ints : strings;
}

void Fill(TDataFile& table, const std::vector<TKey>& keys) {
  TIndexFile& index = table.IndexFile();
  std::uint32_t record = 0;
  for (const TKey& key : keys) index.InsertKey(key, ++record);
}

std::unique_ptr<TDataFile> OpenTable(const std::string& name) {
  auto table = std::make_unique<TDataFile>();
  table->SetFileName(name);
  table->SetExclusive(true);
  table->Open();
  return table;
}

void CreateTable(const std::string& name, TKeyKind kind, int compression) {
  TDataFile table;
  table.SetFileName(name);
  table.SetExclusive(true);
  table.CreateTable(Definition(kind, compression));
}

void BM_InsertKeys(benchmark::State& state) {
  InitializeEngine();
  auto kind = static_cast<TKeyKind>(state.range(0));
  int compression = static_cast<int>(state.range(1));
  const std::vector<TKey>& keys = Keys(kind);
  quillon::testing::TempDir dir;
  std::uintmax_t fileSize = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string name = dir.File("bench");
    CreateTable(name, kind, compression);
    auto table = OpenTable(name);
    state.ResumeTiming();
    Fill(*table, keys);
    table->Close();  // writes the remaining dirty pages
    state.PauseTiming();
    fileSize = std::filesystem::file_size(dir.File("bench.IDX"));
    table->DeleteTable();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
  state.counters["idx_bytes_per_key"] = static_cast<double>(fileSize) / kKeys;
}

void BM_LookupKeys(benchmark::State& state) {
  InitializeEngine();
  auto kind = static_cast<TKeyKind>(state.range(0));
  int compression = static_cast<int>(state.range(1));
  const std::vector<TKey>& keys = Keys(kind);
  quillon::testing::TempDir dir;
  std::string name = dir.File("bench");
  CreateTable(name, kind, compression);
  {
    auto table = OpenTable(name);
    Fill(*table, keys);
    table->Close();
  }
  auto table = OpenTable(name);
  std::mt19937 random(7);
  std::vector<std::uint32_t> order(kKeys);
  for (int i = 0; i < kKeys; ++i) order[static_cast<std::size_t>(i)] = random() % kKeys;
  std::int64_t found = 0;
  for (auto _ : state) {
    for (std::uint32_t i : order) found += table->IndexFile().ContainsKey(keys[i]) ? 1 : 0;
  }
  if (found != state.iterations() * kKeys) state.SkipWithError("a key went missing");
  state.SetItemsProcessed(state.iterations() * kKeys);
  state.counters["idx_bytes_per_key"] = static_cast<double>(std::filesystem::file_size(dir.File("bench.IDX"))) / kKeys;
}

void Shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"string41", "compression"});
  for (int kind : {kInt32, kString41})
    for (int compression = 0; compression <= 3; ++compression) b->Args({kind, compression});
  b->Unit(benchmark::kMillisecond)->Iterations(1);
}

BENCHMARK(BM_InsertKeys)->Apply(Shapes);
BENCHMARK(BM_LookupKeys)->Apply(Shapes);

}  // namespace
}  // namespace quillon::engine

BENCHMARK_MAIN();
