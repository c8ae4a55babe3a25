// Statements run over two small tables shaped like a lyrics base (songs and albums), compared
// with result rows written out by hand as tab-separated lines. NULL prints as "NULL".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "dataset/sql/data_query.h"
#include "dataset/sql/expr_evaluator.h"
#include "dataset/sql/tests/sql_test_support.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/os_file.h"
#include "engine/tests/peer_process.h"
#include "engine/tests/table_definitions.h"
#include "util/platform.h"
#include "util/testing/temp_dir.h"

namespace quillon::sql {
namespace {

using engine::testing::Field;
using engine::testing::IndexOn;

using engine::TDataFile;
using engine::TFieldType;
using quillon::sql::testing::ErrorOf;
using quillon::sql::testing::Expected;

struct TSong {
  std::optional<std::string> Song;
  std::int32_t Index;
  std::optional<std::int32_t> AlbumIndex;
};
struct TAlbum {
  std::optional<std::int32_t> Index;
  std::optional<std::string> Artist;
  std::string Album;
};

std::string Text(const TSqlValue& v) {
  if (v.IsNull()) return "NULL";
  if (v.Type == static_cast<int>(TFieldType::String)) return v.Text;
  if (v.Type == static_cast<int>(TFieldType::Float)) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", v.Real);
    return buffer;
  }
  return std::to_string(v.Int);
}

class QueryExecution : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::InitializeEngine();
    engine::Session().SetPrivateDir(dir.Path());
    MakeSongs({{"Love Me Do", 1, 1},
               {"Zebra", 2, 2},
               {"apple", 3, 2},
               {"Lovely", 4, 3},
               {"Zebra", 5, 1},
               {"Orphan", 6, 9},
               {"Ghost", 7, std::nullopt}});
    MakeAlbums({{1, "Beatles", "Please Please Me"},
                {2, "Abba", "Arrival"},
                {3, "Queen", "Jazz"},
                {4, "Nobody", "Empty"},
                {std::nullopt, std::nullopt, "Null Album"}});
  }
  void TearDown() override { engine::ShutdownEngine(); }

  void MakeSongs(const std::vector<TSong>& rows) {
    engine::TTableDefinition t;
    t.Fields = {Field("song", TFieldType::String, 40), Field("index", TFieldType::Integer),
                Field("albumindex", TFieldType::Integer)};
    t.Indexes = {IndexOn("", 2), IndexOn("ByAlbum", 3)};
    TDataFile table;
    table.SetFileName(dir.File("songs"));
    table.SetExclusive(true);
    table.CreateTable(t);
    table.Open();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    for (const TSong& s : rows) {
      table.InitRecord(record.data());
      if (s.Song) table.SetField(true, 1, s.Song->c_str(), record.data());
      table.SetField(true, 2, &s.Index, record.data());
      if (s.AlbumIndex) table.SetField(true, 3, &*s.AlbumIndex, record.data());
      table.InsertRecord(record.data());
    }
  }
  void MakeAlbums(const std::vector<TAlbum>& rows) {
    engine::TTableDefinition t;
    t.Fields = {Field("index", TFieldType::Integer), Field("artist", TFieldType::String, 40),
                Field("album", TFieldType::String, 40)};
    t.Indexes = {IndexOn("ByIndex", 1)};
    t.AllowEmptyPrimary = true;
    t.Indexes[0].IndexName = "";
    TDataFile table;
    table.SetFileName(dir.File("albums"));
    table.SetExclusive(true);
    table.CreateTable(t);
    table.Open();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    for (const TAlbum& a : rows) {
      table.InitRecord(record.data());
      if (a.Index) table.SetField(true, 1, &*a.Index, record.data());
      if (a.Artist) table.SetField(true, 2, a.Artist->c_str(), record.data());
      table.SetField(true, 3, a.Album.c_str(), record.data());
      table.InsertRecord(record.data());
    }
  }

  TQuerySettings Settings() const {
    TQuerySettings s;
    s.DatabaseDirectory = dir.Path();
    s.MaxProbeRecords = maxProbeRecords;
    return s;
  }

  // The result rows as lines of tab-separated values, without the hidden fields.
  static std::string Rows(TDataFile& result) {
    std::string out;
    std::vector<std::uint8_t> record(result.RecordBufferSize());
    result.First();
    while (result.Next(record.data()) == 0) {
      std::string line;
      for (int i = 2; i <= result.FieldCount(); ++i) {
        const engine::TFieldDescriptor& f = result.GetFieldDescriptor(true, i);
        if (f.FieldName == "Avg__Count") continue;
        std::uint8_t bytes[260] = {};
        bool present = result.GetField(true, i, record.data(), bytes);
        if (i > 2) line += '\t';
        line += Text(FieldValue(f.FieldType, f.SubType, bytes, f.DataSize, present));
      }
      out += line + "\n";
    }
    return out;
  }

  std::string Run(const std::string& sql, const TQueryProgress& progress = nullptr) {
    TDataQuery query;
    query.Open(sql, Settings());
    TDataFile* result = query.Execute(progress);
    return result ? Rows(*result) : "";
  }

  std::string Names(const std::string& sql) {
    TDataQuery query;
    query.Open(sql, Settings());
    std::string out;
    for (const auto& f : query.ResultCursor()->LogicalFields()) out += f.FieldName + "|";
    return out;
  }

  quillon::testing::TempDir dir;
  // 0: equality joins go through the index of the inner column (or a filter) instead of a map.
  std::uint32_t maxProbeRecords = 2000000;
};

