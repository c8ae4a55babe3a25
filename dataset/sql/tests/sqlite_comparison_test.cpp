// The same rows loaded into our tables and into SQLite, and a few hundred generated statements
// run on both; where the two dialects agree the results must be equal.
//
// Where the dialects differ on purpose, the generator stays away (and the data is shaped so):
//   - "=" is true for two NULLs and "<>" true for one NULL here (SQLite: NULL), and NOT of a
//     comparison with a NULL operand is true here: NULL columns appear only in IS [NOT] NULL,
//     ordering comparisons and aggregates, and join columns hold no NULL;
//   - COUNT(column) and AVG count NULL inputs here: only COUNT(*) is generated, AVG not at all;
//   - an aggregate over no rows gives no row here (SQLite one row of NULL and 0): accepted when
//     SQLite's single row holds only NULL and 0;
//   - LIKE is case-sensitive here: SQLite runs with case_sensitive_like on;
//   - integer / integer is a float here: no division is generated;
//   - the empty string is NULL here: the data holds none;
//   - 'Ab*' in "=" is a prefix comparison here: no constant ends in "*";
//   - a constant compared with an integer column loses its fraction here: only ">" and "<="
//     with positive constants, where both give the same rows, are written;
//   - rows with equal ORDER BY values come in production order here: every ORDER BY ends with
//     a unique column, and DISTINCT and GROUP BY results are compared as sorted lists.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dataset/sql/data_query.h"
#include "dataset/sql/expr_evaluator.h"
#include "engine/data_file.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "engine/tests/table_definitions.h"
#include "util/testing/temp_dir.h"

namespace quillon::sql {
namespace {

using engine::testing::Field;
using engine::testing::IndexOn;

using engine::TDataFile;
using engine::TFieldType;

using TRows = std::vector<std::string>;

std::string Number(double value, bool real) {
  if (!real) return std::to_string(static_cast<long long>(value));
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

const char* const kWords[] = {"Love", "night", "Blue", "heart", "Rain", "fire", "Dream", "road", "Lover", "glove"};
const char* const kArtists[] = {"Abba", "Beatles", "Cher", "Queen", "abba", "Zappa", "Muse"};

class SqliteComparison : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::InitializeEngine();
    engine::Session().SetPrivateDir(dir.Path());
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    Exec("PRAGMA case_sensitive_like = ON");
    Exec("CREATE TABLE songs(id INTEGER PRIMARY KEY, title TEXT, album_id INTEGER, yr INTEGER)");
    Exec("CREATE TABLE albums(id INTEGER PRIMARY KEY, name TEXT, artist TEXT)");
    std::mt19937 random(2024);
    {
      engine::TTableDefinition t;
      t.Fields = {Field("id", TFieldType::Integer), Field("title", TFieldType::String, 30),
                  Field("album_id", TFieldType::Integer), Field("yr", TFieldType::Integer)};
      t.Indexes = {IndexOn("", 1), IndexOn("ByAlbum", 3)};
      TDataFile table;
      Create(table, "songs", t);
      std::vector<std::uint8_t> record(table.RecordBufferSize());
      for (std::int32_t id = 1; id <= 300; ++id) {
        std::string title = std::string(kWords[random() % 10]) + " " + kWords[random() % 10];
        std::int32_t album = static_cast<std::int32_t>(random() % 45) + 1;  // some albums missing
        bool hasYear = random() % 5 != 0;
        std::int32_t year = 1960 + static_cast<std::int32_t>(random() % 50);
        table.InitRecord(record.data());
        table.SetField(true, 1, &id, record.data());
        table.SetField(true, 2, title.c_str(), record.data());
        table.SetField(true, 3, &album, record.data());
        if (hasYear) table.SetField(true, 4, &year, record.data());
        table.InsertRecord(record.data());
        Exec("INSERT INTO songs VALUES(" + std::to_string(id) + ",'" + title + "'," + std::to_string(album) + "," +
             (hasYear ? std::to_string(year) : "NULL") + ")");
      }
    }
    {
      engine::TTableDefinition t;
      t.Fields = {Field("id", TFieldType::Integer), Field("name", TFieldType::String, 30),
                  Field("artist", TFieldType::String, 30)};
      t.Indexes = {IndexOn("", 1)};
      TDataFile table;
      Create(table, "albums", t);
      std::vector<std::uint8_t> record(table.RecordBufferSize());
      for (std::int32_t id = 1; id <= 40; ++id) {
        std::string name = std::string(kWords[random() % 10]) + " Album " + std::to_string(random() % 9);
        const char* artist = kArtists[random() % 7];
        table.InitRecord(record.data());
        table.SetField(true, 1, &id, record.data());
        table.SetField(true, 2, name.c_str(), record.data());
        table.SetField(true, 3, artist, record.data());
        table.InsertRecord(record.data());
        Exec("INSERT INTO albums VALUES(" + std::to_string(id) + ",'" + name + "','" + artist + "')");
      }
    }
  }
  void TearDown() override {
    sqlite3_close(db);
    engine::ShutdownEngine();
  }

