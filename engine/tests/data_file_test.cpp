// Data file format, table creation with its checks, opening damaged files, the record cache and
// change detection between cursors.
#include "engine/data_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/byte_order.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::ErrorCode;
using testing::Field;
using testing::PrimaryOn;

class DataFile : public testing::EngineTest {
 protected:
  quillon::testing::TempDir dir;
  std::string Bytes(const std::string& name) { return dir.Read(name); }
  static std::uint32_t U32(const std::string& s, std::size_t at) {
    return GetU32(reinterpret_cast<const std::uint8_t*>(s.data() + at));
  }
  static std::uint16_t U16(const std::string& s, std::size_t at) {
    return GetU16(reinterpret_cast<const std::uint8_t*>(s.data() + at));
  }
};

// One field of every type, with the data sizes and offsets the record layout gives them.
TTableDefinition EveryType() {
  TTableDefinition t;
  t.Fields = {Field("Str", TFieldType::String, 10),
              Field("Day", TFieldType::Date),
              Field("Memo", TFieldType::Blob),
              Field("Flag", TFieldType::Boolean),
              Field("Small", TFieldType::SmallInt),
              Field("RowId", TFieldType::Integer, 0, 0, kSubTypeAutoInc),
              Field("Money", TFieldType::Float, 0, 0, kSubTypeMoney),
              Field("Amount", TFieldType::Bcd, 0, 2),
              Field("Raw", TFieldType::Bytes, 3),
              Field("Clock", TFieldType::Time),
              Field("Stamp", TFieldType::TimeStamp),
              Field("Count", TFieldType::Word),
              Field("Big", TFieldType::LargeWord),
              Field("Ext", TFieldType::Extended),
              Field("Var", TFieldType::VarBytes, 5),
              Field("Int", TFieldType::Integer)};
  t.Indexes = {PrimaryOn({16})};
  t.Description = "Every type";
  t.UserValue1 = -2;
  t.UserValue2 = 7;
  return t;
}

