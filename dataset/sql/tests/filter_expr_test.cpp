// Filter texts: the canned buffers they compile into (expected bytes written out by hand from the
// buffer layout), the messages of malformed texts, and the buffers locate builds.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

#include "dataset/engine_error.h"
#include "dataset/sql/filter_expr.h"

namespace quillon::sql {
namespace {

// Bytes written as hex pairs, with 'text' for ASCII runs; blanks and "|" only separate.
std::vector<std::uint8_t> Bytes(const std::string& pattern) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    if (c == ' ' || c == '|') {
      ++i;
    } else if (c == '\'') {
      std::size_t end = pattern.find('\'', i + 1);
      for (std::size_t k = i + 1; k < end; ++k) out.push_back(static_cast<std::uint8_t>(pattern[k]));
      i = end + 1;
    } else {
      out.push_back(static_cast<std::uint8_t>(std::stoi(pattern.substr(i, 2), nullptr, 16)));
      i += 2;
    }
  }
  return out;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
    s += ' ';
  }
  return s;
}

std::vector<TFilterField> Fields() {
  using K = TFilterFieldKind;
  auto f = [](const char* name, int number, K kind, int scale = 0, bool usable = true) {
    TFilterField field;
    field.Name = name;
    field.FieldNumber = number;
    field.Kind = kind;
    field.Scale = scale;
    field.Usable = usable;
    return field;
  };
  return {f("Artist", 1, K::String),  f("Qty", 2, K::Integer),    f("Small", 3, K::Smallint),
          f("W", 4, K::Word),         f("Active", 5, K::Boolean), f("Price", 6, K::Float),
          f("Amount", 7, K::Bcd, 2),  f("Day", 8, K::Date),       f("At", 9, K::Time),
          f("When", 10, K::DateTime), f("Memo", 11, K::Other),    f("Calc", 12, K::String, 0, false),
          f("Cur", 13, K::Currency),  f("Id", 14, K::AutoInc),    f("\xC4rtist", 15, K::String)};
}

std::vector<std::uint8_t> Compile(const std::string& text, bool caseInsensitive = false, bool noPartial = false) {
  TFilterExpr expr(Fields());
  TFilterSettings options;
  options.CaseInsensitive = caseInsensitive;
  options.NoPartialCompare = noPartial;
  return expr.Compile(options, text);
}

std::string ErrorOf(const std::string& text) {
  try {
    Compile(text);
  } catch (const dataset::EDatabaseError& e) {
    return e.what();
  }
  return "<no error>";
}

struct TBufferCase {
  const char* what;
  const char* text;
  bool caseInsensitive;
  bool noPartial;
  const char* bytes;
};

