// Running a TDataQuery: opening the source tables, binding, planning the conditions into table
// filters, join links and a residual condition, the nested-loop join, the result table with its
// ordering, DISTINCT and GROUP BY indexes, aggregates, and INSERT, UPDATE and DELETE.
//
// The result table is an ordinary engine table: its indexes do the sorting, duplicate removal and
// grouping while rows are inserted, so there is no sort step at the end.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "dataset/sql/data_query.h"
#include "dataset/sql/expr_evaluator.h"
#include "dataset/sql/sql_error.h"
#include "dataset/sql/table_filter.h"
#include "dataset/sql/type_checker.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::sql {

namespace {

using engine::TDataFile;
using engine::TFieldType;

constexpr int T(TFieldType t) {
  return static_cast<int>(t);
}

constexpr const char* kRowNumberField = "Row___No";
constexpr const char* kAvgCountField = "Avg__Count";
constexpr std::size_t kMaxResultName = 30;
constexpr int kMaxDistinctColumns = 16;
constexpr int kNoLookup = -2;

bool IsIntegerKind(int t) {
  return t == T(TFieldType::SmallInt) || t == T(TFieldType::Integer) || t == T(TFieldType::Word) ||
         t == T(TFieldType::LargeWord);
}
bool IsRealKind(int t) {
  return t == T(TFieldType::Float) || t == T(TFieldType::Extended);
}
bool IsNumericKind(int t) {
  return IsIntegerKind(t) || IsRealKind(t) || t == T(TFieldType::Bcd);
}

bool HasDirectory(const std::string& name) {
  return name.find_first_of("\\/:") != std::string::npos;
}

std::string InDirectory(const std::string& directory, const std::string& name) {
  std::string dir = Trim(directory);
  if (dir.empty()) return name;
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir + name;
}

double AsDouble(const TSqlValue& v) {
  if (v.Type == T(TFieldType::Bcd)) return static_cast<double>(v.Int) / 10000.0;
  if (IsRealKind(v.Type)) return v.Real;
  return static_cast<double>(v.Int);
}

// Numbers to an integer kind: the fraction is dropped, and a value outside the kind's range
// does not fit.
bool ConvertToInteger(const TSqlValue& v, int type, TSqlValue& out) {
  if (!IsNumericKind(v.Type)) return false;
  double d = std::trunc(AsDouble(v));
  double low = type == T(TFieldType::SmallInt) ? -32768.0 : type == T(TFieldType::Integer) ? -2147483648.0 : 0.0;
  double high = type == T(TFieldType::SmallInt)  ? 32767.0
                : type == T(TFieldType::Word)    ? 65535.0
                : type == T(TFieldType::Integer) ? 2147483647.0
                                                 : 4294967295.0;
  if (!(d >= low && d <= high)) return false;
  out = TSqlValue::Integer(static_cast<std::int64_t>(d), type);
  return true;
}

// BCD values are held as integers in ten-thousandths.
bool ConvertToBcd(const TSqlValue& v, int type, TSqlValue& out) {
  if (!IsNumericKind(v.Type)) return false;
  if (v.Type == T(TFieldType::Bcd)) {
    out = v;
    return true;
  }
  double d = std::trunc(AsDouble(v) * 10000.0);
  if (!(std::fabs(d) < 9.0e17)) return false;
  out = TSqlValue::Integer(static_cast<std::int64_t>(d), type);
  return true;
}

bool ConvertToDate(const TSqlValue& v, const TSqlEnvironment& environment, TSqlValue& out) {
  const int date = T(TFieldType::Date), stamp = T(TFieldType::TimeStamp);
  if (v.Type == date) {
    out = v;
  } else if (v.Type == stamp) {
    out = TSqlValue::Integer(static_cast<std::int64_t>(std::floor(v.Real / engine::kMsPerDay)), date);
  } else if (v.Type == T(TFieldType::String)) {
    std::int32_t day = 0;
    if (!ParseDateLiteral(v.Text, environment.Format(), day)) return false;
    out = TSqlValue::Integer(day, date);
  } else {
    return false;
  }
  return true;
}

bool ConvertToTime(const TSqlValue& v, const TSqlEnvironment& environment, TSqlValue& out) {
  const int time = T(TFieldType::Time);
  if (v.Type == time) {
    out = v;
  } else if (v.Type == T(TFieldType::String)) {
    std::int32_t ms = 0;
    if (!ParseTimeLiteral(v.Text, environment.Format(), ms)) return false;
    out = TSqlValue::Integer(ms, time);
  } else {
    return false;
  }
  return true;
}

bool ConvertToTimeStamp(const TSqlValue& v, const TSqlEnvironment& environment, TSqlValue& out) {
  const int date = T(TFieldType::Date), stamp = T(TFieldType::TimeStamp);
  if (v.Type == stamp) {
    out = v;
  } else if (v.Type == date) {
    out = TSqlValue::Float(static_cast<double>(v.Int) * engine::kMsPerDay, stamp);
  } else if (v.Type == T(TFieldType::String)) {
    double value = 0;
    if (!ParseTimeStampLiteral(v.Text, environment.Format(), value)) return false;
    out = TSqlValue::Float(value, stamp);
  } else {
    return false;
  }
  return true;
}

// Converts a value to an engine type; false when the dialect has no such conversion or the value
// does not fit. Numeric conversions drop fractions. On false, out is NULL.
bool ConvertValue(const TSqlValue& v, int type, const TSqlEnvironment& environment, TSqlValue& out) {
  out = TSqlValue::Null();
  if (v.IsNull()) return true;
  if (type == T(TFieldType::String) || type == T(TFieldType::Boolean)) {
    // Text and truth values convert only from their own kind.
    if (v.Type != type) return false;
    out = v;
    return true;
  }
  if (IsIntegerKind(type)) return ConvertToInteger(v, type, out);
  if (IsRealKind(type)) {
    if (!IsNumericKind(v.Type)) return false;
    out = TSqlValue::Float(AsDouble(v), type);
    return true;
  }
  if (type == T(TFieldType::Bcd)) return ConvertToBcd(v, type, out);
  if (type == T(TFieldType::Date)) return ConvertToDate(v, environment, out);
  if (type == T(TFieldType::Time)) return ConvertToTime(v, environment, out);
  if (type == T(TFieldType::TimeStamp)) return ConvertToTimeStamp(v, environment, out);
  return false;
}

// Writes a value of the field's own type (as ConvertValue gives it) into a record buffer.
void PutValue(TDataFile& table, int fieldNumber, const TSqlValue& v, std::uint8_t* record) {
  if (v.IsNull()) {
    table.SetField(true, fieldNumber, nullptr, record);
    return;
  }
  const engine::TFieldDescriptor& f = table.GetFieldDescriptor(true, fieldNumber);
  std::uint8_t bytes[16] = {};
  switch (static_cast<TFieldType>(f.FieldType)) {
    case TFieldType::String: {
      std::string text = v.Text.substr(0, f.DeclaredSize);
      table.SetField(true, fieldNumber, text.c_str(), record);
      return;
    }
    case TFieldType::Boolean:
    case TFieldType::SmallInt:
    case TFieldType::Word: {
      auto x = static_cast<std::uint16_t>(v.Int);
      std::memcpy(bytes, &x, 2);
      break;
    }
    case TFieldType::Integer:
    case TFieldType::Date:
    case TFieldType::Time:
    case TFieldType::LargeWord: {
      auto x = static_cast<std::uint32_t>(v.Int);
      std::memcpy(bytes, &x, 4);
      break;
    }
    case TFieldType::Float:
    case TFieldType::TimeStamp:
      std::memcpy(bytes, &v.Real, 8);
      break;
    case TFieldType::Bcd: {
      std::int64_t stored = 0;
      if (!engine::EncodeBcd(v.Int, f.Decimals, stored)) {
        table.SetField(true, fieldNumber, nullptr, record);
        return;
      }
      std::memcpy(bytes, &stored, 8);
      break;
    }
    case TFieldType::Extended:
      engine::EncodeExtended(v.Real, bytes);
      break;
    default:
      table.SetField(true, fieldNumber, nullptr, record);
      return;
  }
  table.SetField(true, fieldNumber, bytes, record);
}

// Sets a constant node (a parameter or a folded subexpression) to a value.
void SetConstant(TQueryExprNode& node, const TSqlValue& v) {
  bool parameter = node.IsParameter;
  switch (v.Type) {
    case kTypeNull:
      node.SetNull();
      break;
    case T(TFieldType::String):
      node.SetString(v.Text);
      break;
    case T(TFieldType::Boolean):
      node.SetBoolean(v.Int != 0);
      break;
    case T(TFieldType::Date):
      node.SetDate(static_cast<std::int32_t>(v.Int));
      break;
    case T(TFieldType::Time):
      node.SetTime(static_cast<std::int32_t>(v.Int));
      break;
    case T(TFieldType::TimeStamp):
      node.SetTimeStamp(v.Real);
      break;
    case T(TFieldType::Bcd): {
      std::int64_t stored = 0;
      engine::EncodeBcd(v.Int, 4, stored);
      node.Value.assign(reinterpret_cast<const char*>(&stored), 8);
      node.DataType = v.Type;
      node.Size = 8;
      node.Scale = 4;
      node.IsNull = false;
      break;
    }
    default:
      if (IsRealKind(v.Type)) {
        node.SetFloat(v.Real);
      } else if (IsIntegerKind(v.Type) && v.Int >= std::numeric_limits<std::int32_t>::min() &&
                 v.Int <= std::numeric_limits<std::int32_t>::max()) {
        node.SetInteger(static_cast<std::int32_t>(v.Int));
      } else if (IsIntegerKind(v.Type)) {
        node.SetFloat(static_cast<double>(v.Int));
      } else {
        node.SetNull();
      }
  }
  node.IsParameter = parameter;
}

bool IsComparison(int oper) {
  return oper == op::kEqual || oper == op::kNotEqual || oper == op::kLess || oper == op::kGreater ||
         oper == op::kLessOrEqual || oper == op::kGreaterOrEqual;
}

int Mirrored(int oper) {
  switch (oper) {
    case op::kLess:
      return op::kGreater;
    case op::kGreater:
      return op::kLess;
    case op::kLessOrEqual:
      return op::kGreaterOrEqual;
    case op::kGreaterOrEqual:
      return op::kLessOrEqual;
    default:
      return oper;
  }
}

bool IsPlainColumn(const TQueryExprNode* node) {
  return node && node->NodeClass == kNodeColumn && node->SourceIndex >= 0 && node->FieldNumber > 0;
}

// The source tables a subtree (node and its children, not its siblings) refers to, as a bit set.
void CollectSources(const TQueryExprNode& node, std::vector<bool>& used) {
  if (node.NodeClass == kNodeColumn && node.SourceIndex >= 0 &&
      static_cast<std::size_t>(node.SourceIndex) < used.size()) {
    used[static_cast<std::size_t>(node.SourceIndex)] = true;
  }
  for (const TQueryExprNode* child = node.First.get(); child; child = child->Next.get()) CollectSources(*child, used);
}

bool IsFoldable(const TQueryExprNode& node) {
  if (node.NodeClass == kNodeColumn || node.IsParameter) return false;
  if (node.NodeClass == kNodeFunction &&
      (node.Operator == op::kSum || node.Operator == op::kCount || node.Operator == op::kMin ||
       node.Operator == op::kMax || node.Operator == op::kAvg)) {
    return false;
  }
  for (const TQueryExprNode* child = node.First.get(); child; child = child->Next.get()) {
    if (!IsFoldable(*child)) return false;
  }
  return true;
}

// Computes every column-free subexpression once.
void FoldConstants(std::unique_ptr<TQueryExprNode>& slot) {
  if (!slot) return;
  if (slot->NodeClass != kNodeConstant && IsFoldable(*slot)) {
    TEvalContext context;
    TSqlValue value = Evaluate(*slot, context);
    auto constant = MakeNode(kNodeConstant, op::kNone, slot->Name);
    SetConstant(*constant, value);
    constant->JoinKind = slot->JoinKind;
    constant->Next = std::move(slot->Next);
    slot = std::move(constant);
    return;
  }
  for (std::unique_ptr<TQueryExprNode>* child = &slot->First; *child; child = &(*child)->Next) FoldConstants(*child);
}

// A constant compared with a column takes the column's type, as a value stored there would: 2.5
// against an integer column compares as 2. A constant the type cannot hold (70000 against a
// 16-bit column) keeps its own value, so that it matches nothing rather than a wrapped number.
void ConvertToColumnType(TQueryExprNode& constant, const TQueryExprNode& column, const TSqlEnvironment& environment) {
  if (constant.NodeClass != kNodeConstant || constant.IsParameter || constant.IsNull) return;
  TEvalContext context;
  TSqlValue converted;
  if (!ConvertValue(Evaluate(constant, context), column.DataType, environment, converted) || converted.IsNull()) return;
  std::unique_ptr<TQueryExprNode> next = std::move(constant.Next);
  const std::string name = constant.Name;
  SetConstant(constant, converted);
  constant.Name = name;
  constant.Next = std::move(next);
}

void ConvertComparedConstants(TQueryExprNode& node, const TSqlEnvironment& environment) {
  if ((node.NodeClass == kNodeBinary && (node.Operator == op::kAnd || node.Operator == op::kOr)) ||
      (node.NodeClass == kNodeUnary && node.Operator == op::kNot)) {
    for (TQueryExprNode* child = node.First.get(); child; child = child->Next.get()) {
      ConvertComparedConstants(*child, environment);
    }
    return;
  }
  TQueryExprNode* left = node.First.get();
  TQueryExprNode* right = node.Second();
  if (!left || !right) return;
  if (node.NodeClass == kNodeBinary && IsComparison(node.Operator)) {
    if (IsPlainColumn(left)) ConvertToColumnType(*right, *left, environment);
    if (IsPlainColumn(right)) ConvertToColumnType(*left, *right, environment);
  } else if (node.NodeClass == kNodeExtended && IsPlainColumn(left) &&
             (node.Operator == op::kIn || node.Operator == op::kNotIn || node.Operator == op::kBetween ||
              node.Operator == op::kNotBetween)) {
    for (TQueryExprNode* item = right; item; item = item->Next.get()) ConvertToColumnType(*item, *left, environment);
  }
}

// How a value that does not fit its column is named: a constant by its token text (a string
// without its quotes), any other expression by its source text.
std::string MismatchText(const TUpdateDataValue& value) {
  const TQueryExprNode* e = value.Expression.get();
  if (e && e->NodeClass == kNodeConstant && !e->IsParameter) return e->Name;
  return value.SourceText;
}

// The prefix rewrites of table filters: name = 'Ab*' and name LIKE 'Ab%' both become a
// comparison of the first two characters.
void RewritePrefixes(TQueryExprNode& node) {
  if ((node.NodeClass == kNodeBinary && (node.Operator == op::kAnd || node.Operator == op::kOr)) ||
      (node.NodeClass == kNodeUnary && node.Operator == op::kNot)) {
    for (TQueryExprNode* child = node.First.get(); child; child = child->Next.get()) RewritePrefixes(*child);
    return;
  }
  TQueryExprNode* column = node.First.get();
  TQueryExprNode* constant = node.Second();
  if (!IsPlainColumn(column) || column->DataType != T(TFieldType::String) || !constant ||
      constant->NodeClass != kNodeConstant || constant->IsParameter || constant->DataType != T(TFieldType::String) ||
      constant->Next) {
    return;
  }
  const std::string text = constant->StringValue();
  std::string prefix;
  int oper = 0;
  if (node.NodeClass == kNodeBinary && (node.Operator == op::kEqual || node.Operator == op::kNotEqual)) {
    if (text.size() < 2 || text.back() != '*') return;
    prefix = text.substr(0, text.size() - 1);
    oper = node.Operator;
  } else if (node.NodeClass == kNodeExtended && (node.Operator == op::kLike || node.Operator == op::kNotLike)) {
    if (text.size() < 2 || text.back() != '%' || text.find('%') != text.size() - 1 ||
        text.find('_') != std::string::npos) {
      return;
    }
    prefix = text.substr(0, text.size() - 1);
    oper = node.Operator == op::kLike ? op::kEqual : op::kNotEqual;
  } else {
    return;
  }
  node.NodeClass = kNodePartialCompare;
  node.Operator = oper;
  node.PartialLength = static_cast<int>(prefix.size());
  node.CaseInsensitive = false;
  constant->SetString(prefix);
}

std::unique_ptr<TQueryExprNode> CloneColumn(const TQueryExprNode& column) {
  auto copy = MakeNode(kNodeColumn, op::kNone, column.Name);
  copy->ColumnName = column.ColumnName;
  copy->CorrelationName = column.CorrelationName;
  copy->DataType = column.DataType;
  copy->SubType = column.SubType;
  copy->Size = column.Size;
  copy->Scale = column.Scale;
  copy->SourceIndex = column.SourceIndex;
  copy->FieldNumber = column.FieldNumber;
  return copy;
}

std::unique_ptr<TQueryExprNode> JoinWithAnd(std::vector<std::unique_ptr<TQueryExprNode>> parts) {
  std::unique_ptr<TQueryExprNode> tree;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    tree = tree ? MakeBinary(op::kAnd, "AND", std::move(*it), std::move(tree)) : std::move(*it);
    if (tree->NodeClass == kNodeBinary && tree->Operator == op::kAnd) {
      tree->DataType = T(TFieldType::Boolean);
      tree->Size = 2;
    }
  }
  return tree;
}

