// The lexer: token kinds and texts, the comment rule, quotes, brackets, numbers, the 255-character
// cut and the lexing errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/sql/expression_parser.h"
#include "dataset/sql/tests/sql_test_support.h"

namespace quillon::sql {
namespace {

using testing::ErrorOf;
using testing::Expected;

// "kind:text" for every token up to the end of the text.
std::vector<std::string> Tokens(std::string_view text) {
  TExpressionParser parser;
  parser.SetText(text);
  std::vector<std::string> out;
  for (int guard = 0; parser.TokenKind() != kTokenEnd && guard < 100; ++guard) {
    out.push_back(std::to_string(parser.TokenKind()) + ":" + parser.TokenText());
    parser.NextToken();
  }
  return out;
}

using V = std::vector<std::string>;

TEST(SqlLexer, TokenKindsAndTexts) {
  struct Case {
    std::string text;
    V tokens;
  } cases[] = {
      {"select a.b, c", {"1:select", "1:a", "46:.", "1:b", "44:,", "1:c"}},
      {"_x1 X_2", {"1:_x1", "1:X_2"}},
      {"'O''Brien'", {"2:O''Brien"}},
      {"\"songList.dat\" a", {"2:songList.dat", "1:a"}},
      {"\"say \"\"hi\"\"\"", {"2:say \"\"hi\"\""}},
      {"'it''s' \"x'y\"", {"2:it''s", "2:x'y"}},
      {"''", {"2:"}},
      {"[my col].[x y]", {"1:[my col]", "46:.", "1:[x y]"}},
      {"12 1.5 1.5e+3 2E-4 1.2.3", {"3:12", "4:1.5", "4:1.5e+3", "4:2E-4", "4:1.2.3"}},
      {".5", {"46:.", "3:5"}},
      {"-5", {"45:-", "3:5"}},
      {"1-3", {"3:1", "45:-", "3:3"}},
      {"1+e", {"3:1", "43:+", "1:e"}},
      {"12abc", {"3:12", "1:abc"}},
      {"< > <= >= = ? | * / ( )",
       {"60:<", "62:>", "60:<", "61:=", "62:>", "61:=", "61:=", "63:?", "124:|", "42:*", "47:/", "40:(", "41:)"}},
      {"!", {"33:!"}},
      {"\x81"
       "ab\xfe",
       {"1:\x81"
        "ab\xfe"}},
      {"\xff\x80", {"255:\xff", "128:\x80"}},
      {"\t\r\n a \x01\x1f b", {"1:a", "1:b"}},
      {"a\0b", {"1:a"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST(SqlLexer, SkipsAtMostOneCommentBetweenTokens) {
  EXPECT_EQ(Tokens("/* lead */ select"), V({"1:select"}));
  EXPECT_EQ(Tokens("a /* one */ b"), V({"1:a", "1:b"}));
  EXPECT_EQ(Tokens("a/*x*/b"), V({"1:a", "1:b"}));
  // The second of two comments in a row is read as tokens.
  EXPECT_EQ(Tokens("/* a */ /* b */ x"), V({"47:/", "42:*", "1:b", "42:*", "47:/", "1:x"}));
  EXPECT_EQ(Tokens("x /**/"), V({"1:x"}));
}

TEST(SqlLexer, UnclosedTextsAreErrors) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"select /* open", "Missing ending comment slash and asterisk in SQL statement"},
      {"select 'abc", "Missing single quote after 'abc' in SQL statement"},
      {"select 'a''", "Missing single quote after 'a''' in SQL statement"},
      {"select \"t.dat", "Missing double quote after 't.dat' in SQL statement"},
      {"select [my col", "Missing right bracket after '[my col' in SQL statement"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { Tokens(c.text); }), Expected(c.message)) << c.text;
  }
}

TEST(SqlLexer, TokenTextsAreCutTo255Characters) {
  const std::string longName(300, 'n');
  const std::string longString = "'" + std::string(300, 's') + "'";
  V tokens = Tokens(longName + " " + longString + " x");
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0], "1:" + std::string(255, 'n'));
  EXPECT_EQ(tokens[1], "2:" + std::string(255, 's'));
  EXPECT_EQ(tokens[2], "1:x") << "the cut shortens the text, not the token";
}

TEST(SqlLexer, KeywordsIgnoreCaseButNotBrackets) {
  TExpressionParser parser;
  parser.SetText("SeLeCt [select] selected");
  EXPECT_TRUE(parser.IsKeyword("SELECT"));
  parser.NextToken();
  EXPECT_FALSE(parser.IsKeyword("SELECT"));
  EXPECT_EQ(parser.TokenName(), "select");
  parser.NextToken();
  EXPECT_FALSE(parser.IsKeyword("SELECT"));
}

TEST(SqlLexer, PeekingLeavesThePositionAlone) {
  TExpressionParser parser;
  parser.SetText("a . b");
  EXPECT_EQ(parser.PeekKind(), '.');
  EXPECT_EQ(parser.TokenText(), "a");
  EXPECT_EQ(parser.NextToken(), '.');
  EXPECT_EQ(parser.NextToken(), kTokenSymbol);
  EXPECT_EQ(parser.TokenText(), "b");
}

TEST(SqlLexer, FileNamePartDropsDirectoryAndExtension) {
  EXPECT_EQ(FileNamePart("songList.dat"), "songList");
  EXPECT_EQ(FileNamePart("C:\\bases\\pop\\AlbumList.DAT"), "AlbumList");
  EXPECT_EQ(FileNamePart("/x/y.z/name"), "name");
  EXPECT_EQ(FileNamePart("a.b.c"), "a.b");
  EXPECT_EQ(FileNamePart("t"), "t");
}

}  // namespace
}  // namespace quillon::sql
