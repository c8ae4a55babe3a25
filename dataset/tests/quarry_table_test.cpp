// The table component: opening, field objects, navigation and record numbers, editing, Locate
// and Lookup with their three search paths, callback filters, key searches and ranges,
// master/detail, BLOB streams and the messages of the layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "dataset/engine_error.h"
#include "dataset/quarry_table.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"

namespace quillon::dataset {
namespace {

using engine::TFieldType;

engine::TFieldDescriptor Field(const std::string& name, TFieldType type, int size = 0, std::uint8_t subType = 0,
                               int decimals = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.SubType = subType;
  f.Decimals = static_cast<std::uint8_t>(decimals);
  return f;
}

engine::TIndexDescriptor Index(const std::string& name, std::initializer_list<int> fields, bool caseInsensitive = false,
                               bool unique = false) {
  engine::TIndexDescriptor d;
  d.IndexName = name;
  for (int f : fields) d.KeyFields[d.KeyFieldCount++] = static_cast<std::int16_t>(f);
  d.CaseInsensitive = caseInsensitive;
  d.Unique = unique;
  return d;
}

// The album table of a base: index (auto-increment, primary), album, artist, beginID; and when
// asked, an index on (artist, album) and a case-insensitive one on album.
engine::TTableDefinition Albums(bool artistAlbumIndex, bool albumNoCaseIndex = false) {
  engine::TTableDefinition t;
  t.Fields = {Field("index", TFieldType::Integer, 0, engine::kSubTypeAutoInc), Field("album", TFieldType::String, 40),
              Field("artist", TFieldType::String, 40), Field("beginID", TFieldType::Integer),
              Field("notes", TFieldType::Blob, 0, engine::kSubTypeMemo)};
  t.Indexes = {Index("", {1})};
  if (artistAlbumIndex) t.Indexes.push_back(Index("ByArtistAlbum", {3, 2}));
  if (albumNoCaseIndex) t.Indexes.push_back(Index("ByAlbumNoCase", {2}, true));
  return t;
}

void Create(const std::string& path, const engine::TTableDefinition& definition) {
  engine::TDataFile table;
  table.SetFileName(path);
  table.SetExclusive(true);
  table.CreateTable(definition);
}

template <class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

class QuarryTable : public ::testing::Test {
 protected:
  void SetUp() override { engine::InitializeEngine(); }

  quillon::testing::TempDir dir;

  // The directory without its trailing delimiter.
  std::string Folder() const {
    std::string p = dir.Path();
    p.pop_back();
    return p;
  }

  std::unique_ptr<TQuarryTable> OpenAlbums(bool artistAlbumIndex = false, bool albumNoCaseIndex = false) {
    Create(dir.File("albums.dat"), Albums(artistAlbumIndex, albumNoCaseIndex));
    auto t = std::make_unique<TQuarryTable>();
    t->SetDatabaseName(dir.Path());
    t->SetTableName("albums.dat");
    t->Open();
    return t;
  }

  static void Add(TQuarryTable& t, const std::string& album, const std::string& artist, int begin = 1) {
    t.AppendRecord({TFieldValue{}, album, artist, std::int64_t{begin}});
  }

