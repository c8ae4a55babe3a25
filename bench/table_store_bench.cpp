// The table store's basic operations side by side with SQLite in one run, over the same rows
// with the same indexes:
//   - songs: 1,000,000 records (Id integer with the primary index, Title CHAR(50) with the
//     case-insensitive secondary index "ByTitle"; titles of three words and a number, unique);
//   - lyrics: 20,000 records (Id integer primary, Lyric memo of 1,000 to 2,000 bytes);
//   - biglyrics: the same with 100,000 records, the size the program's shared lyric table
//     reaches as songs are shown.
// Benchmarks, each a batch of operations per iteration so that both sides pay the same setup:
//   - PointById: 1,000 lookups by random Id, the record read (FindKey / a prepared SELECT);
//   - PointByTitle: 1,000 lookups by random title written in other case;
//   - ScanPrimary / ScanTitle: every record in Id order and in ByTitle order;
//   - MemoRead: 1,000 random lyrics read whole, from 20,000 and from 100,000 memos;
//   - PointById and MemoRead again with the table opened Exclusive (SQLite's side is the same);
//   - MemoInsert: 1,000 new lyrics inserted (a fresh table each iteration, one transaction on
//     SQLite's side, an Exclusive cursor on ours).
// Scans and memo reads run twice on our side: each operation under its own read lock (as a
// program's table component runs them), and the whole batch under the statement read lock, as
// SQLite runs its batch inside one transaction.
// Both sides read from the operating system's file cache (the files are written once and stay
// warm). Run from the release build: build/release/bench/table_store_bench.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/tests/table_definitions.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::Field;
using testing::IndexOn;

constexpr std::int32_t kSongs = 1000000;
constexpr std::int32_t kLyrics = 20000;
constexpr std::int32_t kBigLyrics = 100000;
constexpr int kBatch = 1000;
constexpr int kTitleSize = 50;
constexpr int kId = 1, kTitle = 2, kLyric = 2;
constexpr int kBlobRead = 1, kBlobReadWrite = 2;

std::string Title(std::int32_t id) {
  static const char* const words[] = {"Love", "Night", "Song",  "Blue",  "Heart", "Rain", "Fire", "Dream",
                                      "Road", "Home",  "Lover", "Glove", "Time",  "Sky",  "Gold", "River"};
  const auto n = static_cast<unsigned>(id) * 2654435761u;
  return std::string(words[n % 16]) + " " + words[(n >> 4) % 16] + " " + words[(n >> 8) % 16] + " " +
         std::to_string(id);
}

std::string Lyric(std::int32_t id) {
  std::mt19937 random(static_cast<unsigned>(id));
  std::string text;
  const std::size_t length = 1000 + random() % 1001;
  while (text.size() < length) text += Title(static_cast<std::int32_t>(random() % kSongs) + 1) + "\r\n";
  text.resize(length);
  return text;
}

TTableDefinition SongTable() {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Title", TFieldType::String, kTitleSize)};
  TIndexDescriptor byTitle = IndexOn("ByTitle", kTitle);
  byTitle.CaseInsensitive = true;
  t.Indexes = {IndexOn("", kId), byTitle};
  return t;
}

TTableDefinition LyricTable() {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Lyric", TFieldType::Blob, 0, 0, kSubTypeMemo)};
  t.Indexes = {IndexOn("", kId)};
  return t;
}

void Create(const std::string& name, const TTableDefinition& definition) {
  TDataFile creator;
  creator.SetFileName(name);
  creator.SetExclusive(true);
  creator.CreateTable(definition);
}

void InsertLyric(TDataFile& table, std::vector<std::uint8_t>& record, std::int32_t id, const std::string& text) {
  table.InitRecord(record.data());
  table.SetField(true, kId, &id, record.data());
  if (table.OpenBlob(true, kLyric, kBlobReadWrite, record.data()) != 0 ||
      table.WriteBlob(true, kLyric, 0, static_cast<std::uint32_t>(text.size()), text.data(), record.data()) != 0) {
    throw std::runtime_error("memo not written");
  }
  table.InsertRecord(record.data());
  table.CloseBlob(true, kLyric, record.data());
}

