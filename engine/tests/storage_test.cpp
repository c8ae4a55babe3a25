// The storages under the table files: the disk and in-memory storages keep one contract, and
// the session's storage hook sees every file a table opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "engine/storage.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::Field;
using testing::PrimaryOn;

struct TStorageMaker {
  const char* Name;
  std::function<std::unique_ptr<TStorage>(const quillon::testing::TempDir&)> Make;
};

// Names the backend in test listings instead of dumping the object's bytes.
void PrintTo(const TStorageMaker& maker, std::ostream* out) {
  *out << maker.Name;
}

class StorageContract : public ::testing::TestWithParam<TStorageMaker> {
 protected:
  void SetUp() override { InitializeEngine(); }
  quillon::testing::TempDir dir;

  static std::string ReadAll(TStorage& s) {
    std::int64_t size = 0;
    EXPECT_EQ(s.Size(size), 0);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::uint32_t got = 0;
    EXPECT_EQ(s.ReadAt(0, bytes.data(), static_cast<std::uint32_t>(size), got), 0);
    EXPECT_EQ(got, size);
    return bytes;
  }
};

TEST_P(StorageContract, WritesReadsTruncationsAndLocks) {
  std::unique_ptr<TStorage> s = GetParam().Make(dir);
  ASSERT_TRUE(s);
  std::uint32_t n = 0;
  ASSERT_EQ(s->WriteAt(0, "hello", 5, n), 0);
  EXPECT_EQ(n, 5u);
  // A write past the end leaves zeros in the gap.
  ASSERT_EQ(s->WriteAt(8, "xy", 2, n), 0);
  EXPECT_EQ(ReadAll(*s), std::string("hello\0\0\0xy", 10));

  char buffer[8] = {};
  EXPECT_EQ(s->ReadAt(7, buffer, 8, n), 0);  // across the end: what there is
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(s->ReadAt(50, buffer, 8, n), 0);  // past the end: nothing, and no error
  EXPECT_EQ(n, 0u);

  EXPECT_EQ(s->Truncate(3), 0);
  EXPECT_EQ(ReadAll(*s), "hel");
  EXPECT_EQ(s->Truncate(6), 0);  // growing by truncation exposes zeros, never old bytes
  EXPECT_EQ(ReadAll(*s), std::string("hel\0\0\0", 6));
  EXPECT_EQ(s->Flush(), 0);

  EXPECT_TRUE(s->Lock(kTableLockOffset, 10));
  EXPECT_FALSE(s->Lock(kTableLockOffset + 9, 1));  // overlaps the held range
  EXPECT_FALSE(s->Unlock(kTableLockOffset, 5));    // only the exact range unlocks
  EXPECT_TRUE(s->Unlock(kTableLockOffset, 10));
  EXPECT_FALSE(s->Unlock(kTableLockOffset, 10));  // and only once
  EXPECT_TRUE(s->Lock(kTableLockOffset + 9, 1));
  s->Close();
}

INSTANTIATE_TEST_SUITE_P(
    Backends, StorageContract,
    ::testing::Values(TStorageMaker{"disk",
                                    [](const quillon::testing::TempDir& dir) -> std::unique_ptr<TStorage> {
                                      auto disk = std::make_unique<TDiskStorage>();
                                      if (disk->Create(dir.File("contract.DAT"), false) != 0) return nullptr;
                                      return disk;
                                    }},
                      TStorageMaker{"memory",
                                    [](const quillon::testing::TempDir&) -> std::unique_ptr<TStorage> {
                                      TMemoryFile* file = nullptr;
                                      int handle = Session().MemoryFiles.CreateMemoryFile("contract.DAT", file);
                                      if (handle <= 0) return nullptr;
                                      return std::make_unique<TMemoryStorage>(*file, handle);
                                    }}),
    [](const ::testing::TestParamInfo<TStorageMaker>& info) { return std::string(info.param.Name); });

