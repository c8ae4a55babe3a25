// Encodings of field values in records, the scrambling of encrypted tables, and the reading of
// literal texts (default, minimum and maximum values) with a table's number and date formats.
//
// Everything here is a pure function of its arguments: no file, no session. The record
// operations, the index key builder and the SQL layer share these routines so that one value has
// one byte form everywhere.
//
// Value forms (all little-endian in the record):
//   date       signed 32-bit day number, 0001-01-01 = day 1 (1899-12-30 = 693,594; engine/calendar.h)
//   time       signed 32-bit milliseconds since midnight
//   timestamp  IEEE double: day number * 86,400,000 + milliseconds since midnight
//   BCD        signed 64-bit: the digits of |v| with exactly `scale` decimals, the point removed,
//              then one more digit equal to the scale; the integer carries v's sign
//              (12.34 at scale 2 = 12342, -0.5 at scale 2 = -502, 7 at scale 0 = 70)
//   extended   80-bit IEEE extended: 64-bit significand with explicit integer bit, then a
//              16-bit word holding the sign and the 15-bit exponent (bias 16,383)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/calendar.h"

namespace quillon::engine {

// ---- Scrambling ------------------------------------------------------------------------------
// A unit is scrambled from its first byte with a 16-bit running value that starts at a seed:
// each byte is XORed with the running value's low and high bytes, then the low byte counts up
// and the high byte down (both modulo 256). Applying it twice restores the unit.
//
// The two seed pairs are part of the file format: a table can be read only with the seeds it was
// written with, so they must never change.
//   data seed      records, the descriptor area, index pages and BLOB headers and blocks
//   password seed  the characters of the header's Password and Description
inline constexpr std::uint8_t kDataSeedLow = 0x5A;
inline constexpr std::uint8_t kDataSeedHigh = 0xC3;
inline constexpr std::uint8_t kPasswordSeedLow = 0x3E;
inline constexpr std::uint8_t kPasswordSeedHigh = 0x91;

void Scramble(std::uint8_t* data, std::size_t count, std::uint8_t seedLow, std::uint8_t seedHigh);
inline void ScrambleData(std::uint8_t* data, std::size_t count) {
  Scramble(data, count, kDataSeedLow, kDataSeedHigh);
}
inline void ScramblePassword(std::uint8_t* data, std::size_t count) {
  Scramble(data, count, kPasswordSeedLow, kPasswordSeedHigh);
}

// ---- BCD -------------------------------------------------------------------------------------
// Fixed-point values with 4 decimals travel as int64 scaled by 10,000 (12.34 = 123400).
// The stored integer ends with one decimal digit that is the scale, so no scale above 9 can be
// written or read back.
inline constexpr int kMaxBcdScale = 9;
// EncodeBcd rounds half away from zero to min(scale, 4) decimals first; false when the scale is
// above 9 (the stored scale is one digit) or the result does not fit 64 bits.
bool EncodeBcd(std::int64_t fixed4, int scale, std::int64_t& stored);
// The stored value as decimal text ("-0.50" for -502); the scale is the last digit.
std::string BcdToText(std::int64_t stored);
// The stored value as a 4-decimal fixed-point number (rounded half away from zero when the
// scale is above 4); false when it does not fit.
bool DecodeBcd(std::int64_t stored, std::int64_t& fixed4);

// ---- Extended --------------------------------------------------------------------------------
void EncodeExtended(double value, std::uint8_t out[10]);
double DecodeExtended(const std::uint8_t in[10]);

// ---- Literal texts ---------------------------------------------------------------------------
// The number and date formats used to read literals of a table. A table without locale uses
// DefaultFormats(); a table with a locale gets its locale's formats from the locale service.
struct TLocaleFormats {
  std::string CurrencyString = "$";
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  int CurrencyDecimals = 2;
  char DateSeparator = '/';
  std::string ShortDateFormat = "M/d/yy";
  std::string LongDateFormat = "dddd, MMMM dd, yyyy";
  char TimeSeparator = ':';
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::string ShortTimeFormat = "h:mm AMPM";
  std::string LongTimeFormat = "h:mm:ss AMPM";
};
const TLocaleFormats& DefaultFormats();

// Each reader accepts surrounding blanks and returns false on anything it cannot read whole.
bool ParseInteger(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value);
bool ParseFloat(std::string_view text, const TLocaleFormats& formats, double& value);
bool ParseFixed4(std::string_view text, const TLocaleFormats& formats, std::int64_t& fixed4);
// Dates follow the order of ShortDateFormat's day, month and year letters; two parts mean the
// current year; a two-digit year falls within 50 years of the current year.
bool ParseDate(std::string_view text, const TLocaleFormats& formats, std::int32_t& dayNumber);
// h:mm, h:mm:ss or h:mm:ss.zzz, optionally followed by the AM or PM string.
bool ParseTime(std::string_view text, const TLocaleFormats& formats, std::int32_t& milliseconds);
// A date, a date and a time separated by blanks, or a time alone (on day 1899-12-30).
bool ParseDateTime(std::string_view text, const TLocaleFormats& formats, double& timestamp);

}  // namespace quillon::engine
