// BLOB values: block counts, chain reuse, the empty value, values of every size, the cursor
// operations' result codes, the block cache, scrambling and sharing between cursors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/file_session.h"
#include "engine/tests/blob_fixture.h"

namespace quillon::engine {
namespace {

using testing::BlobTest;
using testing::ErrorCode;
using testing::kIdField;
using testing::kMemo;
using testing::kNotes;
using testing::Pattern;
using testing::TBuffer;

using Blob = BlobTest;

std::uint32_t U32(const std::string& s, std::size_t at) {
  return GetU32(reinterpret_cast<const std::uint8_t*>(s.data() + at));
}

TEST_F(Blob, ValueLengthsTakeTheBlocksTheirLengthNeeds) {
  struct Case {
    std::uint32_t blockSize;
    std::size_t length;
    std::vector<std::uint16_t> used;  // per block of the chain
  };
  const Case cases[] = {
      {512, 494, {494}}, {512, 495, {494, 1}}, {512, 1000, {494, 494, 12}}, {64, 46, {46}},       {64, 47, {46, 1}},
      {64, 1, {1}},      {4096, 4078, {4078}}, {4096, 4079, {4078, 1}},     {100, 164, {82, 82}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.blockSize) + " / " + std::to_string(c.length));
    if (table.Opened()) table.Close();
    name = dir.File("t" + std::to_string(n++));
    Create(c.blockSize);
    std::uint32_t r = AddRecord(Pattern(c.length));
    WriteBack();
    auto chain = ChainOf(r);
    ASSERT_EQ(chain.size(), c.used.size());
    for (std::size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(chain[i].UsedBytes, c.used[i]);
    EXPECT_EQ(Blobs().NextBlockOffset(), 512 + c.used.size() * c.blockSize);
    Reopen();
    EXPECT_EQ(ValueOf(r), Pattern(c.length));
    ExpectSound();
  }
}

TEST_F(Blob, FileLayoutIsByteExact) {
  Create();
  std::uint32_t r = AddRecord(Pattern(1000));
  table.Close();
  std::string blb = dir.Read("songs.BLB");
  ASSERT_EQ(blb.size(), 512u + 3 * 512);
  EXPECT_EQ(U32(blb, 0), 2u);  // created, then written once
  EXPECT_EQ(U32(blb, 4), 0u);
  EXPECT_EQ(blb[8], 3);
  EXPECT_EQ(U32(blb, 9), 0u);            // no free block
  EXPECT_EQ(U32(blb, 13), 512u + 1536);  // NextBlockOffset
  EXPECT_EQ(blb.substr(18, 494), std::string(494, '\0'));
  const std::uint32_t prev[] = {0, 512, 1024}, next[] = {1024, 1536, 0}, total[] = {1000, 0, 0};
  const std::uint16_t used[] = {494, 494, 12};
  std::string joined;
  for (int k = 0; k < 3; ++k) {
    std::size_t at = 512 + k * 512;
    EXPECT_EQ(U32(blb, at), prev[k]);
    EXPECT_EQ(U32(blb, at + 4), next[k]);
    EXPECT_EQ(GetU16(reinterpret_cast<const std::uint8_t*>(blb.data() + at + 8)), used[k]);
    EXPECT_EQ(U32(blb, at + 10), r);
    EXPECT_EQ(U32(blb, at + 14), total[k]);
    joined += blb.substr(at + 18, used[k]);
  }
  EXPECT_EQ(joined, Pattern(1000));
  EXPECT_EQ(blb.substr(1536 + 18 + 12), std::string(494 - 12, '\0'));
  // The record's slot holds the first block's offset and its null byte says "value present".
  std::string dat = dir.Read("songs.DAT");
  std::size_t rec = 127 + 3 * 768;
  EXPECT_EQ(dat[rec + 14], 1);
  EXPECT_EQ(U32(dat, rec + 15), 512u);
  EXPECT_EQ(dat[rec + 19], 0);  // the empty Notes value
  EXPECT_EQ(U32(dat, rec + 20), 0u);
}

TEST_F(Blob, BlockSizeStoredAsZeroMeans512) {
  Create(64);
  table.Close();
  PatchU32(name + ".DAT", 4, 0);
  Open();
  EXPECT_EQ(Blobs().BlockSize(), 512u);
  std::uint32_t r = AddRecord(Pattern(1000));
  auto chain = ChainOf(r);
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(chain[2].UsedBytes, 12);
  Reopen();
  EXPECT_EQ(ValueOf(r), Pattern(1000));
}

// A new value never goes into the blocks its record still names on disk: it takes blocks of
// its own, and the old chain is freed once the record is written, for the next values.
TEST_F(Blob, ShorterValueTakesNewBlocksAndTheOldChainServesTheNextValue) {
  Create();
  std::uint32_t a = AddRecord(Pattern(1000, 1));
  WriteBack();
  auto before = ChainOf(a);
  ASSERT_EQ(before.size(), 3u);
  Rewrite(a, kMemo, Pattern(100, 2));
  EXPECT_TRUE(FreeList().empty());  // the record on disk still names the old chain
  WriteBack();
  auto after = ChainOf(a);
  ASSERT_EQ(after.size(), 1u);
  for (const auto& block : before) EXPECT_NE(after[0].Offset, block.Offset);
  std::vector<std::uint32_t> freed = FreeList();
  EXPECT_EQ(freed, (std::vector<std::uint32_t>{before[0].Offset, before[1].Offset, before[2].Offset}));
  ExpectSound();

  std::uint32_t end = Blobs().NextBlockOffset();
  auto reused = Blobs().Statistics().BlocksReused;
  std::uint32_t b = AddRecord(Pattern(600, 3));
  WriteBack();
  auto chainB = ChainOf(b);
  ASSERT_EQ(chainB.size(), 2u);
  EXPECT_EQ(chainB[0].Offset, before[0].Offset);
  EXPECT_EQ(chainB[1].Offset, before[1].Offset);
  EXPECT_EQ(Blobs().NextBlockOffset(), end);
  EXPECT_EQ(Blobs().FreeBlockHead(), before[2].Offset);
  EXPECT_EQ(Blobs().Statistics().BlocksReused, reused + 2);
  Reopen();
  EXPECT_EQ(ValueOf(a), Pattern(100, 2));
  EXPECT_EQ(ValueOf(b), Pattern(600, 3));
  ExpectSound();
}

TEST_F(Blob, LongerValueTakesANewChainAndTheOldOneIsFreedAtClose) {
  Create();
  std::uint32_t a = AddRecord(Pattern(700, 1));
  auto before = ChainOf(a);
  ASSERT_EQ(before.size(), 2u);
  Rewrite(a, kMemo, Pattern(2000, 2));
  auto after = ChainOf(a);
  ASSERT_EQ(after.size(), 5u);
  for (const auto& block : after) {
    EXPECT_NE(block.Offset, before[0].Offset);
    EXPECT_NE(block.Offset, before[1].Offset);
  }
  Reopen();
  EXPECT_EQ(ValueOf(a), Pattern(2000, 2));
  EXPECT_EQ(FreeList(), (std::vector<std::uint32_t>{before[0].Offset, before[1].Offset}));
  ExpectSound();
}

TEST_F(Blob, TheEmptyValueFreesTheWholeChainAndStoresZero) {
  Create();
  std::uint32_t a = AddRecord(Pattern(1000), Pattern(10));
  auto chain = ChainOf(a);
  Rewrite(a, kMemo, "");
  WriteBack();
  TBuffer stored = Stored(a);
  EXPECT_EQ(SlotOf(stored, kMemo), 0);
  EXPECT_EQ(NullByteOf(stored, kMemo), 0);
  EXPECT_NE(SlotOf(stored, kNotes), 0);  // the other field is untouched
  EXPECT_EQ(FreeList().size(), 3u);
  Reopen();
  EXPECT_EQ(ValueOf(a), "");
  EXPECT_EQ(ValueOf(a, kNotes), Pattern(10));
  ExpectSound();
}

TEST_F(Blob, ValuesOfEverySizeReadBackAfterReopening) {
  const std::size_t lengths[] = {0, 1, 493, 494, 495, 988, 989, 65535, 65536 + 7, 3 * 1024 * 1024 + 11};
  for (bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory ? "in memory" : "on disk");
    if (table.Opened()) table.Close();
    name = dir.File(inMemory ? "mem" : "disk");
    Create(MemoTable(), inMemory);
    std::vector<std::uint32_t> records;
    unsigned seed = 1;
    for (std::size_t length : lengths) {
      std::string memo = Pattern(length, seed++);
      std::string notes = Pattern(length / 3, seed++);
      records.push_back(AddRecord(memo, notes));
    }
    WriteBack();
    Reopen();
    seed = 1;
    for (std::size_t i = 0; i < records.size(); ++i) {
      SCOPED_TRACE(lengths[i]);
      EXPECT_EQ(ValueOf(records[i]), Pattern(lengths[i], seed++));
      EXPECT_EQ(ValueOf(records[i], kNotes), Pattern(lengths[i] / 3, seed++));
    }
    ExpectSound();
  }
}

TEST_F(Blob, OverwritingBytesInsideAValueIsStoredOnTheNextPost) {
  Create();
  std::uint32_t a = AddRecord("abcdefgh");
  TBuffer b = Stored(a);
  ASSERT_EQ(table.OpenBlob(false, kMemo, kBlobOpenReadWrite, b.data()), 0);
  ASSERT_EQ(table.WriteBlob(false, kMemo, 2, 2, "XY", b.data()), 0);
  Post(b, a);
  table.CloseAllBlobs();
  Reopen();
  EXPECT_EQ(ValueOf(a), "abXYefgh");
}

TEST_F(Blob, WritingPastTheEndFillsWithZerosAndTruncateCutsOrGrows) {
  Create();
  TBuffer b = NewBuffer();
  ASSERT_EQ(table.OpenBlob(false, kMemo, kBlobOpenReadWrite, b.data()), 0);
  ASSERT_EQ(table.WriteBlob(false, kMemo, 5, 3, "xyz", b.data()), 0);
  std::uint32_t size = 0;
  ASSERT_EQ(table.GetBlobSize(false, kMemo, b.data(), size), 0);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(NullByteOf(b, kMemo), 1);
  char out[8];
  std::uint32_t got = 0;
  ASSERT_EQ(table.ReadBlob(false, kMemo, 0, 8, out, b.data(), got), 0);
  EXPECT_EQ(std::string(out, 8), std::string("\0\0\0\0\0xyz", 8));
  ASSERT_EQ(table.TruncateBlob(false, kMemo, 6, b.data()), 0);
  ASSERT_EQ(table.TruncateBlob(false, kMemo, 7, b.data()), 0);
  ASSERT_EQ(table.ReadBlob(false, kMemo, 0, 7, out, b.data(), got), 0);
  EXPECT_EQ(std::string(out, 7), std::string("\0\0\0\0\0x\0", 7));
  ASSERT_EQ(table.TruncateBlob(false, kMemo, 0, b.data()), 0);
  EXPECT_EQ(NullByteOf(b, kMemo), 0);
}

TEST_F(Blob, ReadingPastTheEndReturnsWhatThereIsAnd8711) {
  Create();
  std::uint32_t a = AddRecord("0123456789");
  TBuffer b = Stored(a);
  ASSERT_EQ(table.OpenBlob(false, kMemo, kBlobOpenRead, b.data()), 0);
  struct Case {
    std::uint32_t offset, count;
    int code;
    std::string bytes;
  };
  const Case cases[] = {
      {9, 10, err::kEndOfBlob, "9"}, {0, 10, 0, "0123456789"},     {10, 0, 0, ""},
      {10, 1, err::kEndOfBlob, ""},  {11, 0, err::kEndOfBlob, ""}, {0xFFFFFFFF, 2, err::kEndOfBlob, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.count));
    char out[16] = {};
    std::uint32_t got = 99;
    EXPECT_EQ(table.ReadBlob(false, kMemo, c.offset, c.count, out, b.data(), got), c.code);
    EXPECT_EQ(std::string(out, got), c.bytes);
  }
}

