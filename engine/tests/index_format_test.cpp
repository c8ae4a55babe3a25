// The index file's header page and descriptors: every field lands on its bytes, the unused bytes
// stay zero, and a header read from a file the engine wrote writes back byte for byte.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "engine/byte_order.h"
#include "engine/index_format.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using Page = std::array<std::uint8_t, kIndexPageSize>;

TIndexHeader SampleHeader() {
  TIndexHeader h;
  h.ChangeCounter = -7;
  h.NextPageOffset = 0x00123000;
  h.SecondaryIndexCount = 2;
  h.RecordCount = 0xA1B2C3D4;
  h.NoPrimaryIndex = 1;
  h.HeaderDirty = 1;
  TIndexDescriptor& d = h.Slots[2];
  d.IndexName = "ByTitle";
  d.KeyLength = 0x0203;
  d.Descending = true;
  d.CaseInsensitive = true;
  d.Unique = true;
  d.Compression = 3;
  d.KeyFieldCount = 2;
  d.FieldDescending[1] = 1;
  d.KeyFields[0] = 4;
  d.KeyFields[1] = -2;
  d.RootPage = 0x00004000;
  d.FreePageHead = 0x00008000;
  h.Slots[kDeletedIndexSlot].IndexName = kDeletedIndexName;
  h.Slots[kDeletedIndexSlot].KeyLength = 5;
  return h;
}

TEST(IndexFormat, EveryHeaderFieldLandsOnItsBytesAndTheRestIsZero) {
  Page page;
  page.fill(0xEE);
  SampleHeader().Encode(page.data());
  Page expected{};
  PutI32(expected.data() + 0, -7);
  expected[8] = 3;
  PutU32(expected.data() + 9, 0x00123000);
  expected[13] = 2;
  std::uint8_t* slot = expected.data() + 14 + 2 * 120;
  slot[0] = 7;
  std::memcpy(slot + 1, "ByTitle", 7);
  PutU16(slot + 31, 0x0203);
  slot[33] = 1;
  slot[34] = 1;
  slot[35] = 1;
  slot[36] = 3;
  slot[37] = 2;
  slot[38 + 1] = 1;
  PutI16(slot + 54, 4);
  PutI16(slot + 56, -2);
  PutU32(slot + 86, 0x00004000);
  PutU32(slot + 90, 0x00008000);
  std::uint8_t* deleted = expected.data() + 14 + 31 * 120;
  deleted[0] = 11;
  std::memcpy(deleted + 1, "Sys Deleted", 11);
  PutU16(deleted + 31, 5);
  PutU32(expected.data() + 3974, 0xA1B2C3D4);
  expected[3978] = 1;
  expected[3979] = 1;
  for (std::size_t i = 0; i < page.size(); ++i) ASSERT_EQ(page[i], expected[i]) << "byte " << i;
}

TEST(IndexFormat, DecodingTheEncodedHeaderGivesItBack) {
  const TIndexHeader h = SampleHeader();
  Page page{};
  h.Encode(page.data());
  const TIndexHeader back = TIndexHeader::Decode(page.data());
  EXPECT_EQ(back.ChangeCounter, h.ChangeCounter);
  EXPECT_EQ(back.Version, 3);
  EXPECT_EQ(back.NextPageOffset, h.NextPageOffset);
  EXPECT_EQ(back.SecondaryIndexCount, h.SecondaryIndexCount);
  EXPECT_EQ(back.RecordCount, h.RecordCount);
  EXPECT_EQ(back.NoPrimaryIndex, h.NoPrimaryIndex);
  EXPECT_EQ(back.HeaderDirty, h.HeaderDirty);
  for (int s = 0; s < kIndexSlotCount; ++s) {
    const TIndexDescriptor& a = h.Slots[static_cast<std::size_t>(s)];
    const TIndexDescriptor& b = back.Slots[static_cast<std::size_t>(s)];
    SCOPED_TRACE("slot " + std::to_string(s));
    EXPECT_EQ(b.IndexName, a.IndexName);
    EXPECT_EQ(b.KeyLength, a.KeyLength);
    EXPECT_EQ(b.Descending, a.Descending);
    EXPECT_EQ(b.CaseInsensitive, a.CaseInsensitive);
    EXPECT_EQ(b.Unique, a.Unique);
    EXPECT_EQ(b.Compression, a.Compression);
    EXPECT_EQ(b.KeyFieldCount, a.KeyFieldCount);
    EXPECT_EQ(b.FieldDescending, a.FieldDescending);
    EXPECT_EQ(b.KeyFields, a.KeyFields);
    EXPECT_EQ(b.RootPage, a.RootPage);
    EXPECT_EQ(b.FreePageHead, a.FreePageHead);
    EXPECT_EQ(b.IsBlank(), s != 2 && s != kDeletedIndexSlot);
  }
}

TEST(IndexFormat, ANameLengthPastItsRoomIsClampedAndReservedBytesSurvive) {
  std::array<std::uint8_t, kIndexDescriptorSize> raw{};
  raw[0] = 200;  // a damaged length byte: the name has room for 30 characters only
  for (int i = 1; i <= 30; ++i) raw[static_cast<std::size_t>(i)] = 'a';
  PutU16(raw.data() + 31, 0x7777);  // would be read as name characters past the room
  raw[100] = 0x5A;
  TIndexDescriptor d = TIndexDescriptor::Decode(raw.data());
  EXPECT_EQ(d.IndexName, std::string(30, 'a'));
  EXPECT_EQ(d.KeyLength, 0x7777);
  EXPECT_FALSE(d.IsBlank());
  std::array<std::uint8_t, kIndexDescriptorSize> again{};
  d.Encode(again.data());
  EXPECT_EQ(again[100], 0x5A);
  EXPECT_EQ(again[0], 30);
}

// A header the engine wrote, with a secondary index and some records, reads and writes back
// byte for byte.
TEST(IndexFormat, AHeaderTheEngineWroteReencodesByteForByte) {
  InitializeEngine();
  quillon::testing::TempDir dir;
  TTableDefinition t = testing::SmallTable();
  t.Indexes.push_back(testing::IndexOn("ByName", 2));
  testing::CreateTable(dir.File("people"), t);
  {
    TDataFile table;
    table.SetFileName(dir.File("people"));
    table.SetExclusive(true);
    table.Open();
    for (int i = 1; i <= 3; ++i) {
      std::vector<std::uint8_t> record(table.RecordBufferSize(), 0);
      table.InitRecord(record.data());
      std::uint8_t id[4];
      PutI32(id, i);
      table.SetField(false, 1, id, record.data());
      std::string name = "name " + std::to_string(i);
      name.resize(table.GetFieldDescriptor(false, 2).DataSize, '\0');
      table.SetField(false, 2, name.data(), record.data());
      table.InsertRecord(record.data());
    }
    table.Close();
  }
  const std::string file = dir.Read("people.IDX");
  ASSERT_GE(file.size(), static_cast<std::size_t>(kIndexPageSize));
  Page original{};
  std::memcpy(original.data(), file.data(), kIndexPageSize);
  const TIndexHeader h = TIndexHeader::Decode(original.data());
  EXPECT_EQ(h.RecordCount, 3u);
  EXPECT_EQ(h.SecondaryIndexCount, 1);
  EXPECT_EQ(h.Slots[1].IndexName, "ByName");
  EXPECT_NE(h.Slots[1].RootPage, 0u);
  Page again{};
  h.Encode(again.data());
  EXPECT_TRUE(again == original);
}

}  // namespace
}  // namespace quillon::engine