TEST_F(DataFile, LayoutIsByteExact) {
  testing::CreateTable(dir.File("every"), EveryType());
  std::string dat = Bytes("every.DAT");
  // Sizes: Str 11, Day 4, Memo 4, Flag 2, Small 2, RowId none, Money 8, Amount 8, Raw 3, Clock 4,
  // Stamp 8, Count 2, Big 4, Ext 10, Var 5, Int 4; each stored field adds its null byte.
  const int sizes[] = {11, 4, 4, 2, 2, 0, 8, 8, 3, 4, 8, 2, 4, 10, 5, 4};
  int expectedOffset = 9;
  std::vector<int> offsets;
  for (int size : sizes) {
    offsets.push_back(size == 0 ? 5 : expectedOffset);
    if (size != 0) expectedOffset += size + 1;
  }
  const int recordSize = expectedOffset;  // 9 + 79 + 15 null bytes
  ASSERT_EQ(recordSize, 103);
  ASSERT_EQ(dat.size(), 127u + 16 * 768);
  EXPECT_EQ(U32(dat, 0), 1u);  // written once at creation
  EXPECT_EQ(U32(dat, 4), 512u);
  EXPECT_EQ(dat[8], 3);
  EXPECT_EQ(U32(dat, 9), 0u);
  EXPECT_EQ(U32(dat, 13), 1u);
  EXPECT_EQ(U32(dat, 17), 0u);
  EXPECT_EQ(U16(dat, 21), recordSize);
  EXPECT_EQ(U16(dat, 23), 16);
  EXPECT_EQ(U16(dat, 25), 1);
  EXPECT_EQ(dat[35], 10);
  EXPECT_EQ(dat.substr(36, 10), "Every type");
  EXPECT_EQ(dat[86], 0);
  EXPECT_EQ(dat[87], 0);
  EXPECT_EQ(static_cast<std::int16_t>(U16(dat, 107)), -2);
  EXPECT_EQ(U16(dat, 109), 7);
  EXPECT_EQ(dat.substr(114, 13), std::string(13, '\0'));
  // LastUpdate: local days since 1899-12-30 minus 693,594, so a little above -693,594 + 40,000.
  double lastUpdate = GetDouble(reinterpret_cast<const std::uint8_t*>(dat.data() + 27));
  EXPECT_GT(lastUpdate, -693594.0 + 40000);
  EXPECT_LT(lastUpdate, -693594.0 + 80000);
  for (int i = 0; i < 16; ++i) {
    std::size_t at = 127 + 768 * i;
    EXPECT_EQ(U16(dat, at), i + 1);
    EXPECT_EQ(dat[at + 84], static_cast<char>(EveryType().Fields[i].FieldType));
    EXPECT_EQ(static_cast<std::uint8_t>(dat[at + 88]), sizes[i] == 0 ? 4 : sizes[i]) << i;
    EXPECT_EQ(U16(dat, at + 90), offsets[i]) << i;
    EXPECT_EQ(dat.substr(at + 504, 264), std::string(264, '\0'));
  }
  EXPECT_EQ(dat[127 + 768 * 0 + 86], 10);  // DeclaredSize of the string
  EXPECT_EQ(dat[127 + 768 * 7 + 87], 2);   // Decimals of the BCD
  EXPECT_EQ(dat[127 + 768 * 7 + 89], 2);   // DataDecimals
  EXPECT_EQ(dat[127 + 768 * 1 + 86], 0);   // DeclaredSize of other types
  EXPECT_EQ(dat[127 + 768 * 5 + 85], 29);  // auto-increment subtype
  std::string idx = Bytes("every.IDX");
  ASSERT_EQ(idx.size(), 4096u);
  EXPECT_EQ(U32(idx, 0), 2u);  // written at creation and after the index descriptors
  EXPECT_EQ(idx[8], 3);
  EXPECT_EQ(U32(idx, 9), 4096u);
  EXPECT_EQ(U16(idx, 14 + 31), 5);  // primary key: the auto-increment field, 4 bytes + null byte
  EXPECT_EQ(idx[14 + 37], 1);
  EXPECT_EQ(idx[14 + 31 * 120], 11);
  EXPECT_EQ(idx.substr(14 + 31 * 120 + 1, 11), "Sys Deleted");
  EXPECT_EQ(U16(idx, 14 + 31 * 120 + 31), 5);
  std::string blb = Bytes("every.BLB");
  ASSERT_EQ(blb.size(), 512u);
  EXPECT_EQ(blb[8], 3);
  EXPECT_EQ(U32(blb, 13), 512u);
}

TEST_F(DataFile, RecordsWrittenThroughTheCacheLandWhereTheLayoutSays) {
  testing::CreateTable(dir.File("every"), EveryType());
  TDataFile t;
  t.SetFileName(dir.File("every"));
  t.SetExclusive(true);
  t.Open();
  ASSERT_EQ(t.RecordBufferSize(), 103u);
  TRecord* r = t.FetchRecord(1);
  std::uint8_t* d = r->Data.data();
  d[0] = 0;
  PutU32(d + 1, 1);
  PutI32(d + 5, 42);  // the row identifier, which the auto-increment field reads
  auto at = [&](int field) { return d + t.GetFieldDescriptor(false, field).Offset; };
  std::memcpy(at(1) + 1, "lyrics", 7);
  at(1)[0] = 1;
  at(2)[0] = 1;
  PutI32(at(2) + 1, EncodeDate(1899, 12, 30));
  std::int64_t bcd = 0;
  ASSERT_TRUE(EncodeBcd(123400, 2, bcd));
  at(8)[0] = 1;
  PutI64(at(8) + 1, bcd);
  at(14)[0] = 1;
  EncodeExtended(1.0, at(14) + 1);
  t.MarkDirty(r);
  t.UnpinRecord(r);
  t.HeaderForUpdate().NextRecordNumber = 2;
  t.Close();
  std::string rec = Bytes("every.DAT").substr(127 + 16 * 768);
  ASSERT_EQ(rec.size(), 103u);
  const auto* b = reinterpret_cast<const std::uint8_t*>(rec.data());
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(GetU32(b + 1), 1u);
  EXPECT_EQ(GetI32(b + 5), 42);
  EXPECT_EQ(rec.substr(9, 8), std::string("\1lyrics\0", 8));
  EXPECT_EQ(b[21], 1);
  EXPECT_EQ(GetI32(b + 22), 693594);
  EXPECT_EQ(GetI64(b + 9 + 12 + 5 + 5 + 3 + 3 + 9 + 1), 12342);
  const std::uint8_t one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(0, std::memcmp(b + 9 + 12 + 5 + 5 + 3 + 3 + 9 + 9 + 4 + 5 + 9 + 3 + 5 + 1, one, 10));
}

