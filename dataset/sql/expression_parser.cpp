// The SQL lexer and expression parser (see expression_parser.h for the rules kept).
//
// Messages name the offending token by its raw text, so every "instead found" is built from
// TokenText() at the moment of failure. Peeking saves and restores the whole lexer state; it may
// raise a lexing error early, which the real advance would raise anyway.
#include "dataset/sql/expression_parser.h"

#include <charconv>
#include <cstdint>
#include <system_error>

#include "dataset/sql/sql_error.h"
#include "util/text.h"

namespace quillon::sql {

namespace {

bool IsLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 129 && c <= 254);
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

constexpr std::string_view kKeywords[] = {
    "SELECT",    "INSERT", "UPDATE", "DELETE",  "ALL",      "DISTINCT",  "AS",      "INTO",       "MEMORY", "FROM",
    "LEFT",      "RIGHT",  "INNER",  "OUTER",   "FULL",     "JOIN",      "ON",      "WHERE",      "GROUP",  "ORDER",
    "BY",        "HAVING", "WITH",   "LOCKS",   "ASC",      "ASCENDING", "DESC",    "DESCENDING", "NOCASE", "VALUES",
    "SET",       "AND",    "OR",     "NOT",     "BETWEEN",  "LIKE",      "IN",      "IS",         "NULL",   "TRUE",
    "FALSE",     "DATE",   "NOW",    "SUM",     "AVG",      "MIN",       "MAX",     "COUNT",      "LOWER",  "UPPER",
    "SUBSTRING", "FOR",    "TRIM",   "LEADING", "TRAILING", "BOTH",      "EXTRACT", "YEAR",       "MONTH",  "DAY"};

std::string Quoted(const std::string& s) {
  return "'" + s + "'";
}

}  // namespace

class TExpressionParser::TNestingGuard {
 public:
  TNestingGuard(TExpressionParser& parser, const TExprRules& rules) : parser_(parser) {
    if (++parser_.nesting_ > kMaxNesting) {
      --parser_.nesting_;
      RaiseSqlError(std::string("Expression nesting exceeds the maximum depth in ") + rules.Context);
    }
  }
  ~TNestingGuard() { --parser_.nesting_; }
  TNestingGuard(const TNestingGuard&) = delete;
  TNestingGuard& operator=(const TNestingGuard&) = delete;

 private:
  TExpressionParser& parser_;
};

std::string FileNamePart(std::string_view tableName) {
  std::size_t start = tableName.find_last_of("\\/:");
  std::string_view name = start == std::string_view::npos ? tableName : tableName.substr(start + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}

std::unique_ptr<TQueryExprNode> MakeBinary(int oper, const std::string& name, std::unique_ptr<TQueryExprNode> left,
                                           std::unique_ptr<TQueryExprNode> right) {
  auto node = MakeNode(kNodeBinary, oper, name);
  left->Next = std::move(right);
  node->First = std::move(left);
  return node;
}

TExpressionParser::TExpressionParser(const TSqlEnvironment& environment) : environment_(environment) {}

void TExpressionParser::SetText(std::string_view text) {
  std::size_t zero = text.find('\0');
  text_.assign(text.substr(0, zero));
  pos_ = tokenStart_ = tokenEnd_ = before_ = 0;
  kind_ = kTokenEnd;
  nesting_ = 0;
  parameters_.clear();
  NextToken();
}

void TExpressionParser::Restore(const TState& s) {
  pos_ = s.pos;
  tokenStart_ = s.tokenStart;
  tokenEnd_ = s.tokenEnd;
  before_ = s.before;
  kind_ = s.kind;
}

void TExpressionParser::SkipBlanks() {
  while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) <= ' ') ++pos_;
}

