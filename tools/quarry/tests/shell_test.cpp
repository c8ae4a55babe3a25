#include "tools/quarry/shell.h"

#include <gtest/gtest.h>

#include "engine/os_file.h"
#include "tools/quarry/tests/shell_run.h"
#include "util/files.h"
#include "util/testing/temp_dir.h"

namespace quillon::quarry {
namespace {

using ::quillon::testing::TempDir;
using testing::RunShell;
using testing::ShellRun;

const char kAlbumTable[] =
    "CREATE TABLE AlbumList (\n"
    "  index AUTOINC,\n"
    "  album CHAR(40),\n"
    "  artist CHAR(40),\n"
    "  beginID INTEGER,\n"
    "  PRIMARY KEY (index),\n"
    "  INDEX ByArtist (artist) COMPRESSION 3\n"
    ") DESCRIPTION 'albums'";

TEST(Shell, CreateTableThenSchemaGivesTheSameStatement) {
  TempDir dir;
  ShellRun r = RunShell(dir.Path(), std::string(kAlbumTable) + ";\n.schema AlbumList\n.tables\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string(kAlbumTable) + ";\nAlbumList\n");
  EXPECT_TRUE(IsExistingFile(dir.File("AlbumList.DAT")));
  EXPECT_TRUE(IsExistingFile(dir.File("AlbumList.IDX")));
  EXPECT_FALSE(IsExistingFile(dir.File("AlbumList.BLB"))) << "no BLOB fields, no BLOB file";
}

TEST(Shell, TableWithoutPrimaryKeyAndWithMemo) {
  TempDir dir;
  const std::string lyrics =
      "CREATE TABLE lyrics (\n  songname CHAR(50),\n  lyrics MEMO,\n  songindex INTEGER,\n  songdb CHAR(40),\n"
      "  INDEX BySong (songindex, songdb)\n) BLOCKSIZE 1024";
  ShellRun r = RunShell(dir.Path(), lyrics + ";\n.schema lyrics.dat\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(
      r.out,
      "CREATE TABLE lyrics.dat (\n  songname CHAR(50),\n  lyrics MEMO,\n  songindex INTEGER,\n  songdb CHAR(40),\n"
      "  INDEX BySong (songindex, songdb) COMPRESSION 0\n) BLOCKSIZE 1024;\n");
  EXPECT_TRUE(IsExistingFile(dir.File("lyrics.BLB")));
}

TEST(Shell, DropAndEmptyTable) {
  TempDir dir;
  ShellRun r =
      RunShell(dir.Path(), std::string(kAlbumTable) + ";\nEMPTY TABLE AlbumList;\nDROP TABLE AlbumList;\n.tables\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(IsExistingFile(dir.File("AlbumList.DAT")));
  EXPECT_FALSE(IsExistingFile(dir.File("AlbumList.IDX")));
  r = RunShell(dir.Path(), "DROP TABLE AlbumList;");
  EXPECT_EQ(r.err, "Error: no such table: AlbumList\n");
  EXPECT_EQ(r.exitCode, 1);
}

TEST(Shell, EngineErrorsPrintCodeAndStopUnlessKeepGoing) {
  TempDir dir;
  const std::string script =
      "CREATE TABLE t (a CHAR(251));\nCREATE TABLE u (a INTEGER, a CHAR(2));\nCREATE TABLE v (a INTEGER);\n";
  ShellRun stop = RunShell(dir.Path(), script);
  EXPECT_EQ(stop.exitCode, 1);
  EXPECT_EQ(stop.err.rfind("Quarry Engine Error # 10000 Invalid field definition specified for the field a", 0), 0u)
      << stop.err;
  EXPECT_EQ(std::count(stop.err.begin(), stop.err.end(), '\n'), 1) << "one line, then stop";
  EXPECT_FALSE(IsExistingFile(dir.File("v.DAT")));

  ShellRun go = RunShell(dir.Path(), script, true);
  EXPECT_EQ(go.exitCode, 1);
  EXPECT_NE(go.err.find("Quarry Engine Error # 10038 "), std::string::npos) << go.err;
  EXPECT_TRUE(IsExistingFile(dir.File("v.DAT"))) << "keep-going runs the rest";
}

TEST(Shell, DotCommandsAndTheirErrors) {
  TempDir dir;
  dir.Write("inner.sql", "CREATE TABLE fromfile (a INTEGER);\n.tables\n");
  ShellRun r = RunShell(dir.Path(), ".read " + dir.File("inner.sql") + "\n.mode csv\n.headers off\n.help\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("fromfile\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(".import TABLE FILE"), std::string::npos);

  struct Case {
    const char* line;
    const char* error;
  } cases[] = {
      {".mode xml", "Error: usage: .mode tsv|csv|table\n"},
      {".headers maybe", "Error: usage: .headers on|off\n"},
      {".schema", "Error: usage: .schema TABLE\n"},
      {".frobnicate", "Error: unknown command: .frobnicate (.help lists the commands)\n"},
  };
  for (const auto& c : cases) {
    ShellRun e = RunShell(dir.Path(), c.line);
    EXPECT_EQ(e.err, c.error) << c.line;
    EXPECT_EQ(e.exitCode, 1);
  }
  ShellRun missing = RunShell(dir.Path(), ".schema nothere");
  EXPECT_EQ(missing.err.rfind("Quarry Engine Error # ", 0), 0u) << missing.err;
}

TEST(Shell, TablePathsRelativeToTheDirectory) {
  TShellOptions o;
  o.directory = "base";
  TShell shell(o, stdout, stderr);
  EXPECT_EQ(shell.TablePath("songs"), std::string("base") + platform::kPathDelim + "songs");
  EXPECT_EQ(shell.TablePath("C:\\q\\songs.dat"), "C:\\q\\songs.dat");
  EXPECT_EQ(shell.TablePath("/tmp/x"), "/tmp/x");
  // A folder inside the table folder resolves there, not in the working directory.
  EXPECT_EQ(shell.TablePath("sub/x"), std::string("base") + platform::kPathDelim + "sub/x");
}

}  // namespace
}  // namespace quillon::quarry

namespace quillon::quarry {
namespace {

// SQL statements in the shell: results in the current mode without the result table's own
// fields, changes silent, parameters from .param set, and engine errors as one line.
TEST(ShellSql, StatementsRunThroughTheQueryComponent) {
  TempDir dir;
  ShellRun r = RunShell(dir.Path(),
                        "CREATE TABLE songs (song CHAR(40), idx INTEGER, alb INTEGER, PRIMARY KEY (idx));\n"
                        "INSERT INTO songs (song, idx, alb) VALUES ('Help', 1, 1);\n"
                        "INSERT INTO songs (song, idx, alb) VALUES ('Yesterday', 2, 1);\n"
                        "INSERT INTO songs (song, idx, alb) VALUES ('Abba song', 3, 2);\n"
                        ".param set a 1\n"
                        "SELECT song, idx FROM songs WHERE alb = :a ORDER BY song DESC;\n"
                        "UPDATE songs SET alb = 3 WHERE idx = 3;\n"
                        "SELECT alb, COUNT(*), AVG(idx) FROM songs GROUP BY alb;\n"
                        "DELETE FROM songs WHERE idx = 1;\n"
                        "SELECT * FROM songs;\n"
                        "SELECT nothere FROM songs;\n"
                        "SELECT idx FROM songs;\n",
                        true);
  EXPECT_EQ(r.out,
            "song\tidx\nYesterday\t2\nHelp\t1\n"
            "alb\tCount Of *\tAverage Of idx\n1\t2\t1.5\n3\t1\t3\n"
            "song\tidx\talb\nYesterday\t2\t1\nAbba song\t3\t3\n"
            "idx\n2\n3\n");
  EXPECT_EQ(r.err,
            "Quarry Engine Error # 11949 SQL - Invalid column name 'nothere' or table correlation name '' specified "
            "in source columns\n");
  EXPECT_EQ(r.exitCode, 1);
}

// A table folder given without its trailing delimiter serves SQL as it serves the dot commands.
TEST(ShellSql, FolderWithoutTrailingDelimiter) {
  TempDir dir;
  std::string folder = dir.Path();
  ASSERT_FALSE(folder.empty());
  folder.pop_back();
  ShellRun r = RunShell(folder,
                        "CREATE TABLE songs (song CHAR(40), idx INTEGER, PRIMARY KEY (idx));\n"
                        "INSERT INTO songs (song, idx) VALUES ('Help', 1);\n"
                        "SELECT song FROM songs;\n"
                        ".dump songs\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.substr(0, 10), "song\nHelp\n") << r.out;
  EXPECT_TRUE(engine::os::IsExistingFile(dir.Path() + "songs.DAT"));
}

TEST(ShellSql, MemoValuesPrintLikeDump) {
  TempDir dir;
  std::string tsv = dir.Path() + "notes.tsv";
  std::FILE* f = std::fopen(tsv.c_str(), "wb");
  std::fputs("id\ttext\n1\tfirst line\\nsecond\n2\t\n", f);
  std::fclose(f);
  ShellRun r = RunShell(dir.Path(), "CREATE TABLE notes (id INTEGER, text MEMO);\n.import notes " + tsv +
                                        "\nSELECT text, id FROM notes ORDER BY id DESC;\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "text\tid\n\t2\nfirst line\\nsecond\t1\n");
}

// The bar (forced on here, as on a terminal) follows the statement's progress reports and ends
// its line; the rows still go to the output alone.
TEST(ShellSql, ProgressBarFollowsTheStatement) {
  TempDir dir;
  TShellOptions o;
  o.progress = 1;
  ShellRun r = RunShell(dir.Path(),
                        "CREATE TABLE t (n INTEGER);\nINSERT INTO t (n) VALUES (1);\nINSERT INTO t (n) VALUES (2);\n"
                        "SELECT n FROM t;\n",
                        false, o);
  EXPECT_EQ(r.out, "n\n1\n2\n");
  EXPECT_NE(r.err.find("] 100%"), std::string::npos) << r.err;
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.back(), '\n');
}

// Every statement that is not one of the shell's own goes to the SQL layer as written: a leading
// comment is the SQL layer's to skip, and what it refuses it names in its own words.
TEST(ShellSql, StatementsReachTheSqlLayerAsWritten) {
  TempDir dir;
  ASSERT_EQ(
      RunShell(dir.Path(), "CREATE TABLE t (n INTEGER, s CHAR(10));\nINSERT INTO t (n, s) VALUES (1, 'one');\n").err,
      "");
  const std::string sql = "Quarry Engine Error # 11949 SQL - ";
  struct Case {
    const char* statement;
    const char* out;
    std::string err;
  } cases[] = {
      {"/* the numbers */ SELECT n FROM t", "n\n1\n", ""},
      {"SELECT*FROM t", "n\ts\n1\tone\n", ""},
      {"/* a */ /* b */ SELECT n FROM t", "",
       sql + "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found '/'\n"},
      {"(SELECT n FROM t)", "", sql + "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found '('\n"},
      {"SHOW TABLES", "", sql + "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found 'SHOW'\n"},
      {"SELECT n FROM t WHERE s = 'one", "", sql + "Missing single quote after 'one' in SQL statement\n"},
      {"SELECT n FROM \"t WHERE n = 1", "", sql + "Missing double quote after 't WHERE n = 1' in SQL statement\n"},
      {"/* unclosed SELECT n FROM t", "", sql + "Missing ending comment slash and asterisk in SQL statement\n"},
      // The shell's own statements still report their own faults.
      {"CREATE TABLE u (a CHAR(5)) DESCRIPTION 'open", "", "Error: unterminated text\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    ShellRun r = RunShell(dir.Path(), c.statement);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

// Query results show floating numbers with at most 15 significant digits, the shortest text
// that reads back when there is one; a dump keeps the digits that give the bits back.
TEST(ShellSql, FloatResultsShowFifteenDigitsAtMost) {
  TempDir dir;
  ShellRun r = RunShell(dir.Path(),
                        "CREATE TABLE t (n INTEGER, f FLOAT, m MONEY);\n"
                        "INSERT INTO t (n, f, m) VALUES (1, 0.1, 2.5);\n"
                        "SELECT f + 0.2, n / 3, 2 / 3, f, m * 3, 1.0E300 * 10 FROM t;\n"
                        "UPDATE t SET f = f + 0.2;\n"
                        ".dump t\n");
  EXPECT_EQ(r.err, "");
  const std::string shown =
      "Expression\tExpression_1\tExpression_2\tf\tExpression_3\tExpression_4\n"
      "0.3\t0.333333333333333\t0.666666666666667\t0.1\t7.5\t1e+301\n";
  EXPECT_EQ(r.out.substr(0, shown.size()), shown);
  EXPECT_NE(r.out.find("\t0.30000000000000004\t"), std::string::npos) << r.out;
}

TEST(ShellSql, MissingParameterValueIsAnError) {
  TempDir dir;
  ShellRun r = RunShell(dir.Path(),
                        "CREATE TABLE t (n INTEGER);\nSELECT n FROM t WHERE n = :x;\n.param set x 3\n"
                        "INSERT INTO t (n) VALUES (3);\nSELECT n FROM t WHERE n = :x;\n",
                        true);
  EXPECT_EQ(r.out, "n\n3\n");
  EXPECT_EQ(r.err, "Error: no value for parameter :x (see .param set)\n");
}

}  // namespace
}  // namespace quillon::quarry
