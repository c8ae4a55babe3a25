// The on-disk shapes of a data file (<name>.DAT): the 127-byte table header, the 768-byte field
// descriptors and the record layout, each decoded into a plain struct and encoded back. The
// encoders write every byte of their area, so a file written twice from equal structs is equal
// byte for byte; the decoders never read past their area and clamp length bytes to the room of
// their field, so a damaged file yields odd values, never an overrun.
//
// File layout (integers little-endian):
//   0                           127 bytes      table header
//   127                         768 x FieldCount   field descriptors, field 1 first
//   127 + 768 x FieldCount      RecordSize x (NextRecordNumber - 1)   records, record 1 first
//
// Table header:
//   0  i32 ChangeCounter        4  u32 BlobBlockSize (low 16 bits; 0 reads as 512)
//   8  u8  Version (3)          9  u32 FreeRecordHead      13 u32 NextRecordNumber
//   17 i32 LastRowId            21 u16 RecordSize          23 u16 FieldCount
//   25 u16 BlobFieldCount       27 f64 LastUpdate (local days since 1899-12-30, minus 693,594)
//   35 len+50 Description       86 u8  Encrypted           87 len+15 Password
//   103 u16 LanguageId          105 u16 SortId             107 i16 UserValue1   109 i16 UserValue2
//   111 u16 ComputedBytes       113 u8 HeaderDirty         114..126 zero
//   The characters (not the length bytes) of Password and Description are scrambled with the
//   password seed when Encrypted; nothing else in the header is.
//
// Field descriptor (768 bytes):
//   0 i16 FieldNumber   2 len+30 FieldName   33..83 kept as written   84 u8 FieldType
//   85 u8 SubType       86 u8 DeclaredSize   87 u8 Decimals   88 u8 DataSize   89 u8 DataDecimals
//   90 u16 Offset (null byte; for auto-increment the value, always 5)   92 u8 Required   93 unused
//   94 len+50 MinValue   145 len+50 MaxValue   196 len+50 DefaultValue   247 u8 Computed
//   248 len+255 Expression   504..767 zero on disk
//
// Record: 0 u8 Deleted, 1 u32 own number (live) or next free record (deleted), 5 i32 row
// identifier, then per stored field a null byte (1 = value present) and DataSize value bytes.
// An auto-increment field is the row identifier: no bytes of its own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/field_types.h"

namespace quillon::engine {

inline constexpr int kTableHeaderSize = 127;
inline constexpr int kFieldDescriptorSize = 768;
inline constexpr int kRecordHeaderSize = 9;
inline constexpr int kRowIdOffset = 5;
inline constexpr int kTableVersion = 3;
inline constexpr int kMaxFields = 1024;
inline constexpr int kMaxBlobFields = 32;
inline constexpr int kMaxStringSize = 250;
inline constexpr std::uint32_t kMaxRecordBytes = 65535;
inline constexpr std::uint32_t kMaxRecordNumber = 99999999;
inline constexpr std::uint32_t kDefaultBlobBlockSize = 512;

// Every header write of the three files counts up; a counter at its maximum wraps to the
// minimum, since a counter is only ever compared for equality.
inline std::int32_t NextChangeCounter(std::int32_t counter) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1u);
}

struct TTableHeader {
  std::int32_t ChangeCounter = 0;
  std::uint32_t BlobBlockSize = 0;
  std::uint8_t Version = kTableVersion;
  std::uint32_t FreeRecordHead = 0;
  std::uint32_t NextRecordNumber = 1;
  std::int32_t LastRowId = 0;
  std::uint16_t RecordSize = kRecordHeaderSize;
  std::uint16_t FieldCount = 0;
  std::uint16_t BlobFieldCount = 0;
  double LastUpdate = 0;
  std::string Description;  // plain text in memory
  bool Encrypted = false;
  std::string Password;  // plain text in memory
  std::uint16_t LanguageId = 0;
  std::uint16_t SortId = 0;
  std::int16_t UserValue1 = 0;
  std::int16_t UserValue2 = 0;
  std::uint16_t ComputedBytes = 0;
  std::uint8_t HeaderDirty = 0;

  // BlobBlockSize as used: its low 16 bits, 512 for 0.
  std::uint32_t BlockSize() const;
  static TTableHeader Decode(const std::uint8_t* bytes);
  void Encode(std::uint8_t* bytes) const;
};

struct TFieldDescriptor {
  std::int16_t FieldNumber = 0;
  std::string FieldName;
  std::uint8_t FieldType = 0;
  std::uint8_t SubType = 0;
  std::uint8_t DeclaredSize = 0;
  std::uint8_t Decimals = 0;
  std::uint8_t DataSize = 0;
  std::uint8_t DataDecimals = 0;
  std::uint16_t Offset = 0;
  bool Required = false;
  std::string MinValue, MaxValue, DefaultValue;
  bool Computed = false;
  std::string Expression;
  // Bytes 33..83 as read, written back unchanged.
  std::array<std::uint8_t, 51> Reserved{};

  bool IsAutoInc() const {
    return FieldType == static_cast<std::uint8_t>(TFieldType::Integer) && SubType == kSubTypeAutoInc;
  }
  bool IsBlob() const { return FieldType == static_cast<std::uint8_t>(TFieldType::Blob); }
  static TFieldDescriptor Decode(const std::uint8_t* bytes);
  void Encode(std::uint8_t* bytes) const;
};

// Bytes of a value in the record by type (DeclaredSize matters for strings and byte fields).
std::uint8_t DataSizeOf(std::uint8_t fieldType, std::uint8_t declaredSize);

// "Length byte + characters" strings of a fixed room.
std::string ReadCountedString(const std::uint8_t* p, std::size_t room);
void WriteCountedString(std::uint8_t* p, std::size_t room, const std::string& s);

// The header's LastUpdate for a local date and time.
double LastUpdateValue(int year, int month, int day, int hour, int minute, int second, int millisecond);

}  // namespace quillon::engine
