// The SQL layer's side of the calendar (engine/calendar.h): its environment and the fixed
// formats of its date, time and timestamp strings. The readers accept:
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

engine::TDateTextRules LiteralRules(const TDateTimeFormat& format) {
  engine::TDateTextRules rules;
  rules.Order = format.DateOrder;
  rules.DateSeparator = format.DateSeparator;
  rules.TimeSeparator = format.TimeSeparator;
  return rules;
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
  return engine::IsValidDate(d.Year, d.Month, d.Day);
}

std::int32_t DayNumber(const TCivilDate& d) {
  return engine::EncodeDate(d.Year, d.Month, d.Day);
}

TCivilDate CivilDateFromDayNumber(std::int32_t dayNumber) {
  TCivilDate d;
  engine::DateOfDayNumber(dayNumber, d.Year, d.Month, d.Day);
  return d;
}

bool ParseDateLiteral(std::string_view text, const TDateTimeFormat& format, std::int32_t& dayNumber) {
  return engine::ParseDateText(text, LiteralRules(format), dayNumber);
}

bool ParseTimeLiteral(std::string_view text, const TDateTimeFormat& format, std::int32_t& milliseconds) {
  return engine::ParseTimeText(text, LiteralRules(format), milliseconds);
}

bool ParseTimeStampLiteral(std::string_view text, const TDateTimeFormat& format, double& value) {
  return engine::ParseTimeStampText(text, LiteralRules(format), value);
}

}  // namespace quillon::sql
