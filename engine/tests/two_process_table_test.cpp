// Two processes on one shared table: a peer program (table_peer.cpp) inserts and updates records
// while this process walks the table in both index orders and counts it, again and again. Every
// change the peer makes rewrites two fields together, the name and its copy and the memo (see
// table_peer.h), so a reader that saw half of a change finds a broken invariant. What must hold:
//   - every record read keeps the invariants;
//   - a walk in Id order meets the Ids 1, 2, 3, ... without a gap or a repeat (the peer appends
//     them in that order and never deletes), at least as many as RecordCount said before it;
//   - a callback filter shows exactly the records an unfiltered walk finds passing it, both one
//     activated for the check and one active on another cursor all along;
//   - RecordCount never goes down;
//   - under the statement read lock the memos match their records and the walk meets exactly
//     RecordCount records;
//   - once the peer also deletes (it waits for this process to know), Ids still come in strict
//     order and the locked rounds still agree;
//   - the only errors are the lock codes, which are retried;
//   - at the end the table holds what the peer reports and verifies clean.
// Run with and without StrictChangeDetection in both processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/blob_verifier.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/table_verify.h"
#include "engine/tests/peer_process.h"
#include "engine/tests/table_peer.h"
#include "engine/tests/test_tables.h"
#include "util/platform.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using namespace peer;

constexpr int kInserts = 300;
constexpr int kMixed = 600;
constexpr int kChurn = 400;