class Data {
 public:
  static Data& Get() {
    static Data data;
    return data;
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  sqlite3* db = nullptr;

  void Exec(const char* sql) const {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  }

 private:
  Data() {
    InitializeEngine();
    auto start = std::chrono::steady_clock::now();
    if (sqlite3_open(dir_.File("base.db").c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec("CREATE TABLE songs(id INTEGER PRIMARY KEY, title TEXT)");
    Exec("CREATE INDEX ByTitle ON songs(title COLLATE NOCASE)");
    Exec("BEGIN");
    {
      Create(dir_.File("songs"), SongTable());
      TDataFile table;
      table.SetFileName(dir_.File("songs"));
      table.SetExclusive(true);
      table.Open();
      sqlite3_stmt* insert = nullptr;
      sqlite3_prepare_v2(db, "INSERT INTO songs VALUES(?, ?)", -1, &insert, nullptr);
      std::vector<std::uint8_t> record(table.RecordBufferSize());
      for (std::int32_t id = 1; id <= kSongs; ++id) {
        const std::string title = Title(id);
        table.InitRecord(record.data());
        table.SetField(true, kId, &id, record.data());
        table.SetField(true, kTitle, title.c_str(), record.data());
        table.InsertRecord(record.data());
        sqlite3_bind_int(insert, 1, id);
        sqlite3_bind_text(insert, 2, title.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
    }
    BuildLyrics("lyrics", kLyrics);
    BuildLyrics("biglyrics", kBigLyrics);
    Exec("COMMIT");
    Exec("ANALYZE");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "built the tables in %.1f s\n", seconds);
  }
  void BuildLyrics(const std::string& name, std::int32_t count) {
    Exec(("CREATE TABLE " + name + "(id INTEGER PRIMARY KEY, lyric TEXT)").c_str());
    Create(dir_.File(name), LyricTable());
    TDataFile table;
    table.SetFileName(dir_.File(name));
    table.SetExclusive(true);
    table.Open();
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, ("INSERT INTO " + name + " VALUES(?, ?)").c_str(), -1, &insert, nullptr);
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    for (std::int32_t id = 1; id <= count; ++id) {
      const std::string text = Lyric(id);
      InsertLyric(table, record, id, text);
      sqlite3_bind_int(insert, 1, id);
      sqlite3_bind_text(insert, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
  }
  quillon::testing::TempDir dir_;
};

// Our side opens the table shared and read-only, as the program's table components do, or
// Exclusive, as a program that keeps a table to itself does.
struct TOpened {
  explicit TOpened(const std::string& name, int index = 0, bool exclusive = false) {
    table.SetFileName(Data::Get().File(name));
    table.SetReadOnly(true);
    table.SetExclusive(exclusive);
    table.Open();
    table.SelectIndex(index);
    record.assign(table.RecordBufferSize(), 0);
  }
  TDataFile table;
  std::vector<std::uint8_t> record;
};

struct TStatement {
  explicit TStatement(const char* sql) {
    if (sqlite3_prepare_v2(Data::Get().db, sql, -1, &statement, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(Data::Get().db));
  }
  ~TStatement() { sqlite3_finalize(statement); }
  sqlite3_stmt* statement = nullptr;
};

std::vector<std::int32_t> RandomIds(std::int32_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::int32_t> ids(kBatch);
  for (auto& id : ids) id = static_cast<std::int32_t>(random() % static_cast<unsigned>(count)) + 1;
  return ids;
}

// The title of id with its letters' case swapped, so that only a case-insensitive search finds it.
std::string OtherCase(std::int32_t id) {
  std::string title = Title(id);
  for (char& c : title) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return title;
}

void QuarryPointById(benchmark::State& state, bool exclusive) {
  TOpened songs("songs", 0, exclusive);
  const auto ids = RandomIds(kSongs, 1);
  std::vector<std::uint8_t> key(songs.table.RecordBufferSize());
  std::int64_t found = 0;
  for (auto _ : state) {
    for (std::int32_t id : ids) {
      songs.table.InitRecord(key.data());
      songs.table.SetField(true, kId, &id, key.data());
      found += songs.table.FindKey(key.data(), false, false, 1, -1, songs.record.data());
    }
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void SqlitePointById(benchmark::State& state) {
  Data::Get();
  TStatement select("SELECT title FROM songs WHERE id = ?");
  const auto ids = RandomIds(kSongs, 1);
  std::int64_t found = 0;
  for (auto _ : state) {
    for (std::int32_t id : ids) {
      sqlite3_bind_int(select.statement, 1, id);
      if (sqlite3_step(select.statement) == SQLITE_ROW) {
        benchmark::DoNotOptimize(sqlite3_column_text(select.statement, 0));
        ++found;
      }
      sqlite3_reset(select.statement);
    }
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void QuarryPointByTitle(benchmark::State& state) {
  TOpened songs("songs", 1);
  std::vector<std::string> titles;
  for (std::int32_t id : RandomIds(kSongs, 2)) titles.push_back(OtherCase(id));
  std::vector<std::uint8_t> key(songs.table.RecordBufferSize());
  std::int64_t found = 0;
  for (auto _ : state) {
    for (const std::string& title : titles) {
      songs.table.InitRecord(key.data());
      songs.table.SetField(true, kTitle, title.c_str(), key.data());
      found += songs.table.FindKey(key.data(), false, false, 1, -1, songs.record.data());
    }
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void SqlitePointByTitle(benchmark::State& state) {
  Data::Get();
  TStatement select("SELECT id, title FROM songs WHERE title = ? COLLATE NOCASE");
  std::vector<std::string> titles;
  for (std::int32_t id : RandomIds(kSongs, 2)) titles.push_back(OtherCase(id));
  std::int64_t found = 0;
  for (auto _ : state) {
    for (const std::string& title : titles) {
      sqlite3_bind_text(select.statement, 1, title.c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(select.statement) == SQLITE_ROW) {
        benchmark::DoNotOptimize(sqlite3_column_text(select.statement, 1));
        ++found;
      }
      sqlite3_reset(select.statement);
    }
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

// With `oneLock` the batch runs under the statement read lock, as SQLite's runs inside one
// transaction: no operation then takes the read lock or runs the change check of its own.
struct THeldReadLock {
  THeldReadLock(TDataFile& table, bool hold) : table_(hold ? &table : nullptr) {
    if (table_) table_->AcquireStatementReadLock();
  }
  ~THeldReadLock() {
    if (table_) table_->ReleaseStatementReadLock();
  }
  TDataFile* table_;
};

void QuarryScan(benchmark::State& state, int index, bool oneLock) {
  TOpened songs("songs", index);
  std::int64_t rows = 0;
  for (auto _ : state) {
    THeldReadLock held(songs.table, oneLock);
    rows = 0;
    songs.table.First();
    while (songs.table.Next(songs.record.data()) == 0) ++rows;
  }
  state.counters["rows"] = static_cast<double>(rows);
}

void SqliteScan(benchmark::State& state, const char* sql) {
  Data::Get();
  TStatement select(sql);
  std::int64_t rows = 0;
  for (auto _ : state) {
    rows = 0;
    while (sqlite3_step(select.statement) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(select.statement, 1));
      ++rows;
    }
    sqlite3_reset(select.statement);
  }
  state.counters["rows"] = static_cast<double>(rows);
}

void QuarryMemoRead(benchmark::State& state, const char* name, std::int32_t count, bool oneLock, bool exclusive) {
  TOpened lyrics(name, 0, exclusive);
  const auto ids = RandomIds(count, 3);
  std::vector<std::uint8_t> key(lyrics.table.RecordBufferSize());
  std::string text;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    THeldReadLock held(lyrics.table, oneLock);
    for (std::int32_t id : ids) {
      lyrics.table.InitRecord(key.data());
      lyrics.table.SetField(true, kId, &id, key.data());
      if (!lyrics.table.FindKey(key.data(), false, false, 1, -1, lyrics.record.data())) continue;
      std::uint8_t* record = lyrics.record.data();
      if (int code = lyrics.table.OpenBlob(true, kLyric, kBlobRead, record)) {
        state.SkipWithError(("OpenBlob " + std::to_string(code)).c_str());
        return;
      }
      std::uint32_t size = 0, got = 0;
      lyrics.table.GetBlobSize(true, kLyric, record, size);
      text.resize(size);
      lyrics.table.ReadBlob(true, kLyric, 0, size, text.data(), record, got);
      lyrics.table.CloseBlob(true, kLyric, record);
      bytes += got;
    }
  }
  state.SetBytesProcessed(bytes);
  if (bytes < state.iterations() * kBatch * 1000) state.SkipWithError("memos shorter than written");
}

void SqliteMemoRead(benchmark::State& state, const char* name, std::int32_t count) {
  Data::Get();
  TStatement select(("SELECT lyric FROM " + std::string(name) + " WHERE id = ?").c_str());
  const auto ids = RandomIds(count, 3);
  std::string text;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (std::int32_t id : ids) {
      sqlite3_bind_int(select.statement, 1, id);
      if (sqlite3_step(select.statement) == SQLITE_ROW) {
        const auto* data = sqlite3_column_text(select.statement, 0);
        const int size = sqlite3_column_bytes(select.statement, 0);
        text.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
        bytes += size;
      }
      sqlite3_reset(select.statement);
    }
  }
  state.SetBytesProcessed(bytes);
}

void QuarryMemoInsert(benchmark::State& state) {
  std::vector<std::string> texts;
  for (std::int32_t id = 1; id <= kBatch; ++id) texts.push_back(Lyric(id));
  const std::string name = Data::Get().File("new_lyrics");
  for (auto _ : state) {
    Create(name, LyricTable());
    TDataFile table;
    table.SetFileName(name);
    table.SetExclusive(true);
    table.Open();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    for (std::int32_t id = 1; id <= kBatch; ++id)
      InsertLyric(table, record, id, texts[static_cast<std::size_t>(id - 1)]);
    table.Close();
  }
}

void SqliteMemoInsert(benchmark::State& state) {
  const Data& data = Data::Get();
  std::vector<std::string> texts;
  for (std::int32_t id = 1; id <= kBatch; ++id) texts.push_back(Lyric(id));
  for (auto _ : state) {
    data.Exec("DROP TABLE IF EXISTS new_lyrics");
    data.Exec("CREATE TABLE new_lyrics(id INTEGER PRIMARY KEY, lyric TEXT)");
    data.Exec("BEGIN");
    {
      TStatement insert("INSERT INTO new_lyrics VALUES(?, ?)");
      for (std::int32_t id = 1; id <= kBatch; ++id) {
        const std::string& text = texts[static_cast<std::size_t>(id - 1)];
        sqlite3_bind_int(insert.statement, 1, id);
        sqlite3_bind_text(insert.statement, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_STATIC);
        sqlite3_step(insert.statement);
        sqlite3_reset(insert.statement);
      }
    }
    data.Exec("COMMIT");
  }
}

BENCHMARK_CAPTURE(QuarryPointById, Shared, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryPointById, Exclusive, true)->Unit(benchmark::kMillisecond);
BENCHMARK(SqlitePointById)->Unit(benchmark::kMillisecond);
BENCHMARK(QuarryPointByTitle)->Unit(benchmark::kMillisecond);
BENCHMARK(SqlitePointByTitle)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryScan, Primary, 0, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryScan, PrimaryOneLock, 0, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SqliteScan, Primary, "SELECT id, title FROM songs ORDER BY id")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryScan, Title, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryScan, TitleOneLock, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SqliteScan, Title, "SELECT id, title FROM songs ORDER BY title COLLATE NOCASE")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryMemoRead, PerOperation, "lyrics", kLyrics, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryMemoRead, OneLock, "lyrics", kLyrics, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryMemoRead, Exclusive, "lyrics", kLyrics, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SqliteMemoRead, Lyrics, "lyrics", kLyrics)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryMemoRead, BigPerOperation, "biglyrics", kBigLyrics, false, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryMemoRead, BigOneLock, "biglyrics", kBigLyrics, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(QuarryMemoRead, BigExclusive, "biglyrics", kBigLyrics, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SqliteMemoRead, BigLyrics, "biglyrics", kBigLyrics)->Unit(benchmark::kMillisecond);
BENCHMARK(QuarryMemoInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteMemoInsert)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon::engine

BENCHMARK_MAIN();
