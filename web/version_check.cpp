// The new-version check (see version_check.h).
#include "web/version_check.h"

#include <cstdlib>
#include <string>

#include "util/text.h"

namespace quillon::web {

bool TryDecimal(std::string_view text, char decimalSeparator, double& value) {
  std::string s = Trim(text);
  std::string normal;  // the same number written with "." for strtod, which reads the "C" locale
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
  bool digits = false;
  bool separator = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      normal += c;
    } else if (c == decimalSeparator && !separator) {
      separator = true;
      normal += '.';
    } else {
      break;
    }
  }
  if (!digits) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    bool exponentDigits = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      exponentDigits = true;
      normal += s[i];
    }
    if (!exponentDigits) return false;
  }
  if (i != s.size()) return false;
  char* end = nullptr;
  value = std::strtod(normal.c_str(), &end);
  return end && *end == '\0';
}

std::optional<std::string> NewerVersionOnPage(std::string_view bodyText, std::string_view ownVersion,
                                              char decimalSeparator) {
  constexpr std::string_view kKey = "lyrics=";
  std::size_t at = bodyText.find(kKey);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view window = bodyText.substr(at + kKey.size(), 10);
  std::size_t hash = window.find('#');
  std::string version(hash == std::string_view::npos ? std::string_view() : window.substr(0, hash));
  double offered = 0, own = 0;
  if (!TryDecimal(version, decimalSeparator, offered) || !TryDecimal(ownVersion, decimalSeparator, own))
    return std::nullopt;
  if (!(offered > own)) return std::nullopt;
  return version;
}

std::string UpdateQuestion(const std::string& version) {
  return "Update Note: version " + version + " is now available for download," + kCrLf +
         "We strongly recommend you upgrade to this version as " + kCrLf + "soon as possible." + kCrLf + kCrLf +
         "Would you like to upgrade to the latest version?";
}

}  // namespace quillon::web
