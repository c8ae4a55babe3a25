// Field type codes of the table store, shared by the engine, the dataset layer and the SQL layer.
#pragma once

#include <cstdint>

namespace quillon::engine {

enum class TFieldType : std::uint8_t {
  String = 1,
  Date = 2,
  Blob = 3,
  Boolean = 4,
  SmallInt = 5,   // signed 16-bit
  Integer = 6,    // signed 32-bit; subtype kSubTypeAutoInc = auto-increment
  Float = 7,      // IEEE double; subtype kSubTypeMoney = money
  Bcd = 8,        // signed 64-bit scaled decimal
  Bytes = 9,
  Time = 10,      // milliseconds since midnight
  TimeStamp = 11,
  Word = 12,      // unsigned 16-bit
  LargeWord = 13, // unsigned 32-bit
  Extended = 14,  // 80-bit float
  VarBytes = 15,
};

inline constexpr std::uint8_t kSubTypeMoney = 21;        // Float
inline constexpr std::uint8_t kSubTypeMemo = 22;         // Blob: text
inline constexpr std::uint8_t kSubTypeFmtMemo = 24;      // Blob: formatted text
inline constexpr std::uint8_t kSubTypeGraphic = 26;      // Blob: picture
inline constexpr std::uint8_t kSubTypeTypedBinary = 28;  // Blob: typed binary
inline constexpr std::uint8_t kSubTypeAutoInc = 29;      // Integer

inline constexpr bool IsValidFieldType(int code) { return code >= 1 && code <= 15; }

}  // namespace quillon::engine
