// The query language, BM25 ranking over a small fixture worked out by hand, phrases, prefixes,
// exclusion, snippets, and the byte form of posting lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "lyricsearch/lyric_query.h"
#include "lyricsearch/postings.h"
#include "lyricsearch/word_cutter.h"

namespace quillon::lyricsearch {
namespace {

TQueryTerm Term(TTermKind kind, std::vector<std::string> words, bool exclude = false) {
  return TQueryTerm{kind, std::move(words), exclude};
}

TEST(LyricQuery, ParsesWordsPhrasesPrefixesAndExclusions) {
  struct TCase {
    const char* Text;
    std::vector<TQueryTerm> Terms;
  };
  const std::vector<TCase> cases = {
      {"river BLUE", {Term(TTermKind::Word, {"river"}), Term(TTermKind::Word, {"blue"})}},
      {"\"River Runs Blue\"", {Term(TTermKind::Phrase, {"river", "runs", "blue"})}},
      {"riv*", {Term(TTermKind::Prefix, {"riv"})}},
      {"-night day", {Term(TTermKind::Word, {"night"}, true), Term(TTermKind::Word, {"day"})}},
      {"-\"dark night\" day", {Term(TTermKind::Phrase, {"dark", "night"}, true), Term(TTermKind::Word, {"day"})}},
      {"rock-n-roll", {Term(TTermKind::Phrase, {"rock", "n", "roll"})}},
      {"\"no end quote", {Term(TTermKind::Phrase, {"no", "end", "quote"})}},
      {"- day", {Term(TTermKind::Word, {"day"})}},
      {"\"one\"", {Term(TTermKind::Word, {"one"})}},
      {"caf\xE9*", {Term(TTermKind::Prefix, {"cafe"})}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLyricQuery(c.Text).Terms, c.Terms) << c.Text;
}

TEST(LyricQuery, NothingToLookForIsRefused) {
  for (const char* text : {"", "   ", "-night", "!!! ...", "\"\"", "*", "-a -b"})
    EXPECT_THROW(ParseLyricQuery(text), ELyricQueryError) << text;
}

// Six lyrics. "river" occurs twice in 2, once in 1, 3 and 5 (5 is much longer), not in 4 and 6.
class Ranking : public ::testing::Test {
 protected:
  void SetUp() override {
    Add(1, "Zebra Crossing", "river blue sky green");
    Add(2, "Middle Way", "river river blue grass");
    Add(3, "Amber Road", "river sand stone earth");
    Add(4, "Moon Song", "blue moon over town");
    Add(5, "Long One", "river and a lot of other words that make this lyric long");
    Add(6, "Rivers", "rivers riverside green");
  }
  void Add(std::int32_t key, const std::string& title, const std::string& text) {
    index.Put(key, text);
    titles[key] = title;
  }
  std::vector<std::int32_t> Keys(const std::string& query, std::size_t limit = 50) {
    std::vector<std::int32_t> keys;
    for (const auto& r : Ranked(query, limit)) keys.push_back(r.Key);
    return keys;
  }
  std::vector<TRankedLyric> Ranked(const std::string& query, std::size_t limit = 50) {
    titlesAsked = 0;
    return RankLyrics(ParseLyricQuery(query), index, limit, [this](std::int32_t key) {
      ++titlesAsked;
      return titles.at(key);
    });
  }
  TMemoryIndex index;
  std::map<std::int32_t, std::string> titles;
  int titlesAsked = 0;
};

TEST_F(Ranking, MoreOccurrencesFirstThenEqualScoresByTitleThenLongerLyricsLast) {
  // 2 holds river twice; 1 and 3 once at the same length (tie: "Amber Road" before "Zebra
  // Crossing"); 5 once in a long lyric.
  EXPECT_EQ(Keys("river"), (std::vector<std::int32_t>{2, 3, 1, 5}));
}

TEST_F(Ranking, ScoreIsBm25AsWorkedOutByHand) {
  // N = 6, df(river) = 4: idf = ln((6 - 4 + 0.5) / (4 + 0.5) + 1) = ln(1.5556) = 0.44183.
  // Lengths 4, 4, 4, 4, 12, 3: average 31 / 6 = 5.1667. Lyric 2: tf 2, length 4:
  // norm = 0.25 + 0.75 * 4 / 5.1667 = 0.83065; score = 0.44183 * 2 * 2.2 / (2 + 1.2 * 0.83065)
  // = 0.44183 * 4.4 / 2.99677 = 0.64872.
  auto ranked = Ranked("river");
  ASSERT_FALSE(ranked.empty());
  EXPECT_EQ(ranked[0].Key, 2);
  EXPECT_NEAR(ranked[0].Score, 0.64872, 1e-4);
}

TEST_F(Ranking, TitlesAreAskedOnlyForTies) {
  Ranked("grass");
  EXPECT_EQ(titlesAsked, 0);
  Ranked("river");
  EXPECT_EQ(titlesAsked, 2);
}

TEST_F(Ranking, TheLimitCutsAfterTheTieBreak) {
  EXPECT_EQ(Keys("river", 2), (std::vector<std::int32_t>{2, 3}));
}

TEST_F(Ranking, EveryWordMustOccur) {
  EXPECT_EQ(Keys("river blue"), (std::vector<std::int32_t>{2, 1}));
  EXPECT_TRUE(Keys("river moon").empty());
  EXPECT_TRUE(Keys("river nowhere").empty());
}

TEST_F(Ranking, PhrasesNeedTheWordsInOrderSideBySide) {
  auto keys = Keys("\"river blue\"");
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::int32_t>{1, 2}));
  EXPECT_TRUE(Keys("\"blue river\"").empty());
  EXPECT_TRUE(Keys("\"river green\"").empty());  // both in 1, not side by side
  EXPECT_EQ(Keys("\"blue moon over\""), (std::vector<std::int32_t>{4}));
}

TEST_F(Ranking, PhraseMatchesMarkEveryWordOfEachOccurrence) {
  std::map<std::int32_t, std::vector<std::uint32_t>> matches;
  for (const auto& r : Ranked("\"river blue\"")) matches[r.Key] = r.Matches;
  EXPECT_EQ(matches, (std::map<std::int32_t, std::vector<std::uint32_t>>{{1, {0, 1}}, {2, {1, 2}}}));
}

TEST_F(Ranking, PrefixesTakeEveryWordBeginningSo) {
  auto keys = Keys("gr*");
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::int32_t>{1, 2, 6}));
  // "river*" reaches "rivers" and "riverside" too; lyric 6 holds two such words.
  keys = Keys("river*");
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::int32_t>{1, 2, 3, 5, 6}));
  EXPECT_TRUE(Keys("zz*").empty());
}

