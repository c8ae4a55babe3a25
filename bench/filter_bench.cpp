// Filter expressions over engine tables, built once per process on Exclusive cursors:
//   - albums: 80,000 records (Id, Artist string 40 with the secondary index "ByArtist", 20,000
//     artists in random order) and the same rows in a table without the artist index;
//   - songs: 1,000,000 records (Id, Song string 60, titles from a small word list), and the same
//     rows in an SQLite database (one table, no index).
// Benchmarks:
//   - BM_ArtistFilterIndexed: activating Artist='<name>' through ByArtist (an index range; the
//     counter "tested" must stay 0) and removing it again;
//   - BM_ArtistFilterScan: the same filter on the table without the index (every record tested);
//     records/s compares with cursor_bench's callback-filter rate;
//   - BM_LikeFilter: activating LOWER(Song) LIKE '%love%' over the songs; records/s;
//   - BM_SqliteLike: SELECT count(*) FROM songs WHERE lower(song) LIKE '%love%'; records/s.
// Run from the release build: build/release/bench/filter_bench.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/sql/filter_expr.h"
#include "dataset/sql/table_filter.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/tests/table_definitions.h"
#include "util/testing/temp_dir.h"

namespace quillon::sql {
namespace {

using engine::testing::Field;

using engine::TDataFile;
using engine::TFieldType;

constexpr std::uint32_t kAlbums = 80000;
constexpr std::uint32_t kArtists = 20000;
constexpr std::uint32_t kSongs = 1000000;

engine::TTableDefinition Table(const std::string& textField, int size, bool indexed) {
  engine::TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field(textField, TFieldType::String, size)};
  engine::TIndexDescriptor primary;
  primary.KeyFieldCount = 1;
  primary.KeyFields[0] = 1;
  t.Indexes = {primary};
  if (indexed) {
    engine::TIndexDescriptor by;
    by.IndexName = "By" + textField;
    by.KeyFieldCount = 1;
    by.KeyFields[0] = 2;
    t.Indexes.push_back(by);
  }
  return t;
}

std::string ArtistName(std::uint32_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "Artist %05u", n);
  return text;
}

class Data {
 public:
  static Data& Get() {
    static Data data;
    return data;
  }
  TDataFile albums, albumsNoIndex, songs;
  sqlite3* db = nullptr;

 private:
  Data() {
    engine::InitializeEngine();
    auto start = std::chrono::steady_clock::now();
    Create(albums, "albums", Table("Artist", 40, true));
    Create(albumsNoIndex, "albums_plain", Table("Artist", 40, false));
    std::mt19937 random(5);
    for (std::uint32_t id = 1; id <= kAlbums; ++id) {
      std::string artist = ArtistName(random() % kArtists + 1);
      Insert(albums, id, artist);
      Insert(albumsNoIndex, id, artist);
    }
    Create(songs, "songs", Table("Song", 60, false));
    if (sqlite3_open(dir_.File("songs.db").c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec("CREATE TABLE songs(id INTEGER PRIMARY KEY, song TEXT)");
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO songs VALUES(?, ?)", -1, &insert, nullptr);
    const char* words[] = {"Love", "Night", "Song",  "Blue",  "Heart", "Rain", "Fire", "Dream",
                           "Road", "Home",  "Lover", "Glove", "Time",  "Sky",  "Gold", "River"};
    for (std::uint32_t id = 1; id <= kSongs; ++id) {
      std::string title = std::string(words[random() % 16]) + " " + words[random() % 16] + " " + words[random() % 16];
      Insert(songs, id, title);
      sqlite3_bind_int(insert, 1, static_cast<int>(id));
      sqlite3_bind_text(insert, 2, title.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
    // Reopened as the program finds them: written out, nothing left in the caches from building.
    for (TDataFile* table : {&albums, &albumsNoIndex, &songs}) {
      table->Close();
      table->Open();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "built the tables in %.1f s\n", seconds);
  }
  void Exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }
  void Create(TDataFile& table, const std::string& name, const engine::TTableDefinition& definition) {
    {
      TDataFile creator;
      creator.SetFileName(dir_.File(name));
      creator.SetExclusive(true);
      creator.CreateTable(definition);
    }
    table.SetFileName(dir_.File(name));
    table.SetExclusive(true);
    table.Open();
  }
  static void Insert(TDataFile& table, std::int32_t id, const std::string& text) {
    std::vector<std::uint8_t> record(table.RecordBufferSize(), 0);
    table.InitRecord(record.data());
    table.SetField(false, 1, &id, record.data());
    table.SetField(false, 2, text.c_str(), record.data());
    table.InsertRecord(record.data());
  }
  quillon::testing::TempDir dir_;
};

void ArtistFilter(benchmark::State& state, TDataFile& table) {
  std::vector<std::uint8_t> canned =
      TFilterExpr(FilterFieldsOf(table)).Compile({}, "Artist='" + ArtistName(1234) + "'");
  std::int64_t records = 0;
  std::uint32_t tested = 0, passed = 0;
  for (auto _ : state) {
    auto filter = TFilter::FromCanned(table, canned);
    std::uint32_t handle = table.AddFilter(filter, nullptr, false);
    table.ActivateFilter(handle);
    state.PauseTiming();
    tested = filter->RecordsTested();
    passed = table.RecordCount();
    table.RemoveFilter(handle);
    state.ResumeTiming();
    records += kAlbums;
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
  state.counters["tested"] = tested;
  state.counters["passed"] = passed;
}

void BM_ArtistFilterIndexed(benchmark::State& state) {
  ArtistFilter(state, Data::Get().albums);
}
void BM_ArtistFilterScan(benchmark::State& state) {
  ArtistFilter(state, Data::Get().albumsNoIndex);
}

void BM_LikeFilter(benchmark::State& state) {
  TDataFile& table = Data::Get().songs;
  auto column = MakeNode(kNodeColumn, op::kNone, "Song");
  column->ColumnName = "Song";
  column->FieldNumber = 2;
  column->DataType = static_cast<int>(TFieldType::String);
  auto lower = MakeNode(kNodeFunction, op::kLower, "LOWER");
  lower->First = std::move(column);
  auto pattern = MakeNode(kNodeConstant, op::kNone, "%love%");
  pattern->SetString("%love%");
  auto like = MakeNode(kNodeExtended, op::kLike, "LIKE");
  lower->Next = std::move(pattern);
  like->First = std::move(lower);
  std::int64_t records = 0;
  std::uint32_t passed = 0;
  for (auto _ : state) {
    std::uint32_t handle = table.AddFilter(TFilter::FromBorrowedTree(table, *like), nullptr, false);
    table.ActivateFilter(handle);
    state.PauseTiming();
    passed = table.RecordCount();
    table.RemoveFilter(handle);
    state.ResumeTiming();
    records += kSongs;
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
  state.counters["passed"] = passed;
}

void BM_SqliteLike(benchmark::State& state) {
  sqlite3* db = Data::Get().db;
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM songs WHERE lower(song) LIKE '%love%'", -1, &query, nullptr);
  std::int64_t records = 0;
  int passed = 0;
  for (auto _ : state) {
    sqlite3_step(query);
    passed = sqlite3_column_int(query, 0);
    sqlite3_reset(query);
    records += kSongs;
  }
  sqlite3_finalize(query);
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
  state.counters["passed"] = passed;
}

BENCHMARK(BM_ArtistFilterIndexed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArtistFilterScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LikeFilter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteLike)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon::sql

BENCHMARK_MAIN();
