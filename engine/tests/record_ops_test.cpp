// Record operations: field values in record buffers per type, defaults, the validity checks and
// their order, and inserts, updates and deletes with their index, free-list, row-identifier and
// BLOB maintenance, locks and deferred changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/blob_verifier.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/index_key.h"
#include "engine/locale.h"
#include "engine/tests/test_tables.h"
#include "util/platform.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::ErrorCode;
using testing::Field;
using testing::PrimaryOn;
using TBuffer = std::vector<std::uint8_t>;

TIndexDescriptor Secondary(const std::string& name, std::initializer_list<int> fields, bool unique = false) {
  TIndexDescriptor d = PrimaryOn(fields);
  d.IndexName = name;
  d.Unique = unique;
  return d;
}

std::int32_t Today() {
  platform::LocalTime t = platform::LocalNow();
  return EncodeDate(t.year, t.month, t.day);
}

TBuffer Bytes(std::initializer_list<int> bytes) {
  TBuffer b;
  for (int v : bytes) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}
TBuffer Text(const std::string& s) {
  return TBuffer(s.begin(), s.end());
}
TBuffer I16(std::int16_t v) {
  TBuffer b(2);
  PutI16(b.data(), v);
  return b;
}
TBuffer U16(std::uint16_t v) {
  TBuffer b(2);
  PutU16(b.data(), v);
  return b;
}
TBuffer I32(std::int32_t v) {
  TBuffer b(4);
  PutI32(b.data(), v);
  return b;
}
TBuffer I64(std::int64_t v) {
  TBuffer b(8);
  PutI64(b.data(), v);
  return b;
}
TBuffer Extended(double v) {
  TBuffer b(10);
  EncodeExtended(v, b.data());
  return b;
}
TBuffer F64(double v) {
  TBuffer b(8);
  PutDouble(b.data(), v);
  return b;
}

class RecordTest : public testing::EngineTest {
 protected:
  quillon::testing::TempDir dir;
  std::string name = dir.File("songs");
  TDataFile table;

  void Create(const TTableDefinition& definition, bool exclusive = false) {
    testing::CreateTable(name, definition);
    Open(exclusive);
  }
  void Open(bool exclusive = false) {
    table.SetFileName(name);
    table.SetExclusive(exclusive);
    table.Open();
  }
  TBuffer NewRecord() {
    TBuffer b(table.RecordBufferSize(), 0);
    table.InitRecord(b.data());
    return b;
  }
  void SetInt(TBuffer& b, int field, std::int32_t v) { table.SetField(false, field, I32(v).data(), b.data()); }
  void SetText(TBuffer& b, int field, const std::string& s) {
    TBuffer value = Text(s);
    value.resize(table.GetFieldDescriptor(false, field).DataSize, 0);
    table.SetField(false, field, value.data(), b.data());
  }
  void Clear(TBuffer& b, int field) { table.SetField(false, field, nullptr, b.data()); }
  std::string GetText(const TBuffer& b, int field) {
    TBuffer value(table.GetFieldDescriptor(false, field).DataSize);
    if (!table.GetField(false, field, b.data(), value.data())) return "<none>";
    return std::string(reinterpret_cast<const char*>(value.data()));
  }
  // The record as stored (through the cache, as the cursor sees it).
  TBuffer Stored(std::uint32_t number) {
    TRecord* r = table.FetchRecord(number);
    TBuffer copy = r->Data;
    table.UnpinRecord(r);
    return copy;
  }
  void Insert(TBuffer& b) { table.InsertRecord(b.data()); }
  // A new record with an Id and a Name (fields 1 and 2).
  void Add(std::int32_t id, const std::string& text) {
    TBuffer b = NewRecord();
    SetInt(b, 1, id);
    SetText(b, 2, text);
    Insert(b);
  }
  // Puts the cursor on record r (physical order).
  void StandOn(std::uint32_t r) {
    table.SelectIndex(TIndexFile::kPhysicalOrder);
    table.SetRecNo(r);
    ASSERT_TRUE(table.CurrentRecord);
    ASSERT_EQ(table.CurrentRecord->RecordNumber, r);
  }
  void DeleteRecord(std::uint32_t r) {
    StandOn(r);
    table.DeleteRecord(true);
  }
  // Replaces record r by the buffer the change function makes of it.
  void Update(std::uint32_t r, const std::function<void(TBuffer&)>& change) {
    StandOn(r);
    TBuffer b = Stored(r);
    change(b);
    table.UpdateRecord(b.data(), false, true);
  }
  std::int32_t ChangeCounterOnDisk(TFileHandler& file) {
    std::uint8_t bytes[4];
    file.ReadAt(0, bytes, 4);
    return GetI32(bytes);
  }
  std::uint32_t KeysIn(int index) {
    table.IndexFile().SelectIndex(index);
    return table.IndexFile().KeyCount();
  }
  bool HasDeletedKey(bool deleted, std::int32_t rowId) {
    table.IndexFile().SelectIndex(kDeletedIndexSlot);
    return table.IndexFile().ContainsKey(DeletedRecordKey(deleted, rowId));
  }
};

// ---- Field values ----------------------------------------------------------------------------

// One field of every type, the row identifier seen as an auto-increment field among them.
TTableDefinition EveryType() {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer),
              Field("Name", TFieldType::String, 8),
              Field("Born", TFieldType::Date),
              Field("Memo", TFieldType::Blob),
              Field("Flag", TFieldType::Boolean),
              Field("Small", TFieldType::SmallInt),
              Field("Counter", TFieldType::Integer, 0, 0, kSubTypeAutoInc),
              Field("Price", TFieldType::Float),
              Field("Amount", TFieldType::Bcd, 0, 2),
              Field("Raw", TFieldType::Bytes, 3),
              Field("At", TFieldType::Time),
              Field("Stamp", TFieldType::TimeStamp),
              Field("W", TFieldType::Word),
              Field("U", TFieldType::LargeWord),
              Field("X", TFieldType::Extended),
              Field("V", TFieldType::VarBytes, 2)};
  t.Indexes = {PrimaryOn({1})};
  return t;
}

struct TFieldCase {
  const char* What;
  int FieldNumber;
  TBuffer Given;     // empty: no value
  TBuffer Expected;  // DataSize bytes as GetField answers them (shorter: zero-padded)
  bool HasValue;
};

