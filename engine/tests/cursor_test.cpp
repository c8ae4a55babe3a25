// The table cursor: index and physical order, record numbers, bookmarks, key searches, ranges,
// filters and their bitmaps, and where the cursor stands after inserts, updates and deletes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/record_bitmap.h"
#include "engine/record_filter.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::ErrorCode;
using testing::Field;
using testing::PrimaryOn;

TIndexDescriptor Secondary(const std::string& name, std::initializer_list<int> fields, bool unique = false,
                           bool descending = false) {
  TIndexDescriptor d = PrimaryOn(fields);
  d.IndexName = name;
  d.Unique = unique;
  d.Descending = descending;
  return d;
}

// Id (integer, primary unless the table has none), Group (integer), Name (string).
TTableDefinition People(bool primary = true) {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Group", TFieldType::Integer),
              Field("Name", TFieldType::String, 20)};
  if (primary) {
    t.Indexes = {PrimaryOn({1}), Secondary("ByGroup", {2}), Secondary("ByGroupName", {2, 3}, true),
                 Secondary("ByIdDown", {1}, true, true)};
  } else {
    t.AllowEmptyPrimary = true;
    t.Indexes = {TIndexDescriptor{}, Secondary("ByGroup", {2})};
  }
  return t;
}

constexpr int kByGroup = 1, kByGroupName = 2, kByIdDown = 3;

class Cursor : public testing::EngineTest {
 protected:
  quillon::testing::TempDir dir;
  std::unique_ptr<TDataFile> table;
  std::vector<std::uint8_t> buffer;

  void Create(const TTableDefinition& definition = People()) {
    testing::CreateTable(dir.File("people"), definition);
    table = std::make_unique<TDataFile>();
    table->SetFileName(dir.File("people"));
    table->SetExclusive(true);
    table->Open();
    buffer.assign(table->RecordBufferSize(), 0);
  }

  // The table reopened shared (record locks and other cursors' changes exist only there).
  void ReopenShared(bool strict = false) {
    table->Close();
    table->SetExclusive(false);
    table->SetStrictChangeDetection(strict);
    table->Open();
  }

  // A second cursor on the shared table.
  std::unique_ptr<TDataFile> OpenOther() {
    auto other = std::make_unique<TDataFile>();
    other->SetFileName(dir.File("people"));
    other->Open();
    return other;
  }

  void Insert(std::int32_t id, std::int32_t group, const std::string& name = "") {
    std::vector<std::uint8_t> record(table->RecordBufferSize(), 0);
    table->InitRecord(record.data());
    table->SetField(true, 1, &id, record.data());
    table->SetField(true, 2, &group, record.data());
    std::string text = name.empty() ? "n" + std::to_string(id) : name;
    table->SetField(true, 3, text.c_str(), record.data());
    table->InsertRecord(record.data());
  }

  std::int32_t IdOf(const std::vector<std::uint8_t>& record) {
    std::int32_t id = 0;
    table->GetField(true, 1, record.data(), &id);
    return id;
  }
  std::int32_t CurrentId() {
    EXPECT_EQ(table->GetCurrent(buffer.data(), false), 0);
    return IdOf(buffer);
  }

  // Ids met by Next from the first record to the end.
  std::vector<std::int32_t> Forward() {
    std::vector<std::int32_t> ids;
    table->First();
    while (table->Next(buffer.data()) == 0) ids.push_back(IdOf(buffer));
    return ids;
  }
  std::vector<std::int32_t> Backward() {
    std::vector<std::int32_t> ids;
    table->Last();
    while (table->Prior(buffer.data()) == 0) ids.push_back(IdOf(buffer));
    return ids;
  }

  // A record buffer with the given key fields, for searches and ranges.
  std::vector<std::uint8_t> Probe(std::int32_t id, std::int32_t group, const std::string& name) {
    std::vector<std::uint8_t> record(table->RecordBufferSize(), 0);
    table->SetField(true, 1, &id, record.data());
    table->SetField(true, 2, &group, record.data());
    table->SetField(true, 3, name.c_str(), record.data());
    return record;
  }

  // Ids 1..n, group id mod 3, inserted in a shuffled order.
  void Fill(int n) {
    std::vector<int> ids(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) ids[static_cast<std::size_t>(i)] = i + 1;
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    for (int id : ids) Insert(id, id % 3);
  }
};

std::vector<std::int32_t> Range(int from, int to) {
  std::vector<std::int32_t> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

TEST_F(Cursor, IndexOrderWalksBothWaysAndStopsAtTheEnds) {
  Create();
  Fill(500);
  EXPECT_EQ(Forward(), Range(1, 500));
  std::vector<std::int32_t> down = Range(1, 500);
  std::reverse(down.begin(), down.end());
  EXPECT_EQ(Backward(), down);

  table->First();
  EXPECT_TRUE(table->AtBOF());
  EXPECT_EQ(table->Prior(buffer.data()), TDataFile::kAtBeginning);
  EXPECT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 1);
  // Prior on the first record: 8705, and the cursor is before it.
  EXPECT_EQ(table->Prior(buffer.data()), TDataFile::kAtBeginning);
  EXPECT_TRUE(table->AtBOF());
  EXPECT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 1);

  table->Last();
  EXPECT_EQ(table->Next(buffer.data()), TDataFile::kAtEnd);
  EXPECT_EQ(table->GetCurrent(buffer.data(), false), TDataFile::kAtEnd);
  EXPECT_EQ(table->Prior(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 500);
}

TEST_F(Cursor, EmptyTableStandsOnNothing) {
  Create();
  table->First();
  EXPECT_TRUE(table->AtBOF());
  EXPECT_TRUE(table->AtEOF());
  EXPECT_EQ(table->Next(buffer.data()), TDataFile::kAtEnd);
  EXPECT_EQ(table->Prior(buffer.data()), TDataFile::kAtBeginning);
  EXPECT_EQ(table->RecNo(), 0u);
  EXPECT_EQ(table->RecordCount(), 0u);
  EXPECT_EQ(table->CurrentRecord, nullptr);
}

TEST_F(Cursor, AfterOpenTheCursorIsBeforeTheFirstRecordWhichIsLoaded) {
  Create();
  Fill(20);
  table->Close();
  table->Open();
  EXPECT_EQ(table->CursorIndex(), 0);
  EXPECT_TRUE(table->AtBOF());
  ASSERT_NE(table->CurrentRecord, nullptr);
  std::uint32_t first = table->CurrentRecord->RecordNumber;
  ASSERT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 1);
  EXPECT_EQ(GetU32(buffer.data() + 1), first);
}

TEST_F(Cursor, SecondaryAndDescendingOrders) {
  Create();
  Fill(300);
  table->SelectIndex(kByIdDown);
  std::vector<std::int32_t> down = Range(1, 300);
  std::reverse(down.begin(), down.end());
  EXPECT_EQ(Forward(), down);

  table->SelectIndex("bygroup");  // names ignore case
  EXPECT_EQ(table->CursorIndex(), kByGroup);
  std::vector<std::int32_t> ids = Forward();
  ASSERT_EQ(ids.size(), 300u);
  // Groups ascend; equal groups come in row-identifier (insertion) order.
  for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_LE(ids[i - 1] % 3, ids[i] % 3);
}