struct TResolver : TColumnResolver {
  const std::vector<std::unique_ptr<TDataFile>>* Tables = nullptr;
  const std::vector<TSourceDataFile>* Sources = nullptr;
  bool FindField(const TSourceDataFile& source, const std::string& name, TResolvedField& field) const override {
    if (Sources->empty()) return false;
    std::size_t i = static_cast<std::size_t>(&source - Sources->data());
    if (i >= Tables->size()) return false;
    for (const engine::TFieldDescriptor& f : (*Tables)[i]->LogicalFields()) {
      if (!EqualIgnoringCase(f.FieldName, name)) continue;
      field.FieldNumber = f.FieldNumber;
      field.FieldName = f.FieldName;
      field.DataType = f.FieldType;
      field.SubType = f.SubType;
      field.Size = f.FieldType == T(TFieldType::String) ? f.DeclaredSize + 1 : f.DataSize;
      field.Scale = f.Decimals;
      return true;
    }
    return false;
  }
};

}  // namespace

// One source table while the statement runs.
struct TSourceRun {
  std::unique_ptr<TDataFile> Table;
  std::vector<std::uint8_t> Buffer;
  std::unique_ptr<TRecordReader> Reader;
  std::unique_ptr<TQueryExprNode> FilterTree;  // the AND of this table's own conditions
  std::uint32_t FilterHandle = 0;
  std::uint32_t LinkHandle = 0;
  int Level = 0;
  int IncomingLink = -1;
  bool NullRow = false;  // the missing side of a left outer join
  bool Locked = false;
  // An equality link whose target column leads an index is answered by a key range on a second
  // cursor instead of a new filter for each outer record; the table's own conditions are then
  // tested record by record.
  std::unique_ptr<TDataFile> Lookup;
  int LookupField = 0;
  std::shared_ptr<TFilter> OwnFilter;
  std::vector<std::uint8_t> LookupKey;
  enum class TLookup { Unused, Range, Probe, NoMatch, Filter } LookupState = TLookup::Unused;
  // The records passing the table's own conditions by the value of the linked column, in
  // physical order; built at the first outer record when the table is small enough.
  bool ProbeWanted = false;
  bool ProbeBuilt = false;
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> IntegerProbe;
  // One bit per value from IntegerLow to IntegerLow + IntegerBits.size() * 64 - 1 that the
  // probe holds (empty when the values spread too far): most outer records of a selective join
  // find nothing, and the bits say so without a trip through the map.
  std::int64_t IntegerLow = 0;
  std::vector<std::uint64_t> IntegerBits;
  // Where the outer record holds the linked 32-bit integer, when the bits can be tested on it
  // straight away: 0 not yet known, -1 not possible, else the field's offset + 1.
  int IntegerSourceAt = 0;
  std::unordered_map<std::string, std::vector<std::uint32_t>> TextProbe;
  const std::vector<std::uint32_t>* ProbeMatches = nullptr;
  // A driving table whose own conditions no index answers tests them record by record, after
  // its links have shown that the record joins at all.
  bool DeferredFilter = false;
  // The driving table read from a key range: the records that pass its conditions, in
  // physical order, copied while the range was walked.
  bool KeyRangeDriving = false;
  std::vector<std::vector<std::uint8_t>> KeyRangeRecords;
};

// One condition of a join link, oriented from the link's source to its target.
struct TLinkCondition {
  const TQueryExprNode* SourceColumn = nullptr;
  const TQueryExprNode* TargetColumn = nullptr;
  int Operator = op::kEqual;
};

struct TPlannedLink {
  int Source = -1;
  int Target = -1;
  int JoinKind = kJoinInner;
  std::vector<TLinkCondition> Conditions;
};

struct TResultColumn {
  int FieldNumber = 0;  // in the result table
  std::string Name;
};

struct TQueryExecution {
  TQuerySettings Settings;
  std::vector<std::unique_ptr<TDataFile>> Tables;  // by source index
  std::vector<TSourceRun> Runs;
  std::vector<std::unique_ptr<TQueryExprNode>> OwnedParts;  // link conditions
  std::vector<TPlannedLink> Links;
  std::unique_ptr<TQueryExprNode> Residual;
  std::vector<int> Order;  // source indexes, driving table first
  std::vector<TResultColumn> Columns;
  int AvgCountField = 0;
  bool Grouped = false;
  std::vector<int> GroupColumns;  // result column indexes
  std::vector<int> OrderColumns;  // result column indexes
  std::vector<bool> OrderDescending;
  std::string GroupIndexName;  // "" = the primary index
  int GroupKeyCount = 0;
  bool CountOnly = false;
  // A live result: the one source table's own cursor, under the statement's conditions.
  bool Live = false;
  int LiveIndex = engine::TIndexFile::kPhysicalOrder;
  std::unique_ptr<TDataFile> Result;
  std::vector<std::uint8_t> Row, Found;
  std::uint32_t RowsAffected = 0;
  // Progress.
  const TQueryProgress* Progress = nullptr;
  bool Aborted = false;
  bool FirstRow = true;
  std::uint64_t DrivingRecord = 0, RememberedRecord = 0;
  int Counter = 0;
  std::int64_t DrivingCount = -1;
  // Data-changing statements collect the records to change first.
  std::vector<std::vector<std::uint8_t>> Marked;
};

namespace {

class TJoinReader : public TRowReader {
 public:
  explicit TJoinReader(std::vector<TSourceRun>& runs) : runs_(runs) {}
  TSqlValue Column(const TQueryExprNode& column) override {
    if (column.SourceIndex < 0 || static_cast<std::size_t>(column.SourceIndex) >= runs_.size()) {
      return TSqlValue::Null();
    }
    TSourceRun& run = runs_[static_cast<std::size_t>(column.SourceIndex)];
    if (run.NullRow) return TSqlValue::Null();
    return run.Reader->Column(column);
  }

 private:
  std::vector<TSourceRun>& runs_;
};

}  // namespace

TDataQuery::TDataQuery(const TSqlEnvironment& environment) : parser_(environment) {}

TDataQuery::~TDataQuery() = default;

