// The type checker: column binding through the resolver seam, result types and sizes, date and
// time conversion of string constants, and every check message.
#include <gtest/gtest.h>

#include <string>

#include "dataset/sql/data_query.h"
#include "dataset/sql/tests/sql_test_support.h"

namespace quillon::sql {
namespace {

using testing::ErrorOf;
using testing::Expected;
using testing::StandardResolver;

TEST(SqlTypeChecker, ResultTypesAndSizes) {
  struct Case {
    const char* expression;
    int type, subType, size, scale;
  } cases[] = {
      {"s", 1, 0, 11, 0},
      {"s || s", 1, 0, 21, 0},
      {"s + 'abc'", 1, 0, 14, 0},
      {"n + i16", 6, 0, 4, 0},
      {"i16 * w", 6, 0, 4, 0},
      {"w - n", 12, 0, 2, 0},
      {"n - w", 6, 0, 4, 0},
      {"n / n", 7, 0, 8, 0},
      {"f * n", 7, 0, 8, 0},
      {"n + f", 7, 0, 8, 0},
      {"b + n", 8, 0, 8, 2},
      {"n - b", 8, 0, 8, 2},
      {"b * f", 7, 0, 8, 0},
      {"m + n", 7, 21, 8, 0},
      {"n * m", 7, 21, 8, 0},
      {"m - n", 7, 21, 8, 0},
      {"n - m", 7, 0, 8, 0},
      {"m / 2", 7, 21, 8, 0},
      {"2 / m", 7, 0, 8, 0},
      {"d + 1", 2, 0, 4, 0},
      {"1 + d", 2, 0, 4, 0},
      {"d - 1", 2, 0, 4, 0},
      {"d - d", 6, 0, 4, 0},
      {"tm + 1", 10, 0, 4, 0},
      {"tm - tm", 6, 0, 4, 0},
      {"ts - d", 6, 0, 4, 0},
      {"ts - tm", 6, 0, 4, 0},
      {"ts - 1", 11, 0, 8, 0},
      {"ts - ts", 7, 0, 8, 0},
      {"n = 1", 4, 0, 2, 0},
      {"s <> ''", 4, 0, 2, 0},
      {"d = ts", 4, 0, 2, 0},
      {"flag = null", 4, 0, 2, 0},
      {"flag and n > 1", 4, 0, 2, 0},
      {"count(*)", 6, 0, 4, 0},
      {"count(s)", 6, 0, 4, 0},
      {"sum(i16)", 5, 0, 2, 0},
      {"avg(m)", 7, 21, 8, 0},
      {"min(d)", 2, 0, 4, 0},
      {"max(ts)", 11, 0, 8, 0},
      {"lower(s)", 1, 0, 11, 0},
      {"upper(s || s)", 1, 0, 21, 0},
      {"substring(s from 2)", 1, 0, 10, 0},
      {"substring(s from 1 for 250)", 1, 0, 251, 0},
      {"substring(s from 3 for 4)", 1, 0, 5, 0},
      {"substring(s from 200)", 1, 0, 2, 0},
      {"trim(both 'x' from s)", 1, 0, 11, 0},
      {"extract(month from ts)", 6, 0, 4, 0},
      {"extract(year from d)", 6, 0, 4, 0},
  };
  for (const Case& c : cases) {
    TDataQuery query;
    query.Prepare(std::string("select ") + c.expression + " from t", StandardResolver());
    const TQueryExprNode& node = *query.ResultFields[0].Expression;
    EXPECT_EQ(node.DataType, c.type) << c.expression;
    EXPECT_EQ(node.SubType, c.subType) << c.expression;
    EXPECT_EQ(node.Size, c.size) << c.expression;
    EXPECT_EQ(node.Scale, c.scale) << c.expression;
  }
}

TEST(SqlTypeChecker, CheckErrors) {
  struct Case {
    const char* sql;
    const char* message;
  } cases[] = {
      {"select zz from t", "Invalid column name 'zz' or table correlation name '' specified in source columns"},
      {"select x.s from t", "Invalid column name 's' or table correlation name 'x' specified in source columns"},
      {"select s from t where x.s = 'a'",
       "Table correlation name 'x' referenced in WHERE clause is not defined in the FROM clause"},
      {"select s from t where zz = 1",
       "Invalid column name 'zz' or table correlation name '' specified in WHERE or JOIN clause"},
      {"select s from t a, u A", "Duplicate table correlation name 'A' found in source tables"},
      {"insert into t (s, zz) values ('a', 1)",
       "Invalid column name 'zz' or table correlation name '' specified in table columns"},
      {"insert into t (s) values (zz)", "Invalid column name 'zz' or table correlation name '' specified in values"},
      {"select s from t where not n",
       "Boolean expression expected after NOT operator, instead found 'n' in WHERE or JOIN clause"},
      {"select s from t where n = 'x'", "Type mismatch between column 'n' and constant 'x' in WHERE or JOIN clause"},
      {"select s from t where s > ''", "Type mismatch between column 's' and constant '' in WHERE or JOIN clause"},
      {"select s from t where n < null",
       "Type mismatch between column 'n' and constant 'NULL' in WHERE or JOIN clause"},
      {"select s + 1 from t", "Type mismatch between column 's' and constant '1' in source columns"},
      {"select s from t where (n + 1) = s",
       "Type mismatch between expression '+' and column 's' in WHERE or JOIN clause"},
      {"select s from t where lower(s) = 1",
       "Type mismatch between function 'LOWER' and constant '1' in WHERE or JOIN clause"},
      {"select s from t where (n = 1 or s)",
       "Type mismatch between expression '=' and column 's' in WHERE or JOIN clause"},
      {"select s from t where n = 1 and s", "WHERE or JOIN clause must be a boolean expression"},
      {"select blob = blob from t", "Type mismatch between column 'blob' and column 'blob' in source columns"},
      {"select d * 2 from t", "Type mismatch between column 'd' and constant '2' in source columns"},
      {"select tm - d from t", "Type mismatch between column 'tm' and column 'd' in source columns"},
      {"select f + d from t", "Type mismatch between column 'f' and column 'd' in source columns"},
      {"select s from t where d = 'not a date'",
       "Date, time, or timestamp expression expected, instead found 'not a date' in WHERE or JOIN clause"},
      {"select s from t where tm > '25:00'",
       "Date, time, or timestamp expression expected, instead found '25:00' in WHERE or JOIN clause"},
      {"select s from t where d in ('1/2/2003', 'x')",
       "Date, time, or timestamp expression expected, instead found 'x' in WHERE or JOIN clause"},
      {"select s from t where n like 'a%'",
       "Type mismatch between LIKE operator and expression 'n' in WHERE or JOIN clause"},
      {"select t.s from t, u where t.s like u.s",
       "Constant expression expected after LIKE operator, instead found 's' in WHERE or JOIN clause"},
      {"select s from t where s not like 5",
       "Type mismatch between NOT LIKE operator and expression '5' in WHERE or JOIN clause"},
      {"select n from u where n in (1, k)",
       "Constant expression expected after IN operator, instead found 'k' in WHERE or JOIN clause"},
      {"select n from u where n not in (1, 'a')",
       "Type mismatch between NOT IN operator and expression 'a' in WHERE or JOIN clause"},
      {"select n from u where n between 1 and k",
       "Constant expression expected after BETWEEN operator, instead found 'k' in WHERE or JOIN clause"},
      {"select n from u where n not between 'a' and 2",
       "Type mismatch between NOT BETWEEN operator and expression 'a' in WHERE or JOIN clause"},
      {"select lower(n) from t", "Type mismatch between LOWER function and function argument in source columns"},
      {"select upper(d) from t", "Type mismatch between UPPER function and function argument in source columns"},
      {"select sum(s) from t",
       "SUM aggregate function must contain a numeric, date, time, or timestamp expression in source columns"},
      {"select avg(flag) from t",
       "AVG aggregate function must contain a numeric, date, time, or timestamp expression in source columns"},
      {"select max(*) from t",
       "MAX aggregate function must contain a numeric, date, time, or timestamp expression in source columns"},
      {"select substring(n from 1) from t",
       "Expression argument of SUBSTRING function must be a string in source columns"},
      {"select substring(s from 0) from t",
       "FROM argument of SUBSTRING function must be an integer constant between 1 and 250 in source columns"},
      {"select substring(s from 251) from t",
       "FROM argument of SUBSTRING function must be an integer constant between 1 and 250 in source columns"},
      {"select substring(s from 'a') from t",
       "FROM argument of SUBSTRING function must be an integer constant in source columns"},
      {"select substring(s from n) from t",
       "FROM argument of SUBSTRING function must be an integer constant in source columns"},
      {"select substring(s from 1 for 0) from t",
       "FOR argument of SUBSTRING function must be an integer constant between 1 and 250 in source columns"},
      {"select substring(s from 1 for 251) from t",
       "FOR argument of SUBSTRING function must be an integer constant between 1 and 250 in source columns"},
      {"select substring(s from 1 for 1.5) from t",
       "FOR argument of SUBSTRING function must be an integer constant in source columns"},
      {"select trim(both 'x' from n) from t", "FROM argument of TRIM function must be a string in source columns"},
      {"select trim(both 'xy' from s) from t",
       "Trim character argument of TRIM function must be a single character constant in source columns"},
      {"select trim(both '''' from s) from t",
       "Trim character argument of TRIM function must be a single character constant in source columns"},
      {"select trim(leading s from s) from t",
       "Trim character argument of TRIM function must be a single character constant in source columns"},
      {"select extract(day from n) from t",
       "FROM argument of EXTRACT function must be a date or date and time in source columns"},
      {"select extract(day from tm) from t",
       "FROM argument of EXTRACT function must be a date or date and time in source columns"},
      {"select s from t where n", "WHERE or JOIN clause must be a boolean expression"},
      {"select s from t where n + 1", "WHERE or JOIN clause must be a boolean expression"},
      {"select t.s from t join u on t.n + u.n", "WHERE or JOIN clause must be a boolean expression"},
  };
  for (const Case& c : cases) {
    TDataQuery query;
    EXPECT_EQ(ErrorOf([&] { query.Prepare(c.sql, StandardResolver()); }), Expected(c.message)) << c.sql;
  }
}

TEST(SqlTypeChecker, BindsColumnsToSources) {
  TDataQuery query;
  // Unqualified names come from the first table in FROM order that has them, even when a right
  // join has put another table first in the list.
  query.Prepare("select index, album, a.index from songList a right join AlbumList b on a.albumindex = b.index",
                StandardResolver());
  ASSERT_EQ(query.Sources[0].CorrelationName, "b");
  const TQueryExprNode& index = *query.ResultFields[0].Expression;
  EXPECT_EQ(index.SourceIndex, 1);
  EXPECT_EQ(index.FieldNumber, 2);
  EXPECT_EQ(index.CorrelationName, "a") << "the correlation name is derived from the table";
  EXPECT_EQ(query.ResultFields[1].Expression->SourceIndex, 0);
  EXPECT_EQ(query.ResultFields[1].Expression->FieldNumber, 1);
  EXPECT_EQ(query.ResultFields[2].SourceIndex, 1);
  EXPECT_EQ(query.ResultFields[0].Expression->DataType, 6);

  // A column named date must be qualified; unqualified it is the keyword.
  query.Prepare("select date, a.date from songList a", StandardResolver());
  EXPECT_EQ(query.ResultFields[0].Expression->NodeClass, kNodeConstant);
  EXPECT_EQ(query.ResultFields[0].Expression->DataType, 2);
  EXPECT_EQ(query.ResultFields[1].Expression->NodeClass, kNodeColumn);
  EXPECT_EQ(query.ResultFields[1].Expression->FieldNumber, 5);

  query.Prepare("select S from T where T.N = 1", StandardResolver());
  EXPECT_EQ(query.ResultFields[0].Expression->FieldNumber, 1) << "names match without case";
  EXPECT_EQ(query.Condition->First->FieldNumber, 2);

  query.Prepare("update t set s = ?, n = n + ? where flag", StandardResolver());
  EXPECT_EQ(query.UpdateFields[1].Column->FieldNumber, 2);
  EXPECT_EQ(query.UpdateValues[1].Expression->DataType, 6) << "a parameter takes the other operand's type";
}

TEST(SqlTypeChecker, BooleanColumnsAsConditionsAreComparedWithTrue) {
  struct Case {
    const char* where;
    const char* tree;
  } cases[] = {
      {"flag", "(= t.flag TRUE)"},
      {"not flag", "(NOT (= t.flag TRUE))"},
      {"flag and n = 1", "(AND (= t.flag TRUE) (= t.n 1))"},
      {"n = 1 or flag", "(OR (= t.n 1) (= t.flag TRUE))"},
      {"flag = false", "(= t.flag FALSE)"},
  };
  for (const Case& c : cases) {
    TDataQuery query;
    query.Prepare(std::string("select s from t where ") + c.where, StandardResolver());
    EXPECT_EQ(DescribeTree(query.Condition.get()), c.tree) << c.where;
    EXPECT_EQ(query.Condition->DataType, 4) << c.where;
  }
  TDataQuery query;
  query.Prepare("select s from t join u on flag where n = 1", StandardResolver());
  std::vector<TQueryExprNode*> parts = query.ConditionParts();
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(DescribeTree(parts[0]), "(= t.flag TRUE)");
  EXPECT_EQ(parts[0]->JoinKind, kJoinInner) << "the rewritten part keeps its join kind";
}

TEST(SqlTypeChecker, StringConstantsBesideDatesAreConverted) {
  testing::TFixedEnvironment environment;
  TDataQuery query(environment);
  query.Prepare(
      "select s from t where d = '3/15/2024' and ts > '1/2/2003 10:30 PM' and tm < '12:30:15' and "
      "d between '1/1/2000' and date and d in ('2/29/2000') and ts - '1/1/2000' > 1",
      StandardResolver());
  std::vector<TQueryExprNode*> parts = query.ConditionParts();
  ASSERT_EQ(parts.size(), 6u);
  const TQueryExprNode& date = *parts[0]->Second();
  EXPECT_EQ(date.DataType, 2);
  EXPECT_EQ(date.IntegerValue(), DayNumber({2024, 3, 15}));
  const TQueryExprNode& stamp = *parts[1]->Second();
  EXPECT_EQ(stamp.DataType, 11);
  EXPECT_EQ(stamp.FloatValue(), DayNumber({2003, 1, 2}) * kMillisecondsPerDay + 22.5 * 3600000);
  const TQueryExprNode& time = *parts[2]->Second();
  EXPECT_EQ(time.DataType, 10);
  EXPECT_EQ(time.IntegerValue(), (12 * 3600 + 30 * 60 + 15) * 1000);
  const TQueryExprNode& low = *parts[3]->First->Next;
  EXPECT_EQ(low.DataType, 2);
  EXPECT_EQ(low.IntegerValue(), DayNumber({2000, 1, 1}));
  EXPECT_EQ(parts[4]->First->Next->IntegerValue(), DayNumber({2000, 2, 29}));
  EXPECT_EQ(parts[5]->First->Second()->DataType, 11) << "beside a timestamp the constant becomes a timestamp";
  EXPECT_EQ(parts[5]->First->DataType, 7) << "timestamp - timestamp gives a float";
}

TEST(SqlTypeChecker, ParametersAndNullsAreAcceptedWhereTheRulesAllow) {
  const char* accepted[] = {
      "select s from t where n = ? and s like ? and d between ? and ? and n in (?, 1)",
      "select s from t where s like '' and n = null and null = d and s <> ''",
      "select s from t where ? and not ?",
      "select s from t where flag = true and date = d",
  };
  for (const char* sql : accepted) {
    TDataQuery query;
    EXPECT_EQ(ErrorOf([&] { query.Prepare(sql, StandardResolver()); }), "<no error>") << sql;
  }
}

}  // namespace
}  // namespace quillon::sql
