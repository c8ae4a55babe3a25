// The BLOB file's header as a structure, read and written whole like the data file's
// (table_format.h). Layout of the 512 bytes at offset 0:
//   0 i32 ChangeCounter   4 zero   8 u8 Version (3)   9 u32 FreeBlockHead (0 = none)
//   13 u32 NextBlockOffset (512 in a new file)   17 u8 HeaderDirty   18..511 zero
// Encrypted tables scramble the 512 bytes as a whole; that is the file's business, not this
// structure's.
#pragma once

#include <cstdint>

namespace quillon::engine {

inline constexpr int kBlobHeaderSize = 512;
inline constexpr std::uint8_t kBlobVersion = 3;

struct TBlobHeader {
  std::int32_t ChangeCounter = 0;
  std::uint8_t Version = kBlobVersion;
  std::uint32_t FreeBlockHead = 0;
  std::uint32_t NextBlockOffset = kBlobHeaderSize;
  std::uint8_t HeaderDirty = 0;

  static TBlobHeader Decode(const std::uint8_t* bytes);
  // Writes all kBlobHeaderSize bytes, the unused ones zero.
  void Encode(std::uint8_t* bytes) const;
};

}  // namespace quillon::engine
