// Table cursor throughput on a table of 1,000,000 records (Id integer with the primary index,
// Name string with a non-unique secondary index "ByName", names in random order), built once per
// process through InsertRecord on an Exclusive cursor:
//   - Next over every record in primary order, in ByName order and in physical order;
//   - SetRecNo at random positions (then GetCurrent), in primary and in ByName order;
//   - a callback filter over all records: activation (the bitmap build, one call per record)
//     and the filtered walk that follows (one visible record in ten).
// Counters are records per second (kIsRate). Run from the release build:
// build/release/bench/cursor_bench.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

constexpr std::uint32_t kRecords = 1000000;
constexpr int kId = 1, kName = 2;
constexpr int kByName = 1;
constexpr int kNameSize = 30;

TTableDefinition Definition() {
  TFieldDescriptor id;
  id.FieldName = "Id";
  id.FieldType = static_cast<std::uint8_t>(TFieldType::Integer);
  TFieldDescriptor name;
  name.FieldName = "Name";
  name.FieldType = static_cast<std::uint8_t>(TFieldType::String);
  name.DeclaredSize = kNameSize;
  TIndexDescriptor primary;
  primary.KeyFieldCount = 1;
  primary.KeyFields[0] = kId;
  TIndexDescriptor byName;
  byName.IndexName = "ByName";
  byName.KeyFieldCount = 1;
  byName.KeyFields[0] = kName;
  byName.Compression = 3;
  TTableDefinition t;
  t.Fields = {id, name};
  t.Indexes = {primary, byName};
  return t;
}

// The table, built on first use and kept open Exclusive for every benchmark of the process.
class BenchTable {
 public:
  static BenchTable& Get() {
    static BenchTable instance;
    return instance;
  }
  TDataFile& Table() { return table_; }
  std::vector<std::uint8_t>& Buffer() { return buffer_; }

 private:
  BenchTable() {
    InitializeEngine();
    std::string name = dir_.File("cursor");
    {
      TDataFile creator;
      creator.SetFileName(name);
      creator.SetExclusive(true);
      creator.CreateTable(Definition());
    }
    table_.SetFileName(name);
    table_.SetExclusive(true);
    table_.Open();
    buffer_.assign(table_.RecordBufferSize(), 0);
    const char* words[] = {"LOVE ", "NIGHT ", "SONG ", "BLUE ", "HEART ", "RAIN ", "FIRE ", "DREAM "};
    std::mt19937 random(42);
    std::vector<char> text(kNameSize + 1);
    auto start = std::chrono::steady_clock::now();
    for (std::int32_t id = 1; id <= static_cast<std::int32_t>(kRecords); ++id) {
      std::string s = words[random() % 8];
      s += words[random() % 8];
      for (int k = 0; k < 6; ++k) s += static_cast<char>('A' + random() % 26);
      std::fill(text.begin(), text.end(), '\0');
      std::memcpy(text.data(), s.data(), std::min<std::size_t>(s.size(), kNameSize));
      table_.InitRecord(buffer_.data());
      table_.SetField(false, kId, &id, buffer_.data());
      table_.SetField(false, kName, text.data(), buffer_.data());
      table_.InsertRecord(buffer_.data());
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "built %u records in %.1f s (%.0f inserts/s)\n", kRecords, seconds, kRecords / seconds);
  }

  quillon::testing::TempDir dir_;
  TDataFile table_;
  std::vector<std::uint8_t> buffer_;
};

void RecordsPerSecond(benchmark::State& state, std::int64_t records) {
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

// Next from First to the end; argument: the index (0, ByName, 255 physical order).
void BM_NextAll(benchmark::State& state) {
  TDataFile& table = BenchTable::Get().Table();
  auto& buffer = BenchTable::Get().Buffer();
  table.SelectIndex(static_cast<int>(state.range(0)));
  std::int64_t records = 0;
  for (auto _ : state) {
    table.First();
    std::uint32_t seen = 0;
    while (table.Next(buffer.data()) == 0) ++seen;
    if (seen != kRecords) state.SkipWithError("the walk missed records");
    records += seen;
  }
  RecordsPerSecond(state, records);
  table.SelectIndex(0);
}

// SetRecNo to a random position, then GetCurrent; argument: the index.
void BM_SetRecNo(benchmark::State& state) {
  TDataFile& table = BenchTable::Get().Table();
  auto& buffer = BenchTable::Get().Buffer();
  table.SelectIndex(static_cast<int>(state.range(0)));
  std::mt19937 random(9);
  std::vector<std::uint32_t> positions(100000);
  for (auto& p : positions) p = random() % kRecords + 1;
  std::int64_t records = 0;
  for (auto _ : state) {
    for (std::uint32_t p : positions) {
      table.SetRecNo(p);
      if (table.GetCurrent(buffer.data(), false) != 0) state.SkipWithError("SetRecNo found no record");
    }
    records += static_cast<std::int64_t>(positions.size());
  }
  RecordsPerSecond(state, records);
  table.SelectIndex(0);
}

bool EveryTenth(TDataFile& table, const std::uint8_t* record) {
  std::int32_t id = 0;
  table.GetField(false, kId, record, &id);
  return id % 10 == 0;
}

// Activating a callback filter: one call per record to build its bitmap; argument: the index.
void BM_FilterActivate(benchmark::State& state) {
  TDataFile& table = BenchTable::Get().Table();
  table.SelectIndex(static_cast<int>(state.range(0)));
  std::int64_t records = 0;
  for (auto _ : state) {
    std::uint32_t handle = table.AddFilter(
        nullptr, [&table](const std::uint8_t* r, std::uint32_t) { return EveryTenth(table, r); }, false);
    table.ActivateFilter(handle);
    state.PauseTiming();
    if (table.RecordCount() != kRecords / 10) state.SkipWithError("the filter passed a wrong number of records");
    table.RemoveFilter(handle);
    state.ResumeTiming();
    records += kRecords;
  }
  RecordsPerSecond(state, records);
  table.SelectIndex(0);
}

// Next over the records a filter lets through (one in ten), in index order 0, ByName or
// physical order; records/s counts the visible records met, entries/s every record passed.
void BM_FilteredNext(benchmark::State& state) {
  TDataFile& table = BenchTable::Get().Table();
  auto& buffer = BenchTable::Get().Buffer();
  table.SelectIndex(static_cast<int>(state.range(0)));
  std::uint32_t handle = table.AddFilter(
      nullptr, [&table](const std::uint8_t* r, std::uint32_t) { return EveryTenth(table, r); }, false);
  table.ActivateFilter(handle);
  std::int64_t records = 0, entries = 0;
  for (auto _ : state) {
    table.First();
    std::uint32_t seen = 0;
    while (table.Next(buffer.data()) == 0) ++seen;
    if (seen != kRecords / 10) state.SkipWithError("the filtered walk met a wrong number of records");
    records += seen;
    entries += kRecords;
  }
  RecordsPerSecond(state, records);
  state.counters["entries/s"] = benchmark::Counter(static_cast<double>(entries), benchmark::Counter::kIsRate);
  table.RemoveFilter(handle);
  table.SelectIndex(0);
}

void Orders(benchmark::internal::Benchmark* b) {
  b->ArgName("index");
  for (int index : {0, kByName, 255}) b->Arg(index);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_NextAll)->Apply(Orders);
BENCHMARK(BM_SetRecNo)->ArgName("index")->Arg(0)->Arg(kByName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterActivate)->Apply(Orders);
BENCHMARK(BM_FilteredNext)->Apply(Orders);

}  // namespace
}  // namespace quillon::engine

BENCHMARK_MAIN();
