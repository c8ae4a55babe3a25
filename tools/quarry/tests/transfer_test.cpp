// .import, .dump and .check through the shell: every field type survives a dump and an import,
// bad rows stop the import at their line with the rows before kept, the dump follows the index
// asked for, and .check reports damage with exit status 1.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "tools/basegen/synth.h"
#include "tools/quarry/shell.h"
#include "tools/quarry/tests/base_schemas.h"
#include "tools/quarry/tests/shell_run.h"
#include "util/files.h"
#include "util/testing/temp_dir.h"
#include "util/text.h"

namespace quillon::quarry {
namespace {

using ::quillon::testing::TempDir;
using testing::RunShell;
using testing::ShellRun;

const char kEveryType[] =
    "CREATE TABLE every (\n"
    "  id AUTOINC,\n"
    "  s CHAR(12),\n"
    "  d DATE,\n"
    "  t TIME,\n"
    "  ts TIMESTAMP,\n"
    "  b BOOLEAN,\n"
    "  i16 SMALLINT,\n"
    "  i32 INTEGER,\n"
    "  w WORD,\n"
    "  lw LARGEWORD,\n"
    "  f FLOAT,\n"
    "  m MONEY,\n"
    "  n BCD(3),\n"
    "  n0 BCD(0),\n"
    "  x EXTENDED,\n"
    "  by BYTES(3),\n"
    "  vb VARBYTES(2),\n"
    "  memo MEMO,\n"
    "  pic GRAPHIC,\n"
    "  PRIMARY KEY (id)\n"
    ")";

// The dump of every row is the import file itself: the shell writes what it reads.
const char kEveryRows[] =
    "id\ts\td\tt\tts\tb\ti16\ti32\tw\tlw\tf\tm\tn\tn0\tx\tby\tvb\tmemo\tpic\n"
    "1\tO'Neil\\tx\\\\y\t2026-12-10\t13:05:09\t2001-02-03 04:05:06\tTRUE\t-32768\t-2147483648\t65535\t4294967295\t"
    "0.1\t12.5\t-0.500\t7\t-2.5\t00ab10\tff00\tline 1\\r\\nline\\t2 \\\\ end\t474946\n"
    "2\t\t0001-01-01\t00:00:01.007\t9999-12-31 23:59:59.999\tFALSE\t0\t2147483647\t0\t0\t"
    "1e+300\t-0.01\t123456789.123\t-42\t1e-10\t000000\t0000\t\t00\n"
    "3\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\n";

TEST(Transfer, EveryTypeSurvivesDumpAndImport) {
  TempDir dir;
  dir.Write("rows.tsv", kEveryRows);
  ShellRun r =
      RunShell(dir.Path(), std::string(kEveryType) + ";\n.import every " + dir.File("rows.tsv") + "\n.dump every\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kEveryRows);

  // The dump imported into a second table gives equal records, byte for byte.
  dir.Write("dump.tsv", r.out);
  std::string second = kEveryType;
  second.replace(second.find("every"), 5, "again");
  r = RunShell(dir.Path(), second + ";\n.import again " + dir.File("dump.tsv") + "\n");
  EXPECT_EQ(r.err, "");
  std::string a = dir.Read("every.DAT"), b = dir.Read("again.DAT");
  ASSERT_EQ(a.size(), b.size());
  const std::size_t fields = 19, recordsAt = 127 + 768 * fields;
  EXPECT_TRUE(std::equal(a.begin() + recordsAt, a.end(), b.begin() + recordsAt));
  EXPECT_EQ(dir.Read("every.BLB").substr(512), dir.Read("again.BLB").substr(512));
}

TEST(Transfer, OutputModesAndHeaders) {
  TempDir dir;
  dir.Write("rows.tsv", "s\tmemo\nsay \"hi\", folks\ta\\nb\n");
  const std::string setup = "CREATE TABLE m (s CHAR(20), memo MEMO);\n.import m " + dir.File("rows.tsv") + "\n";
  TShellOptions csv;
  csv.mode = TOutputMode::Csv;
  EXPECT_EQ(RunShell(dir.Path(), setup + ".dump m\n", false, csv).out,
            "s,memo\r\n\"say \"\"hi\"\", folks\",\"a\nb\"\r\n");
  TShellOptions table;
  table.mode = TOutputMode::Table;
  table.headers = false;
  EXPECT_EQ(RunShell(dir.Path(), ".dump m\n", false, table).out,
            "+-----------------+------+\n| say \"hi\", folks | a\\nb |\n+-----------------+------+\n");
}

const char kAlbums[] =
    "CREATE TABLE AlbumList (\n"
    "  index AUTOINC,\n"
    "  album CHAR(40),\n"
    "  artist CHAR(40),\n"
    "  beginID INTEGER,\n"
    "  PRIMARY KEY (index),\n"
    "  INDEX ByArtist (artist)\n"
    ");\n";

// Also: a byte order mark before the header, CR LF line ends, no line end after the last row.
TEST(Transfer, ColumnsByNameInAnyOrderAndCase) {
  TempDir dir;
  dir.Write("a.tsv",
            "\xEF\xBB\xBF"
            "ARTIST\tAlbum\r\nZed\tLast\r\nAbba\tFirst");
  ShellRun r =
      RunShell(dir.Path(), std::string(kAlbums) + ".import AlbumList " + dir.File("a.tsv") + "\n.dump AlbumList\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "index\talbum\tartist\tbeginID\n1\tLast\tZed\t\n2\tFirst\tAbba\t\n");
}

TEST(Transfer, DumpInIndexOrderAndPhysicalOrder) {
  TempDir dir;
  dir.Write("a.tsv", "index\talbum\tartist\n5\tE\tMiddle\n6\tF\tZulu\n9\tI\tAlpha\n");
  ShellRun r = RunShell(dir.Path(), std::string(kAlbums) + ".import AlbumList " + dir.File("a.tsv") +
                                        "\n.headers off\n.dump AlbumList ByArtist\n.dump AlbumList -\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "9\tI\tAlpha\t\n5\tE\tMiddle\t\n6\tF\tZulu\t\n"
            "5\tE\tMiddle\t\n6\tF\tZulu\t\n9\tI\tAlpha\t\n");
  // Given identifiers with gaps are kept; the next one continues after the highest.
  dir.Write("b.tsv", "album\nJ\n");
  r = RunShell(dir.Path(), ".import AlbumList " + dir.File("b.tsv") + "\n.headers off\n.dump AlbumList\n");
  EXPECT_EQ(r.out, "5\tE\tMiddle\t\n6\tF\tZulu\t\n9\tI\tAlpha\t\n10\tJ\t\t\n");
  r = RunShell(dir.Path(), ".dump AlbumList NoSuchIndex\n");
  EXPECT_EQ(r.err.rfind("Quarry Engine Error # 10022 ", 0), 0u) << r.err;
  EXPECT_EQ(r.exitCode, 1);
}

TEST(Transfer, ABadRowStopsAtItsLineAndTheRowsBeforeStay) {
  struct Case {
    const char* file;
    const char* error;  // after "<file>:"
    const char* kept;   // the dump afterwards
  } cases[] = {
      {"album\tartist\nA\tx\nB\n", "3: 1 fields, the header names 2\n", "1\tA\tx\t\n"},
      {"album\tbeginID\nA\t1\nB\tten\n", "3: beginID: not a 32-bit integer: \"ten\"\n", "1\tA\t\t1\n"},
      {"album\tbeginID\nA\t1\nB\t1\tx\n", "3: 3 fields, the header names 2\n", "1\tA\t\t1\n"},
      {"index\talbum\n1\tA\n1\tB\n", "3: row identifier 1 is below the next one the table hands out (2)\n",
       "1\tA\t\t\n"},
      {"album\nA\nThis album title is longer than forty characters\n",
       "3: album: text of 48 characters, the field holds 40: \"This album title is longer than forty...\"\n",
       "1\tA\t\t\n"},
      {"album\tgenre\nA\tpop\n", "1: no field genre in the table\n", ""},
      {"album\tALBUM\nA\tB\n", "1: field ALBUM named twice\n", ""},
      {"", "1: no header row\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    dir.Write("a.tsv", c.file);
    const std::string file = dir.File("a.tsv");
    ShellRun r = RunShell(dir.Path(), std::string(kAlbums) + ".import AlbumList " + file + "\n.tables\n");
    EXPECT_EQ(r.err, file + ":" + c.error);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "") << "the error stops the input";
    r = RunShell(dir.Path(), ".headers off\n.dump AlbumList\n.check AlbumList\n");
    EXPECT_EQ(r.out, std::string(c.kept) + "ok\n");
  }
}

TEST(Transfer, EngineErrorsOfARowNameTheLine) {
  TempDir dir;
  dir.Write("a.tsv", "id\tname\n1\tone\n2\ttwo\n1\tagain\n");
  ShellRun r = RunShell(dir.Path(), "CREATE TABLE k (id INTEGER, name CHAR(10), PRIMARY KEY (id));\n.import k " +
                                        dir.File("a.tsv") + "\n");
  EXPECT_EQ(r.err.rfind(dir.File("a.tsv") + ":4: Quarry Engine Error # 9729 ", 0), 0u) << r.err;
  EXPECT_EQ(r.exitCode, 1);
  r = RunShell(dir.Path(), ".headers off\n.dump k\n.check k\n");
  EXPECT_EQ(r.out, "1\tone\n2\ttwo\nok\n");
  // Missing files and tables.
  r = RunShell(dir.Path(), ".import k " + dir.File("none.tsv") + "\n");
  EXPECT_EQ(r.err, "Error: cannot read " + dir.File("none.tsv") + "\n");
  r = RunShell(dir.Path(), ".import nothere " + dir.File("a.tsv") + "\n");
  EXPECT_EQ(r.err, "Error: no such table: nothere\n");
}

TEST(Transfer, ATableOpenElsewhereIsImportedShared) {
  TempDir dir;
  dir.Write("a.tsv", "album\tartist\nA\tx\nB\ty\n");
  ASSERT_EQ(RunShell(dir.Path(), kAlbums).err, "");
  engine::TDataFile other;
  other.SetFileName(dir.File("AlbumList"));
  other.Open();  // shared: the import cannot have the table to itself
  engine::TDataFile probe;
  probe.SetFileName(dir.File("AlbumList"));
  probe.SetExclusive(true);
  EXPECT_THROW(probe.Open(), engine::EEngineError);
  ShellRun r = RunShell(dir.Path(), ".import AlbumList " + dir.File("a.tsv") + "\n.check AlbumList\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "ok\n");
  other.Refresh();
  EXPECT_EQ(other.RecordCount(), 2u) << "every row was written back for the other cursor";
  other.Close();
  r = RunShell(dir.Path(), ".headers off\n.dump AlbumList\n");
  EXPECT_EQ(r.out, "1\tA\tx\t\n2\tB\ty\t\n");
}

TEST(Transfer, ProgressBarOnlyOnATerminalOrWhenAskedFor) {
  TempDir dir;
  dir.Write("a.tsv", "album\nA\nB\n");
  const std::string script = std::string(kAlbums) + ".import AlbumList " + dir.File("a.tsv") + "\n";
  ShellRun quiet = RunShell(dir.Path(), script);
  EXPECT_EQ(quiet.err, "") << "the error stream of the test is a file, not a terminal";
  TShellOptions o;
  o.progress = 1;
  TempDir other;
  ShellRun shown = RunShell(other.Path(), script, false, o);
  EXPECT_NE(shown.err.find("] 100% 2 rows\n"), std::string::npos) << shown.err;
  // A failing row ends the bar's line before its message.
  std::string rows = "album\n";
  for (int i = 0; i < 3000; ++i) rows += "album " + std::to_string(i) + "\n";
  dir.Write("b.tsv", rows + "this title is far too long for the album field of forty\n");
  ShellRun failed = RunShell(other.Path(), ".import AlbumList " + dir.File("b.tsv") + "\n", false, o);
  EXPECT_NE(failed.err.find(" rows\n" + dir.File("b.tsv") + ":3002: album: text of 55 characters"), std::string::npos)
      << failed.err;
}

TEST(Transfer, CheckReportsDamageWithExitStatus1) {
  TempDir dir;
  std::string rows = "album\tartist\n";
  for (int i = 0; i < 50; ++i) rows += "album " + std::to_string(i) + "\tartist " + std::to_string(i % 7) + "\n";
  dir.Write("a.tsv", rows);
  ShellRun r =
      RunShell(dir.Path(), std::string(kAlbums) + ".import AlbumList " + dir.File("a.tsv") + "\n.check AlbumList\n");
  EXPECT_EQ(r.out, "ok\n");
  EXPECT_EQ(r.exitCode, 0);
  // Record 3's album gets a null byte no writer makes.
  std::string dat = dir.Read("AlbumList.DAT");
  const std::size_t record3 = 127 + 768 * 4 + 2 * (9 + 42 + 42 + 5);
  dat[record3 + 9] = 3;
  dir.Write("AlbumList.DAT", dat);
  r = RunShell(dir.Path(), ".check AlbumList\n");
  EXPECT_EQ(r.out, "record 3: field album has null byte 3\n");
  EXPECT_EQ(r.err, "Error: AlbumList: 1 fault\n");
  EXPECT_EQ(r.exitCode, 1);
}

std::string Schema(const char* schema, const std::string& table) {
  std::string s = schema;
  for (size_t at; (at = s.find("@TABLE@")) != std::string::npos;) s.replace(at, 7, table);
  return s;
}

// A synthetic base in the shapes of the program's album and song tables goes in and comes out
// unchanged, and both tables check "ok" (this is also the Windows build's test of the shell).
TEST(Transfer, SyntheticBaseImportsDumpsAndChecks) {
  TempDir dir;
  basegen::SynthOptions options;
#ifdef _WIN32
  options.songs = 20000;  // optimised build under Wine
#else
  options.songs = 5000;  // sanitizers
#endif
  options.albums = options.songs / 12;
  options.artists = options.albums / 4;
  basegen::WriteBase(basegen::Synthesize(options), "Bench", dir.Path());
  ShellRun r = RunShell(dir.Path(), Schema(kAlbumsSchema, "AlbumList.dat") + Schema(kSongsSchema, "songlist.dat") +
                                        ".import AlbumList.dat " + dir.File("albums.tsv") + "\n.import songlist.dat " +
                                        dir.File("songs.tsv") + "\n.check AlbumList.dat\n.check songlist.dat\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "ok\nok\n");
  EXPECT_EQ(r.exitCode, 0);
  for (const char* table : {"AlbumList", "songlist"}) {
    SCOPED_TRACE(table);
    r = RunShell(dir.Path(), std::string(".dump ") + table + " -\n");
    // The dump is the import file with the auto-increment "index" in front: 1, 2, 3, ...
    std::vector<std::string> lines =
        SplitLines(dir.Read(table == std::string("AlbumList") ? "albums.tsv" : "songs.tsv"));
    std::string expected = "index\t" + lines[0] + "\n";
    for (size_t i = 1; i < lines.size(); ++i) expected += std::to_string(i) + "\t" + lines[i] + "\n";
    EXPECT_EQ(r.out.size(), expected.size());
    EXPECT_TRUE(r.out == expected) << "the dump differs from the import file";
  }
}

}  // namespace
}  // namespace quillon::quarry
