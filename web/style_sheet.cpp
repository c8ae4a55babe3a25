// Style sheets reduced to what decides the text (see style_sheet.h).
//
// Parsing follows the error recovery of the CSS syntax: a block that is never closed runs to the
// end of the sheet, a declaration ends at the next ";" outside brackets and strings, a rule whose
// selector list has one bad selector is dropped whole. Comments are removed first, outside
// strings.
#include "web/style_sheet.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "util/text.h"
#include "web/html_document.h"
#include "web/name_set.h"

namespace quillon::web {

namespace {

bool IsCssSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80 || c == '\\';
}
bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string_view TrimCss(std::string_view s) {
  while (!s.empty() && IsCssSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsCssSpace(s.back())) s.remove_suffix(1);
  return s;
}

// The sheet without its comments; strings are kept as written.
std::string WithoutComments(std::string_view css) {
  std::string out;
  out.reserve(css.size());
  std::size_t i = 0;
  while (i < css.size()) {
    char c = css[i];
    if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
      std::size_t end = css.find("*/", i + 2);
      i = end == std::string_view::npos ? css.size() : end + 2;
      out += ' ';
      continue;
    }
    if (c == '"' || c == '\'') {
      std::size_t j = i + 1;
      while (j < css.size() && css[j] != c && css[j] != '\n') j += css[j] == '\\' ? 2 : 1;
      j = std::min(j + 1, css.size());
      out.append(css.substr(i, j - i));
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

// Position of the first of stops at the top level of s from i (outside strings and brackets), or
// s.size(). With closerStops, a closing bracket that closes nothing opened here also stops, so
// "}" ends a block; without, it is part of the text (as in a rule's prelude).
std::size_t FindTopLevel(std::string_view s, std::size_t i, std::string_view stops, bool closerStops = true) {
  std::string open;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"' || c == '\'') {
      std::size_t j = i + 1;
      while (j < s.size() && s[j] != c && s[j] != '\n') j += s[j] == '\\' ? 2 : 1;
      i = j + 1;
      continue;
    }
    if (c == '\\') {
      i += 2;
      continue;
    }
    if (open.empty() && stops.find(c) != std::string_view::npos) return i;
    if (c == '(' || c == '[' || c == '{') {
      open += c == '(' ? ')' : c == '[' ? ']' : '}';
    } else if (c == ')' || c == ']' || c == '}') {
      if (!open.empty() && open.back() == c) {
        open.pop_back();
      } else if (open.empty() && closerStops) {
        return i;  // only reached when c is not a stop: an unmatched closer ends the search
      }
    }
    ++i;
  }
  return s.size();
}

// The end of a block whose "{" is at s[open]: the position of its "}", or s.size() when the sheet
// ends first.
std::size_t BlockEnd(std::string_view s, std::size_t open) {
  return FindTopLevel(s, open + 1, "}");
}

// ---------------------------------------------------------------------------------------------
// Properties

enum TProperty : std::uint8_t { kDisplay, kVisibility, kTransform, kWhiteSpace, kFloat, kPosition, kPropertyCount };
enum : std::uint8_t { kInherit = 250, kInitial, kUnset, kRevert };

struct TDeclaration {
  std::uint8_t property = 0;
  std::uint8_t value = 0;
  bool important = false;
  std::uint32_t order = 0;
};

bool ParseDisplay(std::string_view v, std::uint8_t& out) {
  static const std::pair<std::string_view, TDisplay> kSingle[] = {
      {"none", TDisplay::None},
      {"inline", TDisplay::Inline},
      {"block", TDisplay::Block},
      {"flow-root", TDisplay::Block},
      {"run-in", TDisplay::Block},
      {"list-item", TDisplay::ListItem},
      {"inline-block", TDisplay::InlineBlock},
      {"inline-table", TDisplay::InlineBlock},
      {"inline-list-item", TDisplay::InlineBlock},
      {"flex", TDisplay::Flex},
      {"grid", TDisplay::Flex},
      {"-webkit-box", TDisplay::Flex},
      {"-webkit-flex", TDisplay::Flex},
      {"-ms-flexbox", TDisplay::Flex},
      {"inline-flex", TDisplay::InlineFlex},
      {"inline-grid", TDisplay::InlineFlex},
      {"-webkit-inline-box", TDisplay::InlineFlex},
      {"-webkit-inline-flex", TDisplay::InlineFlex},
      {"table", TDisplay::Table},
      {"table-row-group", TDisplay::TableRowGroup},
      {"table-header-group", TDisplay::TableRowGroup},
      {"table-footer-group", TDisplay::TableRowGroup},
      {"table-row", TDisplay::TableRow},
      {"table-cell", TDisplay::TableCell},
      {"table-caption", TDisplay::TableCaption},
      {"table-column", TDisplay::TableColumn},
      {"table-column-group", TDisplay::TableColumn},
      {"contents", TDisplay::Contents},
      {"ruby", TDisplay::Inline},
      {"ruby-text", TDisplay::Inline},
      {"ruby-base", TDisplay::Inline},
      {"math", TDisplay::Inline},
  };
  for (const auto& [name, display] : kSingle)
    if (v == name) {
      out = static_cast<std::uint8_t>(display);
      return true;
    }
  // The two-keyword forms: an outer display (block, inline) and an inner one (flow, flow-root,
  // flex, grid, table), with list-item.
  std::string_view outer, inner;
  bool listItem = false;
  std::size_t i = 0;
  int words = 0;
  while (i < v.size()) {
    while (i < v.size() && IsCssSpace(v[i])) ++i;
    std::size_t start = i;
    while (i < v.size() && !IsCssSpace(v[i])) ++i;
    std::string_view w = v.substr(start, i - start);
    if (w.empty()) break;
    ++words;
    if (w == "block" || w == "inline" || w == "run-in") {
      if (!outer.empty()) return false;
      outer = w;
    } else if (w == "flow" || w == "flow-root" || w == "flex" || w == "grid" || w == "table") {
      if (!inner.empty()) return false;
      inner = w;
    } else if (w == "list-item") {
      if (listItem) return false;
      listItem = true;
    } else {
      return false;
    }
  }
  if (words < 2) return false;
  bool inlineOuter = outer == "inline";
  TDisplay d;
  if (listItem) {
    d = inlineOuter ? TDisplay::InlineBlock : TDisplay::ListItem;
  } else if (inner == "flex" || inner == "grid") {
    d = inlineOuter ? TDisplay::InlineFlex : TDisplay::Flex;
  } else if (inner == "table") {
    d = inlineOuter ? TDisplay::InlineBlock : TDisplay::Table;
  } else if (inner == "flow-root") {
    d = inlineOuter ? TDisplay::InlineBlock : TDisplay::Block;
  } else {
    d = inlineOuter ? TDisplay::Inline : TDisplay::Block;
  }
  out = static_cast<std::uint8_t>(d);
  return true;
}

template <std::size_t N>
bool ParseKeyword(std::string_view v, const std::array<std::pair<std::string_view, std::uint8_t>, N>& table,
                  std::uint8_t& out) {
  for (const auto& [name, value] : table)
    if (v == name) {
      out = value;
      return true;
    }
  return false;
}

// One declaration ("name: value [!important]"); false when it is not one we keep.
bool ParseDeclaration(std::string_view text, TDeclaration& d) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string name = LowerAsciiText(TrimCss(text.substr(0, colon)));
  std::string value = LowerAsciiText(TrimCss(text.substr(colon + 1)));
  d.important = false;
  std::size_t bang = value.rfind('!');
  if (bang != std::string::npos) {
    if (TrimCss(std::string_view(value).substr(bang + 1)) != "important") return false;
    d.important = true;
    value = std::string(TrimCss(std::string_view(value).substr(0, bang)));
  }
  std::uint8_t v = 0;
  if (value == "inherit") {
    v = kInherit;
  } else if (value == "initial") {
    v = kInitial;
  } else if (value == "unset") {
    v = kUnset;
  } else if (value == "revert" || value == "revert-layer") {
    v = kRevert;
  }
  // A value the property does not take drops the declaration, as a browser drops it.
  auto keep = [&](std::uint8_t property, bool parsed) {
    if (!parsed) return false;
    d.value = v;
    d.property = property;
    return true;
  };
  if (name == "display") {
    return keep(kDisplay, v || ParseDisplay(value, v));
  } else if (name == "visibility") {
    static constexpr std::array<std::pair<std::string_view, std::uint8_t>, 3> kTable{
        {{"visible", 1}, {"hidden", 0}, {"collapse", 0}}};
    return keep(kVisibility, v || ParseKeyword(value, kTable, v));
  } else if (name == "text-transform") {
    static constexpr std::array<std::pair<std::string_view, std::uint8_t>, 4> kTable{
        {{"none", static_cast<std::uint8_t>(TTextTransform::None)},
         {"uppercase", static_cast<std::uint8_t>(TTextTransform::Uppercase)},
         {"lowercase", static_cast<std::uint8_t>(TTextTransform::Lowercase)},
         {"capitalize", static_cast<std::uint8_t>(TTextTransform::Capitalize)}}};
    return keep(kTransform, v || ParseKeyword(value, kTable, v));
  } else if (name == "white-space") {
    static constexpr std::array<std::pair<std::string_view, std::uint8_t>, 6> kTable{
        {{"normal", static_cast<std::uint8_t>(TWhiteSpace::Normal)},
         {"pre", static_cast<std::uint8_t>(TWhiteSpace::Pre)},
         {"pre-wrap", static_cast<std::uint8_t>(TWhiteSpace::PreWrap)},
         {"break-spaces", static_cast<std::uint8_t>(TWhiteSpace::PreWrap)},
         {"pre-line", static_cast<std::uint8_t>(TWhiteSpace::PreLine)},
         {"nowrap", static_cast<std::uint8_t>(TWhiteSpace::NoWrap)}}};
    return keep(kWhiteSpace, v || ParseKeyword(value, kTable, v));
  } else if (name == "float") {
    static constexpr std::array<std::pair<std::string_view, std::uint8_t>, 5> kTable{
        {{"none", 0}, {"left", 1}, {"right", 1}, {"inline-start", 1}, {"inline-end", 1}}};
    return keep(kFloat, v || ParseKeyword(value, kTable, v));
  } else if (name == "position") {
    static constexpr std::array<std::pair<std::string_view, std::uint8_t>, 5> kTable{
        {{"static", 0}, {"relative", 0}, {"sticky", 0}, {"absolute", 1}, {"fixed", 1}}};
    return keep(kPosition, v || ParseKeyword(value, kTable, v));
  }
  return false;
}

