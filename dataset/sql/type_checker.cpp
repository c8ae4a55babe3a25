// Binding and type checking of expression trees (see type_checker.h).
//
// Operand rules, by operator (NULL is the untyped NULL constant; numeric means 16-bit, 32-bit,
// unsigned 16-bit, float and BCD; a "?" parameter has no type before it is bound and is accepted
// beside any operand, the node taking the other operand's type):
//   =, <>             string~string|NULL, date|timestamp~date|timestamp|NULL, boolean~boolean|NULL,
//                     numeric~numeric|NULL, time~time|NULL
//   >, <, >=, <=      the same without NULL
//   AND, OR, NOT      boolean
//   + - * /           see ArithmeticResult
// Fixed-size results take their natural size (integers 4, unsigned 16-bit 2, floats, timestamps
// 8, dates, times 4, booleans 2); BCD results take the larger operand size and scale.
#include "dataset/sql/type_checker.h"

#include <algorithm>
#include <vector>

#include "dataset/sql/data_query.h"
#include "dataset/sql/sql_error.h"
#include "engine/field_types.h"
#include "util/text.h"

namespace quillon::sql {

namespace {

using engine::TFieldType;

constexpr int kString = static_cast<int>(TFieldType::String);
constexpr int kDate = static_cast<int>(TFieldType::Date);
constexpr int kBoolean = static_cast<int>(TFieldType::Boolean);
constexpr int kSmallInt = static_cast<int>(TFieldType::SmallInt);
constexpr int kInteger = static_cast<int>(TFieldType::Integer);
constexpr int kFloat = static_cast<int>(TFieldType::Float);
constexpr int kBcd = static_cast<int>(TFieldType::Bcd);
constexpr int kTime = static_cast<int>(TFieldType::Time);
constexpr int kTimeStamp = static_cast<int>(TFieldType::TimeStamp);
constexpr int kWord = static_cast<int>(TFieldType::Word);

bool IsIntegerType(int t) {
  return t == kSmallInt || t == kInteger || t == kWord;
}
bool IsNumericType(int t) {
  return IsIntegerType(t) || t == kFloat || t == kBcd;
}
bool IsDateLike(int t) {
  return t == kDate || t == kTimeStamp;
}
bool IsTemporal(int t) {
  return t == kDate || t == kTime || t == kTimeStamp;
}

int NaturalSize(int t) {
  switch (t) {
    case kBoolean:
    case kSmallInt:
    case kWord:
      return 2;
    case kInteger:
    case kDate:
    case kTime:
      return 4;
    case kFloat:
    case kTimeStamp:
      return 8;
    default:
      return 0;
  }
}

bool IsStringConstant(const TQueryExprNode& n) {
  return n.NodeClass == kNodeConstant && !n.IsParameter && n.DataType == kString;
}

const char* KindWord(const TQueryExprNode& n) {
  switch (n.NodeClass) {
    case kNodeColumn:
      return "column";
    case kNodeConstant:
      return "constant";
    case kNodeFunction:
      return "function";
    default:
      return "expression";
  }
}

std::string Quoted(const std::string& s) {
  return "'" + s + "'";
}

[[noreturn]] void Mismatch(const TQueryExprNode& l, const TQueryExprNode& r, const char* context) {
  RaiseSqlError(std::string("Type mismatch between ") + KindWord(l) + " " + Quoted(l.Name) + " and " + KindWord(r) +
                " " + Quoted(r.Name) + " in " + context);
}

bool EqualityAllowed(int a, int b) {
  if (a == kTypeNull || b == kTypeNull) {
    const int other = a == kTypeNull ? b : a;
    return other == kTypeNull || other == kString || IsDateLike(other) || other == kBoolean || IsNumericType(other) ||
           other == kTime;
  }
  return (a == kString && b == kString) || (IsDateLike(a) && IsDateLike(b)) || (a == kBoolean && b == kBoolean) ||
         (IsNumericType(a) && IsNumericType(b)) || (a == kTime && b == kTime);
}

bool OrderingAllowed(int a, int b) {
  return (a == kString && b == kString) || (IsDateLike(a) && IsDateLike(b)) || (IsNumericType(a) && IsNumericType(b)) ||
         (a == kTime && b == kTime);
}

struct TResultType {
  int type = 0;
  int subType = 0;
  int size = 0;
  int scale = 0;
};

// The type of numeric operands combined by an arithmetic operator.
int NumericResult(int oper, int l, int r) {
  if (l == kFloat || r == kFloat) return kFloat;
  if (l == kBcd || r == kBcd) return kBcd;
  if (oper == op::kDivide) return kFloat;
  if (oper == op::kMinus && l == kWord) return kWord;
  return kInteger;
}

// The result type of l oper r, or false when the pair is not allowed.
bool ArithmeticResult(int oper, const TQueryExprNode& l, const TQueryExprNode& r, TResultType& out) {
  const int a = l.DataType;
  const int b = r.DataType;
  int type = 0;
  switch (oper) {
    case op::kPlus:
      if (a == kString && b == kString) {
        out = {kString, 0, l.Size + r.Size - 1, 0};
        return true;
      }
      if (IsTemporal(a) && IsIntegerType(b))
        type = a;
      else if (IsIntegerType(a) && IsTemporal(b))
        type = b;
      else if (IsIntegerType(a) && IsNumericType(b))
        type = NumericResult(oper, a, b);
      else if ((a == kFloat || a == kBcd) && IsNumericType(b))
        type = NumericResult(oper, a, b);
      break;
    case op::kMinus:
      if (a == kDate && b == kDate)
        type = kInteger;
      else if (a == kDate && IsIntegerType(b))
        type = kDate;
      else if (IsNumericType(a) && IsNumericType(b))
        type = NumericResult(oper, a, b);
      else if (a == kTime && IsIntegerType(b))
        type = kTime;
      else if (a == kTime && b == kTime)
        type = kInteger;
      else if (a == kTimeStamp && (b == kDate || b == kTime))
        type = kInteger;
      else if (a == kTimeStamp && IsIntegerType(b))
        type = kTimeStamp;
      else if (a == kTimeStamp && b == kTimeStamp)
        type = kFloat;
      break;
    case op::kMultiply:
    case op::kDivide:
      if (IsNumericType(a) && IsNumericType(b)) type = NumericResult(oper, a, b);
      break;
    default:
      break;
  }
  if (type == 0) return false;
  out.type = type;
  out.size = type == kBcd ? std::max(l.Size, r.Size) : NaturalSize(type);
  out.scale = type == kBcd ? std::max(l.Scale, r.Scale) : 0;
  const bool moneyKept = (oper == op::kPlus || oper == op::kMultiply)
                             ? (l.SubType == engine::kSubTypeMoney || r.SubType == engine::kSubTypeMoney)
                             : l.SubType == engine::kSubTypeMoney;
  out.subType = moneyKept && (type == kFloat || type == kBcd) ? engine::kSubTypeMoney : 0;
  return true;
}

void SetType(TQueryExprNode& n, int type, int subType, int size, int scale) {
  n.DataType = type;
  n.SubType = subType;
  n.Size = size;
  n.Scale = scale;
}

void CopyType(TQueryExprNode& to, const TQueryExprNode& from) {
  SetType(to, from.DataType, from.SubType, from.Size, from.Scale);
}

void SetBooleanType(TQueryExprNode& n) {
  SetType(n, kBoolean, 0, 2, 0);
}

bool InCondition(const char* context) {
  return std::string_view(context) == kConditionRules.Context;
}

}  // namespace

TTypeChecker::TTypeChecker(const std::vector<TSourceDataFile>& sources, const TColumnResolver& resolver,
                           const TSqlEnvironment& environment)
    : sources_(sources), resolver_(resolver), environment_(environment) {}

void TTypeChecker::BindColumn(TQueryExprNode& node, const char* context) {
  if (node.ColumnName == "*") return;
  auto invalid = [&]() {
    RaiseSqlError("Invalid column name " + Quoted(node.ColumnName) + " or table correlation name " +
                  Quoted(node.CorrelationName) + " specified in " + context);
  };
  TResolvedField field;
  int found = -1;
  if (!node.CorrelationName.empty()) {
    for (std::size_t i = 0; i < sources_.size(); ++i) {
      if (EqualIgnoringCase(sources_[i].CorrelationName, node.CorrelationName)) {
        found = static_cast<int>(i);
        break;
      }
    }
    if (found < 0) {
      if (InCondition(context)) {
        RaiseSqlError("Table correlation name " + Quoted(node.CorrelationName) +
                      " referenced in WHERE clause is not defined in the FROM clause");
      }
      invalid();
    }
    if (!resolver_.FindField(sources_[static_cast<std::size_t>(found)], node.ColumnName, field)) invalid();
  } else {
    // The first source in the order written that has the field.
    std::vector<int> order(sources_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return sources_[static_cast<std::size_t>(a)].Number < sources_[static_cast<std::size_t>(b)].Number;
    });
    for (int i : order) {
      if (resolver_.FindField(sources_[static_cast<std::size_t>(i)], node.ColumnName, field)) {
        found = i;
        break;
      }
    }
    if (found < 0) invalid();
    node.CorrelationName = sources_[static_cast<std::size_t>(found)].CorrelationName;
  }
  node.SourceIndex = found;
  node.FieldNumber = field.FieldNumber;
  SetType(node, field.DataType, field.SubType, field.Size, field.Scale);
}

