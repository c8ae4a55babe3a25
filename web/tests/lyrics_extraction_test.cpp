#include "web/lyrics_extraction.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace quillon::web {
namespace {

// Lines joined with CR LF, without a final line end (as a page's body text comes).
std::string Page(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

const char kRule1Dir[] = "C:\\Quillon\\pelmoralyrics\\";
const char kRule2Dir[] = "C:\\Quillon\\lyricvault\\";
const char kRule3Dir[] = "C:\\Quillon\\hymnhall\\";
const char kRule4Dir[] = "C:\\Quillon\\tunetexts\\";
const char kRule5Dir[] = "C:\\Quillon\\versebank\\";
const char kRule6Dir[] = "C:\\Quillon\\songscroll\\";
const char kGeneralDir[] = "C:\\Quillon\\MyLyrics\\";

// A rule 1 page: the title three times before the text, a heading "<title> Lyrics" followed by a
// blank line, the text between two "Complimentary \"" lines, and the error-report line.
std::string Rule1Page(bool secondMarker, bool errorLine) {
  std::string page = Page({"Home | Rain lyrics", "Artist A - Rain", "Songs: Rain (2001)", "Rain Lyrics", "",
                           "Complimentary \"ringtone\" offer", "line one", "line two"});
  if (secondMarker) page += "\r\nComplimentary \"ringtone\" offer";
  if (errorLine) page += "\r\nIf you find some errors, tell us";
  return page + "\r\nfooter";
}

TEST(ExtractLyrics, EachRuleCutsItsSitesPages) {
  struct TCase {
    const char* what;
    std::string baseDir;
    std::string text;
    std::optional<std::string> selected;
    std::string label;
    std::string lyrics;
  } cases[] = {
      {"rule 1", kRule1Dir, Rule1Page(true, true), "Rain", "Rain", "line one\r\nline two\r\n"},
      {"rule 1 with a single marker", kRule1Dir, Rule1Page(false, true), "Rain", "Rain", ""},
      {"rule 1 without the error-report line", kRule1Dir, Rule1Page(true, false), "Rain", "Rain", ""},
      {"rule 1 without a selected song", kRule1Dir, Rule1Page(true, true), std::nullopt, "Rain", ""},
      {"rule 1 takes the title from the song list", kRule1Dir, Rule1Page(true, true), "Rain", "Other",
       "line one\r\nline two\r\n"},
      {"rule 1 when the title is not on the page", kRule1Dir, Rule1Page(true, true), "Snow", "Snow", ""},
      {"the base \"default\" uses rule 1", "C:\\Quillon\\default\\", Rule1Page(true, true), "Rain", "Rain",
       "line one\r\nline two\r\n"},
      {"a program folder containing \"default\" makes every base use rule 1", "C:\\default apps\\Quillon\\lyricvault\\",
       Rule1Page(true, true), "Rain", "Rain", "line one\r\nline two\r\n"},
      {"rule 1 in a program folder containing \"default\" on another site's page",
       "C:\\default apps\\Quillon\\lyricvault\\", Page({"Rain lyrics:", "Verse a", "Print this"}), "Rain", "Rain", ""},

      {"rule 2", kRule2Dir, Page({"Song page", "My Song lyrics:", "  Verse a", "Verse b", "", "Print this page", "x"}),
       std::nullopt, "My Song", "Verse a\r\nVerse b\r\n"},
      {"rule 2 without a Print line", kRule2Dir, Page({"Song lyrics:", "Verse a"}), std::nullopt, "Song",
       "Verse a\r\n"},
      {"rule 2 needs \" lyrics:\" in lower case", kRule2Dir, Page({"Song Lyrics:", "Verse a"}), std::nullopt, "Song",
       ""},

      {"rule 3, sponsor line at index 1", kRule3Dir,
       Page({"Header", "Title: My Song", "line0", "click above to visit our sponsors", "line2", "line3", "line4",
             "line5", "Check it out!"}),
       std::nullopt, "My Song", "line0\r\nline4\r\nline5\r\n"},
      {"rule 3 never deletes the last line", kRule3Dir,
       Page({"Title: My Song", "a", "b", "CLICK ABOVE TO VISIT OUR SPONSORS", "c", "Check it out!"}), std::nullopt,
       "My Song", "a\r\nc\r\n"},
      {"rule 3 without a sponsor line", kRule3Dir, Page({"Title: My Song", "a", "b", "Check it out!"}), std::nullopt,
       "My Song", "a\r\nb\r\n"},
      {"rule 3 without \"Check it out!\"", kRule3Dir, Page({"Title: My Song", "a", "b"}), std::nullopt, "My Song", ""},
      {"rule 3 without \"Title:\"", kRule3Dir, Page({"a", "b", "Check it out!"}), std::nullopt, "My Song", ""},

      {"rule 4", kRule4Dir, Page({"Artist: Someone", "Album: X", "  ", "verse 1", "verse 2"}), std::nullopt, "Song",
       "verse 1\r\nverse 2\r\n"},
      {"rule 4 without a blank line fails", kRule4Dir, Page({"Artist: Someone", "verse 1", "verse 2"}), std::nullopt,
       "Song", ""},
      {"rule 4 without \"Artist:\"", kRule4Dir, Page({"Singer: Someone", "", "verse 1"}), std::nullopt, "Song", ""},

      {"rule 5", kRule5Dir, Page({"Menu", "RAIN", "  first line  ", "second", "|| # || links"}), std::nullopt, "Rain",
       "first line\r\nsecond\r\n"},
      {"rule 5 without the end marker", kRule5Dir, Page({"Rain", "  a", "b "}), std::nullopt, "Rain", "a\r\nb\r\n"},

      {"rule 6 ends at a line starting with \"by \"", kRule6Dir,
       Page({"Top", "Views: 1234", "line a", "line b", "by Someone", "more"}), std::nullopt, "Song",
       "line a\r\nline b\r\n"},
      {"rule 6 ends at \"Registered members\"", kRule6Dir,
       Page({"Views: 1", "line a", "Only Registered members may rate", "by x"}), std::nullopt, "Song", "line a\r\n"},
      {"rule 6 without a matching line drops only the final line", kRule6Dir, Page({"Views: 9", "a", "By b", "final"}),
       std::nullopt, "Song", "a\r\nBy b\r\n"},
      {"rule 6 without \"Views:\"", kRule6Dir, Page({"views: 9", "a", "b"}), std::nullopt, "Song", ""},

      {"general rule: the title only in the heading", kGeneralDir, Page({"Site name", "RAIN", "", "  la la", "la"}),
       std::nullopt, "Rain", "la la\r\nla\r\n"},
      {"general rule when the title is missing", kGeneralDir, Page({"Site name", "words"}), std::nullopt, "Rain", ""},
      {"a first line repeating the title in other case is removed", kGeneralDir,
       Page({"Rain", "", " rAIN ", "", "words"}), std::nullopt, "Rain", "words\r\n"},
      {"a repeated title is removed only once", kGeneralDir, Page({"Rain", "rain", "rain"}), std::nullopt, "Rain",
       "rain\r\n"},
  };
  for (const auto& c : cases) {
    TLyricsPage page{c.text, c.baseDir, c.selected, c.label};
    EXPECT_EQ(ExtractLyrics(page), c.lyrics) << c.what;
  }
}

TEST(ExtractLyrics, EmptyAndOddPagesGiveEmptyText) {
  const char* dirs[] = {kRule1Dir, kRule2Dir, kRule3Dir, kRule4Dir, kRule5Dir, kRule6Dir, kGeneralDir};
  const std::string pages[] = {"", "\r\n\r\n", "Views:", "Title:", "Artist:", " lyrics:", "Rain", "Complimentary \""};
  for (const char* dir : dirs) {
    for (const std::string& text : pages) {
      TLyricsPage page{text, dir, std::string("Rain"), "Rain"};
      std::string lyrics = ExtractLyrics(page);
      // Whatever a rule leaves, the result is either empty or lines each ending in CR LF.
      if (!lyrics.empty()) {
        EXPECT_EQ(lyrics.substr(lyrics.size() - 2), "\r\n") << dir << " / " << text;
      }
    }
  }
  TLyricsPage empty{"", kGeneralDir, std::nullopt, ""};
  EXPECT_EQ(ExtractLyrics(empty), "");
}

}  // namespace
}  // namespace quillon::web