// A new table "songs" in dir: Id (primary) and a memo.
std::string MemoTable(const quillon::testing::TempDir& dir) {
  const std::string name = dir.File("songs");
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Memo", TFieldType::Blob)};
  t.Indexes = {PrimaryOn({1})};
  testing::CreateTable(name, t);
  return name;
}

// Passes every call to the storage it wraps; the tests below override what they watch.
struct TPassThrough : TStorage {
  explicit TPassThrough(std::unique_ptr<TStorage> inner) : Inner(std::move(inner)) {}
  int ReadAt(std::uint64_t o, void* b, std::uint32_t c, std::uint32_t& r) override { return Inner->ReadAt(o, b, c, r); }
  int WriteAt(std::uint64_t o, const void* b, std::uint32_t c, std::uint32_t& w) override {
    return Inner->WriteAt(o, b, c, w);
  }
  int Size(std::int64_t& s) override { return Inner->Size(s); }
  int Truncate(std::uint64_t s) override { return Inner->Truncate(s); }
  int Flush() override { return Inner->Flush(); }
  bool Lock(std::uint32_t o, std::uint32_t l) override { return Inner->Lock(o, l); }
  bool Unlock(std::uint32_t o, std::uint32_t l) override { return Inner->Unlock(o, l); }
  void Close() override { Inner->Close(); }
  std::unique_ptr<TStorage> Inner;
};

// The hook is handed each file of a table as it opens, with the file's own name, and what it
// answers is what the table uses.
TEST(StorageHook, SeesEveryFileOfATableAndItsAnswerIsUsed) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  const std::string name = MemoTable(dir);

  // A storage that counts the writes passing through it.
  struct TCounting : TPassThrough {
    TCounting(std::unique_ptr<TStorage> inner, int& writes) : TPassThrough(std::move(inner)), Writes(writes) {}
    int WriteAt(std::uint64_t o, const void* b, std::uint32_t c, std::uint32_t& w) override {
      ++Writes;
      return TPassThrough::WriteAt(o, b, c, w);
    }
    int& Writes;
  };
  std::vector<std::string> names;
  int writes = 0;
  SetStorageHook([&](std::unique_ptr<TStorage> storage, const std::string& fileName) {
    names.push_back(fileName.substr(fileName.size() - 4));
    return std::unique_ptr<TStorage>(std::make_unique<TCounting>(std::move(storage), writes));
  });
  {
    TDataFile table;
    table.SetFileName(name);
    table.Open();
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    table.InitRecord(b.data());
    std::uint8_t id[4] = {7, 0, 0, 0};
    table.SetField(false, 1, id, b.data());
    table.InsertRecord(b.data());  // a shared cursor writes its change back at once
    table.Close();
  }
  SetStorageHook({});
  EXPECT_EQ(names, (std::vector<std::string>{".DAT", ".IDX", ".BLB"}));
  EXPECT_GT(writes, 0);

  // Without the hook the table is as the counted writes left it.
  names.clear();
  TDataFile table;
  table.SetFileName(name);
  table.Open();
  EXPECT_EQ(table.RecordCount(), 1u);
  EXPECT_TRUE(names.empty());
}

