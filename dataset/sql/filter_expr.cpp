// Filter texts and canned filter buffers; see filter_expr.h.
#include "dataset/sql/filter_expr.h"

#include <algorithm>
#include <cstring>

#include "dataset/engine_error.h"
#include "engine/data_file.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::sql {

TFilterTerm::~TFilterTerm() {
  std::vector<std::unique_ptr<TFilterTerm>> pending;
  if (Left) pending.push_back(std::move(Left));
  if (Right) pending.push_back(std::move(Right));
  while (!pending.empty()) {
    std::unique_ptr<TFilterTerm> t = std::move(pending.back());
    pending.pop_back();
    if (t->Left) pending.push_back(std::move(t->Left));
    if (t->Right) pending.push_back(std::move(t->Right));
  }  // t goes with no subtrees left
}

namespace {

using dataset::FormatMessage;
using dataset::RaiseDatabaseError;

constexpr std::size_t kMaxLiteral = 256;
constexpr std::size_t kMaxStringConstant = 255;
constexpr int kBcdConstantSize = 18;

// ---- Lexer ---------------------------------------------------------------------------------

enum class TToken { End, Symbol, Name, Literal, LParen, RParen, Compare };

bool IsAsciiLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

class TLexer {
 public:
  explicit TLexer(const std::string& text) : text_(text) { Next(); }

  TToken Kind() const { return kind_; }
  const std::string& Text() const { return value_; }
  bool Quoted() const { return quoted_; }
  int Operator() const { return operator_; }
  // The token for "... but %s found": quoted, or "nothing" at the end.
  std::string Shown() const { return kind_ == TToken::End ? "nothing" : "'" + raw_ + "'"; }
  bool IsKeyword(const char* word) const { return kind_ == TToken::Symbol && EqualIgnoringCase(value_, word); }

  void Next() {
    const std::size_t n = text_.size();
    while (pos_ < n && static_cast<unsigned char>(text_[pos_]) <= ' ') ++pos_;
    quoted_ = false;
    operator_ = 0;
    value_.clear();
    std::size_t start = pos_;
    if (pos_ >= n) {
      kind_ = TToken::End;
      raw_.clear();
      return;
    }
    unsigned char c = static_cast<unsigned char>(text_[pos_]);
    if (IsAsciiLetter(c) || c == '_' || (c >= 129 && c <= 254)) {
      kind_ = TToken::Symbol;
      if (platform::IsLeadByte(c) && pos_ + 1 < n) ++pos_;
      ++pos_;
      while (pos_ < n) {
        unsigned char d = static_cast<unsigned char>(text_[pos_]);
        if (IsAsciiLetter(d) || IsDigit(d) || d == '_') {
          ++pos_;
        } else if (platform::IsLeadByte(d) && pos_ + 1 < n) {
          pos_ += 2;
        } else {
          break;
        }
      }
      value_ = text_.substr(start, pos_ - start);
    } else if (c == '[') {
      std::size_t close = text_.find(']', pos_ + 1);
      if (close == std::string::npos) RaiseDatabaseError(kUnterminatedName);
      kind_ = TToken::Name;
      value_ = text_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
    } else if (c == '\'') {
      kind_ = TToken::Literal;
      quoted_ = true;
      ++pos_;
      for (;;) {
        if (pos_ >= n) RaiseDatabaseError(kUnterminatedString);
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < n && text_[pos_ + 1] == '\'') {
            if (value_.size() < kMaxLiteral) value_ += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        if (value_.size() < kMaxLiteral) value_ += text_[pos_];
        ++pos_;
      }
    } else if (c == '-' || IsDigit(c)) {
      kind_ = TToken::Literal;
      ++pos_;
      while (pos_ < n) {
        char d = text_[pos_];
        if (!(IsDigit(static_cast<unsigned char>(d)) || d == '.' || d == '+' || d == '-' || d == 'E' || d == 'e'))
          break;
        ++pos_;
      }
      value_ = text_.substr(start, pos_ - start);
    } else if (c == '(' || c == ')') {
      kind_ = c == '(' ? TToken::LParen : TToken::RParen;
      ++pos_;
    } else if (c == '=' || c == '<' || c == '>') {
      kind_ = TToken::Compare;
      char d = pos_ + 1 < n ? text_[pos_ + 1] : '\0';
      if (c == '=') {
        operator_ = 3;
        ++pos_;
      } else if (c == '<' && d == '>') {
        operator_ = 4;
        pos_ += 2;
      } else if (c == '<' && d == '=') {
        operator_ = 8;
        pos_ += 2;
      } else if (c == '>' && d == '=') {
        operator_ = 7;
        pos_ += 2;
      } else {
        operator_ = c == '>' ? 5 : 6;
        ++pos_;
      }
    } else {
      RaiseDatabaseError(FormatMessage(kInvalidCharacter, std::string(1, static_cast<char>(c))));
    }
    raw_ = text_.substr(start, pos_ - start);
  }