TEST_F(DataFile, CreateTableChecksInOrder) {
  TTableDefinition tooManyFields = testing::SmallTable();
  tooManyFields.Fields.clear();
  for (int i = 0; i < 1025; ++i) tooManyFields.Fields.push_back(Field("F" + std::to_string(i), TFieldType::Integer));
  TTableDefinition longString = testing::SmallTable();
  longString.Fields[1].DeclaredSize = 251;
  TTableDefinition maxString = testing::SmallTable();
  maxString.Fields[1].DeclaredSize = 250;
  auto withName = [](const char* name) {
    TTableDefinition t = testing::SmallTable();
    t.Fields[1].FieldName = name;
    return t;
  };
  TTableDefinition duplicateNumber = testing::SmallTable();
  duplicateNumber.Fields[1].FieldNumber = 1;
  TTableDefinition typeZero = testing::SmallTable();
  typeZero.Fields[1].FieldType = 0;
  TTableDefinition badDefault = testing::SmallTable();
  badDefault.Fields[0].DefaultValue = "12x";
  TTableDefinition badMinimum = testing::SmallTable();
  badMinimum.Fields.push_back(Field("Day", TFieldType::Date));
  badMinimum.Fields[2].MinValue = "2/30/2000";
  TTableDefinition goodLiterals = badMinimum;
  goodLiterals.Fields[2].MinValue = "date";
  goodLiterals.Fields[0].MaxValue = "2147483647";
  TTableDefinition encrypted = testing::SmallTable();
  encrypted.Encrypted = true;
  encrypted.Password = "   ";
  TTableDefinition longPassword = encrypted;
  longPassword.Password = "0123456789abcdef";
  TTableDefinition blockSize = testing::SmallTable();
  blockSize.BlobBlockSize = 63;
  TTableDefinition tooManyBlobs = testing::SmallTable();
  for (int i = 0; i < 33; ++i) tooManyBlobs.Fields.push_back(Field("B" + std::to_string(i), TFieldType::Blob));
  TTableDefinition recordTooLarge = testing::SmallTable();
  for (int i = 0; i < 300; ++i)
    recordTooLarge.Fields.push_back(Field("S" + std::to_string(i), TFieldType::String, 250));
  TTableDefinition locale = testing::SmallTable();
  locale.LanguageId = 0x0409;
  TTableDefinition badKey = testing::SmallTable();
  badKey.Indexes = {PrimaryOn({3})};
  TTableDefinition noPrimary = testing::SmallTable();
  noPrimary.Indexes = {PrimaryOn({})};
  TTableDefinition blobKey = testing::SmallTable();
  blobKey.Fields.push_back(Field("Memo", TFieldType::Blob));
  blobKey.Indexes = {PrimaryOn({3})};
  // 9492 comes before the field checks, 10015 before everything but exclusivity.
  TTableDefinition fieldsAndPassword = tooManyFields;
  fieldsAndPassword.Encrypted = true;
  TTableDefinition namesBeforeSizes = longString;
  namesBeforeSizes.Fields[0].FieldName = "1st";

  struct Case {
    const char* what;
    TTableDefinition definition;
    int code;
  } cases[] = {
      {"1,025 fields", tooManyFields, err::kFieldLimits},
      {"251-character string", longString, err::kInvalidFieldDefinition},
      {"250-character string", maxString, 0},
      {"empty name", withName("  "), err::kInvalidFieldName},
      {"name starting with a digit", withName("9lives"), err::kInvalidFieldName},
      {"duplicate name", withName("ID"), err::kInvalidFieldName},
      {"high-byte name", withName("\xC4pfel"), 0},
      {"duplicate number", duplicateNumber, err::kInvalidFieldDefinition},
      {"type 0", typeZero, err::kInvalidFieldDefinition},
      {"bad default", badDefault, err::kInvalidValidityCheck},
      {"bad minimum", badMinimum, err::kInvalidValidityCheck},
      {"good literals", goodLiterals, 0},
      {"blank password", encrypted, err::kInvalidPassword},
      {"16-character password", longPassword, err::kInvalidPassword},
      {"blob block size", blockSize, err::kBlobFieldsOrBlockSize},
      {"33 BLOB fields", tooManyBlobs, err::kBlobFieldsOrBlockSize},
      {"record above 65,535 bytes", recordTooLarge, err::kRecordTooLarge},
      {"locale on this system", locale, err::kLocaleUnavailable},
      {"unknown key field", badKey, err::kInvalidIndexField},
      {"empty primary not allowed", noPrimary, err::kInvalidKeySize},
      {"BLOB key field", blobKey, err::kInvalidIndexFieldType},
      {"password before fields", fieldsAndPassword, err::kInvalidPassword},
      {"names before sizes", namesBeforeSizes, err::kInvalidFieldName},
  };
#ifdef _WIN32
  cases[17].code = 0;  // Windows has the locale installed
#endif
  for (auto& c : cases) {
    TDataFile t;
    t.SetFileName(dir.File("t"));
    t.SetExclusive(true);
    EXPECT_EQ(ErrorCode([&] { t.CreateTable(c.definition); }), c.code) << c.what;
    EXPECT_EQ(std::filesystem::exists(dir.File("t.DAT")), c.code == 0) << c.what;
    if (c.code == 0) t.DeleteTable();
  }
  TDataFile shared;
  shared.SetFileName(dir.File("t"));
  EXPECT_EQ(ErrorCode([&] { shared.CreateTable(fieldsAndPassword); }), err::kMustBeExclusive);
  shared.SetExclusive(true);
  shared.SetReadOnly(true);
  EXPECT_EQ(ErrorCode([&] { shared.CreateTable(testing::SmallTable()); }), err::kAccessDenied);
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.DAT")));
}

