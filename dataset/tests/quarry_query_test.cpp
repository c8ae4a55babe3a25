// The query component over a small song table: parameters in the text, the result read as a
// dataset (without the result table's bookkeeping fields), progress, reopening, and errors.
#include <gtest/gtest.h>

#include <filesystem>

#include "dataset/engine_error.h"
#include "dataset/quarry_query.h"
#include "dataset/quarry_table.h"
#include "engine/data_file.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"

namespace quillon::dataset {
namespace {

template <typename F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(QueryParameters, TextIsScannedForNames) {
  struct TCase {
    const char* Text;
    const char* Parsed;
    std::vector<std::string> Names;
  };
  const TCase cases[] = {
      {"select * from t a where a.y = :y", "select * from t a where a.y = ?", {"y"}},
      {"select a::b from t where x = :x1 and (z=:z)", "select a:b from t where x = ? and (z=?)", {"x1", "z"}},
      {"select * from t where s = ':notme' and u = \":nor\" and v = :v;",
       "select * from t where s = ':notme' and u = "
       "\":nor\" and v = ?;",
       {"v"}},
      {"where a = :'two words' and b = :\"q\",c = :x\r\nand d = :x",
       "where a = ? and b = ?,c = ?\r\nand d = ?",
       {"two words", "q", "x", "x"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    std::vector<std::string> names;
    EXPECT_EQ(ParseParameterText(c.Text, names), c.Parsed);
    EXPECT_EQ(names, c.Names);
  }
}

TEST(QueryParameters, SizesTypesAndTheirMessages) {
  TQuarryParams params;
  TQuarryParam& p = params.Add("p");
  EXPECT_EQ(ErrorText([&] { ParamBoundSize(p); }), "Field 'p' is of unknown type");
  p.SetValue(std::string("abc"), TValueKind::String);
  EXPECT_EQ(ParamBoundSize(p), 4);
  EXPECT_EQ(ParamEngineType(p), 1);
  p.SetValue(std::int64_t{3}, TValueKind::Word);
  EXPECT_EQ(ParamBoundSize(p), 2);
  EXPECT_EQ(ParamEngineType(p), 12);
  p.SetValue(1.5, TValueKind::DateTime);
  EXPECT_EQ(ParamBoundSize(p), 8);
  EXPECT_EQ(ParamEngineType(p), 11);
  p.SetValue(std::int64_t{3}, TValueKind::Graphic);
  EXPECT_EQ(ErrorText([&] { ParamBoundSize(p); }), "Field 'p' is of an unsupported type");
  EXPECT_EQ(ErrorText([&] { ParamEngineType(p); }), "No value for parameter 'p'");
}

class QuarryQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::InitializeEngine();
    engine::Session().SetPrivateDir(dir.Path());
    engine::TTableDefinition t;
    engine::TFieldDescriptor song, index;
    song.FieldName = "song";
    song.FieldType = static_cast<std::uint8_t>(engine::TFieldType::String);
    song.DeclaredSize = 30;
    index.FieldName = "index";
    index.FieldType = static_cast<std::uint8_t>(engine::TFieldType::Integer);
    t.Fields = {song, index};
    engine::TIndexDescriptor primary;
    primary.KeyFields[0] = 2;
    primary.KeyFieldCount = 1;
    t.Indexes = {primary};
    engine::TDataFile table;
    table.SetFileName(dir.File("songs"));
    table.SetExclusive(true);
    table.CreateTable(t);
    table.Open();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    const char* titles[] = {"Yesterday", "Help", "Let It Be", "Hey Jude"};
    for (std::int32_t i = 1; i <= 4; ++i) {
      table.InitRecord(record.data());
      table.SetField(true, 1, titles[i - 1], record.data());
      table.SetField(true, 2, &i, record.data());
      table.InsertRecord(record.data());
    }
  }
  void TearDown() override { engine::ShutdownEngine(); }

  static std::string Column(TQuarryQuery& q, const std::string& name) {
    std::string out;
    for (q.First(); !q.Eof(); q.Next()) out += q.FieldNamed(name).AsString() + ";";
    return out;
  }

  quillon::testing::TempDir dir;
};

TEST_F(QuarryQuery, OpensAStatementWithParametersAndHidesBookkeepingFields) {
  TQuarryQuery q;
  q.SetDatabaseName(dir.Path());
  q.SetSQLText("select song, avg(index) from songs\r\nwhere song like :pattern group by song order by song");
  ASSERT_EQ(q.Params().Count(), 1u);
  q.ParamNamed("pattern").SetValue(std::string("H%"), TValueKind::String);
  std::vector<std::pair<int, int>> calls;
  q.OnQueryProgress = [&](TQuarryQuery&, int record, std::uint16_t percent, bool&) {
    calls.emplace_back(record, percent);
  };
  q.Open();
  EXPECT_EQ(q.FieldCount(), 2);
  EXPECT_EQ(q.Fields()[0]->FieldName(), "song");
  EXPECT_EQ(q.Fields()[1]->FieldName(), "Average Of index");
  EXPECT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(Column(q, "song"), "Help;Hey Jude;");
  EXPECT_EQ(Column(q, "Average Of index"), "2;4;");
  // "H%" is a prefix filter: two of the four records pass, reported as 2 and 3.
  EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{2, 100}, {3, 150}}));
  const std::string first = q.Handle()->FileName();
  EXPECT_TRUE(std::filesystem::exists(first));
  q.Close();
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_FALSE(q.Prepared());
  // Reopening runs the statement again with the parameter's new value.
  q.ParamNamed("pattern").SetValue(std::string("%e%"), TValueKind::String);
  q.Open();
  EXPECT_EQ(Column(q, "song"), "Help;Hey Jude;Let It Be;Yesterday;");
  q.Close();
}

