// The shell's table statements and imports where they used to lose data or mislead: CREATE TABLE
// over an existing table, DROP TABLE of a table another process has open, table names with a
// folder, BCD scales no value fits, and import messages quoting control characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "engine/tests/peer_process.h"
#include "tools/quarry/tests/shell_run.h"
#include "util/testing/temp_dir.h"

namespace quillon::quarry {
namespace {

using ::quillon::testing::TempDir;
using testing::RunShell;
using testing::ShellRun;

constexpr char kCreate[] = "CREATE TABLE t (id INTEGER, name CHAR(10), PRIMARY KEY (id));\n";
constexpr char kRows[] = "id\tname\n1\tone\n2\ttwo\n3\tthree\n";

int DumpedRows(const std::string& dir, const std::string& table) {
  ShellRun r = RunShell(dir, ".headers off\n.dump " + table + "\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return static_cast<int>(std::count(r.out.begin(), r.out.end(), '\n'));
}

TEST(ShellFaults, CreateTableOverAnExistingTableIsRefused) {
  TempDir dir;
  dir.Write("rows.tsv", kRows);
  ASSERT_EQ(RunShell(dir.Path(), std::string(kCreate) + ".import t " + dir.File("rows.tsv") + "\n").exitCode, 0);
  ShellRun again = RunShell(dir.Path(), kCreate);
  EXPECT_NE(again.exitCode, 0);
  EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
  EXPECT_EQ(DumpedRows(dir.Path(), "t"), 3);
  // With IF NOT EXISTS nothing happens, also when the definition differs.
  ShellRun kept = RunShell(dir.Path(), "CREATE TABLE IF NOT EXISTS t (other INTEGER);\n");
  EXPECT_EQ(kept.exitCode, 0) << kept.err;
  EXPECT_EQ(DumpedRows(dir.Path(), "t"), 3);
  // A new table with IF NOT EXISTS is created; a table called IF still can be.
  EXPECT_EQ(
      RunShell(dir.Path(), "CREATE TABLE IF NOT EXISTS u (id INTEGER);\nCREATE TABLE if (id INTEGER);\n").exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("u.DAT")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("if.DAT")));
  // An explicit DROP TABLE first replaces it.
  ShellRun replaced = RunShell(dir.Path(), std::string("DROP TABLE t;\n") + kCreate);
  EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
  EXPECT_EQ(DumpedRows(dir.Path(), "t"), 0);
}

TEST(ShellFaults, DropTableRefusesATableAnotherProcessHasOpen) {
  TempDir dir;
  dir.Write("rows.tsv", kRows);
  ASSERT_EQ(RunShell(dir.Path(), std::string(kCreate) + ".import t " + dir.File("rows.tsv") + "\n").exitCode, 0);
  const std::string ready = dir.File("ready"), release = dir.File("release");
  engine::testing::TPeerProcess holder("table_holder", {dir.File("t"), ready, release});
  ASSERT_TRUE(holder.Started());
  for (int i = 0; i < 3000 && !std::filesystem::exists(ready) && holder.Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(std::filesystem::exists(ready)) << "the holder did not open the table";
  ShellRun refused = RunShell(dir.Path(), "DROP TABLE t;\n");
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_NE(refused.err.find("Quarry Engine Error #"), std::string::npos) << refused.err;
  EXPECT_TRUE(std::filesystem::exists(dir.File("t.DAT")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("t.IDX")));
  dir.Write("release", "");
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(DumpedRows(dir.Path(), "t"), 3);
  ShellRun dropped = RunShell(dir.Path(), "DROP TABLE t;\n");
  EXPECT_EQ(dropped.exitCode, 0) << dropped.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.DAT")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.IDX")));
}

TEST(ShellFaults, TableNamesWithAFolderResolveInTheTableFolder) {
  TempDir dir, elsewhere;
  dir.MakeDir("sub");
  elsewhere.MakeDir("sub");
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.Path());
  ShellRun r = RunShell(dir.Path(), "CREATE TABLE \"sub/t\" (id INTEGER);\n");
  std::filesystem::current_path(saved);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir.File("sub/t.DAT")));
  EXPECT_FALSE(std::filesystem::exists(elsewhere.File("sub/t.DAT")));
}