// An Exclusive writer whose record cache fills up between checkpoints writes records early; a
// record must never reach the file before the blocks of the memo it names, or a kill in between
// leaves it naming blocks that hold nothing.
TEST(WriteOrder, ARecordReachesTheFileOnlyAfterTheBlocksOfItsNewMemo) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  const std::string name = MemoTable(dir);
  constexpr int kMemo = 2;
  auto setMemo = [](TDataFile& table, std::uint8_t* b, const std::string& text) {
    ASSERT_EQ(table.OpenBlob(false, kMemo, 2, b), 0);
    ASSERT_EQ(table.TruncateBlob(false, kMemo, 0, b), 0);
    ASSERT_EQ(table.WriteBlob(false, kMemo, 0, static_cast<std::uint32_t>(text.size()), text.data(), b), 0);
  };
  TDataFile table;
  table.SetFileName(name);
  table.SetExclusive(true);
  table.Open();
  const int records = table.RecordCacheCapacity() + 500;  // more than the record cache holds
  std::vector<std::uint8_t> b(table.RecordBufferSize());
  for (std::int32_t id = 1; id <= records; ++id) {
    table.InitRecord(b.data());
    table.SetField(false, 1, &id, b.data());
    setMemo(table, b.data(), "first " + std::to_string(id));
    table.InsertRecord(b.data());
    table.CloseAllBlobs();
  }
  table.Close();

  // Every write from here on, in order: file, first byte, length.
  struct TWrite {
    std::string File;
    std::uint64_t Offset, Count;
  };
  std::vector<TWrite> writes;
  struct TLogging : TPassThrough {
    TLogging(std::unique_ptr<TStorage> inner, std::string file, std::vector<TWrite>& log)
        : TPassThrough(std::move(inner)), File(std::move(file)), Log(log) {}
    int WriteAt(std::uint64_t o, const void* b, std::uint32_t c, std::uint32_t& w) override {
      Log.push_back({File, o, c});
      return TPassThrough::WriteAt(o, b, c, w);
    }
    std::string File;
    std::vector<TWrite>& Log;
  };
  SetStorageHook([&](std::unique_ptr<TStorage> storage, const std::string& fileName) {
    return std::unique_ptr<TStorage>(
        std::make_unique<TLogging>(std::move(storage), fileName.substr(fileName.size() - 4), writes));
  });
  table.Open();
  table.SelectIndex(0);
  table.First();
  while (table.Next(b.data()) == 0) {
    setMemo(table, b.data(), "second value, longer than the first");
    table.UpdateRecord(b.data(), false, false);
    table.CloseAllBlobs();
  }
  table.Close();
  SetStorageHook({});

  // Where each record's memo lies now, and when each record and block was last written.
  table.SetExclusive(false);
  table.Open();
  const std::int64_t firstRecord = table.RecordOffset(1);
  const std::uint32_t recordSize = table.Header().RecordSize;
  const std::uint16_t slot = table.GetFieldDescriptor(false, kMemo).Offset + 1;
  std::vector<std::uint32_t> memoOf(static_cast<std::size_t>(records) + 1);
  for (std::uint32_t r = 1; r <= static_cast<std::uint32_t>(records); ++r) {
    TRecord* record = table.FetchRecord(r);
    memoOf[r] = static_cast<std::uint32_t>(GetI32(record->Data.data() + slot));
    table.UnpinRecord(record);
  }
  table.Close();
  bool earlyRecordWrites = false;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const TWrite& w = writes[i];
    if (w.File != ".DAT" || w.Offset < static_cast<std::uint64_t>(firstRecord)) continue;
    const auto from = static_cast<std::uint32_t>((w.Offset - firstRecord) / recordSize) + 1;
    const auto to = static_cast<std::uint32_t>((w.Offset + w.Count - firstRecord - 1) / recordSize) + 1;
    earlyRecordWrites = earlyRecordWrites || i + 1 < writes.size();
    for (std::uint32_t r = from; r <= to && r <= static_cast<std::uint32_t>(records); ++r) {
      const std::uint32_t block = memoOf[r];
      bool blockBefore = false;
      for (std::size_t k = 0; k < i && !blockBefore; ++k)
        blockBefore =
            writes[k].File == ".BLB" && writes[k].Offset <= block && block < writes[k].Offset + writes[k].Count;
      ASSERT_TRUE(blockBefore) << "record " << r << " written (write " << i << ") before its memo's block " << block;
    }
  }
  EXPECT_TRUE(earlyRecordWrites);
}

}  // namespace
}  // namespace quillon::engine