// Header: version, total size, 0xFFFF, node area start (10), literal area start.
// Node sizes: unary 10, binary 12, compare 16, field 12, constant 14.
const TBufferCase kBuffers[] = {
    {"string equality is a binary node", "Artist='Abba'", false, false,
     "0000 3C00 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0500 0700 |"
     "'Artist' 00 'Abba' 00"},
    {"a trailing * is a prefix comparison of the rest", "Artist='Abba*'", false, false,
     "0000 4000 FFFF 0A00 3400 |"
     "03000000 03000000 0000 0400 1000 1C00 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0500 0700 |"
     "'Artist' 00 'Abba' 00"},
    {"no partial compare keeps the *", "Artist='Abba*'", false, true,
     "0000 3D00 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0600 0700 |"
     "'Artist' 00 'Abba*' 00"},
    {"a lone * is the text *", "Artist='*'", false, false,
     "0000 3900 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0200 0700 |"
     "'Artist' 00 '*' 00"},
    {"the empty string is a one-byte constant", "Artist=''", false, false,
     "0000 3800 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0100 0700 |"
     "'Artist' 00 00"},
    {"case-insensitive equality is a compare node", "Artist<>'abba'", true, false,
     "0000 4000 FFFF 0A00 3400 |"
     "03000000 04000000 0100 0000 1000 1C00 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0500 0700 |"
     "'Artist' 00 'abba' 00"},
    {"case-insensitive prefix", "Artist='ab*'", true, false,
     "0000 3E00 FFFF 0A00 3400 |"
     "03000000 03000000 0100 0200 1000 1C00 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0300 0700 |"
     "'Artist' 00 'ab' 00"},
    {"a constant on the left is mirrored", "5 < Qty", false, false,
     "0000 3800 FFFF 0A00 3000 |"
     "02000000 05000000 0C00 1800 | 04000000 0D000000 0200 0000 | 05000000 0E000000 0600 0400 0400 |"
     "'Qty' 00 05000000"},
    {"a Boolean field alone is field = all bits set", "Active", false, false,
     "0000 3900 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0500 0000 | 05000000 0E000000 0400 0200 0700 |"
     "'Active' 00 FFFF"},
    {"= NULL is blank", "Artist = NULL", false, false,
     "0000 2700 FFFF 0A00 2000 | 01000000 01000000 0A00 | 04000000 0D000000 0100 0000 | 'Artist' 00"},
    {"<> null is not blank (keywords in any case)", "Artist <> null", false, false,
     "0000 2700 FFFF 0A00 2000 | 01000000 02000000 0A00 | 04000000 0D000000 0100 0000 | 'Artist' 00"},
    {"NOT over a field alone", "NOT Active", false, false,
     "0000 4300 FFFF 0A00 3A00 |"
     "01000000 09000000 0A00 | 02000000 03000000 1600 2200 | 04000000 0D000000 0500 0000 |"
     "05000000 0E000000 0400 0200 0700 | 'Active' 00 FFFF"},
    {"AND binds tighter than OR, nodes parent first", "Qty > 1 AND Small < 2 OR W = 3", false, false,
     "0000 A800 FFFF 0A00 9400 |"
     "02000000 0B000000 0C00 6400 | 02000000 0A000000 1800 3E00 |"
     "02000000 05000000 2400 3000 | 04000000 0D000000 0200 0000 | 05000000 0E000000 0600 0400 0400 |"
     "02000000 06000000 4A00 5600 | 04000000 0D000000 0300 0800 | 05000000 0E000000 0500 0200 0E00 |"
     "02000000 03000000 7000 7C00 | 04000000 0D000000 0400 1000 | 05000000 0E000000 0C00 0200 1200 |"
     "'Qty' 00 01000000 'Small' 00 0200 'W' 00 0300"},
    {"two fields", "Qty >= Small", false, false,
     "0000 3800 FFFF 0A00 2E00 |"
     "02000000 07000000 0C00 1800 | 04000000 0D000000 0200 0000 | 04000000 0D000000 0300 0400 |"
     "'Qty' 00 'Small' 00"},
    {"bracketed names, doubled quotes", "[artist] = 'O''Brien'", false, false,
     "0000 3F00 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0800 0700 |"
     "'Artist' 00 'O' 27 'Brien' 00"},
    {"a symbol may start with a byte above 128", "\xC4rtist = 'x'", false, false,
     "0000 3900 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0F00 0000 | 05000000 0E000000 0100 0200 0700 |"
     "C4 'rtist' 00 'x' 00"},
    {"Smallint constant", "Small = -5", false, false,
     "0000 3800 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0300 0000 | 05000000 0E000000 0500 0200 0600 |"
     "'Small' 00 FBFF"},
    {"Word constant", "W = 65535", false, false,
     "0000 3400 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0400 0000 | 05000000 0E000000 0C00 0200 0200 |"
     "'W' 00 FFFF"},
    {"Boolean constant False", "Active = False", false, false,
     "0000 3900 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0500 0000 | 05000000 0E000000 0400 0200 0700 |"
     "'Active' 00 0000"},
    {"Boolean constant True is 1", "Active = TRUE", false, false,
     "0000 3900 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0500 0000 | 05000000 0E000000 0400 0200 0700 |"
     "'Active' 00 0100"},
    {"Float constant", "Price = 2.5", false, false,
     "0000 3E00 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0600 0000 | 05000000 0E000000 0700 0800 0600 |"
     "'Price' 00 0000000000000440"},
    {"Currency constant", "Cur = 3", false, false,
     "0000 3C00 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0D00 0000 | 05000000 0E000000 0700 0800 0400 |"
     "'Cur' 00 0000000000000840"},
    {"BCD constant scaled to the field's scale, declared size 18", "Amount = 12.34", false, false,
     "0000 4900 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0700 0000 | 05000000 0E000000 0800 1200 0700 |"
     "'Amount' 00 D204000000000000 00000000000000000000"},
    {"Date constant as day number", "Day = '1/2/2000'", false, false,
     "0000 3800 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0800 0000 | 05000000 0E000000 0200 0400 0400 |"
     "'Day' 00 09240B00"},
    {"Time constant as milliseconds", "At = '10:30'", false, false,
     "0000 3700 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0900 0000 | 05000000 0E000000 0A00 0400 0300 |"
     "'At' 00 40C84002"},
    {"DateTime constant as day x 86,400,000 + milliseconds", "When = '1/2/2000 10:30'", false, false,
     "0000 3D00 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0A00 0000 | 05000000 0E000000 0B00 0800 0500 |"
     "'When' 00 002002C5C4AFCC42"},
    {"AutoInc constant", "Id = 7", false, false,
     "0000 3700 FFFF 0A00 3000 |"
     "02000000 03000000 0C00 1800 | 04000000 0D000000 0E00 0000 | 05000000 0E000000 0600 0400 0300 |"
     "'Id' 00 07000000"},
};

