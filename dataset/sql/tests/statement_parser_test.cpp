// The statement and expression grammar: trees and statement parts built from SQL text, and the
// exact message of every parse error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/sql/data_query.h"
#include "dataset/sql/tests/sql_test_support.h"

namespace quillon::sql {
namespace {

using testing::ErrorOf;
using testing::Expected;

std::string ConditionOf(const std::string& condition) {
  TDataQuery query;
  query.Parse("select a from t where " + condition);
  return DescribeTree(query.Condition.get());
}

TEST(SqlGrammar, ConditionTrees) {
  struct Case {
    const char* condition;
    const char* tree;
  } cases[] = {
      // AND and OR share one level and group to the right.
      {"a = 1 or b = 2 and c = 3", "(OR (= a 1) (AND (= b 2) (= c 3)))"},
      {"a = 1 and b = 2 or c = 3", "(AND (= a 1) (OR (= b 2) (= c 3)))"},
      {"x = 10 - 4 - 3", "(= x (- 10 (- 4 3)))"},
      {"x = 2 * 3 / 4 + 1", "(= x (+ (* 2 (/ 3 4)) 1))"},
      {"x = 0 - 5", "(= x (- 0 5))"},
      {"a = b = c", "(= a (= b c))"},
      {"(a = 1 or b = 2) and c = 3", "(AND (OR (= a 1) (= b 2)) (= c 3))"},
      {"a < > 1", "(<> a 1)"},
      {"a <> 1", "(<> a 1)"},
      {"a < = 1", "(<= a 1)"},
      {"a >  = 1", "(>= a 1)"},
      {"a < 1", "(< a 1)"},
      {"a > 1", "(> a 1)"},
      {"s = 'O''Brien'", "(= s 'O''Brien')"},
      {"s = ''", "(= s NULL)"},
      {"s is null", "(= s NULL)"},
      {"s is not null", "(<> s NULL)"},
      {"n between 1 and 5", "(BETWEEN n 1 5)"},
      {"n not between 1 and 5 and m = 2", "(AND (NOT BETWEEN n 1 5) (= m 2))"},
      {"s like 'Ab%'", "(LIKE s 'Ab%')"},
      {"s not like 'Ab%'", "(NOT LIKE s 'Ab%')"},
      {"n in (1, 2, 3)", "(IN n 1 2 3)"},
      {"n not in ('x')", "(NOT IN n 'x')"},
      {"not a = 1", "(NOT (= a 1))"},
      {"not not flag", "(NOT (NOT flag))"},
      {"s || 'a' = 'b'", "(= (+ s 'a') 'b')"},
      {"lower(a.song) like '%love%'", "(LIKE (LOWER a.song) '%love%')"},
      {"upper(s) = 'X'", "(= (UPPER s) 'X')"},
      {"substring(s from 2 for 3) = 'x'", "(= (SUBSTRING s 2 3) 'x')"},
      {"substring(s from 2) = 'x'", "(= (SUBSTRING s 2) 'x')"},
      {"trim(leading 'x' from s) = 'y'", "(= (TRIM LEADING s 'x') 'y')"},
      {"trim(trailing 'x' from s || s) = 'y'", "(= (TRIM TRAILING (+ s s) 'x') 'y')"},
      {"extract(year from d) = 2000", "(= (EXTRACT YEAR d) 2000)"},
      {"extract(day from t.d) = 1", "(= (EXTRACT DAY t.d) 1)"},
      {"a = ? and b = ?", "(AND (= a ?) (= b ?))"},
      {"[my col] = 1", "(= my col 1)"},
      {"x.y = \"c:\\dir\\u.dat\".k", "(= x.y u.k)"},
      {"\"t\".\"a b\" = 1", "(= t.a b 1)"},
      {"flag", "flag"},
      {"a = true or b = false or c = null", "(OR (= a TRUE) (OR (= b FALSE) (= c NULL)))"},
      {"t.date = date and t.now < now", "(AND (= t.date DATE) (< t.now NOW))"},
      {"f = 1.5e3", "(= f 1.5e3)"},
      {"s = 'a' /* note */ and n = 1", "(AND (= s 'a') (= n 1))"},
  };
  for (const Case& c : cases) EXPECT_EQ(ConditionOf(c.condition), c.tree) << c.condition;
}

TEST(SqlGrammar, ParseErrors) {
  struct Case {
    const char* sql;
    const char* message;
  } cases[] = {
      // Lexing errors surface through the statement too.
      {"select a from t where s = 'abc", "Missing single quote after 'abc' in SQL statement"},
      {"/* x", "Missing ending comment slash and asterisk in SQL statement"},
      {"selec a from t", "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found 'selec'"},
      {"", "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found ''"},
      {"/* a */ /* b */ select a from t", "SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found '/'"},
      {"select a as , b from t", "Symbol or string expected after AS keyword, instead found ','"},
      {"select a b.1 from t", "Symbol or string expected after table correlation name, instead found '1'"},
      {"select a into (x) from t", "Result table name expected in INTO clause, instead found '('"},
      {"select a into memory 5 from t", "Result table name expected in INTO MEMORY clause, instead found '5'"},
      {"select a, b t", "FROM keyword expected, instead found ''"},
      {"select a from 5", "Table name expected after FROM keyword, instead found '5'"},
      {"select a from t, ?", "Table name expected after FROM keyword, instead found '?'"},
      {"select a from t join (u)", "Table name expected after JOIN keyword, instead found '('"},
      {"select a from t join u where x", "ON keyword expected in JOIN clause, instead found 'where'"},
      {"select a from t inner u", "JOIN keyword expected after INNER keyword, instead found 'u'"},
      {"select a from t left outer u", "JOIN keyword expected after LEFT or OUTER keyword, instead found 'u'"},
      {"select a from t right x", "JOIN keyword expected after RIGHT or OUTER keyword, instead found 'x'"},
      {"select a from t full join u on t.a = u.a",
       "Full outer joins are currently not supported in Quarry SQL SELECT statements"},
      {"select a from t x full outer join u on x.a = u.a",
       "Full outer joins are currently not supported in Quarry SQL SELECT statements"},
      {"select a from t group x", "BY keyword expected after GROUP keyword, instead found 'x'"},
      {"select a from t group by (a)", "Column name or column number expected in GROUP BY clause, instead found '('"},
      {"select a from t group by t.", "Column name or column number expected in GROUP BY clause, instead found ''"},
      {"select a from t order a", "BY keyword expected after ORDER keyword, instead found 'a'"},
      {"select a from t order by 1.5", "Column name or column number expected in ORDER BY clause, instead found '1.5'"},
      {"select a from t with nolocks", "LOCKS keyword expected after WITH keyword, instead found 'nolocks'"},
      {"select a from t where a = 1 x", "End of SELECT statement expected, instead found 'x'"},
      {"select a from t order by a nocase desc", "End of SELECT statement expected, instead found 'desc'"},
      {"select a from t having a = 1", "End of SELECT statement expected, instead found 'having'"},
      {"select a from t where a ! 1", "End of SELECT statement expected, instead found '!'"},
      {"insert t values (1)", "INTO keyword expected, instead found 't'"},
      {"insert into (a) values (1)", "Table name expected after INTO keyword, instead found '('"},
      {"insert into memory (a) values (1)", "Table name expected after INTO clause, instead found '('"},
      {"insert into t (a, b values (1)",
       "Right parentheses expected after list of table columns, instead found 'values'"},
      {"insert into t (a) (1)", "VALUES keyword expected, instead found '('"},
      {"insert into t values 1", "Left parentheses expected after VALUES keyword, instead found '1'"},
      {"insert into t values (1, 2", "Right parentheses expected after list of values, instead found ''"},
      {"insert into t values (1) x", "End of INSERT statement expected, instead found 'x'"},
      {"insert into t (a + 1) values (1)", "Table columns cannot contain expressions"},
      {"insert into t (, a) values (1)", "Table column name is empty"},
      {"insert into t (a) values (, 1)", "Value expression is empty"},
      {"insert into t (*) values (1)", "* (all columns) symbol is not allowed in table columns"},
      {"update 5 set a = 1", "Table name expected, instead found '5'"},
      {"update t x y", "SET keyword expected, instead found 'y'"},
      {"update t set a 1", "Assignment (=) operator expected after column name, instead found '1'"},
      {"update t set a = 1 where", "WHERE or JOIN clause is empty"},
      {"update t set a = 1 x", "End of UPDATE statement expected, instead found 'x'"},
      {"delete t", "FROM keyword expected, instead found 't'"},
      {"delete from", "Table name expected, instead found ''"},
      {"delete from 't.dat' y", "End of DELETE statement expected, instead found 'y'"},
      // Permissions per place.
      {"select a from t where sum(a) > 1", "Aggregate functions are not allowed in WHERE or JOIN clause"},
      {"update t set a = count(*)", "Aggregate functions are not allowed in values"},
      {"select a from t where * = 1", "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
      {"select a from t where t.* = 1", "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
      {"select ? from t", "Parameters are not allowed in source columns"},
      {"insert into t (?) values (1)", "Parameters are not allowed in table columns"},
      {"select a like 'x' from t",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in source columns"},
      {"update t set a = b is null",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in values"},
      {"select a not in (1) from t",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in source columns"},
      // Primaries.
      {"select (a from t", "Right parentheses expected, instead found 'from' in source columns"},
      {"select sum a from t",
       "Left parentheses expectedafter aggregate function 'SUM', instead found 'a' in source columns"},
      {"select count(* from t",
       "Right parentheses expected after aggregate COUNT function argument, instead found 'from' in source columns"},
      {"select lower a from t", "Left parentheses expectedafter LOWER keyword, instead found 'a' in source columns"},
      {"select upper(a from t",
       "Right parentheses expected after UPPER function argument, instead found 'from' in source columns"},
      {"select substring a from t",
       "Left parentheses expected after SUBSTRING keyword, instead found 'a' in source columns"},
      {"select substring(a for 2) from t",
       "FROM keyword expected after first SUBSTRING function argument, instead found 'for' in source columns"},
      {"select substring(a from 1 2) from t",
       "Right parentheses expected after SUBSTRING function arguments, instead found '2' in source columns"},
      {"select trim a from t", "Left parentheses expected after TRIM keyword, instead found 'a' in source columns"},
      {"select trim(a from b) from t",
       "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found 'a' in source columns"},
      {"select trim(both 'x' b) from t",
       "FROM keyword expected after second TRIM function argument, instead found 'b' in source columns"},
      {"select trim(both 'x' from b c) from t",
       "Right parentheses expected after TRIM function arguments, instead found 'c' in source columns"},
      {"select extract year from t",
       "Left parentheses expected after EXTRACT keyword, instead found 'year' in source columns"},
      {"select extract(hour from d) from t",
       "YEAR, MONTH, or DAY keyword expected after EXTRACT keyword, instead found 'hour' in source columns"},
      {"select extract(year d) from t",
       "FROM keyword expected after second EXTRACT function argument, instead found 'd' in source columns"},
      {"select extract(year from d from t",
       "Right parentheses expected after EXTRACT function arguments, instead found 'from' in source columns"},
      {"select foo(a) from t", "Unknown or unexpected function 'foo' found in source columns"},
      {"select t.5 from t",
       "Symbol or string expression expected after table correlation name separator '.', instead found '5' in source "
       "columns"},
      {"select a from t where a = -5", "Unknown or unexpected symbol '-' found in WHERE or JOIN clause"},
      {"select a from t where a = !1", "Unknown or unexpected symbol '!' found in WHERE or JOIN clause"},
      {"select a from t where a is 5", "Unknown or unexpected symbol '5' found in WHERE or JOIN clause"},
      // Operators.
      {"select a | b from t",
       "Second concatenation symbol '|' expected after first concatentation symbol, instead found 'b' in source "
       "columns"},
      {"select a from t where a between 1 or 2",
       "Expected AND operator in BETWEEN operator, instead found 'or' in WHERE or JOIN clause"},
      {"select a from t where a not in 1",
       "Expected left parentheses for IN operator, instead found '1' in WHERE or JOIN clause"},
      {"select a from t where a in 1",
       "Expected left parentheses after IN operator, instead found '1' in WHERE or JOIN clause"},
      {"select a from t where a in (1, 2",
       "Expected right parentheses after IN operator, instead found '' in WHERE or JOIN clause"},
      {"select a from t where a in ()",
       "You must provide at least one value as an operand of the IN operator  in WHERE or JOIN clause"},
      // Empty parts.
      {"select from t", "Source column expression is empty"},
      {"select a, from t", "Source column expression is empty"},
      {"select a from t where", "WHERE or JOIN clause is empty"},
      {"select a from t join u on where a = 1", "WHERE or JOIN clause is empty"},
      {"select a from t where order by a", "WHERE or JOIN clause is empty"},
  };
  for (const Case& c : cases) {
    TDataQuery query;
    EXPECT_EQ(ErrorOf([&] { query.Parse(c.sql); }), Expected(c.message)) << c.sql;
  }
}

TEST(SqlGrammar, SelectItemTextIsLimitedTo255Characters) {
  std::string item = "a";
  while (item.size() <= 255) item += " + a";
  TDataQuery query;
  EXPECT_EQ(ErrorOf([&] { query.Parse("select " + item + " from t"); }),
            Expected("Source column expression exceeds maximum expression length of 255 characters"));
  // Line breaks do not count: the same item written over lines that fit once they are removed.
  std::string fits = "a";
  while (fits.size() + 6 <= 255) fits += " +\r\n a";
  query.Parse("select " + fits + " from t");
  ASSERT_EQ(query.ResultFields.size(), 1u);
  EXPECT_EQ(query.ResultFields[0].SourceText.find('\n'), std::string::npos);
  EXPECT_EQ(query.ResultFields[0].SourceText.substr(0, 9), "a + a + a");
}

TEST(SqlGrammar, DeepNestingIsRefusedNotOverflowed) {
  TDataQuery query;
  const std::string deep = "select a from t where " + std::string(5000, '(') + "a = 1";
  EXPECT_EQ(ErrorOf([&] { query.Parse(deep); }),
            Expected("Expression nesting exceeds the maximum depth in WHERE or JOIN clause"));
  std::string chain = "select a from t where a = 1";
  for (int i = 0; i < 5000; ++i) chain += " and a = 1";
  EXPECT_EQ(ErrorOf([&] { query.Parse(chain); }),
            Expected("Expression nesting exceeds the maximum depth in WHERE or JOIN clause"));
  // A long IN list is not nesting.
  std::string list = "select a from t where a in (0";
  for (int i = 1; i < 20000; ++i) list += "," + std::to_string(i);
  query.Parse(list + ")");
  EXPECT_EQ(query.Condition->ChildCount(), 20000 + 1);
}

// The application's three search statements.
TEST(SqlGrammar, LocalSearchStatements) {
  struct Case {
    std::string sql;
    std::string condition;
    std::string orderCorrelation, orderColumn;
  } cases[] = {
      {"Select a.song,b.artist,b.album,a.index from \"songList.dat\" a, \"AlbumList.dat\" b where (lower(a.song) "
       "like '%love%') and (a.albumindex=b.index) order by a.song",
       "(AND (LIKE (LOWER a.song) '%love%') (= a.albumindex b.index))", "a", "song"},
      {"Select a.song,b.artist,b.album,a.index from \"songList.dat\" a, \"AlbumList.dat\" b where (lower(b.artist) "
       "like '%abba%') and (a.albumindex=b.index) order by b.album",
       "(AND (LIKE (LOWER b.artist) '%abba%') (= a.albumindex b.index))", "b", "album"},
      {"Select a.song,b.artist,b.album,a.index from \"songList.dat\" a, \"AlbumList.dat\" b where (lower(a.song) "
       "like '%love%') and (lower(b.artist) like '%abba%') and (a.albumindex=b.index) order by b.album",
       "(AND (LIKE (LOWER a.song) '%love%') (AND (LIKE (LOWER b.artist) '%abba%') (= a.albumindex b.index)))", "b",
       "album"},
  };
  for (const Case& c : cases) {
    TDataQuery query;
    query.Prepare(c.sql, testing::StandardResolver());
    EXPECT_EQ(query.Kind, TStatementKind::Select);
    ASSERT_EQ(query.Sources.size(), 2u);
    EXPECT_EQ(query.Sources[0].Path, "songList.dat");
    EXPECT_EQ(query.Sources[0].CorrelationName, "a");
    EXPECT_EQ(query.Sources[1].Path, "AlbumList.dat");
    EXPECT_EQ(query.Sources[1].CorrelationName, "b");
    EXPECT_TRUE(query.HasJoins);
    EXPECT_TRUE(query.HasCondition);
    EXPECT_EQ(DescribeTree(query.Condition.get()), c.condition);
    ASSERT_EQ(query.ResultFields.size(), 4u);
    const char* texts[] = {"a.song", "b.artist", "b.album", "a.index"};
    const int sources[] = {0, 1, 1, 0};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(query.ResultFields[i].SourceText, texts[i]);
      EXPECT_EQ(query.ResultFields[i].SourceIndex, sources[i]) << texts[i];
      EXPECT_FALSE(query.ResultFields[i].IsExpression);
    }
    EXPECT_TRUE(query.HasOrderBy);
    ASSERT_EQ(query.OrderByFields.size(), 1u);
    EXPECT_EQ(query.OrderByFields[0].CorrelationName, c.orderCorrelation);
    EXPECT_EQ(query.OrderByFields[0].ColumnName, c.orderColumn);
    EXPECT_FALSE(query.OrderByFields[0].Descending);
    EXPECT_FALSE(query.NoCase);
  }
}

TEST(SqlGrammar, SelectParts) {
  TDataQuery query;
  query.Parse(
      "select distinct x.a as \"Name\", count(*), sum(b.qty) total, x.c y.z, avg(q) + 1 into memory res "
      "from \"c:\\data\\t.dat\" x left outer join memory \"u.dat\" on x.id = u.id and u.k > 1 "
      "where x.d between 1 and 2 group by 1, x.a order by x.a desc, 2 asc, \"q\" descending nocase with locks");
  EXPECT_EQ(query.Kind, TStatementKind::Select);
  EXPECT_TRUE(query.Distinct);
  EXPECT_TRUE(query.LiveResultsOff);
  EXPECT_TRUE(query.ResultInMemory);
  EXPECT_EQ(query.ResultTableName, "res");
  EXPECT_TRUE(query.HasGroupBy);
  EXPECT_TRUE(query.HasOrderBy);
  EXPECT_TRUE(query.NoCase);
  EXPECT_TRUE(query.WithLocks);

  ASSERT_EQ(query.ResultFields.size(), 5u);
  EXPECT_EQ(query.ResultFields[0].Alias, "Name");
  EXPECT_EQ(query.ResultFields[1].Alias, "");
  EXPECT_EQ(query.ResultFields[1].AggregateKind, kAggregateCount);
  EXPECT_EQ(DescribeTree(query.ResultFields[1].Expression.get()), "(COUNT *)");
  EXPECT_EQ(query.ResultFields[2].Alias, "total");
  EXPECT_EQ(query.ResultFields[2].AggregateKind, kAggregateSum);
  EXPECT_EQ(query.ResultFields[2].SourceText, "sum(b.qty)");
  EXPECT_EQ(query.ResultFields[3].Alias, "z") << "a dotted alias keeps its second part";
  EXPECT_FALSE(query.ResultFields[3].IsExpression);
  EXPECT_EQ(query.ResultFields[4].AggregateKind, kAggregateNone);
  EXPECT_TRUE(query.ResultFields[4].IsExpression);

  ASSERT_EQ(query.Sources.size(), 2u);
  EXPECT_EQ(query.Sources[0].Path, "c:\\data\\t.dat");
  EXPECT_EQ(query.Sources[0].CorrelationName, "x");
  EXPECT_FALSE(query.Sources[0].InMemory);
  EXPECT_EQ(query.Sources[1].Path, "u.dat");
  EXPECT_EQ(query.Sources[1].CorrelationName, "u") << "ON is not an alias";
  EXPECT_TRUE(query.Sources[1].InMemory);

  // ON parts carry their join kind; the WHERE part none.
  std::vector<TQueryExprNode*> parts = query.ConditionParts();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(DescribeTree(parts[0]), "(= x.id u.id)");
  EXPECT_EQ(parts[0]->JoinKind, kJoinLeftOuter);
  EXPECT_EQ(DescribeTree(parts[1]), "(> u.k 1)");
  EXPECT_EQ(parts[1]->JoinKind, kJoinLeftOuter);
  EXPECT_EQ(DescribeTree(parts[2]), "(BETWEEN x.d 1 2)");
  EXPECT_EQ(parts[2]->JoinKind, kJoinNone);

  ASSERT_EQ(query.GroupByFields.size(), 2u);
  EXPECT_EQ(query.GroupByFields[0].ColumnNumber, 1);
  EXPECT_EQ(query.GroupByFields[1].CorrelationName, "x");
  EXPECT_EQ(query.GroupByFields[1].ColumnName, "a");
  ASSERT_EQ(query.OrderByFields.size(), 3u);
  EXPECT_TRUE(query.OrderByFields[0].Descending);
  EXPECT_EQ(query.OrderByFields[1].ColumnNumber, 2);
  EXPECT_FALSE(query.OrderByFields[1].Descending);
  EXPECT_EQ(query.OrderByFields[2].ColumnName, "q");
  EXPECT_TRUE(query.OrderByFields[2].Descending);
}

TEST(SqlGrammar, JoinsAndSourceOrder) {
  TDataQuery query;
  query.Parse("select * from a right outer join b on a.x = b.y inner join c on c.z = b.y, d join e on e.k = d.k");
  ASSERT_EQ(query.Sources.size(), 5u);
  const char* order[] = {"b", "a", "c", "d", "e"};
  const int numbers[] = {2, 1, 3, 4, 5};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(query.Sources[i].CorrelationName, order[i]);
    EXPECT_EQ(query.Sources[i].Number, numbers[i]);
  }
  std::vector<TQueryExprNode*> parts = query.ConditionParts();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0]->JoinKind, kJoinLeftOuter) << "a right outer join runs as a left outer join";
  EXPECT_EQ(parts[1]->JoinKind, kJoinInner);
  EXPECT_EQ(parts[2]->JoinKind, kJoinInner);
  EXPECT_EQ(DescribeTree(query.ResultFields[0].Expression.get()), "*");

  query.Parse("select t.*, [my col] from t");
  EXPECT_EQ(DescribeTree(query.ResultFields[0].Expression.get()), "t.*");
  EXPECT_EQ(query.ResultFields[1].Expression->ColumnName, "my col");
  EXPECT_FALSE(query.HasJoins);
  EXPECT_FALSE(query.HasCondition);
  EXPECT_EQ(query.Condition, nullptr);
}

TEST(SqlGrammar, InsertUpdateDelete) {
  TDataQuery query;
  query.Parse("insert into memory \"t.dat\" x (a, x.b) values (?, 'O''Brien' || ?, 1 +\r\n2)");
  EXPECT_EQ(query.Kind, TStatementKind::Insert);
  ASSERT_EQ(query.Sources.size(), 1u);
  EXPECT_TRUE(query.Sources[0].InMemory);
  EXPECT_EQ(query.Sources[0].CorrelationName, "x");
  ASSERT_EQ(query.UpdateFields.size(), 2u);
  EXPECT_EQ(query.UpdateFields[1].ColumnName, "b");
  EXPECT_EQ(query.UpdateFields[1].Column->CorrelationName, "x");
  ASSERT_EQ(query.UpdateValues.size(), 3u);
  EXPECT_EQ(query.UpdateValues[1].SourceText, "'O''Brien' || ?");
  EXPECT_EQ(query.UpdateValues[2].SourceText, "1 +2");
  ASSERT_EQ(query.Parameters().size(), 2u);
  EXPECT_EQ(query.Parameters()[0], query.UpdateValues[0].Expression.get());
  EXPECT_EQ(query.Parameters()[1]->ParameterIndex, 1);

  query.Parse("insert into t values (1, 2)");
  ASSERT_EQ(query.UpdateFields.size(), 1u);
  EXPECT_EQ(query.UpdateFields[0].ColumnName, "*");
  EXPECT_EQ(query.Sources[0].CorrelationName, "t");
  EXPECT_TRUE(query.Parameters().empty()) << "parsing again clears the parameters";

  query.Parse("update \"d:\\x\\songs.dat\" set song = upper(song), n = ? where n = ?");
  EXPECT_EQ(query.Kind, TStatementKind::Update);
  EXPECT_EQ(query.Sources[0].CorrelationName, "songs");
  ASSERT_EQ(query.UpdateFields.size(), 2u);
  EXPECT_EQ(DescribeTree(query.UpdateValues[0].Expression.get()), "(UPPER song)");
  EXPECT_EQ(DescribeTree(query.Condition.get()), "(= n ?)");
  EXPECT_EQ(query.Parameters().size(), 2u);

  query.Parse("update t s set a = 1");
  EXPECT_EQ(query.Sources[0].CorrelationName, "s");

  query.Parse("delete from memory t where a = ''");
  EXPECT_EQ(query.Kind, TStatementKind::Delete);
  EXPECT_TRUE(query.Sources[0].InMemory);
  EXPECT_EQ(DescribeTree(query.Condition.get()), "(= a NULL)");
  EXPECT_TRUE(query.ResultFields.empty());
}

TEST(SqlGrammar, ConstantsCarryTheirValues) {
  testing::TFixedEnvironment environment;
  TDataQuery query(environment);
  query.Parse("select 'O''Brien', '', 42, 2.5, true, false, null, date, now, 99999999999 from t");
  ASSERT_EQ(query.ResultFields.size(), 10u);
  auto value = [&](int i) -> const TQueryExprNode& { return *query.ResultFields[i].Expression; };
  EXPECT_EQ(value(0).StringValue(), "O''Brien") << "a doubled quote stays doubled";
  EXPECT_EQ(value(0).Size, 9);
  EXPECT_TRUE(value(1).IsNull);
  EXPECT_EQ(value(1).DataType, kTypeNull);
  EXPECT_EQ(value(2).IntegerValue(), 42);
  EXPECT_EQ(value(2).DataType, 6);
  EXPECT_EQ(value(3).FloatValue(), 2.5);
  EXPECT_EQ(value(3).DataType, 7);
  EXPECT_EQ(value(4).IntegerValue(), -1);
  EXPECT_EQ(value(4).Size, 2);
  EXPECT_EQ(value(5).IntegerValue(), 0);
  EXPECT_TRUE(value(6).IsNullConstant());
  const std::int32_t today = DayNumber({2024, 3, 15});
  EXPECT_EQ(value(7).DataType, 2);
  EXPECT_EQ(value(7).IntegerValue(), today);
  EXPECT_EQ(value(8).DataType, 11);
  EXPECT_EQ(value(8).FloatValue(), today * kMillisecondsPerDay) << "NOW is today at midnight";
  EXPECT_EQ(value(9).DataType, 7) << "an integer beyond 32 bits keeps its value as a float";
  EXPECT_EQ(value(9).FloatValue(), 99999999999.0);
}

}  // namespace
}  // namespace quillon::sql