void TTypeChecker::CheckExpression(std::unique_ptr<TQueryExprNode>& node, const char* context) {
  Check(node, context);
}

void TTypeChecker::CheckCondition(std::unique_ptr<TQueryExprNode>& node, const char* context) {
  Check(node, context);
  MakeCondition(node);
  if (node->DataType != kBoolean && !node->IsParameter)
    RaiseSqlError("WHERE or JOIN clause must be a boolean expression");
}

// A boolean column or function standing alone as a condition becomes "= TRUE".
void TTypeChecker::MakeCondition(std::unique_ptr<TQueryExprNode>& slot) {
  if (slot->DataType != kBoolean || (slot->NodeClass != kNodeColumn && slot->NodeClass != kNodeFunction)) return;
  std::unique_ptr<TQueryExprNode> next = std::move(slot->Next);
  const int joinKind = slot->JoinKind;
  auto constant = MakeNode(kNodeConstant, op::kNone, "TRUE");
  constant->SetBoolean(true);
  slot = MakeBinary(op::kEqual, "=", std::move(slot), std::move(constant));
  SetBooleanType(*slot);
  slot->JoinKind = joinKind;
  slot->Next = std::move(next);
}

void TTypeChecker::ConvertDateConstant(TQueryExprNode& constant, int toType, const char* context) {
  const TDateTimeFormat format = environment_.Format();
  bool ok = false;
  if (toType == kDate) {
    std::int32_t day = 0;
    ok = ParseDateLiteral(constant.Value, format, day);
    if (ok) constant.SetDate(day);
  } else if (toType == kTime) {
    std::int32_t ms = 0;
    ok = ParseTimeLiteral(constant.Value, format, ms);
    if (ok) constant.SetTime(ms);
  } else {
    double value = 0;
    ok = ParseTimeStampLiteral(constant.Value, format, value);
    if (ok) constant.SetTimeStamp(value);
  }
  if (!ok) {
    RaiseSqlError("Date, time, or timestamp expression expected, instead found " + Quoted(constant.Value) + " in " +
                  context);
  }
}