TEST(ShellFaults, BcdScaleIsLimitedToWhatAValueHolds) {
  TempDir dir;
  struct TCase {
    int Scale;
    bool Accepted;
  } cases[] = {{0, true}, {9, true}, {10, false}, {99, false}};
  for (const TCase& c : cases) {
    const std::string name = "b" + std::to_string(c.Scale);
    ShellRun r = RunShell(dir.Path(), "CREATE TABLE " + name + " (v BCD(" + std::to_string(c.Scale) + "));\n");
    EXPECT_EQ(r.exitCode == 0, c.Accepted) << c.Scale << ": " << r.err;
    EXPECT_EQ(std::filesystem::exists(dir.File(name + ".DAT")), c.Accepted) << c.Scale;
  }
  // The engine refuses such a field whoever asks.
  engine::InitializeEngine();
  engine::TTableDefinition d;
  engine::TFieldDescriptor f;
  f.FieldName = "v";
  f.FieldType = static_cast<std::uint8_t>(engine::TFieldType::Bcd);
  f.Decimals = 10;
  d.Fields = {f};
  d.AllowEmptyPrimary = true;
  engine::TDataFile table;
  table.SetFileName(dir.File("direct"));
  table.SetExclusive(true);
  try {
    table.CreateTable(d);
    ADD_FAILURE() << "BCD scale 10 accepted";
  } catch (const engine::EEngineError& e) {
    EXPECT_EQ(e.Code(), engine::err::kInvalidFieldDefinition);
  }
}

TEST(ShellFaults, ImportMessagesStayOnePrintableLine) {
  TempDir dir;
  ASSERT_EQ(RunShell(dir.Path(), kCreate).exitCode, 0);
  struct TCase {
    const char* What;
    std::string File;
    const char* Expected;  // a part of the message
  };
  const TCase cases[] = {
      {"NUL inside a number", std::string("id\tname\n1\tone\n2\0x\ttwo\n", 21), "2\\0x"},
      {"CR-only line ends", "id\tname\r1\tone\r2\ttwo\r", "\\r"},
      {"control character in a header name", "id\tna\x01me\n", "na\\x01me"},
  };
  for (const TCase& c : cases) {
    dir.Write("bad.tsv", c.File);
    ShellRun r = RunShell(dir.Path(), ".import t " + dir.File("bad.tsv") + "\n");
    EXPECT_NE(r.exitCode, 0) << c.What;
    EXPECT_NE(r.err.find(c.Expected), std::string::npos) << c.What << ": " << r.err;
    ASSERT_FALSE(r.err.empty()) << c.What;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.What << ": " << r.err;
    EXPECT_TRUE(std::none_of(r.err.begin(), r.err.end() - 1, [](char ch) {
      return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F;
    })) << c.What;
  }
  EXPECT_EQ(DumpedRows(dir.Path(), "t"), 1);  // the first file's row before the bad one
}