  // The albums in the dataset's order, walked with Next.
  static std::vector<std::string> Walk(TQuarryTable& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldNamed("album").AsString());
    return out;
  }
};

TEST_F(QuarryTable, DatabaseNameWithoutTrailingDelimiterAndEmpty) {
  Create(dir.File("songList.DAT"), Albums(false));
  TQuarryTable t;
  t.SetDatabaseName(Folder());
  t.SetTableName("songList.DAT");
  t.Open();
  EXPECT_EQ(t.Handle()->FileName(), Folder() + "\\songList.DAT");
  EXPECT_EQ(t.FieldCount(), 5);
  t.Close();

  // An empty DatabaseName opens TableName relative to the current directory.
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(Folder());
  TQuarryTable relative;
  relative.SetTableName("songList.DAT");
  std::string error = ErrorText([&] { relative.Open(); });
  std::filesystem::current_path(previous);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(relative.Active());
  EXPECT_EQ(relative.Handle()->FileName(), "songList.DAT");
}

TEST_F(QuarryTable, OpenFailuresLeaveTheTableClosed) {
  TQuarryTable t;
  t.SetDatabaseName(dir.Path());
  EXPECT_EQ(ErrorText([&] { t.Open(); }), "Missing table name.");
  t.SetTableName("missing.dat");
  try {
    t.Open();
    FAIL() << "opened a missing table";
  } catch (const EQuarryEngineError& e) {
    EXPECT_NE(e.ErrorCode(), 0);
    EXPECT_EQ(std::string(e.what()).rfind("Quarry Engine Error # ", 0), 0u) << e.what();
  }
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.Handle(), nullptr);
  EXPECT_EQ(t.Database(), nullptr);
  // Settings that need a closed table.
  Create(dir.File("a.dat"), Albums(false));
  t.SetTableName("a.dat");
  t.Open();
  EXPECT_EQ(ErrorText([&] { t.SetExclusive(true); }), "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorText([&] { t.SetDatabaseName("elsewhere"); }), "Cannot perform this operation on an open database.");
  EXPECT_EQ(t.EngineVersion(), "1.16");
  t.SetEngineVersion("2.0");
  EXPECT_EQ(t.EngineVersion(), "1.16");
}

TEST_F(QuarryTable, FieldKindsFromEngineTypes) {
  engine::TTableDefinition def;
  struct Case {
    engine::TFieldDescriptor field;
    TValueKind kind;
    int size;
  } cases[] = {
      {Field("s", TFieldType::String, 12), TValueKind::String, 12},
      {Field("d", TFieldType::Date), TValueKind::Date, 0},
      {Field("m", TFieldType::Blob, 0, engine::kSubTypeMemo), TValueKind::Memo, 0},
      {Field("fm", TFieldType::Blob, 0, engine::kSubTypeFmtMemo), TValueKind::FmtMemo, 0},
      {Field("g", TFieldType::Blob, 0, engine::kSubTypeGraphic), TValueKind::Graphic, 0},
      {Field("tb", TFieldType::Blob, 0, engine::kSubTypeTypedBinary), TValueKind::TypedBinary, 0},
      {Field("b", TFieldType::Blob, 0, 1), TValueKind::Blob, 0},
      {Field("bo", TFieldType::Boolean), TValueKind::Boolean, 0},
      {Field("si", TFieldType::SmallInt), TValueKind::Smallint, 0},
      {Field("ai", TFieldType::Integer, 0, engine::kSubTypeAutoInc), TValueKind::AutoInc, 0},
      {Field("i", TFieldType::Integer), TValueKind::Integer, 0},
      {Field("cu", TFieldType::Float, 0, engine::kSubTypeMoney), TValueKind::Currency, 0},
      {Field("f", TFieldType::Float), TValueKind::Float, 0},
      {Field("bcd", TFieldType::Bcd, 0, 0, 2), TValueKind::BCD, 2},
      {Field("by", TFieldType::Bytes, 6), TValueKind::Bytes, 6},
      {Field("t", TFieldType::Time), TValueKind::Time, 0},
      {Field("ts", TFieldType::TimeStamp), TValueKind::DateTime, 0},
      {Field("w", TFieldType::Word), TValueKind::Word, 0},
      {Field("lw", TFieldType::LargeWord), TValueKind::Integer, 0},
      {Field("vb", TFieldType::VarBytes, 5), TValueKind::VarBytes, 5},
  };
  for (const Case& c : cases) def.Fields.push_back(c.field);
  def.Fields.push_back(Field("ext", TFieldType::Extended));  // no field object
  def.Indexes = {Index("", {11})};
  Create(dir.File("kinds.dat"), def);
  TQuarryTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("kinds.dat");
  t.Open();
  ASSERT_EQ(t.FieldCount(), static_cast<int>(std::size(cases)));
  for (const Case& c : cases) {
    TRecordField& f = t.FieldNamed(c.field.FieldName);
    EXPECT_EQ(f.Kind(), c.kind) << c.field.FieldName;
    EXPECT_EQ(f.Size(), c.size) << c.field.FieldName;
  }
  EXPECT_EQ(t.FindField("ext"), nullptr);
  EXPECT_EQ(t.FieldSpecs()[13].Precision, 20);

  // Values go through the engine's encodings and back.
  t.Append();
  t.FieldNamed("i").SetAsInteger(42);
  t.FieldNamed("s").SetAsString("hello");
  t.FieldNamed("bo").SetAsBoolean(true);
  t.FieldNamed("bcd").SetAsFloat(-12.34);
  t.FieldNamed("d").SetAsFloat(45000);  // 2023-03-15
  t.FieldNamed("si").SetAsInteger(-5);
  t.FieldNamed("w").SetAsInteger(65535);
  t.FieldNamed("cu").SetAsFloat(2.5);
  EXPECT_EQ(ErrorText([&] { t.FieldNamed("si").SetAsInteger(40000); }), "Value of field 'si' is out of range");
  t.Post();
  EXPECT_EQ(t.FieldNamed("i").AsInteger(), 42);
  EXPECT_EQ(t.FieldNamed("s").AsString(), "hello");
  EXPECT_TRUE(t.FieldNamed("bo").AsBoolean());
  EXPECT_DOUBLE_EQ(t.FieldNamed("bcd").AsFloat(), -12.34);
  EXPECT_EQ(t.FieldNamed("d").AsString(), "2023-03-15");
  EXPECT_EQ(t.FieldNamed("si").AsInteger(), -5);
  EXPECT_EQ(t.FieldNamed("w").AsInteger(), 65535);
  EXPECT_TRUE(t.FieldNamed("f").IsNull());
  EXPECT_EQ(t.FieldNamed("ai").AsInteger(), 1);
}

// A number that is no moment (NaN, infinite, or far past any calendar) is refused, never stored
// as midnight or as a timestamp no reader can decode.
TEST_F(QuarryTable, DateAndTimeFieldsRefuseNumbersThatAreNoMoment) {
  engine::TTableDefinition def;
  def.Fields = {Field("n", TFieldType::Integer), Field("d", TFieldType::Date), Field("t", TFieldType::Time),
                Field("ts", TFieldType::TimeStamp)};
  def.Indexes = {Index("", {1})};
  Create(dir.File("moments.dat"), def);
  TQuarryTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("moments.dat");
  t.Open();
  t.Append();
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (const char* name : {"d", "t", "ts"}) {
    for (double v : {nan, inf, -inf}) {
      EXPECT_EQ(ErrorText([&] { t.FieldNamed(name).SetAsFloat(v); }),
                std::string("Value of field '") + name + "' is out of range")
          << name << " " << v;
    }
  }
  EXPECT_EQ(ErrorText([&] { t.FieldNamed("d").SetAsFloat(1e300); }), "Value of field 'd' is out of range");
  t.FieldNamed("n").SetAsInteger(1);
  t.FieldNamed("d").SetAsFloat(45000.75);
  t.FieldNamed("t").SetAsFloat(0.5);
  t.FieldNamed("ts").SetAsFloat(45000.5);
  t.Post();
  EXPECT_EQ(t.FieldNamed("d").AsString(), "2023-03-15");
  EXPECT_EQ(t.FieldNamed("t").AsString(), "12:00:00");
  EXPECT_EQ(t.FieldNamed("ts").AsString(), "2023-03-15 12:00:00");
}

TEST_F(QuarryTable, DuplicateEngineFieldNamesGetACounter) {
  engine::TTableDefinition def;
  def.Fields = {Field("x", TFieldType::Integer), Field("y", TFieldType::Integer), Field("z", TFieldType::Integer)};
  def.Indexes = {Index("", {1})};
  Create(dir.File("dup.dat"), def);
  // Another program wrote descriptors with one name twice: rename y and z to x in the file.
  {
    std::fstream file(dir.File("dup.DAT"), std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.is_open());
    for (int n : {1, 2}) {
      file.seekp(127 + 768 * n + 3);
      file.put('x');
    }
  }
  TQuarryTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("dup.dat");
  t.Open();
  ASSERT_EQ(t.FieldCount(), 3);
  EXPECT_EQ(t.Fields()[0]->FieldName(), "x");
  EXPECT_EQ(t.Fields()[1]->FieldName(), "x_1");
  EXPECT_EQ(t.Fields()[2]->FieldName(), "x_2");
}

TEST_F(QuarryTable, AppendEditCancelDeleteAndAutoInc) {
  auto t = OpenAlbums();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_TRUE(t->Bof() && t->Eof());
  Add(*t, "First", "A");
  Add(*t, "Second", "B");
  Add(*t, "Third", "C");
  // Null for the AutoInc field: the engine gives the next value.
  EXPECT_EQ(t->FieldNamed("index").AsInteger(), 3);
  EXPECT_EQ(t->RecordCount(), 3);
  EXPECT_EQ(Walk(*t), (std::vector<std::string>{"First", "Second", "Third"}));

  t->First();
  t->Next();
  t->Edit();
  EXPECT_EQ(t->State(), TDataSetMode::Edit);
  t->FieldNamed("album").SetAsString("Changed");
  EXPECT_EQ(t->FieldNamed("album").OldValue(), TFieldValue{std::string("Second")});
  t->Cancel();
  EXPECT_EQ(t->FieldNamed("album").AsString(), "Second");
  t->Edit();
  t->FieldNamed("album").SetAsString("Changed");
  t->Post();
  EXPECT_EQ(t->FieldNamed("album").AsString(), "Changed");
  EXPECT_EQ(t->RecNo(), 2);
  t->Delete();
  EXPECT_EQ(t->FieldNamed("album").AsString(), "Third");
  EXPECT_EQ(Walk(*t), (std::vector<std::string>{"First", "Third"}));
  t->Delete();
  t->Delete();
  EXPECT_TRUE(t->IsEmpty());
  // Identifiers are never reused.
  Add(*t, "Fourth", "D");
  EXPECT_EQ(t->FieldNamed("index").AsInteger(), 4);

  // Writing in browse state, and a read-only field.
  EXPECT_EQ(ErrorText([&] { t->FieldNamed("album").SetAsString("x"); }), "Dataset not in edit or insert mode");
  t->FieldNamed("artist").ReadOnly = true;
  t->Edit();
  EXPECT_EQ(ErrorText([&] { t->FieldNamed("artist").SetAsString("x"); }), "Field 'artist' cannot be modified");
  t->Cancel();
}

TEST_F(QuarryTable, EventsAroundScrollsAndPosts) {
  auto t = OpenAlbums();
  for (int i = 0; i < 10; ++i) Add(*t, "A" + std::to_string(i), "X");
  std::vector<std::string> journal;
  t->BeforeScroll = [&](TDataSet&) { journal.push_back("before"); };
  t->AfterScroll = [&](TDataSet&) { journal.push_back("after"); };
  t->BeforePost = [&](TDataSet&) { journal.push_back("post"); };
  t->OnNewRecord = [&](TDataSet& ds) { ds.FieldNamed("beginID").SetAsInteger(77); };
  t->SetRecNo(4);
  EXPECT_EQ(journal, (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A3");
  journal.clear();
  // The current value: no scroll at all.
  t->SetRecNo(4);
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(t->RecNo(), 4);
  // Below 1: the first record; beyond the count: the last.
  t->SetRecNo(-3);
  EXPECT_EQ(t->RecNo(), 1);
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A0");
  t->SetRecNo(1000);
  EXPECT_EQ(t->RecNo(), 10);
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A9");
  journal.clear();
  t->Append();
  t->FieldNamed("album").SetAsString("New");
  t->Post();
  EXPECT_EQ(t->FieldNamed("beginID").AsInteger(), 77);
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "post"), 1);
}

// A bound control as the framework sees it: it wants five rows and writes down what it is told.
class TRecordingLink : public TFeedLink {
 public:
  std::vector<std::string> Journal;

