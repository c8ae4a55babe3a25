// TDataQuery: one prepared SQL statement: its kind and flags, the parts the statement grammar
// builds (result columns, source tables, the combined condition, grouping, ordering, target
// columns and values) and the parameter list. Preparing runs the statement grammar over the
// parser's tokens and then binds and type-checks every expression through a TColumnResolver.
//
// Invariants:
//   1. After a successful Parse, Sources lists the tables in source order (a RIGHT OUTER JOIN's
//      joined table first); each keeps Number, its 1-based position as written.
//   2. Condition is the one condition tree of the statement: the WHERE condition and every ON
//      condition, split along their top-level ANDs into parts and joined again by AND grouping
//      to the right; no part has AND at its root, and each part's root carries the join kind
//      of the ON clause it came from (kJoinNone for WHERE).
//   3. A failed Parse or Check leaves the statement unusable until the next Parse; nothing is
//      executed from here.
// The statement object is not shared between threads.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/sql/expression_parser.h"
#include "dataset/sql/query_expr_node.h"

namespace quillon::engine {
class TDataFile;
struct TFieldDescriptor;
struct TTableDefinition;
}  // namespace quillon::engine

namespace quillon::sql {

class TColumnResolver;
struct TSqlValue;
struct TQueryExecution;
struct TPlannedLink;
struct TSourceRun;

// What the statement needs from its owner before it is prepared.
struct TQuerySettings {
  bool StrictChangeDetection = false;
  std::uint8_t LockRetryCount = 15;
  std::uint32_t LockWaitTime = 100;  // milliseconds
  bool RequestLive = false;
  std::string DatabaseDirectory;  // the directory of table names without a drive or directory
  std::function<bool(engine::TDataFile&)> PasswordCallback;
  // Joins by equality onto a table of at most this many records go through an in-memory map
  // of its values; larger ones through an index of the column when there is one, else a filter.
  std::uint32_t MaxProbeRecords = 2000000;
  // How long a source table that another process holds for itself (an import running Exclusive)
  // is waited for before the statement fails: the shell's dot commands wait as long.
  std::uint32_t TurnWaitMs = 120000;
};

// (CurrentRecord, PercentDone, Abort).
using TQueryProgress = std::function<void(int, int, bool&)>;

enum class TStatementKind { None = 0, Select = 1, Insert = 2, Update = 3, Delete = 4 };

// Aggregate kinds of result columns.
inline constexpr int kAggregateNone = 0;
inline constexpr int kAggregateSum = 1;
inline constexpr int kAggregateMin = 2;
inline constexpr int kAggregateMax = 3;
inline constexpr int kAggregateAvg = 4;
inline constexpr int kAggregateCount = 5;

struct TResultDataField {
  std::unique_ptr<TQueryExprNode> Expression;
  std::string SourceText;  // the expression as written, CR and LF removed
  std::string Alias;
  int SourceIndex = -1;  // source table of a plain column, once bound
  int AggregateKind = kAggregateNone;
  bool IsExpression = false;  // anything but a plain column
};

struct TSourceDataLink {
  int SourceIndex = -1;
  int TargetIndex = -1;
  int JoinKind = kJoinInner;
  int Operator = op::kEqual;
  std::unique_ptr<TQueryExprNode> Condition;
};

struct TSourceDataFile {
  std::string Path;             // the table name as written
  std::string CorrelationName;  // the alias, or the file-name part of Path
  bool InMemory = false;
  int Number = 0;  // 1-based position as written
  std::vector<TSourceDataLink> Links;
};

struct TOrderByDataField {
  std::string ColumnName;
  std::string CorrelationName;
  int ColumnNumber = 0;  // 1-based result column number, 0 when named
  bool Descending = false;
};

struct TGroupByDataField {
  std::string ColumnName;
  std::string CorrelationName;
  int ColumnNumber = 0;
};

struct TUpdateDataField {
  std::string ColumnName;                  // "*" for all columns of an INSERT without a column list
  std::unique_ptr<TQueryExprNode> Column;  // the column node (null for "*")
};

struct TUpdateDataValue {
  std::unique_ptr<TQueryExprNode> Expression;
  std::string SourceText;  // at most 255 characters
};

class TDataQuery {
 public:
  explicit TDataQuery(const TSqlEnvironment& environment = DefaultSqlEnvironment());
  ~TDataQuery();
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  // Execution (data_query_exec.cpp). Open parses the text, opens the source tables, binds and
  // checks every name, plans the conditions and creates the result table; it raises engine
  // errors (err::kSql for the statement's own faults).
  void Open(std::string_view text, const TQuerySettings& settings);
  // The value of the index-th "?" (0-based); err::kSql beyond the statement's markers.
  void BindParameter(std::size_t index, const TSqlValue& value);
  // Runs the statement; a SELECT answers its result cursor (owned by the statement), the others
  // nullptr. The callback is used only during the call.
  engine::TDataFile* Execute(const TQueryProgress& progress = nullptr);
  engine::TDataFile* ResultCursor() const;
  // Whether the result is the source table's own cursor (a live result was asked for and the
  // statement allows one).
  bool LiveResult() const;
  // The rows a data-changing statement touched in its last run.
  std::uint32_t RowsAffected() const;

  // Parse, then Check with resolver.
  void Prepare(std::string_view text, const TColumnResolver& resolver);
  // Runs the statement grammar; raises engine error err::kSql on the first fault.
  void Parse(std::string_view text);
  // Binds every column through resolver and type-checks every expression.
  void Check(const TColumnResolver& resolver);

