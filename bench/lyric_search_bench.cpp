// The word index of the lyric table beside SQLite FTS5 on one generated corpus, in one run:
// building the index, its size, the median time of a fixed set of queries (top 50 ranked hits
// with snippets) and adding one lyric.
//
//   lyric_search_bench [LYRICS [FOLDER]]      (100,000 lyrics unless told; FOLDER is emptied)
//
// Corpus: LYRICS lyrics of 150 to 400 words drawn with a Zipf law (s = 1) from a vocabulary of
// 20,000 made-up words, in lines of 5 to 9 words, plus the demo lyrics of data/lyrics. Our side
// reads them from a lyric table "lyrics.dat" (rebuild = reading the table and writing the index);
// SQLite reads them from a table "lyrics" into an FTS5 table with external content (the index
// only, as ours), in one transaction. Times are CPU times of the process. Sizes: our two index tables' files against
// the pages the FTS5 shadow tables take.
#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/quarry_table.h"
#include "engine/data_file.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "lyricsearch/lyric_index.h"
#include "lyricsearch/lyric_store.h"

using namespace quillon;
namespace {

// CPU time of the process (user and system) in milliseconds: the machine is shared, so wall time
// would measure the other programs too. Both sides run in this one process, one after the other.
struct CpuClock {
  static double now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  }
};
using Clock = CpuClock;
double Ms(double elapsed) {
  return elapsed;
}

std::vector<std::string> Vocabulary(std::mt19937& random) {
  static const char* const kSyllables[] = {"ba",  "ke",  "lo",  "ri",  "su",  "ta",  "me",  "no",  "vi",  "dra",
                                           "sho", "gen", "pla", "tor", "wen", "cas", "mil", "der", "fan", "jo",
                                           "qui", "ly",  "zen", "ho",  "pe",  "ra",  "un",  "ex",  "ol",  "ar"};
  std::set<std::string> distinct;
  while (distinct.size() < 20000) {
    std::string w;
    int n = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < n; ++i) w += kSyllables[random() % 30];
    distinct.insert(w);
  }
  std::vector<std::string> words(distinct.begin(), distinct.end());
  std::shuffle(words.begin(), words.end(), random);
  return words;
}

class TZipf {
 public:
  explicit TZipf(std::size_t n) : cumulative_(n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) cumulative_[i] = sum += 1.0 / static_cast<double>(i + 1);
    for (auto& c : cumulative_) c /= sum;
  }
  std::size_t operator()(std::mt19937& random) {
    double u = std::uniform_real_distribution<double>(0, 1)(random);
    return static_cast<std::size_t>(std::lower_bound(cumulative_.begin(), cumulative_.end(), u) - cumulative_.begin());
  }

 private:
  std::vector<double> cumulative_;
};

std::vector<std::string> Corpus(std::size_t count, std::mt19937& random, std::vector<std::string>& vocabulary) {
  vocabulary = Vocabulary(random);
  TZipf zipf(vocabulary.size());
  std::vector<std::string> lyrics;
  for (std::size_t i = 0; i < count; ++i) {
    int words = 150 + static_cast<int>(random() % 251);
    std::string text;
    int inLine = 0, lineLength = 5 + static_cast<int>(random() % 5);
    for (int w = 0; w < words; ++w) {
      text += vocabulary[zipf(random)];
      if (++inLine == lineLength) {
        text += "\r\n";
        inLine = 0;
        lineLength = 5 + static_cast<int>(random() % 5);
      } else {
        text += ' ';
      }
    }
    lyrics.push_back(std::move(text));
  }
  for (const auto& entry : std::filesystem::directory_iterator(QUILLON_LYRICS_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    lyrics.push_back(text.str());
  }
  return lyrics;
}

engine::TFieldDescriptor Field(const char* name, engine::TFieldType type, int size = 0, std::uint8_t subType = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.SubType = subType;
  return f;
}

void CreateLyricTable(const std::string& folder) {
  engine::TTableDefinition t;
  t.Fields = {Field("id", engine::TFieldType::Integer, 0, engine::kSubTypeAutoInc),
              Field("songname", engine::TFieldType::String, 50),
              Field("lyrics", engine::TFieldType::Blob, 0, engine::kSubTypeMemo),
              Field("songindex", engine::TFieldType::Integer), Field("songdb", engine::TFieldType::String, 40)};
  engine::TIndexDescriptor primary;
  primary.KeyFields[primary.KeyFieldCount++] = 1;
  t.Indexes = {primary};
  engine::TDataFile file;
  file.SetFileName(folder + "lyrics.dat");
  file.SetExclusive(true);
  file.CreateTable(t);
}

std::uintmax_t FilesSize(const std::string& folder, const std::string& prefix) {
  std::uintmax_t size = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) size += entry.file_size();
  return size;
}

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    std::exit(1);
  }
}

