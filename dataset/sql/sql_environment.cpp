// Date arithmetic and the fixed-format readers of date, time and timestamp strings (see
// sql_environment.h). The readers accept:
//   date:      three numbers separated by the date separator, in the format's order; the year
//              has 1 to 4 digits, two digits meaning 1950..2049;
//   time:      hours, minutes and optionally seconds separated by the time separator, seconds
//              optionally followed by "." and up to three digits of milliseconds, then optionally
//              AM or PM (hours 1..12 with them, 0..23 without);
//   timestamp: a date, optionally followed by blanks and a time.
#include "dataset/sql/sql_environment.h"

#include <ctime>

namespace quillon::sql {

namespace {

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads 1..maxDigits digits at pos; false when there are none or too many.
bool ReadNumber(std::string_view s, std::size_t& pos, int maxDigits, int& value, int* digits = nullptr) {
  int n = 0;
  value = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
    if (++n > maxDigits) return false;
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  if (digits) *digits = n;
  return n > 0;
}

bool ValidOrder(const std::string& order) {
  return order.size() == 3 && order.find('D') != std::string::npos && order.find('M') != std::string::npos &&
         order.find('Y') != std::string::npos;
}

// Reads a date at the start of s; pos is left after it.
bool ReadDate(std::string_view s, const TDateTimeFormat& format, std::size_t& pos, std::int32_t& dayNumber) {
  const std::string order = ValidOrder(format.DateOrder) ? format.DateOrder : "MDY";
  TCivilDate date;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (pos >= s.size() || s[pos] != format.DateSeparator) return false;
      ++pos;
    }
    int value = 0;
    int digits = 0;
    const char part = order[static_cast<std::size_t>(i)];
    if (!ReadNumber(s, pos, part == 'Y' ? 4 : 2, value, &digits)) return false;
    if (part == 'Y') {
      if (digits <= 2) value += value < 50 ? 2000 : 1900;
      date.Year = value;
    } else if (part == 'M') {
      date.Month = value;
    } else {
      date.Day = value;
    }
  }
  if (!IsValidCivilDate(date)) return false;
  dayNumber = DayNumber(date);
  return true;
}

bool ReadTime(std::string_view s, const TDateTimeFormat& format, std::size_t& pos, std::int32_t& milliseconds) {
  int hour = 0, minute = 0, second = 0, milli = 0;
  if (!ReadNumber(s, pos, 2, hour)) return false;
  if (pos >= s.size() || s[pos] != format.TimeSeparator) return false;
  ++pos;
  if (!ReadNumber(s, pos, 2, minute)) return false;
  if (pos < s.size() && s[pos] == format.TimeSeparator) {
    ++pos;
    if (!ReadNumber(s, pos, 2, second)) return false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      int digits = 0;
      if (!ReadNumber(s, pos, 3, milli, &digits)) return false;
      for (; digits < 3; ++digits) milli *= 10;
    }
  }
  std::size_t p = pos;
  while (p < s.size() && s[p] == ' ') ++p;
  if (p + 2 <= s.size()) {
    const char a = static_cast<char>(s[p] & ~0x20);
    const char m = static_cast<char>(s[p + 1] & ~0x20);
    if ((a == 'A' || a == 'P') && m == 'M') {
      if (hour < 1 || hour > 12) return false;
      hour = hour % 12 + (a == 'P' ? 12 : 0);
      pos = p + 2;
    }
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  milliseconds = ((hour * 60 + minute) * 60 + second) * 1000 + milli;
  return true;
}

}  // namespace

TCivilDate TSqlEnvironment::Today() const {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  // localtime is not reentrant; the SQL layer runs on the one thread of its session.
  if (const std::tm* t = std::localtime(&now)) local = *t;
  return TCivilDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

TDateTimeFormat TSqlEnvironment::Format() const {
  return TDateTimeFormat{};
}

const TSqlEnvironment& DefaultSqlEnvironment() {
  static const TSqlEnvironment environment;
  return environment;
}

bool IsValidCivilDate(const TCivilDate& d) {
  return d.Year >= 1 && d.Year <= 9999 && d.Month >= 1 && d.Month <= 12 && d.Day >= 1 &&
         d.Day <= DaysInMonth(d.Year, d.Month);
}

std::int32_t DayNumber(const TCivilDate& d) {
  const int y = d.Year - 1;
  int days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < d.Month; ++m) days += DaysInMonth(d.Year, m);
  return days + d.Day;
}

TCivilDate CivilDateFromDayNumber(std::int32_t dayNumber) {
  TCivilDate d;
  // Walk 400-year cycles (146097 days) and then years; days before day 1 clamp to day 1.
  int n = dayNumber < 1 ? 0 : dayNumber - 1;
  d.Year = 1 + 400 * (n / 146097);
  n %= 146097;
  while (n >= (IsLeap(d.Year) ? 366 : 365)) {
    n -= IsLeap(d.Year) ? 366 : 365;
    ++d.Year;
  }
  d.Month = 1;
  while (n >= DaysInMonth(d.Year, d.Month)) {
    n -= DaysInMonth(d.Year, d.Month);
    ++d.Month;
  }
  d.Day = n + 1;
  return d;
}

bool ParseDateLiteral(std::string_view text, const TDateTimeFormat& format, std::int32_t& dayNumber) {
  std::string_view s = TrimBlanks(text);
  std::size_t pos = 0;
  return ReadDate(s, format, pos, dayNumber) && pos == s.size();
}

bool ParseTimeLiteral(std::string_view text, const TDateTimeFormat& format, std::int32_t& milliseconds) {
  std::string_view s = TrimBlanks(text);
  std::size_t pos = 0;
  return ReadTime(s, format, pos, milliseconds) && pos == s.size();
}

bool ParseTimeStampLiteral(std::string_view text, const TDateTimeFormat& format, double& value) {
  std::string_view s = TrimBlanks(text);
  std::size_t pos = 0;
  std::int32_t day = 0;
  std::int32_t ms = 0;
  if (!ReadDate(s, format, pos, day)) return false;
  if (pos < s.size()) {
    if (s[pos] != ' ') return false;
    while (pos < s.size() && s[pos] == ' ') ++pos;
    if (!ReadTime(s, format, pos, ms) || pos != s.size()) return false;
  }
  value = day * kMillisecondsPerDay + ms;
  return true;
}

}  // namespace quillon::sql
