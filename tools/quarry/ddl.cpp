#include "tools/quarry/ddl.h"

#include <array>

#include "util/text.h"

namespace quillon::quarry {

namespace {

using engine::TFieldType;

struct Token {
  enum class Kind { End, Word, Text, Name, Punct };
  Kind kind = Kind::End;
  std::string text;

  bool Is(const char* keyword) const { return kind == Kind::Word && EqualIgnoringCase(text, keyword); }
  bool IsPunct(char c) const { return kind == Kind::Punct && text.size() == 1 && text[0] == c; }
  std::string Describe() const {
    switch (kind) {
      case Kind::End:
        return "end of statement";
      case Kind::Text:
        return "'" + text + "'";
      case Kind::Name:
        return "\"" + text + "\"";
      default:
        return "\"" + text + "\"";
    }
  }
};

bool IsSpace(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}
bool IsWordChar(char c) {
  return !IsSpace(c) && c != '(' && c != ')' && c != ',' && c != ';' && c != '\'' && c != '"';
}

class Lexer {
 public:
  // An unclosed quote is reported only for the shell's own statements: any other statement goes
  // to the SQL layer, which names the fault in its own words.
  explicit Lexer(const std::string& text) : s_(text) {
    try {
      for (Token t = Read(); t.kind != Token::Kind::End; t = Read()) tokens_.push_back(t);
    } catch (const EShellError& e) {
      unclosed_ = e.what();
    }
    tokens_.push_back(Token{});
  }
  void CheckClosed() const {
    if (!unclosed_.empty()) throw EShellError(unclosed_);
  }
  const Token& Peek(size_t ahead = 0) const { return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)]; }
  Token Take() {
    Token t = Peek();
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }

 private:
  Token Read() {
    for (;;) {
      while (i_ < s_.size() && IsSpace(s_[i_])) ++i_;
      if (s_.compare(i_, 2, "/*") != 0) break;
      size_t end = s_.find("*/", i_ + 2);
      i_ = end == std::string::npos ? s_.size() : end + 2;
    }
    if (i_ >= s_.size()) return {};
    char c = s_[i_];
    if (c == '\'' || c == '"') {
      Token t{c == '\'' ? Token::Kind::Text : Token::Kind::Name, {}};
      ++i_;
      for (;;) {
        if (i_ >= s_.size()) throw EShellError("unterminated " + std::string(c == '\'' ? "text" : "name"));
        if (s_[i_] == c) {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == c) {
            t.text += c;
            i_ += 2;
            continue;
          }
          ++i_;
          return t;
        }
        t.text += s_[i_++];
      }
    }
    if (!IsWordChar(c)) {
      ++i_;
      return {Token::Kind::Punct, std::string(1, c)};
    }
    size_t start = i_;
    while (i_ < s_.size() && IsWordChar(s_[i_])) ++i_;
    return {Token::Kind::Word, s_.substr(start, i_ - start)};
  }

  const std::string& s_;
  std::string unclosed_;
  size_t i_ = 0;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

struct TypeName {
  const char* name;
  TFieldType type;
  std::uint8_t subType;
  int params;  // 0 none, 1 size (or BCD scale), 2 precision and scale
};

constexpr std::array<TypeName, 21> kTypes = {{
    {"CHAR", TFieldType::String, 0, 1},
    {"VARCHAR", TFieldType::String, 0, 1},
    {"DATE", TFieldType::Date, 0, 0},
    {"TIME", TFieldType::Time, 0, 0},
    {"TIMESTAMP", TFieldType::TimeStamp, 0, 0},
    {"BOOLEAN", TFieldType::Boolean, 0, 0},
    {"SMALLINT", TFieldType::SmallInt, 0, 0},
    {"INTEGER", TFieldType::Integer, 0, 0},
    {"AUTOINC", TFieldType::Integer, engine::kSubTypeAutoInc, 0},
    {"WORD", TFieldType::Word, 0, 0},
    {"LARGEWORD", TFieldType::LargeWord, 0, 0},
    {"FLOAT", TFieldType::Float, 0, 0},
    {"MONEY", TFieldType::Float, engine::kSubTypeMoney, 0},
    {"BCD", TFieldType::Bcd, 0, 1},
    {"NUMERIC", TFieldType::Bcd, 0, 2},
    {"EXTENDED", TFieldType::Extended, 0, 0},
    {"BYTES", TFieldType::Bytes, 0, 1},
    {"VARBYTES", TFieldType::VarBytes, 0, 1},
    {"BLOB", TFieldType::Blob, 0, 0},
    {"MEMO", TFieldType::Blob, engine::kSubTypeMemo, 0},
    {"GRAPHIC", TFieldType::Blob, engine::kSubTypeGraphic, 0},
}};

