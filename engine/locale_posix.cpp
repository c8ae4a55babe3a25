// POSIX backend of locale.h: no Windows locale is installed here. The comparison and mapping
// still give an answer (byte order, ASCII upper case) so that callers need no special case, but
// no table with a locale ever gets this far: opening or creating one fails with err::kLocaleUnavailable.
#include "engine/locale.h"

#include <algorithm>
#include <cstring>

#include "util/text.h"

namespace quillon::engine::locale {

bool IsLocaleInstalled(std::uint32_t) {
  return false;
}

int CompareStrings(std::uint32_t, std::string_view a, std::string_view b, bool ignoreCase) {
  if (ignoreCase) return CompareIgnoringCase(a, b);
  return a.compare(b);
}

std::string MapString(std::uint32_t, std::string_view s, bool upperCase) {
  return upperCase ? UpperAsciiText(s) : std::string(s);
}

std::string MapCase(std::uint32_t, std::string_view s, bool upperCase) {
  return upperCase ? UpperAsciiText(s) : LowerAsciiText(s);
}

TLocaleFormats Formats(std::uint32_t) {
  return DefaultFormats();
}

}  // namespace quillon::engine::locale