TEST_F(RecordTest, SetFieldAndGetFieldPerType) {
  Create(EveryType());
  const std::vector<TFieldCase> cases = {
      {"string", 2, Text("Hello"), Text("Hello"), true},
      {"string with trailing blanks", 2, Text("Hi  \0\0\0\0\0"), Text("Hi"), true},
      {"string of blanks only", 2, Text("   "), {}, false},
      {"empty string", 2, Text(std::string(9, '\0')), {}, false},
      {"string cut at its size", 2, Text("ABCDEFGHIJ"), Text("ABCDEFGH"), true},
      {"date", 3, I32(738000), I32(738000), true},
      {"boolean 1", 5, U16(1), U16(1), true},
      {"boolean 0 is a value", 5, U16(0), U16(0), true},
      {"boolean 5 reads as 1", 5, U16(5), U16(1), true},
      {"16-bit integer", 6, I16(-7), I16(-7), true},
      {"float", 8, F64(-2.5), F64(-2.5), true},
      {"BCD", 9, I64(12342), I64(12342), true},
      {"bytes", 10, Bytes({1, 0, 3}), Bytes({1, 0, 3}), true},
      {"time", 11, I32(49500000), I32(49500000), true},
      {"timestamp", 12, F64(738000.0 * 86400000.0), F64(738000.0 * 86400000.0), true},
      {"word", 13, U16(65535), U16(65535), true},
      {"unsigned", 14, Bytes({0xFF, 0xFF, 0xFF, 0xFF}), Bytes({0xFF, 0xFF, 0xFF, 0xFF}), true},
      {"extended", 15, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), true},
      {"varying bytes", 16, Bytes({9, 8}), Bytes({9, 8}), true},
      {"no value", 1, {}, {}, false},
      {"BLOB offset", 4, I32(1024), I32(1024), true},
      {"BLOB without data", 4, I32(0), {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const TFieldDescriptor& f = table.GetFieldDescriptor(false, c.FieldNumber);
    TBuffer record(table.RecordBufferSize(), 0xEE);  // stale bytes must not leak into the value
    TBuffer given = c.Given;
    given.resize(std::max<std::size_t>(given.size(), f.DataSize), 0);
    table.SetField(false, c.FieldNumber, c.Given.empty() ? nullptr : given.data(), record.data());
    TBuffer expected = c.Expected;
    expected.resize(f.DataSize, 0);
    TBuffer got(f.DataSize, 0xAA);
    EXPECT_EQ(table.GetField(false, c.FieldNumber, record.data(), got.data()), c.HasValue);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(record[f.Offset], c.HasValue ? 1 : 0);
    EXPECT_EQ(TBuffer(record.begin() + f.Offset + 1, record.begin() + f.Offset + 1 + f.DataSize), expected);
  }
}

TEST_F(RecordTest, AutoIncrementIsTheRowIdentifierWithoutNullByte) {
  Create(EveryType());
  TBuffer record(table.RecordBufferSize(), 0);
  table.SetField(false, 7, I32(42).data(), record.data());
  EXPECT_EQ(GetI32(record.data() + kRowIdOffset), 42);
  table.SetField(false, 7, nullptr, record.data());  // left as it is
  EXPECT_EQ(GetI32(record.data() + kRowIdOffset), 42);
  TBuffer value(4);
  EXPECT_TRUE(table.GetField(false, 7, record.data(), value.data()));
  EXPECT_EQ(GetI32(value.data()), 42);
  EXPECT_EQ(table.GetFieldDescriptor(false, 7).Offset, kRowIdOffset);
}

TEST_F(RecordTest, FieldNumbersOutsideTheTableAreRefused) {
  Create(EveryType());
  TBuffer record(table.RecordBufferSize(), 0), value(8);
  EXPECT_EQ(ErrorCode([&] { table.GetField(false, 0, record.data(), value.data()); }), err::kInvalidField);
  EXPECT_EQ(ErrorCode([&] { table.SetField(false, 17, value.data(), record.data()); }), err::kInvalidField);
}

// ---- Defaults --------------------------------------------------------------------------------

TTableDefinition WithDefaults() {
  TTableDefinition t = EveryType();
  auto set = [&](int field, const char* text) { t.Fields[static_cast<std::size_t>(field - 1)].DefaultValue = text; };
  set(1, "17");
  set(2, "abc");
  set(3, "date");
  set(5, "True");
  set(6, "-12");
  set(8, "2.5");
  set(9, "12.34");
  set(10, "x");
  set(11, "13:45");
  set(12, "3/15/2021 1:02:03");
  set(13, "65535");
  set(14, "7");
  set(15, "2.5");
  set(16, "zz");
  return t;
}

TEST_F(RecordTest, InitRecordAppliesDefaultsOfEveryType) {
  Create(WithDefaults());
  std::int32_t before = Today();
  TBuffer r = NewRecord();
  std::int32_t after = Today();
  struct TExpect {
    int Field;
    TBuffer Value;
  };
  std::vector<TExpect> expected = {
      {1, I32(17)},
      {2, Text("abc")},
      {5, U16(1)},
      {6, I16(-12)},
      {8, F64(2.5)},
      {9, I64(12342)},
      {10, Bytes({0, 0, 0})},  // no literal form: zero bytes, present
      {11, I32(EncodeTime(13, 45, 0, 0))},
      {12, F64(EncodeTimeStamp(EncodeDate(2021, 3, 15), EncodeTime(1, 2, 3, 0)))},
      {13, U16(65535)},
      {14, I32(7)},
      {15, Extended(2.5)},
      {16, Bytes({0, 0})},  // no literal form: zero bytes, present
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.Field);
    const TFieldDescriptor& f = table.GetFieldDescriptor(false, e.Field);
    TBuffer got(f.DataSize), want = e.Value;
    want.resize(f.DataSize, 0);
    EXPECT_TRUE(table.GetField(false, e.Field, r.data(), got.data()));
    EXPECT_EQ(got, want);
  }
  TBuffer day(4);
  ASSERT_TRUE(table.GetField(false, 3, r.data(), day.data()));  // "date" in lower case = today
  EXPECT_TRUE(GetI32(day.data()) == before || GetI32(day.data()) == after);
  EXPECT_FALSE(table.GetField(false, 4, r.data(), day.data()));  // a BLOB has no default
}

TEST_F(RecordTest, NowAndTimeDefaultsComeFromTheClock) {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("A", TFieldType::TimeStamp), Field("B", TFieldType::TimeStamp),
              Field("C", TFieldType::Time)};
  t.Fields[1].DefaultValue = "NOW";
  t.Fields[2].DefaultValue = "time";
  t.Fields[3].DefaultValue = "Time";
  t.Indexes = {PrimaryOn({1})};
  Create(t);
  std::int32_t before = Today();
  TBuffer r = NewRecord();
  std::int32_t after = Today();
  TBuffer v(8);
  std::int32_t day = 0, ms = 0;
  ASSERT_TRUE(table.GetField(false, 2, r.data(), v.data()));
  ASSERT_TRUE(DecodeTimeStamp(GetDouble(v.data()), day, ms));
  EXPECT_TRUE(day == before || day == after);
  ASSERT_TRUE(table.GetField(false, 3, r.data(), v.data()));
  ASSERT_TRUE(DecodeTimeStamp(GetDouble(v.data()), day, ms));
  EXPECT_EQ(day, kDayNumberOf18991230);  // a time alone stands on the day of the time epoch
  ASSERT_TRUE(table.GetField(false, 4, r.data(), v.data()));
  EXPECT_GE(GetI32(v.data()), 0);
  EXPECT_LT(GetI32(v.data()), kMsPerDay);
}

