// Day-number arithmetic and the date and time text scanner; see calendar.h.
#include "engine/calendar.h"

#include <algorithm>
#include <cmath>

#include "util/text.h"

namespace quillon::engine {

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

std::int32_t EncodeDate(int year, int month, int day) {
  int y = year - 1;
  std::int32_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day;
}

void DateOfDayNumber(std::int32_t dayNumber, int& year, int& month, int& day) {
  std::int32_t d = dayNumber < 1 ? 0 : dayNumber - 1;  // days since 0001-01-01
  int y400 = d / 146097;
  d %= 146097;
  int y100 = d / 36524;
  if (y100 == 4) y100 = 3;  // the last day of a 400-year cycle
  d -= y100 * 36524;
  int y4 = d / 1461;
  d %= 1461;
  int y1 = d / 365;
  if (y1 == 4) y1 = 3;  // the last day of a leap cycle
  d -= y1 * 365;
  year = y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1;
  month = 1;
  while (d >= DaysInMonth(year, month)) d -= DaysInMonth(year, month++);
  day = d + 1;
}

bool DecodeDate(std::int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber < 1 || dayNumber > kMaxDayNumber) return false;
  DateOfDayNumber(dayNumber, year, month, day);
  return true;
}

std::int32_t EncodeTime(int hour, int minute, int second, int millisecond) {
  return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

double EncodeTimeStamp(std::int32_t dayNumber, std::int32_t milliseconds) {
  return static_cast<double>(dayNumber) * kMsPerDay + milliseconds;
}

bool DecodeTimeStamp(double value, std::int32_t& dayNumber, std::int32_t& milliseconds) {
  if (!std::isfinite(value) || value < 0 || value > static_cast<double>(kMaxDayNumber + 1) * kMsPerDay) return false;
  double whole = std::floor(value);
  if (whole != value) return false;
  auto ms = static_cast<std::int64_t>(whole);
  dayNumber = static_cast<std::int32_t>(ms / kMsPerDay);
  milliseconds = static_cast<std::int32_t>(ms % kMsPerDay);
  return true;
}

// ---- Date and time texts ---------------------------------------------------------------------

namespace {

// More digits than this could overflow an int.
constexpr int kMaxNumberDigits = 9;

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool At(std::string_view s, std::size_t pos, char c) {
  return pos < s.size() && s[pos] == c;
}

// Reads a run of digits at pos (with the blanks around it when the rules allow them, but never a
// separator, which may itself be a blank); false when there is none or it is longer than
// maxDigits.
bool ReadNumber(std::string_view s, std::size_t& pos, int maxDigits, bool blanks, std::string_view separators,
                int& value, int& digits) {
  auto skipBlanks = [&] {
    while (pos < s.size() && IsBlank(s[pos]) && separators.find(s[pos]) == std::string_view::npos) ++pos;
  };
  maxDigits = std::min(maxDigits, kMaxNumberDigits);
  if (blanks) skipBlanks();
  value = 0;
  digits = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
    if (++digits > maxDigits) return false;
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  if (blanks) skipBlanks();
  return digits > 0;
}

bool InRange(int digits, TDigitRange range) {
  return digits >= range.Min && digits <= range.Max;
}

bool ValidOrder(const std::string& order) {
  return order.size() == 3 && order.find('D') != std::string::npos && order.find('M') != std::string::npos &&
         order.find('Y') != std::string::npos;
}

// The whole of s is a date.
bool ScanDate(std::string_view s, const TDateTextRules& rules, std::int32_t& dayNumber) {
  std::string order = ValidOrder(rules.Order) ? rules.Order : "MDY";
  const int maxDigits = std::max(rules.DayMonthDigits.Max, rules.YearDigits.Max);
  const std::string_view separators(&rules.DateSeparator, 1);
  int values[3] = {0, 0, 0}, digits[3] = {0, 0, 0};
  std::size_t pos = 0;
  int count = 0;
  for (; count < 3; ++count) {
    if (count > 0) {
      if (!At(s, pos, rules.DateSeparator)) break;
      ++pos;
    }
    if (!ReadNumber(s, pos, maxDigits, rules.BlanksAroundNumbers, separators, values[count], digits[count]))
      return false;
  }
  if (pos != s.size()) return false;
  if (count == 2) {
    if (!rules.YearOptional) return false;
    order.erase(order.find('Y'), 1);
  } else if (count != 3) {
    return false;
  }
  int year = rules.DefaultYear, month = 0, day = 0;
  for (int i = 0; i < count; ++i) {
    const char part = order[static_cast<std::size_t>(i)];
    if (!InRange(digits[i], part == 'Y' ? rules.YearDigits : rules.DayMonthDigits)) return false;
    if (part == 'D') {
      day = values[i];
    } else if (part == 'M') {
      month = values[i];
    } else {
      year = values[i];
      if (digits[i] <= 2) {
        const int start = rules.TwoDigitYearWindowStart;
        year = start + ((year - start) % 100 + 100) % 100;
      }
    }
  }
  if (!IsValidDate(year, month, day)) return false;
  dayNumber = EncodeDate(year, month, day);
  return true;
}

// The whole of s is a time; blanks may end s only where the rules allow them around numbers.
bool ScanTime(std::string_view s, const TDateTextRules& rules, std::int32_t& milliseconds) {
  int meridiem = 0;  // 1 AM, 2 PM
  for (int which = 1; which <= 2 && meridiem == 0; ++which) {
    const std::string& marker = which == 1 ? rules.AmText : rules.PmText;
    if (!marker.empty() && s.size() > marker.size() && EqualIgnoringCase(s.substr(s.size() - marker.size()), marker)) {
      meridiem = which;
      s.remove_suffix(marker.size());
      while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    }
  }
  const bool blanks = rules.BlanksAroundNumbers;
  const char separatorList[] = {rules.TimeSeparator, rules.FractionSeparator};
  const std::string_view separators(separatorList, 2);
  const int maxDigits = rules.TimeDigits.Max;
  std::size_t pos = 0;
  int hour = 0, minute = 0, second = 0, fraction = 0, digits = 0;
  if (!ReadNumber(s, pos, maxDigits, blanks, separators, hour, digits) || !InRange(digits, rules.TimeDigits))
    return false;
  if (!At(s, pos, rules.TimeSeparator)) return false;
  ++pos;
  if (!ReadNumber(s, pos, maxDigits, blanks, separators, minute, digits) || !InRange(digits, rules.TimeDigits))
    return false;
  if (At(s, pos, rules.TimeSeparator)) {
    ++pos;
    if (!ReadNumber(s, pos, maxDigits, blanks, separators, second, digits) || !InRange(digits, rules.TimeDigits))
      return false;
    if (At(s, pos, rules.FractionSeparator)) {
      ++pos;
      if (!ReadNumber(s, pos, rules.FractionDigits.Max, blanks, separators, fraction, digits) ||
          !InRange(digits, rules.FractionDigits)) {
        return false;
      }
      if (rules.FractionCountsMilliseconds) {
        if (fraction > 999) return false;
      } else {
        if (digits > 3) return false;
        for (; digits < 3; ++digits) fraction *= 10;
      }
    }
  } else if (rules.SecondsRequired) {
    return false;
  }
  if (pos != s.size()) return false;
  if (meridiem != 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (meridiem == 2 ? 12 : 0);
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  milliseconds = EncodeTime(hour, minute, second, fraction);
  return true;
}

}  // namespace

bool ParseDateText(std::string_view text, const TDateTextRules& rules, std::int32_t& dayNumber) {
  return ScanDate(rules.BlanksAroundText ? TrimBlanks(text) : text, rules, dayNumber);
}

bool ParseTimeText(std::string_view text, const TDateTextRules& rules, std::int32_t& milliseconds) {
  return ScanTime(rules.BlanksAroundText ? TrimBlanks(text) : text, rules, milliseconds);
}

bool ParseTimeStampText(std::string_view text, const TDateTextRules& rules, double& timestamp) {
  std::string_view s = rules.BlanksAroundText ? TrimBlanks(text) : text;
  std::int32_t day = 0, ms = 0;
  const std::size_t blank = s.find(' ');
  if (ScanDate(s.substr(0, blank), rules, day)) {
    if (blank == std::string_view::npos) {
      if (rules.TimeStampNeedsTime) return false;
    } else {
      std::string_view time = s.substr(blank + 1);
      if (rules.BlanksAroundText) {
        while (!time.empty() && time.front() == ' ') time.remove_prefix(1);
      }
      if (!ScanTime(time, rules, ms)) return false;
    }
  } else if (rules.TimeStampMayBeTimeAlone && ScanTime(s, rules, ms)) {
    day = kDayNumberOf18991230;
  } else {
    return false;
  }
  timestamp = EncodeTimeStamp(day, ms);
  return true;
}

}  // namespace quillon::engine
