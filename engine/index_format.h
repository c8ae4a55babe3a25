// The index file's header page (<name>.IDX, page 0) and its index descriptors as structures,
// read and written whole like the data file's (table_format.h) and the BLOB file's
// (blob_format.h). The encoders write every byte of their area, the unused ones zero, and the
// decoders never read outside it; length bytes are clamped to the room of their name.
//
// Header page (4,096 bytes, integers little-endian):
//   0 i32 ChangeCounter   4 zero   8 u8 Version (3)   9 u32 NextPageOffset (4,096 when new)
//   13 u8 SecondaryIndexCount (0..30)
//   14 33 x 120 descriptor slots: 0 primary, 1..30 secondaries in creation order,
//      31 the deleted-records index "Sys Deleted", 32 reserved (zero)
//   3974 u32 RecordCount   3978 u8 NoPrimaryIndex   3979 u8 HeaderDirty   3980..4095 zero
//
// Index descriptor (120 bytes):
//   0 len+30 IndexName   31 u16 KeyLength   33 u8 Descending   34 u8 CaseInsensitive
//   35 u8 Unique   36 u8 Compression   37 u8 KeyFieldCount   38 16 x u8 FieldDescending
//   54 16 x i16 KeyFields   86 u32 RootPage   90 u32 FreePageHead   94..119 zero
//
// Encrypted tables scramble the header page as a whole, like every other page; that is the
// file's business, not these structures'. Page layout: index_page.h. Key bytes: index_key.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quillon::engine {

inline constexpr int kIndexPageSize = 4096;
inline constexpr int kIndexDescriptorSize = 120;
inline constexpr int kIndexSlotCount = 33;
inline constexpr std::uint8_t kIndexVersion = 3;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kDeletedIndexSlot = 31;
inline constexpr int kMaxKeyFields = 16;
inline constexpr int kMaxKeyLength = 1036;
inline constexpr char kDeletedIndexName[] = "Sys Deleted";

struct TIndexDescriptor {
  std::string IndexName;
  std::uint16_t KeyLength = 0;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool Unique = false;
  std::uint8_t Compression = 0;
  std::uint8_t KeyFieldCount = 0;
  std::array<std::uint8_t, kMaxKeyFields> FieldDescending{};
  std::array<std::int16_t, kMaxKeyFields> KeyFields{};
  std::uint32_t RootPage = 0;
  std::uint32_t FreePageHead = 0;
  // Bytes 94..119 as read, written back unchanged (zero in every file the engine writes).
  std::array<std::uint8_t, 26> Reserved{};

  // No name, no flags, no key fields, no pages: an unused slot as the engine writes it.
  bool IsBlank() const;
  static TIndexDescriptor Decode(const std::uint8_t* bytes);
  // Writes all kIndexDescriptorSize bytes.
  void Encode(std::uint8_t* bytes) const;
};

struct TIndexHeader {
  std::int32_t ChangeCounter = 0;
  std::uint8_t Version = kIndexVersion;
  std::uint32_t NextPageOffset = kIndexPageSize;
  std::uint8_t SecondaryIndexCount = 0;
  std::array<TIndexDescriptor, kIndexSlotCount> Slots{};
  std::uint32_t RecordCount = 0;
  std::uint8_t NoPrimaryIndex = 0;  // 1 = the table was created without primary index fields
  std::uint8_t HeaderDirty = 0;

  static TIndexHeader Decode(const std::uint8_t* bytes);
  // Writes all kIndexPageSize bytes, the unused ones zero.
  void Encode(std::uint8_t* bytes) const;
};

}  // namespace quillon::engine