// CreateTable refuses a bad boolean default; a file written elsewhere may still hold one.
TEST_F(RecordTest, BooleanDefaultThatIsNoBooleanIsAConversionError) {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Flag", TFieldType::Boolean)};
  t.Fields[1].DefaultValue = "TRUE";
  t.Indexes = {PrimaryOn({1})};
  testing::CreateTable(name, t);
  {
    std::fstream file(name + ".DAT", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(kTableHeaderSize + kFieldDescriptorSize + 196);
    const char text[] = "\x05maybe";
    file.write(text, 6);
  }
  Open();
  TBuffer r(table.RecordBufferSize());
  try {
    table.InitRecord(r.data());
    FAIL() << "no conversion error";
  } catch (const EValueTextError& e) {
    EXPECT_STREQ(e.what(), "'maybe' is not a valid boolean value");
  }
}

// ---- Validation ------------------------------------------------------------------------------

TTableDefinition Checked() {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer),    Field("Level", TFieldType::Integer),
              Field("Rank", TFieldType::SmallInt), Field("Name", TFieldType::String, 10),
              Field("Until", TFieldType::Date),    Field("Price", TFieldType::Float)};
  t.Fields[1].Required = true;
  t.Fields[1].MinValue = "1";
  t.Fields[2].MinValue = "1";
  t.Fields[2].MaxValue = "5";
  t.Fields[3].MinValue = "B";
  t.Fields[3].MaxValue = "M";
  t.Fields[4].MaxValue = "12/31/2030";
  t.Fields[5].MinValue = "-1.5";
  t.Indexes = {PrimaryOn({1})};
  return t;
}

TEST_F(RecordTest, ValidationOrderAndComparisons) {
  Create(Checked());
  // A valid record; each case changes one field of a copy.
  TBuffer valid = NewRecord();
  SetInt(valid, 1, 1);
  SetInt(valid, 2, 1);
  table.SetField(false, 3, I16(3).data(), valid.data());
  SetText(valid, 4, "Bob");
  struct TCase {
    const char* What;
    std::function<void(TBuffer&)> Change;
    int Code;
    const char* FieldName;
  };
  const std::vector<TCase> cases = {
      {"required without value, below its minimum too", [&](TBuffer& b) { Clear(b, 2); }, err::kValueRequired, "Level"},
      {"required with a value below its minimum", [&](TBuffer& b) { SetInt(b, 2, 0); }, err::kMinimumExceeded, "Level"},
      {"not required, no value, minimum 1", [&](TBuffer& b) { Clear(b, 3); }, err::kMinimumExceeded, "Rank"},
      {"above the maximum", [&](TBuffer& b) { table.SetField(false, 3, I16(6).data(), b.data()); },
       err::kMaximumExceeded, "Rank"},
      {"at the maximum", [&](TBuffer& b) { table.SetField(false, 3, I16(5).data(), b.data()); }, 0, ""},
      {"string without value is below \"B\"", [&](TBuffer& b) { Clear(b, 4); }, err::kMinimumExceeded, "Name"},
      {"string at the maximum", [&](TBuffer& b) { SetText(b, 4, "M"); }, 0, ""},
      {"longer string than the maximum", [&](TBuffer& b) { SetText(b, 4, "Ma"); }, err::kMaximumExceeded, "Name"},
      {"lower case sorts after upper case byte-wise", [&](TBuffer& b) { SetText(b, 4, "a"); }, err::kMaximumExceeded,
       "Name"},
      {"date after its maximum",
       [&](TBuffer& b) { table.SetField(false, 5, I32(EncodeDate(2031, 1, 1)).data(), b.data()); },
       err::kMaximumExceeded, "Until"},
      {"date at its maximum",
       [&](TBuffer& b) { table.SetField(false, 5, I32(EncodeDate(2030, 12, 31)).data(), b.data()); }, 0, ""},
      {"float below its minimum", [&](TBuffer& b) { table.SetField(false, 6, F64(-1.75).data(), b.data()); },
       err::kMinimumExceeded, "Price"},
      {"float without value is 0", [&](TBuffer& b) { Clear(b, 6); }, 0, ""},
  };
  std::int32_t id = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TBuffer b = valid;
    c.Change(b);
    SetInt(b, 1, ++id);
    std::uint32_t count = table.IndexFile().RecordCount();
    int code = ErrorCode([&] { Insert(b); });
    EXPECT_EQ(code, c.Code);
    if (code != 0) {
      EXPECT_EQ(CurrentErrorContext().ErrorFieldName, c.FieldName);
      EXPECT_EQ(table.IndexFile().RecordCount(), count);
    } else {
      EXPECT_EQ(table.IndexFile().RecordCount(), count + 1);
    }
  }
  EXPECT_TRUE(table.IndexFile().Verify().empty());
}

#ifdef _WIN32
// Only Windows has the locales; elsewhere a table with one cannot be opened (15878).
TEST_F(RecordTest, StringLimitsCompareWithTheTableLocale) {
  TTableDefinition t = Checked();
  t.LanguageId = 0x0409;
  Create(t);
  TBuffer b = NewRecord();
  SetInt(b, 1, 1);
  SetInt(b, 2, 1);
  table.SetField(false, 3, I16(3).data(), b.data());
  SetText(b, 4, "a");  // before "B" in the collation, after it byte-wise
  EXPECT_EQ(ErrorCode([&] { Insert(b); }), err::kMinimumExceeded);
  SetText(b, 4, "c");
  EXPECT_EQ(ErrorCode([&] { Insert(b); }), 0);
}
#endif

// ---- Insert ----------------------------------------------------------------------------------

TTableDefinition People(bool primary = true) {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, 20),
              Field("Serial", TFieldType::Integer, 0, 0, kSubTypeAutoInc)};
  t.Indexes = {primary ? PrimaryOn({1}) : TIndexDescriptor{}, Secondary("ByName", {2}),
               Secondary("BySerial", {3}, true)};
  t.AllowEmptyPrimary = !primary;
  return t;
}