class TwoProcessTable : public testing::EngineTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    testing::EngineTest::SetUp();
    testing::CreateTable(table, PeerTable());
    cursor.SetFileName(table);
    cursor.SetStrictChangeDetection(GetParam());
    cursor.Open();
    buffer.assign(cursor.RecordBufferSize(), 0);
    // A second cursor whose filter stays active the whole time: each change of the peer must
    // reach its bitmap.
    watcher.SetFileName(table);
    watcher.SetStrictChangeDetection(GetParam());
    watcher.Open();
    watcher.SelectIndex("ByName");
    std::uint32_t filter = watcher.AddFilter(
        nullptr,
        [this](const std::uint8_t* record, std::uint32_t) {
          std::int32_t a = 0;
          watcher.GetField(false, kA, record, &a);
          return a % 2 == 0;
        },
        false);
    ASSERT_EQ(watcher.ActivateFilter(filter), 0);
  }

  std::int32_t Int(int field) {
    std::int32_t v = 0;
    cursor.GetField(false, field, buffer.data(), &v);
    return v;
  }
  std::string Text(int field) {
    std::vector<char> text(kFillerSize + 1, '\0');
    cursor.GetField(false, field, buffer.data(), text.data());
    return text.data();
  }

  // The invariants of the record in `buffer`; the memo only when asked (it may be read only
  // while no change can come between the record and its memo).
  void CheckRecord(bool memo) {
    std::int32_t id = Int(kId), a = Int(kA), b = Int(kB);
    std::string name = Text(kName), copy = Text(kNameCopy);
    ASSERT_EQ(a + b, kSum) << "record " << id << ": A " << a << " and B " << b << " from different changes";
    ASSERT_EQ(name, copy) << "record " << id << ": name and its copy from different changes";
    ASSERT_EQ(name, PeerName(id, a)) << "record " << id << ": name and A from different changes";
    ASSERT_EQ(Text(kFiller), PeerFiller(a)) << "record " << id << ": filler and A from different changes";
    if (!memo) return;
    std::vector<std::uint8_t> b2 = buffer;
    ASSERT_EQ(cursor.OpenBlob(false, kMemo, 1, b2.data()), 0);
    std::uint32_t length = 0, got = 0;
    ASSERT_EQ(cursor.GetBlobSize(false, kMemo, b2.data(), length), 0);
    std::string value(length, '\0');
    ASSERT_EQ(cursor.ReadBlob(false, kMemo, 0, length, value.data(), b2.data(), got), 0);
    ASSERT_EQ(cursor.CloseBlob(false, kMemo, b2.data()), 0);
    ASSERT_TRUE(value == PeerMemo(a)) << "record " << id << ": memo of " << length
                                      << " bytes belongs to another change";
  }

  // A walk in Id order (forwards or backwards) meeting 1..n without a gap, or, once the peer
  // deletes, Ids in strict order; answers how many it met.
  std::int32_t WalkIds(bool forward, bool memo) {
    std::int32_t seen = 0, last = 0;
    cursor.SelectIndex(0);
    forward ? cursor.First() : cursor.Last();
    while ((forward ? cursor.Next(buffer.data()) : cursor.Prior(buffer.data())) == 0) {
      std::int32_t id = Int(kId);
      if (churn) {
        if (seen > 0) {
          EXPECT_TRUE(forward ? id > last : id < last) << "Ids out of order: " << id << " after " << last;
        }
      } else if (forward) {
        EXPECT_EQ(id, last + 1) << "the walk in Id order skipped or repeated a record";
      } else if (seen > 0) {
        EXPECT_EQ(id, last - 1) << "the backward walk in Id order skipped or repeated a record";
      }
      CheckRecord(memo);
      if (::testing::Test::HasFailure()) return -1;
      last = id;
      ++seen;
    }
    if (!forward && seen > 0 && !churn) {
      EXPECT_EQ(last, 1) << "the backward walk did not end at Id 1";
    }
    return seen;
  }

  // A walk in name order: names ascend, every record whole.
  void WalkNames() {
    cursor.SelectIndex("ByName");
    cursor.First();
    std::string last;
    while (cursor.Next(buffer.data()) == 0) {
      std::string name = Text(kName);
      ASSERT_LT(last, name) << "names out of order in the walk over ByName";
      CheckRecord(false);
      last = name;
    }
  }

  // Under the statement read lock: a callback filter (even A) shows exactly the records of an
  // unfiltered walk that pass it, however the peer changed A since the last round.
  void FilteredRound() {
    cursor.AcquireStatementReadLock();
    std::vector<std::int32_t> passing, shown;
    cursor.SelectIndex(0);
    cursor.First();
    while (cursor.Next(buffer.data()) == 0)
      if (Int(kA) % 2 == 0) passing.push_back(Int(kId));
    std::uint32_t filter = cursor.AddFilter(
        nullptr,
        [this](const std::uint8_t* record, std::uint32_t) {
          std::int32_t a = 0;
          cursor.GetField(false, kA, record, &a);
          return a % 2 == 0;
        },
        false);
    ASSERT_EQ(cursor.ActivateFilter(filter), 0);
    EXPECT_EQ(cursor.RecordCount(), passing.size()) << "the filter's count differs from the records passing it";
    cursor.First();
    while (cursor.Next(buffer.data()) == 0) {
      shown.push_back(Int(kId));
      CheckRecord(false);
    }
    EXPECT_EQ(shown, passing) << "the filtered walk differs from the unfiltered one";
    ASSERT_EQ(cursor.RemoveFilter(filter), 0);
    // The long-lived filter of the other cursor shows the same records, in name order.
    watcher.AcquireStatementReadLock();
    EXPECT_EQ(watcher.RecordCount(), passing.size()) << "the long-lived filter's count is stale";
    shown.clear();
    watcher.First();
    while (watcher.Next(buffer.data()) == 0) {
      shown.push_back(Int(kId));
      CheckRecord(false);
    }
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, passing) << "the long-lived filter shows other records than pass it";
    watcher.ReleaseStatementReadLock();
    cursor.ReleaseStatementReadLock();
  }

  bool churn = false;  // the peer deletes records now
  quillon::testing::TempDir dir;
  std::string table = dir.File("shared.DAT");
  TDataFile cursor, watcher;
  std::vector<std::uint8_t> buffer;
};