TEST_F(Blob, OperationsAnswerTheirCodes) {
  Create();
  TBuffer b = NewBuffer();
  char byte = 0;
  std::uint32_t n = 0;
  // Not a BLOB field: an integer field, numbers outside the list.
  for (int field : {kIdField, 0, 4, -1}) {
    SCOPED_TRACE(field);
    EXPECT_EQ(table.OpenBlob(false, field, kBlobOpenRead, b.data()), err::kInvalidBlobField);
    EXPECT_EQ(table.CloseBlob(false, field, b.data()), err::kInvalidBlobField);
    EXPECT_EQ(table.ReadBlob(false, field, 0, 1, &byte, b.data(), n), err::kInvalidBlobField);
    EXPECT_EQ(table.WriteBlob(false, field, 0, 1, &byte, b.data()), err::kInvalidBlobField);
    EXPECT_EQ(table.TruncateBlob(false, field, 0, b.data()), err::kInvalidBlobField);
    EXPECT_EQ(table.GetBlobSize(false, field, b.data(), n), err::kInvalidBlobField);
    EXPECT_FALSE(table.BlobIsOpen(false, field, b.data()));
  }
  // A BLOB field with no open value.
  EXPECT_EQ(table.CloseBlob(false, kMemo, b.data()), err::kInvalidBlobHandle);
  EXPECT_EQ(table.ReadBlob(false, kMemo, 0, 1, &byte, b.data(), n), err::kInvalidBlobHandle);
  EXPECT_EQ(table.WriteBlob(false, kMemo, 0, 1, &byte, b.data()), err::kInvalidBlobHandle);
  EXPECT_EQ(table.TruncateBlob(false, kMemo, 0, b.data()), err::kInvalidBlobHandle);
  EXPECT_EQ(table.GetBlobSize(false, kMemo, b.data(), n), err::kInvalidBlobHandle);
  EXPECT_FALSE(table.BlobIsOpen(false, kMemo, b.data()));
  // A negative slot that is no value of this cursor.
  PutI32(b.data() + table.GetFieldDescriptor(false, kMemo).Offset + 1, -12345);
  EXPECT_EQ(table.OpenBlob(false, kMemo, kBlobOpenRead, b.data()), err::kInvalidBlobOffset);
  EXPECT_EQ(table.CloseBlob(false, kMemo, b.data()), err::kInvalidBlobHandle);
  // A value open in another cursor is foreign here too.
  TBuffer c = NewBuffer();
  ASSERT_EQ(table.OpenBlob(false, kMemo, kBlobOpenRead, c.data()), 0);
  EXPECT_LT(SlotOf(c, kMemo), 0);
  TDataFile other;
  {
    testing::CreateTable(dir.File("other"), MemoTable());
    other.SetFileName(dir.File("other"));
    other.SetExclusive(true);
    other.Open();
  }
  EXPECT_EQ(other.OpenBlob(false, kMemo, kBlobOpenRead, c.data()), err::kInvalidBlobOffset);
  // Opening an open value again is fine and changes nothing.
  std::int32_t handle = SlotOf(c, kMemo);
  EXPECT_EQ(table.OpenBlob(false, kMemo, kBlobOpenRead, c.data()), 0);
  EXPECT_EQ(SlotOf(c, kMemo), handle);
  EXPECT_EQ(Blobs().OpenBlobCount(), 1);
  EXPECT_TRUE(table.BlobIsOpen(false, kMemo, c.data()));
  // The logical list names the same fields.
  EXPECT_EQ(table.GetBlobSize(true, kMemo, c.data(), n), 0);
  // Closing puts the offset form back.
  EXPECT_EQ(table.CloseBlob(false, kMemo, c.data()), 0);
  EXPECT_EQ(SlotOf(c, kMemo), 0);
  EXPECT_EQ(NullByteOf(c, kMemo), 0);
}

