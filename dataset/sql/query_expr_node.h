// TQueryExprNode: one node of the expression trees shared by the SQL parser, the SQL executor and
// the engine's filters. A tree is stored first-child / next-sibling:
//   - a unary node (NOT) has its operand in First;
//   - a binary node has its left operand in First and its right operand in First->Next;
//   - an extended predicate (LIKE, IN, BETWEEN) has the tested operand in First, followed through
//     Next by the pattern, the list elements or the two bounds;
//   - a function has its arguments in First, First->Next, ... (SUBSTRING: string, FROM, FOR;
//     TRIM: string, trim character; aggregates, LOWER, UPPER, EXTRACT: one argument).
// Invariants:
//   1. Each node owns its First subtree and its Next sibling chain; sibling chains are released
//      iteratively, so a long IN list cannot exhaust the stack when the tree is freed.
//   2. Value holds the constant in the engine's in-memory form, little-endian: strings as their
//      bytes without the terminating zero (Size counts it), booleans and 16-bit integers in 2
//      bytes, 32-bit integers, dates (day 1 = 1 January of year 1) and times (milliseconds since
//      midnight) in 4 bytes, floats and timestamps (day number * 86400000 + milliseconds) as 8-byte
//      doubles. Value never exceeds kMaxValueSize bytes.
//   3. Name is the node's display text, at most 255 characters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillon::sql {

// Node classes.
inline constexpr int kNodeUnary = 1;
inline constexpr int kNodeBinary = 2;
inline constexpr int kNodePartialCompare = 3;  // made only for table filters
inline constexpr int kNodeColumn = 4;
inline constexpr int kNodeConstant = 5;
inline constexpr int kNodeFunction = 10;
inline constexpr int kNodeExtended = 12;

// Operator codes.
namespace op {
inline constexpr int kNone = 0;
inline constexpr int kEqual = 3;     // also IS NULL
inline constexpr int kNotEqual = 4;  // also IS NOT NULL
inline constexpr int kGreater = 5;
inline constexpr int kLess = 6;
inline constexpr int kGreaterOrEqual = 7;
inline constexpr int kLessOrEqual = 8;
inline constexpr int kNot = 9;
inline constexpr int kAnd = 10;
inline constexpr int kOr = 11;
inline constexpr int kPlus = 16;  // also the concatenation "||"
inline constexpr int kMinus = 17;
inline constexpr int kMultiply = 18;
inline constexpr int kDivide = 19;
inline constexpr int kSum = 22;
inline constexpr int kCount = 23;
inline constexpr int kMin = 24;
inline constexpr int kMax = 25;
inline constexpr int kAvg = 26;
inline constexpr int kLike = 30;
inline constexpr int kIn = 31;
inline constexpr int kUpper = 33;
inline constexpr int kLower = 34;
inline constexpr int kBetween = 38;
inline constexpr int kNotBetween = 39;
inline constexpr int kNotLike = 40;
inline constexpr int kNotIn = 41;
inline constexpr int kSubstring = 42;
inline constexpr int kTrimLeading = 43;
inline constexpr int kTrimTrailing = 44;
inline constexpr int kTrimBoth = 45;
inline constexpr int kExtractYear = 47;
inline constexpr int kExtractMonth = 48;
inline constexpr int kExtractDay = 49;
}  // namespace op

// Data types of nodes: the engine's field type codes, and 0 for the untyped NULL constant.
inline constexpr int kTypeNull = 0;

// Where an ON condition came from; conditions of WHERE carry kJoinNone.
inline constexpr int kJoinNone = 0;
inline constexpr int kJoinInner = 1;
inline constexpr int kJoinLeftOuter = 2;

inline constexpr std::size_t kMaxValueSize = 251;

class TQueryExprNode {
 public:
  TQueryExprNode() = default;
  TQueryExprNode(int nodeClass, int oper, std::string name);
  ~TQueryExprNode();
  TQueryExprNode(const TQueryExprNode&) = delete;
  TQueryExprNode& operator=(const TQueryExprNode&) = delete;

  std::string Name;
  int NodeClass = 0;
  int Operator = op::kNone;
  std::string ColumnName;
  std::string CorrelationName;
  std::string Value;
  bool IsNull = false;
  bool IsParameter = false;
  int ParameterIndex = -1;  // 0-based order of appearance of a "?" in the statement
  int DataType = kTypeNull;
  int SubType = 0;
  int Size = 0;
  int Scale = 0;
  int JoinKind = kJoinNone;  // set on each AND-part of an ON condition
  // Partial comparisons (kNodePartialCompare, operator = or <>, column in First, constant in
  // First->Next): how many leading characters count (0 = the whole value), and whether case is
  // ignored.
  int PartialLength = 0;
  bool CaseInsensitive = false;
  std::unique_ptr<TQueryExprNode> First;
  std::unique_ptr<TQueryExprNode> Next;
  int SourceIndex = -1;  // index into the statement's source list once bound
  int FieldNumber = -1;  // 1-based field number in that source once bound

  // The second child (First->Next), or null.
  TQueryExprNode* Second() const { return First ? First->Next.get() : nullptr; }
  int ChildCount() const;

  bool IsConstant() const { return NodeClass == kNodeConstant; }
  bool IsNullConstant() const { return NodeClass == kNodeConstant && !IsParameter && DataType == kTypeNull; }

  // Constant setters; each sets DataType, Size, Value and clears IsNull.
  void SetNull();
  void SetString(const std::string& text);  // cut to kMaxValueSize - 1 bytes
  void SetBoolean(bool value);
  void SetInteger(std::int32_t value);
  void SetFloat(double value);
  void SetDate(std::int32_t dayNumber);
  void SetTime(std::int32_t milliseconds);
  void SetTimeStamp(double value);

  // Constant readers; they read Value as the setters wrote it.
  std::string StringValue() const { return Value; }
  std::int32_t IntegerValue() const;  // 32-bit integers, dates and times; 2-byte values widened
  double FloatValue() const;          // floats and timestamps
};

// Builds a node; the factories keep the parser short.
std::unique_ptr<TQueryExprNode> MakeNode(int nodeClass, int oper, const std::string& name);

// Text that shows a tree's shape, for tests and diagnostics: operators and functions as
// "(name operand ...)", columns as "corr.column" or "column", constants as their name, NULL as
// "NULL", parameters as "?".
std::string DescribeTree(const TQueryExprNode* node);

}  // namespace quillon::sql