TEST(ShellFaults, RepairKeepsWholeRecordsAndEmptiesBrokenMemos) {
  TempDir dir;
  std::string rows = "id\tname\tnote\n";
  for (int i = 1; i <= 60; ++i) {
    rows += std::to_string(i) + "\tn" + std::to_string(i) + "\t" +
            std::string(static_cast<std::size_t>(300 + i), 'a' + i % 26) + "\n";
  }
  dir.Write("rows.tsv", rows);
  ASSERT_EQ(RunShell(dir.Path(),
                     "CREATE TABLE m (id INTEGER, name CHAR(10), note MEMO, PRIMARY KEY (id), INDEX byname "
                     "(name)) BLOCKSIZE 512;\n.import m " +
                         dir.File("rows.tsv") + "\n")
                .exitCode,
            0);
  ASSERT_EQ(RunShell(dir.Path(), ".check m\n").out, "ok\n");
  // The last values' chains run past the end of a cut BLOB file.
  std::string blob = dir.Read("m.BLB");
  dir.Write("m.BLB", blob.substr(0, blob.size() / 2));
  EXPECT_NE(RunShell(dir.Path(), ".check m\n").exitCode, 0);
  ShellRun repaired = RunShell(dir.Path(), ".repair m\n");
  EXPECT_EQ(repaired.exitCode, 0) << repaired.err;
  EXPECT_NE(repaired.out.find("kept 60 records"), std::string::npos) << repaired.out;
  EXPECT_NE(repaired.out.find("was emptied (broken BLOB chain)"), std::string::npos) << repaired.out;
  ShellRun check = RunShell(dir.Path(), ".check m\n");
  EXPECT_EQ(check.out, "ok\n") << check.err;
  EXPECT_EQ(DumpedRows(dir.Path(), "m"), 60);
  // Values whose chains were whole are still there, byte for byte.
  ShellRun dump = RunShell(dir.Path(), ".headers off\n.dump m\n");
  EXPECT_NE(dump.out.find("1\tn1\t" + std::string(301, 'b') + "\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir.File("m.BLB.bak1")));
  EXPECT_EQ(dir.Read("m.BLB.bak1"), blob.substr(0, blob.size() / 2));

  // Without its index file the table is rebuilt from the data file; a second repair keeps the
  // first one's backups.
  std::filesystem::remove(dir.File("m.IDX"));
  ShellRun rebuilt = RunShell(dir.Path(), ".repair m\n");
  EXPECT_EQ(rebuilt.exitCode, 0) << rebuilt.err;
  EXPECT_NE(rebuilt.out.find("kept 60 records"), std::string::npos) << rebuilt.out;
  EXPECT_NE(rebuilt.out.find(".bak2"), std::string::npos) << rebuilt.out;
  EXPECT_EQ(RunShell(dir.Path(), ".check m\n").out, "ok\n");
  EXPECT_EQ(DumpedRows(dir.Path(), "m"), 60);
  EXPECT_EQ(dir.Read("m.BLB.bak1"), blob.substr(0, blob.size() / 2));
}

// A repair that would keep fewer than half of the records leaves the table alone unless the
// loss is accepted.
TEST(ShellFaults, RepairWithHeavyLossNeedsToBeAccepted) {
  TempDir dir;
  std::string rows = "id\tname\n";
  for (int i = 1; i <= 40; ++i) rows += std::to_string(i) + "\tn" + std::to_string(i) + "\n";
  dir.Write("rows.tsv", rows);
  ASSERT_EQ(RunShell(dir.Path(), "CREATE TABLE h (id INTEGER, name CHAR(10), PRIMARY KEY (id));\n.import h " +
                                     dir.File("rows.tsv") + "\n")
                .exitCode,
            0);
  // 30 of the 40 records get a Deleted byte no writer produces.
  std::string data = dir.Read("h.DAT");
  auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1])
                                                                               << 8);
  };
  const std::size_t recordSize = u16(21), start = 127 + 768 * u16(23);
  ASSERT_EQ(data.size(), start + 40 * recordSize);
  for (std::size_t r = 0; r < 30; ++r) data[start + r * recordSize] = 7;
  dir.Write("h.DAT", data);
  ShellRun refused = RunShell(dir.Path(), ".repair h\n");
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_NE(refused.err.find("only 10 of 40 records"), std::string::npos) << refused.err;
  EXPECT_EQ(dir.Read("h.DAT"), data);
  ShellRun accepted = RunShell(dir.Path(), ".repair h --accept-loss\n");
  EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
  EXPECT_NE(accepted.out.find("30 of 40 records could not be kept"), std::string::npos) << accepted.out;
  EXPECT_EQ(DumpedRows(dir.Path(), "h"), 10);
  EXPECT_EQ(dir.Read("h.DAT.bak1"), data);
}

}  // namespace
}  // namespace quillon::quarry