struct TCase {
  const char* Sql;
  const char* Rows;
};

TEST_F(QueryExecution, SelectsFiltersOrdersAndGroups) {
  const TCase cases[] = {
      // Byte order puts capitals first; NOCASE folds them; equal titles keep their record order.
      {"select song, index from songs order by song",
       "Ghost\t7\nLove Me Do\t1\nLovely\t4\nOrphan\t6\nZebra\t2\nZebra\t5\napple\t3\n"},
      {"select song, index from songs order by song nocase",
       "apple\t3\nGhost\t7\nLove Me Do\t1\nLovely\t4\nOrphan\t6\nZebra\t2\nZebra\t5\n"},
      {"select song from songs order by song desc", "apple\nZebra\nZebra\nOrphan\nLovely\nLove Me Do\nGhost\n"},
      {"select index from songs where albumindex = 2 order by 1 desc", "3\n2\n"},
      // Without ORDER BY rows come in the order they were produced.
      {"select index from songs where index > 4", "5\n6\n7\n"},
      // DISTINCT without ORDER BY sorts by all columns.
      {"select distinct song from songs where index < 6", "Love Me Do\nLovely\nZebra\napple\n"},
      {"select distinct albumindex from songs order by albumindex desc", "9\n3\n2\n1\nNULL\n"},
      // The '*' and LIKE prefix forms, and a LIKE that stays a pattern.
      {"select index from songs where song = 'Lov*'", "1\n4\n"},
      {"select index from songs where song like 'Lov%'", "1\n4\n"},
      {"select index from songs where song <> 'Lov*'", "2\n3\n5\n6\n7\n"},
      {"select index from songs where song like '%o%'", "1\n4\n7\n"},
      {"select index from songs where song = 'Lov'", ""},
      // Aggregates: SUM, MIN and MAX skip NULL, COUNT and AVG count every row.
      {"select count(*), count(albumindex), sum(albumindex), min(albumindex), max(albumindex), avg(albumindex) "
       "from songs",
       "7\t7\t18\t1\t9\t2.57143\n"},
      {"select count(*) from songs where albumindex = 2", "2\n"},
      {"select albumindex, count(*), min(index), max(index) from songs group by albumindex",
       "NULL\t1\t7\t7\n1\t2\t1\t5\n2\t2\t2\t3\n3\t1\t4\t4\n9\t1\t6\t6\n"},
      {"select albumindex, count(*) from songs group by albumindex order by 2 desc, 1",
       "1\t2\n2\t2\nNULL\t1\n3\t1\n9\t1\n"},
      {"select index * 2 + 1, upper(song) from songs where index <= 2", "3\tLOVE ME DO\n5\tZEBRA\n"},
      // Joins: a NULL on the outer side meets NULL on the inner side.
      {"select a.song, b.album from songs a, albums b where a.albumindex = b.index and a.index = 7",
       "Ghost\tNull Album\n"},
      {"select a.song, b.artist from songs a inner join albums b on a.albumindex = b.index where b.index = 2",
       "Zebra\tAbba\napple\tAbba\n"},
      // The missing side of a left outer join is NULL, not the values of an earlier row.
      {"select b.album, a.song from albums b left outer join songs a on b.index = a.albumindex",
       "Please Please Me\tLove Me Do\nPlease Please Me\tZebra\nArrival\tZebra\nArrival\tapple\nJazz\tLovely\n"
       "Empty\tNULL\nNull Album\tGhost\n"},
      {"select a.song, b.album from songs a left outer join albums b on a.albumindex = b.index where a.index > 5",
       "Orphan\tNULL\nGhost\tNull Album\n"},
      // A right outer join runs from the joined table: every album with its own values, either
      // way round the condition is written.
      {"select b.album, a.song from songs a right outer join albums b on a.albumindex = b.index",
       "Please Please Me\tLove Me Do\nPlease Please Me\tZebra\nArrival\tZebra\nArrival\tapple\nJazz\tLovely\n"
       "Empty\tNULL\nNull Album\tGhost\n"},
      {"select b.album from songs a right join albums b on b.index = a.albumindex where b.index >= 3", "Jazz\nEmpty\n"},
      // Constants compared with a column take its type: fractions are dropped for an integer column.
      {"select index from songs where index = 2.5", "2\n"},
      {"select index from songs where 2.9 = index", "2\n"},
      {"select index from songs where index = 1 + 1.7", "2\n"},
      {"select index from songs where index <> 6.5", "1\n2\n3\n4\n5\n7\n"},
      {"select index from songs where index in (3.2, 6.9)", "3\n6\n"},
      {"select index from songs where index between 1.5 and 3.9", "1\n2\n3\n"},
      // One the column's type cannot hold keeps its value rather than wrap (4294967298 is not 2).
      {"select index from songs where index = 4294967298", ""},
      {"select index from songs where index < 3000000000.5 and index > 5", "6\n7\n"},
      {"select count(*) from songs a, albums b where a.index < 3", "10\n"},
      // Links that no index or map answers: on an unindexed column, and with an ordering operator.
      {"select a.index, b.index from songs a, songs b where a.song = b.song and a.index < 4",
       "1\t1\n2\t2\n2\t5\n3\t3\n"},
      {"select a.index, b.index from songs a, albums b where a.index = 1 and a.albumindex < b.index",
       "1\t2\n1\t3\n1\t4\n"},
      {"select a.index, b.album from songs a, albums b where b.index = a.albumindex and a.index in (2, 6)",
       "2\tArrival\n"},
      // A condition over both tables that no link can take is tested on each joined row.
      {"select a.index, b.index from songs a, albums b where a.albumindex = b.index and (a.index = 1 or b.index = 3)",
       "1\t1\n4\t3\n"},
  };
  for (std::uint32_t probe : {2000000u, 0u}) {
    maxProbeRecords = probe;
    for (const TCase& c : cases) {
      SCOPED_TRACE(c.Sql);
      SCOPED_TRACE(probe);
      EXPECT_EQ(Run(c.Sql), c.Rows);
    }
  }
}