TEST_F(Ranking, ExcludedTermsRemoveLyrics) {
  EXPECT_EQ(Keys("blue -river"), (std::vector<std::int32_t>{4}));
  EXPECT_EQ(Keys("river -\"river blue\" -long"), (std::vector<std::int32_t>{3}));
  EXPECT_EQ(Keys("green -riv*"), (std::vector<std::int32_t>{}));
}

TEST(Snippet, ShowsTheMatchingLinesWithTheWordsMarked) {
  std::string lyric = "First verse here\r\nAnd the River runs blue\r\nnothing\r\nblue again\r\nlast blue";
  auto words = CutWordTexts(lyric);
  std::vector<std::uint32_t> matches;
  for (std::uint32_t i = 0; i < words.size(); ++i)
    if (words[i] == "river" || words[i] == "blue") matches.push_back(i);
  auto snippet = MakeSnippet(lyric, matches);
  EXPECT_EQ(MarkedText(snippet), "And the [River] runs [blue] / [blue] again");
  EXPECT_EQ(lyric.substr(snippet.FirstMatchOffset, snippet.FirstMatchLength), "River");
}

TEST(Snippet, CutsALongLineAroundItsMatch) {
  std::string lyric = std::string(200, 'x') + " " + std::string(100, 'y') + " needle " + std::string(300, 'z');
  auto snippet = MakeSnippet(lyric, {2});
  std::string marked = MarkedText(snippet);
  EXPECT_NE(marked.find("[needle]"), std::string::npos);
  EXPECT_LE(snippet.Text.size(), kSnippetLineLength + 6);
  EXPECT_EQ(snippet.Text.substr(0, 3), "...");
}

TEST(Postings, RoundTripThroughTheByteForm) {
  TPostingList list = {{1, {0, 5, 6}}, {7, {3}}, {300000, {1, 200, 70000}}};
  EXPECT_EQ(DecodePostings(EncodePostings(list)), list);
  EXPECT_TRUE(DecodePostings("").empty());
}

TEST(Postings, DamagedBytesAreRefused) {
  struct TCase {
    const char* Label;
    std::string Bytes;
  };
  const std::vector<TCase> cases = {
      {"number cut off", std::string("\x01\x01\x80", 3)},
      {"key gap of zero after the first", std::string("\x01\x01\x00\x00\x01\x00", 6)},
      {"count of zero", std::string("\x01\x00", 2)},
      {"positions not ascending", std::string("\x01\x02\x03\x00", 4)},
      {"count beyond the bytes", std::string("\x01\x05\x00", 3)},
      {"key zero", std::string("\x00\x01\x00", 3)},
      {"number too large", std::string("\xFF\xFF\xFF\xFF\x7F\x01\x00", 7)},
  };
  for (const auto& c : cases) EXPECT_THROW(DecodePostings(c.Bytes), EIndexDamaged) << c.Label;
}

TEST(MemoryIndex, ReplacingAndRemovingALyricLeavesNoTrace) {
  TMemoryIndex index;
  index.Put(1, "alpha beta");
  index.Put(2, "beta gamma");
  index.Put(1, "delta");
  EXPECT_TRUE(index.Postings("alpha").empty());
  EXPECT_EQ(index.Postings("beta"), (TPostingList{{2, {0}}}));
  EXPECT_EQ(index.TotalLength(), 3u);
  index.Remove(2);
  EXPECT_EQ(index.Words().size(), 1u);
  EXPECT_EQ(index.LyricCount(), 1);
}

}  // namespace
}  // namespace quillon::lyricsearch
