// TSqlEnvironment: what the SQL layer needs to know about the machine it runs on: today's local
// date (for the DATE and NOW keywords) and the short date and time formats used to read date,
// time and timestamp constants written as strings. The default implementation takes the date from
// the local clock and uses fixed formats (month/day/year and hours:minutes[:seconds]); a
// platform build may supply its own settings through this interface.
//
// Date values are day numbers of the one calendar (engine/calendar.h): day 1 = 1 January of year 1;
// times are milliseconds since midnight; timestamps are day number * 86400000 + milliseconds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/calendar.h"

namespace quillon::sql {

struct TCivilDate {
  int Year = 1;
  int Month = 1;
  int Day = 1;
};

// How date and time strings are read: the order of day, month and year ("MDY", "DMY" or "YMD")
// and the separators.
struct TDateTimeFormat {
  std::string DateOrder = "MDY";
  char DateSeparator = '/';
  char TimeSeparator = ':';
};

class TSqlEnvironment {
 public:
  virtual ~TSqlEnvironment() = default;
  virtual TCivilDate Today() const;
  virtual TDateTimeFormat Format() const;
};

// The process-wide default environment.
const TSqlEnvironment& DefaultSqlEnvironment();

inline constexpr double kMillisecondsPerDay = engine::kMsPerDay;

bool IsValidCivilDate(const TCivilDate& date);
std::int32_t DayNumber(const TCivilDate& date);  // the date must be valid
TCivilDate CivilDateFromDayNumber(std::int32_t dayNumber);

// Conversions of string constants; false when the text does not match the format. Leading and
// trailing blanks are ignored; a two-digit year means 1950 to 2049.
bool ParseDateLiteral(std::string_view text, const TDateTimeFormat& format, std::int32_t& dayNumber);
bool ParseTimeLiteral(std::string_view text, const TDateTimeFormat& format, std::int32_t& milliseconds);
bool ParseTimeStampLiteral(std::string_view text, const TDateTimeFormat& format, double& value);

}  // namespace quillon::sql