TEST_F(RecordTest, InsertStoresRecordKeysAndRowIdentifiers) {
  Create(People());
  for (int i = 1; i <= 3; ++i) {
    TBuffer b = NewRecord();
    SetInt(b, 1, 10 * i);
    SetText(b, 2, "name" + std::to_string(i));
    Insert(b);
    EXPECT_EQ(GetI32(b.data() + kRowIdOffset), i);  // the buffer gets its row identifier
  }
  EXPECT_EQ(table.Header().NextRecordNumber, 4u);
  EXPECT_EQ(table.Header().LastRowId, 3);
  EXPECT_EQ(table.IndexFile().RecordCount(), 3u);
  for (std::uint32_t r = 1; r <= 3; ++r) {
    TBuffer s = Stored(r);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(GetU32(s.data() + 1), r);
    EXPECT_EQ(GetI32(s.data() + kRowIdOffset), static_cast<std::int32_t>(r));
    EXPECT_EQ(GetText(s, 2), "name" + std::to_string(r));
    EXPECT_TRUE(HasDeletedKey(false, static_cast<std::int32_t>(r)));
  }
  EXPECT_EQ(KeysIn(0), 3u);
  EXPECT_EQ(KeysIn(1), 3u);
  EXPECT_EQ(KeysIn(2), 3u);
  EXPECT_EQ(KeysIn(kDeletedIndexSlot), 3u);
  EXPECT_TRUE(table.IndexFile().Verify().empty());

  // Another cursor sees all of it: everything was written back.
  TDataFile other;
  other.SetFileName(name);
  other.Open();
  EXPECT_EQ(other.Header().NextRecordNumber, 4u);
  EXPECT_EQ(other.IndexFile().RecordCount(), 3u);
  TRecord* r = other.FetchRecord(2);
  EXPECT_EQ(GetI32(r->Data.data() + kRowIdOffset), 2);
  other.UnpinRecord(r);
}

TEST_F(RecordTest, DuplicateKeyLeavesEveryIndexUnchanged) {
  TTableDefinition t = People();
  t.Indexes[1].Unique = true;  // ByName unique as well
  Create(t);
  TBuffer a = NewRecord();
  SetInt(a, 1, 1);
  SetText(a, 2, "Ann");
  Insert(a);
  struct TCase {
    const char* What;
    std::int32_t Id;
    const char* Name;
    const char* Index;
  };
  const std::vector<TCase> cases = {{"primary", 1, "Bea", "Primary"}, {"unique secondary", 2, "Ann", "ByName"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TBuffer b = NewRecord();
    SetInt(b, 1, c.Id);
    SetText(b, 2, c.Name);
    EXPECT_EQ(ErrorCode([&] { Insert(b); }), err::kDuplicateKey);
    EXPECT_EQ(CurrentErrorContext().ErrorIndexName, c.Index);
    EXPECT_EQ(table.IndexFile().RecordCount(), 1u);
    EXPECT_EQ(table.Header().NextRecordNumber, 2u);
    EXPECT_EQ(table.Header().LastRowId, 1);
    for (int index : {0, 1, 2, kDeletedIndexSlot}) EXPECT_EQ(KeysIn(index), 1u) << index;
    EXPECT_TRUE(table.IndexFile().Verify().empty());
  }
  EXPECT_FALSE(table.LockState().Write);
  EXPECT_TRUE(table.LockedRecords().empty());
}

// Result tables of the SQL layer skip the checks; equal keys then tell their records apart by
// record number.
TEST_F(RecordTest, WithoutDuplicateChecksEqualKeysKeepTheirOwnRecords) {
  Create(People());
  table.NoDuplicateCheck = true;
  Add(1, "first");
  Add(1, "second");
  Add(1, "third");
  EXPECT_EQ(KeysIn(0), 3u);
  DeleteRecord(2);
  EXPECT_EQ(KeysIn(0), 2u);
  EXPECT_TRUE(table.IndexFile().Verify().empty());
  // The entries left are those of records 1 and 3.
  table.IndexFile().SelectIndex(0);
  std::vector<std::uint32_t> records;
  TKeyPosition p = table.IndexFile().FirstPosition();
  do {
    std::uint32_t r = 0;
    ASSERT_TRUE(table.IndexFile().ReadPosition(p, nullptr, &r));
    records.push_back(r);
  } while (table.IndexFile().NextPosition(p));
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records, (std::vector<std::uint32_t>{1, 3}));
}

TEST_F(RecordTest, ReadOnlyTableRefusesChanges) {
  Create(People());
  table.Close();
  table.SetReadOnly(true);
  Open();
  TBuffer b = NewRecord();
  SetInt(b, 1, 1);
  EXPECT_EQ(ErrorCode([&] { Insert(b); }), err::kAccessDenied);
  EXPECT_FALSE(table.LockState().Write);
}

TEST_F(RecordTest, DeletedSlotsAreReusedOnlyWithAPrimaryIndex) {
  for (bool primary : {true, false}) {
    SCOPED_TRACE(primary ? "primary index" : "no primary index");
    if (table.Opened()) {
      table.Close();
      table.DeleteTable();
    }
    Create(People(primary));
    Add(1, "a");
    Add(2, "b");
    Add(3, "c");
    DeleteRecord(2);
    TBuffer gone = Stored(2);
    EXPECT_EQ(gone[0], 1);
    EXPECT_EQ(GetU32(gone.data() + 1), 0u);  // the end of the free list
    EXPECT_EQ(table.Header().FreeRecordHead, 2u);
    EXPECT_EQ(table.IndexFile().RecordCount(), 2u);
    EXPECT_EQ(KeysIn(1), 2u);
    DeleteRecord(1);
    EXPECT_EQ(table.Header().FreeRecordHead, 1u);
    EXPECT_EQ(GetU32(Stored(1).data() + 1), 2u);  // linked to the one deleted before
    if (primary) {
      EXPECT_TRUE(HasDeletedKey(true, 2));
      EXPECT_FALSE(HasDeletedKey(false, 2));
      EXPECT_EQ(KeysIn(kDeletedIndexSlot), 3u);
    } else {
      EXPECT_EQ(KeysIn(kDeletedIndexSlot), 0u);
    }

    Add(4, "d");
    EXPECT_EQ(table.Header().LastRowId, 4);
    if (primary) {
      // The most recently deleted slot, with a new row identifier.
      TBuffer reused = Stored(1);
      EXPECT_EQ(reused[0], 0);
      EXPECT_EQ(GetU32(reused.data() + 1), 1u);
      EXPECT_EQ(GetI32(reused.data() + kRowIdOffset), 4);
      EXPECT_EQ(GetText(reused, 2), "d");
      EXPECT_EQ(table.Header().FreeRecordHead, 2u);
      EXPECT_EQ(table.Header().NextRecordNumber, 4u);
      EXPECT_TRUE(HasDeletedKey(false, 4));
      EXPECT_FALSE(HasDeletedKey(true, 1));
      EXPECT_TRUE(HasDeletedKey(true, 2));
    } else {
      EXPECT_EQ(table.Header().NextRecordNumber, 5u);
      EXPECT_EQ(GetI32(Stored(4).data() + kRowIdOffset), 4);
      EXPECT_EQ(table.Header().FreeRecordHead, 1u);
    }
    EXPECT_EQ(table.IndexFile().RecordCount(), 2u);
    EXPECT_EQ(KeysIn(1), 2u);
    EXPECT_TRUE(table.IndexFile().Verify().empty());
  }
}

