// Field value encodings, scrambling and literal reading; see field_codec.h for the byte forms.
//
// Invariants: the routines never read or write outside the buffers they are given, and every
// reader rejects (returns false) rather than guesses on text it cannot read whole, so a bad
// literal in a table definition is refused at creation instead of misbehaving later.
#include "engine/field_codec.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/byte_order.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::engine {

void Scramble(std::uint8_t* data, std::size_t count, std::uint8_t seedLow, std::uint8_t seedHigh) {
  std::uint8_t low = seedLow, high = seedHigh;
  for (std::size_t i = 0; i < count; ++i) {
    data[i] = static_cast<std::uint8_t>(data[i] ^ low ^ high);
    ++low;
    --high;
  }
}

// ---- BCD -------------------------------------------------------------------------------------

namespace {

constexpr std::int64_t kPow10[] = {1,       10,       100,       1000,       10000,        100000,
                                   1000000, 10000000, 100000000, 1000000000, 10000000000LL};

// |v| as an unsigned number, also for the most negative value.
std::uint64_t Magnitude(std::int64_t v) {
  return v < 0 ? static_cast<std::uint64_t>(-(v + 1)) + 1 : static_cast<std::uint64_t>(v);
}

}  // namespace

bool EncodeBcd(std::int64_t fixed4, int scale, std::int64_t& stored) {
  if (scale < 0 || scale > kMaxBcdScale) return false;
  int kept = scale < 4 ? scale : 4;
  std::uint64_t magnitude = Magnitude(fixed4);
  std::uint64_t divisor = static_cast<std::uint64_t>(kPow10[4 - kept]);
  std::uint64_t digits = magnitude / divisor;
  if ((magnitude % divisor) * 2 >= divisor) ++digits;
  std::uint64_t widen = static_cast<std::uint64_t>(kPow10[scale - kept]);
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (digits > (limit - 9) / 10 / widen) return false;
  std::uint64_t result = digits * widen * 10 + static_cast<std::uint64_t>(scale);
  stored = fixed4 < 0 && digits != 0 ? -static_cast<std::int64_t>(result) : static_cast<std::int64_t>(result);
  return true;
}

std::string BcdToText(std::int64_t stored) {
  std::uint64_t magnitude = Magnitude(stored);
  int scale = static_cast<int>(magnitude % 10);
  std::string digits = std::to_string(magnitude / 10);
  if (digits.size() < static_cast<std::size_t>(scale) + 1) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
  return stored < 0 ? "-" + digits : digits;
}

bool DecodeBcd(std::int64_t stored, std::int64_t& fixed4) {
  std::uint64_t magnitude = Magnitude(stored);
  int scale = static_cast<int>(magnitude % 10);
  std::uint64_t digits = magnitude / 10;
  std::uint64_t value;
  if (scale <= 4) {
    std::uint64_t widen = static_cast<std::uint64_t>(kPow10[4 - scale]);
    if (digits > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / widen) return false;
    value = digits * widen;
  } else {
    std::uint64_t divisor = static_cast<std::uint64_t>(kPow10[scale - 4]);
    value = digits / divisor;
    if ((digits % divisor) * 2 >= divisor) ++value;
  }
  fixed4 = stored < 0 ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  return true;
}

// ---- Extended --------------------------------------------------------------------------------

void EncodeExtended(double value, std::uint8_t out[10]) {
  std::uint8_t raw[8];
  PutDouble(raw, value);
  std::uint64_t bits = GetU64(raw);
  std::uint16_t sign = (bits >> 63) ? 0x8000 : 0;
  int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  std::uint64_t significand = 0;
  std::uint16_t exponent15 = 0;
  if (exponent == 0x7FF) {  // infinity or NaN
    exponent15 = 0x7FFF;
    significand = (std::uint64_t{1} << 63) | (fraction << 11);
    if (fraction != 0) significand |= std::uint64_t{1} << 62;  // quiet NaN
  } else if (exponent == 0) {
    if (fraction != 0) {  // a subnormal double is a normal extended
      int shift = 0;
      while (!(fraction & (std::uint64_t{1} << 52))) {
        fraction <<= 1;
        ++shift;
      }
      exponent15 = static_cast<std::uint16_t>(16383 - 1022 - shift);
      significand = fraction << 11;
    }
  } else {
    exponent15 = static_cast<std::uint16_t>(exponent - 1023 + 16383);
    significand = (std::uint64_t{1} << 63) | (fraction << 11);
  }
  PutU64(out, significand);
  PutU16(out + 8, static_cast<std::uint16_t>(sign | exponent15));
}

