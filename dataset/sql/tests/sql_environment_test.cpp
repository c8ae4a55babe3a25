// Day numbers and the fixed-format readers of date, time and timestamp strings.
#include <gtest/gtest.h>

#include "dataset/sql/sql_environment.h"

namespace quillon::sql {
namespace {

TEST(SqlEnvironment, DayNumbers) {
  EXPECT_EQ(DayNumber({1, 1, 1}), 1);
  EXPECT_EQ(DayNumber({1, 12, 31}), 365);
  EXPECT_EQ(DayNumber({1899, 12, 30}), 693594);
  EXPECT_EQ(DayNumber({2000, 1, 1}), 693594 + 36526);
  EXPECT_EQ(DayNumber({2000, 3, 1}) - DayNumber({2000, 2, 28}), 2) << "2000 is a leap year";
  EXPECT_EQ(DayNumber({1900, 3, 1}) - DayNumber({1900, 2, 28}), 1) << "1900 is not";
  for (std::int32_t day = 1; day < 800000; day += 997) {
    TCivilDate date = CivilDateFromDayNumber(day);
    ASSERT_TRUE(IsValidCivilDate(date)) << day;
    ASSERT_EQ(DayNumber(date), day);
  }
}

TEST(SqlEnvironment, ReadsDates) {
  const TDateTimeFormat mdy;
  TDateTimeFormat dmy;
  dmy.DateOrder = "DMY";
  dmy.DateSeparator = '.';
  struct Case {
    const char* text;
    const TDateTimeFormat* format;
    bool ok;
    TCivilDate date;
  } cases[] = {
      {"3/15/2024", &mdy, true, {2024, 3, 15}},
      {" 03/05/24 ", &mdy, true, {2024, 3, 5}},
      {"1/2/99", &mdy, true, {1999, 1, 2}},
      {"2/29/2000", &mdy, true, {2000, 2, 29}},
      {"15.3.2024", &dmy, true, {2024, 3, 15}},
      {"2/29/2023", &mdy, false, {}},
      {"13/1/2020", &mdy, false, {}},
      {"1/0/2020", &mdy, false, {}},
      {"1/2", &mdy, false, {}},
      {"1-2-2003", &mdy, false, {}},
      {"1/2/2003x", &mdy, false, {}},
      {"1/2/12345", &mdy, false, {}},
      {"", &mdy, false, {}},
  };
  for (const Case& c : cases) {
    std::int32_t day = -1;
    EXPECT_EQ(ParseDateLiteral(c.text, *c.format, day), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(day, DayNumber(c.date)) << c.text;
    }
  }
}

TEST(SqlEnvironment, ReadsTimesAndTimestamps) {
  const TDateTimeFormat f;
  struct Case {
    const char* text;
    bool ok;
    std::int32_t ms;
  } times[] = {
      {"12:30", true, 45000000}, {"12:30:15.5", true, 45015500}, {"1:05 PM", true, 47100000},
      {"12:00 AM", true, 0},     {"12:00 pm", true, 43200000},   {"23:59:59.999", true, 86399999},
      {"24:00", false, 0},       {"13:00 PM", false, 0},         {"12:60", false, 0},
      {"12", false, 0},          {"12:30:", false, 0},           {"12:30 XM", false, 0},
  };
  for (const Case& c : times) {
    std::int32_t ms = -1;
    EXPECT_EQ(ParseTimeLiteral(c.text, f, ms), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(ms, c.ms) << c.text;
    }
  }
  double value = 0;
  ASSERT_TRUE(ParseTimeStampLiteral("1/2/2003 10:30", f, value));
  EXPECT_EQ(value, DayNumber({2003, 1, 2}) * kMillisecondsPerDay + 10.5 * 3600000);
  ASSERT_TRUE(ParseTimeStampLiteral("1/2/2003", f, value));
  EXPECT_EQ(value, DayNumber({2003, 1, 2}) * kMillisecondsPerDay);
  EXPECT_FALSE(ParseTimeStampLiteral("1/2/2003 10", f, value));
  EXPECT_FALSE(ParseTimeStampLiteral("1/2/2003x10:30", f, value));
  EXPECT_FALSE(ParseTimeStampLiteral("10:30", f, value));
}

}  // namespace
}  // namespace quillon::sql
