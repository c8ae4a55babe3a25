// The engine filter; see table_filter.h.
#include "dataset/sql/table_filter.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "dataset/sql/expr_evaluator.h"
#include "dataset/sql/filter_expr.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "engine/index_file.h"
#include "util/text.h"

namespace quillon::sql {

namespace {

using engine::TDataFile;
using engine::TFieldDescriptor;
using engine::TFieldType;
using engine::TRecordBitmap;

constexpr int T(TFieldType t) {
  return static_cast<int>(t);
}

// ---- Reading a canned buffer ---------------------------------------------------------------

// Deep enough for any filter a text can produce; a deeper buffer is a damaged one.
constexpr int kMaxCannedDepth = 256;

class TCannedReader {
 public:
  TCannedReader(TDataFile& table, const std::vector<std::uint8_t>& buffer) : table_(table), b_(buffer) {}

  std::unique_ptr<TQueryExprNode> Read() {
    if (b_.size() < canned::kHeaderSize) Bad();
    std::size_t total = U16(2);
    if (U16(0) != 0 || total > b_.size() || total < canned::kHeaderSize) Bad();
    nodes_ = U16(6);
    literals_ = U16(8);
    end_ = total;
    if (nodes_ != canned::kHeaderSize || literals_ < nodes_ || literals_ > end_ || literals_ == nodes_) Bad();
    return Node(0, -1, 0);
  }

 private:
  [[noreturn]] void Bad() const { engine::RaiseEngineError(engine::err::kInvalidFilterExpression, table_.FileName()); }
  std::size_t U16(std::size_t at) const {
    if (at + 2 > b_.size()) Bad();
    return std::size_t{b_[at]} | (std::size_t{b_[at + 1]} << 8);
  }
  std::size_t U32(std::size_t at) const { return U16(at) | (U16(at + 2) << 16); }

  // A node at `offset` into the node area; its children must lie after it, so no buffer loops.
  std::unique_ptr<TQueryExprNode> Node(std::size_t offset, long parent, int depth) {
    if (depth > kMaxCannedDepth || static_cast<long>(offset) <= parent) Bad();
    std::size_t at = nodes_ + offset;
    if (at + 8 > literals_) Bad();
    int nodeClass = static_cast<int>(U32(at));
    int oper = static_cast<int>(U32(at + 4));
    auto operand = [&](int i) -> std::size_t {
      std::size_t p = at + 8 + 2 * static_cast<std::size_t>(i);
      if (p + 2 > literals_) Bad();
      return U16(p);
    };
    const long self = static_cast<long>(offset);
    switch (nodeClass) {
      case canned::kUnary: {
        auto child = Node(operand(0), self, depth + 1);
        if (oper == op::kNot) {
          if (child->NodeClass == kNodeColumn || child->NodeClass == kNodeConstant) Bad();
          auto n = MakeNode(kNodeUnary, op::kNot, "NOT");
          n->First = std::move(child);
          return n;
        }
        if (oper != canned::kIsBlank && oper != canned::kIsNotBlank) Bad();
        if (child->NodeClass != kNodeColumn) Bad();
        auto null = MakeNode(kNodeConstant, op::kNone, "NULL");
        null->SetNull();
        return Pair(kNodeBinary, oper == canned::kIsBlank ? op::kEqual : op::kNotEqual, std::move(child),
                    std::move(null));
      }
      case canned::kBinary: {
        bool logical = oper == op::kAnd || oper == op::kOr;
        if (!logical && (oper < op::kEqual || oper > op::kLessOrEqual)) Bad();
        auto left = Node(operand(0), self, depth + 1);
        auto right = Node(operand(1), self, depth + 1);
        bool leftValue = left->NodeClass == kNodeColumn || left->NodeClass == kNodeConstant;
        bool rightValue = right->NodeClass == kNodeColumn || right->NodeClass == kNodeConstant;
        if (logical ? (leftValue || rightValue) : (!leftValue || !rightValue)) Bad();
        FitBcd(*left, *right);
        return Pair(kNodeBinary, oper, std::move(left), std::move(right));
      }
      case canned::kCompare: {
        if (oper != op::kEqual && oper != op::kNotEqual) Bad();
        bool caseInsensitive = operand(0) != 0;
        int partial = static_cast<int>(operand(1));
        auto field = Node(operand(2), self, depth + 1);
        auto constant = Node(operand(3), self, depth + 1);
        if (field->NodeClass != kNodeColumn || constant->NodeClass != kNodeConstant) Bad();
        auto n = Pair(kNodePartialCompare, oper, std::move(field), std::move(constant));
        n->CaseInsensitive = caseInsensitive;
        n->PartialLength = partial;
        return n;
      }
      case canned::kField: {
        std::string name = Literal(operand(1));
        const auto& fields = table_.LogicalFields();
        for (std::size_t i = 0; i < fields.size(); ++i) {
          if (!EqualIgnoringCase(fields[i].FieldName, name)) continue;
          auto n = MakeNode(kNodeColumn, op::kNone, fields[i].FieldName);
          n->ColumnName = fields[i].FieldName;
          n->FieldNumber = static_cast<int>(i) + 1;
          n->DataType = fields[i].FieldType;
          n->SubType = fields[i].SubType;
          n->Size = fields[i].DataSize;
          n->Scale = fields[i].Decimals;
          return n;
        }
        Bad();
      }
      case canned::kConstant: {
        int type = static_cast<int>(operand(0));
        std::size_t size = operand(1);
        std::size_t from = literals_ + operand(2);
        if (from + size > end_ || size > kMaxValueSize + 17) Bad();
        auto n = MakeNode(kNodeConstant, op::kNone, "");
        std::string bytes(reinterpret_cast<const char*>(b_.data() + from), size);
        if (type == T(TFieldType::String)) {
          std::string text = bytes.substr(0, bytes.find('\0'));
          if (text.empty()) {
            n->SetNull();  // the empty string
          } else {
            n->SetString(text);
          }
        } else {
          static const int kSizes[16] = {0, 0, 4, 0, 2, 2, 4, 8, 18, 0, 4, 8, 2, 4, 0, 0};
          if (!engine::IsValidFieldType(type) || kSizes[type] == 0 ||
              size < static_cast<std::size_t>(std::min(kSizes[type], 8)))
            Bad();
          n->Value = bytes.substr(0, type == T(TFieldType::Bcd) ? 8 : bytes.size());
          n->DataType = type;
          n->Size = static_cast<int>(n->Value.size());
          n->IsNull = false;
        }
        if (n->IsNull || type == T(TFieldType::String)) {
          n->Name = n->IsNull ? "NULL" : n->Value;
        } else {
          TSqlValue v = ConstantValue(*n);
          std::ostringstream text;
          if (type == T(TFieldType::Float) || type == T(TFieldType::TimeStamp)) {
            text << v.Real;
          } else {
            text << v.Int;
          }
          n->Name = text.str();
        }
        return n;
      }
      default:
        Bad();
    }
  }

