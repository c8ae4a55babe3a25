#include "util/text.h"

#include <cstdint>

namespace quillon {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

std::string LowerAsciiText(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerAscii(c);
  return r;
}

std::string UpperAsciiText(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpperAscii(c);
  return r;
}

int CompareIgnoringCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(LowerAscii(a[i]));
    auto y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareIgnoringCase(a, b) == 0;
}

int PosText(std::string_view part, std::string_view text) {
  if (part.empty() || part.size() > text.size()) return 0;
  std::string p = LowerAsciiText(part);
  std::string t = LowerAsciiText(text);
  size_t at = t.find(p);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

namespace {
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}
}  // namespace

std::string TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
  return TrimLeft(TrimRight(s));
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  size_t total = 0;
  for (const auto& l : lines) total += l.size() + 2;
  std::string text;
  text.reserve(total);
  for (const auto& l : lines) {
    text += l;
    text += kCrLf;
  }
  return text;
}

bool ParseDecimalInt(std::string_view s, int& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i >= s.size()) return false;
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  std::uint64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
    if (magnitude > limit) return false;
  }
  value = negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude)) : static_cast<int>(magnitude);
  return true;
}

int DecimalIntOr(std::string_view s, int fallback) {
  int v;
  return ParseDecimalInt(s, v) ? v : fallback;
}

}  // namespace quillon
