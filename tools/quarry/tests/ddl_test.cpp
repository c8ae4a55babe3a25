#include "tools/quarry/ddl.h"

#include <gtest/gtest.h>

namespace quillon::quarry {
namespace {

using engine::TFieldType;

TTableDef Create(const std::string& text) {
  auto st = ParseDdl(text);
  EXPECT_TRUE(st.has_value()) << text;
  EXPECT_EQ(st->kind, TDdlStatement::Kind::CreateTable);
  return st->table;
}

TEST(Ddl, SongTableWithAutoIncKeyAndIndexes) {
  TTableDef t = Create(
      "create table \"songList.dat\" (index AUTOINC, albumIndex INTEGER NOT NULL, song CHAR(50), url1 "
      "varchar(150) default '#', PRIMARY KEY (index), INDEX ByAlbum (albumIndex), unique nocase desc index "
      "ByTitle (song desc, url1) COMPRESSION 3) DESCRIPTION 'songs of ''default''' BLOCKSIZE 1024");
  EXPECT_EQ(t.name, "songList.dat");
  ASSERT_EQ(t.columns.size(), 4u);
  EXPECT_EQ(t.columns[0].name, "index");
  EXPECT_EQ(t.columns[0].type, TFieldType::Integer);
  EXPECT_EQ(t.columns[0].subType, engine::kSubTypeAutoInc);
  EXPECT_TRUE(t.columns[1].notNull);
  EXPECT_EQ(t.columns[2].size, 50);
  EXPECT_EQ(t.columns[3].type, TFieldType::String);
  EXPECT_EQ(t.columns[3].size, 150);
  EXPECT_EQ(t.columns[3].defaultValue, "#");
  ASSERT_TRUE(t.primaryKey);
  EXPECT_EQ(t.primaryKey->columns, (std::vector<TIndexColumn>{{"index", false}}));
  ASSERT_EQ(t.indexes.size(), 2u);
  EXPECT_EQ(t.indexes[0].name, "ByAlbum");
  EXPECT_FALSE(t.indexes[0].unique);
  EXPECT_EQ(t.indexes[0].compression, -1);
  EXPECT_TRUE(t.indexes[1].unique && t.indexes[1].caseInsensitive && t.indexes[1].descending);
  EXPECT_EQ(t.indexes[1].columns, (std::vector<TIndexColumn>{{"song", true}, {"url1", false}}));
  EXPECT_EQ(t.indexes[1].compression, 3);
  EXPECT_EQ(t.description, "songs of 'default'");
  EXPECT_EQ(t.blockSize, 1024);
  EXPECT_FALSE(t.password);
}

TEST(Ddl, EveryTypeName) {
  struct Case {
    const char* type;
    TFieldType code;
    int subType, size, scale;
  } cases[] = {
      {"CHAR(10)", TFieldType::String, 0, 10, 0},
      {"DATE", TFieldType::Date, 0, 0, 0},
      {"TIME", TFieldType::Time, 0, 0, 0},
      {"TIMESTAMP", TFieldType::TimeStamp, 0, 0, 0},
      {"BOOLEAN", TFieldType::Boolean, 0, 0, 0},
      {"SMALLINT", TFieldType::SmallInt, 0, 0, 0},
      {"INTEGER", TFieldType::Integer, 0, 0, 0},
      {"AUTOINC", TFieldType::Integer, 29, 0, 0},
      {"WORD", TFieldType::Word, 0, 0, 0},
      {"LARGEWORD", TFieldType::LargeWord, 0, 0, 0},
      {"FLOAT", TFieldType::Float, 0, 0, 0},
      {"MONEY", TFieldType::Float, 21, 0, 0},
      {"BCD(2)", TFieldType::Bcd, 0, 0, 2},
      {"NUMERIC(12, 4)", TFieldType::Bcd, 0, 0, 4},
      {"EXTENDED", TFieldType::Extended, 0, 0, 0},
      {"BYTES(16)", TFieldType::Bytes, 0, 16, 0},
      {"VARBYTES(8)", TFieldType::VarBytes, 0, 8, 0},
      {"BLOB", TFieldType::Blob, 0, 0, 0},
      {"MEMO", TFieldType::Blob, 22, 0, 0},
      {"graphic", TFieldType::Blob, 26, 0, 0},
  };
  for (const auto& c : cases) {
    TTableDef t = Create(std::string("CREATE TABLE t (f ") + c.type + ")");
    ASSERT_EQ(t.columns.size(), 1u) << c.type;
    EXPECT_EQ(t.columns[0].type, c.code) << c.type;
    EXPECT_EQ(t.columns[0].subType, c.subType) << c.type;
    EXPECT_EQ(t.columns[0].size, c.size) << c.type;
    EXPECT_EQ(t.columns[0].scale, c.scale) << c.type;
  }
}

TEST(Ddl, DropEmptyAndForeignStatements) {
  auto drop = ParseDdl("DROP TABLE AlbumList.dat");
  ASSERT_TRUE(drop);
  EXPECT_EQ(drop->kind, TDdlStatement::Kind::DropTable);
  EXPECT_EQ(drop->table.name, "AlbumList.dat");
  auto empty = ParseDdl("empty table \"my table\"");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->kind, TDdlStatement::Kind::EmptyTable);
  EXPECT_EQ(empty->table.name, "my table");
  EXPECT_FALSE(ParseDdl("select * from t"));
  EXPECT_FALSE(ParseDdl("/* c */ insert into t values (1)"));
  EXPECT_FALSE(ParseDdl(""));
}

TEST(Ddl, MalformedStatementsNameWhatWasExpected) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"CREATE INDEX x", "expected TABLE but found \"INDEX\""},
      {"CREATE TABLE t", "expected \"(\" but found end of statement"},
      {"CREATE TABLE t (a STRANGE)", "expected a column type but found \"STRANGE\""},
      {"CREATE TABLE t (a CHAR)", "expected \"(\" but found \")\""},
      {"CREATE TABLE t (a CHAR(x))", "expected a number but found \"x\""},
      {"CREATE TABLE t (a INTEGER DEFAULT 5)", "expected a default value in quotes but found \"5\""},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (a), b INTEGER)", "expected PRIMARY KEY or an index"},
      {"CREATE TABLE t (a INTEGER, PRIMARY KEY (a), PRIMARY KEY (a))", "PRIMARY KEY given twice"},
      {"CREATE TABLE t (a INTEGER) BLOCKSIZE 512 BLOCKSIZE 64", "expected end of statement but found \"BLOCKSIZE\""},
      {"CREATE TABLE t (a INTEGER) DESCRIPTION 'open", "unterminated text"},
      {"DROP TABLE", "expected a table name but found end of statement"},
      {"DROP TABLE a b", "expected end of statement but found \"b\""},
      {"CREATE TABLE t (PRIMARY KEY (a))", "at least one column"},
  };
  for (const auto& c : cases) {
    try {
      ParseDdl(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const EShellError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.text << " -> " << e.what();
    }
  }
}