void TTypeChecker::Check(std::unique_ptr<TQueryExprNode>& node, const char* context) {
  TQueryExprNode& n = *node;
  switch (n.NodeClass) {
    case kNodeColumn:
      BindColumn(n, context);
      return;
    case kNodeConstant:
      return;
    default:
      break;
  }
  for (std::unique_ptr<TQueryExprNode>* child = &n.First; *child; child = &(*child)->Next) Check(*child, context);

  if (n.NodeClass == kNodeUnary) {
    MakeCondition(n.First);
    if (n.First->DataType != kBoolean && !n.First->IsParameter) {
      RaiseSqlError("Boolean expression expected after NOT operator, instead found " + Quoted(n.First->Name) + " in " +
                    context);
    }
    SetBooleanType(n);
  } else if (n.NodeClass == kNodeBinary) {
    CheckBinary(n, context);
  } else if (n.NodeClass == kNodeExtended) {
    CheckExtended(n, context);
  } else if (n.NodeClass == kNodeFunction) {
    CheckFunction(n, context);
  }
}

void TTypeChecker::CheckBinary(TQueryExprNode& n, const char* context) {
  if (n.Operator == op::kAnd || n.Operator == op::kOr) {
    MakeCondition(n.First);
    MakeCondition(n.First->Next);
    const TQueryExprNode& l = *n.First;
    const TQueryExprNode& r = *n.Second();
    if ((l.DataType != kBoolean && !l.IsParameter) || (r.DataType != kBoolean && !r.IsParameter)) {
      Mismatch(l, r, context);
    }
    SetBooleanType(n);
    return;
  }
  TQueryExprNode& l = *n.First;
  TQueryExprNode& r = *n.Second();
  if (IsTemporal(l.DataType) && IsStringConstant(r)) {
    ConvertDateConstant(r, l.DataType, context);
  } else if (IsTemporal(r.DataType) && IsStringConstant(l)) {
    ConvertDateConstant(l, r.DataType, context);
  }
  const bool isComparison = n.Operator >= op::kEqual && n.Operator <= op::kLessOrEqual;
  if (l.IsParameter || r.IsParameter) {
    if (isComparison) {
      SetBooleanType(n);
    } else {
      CopyType(n, l.IsParameter ? r : l);
    }
    return;
  }
  if (isComparison) {
    const bool equality = n.Operator == op::kEqual || n.Operator == op::kNotEqual;
    if (!(equality ? EqualityAllowed(l.DataType, r.DataType) : OrderingAllowed(l.DataType, r.DataType))) {
      Mismatch(l, r, context);
    }
    SetBooleanType(n);
    return;
  }
  TResultType result;
  if (!ArithmeticResult(n.Operator, l, r, result)) Mismatch(l, r, context);
  SetType(n, result.type, result.subType, result.size, result.scale);
}

