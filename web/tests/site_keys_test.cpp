#include "web/site_keys.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "util/profile.h"

namespace quillon::web {
namespace {

TEST(SiteKeys, RuleFollowsTheFirstKeyInTheFolderPath) {
  struct TCase {
    const char* baseDir;
    int rule;
  } cases[] = {
      {"C:\\Quillon\\default\\", 1},
      {"C:\\Quillon\\PelmoraLyrics\\", 1},
      {"C:\\Quillon\\lyricvault\\", 2},
      {"C:\\Quillon\\HymnHall\\", 3},
      {"C:\\Quillon\\TuneTexts\\", 4},
      {"C:\\Quillon\\VERSEBANK\\", 5},
      {"C:\\Quillon\\songscroll2\\", 6},
      // Key order decides when a path holds two keys.
      {"C:\\hymnhall\\lyricvault\\", 2},
      {"C:\\Quillon\\MyLyrics\\", 0},
      {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(SiteRuleOf(c.baseDir), c.rule) << c.baseDir;
}

// The installed demo bases and the download list name sites the extraction rules know.
TEST(SiteKeys, DemoBasesCarryTheirSiteKeys) {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::string data = std::string(source) + "/data/";
  EXPECT_EQ(SiteRuleOf(data + "bases/lyricvault/"), 2);
  EXPECT_EQ(SiteRuleOf(data + "bases/default/"), 1);
  TProfileFile search(data + "search.ini");
  int known = 0;
  for (const std::string& name : search.ReadSection("db"))
    if (SiteRuleOf(name) > 0) ++known;
  EXPECT_GE(known, 3);
}

}  // namespace
}  // namespace quillon::web
