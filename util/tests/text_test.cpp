#include "util/text.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(PosText, FindsPartIgnoringAsciiCaseOnly) {
  struct Case {
    const char* part;
    const char* text;
    int expected;
  } cases[] = {
      {"abc", "xxABCyy", 3},
      {"ABC", "abc", 1},
      {"b", "abcb", 2},
      {"", "anything", 0},
      {"longer", "short", 0},
      {"x", "", 0},
      {"\xC9", "\xE9t\xE9", 0},  // accented letters keep their case: no match
      {"If you find some err", "Lyrics\r\nIF YOU FIND SOME ERRORS", 9},
  };
  for (const auto& c : cases) EXPECT_EQ(PosText(c.part, c.text), c.expected) << c.part << " in " << c.text;
}

TEST(Text, CaseHelpersTouchOnlyAsciiLetters) {
  EXPECT_EQ(LowerAsciiText("AbC-\xC4Z"), "abc-\xC4z");
  EXPECT_EQ(UpperAsciiText("abc-\xE4z"), "ABC-\xE4Z");
  EXPECT_TRUE(EqualIgnoringCase("Artist", "ARTIST"));
  EXPECT_FALSE(EqualIgnoringCase("Artist", "Artists"));
  EXPECT_LT(CompareIgnoringCase("abc", "ABD"), 0);
  EXPECT_GT(CompareIgnoringCase("b", "A"), 0);
  EXPECT_LT(CompareIgnoringCase("ab", "AB c"), 0);
  EXPECT_EQ(CompareIgnoringCase("Zed", "zED"), 0);
}

TEST(Text, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(Trim(" \t\r\n x y \r\n"), "x y");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x \x01"), "  x");
  EXPECT_EQ(Trim("   "), "");
}

TEST(Text, SplitLinesAcceptsEveryLineEnd) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR: two line ends
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

TEST(Text, JoinLinesEndsEveryLineWithCrLf) {
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(JoinLines({"a"}), "a\r\n");
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(Text, ParseDecimalInt) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  } cases[] = {
      {"0", true, 0},
      {"120", true, 120},
      {"  45", true, 45},
      {"-7", true, -7},
      {"+7", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"10", true, 10},
      {"-3", true, -3},
      {" 7", true, 7},
      {"$10", false, 0},
      {"$1F", false, 0},
      {"0x10", false, 0},
      {"$FFFFFFFF", false, 0},
      {"9999999999", false, 0},
      {"-2147483649", false, 0},
      {"", false, 0},
      {"  ", false, 0},
      {"- 3", false, 0},
      {"-", false, 0},
      {"12#5", false, 0},
      {"45 ", false, 0},
      {"1e3", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const auto& c : cases) {
    int v = 12345;
    EXPECT_EQ(ParseDecimalInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  EXPECT_EQ(DecimalIntOr("x", 9), 9);
  EXPECT_EQ(DecimalIntOr("$10", 9), 9);
  EXPECT_EQ(DecimalIntOr("-12", 9), -12);
}

}  // namespace
}  // namespace quillon
