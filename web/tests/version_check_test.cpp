#include "web/version_check.h"

#include <gtest/gtest.h>

namespace quillon::web {
namespace {

TEST(VersionCheck, OffersOnlyANewerVersion) {
  struct TCase {
    const char* what;
    const char* page;
    char separator;
    std::optional<std::string> offered;
  } cases[] = {
      {"same version", "Current: lyrics=1.6# thanks", '.', std::nullopt},
      {"newer version", "Current: lyrics=1.7# thanks", '.', "1.7"},
      {"older version", "lyrics=1.2#", '.', std::nullopt},
      {"more than ten characters before #", "lyrics=1.7        #", '.', std::nullopt},
      {"# as the tenth character", "lyrics=000000001#", '.', std::nullopt},
      {"# as the tenth character, newer", "lyrics=000000002.#", '.', std::nullopt},
      {"# just inside the window", "lyrics=0000002.5#", '.', "0000002.5"},
      {"no #", "lyrics=1.7", '.', std::nullopt},
      {"no key", "Lyrics=1.7#", '.', std::nullopt},
      {"not a number", "lyrics=1.7b#", '.', std::nullopt},
      {"blanks around the number", "lyrics= 1.8 #", '.', " 1.8 "},
      {"the first key counts", "lyrics=1.0# lyrics=2.0#", '.', std::nullopt},
      {"a comma separator reads \"1,7\"", "lyrics=1,7#", ',', std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(NewerVersionOnPage(c.page, "1.6", c.separator), c.offered) << c.what;
  // With a comma as the system's separator the program's own "1.6" cannot be read: no offer.
  EXPECT_EQ(NewerVersionOnPage("lyrics=2,0#", "1.6", ','), std::nullopt);
  EXPECT_EQ(NewerVersionOnPage("lyrics=2,0#", "1,6", ','), "2,0");
}

TEST(VersionCheck, DecimalNumbers) {
  struct TCase {
    const char* text;
    bool ok;
    double value;
  } cases[] = {{"1.6", true, 1.6}, {" -2.5 ", true, -2.5}, {"3", true, 3},      {".5", true, 0.5}, {"1e2", true, 100},
               {"", false, 0},     {".", false, 0},        {"1.2.3", false, 0}, {"1e", false, 0},  {"0x10", false, 0}};
  for (const auto& c : cases) {
    double v = -1;
    EXPECT_EQ(TryDecimal(c.text, '.', v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
  }
}

TEST(VersionCheck, QuestionText) {
  EXPECT_EQ(UpdateQuestion("1.7"),
            "Update Note: version 1.7 is now available for download,\r\n"
            "We strongly recommend you upgrade to this version as \r\n"
            "soon as possible.\r\n\r\n"
            "Would you like to upgrade to the latest version?");
}

}  // namespace
}  // namespace quillon::web