 protected:
  void ActiveChanged() override { Journal.push_back("active"); }
  void DataSetChanged() override { Journal.push_back("changed"); }
  void DataSetScrolled(int distance) override { Journal.push_back("scrolled " + std::to_string(distance)); }
  void RecordChanged(TRecordField* field) override {
    Journal.push_back(field ? "field " + field->FieldName() : "record");
  }
  void EditingChanged() override { Journal.push_back("editing"); }
};

TEST_F(QuarryTable, DataLinksHearOfScrollsEditsAndStateChanges) {
  auto t = OpenAlbums();
  for (int i = 0; i < 12; ++i) Add(*t, "A" + std::to_string(i), "X");
  TDataFeed source;
  source.SetDataSet(t.get());
  std::vector<std::string> states;
  source.OnStateChange = [&](TDataFeed& s) { states.push_back(std::to_string(static_cast<int>(s.State()))); };
  TRecordingLink link;
  link.SetBufferCount(5);
  link.SetDataSource(&source);
  t->First();
  EXPECT_EQ(t->BufferCount(), 5);
  EXPECT_EQ(link.RecordCount(), 5);  // only the rows the control shows are read
  link.Journal.clear();
  t->Next();  // inside the ring
  EXPECT_EQ(link.Journal, (std::vector<std::string>{"scrolled 0"}));
  EXPECT_EQ(link.ActiveRecord(), 1);
  link.Journal.clear();
  t->MoveBy(5);  // past the ring's end: the rows move up by two
  EXPECT_EQ(link.Journal, (std::vector<std::string>{"scrolled 2"}));
  EXPECT_EQ(link.ActiveRecord(), 4);
  EXPECT_EQ(t->RecNo(), 7);
  link.SetActiveRecord(0);
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A2");  // the first row shown
  link.SetActiveRecord(4);
  link.Journal.clear();
  t->Edit();
  t->FieldNamed("album").SetAsString("Changed");
  t->Post();
  EXPECT_EQ(link.Journal.front(), "editing");
  EXPECT_NE(std::find(link.Journal.begin(), link.Journal.end(), "field album"), link.Journal.end());
  EXPECT_EQ(link.Journal.back(), "changed");
  EXPECT_EQ(states, (std::vector<std::string>{std::to_string(static_cast<int>(TDataSetMode::Edit)),
                                              std::to_string(static_cast<int>(TDataSetMode::Browse))}));
  t->Close();
  EXPECT_EQ(link.Journal.back(), "active");
  EXPECT_FALSE(link.Active());
}

TEST_F(QuarryTable, BookmarksAndTheirOrder) {
  auto t = OpenAlbums();
  for (int i = 0; i < 5; ++i) Add(*t, "A" + std::to_string(i), "X");
  t->SetRecNo(2);
  TRecordMark second = t->GetBookmark();
  t->SetRecNo(4);
  TRecordMark fourth = t->GetBookmark();
  EXPECT_LT(t->CompareBookmarks(second, fourth), 0);
  EXPECT_GT(t->CompareBookmarks(fourth, second), 0);
  EXPECT_EQ(t->CompareBookmarks({}, {}), 0);
  EXPECT_GT(t->CompareBookmarks({}, second), 0);  // nil after a real one
  EXPECT_LT(t->CompareBookmarks(second, {}), 0);
  t->GotoBookmark(second);
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A1");
  EXPECT_TRUE(t->BookmarkValid(fourth));
  t->SetRecNo(4);
  t->Delete();
  EXPECT_FALSE(t->BookmarkValid(fourth));
}

TEST_F(QuarryTable, LocateFindsTheSameRecordWithAndWithoutAnIndex) {
  for (bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "with an index on artist;album" : "without an index");
    quillon::testing::TempDir local;
    Create(local.File("albums.dat"), Albums(indexed));
    TQuarryTable t;
    t.SetDatabaseName(local.Path());
    t.SetTableName("albums.dat");
    t.Open();
    Add(t, "Blue", "Ann");
    Add(t, "Red", "Bob");
    Add(t, "Blue", "Bob");
    Add(t, "blue", "Bob");
    Add(t, "Blue Moon", "Bob");
    t.First();
    EXPECT_TRUE(t.Locate("artist;album", {std::string("Bob"), std::string("Blue")}));
    EXPECT_EQ(t.FieldNamed("index").AsInteger(), 3);
    EXPECT_EQ(t.LocateCloneExists(), indexed);
    // Case-sensitive and whole-value without options; the cursor stays when nothing is found.
    EXPECT_FALSE(t.Locate("artist;album", {std::string("bob"), std::string("Blue")}));
    EXPECT_FALSE(t.Locate("artist;album", {std::string("Bob"), std::string("Blu")}));
    EXPECT_EQ(t.FieldNamed("index").AsInteger(), 3);
    // Partial key on the last field.
    EXPECT_TRUE(t.Locate("artist;album", {std::string("Bob"), std::string("Blue M")}, {false, true}));
    EXPECT_EQ(t.FieldNamed("index").AsInteger(), 5);
    // Lookup answers without moving.
    std::vector<TFieldValue> v = t.Lookup("artist;album", {std::string("Bob"), std::string("Red")}, "index;beginID");
    EXPECT_EQ(v[0], TFieldValue{std::int64_t{2}});
    EXPECT_EQ(t.FieldNamed("index").AsInteger(), 5);
    v = t.Lookup("artist;album", {std::string("Nobody"), std::string("Red")}, "index");
    EXPECT_TRUE(IsNull(v[0]));
    // Field names ignore case.
    EXPECT_TRUE(t.Locate("ARTIST;Album", {std::string("Ann"), std::string("Blue")}));
    EXPECT_EQ(t.FieldNamed("index").AsInteger(), 1);
  }
}

