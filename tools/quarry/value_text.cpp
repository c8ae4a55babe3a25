#include "tools/quarry/value_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "engine/field_codec.h"
#include "util/text.h"

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

// "%.15g", the shell's number text, unless 15 digits do not give the value back: then the 17
// that always do, so that a dump imports to the same bits.
std::string NumberText(double value, TNumberText numbers) {
  std::string text = Printf("%.15g", value);
  if (numbers == TNumberText::Shown) return text;
  double back = std::strtod(text.c_str(), nullptr);
  if (std::memcmp(&back, &value, sizeof value) != 0 && value == value) text = Printf("%.17g", value);
  return text;
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

std::string FieldValueText(TFieldType type, std::string_view bytes, TNumberText numbers) {
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
      return NumberText(Load<double>(bytes), numbers);
    case TFieldType::Bcd:
      return engine::BcdToText(Load<std::int64_t>(bytes));
    case TFieldType::Extended: {
      if (bytes.size() < 10) return Damaged(bytes);
      std::uint8_t raw[10];
      std::memcpy(raw, bytes.data(), 10);
      return NumberText(engine::DecodeExtended(raw), numbers);
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

// ---- Text back to values ---------------------------------------------------------------------

namespace quillon::quarry {

namespace {

template <typename T>
std::string Store(T value) {
  std::uint64_t v = 0;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&v, &value, 8);
  } else {
    std::make_unsigned_t<T> narrow;
    std::memcpy(&narrow, &value, sizeof(T));
    v = narrow;
  }
  std::string out(sizeof(T), '\0');
  for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// The shell's own form: YYYY-MM-DD, HH:MM:SS or HH:MM:SS.mmm, a timestamp as date, one space and
// time; fixed widths, no blanks, no 12-hour clock.
const engine::TDateTextRules& ShellRules() {
  static const engine::TDateTextRules rules = [] {
    engine::TDateTextRules r;
    r.Order = "YMD";
    r.DateSeparator = '-';
    r.DayMonthDigits = {2, 2};
    r.YearDigits = {4, 4};
    r.TimeDigits = {2, 2};
    r.FractionDigits = {3, 3};
    r.BlanksAroundText = false;
    r.SecondsRequired = true;
    r.AmText.clear();
    r.PmText.clear();
    r.TimeStampNeedsTime = true;
    return r;
  }();
  return rules;
}

bool ReadDate(std::string_view text, std::int32_t& day) {
  return engine::ParseDateText(text, ShellRules(), day);
}

bool ReadTime(std::string_view text, std::int32_t& ms) {
  return engine::ParseTimeText(text, ShellRules(), ms);
}

bool ReadInteger(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  // The engine's reader allows blanks around the number; the shell's text never has them.
  if (text.empty() || text.front() == ' ' || text.back() == ' ' || text.front() == '+') return false;
  return engine::ParseInteger(text, low, high, value);
}

bool ReadDouble(std::string_view text, double& value) {
  if (text.empty() || text.size() > 64) return false;
  // strtod follows the C locale the shell never leaves; it also reads the "inf" and "nan" that
  // "%.15g" writes.
  std::string s(text);
  if (static_cast<unsigned char>(s[0]) <= ' ') return false;
  char* end = nullptr;
  value = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size();
}

// The stored form of a BCD text with at most `scale` decimals: the digits with exactly `scale`
// decimals, then the scale digit, carrying the sign (the inverse of engine::BcdToText).
bool ReadBcd(std::string_view text, int scale, std::int64_t& stored, std::string& error) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() || (point != std::string_view::npos && fraction.empty())) {
    error = "not a decimal number";
    return false;
  }
  if (fraction.size() > static_cast<size_t>(scale)) {
    error = "more than " + std::to_string(scale) + " decimals";
    return false;
  }
  std::uint64_t magnitude = 0;
  constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  auto push = [&](char c) {
    if (c < '0' || c > '9') return false;
    if (magnitude > (kLimit - 9) / 10) return false;
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    return true;
  };
  std::string digits = std::string(whole) + std::string(fraction) + std::string(scale - fraction.size(), '0');
  digits += static_cast<char>('0' + scale);
  for (char c : digits) {
    if (!push(c)) {
      error = "not a decimal number within 18 digits";
      return false;
    }
  }
  stored = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

}  // namespace

bool HexToBytes(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  bytes.clear();
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

namespace {

bool Fail(std::string& error, std::string why) {
  error = std::move(why);
  return false;
}

// The integer types: the range the text must lie in and the record bytes that hold it. The
// unsigned ones refuse a minus sign even before a zero.
struct TIntegerRule {
  TFieldType Type;
  std::int64_t Low, High;
  std::size_t Bytes;
  const char* Error;
};

constexpr TIntegerRule kIntegerRules[] = {
    {TFieldType::SmallInt, -32768, 32767, 2, "not an integer from -32768 to 32767"},
    {TFieldType::Integer, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), 4,
     "not a 32-bit integer"},
    {TFieldType::Word, 0, 65535, 2, "not an integer from 0 to 65535"},
    {TFieldType::LargeWord, 0, 4294967295LL, 4, "not an integer from 0 to 4294967295"},
};

bool IntegerValue(const TIntegerRule& rule, std::string_view text, std::string& bytes, std::string& error) {
  std::int64_t i = 0;
  if (!ReadInteger(text, rule.Low, rule.High, i) || (rule.Low >= 0 && text.front() == '-'))
    return Fail(error, rule.Error);
  bytes = Store(static_cast<std::uint64_t>(i));
  bytes.resize(rule.Bytes);  // the low bytes: two's complement for the signed types
  return true;
}

bool StringValue(const engine::TFieldDescriptor& field, std::string_view text, std::string& bytes, std::string& error) {
  if (text.size() > field.DeclaredSize) {
    return Fail(error, "text of " + std::to_string(text.size()) + " characters, the field holds " +
                           std::to_string(field.DeclaredSize));
  }
  if (text.find('\0') != std::string_view::npos) return Fail(error, "text with a NUL character");
  bytes.assign(text);
  bytes.resize(field.DataSize, '\0');
  return true;
}

bool DateTimeValue(TFieldType type, std::string_view text, std::string& bytes, std::string& error) {
  std::int32_t n;
  double stamp;
  if (type == TFieldType::Date) {
    if (!ReadDate(text, n)) return Fail(error, "not a date (YYYY-MM-DD)");
    bytes = Store(n);
  } else if (type == TFieldType::Time) {
    if (!ReadTime(text, n)) return Fail(error, "not a time (HH:MM:SS or HH:MM:SS.mmm)");
    bytes = Store(n);
  } else {
    if (!engine::ParseTimeStampText(text, ShellRules(), stamp))
      return Fail(error, "not a timestamp (YYYY-MM-DD HH:MM:SS or with .mmm)");
    bytes = Store(stamp);
  }
  return true;
}

bool BooleanValue(std::string_view text, std::string& bytes, std::string& error) {
  if (EqualIgnoringCase(text, "TRUE"))
    bytes = Store<std::uint16_t>(1);
  else if (EqualIgnoringCase(text, "FALSE"))
    bytes = Store<std::uint16_t>(0);
  else
    return Fail(error, "not TRUE or FALSE");
  return true;
}

// Float holds the double itself, extended its 10-byte form.
bool RealValue(TFieldType type, std::string_view text, std::string& bytes, std::string& error) {
  double d;
  if (!ReadDouble(text, d)) return Fail(error, "not a number");
  if (type == TFieldType::Float) {
    bytes = Store(d);
  } else {
    std::uint8_t raw[10];
    engine::EncodeExtended(d, raw);
    bytes.assign(reinterpret_cast<const char*>(raw), 10);
  }
  return true;
}

bool BytesValue(const engine::TFieldDescriptor& field, std::string_view text, std::string& bytes, std::string& error) {
  if (!HexToBytes(text, bytes)) return Fail(error, "not hexadecimal bytes");
  if (bytes.size() > field.DataSize) {
    return Fail(error, std::to_string(bytes.size()) + " bytes, the field holds " + std::to_string(field.DataSize));
  }
  bytes.resize(field.DataSize, '\0');
  return true;
}

}  // namespace

bool FieldValueFromText(const engine::TFieldDescriptor& field, std::string_view text, std::string& bytes,
                        std::string& error) {
  const auto type = static_cast<TFieldType>(field.FieldType);
  for (const TIntegerRule& rule : kIntegerRules)
    if (rule.Type == type) return IntegerValue(rule, text, bytes, error);
  switch (type) {
    case TFieldType::String:
      return StringValue(field, text, bytes, error);
    case TFieldType::Date:
    case TFieldType::Time:
    case TFieldType::TimeStamp:
      return DateTimeValue(type, text, bytes, error);
    case TFieldType::Boolean:
      return BooleanValue(text, bytes, error);
    case TFieldType::Float:
    case TFieldType::Extended:
      return RealValue(type, text, bytes, error);
    case TFieldType::Bcd: {
      std::int64_t stored;
      std::string why;
      if (!ReadBcd(text, field.Decimals, stored, why)) return Fail(error, why);
      bytes = Store(stored);
      return true;
    }
    default:
      return BytesValue(field, text, bytes, error);
  }
}

bool BlobValueFromText(std::uint8_t subType, std::string_view text, std::string& value, std::string& error) {
  if (subType == engine::kSubTypeMemo || subType == engine::kSubTypeFmtMemo) {
    value.assign(text);
    return true;
  }
  if (!HexToBytes(text, value)) {
    error = "not hexadecimal bytes";
    return false;
  }
  return true;
}

}  // namespace quillon::quarry