TEST_P(TwoProcessTable, ReaderSeesOnlyWholeChanges) {
  std::string ready = dir.File("peer.ready"), pause = dir.File("peer.pause"), go = dir.File("peer.go"),
              done = dir.File("peer.done");
  testing::TPeerProcess peer("table_peer",
                             {table, GetParam() ? "1" : "0", std::to_string(kInserts), std::to_string(kMixed),
                              std::to_string(kChurn), "7", ready, pause, go, done});
  ASSERT_TRUE(peer.Started()) << peer.Path();
  for (int waited = 0; waited < 60000 && !platform::IsExistingFile(ready) && peer.Running(); waited += 10)
    platform::SleepMs(10);
  ASSERT_TRUE(platform::IsExistingFile(ready)) << "the peer did not start";

  std::uint32_t lastCount = 0;
  int rounds = 0, lockRetries = 0, changedDuring = 0;
  for (bool more = true; more;) {
    more = peer.Running();  // one more round after the peer ended
    if (!churn && platform::IsExistingFile(pause)) {
      churn = true;  // from here on records come and go
      ASSERT_TRUE(platform::WriteWholeFile(go, "go"));
    }
    try {
      std::uint32_t count = cursor.RecordCount();
      if (!churn) {
        ASSERT_GE(count, lastCount) << "RecordCount went down while the peer only added records";
      }
      if (count != lastCount && rounds > 0) ++changedDuring;
      lastCount = count;
      switch (rounds % 5) {
        case 0: {
          std::int32_t seen = WalkIds(true, false);
          if (!churn) {
            ASSERT_GE(seen, static_cast<std::int32_t>(count)) << "the walk met fewer records than RecordCount said";
          }
          break;
        }
        case 1:
          WalkIds(false, false);
          break;
        case 2:
          WalkNames();
          break;
        case 3:
          FilteredRound();
          break;
        default: {
          // Nothing changes while the statement read lock is held: records, memos and the count
          // belong to one state of the table.
          cursor.AcquireStatementReadLock();
          std::uint32_t before = cursor.RecordCount();
          std::int32_t seen = WalkIds(true, true);
          EXPECT_EQ(static_cast<std::uint32_t>(seen), before) << "RecordCount and the walk disagree under the lock";
          cursor.ReleaseStatementReadLock();
          break;
        }
      }
      if (HasFailure()) break;
      ++rounds;
    } catch (const EEngineError& e) {
      if (watcher.LockState().StatementRead) watcher.ReleaseStatementReadLock();
      if (cursor.LockState().StatementRead) cursor.ReleaseStatementReadLock();
      cursor.RemoveFilter(0);  // a filtered round may have stopped halfway
      ASSERT_TRUE(IsLockCode(e.Code())) << "round " << rounds << ": " << e.what();
      ++lockRetries;
      platform::SleepMs(2);
    }
  }
  ASSERT_EQ(peer.Wait(), 0) << "the peer failed (its message is on stderr)";
  std::string reported;
  ASSERT_TRUE(platform::ReadWholeFile(done, reported));
  std::int32_t total = std::stoi(reported);
  ASSERT_TRUE(churn) << "the peer never reached its deleting phase";
  ASSERT_GE(total, kInserts - kChurn);
  ASSERT_LE(total, kInserts + kMixed + kChurn);

  cursor.Refresh();
  EXPECT_EQ(cursor.RecordCount(), static_cast<std::uint32_t>(total));
  EXPECT_EQ(WalkIds(true, true), total);
  EXPECT_EQ(WalkIds(false, false), total);
  WalkNames();
  std::vector<std::string> problems = cursor.IndexFile().Verify();
  EXPECT_TRUE(problems.empty()) << problems.front();
  TBlobFileReport report = VerifyBlobFile(cursor);
  EXPECT_TRUE(report.Ok()) << report.Problems.front();
  EXPECT_EQ(report.LostBlocks, 0u);
  problems = VerifyTable(cursor);
  EXPECT_TRUE(problems.empty()) << problems.front();
  RecordProperty("rounds", rounds);
  RecordProperty("lock_retries", lockRetries);
  std::printf("%d reading rounds, %d after which the count had changed, %d lock retries\n", rounds, changedDuring,
              lockRetries);
}

INSTANTIATE_TEST_SUITE_P(ChangeDetection, TwoProcessTable, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Strict" : "Lazy"; });

}  // namespace
}  // namespace quillon::engine
