// Index keys built from records for every field type, and the key comparison rules.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/field_codec.h"
#include "engine/index_file.h"
#include "engine/index_key.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"
#include "util/text.h"

namespace quillon::engine {
namespace {

using testing::Field;
using testing::PrimaryOn;

// A table with one field per key type; fields are set in a record buffer by hand.
class IndexKey : public testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    TTableDefinition t;
    t.Fields = {Field("Id", TFieldType::Integer, 0, 0, kSubTypeAutoInc),
                Field("Str", TFieldType::String, 8),
                Field("Day", TFieldType::Date),
                Field("Small", TFieldType::SmallInt),
                Field("Flag", TFieldType::Boolean),
                Field("Count", TFieldType::Word),
                Field("Real", TFieldType::Float),
                Field("Stamp", TFieldType::TimeStamp),
                Field("Amount", TFieldType::Bcd, 0, 2),
                Field("Big", TFieldType::LargeWord),
                Field("Ext", TFieldType::Extended),
                Field("Raw", TFieldType::Bytes, 3),
                Field("Clock", TFieldType::Time),
                Field("Int", TFieldType::Integer)};
    t.Indexes = {PrimaryOn({1})};
    testing::CreateTable(dir.File("keys"), t);
    table.SetFileName(dir.File("keys"));
    table.SetExclusive(true);
    table.Open();
    record.assign(table.RecordBufferSize(), 0);
  }
  const TFieldDescriptor& F(int n) { return table.PhysicalFields()[static_cast<std::size_t>(n - 1)]; }
  void Set(int n, const void* bytes) {
    record[F(n).Offset] = 1;
    std::memcpy(record.data() + F(n).Offset + 1, bytes, F(n).DataSize);
  }
  void SetString(int n, const std::string& s) {
    std::vector<std::uint8_t> v(F(n).DataSize, 0);
    std::memcpy(v.data(), s.data(), s.size());
    Set(n, v.data());
  }
  // The key of one field alone, through an index descriptor made for it.
  TKey KeyOf(std::initializer_list<int> fields, bool caseInsensitive = false, bool descendingField = false,
             bool nonUnique = false) {
    TIndexDescriptor d = PrimaryOn(fields);
    d.CaseInsensitive = caseInsensitive;
    if (descendingField) d.FieldDescending[0] = 1;
    if (nonUnique) d.IndexName = "X";
    d = TIndexFile::CheckDescriptor(d, !nonUnique, false, table.PhysicalFields(), {}, table.FileName());
    return BuildIndexKey(d, nonUnique, table.PhysicalFields(), record.data(), 0);
  }
  static TKey Bytes(std::initializer_list<int> b) {
    TKey k;
    for (int v : b) k.push_back(static_cast<std::uint8_t>(v));
    return k;
  }

  quillon::testing::TempDir dir;
  TDataFile table;
  std::vector<std::uint8_t> record;
};

TEST_F(IndexKey, IntegerLikeTypesAreBigEndianWithTheTopBitInverted) {
  std::uint8_t b[8];
  PutI32(b, -2);
  Set(14, b);
  EXPECT_EQ(KeyOf({14}), Bytes({1, 0x7F, 0xFF, 0xFF, 0xFE}));
  PutI32(b, 693594);  // a date
  Set(3, b);
  EXPECT_EQ(KeyOf({3}), Bytes({1, 0x80, 0x0A, 0x95, 0x5A}));
  PutI32(b, 1000);  // a time
  Set(13, b);
  EXPECT_EQ(KeyOf({13}), Bytes({1, 0x80, 0x00, 0x03, 0xE8}));
  PutI16(b, -1);
  Set(4, b);
  EXPECT_EQ(KeyOf({4}), Bytes({1, 0x7F, 0xFF}));
  PutU16(b, 1);  // boolean and word: big-endian, top bit kept
  Set(5, b);
  EXPECT_EQ(KeyOf({5}), Bytes({1, 0x00, 0x01}));
  PutU16(b, 0x8001);
  Set(6, b);
  EXPECT_EQ(KeyOf({6}), Bytes({1, 0x80, 0x01}));
  PutI64(b, -502);  // BCD -0.50
  Set(9, b);
  EXPECT_EQ(KeyOf({9}), Bytes({1, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x0A}));
}

TEST_F(IndexKey, UnsignedAndExtendedValuesKeepTheirStoredBytes) {
  std::uint8_t b[10];
  PutU32(b, 0x01020304);
  Set(10, b);
  EXPECT_EQ(KeyOf({10}), Bytes({1, 4, 3, 2, 1}));
  EncodeExtended(1.5, b);
  Set(11, b);
  TKey key = KeyOf({11});
  ASSERT_EQ(key.size(), 11u);
  EXPECT_EQ(0, std::memcmp(key.data() + 1, b, 10));
  std::uint8_t raw[3] = {9, 0, 7};
  Set(12, raw);
  EXPECT_EQ(KeyOf({12}), Bytes({1, 9, 0, 7}));
}

TEST_F(IndexKey, FloatsOrderLikeTheirValues) {
  const double values[] = {-1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 1.0, 2.5, 1e300};
  TKey previous;
  for (double v : values) {
    std::uint8_t b[8];
    PutDouble(b, v);
    Set(7, b);
    TKey key = KeyOf({7});
    Set(8, b);  // a timestamp uses the same form
    EXPECT_EQ(KeyOf({8}), key);
    if (!previous.empty()) {
      EXPECT_LT(std::memcmp(previous.data(), key.data(), key.size()), 0) << v;
    }
    previous = key;
  }
  std::uint8_t b[8];
  PutDouble(b, -0.0);
  Set(7, b);
  TKey negativeZero = KeyOf({7});
  PutDouble(b, 0.0);
  Set(7, b);
  EXPECT_EQ(KeyOf({7}), negativeZero);  // -0 is not below 0
}