TEST(Ddl, FormatCreateTableParsesBackToTheSameDefinition) {
  const char* statements[] = {
      "CREATE TABLE \"lyrics.dat\" (id AUTOINC, songname CHAR(50), lyrics MEMO, songindex INTEGER, songdb "
      "CHAR(40), PRIMARY KEY (id), INDEX BySong (songindex, songdb))",
      "CREATE TABLE \"a b.dat\" (\"first name\" CHAR(20) NOT NULL DEFAULT 'O''Neil' MIN 'A' MAX 'zz', amount "
      "NUMERIC(10,2), m MONEY, e EXTENDED, \"DATE\" DATE, PRIMARY KEY (\"first name\" DESC, amount), UNIQUE NOCASE "
      "INDEX \"by m\" (m DESC) COMPRESSION 0, DESC INDEX x (e)) DESCRIPTION 'd' PASSWORD 'secret' BLOCKSIZE 64 "
      "LOCALE 1033",
  };
  for (const char* text : statements) {
    TTableDef t = Create(text);
    std::string formatted = FormatCreateTable(t);
    EXPECT_EQ(Create(formatted), t) << formatted;
  }
  EXPECT_EQ(FormatCreateTable(Create("create table t (index autoinc, a char(5), primary key (index))")),
            "CREATE TABLE t (\n  index AUTOINC,\n  a CHAR(5),\n  PRIMARY KEY (index)\n)");
}

}  // namespace
}  // namespace quillon::quarry
