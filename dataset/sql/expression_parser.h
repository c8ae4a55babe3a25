// TExpressionParser: the SQL lexer and the recursive-descent expression parser over one private
// copy of the statement text. The statement grammar (TDataQuery) drives it token by token.
//
// Lexing rules kept here:
//   1. Before each token, bytes up to and including blank are skipped, then at most one comment
//      "/*...*/", then blanks again; a second comment in a row is read as tokens.
//   2. A symbol is a letter ("A".."Z", "a".."z", bytes 129..254) or "_" followed by letters, digits
//      and "_", or any text in square brackets, brackets included.
//   3. A string is quoted with ' or "; a doubled quote inside stays doubled in the token text.
//   4. A number starts with a digit: digits only make an integer; digits followed by a run of
//      digits, ".", "E", "e" (and "+" or "-" right after an "E" or "e") make a float. A "-" is
//      always a token of its own, so -5 is two tokens.
//   5. Any other byte is a token of its own whose kind is the byte's value; the end of the text
//      (or a zero byte) is kind 0.
//   6. Token texts taken for names, constants and messages are cut to 255 characters.
// Expression parsing follows the precedence levels condition (AND and OR on one level), negation,
// predicate, sum, product and primary; every binary level groups to the right. Nesting is
// bounded (kMaxNesting) so that no input can exhaust the stack.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/sql/query_expr_node.h"
#include "dataset/sql/sql_environment.h"

namespace quillon::sql {

// Token kinds; a single-character token's kind is its byte value.
inline constexpr int kTokenEnd = 0;
inline constexpr int kTokenSymbol = 1;
inline constexpr int kTokenString = 2;
inline constexpr int kTokenInteger = 3;
inline constexpr int kTokenFloat = 4;

inline constexpr int kMaxNesting = 500;

// What an expression may contain in one place of a statement, and the phrase naming the place
// in messages.
struct TExprRules {
  bool Aggregates = false;
  bool Star = false;
  bool Extended = false;  // LIKE, BETWEEN, IN, IS NULL
  bool Parameters = false;
  const char* Context = "";
};

inline constexpr TExprRules kSelectItemRules{true, true, false, false, "source columns"};
inline constexpr TExprRules kTableColumnRules{false, false, false, false, "table columns"};
inline constexpr TExprRules kValueRules{false, false, false, true, "values"};
inline constexpr TExprRules kConditionRules{false, false, true, true, "WHERE or JOIN clause"};

class TExpressionParser {
 public:
  explicit TExpressionParser(const TSqlEnvironment& environment = DefaultSqlEnvironment());

  // Takes a copy of text (up to its first zero byte), clears the parameter list and reads the
  // first token.
  void SetText(std::string_view text);

  // Reads the next token and returns its kind.
  int NextToken();
  int TokenKind() const { return kind_; }
  // The raw token text (strings without their outer quotes), cut to 255 characters; empty at
  // the end of the text.
  std::string TokenText() const;
  // The token text as a name: square brackets of a bracketed symbol removed.
  std::string TokenName() const;
  // The current token is a symbol spelling keyword (compared without case).
  bool IsKeyword(std::string_view keyword) const;
  // The current token is one of the dialect's keywords.
  bool IsAnyKeyword() const;
  // Kind of the token after the current one, and whether it is a given keyword; the position
  // does not move.
  int PeekKind();
  bool PeekIsKeyword(std::string_view keyword);

  std::size_t TokenStart() const { return tokenStart_; }
  // Where the text stood before the current token was read (the end of the previous token).
  std::size_t PositionBeforeToken() const { return before_; }
  // The statement text from `from` up to PositionBeforeToken(), CR and LF removed, uncut.
  std::string SourceTextFrom(std::size_t from) const;

  std::unique_ptr<TQueryExprNode> ParseCondition(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseSum(const TExprRules& rules);

  // The "?" parameters met since SetText, in order of appearance (nodes owned by the trees).
  const std::vector<TQueryExprNode*>& Parameters() const { return parameters_; }

  const TSqlEnvironment& Environment() const { return environment_; }

 private:
  struct TState {
    std::size_t pos, tokenStart, tokenEnd, before;
    int kind;
  };
  class TNestingGuard;

  TState Save() const { return {pos_, tokenStart_, tokenEnd_, before_, kind_}; }
  void Restore(const TState& s);
  void SkipBlanks();
  [[noreturn]] void Fail(const TExprRules& rules, const std::string& message) const;
  [[noreturn]] void FailFound(const TExprRules& rules, const std::string& what) const;

  std::unique_ptr<TQueryExprNode> ParseNegation(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParsePredicate(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseComparison(const TExprRules& rules, std::unique_ptr<TQueryExprNode>& left);
  std::unique_ptr<TQueryExprNode> ParseIsNull(const TExprRules& rules, std::unique_ptr<TQueryExprNode> left);
  std::unique_ptr<TQueryExprNode> ParseBetween(const TExprRules& rules, std::unique_ptr<TQueryExprNode> left,
                                               bool negated);
  std::unique_ptr<TQueryExprNode> ParseLike(const TExprRules& rules, std::unique_ptr<TQueryExprNode> left,
                                            bool negated);
  std::unique_ptr<TQueryExprNode> ParseInList(const TExprRules& rules, std::unique_ptr<TQueryExprNode> left,
                                              bool negated);
  std::unique_ptr<TQueryExprNode> ParseProduct(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParsePrimary(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseSymbolPrimary(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseQualifiedColumn(const std::string& correlation, const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseAggregate(int oper, const char* name, const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseCaseFunction(int oper, const char* name, const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseSubstring(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseTrim(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseExtract(const TExprRules& rules);
  std::unique_ptr<TQueryExprNode> ParseNumber(const TExprRules& rules);
  void Expect(int kind, const TExprRules& rules, const std::string& message);

  const TSqlEnvironment& environment_;
  std::string text_;
  std::size_t pos_ = 0;
  std::size_t tokenStart_ = 0;
  std::size_t tokenEnd_ = 0;
  std::size_t before_ = 0;
  int kind_ = kTokenEnd;
  int nesting_ = 0;
  std::vector<TQueryExprNode*> parameters_;
};

// The file-name part of a table name: without directory (after the last "\", "/" or ":") and
// without extension (from the last "." of that part).
std::string FileNamePart(std::string_view tableName);

// Links two operands below a new binary node.
std::unique_ptr<TQueryExprNode> MakeBinary(int oper, const std::string& name, std::unique_ptr<TQueryExprNode> left,
                                           std::unique_ptr<TQueryExprNode> right);

}  // namespace quillon::sql
