#include "util/text.h"

#include <cstdint>

namespace quillon {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerAscii(c);
  return r;
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpperAscii(c);
  return r;
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(LowerAscii(a[i]));
    auto y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

int PosText(std::string_view part, std::string_view text) {
  if (part.empty() || part.size() > text.size()) return 0;
  std::string p = LowerCase(part);
  std::string t = LowerCase(text);
  size_t at = t.find(p);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
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

std::string Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

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

bool TryStrToInt(std::string_view s, int& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  unsigned base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  std::uint64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') {
      digit = static_cast<unsigned>(LowerAscii(c) - 'a' + 10);
    } else {
      return false;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  if (base == 10) {
    if (magnitude > (negative ? 2147483648ull : 2147483647ull)) return false;
    value = negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude)) : static_cast<int>(magnitude);
  } else {
    // Hexadecimal literals cover the full 32 bits, as the bit pattern of the integer.
    auto bits = static_cast<std::uint32_t>(magnitude);
    value = static_cast<int>(negative ? 0u - bits : bits);
  }
  return true;
}

int StrToIntDef(std::string_view s, int fallback) {
  int v;
  return TryStrToInt(s, v) ? v : fallback;
}

}  // namespace quillon