int TExpressionParser::NextToken() {
  before_ = pos_;
  SkipBlanks();
  if (pos_ + 1 < text_.size() && text_[pos_] == '/' && text_[pos_ + 1] == '*') {
    std::size_t close = text_.find("*/", pos_ + 2);
    if (close == std::string::npos) RaiseSqlError("Missing ending comment slash and asterisk in SQL statement");
    pos_ = close + 2;
    SkipBlanks();
  }
  tokenStart_ = pos_;
  if (pos_ >= text_.size()) {
    tokenEnd_ = pos_;
    return kind_ = kTokenEnd;
  }
  const auto c = static_cast<unsigned char>(text_[pos_]);
  if (IsLetter(c) || c == '_') {
    while (pos_ < text_.size()) {
      const auto d = static_cast<unsigned char>(text_[pos_]);
      if (!IsLetter(d) && !IsDigit(d) && d != '_') break;
      ++pos_;
    }
    tokenEnd_ = pos_;
    return kind_ = kTokenSymbol;
  }
  if (c == '[') {
    std::size_t close = text_.find(']', pos_ + 1);
    if (close == std::string::npos) {
      RaiseSqlError("Missing right bracket after '" + text_.substr(pos_, kMaxTokenText) + "' in SQL statement");
    }
    pos_ = tokenEnd_ = close + 1;
    return kind_ = kTokenSymbol;
  }
  if (c == '\'' || c == '"') {
    std::size_t i = pos_ + 1;
    for (;;) {
      if (i >= text_.size()) {
        RaiseSqlError(std::string("Missing ") + (c == '\'' ? "single" : "double") + " quote after '" +
                      text_.substr(pos_ + 1, kMaxTokenText) + "' in SQL statement");
      }
      if (static_cast<unsigned char>(text_[i]) == c) {
        if (i + 1 < text_.size() && static_cast<unsigned char>(text_[i + 1]) == c) {
          i += 2;
          continue;
        }
        break;
      }
      ++i;
    }
    tokenEnd_ = i;
    pos_ = i + 1;
    return kind_ = kTokenString;
  }
  if (IsDigit(c)) {
    bool isFloat = false;
    ++pos_;
    while (pos_ < text_.size()) {
      const auto d = static_cast<unsigned char>(text_[pos_]);
      const auto prev = static_cast<unsigned char>(text_[pos_ - 1]);
      if (IsDigit(d)) {
        ++pos_;
      } else if (d == '.' || d == 'E' || d == 'e' || ((d == '+' || d == '-') && (prev == 'E' || prev == 'e'))) {
        isFloat = true;
        ++pos_;
      } else {
        break;
      }
    }
    tokenEnd_ = pos_;
    return kind_ = isFloat ? kTokenFloat : kTokenInteger;
  }
  ++pos_;
  tokenEnd_ = pos_;
  return kind_ = c;
}

std::string TExpressionParser::TokenText() const {
  if (kind_ == kTokenEnd) return {};
  const std::size_t start = kind_ == kTokenString ? tokenStart_ + 1 : tokenStart_;
  return text_.substr(start, std::min(tokenEnd_ - start, kMaxTokenText));
}