engine::TDataFile* TDataQuery::ResultCursor() const {
  if (!execution_) return nullptr;
  return execution_->Live ? execution_->Runs[0].Table.get() : execution_->Result.get();
}

bool TDataQuery::LiveResult() const {
  return execution_ && execution_->Live;
}

std::uint32_t TDataQuery::RowsAffected() const {
  return execution_ ? execution_->RowsAffected : 0;
}

void TDataQuery::BindParameter(std::size_t index, const TSqlValue& value) {
  const auto& parameters = Parameters();
  if (index >= parameters.size()) RaiseSqlError("Too many parameter values for the statement");
  TQueryExprNode& node = *parameters[index];
  TSqlValue converted = value;
  if (node.DataType != kTypeNull && node.DataType != value.Type && !value.IsNull()) {
    TSqlValue out;
    if (ConvertValue(value, node.DataType, parser_.Environment(), out)) converted = out;
  }
  int type = node.DataType, size = node.Size;
  SetConstant(node, converted);
  if (converted.IsNull()) {
    node.IsNull = true;
    node.DataType = type;
    node.Size = size;
  }
}

void TDataQuery::Open(std::string_view text, const TQuerySettings& settings) {
  execution_.reset();
  try {
    OpenStatement(text, settings);
  } catch (...) {
    execution_.reset();
    throw;
  }
}

// "*" and "t.*" expand into the fields of the tables, in FROM order.
void TDataQuery::ExpandStarColumns(const std::vector<std::unique_ptr<engine::TDataFile>>& tables) {
  std::vector<TResultDataField> expanded;
  for (TResultDataField& field : ResultFields) {
    const TQueryExprNode& e = *field.Expression;
    if (e.NodeClass == kNodeColumn && e.ColumnName == "*") {
      if (!field.Alias.empty()) {
        RaiseSqlError("Invalid use of column correlation name '" + field.Alias + "' for '" + field.SourceText +
                      "' specified in source columns");
      }
      bool found = e.CorrelationName.empty();
      for (std::size_t i = 0; i < Sources.size(); ++i) {
        if (!e.CorrelationName.empty() && !EqualIgnoringCase(e.CorrelationName, Sources[i].CorrelationName)) continue;
        found = true;
        for (const engine::TFieldDescriptor& f : tables[i]->LogicalFields()) {
          // A table saved from an earlier result carries the result's own row number field.
          if (EqualIgnoringCase(f.FieldName, kRowNumberField)) {
            RaiseSqlError("Invalid use of reserved field name '" + f.FieldName + "'in source columns");
          }
          TResultDataField column;
          column.Expression = MakeNode(kNodeColumn, op::kNone, Sources[i].CorrelationName + "." + f.FieldName);
          column.Expression->ColumnName = f.FieldName;
          column.Expression->CorrelationName = Sources[i].CorrelationName;
          column.SourceText = column.Expression->Name;
          expanded.push_back(std::move(column));
        }
      }
      if (!found) {
        RaiseSqlError("Invalid column name '*' or table correlation name '" + e.CorrelationName +
                      "' specified in source columns");
      }
    } else {
      if (e.NodeClass == kNodeColumn && EqualIgnoringCase(e.ColumnName, kRowNumberField)) {
        RaiseSqlError("Invalid use of reserved field name '" + e.ColumnName + "'in source columns");
      }
      expanded.push_back(std::move(field));
    }
  }
  ResultFields = std::move(expanded);
}

namespace {

// While another process holds a table for itself every open is refused with access denied; the
// statement waits for its turn, as the shell's commands do, and then says who holds it.
void OpenInTurn(TDataFile& table, std::uint32_t waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    try {
      table.Open();
      return;
    } catch (const engine::EEngineError& e) {
      if (e.Code() != engine::err::kAccessDenied) throw;
      if (std::chrono::steady_clock::now() >= deadline) {
        throw engine::EEngineError(e.Code(), std::string(e.what()) + ": another process holds the table (waited " +
                                                 std::to_string(waitMs / 1000) + " s)");
      }
    }
    platform::SleepMs(50);
  }
}

}  // namespace

void TDataQuery::OpenStatement(std::string_view text, const TQuerySettings& settings) {
  Parse(text);
  auto execution = std::make_unique<TQueryExecution>();
  TQueryExecution& x = *execution;
  x.Settings = settings;
  const bool changes = Kind != TStatementKind::Select;

  // Source tables, in physical order.
  for (const TSourceDataFile& source : Sources) {
    auto table = std::make_unique<TDataFile>();
    table->SetFileName(HasDirectory(source.Path) ? source.Path : InDirectory(settings.DatabaseDirectory, source.Path));
    table->SetInMemory(source.InMemory);
    table->SetReadOnly(!changes && !settings.RequestLive);
    table->SetStrictChangeDetection(settings.StrictChangeDetection);
    table->LockRetryCount = settings.LockRetryCount;
    table->LockWaitTime = settings.LockWaitTime;
    if (settings.PasswordCallback) table->SetPasswordCallback(settings.PasswordCallback);
    OpenInTurn(*table, settings.TurnWaitMs);
    x.Tables.push_back(std::move(table));
  }

  if (Kind == TStatementKind::Select) ExpandStarColumns(x.Tables);

  TResolver resolver;
  resolver.Tables = &x.Tables;
  resolver.Sources = &Sources;
  Check(resolver);

  x.Runs.resize(Sources.size());
  for (std::size_t i = 0; i < Sources.size(); ++i) {
    TSourceRun& run = x.Runs[i];
    run.Table = std::move(x.Tables[i]);
    run.Buffer.assign(run.Table->RecordBufferSize(), 0);
    run.Reader = std::make_unique<TRecordReader>(*run.Table);
    run.Reader->SetRecord(run.Buffer.data());
    // The join position, not the number written: a RIGHT JOIN's table stands first and drives.
    run.Level = static_cast<int>(i) + 1;
  }
  x.Tables.clear();
  execution_ = std::move(execution);
  PlanConditions();
  if (Kind == TStatementKind::Select) PlanResult();
}

namespace {

// The top-level AND parts of a condition, each owned on its own.
std::vector<std::unique_ptr<TQueryExprNode>> SplitAndParts(std::unique_ptr<TQueryExprNode> rest) {
  std::vector<std::unique_ptr<TQueryExprNode>> parts;
  while (rest && rest->NodeClass == kNodeBinary && rest->Operator == op::kAnd && rest->First && rest->Second()) {
    std::unique_ptr<TQueryExprNode> left = std::move(rest->First);
    std::unique_ptr<TQueryExprNode> right = std::move(left->Next);
    parts.push_back(std::move(left));
    rest = std::move(right);
  }
  if (rest) parts.push_back(std::move(rest));
  return parts;
}

TPlannedLink* FindLink(TQueryExecution& x, int source, int target) {
  for (TPlannedLink& link : x.Links) {
    if (link.Source == source && link.Target == target) return &link;
  }
  return nullptr;
}

bool IsLinkTarget(const TQueryExecution& x, int target) {
  return std::any_of(x.Links.begin(), x.Links.end(), [&](const TPlannedLink& l) { return l.Target == target; });
}

int& LevelOf(TQueryExecution& x, int source) {
  return x.Runs[static_cast<std::size_t>(source)].Level;
}

// A comparison between tables joins one table to one other, so neither side may name two.
void CheckJoinOperands(const TQueryExprNode& l, const TQueryExprNode& r, std::size_t tableCount) {
  std::vector<bool> left(tableCount, false), right(tableCount, false);
  CollectSources(l, left);
  CollectSources(r, right);
  if (std::count(left.begin(), left.end(), true) > 1 || std::count(right.begin(), right.end(), true) > 1) {
    RaiseSqlError(
        "The join condition cannot contain multiple table correlation names in either the left or right operand "
        "in WHERE or JOIN clause");
  }
}

// Adds a comparison of two tables' columns to the link between them. A link already planned
// between the two keeps its direction; otherwise the link runs from the earlier table to the
// later one. A table can be the target of one link only, so an inner join turns the link
// around, or places its target later, rather than give a table a second source.
void AddLinkCondition(TQueryExecution& x, std::unique_ptr<TQueryExprNode> part) {
  const TQueryExprNode* sc = part->First.get();
  const TQueryExprNode* tc = part->Second();
  int s = sc->SourceIndex, t = tc->SourceIndex;
  int oper = part->Operator;
  const int kind = part->JoinKind == kJoinNone ? kJoinInner : part->JoinKind;
  bool swap = false;
  bool raiseTarget = false;
  if (FindLink(x, s, t)) {
    LevelOf(x, t) = std::max(LevelOf(x, t), LevelOf(x, s) + 1);
  } else if (FindLink(x, t, s)) {
    swap = true;
    LevelOf(x, s) = std::max(LevelOf(x, s), LevelOf(x, t) + 1);
  } else if (LevelOf(x, t) < LevelOf(x, s)) {
    if (kind == kJoinInner && IsLinkTarget(x, s)) {
      LevelOf(x, t) = LevelOf(x, s) + 1;
    } else {
      swap = true;
    }
  } else if (IsLinkTarget(x, t) && kind == kJoinInner && !IsLinkTarget(x, s)) {
    swap = true;
    raiseTarget = true;
  }
  if (swap) {
    std::swap(s, t);
    std::swap(sc, tc);
    oper = Mirrored(oper);
  }
  if (raiseTarget) LevelOf(x, t) = LevelOf(x, s) + 1;
  TPlannedLink* link = FindLink(x, s, t);
  if (!link) {
    x.Links.push_back(TPlannedLink{s, t, kind, {}});
    link = &x.Links.back();
  } else if (kind == kJoinLeftOuter) {
    link->JoinKind = kJoinLeftOuter;
  }
  link->Conditions.push_back(TLinkCondition{sc, tc, oper});
  x.OwnedParts.push_back(std::move(part));
}

// A table reached from two different tables cannot be placed in one nested loop.
void AssignIncomingLinks(TQueryExecution& x, const std::vector<TSourceDataFile>& sources) {
  for (std::size_t t = 0; t < x.Runs.size(); ++t) {
    int source = -1;
    for (std::size_t i = 0; i < x.Links.size(); ++i) {
      if (x.Links[i].Target != static_cast<int>(t)) continue;
      if (source >= 0 && source != x.Links[i].Source) {
        RaiseSqlError("Internal join error - table correlation name \"" + sources[t].CorrelationName +
                      "\" is target of multiple join conditions in WHERE or JOIN clause");
      }
      source = x.Links[i].Source;
      x.Runs[t].IncomingLink = static_cast<int>(i);
    }
  }
}

// Every link must lead to a later table; levels are raised until they do. A cycle of links
// would raise them for ever, so it is refused. The nested loop then takes the tables by level.
void OrderSourcesByLevel(TQueryExecution& x) {
  const std::size_t n = x.Runs.size();
  for (std::size_t pass = 0;; ++pass) {
    bool changed = false;
    for (const TPlannedLink& link : x.Links) {
      if (LevelOf(x, link.Target) <= LevelOf(x, link.Source)) {
        LevelOf(x, link.Target) = LevelOf(x, link.Source) + 1;
        changed = true;
      }
    }
    if (!changed) break;
    if (pass > n) RaiseSqlError("Internal join error attempting to validate table correlation names involved in join");
  }
  for (std::size_t i = 0; i < n; ++i) x.Order.push_back(static_cast<int>(i));
  std::stable_sort(x.Order.begin(), x.Order.end(), [&](int a, int b) { return LevelOf(x, a) < LevelOf(x, b); });
}

}  // namespace