TEST_F(Cursor, SelectIndexKeepsTheRecordAndRejectsUnknownIndexes) {
  Create();
  Fill(50);
  table->SetRecNo(17);
  EXPECT_EQ(CurrentId(), 17);
  table->SelectIndex(kByIdDown);
  EXPECT_EQ(CurrentId(), 17);
  EXPECT_EQ(table->RecNo(), 34u);
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  EXPECT_EQ(CurrentId(), 17);

  table->SelectIndex(kByGroup);
  std::vector<std::uint8_t> low = Probe(0, 1, ""), high = Probe(0, 1, "");
  table->SetRange(low.data(), false, 1, high.data(), false, 1);
  ASSERT_TRUE(table->RangeActive());
  table->SelectIndex("ByGroup");  // the current index: nothing happens, the range stays
  EXPECT_TRUE(table->RangeActive());
  EXPECT_EQ(ErrorCode([&] { table->SelectIndex(9); }), err::kInvalidIndexName);
  EXPECT_FALSE(table->RangeActive());  // cancelled before the error
  EXPECT_EQ(table->CursorIndex(), kByGroup);
  table->SetRange(low.data(), false, 1, high.data(), false, 1);
  EXPECT_EQ(ErrorCode([&] { table->SelectIndex("NoSuchIndex"); }), err::kInvalidIndexName);
  EXPECT_EQ(MessageText(err::kInvalidIndexName).find("NoSuchIndex") != std::string::npos, true);
  EXPECT_FALSE(table->RangeActive());
}

TEST_F(Cursor, RecNoSetAndGet) {
  Create();
  Fill(200);
  struct TCase {
    std::int64_t Set;
    bool Bof, Eof;
    std::int32_t NextId;  // what Next (at a crack) or GetCurrent answers
  } cases[] = {{0, true, false, 1},      {-7, true, false, 1},  {1, false, false, 1},  {137, false, false, 137},
               {200, false, false, 200}, {201, false, true, 0}, {5000, false, true, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Set);
    table->SetRecNo(c.Set);
    EXPECT_EQ(table->AtBOF(), c.Bof);
    EXPECT_EQ(table->AtEOF(), c.Eof);
    if (c.Bof) {
      ASSERT_EQ(table->Next(buffer.data()), 0);
      EXPECT_EQ(IdOf(buffer), c.NextId);
    } else if (c.Eof) {
      EXPECT_EQ(table->Next(buffer.data()), TDataFile::kAtEnd);
      EXPECT_EQ(table->Prior(buffer.data()), 0);
      EXPECT_EQ(IdOf(buffer), 200);
    } else {
      EXPECT_EQ(CurrentId(), c.NextId);
      EXPECT_EQ(table->RecNo(), static_cast<std::uint32_t>(c.Set));
    }
  }
  EXPECT_EQ(table->RecordCount(), 200u);
  // The descending index counts from its own first key.
  table->SelectIndex(kByIdDown);
  table->SetRecNo(3);
  EXPECT_EQ(CurrentId(), 198);
}

TEST_F(Cursor, RangesCountAndNumberOnlyTheirRecords) {
  Create();
  Fill(300);
  // Primary: ids 40..59.
  std::vector<std::uint8_t> low = Probe(40, 0, ""), high = Probe(59, 0, "");
  table->SetRange(low.data(), false, 1, high.data(), false, 1);
  EXPECT_EQ(table->RecordCount(), 20u);
  EXPECT_EQ(Forward(), Range(40, 59));
  table->SetRecNo(1);
  EXPECT_EQ(CurrentId(), 40);
  EXPECT_EQ(table->RecNo(), 1u);
  table->SetRecNo(20);
  EXPECT_EQ(CurrentId(), 59);
  table->SetRecNo(21);
  EXPECT_TRUE(table->AtEOF());
  table->SetRecNo(0);
  EXPECT_TRUE(table->AtBOF());
  std::vector<std::int32_t> down = Range(40, 59);
  std::reverse(down.begin(), down.end());
  EXPECT_EQ(Backward(), down);
  // A key search outside the range lands on its edge and finds nothing.
  std::vector<std::uint8_t> probe = Probe(100, 0, "");
  EXPECT_FALSE(table->FindKey(probe.data(), false, true, 0, -1, buffer.data()));
  EXPECT_EQ(IdOf(buffer), 59);

  // Start after end: an empty range.
  table->SetRange(high.data(), false, 1, low.data(), false, 1);
  EXPECT_EQ(table->RecordCount(), 0u);
  EXPECT_EQ(Forward(), std::vector<std::int32_t>{});
  table->CancelRange();
  EXPECT_FALSE(table->RangeActive());
  EXPECT_EQ(table->RecordCount(), 300u);
  EXPECT_EQ(Forward().size(), 300u);
}

TEST_F(Cursor, EqualBoundsOnANonUniqueIndexSelectEveryRecordWithThatValue) {
  Create();
  Fill(90);
  table->SelectIndex("ByGroup");
  for (int group = 0; group < 3; ++group) {
    SCOPED_TRACE(group);
    std::vector<std::uint8_t> bound = Probe(0, group, "");
    table->SetRange(bound.data(), false, 1, bound.data(), false, 1);
    std::vector<std::int32_t> ids = Forward();
    EXPECT_EQ(table->RecordCount(), 30u);
    ASSERT_EQ(ids.size(), 30u);
    for (std::int32_t id : ids) EXPECT_EQ(id % 3, group);
    table->SetRecNo(30);
    EXPECT_EQ(table->RecNo(), 30u);
  }
  // A range on the first field of a two-field unique index.
  table->SelectIndex(kByGroupName);
  std::vector<std::uint8_t> bound = Probe(0, 2, "");
  table->SetRange(bound.data(), false, 1, bound.data(), false, 1);
  EXPECT_EQ(table->RecordCount(), 30u);
}

TEST_F(Cursor, FindKeyWholeAndPartial) {
  Create();
  for (int id = 1; id <= 60; ++id) Insert(id * 2, id % 4, "name" + std::to_string(100 + id));
  // Whole key on the primary: found, nearest, and no move without nearest.
  std::vector<std::uint8_t> probe = Probe(40, 0, "");
  EXPECT_TRUE(table->FindKey(probe.data(), false, false, 0, -1, buffer.data()));
  EXPECT_EQ(IdOf(buffer), 40);
  probe = Probe(41, 0, "");
  EXPECT_FALSE(table->FindKey(probe.data(), false, false, 0, -1, buffer.data()));
  EXPECT_EQ(CurrentId(), 40);  // not moved
  EXPECT_FALSE(table->FindKey(probe.data(), false, true, 0, -1, buffer.data()));
  EXPECT_EQ(IdOf(buffer), 42);
  EXPECT_EQ(table->RecNo(), 21u);
  // Beyond the last key: the cursor goes to the last record.
  probe = Probe(1000, 0, "");
  EXPECT_FALSE(table->FindKey(probe.data(), false, true, 0, -1, buffer.data()));
  EXPECT_EQ(IdOf(buffer), 120);
  EXPECT_FALSE(table->AtEOF());

  // One field of the two-field index (group, name): the first record of the group.
  table->SelectIndex(kByGroupName);
  probe = Probe(0, 3, "zzz");
  EXPECT_TRUE(table->FindKey(probe.data(), false, false, 1, -1, buffer.data()));
  std::int32_t group = 0;
  table->GetField(true, 2, buffer.data(), &group);
  EXPECT_EQ(group, 3);
  EXPECT_EQ(table->RecNo(), 46u);  // 15 records in each of groups 0, 1, 2 come first
  // A group with no record: not found, the cursor is on the next key either way.
  table->SelectIndex(kByGroup);
  probe = Probe(0, 7, "");
  EXPECT_FALSE(table->FindKey(probe.data(), false, false, 1, -1, buffer.data()));
  EXPECT_FALSE(table->FindKey(probe.data(), false, false, 0, -1, buffer.data()));
  table->SelectIndex(kByGroupName);
  // A partial name: "name11" matches name110..name119 in group (id % 4).
  probe = Probe(0, 2, "name11");
  EXPECT_TRUE(table->FindKey(probe.data(), false, false, 1, 6, buffer.data()));
  char name[21] = {};
  table->GetField(true, 3, buffer.data(), name);
  EXPECT_EQ(std::string(name), "name110");
  probe = Probe(0, 2, "name2");
  EXPECT_FALSE(table->FindKey(probe.data(), false, false, 1, 5, buffer.data()));
}