// The three statements of the program's local search.
TEST_F(QueryExecution, LocalSearchStatementsAndTheirProgress) {
  struct TSearch {
    const char* Sql;
    const char* Rows;
    std::vector<std::pair<int, int>> Calls;
  };
  const TSearch searches[] = {
      {"Select a.song,b.artist,b.album,a.index from \"songs\" a, \"albums\" b where (lower(a.song) like '%lov%') and "
       "(a.albumindex=b.index) order by a.song",
       "Love Me Do\tBeatles\tPlease Please Me\t1\nLovely\tQueen\tJazz\t4\n",
       {{2, 100}}},
      {"Select a.song,b.artist,b.album,a.index from \"songs\" a, \"albums\" b where (lower(b.artist) like '%a%') and "
       "(a.albumindex=b.index) order by b.album",
       "Zebra\tAbba\tArrival\t2\napple\tAbba\tArrival\t3\nLove Me Do\tBeatles\tPlease Please Me\t1\n"
       "Zebra\tBeatles\tPlease Please Me\t5\n",
       {{2, 28}, {3, 42}, {4, 57}}},
      {"Select a.song,b.artist,b.album,a.index from \"songs\" a, \"albums\" b where (lower(a.song) like '%zeb%') and "
       "(lower(b.artist) like '%abba%') and (a.albumindex=b.index) order by b.album",
       "Zebra\tAbba\tArrival\t2\n",
       {}},
      // Both terms: the song's own condition counts every song containing an e (five).
      {"Select a.song,b.artist,b.album,a.index from \"songs\" a, \"albums\" b where (lower(a.song) like '%e%') and "
       "(lower(b.artist) like '%a%') and (a.albumindex=b.index) order by b.album",
       "Zebra\tAbba\tArrival\t2\napple\tAbba\tArrival\t3\nLove Me Do\tBeatles\tPlease Please Me\t1\n"
       "Zebra\tBeatles\tPlease Please Me\t5\n",
       {{2, 40}, {3, 60}, {4, 80}}},
      {"Select a.song,b.artist,b.album,a.index from \"songs\" a, \"albums\" b where (lower(a.song) like '%xyz%') and "
       "(a.albumindex=b.index) order by a.song",
       "",
       {}},
      // A single table reports its first record as 2 and ends above 100.
      {"select index from songs where index <= 3", "1\n2\n3\n", {{2, 66}, {3, 100}, {4, 133}}},
  };
  for (std::uint32_t probe : {2000000u, 0u}) {
    maxProbeRecords = probe;
    for (const TSearch& s : searches) {
      SCOPED_TRACE(s.Sql);
      SCOPED_TRACE(probe);
      std::vector<std::pair<int, int>> calls;
      EXPECT_EQ(Run(s.Sql, [&](int record, int percent, bool&) { calls.emplace_back(record, percent); }), s.Rows);
      EXPECT_EQ(calls, s.Calls);
    }
  }
}