// Each part of the condition becomes a link between two tables (a comparison of their
// columns), a filter of the one table it names, or a part of the residual condition tested on
// the joined row.
void TDataQuery::PlanConditions() {
  TQueryExecution& x = *execution_;
  const std::size_t n = x.Runs.size();
  std::vector<std::unique_ptr<TQueryExprNode>> parts = SplitAndParts(std::move(Condition));
  std::vector<std::vector<std::unique_ptr<TQueryExprNode>>> filters(n);
  std::vector<std::unique_ptr<TQueryExprNode>> residual;
  for (std::unique_ptr<TQueryExprNode>& part : parts) {
    std::vector<bool> used(n, false);
    CollectSources(*part, used);
    const auto tables = std::count(used.begin(), used.end(), true);
    TQueryExprNode* l = part->First.get();
    TQueryExprNode* r = part->Second();
    const bool comparison = part->NodeClass == kNodeBinary && IsComparison(part->Operator) && l && r;
    if (comparison && tables >= 2 && (IsPlainColumn(l) || IsPlainColumn(r))) CheckJoinOperands(*l, *r, n);
    if (comparison && IsPlainColumn(l) && IsPlainColumn(r) && l->SourceIndex != r->SourceIndex) {
      AddLinkCondition(x, std::move(part));
    } else if (tables == 1) {
      std::size_t table = static_cast<std::size_t>(std::find(used.begin(), used.end(), true) - used.begin());
      FoldConstants(part);
      ConvertComparedConstants(*part, parser_.Environment());
      RewritePrefixes(*part);
      filters[table].push_back(std::move(part));
    } else {
      residual.push_back(std::move(part));
    }
  }
  AssignIncomingLinks(x, Sources);
  OrderSourcesByLevel(x);
  for (std::size_t i = 0; i < n; ++i) x.Runs[i].FilterTree = JoinWithAnd(std::move(filters[i]));
  x.Residual = JoinWithAnd(std::move(residual));
}

namespace {

constexpr const char* kAggregatePrefixes[] = {"", "Sum Of ", "Min Of ", "Max Of ", "Average Of ", "Count Of "};

// Hands out result column names that no column before, nor the result table's own fields,
// carries: "_1", "_2", ... replace the end of a taken one. The names taken are kept in a set and
// each name remembers the suffix to try next, so n columns of one name cost about n steps, not
// n squared comparisons per suffix.
class TColumnNamer {
 public:
  TColumnNamer() {
    taken_.insert(LowerAsciiText(kRowNumberField));
    taken_.insert(LowerAsciiText(kAvgCountField));
  }
  std::string Name(const std::string& name) {
    const std::string key = LowerAsciiText(name);
    if (taken_.insert(key).second) return name;
    int& k = nextSuffix_[key];
    for (;;) {
      const std::string suffix = "_" + std::to_string(++k);
      std::string candidate = name.substr(0, kMaxResultName - suffix.size()) + suffix;
      if (taken_.insert(LowerAsciiText(candidate)).second) return candidate;
    }
  }

 private:
  std::unordered_set<std::string> taken_;
  std::unordered_map<std::string, int> nextSuffix_;
};

// An index has at most 16 key fields, and BLOB fields cannot be keys.
void CheckKeyColumns(const TQueryExecution& x, const std::vector<engine::TFieldDescriptor>& fields) {
  // The ORDER BY index needs one key field for Row___No.
  if (x.OrderColumns.size() + 1 > static_cast<std::size_t>(engine::kMaxKeyFields)) {
    RaiseSqlError("Maximum number of columns (15) in ORDER BY clause exceeded");
  }
  if (x.GroupColumns.size() > static_cast<std::size_t>(engine::kMaxKeyFields)) {
    RaiseSqlError("Maximum number of columns (16) in GROUP BY clause exceeded");
  }
  for (int c : x.GroupColumns) {
    if (fields[static_cast<std::size_t>(c) + 1].IsBlob()) {
      RaiseSqlError("Invalid use of a BLOB column '" + x.Columns[static_cast<std::size_t>(c)].Name +
                    "' in a DISTINCT or GROUP BY clause");
    }
  }
  for (int c : x.OrderColumns) {
    if (fields[static_cast<std::size_t>(c) + 1].IsBlob()) {
      RaiseSqlError("Invalid use of a BLOB column '" + x.Columns[static_cast<std::size_t>(c)].Name +
                    "' in an ORDER BY clause");
    }
  }
}

// An index keyed on result columns (field numbers past Row___No).
engine::TIndexDescriptor KeyIndex(const std::string& name, const std::vector<int>& columns) {
  engine::TIndexDescriptor d;
  d.IndexName = name;
  for (std::size_t i = 0; i < columns.size(); ++i) d.KeyFields[i] = static_cast<std::int16_t>(columns[i] + 2);
  d.KeyFieldCount = static_cast<std::uint8_t>(columns.size());
  return d;
}

}  // namespace

// Aggregates without GROUP BY are allowed only when every result column is one: the whole
// result is then one group. DISTINCT adds nothing to grouped rows.
void TDataQuery::PlanGrouping() {
  TQueryExecution& x = *execution_;
  if (Distinct && HasGroupBy) Distinct = false;
  const bool allAggregates =
      !ResultFields.empty() && std::all_of(ResultFields.begin(), ResultFields.end(),
                                           [](const TResultDataField& f) { return f.AggregateKind != kAggregateNone; });
  if (!HasGroupBy && !allAggregates) {
    for (const TResultDataField& f : ResultFields) {
      if (f.AggregateKind != kAggregateNone) {
        RaiseSqlError("Invalid use of aggregate function for column '" + f.SourceText +
                      "', the necessary GROUP BY clause is missing");
      }
    }
  }
  x.Grouped = HasGroupBy || allAggregates;
  if (x.Grouped) Distinct = false;
}

// The alias, else the column's own name with the aggregate's prefix, cut to the longest result
// name.
std::string TDataQuery::ResultColumnName(const TResultDataField& f) const {
  const TQueryExecution& x = *execution_;
  const TQueryExprNode& e = *f.Expression;
  const TQueryExprNode* argument = f.AggregateKind != kAggregateNone ? e.First.get() : &e;
  std::string name;
  if (!f.Alias.empty()) {
    name = f.Alias;
  } else if (argument && argument->NodeClass == kNodeColumn) {
    std::string column = argument->ColumnName;
    if (IsPlainColumn(argument)) {
      column = x.Runs[static_cast<std::size_t>(argument->SourceIndex)]
                   .Table->GetFieldDescriptor(true, argument->FieldNumber)
                   .FieldName;
    }
    name = kAggregatePrefixes[f.AggregateKind] + column;
  } else {
    name = f.AggregateKind != kAggregateNone ? std::string(kAggregatePrefixes[f.AggregateKind]) + "Expr" : "Expression";
  }
  return name.substr(0, kMaxResultName);
}

// A plain column keeps its source field's type without the source's checks and defaults; an
// expression or aggregate gets a field of the type it yields.
engine::TFieldDescriptor TDataQuery::ResultFieldDescriptor(const TResultDataField& f) const {
  const TQueryExecution& x = *execution_;
  const TQueryExprNode& e = *f.Expression;
  engine::TFieldDescriptor d;
  if (f.AggregateKind == kAggregateNone && IsPlainColumn(&e)) {
    d = x.Runs[static_cast<std::size_t>(e.SourceIndex)].Table->GetFieldDescriptor(true, e.FieldNumber);
    if (d.IsAutoInc()) d.SubType = 0;
    d.Required = false;
    d.MinValue.clear();
    d.MaxValue.clear();
    d.DefaultValue.clear();
    d.Computed = false;
    d.Expression.clear();
    return d;
  }
  int type = e.DataType;
  if (f.AggregateKind == kAggregateAvg) type = T(TFieldType::Float);
  if (f.AggregateKind == kAggregateCount) type = T(TFieldType::Integer);
  if (type == kTypeNull) type = T(TFieldType::String);
  const bool isString = type == T(TFieldType::String);
  if ((isString && e.Size > 251) || (!isString && e.Size > 250)) {
    RaiseSqlError("Column expression '" + f.SourceText + "' exceeds the maximum allowable field size");
  }
  d.FieldType = static_cast<std::uint8_t>(type);
  d.SubType = static_cast<std::uint8_t>(f.AggregateKind == kAggregateNone || f.AggregateKind == kAggregateSum ||
                                                f.AggregateKind == kAggregateMin || f.AggregateKind == kAggregateMax
                                            ? e.SubType
                                            : 0);
  if (type == T(TFieldType::Integer) && d.SubType == engine::kSubTypeAutoInc) d.SubType = 0;
  if (isString) d.DeclaredSize = static_cast<std::uint8_t>(std::max(1, e.Size - 1));
  if (type == T(TFieldType::Bcd)) {
    d.DeclaredSize = 32;
    d.Decimals = static_cast<std::uint8_t>(e.Scale > 0 ? e.Scale : 4);
  }
  if (type == T(TFieldType::Bytes) || type == T(TFieldType::VarBytes)) {
    d.DeclaredSize = static_cast<std::uint8_t>(std::max(1, e.Size));
  }
  return d;
}

// The result table's fields: Row___No, one per result column, and the row count of averages
// when there are any. Fills the execution's column list on the way.
std::vector<engine::TFieldDescriptor> TDataQuery::PlanResultFields() {
  TQueryExecution& x = *execution_;
  std::vector<engine::TFieldDescriptor> fields;
  engine::TFieldDescriptor rowNumber;
  rowNumber.FieldName = kRowNumberField;
  rowNumber.FieldType = static_cast<std::uint8_t>(TFieldType::Integer);
  rowNumber.SubType = engine::kSubTypeAutoInc;
  fields.push_back(rowNumber);
  bool hasAvg = false;
  // More columns than a table has fields is refused before any is named.
  if (ResultFields.size() + 1 > static_cast<std::size_t>(engine::kMaxFields)) {
    engine::RaiseEngineError(engine::err::kFieldLimits, ResultTableName);
  }
  TColumnNamer namer;
  for (std::size_t i = 0; i < ResultFields.size(); ++i) {
    const TResultDataField& f = ResultFields[i];
    const std::string name = namer.Name(ResultColumnName(f));
    engine::TFieldDescriptor d = ResultFieldDescriptor(f);
    if (f.AggregateKind == kAggregateAvg) hasAvg = true;
    d.FieldNumber = 0;
    d.FieldName = name;
    fields.push_back(std::move(d));
    x.Columns.push_back(TResultColumn{static_cast<int>(i) + 2, name});
  }
  if (hasAvg) {
    engine::TFieldDescriptor count;
    count.FieldName = kAvgCountField;
    count.FieldType = static_cast<std::uint8_t>(TFieldType::Integer);
    fields.push_back(count);
    x.AvgCountField = static_cast<int>(fields.size());
  }
  return fields;
}

// An ORDER BY or GROUP BY item names a result column: by number, by result name, or by the
// source column a plain result column shows. Answers the 0-based result column index.
int TDataQuery::ResolveResultColumn(int number, const std::string& column, const std::string& correlation,
                                    const char* clause) const {
  const TQueryExecution& x = *execution_;
  if (number != 0 || column.empty()) {
    if (number < 1 || static_cast<std::size_t>(number) > x.Columns.size()) {
      RaiseSqlError("Invalid column number '" + std::to_string(number) + "' specified in " + clause);
    }
    return number - 1;
  }
  for (std::size_t i = 0; i < x.Columns.size() && correlation.empty(); ++i) {
    if (EqualIgnoringCase(x.Columns[i].Name, column)) return static_cast<int>(i);
  }
  for (std::size_t i = 0; i < ResultFields.size(); ++i) {
    const TQueryExprNode& e = *ResultFields[i].Expression;
    if (ResultFields[i].AggregateKind != kAggregateNone || !IsPlainColumn(&e)) continue;
    const std::size_t s = static_cast<std::size_t>(e.SourceIndex);
    if (!correlation.empty() && !EqualIgnoringCase(Sources[s].CorrelationName, correlation)) continue;
    if (EqualIgnoringCase(x.Runs[s].Table->GetFieldDescriptor(true, e.FieldNumber).FieldName, column)) {
      return static_cast<int>(i);
    }
  }
  RaiseSqlError("Invalid column name '" + column + "' or table correlation name '" + correlation + "' specified in " +
                clause);
}