// An Exclusive table cannot lend a second cursor: a search over fields that another index than
// the current one serves still answers found or not found, and Lookup still leaves the record.
TEST_F(QuarryTable, LocateOnAnExclusiveTableOverAnotherIndexAnswersWithoutASecondCursor) {
  Create(dir.File("albums.dat"), Albums(true));
  TQuarryTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("albums.dat");
  t.SetExclusive(true);
  t.Open();
  Add(t, "Blue", "Ann");
  Add(t, "Red", "Bob");
  Add(t, "Blue", "Bob");
  t.First();
  EXPECT_TRUE(t.Locate("artist;album", {std::string("Bob"), std::string("Blue")}));
  EXPECT_EQ(t.FieldNamed("index").AsInteger(), 3);
  EXPECT_FALSE(t.LocateCloneExists());
  EXPECT_FALSE(t.Locate("artist;album", {std::string("Cid"), std::string("Blue")}));
  EXPECT_EQ(t.FieldNamed("index").AsInteger(), 3);
  EXPECT_TRUE(t.Locate("artist;album", {std::string("Bob"), std::string("R")}, {false, true}));
  EXPECT_EQ(t.FieldNamed("index").AsInteger(), 2);
  std::vector<TFieldValue> v = t.Lookup("artist;album", {std::string("Ann"), std::string("Blue")}, "index");
  EXPECT_EQ(v[0], TFieldValue{std::int64_t{1}});
  EXPECT_EQ(t.FieldNamed("index").AsInteger(), 2);
  // The table still walks in its own index order afterwards.
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"Blue", "Red", "Blue"}));
}

