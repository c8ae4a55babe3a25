// VerifyTable: a table built and changed by the record operations is sound; damage written into
// its files is reported with a line that names it, and damage anywhere gives lines, never a
// crash or an endless walk.
#include "engine/table_verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::EngineTest;
using testing::Field;
using testing::PrimaryOn;

constexpr int kId = 1, kName = 2, kMemo = 3;
constexpr int kRecords = 1000;  // the primary index gets a root with children

bool Mentions(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

class TableVerify : public EngineTest {
 protected:
  quillon::testing::TempDir dir;
  TDataFile table;
  std::string name = dir.File("songs");

  void SetUp() override {
    EngineTest::SetUp();
    TTableDefinition t;
    t.Fields = {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, 20),
                Field("Memo", TFieldType::Blob, 0, 0, kSubTypeMemo)};
    TIndexDescriptor byName;
    byName.IndexName = "ByName";
    byName.KeyFieldCount = 1;
    byName.KeyFields[0] = kName;
    t.Indexes = {PrimaryOn({kId}), byName};
    t.BlobBlockSize = 512;
    testing::CreateTable(name, t);
    Open();
    for (int i = 1; i <= kRecords; ++i)
      Insert(i, "song " + std::to_string(i % 37), i == 1 ? std::string(1000, 'x') : "");
    // Three deleted records on the free list: the 2nd, 3rd and 4th in key order.
    for (int k = 0; k < 3; ++k) {
      table.SelectIndex(0);
      table.First();
      std::vector<std::uint8_t> b(table.RecordBufferSize());
      ASSERT_EQ(table.Next(b.data()), 0);
      ASSERT_EQ(table.Next(b.data()), 0);
      table.DeleteRecord(true);
    }
    table.Close();
  }

  void Open(bool exclusive = true) {
    table.SetFileName(name);
    table.SetExclusive(exclusive);
    table.Open();
  }

  void Insert(int id, const std::string& songName, const std::string& memo) {
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    table.InitRecord(b.data());
    std::uint8_t value[4];
    PutI32(value, id);
    table.SetField(false, kId, value, b.data());
    std::vector<char> text(table.GetFieldDescriptor(false, kName).DataSize, 0);
    std::memcpy(text.data(), songName.data(), songName.size());
    table.SetField(false, kName, text.data(), b.data());
    if (!memo.empty()) {
      ASSERT_EQ(table.OpenBlob(false, kMemo, kBlobOpenReadWrite, b.data()), 0);
      ASSERT_EQ(table.WriteBlob(false, kMemo, 0, static_cast<std::uint32_t>(memo.size()), memo.data(), b.data()), 0);
    }
    table.InsertRecord(b.data());
    table.CloseAllBlobs();
  }

  std::vector<std::string> Verify() {
    Open(false);
    std::vector<std::string> lines = VerifyTable(table);
    table.Close();
    return lines;
  }

  std::string Read(const std::string& ext) { return dir.Read("songs." + ext); }
  void Write(const std::string& ext, const std::string& bytes) { dir.Write("songs." + ext, bytes); }
  void PatchU32(const std::string& ext, std::size_t at, std::uint32_t value) {
    std::string bytes = Read(ext);
    ASSERT_LE(at + 4, bytes.size());
    PutU32(reinterpret_cast<std::uint8_t*>(bytes.data() + at), value);
    Write(ext, bytes);
  }
  void PatchByte(const std::string& ext, std::size_t at, std::uint8_t value) {
    std::string bytes = Read(ext);
    ASSERT_LT(at, bytes.size());
    bytes[at] = static_cast<char>(value);
    Write(ext, bytes);
  }

  // Facts of the closed table, read through a cursor.
  struct TFacts {
    std::size_t recordSize = 0, recordsAt = 0;
    std::uint32_t freeHead = 0;
    std::uint32_t primaryRoot = 0;
    int primaryKeyLength = 0;
  };
  TFacts Facts() {
    Open();
    TFacts f;
    f.recordSize = table.Header().RecordSize;
    f.recordsAt = 127 + 768 * static_cast<std::size_t>(table.PhysicalFieldCount());
    f.freeHead = table.Header().FreeRecordHead;
    TIndexDescriptor primary = table.IndexFile().GetIndexDescriptor(0);
    f.primaryRoot = primary.RootPage;
    f.primaryKeyLength = primary.KeyLength;
    table.Close();
    return f;
  }
};

