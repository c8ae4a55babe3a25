// Locks between two processes: a peer program holds a record lock, the table lock or one of the
// semaphores while this process contends for it with short retry settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "engine/data_file.h"
#include "engine/tests/peer_process.h"
#include "engine/tests/test_tables.h"
#include "util/platform.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::ErrorCode;

class Peer {
 public:
  Peer(const quillon::testing::TempDir& dir, const std::string& table, std::vector<std::string> what)
      : ready_(dir.File("peer.ready")), release_(dir.File("peer.release")) {
    std::filesystem::remove(ready_);
    std::filesystem::remove(release_);
    std::vector<std::string> args = {table};
    args.insert(args.end(), what.begin(), what.end());
    args.push_back(ready_);
    args.push_back(release_);
    process_ = std::make_unique<testing::TPeerProcess>("lock_peer", std::move(args));
  }
  ~Peer() { Release(); }

  // True once the peer holds its lock (waits up to 30 s for a slow start under Wine).
  bool WaitReady() {
    for (int waited = 0; process_->Started() && waited < 30000; waited += 10) {
      if (std::filesystem::exists(ready_)) return true;
      if (!process_->Running()) return false;
      platform::SleepMs(10);
    }
    return false;
  }

  // Lets the peer go and waits for it to end; answers its exit code.
  int Release() {
    if (!process_->Running()) return process_->Wait();
    platform::WriteWholeFile(release_, "go");
    return process_->Wait(30000);
  }

 private:
  std::string ready_, release_;
  std::unique_ptr<testing::TPeerProcess> process_;
};

class TwoProcesses : public testing::EngineTest {
 protected:
  void SetUp() override {
    testing::EngineTest::SetUp();
    testing::CreateTable(table, testing::SmallTable());
    cursor.SetFileName(table);
    cursor.SetStrictChangeDetection(true);
    cursor.Open();
    cursor.LockRetryCount = 3;
    cursor.LockWaitTime = 20;
    for (TFileHandler* f : {static_cast<TFileHandler*>(&cursor), static_cast<TFileHandler*>(&cursor.IndexFile())}) {
      f->SemaphoreAttempts = 4;
      f->SemaphorePauseMs = 3;
    }
  }
  quillon::testing::TempDir dir;
  std::string table = dir.File("shared.DAT");
  TDataFile cursor;
};

TEST_F(TwoProcesses, RecordLockHeldByAnotherProcess) {
  Peer peer(dir, table, {"record", "7"});
  ASSERT_TRUE(peer.WaitReady());
  std::uint32_t start = platform::TickCount();
  EXPECT_EQ(ErrorCode([&] { cursor.LockRecord(7); }), err::kRecordLocked);
  std::uint32_t elapsed = platform::TickCount() - start;
  EXPECT_EQ(cursor.LockRetries, 4);  // LockRetryCount + 1 attempts
  EXPECT_GE(elapsed, 3u * 20);       // three pauses of more than LockWaitTime
  EXPECT_TRUE(cursor.LockedRecords().empty());
  cursor.LockRecord(8);
  EXPECT_EQ(ErrorCode([&] { cursor.LockTable(); }), err::kFileLocked);
  cursor.UnlockRecord(8);
  EXPECT_EQ(peer.Release(), 0);
  cursor.LockRecord(7);  // the peer's end released its lock
  EXPECT_EQ(cursor.LockedRecords().size(), 1u);
}

TEST_F(TwoProcesses, TableLockBlocksEveryRecord) {
  Peer peer(dir, table, {"table"});
  ASSERT_TRUE(peer.WaitReady());
  for (std::uint32_t r : {1u, 1000u, 99999999u}) {
    EXPECT_EQ(ErrorCode([&] { cursor.LockRecord(r); }), err::kRecordLocked) << r;
    EXPECT_EQ(cursor.LockRetries, 4);
  }
  EXPECT_EQ(ErrorCode([&] { cursor.LockTable(); }), err::kFileLocked);
  EXPECT_FALSE(cursor.LockState().Table);
  cursor.AcquireWriteLock();  // semaphores are not covered by the table lock
  cursor.ReleaseWriteLock();
  EXPECT_EQ(peer.Release(), 0);
  cursor.LockTable();
  cursor.UnlockTable();
}

TEST_F(TwoProcesses, WriteLockExcludesReadersAndWriters) {
  Peer peer(dir, table, {"write"});
  ASSERT_TRUE(peer.WaitReady());
  EXPECT_EQ(ErrorCode([&] { cursor.AcquireReadLock(); }), err::kLockFailure);
  EXPECT_EQ(cursor.IndexFile().LockRetries, 4);
  EXPECT_EQ(ErrorCode([&] { cursor.AcquireWriteLock(); }), err::kLockFailure);
  EXPECT_EQ(cursor.LockRetries, 4);  // the data semaphore, first in the order
  EXPECT_FALSE(cursor.LockState().Write);
  cursor.LockRecord(3);  // record locks are independent of the semaphores
  EXPECT_EQ(peer.Release(), 0);
  cursor.AcquireReadLock();
  cursor.ReleaseReadLock();
}

TEST_F(TwoProcesses, ReadLockKeepsWritersOut) {
  Peer peer(dir, table, {"read"});
  ASSERT_TRUE(peer.WaitReady());
  cursor.AcquireReadLock();  // readers share
  cursor.ReleaseReadLock();
  EXPECT_EQ(ErrorCode([&] { cursor.AcquireWriteLock(); }), err::kLockFailure);
  EXPECT_EQ(cursor.IndexFile().LockRetries, 4);
  EXPECT_FALSE(cursor.LockState().DataSemaphore);  // given back when the index semaphore failed
  EXPECT_EQ(peer.Release(), 0);
  cursor.AcquireWriteLock();
  cursor.ReleaseWriteLock();
}

}  // namespace
}  // namespace quillon::engine