// The result columns of ORDER BY, and of GROUP BY or DISTINCT (which groups by every column).
void TDataQuery::PlanOrdering() {
  TQueryExecution& x = *execution_;
  for (const TOrderByDataField& o : OrderByFields) {
    x.OrderColumns.push_back(ResolveResultColumn(o.ColumnNumber, o.ColumnName, o.CorrelationName, "ORDER BY clause"));
    x.OrderDescending.push_back(o.Descending);
  }
  for (const TGroupByDataField& g : GroupByFields) {
    x.GroupColumns.push_back(ResolveResultColumn(g.ColumnNumber, g.ColumnName, g.CorrelationName, "GROUP BY clause"));
  }
  if (Distinct) {
    if (x.Columns.size() > static_cast<std::size_t>(kMaxDistinctColumns)) {
      RaiseSqlError("Maximum number of columns (16) in DISTINCT clause exceeded");
    }
    for (std::size_t i = 0; i < x.Columns.size(); ++i) x.GroupColumns.push_back(static_cast<int>(i));
  }
}

// The result table sorts, groups and removes duplicates through its indexes. With ORDER BY the
// primary index orders the rows (its columns, then Row___No to keep equal keys in arrival order)
// and a second index finds a row's group when the grouping differs from the ordering; without
// it the primary index is the grouping key, or Row___No alone.
engine::TTableDefinition TDataQuery::ResultTableDefinition(std::vector<engine::TFieldDescriptor> fields) {
  TQueryExecution& x = *execution_;
  engine::TTableDefinition definition;
  definition.Fields = std::move(fields);
  const bool hasOrder = !x.OrderColumns.empty();
  const bool hasGroupKey = !x.GroupColumns.empty();
  if (hasOrder) {
    engine::TIndexDescriptor d = KeyIndex("", x.OrderColumns);
    for (std::size_t i = 0; i < x.OrderColumns.size(); ++i) d.FieldDescending[i] = x.OrderDescending[i] ? 1 : 0;
    d.KeyFields[x.OrderColumns.size()] = 1;
    d.KeyFieldCount = static_cast<std::uint8_t>(x.OrderColumns.size() + 1);
    d.CaseInsensitive = NoCase;
    definition.Indexes.push_back(d);
    if (hasGroupKey) {
      const bool same = !NoCase && x.GroupColumns == x.OrderColumns &&
                        std::none_of(x.OrderDescending.begin(), x.OrderDescending.end(), [](bool b) { return b; });
      if (!same) {
        x.GroupIndexName = Distinct ? "Distinct" : "GroupBy";
        definition.Indexes.push_back(KeyIndex(x.GroupIndexName, x.GroupColumns));
      }
    }
  } else if (hasGroupKey) {
    definition.Indexes.push_back(KeyIndex("", x.GroupColumns));
  } else {
    engine::TIndexDescriptor d;
    d.KeyFields[0] = 1;
    d.KeyFieldCount = 1;
    d.Unique = true;
    definition.Indexes.push_back(d);
  }
  x.GroupKeyCount = static_cast<int>(x.GroupColumns.size());
  return definition;
}

// INTO names the result table (in the session's private directory when no directory is
// given); otherwise it is a temporary table dropped on close.
void TDataQuery::CreateResultTable(const engine::TTableDefinition& definition) {
  TQueryExecution& x = *execution_;
  std::string name;
  engine::TFileSession& session = engine::Session();
  if (!ResultTableName.empty()) {
    name = ResultTableName;
    if (!HasDirectory(name)) {
      std::string dir = session.PrivateDir();
      if (!Trim(dir).empty()) name = InDirectory(dir, name);
    }
  } else {
    name = session.MakeTempTableName(ResultInMemory);
  }
  auto result = std::make_unique<TDataFile>();
  result->SetFileName(name);
  result->SetInMemory(ResultInMemory);
  result->SetExclusive(true);
  result->CreateTable(definition);
  result->SetDeleteOnClose(ResultTableName.empty());
  result->Open();
  x.Row.assign(result->RecordBufferSize(), 0);
  x.Found.assign(result->RecordBufferSize(), 0);
  x.Result = std::move(result);
}

void TDataQuery::PlanResult() {
  TQueryExecution& x = *execution_;
  PlanGrouping();
  std::vector<engine::TFieldDescriptor> fields = PlanResultFields();
  PlanOrdering();
  CheckKeyColumns(x, fields);
  if (x.Settings.RequestLive && LiveResultPossible()) return;
  CreateResultTable(ResultTableDefinition(std::move(fields)));
  // A single-table COUNT takes the table's record count.
  x.CountOnly =
      x.Runs.size() == 1 && ResultFields.size() == 1 && ResultFields[0].AggregateKind == kAggregateCount && !x.Residual;
}

bool TDataQuery::LiveResultPossible() {
  TQueryExecution& x = *execution_;
  if (x.Runs.size() != 1 || Distinct || HasGroupBy || x.Grouped || !ResultTableName.empty()) return false;
  for (const TResultDataField& f : ResultFields) {
    if (f.AggregateKind != kAggregateNone || !IsPlainColumn(f.Expression.get())) return false;
  }
  TDataFile& table = *x.Runs[0].Table;
  if (x.OrderColumns.empty()) {
    x.Live = true;
    x.LiveIndex = engine::TIndexFile::kPhysicalOrder;
    return true;
  }
  // An ORDER BY is kept only when an index of the table gives exactly that order.
  engine::TIndexFile& indexes = table.IndexFile();
  for (int number = 0; number <= indexes.IndexCount(); ++number) {
    if (number == 0 && indexes.NoPrimaryIndex()) continue;
    const engine::TIndexDescriptor d = indexes.GetIndexDescriptor(number);
    if (d.KeyFieldCount != x.OrderColumns.size() || d.CaseInsensitive != NoCase) continue;
    bool same = true;
    for (std::size_t i = 0; i < x.OrderColumns.size() && same; ++i) {
      const TQueryExprNode& column = *ResultFields[static_cast<std::size_t>(x.OrderColumns[i])].Expression;
      const bool descending = d.Descending || d.FieldDescending[i] != 0;
      same = d.KeyFields[i] == column.FieldNumber && descending == x.OrderDescending[i];
    }
    if (!same) continue;
    x.Live = true;
    x.LiveIndex = number;
    return true;
  }
  return false;
}

void TDataQuery::InstallFilters() {
  TQueryExecution& x = *execution_;
  for (TSourceRun& run : x.Runs) {
    run.Table->RemoveFilter(0);
    run.FilterHandle = run.LinkHandle = 0;
    run.NullRow = false;
    run.OwnFilter.reset();
    run.LookupState = TSourceRun::TLookup::Unused;
    run.ProbeWanted = run.ProbeBuilt = false;
    run.IntegerProbe.clear();
    run.TextProbe.clear();
    if (run.IncomingLink >= 0) {
      const TPlannedLink& link = x.Links[static_cast<std::size_t>(run.IncomingLink)];
      bool indexed = false;
      const int index = LookupIndex(link, indexed);
      if (index != kNoLookup) {
        run.LookupField = link.Conditions[0].TargetColumn->FieldNumber;
        run.LookupKey.assign(run.Table->RecordBufferSize(), 0);
        run.ProbeWanted = run.Table->PhysicalRecordCount() <= x.Settings.MaxProbeRecords;
        if (!run.ProbeWanted && indexed && !run.Lookup) {
          run.Lookup = run.Table->CloneCursor();
          run.Lookup->SelectIndex(index);
        }
      }
    }
    run.DeferredFilter = false;
    if (run.FilterTree) run.OwnFilter = TFilter::FromBorrowedTree(*run.Table, *run.FilterTree);
  }
  // Activating a filter evaluates it over the table at once, so a deferred one never is.
  DeferDrivingFilter();
  PlanDrivingKeyRange();
  UsePhysicalOrder();
  for (TSourceRun& run : x.Runs) {
    if (!run.OwnFilter || run.DeferredFilter || run.KeyRangeDriving) continue;
    run.FilterHandle = run.Table->AddFilter(run.OwnFilter, nullptr, true);
    run.Table->ActivateFilter(run.FilterHandle);
  }
}

void TDataQuery::DeferDrivingFilter() {
  TQueryExecution& x = *execution_;
  const int driving = x.Order.empty() ? -1 : x.Order[0];
  if (driving < 0 || x.Runs.size() < 2 || Kind != TStatementKind::Select) return;
  TSourceRun& run = x.Runs[static_cast<std::size_t>(driving)];
  if (!run.OwnFilter || run.OwnFilter->OptimisationGrade() != 0) return;
  bool linked = false;
  for (const TPlannedLink& link : x.Links) {
    if (link.Source != driving) continue;
    const TSourceRun& target = x.Runs[static_cast<std::size_t>(link.Target)];
    if (!target.ProbeWanted) return;
    // Worth it only where the joined table's own conditions leave records out.
    linked = linked || (link.JoinKind == kJoinInner && target.FilterTree);
  }
  if (!linked) return;
  run.DeferredFilter = true;
}

// Which index answers a condition `column = value` of the run's AND chain, for an integer column
// leading an ascending index: the key then says exactly what the record test says.
bool TDataQuery::DrivingKeyRangeIndex(const TSourceRun& run, int& field, TSqlValue& value, int& index) const {
  std::vector<const TQueryExprNode*> pending{run.FilterTree.get()};
  std::vector<const TQueryExprNode*> equalities;
  while (!pending.empty()) {
    const TQueryExprNode* node = pending.back();
    pending.pop_back();
    if (node->NodeClass == kNodeBinary && node->Operator == op::kAnd) {
      pending.push_back(node->First.get());
      pending.push_back(node->Second());
    } else if (node->NodeClass == kNodeBinary && node->Operator == op::kEqual) {
      equalities.push_back(node);
    }
  }
  engine::TIndexFile& indexes = run.Table->IndexFile();
  for (const TQueryExprNode* node : equalities) {
    const TQueryExprNode* column = node->First.get();
    const TQueryExprNode* constant = node->Second();
    if (!IsPlainColumn(column)) std::swap(column, constant);
    if (!IsPlainColumn(column) || !constant || !constant->IsConstant()) continue;
    const TSqlValue v = ConstantValue(*constant);
    if (v.IsNull() || !IsIntegerKind(v.Type)) continue;
    const engine::TFieldDescriptor& d = run.Table->GetFieldDescriptor(true, column->FieldNumber);
    if (d.Computed) continue;
    std::int64_t low = 0, high = 0;
    switch (static_cast<TFieldType>(d.FieldType)) {
      case TFieldType::SmallInt:
        low = INT16_MIN, high = INT16_MAX;
        break;
      case TFieldType::Integer:
        low = INT32_MIN, high = INT32_MAX;
        break;
      case TFieldType::Word:
        high = UINT16_MAX;
        break;
      case TFieldType::LargeWord:
        high = UINT32_MAX;
        break;
      default:
        continue;
    }
    if (v.Int < low || v.Int > high) continue;
    for (int number = 0; number <= indexes.IndexCount(); ++number) {
      if (number == 0 && indexes.NoPrimaryIndex()) continue;
      const engine::TIndexDescriptor k = indexes.GetIndexDescriptor(number);
      if (k.KeyFieldCount == 0 || k.KeyFields[0] != column->FieldNumber || k.Descending || k.FieldDescending[0])
        continue;
      field = column->FieldNumber;
      value = v;
      index = number;
      return true;
    }
  }
  return false;
}

