// The table component over a song table of 1,000,000 records (index auto-increment primary,
// albumIndex integer with the secondary index "ByAlbum", song and url1 strings), side by side with
// the same work done on the engine cursor directly:
//   - opening the table;
//   - a full walk reading the song title of every record (records per second);
//   - RecNo to random positions and reading the title there;
//   - Locate / FindKey on the indexed albumIndex (own cursor on ByAlbum, and through the locate
//     clone from the primary order).
// The table is built once per process (Exclusive InsertRecord), then opened shared. Run from the
// release build: build/release/bench/table_component_bench.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dataset/quarry_table.h"
#include "engine/data_file.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"

namespace quillon {
namespace {

constexpr int kRecords = 1000000;
constexpr int kSongsPerAlbum = 12;

engine::TFieldDescriptor Field(const std::string& name, engine::TFieldType type, int size = 0,
                               std::uint8_t subType = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.SubType = subType;
  return f;
}

class SongTable {
 public:
  static SongTable& Get() {
    static SongTable instance;
    return instance;
  }
  std::string Folder() const { return dir_.Path(); }

 private:
  SongTable() {
    engine::InitializeEngine();
    engine::TTableDefinition def;
    def.Fields = {Field("index", engine::TFieldType::Integer, 0, engine::kSubTypeAutoInc),
                  Field("albumIndex", engine::TFieldType::Integer), Field("song", engine::TFieldType::String, 50),
                  Field("url1", engine::TFieldType::String, 150)};
    engine::TIndexDescriptor primary, byAlbum;
    primary.KeyFields[primary.KeyFieldCount++] = 1;
    byAlbum.IndexName = "ByAlbum";
    byAlbum.KeyFields[byAlbum.KeyFieldCount++] = 2;
    def.Indexes = {primary, byAlbum};
    engine::TDataFile table;
    table.SetFileName(dir_.File("songlist.dat"));
    table.SetExclusive(true);
    table.CreateTable(def);
    table.Open();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    for (int i = 0; i < kRecords; ++i) {
      table.InitRecord(record.data());
      std::int32_t album = i / kSongsPerAlbum + 1;
      std::string song = "Song number " + std::to_string(i);
      std::string url = "/lyrics/artist/album/song-" + std::to_string(i) + ".html";
      table.SetField(true, 2, &album, record.data());
      table.SetField(true, 3, song.c_str(), record.data());
      table.SetField(true, 4, url.c_str(), record.data());
      table.InsertRecord(record.data());
    }
    table.Close();
  }
  testing::TempDir dir_;
};

std::unique_ptr<engine::TDataFile> OpenEngine() {
  auto t = std::make_unique<engine::TDataFile>();
  t->SetFileName(SongTable::Get().Folder() + "songlist.dat");
  t->Open();
  return t;
}

std::unique_ptr<dataset::TQuarryTable> OpenComponent() {
  auto t = std::make_unique<dataset::TQuarryTable>();
  t->SetDatabaseName(SongTable::Get().Folder());
  t->SetTableName("songlist.dat");
  t->Open();
  return t;
}

void BM_EngineOpen(benchmark::State& state) {
  SongTable::Get();
  for (auto _ : state) {
    auto t = OpenEngine();
    std::vector<std::uint8_t> record(t->RecordBufferSize());
    t->First();
    benchmark::DoNotOptimize(t->Next(record.data()));
  }
}

void BM_ComponentOpen(benchmark::State& state) {
  SongTable::Get();
  for (auto _ : state) {
    auto t = OpenComponent();
    benchmark::DoNotOptimize(t->FieldNamed("song").AsString());
  }
}

void BM_EngineWalk(benchmark::State& state) {
  auto t = OpenEngine();
  std::vector<std::uint8_t> record(t->RecordBufferSize());
  char song[64];
  std::int64_t n = 0;
  for (auto _ : state) {
    t->First();
    while (t->Next(record.data()) == 0) {
      t->GetField(true, 3, record.data(), song);
      benchmark::DoNotOptimize(song[0]);
      ++n;
    }
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}

void BM_ComponentWalk(benchmark::State& state) {
  auto t = OpenComponent();
  dataset::TRecordField& song = t->FieldNamed("song");
  std::int64_t n = 0;
  for (auto _ : state) {
    for (t->First(); !t->Eof(); t->Next()) {
      benchmark::DoNotOptimize(song.AsString());
      ++n;
    }
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}

void BM_EngineRecNo(benchmark::State& state) {
  auto t = OpenEngine();
  std::vector<std::uint8_t> record(t->RecordBufferSize());
  char song[64];
  std::mt19937 random(1);
  for (auto _ : state) {
    t->SetRecNo(static_cast<int>(random() % kRecords) + 1);
    t->GetCurrent(record.data(), false);
    t->GetField(true, 3, record.data(), song);
    benchmark::DoNotOptimize(song[0]);
  }
}

void BM_ComponentRecNo(benchmark::State& state) {
  auto t = OpenComponent();
  dataset::TRecordField& song = t->FieldNamed("song");
  std::mt19937 random(1);
  for (auto _ : state) {
    t->SetRecNo(static_cast<int>(random() % kRecords) + 1);
    benchmark::DoNotOptimize(song.AsString());
  }
}

void BM_EngineFindKey(benchmark::State& state) {
  auto t = OpenEngine();
  t->SelectIndex("ByAlbum");
  std::vector<std::uint8_t> key(t->RecordBufferSize()), record(t->RecordBufferSize());
  std::mt19937 random(2);
  for (auto _ : state) {
    std::int32_t album = static_cast<std::int32_t>(random() % (kRecords / kSongsPerAlbum)) + 1;
    t->InitRecord(key.data());
    t->SetField(true, 2, &album, key.data());
    benchmark::DoNotOptimize(t->FindKey(key.data(), false, true, 1, -1, record.data()));
  }
}

// range(0) = 1: the table's order is ByAlbum (own cursor); 0: primary order (locate clone).
void BM_ComponentLocate(benchmark::State& state) {
  auto t = OpenComponent();
  if (state.range(0)) t->SetIndexName("ByAlbum");
  std::mt19937 random(2);
  for (auto _ : state) {
    std::int64_t album = static_cast<std::int64_t>(random() % (kRecords / kSongsPerAlbum)) + 1;
    if (!t->Locate("albumIndex", dataset::TFieldValue{album})) state.SkipWithError("not found");
  }
}

BENCHMARK(BM_EngineOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComponentOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineWalk)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ComponentWalk)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_EngineRecNo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComponentRecNo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineFindKey)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComponentLocate)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