 private:
  const std::string& text_;
  std::size_t pos_ = 0;
  TToken kind_ = TToken::End;
  std::string value_, raw_;
  bool quoted_ = false;
  int operator_ = 0;
};

// ---- Parser ----------------------------------------------------------------------------------

std::unique_ptr<TFilterTerm> Term(TTermKind kind, std::unique_ptr<TFilterTerm> left = nullptr,
                                  std::unique_ptr<TFilterTerm> right = nullptr) {
  auto t = std::make_unique<TFilterTerm>();
  t->Kind = kind;
  t->Left = std::move(left);
  t->Right = std::move(right);
  return t;
}

// Nested parentheses are the one way to deepen the tree without bound; a text that deep is no
// filter anyone writes, and refusing it keeps the recursion within the stack.
constexpr int kMaxDepth = 200;

class TParser {
 public:
  explicit TParser(const std::string& text) : lex_(text) {}

  std::unique_ptr<TFilterTerm> Run() {
    auto e = Expression();
    if (lex_.Kind() != TToken::End) RaiseDatabaseError(kIncorrectlyTerminated);
    return e;
  }

 private:
  std::unique_ptr<TFilterTerm> Expression() {
    if (++depth_ > kMaxDepth) RaiseDatabaseError(kIncorrectlyFormed);
    auto left = AndTerm();
    while (lex_.IsKeyword("OR")) {
      CountOperator();
      lex_.Next();
      left = Term(TTermKind::Or, std::move(left), AndTerm());
    }
    --depth_;
    return left;
  }
  std::unique_ptr<TFilterTerm> AndTerm() {
    auto left = Factor();
    while (lex_.IsKeyword("AND")) {
      CountOperator();
      lex_.Next();
      left = Term(TTermKind::And, std::move(left), Factor());
    }
    return left;
  }
  std::unique_ptr<TFilterTerm> Factor() {
    if (lex_.IsKeyword("NOT")) {
      CountOperator();
      lex_.Next();
      return Term(TTermKind::Not, Comparison());
    }
    return Comparison();
  }
  std::unique_ptr<TFilterTerm> Comparison() {
    auto left = Primary();
    if (lex_.Kind() != TToken::Compare) return left;
    int op = lex_.Operator();
    lex_.Next();
    auto c = Term(TTermKind::Compare, std::move(left), Primary());
    c->Operator = op;
    return c;
  }
  std::unique_ptr<TFilterTerm> Primary() {
    std::unique_ptr<TFilterTerm> t;
    switch (lex_.Kind()) {
      case TToken::Symbol:
        if (lex_.IsKeyword("NULL")) {
          t = Term(TTermKind::Null);
        } else if (lex_.IsKeyword("True")) {
          t = Term(TTermKind::True);
        } else if (lex_.IsKeyword("False")) {
          t = Term(TTermKind::False);
        } else {
          t = Term(TTermKind::Field);
          t->Text = lex_.Text();
        }
        break;
      case TToken::Name:
        t = Term(TTermKind::Field);
        t->Text = lex_.Text();
        break;
      case TToken::Literal:
        t = Term(TTermKind::Literal);
        t->Text = lex_.Text();
        t->Quoted = lex_.Quoted();
        break;
      case TToken::LParen: {
        lex_.Next();
        t = Expression();
        if (lex_.Kind() != TToken::RParen) RaiseDatabaseError(FormatMessage(kParenExpected, lex_.Shown()));
        break;
      }
      default:
        RaiseDatabaseError(FormatMessage(kExpressionExpected, lex_.Shown()));
    }
    lex_.Next();
    return t;
  }