TEST_F(Blob, SixtyFourValuesMayBeOpenAndTheSixtyFifthIsRefused) {
  Create();
  std::vector<TBuffer> buffers(33, NewBuffer());
  int opened = 0;
  for (auto& b : buffers) {
    for (int field : {kMemo, kNotes}) {
      if (opened == kMaxOpenBlobs) break;
      ASSERT_EQ(table.OpenBlob(false, field, kBlobOpenReadWrite, b.data()), 0);
      ++opened;
    }
  }
  TBuffer& last = buffers.back();
  EXPECT_EQ(table.OpenBlob(false, kMemo, kBlobOpenReadWrite, last.data()), err::kTooManyBlobs);
  EXPECT_EQ(SlotOf(last, kMemo), 0);  // the slot is left as it was
  // Handles are all different.
  std::vector<std::int32_t> handles;
  for (auto& b : buffers)
    for (int field : {kMemo, kNotes})
      if (SlotOf(b, field) < 0) handles.push_back(SlotOf(b, field));
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end());
  EXPECT_EQ(handles.size(), 64u);
  EXPECT_EQ(table.CloseBlob(false, kMemo, buffers[0].data()), 0);
  EXPECT_EQ(table.OpenBlob(false, kMemo, kBlobOpenReadWrite, last.data()), 0);
  table.CloseAllBlobs();
  EXPECT_EQ(Blobs().OpenBlobCount(), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(table.GetBlobSize(false, kMemo, last.data(), size), err::kInvalidBlobHandle);
}