TEST_F(Cursor, FindKeyOnADescendingIndex) {
  Create();
  for (int id = 1; id <= 100; ++id) Insert(id * 10, 0);
  table->SelectIndex(kByIdDown);
  std::vector<std::uint8_t> probe = Probe(555, 0, "");
  // In descending order the nearest key after 555 is 550.
  EXPECT_FALSE(table->FindKey(probe.data(), false, true, 0, -1, buffer.data()));
  EXPECT_EQ(IdOf(buffer), 550);
  probe = Probe(700, 0, "");
  EXPECT_TRUE(table->FindKey(probe.data(), false, false, 0, -1, buffer.data()));
  EXPECT_EQ(table->RecNo(), 31u);
  // A range on the descending index runs from the higher value to the lower one.
  std::vector<std::uint8_t> low = Probe(300, 0, ""), high = Probe(100, 0, "");
  table->SetRange(low.data(), false, 1, high.data(), false, 1);
  EXPECT_EQ(Forward(), (std::vector<std::int32_t>{300, 290, 280, 270, 260, 250, 240, 230, 220, 210, 200,
                                                  190, 180, 170, 160, 150, 140, 130, 120, 110, 100}));
}

TEST_F(Cursor, BookmarksComeBackInEveryOrder) {
  Create();
  Fill(120);
  for (int index : {0, kByGroup, kByIdDown, static_cast<int>(TIndexFile::kPhysicalOrder)}) {
    SCOPED_TRACE(index);
    table->SelectIndex(index);
    table->SetRecNo(index == TIndexFile::kPhysicalOrder ? 30 : 30);
    std::int32_t marked = CurrentId();
    std::vector<std::uint8_t> a = table->GetBookmark();
    ASSERT_EQ(static_cast<int>(a.size()), table->KeySize());
    EXPECT_EQ(table->Next(buffer.data()), 0);
    std::vector<std::uint8_t> b = table->GetBookmark();
    EXPECT_LT(table->CompareBookmarks(a.data(), b.data()), 0);
    EXPECT_GT(table->CompareBookmarks(b.data(), a.data()), 0);
    EXPECT_EQ(table->CompareBookmarks(a.data(), a.data()), 0);
    table->Last();
    table->GotoBookmark(a.data());
    EXPECT_EQ(CurrentId(), marked);
  }
  table->SelectIndex(0);
  EXPECT_EQ(table->KeySize(), 5);
}

// Keeps records whose record number is a multiple of `modulus`; counts its calls.
class TEveryNth : public TFilterEvaluator {
 public:
  explicit TEveryNth(std::uint32_t modulus) : modulus_(modulus) {}
  void MarkPassing(TDataFile&, std::vector<std::uint8_t>& candidates) override {
    ++MarkCalls;
    for (std::size_t byte = 0; byte < candidates.size(); ++byte)
      for (int bit = 0; bit < 8; ++bit)
        if (((byte * 8 + static_cast<std::size_t>(bit) + 1) % modulus_) != 0)
          candidates[byte] &= static_cast<std::uint8_t>(~(1u << bit));
  }
  bool Passes(TDataFile&, const std::uint8_t*, std::uint32_t recordNumber) override {
    ++PassCalls;
    return recordNumber % modulus_ == 0;
  }
  int MarkCalls = 0, PassCalls = 0;

 private:
  std::uint32_t modulus_;
};

