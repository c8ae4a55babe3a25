// Search addresses from the templates of "search.ini": first occurrences only, in the order song
// then artist, texts inserted unchanged, built-in templates when the file or key is missing.
#include "web/search_assistant.h"

#include <gtest/gtest.h>

#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"

namespace quillon::web {
namespace {

TEST(BuildSearchAddress, FillsFirstOccurrencesSongFirst) {
  struct Case {
    const char* tmpl;
    const char* song;
    const char* artist;
    const char* address;
  } cases[] = {
      // "[song]" twice: only the first is filled.
      {"http://s/?a=[song]&b=[song]&c=[artist]", "Help", "Beatles", "http://s/?a=Help&b=[song]&c=Beatles"},
      // A song containing "[artist]" receives the artist there, since the second step works on the
      // result of the first.
      {"q=[song] by [artist]", "Song [artist] x", "Abba", "q=Song Abba x by [artist]"},
      // Both fields empty: the quotes of the template stay with nothing between them.
      {"q=\"[song]\" \"[artist]\" \"lyrics\"", "", "", "q=\"\" \"\" \"lyrics\""},
      // Texts go in unchanged: blanks, quotes, ampersands, no encoding, no trimming.
      {"q=[song]|[artist]", " It's \"Me\" & You ", "A&B ", "q= It's \"Me\" & You |A&B "},
      // Placeholders are case-sensitive; a template without them is used as it is.
      {"q=[Song] [ARTIST]", "x", "y", "q=[Song] [ARTIST]"},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildSearchAddress(c.tmpl, c.song, c.artist), c.address) << c.tmpl;
}

TEST(SearchOnWeb, UsesTheBuiltInTemplatesWithoutSearchIni) {
  quillon::testing::TempDir dir;
  testing::TRecordingBrowser browser;
  SearchOnWeb(dir.Path(), TSearchKind::Lyrics, "Yesterday", "The Beatles", browser);
  SearchOnWeb(dir.Path(), TSearchKind::Mp3, "", "", browser);
  ASSERT_EQ(browser.browsed.size(), 2u);
  EXPECT_EQ(browser.browsed[0], "https://www.google.com/search?q=\"Yesterday\" \"The Beatles\" \"lyrics\"");
  EXPECT_EQ(browser.browsed[1], "https://www.google.com/search?q=\"\" \"\" \"mp3\"");
  EXPECT_EQ(browser.posts, (std::vector<std::string>{"", ""}));
}

TEST(SearchOnWeb, ReadsTheTemplatesAfreshFromSearchIni) {
  quillon::testing::TempDir dir;
  testing::TRecordingBrowser browser;
  dir.Write("search.ini", "[Lyrics]\r\nurl=http://lyr/[artist]/[song]\r\n[db]\r\nrock=12#5\r\n");
  SearchOnWeb(dir.Path(), TSearchKind::Lyrics, "S", "A", browser);
  SearchOnWeb(dir.Path(), TSearchKind::Mp3, "S", "A", browser);  // no [Mp3] section: built-in
  dir.Write("search.ini", "[lyrics]\r\nURL=http://other/?q=[song]\r\n");
  SearchOnWeb(dir.Path(), TSearchKind::Lyrics, "S2", "A", browser);
  EXPECT_EQ(browser.browsed,
            (std::vector<std::string>{"http://lyr/A/S", "https://www.google.com/search?q=\"S\" \"A\" \"mp3\"",
                                      "http://other/?q=S2"}));
}

}  // namespace
}  // namespace quillon::web