// A SELECT that pins its driving table to a few records by an index reads just those: a filter
// would size its bitmaps, and the cursor's, to the whole table for every statement. The range
// must stay small beside the table, else the filter's bitmaps are the cheaper answer. Equal keys
// of an index come in record-number order, so the rows are produced in the order a scan gives.
void TDataQuery::PlanDrivingKeyRange() {
  TQueryExecution& x = *execution_;
  for (TSourceRun& run : x.Runs) {
    run.KeyRangeDriving = false;
    run.KeyRangeRecords.clear();
  }
  if (Kind != TStatementKind::Select || x.Live || x.CountOnly || x.Order.empty()) return;
  TSourceRun& run = x.Runs[static_cast<std::size_t>(x.Order[0])];
  if (!run.OwnFilter || run.DeferredFilter || run.OwnFilter->OptimisationGrade() == 0) return;
  int field = 0, index = 0;
  TSqlValue value;
  if (!DrivingKeyRangeIndex(run, field, value, index)) return;
  // The table's own cursor walks the range: it holds the statement's read lock already, and a
  // second cursor would open the files again. The next run selects physical order afresh.
  TDataFile& range = *run.Table;
  range.SelectIndex(index);
  std::vector<std::uint8_t> key(range.RecordBufferSize(), 0);
  range.InitRecord(key.data());
  PutValue(range, field, value, key.data());
  range.SetRange(key.data(), false, 1, key.data(), false, 1);
  if (range.RecordCount() > range.PhysicalRecordCount() / 64 + 16) return;
  std::vector<std::uint8_t> record(run.Buffer.size(), 0);
  range.First();
  while (range.Next(record.data()) == 0) {
    if (run.OwnFilter->Passes(range, record.data(), 0)) run.KeyRangeRecords.push_back(record);
  }
  run.KeyRangeDriving = true;
}

bool TDataQuery::JoinsNothing(int source) const {
  const TQueryExecution& x = *execution_;
  for (const TPlannedLink& link : x.Links) {
    if (link.Source == source && link.JoinKind == kJoinInner &&
        x.Runs[static_cast<std::size_t>(link.Target)].LookupState == TSourceRun::TLookup::NoMatch) {
      return true;
    }
  }
  return false;
}

int TDataQuery::LookupIndex(const TPlannedLink& link, bool& indexed) const {
  indexed = false;
  if (link.Conditions.size() != 1 || link.Conditions[0].Operator != op::kEqual) return kNoLookup;
  const TLinkCondition& c = link.Conditions[0];
  TDataFile& target = *execution_->Runs[static_cast<std::size_t>(link.Target)].Table;
  TDataFile& source = *execution_->Runs[static_cast<std::size_t>(link.Source)].Table;
  const engine::TFieldDescriptor& t = target.GetFieldDescriptor(true, c.TargetColumn->FieldNumber);
  const engine::TFieldDescriptor& s = source.GetFieldDescriptor(true, c.SourceColumn->FieldNumber);
  // Only the same kind of value on both sides finds by key exactly what "=" finds.
  if (t.FieldType != s.FieldType || t.Computed) return kNoLookup;
  switch (static_cast<TFieldType>(t.FieldType)) {
    case TFieldType::String:
    case TFieldType::SmallInt:
    case TFieldType::Integer:
    case TFieldType::Word:
    case TFieldType::LargeWord:
    case TFieldType::Date:
    case TFieldType::Time:
      break;
    default:
      return kNoLookup;
  }
  if (t.FieldType == T(TFieldType::String) && target.LocaleId() != 0) return kNoLookup;
  if (target.PhysicalFieldCount() != target.FieldCount() || target.HasComputed()) return kNoLookup;
  engine::TIndexFile& indexes = target.IndexFile();
  for (int number = 0; number <= indexes.IndexCount(); ++number) {
    if (number == 0 && indexes.NoPrimaryIndex()) continue;
    const engine::TIndexDescriptor d = indexes.GetIndexDescriptor(number);
    if (d.KeyFieldCount == 0 || d.KeyFields[0] != t.FieldNumber || d.Descending || d.FieldDescending[0] != 0) {
      continue;
    }
    if (t.FieldType == T(TFieldType::String) && d.CaseInsensitive) continue;
    indexed = true;
    return number;
  }
  return -1;
}