TEST_F(RecordTest, AutoIncrementWithoutValueGetsTheNextRowIdentifier) {
  Create(People());
  Add(1, "a");
  Add(2, "b");
  DeleteRecord(2);  // the highest identifier is never handed out again
  TBuffer b = NewRecord();
  SetInt(b, 1, 3);
  table.SetField(false, 3, I32(77).data(), b.data());  // overruled by the row identifier
  Insert(b);
  TBuffer serial(4);
  ASSERT_TRUE(table.GetField(false, 3, b.data(), serial.data()));
  EXPECT_EQ(GetI32(serial.data()), 3);
  ASSERT_TRUE(table.GetField(false, 3, Stored(2).data(), serial.data()));
  EXPECT_EQ(GetI32(serial.data()), 3);
  // The unique index on the auto-increment field holds the identifiers.
  table.IndexFile().SelectIndex(2);
  TBuffer key(5);
  key[0] = 1;
  PutIntegerKey(key.data() + 1, 3);
  EXPECT_TRUE(table.IndexFile().ContainsKey(key));
  PutIntegerKey(key.data() + 1, 2);
  EXPECT_FALSE(table.IndexFile().ContainsKey(key));
}

TEST_F(RecordTest, UpdateReplacesOnlyTheKeysThatChanged) {
  Create(People());
  Add(1, "Ann");
  Add(2, "Bob");
  TFileHandler& index = table.IndexFile();
  std::int32_t indexCounter = ChangeCounterOnDisk(index), dataCounter = ChangeCounterOnDisk(table);

  // A field outside every key: the records change, no index does.
  TTableDefinition t = People();
  Update(1, [&](TBuffer& b) { SetText(b, 2, "Ann"); });
  EXPECT_EQ(ChangeCounterOnDisk(index), indexCounter);
  EXPECT_EQ(ChangeCounterOnDisk(table), dataCounter + 1);

  Update(1, [&](TBuffer& b) { SetText(b, 2, "Cid"); });
  EXPECT_EQ(ChangeCounterOnDisk(index), indexCounter + 1);
  TBuffer s = Stored(1);
  EXPECT_EQ(GetText(s, 2), "Cid");
  EXPECT_EQ(GetI32(s.data() + kRowIdOffset), 1);  // the row identifier stays
  EXPECT_EQ(GetU32(s.data() + 1), 1u);
  table.IndexFile().SelectIndex(1);
  EXPECT_TRUE(table.IndexFile().ContainsKey(table.IndexFile().BuildKey(1, s.data())));
  TBuffer old = s;
  SetText(old, 2, "Ann");
  EXPECT_FALSE(table.IndexFile().ContainsKey(table.IndexFile().BuildKey(1, old.data())));
  EXPECT_EQ(KeysIn(0), 2u);
  EXPECT_EQ(KeysIn(1), 2u);

  // The row identifier is the record's own: a buffer that says otherwise is overruled.
  Update(1, [&](TBuffer& b) { table.SetField(false, 3, I32(99).data(), b.data()); });
  EXPECT_EQ(GetI32(Stored(1).data() + kRowIdOffset), 1);
  EXPECT_EQ(table.Header().LastRowId, 2);

  // The primary key moves as well.
  Update(1, [&](TBuffer& b) { SetInt(b, 1, 5); });
  table.IndexFile().SelectIndex(0);
  EXPECT_TRUE(table.IndexFile().ContainsKey(table.IndexFile().BuildKey(0, Stored(1).data())));
  EXPECT_EQ(KeysIn(0), 2u);
  EXPECT_TRUE(table.IndexFile().Verify().empty());
}

TEST_F(RecordTest, RefusedUpdateLeavesRecordAndIndexesAsTheyWere) {
  TTableDefinition t = People();
  t.Fields[1].Required = true;
  Create(t);
  Add(1, "Ann");
  Add(2, "Bob");
  const TBuffer before = Stored(1);
  struct TCase {
    const char* What;
    std::function<void(TBuffer&)> Change;
    int Code;
  };
  const std::vector<TCase> cases = {
      {"duplicate primary key", [&](TBuffer& b) { SetInt(b, 1, 2); }, err::kDuplicateKey},
      {"duplicate primary key with another name", [&](TBuffer& b) { SetInt(b, 1, 2), SetText(b, 2, "Zed"); },
       err::kDuplicateKey},
      {"required field cleared", [&](TBuffer& b) { Clear(b, 2); }, err::kValueRequired},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(ErrorCode([&] { Update(1, c.Change); }), c.Code);
    EXPECT_EQ(Stored(1), before);
    EXPECT_EQ(KeysIn(0), 2u);
    EXPECT_EQ(KeysIn(1), 2u);
    table.IndexFile().SelectIndex(1);
    EXPECT_TRUE(table.IndexFile().ContainsKey(table.IndexFile().BuildKey(1, before.data())));
    EXPECT_TRUE(table.IndexFile().Verify().empty());
    EXPECT_FALSE(table.LockState().Write);
  }
  // Another cursor reads the same from the files.
  TDataFile other;
  other.SetFileName(name);
  other.Open();
  TRecord* r = other.FetchRecord(1);
  EXPECT_EQ(r->Data, before);
  other.UnpinRecord(r);
}

TEST_F(RecordTest, UpdateAndDeleteNeedALiveCurrentRecord) {
  Create(People());
  TBuffer b = NewRecord();
  table.First();  // an empty table: the cursor stands on nothing
  EXPECT_EQ(ErrorCode([&] { table.UpdateRecord(b.data(), false, true); }), err::kRecordNotFound);
  EXPECT_EQ(ErrorCode([&] { table.DeleteRecord(true); }), err::kRecordNotFound);
  Add(1, "a");
  Add(2, "b");
  StandOn(1);
  TBuffer mine = Stored(1);
  // Another cursor deletes the record meanwhile.
  TDataFile other;
  other.SetFileName(name);
  other.Open();
  other.SelectIndex(TIndexFile::kPhysicalOrder);
  other.SetRecNo(1);
  other.DeleteRecord(true);
  SetText(mine, 2, "changed");
  EXPECT_EQ(ErrorCode([&] { table.UpdateRecord(mine.data(), false, true); }), err::kRecordNotFound);
  EXPECT_EQ(ErrorCode([&] { table.DeleteRecord(true); }), err::kRecordNotFound);
  EXPECT_EQ(table.IndexFile().RecordCount(), 1u);
  EXPECT_EQ(Stored(1)[0], 1);
  EXPECT_TRUE(table.IndexFile().Verify().empty());
  EXPECT_FALSE(table.LockState().Write);
}

