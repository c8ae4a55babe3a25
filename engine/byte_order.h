// Little-endian integers and IEEE doubles in byte buffers: the one place where the engine turns
// on-disk bytes into numbers and back. Every table file integer goes through these helpers, so
// the engine reads the same files on any host byte order and never casts structs onto buffers.
#pragma once

#include <cstdint>
#include <cstring>

namespace quillon::engine {

inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t GetI16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(GetU16(p));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t GetI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(GetU32(p));
}
inline std::uint64_t GetU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(GetU32(p)) | (static_cast<std::uint64_t>(GetU32(p + 4)) << 32);
}
inline std::int64_t GetI64(const std::uint8_t* p) {
  return static_cast<std::int64_t>(GetU64(p));
}
inline double GetDouble(const std::uint8_t* p) {
  std::uint64_t bits = GetU64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutI16(std::uint8_t* p, std::int16_t v) {
  PutU16(p, static_cast<std::uint16_t>(v));
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutI32(std::uint8_t* p, std::int32_t v) {
  PutU32(p, static_cast<std::uint32_t>(v));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutI64(std::uint8_t* p, std::int64_t v) {
  PutU64(p, static_cast<std::uint64_t>(v));
}
inline void PutDouble(std::uint8_t* p, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutU64(p, bits);
}

}  // namespace quillon::engine