  void CountOperator() {
    if (++operators_ > kMaxFilterOperators) {
      RaiseDatabaseError(FormatMessage(kTooManyOperators, std::to_string(kMaxFilterOperators)));
    }
  }

  TLexer lex_;
  int depth_ = 0;
  int operators_ = 0;
};

bool IsConstantTerm(const TFilterTerm& t) {
  return t.Kind == TTermKind::Literal || t.Kind == TTermKind::Null || t.Kind == TTermKind::True ||
         t.Kind == TTermKind::False;
}

int Mirror(int op) {
  switch (op) {
    case 5:
      return 6;
    case 6:
      return 5;
    case 7:
      return 8;
    case 8:
      return 7;
    default:
      return op;
  }
}

void PutU16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

std::string Le(std::uint64_t bits, int bytes) {
  std::string out(static_cast<std::size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return out;
}

std::string DoubleBytes(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return Le(bits, 8);
}

}  // namespace

std::unique_ptr<TFilterTerm> TExprParser::Parse(const std::string& text) {
  return TParser(text).Run();
}

std::vector<TFilterField> FilterFieldsOf(const engine::TDataFile& table) {
  using engine::TFieldType;
  std::vector<TFilterField> fields;
  int number = 0;
  for (const auto& f : table.LogicalFields()) {
    TFilterField out;
    out.Name = f.FieldName;
    out.FieldNumber = ++number;
    out.Scale = f.Decimals;
    switch (static_cast<TFieldType>(f.FieldType)) {
      case TFieldType::String:
        out.Kind = TFilterFieldKind::String;
        break;
      case TFieldType::Date:
        out.Kind = TFilterFieldKind::Date;
        break;
      case TFieldType::Boolean:
        out.Kind = TFilterFieldKind::Boolean;
        break;
      case TFieldType::SmallInt:
        out.Kind = TFilterFieldKind::Smallint;
        break;
      case TFieldType::Integer:
        out.Kind = f.IsAutoInc() ? TFilterFieldKind::AutoInc : TFilterFieldKind::Integer;
        break;
      case TFieldType::Float:
        out.Kind = f.SubType == engine::kSubTypeMoney ? TFilterFieldKind::Currency : TFilterFieldKind::Float;
        break;
      case TFieldType::Bcd:
        out.Kind = TFilterFieldKind::Bcd;
        break;
      case TFieldType::Time:
        out.Kind = TFilterFieldKind::Time;
        break;
      case TFieldType::TimeStamp:
        out.Kind = TFilterFieldKind::DateTime;
        break;
      case TFieldType::Word:
        out.Kind = TFilterFieldKind::Word;
        break;
      default:
        out.Kind = TFilterFieldKind::Other;
        break;
    }
    fields.push_back(out);
  }
  return fields;
}

// ---- Writing the canned buffer ---------------------------------------------------------------

struct TFilterExpr::TWriter {
  std::vector<std::uint8_t> Nodes;
  std::vector<std::uint8_t> Literals;