TEST_F(DataFile, FieldErrorsNameTheField) {
  TTableDefinition t = testing::SmallTable();
  t.Fields[1].DeclaredSize = 251;
  TDataFile table;
  table.SetFileName(dir.File("t"));
  table.SetExclusive(true);
  try {
    table.CreateTable(t);
    FAIL();
  } catch (const EEngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Invalid field definition specified for the field Name in data file " + dir.File("t.DAT"));
  }
}

TEST_F(DataFile, OpenReadsTheShapeAndFindsFields) {
  TTableDefinition def = EveryType();
  def.Fields[0].Required = true;
  def.Fields[1].DefaultValue = "DATE";
  testing::CreateTable(dir.File("every"), def);
  TDataFile t;
  t.SetFileName(dir.File("EVERY.dat"));
  t.Open();
  EXPECT_EQ(t.FieldCount(), 16);
  EXPECT_EQ(t.PhysicalFieldCount(), 16);
  EXPECT_EQ(t.GetFieldDescriptorByName(true, "amount").Decimals, 2);
  EXPECT_EQ(t.GetFieldDescriptor(false, 6).Offset, 5);
  EXPECT_EQ(ErrorCode([&] { t.GetFieldDescriptor(true, 17); }), err::kInvalidField);
  EXPECT_EQ(ErrorCode([&] { t.GetFieldDescriptorByName(true, "nope"); }), err::kInvalidField);
  EXPECT_TRUE(t.HasValidityChecks());
  EXPECT_TRUE(t.HasDefaults());
  EXPECT_FALSE(t.HasComputed());
  EXPECT_EQ(t.ReadAheadCount(), 32767u / 103);
  EXPECT_EQ(t.RecordCacheCapacity(), 131070 / 103);
  EXPECT_EQ(t.PhysicalRecordCount(), 0u);
  EXPECT_NE(t.BlobFile(), nullptr);
  EXPECT_EQ(t.Header().Description, "Every type");
  EXPECT_EQ(ErrorCode([&] { t.SetDeleteOnClose(true); }), err::kFileInUse);
}

