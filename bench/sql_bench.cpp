// SQL statements over a generated lyrics base, side by side with SQLite on the same rows and the
// same indexes, in one run:
//   - songlist: 1,000,000 songs (index, albumIndex with the index "ByAlbum", song CHAR(50),
//     titles of three words from a small list);
//   - AlbumList: 80,000 albums (index, album CHAR(40), artist CHAR(40) with "ByArtist", 20,000
//     artists).
// Benchmarks (each statement executed and every result row read):
//   - the local search's three statements: song only, artist only, both;
//   - the same three, and the song-only search for "love" (a large result), through the query
//     component, reading every field of every row as text, as the data grid does;
//   - SELECT COUNT(*) FROM songlist;
//   - a SELECT by primary key.
// The SQLite statements are the same text, with "index" quoted (a keyword there).
// Run from the release build: build/release/bench/sql_bench. The rows per statement are shown
// as the counter "rows" so that both sides can be seen to agree.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/field.h"
#include "dataset/quarry_query.h"
#include "dataset/sql/data_query.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/tests/table_definitions.h"
#include "util/testing/temp_dir.h"

namespace quillon::sql {
namespace {

using engine::testing::Field;
using engine::testing::IndexOn;

using dataset::TQuarryQuery;
using engine::TDataFile;
using engine::TFieldType;

constexpr std::int32_t kAlbums = 80000;
constexpr std::int32_t kArtists = 20000;
constexpr std::int32_t kSongs = 1000000;

const char* const kSongOnly =
    "Select a.song,b.artist,b.album,a.index from \"songlist\" a, \"AlbumList\" b where (lower(a.song) like "
    "'%lover glove%') and (a.albumindex=b.index) order by a.song";
const char* const kArtistOnly =
    "Select a.song,b.artist,b.album,a.index from \"songlist\" a, \"AlbumList\" b where (lower(b.artist) like "
    "'%artist 0123%') and (a.albumindex=b.index) order by b.album";
const char* const kBoth =
    "Select a.song,b.artist,b.album,a.index from \"songlist\" a, \"AlbumList\" b where (lower(a.song) like "
    "'%love%') and (lower(b.artist) like '%artist 0123%') and (a.albumindex=b.index) order by b.album";
const char* const kSongOnlyLarge =
    "Select a.song,b.artist,b.album,a.index from \"songlist\" a, \"AlbumList\" b where (lower(a.song) like "
    "'%love%') and (a.albumindex=b.index) order by a.song";
const char* const kCount = "select count(*) from songlist";
const char* const kByKey = "select song, albumindex from songlist where index = 765432";

std::string ForSqlite(std::string sql) {
  for (std::size_t p = 0; (p = sql.find(".index", p)) != std::string::npos; p += 8) sql.replace(p, 6, ".\"index\"");
  for (std::size_t p = 0; (p = sql.find("where index", p)) != std::string::npos; p += 13) {
    sql.replace(p, 11, "where \"index\"");
  }
  return sql;
}

class Data {
 public:
  static Data& Get() {
    static Data data;
    return data;
  }
  std::string Directory() const { return dir_.Path(); }
  sqlite3* db = nullptr;

