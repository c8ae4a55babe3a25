// Charsets of web pages: detection, decoding to UTF-8, encoding to the program's code page, and
// character references (see html_document.h).
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "util/text.h"
#include "web/html_document.h"

namespace quillon::web {

namespace {

// Windows-1252 bytes 0x80..0x9F as code points; the five bytes the code page leaves undefined map
// to the C1 control of the same value, as browsers decode them.
constexpr std::array<std::uint16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One code point from UTF-8 at s[i], advancing i; U+FFFD for a malformed sequence (which then
// consumes one byte, so decoding goes on with the next).
char32_t NextUtf8(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, c = b0 & 0x1F, minimum = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, c = b0 & 0x0F, minimum = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, c = b0 & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + length > s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < length; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += length;
  return c;
}

// Appends a decoded character to the parser's input: CR and CR LF become LF, NUL is dropped.
struct TInputWriter {
  std::string& out;
  bool lastWasCr = false;
  void Put(char32_t c) {
    if (c == '\n' && lastWasCr) {
      lastWasCr = false;
      return;
    }
    lastWasCr = c == '\r';
    if (c == 0) return;
    AppendUtf8(out, c == '\r' ? U'\n' : c);
  }
};

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The value of "charset=" inside a Content-Type value or a <meta content>, empty when absent.
std::string CharsetParameter(std::string_view value) {
  std::string lower = LowerAsciiText(value);
  std::size_t p = 0;
  while ((p = lower.find("charset", p)) != std::string::npos) {
    std::size_t q = p + 7;
    while (q < lower.size() && IsAsciiSpace(lower[q])) ++q;
    if (q >= lower.size() || lower[q] != '=') {
      p = q;
      continue;
    }
    ++q;
    while (q < lower.size() && IsAsciiSpace(lower[q])) ++q;
    char quote = 0;
    if (q < lower.size() && (lower[q] == '"' || lower[q] == '\'')) quote = lower[q++];
    std::size_t end = q;
    while (end < lower.size() && lower[end] != quote && lower[end] != ';' && (quote || !IsAsciiSpace(lower[end])))
      ++end;
    return lower.substr(q, end - q);
  }
  return {};
}

// The charset a <meta> in the first bytes of a page declares, empty when none does. Looks at the
// attributes of each <meta> tag the way the parser reads them; comments are skipped.
std::string MetaCharset(std::string_view bytes) {
  constexpr std::size_t kPrescanBytes = 4096;
  std::string_view head = bytes.substr(0, std::min(bytes.size(), kPrescanBytes));
  std::size_t i = 0;
  while (i < head.size()) {
    if (head.compare(i, 4, "<!--") == 0) {
      std::size_t end = head.find("-->", i + 4);
      if (end == std::string_view::npos) return {};
      i = end + 3;
      continue;
    }
    if (head[i] != '<' || i + 5 >= head.size() || LowerAsciiText(head.substr(i + 1, 4)) != "meta" ||
        !(IsAsciiSpace(head[i + 5]) || head[i + 5] == '/')) {
      ++i;
      continue;
    }
    // Attributes of this tag.
    std::size_t p = i + 5;
    std::string charset, httpEquiv, content;
    while (p < head.size() && head[p] != '>') {
      while (p < head.size() && (IsAsciiSpace(head[p]) || head[p] == '/')) ++p;
      std::size_t nameStart = p;
      while (p < head.size() && !IsAsciiSpace(head[p]) && head[p] != '=' && head[p] != '>' && head[p] != '/') ++p;
      std::string name = LowerAsciiText(head.substr(nameStart, p - nameStart));
      while (p < head.size() && IsAsciiSpace(head[p])) ++p;
      std::string value;
      if (p < head.size() && head[p] == '=') {
        ++p;
        while (p < head.size() && IsAsciiSpace(head[p])) ++p;
        if (p < head.size() && (head[p] == '"' || head[p] == '\'')) {
          char quote = head[p++];
          std::size_t end = head.find(quote, p);
          if (end == std::string_view::npos) end = head.size();
          value = head.substr(p, end - p);
          p = end + 1;
        } else {
          std::size_t start = p;
          while (p < head.size() && !IsAsciiSpace(head[p]) && head[p] != '>') ++p;
          value = head.substr(start, p - start);
        }
      }
      if (name.empty()) {
        if (p < head.size() && head[p] != '>') ++p;
        continue;
      }
      if (name == "charset" && charset.empty()) charset = Trim(value);
      if (name == "http-equiv" && httpEquiv.empty()) httpEquiv = LowerAsciiText(Trim(value));
      if (name == "content" && content.empty()) content = value;
    }
    if (!charset.empty()) return LowerAsciiText(charset);
    if (httpEquiv == "content-type") {
      std::string fromContent = CharsetParameter(content);
      if (!fromContent.empty()) return fromContent;
    }
    i = p;
  }
  return {};
}

struct TEntity {
  std::string_view name;
  std::string_view value;
};
constexpr TEntity kEntities[] = {
#include "web/html_entities.inc"
};

const TEntity* FindEntity(std::string_view name) {
  auto it = std::lower_bound(std::begin(kEntities), std::end(kEntities), name,
                             [](const TEntity& e, std::string_view n) { return e.name < n; });
  if (it != std::end(kEntities) && it->name == name) return it;
  return nullptr;
}

// Numeric references to C1 controls mean the Windows-1252 characters of those bytes.
char32_t NumericReferenceValue(std::uint32_t value) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return kReplacement;
  if (value >= 0x80 && value <= 0x9F) return kCp1252High[value - 0x80];
  return value;
}

}  // namespace

std::string CanonicalCharset(std::string_view label) {
  std::string l = LowerAsciiText(Trim(label));
  static constexpr std::string_view kUtf8[] = {"utf-8", "utf8", "unicode-1-1-utf-8", "x-unicode20utf8"};
  static constexpr std::string_view kCp1252[] = {"windows-1252", "cp1252",     "x-cp1252", "iso-8859-1", "iso8859-1",
                                                 "iso_8859-1",   "iso-ir-100", "latin1",   "l1",         "us-ascii",
                                                 "ascii",        "cp819",      "ibm819",   "iso88591",   "csisolatin1"};
  static constexpr std::string_view kUtf16Le[] = {"utf-16", "utf-16le", "ucs-2", "unicode"};
  for (auto n : kUtf8)
    if (l == n) return "utf-8";
  for (auto n : kCp1252)
    if (l == n) return "windows-1252";
  for (auto n : kUtf16Le)
    if (l == n) return "utf-16le";
  if (l == "utf-16be") return "utf-16be";
  return {};
}

std::string DetectCharset(std::string_view bytes, std::string_view contentType) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return "utf-8";
  if (bytes.substr(0, 2) == "\xFE\xFF") return "utf-16be";
  if (bytes.substr(0, 2) == "\xFF\xFE") return "utf-16le";
  std::string fromHeader = CanonicalCharset(CharsetParameter(contentType));
  if (!fromHeader.empty()) return fromHeader;
  std::string fromMeta = CanonicalCharset(MetaCharset(bytes));
  // A page cannot declare a 16-bit encoding in text read as 8-bit: such a declaration means UTF-8.
  if (fromMeta == "utf-16le" || fromMeta == "utf-16be") return "utf-8";
  if (!fromMeta.empty()) return fromMeta;
  return "windows-1252";
}