TEST_F(Blob, CloseDropsUnsavedChanges) {
  Create();
  std::uint32_t a = AddRecord("kept");
  TBuffer b = Stored(a);
  SetValue(b, kMemo, "dropped");
  ASSERT_EQ(table.CloseBlob(false, kMemo, b.data()), 0);
  EXPECT_EQ(SlotOf(b, kMemo), SlotOf(Stored(a), kMemo));
  EXPECT_EQ(NullByteOf(b, kMemo), 1);
  EXPECT_EQ(ValueOf(a), "kept");
}

TEST_F(Blob, AValueStaysOpenAcrossPostsAndFollowsItsChain) {
  Create();
  TBuffer b = NewBuffer();
  SetValue(b, kMemo, Pattern(1000, 1));
  std::int32_t handle = SlotOf(b, kMemo);
  std::uint32_t a = Post(b);
  EXPECT_EQ(SlotOf(b, kMemo), handle);  // the caller's buffer keeps the open value
  EXPECT_EQ(SlotOf(Stored(a), kMemo), 512);
  // A second post of the same open value with a shorter text moves it to a new chain; the old
  // one is freed once the record is written.
  ASSERT_EQ(table.TruncateBlob(false, kMemo, 10, b.data()), 0);
  Post(b, a);
  const std::int32_t moved = SlotOf(Stored(a), kMemo);
  EXPECT_NE(moved, 512);
  WriteBack();
  EXPECT_EQ(FreeList().size(), 3u);
  ASSERT_EQ(table.CloseBlob(false, kMemo, b.data()), 0);
  EXPECT_EQ(SlotOf(b, kMemo), moved);
  Reopen();
  EXPECT_EQ(ValueOf(a), Pattern(10, 1));
  ExpectSound();
}