 private:
  Data() {
    engine::InitializeEngine();
    engine::Session().SetPrivateDir(dir_.Path());
    auto start = std::chrono::steady_clock::now();
    if (sqlite3_open(dir_.File("base.db").c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec("CREATE TABLE AlbumList(\"index\" INTEGER PRIMARY KEY, album TEXT, artist TEXT)");
    Exec("CREATE INDEX ByArtist ON AlbumList(artist)");
    Exec("CREATE TABLE songlist(\"index\" INTEGER PRIMARY KEY, albumIndex INTEGER, song TEXT)");
    Exec("CREATE INDEX ByAlbum ON songlist(albumIndex)");
    Exec("BEGIN");
    std::mt19937 random(11);
    {
      engine::TTableDefinition t;
      t.Fields = {Field("index", TFieldType::Integer), Field("album", TFieldType::String, 40),
                  Field("artist", TFieldType::String, 40)};
      t.Indexes = {IndexOn("", 1), IndexOn("ByArtist", 3)};
      TDataFile table;
      Create(table, "AlbumList", t);
      sqlite3_stmt* insert = nullptr;
      sqlite3_prepare_v2(db, "INSERT INTO AlbumList VALUES(?, ?, ?)", -1, &insert, nullptr);
      std::vector<std::uint8_t> record(table.RecordBufferSize());
      for (std::int32_t id = 1; id <= kAlbums; ++id) {
        char artist[32], album[32];
        std::snprintf(artist, sizeof artist, "Artist %05u", static_cast<unsigned>(random() % kArtists + 1));
        std::snprintf(album, sizeof album, "Album %06d", static_cast<int>(random() % 1000000));
        table.InitRecord(record.data());
        table.SetField(true, 1, &id, record.data());
        table.SetField(true, 2, album, record.data());
        table.SetField(true, 3, artist, record.data());
        table.InsertRecord(record.data());
        sqlite3_bind_int(insert, 1, id);
        sqlite3_bind_text(insert, 2, album, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, artist, -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
    }
    {
      engine::TTableDefinition t;
      t.Fields = {Field("index", TFieldType::Integer), Field("albumIndex", TFieldType::Integer),
                  Field("song", TFieldType::String, 50)};
      t.Indexes = {IndexOn("", 1), IndexOn("ByAlbum", 2)};
      TDataFile table;
      Create(table, "songlist", t);
      sqlite3_stmt* insert = nullptr;
      sqlite3_prepare_v2(db, "INSERT INTO songlist VALUES(?, ?, ?)", -1, &insert, nullptr);
      const char* words[] = {"Love", "Night", "Song",  "Blue",  "Heart", "Rain", "Fire", "Dream",
                             "Road", "Home",  "Lover", "Glove", "Time",  "Sky",  "Gold", "River"};
      std::vector<std::uint8_t> record(table.RecordBufferSize());
      for (std::int32_t id = 1; id <= kSongs; ++id) {
        std::string title = std::string(words[random() % 16]) + " " + words[random() % 16] + " " + words[random() % 16];
        std::int32_t album = static_cast<std::int32_t>(random() % kAlbums) + 1;
        table.InitRecord(record.data());
        table.SetField(true, 1, &id, record.data());
        table.SetField(true, 2, &album, record.data());
        table.SetField(true, 3, title.c_str(), record.data());
        table.InsertRecord(record.data());
        sqlite3_bind_int(insert, 1, id);
        sqlite3_bind_int(insert, 2, album);
        sqlite3_bind_text(insert, 3, title.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
    }
    Exec("COMMIT");
    Exec("ANALYZE");
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
  quillon::testing::TempDir dir_;
};

void Quarry(benchmark::State& state, const char* sql, bool withProgress = false) {
  Data& data = Data::Get();
  TQuerySettings settings;
  settings.DatabaseDirectory = data.Directory();
  std::int64_t rows = 0, calls = 0;
  // The program's search shows progress; its percentages need the driving table's count.
  TQueryProgress progress;
  if (withProgress) progress = [&](int, int, bool&) { ++calls; };
  for (auto _ : state) {
    TDataQuery query;
    query.Open(sql, settings);
    TDataFile* result = query.Execute(progress);
    std::vector<std::uint8_t> record(result->RecordBufferSize());
    rows = 0;
    result->First();
    while (result->Next(record.data()) == 0) ++rows;
  }
  state.counters["rows"] = static_cast<double>(rows);
  if (withProgress) state.counters["progress calls"] = static_cast<double>(calls) / state.iterations();
}

// The query component opened as the local search opens it, every field of every row read as text.
void Component(benchmark::State& state, const char* sql) {
  Data& data = Data::Get();
  std::int64_t rows = 0;
  std::size_t characters = 0;
  for (auto _ : state) {
    TQuarryQuery query;
    query.SetDatabaseName(data.Directory());
    query.SetSQLText(sql);
    query.OnQueryProgress = [](TQuarryQuery&, int, std::uint16_t, bool&) {};
    query.Open();
    rows = 0;
    for (query.First(); !query.Eof(); query.Next()) {
      for (const auto& field : query.Fields()) characters += field->AsString().size();
      ++rows;
    }
    query.Close();
  }
  benchmark::DoNotOptimize(characters);
  state.counters["rows"] = static_cast<double>(rows);
}

void Sqlite(benchmark::State& state, const char* sql) {
  sqlite3* db = Data::Get().db;
  const std::string text = ForSqlite(sql);
  std::int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, text.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      state.SkipWithError(sqlite3_errmsg(db));
      return;
    }
    rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(statement); ++i)
        benchmark::DoNotOptimize(sqlite3_column_text(statement, i));
      ++rows;
    }
    sqlite3_finalize(statement);
  }
  state.counters["rows"] = static_cast<double>(rows);
}

BENCHMARK_CAPTURE(Quarry, SongOnly, kSongOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sqlite, SongOnly, kSongOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quarry, ArtistOnly, kArtistOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sqlite, ArtistOnly, kArtistOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quarry, Both, kBoth)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sqlite, Both, kBoth)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quarry, BothWithProgress, kBoth, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Component, SongOnly, kSongOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Component, ArtistOnly, kArtistOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Component, Both, kBoth)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quarry, SongOnlyLarge, kSongOnlyLarge)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Component, SongOnlyLarge, kSongOnlyLarge)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sqlite, SongOnlyLarge, kSongOnlyLarge)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quarry, CountAll, kCount)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sqlite, CountAll, kCount)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quarry, ByPrimaryKey, kByKey)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sqlite, ByPrimaryKey, kByKey)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon::sql

BENCHMARK_MAIN();