std::int64_t PageCount(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &s, nullptr);
  sqlite3_step(s);
  std::int64_t n = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  return n;
}

// FTS5's query syntax for one of ours: the same words, phrases, prefixes and exclusions.
std::string Fts5Query(const std::string& ours) {
  std::string out, token;
  std::istringstream in(ours);
  std::vector<std::string> wanted, excluded;
  std::string all = ours;
  // Our queries here are simple: words, "a phrase", prefix*, -word.
  std::size_t i = 0;
  while (i < all.size()) {
    if (all[i] == ' ') {
      ++i;
      continue;
    }
    bool exclude = all[i] == '-';
    if (exclude) ++i;
    std::string term;
    if (all[i] == '"') {
      auto end = all.find('"', i + 1);
      term = all.substr(i, end - i + 1);
      i = end + 1;
    } else {
      auto end = all.find(' ', i);
      if (end == std::string::npos) end = all.size();
      term = all.substr(i, end - i);
      i = end;
      if (term.back() != '*') term = "\"" + term + "\"";
    }
    (exclude ? excluded : wanted).push_back(term);
  }
  for (const auto& w : wanted) out += (out.empty() ? "" : " AND ") + w;
  for (const auto& e : excluded) out += " NOT " + e;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::stoul(argv[1]) : 100000;
  std::string folder = argc > 2 ? argv[2] : (std::filesystem::temp_directory_path() / "lyric_search_bench").string();
  if (folder.back() != '/') folder += '/';
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  engine::InitializeEngine();

  std::mt19937 random(40);
  std::vector<std::string> vocabulary;
  const std::vector<std::string> lyrics = Corpus(count, random, vocabulary);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::printf("corpus: %zu lyrics, %zu words in the vocabulary\n", lyrics.size(), vocabulary.size());

  // ---- The tables both sides read ----
  CreateLyricTable(folder);
  {
    dataset::TQuarryTable t;
    t.SetDatabaseName(folder);
    t.SetTableName("lyrics.dat");
    t.SetExclusive(true);
    t.Open();
    for (std::size_t i = 0; i < lyrics.size(); ++i)
      t.AppendRecord(
          {dataset::TFieldValue{}, "song " + std::to_string(i), lyrics[i], std::int64_t(i), std::string("synth")});
  }
  sqlite3* db = nullptr;
  sqlite3_open((folder + "fts.db").c_str(), &db);
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "CREATE TABLE lyrics(id INTEGER PRIMARY KEY, songname TEXT, lyrics TEXT, songindex INTEGER, songdb TEXT)");
  {
    Exec(db, "BEGIN");
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO lyrics(songname, lyrics, songindex, songdb) VALUES (?, ?, ?, 'synth')", -1, &s,
                       nullptr);
    for (std::size_t i = 0; i < lyrics.size(); ++i) {
      std::string name = "song " + std::to_string(i);
      sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 2, lyrics[i].c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int64(s, 3, static_cast<sqlite3_int64>(i));
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    Exec(db, "COMMIT");
  }
  Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  const std::int64_t pagesBefore = PageCount(db);

  // ---- Building the index ----
  auto start = Clock::now();
  lyricsearch::TLyricIndex index(folder);
  index.Rebuild();
  const double oursBuild = Ms(Clock::now() - start);
  start = Clock::now();
  Exec(db, "CREATE VIRTUAL TABLE fts USING fts5(lyrics, content='lyrics', content_rowid='id')");
  Exec(db, "INSERT INTO fts(fts) VALUES('rebuild')");
  Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  const double ftsBuild = Ms(Clock::now() - start);
  const double oursSize = static_cast<double>(FilesSize(folder, "lyricwords") + FilesSize(folder, "lyricdocs"));
  const double ftsSize = static_cast<double>((PageCount(db) - pagesBefore) * 4096);
  std::printf("%-34s ours %10.1f ms   FTS5 %10.1f ms   ratio %.2f\n", "index build", oursBuild, ftsBuild,
              oursBuild / ftsBuild);
  std::printf("%-34s ours %10.1f MB   FTS5 %10.1f MB   ratio %.2f\n", "index size", oursSize / 1e6, ftsSize / 1e6,
              oursSize / ftsSize);

  // ---- Queries: top 50 with snippets ----
  // Words by rank: common, middle, rare; phrases taken from the corpus.
  auto firstWords = [&](std::size_t lyric, std::size_t n) {
    std::istringstream in(lyrics[lyric]);
    std::string w, out;
    for (std::size_t i = 0; i < 40 + n && in >> w; ++i)
      if (i >= 40) out += (out.empty() ? "" : " ") + w;
    return out;
  };
  const std::vector<std::string> queries = {vocabulary[0],
                                            vocabulary[50],
                                            vocabulary[2000],
                                            vocabulary[15000],
                                            vocabulary[3] + " " + vocabulary[40],
                                            vocabulary[100] + " " + vocabulary[900] + " " + vocabulary[30],
                                            "\"" + firstWords(17, 2) + "\"",
                                            "\"" + firstWords(4242 % lyrics.size(), 3) + "\"",
                                            vocabulary[7].substr(0, 3) + "*",
                                            vocabulary[1200].substr(0, 4) + "*",
                                            vocabulary[20] + " -" + vocabulary[2]};
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT rowid, snippet(fts, 0, '[', ']', '...', 12) FROM fts WHERE fts MATCH ? ORDER BY rank "
                     "LIMIT 50",
                     -1, &q, nullptr);
  std::vector<double> oursTimes, ftsTimes;
  for (int round = 0; round < 3; ++round) {
    for (const auto& query : queries) {
      start = Clock::now();
      auto hits = index.Search(query, 50);
      double ours = Ms(Clock::now() - start);
      std::string fq = Fts5Query(query);
      start = Clock::now();
      sqlite3_bind_text(q, 1, fq.c_str(), -1, SQLITE_TRANSIENT);
      int rows = 0;
      while (sqlite3_step(q) == SQLITE_ROW) ++rows;
      sqlite3_reset(q);
      double fts = Ms(Clock::now() - start);
      if (round == 2) {
        std::printf("  %-40s ours %8.2f ms (%2zu hits)   FTS5 %8.2f ms (%2d hits)\n", query.c_str(), ours, hits.size(),
                    fts, rows);
        oursTimes.push_back(ours);
        ftsTimes.push_back(fts);
      }
    }
  }
  sqlite3_finalize(q);
  std::sort(oursTimes.begin(), oursTimes.end());
  std::sort(ftsTimes.begin(), ftsTimes.end());
  double oursMedian = oursTimes[oursTimes.size() / 2], ftsMedian = ftsTimes[ftsTimes.size() / 2];
  std::printf("%-34s ours %10.2f ms   FTS5 %10.2f ms   ratio %.2f\n", "median query (top 50, snippets)", oursMedian,
              ftsMedian, oursMedian / ftsMedian);

  // ---- Adding one lyric ----
  std::vector<double> oursAdd, ftsAdd;
  {
    dataset::TQuarryTable t;
    t.SetDatabaseName(folder);
    t.SetTableName("lyrics.dat");
    t.Open();
    sqlite3_stmt* add = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO lyrics(songname, lyrics, songindex, songdb) VALUES ('new', ?, 0, 'synth')", -1,
                       &add, nullptr);
    sqlite3_stmt* addFts = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO fts(rowid, lyrics) VALUES (last_insert_rowid(), ?)", -1, &addFts, nullptr);
    for (int i = 0; i < 20; ++i) {
      const std::string& text = lyrics[static_cast<std::size_t>(i) * 7];
      start = Clock::now();
      lyricsearch::AppendLyric(index, t, "new " + std::to_string(i), text, i, "synth");
      oursAdd.push_back(Ms(Clock::now() - start));
      start = Clock::now();
      Exec(db, "BEGIN");
      sqlite3_bind_text(add, 1, text.c_str(), -1, SQLITE_STATIC);
      sqlite3_step(add);
      sqlite3_reset(add);
      sqlite3_bind_text(addFts, 1, text.c_str(), -1, SQLITE_STATIC);
      sqlite3_step(addFts);
      sqlite3_reset(addFts);
      Exec(db, "COMMIT");
      ftsAdd.push_back(Ms(Clock::now() - start));
    }
    sqlite3_finalize(add);
    sqlite3_finalize(addFts);
  }
  std::sort(oursAdd.begin(), oursAdd.end());
  std::sort(ftsAdd.begin(), ftsAdd.end());
  std::printf("%-34s ours %10.2f ms   FTS5 %10.2f ms   (median of 20, row and index in one turn)\n", "adding one lyric",
              oursAdd[oursAdd.size() / 2], ftsAdd[ftsAdd.size() / 2]);
  std::printf("index checks against the table after the adds: %s\n", index.Check().empty() ? "ok" : "DIFFERENCES");
  sqlite3_close(db);
  return 0;
}