  TStatementKind Kind = TStatementKind::None;
  bool Distinct = false;
  bool HasJoins = false;  // joins or more than one table
  bool HasCondition = false;
  bool HasOrderBy = false;
  bool HasGroupBy = false;
  bool NoCase = false;
  bool WithLocks = false;
  bool LiveResultsOff = false;  // INTO was given
  std::string ResultTableName;
  bool ResultInMemory = false;

  std::vector<TResultDataField> ResultFields;
  std::vector<TSourceDataFile> Sources;
  std::unique_ptr<TQueryExprNode> Condition;
  std::vector<TOrderByDataField> OrderByFields;
  std::vector<TGroupByDataField> GroupByFields;
  std::vector<TUpdateDataField> UpdateFields;
  std::vector<TUpdateDataValue> UpdateValues;

  // The "?" parameters in order of appearance (nodes owned by the trees above).
  const std::vector<TQueryExprNode*>& Parameters() const { return parser_.Parameters(); }

  // The parts of Condition in order (nodes owned by Condition).
  std::vector<TQueryExprNode*> ConditionParts() const;

 private:
  void Clear();
  void ParseSelect();
  void ParseInsert();
  void ParseUpdate();
  void ParseDelete();
  void ParseSelectItem();
  void ParseFrom();
  void ParseSource(const char* missingMessage, bool putFirst);
  void ParseJoinCondition(int joinKind);
  void ParseWhere();
  // A GROUP BY or ORDER BY item: a column number, or a column name with an optional correlation.
  void ParseColumnReference(const char* missing, int& number, std::string& column, std::string& correlation);
  void ParseGroupBy();
  void ParseOrderBy();
  void ParseTargetColumn(std::vector<TUpdateDataField>& into);
  void ParseValue();
  void ExpectEnd(const char* statement);
  std::string ParseTableName(bool& inMemory, const char* missingMessage);
  bool IsOneOf(std::initializer_list<std::string_view> keywords) const;
  bool StartsEmptyExpression() const;
  [[noreturn]] void FailFound(const std::string& what) const;
  void AddCondition(std::unique_ptr<TQueryExprNode> condition, int joinKind);
  void CombineConditions();
  // Execution steps (data_query_exec.cpp).
  void OpenStatement(std::string_view text, const TQuerySettings& settings);
  void ExpandStarColumns(const std::vector<std::unique_ptr<engine::TDataFile>>& tables);
  void PlanConditions();
  void PlanResult();
  void PlanGrouping();
  std::vector<engine::TFieldDescriptor> PlanResultFields();
  std::string ResultColumnName(const TResultDataField& f) const;
  engine::TFieldDescriptor ResultFieldDescriptor(const TResultDataField& f) const;
  int ResolveResultColumn(int number, const std::string& column, const std::string& correlation,
                          const char* clause) const;
  void PlanOrdering();
  engine::TTableDefinition ResultTableDefinition(std::vector<engine::TFieldDescriptor> fields);
  void CreateResultTable(const engine::TTableDefinition& definition);
  void InstallFilters();
  bool LiveResultPossible();
  void DeferDrivingFilter();
  // A driving table whose conditions pin a leading index column to one value is read from that
  // key range instead of a filter over the whole table.
  void PlanDrivingKeyRange();
  void UsePhysicalOrder();
  bool DrivingKeyRangeIndex(const TSourceRun& run, int& field, TSqlValue& value, int& index) const;
  void SetLinkFilters(int source);
  // Whether an equality link can be answered by value (not -2); the index of its target that
  // answers it by key, or -1 (indexed tells which).
  int LookupIndex(const TPlannedLink& link, bool& indexed) const;
  void BuildProbe(TSourceRun& run);
  // Whether an inner link from source has found nothing for the current record.
  bool JoinsNothing(int source) const;
  void Join(std::size_t depth, const std::function<void()>& emit);
  // The ways of reading the table at one depth of the join; each answers whether a record joined.
  bool JoinProbeMatches(std::size_t depth, const std::function<void()>& emit);
  bool JoinKeyRange(std::size_t depth, const std::function<void()>& emit);
  bool JoinScannedRecords(std::size_t depth, const std::function<void()>& emit);
  bool JoinDrivingKeyRange(const std::function<void()>& emit);
  void CountProgress();
  void ProduceRow();
  void FillResultRow(std::vector<TSqlValue>& aggregateInputs);
  void CopyColumnValue(const TQueryExprNode& column, int fieldNumber, std::uint8_t* row);
  void AddToGroup(const std::vector<TSqlValue>& aggregateInputs);
  void FinishAverages();
  void CopyBlob(engine::TDataFile& source, int sourceField, std::uint8_t* sourceRecord, engine::TDataFile& target,
                int targetField, std::uint8_t* targetRecord);
  void StartRun(const TQueryProgress& progress);
  void LockTables();
  engine::TDataFile* ExecuteSelect(const TQueryProgress& progress);
  void ProduceRecordCount(const TQueryProgress& progress);
  void ExecuteChange();
  void UpdateCurrentRecord();
  void ExecuteInsert();

  std::vector<std::unique_ptr<TQueryExprNode>> pendingConditions_;
  std::unique_ptr<TQueryExecution> execution_;

  TExpressionParser parser_;
};

}  // namespace quillon::sql
