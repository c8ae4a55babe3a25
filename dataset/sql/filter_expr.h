// Filter texts of datasets (such as Artist='O''Brien' or Qty > 5 AND NOT Active) and the canned
// filter expression they are compiled into for the engine.
//
// TExprParser reads a filter text into a small tree (TFilterTerm); TFilterExpr checks that tree
// against the dataset's fields and writes the canned buffer, a position-independent byte string
// the engine side (table_filter.h) turns back into a TQueryExprNode tree.
//
// Canned buffer (all integers little-endian):
//   0 u16 version (0)   2 u16 total size   4 u16 node count (0xFFFF, not counted)
//   6 u16 start of the node area (10)   8 u16 start of the literal area (10 + node area size)
//   10 node area, then literal area
// Each node is a u32 node class, a u32 operator and u16 operands. Operands naming nodes are
// offsets from the start of the node area, operands naming literals offsets from the start of the
// literal area. Nodes are written parent first, left operand before right; literals are appended
// in the order their nodes are written.
//   class 1 unary    operator 1 is blank, 2 is not blank, 9 NOT     operand: node
//   class 2 binary   operator 3 = 4 <> 5 > 6 < 7 >= 8 <= 10 AND 11 OR   operands: left, right
//   class 3 compare  operator 3 or 4      operands: case-insensitive flag, partial length (0 =
//                    whole value), field node, constant node
//   class 4 field    operator 13          operands: field number, literal of the zero-ended name
//   class 5 constant operator 14          operands: engine data type, size, literal of the value
//
// Every failure is an EDatabaseError with the fixed texts of the message table below; nothing is
// written for a text that fails.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/field_codec.h"

namespace quillon::engine {
class TDataFile;
}

namespace quillon::sql {

// ---- Messages ----
inline constexpr char kUnterminatedString[] = "Unterminated string constant";
inline constexpr char kUnterminatedName[] = "Unterminated field name";
inline constexpr char kInvalidCharacter[] = "Invalid filter expression character: '%s'";
inline constexpr char kExpressionExpected[] = "Expression expected but %s found";
inline constexpr char kParenExpected[] = "')' expected but %s found";
inline constexpr char kIncorrectlyTerminated[] = "Filter expression incorrectly terminated";
inline constexpr char kNotBoolean[] = "Field '%s' is not of type Boolean";
inline constexpr char kCannotUseField[] = "Field '%s' cannot be used in a filter expression";
inline constexpr char kNullOnlyEqual[] = "NULL only allowed with '=' and '<>'";
inline constexpr char kOutOfRange[] = "Constant out of range";
inline constexpr char kIncorrectlyFormed[] = "Incorrectly formed filter expression";
inline constexpr char kTooManyOperators[] = "Filter expression too long: more than %s AND, OR and NOT operators";
// More operators than any filter buffer can hold (its 64 KB take about 1,200 of the shortest
// terms): a longer text is refused while it is read, before its tree grows deep.
inline constexpr int kMaxFilterOperators = 1500;
// Not in the fixed table: a name no field has, and a literal the field's type cannot read.
inline constexpr char kFieldNotFound[] = "Field '%s' not found";
inline constexpr char kInvalidValue[] = "'%s' is not a valid value for field '%s'";

// ---- Canned node classes and operators ----
namespace canned {
inline constexpr int kUnary = 1;
inline constexpr int kBinary = 2;
inline constexpr int kCompare = 3;
inline constexpr int kField = 4;
inline constexpr int kConstant = 5;
inline constexpr int kIsBlank = 1;
inline constexpr int kIsNotBlank = 2;
inline constexpr int kFieldOperator = 13;
inline constexpr int kConstantOperator = 14;
inline constexpr int kHeaderSize = 10;
}  // namespace canned

// A value for a locate: no value (NULL), a boolean, an integer (a day number for dates,
// milliseconds for times), a number (a timestamp value for DateTime), or a text read with the
// field's type.
using TFilterValue = std::variant<std::monostate, bool, std::int64_t, double, std::string>;

// ---- Parse tree ----
enum class TTermKind { Field, Literal, Null, True, False, Compare, And, Or, Not };

struct TFilterTerm {
  TTermKind Kind = TTermKind::Null;
  int Operator = 0;     // comparisons: 3 =, 4 <>, 5 >, 6 <, 7 >=, 8 <=
  std::string Text;     // field name, or the literal as written (quotes removed)
  bool Quoted = false;  // a literal written in quotes
  // A literal given as a value rather than written (locate); holds no std::monostate.
  TFilterValue Typed;
  bool IsTyped = false;
  std::unique_ptr<TFilterTerm> Left, Right;  // Not: its operand in Left

  TFilterTerm() = default;
  TFilterTerm(const TFilterTerm&) = delete;
  TFilterTerm& operator=(const TFilterTerm&) = delete;
  // Frees the subtrees with a list of its own: a chain of terms is as deep as it is long.
  ~TFilterTerm();
};

class TExprParser {
 public:
  // Raises EDatabaseError with the parser's messages.
  static std::unique_ptr<TFilterTerm> Parse(const std::string& text);
};

// ---- What the builder needs to know of a dataset ----
enum class TFilterFieldKind {
  String,
  Smallint,
  Integer,
  Word,
  Boolean,
  Float,
  Currency,
  Bcd,
  Date,
  Time,
  DateTime,
  AutoInc,
  Other  // BLOB, bytes and the rest: never in a filter
};

struct TFilterField {
  std::string Name;
  int FieldNumber = 0;
  TFilterFieldKind Kind = TFilterFieldKind::Other;
  int Scale = 0;       // BCD
  bool Usable = true;  // a data field or an internally calculated one
};

// The fields of an open table as a dataset over it has them.
std::vector<TFilterField> FilterFieldsOf(const engine::TDataFile& table);

struct TFilterSettings {
  bool CaseInsensitive = false;
  bool NoPartialCompare = false;
};

class TFilterExpr {
 public:
  TFilterExpr(std::vector<TFilterField> fields, engine::TLocaleFormats formats = engine::DefaultFormats());

  // The canned buffer of a filter text.
  std::vector<std::uint8_t> Compile(const TFilterSettings& options, const std::string& text);
  // The canned buffer of a locate without an index: one "=" per field joined by AND; with
  // partial, the last one compares only the value's length.
  std::vector<std::uint8_t> Build(const std::vector<std::string>& fieldNames, const std::vector<TFilterValue>& values,
                                  bool caseInsensitive, bool partial);

 private:
  struct TWriter;
  const TFilterField& LookUp(const std::string& name) const;
  std::vector<std::uint8_t> Write(const TFilterTerm& root, const TFilterSettings& options,
                                  const TFilterTerm* prefixTerm);
  void WriteTerm(TWriter& w, const TFilterTerm& term, const TFilterSettings& options, const TFilterTerm* prefixTerm);
  void WriteComparison(TWriter& w, const TFilterTerm& term, const TFilterSettings& options, bool prefix);
  std::string EncodeConstant(const TFilterField& field, const TFilterTerm& constant, int& type) const;

  std::vector<TFilterField> fields_;
  engine::TLocaleFormats formats_;
};

}  // namespace quillon::sql