TEST_F(Blob, PostingACopyOfAnotherRecordGivesTheNewRecordItsOwnChain) {
  Create();
  std::uint32_t a = AddRecord(Pattern(1000, 1));
  TBuffer copy = Stored(a);
  ASSERT_EQ(table.OpenBlob(false, kMemo, kBlobOpenRead, copy.data()), 0);
  std::uint32_t b = Post(copy);  // posted as a new record, the value unchanged
  table.CloseAllBlobs();
  EXPECT_NE(SlotOf(Stored(b), kMemo), SlotOf(Stored(a), kMemo));
  ExpectSound();
  Rewrite(b, kMemo, "");  // freeing the copy leaves the original alone
  Reopen();
  EXPECT_EQ(ValueOf(a), Pattern(1000, 1));
  EXPECT_EQ(ValueOf(b), "");
  ExpectSound();
}

TEST_F(Blob, OnlyTheValuesOfThePostedBufferAreStored) {
  Create();
  std::uint32_t a = AddRecord("first");
  std::uint32_t b = AddRecord("second");
  TBuffer other = Stored(a);
  SetValue(other, kMemo, "changed but not posted");
  TBuffer posted = Stored(b);
  Post(posted, b);
  EXPECT_EQ(ValueOf(a), "first");
  EXPECT_EQ(ValueOf(b), "second");
  ExpectSound();
}