const TypeName* FindType(const Token& t) {
  if (t.kind != Token::Kind::Word) return nullptr;
  for (const auto& type : kTypes) {
    if (EqualIgnoringCase(t.text, type.name)) return &type;
  }
  return nullptr;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : lx_(text) {}

  std::optional<TDdlStatement> Statement() {
    TDdlStatement st;
    if (lx_.Peek().Is("CREATE")) {
      lx_.CheckClosed();
      lx_.Take();
      Expect("TABLE");
      st.kind = TDdlStatement::Kind::CreateTable;
      st.ifNotExists = IfNotExists();
      st.table = CreateTable();
    } else if (lx_.Peek().Is("DROP") || lx_.Peek().Is("EMPTY")) {
      lx_.CheckClosed();
      st.kind = lx_.Take().Is("DROP") ? TDdlStatement::Kind::DropTable : TDdlStatement::Kind::EmptyTable;
      Expect("TABLE");
      st.table.name = TableName();
    } else {
      return std::nullopt;
    }
    if (lx_.Peek().kind != Token::Kind::End) Fail("end of statement");
    return st;
  }

 private:
  [[noreturn]] void Fail(const std::string& expected) {
    throw EShellError("expected " + expected + " but found " + lx_.Peek().Describe());
  }
  // IF NOT EXISTS after CREATE TABLE; a table called IF stays possible (IF then comes before "(").
  bool IfNotExists() {
    if (!lx_.Peek().Is("IF") || !lx_.Peek(1).Is("NOT")) return false;
    lx_.Take();
    lx_.Take();
    Expect("EXISTS");
    return true;
  }
  void Expect(const char* keyword) {
    if (!lx_.Peek().Is(keyword)) Fail(keyword);
    lx_.Take();
  }
  void ExpectPunct(char c) {
    if (!lx_.Peek().IsPunct(c)) Fail(std::string("\"") + c + "\"");
    lx_.Take();
  }
  std::string TableName() {
    const Token& t = lx_.Peek();
    if (t.kind != Token::Kind::Word && t.kind != Token::Kind::Name) Fail("a table name");
    return lx_.Take().text;
  }
  std::string Name(const char* what) {
    const Token& t = lx_.Peek();
    if (t.kind != Token::Kind::Word && t.kind != Token::Kind::Name) Fail(what);
    return lx_.Take().text;
  }
  std::string Text(const char* what) {
    if (lx_.Peek().kind != Token::Kind::Text) Fail(std::string(what) + " in quotes");
    return lx_.Take().text;
  }
  int Number(const char* what) {
    const Token& t = lx_.Peek();
    int v = 0;
    bool digits =
        t.kind == Token::Kind::Word && !t.text.empty() && t.text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || !ParseDecimalInt(t.text, v)) Fail(what);
    lx_.Take();
    return v;
  }

  std::vector<TIndexColumn> IndexColumns() {
    std::vector<TIndexColumn> cols;
    ExpectPunct('(');
    for (;;) {
      TIndexColumn c{Name("a column name"), false};
      if (lx_.Peek().Is("DESC")) {
        lx_.Take();
        c.descending = true;
      } else if (lx_.Peek().Is("ASC")) {
        lx_.Take();
      }
      cols.push_back(std::move(c));
      if (lx_.Peek().IsPunct(')')) break;
      ExpectPunct(',');
    }
    lx_.Take();
    return cols;
  }

  bool IsIndexFlag(const Token& t) { return t.Is("UNIQUE") || t.Is("NOCASE") || t.Is("DESC") || t.Is("INDEX"); }

  TColumnDef Column() {
    TColumnDef c;
    c.name = Name("a column name");
    const TypeName* type = FindType(lx_.Peek());
    if (!type) Fail("a column type");
    lx_.Take();
    c.type = type->type;
    c.subType = type->subType;
    if (type->params > 0) {
      ExpectPunct('(');
      int first = Number("a number");
      if (type->params == 2) {
        ExpectPunct(',');
        c.scale = Number("a number");
        (void)first;  // the precision is implied by the stored form
      } else if (type->type == TFieldType::Bcd) {
        c.scale = first;
      } else {
        c.size = first;
      }
      ExpectPunct(')');
    }
    for (;;) {
      const Token& t = lx_.Peek();
      if (t.Is("NOT")) {
        lx_.Take();
        Expect("NULL");
        c.notNull = true;
      } else if (t.Is("DEFAULT")) {
        lx_.Take();
        c.defaultValue = Text("a default value");
      } else if (t.Is("MIN")) {
        lx_.Take();
        c.minValue = Text("a minimum value");
      } else if (t.Is("MAX")) {
        lx_.Take();
        c.maxValue = Text("a maximum value");
      } else {
        return c;
      }
    }
  }

  TTableDef CreateTable() {
    TTableDef t;
    t.name = TableName();
    ExpectPunct('(');
    for (;;) {
      const Token& first = lx_.Peek();
      const Token& second = lx_.Peek(1);
      if (first.Is("PRIMARY") && second.Is("KEY")) {
        lx_.Take();
        lx_.Take();
        if (t.primaryKey) throw EShellError("PRIMARY KEY given twice");
        TIndexSpec pk;
        pk.unique = true;
        pk.columns = IndexColumns();
        t.primaryKey = std::move(pk);
      } else if (IsIndexFlag(first) && !FindType(second)) {
        TIndexSpec ix;
        while (!lx_.Peek().Is("INDEX")) {
          Token flag = lx_.Take();
          if (flag.Is("UNIQUE"))
            ix.unique = true;
          else if (flag.Is("NOCASE"))
            ix.caseInsensitive = true;
          else if (flag.Is("DESC"))
            ix.descending = true;
          else
            Fail("INDEX");
        }
        lx_.Take();
        ix.name = Name("an index name");
        ix.columns = IndexColumns();
        if (lx_.Peek().Is("COMPRESSION")) {
          lx_.Take();
          ix.compression = Number("a compression mode");
        }
        t.indexes.push_back(std::move(ix));
      } else {
        if (t.primaryKey || !t.indexes.empty()) Fail("PRIMARY KEY or an index after the indexes");
        t.columns.push_back(Column());
      }
      if (lx_.Peek().IsPunct(')')) break;
      ExpectPunct(',');
    }
    lx_.Take();
    bool description = false, blockSize = false, locale = false;
    for (;;) {
      const Token& opt = lx_.Peek();
      if (opt.Is("DESCRIPTION") && !description) {
        lx_.Take();
        t.description = Text("a description");
        description = true;
      } else if (opt.Is("PASSWORD") && !t.password) {
        lx_.Take();
        t.password = Text("a password");
      } else if (opt.Is("BLOCKSIZE") && !blockSize) {
        lx_.Take();
        t.blockSize = Number("a block size");
        blockSize = true;
      } else if (opt.Is("LOCALE") && !locale) {
        lx_.Take();
        t.locale = static_cast<std::uint32_t>(Number("a locale number"));
        locale = true;
      } else {
        break;
      }
    }
    if (t.columns.empty()) throw EShellError("a table needs at least one column");
    return t;
  }

  Lexer lx_;
};