  // Appends a node with room for its operands; answers its offset.
  std::size_t AddNode(int nodeClass, int oper, int operands) {
    std::size_t at = Nodes.size();
    Nodes.resize(at + 8 + 2 * static_cast<std::size_t>(operands), 0);
    PutU16(Nodes, at, static_cast<std::uint32_t>(nodeClass));
    PutU16(Nodes, at + 4, static_cast<std::uint32_t>(oper));
    Check();
    return at;
  }
  void SetOperand(std::size_t node, int index, std::size_t value) {
    PutU16(Nodes, node + 8 + 2 * static_cast<std::size_t>(index), static_cast<std::uint32_t>(value));
  }
  std::size_t AddLiteral(const std::string& bytes) {
    std::size_t at = Literals.size();
    Literals.insert(Literals.end(), bytes.begin(), bytes.end());
    Check();
    return at;
  }
  void Check() const {
    if (canned::kHeaderSize + Nodes.size() + Literals.size() > 0xFFFF) RaiseDatabaseError(kIncorrectlyFormed);
  }
};

TFilterExpr::TFilterExpr(std::vector<TFilterField> fields, engine::TLocaleFormats formats)
    : fields_(std::move(fields)), formats_(std::move(formats)) {}

const TFilterField& TFilterExpr::LookUp(const std::string& name) const {
  for (const auto& f : fields_)
    if (EqualIgnoringCase(f.Name, name)) {
      if (!f.Usable) RaiseDatabaseError(FormatMessage(kCannotUseField, f.Name));
      return f;
    }
  RaiseDatabaseError(FormatMessage(kFieldNotFound, name));
}

std::vector<std::uint8_t> TFilterExpr::Compile(const TFilterSettings& options, const std::string& text) {
  auto root = TExprParser::Parse(text);
  return Write(*root, options, nullptr);
}

std::vector<std::uint8_t> TFilterExpr::Build(const std::vector<std::string>& fieldNames,
                                             const std::vector<TFilterValue>& values, bool caseInsensitive,
                                             bool partial) {
  if (fieldNames.empty() || fieldNames.size() != values.size()) RaiseDatabaseError(kIncorrectlyFormed);
  std::unique_ptr<TFilterTerm> root;
  const TFilterTerm* last = nullptr;
  for (std::size_t i = 0; i < fieldNames.size(); ++i) {
    auto field = Term(TTermKind::Field);
    field->Text = fieldNames[i];
    std::unique_ptr<TFilterTerm> value;
    if (std::holds_alternative<std::monostate>(values[i])) {
      value = Term(TTermKind::Null);
    } else {
      value = Term(TTermKind::Literal);
      value->Typed = values[i];
      value->IsTyped = true;
    }
    auto cmp = Term(TTermKind::Compare, std::move(field), std::move(value));
    cmp->Operator = 3;
    last = cmp.get();
    root = root ? Term(TTermKind::And, std::move(root), std::move(cmp)) : std::move(cmp);
  }
  TFilterSettings options;
  options.CaseInsensitive = caseInsensitive;
  options.NoPartialCompare = true;
  return Write(*root, options, partial ? last : nullptr);
}

std::vector<std::uint8_t> TFilterExpr::Write(const TFilterTerm& root, const TFilterSettings& options,
                                             const TFilterTerm* prefixTerm) {
  TWriter w;
  WriteTerm(w, root, options, prefixTerm);
  std::size_t total = canned::kHeaderSize + w.Nodes.size() + w.Literals.size();
  std::vector<std::uint8_t> out(total, 0);
  PutU16(out, 0, 0);
  PutU16(out, 2, static_cast<std::uint32_t>(total));
  PutU16(out, 4, 0xFFFF);
  PutU16(out, 6, canned::kHeaderSize);
  PutU16(out, 8, static_cast<std::uint32_t>(canned::kHeaderSize + w.Nodes.size()));
  auto nodes = out.begin() + canned::kHeaderSize;
  std::copy(w.Nodes.begin(), w.Nodes.end(), nodes);
  std::copy(w.Literals.begin(), w.Literals.end(), nodes + static_cast<std::ptrdiff_t>(w.Nodes.size()));
  return out;
}

void TFilterExpr::WriteTerm(TWriter& w, const TFilterTerm& term, const TFilterSettings& options,
                            const TFilterTerm* prefixTerm) {
  switch (term.Kind) {
    case TTermKind::And:
    case TTermKind::Or: {
      std::size_t node = w.AddNode(canned::kBinary, term.Kind == TTermKind::And ? 10 : 11, 2);
      w.SetOperand(node, 0, w.Nodes.size());
      WriteTerm(w, *term.Left, options, prefixTerm);
      w.SetOperand(node, 1, w.Nodes.size());
      WriteTerm(w, *term.Right, options, prefixTerm);
      return;
    }
    case TTermKind::Not: {
      std::size_t node = w.AddNode(canned::kUnary, 9, 1);
      w.SetOperand(node, 0, w.Nodes.size());
      WriteTerm(w, *term.Left, options, prefixTerm);
      return;
    }
    case TTermKind::Field: {
      // A field alone is a Boolean field compared with True (all bits set).
      const TFilterField& f = LookUp(term.Text);
      if (f.Kind != TFilterFieldKind::Boolean) RaiseDatabaseError(FormatMessage(kNotBoolean, f.Name));
      std::size_t node = w.AddNode(canned::kBinary, 3, 2);
      w.SetOperand(node, 0, w.Nodes.size());
      std::size_t field = w.AddNode(canned::kField, canned::kFieldOperator, 2);
      w.SetOperand(field, 0, static_cast<std::size_t>(f.FieldNumber));
      w.SetOperand(field, 1, w.AddLiteral(f.Name + '\0'));
      w.SetOperand(node, 1, w.Nodes.size());
      std::size_t constant = w.AddNode(canned::kConstant, canned::kConstantOperator, 3);
      w.SetOperand(constant, 0, 4);
      w.SetOperand(constant, 1, 2);
      w.SetOperand(constant, 2, w.AddLiteral(Le(0xFFFF, 2)));
      return;
    }
    case TTermKind::Compare:
      WriteComparison(w, term, options, &term == prefixTerm);
      return;
    default:
      RaiseDatabaseError(kIncorrectlyFormed);
  }
}

void TFilterExpr::WriteComparison(TWriter& w, const TFilterTerm& term, const TFilterSettings& options, bool prefix) {
  const TFilterTerm* left = term.Left.get();
  const TFilterTerm* right = term.Right.get();
  int op = term.Operator;
  if (IsConstantTerm(*left) && right->Kind == TTermKind::Field) {
    std::swap(left, right);
    op = Mirror(op);
  }
  auto writeField = [&](const TFilterField& f) {
    std::size_t node = w.AddNode(canned::kField, canned::kFieldOperator, 2);
    w.SetOperand(node, 0, static_cast<std::size_t>(f.FieldNumber));
    w.SetOperand(node, 1, w.AddLiteral(f.Name + '\0'));
  };
  if (left->Kind == TTermKind::Field && right->Kind == TTermKind::Field) {
    const TFilterField& a = LookUp(left->Text);
    const TFilterField& b = LookUp(right->Text);
    std::size_t node = w.AddNode(canned::kBinary, op, 2);
    w.SetOperand(node, 0, w.Nodes.size());
    writeField(a);
    w.SetOperand(node, 1, w.Nodes.size());
    writeField(b);
    return;
  }
  if (left->Kind != TTermKind::Field || !IsConstantTerm(*right)) RaiseDatabaseError(kIncorrectlyFormed);
  const TFilterField& f = LookUp(left->Text);
  if (right->Kind == TTermKind::Null) {
    if (op != 3 && op != 4) RaiseDatabaseError(kNullOnlyEqual);
    std::size_t node = w.AddNode(canned::kUnary, op == 3 ? canned::kIsBlank : canned::kIsNotBlank, 1);
    w.SetOperand(node, 0, w.Nodes.size());
    writeField(f);
    return;
  }
  int type = 0;
  std::string value = EncodeConstant(f, *right, type);
  int partial = 0;
  bool compareNode = false;
  if (f.Kind == TFilterFieldKind::String && (op == 3 || op == 4) && value.size() > 1) {
    std::string text = value.substr(0, value.size() - 1);
    if (prefix) {
      partial = static_cast<int>(text.size());
    } else if (!options.NoPartialCompare && text.size() > 1 && text.back() == '*') {
      text.pop_back();
      partial = static_cast<int>(text.size());
      value = text + '\0';
    }
    compareNode = options.CaseInsensitive || partial > 0;
  }
  auto writeConstant = [&] {
    std::size_t node = w.AddNode(canned::kConstant, canned::kConstantOperator, 3);
    w.SetOperand(node, 0, static_cast<std::size_t>(type));
    w.SetOperand(node, 1, value.size());
    w.SetOperand(node, 2, w.AddLiteral(value));
  };
  if (compareNode) {
    std::size_t node = w.AddNode(canned::kCompare, op, 4);
    w.SetOperand(node, 0, options.CaseInsensitive ? 1 : 0);
    w.SetOperand(node, 1, static_cast<std::size_t>(partial));
    w.SetOperand(node, 2, w.Nodes.size());
    writeField(f);
    w.SetOperand(node, 3, w.Nodes.size());
    writeConstant();
    return;
  }
  std::size_t node = w.AddNode(canned::kBinary, op, 2);
  w.SetOperand(node, 0, w.Nodes.size());
  writeField(f);
  w.SetOperand(node, 1, w.Nodes.size());
  writeConstant();
}

namespace {

// A typed value as a text constant shows it.
std::string TypedText(const TFilterValue& typed) {
  if (auto* b = std::get_if<bool>(&typed)) return *b ? "True" : "False";
  if (auto* i = std::get_if<std::int64_t>(&typed)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&typed)) return std::to_string(*d);
  return std::get<std::string>(typed);
}

// A constant as the encoders read it: the text as written, or a value given typed (locate). A
// typed text counts as written; True and False are the numbers 1 and 0.
class TConstantReader {
 public:
  TConstantReader(const TFilterField& field, const TFilterTerm& constant, const engine::TLocaleFormats& formats)
      : field_(field), formats_(formats), text_(constant.Text) {
    trueOrFalse_ = constant.Kind == TTermKind::True || constant.Kind == TTermKind::False;
    if (trueOrFalse_) text_ = constant.Kind == TTermKind::True ? "1" : "0";
    if (constant.IsTyped) {
      if (const auto* s = std::get_if<std::string>(&constant.Typed))
        text_ = *s;
      else
        typed_ = &constant.Typed;
    }
  }