TEST_F(Cursor, CallbackFilterCountsVisibleRecordsWhileRecNoCountsEntries) {
  Create();
  Fill(100);
  std::uint32_t h = table->AddFilter(
      nullptr,
      [&](const std::uint8_t* r, std::uint32_t) {
        std::int32_t id = 0;
        table->GetField(true, 1, r, &id);
        return id % 10 == 0;
      },
      false);
  EXPECT_NE(h, 0u);
  EXPECT_FALSE(table->BitmapMode());  // added, not active
  EXPECT_EQ(table->ActivateFilter(h), 0);
  EXPECT_TRUE(table->BitmapMode());
  EXPECT_EQ(table->RecordCount(), 10u);
  EXPECT_EQ(Forward(), (std::vector<std::int32_t>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
  table->First();
  table->Next(buffer.data());
  table->Next(buffer.data());
  EXPECT_EQ(IdOf(buffer), 20);
  EXPECT_EQ(table->RecNo(), 20u);  // entries, not visible records
  table->SetRecNo(35);             // a hidden entry: forward to the next visible one
  EXPECT_EQ(CurrentId(), 40);
  table->SetRecNo(5);  // before the first visible record
  EXPECT_TRUE(table->AtBOF());
  EXPECT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 10);
  std::vector<std::uint8_t> probe = Probe(55, 0, "");
  EXPECT_FALSE(table->FindKey(probe.data(), false, true, 0, -1, buffer.data()));
  EXPECT_EQ(IdOf(buffer), 60);
  probe = Probe(33, 0, "");
  EXPECT_FALSE(table->FindKey(probe.data(), false, false, 0, -1, buffer.data()));  // equal but hidden

  // Inserted records are judged one by one.
  Insert(110, 0);
  Insert(111, 0);
  EXPECT_EQ(table->RecordCount(), 11u);
  EXPECT_EQ(CurrentId(), 110);  // the cursor moved off the hidden 111 to a visible record

  EXPECT_EQ(table->DeactivateFilter(h), 0);
  EXPECT_FALSE(table->BitmapMode());
  EXPECT_EQ(table->RecordCount(), 102u);

  // Closing drops the filters.
  EXPECT_EQ(table->ActivateFilter(h), 0);
  table->Close();
  table->Open();
  EXPECT_FALSE(table->BitmapMode());
  EXPECT_EQ(table->RecordCount(), 102u);
  EXPECT_EQ(table->ActivateFilter(h), err::kInvalidFilterHandle);
}

// A filter that leaves few records visible is answered from those records' keys, one that
// leaves many by walking the index: both must give what the unfiltered order gives, filtered, in
// every kind of index (primary, non-unique and unique secondary, descending) and within a range.
TEST_F(Cursor, FewAndManyVisibleRecordsWalkEveryOrderAsTheUnfilteredOrderDoes) {
  Create();
  Fill(2000);
  struct TFilterCase {
    const char* Name;
    bool (*Passes)(std::int32_t id);
  } filters[] = {
      {"five records", [](std::int32_t id) { return id % 400 == 7; }},
      {"sixty records", [](std::int32_t id) { return id % 33 == 4 && id <= 1980; }},
      {"two hundred records", [](std::int32_t id) { return id % 10 == 3; }},
  };
  for (int index : {0, kByGroup, kByGroupName, kByIdDown}) {
    for (bool range : {false, true}) {
      table->SelectIndex(index);
      if (range) {
        // Group 1 in the group orders, ids 500..1500 in the id orders.
        std::vector<std::uint8_t> low = Probe(index == kByIdDown ? 1500 : 500, 1, "");
        std::vector<std::uint8_t> high = Probe(index == kByIdDown ? 500 : 1500, 1, "");
        table->SetRange(low.data(), false, 1, high.data(), false, 1);
      }
      const std::vector<std::int32_t> all = Forward();
      for (const TFilterCase& f : filters) {
        SCOPED_TRACE(std::string(f.Name) + " index " + std::to_string(index) + (range ? " range" : ""));
        auto passes = f.Passes;
        std::uint32_t h = table->AddFilter(
            nullptr,
            [&, passes](const std::uint8_t* r, std::uint32_t) {
              std::int32_t id = 0;
              table->GetField(true, 1, r, &id);
              return passes(id);
            },
            false);
        ASSERT_EQ(table->ActivateFilter(h), 0);
        std::vector<std::int32_t> want;
        std::vector<std::uint32_t> ordinals;
        for (std::size_t i = 0; i < all.size(); ++i)
          if (passes(all[i])) {
            want.push_back(all[i]);
            ordinals.push_back(static_cast<std::uint32_t>(i + 1));
          }
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(table->RecordCount(), want.size());
        EXPECT_EQ(Forward(), want);
        std::vector<std::int32_t> down(want.rbegin(), want.rend());
        EXPECT_EQ(Backward(), down);
        // Each visible record numbered by its place among all entries of the order.
        table->First();
        for (std::size_t i = 0; i < want.size() && table->Next(buffer.data()) == 0; ++i) {
          EXPECT_EQ(IdOf(buffer), want[i]);
          EXPECT_EQ(table->RecNo(), ordinals[i]);
        }
        EXPECT_NE(table->Next(buffer.data()), 0);
        EXPECT_TRUE(table->AtEOF());
        // A hidden entry reached by number settles on the next visible one.
        table->SetRecNo(ordinals[0] + 1);
        EXPECT_EQ(CurrentId(), want.size() > 1 ? want[1] : want[0]);
        ASSERT_EQ(table->RemoveFilter(h), 0);
      }
      if (range) table->CancelRange();
    }
  }
}

TEST_F(Cursor, AfterEarlierFiltersSeeOnlyWhatEarlierFiltersPass) {
  Create();
  Fill(60);
  auto idOf = [&](const std::uint8_t* r) {
    std::int32_t id = 0;
    table->GetField(true, 1, r, &id);
    return id;
  };
  std::uint32_t even = table->AddFilter(
      nullptr, [&](const std::uint8_t* r, std::uint32_t) { return idOf(r) % 2 == 0; }, false);
  std::vector<std::int32_t> seen;
  std::uint32_t later = table->AddFilter(
      nullptr,
      [&](const std::uint8_t* r, std::uint32_t) {
        seen.push_back(idOf(r));
        return idOf(r) % 3 == 0;
      },
      true);
  ASSERT_EQ(table->ActivateFilter(even), 0);
  ASSERT_EQ(table->ActivateFilter(later), 0);
  std::sort(seen.begin(), seen.end());
  std::vector<std::int32_t> evens;
  for (int id = 2; id <= 60; id += 2) evens.push_back(id);
  EXPECT_EQ(seen, evens);  // each candidate once, only those the earlier filter passed
  EXPECT_EQ(Forward(), (std::vector<std::int32_t>{6, 12, 18, 24, 30, 36, 42, 48, 54, 60}));
  EXPECT_EQ(table->RecordCount(), 10u);
}

TEST_F(Cursor, FilterHandlesAndErrors) {
  Create();
  Fill(10);
  auto always = [](const std::uint8_t*, std::uint32_t) { return true; };
  EXPECT_EQ(ErrorCode([&] { table->AddFilter(nullptr, nullptr, false); }), err::kInvalidFilterExpression);
  std::vector<std::uint32_t> handles;
  for (int i = 0; i < 128; ++i) handles.push_back(table->AddFilter(nullptr, always, false));
  EXPECT_EQ(ErrorCode([&] { table->AddFilter(nullptr, always, false); }), err::kTooManyFilters);
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end());
  EXPECT_EQ(handles.front(), 1u);

  const std::uint32_t unknown = 999;
  EXPECT_EQ(table->ActivateFilter(unknown), err::kInvalidFilterHandle);
  EXPECT_EQ(table->DeactivateFilter(unknown), err::kInvalidFilterHandle);
  EXPECT_EQ(table->RemoveFilter(unknown), err::kInvalidFilterHandle);
  auto expression = std::make_shared<TEveryNth>(2);
  EXPECT_EQ(table->ChangeFilterExpression(unknown, expression), err::kInvalidFilterHandle);
  EXPECT_EQ(table->ChangeFilterExpression(handles[0], expression), err::kInvalidFilterHandle);  // not active
  ASSERT_EQ(table->ActivateFilter(handles[0]), 0);
  EXPECT_EQ(table->ChangeFilterExpression(handles[0], nullptr), err::kInvalidFilterExpression);
  EXPECT_EQ(table->ChangeFilterExpression(handles[0], expression), 0);
  EXPECT_EQ(expression->MarkCalls, 1);
  EXPECT_EQ(table->RecordCount(), 5u);  // records 2, 4, 6, 8, 10
  EXPECT_EQ(table->RemoveFilter(handles[0]), 0);
  EXPECT_EQ(table->ActivateFilter(handles[0]), err::kInvalidFilterHandle);
  EXPECT_EQ(table->RemoveFilter(0), 0);
  EXPECT_EQ(table->RemoveFilter(handles[1]), err::kInvalidFilterHandle);
  EXPECT_EQ(table->RecordCount(), 10u);
}

TEST_F(Cursor, ExpressionFiltersAnswerForCandidatesAndForChangedRecords) {
  Create();
  Fill(40);
  auto expression = std::make_shared<TEveryNth>(4);
  std::uint32_t h = table->AddFilter(expression, nullptr, false);
  ASSERT_EQ(table->ActivateFilter(h), 0);
  EXPECT_EQ(expression->MarkCalls, 1);
  EXPECT_EQ(expression->PassCalls, 0);
  EXPECT_EQ(table->RecordCount(), 10u);
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  std::vector<std::uint32_t> numbers;
  table->First();
  while (table->Next(buffer.data()) == 0) numbers.push_back(GetU32(buffer.data() + 1));
  EXPECT_EQ(numbers, (std::vector<std::uint32_t>{4, 8, 12, 16, 20, 24, 28, 32, 36, 40}));
  Insert(41, 0);  // record 41: fails
  Insert(42, 0);  // record 42: fails
  Insert(43, 0);
  Insert(44, 0);  // record 44: passes
  EXPECT_EQ(expression->PassCalls, 4);
  EXPECT_EQ(table->RecordCount(), 11u);
  EXPECT_EQ(table->RecNo(), 11u);  // physical order: the position among visible records
}

TEST_F(Cursor, RemovingAllFiltersEndsBitmapModeOnlyInIndexOrder) {
  Create();
  Fill(30);
  auto odd = [&](const std::uint8_t* r, std::uint32_t) {
    std::int32_t id = 0;
    table->GetField(true, 1, r, &id);
    return id % 2 == 1;
  };
  for (int index : {0, static_cast<int>(TIndexFile::kPhysicalOrder)}) {
    SCOPED_TRACE(index);
    table->SelectIndex(index);
    table->ActivateFilter(table->AddFilter(nullptr, odd, false));
    table->ActivateFilter(table->AddFilter(nullptr, odd, false));
    EXPECT_TRUE(table->BitmapMode());
    EXPECT_EQ(table->RecordCount(), 15u);
    EXPECT_EQ(table->RemoveFilter(0), 0);
    EXPECT_EQ(table->BitmapMode(), index == TIndexFile::kPhysicalOrder);
    EXPECT_EQ(table->RecordCount(), 30u);
    EXPECT_EQ(Forward().size(), 30u);
  }
}