std::string Quoted(const std::string& s, char q) {
  std::string out(1, q);
  for (char c : s) {
    out += c;
    if (c == q) out += q;
  }
  return out + q;
}

bool IsPlainName(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return !(s[0] >= '0' && s[0] <= '9') && !FindType(Token{Token::Kind::Word, s});
}

std::string NameText(const std::string& s) {
  return IsPlainName(s) ? s : Quoted(s, '"');
}

std::string TableNameText(const std::string& s) {
  bool bare = !s.empty();
  for (char c : s) bare = bare && IsWordChar(c);
  return bare ? s : Quoted(s, '"');
}

std::string TypeText(const TColumnDef& c) {
  for (const auto& t : kTypes) {
    if (t.type != c.type || t.subType != c.subType) continue;
    std::string name = t.name;
    if (name == "VARCHAR" || name == "NUMERIC") continue;  // CHAR and BCD are the canonical spellings
    if (t.params == 0) return name;
    return name + "(" + std::to_string(c.type == TFieldType::Bcd ? c.scale : c.size) + ")";
  }
  // A BLOB subtype without a name of its own.
  return "BLOB";
}

std::string IndexColumnsText(const std::vector<TIndexColumn>& cols) {
  std::string s = "(";
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) s += ", ";
    s += NameText(cols[i].name);
    if (cols[i].descending) s += " DESC";
  }
  return s + ")";
}

}  // namespace

std::optional<TDdlStatement> ParseDdl(const std::string& text) {
  return Parser(text).Statement();
}

std::string FormatCreateTable(const TTableDef& t) {
  std::vector<std::string> items;
  for (const auto& c : t.columns) {
    std::string s = NameText(c.name) + " " + TypeText(c);
    if (c.notNull) s += " NOT NULL";
    if (!c.defaultValue.empty()) s += " DEFAULT " + Quoted(c.defaultValue, '\'');
    if (!c.minValue.empty()) s += " MIN " + Quoted(c.minValue, '\'');
    if (!c.maxValue.empty()) s += " MAX " + Quoted(c.maxValue, '\'');
    items.push_back(s);
  }
  if (t.primaryKey) items.push_back("PRIMARY KEY " + IndexColumnsText(t.primaryKey->columns));
  for (const auto& ix : t.indexes) {
    std::string s;
    if (ix.unique) s += "UNIQUE ";
    if (ix.caseInsensitive) s += "NOCASE ";
    if (ix.descending) s += "DESC ";
    s += "INDEX " + NameText(ix.name) + " " + IndexColumnsText(ix.columns);
    if (ix.compression >= 0) s += " COMPRESSION " + std::to_string(ix.compression);
    items.push_back(s);
  }
  std::string out = "CREATE TABLE " + TableNameText(t.name) + " (\n";
  for (size_t i = 0; i < items.size(); ++i) out += "  " + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
  out += ")";
  if (!t.description.empty()) out += " DESCRIPTION " + Quoted(t.description, '\'');
  if (t.password) out += " PASSWORD " + Quoted(*t.password, '\'');
  if (t.blockSize) out += " BLOCKSIZE " + std::to_string(t.blockSize);
  if (t.locale) out += " LOCALE " + std::to_string(t.locale);
  return out;
}

}  // namespace quillon::quarry
