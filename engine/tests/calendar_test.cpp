#include "engine/calendar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quillon::engine {
namespace {

TEST(Calendar, DayNumbersOfTheEdgesOfTheCalendar) {
  struct Case {
    const char* what;
    int year, month, day;
    std::int32_t number;
  } cases[] = {
      {"first day", 1, 1, 1, 1},
      {"end of year 1", 1, 12, 31, 365},
      {"day of the time epoch", 1899, 12, 30, kDayNumberOf18991230},
      {"1900 is no leap year", 1900, 3, 1, 693655},
      {"2000 is a leap year", 2000, 2, 29, 730179},
      {"after a 400-year leap day", 2000, 3, 1, 730180},
      {"last day", 9999, 12, 31, kMaxDayNumber},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(IsValidDate(c.year, c.month, c.day)) << c.what;
    EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.number) << c.what;
    int y = 0, m = 0, d = 0;
    ASSERT_TRUE(DecodeDate(c.number, y, m, d)) << c.what;
    EXPECT_EQ(y * 10000 + m * 100 + d, c.year * 10000 + c.month * 100 + c.day) << c.what;
  }
}

TEST(Calendar, EveryDayNumberRoundTripsThroughItsDate) {
  int y = 0, m = 0, d = 0, previous = 0;
  for (std::int32_t n = 1; n <= kMaxDayNumber; n += 97) {
    ASSERT_TRUE(DecodeDate(n, y, m, d)) << n;
    ASSERT_TRUE(IsValidDate(y, m, d)) << n;
    ASSERT_EQ(EncodeDate(y, m, d), n);
    ASSERT_GE(y * 10000 + m * 100 + d, previous) << n;
    previous = y * 10000 + m * 100 + d;
  }
}

TEST(Calendar, LeapYearsAndMonthLengths) {
  struct Case {
    const char* what;
    int year, month, days;
  } cases[] = {
      {"January", 2001, 1, 31},
      {"February of a common year", 2001, 2, 28},
      {"February of a leap year", 2004, 2, 29},
      {"century is not leap", 1900, 2, 28},
      {"fourth century is", 2000, 2, 29},
      {"April", 2004, 4, 30},
      {"December of year 9999", 9999, 12, 31},
  };
  for (const Case& c : cases) EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.what;
  EXPECT_TRUE(IsLeapYear(4));
  EXPECT_FALSE(IsLeapYear(100));
  EXPECT_TRUE(IsLeapYear(400));
}

TEST(Calendar, DatesOutsideTheCalendarAreRefused) {
  struct Case {
    const char* what;
    int year, month, day;
  } cases[] = {
      {"year 0", 0, 1, 1},
      {"year 10000", 10000, 1, 1},
      {"month 0", 2004, 0, 1},
      {"month 13", 2004, 13, 1},
      {"day 0", 2004, 1, 0},
      {"April 31", 2004, 4, 31},
      {"Feb 29 of 2001", 2001, 2, 29},
      {"Feb 29 of 1900", 1900, 2, 29},
      {"Feb 30 of 2000", 2000, 2, 30},
  };
  for (const Case& c : cases) EXPECT_FALSE(IsValidDate(c.year, c.month, c.day)) << c.what;
  int y = 0, m = 0, d = 0;
  EXPECT_FALSE(DecodeDate(0, y, m, d));
  EXPECT_FALSE(DecodeDate(-5, y, m, d));
  EXPECT_FALSE(DecodeDate(kMaxDayNumber + 1, y, m, d));
}

TEST(Calendar, DateOfDayNumberGoesPastTheCalendarAndClampsBelowIt) {
  int y = 0, m = 0, d = 0;
  DateOfDayNumber(kMaxDayNumber + 1, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 100000101);
  DateOfDayNumber(0, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 10101);
  DateOfDayNumber(-100000, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 10101);
}

// The three forms the system reads: the SQL layer's fixed formats (the defaults), a table's
// locale formats, and the shell's ISO form.
TDateTextRules SqlRules() {
  return TDateTextRules{};
}

