#include "tools/quarry/value_text.h"

#include <cstdio>
#include <cstring>

#include "engine/field_codec.h"

namespace quillon::quarry {

namespace {

using engine::TFieldType;

template <typename T>
T Load(std::string_view bytes) {
  // Records are little-endian, like every machine the shell runs on; assemble bytes explicitly
  // all the same so the text never depends on the host.
  std::uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T) && i < bytes.size(); ++i) {
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  T out;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&out, &v, 8);
  } else {
    auto narrow = static_cast<std::make_unsigned_t<T>>(v);
    std::memcpy(&out, &narrow, sizeof(T));
  }
  return out;
}

std::string Printf(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Damaged(std::string_view bytes) {
  return "?" + HexText(bytes);
}

bool DateText(std::int32_t day, std::string& out) {
  int y, m, d;
  if (!engine::DecodeDate(day, y, m, d)) return false;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", y, m, d);
  out = buffer;
  return true;
}

bool TimeText(std::int32_t ms, std::string& out) {
  if (ms < 0 || ms >= engine::kMsPerDay) return false;
  char buffer[16];
  int h = ms / 3600000, mi = ms / 60000 % 60, s = ms / 1000 % 60, milli = ms % 1000;
  if (milli) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", h, mi, s, milli);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", h, mi, s);
  }
  out = buffer;
  return true;
}

}  // namespace

std::string HexText(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string FieldValueText(TFieldType type, std::string_view bytes) {
  std::string text;
  switch (type) {
    case TFieldType::String: {
      size_t end = bytes.find('\0');
      return std::string(bytes.substr(0, end));
    }
    case TFieldType::Date:
      return DateText(Load<std::int32_t>(bytes), text) ? text : Damaged(bytes);
    case TFieldType::Time:
      return TimeText(Load<std::int32_t>(bytes), text) ? text : Damaged(bytes);
    case TFieldType::TimeStamp: {
      std::int32_t day, ms;
      std::string time;
      if (!engine::DecodeTimeStamp(Load<double>(bytes), day, ms) || !DateText(day, text) || !TimeText(ms, time)) {
        return Damaged(bytes);
      }
      return text + " " + time;
    }
    case TFieldType::Boolean:
      return Load<std::uint16_t>(bytes) ? "TRUE" : "FALSE";
    case TFieldType::SmallInt:
      return std::to_string(Load<std::int16_t>(bytes));
    case TFieldType::Integer:
      return std::to_string(Load<std::int32_t>(bytes));
    case TFieldType::Word:
      return std::to_string(Load<std::uint16_t>(bytes));
    case TFieldType::LargeWord:
      return std::to_string(Load<std::uint32_t>(bytes));
    case TFieldType::Float:
      return Printf("%.15g", Load<double>(bytes));
    case TFieldType::Bcd:
      return engine::BcdToText(Load<std::int64_t>(bytes));
    case TFieldType::Extended: {
      if (bytes.size() < 10) return Damaged(bytes);
      std::uint8_t raw[10];
      std::memcpy(raw, bytes.data(), 10);
      return Printf("%.15g", engine::DecodeExtended(raw));
    }
    default:
      return HexText(bytes);
  }
}

std::string BlobValueText(std::uint8_t subType, std::string_view value) {
  if (subType == engine::kSubTypeMemo || subType == engine::kSubTypeFmtMemo) return std::string(value);
  return HexText(value);
}

}  // namespace quillon::quarry