namespace quillon::engine {
namespace {

// Opens the table at `name` with every lock call on its files counted in `locks`.
void OpenCountingLocks(TDataFile& table, const std::string& name, int& locks) {
  struct TLockCounting : TPassThrough {
    TLockCounting(std::unique_ptr<TStorage> inner, int& counter) : TPassThrough(std::move(inner)), Locks(counter) {}
    bool Lock(std::uint32_t o, std::uint32_t l) override {
      ++Locks;
      return TPassThrough::Lock(o, l);
    }
    int& Locks;
  };
  SetStorageHook([&](std::unique_ptr<TStorage> storage, const std::string&) {
    return std::unique_ptr<TStorage>(std::make_unique<TLockCounting>(std::move(storage), locks));
  });
  table.SetFileName(name);
  table.Open();
  SetStorageHook({});
}

// A walk in an index order whose records lie in another order misses the record cache at every
// step; the records of the coming entries are read under the lock of one miss, so the walk does
// not take the read lock and run the change check once per record.
TEST(IndexWalk, ReadsTheRecordsOfComingEntriesUnderOneLock) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  const std::string name = dir.File("songs");
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer)};
  t.Indexes = {PrimaryOn({1})};
  testing::CreateTable(name, t);
  constexpr std::int32_t kRecords = 2000;
  {
    TDataFile table;
    table.SetFileName(name);
    table.SetExclusive(true);
    table.Open();
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    for (std::int32_t k = 0; k < kRecords; ++k) {
      std::int32_t id = (k * 7919) % kRecords + 1;  // every Id once, far from record order
      table.InitRecord(b.data());
      table.SetField(false, 1, &id, b.data());
      table.InsertRecord(b.data());
    }
    table.Close();
  }
  int locks = 0;
  TDataFile table;
  OpenCountingLocks(table, name, locks);
  table.SelectIndex(0);
  for (int direction : {1, -1}) {
    SCOPED_TRACE(direction);
    table.DropRecordCache();
    direction > 0 ? table.First() : table.Last();
    const int before = locks;
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    std::int32_t expected = direction > 0 ? 1 : kRecords;
    while ((direction > 0 ? table.Next(b.data()) : table.Prior(b.data())) == 0) {
      std::int32_t id = 0;
      ASSERT_TRUE(table.GetField(false, 1, b.data(), &id));
      ASSERT_EQ(id, expected);
      expected += direction;
    }
    EXPECT_EQ(expected, direction > 0 ? kRecords + 1 : 0);
    // One read lock per record would be two lock calls a record at the least.
    EXPECT_LT(locks - before, kRecords / 8);
  }
}

// A table of `records` songs (Id 1.. in record order, a title naming the Id), as the program's
// song tables are laid out: the primary order is the records' own.
std::string SongsInRecordOrder(const quillon::testing::TempDir& dir, std::int32_t records) {
  const std::string name = dir.File("songs");
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Title", TFieldType::String, 50)};
  t.Indexes = {PrimaryOn({1})};
  testing::CreateTable(name, t);
  TDataFile table;
  table.SetFileName(name);
  table.SetExclusive(true);
  table.Open();
  std::vector<std::uint8_t> b(table.RecordBufferSize());
  for (std::int32_t id = 1; id <= records; ++id) {
    table.InitRecord(b.data());
    table.SetField(false, 1, &id, b.data());
    const std::string title = "Song " + std::to_string(id);
    table.SetField(false, 2, title.c_str(), b.data());
    table.InsertRecord(b.data());
  }
  table.Close();
  return name;
}

std::string TitleOf(TDataFile& table, const std::uint8_t* record) {
  char title[51] = {};
  table.GetField(false, 2, record, title);
  return title;
}

