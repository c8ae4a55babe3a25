// The engine filter over a real table: the same filters select the same records whether indexes
// answer them or every record is tested, and both agree with a model of the rows; ranges,
// callback filters and record changes combine with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <set>

#include "dataset/sql/filter_expr.h"
#include "dataset/sql/table_filter.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"
#include "util/text.h"

namespace quillon::sql {
namespace {

using engine::TDataFile;
using engine::TFieldType;

engine::TFieldDescriptor Field(const std::string& name, TFieldType type, int size = 0, int decimals = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.Decimals = static_cast<std::uint8_t>(decimals);
  return f;
}

engine::TIndexDescriptor Index(const std::string& name, int field, bool caseInsensitive = false) {
  engine::TIndexDescriptor d;
  d.IndexName = name;
  d.KeyFields[0] = static_cast<std::int16_t>(field);
  d.KeyFieldCount = 1;
  d.CaseInsensitive = caseInsensitive;
  return d;
}

struct TRow {
  std::int32_t Id = 0;
  std::optional<std::string> Artist;
  std::optional<std::int32_t> Qty;
  bool Active = false;
  double Price = 0;
  std::optional<std::int32_t> Day;
  bool Deleted = false;
};

using TPredicate = std::function<bool(const TRow&)>;
using TIds = std::vector<std::int32_t>;

constexpr int kRows = 3000;

class TableFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::InitializeEngine();
    engine::TTableDefinition t;
    t.Fields = {Field("Id", TFieldType::Integer),  Field("Artist", TFieldType::String, 20),
                Field("Qty", TFieldType::Integer), Field("Active", TFieldType::Boolean),
                Field("Price", TFieldType::Float), Field("Day", TFieldType::Date)};
    t.Indexes = {Index("", 1),      Index("ByArtist", 2), Index("ByArtistNoCase", 2, true),
                 Index("ByQty", 3), Index("ByPrice", 5),  Index("ByDay", 6)};
    {
      TDataFile create;
      create.SetFileName(dir.File("albums"));
      create.SetExclusive(true);
      create.CreateTable(t);
    }
    table.SetFileName(dir.File("albums"));
    table.SetExclusive(true);
    table.Open();
    buffer.assign(table.RecordBufferSize(), 0);
    std::mt19937 random(7);
    const char* artists[] = {"Abba",    "ABBA", "abba",  "Abbamania", "Abba*", "*",
                             "Beatles", "Cher", "Queen", "Zappa",     ""};
    for (int i = 1; i <= kRows; ++i) {
      TRow r;
      r.Id = i;
      std::string a = artists[random() % 11];
      if (!a.empty()) r.Artist = a;
      if (random() % 10 != 0) r.Qty = static_cast<std::int32_t>(random() % 100);
      r.Active = random() % 2 == 0;
      r.Price = static_cast<double>(random() % 200) * 0.5;
      if (random() % 20 != 0) r.Day = 730000 + static_cast<std::int32_t>(random() % 400);
      Insert(r);
    }
    // Deleted records must stay out, also where a set is built from its complement.
    for (auto& r : rows) {
      if (r.Id % 7 != 0) continue;
      std::vector<std::uint8_t> probe(table.RecordBufferSize(), 0);
      table.SetField(true, 1, &r.Id, probe.data());
      ASSERT_TRUE(table.FindKey(probe.data(), false, false, 0, -1, buffer.data()));
      table.DeleteRecord(true);
      r.Deleted = true;
    }
  }

  void Insert(const TRow& r) {
    std::vector<std::uint8_t> record(table.RecordBufferSize(), 0);
    table.InitRecord(record.data());
    table.SetField(true, 1, &r.Id, record.data());
    if (r.Artist) table.SetField(true, 2, r.Artist->c_str(), record.data());
    if (r.Qty) table.SetField(true, 3, &*r.Qty, record.data());
    std::int16_t active = r.Active ? -1 : 0;
    table.SetField(true, 4, &active, record.data());
    table.SetField(true, 5, &r.Price, record.data());
    if (r.Day) table.SetField(true, 6, &*r.Day, record.data());
    table.InsertRecord(record.data());
    rows.push_back(r);
  }

