// Encoding and decoding of the data file's header and field descriptors; the byte map is in
// table_format.h.
#include "engine/table_format.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/field_codec.h"

namespace quillon::engine {

std::string ReadCountedString(const std::uint8_t* p, std::size_t room) {
  std::size_t n = std::min<std::size_t>(p[0], room);
  return std::string(reinterpret_cast<const char*>(p + 1), n);
}

void WriteCountedString(std::uint8_t* p, std::size_t room, const std::string& s) {
  std::size_t n = std::min(s.size(), room);
  std::memset(p, 0, room + 1);
  p[0] = static_cast<std::uint8_t>(n);
  std::memcpy(p + 1, s.data(), n);
}

std::uint32_t TTableHeader::BlockSize() const {
  std::uint32_t size = BlobBlockSize & 0xFFFF;
  return size == 0 ? kDefaultBlobBlockSize : size;
}

TTableHeader TTableHeader::Decode(const std::uint8_t* b) {
  TTableHeader h;
  h.ChangeCounter = GetI32(b + 0);
  h.BlobBlockSize = GetU32(b + 4);
  h.Version = b[8];
  h.FreeRecordHead = GetU32(b + 9);
  h.NextRecordNumber = GetU32(b + 13);
  h.LastRowId = GetI32(b + 17);
  h.RecordSize = GetU16(b + 21);
  h.FieldCount = GetU16(b + 23);
  h.BlobFieldCount = GetU16(b + 25);
  h.LastUpdate = GetDouble(b + 27);
  h.Encrypted = b[86] == 1;
  std::uint8_t description[51], password[16];
  std::memcpy(description, b + 35, sizeof description);
  std::memcpy(password, b + 87, sizeof password);
  if (h.Encrypted) {
    ScramblePassword(description + 1, 50);
    ScramblePassword(password + 1, 15);
  }
  h.Description = ReadCountedString(description, 50);
  h.Password = ReadCountedString(password, 15);
  h.LanguageId = GetU16(b + 103);
  h.SortId = GetU16(b + 105);
  h.UserValue1 = GetI16(b + 107);
  h.UserValue2 = GetI16(b + 109);
  h.ComputedBytes = GetU16(b + 111);
  h.HeaderDirty = b[113];
  return h;
}

void TTableHeader::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kTableHeaderSize);
  PutI32(b + 0, ChangeCounter);
  PutU32(b + 4, BlobBlockSize);
  b[8] = Version;
  PutU32(b + 9, FreeRecordHead);
  PutU32(b + 13, NextRecordNumber);
  PutI32(b + 17, LastRowId);
  PutU16(b + 21, RecordSize);
  PutU16(b + 23, FieldCount);
  PutU16(b + 25, BlobFieldCount);
  PutDouble(b + 27, LastUpdate);
  WriteCountedString(b + 35, 50, Description);
  b[86] = Encrypted ? 1 : 0;
  WriteCountedString(b + 87, 15, Encrypted ? Password : std::string());
  if (Encrypted) {
    ScramblePassword(b + 36, 50);
    ScramblePassword(b + 88, 15);
  }
  PutU16(b + 103, LanguageId);
  PutU16(b + 105, SortId);
  PutI16(b + 107, UserValue1);
  PutI16(b + 109, UserValue2);
  PutU16(b + 111, ComputedBytes);
  b[113] = HeaderDirty;
}

TFieldDescriptor TFieldDescriptor::Decode(const std::uint8_t* b) {
  TFieldDescriptor f;
  f.FieldNumber = GetI16(b + 0);
  f.FieldName = ReadCountedString(b + 2, 30);
  std::memcpy(f.Reserved.data(), b + 33, f.Reserved.size());
  f.FieldType = b[84];
  f.SubType = b[85];
  f.DeclaredSize = b[86];
  f.Decimals = b[87];
  f.DataSize = b[88];
  f.DataDecimals = b[89];
  f.Offset = GetU16(b + 90);
  f.Required = b[92] == 1;
  f.MinValue = ReadCountedString(b + 94, 50);
  f.MaxValue = ReadCountedString(b + 145, 50);
  f.DefaultValue = ReadCountedString(b + 196, 50);
  f.Computed = b[247] == 1;
  f.Expression = ReadCountedString(b + 248, 255);
  return f;
}

void TFieldDescriptor::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kFieldDescriptorSize);
  PutI16(b + 0, FieldNumber);
  WriteCountedString(b + 2, 30, FieldName);
  std::memcpy(b + 33, Reserved.data(), Reserved.size());
  b[84] = FieldType;
  b[85] = SubType;
  b[86] = DeclaredSize;
  b[87] = Decimals;
  b[88] = DataSize;
  b[89] = DataDecimals;
  PutU16(b + 90, Offset);
  b[92] = Required ? 1 : 0;
  WriteCountedString(b + 94, 50, MinValue);
  WriteCountedString(b + 145, 50, MaxValue);
  WriteCountedString(b + 196, 50, DefaultValue);
  b[247] = Computed ? 1 : 0;
  WriteCountedString(b + 248, 255, Expression);
}

std::uint8_t DataSizeOf(std::uint8_t fieldType, std::uint8_t declaredSize) {
  switch (static_cast<TFieldType>(fieldType)) {
    case TFieldType::String:
      return static_cast<std::uint8_t>(declaredSize + 1);
    case TFieldType::Date:
    case TFieldType::Blob:
    case TFieldType::Integer:
    case TFieldType::Time:
    case TFieldType::LargeWord:
      return 4;
    case TFieldType::Boolean:
    case TFieldType::SmallInt:
    case TFieldType::Word:
      return 2;
    case TFieldType::Float:
    case TFieldType::Bcd:
    case TFieldType::TimeStamp:
      return 8;
    case TFieldType::Extended:
      return 10;
    default:
      return declaredSize;
  }
}

double LastUpdateValue(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  double days = EncodeDate(year, month, day) - kDayNumberOf18991230;
  double fraction = static_cast<double>(EncodeTime(hour, minute, second, millisecond)) / kMsPerDay;
  return days + fraction - kDayNumberOf18991230;
}

}  // namespace quillon::engine