TEST_F(RecordTest, FullTableRefusesNewRecords) {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer)};
  t.Indexes = {PrimaryOn({1})};
  Create(t, true);
  struct TCase {
    const char* What;
    std::uint32_t NextRecordNumber;
    int Code;
  };
  // Records of 14 bytes: the record count ends first.
  const std::vector<TCase> cases = {{"record 100,000,000", 100000000u, err::kFileFull}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    table.HeaderForUpdate().NextRecordNumber = c.NextRecordNumber;
    TBuffer b = NewRecord();
    SetInt(b, 1, 1);
    EXPECT_EQ(ErrorCode([&] { Insert(b); }), c.Code);
    EXPECT_EQ(table.Header().NextRecordNumber, c.NextRecordNumber);
    EXPECT_EQ(table.IndexFile().RecordCount(), 0u);
    EXPECT_EQ(KeysIn(0), 0u);
  }
  table.HeaderForUpdate().NextRecordNumber = 1;
}

TEST_F(RecordTest, RecordBytesBeyondTwoGigabytesAreRefused) {
  Create(People(), true);  // 36-byte records
  ASSERT_EQ(table.Header().RecordSize, 36);
  table.HeaderForUpdate().NextRecordNumber = 55555556u;  // x 36 = 2,000,000,016
  TBuffer b = NewRecord();
  SetInt(b, 1, 1);
  EXPECT_EQ(ErrorCode([&] { Insert(b); }), err::kFileFull);
  EXPECT_EQ(table.IndexFile().RecordCount(), 0u);
  table.HeaderForUpdate().NextRecordNumber = 1;
}

// Computed values come from a callback of the layer that owns their expressions.
TEST_F(RecordTest, ComputedFieldsFollowEveryWriteOfAStoredField) {
  Create(People());
  std::vector<TFieldDescriptor> fields = table.PhysicalFields();
  TFieldDescriptor length = Field("NameLength", TFieldType::Integer);
  length.Computed = true;
  length.DataSize = 4;
  fields.push_back(length);
  table.SetLogicalFields(fields);
  const TFieldDescriptor& computed = table.GetFieldDescriptor(true, 4);
  ASSERT_EQ(computed.Offset, table.Header().RecordSize);
  int calls = 0;
  table.SetComputeFields([&](TDataFile& t, std::uint8_t* record) {
    ++calls;
    TBuffer name(t.GetFieldDescriptor(false, 2).DataSize);
    t.GetField(false, 2, record, name.data());
    record[computed.Offset] = 1;
    PutI32(record + computed.Offset + 1, static_cast<std::int32_t>(std::strlen(reinterpret_cast<char*>(name.data()))));
  });
  TBuffer b(table.RecordBufferSize(), 0);
  TBuffer name = Text("abcd");
  name.resize(21, 0);
  table.SetField(true, 2, name.data(), b.data());
  TBuffer value(4);
  ASSERT_TRUE(table.GetField(true, 4, b.data(), value.data()));
  EXPECT_EQ(GetI32(value.data()), 4);
  int before = calls;
  table.SetField(true, 4, I32(99).data(), b.data());  // the engine's own: ignored
  EXPECT_EQ(calls, before);
  ASSERT_TRUE(table.GetField(true, 4, b.data(), value.data()));
  EXPECT_EQ(GetI32(value.data()), 4);
  table.SetField(true, 2, nullptr, b.data());
  ASSERT_TRUE(table.GetField(true, 4, b.data(), value.data()));
  EXPECT_EQ(GetI32(value.data()), 0);
}

// A change that fails after it began (here a damaged page of a non-unique index, which no
// duplicate check reads) leaves nothing of itself behind on a shared table.
TEST_F(RecordTest, ChangeFailingHalfwayIsDroppedWhole) {
  Create(People());
  Add(1, "a");
  const std::uint32_t root = table.IndexFile().GetIndexDescriptor(1).RootPage;
  ASSERT_NE(root, 0u);
  {
    std::fstream file(name + ".IDX", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(root);
    file.put(9);  // no page type
    // Another writer's counter: the next write lock drops the cached pages.
    std::uint8_t counter[4];
    file.seekg(0);
    file.read(reinterpret_cast<char*>(counter), 4);
    PutI32(counter, GetI32(counter) + 1);
    file.seekp(0);
    file.write(reinterpret_cast<char*>(counter), 4);
  }
  TBuffer b = NewRecord();
  SetInt(b, 1, 2);
  SetText(b, 2, "b");
  EXPECT_EQ(ErrorCode([&] { Insert(b); }), err::kIndexPagesCorrupt);
  EXPECT_EQ(table.IndexFile().RecordCount(), 1u);
  EXPECT_EQ(table.Header().NextRecordNumber, 2u);
  EXPECT_EQ(table.Header().LastRowId, 1);
  // The keys that went in before the damaged page was met are gone again.
  EXPECT_EQ(KeysIn(kDeletedIndexSlot), 1u);
  EXPECT_EQ(KeysIn(2), 1u);
  EXPECT_EQ(KeysIn(0), 1u);
  for (int index : {0, 2, kDeletedIndexSlot}) EXPECT_TRUE(table.IndexFile().VerifyIndex(index).empty()) << index;
  EXPECT_FALSE(table.LockState().Write);
  EXPECT_TRUE(table.LockedRecords().empty());
}

TEST_F(RecordTest, DeferredChangeFailingHalfwayEndsTheTransactionUncommitted) {
  TTableDefinition t = People();
  t.Fields.push_back(Field("Note", TFieldType::String, 10));  // in no index
  Create(t);
  Add(1, "a");
  const TBuffer before = Stored(1);
  table.Close();
  {
    // A damaged page of the non-unique ByName index, which no duplicate check reads.
    TDataFile reader;
    reader.SetFileName(name);
    reader.Open();
    std::uint32_t root = reader.IndexFile().GetIndexDescriptor(1).RootPage;
    reader.Close();
    std::fstream file(name + ".IDX", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(root);
    file.put(9);
  }
  table.SetDeferredChanges(true);
  Open();
  Update(1, [&](TBuffer& b) { SetText(b, 4, "changed"); });
  EXPECT_TRUE(table.LockState().Transaction);
  TBuffer b = NewRecord();
  SetInt(b, 1, 2);
  SetText(b, 2, "b");
  EXPECT_EQ(ErrorCode([&] { Insert(b); }), err::kIndexPagesCorrupt);
  EXPECT_FALSE(table.LockState().Transaction);
  EXPECT_FALSE(table.LockState().DataSemaphore);
  EXPECT_TRUE(table.LockedRecords().empty());
  EXPECT_EQ(Stored(1), before);  // the earlier deferred update went with it
  EXPECT_EQ(table.IndexFile().RecordCount(), 1u);
  EXPECT_EQ(table.Header().NextRecordNumber, 2u);
  for (int index : {0, 2, kDeletedIndexSlot}) {
    EXPECT_EQ(KeysIn(index), 1u) << index;
    EXPECT_TRUE(table.IndexFile().VerifyIndex(index).empty()) << index;
  }
  table.Close();
  table.SetDeferredChanges(false);
}

// ---- BLOB values -----------------------------------------------------------------------------

TTableDefinition Memos() {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, 10), Field("Memo", TFieldType::Blob),
              Field("Notes", TFieldType::Blob)};
  t.Indexes = {PrimaryOn({1})};
  t.BlobBlockSize = 64;  // 46 data bytes a block
  return t;
}

