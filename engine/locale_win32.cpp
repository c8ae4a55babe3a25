// Win32 backend of locale.h.
#include <windows.h>

#include <cstdlib>

#include "engine/locale.h"

namespace quillon::engine::locale {

namespace {

std::string Info(LCID lcid, LCTYPE type, const std::string& fallback) {
  char buffer[100];
  int n = GetLocaleInfoA(lcid, type, buffer, sizeof buffer);
  return n > 1 ? std::string(buffer, n - 1) : fallback;
}

}  // namespace

bool IsLocaleInstalled(std::uint32_t lcid) {
  return IsValidLocale(lcid, LCID_INSTALLED) != 0;
}

int CompareStrings(std::uint32_t lcid, std::string_view a, std::string_view b, bool ignoreCase) {
  DWORD flags = SORT_STRINGSORT | (ignoreCase ? NORM_IGNORECASE : 0);
  int r = CompareStringA(lcid, flags, a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
  return r == 0 ? a.compare(b) : r - CSTR_EQUAL;
}

std::string MapString(std::uint32_t lcid, std::string_view s, bool upperCase) {
  if (s.empty()) return {};
  DWORD flags = LCMAP_HALFWIDTH | (upperCase ? LCMAP_UPPERCASE : 0);
  int n = LCMapStringA(lcid, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::string(s);
  std::string out(static_cast<std::size_t>(n), '\0');
  LCMapStringA(lcid, flags, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string MapCase(std::uint32_t lcid, std::string_view s, bool upperCase) {
  if (s.empty()) return {};
  DWORD flags = upperCase ? LCMAP_UPPERCASE : LCMAP_LOWERCASE;
  int n = LCMapStringA(lcid, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::string(s);
  std::string out(static_cast<std::size_t>(n), '\0');
  LCMapStringA(lcid, flags, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

TLocaleFormats Formats(std::uint32_t lcid) {
  TLocaleFormats f = DefaultFormats();
  if (!IsLocaleInstalled(lcid)) return f;
  auto first = [](const std::string& s, char fallback) { return s.empty() ? fallback : s[0]; };
  f.CurrencyString = Info(lcid, LOCALE_SCURRENCY, f.CurrencyString);
  f.DecimalSeparator = first(Info(lcid, LOCALE_SDECIMAL, "."), '.');
  f.ThousandSeparator = first(Info(lcid, LOCALE_STHOUSAND, ","), ',');
  f.CurrencyDecimals = std::atoi(Info(lcid, LOCALE_ICURRDIGITS, "2").c_str());
  f.DateSeparator = first(Info(lcid, LOCALE_SDATE, "/"), '/');
  f.ShortDateFormat = Info(lcid, LOCALE_SSHORTDATE, f.ShortDateFormat);
  f.LongDateFormat = Info(lcid, LOCALE_SLONGDATE, f.LongDateFormat);
  f.TimeSeparator = first(Info(lcid, LOCALE_STIME, ":"), ':');
  f.TimeAMString = Info(lcid, LOCALE_S1159, f.TimeAMString);
  f.TimePMString = Info(lcid, LOCALE_S2359, f.TimePMString);
  return f;
}

}  // namespace quillon::engine::locale