TEST_F(QuarryTable, LocateOnTheCurrentIndexUsesTheTablesOwnCursor) {
  auto t = OpenAlbums(true);
  Add(*t, "Blue", "Ann");
  Add(*t, "Red", "Bob");
  t->SetIndexFieldNames("artist;album");
  EXPECT_EQ(t->IndexName(), "");
  EXPECT_TRUE(t->Locate("artist", std::string("Bob")));
  EXPECT_FALSE(t->LocateCloneExists());
  EXPECT_TRUE(t->Locate("artist;album", {std::string("Ann"), std::string("Blue")}));
  EXPECT_FALSE(t->LocateCloneExists());
  EXPECT_EQ(t->FieldNamed("album").AsString(), "Blue");
  // A field list no index has.
  EXPECT_EQ(ErrorText([&] { t->SetIndexFieldNames("beginID"); }), "No index for fields 'beginID'");
  EXPECT_EQ(ErrorText([&] { t->SetIndexName("Nope"); }).find("Quarry Engine Error # 10022"), 0u);
}

TEST_F(QuarryTable, CaseInsensitiveIndexMakesLocateIgnoreCase) {
  for (bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "case-insensitive index on album" : "no index on album");
    quillon::testing::TempDir local;
    Create(local.File("albums.dat"), Albums(false, indexed));
    TQuarryTable t;
    t.SetDatabaseName(local.Path());
    t.SetTableName("albums.dat");
    t.Open();
    Add(t, "Other", "A");
    Add(t, "Greatest HITS", "B");
    t.First();
    EXPECT_EQ(t.Locate("album", std::string("greatest hits")), indexed);
    // Asking for case-insensitivity finds it either way.
    EXPECT_TRUE(t.Locate("album", std::string("GREATEST hits"), {true, false}));
    EXPECT_EQ(t.FieldNamed("artist").AsString(), "B");
  }
}

