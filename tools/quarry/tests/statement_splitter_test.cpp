#include "tools/quarry/statement_splitter.h"

#include <gtest/gtest.h>

namespace quillon::quarry {
namespace {

using Kind = TShellInput::Kind;

std::vector<TShellInput> Split(const std::vector<std::string>& lines) {
  TStatementSplitter s;
  for (const auto& l : lines) s.AddLine(l);
  s.Finish();
  std::vector<TShellInput> out;
  TShellInput in;
  while (s.Next(in)) out.push_back(in);
  return out;
}

TEST(StatementSplitter, CutsAtSemicolonsOutsideQuotesAndComments) {
  auto items = Split({"select 'a;b' from t; select \"x;y\"", "from u /* ; */ where", "c = 'it''s;';", "  ;  ;"});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "select 'a;b' from t");
  EXPECT_EQ(items[0].line, 1);
  EXPECT_EQ(items[1].text, "select \"x;y\"\nfrom u /* ; */ where\nc = 'it''s;'");
  EXPECT_EQ(items[1].line, 1);
}

TEST(StatementSplitter, DotCommandsOnlyBetweenStatements) {
  auto items = Split({"  .tables", "create table t (", ".not a command", ");", ".schema t", "drop table t"});
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].kind, Kind::DotCommand);
  EXPECT_EQ(items[0].text, ".tables");
  EXPECT_EQ(items[1].kind, Kind::Statement);
  EXPECT_EQ(items[1].text, "create table t (\n.not a command\n)");
  EXPECT_EQ(items[1].line, 2);
  EXPECT_EQ(items[2].kind, Kind::DotCommand);
  EXPECT_EQ(items[2].line, 5);
  EXPECT_EQ(items[3].text, "drop table t") << "a last statement needs no semicolon";
}

TEST(StatementSplitter, PendingFollowsOpenStatementsQuotesAndComments) {
  TStatementSplitter s;
  s.AddLine("select 'open");
  EXPECT_TRUE(s.Pending());
  s.AddLine("quote';");
  EXPECT_FALSE(s.Pending());
  s.AddLine("/* comment only */");
  EXPECT_TRUE(s.Pending());
  s.AddLine(";");
  EXPECT_FALSE(s.Pending());
  TShellInput in;
  ASSERT_TRUE(s.Next(in));
  EXPECT_EQ(in.text, "select 'open\nquote'");
  EXPECT_FALSE(s.Next(in)) << "a statement of nothing but a comment is dropped";
  // A comment still open when the input ends is handed on, not dropped.
  s.AddLine("/* never closed; select 1");
  EXPECT_TRUE(s.Pending());
  s.Finish();
  ASSERT_TRUE(s.Next(in));
  EXPECT_EQ(in.text, "/* never closed; select 1");
}

}  // namespace
}  // namespace quillon::quarry
