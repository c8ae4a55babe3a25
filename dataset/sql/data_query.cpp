// The statement grammar of the SQL dialect and the preparation of a TDataQuery (see
// data_query.h). Each Parse* function starts on the first token of its part and leaves the
// parser on the first token after it. Messages quote the offending token by its raw text.
#include "dataset/sql/data_query.h"

#include <charconv>
#include <climits>
#include <system_error>

#include "dataset/sql/sql_error.h"
#include "dataset/sql/type_checker.h"
#include "engine/field_types.h"
#include "util/text.h"

namespace quillon::sql {

namespace {

constexpr std::size_t kMaxSourceText = 255;

int AggregateKindOf(const TQueryExprNode& node) {
  if (node.NodeClass != kNodeFunction) return kAggregateNone;
  switch (node.Operator) {
    case op::kSum:
      return kAggregateSum;
    case op::kMin:
      return kAggregateMin;
    case op::kMax:
      return kAggregateMax;
    case op::kAvg:
      return kAggregateAvg;
    case op::kCount:
      return kAggregateCount;
    default:
      return kAggregateNone;
  }
}

int ColumnNumber(const std::string& digits) {
  int value = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  (void)ptr;
  return ec == std::errc() ? value : INT_MAX;
}

bool IsCombiningAnd(const TQueryExprNode& node) {
  return node.NodeClass == kNodeBinary && node.Operator == op::kAnd;
}

}  // namespace

void TDataQuery::Clear() {
  Kind = TStatementKind::None;
  Distinct = HasJoins = HasCondition = HasOrderBy = HasGroupBy = NoCase = WithLocks = false;
  LiveResultsOff = ResultInMemory = false;
  ResultTableName.clear();
  ResultFields.clear();
  Sources.clear();
  Condition.reset();
  pendingConditions_.clear();
  OrderByFields.clear();
  GroupByFields.clear();
  UpdateFields.clear();
  UpdateValues.clear();
}

void TDataQuery::Prepare(std::string_view text, const TColumnResolver& resolver) {
  Parse(text);
  Check(resolver);
}

void TDataQuery::Parse(std::string_view text) {
  Clear();
  parser_.SetText(text);
  if (parser_.IsKeyword("SELECT")) {
    Kind = TStatementKind::Select;
    ParseSelect();
  } else if (parser_.IsKeyword("INSERT")) {
    Kind = TStatementKind::Insert;
    ParseInsert();
  } else if (parser_.IsKeyword("UPDATE")) {
    Kind = TStatementKind::Update;
    ParseUpdate();
  } else if (parser_.IsKeyword("DELETE")) {
    Kind = TStatementKind::Delete;
    ParseDelete();
  } else {
    FailFound("SELECT, INSERT, UPDATE, or DELETE keyword expected");
  }
  HasJoins = Sources.size() > 1;
  CombineConditions();
}

void TDataQuery::FailFound(const std::string& what) const {
  RaiseSqlError(what + ", instead found '" + parser_.TokenText() + "'");
}

bool TDataQuery::IsOneOf(std::initializer_list<std::string_view> keywords) const {
  for (std::string_view k : keywords) {
    if (parser_.IsKeyword(k)) return true;
  }
  return false;
}

bool TDataQuery::StartsEmptyExpression() const {
  const int kind = parser_.TokenKind();
  return kind == kTokenEnd || kind == ',' || kind == ')' ||
         IsOneOf({"FROM", "INTO", "WHERE", "GROUP", "ORDER", "WITH", "VALUES", "SET"});
}

void TDataQuery::ExpectEnd(const char* statement) {
  if (parser_.TokenKind() != kTokenEnd) FailFound(std::string("End of ") + statement + " statement expected");
}

// SELECT [ALL | DISTINCT] item, ... [INTO [MEMORY] name] FROM sources [WHERE ...] [GROUP BY ...]
// [ORDER BY ... [NOCASE]] [WITH LOCKS]
void TDataQuery::ParseSelect() {
  parser_.NextToken();
  if (parser_.IsKeyword("ALL")) {
    parser_.NextToken();
  } else if (parser_.IsKeyword("DISTINCT")) {
    Distinct = true;
    parser_.NextToken();
  }
  for (;;) {
    ParseSelectItem();
    if (parser_.TokenKind() != ',') break;
    parser_.NextToken();
  }
  if (parser_.IsKeyword("INTO")) {
    parser_.NextToken();
    LiveResultsOff = true;
    if (parser_.IsKeyword("MEMORY")) {
      ResultInMemory = true;
      parser_.NextToken();
    }
    if (parser_.TokenKind() != kTokenSymbol && parser_.TokenKind() != kTokenString) {
      FailFound(ResultInMemory ? "Result table name expected in INTO MEMORY clause"
                               : "Result table name expected in INTO clause");
    }
    ResultTableName = parser_.TokenName();
    parser_.NextToken();
  }
  if (!parser_.IsKeyword("FROM")) FailFound("FROM keyword expected");
  parser_.NextToken();
  ParseFrom();
  if (parser_.IsKeyword("WHERE")) ParseWhere();
  if (parser_.IsKeyword("GROUP")) ParseGroupBy();
  if (parser_.IsKeyword("ORDER")) ParseOrderBy();
  if (parser_.IsKeyword("WITH")) {
    parser_.NextToken();
    if (!parser_.IsKeyword("LOCKS")) FailFound("LOCKS keyword expected after WITH keyword");
    WithLocks = true;
    parser_.NextToken();
  }
  ExpectEnd("SELECT");
}

void TDataQuery::ParseSelectItem() {
  if (StartsEmptyExpression()) RaiseSqlError("Source column expression is empty");
  const std::size_t start = parser_.TokenStart();
  TResultDataField field;
  field.Expression = parser_.ParseCondition(kSelectItemRules);
  field.SourceText = parser_.SourceTextFrom(start);
  if (field.SourceText.size() > kMaxSourceText) {
    RaiseSqlError("Source column expression exceeds maximum expression length of 255 characters");
  }
  bool hasAlias = false;
  if (parser_.IsKeyword("AS")) {
    parser_.NextToken();
    if (parser_.TokenKind() != kTokenSymbol && parser_.TokenKind() != kTokenString) {
      FailFound("Symbol or string expected after AS keyword");
    }
    hasAlias = true;
  } else if (parser_.TokenKind() == kTokenString ||
             (parser_.TokenKind() == kTokenSymbol && !IsOneOf({"INTO", "FROM"}))) {
    hasAlias = true;
  }
  if (hasAlias) {
    field.Alias = parser_.TokenName();
    parser_.NextToken();
    if (parser_.TokenKind() == '.') {
      parser_.NextToken();
      if (parser_.TokenKind() != kTokenSymbol && parser_.TokenKind() != kTokenString) {
        FailFound("Symbol or string expected after table correlation name");
      }
      field.Alias = parser_.TokenName();
      parser_.NextToken();
    }
  }
  field.AggregateKind = AggregateKindOf(*field.Expression);
  field.IsExpression = field.Expression->NodeClass != kNodeColumn;
  ResultFields.push_back(std::move(field));
}

std::string TDataQuery::ParseTableName(bool& inMemory, const char* missingMessage) {
  inMemory = false;
  if (parser_.IsKeyword("MEMORY")) {
    inMemory = true;
    parser_.NextToken();
  }
  if (parser_.TokenKind() != kTokenSymbol && parser_.TokenKind() != kTokenString) FailFound(missingMessage);
  std::string name = parser_.TokenName();
  parser_.NextToken();
  return name;
}

// source: [MEMORY] name [alias]
void TDataQuery::ParseSource(const char* missingMessage, bool putFirst) {
  TSourceDataFile source;
  source.Path = ParseTableName(source.InMemory, missingMessage);
  source.Number = static_cast<int>(Sources.size()) + 1;
  // ON and FULL cannot be aliases either: "a JOIN b ON ..." must not read ON as b's alias, and a
  // FULL join must be refused rather than read as an alias.
  if (parser_.TokenKind() == kTokenSymbol &&
      !IsOneOf({"LEFT", "RIGHT", "INNER", "JOIN", "WHERE", "ORDER", "GROUP", "HAVING", "WITH", "ON", "FULL"})) {
    source.CorrelationName = parser_.TokenName();
    parser_.NextToken();
  } else {
    source.CorrelationName = FileNamePart(source.Path);
  }
  if (putFirst) {
    Sources.insert(Sources.begin(), std::move(source));
  } else {
    Sources.push_back(std::move(source));
  }
}

void TDataQuery::ParseFrom() {
  ParseSource("Table name expected after FROM keyword", false);
  for (;;) {
    if (parser_.TokenKind() == ',') {
      parser_.NextToken();
      ParseSource("Table name expected after FROM keyword", false);
      continue;
    }
    if (parser_.IsKeyword("FULL")) {
      RaiseSqlError("Full outer joins are currently not supported in Quarry SQL SELECT statements");
    }
    int joinKind = kJoinInner;
    bool putFirst = false;
    if (parser_.IsKeyword("JOIN")) {
      parser_.NextToken();
    } else if (parser_.IsKeyword("INNER")) {
      parser_.NextToken();
      if (!parser_.IsKeyword("JOIN")) FailFound("JOIN keyword expected after INNER keyword");
      parser_.NextToken();
    } else if (parser_.IsKeyword("LEFT") || parser_.IsKeyword("RIGHT")) {
      putFirst = parser_.IsKeyword("RIGHT");
      joinKind = kJoinLeftOuter;
      parser_.NextToken();
      if (parser_.IsKeyword("OUTER")) parser_.NextToken();
      if (!parser_.IsKeyword("JOIN")) {
        FailFound(putFirst ? "JOIN keyword expected after RIGHT or OUTER keyword"
                           : "JOIN keyword expected after LEFT or OUTER keyword");
      }
      parser_.NextToken();
    } else {
      break;
    }
    ParseSource("Table name expected after JOIN keyword", putFirst);
    if (!parser_.IsKeyword("ON")) FailFound("ON keyword expected in JOIN clause");
    parser_.NextToken();
    ParseJoinCondition(joinKind);
  }
}

void TDataQuery::ParseJoinCondition(int joinKind) {
  if (StartsEmptyExpression()) RaiseSqlError("WHERE or JOIN clause is empty");
  AddCondition(parser_.ParseCondition(kConditionRules), joinKind);
}

void TDataQuery::ParseWhere() {
  parser_.NextToken();
  ParseJoinCondition(kJoinNone);
}

void TDataQuery::AddCondition(std::unique_ptr<TQueryExprNode> condition, int joinKind) {
  HasCondition = true;
  while (IsCombiningAnd(*condition)) {
    std::unique_ptr<TQueryExprNode> left = std::move(condition->First);
    std::unique_ptr<TQueryExprNode> right = std::move(left->Next);
    AddCondition(std::move(left), joinKind);
    condition = std::move(right);
  }
  condition->JoinKind = joinKind;
  pendingConditions_.push_back(std::move(condition));
}

void TDataQuery::CombineConditions() {
  Condition.reset();
  for (auto it = pendingConditions_.rbegin(); it != pendingConditions_.rend(); ++it) {
    Condition = Condition ? MakeBinary(op::kAnd, "AND", std::move(*it), std::move(Condition)) : std::move(*it);
  }
  pendingConditions_.clear();
}

std::vector<TQueryExprNode*> TDataQuery::ConditionParts() const {
  std::vector<TQueryExprNode*> parts;
  TQueryExprNode* node = Condition.get();
  while (node && IsCombiningAnd(*node)) {
    parts.push_back(node->First.get());
    node = node->Second();
  }
  if (node) parts.push_back(node);
  return parts;
}

void TDataQuery::ParseColumnReference(const char* missing, int& number, std::string& column, std::string& correlation) {
  if (parser_.TokenKind() == kTokenInteger) {
    number = ColumnNumber(parser_.TokenText());
    parser_.NextToken();
  } else if (parser_.TokenKind() == kTokenSymbol || parser_.TokenKind() == kTokenString) {
    column = parser_.TokenName();
    parser_.NextToken();
    if (parser_.TokenKind() == '.') {
      parser_.NextToken();
      if (parser_.TokenKind() != kTokenSymbol && parser_.TokenKind() != kTokenString) FailFound(missing);
      correlation = FileNamePart(column);
      column = parser_.TokenName();
      parser_.NextToken();
    }
  } else {
    FailFound(missing);
  }
}

void TDataQuery::ParseGroupBy() {
  parser_.NextToken();
  if (!parser_.IsKeyword("BY")) FailFound("BY keyword expected after GROUP keyword");
  parser_.NextToken();
  HasGroupBy = true;
  for (;;) {
    TGroupByDataField item;
    const char* missing = "Column name or column number expected in GROUP BY clause";
    ParseColumnReference(missing, item.ColumnNumber, item.ColumnName, item.CorrelationName);
    GroupByFields.push_back(std::move(item));
    if (parser_.TokenKind() != ',') break;
    parser_.NextToken();
  }
}

void TDataQuery::ParseOrderBy() {
  parser_.NextToken();
  if (!parser_.IsKeyword("BY")) FailFound("BY keyword expected after ORDER keyword");
  parser_.NextToken();
  HasOrderBy = true;
  for (;;) {
    TOrderByDataField item;
    const char* missing = "Column name or column number expected in ORDER BY clause";
    ParseColumnReference(missing, item.ColumnNumber, item.ColumnName, item.CorrelationName);
    if (IsOneOf({"ASC", "ASCENDING"})) {
      parser_.NextToken();
    } else if (IsOneOf({"DESC", "DESCENDING"})) {
      item.Descending = true;
      parser_.NextToken();
    }
    OrderByFields.push_back(std::move(item));
    if (parser_.TokenKind() != ',') break;
    parser_.NextToken();
  }
  if (parser_.IsKeyword("NOCASE")) {
    NoCase = true;
    parser_.NextToken();
  }
}

void TDataQuery::ParseTargetColumn(std::vector<TUpdateDataField>& into) {
  if (StartsEmptyExpression()) RaiseSqlError("Table column name is empty");
  // A sum, not a condition: in UPDATE the "=" after the column is the assignment.
  std::unique_ptr<TQueryExprNode> column = parser_.ParseSum(kTableColumnRules);
  if (column->NodeClass != kNodeColumn) RaiseSqlError("Table columns cannot contain expressions");
  TUpdateDataField field;
  field.ColumnName = column->ColumnName;
  field.Column = std::move(column);
  into.push_back(std::move(field));
}

void TDataQuery::ParseValue() {
  if (StartsEmptyExpression()) RaiseSqlError("Value expression is empty");
  const std::size_t start = parser_.TokenStart();
  TUpdateDataValue value;
  value.Expression = parser_.ParseCondition(kValueRules);
  value.SourceText = parser_.SourceTextFrom(start).substr(0, kMaxSourceText);
  UpdateValues.push_back(std::move(value));
}

// INSERT INTO [MEMORY] table [alias] [(column, ...)] VALUES (value, ...)
void TDataQuery::ParseInsert() {
  parser_.NextToken();
  if (!parser_.IsKeyword("INTO")) FailFound("INTO keyword expected");
  parser_.NextToken();
  TSourceDataFile target;
  const bool memory = parser_.IsKeyword("MEMORY");
  target.Path = ParseTableName(
      target.InMemory, memory ? "Table name expected after INTO clause" : "Table name expected after INTO keyword");
  target.Number = 1;
  if (parser_.TokenKind() == kTokenSymbol && !parser_.IsKeyword("VALUES")) {
    target.CorrelationName = parser_.TokenName();
    parser_.NextToken();
  } else {
    target.CorrelationName = FileNamePart(target.Path);
  }
  Sources.push_back(std::move(target));
  if (parser_.TokenKind() == '(') {
    parser_.NextToken();
    for (;;) {
      ParseTargetColumn(UpdateFields);
      if (parser_.TokenKind() != ',') break;
      parser_.NextToken();
    }
    if (parser_.TokenKind() != ')') FailFound("Right parentheses expected after list of table columns");
    parser_.NextToken();
  } else {
    TUpdateDataField all;
    all.ColumnName = "*";
    UpdateFields.push_back(std::move(all));
  }
  if (!parser_.IsKeyword("VALUES")) FailFound("VALUES keyword expected");
  parser_.NextToken();
  if (parser_.TokenKind() != '(') FailFound("Left parentheses expected after VALUES keyword");
  parser_.NextToken();
  for (;;) {
    ParseValue();
    if (parser_.TokenKind() != ',') break;
    parser_.NextToken();
  }
  if (parser_.TokenKind() != ')') FailFound("Right parentheses expected after list of values");
  parser_.NextToken();
  ExpectEnd("INSERT");
}

// UPDATE [MEMORY] table [alias] SET column = value, ... [WHERE condition]
void TDataQuery::ParseUpdate() {
  parser_.NextToken();
  TSourceDataFile target;
  target.Path = ParseTableName(target.InMemory, "Table name expected");
  target.Number = 1;
  if (parser_.TokenKind() == kTokenSymbol && !parser_.IsKeyword("SET")) {
    target.CorrelationName = parser_.TokenName();
    parser_.NextToken();
  } else {
    target.CorrelationName = FileNamePart(target.Path);
  }
  Sources.push_back(std::move(target));
  if (!parser_.IsKeyword("SET")) FailFound("SET keyword expected");
  parser_.NextToken();
  for (;;) {
    ParseTargetColumn(UpdateFields);
    if (parser_.TokenKind() != '=') FailFound("Assignment (=) operator expected after column name");
    parser_.NextToken();
    ParseValue();
    if (parser_.TokenKind() != ',') break;
    parser_.NextToken();
  }
  if (parser_.IsKeyword("WHERE")) ParseWhere();
  ExpectEnd("UPDATE");
}

// DELETE FROM [MEMORY] table [WHERE condition]
void TDataQuery::ParseDelete() {
  parser_.NextToken();
  if (!parser_.IsKeyword("FROM")) FailFound("FROM keyword expected");
  parser_.NextToken();
  TSourceDataFile target;
  target.Path = ParseTableName(target.InMemory, "Table name expected");
  target.Number = 1;
  target.CorrelationName = FileNamePart(target.Path);
  Sources.push_back(std::move(target));
  if (parser_.IsKeyword("WHERE")) ParseWhere();
  ExpectEnd("DELETE");
}

void TDataQuery::Check(const TColumnResolver& resolver) {
  for (std::size_t i = 0; i < Sources.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (EqualIgnoringCase(Sources[i].CorrelationName, Sources[j].CorrelationName)) {
        RaiseSqlError("Duplicate table correlation name '" + Sources[i].CorrelationName + "' found in source tables");
      }
    }
  }
  TTypeChecker checker(Sources, resolver, parser_.Environment());
  for (TResultDataField& field : ResultFields) {
    checker.CheckExpression(field.Expression, kSelectItemRules.Context);
    if (field.Expression->NodeClass == kNodeColumn) field.SourceIndex = field.Expression->SourceIndex;
  }
  for (TUpdateDataField& field : UpdateFields) {
    if (field.Column && field.ColumnName != "*") checker.BindColumn(*field.Column, kTableColumnRules.Context);
  }
  for (TUpdateDataValue& value : UpdateValues) checker.CheckExpression(value.Expression, kValueRules.Context);
  // Each part of the AND chain is checked in its own slot, so a rewritten part stays in place.
  std::unique_ptr<TQueryExprNode>* slot = &Condition;
  while (*slot && IsCombiningAnd(**slot)) {
    checker.CheckCondition((*slot)->First, kConditionRules.Context);
    (*slot)->DataType = static_cast<int>(engine::TFieldType::Boolean);
    (*slot)->Size = 2;
    slot = &(*slot)->First->Next;
  }
  if (*slot) checker.CheckCondition(*slot, kConditionRules.Context);
}

}  // namespace quillon::sql
