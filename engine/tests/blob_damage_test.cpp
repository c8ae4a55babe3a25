// Damaged BLOB files: broken chains give their documented codes and are left as they were,
// never a crash, an endless walk or a write into another record's value; the verifier names
// the damage.
#include <gtest/gtest.h>

#include "engine/tests/blob_fixture.h"

namespace quillon::engine {
namespace {

using testing::BlobTest;
using testing::ErrorCode;
using testing::kMemo;
using testing::Pattern;
using testing::TBuffer;

// Record 1 holds a 1,000-byte memo in blocks 512, 1024 and 1536; record 2 one in 2048, 2560 and
// 3072. Block header fields: Prev +0, Next +4, UsedBytes +8, Owner +10, TotalLength +14.
class BlobDamage : public BlobTest {
 protected:
  void SetUp() override {
    BlobTest::SetUp();
    Create();
    ASSERT_EQ(AddRecord(Pattern(1000, 1)), 1u);
    ASSERT_EQ(AddRecord(Pattern(1000, 2)), 2u);
    table.Close();
  }
  void PatchU16(std::uint32_t offset, std::uint16_t value) {
    std::uint8_t b[2];
    PutU16(b, value);
    Patch(BlobPath(), offset, std::string(reinterpret_cast<char*>(b), 2));
  }
  // OpenBlob's answer, or the code it raised.
  int OpenCode(std::uint32_t record, int mode) {
    TBuffer b = Stored(record);
    int answer = 0;
    int raised = ErrorCode([&] { answer = table.OpenBlob(false, kMemo, mode, b.data()); });
    table.CloseAllBlobs();
    return raised != 0 ? raised : answer;
  }
  std::size_t RecordSlot() const { return 127 + 3 * 768 + 15; }
};

TEST_F(BlobDamage, BrokenChainsGiveTheirCodesInBothModes) {
  enum Where { kBlb, kDat };
  struct Case {
    const char* what;
    Where file;
    std::uint32_t at;
    int width;
    std::uint32_t value;
    int readWrite, readOnly;
  };
  const std::uint32_t slot = static_cast<std::uint32_t>(RecordSlot());
  const Case cases[] = {
      {"a loop back to the first block", kBlb, 1024 + 4, 4, 512, err::kBlobBuffersCorrupt, err::kBlobBuffersCorrupt},
      {"a block owned by another record", kBlb, 1024 + 10, 4, 2, err::kBlobBuffersCorrupt, err::kBlobBuffersCorrupt},
      {"a link into another record's chain", kBlb, 1024 + 4, 4, 2048, err::kBlobBuffersCorrupt,
       err::kBlobBuffersCorrupt},
      {"the first block owned by another record", kBlb, 512 + 10, 4, 2, err::kBlobBuffersCorrupt, 0},
      {"a chain shorter than TotalLength", kBlb, 512 + 14, 4, 1500, err::kEndOfBlob, err::kEndOfBlob},
      {"a block with fewer bytes than the chain needs", kBlb, 1024 + 8, 2, 100, err::kEndOfBlob, err::kEndOfBlob},
      {"a TotalLength beyond anything the file holds", kBlb, 512 + 14, 4, 0x7FFFFFF0, err::kEndOfBlob, err::kEndOfBlob},
      {"UsedBytes beyond the block", kBlb, 512 + 8, 2, 600, err::kBlobBuffersCorrupt, err::kBlobBuffersCorrupt},
      {"a link off the block grid", kBlb, 1024 + 4, 4, 1000, err::kInvalidBlobOffset, err::kInvalidBlobOffset},
      {"a link beyond the last block", kBlb, 1024 + 4, 4, 512 + 100 * 512, err::kInvalidBlobOffset,
       err::kInvalidBlobOffset},
      {"a slot off the block grid", kDat, slot, 4, 700, err::kInvalidBlobOffset, err::kInvalidBlobOffset},
      {"a slot beyond the last block", kDat, slot, 4, 1u << 30, err::kInvalidBlobOffset, err::kInvalidBlobOffset},
  };
  std::string blb = dir.Read("songs.BLB"), dat = dir.Read("songs.DAT");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.Write("songs.BLB", blb);
    dir.Write("songs.DAT", dat);
    if (c.width == 2) {
      PatchU16(c.at, static_cast<std::uint16_t>(c.value));
    } else {
      PatchU32(c.file == kBlb ? BlobPath() : name + ".DAT", c.at, c.value);
    }
    Open();
    EXPECT_EQ(OpenCode(1, kBlobOpenReadWrite), c.readWrite);
    EXPECT_EQ(OpenCode(1, kBlobOpenRead), c.readOnly);
    EXPECT_EQ(Blobs().OpenBlobCount(), 0);
    EXPECT_EQ(ValueOf(2), Pattern(1000, 2));  // the neighbour is unharmed
    EXPECT_FALSE(VerifyBlobFile(table).Ok());
    table.Close();
  }
}

TEST_F(BlobDamage, AFirstBlockOfAnotherOwnerReadsAsEmptyWhenOpenedForReading) {
  PatchU32(BlobPath(), 512 + 10, 2);
  Open();
  TBuffer b = Stored(1);
  ASSERT_EQ(table.OpenBlob(false, kMemo, kBlobOpenRead, b.data()), 0);
  std::uint32_t size = 99;
  EXPECT_EQ(table.GetBlobSize(false, kMemo, b.data(), size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(NullByteOf(b, kMemo), 0);
}

TEST_F(BlobDamage, FreeingABrokenChainChangesNothing) {
  PatchU32(BlobPath(), 1536 + 4, 1024);  // the last block leads back into the chain
  Open();
  TRecord* r = table.FetchRecord(1);
  TBuffer before = r->Data;
  EXPECT_EQ(ErrorCode([&] { table.FreeRecordBlobs(r->Data.data()); }), err::kInvalidBlobOffset);
  EXPECT_EQ(r->Data, before);
  table.UnpinRecord(r);
  EXPECT_EQ(Blobs().FreeBlockHead(), 0u);
  EXPECT_EQ(ValueOf(1), Pattern(1000, 1));  // TotalLength still ends the read before the loop
}

TEST_F(BlobDamage, FreeingTwoFieldsThatShareBlocksChangesNothing) {
  // Both fields of record 1 name the same chain.
  PatchU32(name + ".DAT", RecordSlot() + 5, 512);
  Patch(name + ".DAT", RecordSlot() + 4, std::string(1, '\1'));
  Open();
  TRecord* r = table.FetchRecord(1);
  EXPECT_EQ(ErrorCode([&] { table.FreeRecordBlobs(r->Data.data()); }), err::kInvalidBlobOffset);
  table.UnpinRecord(r);
  EXPECT_EQ(Blobs().FreeBlockHead(), 0u);
}

TEST_F(BlobDamage, StoringOverAChainThatRunsIntoAnotherRecordLeavesThatRecordAlone) {
  // Record 1's last block links on into record 2's chain; TotalLength still ends the reading.
  PatchU32(BlobPath(), 1536 + 4, 2048);
  for (std::size_t length : {std::size_t{3000}, std::size_t{100}}) {
    SCOPED_TRACE(length);
    Open();
    EXPECT_EQ(ValueOf(1), Pattern(1000, 1));
    TBuffer b = Stored(1);
    SetValue(b, kMemo, Pattern(length, 3));
    Blobs().SetOwner(1, b.data());
    EXPECT_EQ(ErrorCode([&] { Blobs().StoreModified(b.data()); }), err::kBlobBuffersCorrupt);
    table.CloseAllBlobs();
    table.Close();
    Open();
    EXPECT_EQ(ValueOf(2), Pattern(1000, 2));
    EXPECT_EQ(ValueOf(1), Pattern(1000, 1));
    EXPECT_EQ(Blobs().FreeBlockHead(), 0u);
    table.Close();
  }
}

TEST_F(BlobDamage, TheVerifierNamesWhatIsWrong) {
  std::string blb = dir.Read("songs.BLB"), dat = dir.Read("songs.DAT");
  Open();
  EXPECT_TRUE(VerifyBlobFile(table).Ok());
  EXPECT_EQ(VerifyBlobFile(table).Values, 2u);
  EXPECT_EQ(VerifyBlobFile(table).ChainBlocks, 6u);
  Rewrite(2, kMemo, "");
  table.Close();
  // Blocks 2048, 2560 and 3072 are free now.
  std::string freed = dir.Read("songs.BLB"), freedDat = dir.Read("songs.DAT");
  struct Case {
    const char* what;
    std::string base;
    std::uint32_t at, value;
    const char* expected;
  };
  const Case cases[] = {
      {"loop", blb, 1024 + 4, 512, "met twice"},
      {"foreign block", blb, 1024 + 10, 2, "owned by record 2"},
      {"shared block", blb, 1536 + 4, 2048, "also in the chain of record"},
      {"wrong back link", blb, 1024, 1536, "PrevBlock"},
      {"length", blb, 512 + 14, 999, "TotalLength 999 but 1000 bytes used"},
      {"free block in a chain", freed, 9, 512, "also in the chain of record 1"},
      {"free list loop", freed, 2560 + 4, 2048, "met twice in the free list"},
      {"lost block", freed, 9, 2560, "in no chain and not free"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.Write("songs.BLB", c.base);
    dir.Write("songs.DAT", c.base == freed ? freedDat : dat);
    PatchU32(BlobPath(), c.at, c.value);
    Open();
    TBlobFileReport report = VerifyBlobFile(table);
    bool named = false;
    for (const auto& p : report.Problems) named = named || p.find(c.expected) != std::string::npos;
    EXPECT_TRUE(named) << (report.Problems.empty() ? std::string("no problem found") : report.Problems.front());
    table.Close();
  }
}

TEST_F(BlobDamage, DamagedHeadersAreRefusedAtOpen) {
  struct Case {
    std::uint32_t at, value;
    int code;
  };
  const Case cases[] = {{8, 4, err::kWrongVersion},
                        {13, 700, err::kHeaderAccess},
                        {13, 100, err::kHeaderAccess},
                        {9, 600, err::kHeaderAccess},
                        {9, 512 + 50 * 512, err::kHeaderAccess}};
  std::string blb = dir.Read("songs.BLB");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    dir.Write("songs.BLB", blb);
    if (c.at == 8) {
      Patch(BlobPath(), 8, std::string(1, static_cast<char>(c.value)));
    } else {
      PatchU32(BlobPath(), c.at, c.value);
    }
    EXPECT_EQ(ErrorCode([&] { Open(); }), c.code);
    EXPECT_FALSE(table.Opened());
  }
}

}  // namespace
}  // namespace quillon::engine
