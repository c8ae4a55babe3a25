// Imports killed with SIGKILL (TerminateProcess on Windows) at random moments, in real processes:
// afterwards the table is either sound or made sound by .repair, and it holds exactly the rows
// of a prefix of the imports that includes every row committed before (an earlier closed import
// and, for an Exclusive import, its checkpoints).
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <sstream>
#include <thread>

#include "engine/tests/peer_process.h"
#include "tools/quarry/tests/shell_run.h"
#include "util/testing/temp_dir.h"

namespace quillon::quarry {
namespace {

using ::quillon::testing::TempDir;
using testing::RunShell;
using testing::ShellRun;

constexpr int kCommitted = 3000;
constexpr int kImported = 60000;

std::string Rows(int from, int to) {
  std::string s = "id\tname\n";
  for (int i = from; i <= to; ++i) s += std::to_string(i) + "\tname " + std::to_string((i * 7919) % 100003) + "\n";
  return s;
}

// The folder as a program argument: without its trailing delimiter, which a Windows command line
// would read as escaping the closing quote.
std::string FolderArgument(const TempDir& dir) {
  std::string path = dir.Path();
  path.pop_back();
  return path;
}

std::vector<int> DumpedIds(const std::string& dir) {
  ShellRun r = RunShell(dir, ".headers off\n.dump k\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<int> ids;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) ids.push_back(std::stoi(line.substr(0, line.find('\t'))));
  return ids;
}

// Kills an import of rows kCommitted+1.. after `delayMs`, with another process holding the table
// open when `shared`, then checks, repairs when needed, and compares the rows.
void KillImport(unsigned seed, bool shared) {
  TempDir dir;
  dir.Write("first.tsv", Rows(1, kCommitted));
  dir.Write("big.tsv", Rows(kCommitted + 1, kImported));
  ASSERT_EQ(RunShell(dir.Path(),
                     "CREATE TABLE k (id INTEGER, name CHAR(16), PRIMARY KEY (id), INDEX byname (name));\n"
                     ".import k " +
                         dir.File("first.tsv") + "\n")
                .exitCode,
            0);
  std::unique_ptr<engine::testing::TPeerProcess> holder;
  if (shared) {
    holder = std::make_unique<engine::testing::TPeerProcess>(
        "table_holder", std::vector<std::string>{dir.File("k"), dir.File("ready"), dir.File("release")});
    for (int i = 0; i < 3000 && !std::filesystem::exists(dir.File("ready")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(std::filesystem::exists(dir.File("ready")));
  }
  std::mt19937 random(seed);
  const int delayMs = std::uniform_int_distribution<int>(200, shared ? 3000 : 6000)(random);
  {
    engine::testing::TPeerProcess import("../quarry", {FolderArgument(dir), "-c", ".import k " + dir.File("big.tsv")});
    ASSERT_TRUE(import.Started());
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    import.Kill();
  }
  if (holder) {
    dir.Write("release", "");
    EXPECT_EQ(holder->Wait(), 0);
  }
  const std::string what = std::string(shared ? "shared" : "exclusive") + " import, seed " + std::to_string(seed) +
                           ", killed after " + std::to_string(delayMs) + " ms";
  ShellRun check = RunShell(dir.Path(), ".check k\n");
  if (check.exitCode != 0) {
    ShellRun repair = RunShell(dir.Path(), ".repair k\n");
    ASSERT_EQ(repair.exitCode, 0) << what << ": " << repair.err;
    ShellRun again = RunShell(dir.Path(), ".check k\n");
    ASSERT_EQ(again.out, "ok\n") << what << ": " << again.err;
  }
  std::vector<int> ids = DumpedIds(dir.Path());
  ASSERT_GE(ids.size(), static_cast<std::size_t>(kCommitted)) << what;
  ::testing::Test::RecordProperty(what, static_cast<int>(ids.size()));
  for (std::size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(ids[i], static_cast<int>(i + 1)) << what;
  // The table takes more rows afterwards.
  dir.Write("more.tsv", Rows(kImported + 1, kImported + 10));
  ShellRun more = RunShell(dir.Path(), ".import k " + dir.File("more.tsv") + "\n.check k\n");
  EXPECT_EQ(more.exitCode, 0) << what << ": " << more.err;
  EXPECT_EQ(more.out, "ok\n") << what;
}

TEST(ImportKill, ExclusiveImportKilledKeepsEveryCheckpointedRow) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) KillImport(seed, false);
}

// An Exclusive import of rows with memos killed between checkpoints: the BLOB blocks of the
// unfinished batch lie past the end the BLOB file's header gives, so no check finds blocks
// outside every chain, and the next import appends over them.
TEST(ImportKill, KilledImportLeavesNoStrayMemoBlocks) {
  TempDir dir;
  std::string rows = "id\tname\tnote\n";
  for (int i = 1; i <= kImported; ++i) {
    rows += std::to_string(i) + "\tn" + std::to_string(i) + "\t" +
            std::string(static_cast<std::size_t>(50 + i % 300), 'm') + "\n";
  }
  dir.Write("memo.tsv", rows);
  std::mt19937 random(21);
  for (int run = 0; run < 3; ++run) {
    std::filesystem::remove(dir.File("k.DAT"));
    std::filesystem::remove(dir.File("k.IDX"));
    std::filesystem::remove(dir.File("k.BLB"));
    ASSERT_EQ(
        RunShell(dir.Path(),
                 "CREATE TABLE k (id INTEGER, name CHAR(16), note MEMO, PRIMARY KEY (id), INDEX byname (name));\n")
            .exitCode,
        0);
    // The kill comes after the first checkpoint, while a later batch is under way: rows are
    // imported in order, so once record 8,000 is on disk the checkpoint after row 5,000 is done.
    // (The file size shows it; an import holding the file Exclusive lets nothing read it on
    // Windows.)
    const std::string empty = dir.Read("k.DAT");
    ASSERT_GE(empty.size(), 25u);
    const auto u16 = [&](std::size_t at) {
      return static_cast<std::uintmax_t>(static_cast<unsigned char>(empty[at]) |
                                         static_cast<unsigned char>(empty[at + 1]) << 8);
    };
    const std::uintmax_t past = 127 + 768 * u16(23) + 8000 * u16(21);
    const int delayMs = std::uniform_int_distribution<int>(200, 2000)(random);
    {
      engine::testing::TPeerProcess import("../quarry",
                                           {FolderArgument(dir), "-c", ".import k " + dir.File("memo.tsv")});
      ASSERT_TRUE(import.Started());
      auto size = [&] {
        std::error_code ec;
        const std::uintmax_t n = std::filesystem::file_size(dir.File("k.DAT"), ec);
        return ec ? 0 : n;
      };
      for (int i = 0; i < 6000 && size() < past && import.Running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      ASSERT_GE(size(), past) << "the import never wrote record 8,000";
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      import.Kill();
    }
    const std::string what = "killed after " + std::to_string(delayMs) + " ms";
    ShellRun check = RunShell(dir.Path(), ".check k\n");
    // A kill inside a checkpoint's own write-back may still leave index damage for .repair;
    // stray BLOB blocks it may not leave.
    EXPECT_EQ(check.out.find("in no chain and not free"), std::string::npos) << what << ": " << check.out;
    if (check.exitCode != 0) {
      ASSERT_EQ(RunShell(dir.Path(), ".repair k\n").exitCode, 0) << what;
    }
    const std::size_t kept = DumpedIds(dir.Path()).size();
    dir.Write("more.tsv",
              "id\tname\tnote\n" + std::to_string(kImported + 1) + "\tlast\t" + std::string(900, 'z') + "\n");
    ShellRun more = RunShell(dir.Path(), ".import k " + dir.File("more.tsv") + "\n.check k\n");
    EXPECT_EQ(more.out, "ok\n") << what << ": " << more.err;
    EXPECT_EQ(DumpedIds(dir.Path()).size(), kept + 1) << what;
  }
}

TEST(ImportKill, SharedImportKilledKeepsEveryWrittenRow) {
  for (unsigned seed : {11u, 12u, 13u}) KillImport(seed, true);
}

// Four processes import disjoint files into one table while a fifth reads it: none fails, every
// row arrives once, and the table is sound.
TEST(ConcurrentImports, FourImportersAndAReaderAllSucceed) {
  TempDir dir;
  ASSERT_EQ(RunShell(dir.Path(), "CREATE TABLE k (id INTEGER, name CHAR(16), PRIMARY KEY (id), INDEX byname (name));\n")
                .exitCode,
            0);
  constexpr int kPerImporter = 4000;
  std::vector<std::unique_ptr<engine::testing::TPeerProcess>> peers;
  for (int p = 0; p < 4; ++p) {
    const std::string file = dir.File("part" + std::to_string(p) + ".tsv");
    dir.Write("part" + std::to_string(p) + ".tsv", Rows(p * kPerImporter + 1, (p + 1) * kPerImporter));
    peers.push_back(std::make_unique<engine::testing::TPeerProcess>(
        "../quarry", std::vector<std::string>{FolderArgument(dir), "-c", ".import k " + file}));
  }
  peers.push_back(std::make_unique<engine::testing::TPeerProcess>(
      "../quarry",
      std::vector<std::string>{FolderArgument(dir), "-c", ".dump k", "-c", ".check k", "-c", ".dump k byname"}));
  for (std::size_t p = 0; p < peers.size(); ++p) {
    ASSERT_TRUE(peers[p]->Started());
    EXPECT_EQ(peers[p]->Wait(), 0) << "process " << p;
  }
  std::vector<int> ids = DumpedIds(dir.Path());
  ASSERT_EQ(ids.size(), static_cast<std::size_t>(4 * kPerImporter));
  for (std::size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(ids[i], static_cast<int>(i + 1));
  EXPECT_EQ(RunShell(dir.Path(), ".check k\n").out, "ok\n");
}

}  // namespace
}  // namespace quillon::quarry