  void Create(TDataFile& table, const std::string& name, const engine::TTableDefinition& t) {
    table.SetFileName(dir.File(name));
    table.SetExclusive(true);
    table.CreateTable(t);
    table.Open();
  }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << (error ? error : "");
      sqlite3_free(error);
    }
  }

  TRows Ours(const std::string& sql) {
    TQuerySettings settings;
    settings.DatabaseDirectory = dir.Path();
    settings.MaxProbeRecords = maxProbeRecords;
    TDataQuery query;
    query.Open(sql, settings);
    TDataFile& result = *query.Execute();
    TRows rows;
    std::vector<std::uint8_t> record(result.RecordBufferSize());
    result.First();
    while (result.Next(record.data()) == 0) {
      std::string line;
      for (int i = 2; i <= result.FieldCount(); ++i) {
        const engine::TFieldDescriptor& f = result.GetFieldDescriptor(true, i);
        if (f.FieldName == "Avg__Count") continue;
        std::uint8_t bytes[260] = {};
        TSqlValue v =
            FieldValue(f.FieldType, f.SubType, bytes, f.DataSize, result.GetField(true, i, record.data(), bytes));
        if (i > 2) line += '|';
        if (v.IsNull()) {
          line += "NULL";
        } else if (v.Type == static_cast<int>(TFieldType::String)) {
          line += v.Text;
        } else if (v.Type == static_cast<int>(TFieldType::Float)) {
          line += Number(v.Real, v.Real != static_cast<double>(static_cast<long long>(v.Real)));
        } else {
          line += std::to_string(v.Int);
        }
      }
      rows.push_back(line);
    }
    return rows;
  }

  TRows Theirs(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    TRows rows;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
      return rows;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string line;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        if (i > 0) line += '|';
        switch (sqlite3_column_type(statement, i)) {
          case SQLITE_NULL:
            line += "NULL";
            break;
          case SQLITE_INTEGER:
            line += std::to_string(sqlite3_column_int64(statement, i));
            break;
          case SQLITE_FLOAT: {
            double d = sqlite3_column_double(statement, i);
            line += Number(d, d != static_cast<double>(static_cast<long long>(d)));
            break;
          }
          default:
            line += reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        }
      }
      rows.push_back(line);
    }
    sqlite3_finalize(statement);
    return rows;
  }

  quillon::testing::TempDir dir;
  sqlite3* db = nullptr;
  std::uint32_t maxProbeRecords = 2000000;
};

// Generated statements over songs s and albums a.
class TGenerator {
 public:
  explicit TGenerator(unsigned seed) : random_(seed) {}