// A driving table pinned by "column = value" on a leading index column is read from that key
// range; the same condition written as an expression ("+ 0") is tested on every record. Both must
// give the same rows, in the same order, with the same progress calls.
TEST_F(QueryExecution, KeyRangesAnswerLikeScans) {
  const TCase cases[] = {
      {"select song, index from songs where albumindex = 2", "Zebra\t2\napple\t3\n"},
      {"select song, index from songs where albumindex = 1", "Love Me Do\t1\nZebra\t5\n"},
      {"select song from songs where index = 5", "Zebra\n"},
      {"select song from songs where 4 = index", "Lovely\n"},
      {"select song from songs where albumindex = 1 and song like 'Z%'", "Zebra\n"},
      {"select song from songs where albumindex = 2 or index = 7", "Zebra\napple\nGhost\n"},
      {"select song from songs where albumindex = 99", ""},
      {"select song from songs where albumindex = 4294967298", ""},
      {"select song from songs where albumindex = null", "Ghost\n"},
      {"select song, index from songs where albumindex = 1 order by song desc", "Zebra\t5\nLove Me Do\t1\n"},
      {"select a.song, b.artist from songs a, albums b where a.albumindex = 2 and a.albumindex = b.index",
       "Zebra\tAbba\napple\tAbba\n"},
      {"select a.song, b.artist from songs a, albums b where a.albumindex = 9 and a.albumindex = b.index", ""},
      {"select albumindex, count(*) from songs where albumindex = 1 group by albumindex", "1\t2\n"},
      {"select count(*) from songs where albumindex = 2", "2\n"},
  };
  auto expression = [](std::string sql) {
    for (const char* column : {"albumindex = ", "where index = ", "= index"}) {
      const std::size_t at = sql.find(column);
      if (at == std::string::npos) continue;
      if (std::string(column) == "= index") return sql.insert(at + std::strlen(column), " + 0");
      const std::size_t equal = sql.find(" = ", at);
      return sql.insert(equal, " + 0");
    }
    return sql;
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::vector<std::pair<int, int>> ranged, scanned;
    EXPECT_EQ(Run(c.Sql, [&](int record, int percent, bool&) { ranged.emplace_back(record, percent); }), c.Rows);
    const std::string plain = expression(c.Sql);
    ASSERT_NE(plain, c.Sql);
    EXPECT_EQ(Run(plain, [&](int record, int percent, bool&) { scanned.emplace_back(record, percent); }), c.Rows)
        << plain;
    EXPECT_EQ(ranged, scanned);
  }
  std::vector<std::pair<int, int>> calls;
  Run("select song from songs where albumindex = 2",
      [&](int record, int percent, bool&) { calls.emplace_back(record, percent); });
  EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{2, 100}, {3, 150}}));
  // One prepared statement run again with another value, then with one no range answers.
  TDataQuery query;
  query.Open("select index from songs where albumindex = ?", Settings());
  for (const auto& [value, rows] :
       std::vector<std::pair<std::int32_t, std::string>>{{2, "2\n3\n"}, {3, "4\n"}, {2, "2\n3\n"}}) {
    query.BindParameter(0, TSqlValue::Integer(value));
    EXPECT_EQ(Rows(*query.Execute()), rows) << value;
  }
  query.BindParameter(0, TSqlValue::Null());
  EXPECT_EQ(Rows(*query.Execute()), "7\n");
  // Counts without conditions come from the index's key count, which a deletion lowers.
  EXPECT_EQ(Run("select count(*) from songs"), "7\n");
  Run("delete from songs where albumindex = 2");
  EXPECT_EQ(Run("select count(*) from songs"), "5\n");
  EXPECT_EQ(Run("select song from songs where albumindex = 2"), "");
  EXPECT_EQ(Run("select count(*) from albums"), "5\n");
}