class BlobRecordTest : public RecordTest {
 protected:
  void SetUp() override {
    RecordTest::SetUp();
    Create(Memos());
  }
  void SetMemo(TBuffer& b, int field, const std::string& value) {
    ASSERT_EQ(table.OpenBlob(false, field, kBlobOpenReadWrite, b.data()), 0);
    ASSERT_EQ(table.TruncateBlob(false, field, 0, b.data()), 0);
    ASSERT_EQ(table.WriteBlob(false, field, 0, static_cast<std::uint32_t>(value.size()), value.data(), b.data()), 0);
  }
  std::string Memo(std::uint32_t r, int field) {
    TBuffer b = Stored(r);
    EXPECT_EQ(table.OpenBlob(false, field, kBlobOpenRead, b.data()), 0);
    std::uint32_t length = 0;
    table.GetBlobSize(false, field, b.data(), length);
    std::string value(length, '\0');
    std::uint32_t read = 0;
    table.ReadBlob(false, field, 0, length, value.data(), b.data(), read);
    table.CloseBlob(false, field, b.data());
    return value;
  }
  std::uint32_t AddMemos(std::int32_t id, const std::string& memo, const std::string& notes) {
    TBuffer b = NewRecord();
    SetInt(b, 1, id);
    SetMemo(b, 3, memo);
    SetMemo(b, 4, notes);
    Insert(b);
    table.CloseAllBlobs();
    return GetU32(b.data() + 1);
  }
};

TEST_F(BlobRecordTest, InsertStoresTheValuesAndDeleteFreesTheirChains) {
  const std::string memo(100, 'm'), notes(47, 'n');  // three blocks and two blocks
  std::uint32_t r = AddMemos(1, memo, notes);
  AddMemos(2, "short", "");
  EXPECT_EQ(Memo(r, 3), memo);
  EXPECT_EQ(Memo(r, 4), notes);
  TBlobFileReport report = VerifyBlobFile(table);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.ChainBlocks, 6u);
  EXPECT_EQ(report.FreeBlocks, 0u);

  DeleteRecord(r);
  report = VerifyBlobFile(table);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.ChainBlocks, 1u);
  EXPECT_EQ(report.FreeBlocks, 5u);
  TBuffer s = Stored(r);
  EXPECT_EQ(s[table.GetFieldDescriptor(false, 3).Offset], 0);
  EXPECT_EQ(GetI32(s.data() + table.GetFieldDescriptor(false, 3).Offset + 1), 0);
  EXPECT_EQ(Memo(2, 3), "short");

  // The next values take the freed blocks before the file grows.
  std::uint32_t next = table.BlobFile()->NextBlockOffset();
  AddMemos(3, std::string(200, 'x'), "");
  EXPECT_EQ(table.BlobFile()->NextBlockOffset(), next);
  report = VerifyBlobFile(table);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.FreeBlocks, 0u);
}

// The new value goes into a chain of its own and the old chain is freed after the record is
// written: the old blocks are never overwritten while the record on disk still names them.
TEST_F(BlobRecordTest, UpdateWritesTheValueIntoANewChainAndFreesTheOldOne) {
  std::uint32_t r = AddMemos(1, std::string(100, 'a'), "keep");
  StandOn(r);
  const std::uint16_t slot = table.GetFieldDescriptor(false, 3).Offset + 1;
  const std::int32_t before = GetI32(Stored(r).data() + slot);
  TBuffer b = Stored(r);
  SetMemo(b, 3, "b");
  table.UpdateRecord(b.data(), false, true);
  table.CloseAllBlobs();
  EXPECT_EQ(Memo(r, 3), "b");
  EXPECT_EQ(Memo(r, 4), "keep");
  EXPECT_NE(GetI32(Stored(r).data() + slot), before);
  TBlobFileReport report = VerifyBlobFile(table);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.ChainBlocks, 2u);
  EXPECT_EQ(report.FreeBlocks, 3u);  // the whole old chain
}

// A buffer copied from a stored record holds that record's chains: the new record gets copies,
// so deleting either leaves the other's values whole.
TEST_F(BlobRecordTest, CopiedRecordGetsChainsOfItsOwn) {
  std::uint32_t first = AddMemos(1, std::string(60, 'p'), "q");
  TBuffer copy = Stored(first);
  SetInt(copy, 1, 2);
  Insert(copy);
  std::uint32_t second = GetU32(copy.data() + 1);
  TBuffer stored = Stored(second);
  const std::uint16_t slot = table.GetFieldDescriptor(false, 3).Offset + 1;
  EXPECT_NE(GetI32(stored.data() + slot), GetI32(Stored(first).data() + slot));
  DeleteRecord(first);
  EXPECT_EQ(Memo(second, 3), std::string(60, 'p'));
  EXPECT_EQ(Memo(second, 4), "q");
  TBlobFileReport report = VerifyBlobFile(table);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.ChainBlocks, 3u);

  // An update that clears a closed slot frees the chain the record leaves behind.
  Update(second, [&](TBuffer& b) { Clear(b, 3); });
  report = VerifyBlobFile(table);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.ChainBlocks, 1u);
  EXPECT_EQ(report.LostBlocks, 0u);
}