TEST_F(TableVerify, ATableOfTheRecordOperationsIsSound) {
  std::vector<std::string> lines = Verify();
  EXPECT_TRUE(lines.empty()) << Joined(lines);
  // And again after records reuse the free list and more are deleted.
  Open();
  for (int i = 0; i < 5; ++i) Insert(kRecords + 1 + i, "again", i == 0 ? std::string(700, 'y') : "");
  table.SelectIndex(0);
  table.First();
  std::vector<std::uint8_t> b(table.RecordBufferSize());
  ASSERT_EQ(table.Next(b.data()), 0);
  table.DeleteRecord(true);  // the record with the memo
  table.Close();
  lines = Verify();
  EXPECT_TRUE(lines.empty()) << Joined(lines);
}

TEST_F(TableVerify, ARecordMissingFromAnIndex) {
  Open();
  table.SelectIndex(0);
  table.First();
  std::vector<std::uint8_t> b(table.RecordBufferSize());
  ASSERT_EQ(table.Next(b.data()), 0);
  std::uint32_t r = GetU32(b.data() + 1);
  TIndexFile& index = table.IndexFile();
  index.SelectIndex(1);
  index.DeleteKey(index.BuildKey(1, b.data()), r);
  table.Close();
  std::vector<std::string> lines = Verify();
  EXPECT_TRUE(Mentions(lines, "index ByName: record " + std::to_string(r) + " is missing")) << Joined(lines);
  EXPECT_TRUE(Mentions(lines, "index ByName: 996 entries for 997 records")) << Joined(lines);
}

TEST_F(TableVerify, AnEntryWithAKeyNotBuiltFromItsRecord) {
  // A stored Name changed behind the index's back: its ByName entry no longer matches.
  TFacts f = Facts();
  std::size_t record10 = f.recordsAt + 9 * f.recordSize;
  Open();
  std::size_t nameAt = table.GetFieldDescriptor(false, kName).Offset + 1;
  table.Close();
  PatchByte("DAT", record10 + nameAt, 'S');
  std::vector<std::string> lines = Verify();
  EXPECT_TRUE(Mentions(lines, "index ByName: an entry for record 10 with a key not built from it")) << Joined(lines);
  EXPECT_FALSE(Mentions(lines, "index Primary")) << Joined(lines);
}

TEST_F(TableVerify, AWrongSubtreeCount) {
  TFacts f = Facts();
  ASSERT_NE(f.primaryRoot, 0u);
  std::string idx = Read("IDX");
  ASSERT_EQ(static_cast<std::uint8_t>(idx[f.primaryRoot]), kRootWithChildren)
      << "the fixture needs a root with children";
  std::size_t countAt = f.primaryRoot + kPageHeaderSize + f.primaryKeyLength + 4;
  std::uint32_t count = GetU32(reinterpret_cast<const std::uint8_t*>(idx.data() + countAt));
  PatchU32("IDX", countAt, count + 1);
  std::vector<std::string> lines = Verify();
  EXPECT_TRUE(Mentions(lines, "index Primary: ")) << Joined(lines);
  EXPECT_TRUE(Mentions(lines, "index Primary: entries not compared with the records (damaged tree)")) << Joined(lines);
}

TEST_F(TableVerify, ABrokenBlobChain) {
  // Record 1's memo of 1,000 bytes lies in blocks 512, 1024 and 1536; the middle one is given
  // to another owner.
  PatchU32("BLB", 1024 + 10, 2);
  std::vector<std::string> lines = Verify();
  EXPECT_TRUE(Mentions(lines, "BLOB file: ")) << Joined(lines);
}

TEST_F(TableVerify, FreeListDamage) {
  TFacts f = Facts();
  ASSERT_NE(f.freeHead, 0u);
  const std::string dat = Read("DAT");
  auto recordAt = [&](std::uint32_t r) { return f.recordsAt + (r - 1) * f.recordSize; };
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    std::string expected;
  } cases[] = {
      {"the head at a live record", 9, 500, "free list: FreeRecordHead links to live record 500"},
      {"a cycle", recordAt(f.freeHead) + 1, f.freeHead,
       "links back to record " + std::to_string(f.freeHead) + " (a cycle)"},
      {"a deleted record cut off", recordAt(f.freeHead) + 1, 0, "is not on it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("DAT", dat);
    PatchU32("DAT", c.at, c.value);
    std::vector<std::string> lines = Verify();
    EXPECT_TRUE(Mentions(lines, c.expected)) << Joined(lines);
  }
}

