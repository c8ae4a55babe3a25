// Our body text against a browser's: every page of web/tests/corpus beside the text headless
// Chromium gave for it (<page>.txt, made by scripts/chromium-corpus.sh), compared line by line.
// A line may differ only when web/tests/corpus/differences.txt lists it with its reason; a listed
// difference that no longer occurs fails too, so the list stays true.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "util/platform.h"
#include "util/text.h"
#include "web/html_document.h"
#include "web/lyrics_extraction.h"

namespace quillon::web {
namespace {

std::string CorpusDir() {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  return source ? std::string(source) + "/web/tests/corpus/" : std::string();
}

// Lines of a text; LF and CR LF both end a line, and a final line end adds no line.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (end < text.size() || !line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// "<page> <line>" -> reason, from differences.txt ("<page> <line>: <reason>", "#" comments).
std::map<std::string, std::string> KnownDifferences() {
  std::map<std::string, std::string> known;
  std::string text;
  platform::ReadWholeFile(CorpusDir() + "differences.txt", text);
  for (const std::string& line : SplitLines(text)) {
    if (line.empty() || line[0] == '#') continue;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    known[Trim(line.substr(0, colon))] = Trim(line.substr(colon + 1));
  }
  return known;
}

std::vector<std::string> CorpusPages() {
  std::vector<platform::DirEntry> entries;
  platform::ListDirectory(CorpusDir(), entries);
  std::vector<std::string> pages;
  for (const auto& e : entries)
    if (e.name.size() > 5 && e.name.substr(e.name.size() - 5) == ".html")
      pages.push_back(e.name.substr(0, e.name.size() - 5));
  std::sort(pages.begin(), pages.end());
  return pages;
}

TEST(PageTextCorpus, MatchesTheBrowserLineByLine) {
  ASSERT_FALSE(CorpusDir().empty());
  std::vector<std::string> pages = CorpusPages();
  ASSERT_GE(pages.size(), 10u);
  std::map<std::string, std::string> known = KnownDifferences();
  std::set<std::string> seen;
  for (const std::string& page : pages) {
    std::string html, browser;
    ASSERT_TRUE(platform::ReadWholeFile(CorpusDir() + page + ".html", html));
    ASSERT_TRUE(platform::ReadWholeFile(CorpusDir() + page + ".txt", browser)) << page << ": no saved text";
    std::vector<std::string> ours = Lines(PageBodyText(html, ""));
    std::vector<std::string> theirs = Lines(Utf8ToCp1252(browser));
    std::size_t n = std::max(ours.size(), theirs.size());
    for (std::size_t i = 0; i < n; ++i) {
      std::string a = i < ours.size() ? ours[i] : "<none>";
      std::string b = i < theirs.size() ? theirs[i] : "<none>";
      if (a == b) continue;
      std::string key = page + " " + std::to_string(i + 1);
      seen.insert(key);
      if (!known.count(key)) ADD_FAILURE() << key << "\n  ours:    [" << a << "]\n  browser: [" << b << "]";
    }
  }
  for (const auto& [key, reason] : known)
    EXPECT_TRUE(seen.count(key)) << key << " is listed (" << reason << ") but no longer differs";
}

// The site rules cut the same lyrics out of our text as out of the browser's.
TEST(PageTextCorpus, RulesCutTheSameLyricsAsFromTheBrowsersText) {
  struct TCase {
    const char* page;
    const char* baseDir;
    const char* title;
  } cases[] = {
      {"rule1_pelmoralyrics", "C:\\Q\\pelmoralyrics\\", "Rain"},
      {"rule2_lyricvault", "C:\\Q\\lyricvault\\", "Morning Song"},
      {"rule3_hymnhall", "C:\\Q\\hymnhall\\", "Evening Hymn"},
      {"rule4_tunetexts", "C:\\Q\\tunetexts\\", "Lantern Walk"},
      {"rule5_versebank", "C:\\Q\\versebank\\", "River Road"},
      {"rule6_songscroll", "C:\\Q\\songscroll\\", "Paper Boats"},
      {"general_mylyrics", "C:\\Q\\MyLyrics\\", "Lullaby"},
      {"style_hidden_ads", "C:\\Q\\MyLyrics\\", "Harbour Lights"},
  };
  for (const auto& c : cases) {
    std::string html, browser;
    ASSERT_TRUE(platform::ReadWholeFile(CorpusDir() + c.page + ".html", html));
    ASSERT_TRUE(platform::ReadWholeFile(CorpusDir() + c.page + ".txt", browser));
    std::string browserText = JoinLines(Lines(Utf8ToCp1252(browser)));
    browserText.resize(browserText.size() - 2);  // body text has no final line end
    TLyricsPage fromOurs{PageBodyText(html, ""), c.baseDir, std::string(c.title), c.title};
    TLyricsPage fromBrowser{browserText, c.baseDir, std::string(c.title), c.title};
    std::string lyrics = ExtractLyrics(fromOurs);
    EXPECT_FALSE(lyrics.empty()) << c.page;
    EXPECT_EQ(lyrics, ExtractLyrics(fromBrowser)) << c.page;
  }
}

// The ads a page's sheets hide inside its lyrics block stay out of the lyrics cut from it.
TEST(PageTextCorpus, HiddenAdsStayOutOfTheCutLyrics) {
  std::string html;
  ASSERT_TRUE(platform::ReadWholeFile(CorpusDir() + "style_hidden_ads.html", html));
  TLyricsPage page{PageBodyText(html, ""), "C:\\Q\\MyLyrics\\", std::string("Harbour Lights"), "Harbour Lights"};
  std::string lyrics = ExtractLyrics(page);
  EXPECT_NE(lyrics.find("and every rope is coiled and stowed\r\n"), std::string::npos) << lyrics;
  EXPECT_NE(lyrics.find("hold fast, the night is long."), std::string::npos) << lyrics;
  for (const char* ad : {"ADVERTISEMENT", "Buy ringtones", "Sponsored", "Hidden", "Gone promo", "Printed only"})
    EXPECT_EQ(lyrics.find(ad), std::string::npos) << ad << " in:\n" << lyrics;
}

}  // namespace
}  // namespace quillon::web