  TIds Visible() {
    TIds ids;
    table.First();
    while (table.Next(buffer.data()) == 0) {
      std::int32_t id = 0;
      table.GetField(true, 1, buffer.data(), &id);
      ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(table.RecordCount(), ids.size());
    return ids;
  }

  TIds Model(const TPredicate& p) {
    TIds ids;
    for (const auto& r : rows)
      if (!r.Deleted && p(r)) ids.push_back(r.Id);
    return ids;
  }

  // The records a filter shows, and how many records it tested while activated.
  TIds Run(const std::shared_ptr<TFilter>& filter, std::uint32_t* tested = nullptr) {
    std::uint32_t h = table.AddFilter(filter, nullptr, false);
    EXPECT_EQ(table.ActivateFilter(h), 0);
    if (tested) *tested = filter->RecordsTested();
    TIds ids = Visible();
    EXPECT_EQ(table.RemoveFilter(h), 0);
    return ids;
  }

  std::vector<std::uint8_t> Canned(const std::string& text, bool caseInsensitive = false, bool noPartial = false) {
    TFilterSettings options;
    options.CaseInsensitive = caseInsensitive;
    options.NoPartialCompare = noPartial;
    return TFilterExpr(FilterFieldsOf(table), table.Formats()).Compile(options, text);
  }

  // Runs the filter with and without its indexes and checks both against the model.
  void Check(const std::function<std::shared_ptr<TFilter>()>& make, const TPredicate& model, int grade) {
    auto indexed = make();
    auto scanned = make();
    scanned->SetUseIndexes(false);
    EXPECT_EQ(indexed->OptimisationGrade(), grade);
    std::uint32_t tested = 0, scannedTested = 0;
    TIds a = Run(indexed, &tested);
    TIds b = Run(scanned, &scannedTested);
    TIds expected = Model(model);
    EXPECT_EQ(a, expected);
    EXPECT_EQ(b, expected);
    EXPECT_GT(scannedTested, 0u);
    if (grade == 2) {
      EXPECT_EQ(tested, 0u) << "an index-only filter read records";
    }
    if (grade == 1) {
      EXPECT_LT(tested, scannedTested);
    }
  }

  quillon::testing::TempDir dir;
  TDataFile table;
  std::vector<std::uint8_t> buffer;
  std::vector<TRow> rows;
};

bool StartsWith(const std::optional<std::string>& s, const std::string& prefix) {
  return s && s->compare(0, prefix.size(), prefix) == 0;
}

struct TTextCase {
  const char* text;
  bool caseInsensitive;
  bool noPartial;
  int grade;
  TPredicate model;
};

TEST_F(TableFilter, TextFiltersSelectTheSameRecordsWithAndWithoutIndexes) {
  const TTextCase cases[] = {
      {"Artist='Abba*'", false, false, 2, [](const TRow& r) { return StartsWith(r.Artist, "Abba"); }},
      {"Artist='Abba*'", false, true, 2, [](const TRow& r) { return r.Artist == "Abba*"; }},
      {"Artist='*'", false, false, 2, [](const TRow& r) { return r.Artist == "*"; }},
      {"Artist=''", false, false, 2, [](const TRow& r) { return !r.Artist; }},
      {"Artist<>''", false, false, 2, [](const TRow& r) { return r.Artist.has_value(); }},
      {"Artist='abba'", true, false, 2, [](const TRow& r) { return r.Artist && UpperAsciiText(*r.Artist) == "ABBA"; }},
      {"Artist='abba*'", true, false, 2,
       [](const TRow& r) { return r.Artist && UpperAsciiText(*r.Artist).rfind("ABBA", 0) == 0; }},
      {"Artist<>'abba'", true, false, 2,
       [](const TRow& r) { return !r.Artist || UpperAsciiText(*r.Artist) != "ABBA"; }},
      {"Artist='Abba'", false, false, 2, [](const TRow& r) { return r.Artist == "Abba"; }},
      {"Artist>'B'", false, false, 2, [](const TRow& r) { return r.Artist && *r.Artist > "B"; }},
      {"Artist<='Beatles'", false, false, 2, [](const TRow& r) { return r.Artist && *r.Artist <= "Beatles"; }},
      {"Artist<>'Cher'", false, false, 2, [](const TRow& r) { return !r.Artist || *r.Artist != "Cher"; }},
      {"5 < Qty", false, false, 2, [](const TRow& r) { return r.Qty && *r.Qty > 5; }},
      {"Qty >= 10", false, false, 2, [](const TRow& r) { return r.Qty && *r.Qty >= 10; }},
      {"Qty < 3", false, false, 2, [](const TRow& r) { return r.Qty && *r.Qty < 3; }},
      {"Qty <= 3", false, false, 2, [](const TRow& r) { return r.Qty && *r.Qty <= 3; }},
      {"Qty <> 10", false, false, 2, [](const TRow& r) { return !r.Qty || *r.Qty != 10; }},
      {"Qty = NULL", false, false, 2, [](const TRow& r) { return !r.Qty; }},
      {"Qty <> NULL", false, false, 2, [](const TRow& r) { return r.Qty.has_value(); }},
      {"NOT (Qty > 50)", false, false, 2, [](const TRow& r) { return !(r.Qty && *r.Qty > 50); }},
      {"Qty < 10 OR Qty > 90", false, false, 2, [](const TRow& r) { return r.Qty && (*r.Qty < 10 || *r.Qty > 90); }},
      {"Qty > 10 AND Price < 50", false, false, 2, [](const TRow& r) { return r.Qty && *r.Qty > 10 && r.Price < 50; }},
      {"Price = 25.5", false, false, 2, [](const TRow& r) { return r.Price == 25.5; }},
      {"Day >= '1/1/2000'", false, false, 2, [](const TRow& r) { return r.Day && *r.Day >= 730120; }},
      {"Id > 2500", false, false, 2, [](const TRow& r) { return r.Id > 2500; }},
      {"Active", false, false, 0, [](const TRow& r) { return r.Active; }},
      {"NOT Active", false, false, 0, [](const TRow& r) { return !r.Active; }},
      {"Qty > 10 AND Price < 50 AND NOT Active", false, false, 1,
       [](const TRow& r) { return r.Qty && *r.Qty > 10 && r.Price < 50 && !r.Active; }},
      {"Active AND Artist = 'Cher'", false, false, 1, [](const TRow& r) { return r.Active && r.Artist == "Cher"; }},
      {"Artist = 'Cher' OR Active", false, false, 0, [](const TRow& r) { return r.Artist == "Cher" || r.Active; }},
      {"Qty > Price", false, false, 0, [](const TRow& r) { return r.Qty && *r.Qty > r.Price; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.caseInsensitive ? " (case-insensitive)" : "") +
                 (c.noPartial ? " (no partial compare)" : ""));
    std::vector<std::uint8_t> canned = Canned(c.text, c.caseInsensitive, c.noPartial);
    Check([&] { return TFilter::FromCanned(table, canned); }, c.model, c.grade);
  }
}

// Trees as the SQL layer gives them, bound to the table's fields.
std::unique_ptr<TQueryExprNode> Column(TDataFile& t, const std::string& name) {
  const auto& fields = t.LogicalFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!EqualIgnoringCase(fields[i].FieldName, name)) continue;
    auto n = MakeNode(kNodeColumn, op::kNone, name);
    n->ColumnName = name;
    n->FieldNumber = static_cast<int>(i) + 1;
    n->DataType = fields[i].FieldType;
    n->Size = fields[i].DataSize;
    return n;
  }
  return nullptr;
}
std::unique_ptr<TQueryExprNode> Text(const std::string& s) {
  auto n = MakeNode(kNodeConstant, op::kNone, s);
  if (s.empty()) {
    n->SetNull();
  } else {
    n->SetString(s);
  }
  return n;
}
std::unique_ptr<TQueryExprNode> Int(std::int32_t v) {
  auto n = MakeNode(kNodeConstant, op::kNone, std::to_string(v));
  n->SetInteger(v);
  return n;
}
std::unique_ptr<TQueryExprNode> Node(int nodeClass, int oper, std::unique_ptr<TQueryExprNode> a,
                                     std::unique_ptr<TQueryExprNode> b = nullptr,
                                     std::unique_ptr<TQueryExprNode> c = nullptr) {
  auto n = MakeNode(nodeClass, oper, "");
  if (c) b->Next = std::move(c);
  if (b) a->Next = std::move(b);
  n->First = std::move(a);
  return n;
}

