// The shell's word index commands on a lyric table: check, rebuild and search.
#include <gtest/gtest.h>

#include "tools/quarry/tests/shell_run.h"
#include "util/testing/temp_dir.h"

namespace quillon::quarry {
namespace {

using ::quillon::testing::TempDir;
using testing::RunShell;
using testing::ShellRun;

const char kLyricTable[] =
    "CREATE TABLE \"lyrics.dat\" (id AUTOINC, songname CHAR(50), lyrics MEMO, songindex INTEGER, songdb CHAR(40),"
    " PRIMARY KEY (id), INDEX BySong (songindex, songdb));\n";

// A lyric table with two rows in dir.
bool MakeLyricTable(const TempDir& dir) {
  dir.Write("rows.tsv",
            "songname\tlyrics\tsongindex\tsongdb\n"
            "Blue River\tAnd the river runs blue\t1\tdefault\n"
            "Night\tDark is the night\t2\tlyricvault\n");
  return RunShell(dir.Path(), std::string(kLyricTable) + ".import lyrics.dat " + dir.File("rows.tsv") + "\n")
             .exitCode == 0;
}

TEST(ShellLyrics, CheckReportsAMissingIndexRebuildMakesItAndSearchUsesIt) {
  TempDir dir;
  ASSERT_TRUE(MakeLyricTable(dir));
  ShellRun check = RunShell(dir.Path(), ".lyric-index check\n");
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.out.find("The index is missing."), std::string::npos) << check.out;
  EXPECT_NE(check.err.find("differences from the lyric table"), std::string::npos) << check.err;

  ShellRun rebuild = RunShell(dir.Path(), ".lyric-index rebuild\n.lyric-index check\n");
  EXPECT_EQ(rebuild.exitCode, 0) << rebuild.err;
  EXPECT_EQ(rebuild.out, "lyric index rebuilt\nok\n");

  ShellRun search = RunShell(dir.Path(), ".lyric-search \"river runs\" -night\n");
  EXPECT_EQ(search.exitCode, 0) << search.err;
  EXPECT_NE(search.out.find("\tBlue River\tdefault\t1\tAnd the [river] [runs] blue\n"), std::string::npos)
      << search.out;
  EXPECT_EQ(search.out.find("Night"), std::string::npos);
}

TEST(ShellLyrics, ARowWrittenPastTheIndexMakesItStaleAndSearchRebuildsIt) {
  TempDir dir;
  ASSERT_TRUE(MakeLyricTable(dir));
  ASSERT_EQ(RunShell(dir.Path(), ".lyric-index rebuild\n").exitCode, 0);
  dir.Write("more.tsv", "songname\tlyrics\tsongindex\tsongdb\nThird\tgone away\t3\tdefault\n");
  ShellRun r = RunShell(dir.Path(), ".import lyrics.dat " + dir.File("more.tsv") + "\n.lyric-index check\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("The index is older than the lyric table."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Word \"gone\" is missing."), std::string::npos) << r.out;
  // A search never answers from the stale index.
  ShellRun search = RunShell(dir.Path(), ".lyric-search gone\n.lyric-index check\n");
  EXPECT_EQ(search.exitCode, 0) << search.err;
  EXPECT_NE(search.out.find("\tThird\tdefault\t3\t[gone] away\n"), std::string::npos) << search.out;
  EXPECT_NE(search.out.find("ok\n"), std::string::npos);
}

TEST(ShellLyrics, WrongUsesAreRefusedWithAMessage) {
  TempDir dir;
  EXPECT_NE(RunShell(dir.Path(), ".lyric-index check\n").err.find("no such table: lyrics.dat"), std::string::npos);
  ASSERT_TRUE(MakeLyricTable(dir));
  EXPECT_NE(RunShell(dir.Path(), ".lyric-index tidy\n").err.find("usage: .lyric-index"), std::string::npos);
  ShellRun r = RunShell(dir.Path(), ".lyric-search -river\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Please input words to search for."), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quillon::quarry