TEST_F(QuarryTable, CallbackFilterThatNothingPassesGivesAnEmptySet) {
  auto t = OpenAlbums();
  for (int i = 0; i < 20; ++i) Add(*t, "A" + std::to_string(i), i % 2 ? "Odd" : "Even");
  t->SetOnFilterRecord([](TDataSet& ds, bool& accept) { accept = ds.FieldNamed("artist").AsString() == "Odd"; });
  EXPECT_TRUE(t->IsSequenced());
  t->SetFiltered(true);
  EXPECT_FALSE(t->IsSequenced());
  EXPECT_EQ(t->RecordCount(), 10);
  EXPECT_EQ(Walk(*t).front(), "A1");
  t->SetOnFilterRecord([](TDataSet&, bool& accept) { accept = false; });
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_TRUE(t->Bof());
  EXPECT_TRUE(t->Eof());
  t->Last();
  EXPECT_TRUE(t->Bof() && t->Eof());
  t->SetFiltered(false);
  EXPECT_EQ(t->RecordCount(), 20);

  // Find-first/next use the filter for one move only.
  t->SetOnFilterRecord([](TDataSet& ds, bool& accept) { accept = ds.FieldNamed("album").AsString() >= "A5"; });
  ASSERT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A5");
  ASSERT_TRUE(t->FindNext());
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A6");
  ASSERT_TRUE(t->FindLast());
  EXPECT_EQ(t->FieldNamed("album").AsString(), "A9");
  EXPECT_EQ(t->RecordCount(), 20);  // still unfiltered

  // A handler that throws: reported, and the record counts as accepted.
  int reported = 0;
  SetApplicationExceptionHandler([&](const std::exception&) { ++reported; });
  t->SetOnFilterRecord([](TDataSet&, bool&) { throw std::runtime_error("handler failed"); });
  t->SetFiltered(true);
  EXPECT_EQ(t->RecordCount(), 20);
  EXPECT_GT(reported, 0);
  SetApplicationExceptionHandler(nullptr);
}