void TTypeChecker::CheckExtended(TQueryExprNode& n, const char* context) {
  TQueryExprNode& left = *n.First;
  const std::string opName = n.Name;
  auto mismatch = [&](const TQueryExprNode& with) {
    RaiseSqlError("Type mismatch between " + opName + " operator and expression " + Quoted(with.Name) + " in " +
                  context);
  };
  auto constantExpected = [&](const TQueryExprNode& found) {
    RaiseSqlError("Constant expression expected after " + opName + " operator, instead found " + Quoted(found.Name) +
                  " in " + context);
  };
  if (n.Operator == op::kLike || n.Operator == op::kNotLike) {
    TQueryExprNode& pattern = *left.Next;
    if (left.DataType != kString && !left.IsParameter) mismatch(left);
    if (pattern.NodeClass != kNodeConstant) constantExpected(pattern);
    if (pattern.DataType != kString && pattern.DataType != kTypeNull && !pattern.IsParameter) mismatch(pattern);
  } else {
    for (TQueryExprNode* item = left.Next.get(); item; item = item->Next.get()) {
      if (item->NodeClass != kNodeConstant) constantExpected(*item);
      if (IsTemporal(left.DataType) && IsStringConstant(*item)) ConvertDateConstant(*item, left.DataType, context);
      if (!left.IsParameter && !item->IsParameter && !EqualityAllowed(left.DataType, item->DataType)) mismatch(*item);
    }
  }
  SetBooleanType(n);
}

void TTypeChecker::CheckFunction(TQueryExprNode& n, const char* context) {
  TQueryExprNode& arg = *n.First;
  const std::string in = std::string(" in ") + context;
  switch (n.Operator) {
    case op::kCount:
      SetType(n, kInteger, 0, 4, 0);
      return;
    case op::kSum:
    case op::kAvg:
    case op::kMin:
    case op::kMax:
      if (!IsNumericType(arg.DataType) && !IsTemporal(arg.DataType)) {
        RaiseSqlError(n.Name + " aggregate function must contain a numeric, date, time, or timestamp expression" + in);
      }
      CopyType(n, arg);
      return;
    case op::kLower:
    case op::kUpper:
      if (arg.DataType != kString && !arg.IsParameter) {
        RaiseSqlError("Type mismatch between " + n.Name + " function and function argument" + in);
      }
      SetType(n, kString, 0, arg.Size, 0);
      return;
    case op::kSubstring: {
      if (arg.DataType != kString && !arg.IsParameter) {
        RaiseSqlError("Expression argument of SUBSTRING function must be a string" + in);
      }
      auto bound = [&](const TQueryExprNode& b, const char* which) {
        if (b.NodeClass != kNodeConstant || b.IsParameter || b.DataType != kInteger) {
          RaiseSqlError(std::string(which) + " argument of SUBSTRING function must be an integer constant" + in);
        }
        const int v = b.IntegerValue();
        if (v < 1 || v > 250) {
          RaiseSqlError(std::string(which) +
                        " argument of SUBSTRING function must be an integer constant between 1 "
                        "and 250" +
                        in);
        }
        return v;
      };
      const int from = bound(*arg.Next, "FROM");
      const TQueryExprNode* forArg = arg.Next->Next.get();
      // Without FOR the result keeps the rest of the string; at least one byte of room is kept so
      // that a start beyond the end yields an empty string, not a negative size.
      const int size = forArg ? bound(*forArg, "FOR") + 1 : std::max(arg.Size - from + 1, 2);
      SetType(n, kString, 0, size, 0);
      return;
    }
    case op::kTrimLeading:
    case op::kTrimTrailing:
    case op::kTrimBoth: {
      if (arg.DataType != kString && !arg.IsParameter)
        RaiseSqlError("FROM argument of TRIM function must be a string" + in);
      const TQueryExprNode& character = *arg.Next;
      if (!IsStringConstant(character) || character.Value.size() != 1) {
        RaiseSqlError("Trim character argument of TRIM function must be a single character constant" + in);
      }
      SetType(n, kString, 0, arg.Size, 0);
      return;
    }
    case op::kExtractYear:
    case op::kExtractMonth:
    case op::kExtractDay:
      if (!IsDateLike(arg.DataType))
        RaiseSqlError("FROM argument of EXTRACT function must be a date or date and time" + in);
      SetType(n, kInteger, 0, 4, 0);
      return;
    default:
      return;
  }
}

}  // namespace quillon::sql
