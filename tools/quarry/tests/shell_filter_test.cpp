// Filtered dumps and filter plans in the shell, over a small table with indexes on the artist and
// the quantity and the same rows in a table without indexes.
#include <gtest/gtest.h>

#include "tools/quarry/shell.h"
#include "tools/quarry/tests/shell_run.h"
#include "util/testing/temp_dir.h"

namespace quillon::quarry {
namespace {

using ::quillon::testing::TempDir;
using testing::RunShell;
using testing::ShellRun;

// Physical order. The fifth row has no artist.
const char kRows[] =
    "artist\tqty\tactive\n"
    "Abba\t3\ttrue\n"
    "ABBA\t7\tfalse\n"
    "Abbamania\t9\ttrue\n"
    "Abba*\t1\tfalse\n"
    "\t4\ttrue\n"
    "Beatles\t12\tfalse\n";

const char kHeader[] = "artist\tqty\tactive\n";

// "art" with indexes, "plain" without; both hold kRows.
void MakeTables(TempDir& dir) {
  dir.Write("rows.tsv", kRows);
  ShellRun r = RunShell(dir.Path(),
                        "CREATE TABLE art (artist CHAR(20), qty INTEGER, active BOOLEAN, INDEX ByArtist (artist), "
                        "INDEX ByQty (qty));\n"
                        "CREATE TABLE plain (artist CHAR(20), qty INTEGER, active BOOLEAN);\n"
                        ".import art " +
                            dir.File("rows.tsv") + "\n.import plain " + dir.File("rows.tsv") + "\n");
  ASSERT_EQ(r.err, "");
  ASSERT_EQ(r.exitCode, 0);
}

TEST(ShellFilter, DumpsTheRecordsTheFilterPassesWithAndWithoutAnIndex) {
  TempDir dir;
  MakeTables(dir);
  struct Case {
    const char* what;
    const char* arguments;
    const char* rows;
  } cases[] = {
      {"a trailing * is a prefix", "--filter \"artist='Abba*'\"",
       "Abba\t3\tTRUE\nAbbamania\t9\tTRUE\nAbba*\t1\tFALSE\n"},
      {"no partial compare: the * is a character", "--filter \"artist='Abba*'\" --nopartial", "Abba*\t1\tFALSE\n"},
      {"a lone * is the text *", "--filter \"artist='*'\"", ""},
      {"case counts by default", "--filter \"artist='abba'\"", ""},
      {"case ignored", "--nocase --filter \"artist='abba'\"", "Abba\t3\tTRUE\nABBA\t7\tFALSE\n"},
      {"'' stands for NULL", "--filter \"artist=''\"", "\t4\tTRUE\n"},
      {"a Boolean field alone", "--filter active", "Abba\t3\tTRUE\nAbbamania\t9\tTRUE\n\t4\tTRUE\n"},
      {"constant on the left", "--filter \"5 < qty\"", "ABBA\t7\tFALSE\nAbbamania\t9\tTRUE\nBeatles\t12\tFALSE\n"},
      {"AND of an indexed and a record test", "--filter \"artist='Abba*' and not active\"", "Abba*\t1\tFALSE\n"},
      {"OR", "--filter \"qty < 2 or artist = 'Beatles'\"", "Abba*\t1\tFALSE\nBeatles\t12\tFALSE\n"},
  };
  for (const auto& c : cases) {
    for (const char* table : {"art", "plain"}) {
      ShellRun r = RunShell(dir.Path(), std::string(".dump ") + table + " - " + c.arguments);
      EXPECT_EQ(r.err, "") << c.what << " on " << table;
      EXPECT_EQ(r.exitCode, 0) << c.what << " on " << table;
      EXPECT_EQ(r.out, std::string(kHeader) + c.rows) << c.what << " on " << table;
    }
  }
}

TEST(ShellFilter, KeepsTheOrderOfTheGivenIndex) {
  TempDir dir;
  MakeTables(dir);
  ShellRun r = RunShell(dir.Path(), ".dump art ByQty --filter \"artist='Abba*'\"");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(kHeader) + "Abba*\t1\tFALSE\nAbba\t3\tTRUE\nAbbamania\t9\tTRUE\n");
  r = RunShell(dir.Path(), ".mode csv\n.headers off\n.dump art ByArtist --filter \"qty > 8\"");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "Abbamania,9,TRUE\r\nBeatles,12,FALSE\r\n");
}

TEST(ShellFilter, FilterErrorsAreTheParsersMessageOnOneLine) {
  TempDir dir;
  MakeTables(dir);
  struct Case {
    const char* line;
    const char* error;
  } cases[] = {
      {".dump art --filter \"artist='Abba\"", "Error: Unterminated string constant\n"},
      {".dump art --filter \"not not active\"", "Error: Filter expression incorrectly terminated\n"},
      {".dump art --filter qty", "Error: Field 'qty' is not of type Boolean\n"},
      {".dump art --filter \"artist > NULL\"", "Error: NULL only allowed with '=' and '<>'\n"},
      {".filter-plan art \"(qty = 1\"", "Error: ')' expected but nothing found\n"},
      {".dump art --nocase", "Error: usage: .dump TABLE [INDEX|-] [--filter TEXT [--nocase] [--nopartial]]\n"},
      {".filter-plan art", "Error: usage: .filter-plan TABLE TEXT [--nocase] [--nopartial]\n"},
  };
  for (const auto& c : cases) {
    ShellRun r = RunShell(dir.Path(), c.line);
    EXPECT_EQ(r.err, c.error) << c.line;
    EXPECT_EQ(r.out, "") << c.line;
    EXPECT_EQ(r.exitCode, 1) << c.line;
  }
}

TEST(ShellFilter, PlanShowsTheCannedBytesAndTheIndexOfEachComparison) {
  TempDir dir;
  MakeTables(dir);
  // A binary "=" node (12 bytes), the field node of qty (field 2, name at literal 0, 12 bytes), the
  // 4-byte integer constant (type 6, at literal 4, 14 bytes): the literal area starts at 48.
  const std::string bytes =
      "0000 00 00 38 00 ff ff 0a 00 30 00 02 00 00 00 03 00\n"
      "0010 00 00 0c 00 18 00 04 00 00 00 0d 00 00 00 02 00\n"
      "0020 00 00 05 00 00 00 0e 00 00 00 06 00 04 00 04 00\n"
      "0030 71 74 79 00 05 00 00 00\n";
  ShellRun r = RunShell(dir.Path(), ".filter-plan art \"qty = 5\"");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, bytes + "(= qty 5)\tindex ByQty\n");
  r = RunShell(dir.Path(), ".filter-plan plain \"qty = 5\"");
  EXPECT_EQ(r.out, bytes + "(= qty 5)\tno index: every record is tested\n");

  // The case-sensitive artist index serves neither a case-insensitive comparison nor anything
  // under an OR whose other side must read records.
  r = RunShell(dir.Path(), ".filter-plan art \"artist='Abba*' and active\"");
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("\n(= artist 'Abba') first 4 characters\tindex ByArtist\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n(= active 1)\tno index: every record is tested\n"), std::string::npos) << r.out;
  r = RunShell(dir.Path(), ".filter-plan art \"artist='Abba' or active\"");
  EXPECT_NE(r.out.find("\n(= artist 'Abba')\tno index: every record is tested\n"), std::string::npos) << r.out;
  r = RunShell(dir.Path(), ".filter-plan art \"artist='Abba'\" --nocase");
  EXPECT_NE(r.out.find("\n(= artist 'Abba') case ignored\tno index: every record is tested\n"), std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace quillon::quarry
