// The fuzz input of a table: its data, index and BLOB files in one byte string, so that the
// fuzzer mutates all three together.
//   0 u32 data-file length   4 u32 index-file length   8.. data file, index file, BLOB file
#pragma once

#include <cstdint>
#include <string>

namespace quillon::engine::fuzzing {

struct TTableFiles {
  std::string Data, Index, Blob;
};

inline std::string PackTable(const TTableFiles& files) {
  std::string out(8, '\0');
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(0, static_cast<std::uint32_t>(files.Data.size()));
  put(4, static_cast<std::uint32_t>(files.Index.size()));
  return out + files.Data + files.Index + files.Blob;
}

// False when the input is too short for its own lengths.
inline bool UnpackTable(const std::uint8_t* bytes, std::size_t size, TTableFiles& files) {
  if (size < 8) return false;
  auto get = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bytes[at + static_cast<std::size_t>(i)]) << (8 * i);
    return v;
  };
  const std::uint64_t data = get(0), index = get(4);
  if (data + index > size - 8) return false;
  const char* p = reinterpret_cast<const char*>(bytes) + 8;
  files.Data.assign(p, data);
  files.Index.assign(p + data, index);
  files.Blob.assign(p + data + index, size - 8 - data - index);
  return true;
}

}  // namespace quillon::engine::fuzzing