TEST_F(DataFile, EncryptedTablesNeedTheirPassword) {
  TTableDefinition def = testing::SmallTable();
  def.Encrypted = true;
  def.Password = " Secret ";
  def.Description = "hidden text";
  testing::CreateTable(dir.File("enc"), def);
  EXPECT_FALSE(Session().HasPassword("Secret"));  // only for the creation
  std::string dat = Bytes("enc.DAT");
  EXPECT_EQ(dat[86], 1);
  EXPECT_EQ(dat[87], 6);
  EXPECT_EQ(dat.find("Secret"), std::string::npos);
  EXPECT_EQ(dat.find("hidden"), std::string::npos);
  EXPECT_EQ(dat.find("Name"), std::string::npos);  // descriptors are scrambled too

  TDataFile t;
  t.SetFileName(dir.File("enc"));
  EXPECT_EQ(ErrorCode([&] { t.Open(); }), err::kPasswordRequired);
  EXPECT_FALSE(t.Opened());
  int asked = 0;
  t.SetPasswordCallback([&](TDataFile&) {
    ++asked;
    if (asked == 1) Session().AddPassword("secret");  // wrong case: asked again
    if (asked == 2) Session().AddPassword("Secret");
    return true;
  });
  t.Open();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(t.Header().Description, "hidden text");
  EXPECT_EQ(t.GetFieldDescriptor(false, 2).FieldName, "Name");
  t.Close();
  Session().RemoveAllPasswords();
  t.SetPasswordCallback([](TDataFile&) { return false; });
  EXPECT_EQ(ErrorCode([&] { t.Open(); }), err::kPasswordRequired);
}

TEST_F(DataFile, DamagedFilesGiveCleanErrors) {
  testing::CreateTable(dir.File("good"), testing::SmallTable());
  const std::string good = Bytes("good.DAT");
  const std::string idx = Bytes("good.IDX");
  auto patched = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    std::string s = good;
    for (std::uint8_t b : bytes) s[at++] = static_cast<char>(b);
    return s;
  };
  struct Case {
    const char* what;
    std::string dat;
    int code;
  } cases[] = {
      {"empty file", "", err::kReadError},
      {"truncated header", good.substr(0, 100), err::kReadError},
      {"wrong version", patched(8, {4}), err::kWrongVersion},
      {"descriptor area cut short", good.substr(0, 127 + 768 + 10), err::kReadError},
      {"1,025 fields", patched(23, {0x01, 0x04}), err::kHeaderAccess},
      {"65,535 fields", patched(23, {0xFF, 0xFF}), err::kHeaderAccess},
      {"more fields than descriptors", patched(23, {3, 0}), err::kReadError},
      {"record size below its header", patched(21, {4, 0}), err::kHeaderAccess},
      {"record size below its fields", patched(21, {20, 0}), err::kHeaderAccess},
      {"field offset past the record", patched(127 + 768 + 90, {0xF0, 0xFF}), err::kHeaderAccess},
      {"data size unlike the type", patched(127 + 88, {200}), err::kHeaderAccess},
      {"33 BLOB fields", patched(25, {33, 0}), err::kHeaderAccess},
      {"BLOB count without BLOB fields", patched(25, {1, 0}), err::kHeaderAccess},
      {"absurd record count", patched(13, {0xFF, 0xFF, 0xFF, 0x7F}), err::kHeaderAccess},
      {"free list beyond the end", patched(9, {5, 0, 0, 0}), err::kHeaderAccess},
      {"computed bytes overflow", patched(111, {0xFF, 0xFF}), err::kHeaderAccess},
      {"locale", patched(103, {0x09, 0x04}), err::kLocaleUnavailable},
  };