TDateTextRules LocaleRules() {
  TDateTextRules r;
  r.DayMonthDigits = r.YearDigits = r.TimeDigits = r.FractionDigits = {1, 9};
  r.FractionCountsMilliseconds = true;
  r.BlanksAroundNumbers = true;
  r.YearOptional = true;
  r.DefaultYear = 2026;
  r.TwoDigitYearWindowStart = 1976;
  r.TimeStampMayBeTimeAlone = true;
  return r;
}

TDateTextRules LocaleSpaceRules() {
  TDateTextRules r = LocaleRules();
  r.DateSeparator = ' ';
  return r;
}

TDateTextRules ShellRules() {
  TDateTextRules r;
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
}

constexpr std::int32_t kBad = -1;

TEST(DateText, DatesUnderEachForm) {
  struct Case {
    const char* what;
    TDateTextRules (*rules)();
    const char* text;
    std::int32_t day;  // kBad: refused
  } cases[] = {
      {"sql epoch day", SqlRules, "12/30/1899", kDayNumberOf18991230},
      {"sql year 1", SqlRules, "1/1/0001", 1},
      {"sql year 9999", SqlRules, "12/31/9999", kMaxDayNumber},
      {"sql leap day", SqlRules, "2/29/2000", 730179},
      {"sql no leap day in 1900", SqlRules, "2/29/1900", kBad},
      {"sql bad day", SqlRules, "4/31/2004", kBad},
      {"sql two-digit year 49", SqlRules, "1/1/49", EncodeDate(2049, 1, 1)},
      {"sql two-digit year 50", SqlRules, "1/1/50", EncodeDate(1950, 1, 1)},
      {"sql blanks around text", SqlRules, "  1/2/2003 ", EncodeDate(2003, 1, 2)},
      {"sql no blanks inside", SqlRules, "1 /2/2003", kBad},
      {"sql year needed", SqlRules, "1/2", kBad},
      {"sql three-digit day", SqlRules, "1/002/2003", kBad},
      {"sql five-digit year", SqlRules, "1/2/02003", kBad},
      {"sql fourth part", SqlRules, "1/2/2003/4", kBad},
      {"sql empty", SqlRules, "", kBad},
      {"sql separators only", SqlRules, "//", kBad},
      {"locale blanks inside", LocaleRules, "1 / 2 / 2003", EncodeDate(2003, 1, 2)},
      {"locale year left out, 2026 has no Feb 29", LocaleRules, "2/29", kBad},
      {"locale year left out, valid", LocaleRules, "3/1", EncodeDate(2026, 3, 1)},
      {"locale window top", LocaleRules, "1/1/75", EncodeDate(2075, 1, 1)},
      {"locale window bottom", LocaleRules, "1/1/76", EncodeDate(1976, 1, 1)},
      {"locale three-digit year is literal", LocaleRules, "1/1/075", EncodeDate(75, 1, 1)},
      {"locale ten digits", LocaleRules, "1/1/0000002003", kBad},
      {"space-separated date", LocaleSpaceRules, "1 2 2003", EncodeDate(2003, 1, 2)},
      {"space-separated date, doubled space", LocaleSpaceRules, "1  2 2003", kBad},
      {"shell ISO", ShellRules, "2003-01-02", EncodeDate(2003, 1, 2)},
      {"shell year 1", ShellRules, "0001-01-01", 1},
      {"shell year 9999", ShellRules, "9999-12-31", kMaxDayNumber},
      {"shell short month", ShellRules, "2003-1-02", kBad},
      {"shell blank", ShellRules, " 2003-01-02", kBad},
      {"shell bad day", ShellRules, "2003-02-29", kBad},
  };
  for (const Case& c : cases) {
    std::int32_t day = kBad;
    bool ok = ParseDateText(c.text, c.rules(), day);
    EXPECT_EQ(ok, c.day != kBad) << c.what;
    if (ok) {
      EXPECT_EQ(day, c.day) << c.what;
    }
  }
}

