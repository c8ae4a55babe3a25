// The one calendar of the system and the one reader of date and time texts.
//
// Dates are day numbers of the proleptic Gregorian calendar with 0001-01-01 = day 1, so that
// 1899-12-30 is day 693,594; times are milliseconds since midnight; a timestamp is a day number
// times 86,400,000 plus the milliseconds. The table store, the SQL layer and the tools all count
// days here, so that one date has one number everywhere.
//
// The texts differ between readers (a table's locale formats, the SQL layer's fixed formats, the
// shell's ISO form); TDateTextRules carries every difference, and one scanner reads them all.
// Every reader rejects (returns false) rather than guesses on text it cannot read whole, and
// never reads outside the text it is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::engine {

inline constexpr std::int32_t kDayNumberOf18991230 = 693594;
inline constexpr std::int32_t kMaxDayNumber = 3652059;  // 9999-12-31
inline constexpr std::int32_t kMsPerDay = 86400000;

bool IsLeapYear(int year);
// Days of a month 1..12 of a year.
int DaysInMonth(int year, int month);
// A date of the years 1 to 9999.
bool IsValidDate(int year, int month, int day);
// Day number of a valid date (0001-01-01 = 1).
std::int32_t EncodeDate(int year, int month, int day);
// The date of any day number, also past 9999; numbers below 1 give 0001-01-01.
void DateOfDayNumber(std::int32_t dayNumber, int& year, int& month, int& day);
// The date of a day number from 1 to 9999-12-31; false for other numbers.
bool DecodeDate(std::int32_t dayNumber, int& year, int& month, int& day);
std::int32_t EncodeTime(int hour, int minute, int second, int millisecond);
double EncodeTimeStamp(std::int32_t dayNumber, std::int32_t milliseconds);
// Day number and milliseconds of a timestamp; false when it is not a whole, non-negative
// number of milliseconds within the calendar.
bool DecodeTimeStamp(double value, std::int32_t& dayNumber, std::int32_t& milliseconds);

// ---- Date and time texts ---------------------------------------------------------------------
// A date is two or three numbers joined by DateSeparator, a time two or three numbers joined by
// TimeSeparator, the last optionally followed by FractionSeparator and a fraction, and then
// optionally by AmText or PmText (without regard to case, blanks before it allowed).
struct TDigitRange {
  int Min = 1;
  int Max = 2;
};

struct TDateTextRules {
  // The order of day (D), month (M) and year (Y); anything but a permutation of "DMY" means "MDY".
  std::string Order = "MDY";
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char FractionSeparator = '.';
  TDigitRange DayMonthDigits{1, 2};
  TDigitRange YearDigits{1, 4};
  TDigitRange TimeDigits{1, 2};  // hours, minutes, seconds
  TDigitRange FractionDigits{1, 3};
  // The fraction counts milliseconds ("5" = 5 ms) instead of being a decimal fraction of a
  // second ("5" = 500 ms); counted milliseconds may not exceed 999.
  bool FractionCountsMilliseconds = false;
  // Blanks (any byte up to the space) around the text as a whole, and a run of spaces between a
  // timestamp's date and time.
  bool BlanksAroundText = true;
  // Blanks also around each number.
  bool BlanksAroundNumbers = false;
  // A date of two numbers (day and month in Order without the year) falls in DefaultYear.
  bool YearOptional = false;
  int DefaultYear = 0;
  // A year written with one or two digits is the year of that ending within the hundred years
  // that begin here.
  int TwoDigitYearWindowStart = 1950;
  bool SecondsRequired = false;
  // Empty texts: no 12-hour clock.
  std::string AmText = "AM";
  std::string PmText = "PM";
  // A timestamp's date must be followed by a time; otherwise it stands at midnight.
  bool TimeStampNeedsTime = false;
  // A timestamp may be a time alone, on 1899-12-30.
  bool TimeStampMayBeTimeAlone = false;
};

bool ParseDateText(std::string_view text, const TDateTextRules& rules, std::int32_t& dayNumber);
bool ParseTimeText(std::string_view text, const TDateTextRules& rules, std::int32_t& milliseconds);
// A date, or a date and a time separated by a space (see the rules for time alone).
bool ParseTimeStampText(std::string_view text, const TDateTextRules& rules, double& timestamp);

}  // namespace quillon::engine