#ifdef _WIN32
  cases[16].code = 0;
#endif
  for (const auto& c : cases) {
    dir.Write("bad.DAT", c.dat);
    dir.Write("bad.IDX", idx);
    TDataFile t;
    t.SetFileName(dir.File("bad"));
    EXPECT_EQ(ErrorCode([&] { t.Open(); }), c.code) << c.what;
    EXPECT_EQ(t.Opened(), c.code == 0) << c.what;
  }
  std::string badIndex = idx;
  badIndex[8] = 2;
  dir.Write("bad.DAT", good);
  dir.Write("bad.IDX", badIndex);
  TDataFile t;
  t.SetFileName(dir.File("bad"));
  EXPECT_EQ(ErrorCode([&] { t.Open(); }), err::kWrongVersion);
  dir.Write("bad.IDX", idx.substr(0, 50));
  EXPECT_EQ(ErrorCode([&] { t.Open(); }), err::kReadError);
  std::filesystem::remove(dir.File("bad.IDX"));
  EXPECT_EQ(ErrorCode([&] { t.Open(); }), err::kInvalidPath);
  EXPECT_FALSE(t.Opened());
}

TEST_F(DataFile, EmptyTableAndDeleteTable) {
  TTableDefinition def = EveryType();
  testing::CreateTable(dir.File("every"), def);
  TDataFile t;
  t.SetFileName(dir.File("every"));
  t.Open();
  EXPECT_EQ(ErrorCode([&] { t.EmptyTable(); }), err::kMustBeExclusive);
  t.Close();
  t.SetExclusive(true);
  t.Open();
  for (std::uint32_t r = 1; r <= 3; ++r) {
    TRecord* rec = t.FetchRecord(r);
    t.MarkDirty(rec);
    t.UnpinRecord(rec);
    t.HeaderForUpdate().NextRecordNumber = r + 1;
  }
  t.HeaderForUpdate().LastRowId = 3;
  t.WriteBackRecords();
  EXPECT_EQ(std::filesystem::file_size(dir.File("every.DAT")), 127u + 16 * 768 + 3 * 103);
  t.EmptyTable();
  t.Close();
  std::string dat = Bytes("every.DAT");
  EXPECT_EQ(dat.size(), 127u + 16 * 768);
  EXPECT_EQ(U32(dat, 0), 1u);  // reset to 0, then written once
  EXPECT_EQ(U32(dat, 13), 1u);
  EXPECT_EQ(U32(dat, 17), 0u);
  EXPECT_EQ(Bytes("every.IDX").size(), 4096u);
  EXPECT_EQ(Bytes("every.BLB").size(), 512u);
  t.DeleteTable();
  for (const char* f : {"every.DAT", "every.IDX", "every.BLB"}) EXPECT_FALSE(std::filesystem::exists(dir.File(f)));
}