TEST(DateText, TimesUnderEachForm) {
  struct Case {
    const char* what;
    TDateTextRules (*rules)();
    const char* text;
    std::int32_t ms;  // kBad: refused
  } cases[] = {
      {"sql hours and minutes", SqlRules, "10:30", EncodeTime(10, 30, 0, 0)},
      {"sql fraction is decimal", SqlRules, "10:30:15.5", EncodeTime(10, 30, 15, 500)},
      {"sql three decimals", SqlRules, "10:30:15.025", EncodeTime(10, 30, 15, 25)},
      {"sql four decimals", SqlRules, "10:30:15.0250", kBad},
      {"sql PM", SqlRules, "1:05 pm", EncodeTime(13, 5, 0, 0)},
      {"sql 12 AM is midnight", SqlRules, "12:00AM", 0},
      {"sql 13 PM", SqlRules, "13:00 PM", kBad},
      {"sql hour 24", SqlRules, "24:00", kBad},
      {"sql minute 60", SqlRules, "10:60", kBad},
      {"sql hours alone", SqlRules, "10", kBad},
      {"sql marker alone", SqlRules, "PM", kBad},
      {"sql fraction without seconds", SqlRules, "10:30.5", kBad},
      {"sql tab before marker", SqlRules, "10:30\tPM", kBad},
      {"locale fraction counts ms", LocaleRules, "10:30:15.5", EncodeTime(10, 30, 15, 5)},
      {"locale fraction 1000", LocaleRules, "10:30:15.1000", kBad},
      {"locale blanks inside", LocaleRules, "10 : 30", EncodeTime(10, 30, 0, 0)},
      {"shell with ms", ShellRules, "23:59:59.999", kMsPerDay - 1},
      {"shell seconds needed", ShellRules, "10:30", kBad},
      {"shell no 12-hour clock", ShellRules, "10:30:00 PM", kBad},
  };
  for (const Case& c : cases) {
    std::int32_t ms = kBad;
    bool ok = ParseTimeText(c.text, c.rules(), ms);
    EXPECT_EQ(ok, c.ms != kBad) << c.what;
    if (ok) {
      EXPECT_EQ(ms, c.ms) << c.what;
    }
  }
}

TEST(DateText, TimeStampsUnderEachForm) {
  const double kRefused = -1;
  struct Case {
    const char* what;
    TDateTextRules (*rules)();
    const char* text;
    double value;  // kRefused: refused
  } cases[] = {
      {"sql date alone", SqlRules, "1/2/2003", EncodeTimeStamp(EncodeDate(2003, 1, 2), 0)},
      {"sql date and time", SqlRules, "1/2/2003  10:30", EncodeTimeStamp(EncodeDate(2003, 1, 2), 37800000)},
      {"sql time alone", SqlRules, "10:30", kRefused},
      {"sql hours alone after date", SqlRules, "1/2/2003 10", kRefused},
      {"sql glued time", SqlRules, "1/2/2003x10:30", kRefused},
      {"locale time alone on the epoch day", LocaleRules, "6:00", EncodeTimeStamp(kDayNumberOf18991230, 6 * 3600000)},
      {"locale date and time", LocaleRules, "12/30/1899 6:00 PM", EncodeTimeStamp(kDayNumberOf18991230, 18 * 3600000)},
      {"shell timestamp", ShellRules, "9999-12-31 23:59:59.999", EncodeTimeStamp(kMaxDayNumber, kMsPerDay - 1)},
      {"shell needs the time", ShellRules, "2003-01-02", kRefused},
      {"shell one space only", ShellRules, "2003-01-02  10:30:00", kRefused},
  };
  for (const Case& c : cases) {
    double value = kRefused;
    bool ok = ParseTimeStampText(c.text, c.rules(), value);
    EXPECT_EQ(ok, c.value != kRefused) << c.what;
    if (ok) {
      EXPECT_EQ(value, c.value) << c.what;
    }
  }
}

}  // namespace
}  // namespace quillon::engine
