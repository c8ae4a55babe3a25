// The one evaluator of TQueryExprNode trees: table filters (canned filter texts and SQL
// conditions installed on a table), and later the SQL executor's expression columns, residual
// conditions and join conditions.
//
// Rules it keeps:
//  1. A binary node evaluates its second operand first; AND with a false second operand and OR
//     with a true one answer without the first.
//  2. "=" is true for two NULLs and false for one; "<>" the opposite. Ordering comparisons with a
//     NULL operand are false, so that a range of an index (which never holds NULL keys inside a
//     value range) and a record-by-record test select the same records. LIKE with a NULL side is
//     false; NOT LIKE, NOT IN and NOT BETWEEN are the negations of their positive forms.
//  3. Numbers of different kinds compare by value (BCD as scaled integers); a date meets a
//     timestamp as midnight of that date; booleans compare as true (non-zero) or false.
//  4. Strings compare with the collation of the context: the table's locale when it has one
//     (ignoring case when asked), else bytes over the longer length, ASCII letters upper-cased
//     first when case is ignored. Partial comparisons cut both sides to their length first.
//  5. Division by zero, and arithmetic with a NULL operand, give NULL; an empty string result is
//     NULL, as an empty stored string is. Conversions to integers drop fractions.
#pragma once

#include <cstdint>
#include <string>

#include "dataset/sql/query_expr_node.h"

namespace quillon::engine {
class TDataFile;
}

namespace quillon::sql {

// A computed value: Type is an engine type code (0 for NULL). Integers, booleans (0 or 1),
// dates (day numbers), times (milliseconds) and BCD (4-decimal fixed point) are in Int; floats
// and timestamps in Real; strings in Text.
struct TSqlValue {
  int Type = kTypeNull;
  std::string Text;
  std::int64_t Int = 0;
  double Real = 0;
  int SubType = 0;

  bool IsNull() const { return Type == kTypeNull; }
  static TSqlValue Null() { return {}; }
  static TSqlValue Boolean(bool value);
  static TSqlValue Integer(std::int64_t value, int type = 6);
  static TSqlValue Float(double value, int type = 7);
  static TSqlValue String(std::string text);  // "" gives NULL
};

// Where column values come from.
class TRowReader {
 public:
  virtual ~TRowReader() = default;
  virtual TSqlValue Column(const TQueryExprNode& column) = 0;
};

// Columns of one table's record buffer, by their logical field number.
class TRecordReader : public TRowReader {
 public:
  explicit TRecordReader(engine::TDataFile& table) : table_(table) {}
  void SetRecord(const std::uint8_t* record) { record_ = record; }
  const std::uint8_t* Record() const { return record_; }
  TSqlValue Column(const TQueryExprNode& column) override;

 private:
  engine::TDataFile& table_;
  const std::uint8_t* record_ = nullptr;
};

// A field value in the engine's record form (DataSize bytes) as a TSqlValue.
TSqlValue FieldValue(int fieldType, int subType, const std::uint8_t* bytes, int dataSize, bool present);
// A constant node's value.
TSqlValue ConstantValue(const TQueryExprNode& node);

struct TEvalContext {
  TRowReader* Row = nullptr;
  std::uint32_t Lcid = 0;  // the collation's locale; 0 = none (byte order)
};

TSqlValue Evaluate(const TQueryExprNode& node, TEvalContext& context);
// A condition's answer: a non-NULL, non-zero boolean (or number).
bool IsTrue(const TSqlValue& value);
bool EvaluateCondition(const TQueryExprNode& node, TEvalContext& context);

// Three-way string comparison under the context's collation; prefix > 0 compares only that many
// leading characters.
int CompareStrings(const std::string& a, const std::string& b, std::uint32_t lcid, bool ignoreCase, int prefix = 0);
// Ordering of two non-NULL values: <0, 0, >0.
int CompareValues(const TSqlValue& a, const TSqlValue& b, std::uint32_t lcid, bool ignoreCase = false);
// LIKE matching byte by byte: "%" any run, "_" one character.
bool LikeMatch(const std::string& value, const std::string& pattern);

}  // namespace quillon::sql