TEST_F(DataFile, RecordCacheReadsAheadAndWritesRuns) {
  TTableDefinition def = testing::SmallTable();
  def.Encrypted = true;
  def.Password = "pw";
  Session().AddPassword("pw");
  testing::CreateTable(dir.File("cache"), def);
  {
    TDataFile t;
    t.SetFileName(dir.File("cache"));
    t.SetExclusive(true);
    t.Open();
    const std::uint32_t size = t.Header().RecordSize;
    for (std::uint32_t r = 1; r <= 40; ++r) {
      TRecord* rec = t.FetchRecord(r);
      PutU32(rec->Data.data() + 1, 0xDEAD);  // replaced by the record number when loaded
      PutI32(rec->Data.data() + 5, static_cast<std::int32_t>(r * 10));
      t.MarkDirty(rec);
      t.UnpinRecord(rec);
      t.HeaderForUpdate().NextRecordNumber = r + 1;
    }
    t.Close();
    EXPECT_EQ(std::filesystem::file_size(dir.File("cache.DAT")), 127u + 2 * 768 + 40 * size);
  }
  std::string dat = Bytes("cache.DAT");
  EXPECT_NE(static_cast<std::uint8_t>(dat[127 + 2 * 768 + 5]), 10);  // scrambled on disk
  TDataFile t;
  t.SetFileName(dir.File("cache"));
  t.Open();
  TRecord* r = t.FetchRecord(30, -1, 10);  // reads 21..30 in one go
  EXPECT_EQ(GetI32(r->Data.data() + 5), 300);
  EXPECT_EQ(GetU32(r->Data.data() + 1), 30u);
  t.UnpinRecord(r);
  t.ReleaseReadLock();
  int cached = 0;
  for (std::uint32_t n = 1; n <= 40; ++n) {
    TRecord* probe = t.FetchRecord(n);  // hits do not take the read lock
    if (n >= 21 && n <= 30) {
      ++cached;
      EXPECT_FALSE(t.LockState().Read) << n;
    }
    EXPECT_EQ(GetI32(probe->Data.data() + 5), static_cast<std::int32_t>(n * 10));
    t.UnpinRecord(probe);
    t.ReleaseReadLock();
  }
  EXPECT_EQ(cached, 10);
  TRecord* fresh = t.FetchRecord(41);
  EXPECT_EQ(fresh->RecordNumber, 41u);
  EXPECT_EQ(ErrorCode([&] { t.FetchRecord(42); }), err::kRecordNotFound);
  Session().RemoveAllPasswords();
}

TEST_F(DataFile, PinningIsLimited) {
  testing::CreateTable(dir.File("pins"), testing::SmallTable());
  TDataFile t;
  t.SetFileName(dir.File("pins"));
  t.SetExclusive(true);
  t.Open();
  for (int i = 0; i < 64; ++i) t.FetchRecord(1);
  EXPECT_EQ(ErrorCode([&] { t.FetchRecord(1); }), err::kRecordBuffersCorrupt);
}

TEST_F(DataFile, ChangeCountersTellOtherCursors) {
  testing::CreateTable(dir.File("shared"), testing::SmallTable());
  TDataFile a, b;
  for (auto* t : {&a, &b}) {
    t->SetFileName(dir.File("shared"));
    t->Open();
  }
  EXPECT_FALSE(b.Refresh());
  a.AcquireWriteLock();
  TRecord* r = a.FetchRecord(1);
  PutI32(r->Data.data() + 5, 77);
  a.MarkDirty(r);
  a.UnpinRecord(r);
  a.HeaderForUpdate().NextRecordNumber = 2;
  a.WriteBackRecords();
  a.WriteHeader(false);
  a.ReleaseWriteLock();
  EXPECT_EQ(b.PhysicalRecordCount(), 0u);
  EXPECT_TRUE(b.AcquireReadLock());
  EXPECT_EQ(b.PhysicalRecordCount(), 1u);
  TRecord* seen = b.FetchRecord(1);
  EXPECT_EQ(GetI32(seen->Data.data() + 5), 77);
  b.UnpinRecord(seen);
  b.ReleaseReadLock();
  EXPECT_FALSE(b.Refresh());
  // The index header's counter also tells, and then both headers are read again.
  a.AcquireWriteLock();
  a.IndexFile().SetRecordCount(1);
  a.IndexFile().WriteHeader(false);
  a.ReleaseWriteLock();
  EXPECT_TRUE(b.Refresh());
  EXPECT_EQ(b.IndexFile().RecordCount(), 1u);
}