TEST_F(TableVerify, ALiveRecordMarkedDeletedBehindTheIndexes) {
  TFacts f = Facts();
  PatchByte("DAT", f.recordsAt + 99 * f.recordSize, 1);
  std::vector<std::string> lines = Verify();
  EXPECT_TRUE(Mentions(lines, "index Primary: an entry for record 100, which is deleted")) << Joined(lines);
  EXPECT_TRUE(Mentions(lines, "free list: deleted record 100 is not on it")) << Joined(lines);
  EXPECT_TRUE(Mentions(lines, "index Sys Deleted: an entry for record 100 with a key not built from it"))
      << Joined(lines);
  EXPECT_TRUE(Mentions(lines, "the index file counts 997 records, the data file holds 996 live ones")) << Joined(lines);
}

TEST_F(TableVerify, RecordHeaderDamage) {
  TFacts f = Facts();
  const std::string dat = Read("DAT");
  Open();
  std::size_t nameNull = table.GetFieldDescriptor(false, kName).Offset;
  table.Close();
  struct Case {
    std::size_t at;
    std::uint32_t value;
    int width;
    const char* expected;
  } cases[] = {
      {f.recordsAt + 199 * f.recordSize, 7, 1, "record 200: Deleted byte 7"},
      {f.recordsAt + 199 * f.recordSize + 5, 201, 4, "row identifier 201 used by more than one record"},
      {f.recordsAt + 199 * f.recordSize + 5, 99999, 4, "record 200: row identifier 99999 outside 1.."},
      {f.recordsAt + 199 * f.recordSize + nameNull, 3, 1, "record 200: field Name has null byte 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Write("DAT", dat);
    if (c.width == 1) {
      PatchByte("DAT", c.at, static_cast<std::uint8_t>(c.value));
    } else {
      PatchU32("DAT", c.at, c.value);
    }
    std::vector<std::string> lines = Verify();
    EXPECT_TRUE(Mentions(lines, c.expected)) << Joined(lines);
  }
}

TEST_F(TableVerify, ManyFaultsOfOneKindAreCappedWithACount) {
  Open();
  TIndexFile& index = table.IndexFile();
  table.SelectIndex(255);
  table.First();
  std::vector<std::uint8_t> b(table.RecordBufferSize());
  int removed = 0;
  std::vector<std::pair<TKey, std::uint32_t>> keys;
  while (table.Next(b.data()) == 0 && removed < kMaxLinesPerCheck + 10) {
    keys.emplace_back(index.BuildKey(1, b.data()), GetU32(b.data() + 1));
    ++removed;
  }
  index.SelectIndex(1);
  for (const auto& [key, r] : keys) index.DeleteKey(key, r);
  table.Close();
  std::vector<std::string> lines = Verify();
  EXPECT_LE(lines.size(), static_cast<std::size_t>(kMaxLinesPerCheck + 2));
  EXPECT_TRUE(Mentions(lines, "index entries: 11 more")) << Joined(lines);
}

// Bytes overwritten anywhere in any of the three files: VerifyTable (or Open) reports, never
// crashes, never hangs.
TEST_F(TableVerify, RandomDamageGivesLinesNeverACrash) {
  const std::string files[] = {"DAT", "IDX", "BLB"};
  std::map<std::string, std::string> good;
  for (const auto& e : files) good[e] = Read(e);
  std::mt19937 random(7);
  int reported = 0;
  for (int round = 0; round < 30; ++round) {
    const std::string& ext = files[round % 3];
    std::string bytes = good[ext];
    std::uniform_int_distribution<std::size_t> at(0, bytes.size() - 1);
    for (int k = 0; k < 4; ++k) bytes[at(random)] = static_cast<char>(random());
    for (const auto& e : files) Write(e, e == ext ? bytes : good[e]);
    try {
      std::vector<std::string> lines = Verify();
      if (!lines.empty()) ++reported;
    } catch (const EEngineError&) {
      table.Close();
      ++reported;
    }
  }
  EXPECT_GT(reported, 10);
}

}  // namespace
}  // namespace quillon::engine
