// The shell's .import against SQLite's, side by side, on the same TSV files: the synthetic base
// of 1,000,000 songs and 80,000 albums that basegen's synth writes. Each table is created from
// its schema in data/schema and imported once by the quarry shell (the same code path as
// `quarry DIR -c ".import songs songs.tsv"`), and once into an SQLite database with the same
// columns and indexes, row by row through one prepared INSERT inside one transaction with the
// sqlite3 shell's default settings, as its .import does. Both read the file with the same TSV
// rules. One iteration each (wall time); the summary at the end gives the ratio.
//
//   quarry_import_bench [--songs N] [--albums N] [--artists N] [benchmark flags]
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/basegen/synth.h"
#include "tools/quarry/shell.h"
#include "util/files.h"
#include "util/platform.h"
#include "util/testing/temp_dir.h"
#include "util/tsv.h"

namespace quillon {
namespace {

struct TBenchTable {
  const char* name;       // table and TSV file stem
  const char* schema;     // data/schema/<schema>.sql
  const char* sqliteDdl;  // the same shape in SQLite
  const char* sqliteInsert;
};

const TBenchTable kSongs = {
    "songs", "songs",
    "CREATE TABLE songs(\"index\" INTEGER PRIMARY KEY, albumIndex INTEGER, song TEXT, url1 TEXT);"
    "CREATE INDEX ByAlbum ON songs(albumIndex);",
    "INSERT INTO songs(albumIndex, song, url1) VALUES (?, ?, ?)"};
const TBenchTable kAlbums = {
    "albums", "albums",
    "CREATE TABLE albums(\"index\" INTEGER PRIMARY KEY, album TEXT, artist TEXT, beginID INTEGER);"
    "CREATE INDEX ByArtist ON albums(artist);",
    "INSERT INTO albums(album, artist, beginID) VALUES (?, ?, ?)"};

basegen::SynthOptions gOptions;
std::unique_ptr<testing::TempDir> gDir;
std::map<std::string, double> gSeconds;  // "<engine> <table>" -> seconds

void Generate() {
  if (gDir) return;
  gDir = std::make_unique<testing::TempDir>();
  basegen::BaseTables tables = basegen::Synthesize(gOptions);
  basegen::WriteBase(tables, "Bench", gDir->Path());
}

std::string TsvPath(const TBenchTable& t) {
  return gDir->File(std::string(t.name) + ".tsv");
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

double ImportSqlite(const TBenchTable& t) {
  std::string dbPath = gDir->File(std::string("sqlite_") + t.name + ".db");
  std::remove(dbPath.c_str());
  auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  Check(sqlite3_open(dbPath.c_str(), &db), db, "open");
  Check(sqlite3_exec(db, t.sqliteDdl, nullptr, nullptr, nullptr), db, "create");
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, t.sqliteInsert, -1, &insert, nullptr), db, "prepare");
  std::FILE* in = std::fopen(TsvPath(t).c_str(), "rb");
  if (!in) throw std::runtime_error("cannot read " + TsvPath(t));
  std::vector<char> buffer(1 << 16);
  std::string line;
  bool header = true;
  // Lines as the shell reads them; every column of these files is text or an integer.
  auto row = [&](const std::string& text) {
    if (header) {
      header = false;
      return;
    }
    std::vector<std::string> cells = SplitTsvLine(text);
    for (size_t i = 0; i < cells.size(); ++i) {
      sqlite3_bind_text(insert, static_cast<int>(i + 1), cells[i].data(), static_cast<int>(cells[i].size()),
                        SQLITE_TRANSIENT);
    }
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
  };
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        row(line);
        line.clear();
      } else {
        line += buffer[i];
      }
    }
  }
  if (!line.empty()) row(line);
  std::fclose(in);
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
  std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
  return s.count();
}

double ImportQuarry(const TBenchTable& t) {
  std::string schema;
  if (!platform::ReadWholeFile(std::string(QUILLON_SCHEMA_DIR) + "/" + t.schema + ".sql", schema)) {
    throw std::runtime_error("cannot read the schema " + std::string(t.schema));
  }
  std::string table = std::string("quarry_") + t.name;
  for (size_t at; (at = schema.find("@TABLE@")) != std::string::npos;) schema.replace(at, 7, table);
  quarry::TShellOptions options;
  options.directory = gDir->Path();
  options.progress = 0;
  quarry::TShell shell(options, stdout, stderr);
  if (!shell.RunText(schema)) throw std::runtime_error("CREATE TABLE failed");
  auto start = std::chrono::steady_clock::now();
  if (!shell.RunText(".import " + table + " \"" + TsvPath(t) + "\"")) throw std::runtime_error(".import failed");
  std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
  return s.count();
}

void Run(benchmark::State& state, const TBenchTable& t, bool sqlite) {
  Generate();
  double seconds = 0;
  for (auto _ : state) {
    seconds = sqlite ? ImportSqlite(t) : ImportQuarry(t);
    state.SetIterationTime(seconds);
    gSeconds[std::string(sqlite ? "sqlite " : "quarry ") + t.name] = seconds;
  }
  const double rows = t.name == std::string("songs") ? gOptions.songs : gOptions.albums;
  state.counters["rows/s"] = seconds > 0 ? rows / seconds : 0;
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  using namespace quillon;
  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    int* target = nullptr;
    if (std::strcmp(argv[i], "--songs") == 0) target = &gOptions.songs;
    if (std::strcmp(argv[i], "--albums") == 0) target = &gOptions.albums;
    if (std::strcmp(argv[i], "--artists") == 0) target = &gOptions.artists;
    if (target && i + 1 < argc) {
      *target = std::atoi(argv[++i]);
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  for (const TBenchTable* t : {&kAlbums, &kSongs}) {
    for (bool sqlite : {false, true}) {
      std::string name = std::string("Import/") + t->name + (sqlite ? "/sqlite" : "/quarry");
      benchmark::RegisterBenchmark(name.c_str(), [t, sqlite](benchmark::State& s) { Run(s, *t, sqlite); })
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const char* name : {"albums", "songs"}) {
    auto q = gSeconds.find(std::string("quarry ") + name), s = gSeconds.find(std::string("sqlite ") + name);
    if (q == gSeconds.end() || s == gSeconds.end()) continue;
    std::printf("%-7s quarry %.2f s  sqlite %.2f s  ratio %.2f\n", name, q->second, s->second, q->second / s->second);
  }
  gDir.reset();
  return 0;
}