  const std::string& Text() const { return text_; }
  const TFilterValue* Typed() const { return typed_; }
  bool TrueOrFalse() const { return trueOrFalse_; }
  const engine::TLocaleFormats& Formats() const { return formats_; }

  [[noreturn]] void Invalid() const {
    std::string message = FormatMessage(kInvalidValue, typed_ ? TypedText(*typed_) : text_);
    RaiseDatabaseError(FormatMessage(message, field_.Name));
  }

  // An integer in [low, high]: "Constant out of range" beyond, a conversion error for non-numbers.
  std::int64_t Integer(std::int64_t low, std::int64_t high) const {
    std::int64_t v = 0;
    if (typed_) {
      if (auto* b = std::get_if<bool>(typed_))
        v = *b ? 1 : 0;
      else if (auto* i = std::get_if<std::int64_t>(typed_))
        v = *i;
      else if (auto* d = std::get_if<double>(typed_)) {
        if (!(*d > -9.2e18 && *d < 9.2e18)) RaiseDatabaseError(kOutOfRange);
        v = static_cast<std::int64_t>(*d);  // fractions dropped
      }
    } else if (!engine::ParseInteger(text_, INT64_MIN, INT64_MAX, v)) {
      Invalid();
    }
    if (v < low || v > high) RaiseDatabaseError(kOutOfRange);
    return v;
  }