void TDataQuery::BuildProbe(TSourceRun& run) {
  run.ProbeBuilt = true;
  TDataFile& table = *run.Table;
  if (run.LinkHandle != 0) table.DeactivateFilter(run.LinkHandle);
  const engine::TFieldDescriptor& d = table.GetFieldDescriptor(true, run.LookupField);
  const bool text = d.FieldType == T(TFieldType::String);
  std::vector<std::uint8_t> value(256);
  table.First();
  while (table.Next(run.Buffer.data()) == 0) {
    std::uint32_t number = 0;
    std::memcpy(&number, run.Buffer.data() + 1, 4);
    std::fill(value.begin(), value.end(), 0);
    if (!table.GetField(true, run.LookupField, run.Buffer.data(), value.data())) continue;  // NULL: filter path
    TSqlValue key = FieldValue(d.FieldType, d.SubType, value.data(), d.DataSize, true);
    if (text) {
      if (!key.IsNull()) run.TextProbe[key.Text].push_back(number);
    } else {
      run.IntegerProbe[key.Int].push_back(number);
    }
  }
  if (run.LinkHandle != 0) table.ActivateFilter(run.LinkHandle);
  if (text || run.IntegerProbe.empty()) return;
  std::int64_t low = run.IntegerProbe.begin()->first, high = low;
  for (const auto& [value, numbers] : run.IntegerProbe) {
    low = std::min(low, value);
    high = std::max(high, value);
  }
  constexpr std::uint64_t kMaxProbeBits = std::uint64_t{1} << 24;  // 2 MB of bits at most
  const std::uint64_t span = static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low) + 1;
  if (span == 0 || span > kMaxProbeBits) return;
  run.IntegerLow = low;
  run.IntegerBits.assign(static_cast<std::size_t>((span + 63) / 64), 0);
  for (const auto& [value, numbers] : run.IntegerProbe) {
    const std::uint64_t bit = static_cast<std::uint64_t>(value - low);
    run.IntegerBits[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
}

namespace {

// Whether an integer probe can hold the value at all.
bool MayHoldInteger(const TSourceRun& run, std::int64_t value) {
  if (run.IntegerBits.empty()) return true;
  if (value < run.IntegerLow) return false;
  const std::uint64_t bit = static_cast<std::uint64_t>(value) - static_cast<std::uint64_t>(run.IntegerLow);
  if (bit / 64 >= run.IntegerBits.size()) return false;
  return (run.IntegerBits[bit / 64] >> (bit % 64)) & 1;
}

// The probe's bits read against the outer record's stored integer, without making a value of
// it: in a selective join nearly every outer record stops here.
bool RuledOutByProbeBits(const TSourceRun& from, TSourceRun& target, const TQueryExprNode& sourceColumn) {
  if (target.IntegerSourceAt == 0) {
    target.IntegerSourceAt = -1;
    const engine::TFieldDescriptor& f = from.Table->GetFieldDescriptor(true, sourceColumn.FieldNumber);
    if (!target.IntegerBits.empty() && f.FieldType == T(TFieldType::Integer) && !f.IsAutoInc() && !f.IsBlob())
      target.IntegerSourceAt = f.Offset + 1;
  }
  if (target.IntegerSourceAt < 0) return false;
  const std::uint8_t* at = from.Reader->Record() + (target.IntegerSourceAt - 1);
  return at[0] == 1 && !MayHoldInteger(target, engine::GetI32(at + 1));
}

}  // namespace

void TDataQuery::SetLinkFilters(int source) {
  TQueryExecution& x = *execution_;
  TSourceRun& from = x.Runs[static_cast<std::size_t>(source)];
  for (const TPlannedLink& link : x.Links) {
    if (link.Source != source) continue;
    TSourceRun& target = x.Runs[static_cast<std::size_t>(link.Target)];
    if (target.Lookup || target.ProbeWanted) {
      const TLinkCondition& c = link.Conditions[0];
      if (target.ProbeBuilt && !from.NullRow && RuledOutByProbeBits(from, target, *c.SourceColumn)) {
        target.ProbeMatches = nullptr;
        target.LookupState = TSourceRun::TLookup::NoMatch;
        continue;
      }
      TSqlValue value = from.NullRow ? TSqlValue::Null() : from.Reader->Column(*c.SourceColumn);
      if (!value.IsNull()) {
        const engine::TFieldDescriptor& d = target.Table->GetFieldDescriptor(true, target.LookupField);
        if (d.FieldType == T(TFieldType::String) && value.Text.size() > d.DeclaredSize) {
          target.LookupState = TSourceRun::TLookup::NoMatch;
          continue;
        }
        if (target.ProbeWanted) {
          if (!target.ProbeBuilt) BuildProbe(target);
          target.ProbeMatches = nullptr;
          if (d.FieldType == T(TFieldType::String)) {
            auto found = target.TextProbe.find(value.Text);
            if (found != target.TextProbe.end()) target.ProbeMatches = &found->second;
          } else if (MayHoldInteger(target, value.Int)) {
            auto found = target.IntegerProbe.find(value.Int);
            if (found != target.IntegerProbe.end()) target.ProbeMatches = &found->second;
          }
          target.LookupState = target.ProbeMatches ? TSourceRun::TLookup::Probe : TSourceRun::TLookup::NoMatch;
          continue;
        }
        target.Lookup->InitRecord(target.LookupKey.data());
        PutValue(*target.Lookup, target.LookupField, value, target.LookupKey.data());
        target.Lookup->SetRange(target.LookupKey.data(), false, 1, target.LookupKey.data(), false, 1);
        target.LookupState = TSourceRun::TLookup::Range;
        continue;
      }
      // NULL meets NULL: the filter path handles it.
      target.LookupState = TSourceRun::TLookup::Filter;
    }
    std::vector<std::unique_ptr<TQueryExprNode>> parts;
    for (const TLinkCondition& c : link.Conditions) {
      TSqlValue value = from.NullRow ? TSqlValue::Null() : from.Reader->Column(*c.SourceColumn);
      auto constant = MakeNode(kNodeConstant, op::kNone, "value");
      SetConstant(*constant, value);
      auto compare = MakeBinary(Mirrored(c.Operator), "compare", CloneColumn(*c.TargetColumn), std::move(constant));
      compare->DataType = T(TFieldType::Boolean);
      compare->Size = 2;
      parts.push_back(std::move(compare));
    }
    auto filter = TFilter::FromTree(*target.Table, JoinWithAnd(std::move(parts)));
    if (target.LinkHandle == 0) {
      target.LinkHandle = target.Table->AddFilter(filter, nullptr, true);
      target.Table->ActivateFilter(target.LinkHandle);
    } else {
      target.Table->ChangeFilterExpression(target.LinkHandle, filter);
    }
  }
}

// Joins each record the probe holds for the outer record's value; answers whether there was one.
bool TDataQuery::JoinProbeMatches(std::size_t depth, const std::function<void()>& emit) {
  TQueryExecution& x = *execution_;
  const int index = x.Order[depth];
  TSourceRun& run = x.Runs[static_cast<std::size_t>(index)];
  bool produced = false;
  const std::vector<std::uint32_t>& matches = *run.ProbeMatches;
  const std::size_t size = run.Buffer.size();
  for (std::uint32_t number : matches) {
    if (x.Aborted) break;
    engine::TRecord* record = run.Table->FetchRecord(number);
    std::memcpy(run.Buffer.data(), record->Data.data(), std::min(size, record->Data.size()));
    run.Table->UnpinRecord(record);
    produced = true;
    SetLinkFilters(index);
    Join(depth + 1, emit);
  }
  return produced;
}

// Joins each record of the lookup cursor's key range that passes the table's own conditions.
bool TDataQuery::JoinKeyRange(std::size_t depth, const std::function<void()>& emit) {
  TQueryExecution& x = *execution_;
  const int index = x.Order[depth];
  TSourceRun& run = x.Runs[static_cast<std::size_t>(index)];
  bool produced = false;
  TDataFile& lookup = *run.Lookup;
  lookup.First();
  while (!x.Aborted && lookup.Next(run.Buffer.data()) == 0) {
    if (run.OwnFilter && !run.OwnFilter->Passes(lookup, run.Buffer.data(), 0)) continue;
    produced = true;
    SetLinkFilters(index);
    Join(depth + 1, emit);
  }
  return produced;
}

// Joins each record the table's cursor shows under its filters.
bool TDataQuery::JoinScannedRecords(std::size_t depth, const std::function<void()>& emit) {
  TQueryExecution& x = *execution_;
  const int index = x.Order[depth];
  TSourceRun& run = x.Runs[static_cast<std::size_t>(index)];
  bool produced = false;
  // What follows once the record's links are set.
  auto linked = [&] {
    if (run.DeferredFilter && (JoinsNothing(index) || !run.OwnFilter->Passes(*run.Table, run.Buffer.data(), 0))) {
      return;
    }
    produced = true;
    if (depth == 0) ++x.DrivingRecord;
    Join(depth + 1, emit);
  };
  if (depth == 0 && Kind == TStatementKind::Select) {
    // The driving table is read once from start to end: in blocks, past the record cache.
    // Its links are set from the record where it lies, and only a record that an inner link
    // does not already rule out is copied into the row buffer and joined further. UPDATE and
    // DELETE keep the cursor walk, since they mark the records by its position.
    const std::size_t size = run.Buffer.size();
    struct TPointBack {
      TSourceRun& Run;
      ~TPointBack() { Run.Reader->SetRecord(Run.Buffer.data()); }
    } pointBack{run};
    run.Table->ScanVisible([&](const std::uint8_t* record, std::uint32_t) {
      run.Reader->SetRecord(record);
      SetLinkFilters(index);
      if (JoinsNothing(index)) return !x.Aborted;
      std::memcpy(run.Buffer.data(), record, size);
      run.Reader->SetRecord(run.Buffer.data());
      linked();
      return !x.Aborted;
    });
  } else {
    run.Table->First();
    while (!x.Aborted && run.Table->Next(run.Buffer.data()) == 0) {
      SetLinkFilters(index);
      linked();
    }
  }
  return produced;
}

// Source tables are read in physical order; the switch is made only now, since in that order a
// cursor keeps bitmaps sized to the whole table, which a driving table read from a key range
// never needs, nor a count without conditions, which the index's key count answers.
void TDataQuery::UsePhysicalOrder() {
  TQueryExecution& x = *execution_;
  for (TSourceRun& run : x.Runs) {
    if (run.KeyRangeDriving || (x.CountOnly && !run.OwnFilter)) continue;
    run.Table->SelectIndex(engine::TIndexFile::kPhysicalOrder);
  }
}

// Joins each record the driving table's key range left.
bool TDataQuery::JoinDrivingKeyRange(const std::function<void()>& emit) {
  TQueryExecution& x = *execution_;
  const int index = x.Order[0];
  TSourceRun& run = x.Runs[static_cast<std::size_t>(index)];
  bool produced = false;
  for (const std::vector<std::uint8_t>& record : run.KeyRangeRecords) {
    if (x.Aborted) break;
    std::memcpy(run.Buffer.data(), record.data(), std::min(run.Buffer.size(), record.size()));
    SetLinkFilters(index);
    if (JoinsNothing(index)) continue;
    produced = true;
    ++x.DrivingRecord;
    Join(1, emit);
  }
  return produced;
}

// Enumerates the joined rows from position `depth` of the order, depth first.
void TDataQuery::Join(std::size_t depth, const std::function<void()>& emit) {
  TQueryExecution& x = *execution_;
  if (x.Aborted) return;
  if (depth == x.Order.size()) {
    emit();
    return;
  }
  const int index = x.Order[depth];
  TSourceRun& run = x.Runs[static_cast<std::size_t>(index)];
  bool outerMissing = false;
  if (run.IncomingLink >= 0) {
    const TPlannedLink& link = x.Links[static_cast<std::size_t>(run.IncomingLink)];
    if (x.Runs[static_cast<std::size_t>(link.Source)].NullRow) {
      // Below a missing row only another left outer link still produces a row.
      if (link.JoinKind != kJoinLeftOuter) return;
      outerMissing = true;
    }
  }
  bool produced = false;
  if (depth == 0 && run.KeyRangeDriving) {
    produced = JoinDrivingKeyRange(emit);
  } else if (!outerMissing && run.LookupState == TSourceRun::TLookup::Probe) {
    produced = JoinProbeMatches(depth, emit);
  } else if (!outerMissing && run.LookupState == TSourceRun::TLookup::Range) {
    produced = JoinKeyRange(depth, emit);
  } else if (!outerMissing && run.LookupState != TSourceRun::TLookup::NoMatch) {
    produced = JoinScannedRecords(depth, emit);
  }
  // The missing side of a left outer join: one row with this table's columns NULL.
  if (!produced && !x.Aborted && run.IncomingLink >= 0 &&
      x.Links[static_cast<std::size_t>(run.IncomingLink)].JoinKind == kJoinLeftOuter) {
    run.NullRow = true;
    SetLinkFilters(index);
    Join(depth + 1, emit);
    run.NullRow = false;
  }
}

void TDataQuery::CountProgress() {
  TQueryExecution& x = *execution_;
  if (x.FirstRow) {
    x.FirstRow = false;
    x.Counter = 1;
    // Without links the driving cursor still stands before its first record.
    x.RememberedRecord = x.Runs.size() > 1 ? x.DrivingRecord : 0;
    if (x.Runs.size() > 1) return;
  }
  if (x.DrivingRecord == x.RememberedRecord) return;
  ++x.Counter;
  x.RememberedRecord = x.DrivingRecord;
  if (!x.Progress || !*x.Progress) return;
  if (x.DrivingCount < 0) {
    // The driving table's record count under its own conditions, counted on a second cursor
    // when they are not installed on the scanning one.
    TSourceRun& run = x.Runs[static_cast<std::size_t>(x.Order[0])];
    std::unique_ptr<TDataFile> counter = run.Table->CloneCursor();
    std::uint32_t handle = counter->AddFilter(TFilter::FromBorrowedTree(*counter, *run.FilterTree), nullptr, true);
    counter->ActivateFilter(handle);
    x.DrivingCount = counter->RecordCount();
  }
  int percent = x.DrivingCount > 0 ? static_cast<int>(static_cast<std::int64_t>(x.Counter) * 100 / x.DrivingCount) : 0;
  bool abort = false;
  (*x.Progress)(x.Counter, percent, abort);
  if (abort) x.Aborted = true;
}

namespace {

// An aggregate's value after one more row. COUNT counts rows; the others pass over a NULL input.
TSqlValue NextAggregate(int kind, const TSqlValue& current, const TSqlValue& input, int fieldType) {
  if (kind == kAggregateCount) return TSqlValue::Integer(current.Int + 1);
  if (input.IsNull()) return current;
  if (current.IsNull()) return input;
  if (kind == kAggregateSum || kind == kAggregateAvg) {
    if (IsRealKind(fieldType)) return TSqlValue::Float(current.Real + input.Real, fieldType);
    return TSqlValue::Integer(current.Int + input.Int, fieldType);
  }
  const int c = CompareValues(input, current, 0);
  if ((kind == kAggregateMin && c < 0) || (kind == kAggregateMax && c > 0)) return input;
  return current;
}

}  // namespace

// Copies a plain column's stored value into the result row as it is; a BLOB's value goes into
// the result's own BLOB file.
void TDataQuery::CopyColumnValue(const TQueryExprNode& column, int fieldNumber, std::uint8_t* row) {
  TDataFile& result = *execution_->Result;
  TSourceRun& run = execution_->Runs[static_cast<std::size_t>(column.SourceIndex)];
  std::uint8_t bytes[260] = {};
  const engine::TFieldDescriptor& d = run.Table->GetFieldDescriptor(true, column.FieldNumber);
  if (!run.NullRow && !d.IsBlob() && run.Table->GetField(true, column.FieldNumber, run.Buffer.data(), bytes)) {
    result.SetField(true, fieldNumber, bytes, row);
  } else {
    result.SetField(true, fieldNumber, nullptr, row);
    if (!run.NullRow && d.IsBlob())
      CopyBlob(*run.Table, column.FieldNumber, run.Buffer.data(), result, fieldNumber, row);
  }
}

// Fills the result row from the joined row. The converted input of each aggregate but COUNT is
// kept in aggregateInputs, for adding to a group already stored.
void TDataQuery::FillResultRow(std::vector<TSqlValue>& aggregateInputs) {
  TQueryExecution& x = *execution_;
  TDataFile& result = *x.Result;
  TJoinReader reader(x.Runs);
  TEvalContext context;
  context.Row = &reader;
  std::uint8_t* row = x.Row.data();
  result.InitRecord(row);
  for (std::size_t i = 0; i < ResultFields.size(); ++i) {
    const TResultDataField& f = ResultFields[i];
    const int fieldNumber = x.Columns[i].FieldNumber;
    const TQueryExprNode& e = *f.Expression;
    if (f.AggregateKind == kAggregateCount) {
      TSqlValue one = TSqlValue::Integer(1);
      PutValue(result, fieldNumber, one, row);
      continue;
    }
    TSqlValue value;
    if (f.AggregateKind != kAggregateNone) {
      value = e.First ? Evaluate(*e.First, context) : TSqlValue::Null();
    } else if (IsPlainColumn(&e)) {
      CopyColumnValue(e, fieldNumber, row);
      continue;
    } else {
      value = Evaluate(e, context);
    }
    const engine::TFieldDescriptor& d = result.GetFieldDescriptor(true, fieldNumber);
    TSqlValue converted;
    if (!ConvertValue(value, d.FieldType, parser_.Environment(), converted)) converted = TSqlValue::Null();
    aggregateInputs[i] = converted;
    PutValue(result, fieldNumber, converted, row);
  }
  if (x.AvgCountField > 0) {
    std::int32_t one = 1;
    result.SetField(true, x.AvgCountField, &one, row);
  }
}

// Adds the new row's aggregate inputs to the group row stored in x.Found and writes it back.
void TDataQuery::AddToGroup(const std::vector<TSqlValue>& aggregateInputs) {
  TQueryExecution& x = *execution_;
  TDataFile& result = *x.Result;
  std::uint8_t* stored = x.Found.data();
  for (std::size_t i = 0; i < ResultFields.size(); ++i) {
    const int kind = ResultFields[i].AggregateKind;
    if (kind == kAggregateNone) continue;
    const int fieldNumber = x.Columns[i].FieldNumber;
    const engine::TFieldDescriptor& d = result.GetFieldDescriptor(true, fieldNumber);
    std::uint8_t bytes[260] = {};
    bool present = result.GetField(true, fieldNumber, stored, bytes);
    TSqlValue current = FieldValue(d.FieldType, d.SubType, bytes, d.DataSize, present);
    TSqlValue next = NextAggregate(kind, current, aggregateInputs[i], d.FieldType);
    TSqlValue converted;
    if (!ConvertValue(next, d.FieldType, parser_.Environment(), converted)) converted = TSqlValue::Null();
    PutValue(result, fieldNumber, converted, stored);
  }
  if (x.AvgCountField > 0) {
    std::int32_t count = 0;
    result.GetField(true, x.AvgCountField, stored, &count);
    ++count;
    result.SetField(true, x.AvgCountField, &count, stored);
  }
  result.UpdateRecord(stored, false, false);
}

// Puts the joined row into the result: a new row, or, with grouping or DISTINCT, into the row
// already holding its key.
void TDataQuery::ProduceRow() {
  TQueryExecution& x = *execution_;
  TDataFile& result = *x.Result;
  std::uint8_t* row = x.Row.data();
  std::vector<TSqlValue> aggregateInputs(ResultFields.size());
  FillResultRow(aggregateInputs);
  // BLOB values opened on the new row are written by its insert and dropped when it is not
  // inserted.
  struct TCloseBlobs {
    TDataFile& Table;
    ~TCloseBlobs() { Table.CloseAllBlobs(); }
  } closeBlobs{result};
  if (!x.Grouped && x.GroupKeyCount == 0) {
    result.InsertRecord(row);
    return;
  }
  bool found = false;
  if (x.GroupKeyCount > 0) {
    found = result.FindKey(row, false, false, x.GroupKeyCount, -1, x.Found.data());
  } else {
    // Aggregates without GROUP BY: the one row of the result is the group.
    result.First();
    found = result.Next(x.Found.data()) == 0;
  }
  if (!found) {
    result.InsertRecord(row);
    return;
  }
  if (!x.Grouped) return;  // DISTINCT: the row is there already
  AddToGroup(aggregateInputs);
}

void TDataQuery::CopyBlob(engine::TDataFile& source, int sourceField, std::uint8_t* sourceRecord,
                          engine::TDataFile& target, int targetField, std::uint8_t* targetRecord) {
  std::uint8_t slot[8] = {};
  if (!source.GetField(true, sourceField, sourceRecord, slot)) return;
  const std::string name = source.GetFieldDescriptor(true, sourceField).FieldName;
  int code = source.OpenBlob(true, sourceField, engine::kBlobOpenRead, sourceRecord);
  if (code != 0) engine::RaiseEngineError(code, source.FileName(), name);
  std::uint32_t length = 0, read = 0;
  std::string value;
  code = source.GetBlobSize(true, sourceField, sourceRecord, length);
  if (code == 0) {
    value.assign(length, '\0');
    code = source.ReadBlob(true, sourceField, 0, length, value.data(), sourceRecord, read);
  }
  source.CloseBlob(true, sourceField, sourceRecord);
  if (code != 0) engine::RaiseEngineError(code, source.FileName(), name);
  if (value.empty()) return;
  code = target.OpenBlob(true, targetField, engine::kBlobOpenReadWrite, targetRecord);
  if (code == 0) {
    code = target.WriteBlob(true, targetField, 0, static_cast<std::uint32_t>(value.size()), value.data(), targetRecord);
  }
  if (code != 0) engine::RaiseEngineError(code, target.FileName(), name);
}

void TDataQuery::FinishAverages() {
  TQueryExecution& x = *execution_;
  if (x.AvgCountField == 0) return;
  TDataFile& result = *x.Result;
  result.First();
  while (result.Next(x.Row.data()) == 0) {
    std::int32_t count = 0;
    result.GetField(true, x.AvgCountField, x.Row.data(), &count);
    for (std::size_t i = 0; i < ResultFields.size(); ++i) {
      if (ResultFields[i].AggregateKind != kAggregateAvg) continue;
      const int fieldNumber = x.Columns[i].FieldNumber;
      double sum = 0;
      if (!result.GetField(true, fieldNumber, x.Row.data(), &sum)) continue;
      double average = count == 0 ? 0 : sum / count;
      result.SetField(true, fieldNumber, &average, x.Row.data());
    }
    result.UpdateRecord(x.Row.data(), false, false);
  }
}

namespace {

// Releases the locks a run of the statement took, also when the run fails.
struct TRunLocksRelease {
  TQueryExecution& X;
  ~TRunLocksRelease() {
    for (TSourceRun& run : X.Runs) {
      try {
        run.Table->ReleaseStatementReadLock();
        if (run.Lookup) run.Lookup->ReleaseStatementReadLock();
      } catch (...) {
        // As below: a release must not hide the failure that ended the run.
      }
      if (!run.Locked) continue;
      run.Locked = false;
      try {
        run.Table->UnlockTable();
      } catch (...) {
        // The unlock of a failed run must not hide the failure itself.
      }
    }
    X.Progress = nullptr;
  }
};

// Whether the joined row meets the part of the condition that no filter or link took.
bool ResidualHolds(const TQueryExecution& x, TJoinReader& reader) {
  if (!x.Residual) return true;
  TEvalContext context;
  context.Row = &reader;
  return EvaluateCondition(*x.Residual, context);
}

}  // namespace

void TDataQuery::StartRun(const TQueryProgress& progress) {
  TQueryExecution& x = *execution_;
  x.Progress = &progress;
  x.Aborted = false;
  x.FirstRow = true;
  x.DrivingRecord = x.RememberedRecord = 0;
  x.Counter = 0;
  x.DrivingCount = -1;
  x.RowsAffected = 0;
  x.Marked.clear();
}

// WITH LOCKS locks every table for the run; a data-changing statement locks its target.
void TDataQuery::LockTables() {
  TQueryExecution& x = *execution_;
  const bool changes = Kind != TStatementKind::Select;
  if (!WithLocks && !changes) return;
  for (std::size_t i = 0; i < x.Runs.size() && (WithLocks || i == 0); ++i) {
    x.Runs[i].Table->LockTable();
    x.Runs[i].Locked = true;
  }
}

// A single-table COUNT: one row holding the table's record count under its conditions.
void TDataQuery::ProduceRecordCount(const TQueryProgress& progress) {
  TQueryExecution& x = *execution_;
  TDataFile& result = *x.Result;
  TSourceRun& run = x.Runs[0];
  std::int32_t count = static_cast<std::int32_t>(run.Table->RecordCount());
  if (progress) {
    bool abort = false;
    progress(count, 100, abort);
  }
  result.InitRecord(x.Row.data());
  result.SetField(true, x.Columns[0].FieldNumber, &count, x.Row.data());
  result.InsertRecord(x.Row.data());
}

// Fills the result table afresh and answers it, standing on its first row in result order.
engine::TDataFile* TDataQuery::ExecuteSelect(const TQueryProgress& progress) {
  TQueryExecution& x = *execution_;
  TDataFile& result = *x.Result;
  result.SelectIndex(0);
  if (result.RecordCount() > 0) result.EmptyTable();
  // Rows find their group or duplicate through the grouping index while they are inserted.
  if (!x.GroupIndexName.empty()) result.SelectIndex(x.GroupIndexName);
  if (x.CountOnly) {
    ProduceRecordCount(progress);
  } else {
    TJoinReader reader(x.Runs);
    Join(0, [&] {
      CountProgress();
      if (!ResidualHolds(x, reader)) return;
      ProduceRow();
    });
    FinishAverages();
  }
  result.SelectIndex(0);
  result.First();
  return &result;
}

// Sets the UPDATE's columns on the target's current record and writes it.
void TDataQuery::UpdateCurrentRecord() {
  TQueryExecution& x = *execution_;
  TSourceRun& target = x.Runs[0];
  TJoinReader reader(x.Runs);
  TEvalContext context;
  context.Row = &reader;
  for (std::size_t i = 0; i < UpdateFields.size() && i < UpdateValues.size(); ++i) {
    const TQueryExprNode* column = UpdateFields[i].Column.get();
    if (!column) continue;
    TSqlValue value = Evaluate(*UpdateValues[i].Expression, context);
    const engine::TFieldDescriptor& d = target.Table->GetFieldDescriptor(true, column->FieldNumber);
    TSqlValue converted;
    if (!ConvertValue(value, d.FieldType, parser_.Environment(), converted)) {
      target.Table->UnlockRecord(0);
      RaiseSqlError("Type mismatch between column " + d.FieldName + " and constant value " +
                    MismatchText(UpdateValues[i]) + " in UPDATE statement");
    }
    PutValue(*target.Table, column->FieldNumber, converted, target.Buffer.data());
  }
  target.Table->UpdateRecord(target.Buffer.data(), true, true);
}

// UPDATE and DELETE find the records first, then change them: changing them during the join
// would move the cursor the join walks on.
void TDataQuery::ExecuteChange() {
  TQueryExecution& x = *execution_;
  TSourceRun& target = x.Runs[0];
  TJoinReader reader(x.Runs);
  Join(0, [&] {
    CountProgress();
    if (!ResidualHolds(x, reader)) return;
    x.Marked.push_back(target.Table->GetBookmark());
  });
  target.Table->RemoveFilter(0);
  target.FilterHandle = target.LinkHandle = 0;
  for (const std::vector<std::uint8_t>& bookmark : x.Marked) {
    target.Table->GotoBookmark(bookmark.data());
    if (Kind == TStatementKind::Delete) {
      target.Table->DeleteRecord(true);
      ++x.RowsAffected;
      continue;
    }
    try {
      if (target.Table->GetCurrent(target.Buffer.data(), true) != 0) continue;
    } catch (const std::exception&) {
      continue;  // a record another user holds is left as it is
    }
    UpdateCurrentRecord();
    ++x.RowsAffected;
  }
}

engine::TDataFile* TDataQuery::Execute(const TQueryProgress& progress) {
  if (!execution_) RaiseSqlError("No statement prepared");
  TQueryExecution& x = *execution_;
  StartRun(progress);
  TRunLocksRelease release{x};
  LockTables();
  if (Kind == TStatementKind::Insert) {
    ExecuteInsert();
    return nullptr;
  }
  // One read lock for the whole statement: without it every cache miss of a scan takes and
  // releases the lock and checks the files for changes, and a change by another process in the
  // middle of a join would mix two states of a table in one result.
  for (TSourceRun& run : x.Runs) {
    run.Table->AcquireStatementReadLock();
    if (run.Lookup) run.Lookup->AcquireStatementReadLock();
  }
  InstallFilters();
  if (progress && !x.CountOnly && !x.Runs[static_cast<std::size_t>(x.Order[0])].DeferredFilter) {
    const TSourceRun& driving = x.Runs[static_cast<std::size_t>(x.Order[0])];
    x.DrivingCount = driving.KeyRangeDriving ? static_cast<std::int64_t>(driving.KeyRangeRecords.size())
                                             : driving.Table->RecordCount();
  }
  if (Kind == TStatementKind::Select && x.Live) {
    TDataFile& live = *x.Runs[0].Table;
    live.SelectIndex(x.LiveIndex);
    live.First();
    return &live;
  }
  if (Kind == TStatementKind::Select) return ExecuteSelect(progress);
  ExecuteChange();
  return nullptr;
}

void TDataQuery::ExecuteInsert() {
  TQueryExecution& x = *execution_;
  TSourceRun& target = x.Runs[0];
  TDataFile& table = *target.Table;
  std::vector<int> columns;
  for (const TUpdateDataField& f : UpdateFields) {
    if (!f.Column || f.ColumnName == "*") {
      for (int i = 1; i <= table.FieldCount(); ++i) columns.push_back(i);
    } else {
      columns.push_back(f.Column->FieldNumber);
    }
  }
  if (columns.size() != UpdateValues.size()) {
    RaiseSqlError("Number of values (" + std::to_string(UpdateValues.size()) +
                  ") does not match the number of columns (" + std::to_string(columns.size()) +
                  ") in INSERT statement");
  }
  std::uint8_t* record = target.Buffer.data();
  table.InitRecord(record);
  // Values are constants; a column among them reads as NULL.
  target.NullRow = true;
  TJoinReader reader(x.Runs);
  TEvalContext context;
  context.Row = &reader;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    TSqlValue value = Evaluate(*UpdateValues[i].Expression, context);
    const engine::TFieldDescriptor& d = table.GetFieldDescriptor(true, columns[i]);
    TSqlValue converted;
    if (!ConvertValue(value, d.FieldType, parser_.Environment(), converted)) {
      RaiseSqlError("Type mismatch between column " + d.FieldName + " and constant value " +
                    MismatchText(UpdateValues[i]) + " in INSERT statement");
    }
    PutValue(table, columns[i], converted, record);
  }
  target.NullRow = false;
  table.InsertRecord(record);
  x.RowsAffected = 1;
}

}  // namespace quillon::sql