TEST_F(QueryExecution, AbortInTheFirstCallKeepsTheRowsSoFar) {
  auto abort = [](int, int, bool& stop) { stop = true; };
  EXPECT_EQ(Run("select index from songs", abort), "1\n");
  // The first call comes with the second driving record that has a joined row.
  EXPECT_EQ(Run("select a.index, b.index from songs a, albums b where a.albumindex = b.index", abort), "1\t1\n2\t2\n");
}

TEST_F(QueryExecution, ResultNames) {
  EXPECT_EQ(Names("select a.song, b.song from songs a, songs b where a.index = b.index"), "Row___No|song|song_1|");
  EXPECT_EQ(Names("select sum(index), avg(index), index + 1, count(index + 1), song as Song_Title from songs"
                  " group by song"),
            "Row___No|Sum Of index|Average Of index|Expression|Count Of Expr|Song_Title|Avg__Count|");
  EXPECT_EQ(Names("select * from songs"), "Row___No|song|index|albumindex|");
  // Sixteen columns are the most a DISTINCT index takes.
  const std::string sixteen = Names(
      "select distinct index, index, index, index, index, index, index, index, index, index, index, index, index, "
      "index, index, index from songs");
  EXPECT_EQ(sixteen.substr(sixteen.size() - 28), "|index_13|index_14|index_15|");
  EXPECT_EQ(Names("select b.*, a.index from songs a, albums b where a.albumindex = b.index"),
            "Row___No|index|artist|album|index_1|");
  EXPECT_EQ(Names("select song as aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa, index as aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa from "
                  "songs"),
            "Row___No|aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa|aaaaaaaaaaaaaaaaaaaaaaaaaaaa_1|");
}

// Many repeats of one name get their suffixes in order, around names given explicitly; more
// columns than a table has fields are refused (before any is named).
TEST_F(QueryExecution, ResultNamesOfManyRepeatsAndTheColumnLimit) {
  EXPECT_EQ(Names("select index, index as INDEX_1, index, index as index_3, index from songs"),
            "Row___No|index|INDEX_1|index_2|index_3|index_4|");
  auto repeated = [](int count) {
    std::string sql = "select index";
    for (int i = 1; i < count; ++i) sql += ", index";
    return sql + " from songs";
  };
  const std::string names = Names(repeated(1000));
  EXPECT_EQ(names.substr(names.size() - 31), "|index_997|index_998|index_999|");
  EXPECT_EQ(std::count(names.begin(), names.end(), '|'), 1001);
  int code = 0;
  try {
    Names(repeated(5000));
  } catch (const engine::EEngineError& e) {
    code = e.Code();
  }
  EXPECT_EQ(code, engine::err::kFieldLimits);
}