TEST(FilterExpr, CannedBuffersByteForByte) {
  for (const auto& c : kBuffers) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> got = Compile(c.text, c.caseInsensitive, c.noPartial);
    EXPECT_EQ(Hex(got), Hex(Bytes(c.bytes)));
  }
}

TEST(FilterExpr, LiteralsKeepAtMost256CharactersAndStringConstants255) {
  std::string text(300, 'x');
  std::vector<std::uint8_t> got = Compile("Artist = '" + text + "'");
  // binary, field, constant: 38 bytes of nodes; "Artist\0" then 255 characters and the zero.
  ASSERT_EQ(got.size(), 10u + 38u + 7u + 256u);
  EXPECT_EQ(got[10 + 24 + 10], 0x00);  // constant size 256, low byte
  EXPECT_EQ(got[10 + 24 + 11], 0x01);
  EXPECT_EQ(got.back(), 0);
  EXPECT_EQ(got[got.size() - 2], 'x');
}

struct TMessageCase {
  const char* text;
  const char* message;
};

const TMessageCase kMessages[] = {
    {"Artist = 'abc", "Unterminated string constant"},
    {"[Artist = 'x'", "Unterminated field name"},
    {"Artist # 'x'", "Invalid filter expression character: '#'"},
    {"Artist = ", "Expression expected but nothing found"},
    {"Artist = )", "Expression expected but ')' found"},
    {"Artist = 'x' AND", "Expression expected but nothing found"},
    {"(Artist = 'x'", "')' expected but nothing found"},
    {"(Artist = 'x' Qty", "')' expected but 'Qty' found"},
    {"Artist = 'x' Qty", "Filter expression incorrectly terminated"},
    {"NOT NOT Active", "Filter expression incorrectly terminated"},
    {"Artist = 'x' )", "Filter expression incorrectly terminated"},
    {"Qty", "Field 'Qty' is not of type Boolean"},
    {"Memo = 'x'", "Field 'Memo' cannot be used in a filter expression"},
    {"Calc = 'x'", "Field 'Calc' cannot be used in a filter expression"},
    {"Qty > NULL", "NULL only allowed with '=' and '<>'"},
    {"NULL < Qty", "NULL only allowed with '=' and '<>'"},
    {"Small = 40000", "Constant out of range"},
    {"Small = -32769", "Constant out of range"},
    {"W = -1", "Constant out of range"},
    {"W = 65536", "Constant out of range"},
    {"'a' = 'b'", "Incorrectly formed filter expression"},
    {"True", "Incorrectly formed filter expression"},
    {"NULL", "Incorrectly formed filter expression"},
    {"(Qty = 1) = (Qty = 2)", "Incorrectly formed filter expression"},
    {"Nope = 1", "Field 'Nope' not found"},
    {"Qty = 'abc'", "'abc' is not a valid value for field 'Qty'"},
    {"Day = 'yesterday'", "'yesterday' is not a valid value for field 'Day'"},
};

TEST(FilterExpr, MessagesOfMalformedTexts) {
  for (const auto& c : kMessages) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ErrorOf(c.text), c.message);
  }
}

TEST(FilterExpr, DeepNestingIsRefusedNotOverflowed) {
  std::string text = std::string(100000, '(') + "Active" + std::string(100000, ')');
  EXPECT_EQ(ErrorOf(text), "Incorrectly formed filter expression");
  EXPECT_NO_THROW(Compile(std::string(50, '(') + "Active" + std::string(50, ')')));
}

