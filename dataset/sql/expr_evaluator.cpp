// The expression evaluator; see expr_evaluator.h.
#include "dataset/sql/expr_evaluator.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "engine/data_file.h"
#include "engine/field_codec.h"
#include "engine/field_types.h"
#include "engine/locale.h"
#include "util/text.h"

namespace quillon::sql {

namespace {

using engine::TFieldType;

constexpr int T(TFieldType t) {
  return static_cast<int>(t);
}

std::uint64_t Le(const std::uint8_t* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint64_t{p[i]} << (8 * i);
  return v;
}

double DoubleOf(const std::uint8_t* p) {
  std::uint64_t bits = Le(p, 8);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

bool IsIntegerType(int t) {
  return t == T(TFieldType::SmallInt) || t == T(TFieldType::Integer) || t == T(TFieldType::Word) ||
         t == T(TFieldType::LargeWord);
}
bool IsNumericType(int t) {
  return IsIntegerType(t) || t == T(TFieldType::Float) || t == T(TFieldType::Bcd) || t == T(TFieldType::Extended);
}
bool IsRealType(int t) {
  return t == T(TFieldType::Float) || t == T(TFieldType::Extended);
}

// A value in milliseconds for dates and timestamps, so that the two compare.
double DateTimeMs(const TSqlValue& v) {
  if (v.Type == T(TFieldType::Date)) return static_cast<double>(v.Int) * engine::kMsPerDay;
  return v.Real;
}

double AsDouble(const TSqlValue& v) {
  if (v.Type == T(TFieldType::Bcd)) return static_cast<double>(v.Int) / 10000.0;
  if (IsRealType(v.Type) || v.Type == T(TFieldType::TimeStamp)) return v.Real;
  return static_cast<double>(v.Int);
}

// Fixed point with 4 decimals; fractions beyond dropped.
bool AsFixed4(const TSqlValue& v, std::int64_t& out) {
  if (v.Type == T(TFieldType::Bcd)) {
    out = v.Int;
    return true;
  }
  if (IsIntegerType(v.Type)) {
    out = v.Int * 10000;
    return true;
  }
  return false;
}

template <typename N>
int Sign(N a, N b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

std::string StringOfBytes(const std::uint8_t* bytes, int size) {
  int n = 0;
  while (n < size && bytes[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
}

TSqlValue Arithmetic(int op, const TSqlValue& a, const TSqlValue& b) {
  if (a.IsNull() || b.IsNull()) return TSqlValue::Null();
  const int date = T(TFieldType::Date), time = T(TFieldType::Time), stamp = T(TFieldType::TimeStamp);
  if (op == op::kPlus && a.Type == T(TFieldType::String)) return TSqlValue::String(a.Text + b.Text);
  if (op == op::kPlus || op == op::kMinus) {
    const std::int64_t sign = op == op::kPlus ? 1 : -1;
    if ((a.Type == date || a.Type == time) && IsIntegerType(b.Type))
      return TSqlValue::Integer(a.Int + sign * b.Int, a.Type);
    if (op == op::kPlus && IsIntegerType(a.Type) && (b.Type == date || b.Type == time))
      return TSqlValue::Integer(a.Int + b.Int, b.Type);
    if (a.Type == stamp && IsIntegerType(b.Type))
      return TSqlValue::Float(a.Real + static_cast<double>(sign * b.Int) * engine::kMsPerDay, stamp);
    if (op == op::kPlus && IsIntegerType(a.Type) && b.Type == stamp)
      return TSqlValue::Float(b.Real + static_cast<double>(a.Int) * engine::kMsPerDay, stamp);
    if (op == op::kMinus) {
      if (a.Type == date && b.Type == date) return TSqlValue::Integer(a.Int - b.Int);
      if (a.Type == time && b.Type == time) return TSqlValue::Integer(a.Int - b.Int);
      if (a.Type == stamp && b.Type == stamp) return TSqlValue::Float(a.Real - b.Real);
      if (a.Type == stamp && b.Type == date)
        return TSqlValue::Integer(static_cast<std::int64_t>((a.Real - DateTimeMs(b)) / engine::kMsPerDay));
      if (a.Type == stamp && b.Type == time) return TSqlValue::Integer(static_cast<std::int64_t>(a.Real) - b.Int);
    }
  }
  if (!IsNumericType(a.Type) || !IsNumericType(b.Type)) return TSqlValue::Null();
  if (op == op::kDivide) {
    double d = AsDouble(b);
    if (d == 0) return TSqlValue::Null();
    return TSqlValue::Float(AsDouble(a) / d);
  }
  if (IsRealType(a.Type) || IsRealType(b.Type)) {
    double x = AsDouble(a), y = AsDouble(b);
    return TSqlValue::Float(op == op::kPlus ? x + y : op == op::kMinus ? x - y : x * y);
  }
  std::int64_t x = 0, y = 0;
  if (a.Type == T(TFieldType::Bcd) || b.Type == T(TFieldType::Bcd)) {
    AsFixed4(a, x);
    AsFixed4(b, y);
    TSqlValue r = TSqlValue::Integer(op == op::kPlus    ? x + y
                                     : op == op::kMinus ? x - y
                                                        : x * y / 10000,
                                     T(TFieldType::Bcd));
    return r;
  }
  std::int64_t r = op == op::kPlus ? a.Int + b.Int : op == op::kMinus ? a.Int - b.Int : a.Int * b.Int;
  int type = op == op::kMinus && a.Type == T(TFieldType::Word) ? T(TFieldType::Word) : T(TFieldType::Integer);
  return TSqlValue::Integer(static_cast<std::int32_t>(r), type);
}

// "=" and "<>" with their NULL rules; the ordering operators false on NULL.
bool Compare(int op, const TSqlValue& a, const TSqlValue& b, std::uint32_t lcid, bool ignoreCase, int prefix) {
  if (a.IsNull() || b.IsNull()) {
    bool both = a.IsNull() && b.IsNull();
    if (op == op::kEqual) return both;
    if (op == op::kNotEqual) return !both;
    return false;
  }
  int c;
  if (a.Type == T(TFieldType::String) && b.Type == T(TFieldType::String)) {
    c = CompareStrings(a.Text, b.Text, lcid, ignoreCase, prefix);
  } else {
    c = CompareValues(a, b, lcid, ignoreCase);
  }
  switch (op) {
    case op::kEqual:
      return c == 0;
    case op::kNotEqual:
      return c != 0;
    case op::kGreater:
      return c > 0;
    case op::kLess:
      return c < 0;
    case op::kGreaterOrEqual:
      return c >= 0;
    case op::kLessOrEqual:
      return c <= 0;
    default:
      return false;
  }
}

std::string MapCase(const std::string& s, std::uint32_t lcid, bool upper) {
  if (lcid != 0) return engine::locale::MapCase(lcid, s, upper);
  return upper ? UpperAsciiText(s) : LowerAsciiText(s);
}

}  // namespace

// ---- Values ----------------------------------------------------------------------------------

TSqlValue TSqlValue::Boolean(bool value) {
  TSqlValue v;
  v.Type = T(TFieldType::Boolean);
  v.Int = value ? 1 : 0;
  return v;
}

TSqlValue TSqlValue::Integer(std::int64_t value, int type) {
  TSqlValue v;
  v.Type = type;
  v.Int = value;
  return v;
}

TSqlValue TSqlValue::Float(double value, int type) {
  TSqlValue v;
  v.Type = type;
  v.Real = value;
  return v;
}

TSqlValue TSqlValue::String(std::string text) {
  TSqlValue v;
  if (text.empty()) return v;
  v.Type = T(TFieldType::String);
  v.Text = std::move(text);
  return v;
}

TSqlValue FieldValue(int fieldType, int subType, const std::uint8_t* bytes, int dataSize, bool present) {
  if (!present) return TSqlValue::Null();
  TSqlValue v;
  v.SubType = subType;
  switch (static_cast<TFieldType>(fieldType)) {
    case TFieldType::String:
      return TSqlValue::String(StringOfBytes(bytes, dataSize));
    case TFieldType::Boolean:
      return TSqlValue::Boolean(Le(bytes, 2) != 0);
    case TFieldType::SmallInt:
      return TSqlValue::Integer(static_cast<std::int16_t>(Le(bytes, 2)), fieldType);
    case TFieldType::Word:
      return TSqlValue::Integer(static_cast<std::uint16_t>(Le(bytes, 2)), fieldType);
    case TFieldType::Integer:
    case TFieldType::Date:
    case TFieldType::Time:
      return TSqlValue::Integer(static_cast<std::int32_t>(Le(bytes, 4)), fieldType);
    case TFieldType::LargeWord:
      return TSqlValue::Integer(static_cast<std::uint32_t>(Le(bytes, 4)), fieldType);
    case TFieldType::Float:
    case TFieldType::TimeStamp:
      v = TSqlValue::Float(DoubleOf(bytes), fieldType);
      v.SubType = subType;
      return v;
    case TFieldType::Bcd: {
      std::int64_t fixed4 = 0;
      if (!engine::DecodeBcd(static_cast<std::int64_t>(Le(bytes, 8)), fixed4)) return TSqlValue::Null();
      return TSqlValue::Integer(fixed4, fieldType);
    }
    case TFieldType::Extended:
      return TSqlValue::Float(engine::DecodeExtended(bytes), fieldType);
    default:
      // BLOB and byte values take part only as present or not.
      v.Type = fieldType;
      v.Text.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(dataSize));
      return v;
  }
}

TSqlValue ConstantValue(const TQueryExprNode& node) {
  if (node.IsNull || node.DataType == kTypeNull) return TSqlValue::Null();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(node.Value.data());
  std::string padded = node.Value;
  if (node.DataType != T(TFieldType::String)) padded.resize(std::max<std::size_t>(padded.size(), 8), '\0');
  bytes = reinterpret_cast<const std::uint8_t*>(padded.data());
  switch (static_cast<TFieldType>(node.DataType)) {
    case TFieldType::String:
      return TSqlValue::String(node.Value);
    case TFieldType::Bcd: {
      // Constants carry BCD in the record form too.
      std::int64_t fixed4 = 0;
      if (!engine::DecodeBcd(static_cast<std::int64_t>(Le(bytes, 8)), fixed4)) return TSqlValue::Null();
      return TSqlValue::Integer(fixed4, node.DataType);
    }
    default:
      return FieldValue(node.DataType, node.SubType, bytes, static_cast<int>(padded.size()), true);
  }
}

TSqlValue TRecordReader::Column(const TQueryExprNode& column) {
  const engine::TFieldDescriptor& f = table_.GetFieldDescriptor(true, column.FieldNumber);
  // Scans read every row's columns through here: a stored value is decoded where it lies; only
  // BLOB slots (whose open values live elsewhere) and row identifiers take the copying path.
  if (!f.IsBlob() && !f.IsAutoInc()) {
    const std::uint8_t* at = record_ + f.Offset;
    return FieldValue(f.FieldType, f.SubType, at + 1, f.DataSize, at[0] == 1);
  }
  std::uint8_t value[256] = {};
  bool present = table_.GetField(true, column.FieldNumber, record_, value);
  return FieldValue(f.FieldType, f.SubType, value, f.DataSize, present);
}

// ---- Comparisons -----------------------------------------------------------------------------

int CompareStrings(const std::string& a, const std::string& b, std::uint32_t lcid, bool ignoreCase, int prefix) {
  std::string_view x = a, y = b;
  if (prefix > 0) {
    x = x.substr(0, static_cast<std::size_t>(prefix));
    y = y.substr(0, static_cast<std::size_t>(prefix));
  }
  if (lcid != 0) return engine::locale::CompareStrings(lcid, x, y, ignoreCase);
  if (ignoreCase) return CompareIgnoringCase(x, y);
  int c = x.compare(y);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareValues(const TSqlValue& a, const TSqlValue& b, std::uint32_t lcid, bool ignoreCase) {
  const int date = T(TFieldType::Date), stamp = T(TFieldType::TimeStamp), boolean = T(TFieldType::Boolean);
  if (a.Type == T(TFieldType::String) || b.Type == T(TFieldType::String))
    return CompareStrings(a.Text, b.Text, lcid, ignoreCase);
  if (a.Type == boolean || b.Type == boolean) return Sign(a.Int != 0 || a.Real != 0, b.Int != 0 || b.Real != 0);
  if ((a.Type == date || a.Type == stamp) && (b.Type == date || b.Type == stamp)) {
    if (a.Type == date && b.Type == date) return Sign(a.Int, b.Int);
    return Sign(DateTimeMs(a), DateTimeMs(b));
  }
  std::int64_t x = 0, y = 0;
  if ((a.Type == T(TFieldType::Bcd) || b.Type == T(TFieldType::Bcd)) && AsFixed4(a, x) && AsFixed4(b, y))
    return Sign(x, y);
  if (IsRealType(a.Type) || IsRealType(b.Type) || a.Type == T(TFieldType::Bcd) || b.Type == T(TFieldType::Bcd) ||
      a.Type == stamp || b.Type == stamp)
    return Sign(AsDouble(a), AsDouble(b));
  return Sign(a.Int, b.Int);
}

bool LikeMatch(const std::string& value, const std::string& pattern) {
  // Greedy matching with one remembered "%": linear in practice, never exponential.
  std::size_t v = 0, p = 0, starP = std::string::npos, starV = 0;
  while (v < value.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      starP = p++;
      starV = v;
    } else if (p < pattern.size() && (pattern[p] == '_' || pattern[p] == value[v])) {
      ++p;
      ++v;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      v = ++starV;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

bool IsTrue(const TSqlValue& value) {
  if (value.IsNull()) return false;
  if (IsRealType(value.Type) || value.Type == T(TFieldType::TimeStamp)) return value.Real != 0;
  if (value.Type == T(TFieldType::String)) return !value.Text.empty();
  return value.Int != 0;
}

bool EvaluateCondition(const TQueryExprNode& node, TEvalContext& context) {
  return IsTrue(Evaluate(node, context));
}

// ---- Evaluation ------------------------------------------------------------------------------

namespace {

// AND and OR read their right operand first and the left one only when it decides.
inline TSqlValue BinaryValue(const TQueryExprNode& node, const TQueryExprNode& first, const TQueryExprNode& second,
                             TEvalContext& context) {
  TSqlValue right = Evaluate(second, context);
  if (node.Operator == op::kAnd) {
    if (!IsTrue(right)) return TSqlValue::Boolean(false);
    return TSqlValue::Boolean(EvaluateCondition(first, context));
  }
  if (node.Operator == op::kOr) {
    if (IsTrue(right)) return TSqlValue::Boolean(true);
    return TSqlValue::Boolean(EvaluateCondition(first, context));
  }
  TSqlValue left = Evaluate(first, context);
  if (node.Operator >= op::kEqual && node.Operator <= op::kLessOrEqual)
    return TSqlValue::Boolean(Compare(node.Operator, left, right, context.Lcid, false, 0));
  return Arithmetic(node.Operator, left, right);
}

inline TSqlValue PartialCompareValue(const TQueryExprNode& node, const TQueryExprNode& first,
                                     const TQueryExprNode& second, TEvalContext& context) {
  TSqlValue right = Evaluate(second, context);
  TSqlValue left = Evaluate(first, context);
  int op = node.Operator == op::kNotEqual ? op::kNotEqual : op::kEqual;
  return TSqlValue::Boolean(Compare(op, left, right, context.Lcid, node.CaseInsensitive, node.PartialLength));
}

TSqlValue LikeValue(const TQueryExprNode& node, const TSqlValue& value, const TQueryExprNode& pattern,
                    TEvalContext& context) {
  TSqlValue p = Evaluate(pattern, context);
  bool match = !value.IsNull() && !p.IsNull() && LikeMatch(value.Text, p.Text);
  return TSqlValue::Boolean(node.Operator == op::kLike ? match : !match);
}

TSqlValue InListValue(const TQueryExprNode& node, const TSqlValue& value, const TQueryExprNode& list,
                      TEvalContext& context) {
  bool found = false;
  for (const TQueryExprNode* e = &list; e && !found; e = e->Next.get())
    found = Compare(op::kEqual, value, Evaluate(*e, context), context.Lcid, false, 0);
  return TSqlValue::Boolean(node.Operator == op::kIn ? found : !found);
}

TSqlValue BetweenValue(const TQueryExprNode& node, const TSqlValue& value, const TQueryExprNode& low,
                       TEvalContext& context) {
  const TQueryExprNode* high = low.Next.get();
  if (!high) return TSqlValue::Null();
  bool inside = Compare(op::kGreaterOrEqual, value, Evaluate(low, context), context.Lcid, false, 0) &&
                Compare(op::kLessOrEqual, value, Evaluate(*high, context), context.Lcid, false, 0);
  return TSqlValue::Boolean(node.Operator == op::kBetween ? inside : !inside);
}

// LIKE, IN and BETWEEN with their negations; the list or the bounds hang from the second operand.
inline TSqlValue ExtendedValue(const TQueryExprNode& node, const TQueryExprNode& first, const TQueryExprNode& second,
                               TEvalContext& context) {
  TSqlValue value = Evaluate(first, context);
  switch (node.Operator) {
    case op::kLike:
    case op::kNotLike:
      return LikeValue(node, value, second, context);
    case op::kIn:
    case op::kNotIn:
      return InListValue(node, value, second, context);
    case op::kBetween:
    case op::kNotBetween:
      return BetweenValue(node, value, second, context);
    default:
      return TSqlValue::Null();
  }
}

// The function helpers take over the evaluated argument: a result that is the argument itself
// is moved out of it, never copied, as this runs for every row a filter tests.
TSqlValue CaseMapped(const TQueryExprNode& node, TSqlValue& value, const TEvalContext& context) {
  if (value.IsNull()) return std::move(value);
  if (context.Lcid == 0 && value.Type == T(TFieldType::String)) {
    // Without a locale the mapping is per character: done in place, no second string
    // for every row a filter tests.
    const bool upper = node.Operator == op::kUpper;
    for (char& c : value.Text) c = upper ? UpperAscii(c) : LowerAscii(c);
    value.SubType = 0;  // as a new string value has
    return std::move(value);
  }
  return TSqlValue::String(MapCase(value.Text, context.Lcid, node.Operator == op::kUpper));
}

// SUBSTRING(value FROM from [FOR count]): from counts from 1; nothing when it lies past the end.
TSqlValue Substring(const TQueryExprNode* second, const TSqlValue& value, TEvalContext& context) {
  if (value.IsNull() || !second) return TSqlValue::Null();
  std::int64_t from = Evaluate(*second, context).Int;
  const TQueryExprNode* forNode = second->Next.get();
  if (from < 1) from = 1;
  if (static_cast<std::size_t>(from) > value.Text.size()) return TSqlValue::Null();
  std::size_t count = std::string::npos;
  if (forNode) {
    std::int64_t n = Evaluate(*forNode, context).Int;
    count = n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  return TSqlValue::String(value.Text.substr(static_cast<std::size_t>(from - 1), count));
}

// TRIM: the first character of the second operand is cut from the chosen ends.
TSqlValue Trimmed(const TQueryExprNode& node, const TQueryExprNode* second, TSqlValue& value, TEvalContext& context) {
  if (value.IsNull() || !second) return std::move(value);
  TSqlValue trim = Evaluate(*second, context);
  if (trim.IsNull() || trim.Text.empty()) return std::move(value);
  char c = trim.Text[0];
  std::string s = value.Text;
  if (node.Operator != op::kTrimTrailing) {
    std::size_t n = 0;
    while (n < s.size() && s[n] == c) ++n;
    s.erase(0, n);
  }
  if (node.Operator != op::kTrimLeading)
    while (!s.empty() && s.back() == c) s.pop_back();
  return TSqlValue::String(s);
}

// EXTRACT(YEAR|MONTH|DAY FROM a date or a timestamp).
TSqlValue DatePart(const TQueryExprNode& node, TSqlValue& value) {
  if (value.IsNull()) return std::move(value);
  std::int32_t day = 0;
  if (value.Type == T(TFieldType::Date)) {
    day = static_cast<std::int32_t>(value.Int);
  } else {
    std::int32_t ms = 0;
    if (!engine::DecodeTimeStamp(value.Real, day, ms)) return TSqlValue::Null();
  }
  int y = 0, m = 0, d = 0;
  if (!engine::DecodeDate(day, y, m, d)) return TSqlValue::Null();
  return TSqlValue::Integer(node.Operator == op::kExtractYear ? y : node.Operator == op::kExtractMonth ? m : d);
}

inline TSqlValue FunctionValue(const TQueryExprNode& node, const TQueryExprNode& first, const TQueryExprNode* second,
                               TEvalContext& context) {
  TSqlValue value = Evaluate(first, context);
  switch (node.Operator) {
    case op::kUpper:
    case op::kLower:
      return CaseMapped(node, value, context);
    case op::kSubstring:
      return Substring(second, value, context);
    case op::kTrimLeading:
    case op::kTrimTrailing:
    case op::kTrimBoth:
      return Trimmed(node, second, value, context);
    case op::kExtractYear:
    case op::kExtractMonth:
    case op::kExtractDay:
      return DatePart(node, value);
    default:
      // Aggregates are accumulated by the executor; here they stand for their argument.
      return value;
  }
}

}  // namespace

// One function per node kind; a node missing an operand it needs is NULL.
TSqlValue Evaluate(const TQueryExprNode& node, TEvalContext& context) {
  const TQueryExprNode* first = node.First.get();
  const TQueryExprNode* second = node.Second();
  switch (node.NodeClass) {
    case kNodeConstant:
      return ConstantValue(node);
    case kNodeColumn:
      return context.Row ? context.Row->Column(node) : TSqlValue::Null();
    case kNodeUnary:
      if (node.Operator == op::kNot && first) return TSqlValue::Boolean(!EvaluateCondition(*first, context));
      return TSqlValue::Null();
    case kNodeBinary:
      return first && second ? BinaryValue(node, *first, *second, context) : TSqlValue::Null();
    case kNodePartialCompare:
      return first && second ? PartialCompareValue(node, *first, *second, context) : TSqlValue::Null();
    case kNodeExtended:
      return first && second ? ExtendedValue(node, *first, *second, context) : TSqlValue::Null();
    case kNodeFunction:
      return first ? FunctionValue(node, *first, second, context) : TSqlValue::Null();
    default:
      return TSqlValue::Null();
  }
}

}  // namespace quillon::sql