// A walk forward in the records' own order reads several read-ahead blocks, and the leaves that
// name them, under the read lock of one miss, instead of taking the lock and running the change
// check again at every leaf.
TEST(ForwardWalk, ReadsSeveralBlocksAndTheirLeavesUnderOneLock) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  constexpr std::int32_t kRecords = 20000;
  const std::string name = SongsInRecordOrder(dir, kRecords);
  int locks = 0;
  TDataFile table;
  OpenCountingLocks(table, name, locks);
  for (int index : {0, 255}) {
    SCOPED_TRACE(index == 0 ? "primary order" : "physical order");
    table.SelectIndex(index);
    table.DropRecordCache();
    table.First();
    const int before = locks;
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    std::int32_t expected = 1;
    while (table.Next(b.data()) == 0) {
      std::int32_t id = 0;
      ASSERT_TRUE(table.GetField(false, 1, b.data(), &id));
      ASSERT_EQ(id, expected);
      ASSERT_EQ(TitleOf(table, b.data()), "Song " + std::to_string(id));
      ++expected;
    }
    EXPECT_EQ(expected, kRecords + 1);
    // A lock per read-ahead block (32,767 bytes, 504 of these records) would be 40 at the least.
    EXPECT_LE(locks - before, kRecords / (4 * 504) + 2);
  }
}

// What the walk reads ahead is trusted as cached records are: until this cursor's next change
// check, which finds another cursor's change and drops it.
TEST(ForwardWalk, AnotherCursorsChangeIsSeenOnceTheChangeCheckRuns) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  constexpr std::int32_t kRecords = 3000, kChanged = 50;  // inside what the first fill read
  const std::string name = SongsInRecordOrder(dir, kRecords);
  struct TCase {
    const char* what;
    bool strict;   // StrictChangeDetection: every operation runs the check
    bool refresh;  // the component's refresh runs it
  } cases[] = {{"refresh", false, true}, {"strict change detection", true, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TDataFile walker;
    walker.SetFileName(name);
    walker.SetStrictChangeDetection(c.strict);
    walker.Open();
    walker.SelectIndex(0);
    std::vector<std::uint8_t> b(walker.RecordBufferSize());
    walker.First();
    for (int k = 0; k < 5; ++k) ASSERT_EQ(walker.Next(b.data()), 0);

    auto other = walker.CloneCursor();
    std::vector<std::uint8_t> o(other->RecordBufferSize());
    std::int32_t id = kChanged;
    other->InitRecord(o.data());
    other->SetField(false, 1, &id, o.data());
    ASSERT_TRUE(other->FindKey(o.data(), false, false, 1, -1, o.data()));
    ASSERT_EQ(other->GetCurrent(o.data(), true), 0);
    const std::string title = std::string("Changed elsewhere, ") + c.what;
    other->SetField(false, 2, title.c_str(), o.data());
    other->UpdateRecord(o.data(), true, true);

    if (c.refresh) {
      EXPECT_TRUE(walker.Refresh());
    }
    int seen = 0;
    while (walker.Next(b.data()) == 0) {
      ASSERT_TRUE(walker.GetField(false, 1, b.data(), &id));
      if (id != kChanged) continue;
      EXPECT_EQ(TitleOf(walker, b.data()), title);
      ++seen;
    }
    EXPECT_EQ(seen, 1);
    // Back to the changed record from the other end.
    walker.Last();
    while (walker.Prior(b.data()) == 0) {
      walker.GetField(false, 1, b.data(), &id);
      if (id == kChanged) break;
    }
    EXPECT_EQ(TitleOf(walker, b.data()), title);
  }
}