TEST_F(QueryExecution, Refusals) {
  const std::pair<const char*, const char*> cases[] = {
      {"select song, count(*) from songs",
       "Invalid use of aggregate function for column 'count(*)', the necessary GROUP BY clause is missing"},
      {"select row___no from songs", "Invalid use of reserved field name 'row___no'in source columns"},
      {"select a.* x from songs a", "Invalid use of column correlation name 'x' for 'a.*' specified in source columns"},
      {"select song from songs order by 3", "Invalid column number '3' specified in ORDER BY clause"},
      {"select song from songs order by nothere",
       "Invalid column name 'nothere' or table correlation name '' "
       "specified in ORDER BY clause"},
      {"select song, count(*) from songs group by 0", "Invalid column number '0' specified in GROUP BY clause"},
      {"select distinct index, index, index, index, index, index, index, index, index, index, index, index, index, "
       "index, index, index, index from songs",
       "Maximum number of columns (16) in DISTINCT clause exceeded"},
      {"select index from songs order by 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1",
       "Maximum number of columns (15) in ORDER BY clause exceeded"},
      {"select index, count(*) from songs group by 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1",
       "Maximum number of columns (16) in GROUP BY clause exceeded"},
      {"select x.* from songs a", "Invalid column name '*' or table correlation name 'x' specified in source columns"},
      {"select song from songs a order by b.song",
       "Invalid column name 'song' or table correlation name 'b' specified in ORDER BY clause"},
      {"select a.song from songs a, albums b, songs c where a.albumindex = b.index and a.index = c.index "
       "and c.albumindex = b.index",
       "Internal join error - table correlation name \"b\" is target of multiple join conditions in WHERE or JOIN "
       "clause"},
      {"select a.song from songs a, albums b where a.albumindex = b.index + a.index",
       "The join condition cannot contain multiple table correlation names in either the left or right operand in "
       "WHERE or JOIN clause"},
      {"insert into songs (song, index) values (5, 9)",
       "Type mismatch between column song and constant value 5 in INSERT statement"},
      {"update songs set index = 'x' where index = 1",
       "Type mismatch between column index and constant value x in UPDATE statement"},
      {"insert into songs (song, index) values ('Many', 'many')",
       "Type mismatch between column index and constant value many in INSERT statement"},
      {"update songs set song = index + 1 where index = 1",
       "Type mismatch between column song and constant value index + 1 in UPDATE statement"},
  };
  for (const auto& [sql, message] : cases) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(ErrorOf([&] { Run(sql); }), Expected(message));
  }
}

// A cycle of join conditions is refused rather than run for ever.
TEST_F(QueryExecution, JoinCycleIsAnError) {
  std::string error = ErrorOf([&] {
    Run("select a.song from songs a, albums b, songs c where a.albumindex = b.index and b.index = c.albumindex and "
        "c.index = a.index");
  });
  EXPECT_NE(error, "<no error>");
  EXPECT_NE(error.find("Internal join error"), std::string::npos) << error;
}

TEST_F(QueryExecution, InsertUpdateDelete) {
  TDataQuery insert;
  insert.Open("insert into songs (song, index, albumindex) values ('New', 8, 3)", Settings());
  EXPECT_EQ(insert.Execute(), nullptr);
  EXPECT_EQ(insert.RowsAffected(), 1u);
  EXPECT_EQ(Run("select song, albumindex from songs where index = 8"), "New\t3\n");
  {
    TDataQuery update;
    update.Open("update songs set albumindex = albumindex + 1, song = 'Newer' where index >= 7", Settings());
    update.Execute();
    EXPECT_EQ(update.RowsAffected(), 2u);
  }
  EXPECT_EQ(Run("select song, albumindex from songs where index >= 7"), "Newer\tNULL\nNewer\t4\n");
  {
    TDataQuery remove;
    remove.Open("delete from songs where song = 'Newer' or index = 1", Settings());
    remove.Execute();
    EXPECT_EQ(remove.RowsAffected(), 3u);
  }
  EXPECT_EQ(Run("select index from songs"), "2\n3\n4\n5\n6\n");
}

TEST_F(QueryExecution, ParametersAndIntoTables) {
  TDataQuery query;
  query.Open("select song from songs where albumindex = ? and index > ?", Settings());
  query.BindParameter(0, TSqlValue::Integer(2));
  query.BindParameter(1, TSqlValue::Integer(2));
  EXPECT_EQ(Rows(*query.Execute()), "apple\n");
  EXPECT_NE(ErrorOf([&] { query.BindParameter(2, TSqlValue::Integer(1)); }), "<no error>");
  {
    TDataQuery into;
    into.Open("select song into kept from songs where index = 3", Settings());
    into.Execute();
  }
  // A table made with INTO stays after its statement is gone; a temporary one does not.
  EXPECT_EQ(Run("select song from kept"), "apple\n");
  // The kept table carries the result's row number field, which "*" may not bring into a result.
  for (const char* sql : {"select * from kept", "select k.* from kept k", "select a.index, b.* from songs a, kept b"}) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(ErrorOf([&] { Run(sql); }), Expected("Invalid use of reserved field name 'Row___No'in source columns"));
  }
  std::string temporary;
  {
    TDataQuery plain;
    plain.Open("select song from songs", Settings());
    temporary = plain.ResultCursor()->FileName();
  }
  std::FILE* file = std::fopen(temporary.c_str(), "rb");
  EXPECT_EQ(file, nullptr) << temporary;
  if (file) std::fclose(file);
}