  double Number() const {
    if (typed_) {
      if (auto* b = std::get_if<bool>(typed_)) return *b ? 1 : 0;
      if (auto* i = std::get_if<std::int64_t>(typed_)) return static_cast<double>(*i);
      return std::get<double>(*typed_);
    }
    double v = 0;
    if (!engine::ParseFloat(text_, formats_, v)) Invalid();
    return v;
  }

 private:
  const TFilterField& field_;
  const engine::TLocaleFormats& formats_;
  std::string text_;
  const TFilterValue* typed_ = nullptr;
  bool trueOrFalse_ = false;
};

std::string StringConstant(const TConstantReader& c) {
  if (!c.Typed() && c.TrueOrFalse()) RaiseDatabaseError(kIncorrectlyFormed);
  std::string text = c.Typed() ? TypedText(*c.Typed()) : c.Text();
  return text.substr(0, kMaxStringConstant) + '\0';
}

std::string IntegerConstant(const TConstantReader& c, std::int64_t low, std::int64_t high, int bytes) {
  return Le(static_cast<std::uint64_t>(c.Integer(low, high)), bytes);
}

std::string BooleanConstant(const TConstantReader& c) {
  bool value = false;
  if (!c.Typed() && EqualIgnoringCase(c.Text(), "True"))
    value = true;
  else if (!c.Typed() && EqualIgnoringCase(c.Text(), "False"))
    value = false;
  else
    value = c.Integer(INT64_MIN, INT64_MAX) != 0;
  return Le(value ? 1 : 0, 2);
}

// BCD constants hold the number scaled by 10^scale in their first eight bytes.
std::string BcdConstant(const TConstantReader& c, int fieldScale) {
  std::int64_t scaled = 0;
  int scale = std::min(fieldScale, 18);
  if (c.Typed()) {
    double v = c.Number();
    for (int i = 0; i < scale; ++i) v *= 10;
    if (!(v > -9.2e18 && v < 9.2e18)) RaiseDatabaseError(kOutOfRange);
    scaled = static_cast<std::int64_t>(v);
  } else {
    std::int64_t fixed4 = 0;
    if (!engine::ParseFixed4(c.Text(), c.Formats(), fixed4)) c.Invalid();
    scaled = fixed4;
    for (int i = scale; i < 4; ++i) scaled /= 10;  // fractions beyond the scale dropped
    for (int i = 4; i < scale; ++i) {
      if (scaled > INT64_MAX / 10 || scaled < INT64_MIN / 10) RaiseDatabaseError(kOutOfRange);
      scaled *= 10;
    }
  }
  return Le(static_cast<std::uint64_t>(scaled), 8) + std::string(kBcdConstantSize - 8, '\0');
}

// A date (day number) or a time of day (milliseconds): a typed number as it is, a text parsed.
std::string DayOrTimeConstant(const TConstantReader& c,
                              bool (*parse)(std::string_view, const engine::TLocaleFormats&, std::int32_t&)) {
  std::int32_t v = 0;
  if (c.Typed())
    v = static_cast<std::int32_t>(c.Integer(INT32_MIN, INT32_MAX));
  else if (!parse(c.Text(), c.Formats(), v))
    c.Invalid();
  return Le(static_cast<std::uint32_t>(v), 4);
}

std::string DateTimeConstant(const TConstantReader& c) {
  double v = 0;
  if (c.Typed())
    v = c.Number();
  else if (!engine::ParseDateTime(c.Text(), c.Formats(), v))
    c.Invalid();
  return DoubleBytes(v);
}

}  // namespace