TEST_F(QuarryTable, FilterTextsSelectTheirRecords) {
  auto t = OpenAlbums();
  Add(*t, "One", "O'Brien");
  Add(*t, "Two", "o'brien");
  Add(*t, "Three", "O'Briens");
  Add(*t, "Four", "Abba");
  Add(*t, "Five", "O'Brien");
  t->SetFilter("Artist='O''Brien'");
  t->SetFiltered(true);
  EXPECT_EQ(Walk(*t), (std::vector<std::string>{"One", "Five"}));
  EXPECT_EQ(t->RecordCount(), 2);
  // A constant ending in "*" is a prefix, unless partial comparison is switched off.
  t->SetFilter("artist = 'O''Brien*'");
  EXPECT_EQ(Walk(*t), (std::vector<std::string>{"One", "Three", "Five"}));
  t->SetFilterOptions({true, false});
  EXPECT_EQ(Walk(*t), (std::vector<std::string>{"One", "Two", "Three", "Five"}));
  t->SetFilterOptions({false, true});
  EXPECT_TRUE(Walk(*t).empty());
  // A text that does not compile leaves the filter as it was.
  t->SetFilterOptions({});
  EXPECT_EQ(ErrorText([&] { t->SetFilter("artist = 'x"); }), "Unterminated string constant");
  EXPECT_EQ(t->Filter(), "artist = 'O''Brien*'");
  EXPECT_EQ(t->RecordCount(), 3);
  // Filtered on a filter nothing satisfies: empty, at both ends, count 0.
  t->SetFilter("artist = 'Nobody'");
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_TRUE(t->Bof() && t->Eof());
  t->SetFiltered(false);
  EXPECT_EQ(t->RecordCount(), 5);
  // Find-next uses the filter for one move.
  t->SetFilter("artist = 'Abba'");
  ASSERT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldNamed("album").AsString(), "Four");
  EXPECT_FALSE(t->FindNext());
  // A filter set before opening is installed by Open.
  t->Close();
  t->SetFilter("Artist='O''Brien'");
  t->SetFiltered(true);
  t->Open();
  EXPECT_EQ(t->RecordCount(), 2);
}

TEST_F(QuarryTable, MemoStreamsReadEmptyAndTruncateBeforeWriting) {
  auto t = OpenAlbums();
  Add(*t, "One", "A");
  TRecordField& notes = t->FieldNamed("notes");
  EXPECT_EQ(notes.AsString(), "");
  EXPECT_TRUE(notes.IsNull());
  EXPECT_EQ(ErrorText([&] { t->OpenBlobStream(notes, TBlobAccessMode::Write); }), "Dataset not in edit or insert mode");
  t->Edit();
  notes.SetAsString("a long text that is longer than the next one");
  t->Post();
  EXPECT_EQ(notes.AsString(), "a long text that is longer than the next one");
  t->Edit();
  notes.SetAsString("short");
  t->Post();
  EXPECT_EQ(notes.AsString(), "short");
  // Reading past the end gives what there is; Seek from the end uses the BLOB's size.
  auto stream = t->OpenBlobStream(notes, TBlobAccessMode::Read);
  char bytes[64] = {};
  EXPECT_EQ(stream->Seek(-3, TSeekFrom::End), 2);
  EXPECT_EQ(stream->Read(bytes, sizeof bytes), 3u);
  EXPECT_EQ(std::string(bytes, 3), "ort");
  stream.reset();
  // Cancel drops an unposted write.
  t->Edit();
  notes.SetAsString("never posted");
  t->Cancel();
  EXPECT_EQ(notes.AsString(), "short");
}