std::string TExpressionParser::TokenName() const {
  std::string text = TokenText();
  if (kind_ == kTokenSymbol && text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

bool TExpressionParser::IsKeyword(std::string_view keyword) const {
  return kind_ == kTokenSymbol && tokenEnd_ - tokenStart_ == keyword.size() &&
         EqualIgnoringCase(std::string_view(text_).substr(tokenStart_, keyword.size()), keyword);
}

bool TExpressionParser::IsAnyKeyword() const {
  for (std::string_view k : kKeywords) {
    if (IsKeyword(k)) return true;
  }
  return false;
}

int TExpressionParser::PeekKind() {
  const TState s = Save();
  const int kind = NextToken();
  Restore(s);
  return kind;
}

bool TExpressionParser::PeekIsKeyword(std::string_view keyword) {
  const TState s = Save();
  NextToken();
  const bool is = IsKeyword(keyword);
  Restore(s);
  return is;
}

std::string TExpressionParser::SourceTextFrom(std::size_t from) const {
  std::string out;
  for (std::size_t i = from; i < before_ && i < text_.size(); ++i) {
    if (text_[i] != '\r' && text_[i] != '\n') out += text_[i];
  }
  return out;
}

void TExpressionParser::Fail(const TExprRules&, const std::string& message) const {
  RaiseSqlError(message);
}

void TExpressionParser::FailFound(const TExprRules& rules, const std::string& what) const {
  RaiseSqlError(what + ", instead found " + Quoted(TokenText()) + " in " + rules.Context);
}

void TExpressionParser::Expect(int kind, const TExprRules& rules, const std::string& message) {
  if (kind_ != kind) FailFound(rules, message);
  NextToken();
}

// condition: negation [(AND | OR) condition]
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseCondition(const TExprRules& rules) {
  TNestingGuard guard(*this, rules);
  auto left = ParseNegation(rules);
  if (IsKeyword("AND") || IsKeyword("OR")) {
    const bool isAnd = IsKeyword("AND");
    NextToken();
    auto right = ParseCondition(rules);
    return MakeBinary(isAnd ? op::kAnd : op::kOr, isAnd ? "AND" : "OR", std::move(left), std::move(right));
  }
  return left;
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParseNegation(const TExprRules& rules) {
  TNestingGuard guard(*this, rules);
  if (IsKeyword("NOT")) {
    NextToken();
    auto node = MakeNode(kNodeUnary, op::kNot, "NOT");
    node->First = ParseNegation(rules);
    return node;
  }
  return ParsePredicate(rules);
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParsePredicate(const TExprRules& rules) {
  TNestingGuard guard(*this, rules);
  auto left = ParseSum(rules);
  if (auto comparison = ParseComparison(rules, left)) return comparison;
  if (kind_ != kTokenSymbol) return left;

  bool negated = false;
  if (IsKeyword("NOT")) {
    if (!PeekIsKeyword("BETWEEN") && !PeekIsKeyword("LIKE") && !PeekIsKeyword("IN")) return left;
    negated = true;
  } else if (!IsKeyword("BETWEEN") && !IsKeyword("LIKE") && !IsKeyword("IN") && !IsKeyword("IS")) {
    return left;
  }
  if (!rules.Extended) {
    Fail(rules,
         std::string("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in ") + rules.Context);
  }
  if (negated) NextToken();
  if (IsKeyword("IS")) return ParseIsNull(rules, std::move(left));
  if (IsKeyword("BETWEEN")) return ParseBetween(rules, std::move(left), negated);
  if (IsKeyword("LIKE")) return ParseLike(rules, std::move(left), negated);
  return ParseInList(rules, std::move(left), negated);
}

// left ("=" | "<>" | "<" | "<=" | ">" | ">=") predicate; nothing (left untouched) when no
// comparison operator follows.
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseComparison(const TExprRules& rules,
                                                                   std::unique_ptr<TQueryExprNode>& left) {
  auto comparison = [&](int oper, const char* name) {
    auto right = ParsePredicate(rules);
    return MakeBinary(oper, name, std::move(left), std::move(right));
  };
  switch (kind_) {
    case '=':
      NextToken();
      return comparison(op::kEqual, "=");
    case '<':
      NextToken();
      if (kind_ == '>') {
        NextToken();
        return comparison(op::kNotEqual, "<>");
      }
      if (kind_ == '=') {
        NextToken();
        return comparison(op::kLessOrEqual, "<=");
      }
      return comparison(op::kLess, "<");
    case '>':
      NextToken();
      if (kind_ == '=') {
        NextToken();
        return comparison(op::kGreaterOrEqual, ">=");
      }
      return comparison(op::kGreater, ">");
    default:
      return nullptr;
  }
}

// left IS [NOT] NULL, a comparison with the null constant.
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseIsNull(const TExprRules& rules,
                                                               std::unique_ptr<TQueryExprNode> left) {
  NextToken();
  bool isNot = false;
  if (IsKeyword("NOT")) {
    isNot = true;
    NextToken();
  }
  if (!IsKeyword("NULL"))
    Fail(rules, "Unknown or unexpected symbol " + Quoted(TokenText()) + " found in " + rules.Context);
  NextToken();
  auto null = MakeNode(kNodeConstant, op::kNone, "NULL");
  null->SetNull();
  return MakeBinary(isNot ? op::kNotEqual : op::kEqual, isNot ? "<>" : "=", std::move(left), std::move(null));
}

// left [NOT] BETWEEN low AND high: the operands chained after the tested value.
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseBetween(const TExprRules& rules,
                                                                std::unique_ptr<TQueryExprNode> left, bool negated) {
  NextToken();
  auto node = MakeNode(kNodeExtended, negated ? op::kNotBetween : op::kBetween, negated ? "NOT BETWEEN" : "BETWEEN");
  auto low = ParsePredicate(rules);
  if (!IsKeyword("AND")) FailFound(rules, "Expected AND operator in BETWEEN operator");
  NextToken();
  low->Next = ParsePredicate(rules);
  left->Next = std::move(low);
  node->First = std::move(left);
  return node;
}

// left [NOT] LIKE pattern.
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseLike(const TExprRules& rules,
                                                             std::unique_ptr<TQueryExprNode> left, bool negated) {
  NextToken();
  auto node = MakeNode(kNodeExtended, negated ? op::kNotLike : op::kLike, negated ? "NOT LIKE" : "LIKE");
  left->Next = ParsePredicate(rules);
  node->First = std::move(left);
  return node;
}

// left [NOT] IN (value, ...): the values chained after the tested value.
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseInList(const TExprRules& rules,
                                                               std::unique_ptr<TQueryExprNode> left, bool negated) {
  NextToken();
  if (kind_ != '(') {
    FailFound(rules,
              negated ? "Expected left parentheses for IN operator" : "Expected left parentheses after IN operator");
  }
  NextToken();
  if (kind_ == ')') {
    Fail(rules,
         std::string("You must provide at least one value as an operand of the IN operator  in ") + rules.Context);
  }
  auto node = MakeNode(kNodeExtended, negated ? op::kNotIn : op::kIn, negated ? "NOT IN" : "IN");
  TQueryExprNode* last = left.get();
  node->First = std::move(left);
  for (;;) {
    last->Next = ParsePredicate(rules);
    last = last->Next.get();
    if (kind_ != ',') break;
    NextToken();
  }
  Expect(')', rules, "Expected right parentheses after IN operator");
  return node;
}

// sum: product [("+" | "-" | "||") sum]
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseSum(const TExprRules& rules) {
  TNestingGuard guard(*this, rules);
  auto left = ParseProduct(rules);
  int oper = op::kNone;
  const char* name = "";
  if (kind_ == '+') {
    oper = op::kPlus;
    name = "+";
  } else if (kind_ == '-') {
    oper = op::kMinus;
    name = "-";
  } else if (kind_ == '|') {
    NextToken();
    if (kind_ != '|') FailFound(rules, "Second concatenation symbol '|' expected after first concatentation symbol");
    oper = op::kPlus;
    name = "+";
  } else {
    return left;
  }
  NextToken();
  auto right = ParseSum(rules);
  return MakeBinary(oper, name, std::move(left), std::move(right));
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParseProduct(const TExprRules& rules) {
  TNestingGuard guard(*this, rules);
  auto left = ParsePrimary(rules);
  if (kind_ != '*' && kind_ != '/') return left;
  const bool multiply = kind_ == '*';
  NextToken();
  auto right = ParseProduct(rules);
  return MakeBinary(multiply ? op::kMultiply : op::kDivide, multiply ? "*" : "/", std::move(left), std::move(right));
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParsePrimary(const TExprRules& rules) {
  TNestingGuard guard(*this, rules);
  switch (kind_) {
    case kTokenSymbol:
      return ParseSymbolPrimary(rules);
    case kTokenString: {
      const std::string text = TokenText();
      if (PeekKind() == '.') {
        NextToken();
        NextToken();
        return ParseQualifiedColumn(FileNamePart(text), rules);
      }
      auto node = MakeNode(kNodeConstant, op::kNone, text);
      if (text.empty()) {
        node->SetNull();
      } else {
        node->SetString(text);
      }
      NextToken();
      return node;
    }
    case kTokenInteger:
    case kTokenFloat:
      return ParseNumber(rules);
    case '(': {
      NextToken();
      auto node = ParseCondition(rules);
      Expect(')', rules, "Right parentheses expected");
      return node;
    }
    case '*': {
      if (!rules.Star) Fail(rules, std::string("* (all columns) symbol is not allowed in ") + rules.Context);
      auto node = MakeNode(kNodeColumn, op::kNone, "*");
      node->ColumnName = "*";
      NextToken();
      return node;
    }
    case '?': {
      if (!rules.Parameters) Fail(rules, std::string("Parameters are not allowed in ") + rules.Context);
      auto node = MakeNode(kNodeConstant, op::kNone, "?");
      node->IsParameter = true;
      node->ParameterIndex = static_cast<int>(parameters_.size());
      parameters_.push_back(node.get());
      NextToken();
      return node;
    }
    default:
      Fail(rules, "Unknown or unexpected symbol " + Quoted(TokenText()) + " found in " + rules.Context);
  }
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParseNumber(const TExprRules& rules) {
  const std::string text = TokenText();
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto node = MakeNode(kNodeConstant, op::kNone, text);
  if (kind_ == kTokenInteger) {
    std::int32_t value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc() && ptr == last) {
      node->SetInteger(value);
      NextToken();
      return node;
    }
  }
  // Floats, and integers too large for 32 bits, keep their value as a float.
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last) {
    Fail(rules, "Unknown or unexpected symbol " + Quoted(text) + " found in " + rules.Context);
  }
  node->SetFloat(value);
  NextToken();
  return node;
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParseSymbolPrimary(const TExprRules& rules) {
  struct Aggregate {
    const char* name;
    int oper;
  };
  static constexpr Aggregate kAggregates[] = {
      {"SUM", op::kSum}, {"AVG", op::kAvg}, {"MIN", op::kMin}, {"MAX", op::kMax}, {"COUNT", op::kCount}};
  for (const Aggregate& a : kAggregates) {
    if (IsKeyword(a.name)) return ParseAggregate(a.oper, a.name, rules);
  }
  if (IsKeyword("LOWER")) return ParseCaseFunction(op::kLower, "LOWER", rules);
  if (IsKeyword("UPPER")) return ParseCaseFunction(op::kUpper, "UPPER", rules);
  if (IsKeyword("SUBSTRING")) return ParseSubstring(rules);
  if (IsKeyword("TRIM")) return ParseTrim(rules);
  if (IsKeyword("EXTRACT")) return ParseExtract(rules);
  if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
    const bool value = IsKeyword("TRUE");
    auto node = MakeNode(kNodeConstant, op::kNone, value ? "TRUE" : "FALSE");
    node->SetBoolean(value);
    NextToken();
    return node;
  }
  if (IsKeyword("NULL")) {
    auto node = MakeNode(kNodeConstant, op::kNone, "NULL");
    node->SetNull();
    NextToken();
    return node;
  }
  if (IsKeyword("DATE") || IsKeyword("NOW")) {
    const bool isDate = IsKeyword("DATE");
    auto node = MakeNode(kNodeConstant, op::kNone, isDate ? "DATE" : "NOW");
    const std::int32_t today = DayNumber(environment_.Today());
    if (isDate) {
      node->SetDate(today);
    } else {
      node->SetTimeStamp(today * kMillisecondsPerDay);
    }
    NextToken();
    return node;
  }
  const std::string name = TokenName();
  const int next = PeekKind();
  if (next == '(') Fail(rules, "Unknown or unexpected function " + Quoted(TokenText()) + " found in " + rules.Context);
  if (next == '.') {
    NextToken();
    NextToken();
    return ParseQualifiedColumn(FileNamePart(name), rules);
  }
  auto node = MakeNode(kNodeColumn, op::kNone, name);
  node->ColumnName = name;
  NextToken();
  return node;
}

// After "correlation ." : the column (symbol, string or "*").
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseQualifiedColumn(const std::string& correlation,
                                                                        const TExprRules& rules) {
  if (kind_ != kTokenSymbol && kind_ != kTokenString && kind_ != '*') {
    FailFound(rules, "Symbol or string expression expected after table correlation name separator '.'");
  }
  if (kind_ == '*' && !rules.Star)
    Fail(rules, std::string("* (all columns) symbol is not allowed in ") + rules.Context);
  const std::string name = kind_ == '*' ? std::string("*") : TokenName();
  auto node = MakeNode(kNodeColumn, op::kNone, name);
  node->ColumnName = name;
  node->CorrelationName = correlation;
  NextToken();
  return node;
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParseAggregate(int oper, const char* name, const TExprRules& rules) {
  if (!rules.Aggregates) Fail(rules, std::string("Aggregate functions are not allowed in ") + rules.Context);
  NextToken();
  if (kind_ != '(') FailFound(rules, std::string("Left parentheses expectedafter aggregate function '") + name + "'");
  NextToken();
  auto node = MakeNode(kNodeFunction, oper, name);
  if (oper == op::kCount && kind_ == '*') {
    node->First = MakeNode(kNodeColumn, op::kNone, "*");
    node->First->ColumnName = "*";
    NextToken();
  } else {
    node->First = ParseSum(rules);
  }
  Expect(')', rules, std::string("Right parentheses expected after aggregate ") + name + " function argument");
  return node;
}

std::unique_ptr<TQueryExprNode> TExpressionParser::ParseCaseFunction(int oper, const char* name,
                                                                     const TExprRules& rules) {
  NextToken();
  Expect('(', rules, std::string("Left parentheses expectedafter ") + name + " keyword");
  auto node = MakeNode(kNodeFunction, oper, name);
  node->First = ParseSum(rules);
  Expect(')', rules, std::string("Right parentheses expected after ") + name + " function argument");
  return node;
}

// SUBSTRING ( sum FROM primary [FOR primary] )
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseSubstring(const TExprRules& rules) {
  NextToken();
  Expect('(', rules, "Left parentheses expected after SUBSTRING keyword");
  auto node = MakeNode(kNodeFunction, op::kSubstring, "SUBSTRING");
  node->First = ParseSum(rules);
  if (!IsKeyword("FROM")) FailFound(rules, "FROM keyword expected after first SUBSTRING function argument");
  NextToken();
  node->First->Next = ParsePrimary(rules);
  if (IsKeyword("FOR")) {
    NextToken();
    node->First->Next->Next = ParsePrimary(rules);
  }
  Expect(')', rules, "Right parentheses expected after SUBSTRING function arguments");
  return node;
}

// TRIM ( LEADING | TRAILING | BOTH primary FROM sum ); stored as (string, trim character).
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseTrim(const TExprRules& rules) {
  NextToken();
  Expect('(', rules, "Left parentheses expected after TRIM keyword");
  int oper = op::kNone;
  const char* name = "";
  if (IsKeyword("LEADING")) {
    oper = op::kTrimLeading;
    name = "TRIM LEADING";
  } else if (IsKeyword("TRAILING")) {
    oper = op::kTrimTrailing;
    name = "TRIM TRAILING";
  } else if (IsKeyword("BOTH")) {
    oper = op::kTrimBoth;
    name = "TRIM BOTH";
  } else {
    FailFound(rules, "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword");
  }
  NextToken();
  auto character = ParsePrimary(rules);
  if (!IsKeyword("FROM")) FailFound(rules, "FROM keyword expected after second TRIM function argument");
  NextToken();
  auto node = MakeNode(kNodeFunction, oper, name);
  node->First = ParseSum(rules);
  node->First->Next = std::move(character);
  Expect(')', rules, "Right parentheses expected after TRIM function arguments");
  return node;
}

// EXTRACT ( YEAR | MONTH | DAY FROM primary )
std::unique_ptr<TQueryExprNode> TExpressionParser::ParseExtract(const TExprRules& rules) {
  NextToken();
  Expect('(', rules, "Left parentheses expected after EXTRACT keyword");
  int oper = op::kNone;
  const char* name = "";
  if (IsKeyword("YEAR")) {
    oper = op::kExtractYear;
    name = "EXTRACT YEAR";
  } else if (IsKeyword("MONTH")) {
    oper = op::kExtractMonth;
    name = "EXTRACT MONTH";
  } else if (IsKeyword("DAY")) {
    oper = op::kExtractDay;
    name = "EXTRACT DAY";
  } else {
    FailFound(rules, "YEAR, MONTH, or DAY keyword expected after EXTRACT keyword");
  }
  NextToken();
  if (!IsKeyword("FROM")) FailFound(rules, "FROM keyword expected after second EXTRACT function argument");
  NextToken();
  auto node = MakeNode(kNodeFunction, oper, name);
  node->First = ParsePrimary(rules);
  Expect(')', rules, "Right parentheses expected after EXTRACT function arguments");
  return node;
}

}  // namespace quillon::sql
