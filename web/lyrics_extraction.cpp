// The extraction rules (see lyrics_extraction.h).
#include "web/lyrics_extraction.h"

#include <string_view>
#include <vector>

#include "util/text.h"
#include "web/site_keys.h"

namespace quillon::web {

namespace {

using TLines = std::vector<std::string>;

// The rule failed in a way that empties the whole result.
struct TRuleFailed {};

int Pos(std::string_view part, std::string_view text) {
  if (part.empty()) return 0;
  std::size_t p = text.find(part);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}
std::string From(std::string_view text, int p) {
  if (p < 1) p = 1;
  if (static_cast<std::size_t>(p) > text.size()) return {};
  return std::string(text.substr(static_cast<std::size_t>(p) - 1));
}
std::string Head(std::string_view text, int n) {
  if (n <= 0) return {};
  return std::string(text.substr(0, static_cast<std::size_t>(n)));
}
int Length(const std::string& s) {
  return static_cast<int>(s.size());
}
bool IsBlankLine(const std::string& line) {
  return Trim(line).empty();
}
int IndexOfLine(const TLines& lines, std::string_view m) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (EqualIgnoringCase(lines[i], m)) return static_cast<int>(i);
  return -1;
}

std::string Rule1(std::string t, const std::string& title) {
  if (PosText(title, t) == 0) return {};
  for (int k = 0; k < 3; ++k) t = From(t, PosText(title, t) + Length(title) + 8);
  t = Head(t, PosText("If you find some err", t) - 5);
  t = Trim(t);
  int h = PosText(title + " Lyrics", t);
  if (h > 0) t = From(t, h + Length(title) + 11);
  const std::string marker = "Complimentary \"";
  if (Pos(marker, t) > 0) {
    t = From(t, Pos(marker, t));
    t = From(t, Pos(kCrLf, t));
    t = Head(t, Pos(marker, t) - 1);
  }
  return t;
}

std::string Rule2(std::string t) {
  if (Pos(" lyrics:", t) == 0) return {};
  t = From(t, PosText(" lyrics:", t) + 9);
  int print = PosText(std::string(kCrLf) + "Print ", t);
  if (print > 0) t = Head(t, print - 1);
  return Trim(t);
}

std::string Rule3(std::string t) {
  if (Pos("Title:", t) == 0) return {};
  t = From(t, Pos("Title:", t) + 9);
  t = From(t, Pos(kCrLf, t) + 2);
  t = Head(t, Pos("Check it out!", t) - 3);
  TLines lines = SplitLines(t);
  int b = IndexOfLine(lines, "CLICK ABOVE TO VISIT OUR SPONSORS");
  if (b != -1) {
    // The sponsor block: up to two lines after the marker line and four before it, never the
    // first or the last line.
    for (int i = b + 2; i >= b - 4; --i)
      if (!lines.empty() && i > 0 && i < static_cast<int>(lines.size()) - 1) lines.erase(lines.begin() + i);
  }
  return JoinLines(lines);
}

std::string Rule4(const std::string& t) {
  if (Pos("Artist:", t) == 0) return {};
  TLines lines = SplitLines(t);
  while (!lines.empty() && !IsBlankLine(lines.front())) lines.erase(lines.begin());
  if (lines.empty()) throw TRuleFailed{};
  lines.erase(lines.begin());
  return JoinLines(lines);
}

std::string Rule5(std::string t, const std::string& title) {
  t = From(t, PosText(title, t) + Length(title));
  int end = Pos("|| # ||", t);
  if (end > 0) t = Head(t, end - 1);
  TLines lines = SplitLines(t);
  for (std::string& line : lines) line = Trim(line);
  return JoinLines(lines);
}

std::string Rule6(std::string t) {
  if (Pos("Views:", t) == 0) return {};
  t = From(t, Pos("Views:", t) + 1);
  TLines lines = SplitLines(t);
  if (!lines.empty()) lines.erase(lines.begin());
  int last = static_cast<int>(lines.size()) - 1;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("Registered members") != std::string::npos || lines[i].rfind("by ", 0) == 0) {
      last = static_cast<int>(i);
      break;
    }
  }
  for (int i = static_cast<int>(lines.size()) - 1; i >= last && i >= 0; --i) lines.erase(lines.begin() + i);
  return JoinLines(lines);
}

std::string GeneralRule(const std::string& t, const std::string& title) {
  int p = PosText(title, t);
  if (p == 0) return {};
  return Trim(From(t, p + Length(title)));
}

void DeleteLeadingBlankLines(TLines& lines) {
  std::size_t n = 0;
  while (n < lines.size() && IsBlankLine(lines[n])) ++n;
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(n));
}

std::string CommonSteps(const std::string& t, const std::string& title) {
  TLines lines = SplitLines(Trim(t));
  DeleteLeadingBlankLines(lines);
  if (!lines.empty() && LowerAsciiText(Trim(lines.front())) == LowerAsciiText(Trim(title))) lines.erase(lines.begin());
  DeleteLeadingBlankLines(lines);
  return JoinLines(lines);
}

}  // namespace

std::string ExtractLyrics(const TLyricsPage& page) {
  try {
    const std::string& t = page.bodyText;
    const std::string& title = page.songLabel;
    std::string cut;
    switch (SiteRuleOf(page.baseDir)) {
      case 1:
        if (!page.selectedSong) return {};
        cut = Rule1(t, *page.selectedSong);
        break;
      case 2:
        cut = Rule2(t);
        break;
      case 3:
        cut = Rule3(t);
        break;
      case 4:
        cut = Rule4(t);
        break;
      case 5:
        cut = Rule5(t, title);
        break;
      case 6:
        cut = Rule6(t);
        break;
      default:
        cut = GeneralRule(t, title);
        break;
    }
    return CommonSteps(cut, title);
  } catch (...) {
    // Any failure while cutting (a rule that finds no place to cut, or running out of memory on
    // a huge page) means the page yields no lyrics.
    return {};
  }
}

}  // namespace quillon::web