TEST_F(QuarryTable, PostedMemoWritesLeaveNoBlobOpenSoManyRowsCanBeWritten) {
  // Every posted write stream's value is stored; were its engine handle kept, the cursor's 64
  // open BLOBs would run out after 64 appends or edits (engine error 9494).
  auto t = OpenAlbums();
  for (int i = 0; i < 100; ++i) {
    t->Append();
    t->FieldNamed("album").SetAsString("A" + std::to_string(i));
    t->FieldNamed("notes").SetAsString("notes of album " + std::to_string(i));
    t->Post();
  }
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(t->Locate("album", TFieldValue{"A" + std::to_string(i)}));
    t->Edit();
    t->FieldNamed("notes").SetAsString("changed " + std::to_string(i));
    t->Post();
  }
  EXPECT_EQ(t->Handle()->BlobFile()->OpenBlobCount(), 0);
  ASSERT_TRUE(t->Locate("album", TFieldValue{std::string("A77")}));
  EXPECT_EQ(t->FieldNamed("notes").AsString(), "changed 77");
}

TEST_F(QuarryTable, KeySearchesRangesAndMasterDetail) {
  auto albums = OpenAlbums(true);
  Add(*albums, "Blue", "Ann");
  Add(*albums, "Red", "Bob");
  Add(*albums, "Green", "Bob");
  Add(*albums, "Gold", "Cid");
  albums->SetIndexName("ByArtistAlbum");
  EXPECT_TRUE(albums->FindKey({std::string("Bob"), std::string("Red")}));
  EXPECT_EQ(albums->FieldNamed("index").AsInteger(), 2);
  EXPECT_FALSE(albums->FindKey({std::string("Bob"), std::string("Pink")}));
  EXPECT_EQ(albums->FieldNamed("index").AsInteger(), 2);
  albums->SetKey();
  EXPECT_EQ(ErrorText([&] { albums->FieldNamed("beginID").SetAsInteger(1); }),
            "Field 'beginID' is not indexed and cannot be modified");
  albums->FieldNamed("artist").SetAsString("Zed");
  albums->Cancel();  // the key stays as the last search left it
  EXPECT_EQ(albums->State(), TDataSetMode::Browse);
  albums->EditKey();
  EXPECT_EQ(albums->FieldNamed("artist").AsString(), "Bob");
  EXPECT_EQ(albums->FieldNamed("album").AsString(), "Pink");
  albums->Cancel();
  albums->SetRange({std::string("Bob")}, {std::string("Bob")});
  EXPECT_EQ(albums->RecordCount(), 2);
  EXPECT_EQ(Walk(*albums), (std::vector<std::string>{"Green", "Red"}));
  albums->CancelRange();
  EXPECT_EQ(albums->RecordCount(), 4);

  // A detail table follows its master's artist.
  TQuarryTable master;
  master.SetDatabaseName(dir.Path());
  master.SetTableName("albums.dat");
  master.SetIndexName("ByArtistAlbum");
  master.Open();
  TDataFeed source;
  source.SetDataSet(&master);
  EXPECT_EQ(ErrorText([&] {
              TDataFeed self;
              self.SetDataSet(albums.get());
              albums->SetMasterSource(&self);
            }),
            "Circular datalinks are not allowed");
  albums->SetMasterFields("ARTIST");
  albums->SetMasterSource(&source);
  EXPECT_EQ(albums->RecordCount(), 1);  // Ann
  EXPECT_TRUE(master.Locate("artist", std::string("Bob")));
  EXPECT_EQ(albums->RecordCount(), 2);
  albums->Append();
  EXPECT_EQ(albums->FieldNamed("artist").AsString(), "Bob");
  albums->Cancel();
}

}  // namespace
}  // namespace quillon::dataset