  std::string SongCondition(int depth = 0) {
    switch (Pick(depth < 2 ? 17 : 15)) {
      case 0:
        return "s.id < " + std::to_string(Pick(320));
      case 1:
        return "s.id >= " + std::to_string(Pick(320));
      case 2: {
        int low = Pick(300);
        return "s.id between " + std::to_string(low) + " and " + std::to_string(low + Pick(60));
      }
      case 3:
        return "s.id in (" + std::to_string(Pick(300)) + ", " + std::to_string(Pick(300)) + ", " +
               std::to_string(Pick(300)) + ")";
      case 4:
        return "s.album_id = " + std::to_string(Pick(46));
      case 5:
        return "s.yr > " + std::to_string(1960 + Pick(50));
      case 6:
        return "s.yr <= " + std::to_string(1960 + Pick(50));
      case 7:
        return Pick(2) ? "s.yr is null" : "s.yr is not null";
      case 8:
        return "s.title like '" + std::string(kWords[Pick(10)]).substr(0, 1 + Pick(3)) + "%'";
      case 9:
        return "s.title like '%" + Lower(kWords[Pick(10)]).substr(1, 2) + "%'";
      case 10:
        return "s.title like '_" + Lower(kWords[Pick(10)]).substr(1, 1) + "%'";
      case 11:
        return "lower(s.title) like '%" + Lower(kWords[Pick(10)]).substr(0, 3) + "%'";
      case 12:
        return "upper(s.title) > '" + Upper(kWords[Pick(10)]) + "'";
      case 13:
        return "s.title = '" + std::string(kWords[Pick(10)]) + " " + kWords[Pick(10)] + "'";
      case 14:
        return "s.title <> '" + std::string(kWords[Pick(10)]) + " " + kWords[Pick(10)] + "'";
      case 15:
        return "(" + SongCondition(depth + 1) + " or " + SongCondition(depth + 1) + ")";
      default:
        return "not (s.id * 3 + 1 > " + std::to_string(Pick(900)) + ")";
    }
  }

  std::string AlbumCondition() {
    switch (Pick(5)) {
      case 0:
        return "a.artist = '" + std::string(kArtists[Pick(7)]) + "'";
      case 1:
        return "lower(a.artist) like '%" + Lower(kArtists[Pick(7)]).substr(0, 2) + "%'";
      case 2:
        return "a.name like '" + std::string(kWords[Pick(10)]).substr(0, 2) + "%'";
      case 3:
        return "a.id > " + std::to_string(Pick(40));
      default:
        return "a.artist in ('Abba', 'Muse')";
    }
  }

  std::string Where(int parts) {
    std::string where;
    for (int i = 0; i < parts; ++i) where += (i ? " and " : " where ") + SongCondition();
    return where;
  }

  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
  std::mt19937 random_;
};