  std::string Literal(std::size_t offset) const {
    std::size_t from = literals_ + offset;
    if (from >= end_) Bad();
    const auto* begin = b_.data() + from;
    const auto* stop = static_cast<const std::uint8_t*>(std::memchr(begin, 0, end_ - from));
    if (!stop) Bad();
    return std::string(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(stop - begin));
  }

  static std::unique_ptr<TQueryExprNode> Pair(int nodeClass, int oper, std::unique_ptr<TQueryExprNode> left,
                                              std::unique_ptr<TQueryExprNode> right) {
    static const char* const kNames[] = {"", "", "", "=", "<>", ">", "<", ">=", "<=", "NOT", "AND", "OR"};
    auto n = MakeNode(nodeClass, oper, oper >= 0 && oper <= op::kOr ? kNames[oper] : "");
    n->First = std::move(left);
    n->First->Next = std::move(right);
    return n;
  }

  // A BCD constant of a canned buffer is the value scaled to the compared field's scale; the tree
  // carries BCD in the record form.
  void FitBcd(TQueryExprNode& a, TQueryExprNode& b) const {
    TQueryExprNode* column = a.NodeClass == kNodeColumn ? &a : &b;
    TQueryExprNode* constant = a.NodeClass == kNodeConstant ? &a : &b;
    if (column == constant || column->NodeClass != kNodeColumn || constant->NodeClass != kNodeConstant) return;
    if (constant->DataType != T(TFieldType::Bcd) || constant->IsNull) return;
    std::int64_t scaled = 0;
    for (int i = 0; i < 8; ++i)
      scaled |= static_cast<std::int64_t>(static_cast<unsigned char>(constant->Value[static_cast<std::size_t>(i)]))
                << (8 * i);
    int scale = column->DataType == T(TFieldType::Bcd) ? column->Scale : 4;
    std::int64_t fixed4 = scaled;
    for (int i = scale; i < 4; ++i) {
      if (fixed4 > INT64_MAX / 10 || fixed4 < INT64_MIN / 10) Bad();
      fixed4 *= 10;
    }
    for (int i = 4; i < scale; ++i) fixed4 /= 10;
    std::int64_t stored = 0;
    if (!engine::EncodeBcd(fixed4, std::min(scale, 9), stored)) Bad();
    constant->Value.clear();
    for (int i = 0; i < 8; ++i)
      constant->Value += static_cast<char>((static_cast<std::uint64_t>(stored) >> (8 * i)) & 0xFF);
  }