TEST_F(DataFile, LockStatesStackAndRelease) {
  testing::CreateTable(dir.File("locks"), testing::SmallTable());
  TDataFile a, b;
  for (auto* t : {&a, &b}) {
    t->SetFileName(dir.File("locks"));
    t->Open();
    t->SemaphoreAttempts = 2;
    t->SemaphorePauseMs = 1;
    t->IndexFile().SemaphoreAttempts = 2;
    t->IndexFile().SemaphorePauseMs = 1;
    t->LockRetryCount = 2;
    t->LockWaitTime = 1;
  }
  a.AcquireStatementReadLock();
  a.AcquireReadLock();  // already covered by the statement lock
  EXPECT_FALSE(a.LockState().Read);
  b.AcquireReadLock();  // readers share
  EXPECT_EQ(ErrorCode([&] { b.AcquireWriteLock(); }), err::kLockFailure);
  EXPECT_FALSE(b.LockState().Write);
  b.ReleaseReadLock();
  a.AcquireWriteLock();  // gives up its own shared slot while writing
  EXPECT_EQ(ErrorCode([&] { b.AcquireReadLock(); }), err::kLockFailure);
  a.ReleaseWriteLock();
  EXPECT_TRUE(a.IndexFile().HoldsSharedSemaphore());  // the statement lock is back
  a.ReleaseStatementReadLock();
  EXPECT_FALSE(a.IndexFile().HoldsSharedSemaphore());
  a.LockRecord(5);
  a.LockRecord(5);  // already held
  EXPECT_EQ(ErrorCode([&] { b.LockRecord(5); }), err::kRecordLocked);
  EXPECT_EQ(b.LockRetries, 3);
  EXPECT_EQ(ErrorCode([&] { b.LockTable(); }), err::kFileLocked);
  b.LockRecord(6);
  a.UnlockAllRecords();
  EXPECT_EQ(ErrorCode([&] { a.LockTable(); }), err::kFileLocked);
  b.UnlockRecord(6);
  b.ReleaseReadLock();  // LockRecord took it; its caller's operation has ended
  a.LockTable();
  a.LockRecord(9);  // no record locks under the table lock
  EXPECT_TRUE(a.LockedRecords().empty());
  a.UnlockTable();
  a.AcquireTransactionLock();
  EXPECT_EQ(ErrorCode([&] { b.AcquireWriteLock(); }), err::kLockFailure);
  a.AcquireWriteLock();  // inside the transaction: the data semaphore is already held
  a.ReleaseWriteLock();
  EXPECT_TRUE(a.LockState().DataSemaphore);
  a.LockRecord(4);
  a.UnlockRecord(4);  // postponed while the transaction lock is held
  EXPECT_EQ(ErrorCode([&] { b.LockRecord(4); }), err::kRecordLocked);
  a.ReleaseTransactionLock();
  EXPECT_TRUE(a.LockedRecords().empty());
  EXPECT_FALSE(a.LockState().DataSemaphore);
  b.LockRecord(4);
  b.UnlockRecord(4);
  b.ReleaseReadLock();
  a.AcquireTransactionLock();
  a.Close();
  b.AcquireWriteLock();
  b.ReleaseWriteLock();
}

TEST_F(DataFile, InMemoryTablesShareLikeDiskTables) {
  testing::CreateTable("C:\\mem\\songs", testing::SmallTable(), true);
  TDataFile a, b, c;
  for (auto* t : {&a, &b, &c}) {
    t->SetInMemory(true);
    t->SetFileName("C:\\mem\\songs");
  }
  a.Open();
  b.Open();
  c.SetExclusive(true);
  EXPECT_EQ(ErrorCode([&] { c.Open(); }), err::kAccessDenied);
  a.Close();
  b.Close();
  c.Open();
  c.Close();
  c.DeleteTable();
  EXPECT_FALSE(c.Exists());
}

TEST_F(DataFile, DeleteOnCloseRemovesTheFiles) {
  testing::CreateTable(dir.File("temp"), EveryType());
  TDataFile t;
  t.SetFileName(dir.File("temp"));
  t.SetDeleteOnClose(true);
  t.SetForceBufferFlush(true);
  t.Open();
  EXPECT_TRUE(t.WriteThrough());
  EXPECT_TRUE(t.IndexFile().WriteThrough());
  EXPECT_TRUE(t.BlobFile()->WriteThrough());
  t.Close();
  for (const char* f : {"temp.DAT", "temp.IDX", "temp.BLB"}) EXPECT_FALSE(std::filesystem::exists(dir.File(f)));
}

}  // namespace
}  // namespace quillon::engine
