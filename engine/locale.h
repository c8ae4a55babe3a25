// Locale services of the table store: whether a table's locale (LanguageId + SortId * 65,536)
// is installed, the locale's string comparison and character mapping used for string keys, and
// its number and date formats used to read literal texts.
//
// Backends: locale_win32.cpp uses IsValidLocale, CompareStringA, LCMapStringA and GetLocaleInfoA.
// locale_posix.cpp knows no Windows locales: it reports every locale as not installed, so tables
// with a locale are refused (err::kLocaleUnavailable) rather than opened with another collation, which would
// scramble the order of their indexes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/field_codec.h"

namespace quillon::engine::locale {

inline std::uint32_t LocaleId(std::uint16_t languageId, std::uint16_t sortId) {
  return languageId + sortId * 65536u;
}

bool IsLocaleInstalled(std::uint32_t lcid);
// CompareStringA in string-sort mode: <0, 0 or >0.
int CompareStrings(std::uint32_t lcid, std::string_view a, std::string_view b, bool ignoreCase);
// LCMapStringA to half-width forms, and to upper case as well when asked.
std::string MapString(std::uint32_t lcid, std::string_view s, bool upperCase);
// LCMapStringA to upper or lower case only (no width mapping), for the SQL functions UPPER and
// LOWER evaluated under a table's locale.
std::string MapCase(std::uint32_t lcid, std::string_view s, bool upperCase);
// The locale's number and date formats; DefaultFormats() for a locale that is not installed.
TLocaleFormats Formats(std::uint32_t lcid);

}  // namespace quillon::engine::locale
