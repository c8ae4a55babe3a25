// Cutting Windows-1252 lyric text into folded words, as a table of cases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lyricsearch/word_cutter.h"

namespace quillon::lyricsearch {
namespace {

struct TCutCase {
  const char* Label;
  std::string Text;
  std::vector<std::string> Words;
};

const std::vector<TCutCase>& CutCases() {
  static const std::vector<TCutCase> cases = {
      {"plain words, case folded", "And the River runs BLUE", {"and", "the", "river", "runs", "blue"}},
      {"punctuation dropped", "Hey! (oh, oh)... yeah?", {"hey", "oh", "oh", "yeah"}},
      {"apostrophe inside a word kept", "Don't stop, I can't", {"don't", "stop", "i", "can't"}},
      {"typographic apostrophe written as '", "don\x92t won\x91t", {"don't", "won't"}},
      {"apostrophes at the edges dropped", "'cause singin' ''twas''", {"cause", "singin", "twas"}},
      {"digits kept, alone and in words", "1999 at 3am, 24/7", {"1999", "at", "3am", "24", "7"}},
      {"accents folded", "Caf\xE9 na\xEFve \xC9t\xE9 S\xE3o", {"cafe", "naive", "ete", "sao"}},
      {"sharp s and ligatures spelt out",
       "Stra\xDF"
       "e \xC6on \x9C"
       "uvre \xDEorn",
       {"strasse", "aeon", "oeuvre", "thorn"}},
      {"caron and other letters",
       "\x8Akoda \x9Eivot \x9F"
       "es \xF1"
       "and\xFA \xD8re",
       {"skoda", "zivot", "yes", "nandu", "ore"}},
      {"multiplication and division signs separate",
       "a\xD7"
       "b c\xF7"
       "d",
       {"a", "b", "c", "d"}},
      {"hyphens and slashes separate", "rock-n-roll and/or", {"rock", "n", "roll", "and", "or"}},
      {"line breaks separate", "one\r\ntwo\nthree\rfour", {"one", "two", "three", "four"}},
      {"quotes and dashes are no letters", "\x93Yes\x94 \x96 no \x85", {"yes", "no"}},
      {"no words at all", " ,.;!? \r\n", {}},
  };
  return cases;
}

TEST(WordCutter, CutsAndFoldsAsAReaderExpects) {
  for (const auto& c : CutCases()) EXPECT_EQ(CutWordTexts(c.Text), c.Words) << c.Label;
}

TEST(WordCutter, SpansPointAtTheWordsInTheText) {
  std::string text = "  Don't \xC9t\xE9!";
  auto spans = CutWords(text);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(text.substr(spans[0].Offset, spans[0].Length), "Don't");
  EXPECT_EQ(text.substr(spans[1].Offset, spans[1].Length), "\xC9t\xE9");
  EXPECT_EQ(spans[1].Word, "ete");
}

TEST(WordCutter, LongWordsAreCutTheSameWayInTextAndQuery) {
  std::string longWord(40, 'a');
  auto words = CutWordTexts("x " + longWord + "b y");
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[1], std::string(kMaxWordLength, 'a'));
  EXPECT_EQ(FoldWord(longWord + "c"), words[1]);
}

TEST(WordCutter, FoldWordMatchesTheCutter) {
  EXPECT_EQ(FoldWord("Don\x92t"), "don't");
  EXPECT_EQ(FoldWord("\xDC"
                     "ber"),
            "uber");
  EXPECT_TRUE(IsWordChar('7'));
  EXPECT_FALSE(IsWordChar('-'));
  EXPECT_FALSE(IsWordChar(0xD7));
}

}  // namespace
}  // namespace quillon::lyricsearch