// An Exclusive cursor keeps its changes in its cache; a walk that reads ahead from the file must
// hand out the changed records, not the file's older bytes.
TEST(ForwardWalk, ChangesAnExclusiveCursorHoldsWinOverTheFile) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  constexpr std::int32_t kRecords = 3000;
  const std::string name = SongsInRecordOrder(dir, kRecords);
  TDataFile table;
  table.SetFileName(name);
  table.SetExclusive(true);
  table.Open();
  table.SelectIndex(0);
  std::vector<std::uint8_t> b(table.RecordBufferSize());
  table.First();
  for (int k = 0; k < 5; ++k) ASSERT_EQ(table.Next(b.data()), 0);  // the stream holds what follows
  const std::int32_t held[] = {8, 1500, 2999};
  for (std::int32_t id : held) {
    table.InitRecord(b.data());
    table.SetField(false, 1, &id, b.data());
    ASSERT_TRUE(table.FindKey(b.data(), false, false, 1, -1, b.data()));
    ASSERT_EQ(table.GetCurrent(b.data(), true), 0);
    const std::string title = "Held " + std::to_string(id);
    table.SetField(false, 2, title.c_str(), b.data());
    table.UpdateRecord(b.data(), true, true);
  }
  table.First();
  std::int32_t count = 0;
  while (table.Next(b.data()) == 0) {
    std::int32_t id = 0;
    table.GetField(false, 1, b.data(), &id);
    const bool isHeld = std::find(std::begin(held), std::end(held), id) != std::end(held);
    EXPECT_EQ(TitleOf(table, b.data()), (isHeld ? "Held " : "Song ") + std::to_string(id));
    ++count;
  }
  EXPECT_EQ(count, kRecords);
}

// Looking a lyric up and reading it is a key search and the opening of its value. The search
// reads the value's blocks under the read lock it took for the record, so the opening finds them
// cached and takes no lock and runs no change check of its own.
TEST(MemoRead, TheValueOfARecordFoundByKeyIsReadUnderTheSearchsLock) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  const std::string name = dir.File("lyrics");
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Lyric", TFieldType::Blob, 0, 0, kSubTypeMemo)};
  t.Indexes = {PrimaryOn({1})};
  testing::CreateTable(name, t);
  constexpr std::int32_t kLyrics = 40;
  auto textOf = [](std::int32_t id) {
    std::string text;
    while (text.size() < 1200 + 20 * static_cast<std::size_t>(id)) text += "verse " + std::to_string(id) + " ";
    return text;
  };
  {
    TDataFile table;
    table.SetFileName(name);
    table.SetExclusive(true);
    table.Open();
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    for (std::int32_t id = 1; id <= kLyrics; ++id) {
      const std::string text = textOf(id);
      table.InitRecord(b.data());
      table.SetField(false, 1, &id, b.data());
      ASSERT_EQ(table.OpenBlob(false, 2, kBlobOpenReadWrite, b.data()), 0);
      ASSERT_EQ(table.WriteBlob(false, 2, 0, static_cast<std::uint32_t>(text.size()), text.data(), b.data()), 0);
      table.InsertRecord(b.data());
      table.CloseBlob(false, 2, b.data());
    }
  }
  int locks = 0;
  TDataFile table;
  OpenCountingLocks(table, name, locks);
  table.SelectIndex(0);
  std::vector<std::uint8_t> b(table.RecordBufferSize());
  const int before = locks;
  for (std::int32_t k = 0; k < kLyrics; ++k) {
    const std::int32_t id = (k * 17) % kLyrics + 1;  // every lyric once, never a neighbour's
    SCOPED_TRACE(id);
    table.DropRecordCache();  // as in a large table, where the record of a lookup is rarely cached
    table.InitRecord(b.data());
    table.SetField(false, 1, &id, b.data());
    ASSERT_TRUE(table.FindKey(b.data(), false, false, 1, -1, b.data()));
    ASSERT_EQ(table.OpenBlob(false, 2, kBlobOpenRead, b.data()), 0);
    std::uint32_t size = 0;
    ASSERT_EQ(table.GetBlobSize(false, 2, b.data(), size), 0);
    std::string text(size, '\0');
    std::uint32_t got = 0;
    ASSERT_EQ(table.ReadBlob(false, 2, 0, size, text.data(), b.data(), got), 0);
    EXPECT_EQ(text, textOf(id));
    table.CloseBlob(false, 2, b.data());
  }
  // One read lock a lyric is two lock calls (the index and BLOB files' shared slots); a lock for
  // the search and another for the opening would be four.
  EXPECT_LE(locks - before, 2 * kLyrics + 2);
}

}  // namespace
}  // namespace quillon::engine