  TDataFile& table_;
  const std::vector<std::uint8_t>& b_;
  std::size_t nodes_ = 0, literals_ = 0, end_ = 0;
};

// ---- Index use -------------------------------------------------------------------------------

struct TKeyTarget {
  int Index = -1;
  const TFieldDescriptor* Field = nullptr;  // physical
  int FieldNumber = 0;                      // physical, 1-based
};

// The column under an optional UPPER, and whether UPPER was there.
const TQueryExprNode* ColumnOf(const TQueryExprNode* n, bool& upper) {
  upper = false;
  if (n && n->NodeClass == kNodeFunction && n->Operator == op::kUpper) {
    upper = true;
    n = n->First.get();
  }
  return n && n->NodeClass == kNodeColumn && n->FieldNumber > 0 ? n : nullptr;
}

// The first ascending index whose first key field is the column, with the case flag asked for.
bool FindIndex(TDataFile& t, const TQueryExprNode& column, bool caseInsensitive, TKeyTarget& target) {
  if (column.FieldNumber > t.FieldCount() || column.FieldNumber > t.PhysicalFieldCount()) return false;
  const TFieldDescriptor& logical = t.GetFieldDescriptor(true, column.FieldNumber);
  const TFieldDescriptor& physical = t.GetFieldDescriptor(false, column.FieldNumber);
  if (!EqualIgnoringCase(logical.FieldName, physical.FieldName) || physical.Computed) return false;
  switch (static_cast<TFieldType>(physical.FieldType)) {
    case TFieldType::String:
      break;
    case TFieldType::SmallInt:
    case TFieldType::Integer:
    case TFieldType::Word:
    case TFieldType::Float:
    case TFieldType::Bcd:
    case TFieldType::Date:
    case TFieldType::Time:
    case TFieldType::TimeStamp:
      if (caseInsensitive) return false;
      break;
    default:
      return false;  // booleans among them: stored true is any non-zero value
  }
  engine::TIndexFile& idx = t.IndexFile();
  for (int n = idx.NoPrimaryIndex() ? 1 : 0; n <= idx.IndexCount(); ++n) {
    engine::TIndexDescriptor d = idx.GetIndexDescriptor(n);
    if (d.KeyFieldCount == 0 || d.KeyFields[0] != column.FieldNumber || d.Descending || d.FieldDescending[0]) continue;
    if (physical.FieldType == T(TFieldType::String) && d.CaseInsensitive != caseInsensitive) continue;
    target.Index = n;
    target.Field = &physical;
    target.FieldNumber = column.FieldNumber;
    return true;
  }
  return false;
}

bool IsIntegral(double v) {
  return v == static_cast<double>(static_cast<std::int64_t>(v));
}

void LeBytes(std::uint64_t bits, int bytes, std::string& out) {
  out.assign(static_cast<std::size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void DoubleBytes(double d, std::string& out) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  LeBytes(bits, 8, out);
}

// The value as a whole number, when it is one: integers, integral floats and BCD without fraction.
bool IntegralOf(const TSqlValue& v, std::int64_t& n) {
  if (v.Type == T(TFieldType::SmallInt) || v.Type == T(TFieldType::Integer) || v.Type == T(TFieldType::Word) ||
      v.Type == T(TFieldType::LargeWord)) {
    n = v.Int;
    return true;
  }
  if (v.Type == T(TFieldType::Float) && IsIntegral(v.Real) && std::abs(v.Real) < 9e18) {
    n = static_cast<std::int64_t>(v.Real);
    return true;
  }
  if (v.Type == T(TFieldType::Bcd) && v.Int % 10000 == 0) {
    n = v.Int / 10000;
    return true;
  }
  return false;
}

bool IntegerBytes(const TSqlValue& v, std::int64_t low, std::int64_t high, int bytes, std::string& out) {
  std::int64_t n = 0;
  if (!IntegralOf(v, n) || n < low || n > high) return false;
  LeBytes(static_cast<std::uint64_t>(n), bytes, out);
  return true;
}

// Trailing blanks and NULs would compare differently in the record than in the value, and under
// UPPER a text with lower-case letters matches no record.
bool StringBytes(const TFieldDescriptor& f, const TSqlValue& v, int partial, bool upper, std::string& out) {
  if (v.Type != T(TFieldType::String)) return false;
  std::string text = v.Text;
  if (partial > 0) text = text.substr(0, static_cast<std::size_t>(partial));
  if (text.empty() || text.size() + 1 > f.DataSize || text.back() == ' ' || text.find('\0') != std::string::npos)
    return false;
  if (upper && UpperAsciiText(text) != text) return false;  // UPPER never yields a lower-case letter
  out = text;
  out.resize(f.DataSize, '\0');
  return true;
}

bool FloatBytes(const TSqlValue& v, std::string& out) {
  std::int64_t n = 0;
  if (v.Type == T(TFieldType::Float))
    DoubleBytes(v.Real, out);
  else if (IntegralOf(v, n))
    DoubleBytes(static_cast<double>(n), out);
  else
    return false;
  return true;
}

// Only a value the field's scale holds without cutting digits.
bool BcdBytes(const TFieldDescriptor& f, const TSqlValue& v, std::string& out) {
  std::int64_t fixed4 = 0, n = 0;
  if (v.Type == T(TFieldType::Bcd)) {
    fixed4 = v.Int;
  } else if (IntegralOf(v, n) && n > -900000000000000 && n < 900000000000000) {
    fixed4 = n * 10000;
  } else {
    return false;
  }
  int scale = f.Decimals;
  std::int64_t unit = 1;
  for (int i = scale; i < 4; ++i) unit *= 10;
  std::int64_t stored = 0;
  if (fixed4 % unit != 0 || !engine::EncodeBcd(fixed4, scale, stored)) return false;
  LeBytes(static_cast<std::uint64_t>(stored), 8, out);
  return true;
}

bool TimeStampBytes(const TSqlValue& v, std::string& out) {
  if (v.Type == T(TFieldType::TimeStamp))
    DoubleBytes(v.Real, out);
  else if (v.Type == T(TFieldType::Date))
    DoubleBytes(static_cast<double>(v.Int) * engine::kMsPerDay, out);
  else
    return false;
  return true;
}

// The value's bytes as a record of the field holds them, when they say exactly what the value
// says (else the comparison is left to the record test).
bool RecordBytes(const TFieldDescriptor& f, const TSqlValue& v, int partial, bool upper, std::string& out) {
  switch (static_cast<TFieldType>(f.FieldType)) {
    case TFieldType::String:
      return StringBytes(f, v, partial, upper, out);
    case TFieldType::SmallInt:
      return IntegerBytes(v, -32768, 32767, 2, out);
    case TFieldType::Word:
      return IntegerBytes(v, 0, 65535, 2, out);
    case TFieldType::Integer:
      return IntegerBytes(v, INT32_MIN, INT32_MAX, 4, out);
    case TFieldType::Float:
      return FloatBytes(v, out);
    case TFieldType::Bcd:
      return BcdBytes(f, v, out);
    case TFieldType::Date:
    case TFieldType::Time:
      if (v.Type != f.FieldType) return false;
      LeBytes(static_cast<std::uint64_t>(v.Int), 4, out);
      return true;
    case TFieldType::TimeStamp:
      return TimeStampBytes(v, out);
    default:
      return false;
  }
}

// The leading key bytes of the target's index for a value (the null byte and the field's key
// bytes, or of a partial comparison only its first characters).
bool KeyPrefix(TDataFile& t, const TKeyTarget& target, const TSqlValue& v, int partial, bool upper,
               std::vector<std::uint8_t>& prefix) {
  std::string bytes;
  if (!RecordBytes(*target.Field, v, partial, upper, bytes)) return false;
  if (partial > 0 && t.LocaleId() != 0 && t.Header().LanguageId != 0) return false;
  std::vector<std::uint8_t> record(t.RecordBufferSize(), 0);
  t.SetField(false, target.FieldNumber, bytes.data(), record.data());
  engine::TKey key = t.IndexFile().BuildKey(target.Index, record.data());
  std::size_t length = 1 + (target.Field->IsAutoInc() ? 4u : target.Field->DataSize);
  if (partial > 0) length = 1 + std::min<std::size_t>(static_cast<std::size_t>(partial), v.Text.size());
  if (key.size() < length) return false;
  prefix.assign(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(length));
  return true;
}

// One usable comparison, ready to mark: its index, and the ordinal ranges of the keys that pass.
struct TRangePlan {
  int Index = -1;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Ranges;  // inclusive, possibly empty
  bool Invert = false;
};

class TIndexPlanner {
 public:
  explicit TIndexPlanner(TDataFile& t) : t_(t) {}

  // Whether the node can be answered from indexes alone.
  bool Usable(const TQueryExprNode& n) {
    switch (n.NodeClass) {
      case kNodeUnary:
        return n.Operator == op::kNot && n.First && Usable(*n.First);
      case kNodeBinary:
        if (n.Operator == op::kAnd || n.Operator == op::kOr)
          return n.First && n.Second() && Usable(*n.First) && Usable(*n.Second());
        [[fallthrough]];
      case kNodePartialCompare:
      case kNodeExtended: {
        TRangePlan plan;
        return Plan(n, plan, false);
      }
      default:
        return false;
    }
  }
  // The index a comparison would use on its own, or -1.
  int IndexOf(const TQueryExprNode& n) {
    TRangePlan plan;
    return Plan(n, plan, false) ? plan.Index : -1;
  }
  // Usable as a whole, or an AND with a usable part somewhere along it.
  bool PartlyUsable(const TQueryExprNode& n) {
    if (Usable(n)) return true;
    return n.NodeClass == kNodeBinary && n.Operator == op::kAnd && n.First && n.Second() &&
           (PartlyUsable(*n.First) || PartlyUsable(*n.Second()));
  }

  // The set of records of a usable node, the whole table's worth.
  TRecordBitmap Set(const TQueryExprNode& n, std::uint32_t total) {
    if (n.NodeClass == kNodeUnary) {
      TRecordBitmap s = Set(*n.First, total);
      s.Invert();
      return s;
    }
    if (n.NodeClass == kNodeBinary && (n.Operator == op::kAnd || n.Operator == op::kOr)) {
      TRecordBitmap a = Set(*n.First, total);
      TRecordBitmap b = Set(*n.Second(), total);
      if (n.Operator == op::kAnd) {
        a.And(b);
      } else {
        a.Or(b);
      }
      return a;
    }
    TRangePlan plan;
    TRecordBitmap s;
    s.Resize(total);
    if (!Plan(n, plan, true)) return s;  // cannot happen for a usable node
    Mark(plan, s);
    return s;
  }

 private:
  // Works out the comparison's index (and, when `ranges`, its key ranges on that index, which is
  // then selected).
  bool Plan(const TQueryExprNode& n, TRangePlan& plan, bool ranges) {
    const TQueryExprNode* a = n.First.get();
    const TQueryExprNode* b = n.Second();
    if (!a || !b) return false;
    bool upper = false;
    int oper = n.Operator;
    const TQueryExprNode* column = ColumnOf(a, upper);
    const TQueryExprNode* constant = b;
    if (!column && n.NodeClass == kNodeBinary) {
      column = ColumnOf(b, upper);
      constant = a;
      oper = oper == op::kGreater          ? op::kLess
             : oper == op::kLess           ? op::kGreater
             : oper == op::kGreaterOrEqual ? op::kLessOrEqual
             : oper == op::kLessOrEqual    ? op::kGreaterOrEqual
                                           : oper;
    }
    if (!column || constant->NodeClass != kNodeConstant || constant->IsParameter) return false;
    bool caseInsensitive = upper || (n.NodeClass == kNodePartialCompare && n.CaseInsensitive);
    int partial = n.NodeClass == kNodePartialCompare ? n.PartialLength : 0;
    if (n.NodeClass == kNodeExtended) {
      if (upper && oper != op::kIn && oper != op::kNotIn && oper != op::kBetween && oper != op::kNotBetween)
        return false;
      if (oper != op::kIn && oper != op::kNotIn && oper != op::kBetween && oper != op::kNotBetween) return false;
    } else if (n.NodeClass == kNodeBinary && (oper < op::kEqual || oper > op::kLessOrEqual)) {
      return false;
    }
    TKeyTarget target;
    if (!FindIndex(t_, *column, caseInsensitive, target)) return false;
    plan.Index = target.Index;
    engine::TIndexFile& idx = t_.IndexFile();
    if (ranges) idx.SelectIndex(target.Index);
    std::uint32_t keys = ranges ? idx.KeyCount() : 0;
    std::vector<std::uint8_t> p;
    auto lower = [&](const std::vector<std::uint8_t>& k) {
      return k.empty() ? 1u : Ordinal(idx.LowerBound(k.data(), static_cast<int>(k.size())), keys);
    };
    auto upperBound = [&](const std::vector<std::uint8_t>& k) {
      return Ordinal(idx.UpperBound(k.data(), static_cast<int>(k.size())), keys);
    };
    const std::vector<std::uint8_t> present{1};
    // Comparison with NULL: the NULL keys, or the others.
    TSqlValue value = ConstantValue(*constant);
    if (n.NodeClass != kNodeExtended && value.IsNull()) {
      if (oper != op::kEqual && oper != op::kNotEqual) return false;
      if (ranges) {
        std::uint32_t firstPresent = lower(present);
        plan.Ranges.push_back(oper == op::kEqual ? std::make_pair(1u, firstPresent - 1)
                                                 : std::make_pair(firstPresent, keys));
      }
      return true;
    }
    auto keyOf = [&](const TSqlValue& v, std::vector<std::uint8_t>& k) {
      return KeyPrefix(t_, target, v, partial, upper, k);
    };
    switch (oper) {
      case op::kIn:
      case op::kNotIn: {
        for (const TQueryExprNode* e = b; e; e = e->Next.get()) {
          if (e->NodeClass != kNodeConstant || e->IsParameter) return false;
          TSqlValue v = ConstantValue(*e);
          if (v.IsNull()) continue;  // "=" with one NULL never holds
          if (!keyOf(v, p)) return false;
          if (ranges) plan.Ranges.push_back({lower(p), upperBound(p) - 1});
        }
        plan.Invert = oper == op::kNotIn;
        return true;
      }
      case op::kBetween:
      case op::kNotBetween: {
        const TQueryExprNode* high = b->Next.get();
        if (!high || high->NodeClass != kNodeConstant || high->IsParameter) return false;
        TSqlValue lo = ConstantValue(*b), hi = ConstantValue(*high);
        plan.Invert = oper == op::kNotBetween;
        if (lo.IsNull() || hi.IsNull()) return true;  // nothing is between a NULL bound
        std::vector<std::uint8_t> q;
        if (!keyOf(lo, p) || !keyOf(hi, q)) return false;
        if (ranges) plan.Ranges.push_back({lower(p), upperBound(q) - 1});
        return true;
      }
      default:
        break;
    }
    // A partial length beyond the constant compares whole values (the record's first characters
    // must then be the whole constant and nothing more).
    if (partial > 0 && value.Type == T(TFieldType::String) && static_cast<std::size_t>(partial) > value.Text.size())
      partial = 0;
    if (!keyOf(value, p)) return false;
    if (!ranges) return true;
    std::uint32_t firstPresent = lower(present);
    switch (oper) {
      case op::kEqual:
        plan.Ranges.push_back({lower(p), upperBound(p) - 1});
        break;
      case op::kNotEqual:
        plan.Ranges.push_back({lower(p), upperBound(p) - 1});
        plan.Invert = true;
        break;
      case op::kGreater:
        plan.Ranges.push_back({upperBound(p), keys});
        break;
      case op::kGreaterOrEqual:
        plan.Ranges.push_back({lower(p), keys});
        break;
      case op::kLess:
        plan.Ranges.push_back({firstPresent, lower(p) - 1});
        break;
      case op::kLessOrEqual:
        plan.Ranges.push_back({firstPresent, upperBound(p) - 1});
        break;
      default:
        return false;
    }
    return true;
  }

  static std::uint32_t Ordinal(const engine::TKeyPosition& position, std::uint32_t keys) {
    return position.Page == 0 || position.Ordinal == 0 ? keys + 1 : position.Ordinal;
  }

  // Marks the records of the planned ranges; a range holding more than half of the table's
  // records is marked through the keys outside it.
  void Mark(const TRangePlan& plan, TRecordBitmap& out) {
    engine::TIndexFile& idx = t_.IndexFile();
    const std::uint32_t keys = idx.KeyCount();
    const std::uint64_t live = idx.RecordCount();
    const std::uint32_t total = out.Size();
    for (auto [first, last] : plan.Ranges) {
      last = std::min(last, keys);
      if (first < 1 || first > last) continue;
      TRecordBitmap part;
      part.Resize(total);
      if (std::uint64_t{last - first + 1} * 2 > live) {
        MarkOrdinals(1, first - 1, part);
        MarkOrdinals(last + 1, keys, part);
        part.Invert();
      } else {
        MarkOrdinals(first, last, part);
      }
      out.Or(part);
    }
    if (plan.Invert) out.Invert();
  }

  void MarkOrdinals(std::uint32_t first, std::uint32_t last, TRecordBitmap& bits) {
    if (first == 0 || first > last) return;
    engine::TIndexFile& idx = t_.IndexFile();
    engine::TKeyPosition p = idx.PositionAtOrdinal(first);
    for (std::uint32_t n = first; n <= last; ++n) {
      std::uint32_t record = 0;
      if (!idx.ReadPosition(p, nullptr, &record)) break;
      bits.Set(record);
      if (n < last && !idx.NextPosition(p)) break;
    }
  }

  TDataFile& t_;
};

// Puts the index file's selection back however the evaluation ends.
class TSelectionGuard {
 public:
  explicit TSelectionGuard(TDataFile& t) : t_(t), saved_(t.IndexFile().CurrentIndex()) {}
  ~TSelectionGuard() {
    try {
      if (t_.IndexFile().CurrentIndex() != saved_) t_.IndexFile().SelectIndex(saved_);
    } catch (...) {
      // the cursor selects its own tree again after every evaluation
    }
  }
  TSelectionGuard(const TSelectionGuard&) = delete;
  TSelectionGuard& operator=(const TSelectionGuard&) = delete;

 private:
  TDataFile& t_;
  int saved_;
};

std::uint32_t LocaleOf(TDataFile& t) {
  return t.Header().LanguageId != 0 ? t.LocaleId() : 0;
}

}  // namespace

std::unique_ptr<TQueryExprNode> ReadCannedFilter(TDataFile& table, const std::vector<std::uint8_t>& buffer) {
  return TCannedReader(table, buffer).Read();
}

std::shared_ptr<TFilter> TFilter::FromCanned(TDataFile& table, const std::vector<std::uint8_t>& buffer) {
  return FromTree(table, ReadCannedFilter(table, buffer));
}

std::shared_ptr<TFilter> TFilter::FromTree(TDataFile& table, std::unique_ptr<TQueryExprNode> tree) {
  if (!tree) engine::RaiseEngineError(engine::err::kInvalidFilterExpression, table.FileName());
  std::shared_ptr<TFilter> f(new TFilter());
  f->owned_ = std::move(tree);
  f->tree_ = f->owned_.get();
  f->Grade(table);
  return f;
}

std::shared_ptr<TFilter> TFilter::FromBorrowedTree(TDataFile& table, const TQueryExprNode& tree) {
  std::shared_ptr<TFilter> f(new TFilter());
  f->tree_ = &tree;
  f->Grade(table);
  return f;
}

std::shared_ptr<TFilter> TFilter::FromCallback(TCallback callback) {
  std::shared_ptr<TFilter> f(new TFilter());
  f->callback_ = std::move(callback);
  return f;
}

void TFilter::Grade(TDataFile& table) {
  TIndexPlanner planner(table);
  grade_ = planner.Usable(*tree_) ? 2 : planner.PartlyUsable(*tree_) ? 1 : 0;
}

bool TFilter::Test(TDataFile& table, const std::uint8_t* record, std::uint32_t recordNumber) {
  if (callback_) return callback_(record, recordNumber);
  TRecordReader reader(table);
  reader.SetRecord(record);
  TEvalContext context;
  context.Row = &reader;
  context.Lcid = LocaleOf(table);
  return EvaluateCondition(*tree_, context);
}

bool TFilter::Passes(TDataFile& table, const std::uint8_t* record, std::uint32_t recordNumber) {
  return Test(table, record, recordNumber);
}

TRecordBitmap TFilter::Scan(TDataFile& table, const TQueryExprNode* node, const TRecordBitmap& candidates) {
  TRecordBitmap passing;
  passing.Resize(candidates.Size());
  TRecordReader reader(table);
  TEvalContext context;
  context.Row = &reader;
  context.Lcid = LocaleOf(table);
  table.ScanRecords(candidates, [&](const std::uint8_t* record, std::uint32_t r) {
    bool passes = false;
    if (!node) {
      passes = callback_(record, r);
    } else {
      reader.SetRecord(record);
      passes = EvaluateCondition(*node, context);
    }
    ++recordsTested_;
    if (passes) passing.Set(r);
    return true;
  });
  return passing;
}

namespace {

bool IsLogical(const TQueryExprNode& n) {
  return (n.NodeClass == kNodeBinary && (n.Operator == op::kAnd || n.Operator == op::kOr)) ||
         (n.NodeClass == kNodeUnary && n.Operator == op::kNot);
}

void CollectComparisons(const TQueryExprNode& n, std::vector<const TQueryExprNode*>& out) {
  if (!IsLogical(n)) {
    out.push_back(&n);
    return;
  }
  if (n.First) CollectComparisons(*n.First, out);
  if (n.NodeClass == kNodeBinary && n.Second()) CollectComparisons(*n.Second(), out);
}

// Follows the choices of TFilter::Select: keep the two in step.
void Explain(TIndexPlanner& planner, const TQueryExprNode& node, std::vector<TComparisonIndexUse>& uses) {
  std::vector<const TQueryExprNode*> comparisons;
  CollectComparisons(node, comparisons);
  if (planner.Usable(node)) {
    for (const TQueryExprNode* c : comparisons) uses.push_back({c, planner.IndexOf(*c)});
    return;
  }
  if (node.NodeClass == kNodeBinary && node.Operator == op::kAnd && node.First && node.Second()) {
    const TQueryExprNode* a = node.First.get();
    const TQueryExprNode* b = node.Second();
    bool aFirst = planner.Usable(*a) || (!planner.Usable(*b) && planner.PartlyUsable(*a));
    if (!aFirst) std::swap(a, b);
    if (planner.PartlyUsable(*a)) {
      Explain(planner, *a, uses);
      Explain(planner, *b, uses);
      return;
    }
  }
  for (const TQueryExprNode* c : comparisons) uses.push_back({c, -1});
}

}  // namespace

std::vector<TComparisonIndexUse> ExplainIndexUse(TDataFile& table, const TQueryExprNode& tree) {
  TIndexPlanner planner(table);
  std::vector<TComparisonIndexUse> uses;
  Explain(planner, tree, uses);
  std::vector<const TQueryExprNode*> order;
  CollectComparisons(tree, order);
  std::vector<TComparisonIndexUse> sorted;
  for (const TQueryExprNode* c : order) {
    for (const auto& u : uses) {
      if (u.Comparison == c) sorted.push_back(u);
    }
  }
  return sorted;
}

TRecordBitmap TFilter::Select(TDataFile& table, const TQueryExprNode& node, const TRecordBitmap& candidates) {
  if (useIndexes_ && tree_) {
    TIndexPlanner planner(table);
    if (planner.Usable(node)) return planner.Set(node, candidates.Size());
    if (node.NodeClass == kNodeBinary && node.Operator == op::kAnd && node.First && node.Second()) {
      const TQueryExprNode* a = node.First.get();
      const TQueryExprNode* b = node.Second();
      bool aFirst = planner.Usable(*a) || (!planner.Usable(*b) && planner.PartlyUsable(*a));
      if (!aFirst) std::swap(a, b);
      if (planner.PartlyUsable(*a)) {
        TRecordBitmap left = Select(table, *a, candidates);
        left.And(candidates);
        TRecordBitmap right = Select(table, *b, left);
        left.And(right);
        return left;
      }
    }
  }
  return Scan(table, &node, candidates);
}

void TFilter::MarkPassing(TDataFile& table, std::vector<std::uint8_t>& candidates) {
  recordsTested_ = 0;
  const std::uint32_t total = table.PhysicalRecordCount();
  TRecordBitmap candidateBits;
  candidateBits.FromBytes(candidates, total);
  TRecordBitmap passing;
  {
    TSelectionGuard guard(table);
    passing = callback_ ? Scan(table, nullptr, candidateBits) : Select(table, *tree_, candidateBits);
  }
  passing.And(candidateBits);
  std::vector<std::uint8_t> bytes = passing.ToBytes();
  for (std::size_t i = 0; i < candidates.size(); ++i) candidates[i] = i < bytes.size() ? bytes[i] : 0;
}

std::shared_ptr<engine::TFilterEvaluator> MakeTextFilter(TDataFile& table,
                                                         const std::vector<std::uint8_t>& cannedBuffer) {
  return TFilter::FromCanned(table, cannedBuffer);
}

}  // namespace quillon::sql