TEST_F(IndexKey, StringsArePaddedAndUpperCasedForCaseInsensitiveIndexes) {
  SetString(2, "ab\xE9");
  EXPECT_EQ(KeyOf({2}), Bytes({1, 'a', 'b', 0xE9, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(KeyOf({2}, true), Bytes({1, 'A', 'B', 0xC9, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(UpperCaseAnsi("\xFF\x9A\xF7z"), "\x9F\x8A\xF7Z");
}

TEST_F(IndexKey, FieldsWithoutValueGiveZeros) {
  EXPECT_EQ(KeyOf({14}), Bytes({0, 0, 0, 0, 0}));
  EXPECT_EQ(KeyOf({2}), TKey(10, 0));
}

TEST_F(IndexKey, AutoIncrementIsThePresentRowIdentifier) {
  PutI32(record.data() + kRowIdOffset, 5);
  EXPECT_EQ(KeyOf({1}), Bytes({1, 0x80, 0, 0, 5}));
}

TEST_F(IndexKey, NonUniqueSecondaryKeysEndWithTheRowIdentifier) {
  PutI32(record.data() + kRowIdOffset, 258);
  std::uint8_t b[4];
  PutI32(b, 3);
  Set(14, b);
  EXPECT_EQ(KeyOf({14}, false, false, true), Bytes({1, 0x80, 0, 0, 3, 0x80, 0, 1, 2}));
}

TEST_F(IndexKey, DescendingFieldsAreInvertedButAStringKeepsItsLastByte) {
  std::uint8_t b[4];
  PutI32(b, 3);
  Set(14, b);
  EXPECT_EQ(KeyOf({14}, false, true), Bytes({0xFE, 0x7F, 0xFF, 0xFF, 0xFC}));
  SetString(2, "A");
  TKey key = KeyOf({2}, false, true);
  EXPECT_EQ(key, Bytes({0xFE, 0xBE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}));
}

TEST_F(IndexKey, DeletedRecordKeys) {
  EXPECT_EQ(DeletedRecordKey(true, 1), Bytes({1, 0x80, 0, 0, 1}));
  EXPECT_EQ(DeletedRecordKey(false, -1), Bytes({0, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(GetIntegerKey(DeletedRecordKey(false, -7).data() + 1), -7);
}

TEST(KeyComparer, BytesDescendingAndPartialLengths) {
  TKey a = {1, 2, 3}, b = {1, 2, 4};
  TKeyComparer up;
  TKeyComparer down(true);
  EXPECT_EQ(up.Compare(a.data(), b.data(), 3), -1);
  EXPECT_EQ(down.Compare(a.data(), b.data(), 3), 1);
  EXPECT_EQ(up.Compare(a.data(), b.data(), 2), 0);
  EXPECT_EQ(up.Compare(b.data(), a.data(), 3), 1);
  TKey high = {0x80}, low = {0x7F};
  EXPECT_EQ(up.Compare(low.data(), high.data(), 1), -1);  // unsigned bytes
}

// With a table locale, string parts go to the collation; the rest stays byte order.
TEST(KeyComparer, LocaleCollationDecidesStringParts) {
  std::vector<TFieldDescriptor> fields(2);
  fields[0].FieldType = static_cast<std::uint8_t>(TFieldType::String);
  fields[0].DataSize = 4;
  fields[1].FieldType = static_cast<std::uint8_t>(TFieldType::SmallInt);
  fields[1].DataSize = 2;
  TIndexDescriptor d;
  d.KeyFieldCount = 2;
  d.KeyFields[0] = 1;
  d.KeyFields[1] = 2;
  d.KeyLength = 8;
  int calls = 0;
  // A collation that ignores case, unlike byte order.
  TKeyComparer locale(d, fields, [&](std::string_view x, std::string_view y) {
    ++calls;
    return CompareIgnoringCase(x, y);
  });
  TKey a = {1, 'a', 'b', 0, 0, 1, 0x80, 1};
  TKey b = {1, 'A', 'B', 0, 0, 1, 0x80, 2};
  TKey c = {1, 'B', 0, 0, 0, 1, 0x80, 0};
  EXPECT_EQ(locale.Compare(a.data(), b.data(), 8), -1);  // equal text, the integer decides
  EXPECT_EQ(locale.Compare(a.data(), c.data(), 8), -1);  // "ab" < "B" without case
  EXPECT_EQ(TKeyComparer().Compare(a.data(), c.data(), 8), 1);
  EXPECT_EQ(locale.Compare(a.data(), b.data(), 3), 0);  // the length ends inside the string
  EXPECT_GT(calls, 0);
  TKey nullA = {0, 0, 0, 0, 0, 1, 0x80, 1};
  EXPECT_EQ(locale.Compare(nullA.data(), a.data(), 8), -1);  // the null byte comes first
  // A descending string field is compared on its restored text, backwards.
  d.FieldDescending[0] = 1;
  TKeyComparer backwards(d, fields, [](std::string_view x, std::string_view y) { return CompareIgnoringCase(x, y); });
  auto invert = [](TKey k) {
    for (int i = 0; i < 4; ++i)
      k[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(~k[static_cast<std::size_t>(i)]);
    return k;
  };
  EXPECT_EQ(backwards.Compare(invert(a).data(), invert(c).data(), 8), 1);
}

}  // namespace
}  // namespace quillon::engine