std::string DecodeToUtf8(std::string_view bytes, std::string_view charset) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  TInputWriter writer{out};
  if (charset == "utf-8") {
    std::size_t i = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    while (i < bytes.size()) {
      // Runs of ASCII are the common case: copy them without decoding.
      auto b = static_cast<unsigned char>(bytes[i]);
      if (b >= 0x20 && b < 0x80) {
        out += static_cast<char>(b);
        writer.lastWasCr = false;
        ++i;
        continue;
      }
      writer.Put(NextUtf8(bytes, i));
    }
  } else if (charset == "utf-16le" || charset == "utf-16be") {
    bool le = charset == "utf-16le";
    std::size_t i = 0;
    if (bytes.size() >= 2 && ((le && bytes.substr(0, 2) == "\xFF\xFE") || (!le && bytes.substr(0, 2) == "\xFE\xFF")))
      i = 2;
    auto unit = [&](std::size_t at) -> char32_t {
      auto lo = static_cast<unsigned char>(bytes[at + (le ? 0 : 1)]);
      auto hi = static_cast<unsigned char>(bytes[at + (le ? 1 : 0)]);
      return static_cast<char32_t>(hi << 8 | lo);
    };
    while (i + 1 < bytes.size()) {
      char32_t c = unit(i);
      i += 2;
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < bytes.size()) {
        char32_t low = unit(i);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          i += 2;
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        } else {
          c = kReplacement;
        }
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = kReplacement;
      }
      writer.Put(c);
    }
    if (i < bytes.size()) writer.Put(kReplacement);
  } else {
    for (char ch : bytes) {
      auto b = static_cast<unsigned char>(ch);
      writer.Put(b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : b);
    }
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t c = NextUtf8(utf8, i);
    if (c >= 0xA0 && c <= 0xFF) {
      out += static_cast<char>(c);
      continue;
    }
    char mapped = '?';
    for (std::size_t k = 0; k < kCp1252High.size(); ++k)
      if (kCp1252High[k] == c) mapped = static_cast<char>(0x80 + k);
    out += mapped;
  }
  return out;
}

std::string ResolveCharacterReferences(std::string_view text, bool inAttribute) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, amp - i));
    i = amp + 1;
    if (i < text.size() && text[i] == '#') {
      std::size_t p = i + 1;
      bool hex = p < text.size() && (text[p] == 'x' || text[p] == 'X');
      if (hex) ++p;
      std::size_t digitsStart = p;
      std::uint32_t value = 0;
      while (p < text.size() &&
             (hex ? std::isxdigit(static_cast<unsigned char>(text[p])) != 0 : (text[p] >= '0' && text[p] <= '9'))) {
        char d = text[p];
        std::uint32_t digit = d <= '9' ? d - '0' : (LowerAscii(d) - 'a' + 10);
        value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + digit;
        ++p;
      }
      if (p == digitsStart) {  // "&#" without digits stays as written
        out += '&';
        continue;
      }
      if (p < text.size() && text[p] == ';') ++p;
      AppendUtf8(out, NumericReferenceValue(value));
      i = p;
      continue;
    }
    // A named reference: the whole name with its ";" when the table has it, otherwise the longest
    // name of the table (only the old ones without ";") that starts here.
    std::size_t p = i;
    while (p < text.size() && IsAsciiAlnum(text[p]) && p - i < 40) ++p;
    if (p == i) {
      out += '&';
      continue;
    }
    if (p < text.size() && text[p] == ';') {
      if (const TEntity* e = FindEntity(text.substr(i, p - i + 1))) {
        out.append(e->value);
        i = p + 1;
        continue;
      }
    }
    const TEntity* found = nullptr;
    std::size_t length = p - i;
    for (; length >= 2 && !found; --length) found = FindEntity(text.substr(i, length));
    if (found) {
      std::size_t after = i + found->name.size();
      bool keep = inAttribute && after < text.size() && (text[after] == '=' || IsAsciiAlnum(text[after]));
      if (!keep) {
        out.append(found->value);
        i = after;
        continue;
      }
    }
    out += '&';
  }
  return out;
}

}  // namespace quillon::web
