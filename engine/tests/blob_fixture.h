// Test support for the BLOB tests: a real table with two memo fields, opened Exclusive, and the
// few steps of the record operations that BLOB values need (post a buffer as a record the way
// InsertRecord and UpdateRecord do, write everything back), done directly on the record cache.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/blob_verifier.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine::testing {

inline constexpr int kIdField = 1;
inline constexpr int kMemo = 2;
inline constexpr int kNotes = 3;

using TBuffer = std::vector<std::uint8_t>;

// Deterministic bytes of every value, so that a block mixed up with another shows.
inline std::string Pattern(std::size_t length, unsigned seed = 1) {
  std::string s(length, '\0');
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

class BlobTest : public EngineTest {
 protected:
  quillon::testing::TempDir dir;
  TDataFile table;
  std::string name = dir.File("songs");

  static TTableDefinition MemoTable(std::uint32_t blockSize = 512) {
    TTableDefinition t;
    t.Fields = {Field("Id", TFieldType::Integer), Field("Memo", TFieldType::Blob), Field("Notes", TFieldType::Blob)};
    t.Indexes = {PrimaryOn({1})};
    t.BlobBlockSize = blockSize;
    return t;
  }

  void Create(const TTableDefinition& definition, bool inMemory = false) {
    CreateTable(name, definition, inMemory);
    table.SetInMemory(inMemory);
    Open();
  }
  void Create(std::uint32_t blockSize = 512) { Create(MemoTable(blockSize)); }
  void Open(bool exclusive = true) {
    table.SetFileName(name);
    table.SetExclusive(exclusive);
    table.Open();
  }
  void Reopen() {
    table.Close();
    Open();
  }
  TBlobFile& Blobs() { return *table.BlobFile(); }

  TBuffer NewBuffer() { return TBuffer(table.RecordBufferSize(), 0); }
  // A copy of the stored record, as the cursor hands it out.
  TBuffer Stored(std::uint32_t number) {
    TRecord* r = table.FetchRecord(number);
    TBuffer copy = r->Data;
    table.UnpinRecord(r);
    return copy;
  }
  std::int32_t SlotOf(const TBuffer& record, int field) {
    return GetI32(record.data() + table.GetFieldDescriptor(false, field).Offset + 1);
  }
  std::uint8_t NullByteOf(const TBuffer& record, int field) {
    return record[table.GetFieldDescriptor(false, field).Offset];
  }

  // Posts the buffer as record `number` (0 = a new record at the end) in the order the record
  // operations use: owner, modified values, offsets into the stored record.
  std::uint32_t Post(TBuffer& buffer, std::uint32_t number = 0) {
    bool append = number == 0;
    if (append) number = table.Header().NextRecordNumber;
    Blobs().SetOwner(number, buffer.data());
    Blobs().StoreModified(buffer.data());
    TRecord* r = table.FetchRecord(number);
    std::copy(buffer.begin() + kRecordHeaderSize, buffer.end(), r->Data.begin() + kRecordHeaderSize);
    r->Data[0] = 0;
    PutU32(r->Data.data() + 1, number);
    Blobs().PutOffsetsIntoRecord(r->Data.data());
    table.MarkDirty(r);
    table.UnpinRecord(r);
    if (append) table.HeaderForUpdate().NextRecordNumber = number + 1;
    PutU32(buffer.data() + 1, number);
    return number;
  }
  void WriteBack() {
    Blobs().WriteBack();
    table.WriteBackRecords();
    table.ReleaseReplacedChains();
    table.WriteHeader(false);
  }

  // Opens the field read-write on the buffer and makes the value exactly `value`.
  void SetValue(TBuffer& buffer, int field, const std::string& value) {
    ASSERT_EQ(table.OpenBlob(false, field, kBlobOpenReadWrite, buffer.data()), 0);
    ASSERT_EQ(table.TruncateBlob(false, field, 0, buffer.data()), 0);
    ASSERT_EQ(table.WriteBlob(false, field, 0, static_cast<std::uint32_t>(value.size()), value.data(), buffer.data()),
              0);
  }
  // A new record holding the values; answers its number.
  std::uint32_t AddRecord(const std::string& memo, const std::string& notes = {}) {
    TBuffer b = NewBuffer();
    SetValue(b, kMemo, memo);
    SetValue(b, kNotes, notes);
    std::uint32_t number = Post(b);
    table.CloseAllBlobs();
    return number;
  }
  // Replaces the value of a stored record, as an edit and post of that record would.
  void Rewrite(std::uint32_t number, int field, const std::string& value) {
    TBuffer b = Stored(number);
    SetValue(b, field, value);
    Post(b, number);
    table.CloseAllBlobs();
  }
  // The stored value, read through a read-only open BLOB.
  std::string ValueOf(std::uint32_t number, int field = kMemo, int mode = kBlobOpenRead) {
    TBuffer b = Stored(number);
    EXPECT_EQ(table.OpenBlob(false, field, mode, b.data()), 0);
    std::uint32_t size = 0, got = 0;
    EXPECT_EQ(table.GetBlobSize(false, field, b.data(), size), 0);
    std::string out(size, '\0');
    EXPECT_EQ(table.ReadBlob(false, field, 0, size, out.data(), b.data(), got), 0);
    EXPECT_EQ(got, size);
    EXPECT_EQ(table.CloseBlob(false, field, b.data()), 0);
    return out;
  }

  struct TChainBlock {
    std::uint32_t Offset;
    std::uint16_t UsedBytes;
  };
  std::vector<TChainBlock> ChainOf(std::uint32_t number, int field = kMemo) {
    std::vector<TChainBlock> chain;
    for (std::uint32_t offset = static_cast<std::uint32_t>(SlotOf(Stored(number), field)); offset != 0;) {
      TBlock* b = Blobs().GetBlock(offset);
      chain.push_back({offset, b->UsedBytes});
      offset = b->NextBlock;
      Blobs().UnpinBlock(b);
      if (chain.size() > 100000) break;
    }
    return chain;
  }
  std::vector<std::uint32_t> FreeList() {
    std::vector<std::uint32_t> list;
    for (std::uint32_t offset = Blobs().FreeBlockHead(); offset != 0 && list.size() < 100000;) {
      list.push_back(offset);
      TBlock* b = Blobs().GetBlock(offset);
      offset = b->NextBlock;
      Blobs().UnpinBlock(b);
    }
    return list;
  }
  void ExpectSound() {
    TBlobFileReport report = VerifyBlobFile(table);
    for (const auto& p : report.Problems) ADD_FAILURE() << p;
  }

  std::string BlobPath() const { return name + ".BLB"; }
  // Overwrites bytes of a closed table file.
  static void Patch(const std::string& path, std::uint32_t offset, const std::string& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static void PatchU32(const std::string& path, std::uint32_t offset, std::uint32_t value) {
    std::uint8_t b[4];
    PutU32(b, value);
    Patch(path, offset, std::string(reinterpret_cast<char*>(b), 4));
  }
};

}  // namespace quillon::engine::testing
