// The file layer: names, the in-memory directory, disk handlers, byte-range locks within one
// process, and the session.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/tests/test_tables.h"
#include "util/platform.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::ErrorCode;

class FileLayer : public testing::EngineTest {};

TEST_F(FileLayer, NormalizeNameByClass) {
  TDataFile data;
  TIndexFile index(data);
  TBlobFile blob(data);
  TFileHandler plain;
  struct Case {
    const char* name;
    const char* data;
    const char* index;
    const char* blob;
  } cases[] = {
      {"  C:\\q\\songList ", "C:\\q\\songList.DAT", "C:\\q\\songList.IDX", "C:\\q\\songList.BLB"},
      {"lyrics.dat", "lyrics.DAT", "lyrics.IDX", "lyrics.BLB"},
      {"t.idx", "t.DAT", "t.idx", "t.BLB"},
      {"t.Blb", "t.DAT", "t.IDX", "t.Blb"},
      {"C:\\a.b\\file", "C:\\a.b\\file.DAT", "C:\\a.b\\file.IDX", "C:\\a.b\\file.BLB"},
      {"/tmp/x.y/t.tar.gz", "/tmp/x.y/t.tar.DAT", "/tmp/x.y/t.tar.IDX", "/tmp/x.y/t.tar.BLB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(data.NormalizeName(c.name), c.data);
    EXPECT_EQ(index.NormalizeName(c.name), c.index);
    EXPECT_EQ(blob.NormalizeName(c.name), c.blob);
  }
  EXPECT_EQ(plain.NormalizeName(" a.b "), "a.b");
}

TEST_F(FileLayer, PropertiesChangeOnlyWhileClosed) {
  quillon::testing::TempDir dir;
  dir.Write("f.bin", "abc");
  TFileHandler h;
  h.SetFileName(dir.File("f.bin"));
  h.Open();
  EXPECT_EQ(ErrorCode([&] { h.SetExclusive(true); }), err::kFileInUse);
  EXPECT_EQ(ErrorCode([&] { h.SetReadOnly(true); }), err::kFileInUse);
  EXPECT_EQ(ErrorCode([&] { h.SetInMemory(true); }), err::kFileInUse);
  EXPECT_EQ(ErrorCode([&] { h.SetFileName(dir.File("g.bin")); }), err::kFileInUse);
  EXPECT_EQ(ErrorCode([&] { h.Erase(); }), err::kFileInUse);
  h.SetExclusive(false);                   // equal value: allowed while open
  h.SetFileName(" " + dir.File("f.bin"));  // equal after normalising
  EXPECT_EQ(ErrorCode([&] { h.CreateNew(); }), err::kFileInUse);
  h.Close();
  EXPECT_EQ(ErrorCode([&] { h.CreateNew(); }), err::kMustBeExclusive);
}

TEST_F(FileLayer, DiskReadWriteSeekTruncate) {
  quillon::testing::TempDir dir;
  TFileHandler h;
  h.SetFileName(dir.File("f.bin"));
  EXPECT_EQ(ErrorCode([&] { h.Open(); }), err::kInvalidPath);
  EXPECT_FALSE(h.Exists());
  h.SetExclusive(true);
  h.CreateNew();
  h.WriteBuffer("0123456789", 10);
  EXPECT_EQ(h.Seek(4, 0), 4);
  h.WriteBuffer(nullptr, 0);  // truncates here
  EXPECT_EQ(h.Seek(0, 2), 4);
  char buffer[10] = {};
  h.Seek(0, 0);
  EXPECT_EQ(ErrorCode([&] { h.ReadBuffer(buffer, 5); }), err::kReadError);
  h.Seek(1, 0);
  EXPECT_EQ(h.ReadBuffer(buffer, 5, true), 3u);
  EXPECT_EQ(std::string(buffer, 3), "123");
  EXPECT_EQ(h.Seek(-2, 1), 2);
  h.Close();
  EXPECT_EQ(dir.Read("f.bin"), "0123");
  h.Rename(dir.File("g.bin"));
  EXPECT_EQ(h.FileName(), dir.File("g.bin"));
  h.Erase();
  EXPECT_FALSE(std::filesystem::exists(dir.File("g.bin")));
  EXPECT_EQ(ErrorCode([&] { h.Erase(); }), err::kCannotDelete);
}

TEST_F(FileLayer, NamesMatchWithoutCaseWhenUnique) {
  quillon::testing::TempDir dir;
  dir.Write("LYRICS.DAT", "upper");
  dir.Write("other.dat", "lower");
  struct Case {
    const char* asked;
    const char* content;
  } cases[] = {{"lyrics.dat", "upper"}, {"Lyrics.Dat", "upper"}, {"OTHER.DAT", "lower"}};
  for (const auto& c : cases) {
    TFileHandler h;
    h.SetFileName(dir.File(c.asked));
    ASSERT_TRUE(h.Exists()) << c.asked;
    h.Open();
    char buffer[5];
    h.ReadBuffer(buffer, 5);
    EXPECT_EQ(std::string(buffer, 5), c.content);
  }
}

TEST_F(FileLayer, ExclusiveOpenSharesWithNobody) {
  quillon::testing::TempDir dir;
  dir.Write("f.bin", "x");
  TFileHandler a, b;
  a.SetFileName(dir.File("f.bin"));
  b.SetFileName(dir.File("f.bin"));
  a.SetExclusive(true);
  a.Open();
  EXPECT_EQ(ErrorCode([&] { b.Open(); }), err::kAccessDenied);
  a.Close();
  b.Open();  // shared
  EXPECT_EQ(ErrorCode([&] { a.Open(); }), err::kAccessDenied);
  EXPECT_EQ(ErrorCode([&] { a.CreateNew(); }), err::kAccessDenied);
  b.Close();
  EXPECT_EQ(dir.Read("f.bin"), "x");  // the refused create did not truncate
}

// The lock offsets lie just below 2^31; both backends must lock them as 32-bit offsets, and two
// handles of one process must conflict like two processes.
TEST_F(FileLayer, LocksNearTwoGigabytesConflictBetweenHandles) {
  quillon::testing::TempDir dir;
  dir.Write("f.bin", "x");
  TFileHandler a, b;
  a.SetFileName(dir.File("f.bin"));
  b.SetFileName(dir.File("f.bin"));
  a.Open();
  b.Open();
  struct Case {
    std::uint32_t aOffset, aLength, bOffset, bLength;
    bool conflict;
  } cases[] = {
      {kRecordLockBase - 1, 1, kRecordLockBase - 1, 1, true},
      {kRecordLockBase - 1, 1, kRecordLockBase - 2, 1, false},
      {kTableLockOffset, kTableLockLength, kRecordLockBase - 99999999, 1, true},
      {kTableLockOffset, kTableLockLength, kDataSemaphoreOffset, 1, false},
      {kTableLockOffset, kTableLockLength, kTableLockOffset - 1, 1, false},
      {kExclusiveSemaphoreOffset, kExclusiveSemaphoreLength, kSharedSemaphoreTop - 1, 1, true},
      {kExclusiveSemaphoreOffset, kExclusiveSemaphoreLength, kSharedSemaphoreTop - 65535, 1, true},
      {kExclusiveSemaphoreOffset, kExclusiveSemaphoreLength, kSharedSemaphoreTop, 1, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(a.LockRegion(c.aOffset, c.aLength));
    EXPECT_EQ(b.LockRegion(c.bOffset, c.bLength), !c.conflict) << c.aOffset << " vs " << c.bOffset;
    if (!c.conflict) {
      EXPECT_TRUE(b.UnlockRegion(c.bOffset, c.bLength));
    }
    EXPECT_TRUE(a.UnlockRegion(c.aOffset, c.aLength));
    if (c.conflict) {
      EXPECT_TRUE(b.LockRegion(c.bOffset, c.bLength));
      EXPECT_TRUE(b.UnlockRegion(c.bOffset, c.bLength));
    }
  }
  // One handle can neither relock an overlapping range nor unlock what it did not lock.
  ASSERT_TRUE(a.LockRegion(kDataSemaphoreOffset, 1));
  EXPECT_FALSE(a.LockRegion(kDataSemaphoreOffset, 1));
  EXPECT_FALSE(a.UnlockRegion(kDataSemaphoreOffset - 1, 1));
  EXPECT_TRUE(a.UnlockRegion(kDataSemaphoreOffset, 1));
  EXPECT_FALSE(a.UnlockRegion(kDataSemaphoreOffset, 1));
}

TEST_F(FileLayer, SharedAndExclusiveSemaphoresNeverTogether) {
  quillon::testing::TempDir dir;
  dir.Write("f.IDX", "x");
  TFileHandler a, b;
  for (auto* h : {&a, &b}) {
    h->SetFileName(dir.File("f.IDX"));
    h->Open();
    h->SemaphoreAttempts = 3;
    h->SemaphorePauseMs = 1;
  }
  a.AcquireSharedSemaphore();
  EXPECT_EQ(ErrorCode([&] { b.AcquireExclusiveSemaphore(); }), err::kLockFailure);
  EXPECT_EQ(b.LockRetries, 3);
  b.AcquireSharedSemaphore();  // shared holders live side by side
  a.ReleaseSharedSemaphore();
  EXPECT_EQ(ErrorCode([&] { a.AcquireExclusiveSemaphore(); }), err::kLockFailure);
  b.ReleaseSharedSemaphore();
  a.AcquireExclusiveSemaphore();
  EXPECT_EQ(ErrorCode([&] { b.AcquireSharedSemaphore(); }), err::kLockFailure);
  EXPECT_EQ(b.LockRetries, 3);
  a.ReleaseExclusiveSemaphore();
  b.AcquireSharedSemaphore();
}

TEST_F(FileLayer, ReadOnlyAttributeMakesLocksSucceedAndWritesFail) {
  quillon::testing::TempDir dir;
  testing::CreateTable(dir.File("ro"), testing::SmallTable());
  for (const char* ext : {"ro.DAT", "ro.IDX"}) {
    std::filesystem::permissions(dir.File(ext),
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }
  TDataFile a, b;
  a.SetFileName(dir.File("ro"));
  b.SetFileName(dir.File("ro"));
  a.Open();
  b.Open();
  EXPECT_TRUE(a.ReadOnly());
  EXPECT_TRUE(a.ReadOnlyAttribute());
  a.LockTable();
  b.LockTable();
  a.LockRecord(1);
  b.LockRecord(1);
  EXPECT_FALSE(a.AcquireWriteLock());
  EXPECT_TRUE(a.LockRegion(kDataSemaphoreOffset, 1));
  EXPECT_TRUE(b.LockRegion(kDataSemaphoreOffset, 1));
  EXPECT_EQ(ErrorCode([&] { a.WriteHeader(true); }), err::kAccessDenied);
  EXPECT_EQ(ErrorCode([&] { a.WriteAt(0, "x", 1); }), err::kAccessDenied);
  a.Close();
  b.Close();
  EXPECT_FALSE(a.ReadOnly());  // the attribute forced it only while open
  for (const char* ext : {"ro.DAT", "ro.IDX"}) {
    std::filesystem::permissions(dir.File(ext), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }
}

TEST_F(FileLayer, MemoryFilesOpenSharedOrExclusive) {
  TFileHandler a, b, c;
  for (auto* h : {&a, &b, &c}) {
    h->SetInMemory(true);
    h->SetFileName("C:\\mem\\t.DAT");
  }
  EXPECT_EQ(ErrorCode([&] { a.Open(); }), err::kInvalidPath);
  a.SetExclusive(true);
  a.CreateNew();
  EXPECT_TRUE(b.Exists());
  EXPECT_EQ(ErrorCode([&] { b.Open(); }), err::kAccessDenied);
  a.Close();
  a.SetExclusive(false);
  a.Open();
  b.Open();
  c.SetExclusive(true);
  EXPECT_EQ(ErrorCode([&] { c.Open(); }), err::kAccessDenied);
  EXPECT_EQ(ErrorCode([&] { c.CreateNew(); }), err::kAccessDenied);
  EXPECT_NE(a.Handle(), b.Handle());
  // Locks belong to the file: a second handle of it cannot take an overlapping range.
  EXPECT_TRUE(a.LockRegion(kTableLockOffset, kTableLockLength));
  EXPECT_FALSE(b.LockRegion(kRecordLockBase - 1, 1));
  EXPECT_TRUE(b.UnlockRegion(kTableLockOffset, kTableLockLength));
  EXPECT_TRUE(b.LockRegion(kRecordLockBase - 1, 1));
  a.Close();
  b.Close();
  c.SetFileName(" c:\\MEM\\T.dat ");
  c.SetExclusive(false);
  c.Open();  // names compare without case and blanks
  c.Close();
  EXPECT_EQ(ErrorCode([&] { c.Erase(); }), 0);
  EXPECT_FALSE(c.Exists());
}

TEST_F(FileLayer, MemoryFileContentFollowsWrites) {
  TFileHandler h;
  h.SetInMemory(true);
  h.SetExclusive(true);
  h.SetFileName("content.bin");
  h.CreateNew();
  std::vector<std::uint8_t> bytes(70000, 0xAB);
  h.WriteBuffer(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  TMemoryFile* file = nullptr;
  int handle = Session().MemoryFiles.OpenMemoryFile("content.bin", false, file);
  EXPECT_EQ(handle, -err::kAccessDenied);  // exclusively open
  h.Seek(10, 0);
  h.WriteBuffer(nullptr, 0);
  EXPECT_EQ(h.Seek(0, 2), 10);
  h.Seek(20, 0);
  h.WriteBuffer("z", 1);  // the gap reads as zeros, not as the old bytes
  std::uint8_t back[21];
  h.Seek(0, 0);
  h.ReadBuffer(back, 21);
  EXPECT_EQ(back[9], 0xAB);
  EXPECT_EQ(back[10], 0);
  EXPECT_EQ(back[19], 0);
  EXPECT_EQ(back[20], 'z');
  h.CopyTo("copy.bin");
  h.Close();
  TFileHandler copy;
  copy.SetInMemory(true);
  copy.SetFileName("copy.bin");
  copy.Open();
  EXPECT_EQ(copy.Seek(0, 2), 21);
  copy.Close();
  ASSERT_GT(Session().MemoryFiles.OpenMemoryFile("content.bin", false, file), 0);
  EXPECT_EQ(file->Capacity(), kMemoryFileGranule);
  file->CloseHandle(1);
  h.Erase();
  copy.Erase();
}

TEST_F(FileLayer, MakeTempTableNameCountsUpFromZero) {
  quillon::testing::TempDir dir;
  TFileSession& s = Session();
  s.SetPrivateDir(dir.Path());
  std::string prefix = std::to_string(std::llabs(platform::CurrentThreadId())).substr(0, 5);
  std::string first = s.MakeTempTableName(false);
  EXPECT_EQ(first, dir.Path() + prefix + "0.DAT");
  dir.Write(prefix + "0.DAT", "");
  EXPECT_EQ(s.MakeTempTableName(false), dir.Path() + prefix + "1.DAT");
  std::string memory = s.MakeTempTableName(true);
  EXPECT_EQ(memory, dir.Path() + prefix + "0.DAT");
  TFileHandler h;
  h.SetInMemory(true);
  h.SetExclusive(true);
  h.SetFileName(memory);
  h.CreateNew();
  h.Close();
  EXPECT_EQ(s.MakeTempTableName(true), dir.Path() + prefix + "1.DAT");
  h.Erase();
  s.SetPrivateDir("");
}

TEST_F(FileLayer, PasswordsCompareWithCase) {
  TPasswordList list;
  list.Add("");
  EXPECT_EQ(list.Count(), 0);
  list.Add("Secret");
  list.Add("Secret");
  EXPECT_TRUE(list.Has("Secret"));
  EXPECT_FALSE(list.Has("secret"));
  list.Remove("Secret");
  EXPECT_TRUE(list.Has("Secret"));
  list.RemoveAll();
  EXPECT_FALSE(list.Has("Secret"));
}

TEST_F(FileLayer, NotInitializedLeavesTheErrorContext) {
  EXPECT_EQ(ErrorCode([] { RaiseEngineError(err::kRecordLocked, "t.DAT"); }), err::kRecordLocked);
  ShutdownEngine();
  try {
    Session();
    ADD_FAILURE() << "Session() without an engine";
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.Code(), err::kNotInitialized);
    EXPECT_STREQ(e.what(), "Quarry engine not initialized");
  }
  InitializeEngine();
  EXPECT_EQ(Session().ErrorContext.ErrorCode, 0);  // a fresh session
  EXPECT_EQ(ErrorCode([] { RaiseEngineError(err::kRecordLocked, "t.DAT"); }), err::kRecordLocked);
  EXPECT_EQ(ErrorCode([] { RaiseEngineError(err::kNotInitialized, "x"); }), err::kNotInitialized);
  EXPECT_EQ(Session().ErrorContext.ErrorCode, err::kRecordLocked);
  EXPECT_EQ(Session().ErrorContext.ErrorFileName, "t.DAT");
  TFileSession other;
  SetCurrentSession(&other);
  EXPECT_EQ(ErrorCode([] { RaiseEngineError(err::kFileLocked, "u.DAT"); }), err::kFileLocked);
  EXPECT_EQ(other.ErrorContext.ErrorFileName, "u.DAT");
  SetCurrentSession(nullptr);
  EXPECT_EQ(Session().ErrorContext.ErrorFileName, "t.DAT");
}

TEST(Platform, LocalTimeAndThreadIds) {
  platform::LocalTime t = platform::LocalNow();
  EXPECT_GE(t.year, 2020);
  EXPECT_TRUE(IsValidDate(t.year, t.month, t.day));
  EXPECT_LT(t.hour, 24);
  EXPECT_LT(t.millisecond, 1000);
  std::int64_t mine = platform::CurrentThreadId(), theirs = 0;
  std::thread([&] { theirs = platform::CurrentThreadId(); }).join();
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(mine, platform::CurrentThreadId());
}

}  // namespace
}  // namespace quillon::engine