TEST_F(SqliteComparison, GeneratedStatementsAgree) {
  TGenerator g(77);
  const char* columns[] = {"s.title", "s.album_id", "s.yr", "s.id * 2 + 1", "upper(s.title)", "s.title || '!'"};
  // ORDER BY names result columns in this dialect, so the ordered column is selected too.
  const std::pair<const char*, const char*> orders[] = {
      {"s.title", ""}, {"s.album_id", " desc"}, {"s.yr", ""}, {"s.title", " desc"}, {"s.yr", " desc"}};
  int compared = 0, nonEmpty = 0;
  for (int n = 0; n < 300; ++n) {
    // Every other join goes through the index of the inner column instead of a map.
    maxProbeRecords = n % 12 == 5 ? 0 : 2000000;
    std::string sql;
    bool sorted = false;  // compare as sorted lists
    switch (n % 6) {
      case 0:
      case 1: {
        const auto& [column, direction] = orders[g.Pick(5)];
        sql = std::string("select s.id, ") + column + ", " + columns[g.Pick(6)] + " from songs s" +
              g.Where(1 + g.Pick(3)) + " order by " + column + direction + ", s.id";
      } break;
      case 2:
        sql = std::string("select distinct ") + columns[g.Pick(3)] + " from songs s" + g.Where(g.Pick(3));
        sorted = true;
        break;
      case 3:
        sql = "select s.album_id, count(*), sum(s.yr), min(s.yr), max(s.yr) from songs s" + g.Where(g.Pick(2)) +
              " group by s.album_id";
        sorted = true;
        break;
      case 4:
        sql = "select count(*), sum(s.id), min(s.yr), max(s.yr) from songs s" + g.Where(1 + g.Pick(2));
        break;
      default: {
        const int kind = g.Pick(4);
        if (kind == 3) {
          // A link with an ordering operator, written either way round.
          const char* link[] = {"s.album_id > a.id", "a.id >= s.album_id", "a.id < s.album_id", "s.album_id <= a.id"};
          sql = "select s.id, a.id from songs s, albums a where s.id < " + std::to_string(1 + g.Pick(30)) + " and " +
                link[g.Pick(4)] + " order by s.id, a.id";
          break;
        }
        const std::string from = kind == 0   ? " from songs s, albums a where s.album_id = a.id and "
                                 : kind == 1 ? " from songs s inner join albums a on s.album_id = a.id where "
                                             : " from songs s left outer join albums a on s.album_id = a.id where ";
        sql = "select s.id, s.title, a.name, a.artist" + from + g.SongCondition() +
              (kind < 2 && g.Pick(2) ? " and " + g.AlbumCondition() : std::string()) + " order by s.id";
        break;
      }
    }
    SCOPED_TRACE(sql);
    TRows ours;
    try {
      ours = Ours(sql);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    TRows theirs = Theirs(sql);
    if (sorted) {
      std::sort(ours.begin(), ours.end());
      std::sort(theirs.begin(), theirs.end());
    }
    if (n % 6 == 4 && ours.empty() && theirs.size() == 1 && theirs[0] == "0|NULL|NULL|NULL") {
      ++compared;
      continue;
    }
    EXPECT_EQ(ours, theirs);
    ++compared;
    if (!theirs.empty()) ++nonEmpty;
  }
  // The generator must not drift into statements that select nothing.
  EXPECT_GT(nonEmpty, compared / 2);
}

// Right outer joins (every song, also those whose album is missing), and constants with a
// fraction compared with integer columns where dropping the fraction gives SQLite's answer too.
TEST_F(SqliteComparison, RightJoinsAndConvertedConstantsAgree) {
  const char* statements[] = {
      "select s.id, s.title, a.name from albums a right outer join songs s on a.id = s.album_id where s.id < 90 "
      "order by s.id",
      "select s.id, a.artist from albums a right join songs s on s.album_id = a.id where s.album_id > 38 "
      "order by s.id",
      "select s.id, a.id from albums a right outer join songs s on a.id = s.album_id and a.artist = 'Abba' "
      "where s.id <= 60 order by s.id",
      "select s.id from songs s where s.id > 250.5 order by s.id",
      "select s.id from songs s where s.id <= 10.7 order by s.id",
      "select s.id from songs s where s.id > 100 + 0.5 and s.id < 120 order by s.id",
      "select s.id, s.yr from songs s where s.yr between 1970.0 and 1972.9 order by s.id",
      "select s.id from songs s where s.id in (5.0, 7.0, 300.0) order by s.id",
  };
  for (std::uint32_t probe : {2000000u, 0u}) {
    maxProbeRecords = probe;
    for (const char* sql : statements) {
      SCOPED_TRACE(sql);
      TRows theirs = Theirs(sql);
      EXPECT_FALSE(theirs.empty());
      EXPECT_EQ(Ours(sql), theirs);
    }
  }
}

// The application's own search statements, on both sides.
TEST_F(SqliteComparison, LocalSearchStatementsAgree) {
  const char* statements[] = {
      "Select a.title,b.artist,b.name,a.id from \"songs\" a, \"albums\" b where (lower(a.title) like '%love%') and "
      "(a.album_id=b.id) order by a.title, a.id",
      "Select a.title,b.artist,b.name,a.id from \"songs\" a, \"albums\" b where (lower(b.artist) like '%abba%') and "
      "(a.album_id=b.id) order by b.name, a.id",
      "Select a.title,b.artist,b.name,a.id from \"songs\" a, \"albums\" b where (lower(a.title) like '%ove%') and "
      "(lower(b.artist) like '%e%') and (a.album_id=b.id) order by b.name, a.id",
  };
  for (std::uint32_t probe : {2000000u, 0u}) {
    maxProbeRecords = probe;
    for (const char* sql : statements) {
      SCOPED_TRACE(sql);
      TRows theirs = Theirs(sql);
      EXPECT_FALSE(theirs.empty());
      EXPECT_EQ(Ours(sql), theirs);
    }
  }
}

}  // namespace
}  // namespace quillon::sql
