// RepairTable: a damaged table comes back with every record that read whole, its row
// identifiers, rebuilt indexes and free lists, and a check that finds nothing; half-written
// records are dropped and broken BLOB chains become empty values, each reported.
#include "engine/table_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "engine/table_verify.h"
#include "engine/tests/damaged_table.h"

namespace quillon::engine {
namespace {

using testing::DamagedTable;
using testing::DamageName;

class TableRepair : public DamagedTable {
 protected:
  void SetUp() override {
    records = 1200;
    DamagedTable::SetUp();
  }

  std::vector<std::uint32_t> Ids(std::vector<std::uint32_t> skipped = {}) const {
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 1; i <= static_cast<std::uint32_t>(records); ++i)
      if (std::find(skipped.begin(), skipped.end(), i) == skipped.end()) ids.push_back(i);
    return ids;
  }
  std::vector<std::uint32_t> ByName(std::vector<std::uint32_t> ids) const {
    std::sort(ids.begin(), ids.end(), [](std::uint32_t a, std::uint32_t b) {
      return DamageName(static_cast<int>(a)) < DamageName(static_cast<int>(b));
    });
    return ids;
  }

  // Record r's bytes in the data file.
  std::pair<std::int64_t, std::uint32_t> RecordPlace(std::uint32_t r) {
    TDataFile table;
    table.SetFileName(name);
    table.SetReadOnly(true);
    table.Open();
    auto place = std::make_pair(table.RecordOffset(r), static_cast<std::uint32_t>(table.Header().RecordSize));
    table.Close();
    return place;
  }

  static std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
  }
};

TEST_F(TableRepair, DamagedIndexesAreRebuiltWithEveryRecord) {
  const std::string sound = Index();
  struct TCase {
    const char* What;
    std::function<void(std::string&)> Damage;
  };
  const TCase cases[] = {
      {"swapped primary leaves", [](std::string& b) { SwapPages(b, Leaves(b, 0)[0], Leaves(b, 0)[1]); }},
      {"secondary count lowered", [](std::string& b) { b[13] = 0; }},
      {"primary key lowered", [](std::string& b) { b[Leaves(b, 0)[1] + 13 + 5 * 9 + 4] = 0; }},
      {"truncated index file", [](std::string& b) { b.resize(b.size() - 3 * kIndexPageSize); }},
  };
  for (const TCase& c : cases) {
    std::string bytes = sound;
    c.Damage(bytes);
    SetIndex(bytes);
    ASSERT_FALSE(Check().empty()) << c.What;
    TRepairResult result = RepairTable(name);
    EXPECT_EQ(result.Kept, static_cast<std::uint32_t>(records)) << c.What << "\n" << Joined(result.Lines);
    EXPECT_EQ(result.Dropped, 0u) << c.What;
    EXPECT_EQ(Joined(Check()), "") << c.What;
    EXPECT_EQ(Walk(0).Records, Ids()) << c.What;
    EXPECT_EQ(Walk(1).Records, ByName(Ids())) << c.What;
    EXPECT_TRUE(std::filesystem::exists(dir.File("songs.IDX.bak"))) << c.What;
    EXPECT_EQ(dir.Read("songs.IDX.bak"), bytes) << c.What;
    SetIndex(sound);
  }
}

TEST_F(TableRepair, HalfWrittenRecordsAreDroppedAndTheRestKept) {
  std::string data = dir.Read("songs.DAT");
  auto [at7, size] = RecordPlace(7);
  auto [at300, size300] = RecordPlace(300);
  (void)size300;
  data[static_cast<std::size_t>(at7)] = 9;        // a Deleted byte no writer produces
  std::fill_n(data.begin() + at300, size, '\0');  // a record never written: row identifier 0
  dir.Write("songs.DAT", data);
  TRepairResult result = RepairTable(name);
  EXPECT_EQ(result.Kept, static_cast<std::uint32_t>(records - 2)) << Joined(result.Lines);
  EXPECT_EQ(result.Dropped, 2u);
  EXPECT_NE(Joined(result.Lines).find("record 7 dropped"), std::string::npos) << Joined(result.Lines);
  EXPECT_NE(Joined(result.Lines).find("record 300 dropped"), std::string::npos) << Joined(result.Lines);
  EXPECT_EQ(Joined(Check()), "");
  EXPECT_EQ(Walk(0).Records, Ids({7, 300}));
}

TEST_F(TableRepair, RowIdentifiersAndDeletedRecordsSurvive) {
  std::vector<std::uint32_t> deleted;
  {
    TDataFile table;
    table.SetFileName(name);
    table.SetExclusive(true);
    table.Open();
    table.SelectIndex(0);
    table.First();
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(table.Next(b.data()), 0);
      ASSERT_EQ(table.Next(b.data()), 0);
      ASSERT_EQ(table.GetCurrent(b.data(), false), 0);
      deleted.push_back(static_cast<std::uint32_t>(GetI32(b.data() + 5)));
      table.DeleteRecord(true);
    }
    table.Close();
  }
  ASSERT_EQ(deleted.size(), 2u);
  ASSERT_NE(deleted[0], deleted[1]);
  TRepairResult result = RepairTable(name);
  EXPECT_EQ(result.Kept, static_cast<std::uint32_t>(records - 2));
  EXPECT_EQ(Joined(Check()), "");
  EXPECT_EQ(Walk(0).Records, Ids(deleted));
  // A new record continues after the last row identifier handed out before.
  TDataFile table;
  table.SetFileName(name);
  table.SetExclusive(true);
  table.Open();
  EXPECT_EQ(table.Header().LastRowId, records);
  Insert(table, records + 1);
  table.Close();
  EXPECT_EQ(Walk(0).Records.back(), static_cast<std::uint32_t>(records + 1));
  EXPECT_EQ(Joined(Check()), "");
}

TEST_F(TableRepair, RefusedWhileTheTableIsOpen) {
  TDataFile other;
  other.SetFileName(name);
  other.Open();
  EXPECT_NE(testing::ErrorCode([&] { RepairTable(name); }), 0);
  other.Close();
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs.DAT.bak")));
  EXPECT_EQ(Walk(0).Records, Ids());
}

}  // namespace
}  // namespace quillon::engine
