// The table cursor: index and physical order, record numbers, bookmarks, key searches, ranges,
// filters and their bitmaps, and where the cursor stands after inserts, updates and deletes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

TEST_F(Cursor, AfterOpenTheCursorIsOnTheFirstRecord) {
  Create();
  Fill(20);
  table->Close();
  table->Open();
  EXPECT_EQ(table->CursorIndex(), 0);
  EXPECT_EQ(CurrentId(), 1);
  ASSERT_NE(table->CurrentRecord, nullptr);
  EXPECT_EQ(table->CurrentRecord->RecordNumber, GetU32(buffer.data() + 1));
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

}  // namespace
}  // namespace quillon::engine