TEST_F(QuarryQuery, ChangingStatementsAndErrors) {
  TQuarryQuery q;
  q.SetDatabaseName(dir.Path());
  EXPECT_EQ(ErrorText([&] { q.Open(); }), "No SQL statement available");
  q.SetSQLText("update songs set song = 'Help!' where index = :i");
  q.ParamNamed("i").SetValue(std::int64_t{2}, TValueKind::Integer);
  q.RunStatement();
  q.SetSQLText("select song from songs where index = 2");
  q.Open();
  EXPECT_EQ(Column(q, "song"), "Help!;");
  q.Close();
  q.SetSQLText("select nothere from songs");
  std::string error = ErrorText([&] { q.Open(); });
  EXPECT_EQ(error,
            "Quarry Engine Error # 11949 SQL - Invalid column name 'nothere' or table correlation name '' "
            "specified in source columns");
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(q.Prepared());
}

}  // namespace
}  // namespace quillon::dataset

namespace quillon::dataset {
namespace {

// A master's current record gives the parameters the program has not set; moving the master runs
// the query again.
TEST_F(QuarryQuery, AMasterSourceGivesUnsetParametersAndReopensTheQueryWhenItMoves) {
  TQuarryTable master;
  master.SetDatabaseName(dir.Path());
  master.SetTableName("songs");
  TDataFeed masterSource;
  masterSource.SetDataSet(&master);

  TQuarryQuery detail;
  detail.SetDatabaseName(dir.Path());
  detail.SetSQLText("select song from songs where index = :index or song = :extra");
  detail.ParamNamed("extra").SetValue(std::string("Help"), TValueKind::String);  // set: kept
  detail.SetDataSource(&masterSource);
  master.Open();
  detail.Open();
  EXPECT_EQ(Column(detail, "song"), "Yesterday;Help;");
  master.Next();
  EXPECT_TRUE(detail.Active());
  EXPECT_EQ(Column(detail, "song"), "Help;");
  master.Last();
  EXPECT_EQ(Column(detail, "song"), "Help;Hey Jude;");
  EXPECT_TRUE(detail.ParamNamed("index").Bound);
  EXPECT_FALSE(detail.ParamNamed("extra").Bound);

  // A parameter that names no field of the master cannot be given a value.
  detail.Close();
  detail.SetSQLText("select song from songs where index = :missing");
  EXPECT_EQ(ErrorText([&] { detail.Open(); }), "Field 'missing' not found");

  // The query's own data source is refused as its master.
  TDataFeed own;
  own.SetDataSet(&detail);
  EXPECT_EQ(ErrorText([&] { detail.SetDataSource(&own); }), "Circular datalinks are not allowed");
  EXPECT_EQ(detail.DataSource(), &masterSource);
  detail.SetDataSource(nullptr);
}

}  // namespace
}  // namespace quillon::dataset