TEST_F(BlobRecordTest, BrokenChainRefusesTheChangeUntouched) {
  std::uint32_t r = AddMemos(1, std::string(100, 'm'), "");
  const std::uint32_t first =
      static_cast<std::uint32_t>(GetI32(Stored(r).data() + table.GetFieldDescriptor(false, 3).Offset + 1));
  table.Close();
  {
    std::fstream file(name + ".BLB", std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t owner[4];
    PutU32(owner, 99);  // the first block claims another record
    file.seekp(first + 10);
    file.write(reinterpret_cast<char*>(owner), 4);
  }
  Open();
  const TBuffer before = Stored(r);
  EXPECT_EQ(ErrorCode([&] { Update(r, [&](TBuffer& b) { SetInt(b, 1, 5), Clear(b, 3); }); }), err::kInvalidBlobOffset);
  EXPECT_EQ(ErrorCode([&] { DeleteRecord(r); }), err::kInvalidBlobOffset);
  EXPECT_EQ(Stored(r), before);
  EXPECT_EQ(table.IndexFile().RecordCount(), 1u);
  table.IndexFile().SelectIndex(0);
  EXPECT_TRUE(table.IndexFile().ContainsKey(table.IndexFile().BuildKey(0, before.data())));
  EXPECT_TRUE(table.IndexFile().Verify().empty());
}

// ---- Locks -----------------------------------------------------------------------------------

TEST_F(RecordTest, RecordLockedByAnotherCursorStopsTheChange) {
  Create(People());
  Add(1, "a");
  Add(2, "b");
  TDataFile other;
  other.SetFileName(name);
  other.Open();
  other.LockRecord(2);
  table.LockRetryCount = 3;
  table.LockWaitTime = 1;
  StandOn(2);
  EXPECT_EQ(ErrorCode([&] { table.DeleteRecord(true); }), err::kRecordLocked);
  EXPECT_EQ(table.LockRetries, 4);  // LockRetryCount + 1 attempts
  EXPECT_EQ(Stored(2)[0], 0);
  EXPECT_EQ(table.IndexFile().RecordCount(), 2u);
  EXPECT_FALSE(table.LockState().Write);
  EXPECT_TRUE(table.LockedRecords().empty());

  // A deleted slot that is locked cannot be reused either.
  other.UnlockRecord(2);
  DeleteRecord(2);
  other.LockRecord(2);
  TBuffer b = NewRecord();
  SetInt(b, 1, 3);
  EXPECT_EQ(ErrorCode([&] { Insert(b); }), err::kRecordLocked);
  EXPECT_EQ(table.IndexFile().RecordCount(), 1u);
  other.UnlockRecord(2);
  Insert(b);
  EXPECT_EQ(GetU32(b.data() + 1), 2u);
  // The operation's own record lock ended with it; one the cursor held before stays.
  EXPECT_TRUE(table.LockedRecords().empty());
  table.LockRecord(1);
  Update(1, [&](TBuffer& r) { SetText(r, 2, "z"); });
  EXPECT_EQ(table.LockedRecords(), std::vector<std::uint32_t>{1});
  StandOn(1);
  TBuffer z = Stored(1);
  table.UpdateRecord(z.data(), true, true);  // unlock after
  EXPECT_TRUE(table.LockedRecords().empty());
}

TEST_F(RecordTest, LockRecordEndsTheReadLockItTook) {
  Create(People());
  Add(1, "a");
  table.LockRecord(1);
  EXPECT_FALSE(table.LockState().Read);
  EXPECT_FALSE(table.IndexFile().HoldsSharedSemaphore());
  table.AcquireReadLock();
  table.LockRecord(2);  // a read lock of the caller stays
  EXPECT_TRUE(table.LockState().Read);
  table.ReleaseReadLock();
  table.UnlockAllRecords();
}

// ---- Deferred changes ------------------------------------------------------------------------

TEST_F(RecordTest, DeferredChangesAreDroppedWhenTheCursorCloses) {
  for (bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    if (table.Opened()) {
      table.Close();
      table.DeleteTable();
    }
    testing::CreateTable(name, People());
    table.SetDeferredChanges(true);
    Open(exclusive);
    EXPECT_EQ(ErrorCode([&] { table.SetDeferredChanges(false); }), err::kFileInUse);
    Add(1, "a");
    Add(2, "b");
    DeleteRecord(1);
    EXPECT_TRUE(table.LockState().Transaction);
    EXPECT_EQ(table.IndexFile().RecordCount(), 1u);
    if (!exclusive) {
      // Nothing reached the files, and other writers wait for the transaction.
      TDataFile other;
      other.SetFileName(name);
      other.Open();
      EXPECT_EQ(other.Header().NextRecordNumber, 1u);
      EXPECT_EQ(other.IndexFile().RecordCount(), 0u);
      other.SemaphoreAttempts = 2;
      other.SemaphorePauseMs = 1;
      EXPECT_EQ(ErrorCode([&] { other.AcquireWriteLock(); }), err::kLockFailure);
    }
    table.Close();
    table.SetDeferredChanges(false);
    Open();
    EXPECT_EQ(table.Header().NextRecordNumber, 1u);
    EXPECT_EQ(table.IndexFile().RecordCount(), 0u);
    EXPECT_EQ(KeysIn(0), 0u);
    EXPECT_TRUE(table.IndexFile().Verify().empty());
    TDataFile writer;  // every lock was released
    writer.SetFileName(name);
    writer.Open();
    writer.AcquireWriteLock();
    writer.ReleaseWriteLock();
  }
}

TEST_F(RecordTest, CommitChangesWritesDeferredChangesAndEndsTheTransaction) {
  TTableDefinition wide = People();
  wide.Fields[1].DeclaredSize = 250;  // few records fill the record cache, few keys a page
  testing::CreateTable(name, wide);
  table.SetDeferredChanges(true);
  Open();
  Add(1, "a");
  Add(2, "b");
  table.LockRecord(2);
  table.UnlockRecord(2);  // postponed while the transaction lasts, like the inserts' own unlocks
  EXPECT_EQ(table.LockedRecords(), (std::vector<std::uint32_t>{1, 2}));
  // More records than the record cache holds: it grows rather than writing any of them.
  ASSERT_LT(table.RecordCacheCapacity(), 600);
  for (int id = 3; id <= 600; ++id) Add(id, "n" + std::to_string(id));
  EXPECT_GT(table.RecordCacheCapacity(), 600);
  EXPECT_GT(table.IndexFile().PageCacheCapacity(1), TIndexFile::kPageCacheSize);
  EXPECT_EQ(table.FileSize(), kTableHeaderSize + 3 * kFieldDescriptorSize);
  table.CommitChanges();
  EXPECT_FALSE(table.LockState().Transaction);
  EXPECT_EQ(table.FileSize(), kTableHeaderSize + 3 * kFieldDescriptorSize + 600 * table.Header().RecordSize);
  EXPECT_TRUE(table.LockedRecords().empty());
  TDataFile other;
  other.SetFileName(name);
  other.Open();
  EXPECT_EQ(other.Header().NextRecordNumber, 601u);
  EXPECT_EQ(other.IndexFile().RecordCount(), 600u);
  EXPECT_TRUE(other.IndexFile().Verify().empty());
  other.LockRecord(2);
  other.AcquireWriteLock();
  other.ReleaseWriteLock();
  other.Close();
  // The next change starts a new transaction.
  Add(601, "c");
  EXPECT_TRUE(table.LockState().Transaction);
  table.Close();
  table.SetDeferredChanges(false);
  Open();
  EXPECT_EQ(table.IndexFile().RecordCount(), 600u);
}

}  // namespace
}  // namespace quillon::engine