TEST_F(Cursor, PhysicalOrderWalksRecordNumbersAndSkipsDeletedRecords) {
  Create();
  Fill(50);
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  EXPECT_TRUE(table->BitmapMode());
  EXPECT_EQ(table->KeySize(), 4);
  // RecNo set takes a record number.
  table->SetRecNo(20);
  EXPECT_EQ(GetU32(buffer.data() + 1), 0u);
  EXPECT_EQ(table->GetCurrent(buffer.data(), false), 0);
  EXPECT_EQ(GetU32(buffer.data() + 1), 20u);
  table->DeleteRecord(true);
  EXPECT_EQ(table->GetCurrent(buffer.data(), false), 0);
  EXPECT_EQ(GetU32(buffer.data() + 1), 21u);  // the next record by number
  EXPECT_EQ(table->RecNo(), 20u);
  EXPECT_EQ(table->RecordCount(), 49u);
  std::vector<std::uint32_t> numbers;
  table->First();
  while (table->Next(buffer.data()) == 0) numbers.push_back(GetU32(buffer.data() + 1));
  EXPECT_EQ(numbers.size(), 49u);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 20u), 0);
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
  // Going to a deleted record's number lands on the next live one; past the end on the last.
  table->SetRecNo(20);
  EXPECT_EQ(table->GetCurrent(buffer.data(), false), 0);
  EXPECT_EQ(GetU32(buffer.data() + 1), 21u);
  table->SetRecNo(1000);
  EXPECT_EQ(table->GetCurrent(buffer.data(), false), 0);
  EXPECT_EQ(GetU32(buffer.data() + 1), 50u);
  EXPECT_EQ(table->RecNo(), 49u);
  // A reopened table still leaves it out (the bitmap comes from the deleted-records index).
  table->Close();
  table->Open();
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  EXPECT_EQ(table->RecordCount(), 49u);
}