TEST_F(Blob, FreeRecordBlobsFreesEveryChainAndClearsTheFields) {
  Create();
  std::uint32_t a = AddRecord(Pattern(1000), Pattern(600));
  std::uint32_t keep = AddRecord(Pattern(50));
  TRecord* r = table.FetchRecord(a);
  table.FreeRecordBlobs(r->Data.data());
  r->Data[0] = 1;  // deleted, as DeleteRecord marks it
  table.MarkDirty(r);
  table.UnpinRecord(r);
  TBuffer stored = Stored(a);
  for (int field : {kMemo, kNotes}) {
    EXPECT_EQ(SlotOf(stored, field), 0);
    EXPECT_EQ(NullByteOf(stored, field), 0);
  }
  EXPECT_TRUE(FreeList().empty());  // until the deleted record is written
  WriteBack();
  EXPECT_EQ(FreeList().size(), 5u);
  ExpectSound();
  Reopen();
  EXPECT_EQ(ValueOf(keep), Pattern(50));
}

TEST_F(Blob, EmptyTableEmptiesTheBlobFile) {
  Create();
  AddRecord(Pattern(5000));
  WriteBack();
  table.EmptyTable();
  EXPECT_EQ(Blobs().NextBlockOffset(), 512u);
  EXPECT_EQ(Blobs().FreeBlockHead(), 0u);
  table.Close();
  EXPECT_EQ(dir.Read("songs.BLB").size(), 512u);
  Open();
  std::uint32_t a = AddRecord("again");
  EXPECT_EQ(SlotOf(Stored(a), kMemo), 512);
}

TEST_F(Blob, RunningOutOfRoomLeavesTheOldValueAndTheFreeList) {
  Create();
  std::uint32_t a = AddRecord(Pattern(100, 1));
  std::uint32_t b = AddRecord(Pattern(100, 2));
  Rewrite(b, kMemo, "");
  table.Close();
  // Pretend the file has grown to its limit: the next appended block would lie beyond it.
  PatchU32(BlobPath(), 13, 512 + 3906250u * 512);
  Open();
  std::uint32_t freeHead = Blobs().FreeBlockHead();
  ASSERT_NE(freeHead, 0u);
  TBuffer buffer = Stored(a);
  SetValue(buffer, kMemo, Pattern(1500, 3));
  Blobs().SetOwner(a, buffer.data());
  EXPECT_EQ(ErrorCode([&] { Blobs().StoreModified(buffer.data()); }), err::kFileFull);
  EXPECT_EQ(Blobs().FreeBlockHead(), freeHead);
  table.CloseAllBlobs();
  EXPECT_EQ(ValueOf(a), Pattern(100, 1));
}