// Long chains of AND and OR: the shortest terms still fit while the buffer takes them, a chain
// no buffer can hold is refused while it is read, and no length overflows the stack.
TEST(FilterExpr, LongChainsAreRefusedNotOverflowed) {
  auto chain = [](int terms, const char* connective) {
    std::string text = "Active";
    for (int i = 1; i < terms; ++i) text += std::string(" ") + connective + " Active";
    return text;
  };
  EXPECT_NO_THROW(Compile(chain(1000, "OR")));
  for (const char* connective : {"OR", "AND"}) {
    SCOPED_TRACE(connective);
    EXPECT_EQ(ErrorOf(chain(1300, connective)), "Incorrectly formed filter expression");  // the 64 KB buffer
    EXPECT_EQ(ErrorOf(chain(6000, connective)), "Filter expression too long: more than 1500 AND, OR and NOT operators");
    EXPECT_EQ(ErrorOf(chain(200000, connective)),
              "Filter expression too long: more than 1500 AND, OR and NOT operators");
  }
  std::string nots;
  for (int i = 0; i < 2000; ++i) nots += "NOT Active OR ";
  EXPECT_EQ(ErrorOf(nots + "Active"), "Filter expression too long: more than 1500 AND, OR and NOT operators");
}

// A tree as deep as a chain is long goes without one stack frame per term.
TEST(FilterExpr, DeepTreesAreFreedWithoutRecursion) {
  auto freeDeepTree = [] {
    auto root = std::make_unique<TFilterTerm>();
    TFilterTerm* at = root.get();
    for (int i = 0; i < 1000000; ++i) {
      at->Kind = TTermKind::Or;
      at->Right = std::make_unique<TFilterTerm>();
      at->Left = std::make_unique<TFilterTerm>();
      at = at->Left.get();
    }
    root.reset();  // one frame per level would overflow any thread's stack here
    std::exit(0);
  };
  EXPECT_EXIT(freeDeepTree(), ::testing::ExitedWithCode(0), "");
}

TEST(FilterExpr, BuildForLocateJoinsEqualitiesWithAnd) {
  TFilterExpr expr(Fields());
  EXPECT_EQ(Hex(expr.Build({"Artist", "qty"}, {std::string("Abba"), std::int64_t{5}}, false, false)),
            Hex(Bytes("0000 7600 FFFF 0A00 6200 |"
                      "02000000 0A000000 0C00 3200 |"
                      "02000000 03000000 1800 2400 | 04000000 0D000000 0100 0000 | 05000000 0E000000 0100 0500 0700 |"
                      "02000000 03000000 3E00 4A00 | 04000000 0D000000 0200 0C00 | 05000000 0E000000 0600 0400 1000 |"
                      "'Artist' 00 'Abba' 00 'Qty' 00 05000000")));
}

TEST(FilterExpr, BuildForcesNoPartialCompareAndMakesTheLastFieldAPrefix) {
  TFilterExpr expr(Fields());
  // A * is an ordinary character for locate.
  EXPECT_EQ(Hex(expr.Build({"Artist"}, {std::string("Abba*")}, false, false)),
            Hex(Compile("Artist='Abba*'", false, true)));
  // Partial: the last comparison covers the value's length; case-insensitive as asked.
  EXPECT_EQ(Hex(expr.Build({"Qty", "Artist"}, {std::int64_t{5}, std::string("Ab")}, true, true)),
            Hex(Bytes("0000 7800 FFFF 0A00 6600 |"
                      "02000000 0A000000 0C00 3200 |"
                      "02000000 03000000 1800 2400 | 04000000 0D000000 0200 0000 | 05000000 0E000000 0600 0400 0400 |"
                      "03000000 03000000 0100 0200 4200 4E00 | 04000000 0D000000 0100 0800 |"
                      "05000000 0E000000 0100 0300 0F00 |"
                      "'Qty' 00 05000000 'Artist' 00 'Ab' 00")));
  // No value is NULL: is blank.
  EXPECT_EQ(Hex(expr.Build({"Artist"}, {std::monostate{}}, false, false)), Hex(Compile("Artist = NULL")));
  // Typed values are taken as they are.
  EXPECT_EQ(Hex(expr.Build({"Price"}, {2.5}, false, false)), Hex(Compile("Price = 2.5")));
  EXPECT_EQ(Hex(expr.Build({"Active"}, {true}, false, false)), Hex(Compile("Active = True")));
  EXPECT_EQ(Hex(expr.Build({"Day"}, {std::int64_t{730121}}, false, false)), Hex(Compile("Day = '1/2/2000'")));
  EXPECT_THROW(expr.Build({"Small"}, {std::int64_t{40000}}, false, false), dataset::EDatabaseError);
  EXPECT_THROW(expr.Build({"Artist", "Qty"}, {std::string("x")}, false, false), dataset::EDatabaseError);
}

}  // namespace
}  // namespace quillon::sql