// A live result is the source table's cursor under the conditions, in the order of the index
// that matches ORDER BY; anything else gets a result table.
TEST_F(QueryExecution, LiveResults) {
  struct TLive {
    const char* Sql;
    bool Live;
    const char* Rows;  // the first column of each row
  };
  const TLive cases[] = {
      {"select song, index from songs where albumindex = 2", true, "Zebra\napple\n"},
      {"select index from songs where index > 4 order by index", true, "5\n6\n7\n"},
      {"select index from songs where song = 'Zebra' order by index desc", false, "5\n2\n"},
      {"select index, song from songs order by song", false, "7\n1\n4\n6\n2\n5\n3\n"},
      {"select index + 1 from songs where index = 1", false, "2\n"},
      {"select distinct albumindex from songs where index < 3", false, "1\n2\n"},
      {"select a.index from songs a, albums b where a.albumindex = b.index and b.index = 3", false, "4\n"},
  };
  for (const TLive& c : cases) {
    SCOPED_TRACE(c.Sql);
    TQuerySettings settings = Settings();
    settings.RequestLive = true;
    TDataQuery query;
    query.Open(c.Sql, settings);
    TDataFile& result = *query.Execute();
    EXPECT_EQ(query.LiveResult(), c.Live);
    EXPECT_EQ(result.FileName().find("songs") != std::string::npos, c.Live) << result.FileName();
    std::string firsts;
    std::vector<std::uint8_t> record(result.RecordBufferSize());
    result.First();
    const int field = c.Live ? query.ResultFields[0].Expression->FieldNumber : 2;
    while (result.Next(record.data()) == 0) {
      const engine::TFieldDescriptor& f = result.GetFieldDescriptor(true, field);
      std::uint8_t bytes[260] = {};
      firsts += Text(FieldValue(f.FieldType, f.SubType, bytes, f.DataSize,
                                result.GetField(true, field, record.data(), bytes))) +
                "\n";
    }
    EXPECT_EQ(firsts, c.Rows);
  }
}

// BLOB values are copied into the result table, NULL ones stay NULL.
TEST_F(QueryExecution, BlobColumnsAreCopied) {
  {
    engine::TTableDefinition t;
    engine::TFieldDescriptor text = Field("text", TFieldType::Blob);
    text.SubType = engine::kSubTypeMemo;
    t.Fields = {Field("id", TFieldType::Integer), text};
    t.Indexes = {IndexOn("", 1)};
    TDataFile table;
    table.SetFileName(dir.File("notes"));
    table.SetExclusive(true);
    table.CreateTable(t);
    table.Open();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    const std::string long_text(3000, 'x');
    for (std::int32_t id = 1; id <= 3; ++id) {
      table.InitRecord(record.data());
      table.SetField(true, 1, &id, record.data());
      if (id != 2) {
        const std::string value = id == 1 ? "hello world" : long_text;
        ASSERT_EQ(table.OpenBlob(true, 2, engine::kBlobOpenReadWrite, record.data()), 0);
        ASSERT_EQ(table.WriteBlob(true, 2, 0, static_cast<std::uint32_t>(value.size()), value.data(), record.data()),
                  0);
      }
      table.InsertRecord(record.data());
      table.CloseAllBlobs();
    }
  }
  TDataQuery query;
  query.Open("select text, id from notes order by id desc", Settings());
  TDataFile& result = *query.Execute();
  std::vector<std::uint8_t> record(result.RecordBufferSize());
  std::vector<std::string> texts;
  result.First();
  while (result.Next(record.data()) == 0) {
    std::uint8_t slot[8] = {};
    if (!result.GetField(true, 2, record.data(), slot)) {
      texts.push_back("NULL");
      continue;
    }
    ASSERT_EQ(result.OpenBlob(true, 2, engine::kBlobOpenRead, record.data()), 0);
    std::uint32_t length = 0, read = 0;
    result.GetBlobSize(true, 2, record.data(), length);
    std::string value(length, '\0');
    ASSERT_EQ(result.ReadBlob(true, 2, 0, length, value.data(), record.data(), read), 0);
    result.CloseBlob(true, 2, record.data());
    texts.push_back(value);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{std::string(3000, 'x'), "NULL", "hello world"}));
  // A BLOB column cannot be an index key of the result.
  const std::pair<const char*, const char*> refusals[] = {
      {"select text, id from notes order by text", "Invalid use of a BLOB column 'text' in an ORDER BY clause"},
      {"select distinct id, text from notes", "Invalid use of a BLOB column 'text' in a DISTINCT or GROUP BY clause"},
  };
  for (const auto& [sql, message] : refusals) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(ErrorOf([&] {
                TDataQuery refused;
                refused.Open(sql, Settings());
              }),
              Expected(message));
  }
}

