// The shared expression evaluator on small trees: NULL rules, the order of evaluation, LIKE,
// IN, BETWEEN, the string functions, arithmetic and the comparisons across kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "dataset/sql/expr_evaluator.h"
#include "engine/field_codec.h"
#include "engine/field_types.h"

namespace quillon::sql {
namespace {

using engine::TFieldType;
using P = std::unique_ptr<TQueryExprNode>;

// Columns by name; counts how often each is read.
class TFakeRow : public TRowReader {
 public:
  TSqlValue Column(const TQueryExprNode& column) override {
    ++Reads[column.ColumnName];
    auto it = Values.find(column.ColumnName);
    return it == Values.end() ? TSqlValue::Null() : it->second;
  }
  std::map<std::string, TSqlValue> Values;
  std::map<std::string, int> Reads;
};

P Col(const std::string& name) {
  auto n = MakeNode(kNodeColumn, op::kNone, name);
  n->ColumnName = name;
  return n;
}
P Str(const std::string& s) {
  auto n = MakeNode(kNodeConstant, op::kNone, s);
  if (s.empty()) {
    n->SetNull();
  } else {
    n->SetString(s);
  }
  return n;
}
P Int(std::int32_t v) {
  auto n = MakeNode(kNodeConstant, op::kNone, "");
  n->SetInteger(v);
  return n;
}
P Null() {
  auto n = MakeNode(kNodeConstant, op::kNone, "NULL");
  n->SetNull();
  return n;
}
P Make(int nodeClass, int oper, P a, P b = nullptr, P c = nullptr) {
  auto n = MakeNode(nodeClass, oper, "");
  if (c) b->Next = std::move(c);
  if (b) a->Next = std::move(b);
  n->First = std::move(a);
  return n;
}
P Bin(int oper, P a, P b) {
  return Make(kNodeBinary, oper, std::move(a), std::move(b));
}

class Evaluator : public ::testing::Test {
 protected:
  TSqlValue Eval(const P& node) {
    TEvalContext context;
    context.Row = &row;
    return Evaluate(*node, context);
  }
  bool Cond(const P& node) { return IsTrue(Eval(node)); }
  TFakeRow row;
};

TEST_F(Evaluator, EqualityNullRules) {
  EXPECT_TRUE(Cond(Bin(op::kEqual, Null(), Null())));
  EXPECT_FALSE(Cond(Bin(op::kEqual, Null(), Int(1))));
  EXPECT_FALSE(Cond(Bin(op::kNotEqual, Null(), Null())));
  EXPECT_TRUE(Cond(Bin(op::kNotEqual, Int(1), Null())));
  // The empty string is NULL.
  EXPECT_TRUE(Cond(Bin(op::kEqual, Col("missing"), Str(""))));
  // Ordering comparisons with NULL are false both ways.
  EXPECT_FALSE(Cond(Bin(op::kLess, Null(), Int(1))));
  EXPECT_FALSE(Cond(Bin(op::kGreaterOrEqual, Null(), Int(1))));
  EXPECT_FALSE(Cond(Bin(op::kLessOrEqual, Int(1), Null())));
}

TEST_F(Evaluator, SecondOperandFirstAndShortCuts) {
  row.Values["a"] = TSqlValue::Boolean(true);
  row.Values["b"] = TSqlValue::Boolean(false);
  EXPECT_FALSE(Cond(Bin(op::kAnd, Col("a"), Col("b"))));
  EXPECT_EQ(row.Reads["a"], 0);  // AND with a false second operand never reads the first
  row.Reads.clear();
  EXPECT_TRUE(Cond(Bin(op::kOr, Col("b"), Col("a"))));
  EXPECT_EQ(row.Reads["b"], 0);  // OR with a true second operand neither
  row.Reads.clear();
  EXPECT_TRUE(Cond(Bin(op::kAnd, Col("a"), Col("a"))));
  EXPECT_EQ(row.Reads["a"], 2);
}

TEST(Like, MatchesByteByByte) {
  struct {
    const char* value;
    const char* pattern;
    bool match;
  } cases[] = {
      {"love", "%love%", true},  {"I love you", "%love%", true},
      {"Love", "%love%", false}, {"abc", "a_c", true},
      {"ac", "a_c", false},      {"abc", "abc", true},
      {"abcd", "abc", false},    {"abc", "%", true},
      {"abc", "a%", true},       {"abc", "%c", true},
      {"abc", "%b", false},      {"aXbXc", "a%b%c", true},
      {"a%c", "a%c", true},      {"mississippi", "%iss%ppi", true},
      {"x", "__", false},        {"aaaaaaaaaaaaaaaaaaaaaaab", "%a%a%a%a%a%a%a%a%c", false},
  };
  for (const auto& c : cases) EXPECT_EQ(LikeMatch(c.value, c.pattern), c.match) << c.value << " " << c.pattern;
}

TEST_F(Evaluator, LikeWithNullIsFalseAndNotLikeTrue) {
  EXPECT_FALSE(Cond(Make(kNodeExtended, op::kLike, Col("none"), Str("%"))));
  EXPECT_TRUE(Cond(Make(kNodeExtended, op::kNotLike, Col("none"), Str("%"))));
  row.Values["s"] = TSqlValue::String("Green");
  EXPECT_TRUE(Cond(Make(kNodeExtended, op::kLike, Col("s"), Str("G%n"))));
  EXPECT_FALSE(Cond(Make(kNodeExtended, op::kNotLike, Col("s"), Str("G%n"))));
}

TEST_F(Evaluator, InAndBetween) {
  row.Values["n"] = TSqlValue::Integer(5);
  auto list = [] {
    P l = Int(1);
    l->Next = Int(5);
    l->Next->Next = Int(9);
    return l;
  };
  EXPECT_TRUE(Cond(Make(kNodeExtended, op::kIn, Col("n"), list())));
  EXPECT_FALSE(Cond(Make(kNodeExtended, op::kNotIn, Col("n"), list())));
  EXPECT_TRUE(Cond(Make(kNodeExtended, op::kNotIn, Col("none"), list())));
  EXPECT_TRUE(Cond(Make(kNodeExtended, op::kBetween, Col("n"), Int(5), Int(6))));
  EXPECT_FALSE(Cond(Make(kNodeExtended, op::kBetween, Col("n"), Int(6), Int(9))));
  EXPECT_TRUE(Cond(Make(kNodeExtended, op::kNotBetween, Col("n"), Int(6), Int(9))));
  EXPECT_TRUE(Cond(Make(kNodeExtended, op::kNotBetween, Col("none"), Int(6), Int(9))));
}

TEST_F(Evaluator, PartialComparisons) {
  row.Values["s"] = TSqlValue::String("Abbamania");
  auto partial = [](int oper, P a, P b, int length, bool ci) {
    P n = Make(kNodePartialCompare, oper, std::move(a), std::move(b));
    n->PartialLength = length;
    n->CaseInsensitive = ci;
    return n;
  };
  EXPECT_TRUE(Cond(partial(op::kEqual, Col("s"), Str("Abba"), 4, false)));
  EXPECT_FALSE(Cond(partial(op::kEqual, Col("s"), Str("ABBA"), 4, false)));
  EXPECT_TRUE(Cond(partial(op::kEqual, Col("s"), Str("ABBA"), 4, true)));
  EXPECT_TRUE(Cond(partial(op::kNotEqual, Col("s"), Str("Abbx"), 4, false)));
  EXPECT_FALSE(Cond(partial(op::kEqual, Col("s"), Str("abbamania"), 0, false)));
  EXPECT_TRUE(Cond(partial(op::kEqual, Col("s"), Str("abbamania"), 0, true)));
  EXPECT_TRUE(Cond(partial(op::kEqual, Col("none"), Null(), 4, false)));  // NULL equals NULL
  EXPECT_TRUE(Cond(partial(op::kNotEqual, Col("none"), Str("Ab"), 2, false)));
}

TEST_F(Evaluator, StringFunctions) {
  row.Values["s"] = TSqlValue::String("xxHello Worldxx");
  auto text = [&](P n) { return Eval(n).Text; };
  EXPECT_EQ(text(Make(kNodeFunction, op::kUpper, Col("s"))), "XXHELLO WORLDXX");
  EXPECT_EQ(text(Make(kNodeFunction, op::kLower, Col("s"))), "xxhello worldxx");
  EXPECT_EQ(text(Make(kNodeFunction, op::kSubstring, Col("s"), Int(3), Int(5))), "Hello");
  EXPECT_EQ(text(Make(kNodeFunction, op::kSubstring, Col("s"), Int(9))), "Worldxx");
  EXPECT_TRUE(Eval(Make(kNodeFunction, op::kSubstring, Col("s"), Int(40))).IsNull());
  EXPECT_EQ(text(Make(kNodeFunction, op::kTrimLeading, Col("s"), Str("x"))), "Hello Worldxx");
  EXPECT_EQ(text(Make(kNodeFunction, op::kTrimTrailing, Col("s"), Str("x"))), "xxHello World");
  EXPECT_EQ(text(Make(kNodeFunction, op::kTrimBoth, Col("s"), Str("x"))), "Hello World");
  EXPECT_TRUE(Eval(Make(kNodeFunction, op::kUpper, Col("none"))).IsNull());
}

TEST_F(Evaluator, ExtractFromDatesAndTimestamps) {
  std::int32_t day = engine::EncodeDate(2024, 2, 29);
  row.Values["d"] = TSqlValue::Integer(day, static_cast<int>(TFieldType::Date));
  row.Values["t"] = TSqlValue::Float(engine::EncodeTimeStamp(day, 3600000), static_cast<int>(TFieldType::TimeStamp));
  EXPECT_EQ(Eval(Make(kNodeFunction, op::kExtractYear, Col("d"))).Int, 2024);
  EXPECT_EQ(Eval(Make(kNodeFunction, op::kExtractMonth, Col("d"))).Int, 2);
  EXPECT_EQ(Eval(Make(kNodeFunction, op::kExtractDay, Col("t"))).Int, 29);
  // A date meets a timestamp as its midnight.
  EXPECT_TRUE(Cond(Bin(op::kLess, Col("d"), Col("t"))));
  row.Values["t"].Real = engine::EncodeTimeStamp(day, 0);
  EXPECT_TRUE(Cond(Bin(op::kEqual, Col("d"), Col("t"))));
}

TEST_F(Evaluator, ArithmeticAndNumbersOfDifferentKinds) {
  EXPECT_EQ(Eval(Bin(op::kMinus, Int(10), Bin(op::kMinus, Int(4), Int(3)))).Int, 9);
  TSqlValue q = Eval(Bin(op::kDivide, Int(7), Int(2)));
  EXPECT_EQ(q.Type, static_cast<int>(TFieldType::Float));
  EXPECT_DOUBLE_EQ(q.Real, 3.5);
  EXPECT_TRUE(Eval(Bin(op::kDivide, Int(7), Int(0))).IsNull());
  EXPECT_TRUE(Eval(Bin(op::kPlus, Int(7), Null())).IsNull());
  EXPECT_EQ(Eval(Bin(op::kPlus, Str("ab"), Str("cd"))).Text, "abcd");
  // BCD compares as scaled integers with integers and floats by value.
  row.Values["bcd"] = TSqlValue::Integer(25000, static_cast<int>(TFieldType::Bcd));  // 2.5
  row.Values["f"] = TSqlValue::Float(2.5);
  EXPECT_TRUE(Cond(Bin(op::kEqual, Col("bcd"), Col("f"))));
  EXPECT_TRUE(Cond(Bin(op::kGreater, Col("bcd"), Int(2))));
  EXPECT_TRUE(Cond(Bin(op::kLess, Col("bcd"), Int(3))));
  // Booleans compare as true or false, whatever non-zero value they hold.
  auto minusOne = MakeNode(kNodeConstant, op::kNone, "");
  minusOne->SetBoolean(true);
  row.Values["flag"] = TSqlValue::Boolean(true);
  EXPECT_TRUE(Cond(Bin(op::kEqual, Col("flag"), std::move(minusOne))));
}

TEST(Collation, BytesWithoutLocale) {
  EXPECT_LT(CompareStrings("Zebra", "apple", 0, false), 0);  // byte order: Z before a
  EXPECT_GT(CompareStrings("Zebra", "apple", 0, true), 0);   // ignoring case: a before Z
  EXPECT_LT(CompareStrings("ab", "abc", 0, false), 0);       // the shorter one as if zero-padded
  EXPECT_EQ(CompareStrings("abcdef", "abcxyz", 0, false, 3), 0);
  EXPECT_EQ(CompareStrings("ABCdef", "abcxyz", 0, true, 3), 0);
}

}  // namespace
}  // namespace quillon::sql