TEST_F(TableFilter, SqlTreesUseIndexesWhereTheyCanAndTheEvaluatorElsewhere) {
  struct TTreeCase {
    const char* what;
    std::function<std::unique_ptr<TQueryExprNode>()> tree;
    int grade;
    TPredicate model;
  };
  TDataFile& t = table;
  const TTreeCase cases[] = {
      {"UPPER(Artist) = 'ABBA' on the case-insensitive index",
       [&] {
         return Node(kNodeBinary, op::kEqual, Node(kNodeFunction, op::kUpper, Column(t, "Artist")), Text("ABBA"));
       },
       2, [](const TRow& r) { return r.Artist && UpperAsciiText(*r.Artist) == "ABBA"; }},
      {"UPPER(Artist) = 'abba' never holds",
       [&] {
         return Node(kNodeBinary, op::kEqual, Node(kNodeFunction, op::kUpper, Column(t, "Artist")), Text("abba"));
       },
       0, [](const TRow&) { return false; }},
      {"LOWER(Artist) LIKE '%bb%' reads every record",
       [&] {
         return Node(kNodeExtended, op::kLike, Node(kNodeFunction, op::kLower, Column(t, "Artist")), Text("%bb%"));
       },
       0, [](const TRow& r) { return r.Artist && LowerAsciiText(*r.Artist).find("bb") != std::string::npos; }},
      {"Artist NOT LIKE 'A%' holds for NULL",
       [&] { return Node(kNodeExtended, op::kNotLike, Column(t, "Artist"), Text("A%")); }, 0,
       [](const TRow& r) { return !StartsWith(r.Artist, "A"); }},
      {"Qty IN (1, 5, 99)",
       [&] {
         auto list = Int(1);
         list->Next = Int(5);
         list->Next->Next = Int(99);
         return Node(kNodeExtended, op::kIn, Column(t, "Qty"), std::move(list));
       },
       2, [](const TRow& r) { return r.Qty && (*r.Qty == 1 || *r.Qty == 5 || *r.Qty == 99); }},
      {"Qty NOT IN (1, 5)", [&] { return Node(kNodeExtended, op::kNotIn, Column(t, "Qty"), Int(1), Int(5)); }, 2,
       [](const TRow& r) { return !r.Qty || (*r.Qty != 1 && *r.Qty != 5); }},
      {"Qty BETWEEN 20 AND 30", [&] { return Node(kNodeExtended, op::kBetween, Column(t, "Qty"), Int(20), Int(30)); },
       2, [](const TRow& r) { return r.Qty && *r.Qty >= 20 && *r.Qty <= 30; }},
      {"Qty NOT BETWEEN 20 AND 30",
       [&] { return Node(kNodeExtended, op::kNotBetween, Column(t, "Qty"), Int(20), Int(30)); }, 2,
       [](const TRow& r) { return !(r.Qty && *r.Qty >= 20 && *r.Qty <= 30); }},
      {"a partial length beyond the constant compares whole values",
       [&] {
         auto n = Node(kNodePartialCompare, op::kEqual, Column(t, "Artist"), Text("Abba"));
         n->PartialLength = 10;
         return n;
       },
       2, [](const TRow& r) { return r.Artist == "Abba"; }},
      {"a partial comparison of three characters ignoring case",
       [&] {
         auto n = Node(kNodePartialCompare, op::kEqual, Column(t, "Artist"), Text("abbx"));
         n->PartialLength = 3;
         n->CaseInsensitive = true;
         return n;
       },
       2, [](const TRow& r) { return r.Artist && UpperAsciiText(r.Artist->substr(0, 3)) == "ABB"; }},
      {"10 > Qty, the constant on the left", [&] { return Node(kNodeBinary, op::kGreater, Int(10), Column(t, "Qty")); },
       2, [](const TRow& r) { return r.Qty && *r.Qty < 10; }},
      {"Qty + 1 > 50 is an expression",
       [&] { return Node(kNodeBinary, op::kGreater, Node(kNodeBinary, op::kPlus, Column(t, "Qty"), Int(1)), Int(50)); },
       0, [](const TRow& r) { return r.Qty && *r.Qty + 1 > 50; }},
      {"SUBSTRING(Artist FROM 2 FOR 2) = 'bb'",
       [&] {
         return Node(kNodeBinary, op::kEqual, Node(kNodeFunction, op::kSubstring, Column(t, "Artist"), Int(2), Int(2)),
                     Text("bb"));
       },
       0, [](const TRow& r) { return r.Artist && r.Artist->size() >= 3 && r.Artist->substr(1, 2) == "bb"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Check([&] { return TFilter::FromTree(table, c.tree()); }, c.model, c.grade);
  }
}

TEST_F(TableFilter, FiltersCombineWithRangesAndCallbackFilters) {
  // A range on the primary index.
  std::vector<std::uint8_t> low(table.RecordBufferSize(), 0), high(table.RecordBufferSize(), 0);
  std::int32_t from = 1000, to = 2000;
  table.SetField(true, 1, &from, low.data());
  table.SetField(true, 1, &to, high.data());
  table.SetRange(low.data(), false, 1, high.data(), false, 1);
  auto filter = TFilter::FromCanned(table, Canned("Qty > 50"));
  std::uint32_t h = table.AddFilter(filter, nullptr, false);
  ASSERT_EQ(table.ActivateFilter(h), 0);
  EXPECT_EQ(Visible(), Model([](const TRow& r) { return r.Id >= 1000 && r.Id <= 2000 && r.Qty && *r.Qty > 50; }));
  // A callback filter beside it, and one made into a TFilter.
  std::uint32_t even = table.AddFilter(
      nullptr,
      [&](const std::uint8_t* record, std::uint32_t) {
        std::int32_t id = 0;
        table.GetField(true, 1, record, &id);
        return id % 2 == 0;
      },
      false);
  ASSERT_EQ(table.ActivateFilter(even), 0);
  auto callback = TFilter::FromCallback([&](const std::uint8_t* record, std::uint32_t) {
    std::int32_t id = 0;
    table.GetField(true, 1, record, &id);
    return id % 3 == 0;
  });
  std::uint32_t third = table.AddFilter(callback, nullptr, true);
  ASSERT_EQ(table.ActivateFilter(third), 0);
  EXPECT_EQ(Visible(),
            Model([](const TRow& r) { return r.Id >= 1000 && r.Id <= 2000 && r.Qty && *r.Qty > 50 && r.Id % 6 == 0; }));
  table.CancelRange();
  EXPECT_EQ(Visible(), Model([](const TRow& r) { return r.Qty && *r.Qty > 50 && r.Id % 6 == 0; }));
  table.RemoveFilter(0);
}

TEST_F(TableFilter, ChangedRecordsAreJudgedOneByOne) {
  auto filter = TFilter::FromCanned(table, Canned("Artist = 'Cher' AND Qty >= 10"));
  std::uint32_t h = table.AddFilter(filter, nullptr, false);
  ASSERT_EQ(table.ActivateFilter(h), 0);
  std::uint32_t before = table.RecordCount();
  TRow cher;
  cher.Id = 9001;
  cher.Artist = "Cher";
  cher.Qty = 10;
  Insert(cher);
  TRow other = cher;
  other.Id = 9002;
  other.Qty = 9;
  Insert(other);
  EXPECT_EQ(table.RecordCount(), before + 1);
  EXPECT_EQ(Visible(), Model([](const TRow& r) { return r.Artist == "Cher" && r.Qty && *r.Qty >= 10; }));
}

TEST_F(TableFilter, BuffersReadBackIntoTreesWithFieldsFoundByName) {
  auto tree = [&](const std::vector<std::uint8_t>& canned) {
    return DescribeTree(ReadCannedFilter(table, canned).get());
  };
  EXPECT_EQ(tree(Canned("Artist=''")), "(= Artist NULL)");  // the empty string is NULL
  EXPECT_EQ(tree(Canned("Artist = NULL")), "(= Artist NULL)");
  EXPECT_EQ(tree(Canned("artist <> NULL")), "(<> Artist NULL)");
  EXPECT_EQ(tree(Canned("5 < Qty AND NOT Active")), "(AND (> Qty 5) (NOT (= Active 1)))");
  EXPECT_EQ(tree(Canned("Artist = 'Ab*'")), "(= Artist 'Ab')");
  auto partial = ReadCannedFilter(table, Canned("Artist = 'Ab*'", true));
  EXPECT_EQ(partial->NodeClass, kNodePartialCompare);
  EXPECT_EQ(partial->PartialLength, 2);
  EXPECT_TRUE(partial->CaseInsensitive);
  // The field number written in the buffer is not used: Qty is found by its name.
  std::vector<TFilterField> fields = FilterFieldsOf(table);
  for (auto& f : fields) f.FieldNumber += 40;
  auto byName = ReadCannedFilter(table, TFilterExpr(fields).Compile({}, "Qty = 3"));
  EXPECT_EQ(byName->First->FieldNumber, 3);
}

TEST_F(TableFilter, MalformedBuffersAreInvalidFilterExpressions) {
  std::vector<std::uint8_t> good = Canned("Qty > 5 AND Artist = 'Cher'");
  auto code = [&](std::vector<std::uint8_t> b) {
    try {
      TFilter::FromCanned(table, b);
    } catch (const engine::EEngineError& e) {
      return e.Code();
    }
    return 0;
  };
  EXPECT_EQ(code(good), 0);
  EXPECT_EQ(code({}), engine::err::kInvalidFilterExpression);
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    std::vector<std::uint8_t> b(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(code(b), engine::err::kInvalidFilterExpression) << cut;
  }
  // Every single-byte change either still reads or is refused; none crashes or loops.
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (int value : {0x00, 0x01, 0x0A, 0xFF}) {
      std::vector<std::uint8_t> b = good;
      b[at] = static_cast<std::uint8_t>(value);
      int c = code(b);
      EXPECT_TRUE(c == 0 || c == engine::err::kInvalidFilterExpression) << at << " " << value;
    }
  }
  // A child pointing back at its parent is refused, not followed.
  std::vector<std::uint8_t> loop = Canned("NOT Active");
  loop[10 + 8] = 0;  // the NOT's operand: itself
  EXPECT_EQ(code(loop), engine::err::kInvalidFilterExpression);
  // A field the table does not have.
  std::vector<TFilterField> fields = FilterFieldsOf(table);
  fields.push_back({"Ghost", 99, TFilterFieldKind::Integer, 0, true});
  EXPECT_EQ(code(TFilterExpr(fields).Compile({}, "Ghost = 1")), engine::err::kInvalidFilterExpression);
}

}  // namespace
}  // namespace quillon::sql