TEST_F(Cursor, DeleteInIndexOrderMovesToTheFollowingRecord) {
  Create();
  Fill(30);
  table->SetRecNo(10);
  table->DeleteRecord(true);
  EXPECT_EQ(CurrentId(), 11);
  EXPECT_EQ(table->RecNo(), 10u);
  table->Last();
  table->Prior(buffer.data());
  table->DeleteRecord(true);  // the last record: nothing follows
  EXPECT_TRUE(table->AtEOF());
  EXPECT_EQ(table->Prior(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 29);
  std::vector<std::int32_t> expected = Range(1, 29);
  expected.erase(expected.begin() + 9);
  EXPECT_EQ(Forward(), expected);
}

TEST_F(Cursor, UpdateKeepsTheCursorOnTheChangedRecordAndRefreshesItsBits) {
  Create();
  Fill(20);
  auto small = [&](const std::uint8_t* r, std::uint32_t) {
    std::int32_t id = 0;
    table->GetField(true, 1, r, &id);
    return id <= 10 || id >= 100;
  };
  table->ActivateFilter(table->AddFilter(nullptr, small, false));
  EXPECT_EQ(table->RecordCount(), 10u);
  table->SetRecNo(5);
  ASSERT_EQ(table->GetCurrent(buffer.data(), true), 0);
  std::int32_t id = 500;
  table->SetField(true, 1, &id, buffer.data());
  table->UpdateRecord(buffer.data(), true, true);
  EXPECT_EQ(CurrentId(), 500);
  EXPECT_EQ(table->RecNo(), 20u);
  EXPECT_EQ(table->RecordCount(), 10u);
  table->SetRecNo(4);
  ASSERT_EQ(table->GetCurrent(buffer.data(), true), 0);
  id = 50;  // now hidden
  table->SetField(true, 1, &id, buffer.data());
  table->UpdateRecord(buffer.data(), true, true);
  EXPECT_EQ(table->RecordCount(), 9u);
  EXPECT_EQ(Forward(), (std::vector<std::int32_t>{1, 2, 3, 6, 7, 8, 9, 10, 500}));
}

TEST_F(Cursor, TableWithoutPrimaryIndexIsInPhysicalOrder) {
  Create(People(false));
  for (int id = 1; id <= 40; ++id) Insert(id, id % 2);
  EXPECT_EQ(table->CursorIndex(), 0);
  EXPECT_TRUE(table->BitmapMode());
  EXPECT_EQ(table->KeySize(), 4);
  EXPECT_EQ(Forward(), Range(1, 40));
  table->SetRecNo(7);
  table->DeleteRecord(true);
  table->SetRecNo(8);
  table->DeleteRecord(false);
  ASSERT_NE(table->CurrentRecord, nullptr);
  EXPECT_EQ(table->CurrentRecord->RecordNumber, 8u);  // without refresh the deleted record's bit stays
  std::vector<std::int32_t> expected = Range(1, 40);
  expected.erase(expected.begin() + 6);
  // Record 8 is deleted but not refreshed: it remains until the bitmaps are rebuilt.
  table->Close();
  table->Open();  // deleted records are left out by their Deleted byte
  expected.erase(expected.begin() + 6);
  EXPECT_EQ(Forward(), expected);
  EXPECT_EQ(table->RecordCount(), 38u);
  // The secondary index is an index order with keys for the live records only.
  table->SelectIndex("ByGroup");
  EXPECT_FALSE(table->BitmapMode());
  EXPECT_EQ(Forward().size(), 38u);
  table->SelectIndex(0);
  EXPECT_TRUE(table->BitmapMode());
  EXPECT_EQ(table->RecordCount(), 38u);
}

// Without a deleted-records index, records another cursor deletes are kept out by their Deleted
// byte when the bitmaps are rebuilt after the change check.
TEST_F(Cursor, TableWithoutPrimaryIndexLeavesOutRecordsOtherCursorsDelete) {
  Create(People(false));
  for (int id = 1; id <= 30; ++id) Insert(id, id % 2);
  ReopenShared(true);
  std::unique_ptr<TDataFile> otherCursor = OpenOther();
  TDataFile& other = *otherCursor;
  EXPECT_EQ(table->RecordCount(), 30u);
  for (std::uint32_t r : {5u, 6u, 30u}) {
    other.SetRecNo(r);
    other.DeleteRecord(true);
  }
  std::vector<std::int32_t> expected = Range(1, 29);
  expected.erase(expected.begin() + 4, expected.begin() + 6);
  EXPECT_EQ(table->RecordCount(), 27u);
  EXPECT_EQ(Forward(), expected);
}

TEST_F(Cursor, EmptyTableLeavesTheCursorOnNothingWithItsOrderAndFilters) {
  Create();
  Fill(40);
  table->SelectIndex(kByGroup);
  std::uint32_t h = table->AddFilter(
      nullptr, [](const std::uint8_t*, std::uint32_t r) { return r % 2 == 0; }, false);
  ASSERT_EQ(table->ActivateFilter(h), 0);
  table->SetRecNo(30);
  ASSERT_EQ(table->GetCurrent(buffer.data(), false), 0);
  table->EmptyTable();
  EXPECT_EQ(table->RecordCount(), 0u);
  EXPECT_EQ(table->Next(buffer.data()), TDataFile::kAtEnd);
  EXPECT_EQ(table->CurrentRecord, nullptr);
  Insert(7, 1);  // record 1: hidden by the filter
  Insert(8, 1);  // record 2
  EXPECT_EQ(table->CursorIndex(), kByGroup);
  EXPECT_EQ(Forward(), std::vector<std::int32_t>{8});
}

// Leaf links that loop back give 8965 in every walk instead of an endless one.
TEST_F(Cursor, LeafLinksThatLoopAreReportedNotWalked) {
  Create();
  Fill(1200);
  TIndexFile& index = table->IndexFile();
  index.SelectIndex(0);
  std::uint32_t firstLeaf = index.PositionAtOrdinal(1).Page, lastLeaf = index.PositionAtOrdinal(1200).Page;
  ASSERT_NE(firstLeaf, lastLeaf);
  table->Close();
  {
    std::fstream file(dir.File("people.IDX"), std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t bytes[4];
    PutU32(bytes, firstLeaf);
    file.seekp(static_cast<std::streamoff>(lastLeaf) + 7);  // NextPage of the last leaf
    file.write(reinterpret_cast<const char*>(bytes), 4);
  }
  struct TCase {
    const char* Name;
    bool Filter;
  } cases[] = {{"plain walk", false}, {"filtered walk", true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    table->Open();
    if (c.Filter) {
      // Every tenth record passes: too many for the cursor to find them by their own keys, so
      // every step walks the hidden entries between them.
      table->ActivateFilter(table->AddFilter(
          nullptr, [](const std::uint8_t*, std::uint32_t r) { return r % 10 == 1; }, false));
    }
    int steps = 0;
    EXPECT_EQ(ErrorCode([&] {
                while (table->Next(buffer.data()) == 0 && ++steps < 5000) {
                }
              }),
              err::kIndexPagesCorrupt);
    EXPECT_LE(steps, 1200);
    table->Close();
  }
}

TEST_F(Cursor, AnIndexEntryNamingAMissingRecordIsReported) {
  Create();
  Fill(30);
  TIndexFile& index = table->IndexFile();
  index.SelectIndex(0);
  TKeyPosition third = index.PositionAtOrdinal(3);
  table->Close();
  {
    std::fstream file(dir.File("people.IDX"), std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t bytes[4];
    PutU32(bytes, 99999);
    // Leaf entries after the 13-byte page header: a 5-byte key, then the record number.
    file.seekp(static_cast<std::streamoff>(third.Page) + 13 + third.Slot * 9 + 5);
    file.write(reinterpret_cast<const char*>(bytes), 4);
  }
  table->Open();
  ASSERT_EQ(table->Next(buffer.data()), 0);
  ASSERT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(ErrorCode([&] { table->Next(buffer.data()); }), err::kIndexPagesCorrupt);
  EXPECT_EQ(ErrorCode([&] { table->SetRecNo(3); }), err::kIndexPagesCorrupt);
  table->SetRecNo(4);
  EXPECT_EQ(CurrentId(), 4);
}

TEST_F(Cursor, GetCurrentWithLockLocksTheRecordItStandsOn) {
  Create();
  Fill(10);
  ReopenShared();
  table->SetRecNo(4);
  table->SetLogicalFields(table->LogicalFields());  // empties the record cache
  ASSERT_EQ(table->GetCurrent(buffer.data(), true), 0);
  EXPECT_EQ(IdOf(buffer), 4);
  ASSERT_EQ(table->LockedRecords().size(), 1u);
  EXPECT_EQ(table->LockedRecords()[0], GetU32(buffer.data() + 1));
  table->First();
  EXPECT_EQ(table->GetCurrent(buffer.data(), true), TDataFile::kAtBeginning);  // nothing to lock at a crack
  EXPECT_EQ(table->LockedRecords().size(), 1u);
}

// A new field list resizes the record buffers; what an Exclusive cursor has not written yet must
// survive it.
TEST_F(Cursor, NewFieldListKeepsUnwrittenRecords) {
  Create();
  Fill(10);
  table->SetLogicalFields(table->LogicalFields());
  for (std::uint32_t n = 1; n <= 10; ++n) {
    table->SetRecNo(n);
    ASSERT_EQ(table->GetCurrent(buffer.data(), false), 0);
    EXPECT_EQ(IdOf(buffer), static_cast<std::int32_t>(n));
  }
}

TEST_F(Cursor, GotoCurrentOfAnotherCursor) {
  Create();
  Fill(25);
  ReopenShared();
  std::unique_ptr<TDataFile> otherCursor = OpenOther();
  TDataFile& other = *otherCursor;
  other.SelectIndex(kByIdDown);
  other.SetRecNo(5);  // id 21
  EXPECT_EQ(table->GotoCurrentOf(other), 0);
  EXPECT_EQ(CurrentId(), 21);
  // Physical order goes to the same record number; a record the cursor has not seen yet is found
  // after a change check.
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  other.SetRecNo(2);  // id 24
  EXPECT_EQ(table->GotoCurrentOf(other), 0);
  EXPECT_EQ(CurrentId(), 24);
  std::vector<std::uint8_t> record(other.RecordBufferSize(), 0);
  std::int32_t id = 77;
  other.SetField(true, 1, &id, record.data());
  other.InsertRecord(record.data());
  EXPECT_EQ(table->GotoCurrentOf(other), 0);
  EXPECT_EQ(CurrentId(), 77);
  EXPECT_FALSE(table->LockState().Read);
  TDataFile empty;
  testing::CreateTable(dir.File("other"), People());
  empty.SetFileName(dir.File("other"));
  empty.Open();
  EXPECT_EQ(table->GotoCurrentOf(empty), err::kRecordNotFound);
}

TEST_F(Cursor, CloneCursorCopiesOrderRangeFiltersAndPositionThenMovesAlone) {
  Create();
  for (int id = 1; id <= 30; ++id) Insert(id, id % 3);                      // row identifiers follow the ids
  EXPECT_EQ(ErrorCode([&] { table->CloneCursor(); }), err::kAccessDenied);  // Exclusive
  ReopenShared();
  table->SelectIndex(kByGroup);
  std::vector<std::uint8_t> low = Probe(0, 1, ""), high = Probe(0, 1, "");
  table->SetRange(low.data(), false, 1, high.data(), false, 1);  // group 1: ids 1, 4, ..., 28
  std::uint32_t h = table->AddFilter(
      nullptr,
      [&](const std::uint8_t* r, std::uint32_t) {
        std::int32_t id = 0;
        table->GetField(true, 1, r, &id);
        return id > 5;
      },
      false);
  table->ActivateFilter(h);
  table->AddFilter(std::make_shared<TEveryNth>(1), nullptr, false);  // added, never activated
  table->First();
  table->Next(buffer.data());
  table->Next(buffer.data());
  ASSERT_EQ(IdOf(buffer), 10);

  std::unique_ptr<TDataFile> clone = table->CloneCursor();
  EXPECT_FALSE(clone->Exclusive());
  EXPECT_EQ(clone->CursorIndex(), kByGroup);
  EXPECT_TRUE(clone->RangeActive());
  EXPECT_EQ(clone->RecordCount(), 8u);  // 7, 10, ..., 28
  std::vector<std::uint8_t> cb(clone->RecordBufferSize(), 0);
  ASSERT_EQ(clone->GetCurrent(cb.data(), false), 0);
  EXPECT_EQ(IdOf(cb), 10);

  // They move independently.
  clone->Last();
  ASSERT_EQ(clone->Prior(cb.data()), 0);
  EXPECT_EQ(IdOf(cb), 28);
  EXPECT_EQ(CurrentId(), 10);
  EXPECT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 13);
  ASSERT_EQ(clone->GetCurrent(cb.data(), false), 0);
  EXPECT_EQ(IdOf(cb), 28);

  // Each sees the other's changes (at its next change check).
  Insert(31, 1);
  clone->Refresh();
  EXPECT_EQ(clone->RecordCount(), 9u);
  clone->Last();
  ASSERT_EQ(clone->Prior(cb.data()), 0);
  EXPECT_EQ(IdOf(cb), 31);
  clone->DeleteRecord(true);
  table->Refresh();
  EXPECT_EQ(table->RecordCount(), 8u);

  // The filter list is the clone's own: removing it there leaves this cursor's alone.
  EXPECT_EQ(clone->RemoveFilter(0), 0);
  EXPECT_EQ(clone->RecordCount(), 10u);  // the whole range again: 1, 4, ..., 28
  EXPECT_EQ(table->RecordCount(), 8u);

  // A cursor standing on nothing gives a clone at the start; a closed one gives none.
  table->CancelRange();
  table->RemoveFilter(0);
  table->First();
  std::unique_ptr<TDataFile> second = table->CloneCursor();
  EXPECT_EQ(second->RecordCount(), 30u);
  ASSERT_EQ(second->Next(cb.data()), 0);
  EXPECT_EQ(IdOf(cb), 3);  // group 0 first in ByGroup order
  table->Close();
  EXPECT_EQ(ErrorCode([&] { table->CloneCursor(); }), err::kInvalidFileHandle);
}

TEST_F(Cursor, ChangesOfAnotherCursorAreSeenAtTheNextOperation) {
  Create();
  Fill(20);
  ReopenShared(true);
  std::unique_ptr<TDataFile> writerCursor = OpenOther();
  TDataFile& writer = *writerCursor;
  std::vector<std::uint8_t> record(writer.RecordBufferSize(), 0);
  auto insert = [&](std::int32_t id) {
    writer.InitRecord(record.data());
    writer.SetField(true, 1, &id, record.data());
    std::string name = "w" + std::to_string(id);
    writer.SetField(true, 3, name.c_str(), record.data());
    writer.InsertRecord(record.data());
  };
  auto even = [&](const std::uint8_t* r, std::uint32_t) {
    std::int32_t id = 0;
    table->GetField(true, 1, r, &id);
    return id % 2 == 0;
  };
  table->ActivateFilter(table->AddFilter(nullptr, even, false));
  table->SetRecNo(10);
  EXPECT_EQ(CurrentId(), 10);
  insert(0);
  insert(22);
  insert(23);
  // Counts and bitmaps follow, and the cursor stays on its record; each operation ends its read lock.
  EXPECT_EQ(table->RecordCount(), 12u);
  EXPECT_FALSE(table->LockState().Read);
  EXPECT_EQ(CurrentId(), 10);
  EXPECT_EQ(table->RecNo(), 11u);
  table->First();
  EXPECT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 0);
  writer.SetRecNo(5);  // id 4
  writer.DeleteRecord(true);
  table->Last();
  EXPECT_EQ(table->Prior(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 22);
  EXPECT_EQ(table->RecordCount(), 11u);
  // Standing before the first record survives the change check.
  table->First();
  insert(-2);
  EXPECT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), -2);
}

// Without strict change detection the reader learns of the change at a cache miss, starts the
// operation over on the fresh files and releases the read lock it took.
TEST_F(Cursor, ACacheMissThatFindsAChangeRestartsTheOperation) {
  Create();
  for (int id = 1; id <= 4000; ++id) Insert(id, id % 3);
  ReopenShared();
  std::unique_ptr<TDataFile> writerCursor = OpenOther();
  TDataFile& writer = *writerCursor;
  ASSERT_EQ(table->Next(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 1);
  for (int k = 0; k < 10; ++k) writer.DeleteRecord(true);  // ids 1..10: the writer starts on the first record
  table->SetRecNo(3900);
  EXPECT_FALSE(table->LockState().Read);
  EXPECT_EQ(CurrentId(), 3910);
  EXPECT_EQ(table->RecordCount(), 3990u);
  table->SetRecNo(1);
  EXPECT_EQ(CurrentId(), 11);
}

// A restart must not repeat the part of the operation done before it: Next steps once.
TEST_F(Cursor, ARestartedNextStepsOnce) {
  Create();
  for (int id = 1; id <= 4000; ++id) Insert(id, id % 3);
  ReopenShared();
  std::unique_ptr<TDataFile> writerCursor = OpenOther();
  TDataFile& writer = *writerCursor;
  std::vector<std::uint8_t> record(writer.RecordBufferSize(), 0);
  // Every leaf page cached, the first records not: the record read is the miss that restarts.
  EXPECT_EQ(Forward().size(), 4000u);
  table->First();
  for (int k = 0; k < 100; ++k) ASSERT_EQ(table->Next(buffer.data()), 0);
  const std::int32_t expected = IdOf(buffer) + 1;
  std::int32_t id = 9000;
  writer.SetField(true, 1, &id, record.data());
  writer.InsertRecord(record.data());
  for (int k = 0; k < 600; ++k) {
    ASSERT_EQ(table->Next(buffer.data()), 0);
    ASSERT_EQ(IdOf(buffer), expected + k);
  }
  EXPECT_EQ(table->RecordCount(), 4001u);
}

TEST(RecordBitmap, MatchesAModel) {
  std::mt19937 random(11);
  TRecordBitmap bits;
  std::vector<bool> model;
  for (int step = 0; step < 4000; ++step) {
    int what = static_cast<int>(random() % 8);
    std::uint32_t size = static_cast<std::uint32_t>(model.size());
    std::uint32_t r = static_cast<std::uint32_t>(random() % (size + 3));
    if (what == 0) {
      std::uint32_t n = static_cast<std::uint32_t>(random() % 300);
      bool value = random() % 2;
      bits.Resize(n, value);
      model.resize(n, value);
    } else if (what == 1) {
      bits.Invert();
      model.flip();
    } else if (what <= 4) {
      bits.Set(r);
      if (r >= 1 && r <= size) model[r - 1] = true;
    } else {
      bits.Clear(r);
      if (r >= 1 && r <= size) model[r - 1] = false;
    }
    size = static_cast<std::uint32_t>(model.size());
    ASSERT_EQ(bits.Size(), size);
    std::uint32_t count = 0, up = 0;
    std::uint32_t next = 0, prior = 0;
    for (std::uint32_t k = 1; k <= size; ++k) {
      if (model[k - 1]) {
        ++count;
        if (k <= r) up = count;
        if (next == 0 && k >= r) next = k;
        if (k <= r) prior = k;
      }
    }
    ASSERT_EQ(bits.Count(), count);
    ASSERT_EQ(bits.CountUpTo(r), r == 0 ? 0 : up) << r;
    ASSERT_EQ(bits.NextSet(r), next) << r;
    ASSERT_EQ(bits.PriorSet(r), prior) << r;
    TRecordBitmap copy;
    copy.FromBytes(bits.ToBytes(), size);
    ASSERT_TRUE(copy == bits);
  }
}

// ScanVisible reads physical order in blocks past the record cache; it must give exactly what a
// walk with Next gives: the same records, bytes and numbers, with this cursor's unwritten changes,
// deleted and filtered records left out, encrypted tables unscrambled, another cursor's changes.
class CursorScan : public Cursor, public ::testing::WithParamInterface<bool> {
 protected:
  using TRows = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>;
  void TearDown() override { Session().RemovePassword("scan"); }

  TRows Walked() {
    TRows rows;
    table->First();
    while (table->Next(buffer.data()) == 0) rows.emplace_back(GetU32(buffer.data() + 1), buffer);
    return rows;
  }
  TRows Scanned(std::size_t stopAfter = SIZE_MAX) {
    TRows rows;
    table->ScanVisible([&](const std::uint8_t* record, std::uint32_t number) {
      rows.emplace_back(number, std::vector<std::uint8_t>(record, record + table->RecordBufferSize()));
      return rows.size() < stopAfter;
    });
    return rows;
  }
  void HideGroupOne() {
    table->ActivateFilter(table->AddFilter(
        nullptr,
        [&](const std::uint8_t* r, std::uint32_t) {
          std::int32_t group = 0;
          table->GetField(true, 2, r, &group);
          return group != 1;
        },
        false));
  }
  void Rename(std::uint32_t recordNumber, const std::string& name) {
    table->SetRecNo(recordNumber);
    ASSERT_EQ(table->GetCurrent(buffer.data(), true), 0);
    table->SetField(true, 3, name.c_str(), buffer.data());
    table->UpdateRecord(buffer.data(), true, true);
  }
};

TEST_P(CursorScan, ScanVisibleGivesWhatThePhysicalWalkGives) {
  TTableDefinition definition = People();
  if (GetParam()) {
    definition.Encrypted = true;
    definition.Password = "scan";
    Session().AddPassword("scan");
  }
  Create(definition);
  Fill(3000);  // several read-ahead blocks
  ASSERT_LT(table->ReadAheadCount(), 1000u);
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  // Changes this Exclusive cursor may still hold in its cache, spread over the file.
  for (std::uint32_t r : {5u, 900u, 1700u, 3000u}) Rename(r, "changed " + std::to_string(r));
  for (std::uint32_t r : {10u, 11u, 2000u}) {
    table->SetRecNo(r);
    table->DeleteRecord(true);
  }
  HideGroupOne();
  const TRows walked = Walked();
  ASSERT_GT(walked.size(), 1900u);
  EXPECT_EQ(Scanned(), walked);
  const TRows first = Scanned(7);
  EXPECT_EQ(first, TRows(walked.begin(), walked.begin() + 7));

  // Shared, after another cursor changed a record and appended one.
  ReopenShared();
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  HideGroupOne();
  auto other = OpenOther();
  other->SelectIndex(TIndexFile::kPhysicalOrder);
  other->SetRecNo(walked[1].first);  // a record the filter shows
  std::vector<std::uint8_t> record(other->RecordBufferSize());
  ASSERT_EQ(other->GetCurrent(record.data(), true), 0);
  other->SetField(true, 3, "by the other", record.data());
  other->UpdateRecord(record.data(), true, true);
  std::int32_t id = 5000, group = 2;
  other->InitRecord(record.data());
  other->SetField(true, 1, &id, record.data());
  other->SetField(true, 2, &group, record.data());
  other->InsertRecord(record.data());
  other.reset();
  const TRows scanned = Scanned();
  EXPECT_EQ(scanned, Walked());
  // The new record may take a deleted record's place.
  EXPECT_TRUE(std::any_of(scanned.begin(), scanned.end(), [&](const auto& row) { return IdOf(row.second) == 5000; }));
  EXPECT_TRUE(std::any_of(scanned.begin(), scanned.end(), [&](const auto& row) {
    std::string name(21, '\0');
    table->GetField(true, 3, row.second.data(), name.data());
    return name.c_str() == std::string("by the other");
  }));
  EXPECT_EQ(scanned.size(), walked.size() + 1);
}

INSTANTIATE_TEST_SUITE_P(Plain, CursorScan, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Encrypted, CursorScan, ::testing::Values(true));

TEST_F(Cursor, ScanVisibleInAnIndexOrderFollowsThatOrder) {
  Create();
  Fill(40);
  table->SelectIndex(kByIdDown);
  std::vector<std::int32_t> ids;
  table->ScanVisible([&](const std::uint8_t* record, std::uint32_t) {
    std::int32_t id = 0;
    table->GetField(true, 1, record, &id);
    ids.push_back(id);
    return true;
  });
  std::vector<std::int32_t> down = Range(1, 40);
  std::reverse(down.begin(), down.end());
  EXPECT_EQ(ids, down);
}

TEST_F(Cursor, CloneCursorStandsWhereTheSourceStandsInEveryOrder) {
  Create();
  for (int id = 1; id <= 10; ++id) Insert(id, id % 3);  // record numbers follow the ids
  ReopenShared();
  enum class TPlace { BeforeFirst, OnRecord, AfterLast };
  struct TCase {
    int index;
    TPlace place;
    std::int64_t recNo;      // for OnRecord
    std::int32_t current;    // the clone's record (OnRecord)
    std::int32_t following;  // what the clone's Next (Prior after the last) then gives
  };
  const TCase cases[] = {
      {0, TPlace::BeforeFirst, 0, 0, 1},
      {0, TPlace::OnRecord, 4, 4, 5},
      {0, TPlace::AfterLast, 0, 0, 10},
      {kByIdDown, TPlace::OnRecord, 3, 8, 7},
      {kByIdDown, TPlace::AfterLast, 0, 0, 1},
      {TIndexFile::kPhysicalOrder, TPlace::BeforeFirst, 0, 0, 1},
      {TIndexFile::kPhysicalOrder, TPlace::OnRecord, 6, 6, 7},
      {TIndexFile::kPhysicalOrder, TPlace::AfterLast, 0, 0, 10},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "index " << c.index << " place " << static_cast<int>(c.place));
    table->SelectIndex(c.index);
    switch (c.place) {
      case TPlace::BeforeFirst:
        table->First();
        break;
      case TPlace::OnRecord:
        table->SetRecNo(c.recNo);
        break;
      case TPlace::AfterLast:
        table->Last();
        break;
    }
    std::unique_ptr<TDataFile> clone = table->CloneCursor();
    EXPECT_EQ(clone->CursorIndex(), c.index);
    EXPECT_EQ(clone->AtBOF(), c.place == TPlace::BeforeFirst);
    EXPECT_EQ(clone->AtEOF(), c.place == TPlace::AfterLast);
    std::vector<std::uint8_t> cb(clone->RecordBufferSize(), 0);
    if (c.place == TPlace::OnRecord) {
      ASSERT_EQ(clone->GetCurrent(cb.data(), false), 0);
      EXPECT_EQ(IdOf(cb), c.current);
      EXPECT_EQ(clone->RecNo(), table->RecNo());
    }
    if (c.place == TPlace::AfterLast) {
      ASSERT_EQ(clone->Prior(cb.data()), 0);
    } else {
      ASSERT_EQ(clone->Next(cb.data()), 0);
    }
    EXPECT_EQ(IdOf(cb), c.following);
    // The source did not move with it.
    EXPECT_EQ(table->AtBOF(), c.place == TPlace::BeforeFirst);
    EXPECT_EQ(table->AtEOF(), c.place == TPlace::AfterLast);
    if (c.place == TPlace::OnRecord) {
      EXPECT_EQ(CurrentId(), c.current);
    }
  }
}

TEST_F(Cursor, CloneCursorInPhysicalOrderFollowsChangesOfTheSourceAndBack) {
  Create();
  for (int id = 1; id <= 10; ++id) Insert(id, id % 3);
  ReopenShared();
  table->SelectIndex(TIndexFile::kPhysicalOrder);
  auto even = [&](const std::uint8_t* r, std::uint32_t) {
    std::int32_t id = 0;
    table->GetField(true, 1, r, &id);
    return id % 2 == 0;
  };
  table->ActivateFilter(table->AddFilter(nullptr, even, false));
  table->SetRecNo(4);
  ASSERT_EQ(CurrentId(), 4);
  std::unique_ptr<TDataFile> clone = table->CloneCursor();
  EXPECT_TRUE(clone->BitmapMode());
  EXPECT_EQ(clone->RecordCount(), 5u);  // 2, 4, 6, 8, 10
  std::vector<std::uint8_t> cb(clone->RecordBufferSize(), 0);
  ASSERT_EQ(clone->GetCurrent(cb.data(), false), 0);
  EXPECT_EQ(IdOf(cb), 4);

  // The source makes the clone's record odd: at its next operation the clone no longer shows it
  // and stands on the next record it shows.
  table->GetCurrent(buffer.data(), false);
  std::int32_t odd = 41;
  table->SetField(true, 1, &odd, buffer.data());
  table->UpdateRecord(buffer.data(), false, true);
  clone->Refresh();
  EXPECT_EQ(clone->RecordCount(), 4u);
  ASSERT_EQ(clone->GetCurrent(cb.data(), false), 0);
  EXPECT_EQ(IdOf(cb), 6);
  EXPECT_EQ(table->RecordCount(), 4u);

  // The clone inserts; the source sees the new record at its next change check and has not moved.
  std::vector<std::uint8_t> record(clone->RecordBufferSize(), 0);
  clone->InitRecord(record.data());
  std::int32_t id = 12;
  clone->SetField(true, 1, &id, record.data());
  clone->InsertRecord(record.data());
  table->Refresh();
  EXPECT_EQ(table->RecordCount(), 5u);
  table->Last();
  ASSERT_EQ(table->Prior(buffer.data()), 0);
  EXPECT_EQ(IdOf(buffer), 12);
  EXPECT_EQ(clone->RecordCount(), 5u);
  ASSERT_EQ(clone->GetCurrent(cb.data(), false), 0);
  EXPECT_EQ(IdOf(cb), 12);  // an insert leaves the inserting cursor on the new record
}

}  // namespace
}  // namespace quillon::engine