// While another process runs a statement WITH LOCKS, the table cannot be changed; afterwards it
// can. A statement without WITH LOCKS still reads beside it.
TEST_F(QueryExecution, WithLocksHoldsTheTablesAgainstASecondProcess) {
  const std::string ready = dir.File("ready"), release = dir.File("release");
  // Without the trailing separator: a backslash before the closing quote of a Windows command
  // line would escape the quote.
  std::string folder = dir.Path();
  folder.pop_back();
  engine::testing::TPeerProcess peer("sql_lock_peer", {folder, ready, release});
  ASSERT_TRUE(peer.Started()) << peer.Path();
  for (int ms = 0; ms < 60000 && !engine::os::IsExistingFile(ready) && peer.Running(); ms += 5) platform::SleepMs(5);
  ASSERT_TRUE(engine::os::IsExistingFile(ready)) << "the peer never reached its statement, exit code " << peer.Wait();
  TQuerySettings settings = Settings();
  settings.LockRetryCount = 1;
  settings.LockWaitTime = 10;
  std::string refused = ErrorOf([&] {
    TDataQuery insert;
    insert.Open("insert into songs (song, index, albumindex) values ('Locked', 20, 1)", settings);
    insert.Execute();
  });
  EXPECT_NE(refused, "<no error>");
  EXPECT_EQ(Run("select count(*) from songs"), "7\n");
  platform::WriteWholeFile(release, "go");
  EXPECT_EQ(peer.Wait(), 0);
  TDataQuery insert;
  insert.Open("insert into songs (song, index, albumindex) values ('Free', 21, 1)", settings);
  insert.Execute();
  EXPECT_EQ(Run("select song from songs where index > 7"), "Free\n");
}

// While another process holds the table for itself (an import), statements wait for their turn;
// one that waits in vain says who holds the table.
TEST_F(QueryExecution, StatementsWaitWhileAnotherProcessHoldsTheTable) {
  const std::string ready = dir.File("ready"), release = dir.File("release");
  std::string folder = dir.Path();
  folder.pop_back();
  engine::testing::TPeerProcess peer("sql_lock_peer", {folder, ready, release, "exclusive"});
  ASSERT_TRUE(peer.Started()) << peer.Path();
  for (int ms = 0; ms < 60000 && !engine::os::IsExistingFile(ready) && peer.Running(); ms += 5) platform::SleepMs(5);
  ASSERT_TRUE(engine::os::IsExistingFile(ready)) << "the peer never held the table, exit code " << peer.Wait();
  TQuerySettings settings = Settings();
  settings.TurnWaitMs = 300;
  std::string refused;
  try {
    TDataQuery count;
    count.Open("select count(*) from songs", settings);
  } catch (const engine::EEngineError& e) {
    EXPECT_EQ(e.Code(), engine::err::kAccessDenied);
    refused = e.what();
  }
  EXPECT_NE(refused.find("another process holds the table"), std::string::npos) << refused;
  EXPECT_NE(refused.find("songs"), std::string::npos) << refused;
  // The holder lets go while the statements wait.
  settings.TurnWaitMs = 60000;
  std::thread releaser([&] {
    platform::SleepMs(400);
    platform::WriteWholeFile(release, "go");
  });
  TDataQuery insert;
  insert.Open("insert into songs (song, index, albumindex) values ('Waited', 22, 1)", settings);
  insert.Execute();
  releaser.join();
  EXPECT_EQ(peer.Wait(), 0);
  EXPECT_EQ(Run("select song from songs where index = 22"), "Waited\n");
}

}  // namespace
}  // namespace quillon::sql