TEST_F(Blob, EncryptedTablesScrambleHeaderBlockHeadersAndDataSeparately) {
  TTableDefinition t = MemoTable();
  t.Encrypted = true;
  t.Password = "lyrics";
  Session().AddPassword("lyrics");
  Create(t);
  std::string value = Pattern(600);
  std::uint32_t a = AddRecord(value);
  table.Close();
  std::string blb = dir.Read("songs.BLB");
  ASSERT_EQ(blb.size(), 512u + 2 * 512);
  auto unscrambled = [&](std::size_t at, std::size_t count) {
    std::string part = blb.substr(at, count);
    ScrambleData(reinterpret_cast<std::uint8_t*>(part.data()), part.size());
    return part;
  };
  EXPECT_NE(blb[8], 3);  // the header is scrambled as a whole
  std::string header = unscrambled(0, 512);
  EXPECT_EQ(header[8], 3);
  EXPECT_EQ(U32(header, 13), 512u + 1024);
  std::string block = unscrambled(512, 18);
  EXPECT_EQ(U32(block, 4), 1024u);  // NextBlock
  EXPECT_EQ(U32(block, 10), a);
  EXPECT_EQ(U32(block, 14), 600u);
  EXPECT_EQ(unscrambled(512 + 18, 494), value.substr(0, 494));  // the data part from the seed again
  EXPECT_EQ(unscrambled(1024 + 18, 494).substr(0, 106), value.substr(494));
  EXPECT_EQ(blb.find(value.substr(0, 16)), std::string::npos);
  Open();
  EXPECT_EQ(ValueOf(a), value);
  ExpectSound();
  table.Close();
  Session().RemovePassword("lyrics");
}

TEST_F(Blob, TheCacheReadsAheadAlongAChainAndWritesRunsInOneCall) {
  Create();
  auto writes = Blobs().Statistics().BlockWrites;
  std::uint32_t a = AddRecord(Pattern(20 * 494));
  WriteBack();
  EXPECT_EQ(Blobs().Statistics().BlockWrites, writes + 1);  // 20 adjacent blocks, one write
  Reopen();
  EXPECT_EQ(ValueOf(a), Pattern(20 * 494));
  // The first block tells the length; the other 19 come in one read.
  EXPECT_EQ(Blobs().Statistics().BlockReads, 2u);
  // A chain longer than one read-ahead (65,535 bytes hold 127 blocks of 512) needs more.
  std::uint32_t b = AddRecord(Pattern(300 * 494));
  WriteBack();
  Reopen();
  EXPECT_EQ(ValueOf(b), Pattern(300 * 494));
  EXPECT_EQ(Blobs().Statistics().BlockReads, 1u + 3u);
}

TEST_F(Blob, AnotherCursorSeesARewriteAfterItsChangeCheck) {
  Create();
  std::uint32_t a = AddRecord(Pattern(1000, 1));
  table.Close();
  Open(false);
  TDataFile reader;
  reader.SetFileName(name);
  reader.Open();
  auto readValue = [&] {
    TRecord* r = reader.FetchRecord(a);
    TBuffer b = r->Data;
    reader.UnpinRecord(r);
    EXPECT_EQ(reader.OpenBlob(false, kMemo, kBlobOpenRead, b.data()), 0);
    std::uint32_t size = 0, got = 0;
    reader.GetBlobSize(false, kMemo, b.data(), size);
    std::string out(size, '\0');
    reader.ReadBlob(false, kMemo, 0, size, out.data(), b.data(), got);
    reader.CloseBlob(false, kMemo, b.data());
    reader.ReleaseReadLock();  // taken at the cache misses, held to the end of the operation
    return out;
  };
  EXPECT_EQ(readValue(), Pattern(1000, 1));
  // Same length: the value still moves to a new chain, so the record changes with it (its
  // header written as a record operation writes it).
  table.AcquireWriteLock();
  Rewrite(a, kMemo, Pattern(1000, 2));
  WriteBack();
  table.WriteHeader(true);
  table.ReleaseWriteLock();
  EXPECT_TRUE(reader.Refresh());
  EXPECT_EQ(readValue(), Pattern(1000, 2));
  reader.Close();
  table.Close();
}

