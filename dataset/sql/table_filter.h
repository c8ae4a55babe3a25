// TFilter: the engine filter behind a cursor's TFilterEvaluator seam, made from a canned filter
// buffer (filter_expr.h), from an SQL condition bound to one table, or from a callback.
//
// An expression filter answers with the records that pass. Parts of the condition that an index
// of the table can answer are answered from key ranges without reading records:
//   - a comparison (=, <>, <, >, <=, >=, IN, NOT IN, BETWEEN, NOT BETWEEN, or a partial
//     comparison) between a column, or UPPER of a column, and a constant, when an ascending index
//     has that column as its first key field with the right case flag (UPPER and case-insensitive
//     comparisons need a case-insensitive index; other string comparisons a case-sensitive one);
//   - a comparison of a column with NULL (is blank, is not blank) with such an index;
//   - NOT of a usable part, AND of two usable parts, OR of two usable parts;
//   - AND with one usable side: that side first, then the other side record by record over
//     only the records it left.
// Everything else is tested record by record with the shared evaluator (expr_evaluator.h), under
// the table's locale. A range that holds more than half of the table is marked through its
// complement. Boolean columns, and constants whose key would not say exactly what the record
// test says (a text longer than the field or ending in a blank, a number that does not fit the
// column), are always tested record by record, so both ways select the same records.
//
// Ownership: a filter made from a buffer owns its tree; one made from an SQL tree owns or
// borrows it as asked. The table is only used during the calls the cursor makes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dataset/sql/query_expr_node.h"
#include "engine/record_bitmap.h"
#include "engine/record_filter.h"

namespace quillon::engine {
class TDataFile;
}

namespace quillon::sql {

// The tree of a canned buffer for a table: fields looked up by name (the number in the buffer is
// not used), is-blank / is-not-blank as comparisons with NULL, the empty string constant as NULL.
// A malformed buffer or an unknown field raises engine error err::kInvalidFilterExpression.
std::unique_ptr<TQueryExprNode> ReadCannedFilter(engine::TDataFile& table, const std::vector<std::uint8_t>& buffer);

class TFilter : public engine::TFilterEvaluator {
 public:
  using TCallback = std::function<bool(const std::uint8_t* record, std::uint32_t recordNumber)>;

  static std::shared_ptr<TFilter> FromCanned(engine::TDataFile& table, const std::vector<std::uint8_t>& buffer);
  // The tree's columns carry their logical field numbers in the table.
  static std::shared_ptr<TFilter> FromTree(engine::TDataFile& table, std::unique_ptr<TQueryExprNode> tree);
  static std::shared_ptr<TFilter> FromBorrowedTree(engine::TDataFile& table, const TQueryExprNode& tree);
  static std::shared_ptr<TFilter> FromCallback(TCallback callback);

  void MarkPassing(engine::TDataFile& table, std::vector<std::uint8_t>& candidates) override;
  bool Passes(engine::TDataFile& table, const std::uint8_t* record, std::uint32_t recordNumber) override;
  // 2 when indexes answer the whole condition, 1 for a part of it, 0 when every record is read.
  int OptimisationGrade() const override { return grade_; }

  const TQueryExprNode* Tree() const { return tree_; }
  // Off: every record is tested (the same records pass; for comparisons and measurements).
  void SetUseIndexes(bool value) { useIndexes_ = value; }
  // Records the last MarkPassing read and tested one by one.
  std::uint32_t RecordsTested() const { return recordsTested_; }

 private:
  TFilter() = default;
  void Grade(engine::TDataFile& table);
  engine::TRecordBitmap Select(engine::TDataFile& table, const TQueryExprNode& node,
                               const engine::TRecordBitmap& candidates);
  // Tests each candidate record: with the node, or with the callback when node is null.
  engine::TRecordBitmap Scan(engine::TDataFile& table, const TQueryExprNode* node,
                             const engine::TRecordBitmap& candidates);
  bool Test(engine::TDataFile& table, const std::uint8_t* record, std::uint32_t recordNumber);

  std::unique_ptr<TQueryExprNode> owned_;
  const TQueryExprNode* tree_ = nullptr;
  TCallback callback_;
  bool useIndexes_ = true;
  int grade_ = 0;
  std::uint32_t recordsTested_ = 0;
};

// How TFilter answers a tree over the table: each comparison (every node below the AND, OR and
// NOT nodes) in the order the text reads, with the index number that answers it from key ranges,
// or -1 when it is tested record by record. A comparison an index could serve is still tested
// record by record when it sits where the evaluation reads records anyway (under an OR with a
// side no index serves, for instance).
struct TComparisonIndexUse {
  const TQueryExprNode* Comparison = nullptr;
  int Index = -1;
};
std::vector<TComparisonIndexUse> ExplainIndexUse(engine::TDataFile& table, const TQueryExprNode& tree);

// What the table component calls for a Filter text compiled by TFilterExpr.
std::shared_ptr<engine::TFilterEvaluator> MakeTextFilter(engine::TDataFile& table,
                                                         const std::vector<std::uint8_t>& cannedBuffer);

}  // namespace quillon::sql
