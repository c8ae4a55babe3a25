// Opening tables in the shell: file names in other letter case, and encrypted tables.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/file_session.h"
#include "tools/quarry/shell.h"
#include "tools/quarry/tests/shell_run.h"
#include "util/testing/temp_dir.h"

namespace quillon::quarry {
namespace {

using ::quillon::testing::TempDir;
using testing::RunShell;
using testing::ShellRun;

TEST(ShellOpen, TablesWithLowerCaseExtensionsOpen) {
  TempDir dir;
  dir.Write("rows.tsv", "song\tn\nAmazing Grace\t1\nShenandoah\t2\n");
  ShellRun r = RunShell(dir.Path(), "CREATE TABLE lyrics (song CHAR(30), n INTEGER, INDEX ByN (n));\n.import lyrics " +
                                        dir.File("rows.tsv") + "\n");
  ASSERT_EQ(r.err, "");
  std::filesystem::rename(dir.File("lyrics.DAT"), dir.File("lyrics.dat"));
  std::filesystem::rename(dir.File("lyrics.IDX"), dir.File("lyrics.idx"));
  r = RunShell(dir.Path(), ".check lyrics\n.dump lyrics ByN\n.check lyrics.DAT\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "ok\nsong\tn\nAmazing Grace\t1\nShenandoah\t2\nok\n");
  r = RunShell(dir.Path(), ".check lyric\n");
  EXPECT_EQ(r.err, "Error: no such table: lyric\n");
}

TEST(ShellOpen, EncryptedTableNeedsItsPassword) {
  engine::InitializeEngine();
  engine::Session().RemoveAllPasswords();
  TempDir dir;
  dir.Write("rows.tsv", "a\nsecret words\n");
  ShellRun r = RunShell(dir.Path(),
                        "CREATE TABLE locked (a CHAR(20)) PASSWORD 'Sesame';\n.password add Sesame\n.import locked " +
                            dir.File("rows.tsv") + "\n.password clear\n");
  ASSERT_EQ(r.err, "");

  ShellRun without = RunShell(dir.Path(), ".dump locked\n");
  EXPECT_EQ(without.exitCode, 1);
  EXPECT_EQ(without.out, "");
  EXPECT_EQ(without.err.rfind("Quarry Engine Error # 10498 ", 0), 0u) << without.err;

  ShellRun wrongCase = RunShell(dir.Path(), ".password add sesame\n.dump locked\n.password clear\n");
  EXPECT_EQ(wrongCase.exitCode, 1) << "passwords are case-sensitive";

  TShellOptions o;
  o.passwords = {"other", "Sesame"};
  ShellRun option = RunShell(dir.Path(), ".dump locked\n.password clear\n", false, o);
  EXPECT_EQ(option.err, "");
  EXPECT_EQ(option.out, "a\nsecret words\n");

  ShellRun command =
      RunShell(dir.Path(), ".password add Sesame\n.dump locked\n.password remove Sesame\n.dump locked\n", true);
  EXPECT_EQ(command.out, "a\nsecret words\n");
  EXPECT_EQ(command.err.rfind("Quarry Engine Error # 10498 ", 0), 0u) << "removed again: " << command.err;

  ShellRun usage = RunShell(dir.Path(), ".password add\n");
  EXPECT_EQ(usage.err, "Error: usage: .password add TEXT | remove TEXT | clear\n");
}

}  // namespace
}  // namespace quillon::quarry