double DecodeExtended(const std::uint8_t in[10]) {
  std::uint64_t significand = GetU64(in);
  std::uint16_t top = GetU16(in + 8);
  bool negative = (top & 0x8000) != 0;
  int exponent = top & 0x7FFF;
  double magnitude;
  if (exponent == 0x7FFF) {
    magnitude =
        (significand << 1) == 0 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
  } else if (significand == 0) {
    magnitude = 0.0;
  } else {
    // Round the 64-bit significand to nearest before scaling, as the hardware would.
    magnitude = std::ldexp(static_cast<double>(significand), (exponent == 0 ? 1 : exponent) - 16383 - 63);
  }
  return negative ? -magnitude : magnitude;
}

// ---- Literal texts ---------------------------------------------------------------------------

const TLocaleFormats& DefaultFormats() {
  static const TLocaleFormats formats;
  return formats;
}

namespace {

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The order of day (D), month (M) and year (Y) in a short date format.
std::string DateOrder(const std::string& format) {
  std::string order;
  for (char c : format) {
    char u = UpperAscii(c);
    if ((u == 'D' || u == 'M' || u == 'Y') && order.find(u) == std::string::npos) order += u;
  }
  return order.size() == 3 ? order : "MDY";
}

}  // namespace

bool ParseInteger(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  text = TrimView(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (!AllDigits(text) || text.size() > 18) return false;
  std::int64_t v = 0;
  for (char c : text) v = v * 10 + (c - '0');
  if (negative) v = -v;
  if (v < low || v > high) return false;
  value = v;
  return true;
}

bool ParseFloat(std::string_view text, const TLocaleFormats& formats, double& value) {
  text = TrimView(text);
  if (text.empty() || text.size() > 64) return false;
  std::string plain(text);
  for (char& c : plain) {
    if (c == formats.DecimalSeparator) {
      c = '.';
    } else if (c == '.' && formats.DecimalSeparator != '.') {
      return false;
    }
  }
  const char* first = plain.data();
  if (*first == '+') ++first;
  double v = 0;
  auto [end, ec] = std::from_chars(first, plain.data() + plain.size(), v);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ParseFixed4(std::string_view text, const TLocaleFormats& formats, std::int64_t& fixed4) {
  text = TrimView(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t point = text.find(formats.DecimalSeparator);
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return false;
  if ((!whole.empty() && !AllDigits(whole)) || (!fraction.empty() && !AllDigits(fraction))) return false;
  if (point != std::string_view::npos && fraction.empty() && whole.empty()) return false;
  if (whole.size() > 14) return false;
  std::int64_t v = 0;
  for (char c : whole) v = v * 10 + (c - '0');
  std::int64_t decimals = 0;
  for (std::size_t i = 0; i < 4; ++i) decimals = decimals * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  v = v * 10000 + decimals;
  if (fraction.size() > 4 && fraction[4] >= '5') ++v;
  fixed4 = negative ? -v : v;
  return true;
}

namespace {

// A table's literals: the locale's date order and separators, blanks allowed around every
// number, a two-part date in the current year, two-digit years within 50 years of it.
TDateTextRules LiteralRules(const TLocaleFormats& formats) {
  const int year = platform::LocalNow().year;
  TDateTextRules rules;
  rules.Order = DateOrder(formats.ShortDateFormat);
  rules.DateSeparator = formats.DateSeparator;
  rules.TimeSeparator = formats.TimeSeparator;
  rules.FractionSeparator = formats.DecimalSeparator;
  rules.DayMonthDigits = rules.YearDigits = rules.TimeDigits = rules.FractionDigits = {1, 9};
  rules.FractionCountsMilliseconds = true;
  rules.BlanksAroundNumbers = true;
  rules.YearOptional = true;
  rules.DefaultYear = year;
  rules.TwoDigitYearWindowStart = year - 50;
  rules.AmText = formats.TimeAMString;
  rules.PmText = formats.TimePMString;
  rules.TimeStampMayBeTimeAlone = true;
  return rules;
}

}  // namespace

bool ParseDate(std::string_view text, const TLocaleFormats& formats, std::int32_t& dayNumber) {
  return ParseDateText(text, LiteralRules(formats), dayNumber);
}

bool ParseTime(std::string_view text, const TLocaleFormats& formats, std::int32_t& milliseconds) {
  return ParseTimeText(text, LiteralRules(formats), milliseconds);
}

bool ParseDateTime(std::string_view text, const TLocaleFormats& formats, double& timestamp) {
  return ParseTimeStampText(text, LiteralRules(formats), timestamp);
}

}  // namespace quillon::engine