// The declarations of a block's text that we keep, in their order.
void ParseDeclarations(std::string_view block, std::vector<TDeclaration>& out, int& order) {
  std::size_t i = 0;
  while (i < block.size()) {
    std::size_t end = FindTopLevel(block, i, ";");
    TDeclaration d;
    if (ParseDeclaration(block.substr(i, end - i), d)) {
      d.order = static_cast<std::uint32_t>(order++);
      out.push_back(d);
    }
    i = end + 1;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Selectors

enum class TSimpleKind : std::uint8_t {
  Type,
  Id,
  Class,
  Attribute,
  Not,
  Is,
  FirstChild,
  LastChild,
  OnlyChild,
  NthChild,
  NthLastChild,
  FirstOfType,
  LastOfType,
  OnlyOfType,
  NthOfType,
  NthLastOfType,
  Root,
  Empty,
  Link,
  Never,
};
enum class TAttributeOp : std::uint8_t { Exists, Equals, Includes, DashMatch, Prefix, Suffix, Substring };
enum class TCombinator : std::uint8_t { None, Descendant, Child, Adjacent, Sibling };

struct TSimpleSelector {
  TSimpleKind kind = TSimpleKind::Type;
  TAttributeOp op = TAttributeOp::Exists;
  bool ignoreCase = false;
  std::string name;   // type (lower case), id, class, attribute name (lower case)
  std::string value;  // attribute value
  int a = 0, b = 0;   // an+b
  std::vector<TStyleSelector> list;
};

struct TCompoundSelector {
  std::vector<TSimpleSelector> simples;
  TCombinator combinator = TCombinator::None;  // how it relates to the compound on its left
};

struct TStyleSelector {
  std::vector<TCompoundSelector> compounds;  // left to right
  std::uint32_t specificity = 0;
};

namespace {

std::uint32_t Specificity(int ids, int classes, int types) {
  auto clamp = [](int n) { return static_cast<std::uint32_t>(std::min(n, 255)); };
  return clamp(ids) << 16 | clamp(classes) << 8 | clamp(types);
}
std::uint32_t AddSpecificity(std::uint32_t a, std::uint32_t b) {
  std::uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8)
    out |= std::min<std::uint32_t>(((a >> shift) & 255) + ((b >> shift) & 255), 255) << shift;
  return out;
}

bool OneOfNames(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

class TSelectorParser {
 public:
  explicit TSelectorParser(std::string_view s) : s_(s) {}

  // A comma-separated list up to the end (or, nested, up to the ")" that closes it).
  bool List(std::vector<TStyleSelector>& out, bool nested) {
    while (true) {
      TStyleSelector selector;
      if (!Complex(selector)) return false;
      out.push_back(std::move(selector));
      SkipSpace();
      if (p_ < s_.size() && s_[p_] == ',') {
        ++p_;
        continue;
      }
      if (nested) return p_ < s_.size() && s_[p_] == ')';
      return p_ == s_.size();
    }
  }

  std::size_t Position() const { return p_; }

 private:
  void SkipSpace() {
    while (p_ < s_.size() && IsCssSpace(s_[p_])) ++p_;
  }

  // An identifier with its escapes resolved; empty when none starts here.
  std::string Ident() {
    std::string out;
    while (p_ < s_.size() && IsNameChar(s_[p_])) {
      if (s_[p_] != '\\') {
        out += s_[p_++];
        continue;
      }
      ++p_;
      if (p_ >= s_.size()) break;
      if (IsHex(s_[p_])) {
        std::uint32_t cp = 0;
        int digits = 0;
        while (p_ < s_.size() && IsHex(s_[p_]) && digits < 6) {
          char h = s_[p_++];
          cp = cp * 16 + static_cast<std::uint32_t>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
          ++digits;
        }
        if (p_ < s_.size() && IsCssSpace(s_[p_])) ++p_;
        AppendUtf8(out, cp);
      } else {
        out += s_[p_++];
      }
    }
    return out;
  }

  bool String(std::string& out) {
    char quote = s_[p_++];
    while (p_ < s_.size() && s_[p_] != quote) {
      if (s_[p_] == '\\' && p_ + 1 < s_.size()) ++p_;
      out += s_[p_++];
    }
    if (p_ >= s_.size()) return false;
    ++p_;
    return true;
  }

  bool Complex(TStyleSelector& selector) {
    SkipSpace();
    TCombinator combinator = TCombinator::None;
    while (true) {
      TCompoundSelector compound;
      compound.combinator = combinator;
      if (!Compound(compound, selector.specificity)) return false;
      selector.compounds.push_back(std::move(compound));
      bool space = p_ < s_.size() && IsCssSpace(s_[p_]);
      SkipSpace();
      if (p_ >= s_.size() || s_[p_] == ',' || s_[p_] == ')') return true;
      char c = s_[p_];
      if (c == '>' || c == '+' || c == '~') {
        combinator = c == '>' ? TCombinator::Child : c == '+' ? TCombinator::Adjacent : TCombinator::Sibling;
        ++p_;
        SkipSpace();
      } else if (space) {
        combinator = TCombinator::Descendant;
      } else {
        return false;
      }
    }
  }

  bool Compound(TCompoundSelector& compound, std::uint32_t& specificity) {
    int ids = 0, classes = 0, types = 0;
    std::uint32_t extra = 0;
    if (p_ < s_.size() && s_[p_] == '*') {
      ++p_;
    } else if (p_ < s_.size() && IsNameChar(s_[p_]) && !(s_[p_] >= '0' && s_[p_] <= '9')) {
      TSimpleSelector type;
      type.name = LowerAsciiText(Ident());
      if (type.name.empty()) return false;
      compound.simples.push_back(std::move(type));
      ++types;
    }
    if (p_ < s_.size() && s_[p_] == '|') return false;  // namespaces are not for HTML pages
    bool any = !compound.simples.empty() || (p_ > 0 && s_[p_ - 1] == '*');
    while (p_ < s_.size()) {
      char c = s_[p_];
      TSimpleSelector simple;
      if (c == '#' || c == '.') {
        ++p_;
        simple.kind = c == '#' ? TSimpleKind::Id : TSimpleKind::Class;
        simple.name = Ident();
        if (simple.name.empty()) return false;
        (c == '#' ? ids : classes)++;
      } else if (c == '[') {
        ++p_;
        if (!Attribute(simple)) return false;
        ++classes;
      } else if (c == ':') {
        ++p_;
        std::uint32_t argument = 0;
        int kind = Pseudo(simple, argument);
        if (kind < 0) return false;
        if (kind == 1) ++classes;
        if (kind == 2) ++types;
        extra = AddSpecificity(extra, argument);
      } else {
        break;
      }
      compound.simples.push_back(std::move(simple));
      any = true;
    }
    if (!any) return false;
    specificity = AddSpecificity(specificity, AddSpecificity(Specificity(ids, classes, types), extra));
    return true;
  }

  bool Attribute(TSimpleSelector& simple) {
    simple.kind = TSimpleKind::Attribute;
    SkipSpace();
    simple.name = LowerAsciiText(Ident());
    if (simple.name.empty()) return false;
    SkipSpace();
    if (p_ >= s_.size()) return false;
    if (s_[p_] == ']') {
      ++p_;
      return true;
    }
    static const std::pair<std::string_view, TAttributeOp> kOps[] = {
        {"=", TAttributeOp::Equals},  {"~=", TAttributeOp::Includes}, {"|=", TAttributeOp::DashMatch},
        {"^=", TAttributeOp::Prefix}, {"$=", TAttributeOp::Suffix},   {"*=", TAttributeOp::Substring},
    };
    bool found = false;
    for (const auto& [text, op] : kOps)
      if (s_.substr(p_, text.size()) == text) {
        simple.op = op;
        p_ += text.size();
        found = true;
        break;
      }
    if (!found) return false;
    SkipSpace();
    if (p_ >= s_.size()) return false;
    if (s_[p_] == '"' || s_[p_] == '\'') {
      if (!String(simple.value)) return false;
    } else {
      simple.value = Ident();
      if (simple.value.empty()) return false;
    }
    SkipSpace();
    if (p_ < s_.size() && (s_[p_] == 'i' || s_[p_] == 'I' || s_[p_] == 's' || s_[p_] == 'S')) {
      simple.ignoreCase = s_[p_] == 'i' || s_[p_] == 'I';
      ++p_;
      SkipSpace();
    }
    if (p_ >= s_.size() || s_[p_] != ']') return false;
    ++p_;
    return true;
  }

  // "an+b" up to the closing ")".
  bool Nth(TSimpleSelector& simple) {
    std::size_t close = s_.find(')', p_);
    if (close == std::string_view::npos) return false;
    std::string t;
    for (char c : s_.substr(p_, close - p_))
      if (!IsCssSpace(c)) t += LowerAscii(c);
    p_ = close;
    if (t == "odd") {
      simple.a = 2, simple.b = 1;
      return true;
    }
    if (t == "even") {
      simple.a = 2, simple.b = 0;
      return true;
    }
    std::size_t n = t.find('n');
    auto number = [](const std::string& text, int& out) {
      if (text.empty() || text.size() > 9) return false;
      std::size_t k = text[0] == '+' || text[0] == '-' ? 1 : 0;
      if (k == text.size()) return false;
      for (std::size_t j = k; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return false;
      out = std::stoi(text.substr(k)) * (text[0] == '-' ? -1 : 1);
      return true;
    };
    if (n == std::string::npos) {
      simple.a = 0;
      return number(t, simple.b);
    }
    std::string a = t.substr(0, n), b = t.substr(n + 1);
    if (a.empty() || a == "+") {
      simple.a = 1;
    } else if (a == "-") {
      simple.a = -1;
    } else if (!number(a, simple.a)) {
      return false;
    }
    if (b.empty()) {
      simple.b = 0;
      return true;
    }
    if (b[0] != '+' && b[0] != '-') return false;
    return number(b, simple.b);
  }

  // After ":". Answers -1 when not understood, 0 for a selector adding no specificity of its
  // own, 1 for a pseudo-class, 2 for a pseudo-element; argument receives the specificity of
  // :not() and :is().
  int Pseudo(TSimpleSelector& simple, std::uint32_t& argument) {
    bool element = p_ < s_.size() && s_[p_] == ':';
    if (element) ++p_;
    std::string name = LowerAsciiText(Ident());
    if (name.empty()) return -1;
    bool function = p_ < s_.size() && s_[p_] == '(';
    if (element || (!function && OneOfNames(name, {"before", "after", "first-line", "first-letter"}))) {
      // Styles a pseudo-element, never the element itself.
      if (function) {
        std::size_t close = FindTopLevel(s_, p_ + 1, ")");
        if (close >= s_.size()) return -1;
        p_ = close + 1;
      }
      simple.kind = TSimpleKind::Never;
      return 2;
    }
    if (function) {
      ++p_;
      if (name == "not" || name == "is" || name == "where" || name == "matches" || name == "-webkit-any") {
        simple.kind = name == "not" ? TSimpleKind::Not : TSimpleKind::Is;
        TSelectorParser inner(s_.substr(p_));
        if (!inner.List(simple.list, true)) return -1;
        p_ += inner.Position() + 1;
        if (name != "where")
          for (const TStyleSelector& s : simple.list) argument = std::max(argument, s.specificity);
        return 0;
      }
      static const std::pair<std::string_view, TSimpleKind> kNth[] = {
          {"nth-child", TSimpleKind::NthChild},
          {"nth-last-child", TSimpleKind::NthLastChild},
          {"nth-of-type", TSimpleKind::NthOfType},
          {"nth-last-of-type", TSimpleKind::NthLastOfType},
      };
      for (const auto& [text, kind] : kNth)
        if (name == text) {
          simple.kind = kind;
          if (!Nth(simple)) return -1;
          ++p_;
          return 1;
        }
      if (name == "lang" || name == "dir" || name == "has" || name == "host" || name == "state") {
        std::size_t close = FindTopLevel(s_, p_, ")");
        if (close >= s_.size()) return -1;
        p_ = close + 1;
        simple.kind = TSimpleKind::Never;
        return 1;
      }
      return -1;
    }
    static const std::pair<std::string_view, TSimpleKind> kPlain[] = {
        {"first-child", TSimpleKind::FirstChild},
        {"last-child", TSimpleKind::LastChild},
        {"only-child", TSimpleKind::OnlyChild},
        {"first-of-type", TSimpleKind::FirstOfType},
        {"last-of-type", TSimpleKind::LastOfType},
        {"only-of-type", TSimpleKind::OnlyOfType},
        {"root", TSimpleKind::Root},
        {"empty", TSimpleKind::Empty},
        {"link", TSimpleKind::Link},
        {"any-link", TSimpleKind::Link},
    };
    for (const auto& [text, kind] : kPlain)
      if (name == text) {
        simple.kind = kind;
        return 1;
      }
    // States of interaction and of form controls a freshly loaded page is not in.
    if (OneOfNames(name, {"hover",
                          "active",
                          "focus",
                          "focus-within",
                          "focus-visible",
                          "visited",
                          "target",
                          "target-within",
                          "checked",
                          "indeterminate",
                          "disabled",
                          "default",
                          "placeholder-shown",
                          "autofill",
                          "-webkit-autofill",
                          "fullscreen",
                          "modal",
                          "open",
                          "popover-open",
                          "user-invalid",
                          "user-valid",
                          "defined",
                          "playing",
                          "paused"})) {
      simple.kind = TSimpleKind::Never;
      return 1;
    }
    return -1;
  }

  std::string_view s_;
  std::size_t p_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Matching

bool HasClass(const THtmlNode& node, std::string_view name) {
  const std::string_view* classes = node.Attribute("class");
  if (!classes) return false;
  std::string_view v = *classes;
  std::size_t i = 0;
  while (i < v.size()) {
    while (i < v.size() && IsCssSpace(v[i])) ++i;
    std::size_t start = i;
    while (i < v.size() && !IsCssSpace(v[i])) ++i;
    if (i > start && v.substr(start, i - start) == name) return true;
  }
  return false;
}

bool AttributeMatches(const TSimpleSelector& s, std::string_view actual) {
  std::string valueText, actualText;
  std::string_view v = s.value, a = actual;
  if (s.ignoreCase) {
    valueText = LowerAsciiText(v);
    actualText = LowerAsciiText(a);
    v = valueText;
    a = actualText;
  }
  switch (s.op) {
    case TAttributeOp::Exists:
      return true;
    case TAttributeOp::Equals:
      return a == v;
    case TAttributeOp::Includes: {
      if (v.empty() || std::any_of(v.begin(), v.end(), IsCssSpace)) return false;
      std::size_t i = 0;
      while (i < a.size()) {
        while (i < a.size() && IsCssSpace(a[i])) ++i;
        std::size_t start = i;
        while (i < a.size() && !IsCssSpace(a[i])) ++i;
        if (i > start && a.substr(start, i - start) == v) return true;
      }
      return false;
    }
    case TAttributeOp::DashMatch:
      return a == v || (a.size() > v.size() && a.substr(0, v.size()) == v && a[v.size()] == '-');
    case TAttributeOp::Prefix:
      return !v.empty() && a.substr(0, v.size()) == v;
    case TAttributeOp::Suffix:
      return !v.empty() && a.size() >= v.size() && a.substr(a.size() - v.size()) == v;
    case TAttributeOp::Substring:
      return !v.empty() && a.find(v) != std::string_view::npos;
  }
  return false;
}

bool NthMatches(int a, int b, int index) {
  if (a == 0) return index == b;
  int diff = index - b;
  return diff % a == 0 && diff / a >= 0;
}

bool PreviousElement(const TElementRef& e, TElementRef& previous) {
  if (!e.parent) return false;
  for (const THtmlNode* sibling = e.node->PreviousSibling(*e.parent); sibling;
       sibling = sibling->PreviousSibling(*e.parent)) {
    if (!sibling->IsElement()) continue;
    previous = {sibling, e.parent, e.elementIndex - 1, e.elementCount};
    return true;
  }
  return false;
}

// Position of e among the siblings of its own type, from the start and from the end.
void TypePosition(const TElementRef& e, int& fromStart, int& fromEnd) {
  fromStart = fromEnd = 1;
  if (!e.parent) return;
  bool before = true;
  for (const THtmlNode* sibling : e.parent->Children()) {
    if (sibling == e.node) {
      before = false;
      continue;
    }
    if (sibling->IsElement(e.node->Name())) (before ? fromStart : fromEnd)++;
  }
}

class TMatcher {
 public:
  explicit TMatcher(const std::vector<TElementRef>& path) : path_(path) {}

  // Whether the selector matches e, whose ancestors are path_[0..depth).
  bool Matches(const TStyleSelector& s, const TElementRef& e, std::size_t depth) const {
    return MatchFrom(s, s.compounds.size() - 1, e, depth) == TResult::Matches;
  }

 private:
  // A failure says how far up or back the search may stop: a compound that fails for one
  // element may hold for another ancestor; once the left part fails for all siblings or for the
  // whole path, trying further ancestors cannot help. This keeps long descendant chains on deep
  // pages linear instead of trying every combination of ancestors.
  enum class TResult { Matches, FailsLocally, FailsAllSiblings, FailsCompletely };

  TResult MatchFrom(const TStyleSelector& s, std::size_t k, const TElementRef& e, std::size_t depth) const {
    const TCompoundSelector& compound = s.compounds[k];
    for (const TSimpleSelector& simple : compound.simples)
      if (!MatchSimple(simple, e, depth)) return TResult::FailsLocally;
    if (k == 0) return TResult::Matches;
    switch (compound.combinator) {
      case TCombinator::Descendant:
        for (std::size_t d = depth; d-- > 0;) {
          TResult r = MatchFrom(s, k - 1, path_[d], d);
          if (r == TResult::Matches || r == TResult::FailsCompletely) return r;
        }
        return TResult::FailsCompletely;
      case TCombinator::Child:
        if (depth == 0) return TResult::FailsCompletely;
        return MatchFrom(s, k - 1, path_[depth - 1], depth - 1);
      case TCombinator::Adjacent: {
        TElementRef previous;
        if (!PreviousElement(e, previous)) return TResult::FailsAllSiblings;
        return MatchFrom(s, k - 1, previous, depth);
      }
      case TCombinator::Sibling: {
        TElementRef previous = e;
        while (PreviousElement(previous, previous)) {
          TResult r = MatchFrom(s, k - 1, previous, depth);
          if (r != TResult::FailsLocally) return r;
        }
        return TResult::FailsAllSiblings;
      }
      case TCombinator::None:
        break;
    }
    return TResult::FailsCompletely;
  }

  bool MatchSimple(const TSimpleSelector& s, const TElementRef& e, std::size_t depth) const {
    const THtmlNode& node = *e.node;
    switch (s.kind) {
      case TSimpleKind::Type:
        return node.Name() == s.name;
      case TSimpleKind::Id: {
        const std::string_view* id = node.Attribute("id");
        return id && *id == s.name;
      }
      case TSimpleKind::Class:
        return HasClass(node, s.name);
      case TSimpleKind::Attribute: {
        const std::string_view* value = node.Attribute(s.name);
        return value && AttributeMatches(s, *value);
      }
      case TSimpleKind::Not:
      case TSimpleKind::Is: {
        bool any = std::any_of(s.list.begin(), s.list.end(),
                               [&](const TStyleSelector& inner) { return Matches(inner, e, depth); });
        return s.kind == TSimpleKind::Not ? !any : any;
      }
      case TSimpleKind::FirstChild:
        return e.parent && e.elementIndex == 1;
      case TSimpleKind::LastChild:
        return e.parent && e.elementIndex == e.elementCount;
      case TSimpleKind::OnlyChild:
        return e.parent && e.elementCount == 1;
      case TSimpleKind::NthChild:
        return e.parent && NthMatches(s.a, s.b, e.elementIndex);
      case TSimpleKind::NthLastChild:
        return e.parent && NthMatches(s.a, s.b, e.elementCount - e.elementIndex + 1);
      case TSimpleKind::FirstOfType:
      case TSimpleKind::LastOfType:
      case TSimpleKind::OnlyOfType:
      case TSimpleKind::NthOfType:
      case TSimpleKind::NthLastOfType: {
        if (!e.parent) return false;
        int fromStart = 1, fromEnd = 1;
        TypePosition(e, fromStart, fromEnd);
        if (s.kind == TSimpleKind::FirstOfType) return fromStart == 1;
        if (s.kind == TSimpleKind::LastOfType) return fromEnd == 1;
        if (s.kind == TSimpleKind::OnlyOfType) return fromStart == 1 && fromEnd == 1;
        return NthMatches(s.a, s.b, s.kind == TSimpleKind::NthOfType ? fromStart : fromEnd);
      }
      case TSimpleKind::Root:
        return depth == 0 && node.Name() == "html";
      case TSimpleKind::Empty:
        return std::none_of(node.Children().begin(), node.Children().end(), [](const THtmlNode* child) {
          return child->Kind() == THtmlNode::TKind::Element || !child->Text().empty();
        });
      case TSimpleKind::Link:
        return (node.Name() == "a" || node.Name() == "area") && node.Attribute("href");
      case TSimpleKind::Never:
        return false;
    }
    return false;
  }

  const std::vector<TElementRef>& path_;
};

TDisplay DefaultDisplay(const THtmlNode& node) {
  std::string_view n = node.Name();
  static const TNameSet kBlocks = {
      "address",   "article", "aside",   "blockquote", "body",       "center", "dd",       "details", "dir",
      "div",       "dl",      "dt",      "fieldset",   "figcaption", "figure", "footer",   "form",    "h1",
      "h2",        "h3",      "h4",      "h5",         "h6",         "header", "hgroup",   "hr",      "html",
      "legend",    "listing", "main",    "menu",       "nav",        "ol",     "optgroup", "option",  "p",
      "plaintext", "pre",     "section", "summary",    "ul",         "xmp",    "search",   "dialog"};
  if (kBlocks.Has(n)) {
    if (n == "dialog" && !node.Attribute("open")) return TDisplay::None;
    return TDisplay::Block;
  }
  if (n == "li") return TDisplay::ListItem;
  if (n == "table") return TDisplay::Table;
  if (n == "caption") return TDisplay::TableCaption;
  if (n == "thead" || n == "tbody" || n == "tfoot") return TDisplay::TableRowGroup;
  if (n == "tr") return TDisplay::TableRow;
  if (n == "td" || n == "th") return TDisplay::TableCell;
  if (n == "col" || n == "colgroup") return TDisplay::TableColumn;
  if (n == "button" || n == "meter" || n == "progress" || n == "select") return TDisplay::InlineBlock;
  return TDisplay::Inline;
}

TWhiteSpace DefaultWhiteSpace(std::string_view n, TWhiteSpace inherited) {
  if (n == "pre" || n == "listing" || n == "xmp" || n == "plaintext") return TWhiteSpace::Pre;
  if (n == "textarea") return TWhiteSpace::PreWrap;
  if (n == "nobr") return TWhiteSpace::NoWrap;
  return inherited;
}

// What a flex or grid container, a float or an absolutely placed box makes of its display.
TDisplay Blockified(TDisplay d) {
  switch (d) {
    case TDisplay::Inline:
    case TDisplay::InlineBlock:
    case TDisplay::TableRowGroup:
    case TDisplay::TableRow:
    case TDisplay::TableCell:
    case TDisplay::TableCaption:
    case TDisplay::TableColumn:
      return TDisplay::Block;
    case TDisplay::InlineFlex:
      return TDisplay::Flex;
    default:
      return d;
  }
}

// Sheet text between the positions, as a list of rules and at-rules.
struct TRuleSink {
  virtual ~TRuleSink() = default;
  virtual void Rule(std::string_view prelude, std::string_view block) = 0;
};

// The condition of an @supports rule, judged by what this reader knows: "not" is taken to fail,
// everything else to hold.
bool SupportsApplies(std::string_view condition) {
  std::string c = LowerAsciiText(condition);
  return c.find("not ") == std::string::npos && c.find("not(") == std::string::npos;
}

void ParseRules(std::string_view css, TRuleSink& sink) {
  std::size_t i = 0;
  const std::size_t n = css.size();
  while (i < n) {
    while (i < n && (IsCssSpace(css[i]) || css[i] == ';')) ++i;
    if (i >= n) break;
    if (css.substr(i, 4) == "<!--") {
      i += 4;
      continue;
    }
    if (css.substr(i, 3) == "-->") {
      i += 3;
      continue;
    }
    if (css[i] == '@') {
      std::size_t nameEnd = i + 1;
      while (nameEnd < n && IsNameChar(css[nameEnd])) ++nameEnd;
      std::string name = LowerAsciiText(css.substr(i + 1, nameEnd - i - 1));
      std::size_t stop = FindTopLevel(css, nameEnd, ";{");
      if (stop >= n || css[stop] == ';') {
        i = stop + 1;  // a statement such as @import or @charset
        continue;
      }
      if (css[stop] != '{') {
        i = stop + 1;
        continue;
      }
      std::size_t end = BlockEnd(css, stop);
      std::string_view prelude = css.substr(nameEnd, stop - nameEnd);
      std::string_view block = css.substr(stop + 1, end - stop - 1);
      bool nested = (name == "media" && MediaApplies(prelude)) || (name == "supports" && SupportsApplies(prelude)) ||
                    name == "layer" || name == "container" || name == "scope" || name == "document" ||
                    name == "-moz-document";
      if (nested) ParseRules(block, sink);
      i = end + 1;
      continue;
    }
    std::size_t open = FindTopLevel(css, i, "{", false);
    if (open >= n) break;  // a prelude without a block is dropped
    std::size_t end = BlockEnd(css, open);
    sink.Rule(css.substr(i, open - i), css.substr(open + 1, end - open - 1));
    i = end + 1;
  }
}

// ---------------------------------------------------------------------------------------------
// Media queries

bool MediaFeatureApplies(std::string feature) {
  // feature: the text inside the parentheses, lower case.
  std::string f;
  for (char c : feature)
    if (!IsCssSpace(c)) f += c;
  std::size_t colon = f.find(':');
  std::string name = colon == std::string::npos ? f : f.substr(0, colon);
  std::string value = colon == std::string::npos ? std::string() : f.substr(colon + 1);
  auto pixels = [](const std::string& v, double& out) {
    double scale = 1;
    std::string number = v;
    if (v.size() > 2 && v.substr(v.size() - 2) == "px") {
      number = v.substr(0, v.size() - 2);
    } else if (v.size() > 3 && v.substr(v.size() - 3) == "rem") {
      number = v.substr(0, v.size() - 3), scale = 16;
    } else if (v.size() > 2 && v.substr(v.size() - 2) == "em") {
      number = v.substr(0, v.size() - 2), scale = 16;
    } else if (v != "0") {
      return false;
    }
    if (number.empty()) return false;
    char* end = nullptr;
    out = std::strtod(number.c_str(), &end) * scale;
    return end && *end == '\0';
  };
  const double width = 800, height = 600;
  double px = 0;
  if (name == "min-width") return pixels(value, px) && width >= px;
  if (name == "max-width") return pixels(value, px) && width <= px;
  if (name == "width") return pixels(value, px) && width == px;
  if (name == "min-height") return pixels(value, px) && height >= px;
  if (name == "max-height") return pixels(value, px) && height <= px;
  if (name == "height") return pixels(value, px) && height == px;
  if (name == "orientation") return value == "landscape";
  if (name == "prefers-color-scheme") return value == "light";
  if (name == "prefers-reduced-motion") return value == "no-preference";
  if (name == "color") return value.empty() || value == "8";
  if (name == "hover" || name == "any-hover") return value.empty() || value == "hover";
  if (name == "pointer" || name == "any-pointer") return value.empty() || value == "fine";
  return false;
}

bool MediaQueryApplies(std::string_view query) {
  std::string q = LowerAsciiText(TrimCss(query));
  if (q.empty()) return true;
  bool negate = false;
  std::vector<std::string> parts;  // words and parenthesised features
  std::size_t i = 0;
  while (i < q.size()) {
    while (i < q.size() && IsCssSpace(q[i])) ++i;
    if (i >= q.size()) break;
    if (q[i] == '(') {
      std::size_t close = FindTopLevel(q, i + 1, ")");
      if (close >= q.size()) return false;
      parts.push_back(q.substr(i, close - i + 1));
      i = close + 1;
      continue;
    }
    std::size_t start = i;
    while (i < q.size() && !IsCssSpace(q[i]) && q[i] != '(') ++i;
    parts.push_back(q.substr(start, i - start));
  }
  std::size_t k = 0;
  if (k < parts.size() && parts[k] == "not") negate = true, ++k;
  if (k < parts.size() && parts[k] == "only") ++k;
  bool result = true;
  if (k < parts.size() && parts[k][0] != '(') {
    result = parts[k] == "all" || parts[k] == "screen";
    ++k;
  }
  for (; k < parts.size(); ++k) {
    if (parts[k] == "and") continue;
    if (parts[k][0] != '(') return false;  // "or", ranges and the like: not understood
    std::string feature = parts[k].substr(1, parts[k].size() - 2);
    if (feature.find('(') != std::string::npos || feature.find('<') != std::string::npos ||
        feature.find('>') != std::string::npos)
      return false;
    result = result && MediaFeatureApplies(feature);
  }
  return negate ? !result : result;
}

}  // namespace

bool MediaApplies(std::string_view media) {
  if (TrimCss(media).empty()) return true;
  std::size_t i = 0;
  while (i <= media.size()) {
    std::size_t comma = FindTopLevel(media, i, ",");
    if (MediaQueryApplies(media.substr(i, comma - i))) return true;
    i = comma + 1;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// The sheet

struct TStyleRule {
  std::vector<TDeclaration> declarations;
};

struct TStyleSheet::TIndex {
  struct TEntry {
    TStyleSelector selector;
    std::size_t rule = 0;
  };
  // A bucket's entry: the names the selector needs above the element, kept beside the entry's
  // number so that most candidates are turned down without touching the selector.
  struct TCandidate {
    std::array<std::uint32_t, 4> ancestorHashes{};
    std::uint32_t hashCount = 0;
    std::uint32_t entry = 0;
  };
  using TBucket = std::vector<TCandidate>;
  // Which names have a bucket, by hash: most ids, classes and tags of a page have none, and
  // this answers for them without building a key.
  struct TNameBits {
    std::vector<std::uint64_t> bits = std::vector<std::uint64_t>(1024);
    void Set(std::uint32_t h) { bits[(h >> 6) & 1023] |= std::uint64_t(1) << (h & 63); }
    bool Has(std::uint32_t h) const { return (bits[(h >> 6) & 1023] >> (h & 63)) & 1; }
  };
  TNameBits idBits, classBits, typeBits;
  std::vector<TStyleRule> rules;
  std::vector<TEntry> entries;
  std::unordered_map<std::string, TBucket> byId, byClass, byType;
  TBucket universal;
};

TStyleSheet::TStyleSheet() : index_(std::make_unique<TIndex>()) {}
TStyleSheet::~TStyleSheet() = default;

bool TStyleSheet::Empty() const {
  return index_->entries.empty();
}

void TStyleSheet::Add(std::string_view css) {
  struct TSink : TRuleSink {
    TIndex& index;
    int& order;
    TSink(TIndex& i, int& o) : index(i), order(o) {}
    void Rule(std::string_view prelude, std::string_view block) override {
      std::vector<TStyleSelector> selectors;
      TSelectorParser parser(TrimCss(prelude));
      if (!parser.List(selectors, false)) return;
      TStyleRule rule;
      ParseDeclarations(block, rule.declarations, order);
      if (rule.declarations.empty()) return;  // nothing that touches the text
      index.rules.push_back(std::move(rule));
      for (TStyleSelector& s : selectors) {
        std::size_t entry = index.entries.size();
        // Filed under the most selective simple selector of the rightmost compound.
        const TCompoundSelector& last = s.compounds.back();
        const TSimpleSelector* id = nullptr;
        const TSimpleSelector* cls = nullptr;
        const TSimpleSelector* type = nullptr;
        bool never = false;
        for (const TSimpleSelector& simple : last.simples) {
          if (simple.kind == TSimpleKind::Id && !id) id = &simple;
          if (simple.kind == TSimpleKind::Class && !cls) cls = &simple;
          if (simple.kind == TSimpleKind::Type && !type) type = &simple;
          never = never || simple.kind == TSimpleKind::Never;
        }
        if (never) continue;
        TIndex::TBucket& bucket = id     ? index.byId[id->name]
                                  : cls  ? index.byClass[cls->name]
                                  : type ? index.byType[type->name]
                                         : index.universal;
        if (id) index.idBits.Set(TAncestorFilter::Hash('#', id->name));
        if (!id && cls) index.classBits.Set(TAncestorFilter::Hash('.', cls->name));
        if (!id && !cls && type) index.typeBits.Set(TAncestorFilter::Hash('t', type->name));
        // Ids and classes first, the nearest ancestors first: they are the likeliest to be missing.
        std::vector<std::uint32_t> hashes, typeHashes;
        for (std::size_t k = s.compounds.size() - 1; k-- > 0;) {
          TCombinator relation = s.compounds[k + 1].combinator;
          if (relation != TCombinator::Descendant && relation != TCombinator::Child) continue;
          for (const TSimpleSelector& simple : s.compounds[k].simples) {
            if (simple.kind == TSimpleKind::Type) typeHashes.push_back(TAncestorFilter::Hash('t', simple.name));
            if (simple.kind == TSimpleKind::Id) hashes.push_back(TAncestorFilter::Hash('#', simple.name));
            if (simple.kind == TSimpleKind::Class) hashes.push_back(TAncestorFilter::Hash('.', simple.name));
          }
        }
        hashes.insert(hashes.end(), typeHashes.begin(), typeHashes.end());
        TIndex::TCandidate candidate;
        candidate.hashCount = static_cast<std::uint32_t>(std::min<std::size_t>(hashes.size(), 4));
        std::copy_n(hashes.begin(), candidate.hashCount, candidate.ancestorHashes.begin());
        candidate.entry = static_cast<std::uint32_t>(entry);
        bucket.push_back(candidate);
        index.entries.push_back({std::move(s), index.rules.size() - 1});
      }
    }
  } sink(*index_, order_);
  ParseRules(WithoutComments(css), sink);
}

TAncestorFilter::TAncestorFilter() : counts_(std::size_t(1) << kBits) {}

std::uint32_t TAncestorFilter::Hash(char kind, std::string_view name) {
  std::uint32_t h = 2166136261u;
  h = (h ^ static_cast<unsigned char>(kind)) * 16777619u;
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

void TAncestorFilter::Count(const THtmlNode& element, int step) {
  Add(Hash('t', element.Name()), step);
  if (const std::string_view* id = element.Attribute("id")) Add(Hash('#', *id), step);
  if (const std::string_view* classes = element.Attribute("class")) {
    std::string_view v = *classes;
    std::size_t i = 0;
    while (i < v.size()) {
      while (i < v.size() && IsCssSpace(v[i])) ++i;
      std::size_t start = i;
      while (i < v.size() && !IsCssSpace(v[i])) ++i;
      if (i > start) Add(Hash('.', v.substr(start, i - start)), step);
    }
  }
}

TTextStyle TStyleSheet::Compute(const std::vector<TElementRef>& path, const TTextStyle* parent,
                                const TAncestorFilter* ancestors) const {
  const TElementRef& e = path.back();
  const THtmlNode& node = *e.node;
  TTextStyle inherited;
  if (parent) {
    inherited.visible = parent->visible;
    inherited.transform = parent->transform;
    inherited.whiteSpace = parent->whiteSpace;
  }
  TTextStyle ua = inherited;
  ua.display = node.Attribute("hidden") ? TDisplay::None : DefaultDisplay(node);
  ua.whiteSpace = DefaultWhiteSpace(node.Name(), inherited.whiteSpace);

  // The winning declaration of each property: (tier, specificity, order) packed, highest wins.
  std::array<std::uint64_t, kPropertyCount> best{};
  std::array<std::uint8_t, kPropertyCount> value{};
  std::array<bool, kPropertyCount> set{};
  auto consider = [&](const TDeclaration& d, std::uint64_t tier, std::uint32_t specificity) {
    std::uint64_t priority = tier << 60 | static_cast<std::uint64_t>(specificity) << 32 | d.order;
    if (!set[d.property] || priority >= best[d.property]) {
      best[d.property] = priority;
      value[d.property] = d.value;
      set[d.property] = true;
    }
  };
  const TIndex& index = *index_;
  if (!index.entries.empty()) {
    TMatcher matcher(path);
    auto tryEntries = [&](const TIndex::TBucket& bucket) {
      for (const TIndex::TCandidate& candidate : bucket) {
        if (ancestors) {
          bool mayMatch = true;
          for (std::uint32_t h = 0; h < candidate.hashCount && mayMatch; ++h)
            mayMatch = ancestors->MayHold(candidate.ancestorHashes[h]);
          if (!mayMatch) continue;
        }
        const TIndex::TEntry& entry = index.entries[candidate.entry];
        if (!matcher.Matches(entry.selector, e, path.size() - 1)) continue;
        for (const TDeclaration& d : index.rules[entry.rule].declarations)
          consider(d, d.important ? 2 : 0, entry.selector.specificity);
      }
    };
    if (!index.byId.empty())
      if (const std::string_view* id = node.Attribute("id")) {
        if (index.idBits.Has(TAncestorFilter::Hash('#', *id))) {
          auto it = index.byId.find(std::string(*id));
          if (it != index.byId.end()) tryEntries(it->second);
        }
      }
    if (!index.byClass.empty())
      if (const std::string_view* classes = node.Attribute("class")) {
        std::string_view v = *classes;
        std::size_t i = 0;
        // A class written twice runs its rules twice, to the same effect.
        std::string name;
        while (i < v.size()) {
          while (i < v.size() && IsCssSpace(v[i])) ++i;
          std::size_t start = i;
          while (i < v.size() && !IsCssSpace(v[i])) ++i;
          if (i == start) break;
          if (!index.classBits.Has(TAncestorFilter::Hash('.', v.substr(start, i - start)))) continue;
          name.assign(v.substr(start, i - start));
          auto it = index.byClass.find(name);
          if (it != index.byClass.end()) tryEntries(it->second);
        }
      }
    if (!index.byType.empty() && index.typeBits.Has(TAncestorFilter::Hash('t', node.Name()))) {
      auto it = index.byType.find(std::string(node.Name()));
      if (it != index.byType.end()) tryEntries(it->second);
    }
    tryEntries(index.universal);
  }
  if (const std::string_view* style = node.Attribute("style")) {
    std::vector<TDeclaration> declarations;
    int order = 0;
    ParseDeclarations(WithoutComments(*style), declarations, order);
    for (const TDeclaration& d : declarations) consider(d, d.important ? 3 : 1, 0);
  }

  TTextStyle s = ua;
  bool floated = false, positioned = false;
  for (int p = 0; p < kPropertyCount; ++p) {
    if (!set[p]) continue;
    std::uint8_t v = value[p];
    bool inheritedProperty = p == kVisibility || p == kTransform || p == kWhiteSpace;
    if (v == kUnset) v = inheritedProperty ? kInherit : kInitial;
    switch (p) {
      case kDisplay:
        s.display = v == kInherit   ? (parent ? parent->display : TDisplay::Inline)
                    : v == kInitial ? TDisplay::Inline
                    : v == kRevert  ? ua.display
                                    : static_cast<TDisplay>(v);
        break;
      case kVisibility:
        s.visible = v == kInherit                   ? inherited.visible
                    : v == kInitial || v == kRevert ? (v == kRevert ? ua.visible : true)
                                                    : v != 0;
        break;
      case kTransform:
        s.transform = v == kInherit   ? inherited.transform
                      : v == kInitial ? TTextTransform::None
                      : v == kRevert  ? ua.transform
                                      : static_cast<TTextTransform>(v);
        break;
      case kWhiteSpace:
        s.whiteSpace = v == kInherit   ? inherited.whiteSpace
                       : v == kInitial ? TWhiteSpace::Normal
                       : v == kRevert  ? ua.whiteSpace
                                       : static_cast<TWhiteSpace>(v);
        break;
      case kFloat:
        floated = v == 1 || (v == kInherit && parent && parent->floated);
        break;
      case kPosition:
        positioned = v == 1 || (v == kInherit && parent && parent->positioned);
        break;
      default:
        break;
    }
  }
  s.floated = floated;
  s.positioned = positioned;
  if (parent && (parent->display == TDisplay::Flex || parent->display == TDisplay::InlineFlex))
    s.display = Blockified(s.display);
  if (floated || positioned) s.display = Blockified(s.display);
  return s;
}

// ---------------------------------------------------------------------------------------------
// Letter case

namespace {

std::uint32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c >= 0x80 && c < 0xC0) {
    ++i;
    return 0xFFFD;
  }
  int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  if (extra && i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

bool IsUpperCp(std::uint32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
         (c >= 0x100 && c <= 0x17F && c != 0x138 && c != 0x149 &&
          ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) ? c % 2 == 1 : c % 2 == 0) && c != 0x17F) ||
         c == 0x178 || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x400 && c <= 0x42F);
}

std::uint32_t ToLowerCp(std::uint32_t c) {
  if (c == 0x178) return 0xFF;
  if (c == 0x130) return 'i';
  if (!IsUpperCp(c)) return c;
  if (c < 0x80 || (c >= 0xC0 && c <= 0xDE)) return c + 0x20;
  if (c >= 0x100 && c <= 0x17F) return c + 1;
  if (c >= 0x391 && c <= 0x3AB) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

std::uint32_t ToUpperCp(std::uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0xB5) return 0x39C;
  if (c == 0x131) return 'I';
  if (c == 0x17F) return 'S';
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c >= 0x100 && c <= 0x17F) {
    std::uint32_t upper = c - 1;
    if (c != 0x138 && c != 0x149 && IsUpperCp(upper) && ToLowerCp(upper) == c) return upper;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

bool IsWordCp(std::uint32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '\'';
  if (c == 0x2019) return true;  // right single quotation mark, used as an apostrophe
  return c >= 0xC0 && c != 0xD7 && c != 0xF7 && !(c >= 0x2000 && c <= 0x206F) && c != 0xFFFD;
}

}  // namespace

std::string TransformText(std::string_view text, TTextTransform transform, bool& wordStart) {
  if (transform == TTextTransform::None) {
    if (!text.empty()) {
      std::size_t i = text.size() - 1;
      while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
      std::size_t k = i;
      wordStart = !IsWordCp(DecodeUtf8(text, k));
    }
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::uint32_t c = DecodeUtf8(text, i);
    bool word = IsWordCp(c);
    std::uint32_t mapped = c;
    if (transform == TTextTransform::Uppercase || (transform == TTextTransform::Capitalize && wordStart && word)) {
      if (c == 0xDF) {
        out += transform == TTextTransform::Uppercase ? "SS" : "Ss";
        wordStart = false;
        continue;
      }
      mapped = ToUpperCp(c);
    } else if (transform == TTextTransform::Lowercase) {
      mapped = ToLowerCp(c);
    }
    AppendUtf8(out, mapped);
    wordStart = !word;
  }
  return out;
}

}  // namespace quillon::web