TEST_F(Blob, AReaderThatMissesTheCacheReadsTheFreshFile) {
  Create();
  std::uint32_t a = AddRecord(Pattern(1000, 1));
  table.Close();
  Open(false);
  TDataFile reader;
  reader.SetFileName(name);
  reader.Open();
  TRecord* r = reader.FetchRecord(a);  // the record is cached; no block of the value is
  TBuffer b = r->Data;
  reader.UnpinRecord(r);
  reader.ReleaseReadLock();
  // The other cursor replaces the value with a longer one in a new chain past the end of the
  // file the reader knows; the old chain is freed, its blocks as they were.
  table.AcquireWriteLock();
  Rewrite(a, kMemo, Pattern(3000, 2));
  WriteBack();
  table.WriteHeader(true);
  table.ReleaseWriteLock();
  auto read = [&](TBuffer& record) {
    EXPECT_EQ(reader.OpenBlob(false, kMemo, kBlobOpenRead, record.data()), 0);
    EXPECT_FALSE(reader.LockState().Read);  // released again by OpenBlob
    std::uint32_t size = 0, got = 0;
    EXPECT_EQ(reader.GetBlobSize(false, kMemo, record.data(), size), 0);
    std::string out(size, '\0');
    EXPECT_EQ(reader.ReadBlob(false, kMemo, 0, size, out.data(), record.data(), got), 0);
    reader.CloseBlob(false, kMemo, record.data());
    return out;
  };
  // The old record names the old chain, whose blocks still hold its value whole.
  EXPECT_TRUE(read(b) == Pattern(1000, 1));
  // The change check of that read found the new headers and dropped the cached record: read
  // again, it names the new chain, beyond the end the old header knew.
  r = reader.FetchRecord(a);
  TBuffer fresh = r->Data;
  reader.UnpinRecord(r);
  reader.ReleaseReadLock();
  EXPECT_TRUE(read(fresh) == Pattern(3000, 2));
  reader.Close();
  table.Close();
}

TEST_F(Blob, DeferredChangesGrowTheBlockCacheInsteadOfWriting) {
  Create();
  table.Close();
  Open(false);
  table.AcquireTransactionLock();
  int capacity = Blobs().BlockCacheCapacity();
  std::uint32_t a = AddRecord(Pattern(600 * 1024));
  EXPECT_EQ(Blobs().Statistics().BlockWrites, 0u);
  EXPECT_GT(Blobs().BlockCacheCapacity(), capacity);
  EXPECT_EQ(ValueOf(a), Pattern(600 * 1024));
  table.ReleaseTransactionLock();
  // Outside the deferred mode a full cache writes its dirty blocks to make room.
  Reopen();
  std::uint32_t b = AddRecord(Pattern(600 * 1024, 2));
  EXPECT_GT(Blobs().Statistics().BlockWrites, 0u);
  WriteBack();
  Reopen();
  EXPECT_EQ(ValueOf(b), Pattern(600 * 1024, 2));
}

TEST_F(Blob, ABlockPinnedSixtyFourTimesRefusesTheNextPin) {
  Create();
  AddRecord("x");
  std::vector<TBlock*> pins;
  for (int i = 0; i < 64; ++i) pins.push_back(Blobs().GetBlock(512));
  EXPECT_EQ(ErrorCode([&] { Blobs().GetBlock(512); }), err::kBlobBuffersCorrupt);
  for (TBlock* p : pins) Blobs().UnpinBlock(p);
  EXPECT_EQ(pins.front()->PinCount, 0);
}

}  // namespace
}  // namespace quillon::engine