// The constant's bytes in the field's type.
std::string TFilterExpr::EncodeConstant(const TFilterField& field, const TFilterTerm& constant, int& type) const {
  using K = TFilterFieldKind;
  const TConstantReader c(field, constant, formats_);
  switch (field.Kind) {
    case K::String:
      type = 1;
      return StringConstant(c);
    case K::Smallint:
      type = 5;
      return IntegerConstant(c, -32768, 32767, 2);
    case K::Word:
      type = 12;
      return IntegerConstant(c, 0, 65535, 2);
    case K::Integer:
    case K::AutoInc:
      type = 6;
      return IntegerConstant(c, INT32_MIN, INT32_MAX, 4);
    case K::Boolean:
      type = 4;
      return BooleanConstant(c);
    case K::Float:
    case K::Currency:
      type = 7;
      return DoubleBytes(c.Number());
    case K::Bcd:
      type = 8;
      return BcdConstant(c, field.Scale);
    case K::Date:
      type = 2;
      return DayOrTimeConstant(c, engine::ParseDate);
    case K::Time:
      type = 10;
      return DayOrTimeConstant(c, engine::ParseTime);
    case K::DateTime:
      type = 11;
      return DateTimeConstant(c);
    default:
      RaiseDatabaseError(FormatMessage(kCannotUseField, field.Name));
  }
}

}  // namespace quillon::sql
