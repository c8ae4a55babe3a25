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
using testing::EngineTest;
using testing::Field;
using testing::PrimaryOn;

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
    EXPECT_EQ(dir.Read("songs.IDX" + result.Backup), bytes) << c.What;
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
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs.DAT.bak1")));
  EXPECT_EQ(Walk(0).Records, Ids());
}

// Damaged data file headers: the shape the descriptors and the file's size support is used, and
// every record comes back; a shape nothing supports is refused before any file is touched.
TEST_F(TableRepair, DataHeaderIsCheckedAgainstTheDescriptorsAndTheFileSize) {
  const std::string sound = dir.Read("songs.DAT");
  const std::string soundIndex = Index();
  auto u16 = [](std::string& b, std::size_t at, std::uint16_t v) {
    PutU16(reinterpret_cast<std::uint8_t*>(b.data() + at), v);
  };
  const std::uint32_t all = static_cast<std::uint32_t>(records);
  struct TCase {
    const char* What;
    std::function<void(std::string&)> Damage;
    std::uint32_t Kept;  // records that come back
  };
  const TCase cases[] = {
      {"field count lowered", [&](std::string& b) { u16(b, 23, 1); }, all},
      {"field count zero", [&](std::string& b) { u16(b, 23, 0); }, all},
      {"record size raised", [&](std::string& b) { u16(b, 21, 200); }, all},
      {"record size lowered", [&](std::string& b) { u16(b, 21, 12); }, all},
      {"record size and field count damaged", [&](std::string& b) { u16(b, 21, 900), u16(b, 23, 1); }, all},
      {"record count far too high", [&](std::string& b) { PutAt(b, 13, 90000000); }, all},
      {"record count lowered", [&](std::string& b) { PutAt(b, 13, all - 4); }, all - 5},
      {"file torn inside the last record", [&](std::string& b) { b.resize(b.size() - 10); }, all - 1},
      {"BLOB field count damaged", [&](std::string& b) { u16(b, 25, 3); }, all},
  };
  for (const TCase& c : cases) {
    std::string bytes = sound;
    c.Damage(bytes);
    dir.Write("songs.DAT", bytes);
    SetIndex(soundIndex);
    TRepairResult result;
    ASSERT_EQ(testing::ErrorCode([&] { result = RepairTable(name); }), 0) << c.What;
    EXPECT_EQ(result.Kept, c.Kept) << c.What << "\n" << Joined(result.Lines);
    EXPECT_EQ(Joined(Check()), "") << c.What;
    EXPECT_EQ(Walk(1).Records.size(), c.Kept) << c.What;
    EXPECT_EQ(dir.Read("songs.DAT" + result.Backup), bytes) << c.What;
    for (const char* ext : {".DAT", ".IDX"})
      std::filesystem::remove(dir.File(std::string("songs") + ext + result.Backup));
  }
  // Descriptor 2 damaged and the header counting three: nothing tells where the records begin.
  std::string bytes = sound;
  u16(bytes, 23, 3);
  bytes[kTableHeaderSize + kFieldDescriptorSize + 84] = 99;  // field 2's type
  dir.Write("songs.DAT", bytes);
  SetIndex(soundIndex);
  std::string message;
  try {
    RepairTable(name);
  } catch (const EEngineError& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("field descriptor 2"), std::string::npos) << message;
  EXPECT_EQ(dir.Read("songs.DAT"), bytes);
  EXPECT_EQ(Index(), soundIndex);
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs.DAT.bak1")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs~repair.DAT")));
}

// A second repair keeps the first one's backups: a record the first dropped is still on disk.
TEST_F(TableRepair, LaterRepairsNeverOverwriteEarlierBackups) {
  std::string data = dir.Read("songs.DAT");
  auto [at7, size] = RecordPlace(7);
  (void)size;
  data[static_cast<std::size_t>(at7)] = 9;
  dir.Write("songs.DAT", data);
  const std::string index = Index();
  TRepairResult first = RepairTable(name);
  EXPECT_EQ(first.Backup, ".bak1");
  EXPECT_EQ(first.Dropped, 1u);
  TRepairResult second = RepairTable(name);
  EXPECT_EQ(second.Backup, ".bak2");
  EXPECT_EQ(dir.Read("songs.DAT.bak1"), data);
  EXPECT_EQ(dir.Read("songs.IDX.bak1"), index);
  EXPECT_TRUE(std::filesystem::exists(dir.File("songs.DAT.bak2")));
  // A gap left by a removed backup is not reused while a later number's files stay.
  std::filesystem::remove(dir.File("songs.DAT.bak1"));
  EXPECT_EQ(RepairTable(name).Backup, ".bak3");
  EXPECT_EQ(Joined(Check()), "");
  EXPECT_EQ(Walk(0).Records, Ids({7}));
}

// The index file missing or with a damaged header: the data file alone rebuilds the table.
TEST_F(TableRepair, MissingOrDamagedIndexFileIsRebuiltFromTheDataFile) {
  const std::string sound = Index();
  std::string damaged = sound;
  damaged[8] = 7;  // the version byte: the normal open refuses the file
  SetIndex(damaged);
  TRepairResult result = RepairTable(name);
  EXPECT_EQ(result.Kept, static_cast<std::uint32_t>(records)) << Joined(result.Lines);
  EXPECT_EQ(result.Indexes, 2);
  EXPECT_EQ(Joined(Check()), "");
  EXPECT_EQ(Walk(1).Records, ByName(Ids()));

  std::filesystem::remove(dir.File("songs.IDX"));
  result = RepairTable(name);
  EXPECT_EQ(result.Kept, static_cast<std::uint32_t>(records)) << Joined(result.Lines);
  EXPECT_EQ(result.Indexes, 0);
  EXPECT_NE(Joined(result.Lines).find("without indexes"), std::string::npos) << Joined(result.Lines);
  EXPECT_EQ(Joined(Check()), "");
  auto walked = Walk(255).Records;
  std::sort(walked.begin(), walked.end());
  EXPECT_EQ(walked, Ids());
}

// An index name no writer produces is replaced, so that the repaired table checks clean.
TEST_F(TableRepair, UnprintableIndexNameIsReplaced) {
  std::string bytes = Index();
  bytes[SlotAt(1) + 2] = '\x01';  // "B\x01Name"
  SetIndex(bytes);
  ASSERT_NE(Joined(Check()).find("unprintable"), std::string::npos);
  TRepairResult result = RepairTable(name);
  EXPECT_EQ(result.Indexes, 2) << Joined(result.Lines);
  EXPECT_EQ(Joined(Check()), "");
  EXPECT_EQ(Walk(1).Records, ByName(Ids()));
}

// Files of an interrupted repair are removed, never installed as part of the table.
TEST_F(TableRepair, LeftoversOfAnInterruptedRepairAreRemoved) {
  dir.Write("songs~repair.BLB", std::string(4096, 'x'));
  dir.Write("songs~repair.DAT", std::string(100, 'y'));
  TRepairResult result = RepairTable(name);
  EXPECT_EQ(result.Kept, static_cast<std::uint32_t>(records));
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs.BLB")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs~repair.BLB")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs~repair.DAT")));
  EXPECT_EQ(Joined(Check()), "");
}

// A result that would keep fewer than half of the records is not installed unless asked for;
// then the loss is reported and the backup holds every old byte.
TEST_F(TableRepair, HeavyLossIsInstalledOnlyWhenAccepted) {
  std::string data = dir.Read("songs.DAT");
  for (std::uint32_t r = 1; r <= static_cast<std::uint32_t>(records) * 2 / 3; ++r) {
    data[static_cast<std::size_t>(RecordPlace(r).first)] = 5;
  }
  dir.Write("songs.DAT", data);
  const std::string index = Index();
  EXPECT_EQ(testing::ErrorCode([&] { RepairTable(name); }), err::kHeaderAccess);
  EXPECT_EQ(dir.Read("songs.DAT"), data);
  EXPECT_EQ(Index(), index);
  EXPECT_FALSE(std::filesystem::exists(dir.File("songs.DAT.bak1")));
  TRepairOptions accept;
  accept.AcceptLoss = true;
  TRepairResult result = RepairTable(name, accept);
  const std::uint32_t left = static_cast<std::uint32_t>(records) - static_cast<std::uint32_t>(records) * 2 / 3;
  EXPECT_EQ(result.Kept, left);
  EXPECT_NE(Joined(result.Lines).find("could not be kept"), std::string::npos) << Joined(result.Lines);
  EXPECT_EQ(dir.Read("songs.DAT.bak1"), data);
  EXPECT_EQ(Joined(Check()), "");
}

// Memo values with the BLOB file missing or its header damaged: every record is kept, the values
// become empty and are counted.
class MemoTableRepair : public EngineTest {
 protected:
  quillon::testing::TempDir dir;
  std::string name = dir.File("notes");
  static constexpr int kRows = 40;

  void SetUp() override {
    EngineTest::SetUp();
    TTableDefinition t;
    t.Fields = {Field("Id", TFieldType::Integer), Field("Text", TFieldType::Blob, 0, 0, kSubTypeMemo)};
    t.Indexes = {PrimaryOn({1})};
    testing::CreateTable(name, t);
    TDataFile table;
    table.SetFileName(name);
    table.SetExclusive(true);
    table.Open();
    for (int i = 1; i <= kRows; ++i) {
      std::vector<std::uint8_t> b(table.RecordBufferSize());
      table.InitRecord(b.data());
      std::uint8_t value[4];
      PutI32(value, i);
      table.SetField(false, 1, value, b.data());
      const std::string text(700 + i, static_cast<char>('a' + i % 26));
      ASSERT_EQ(table.OpenBlob(false, 2, kBlobOpenReadWrite, b.data()), 0);
      ASSERT_EQ(table.WriteBlob(false, 2, 0, static_cast<std::uint32_t>(text.size()), text.data(), b.data()), 0);
      table.InsertRecord(b.data());
      table.CloseAllBlobs();
    }
    table.Close();
  }
  std::vector<std::string> Check() { return testing::VerifyTableFile(name); }
  // The memo lengths in primary order.
  std::vector<std::uint32_t> Lengths() {
    TDataFile table;
    table.SetFileName(name);
    table.SetReadOnly(true);
    table.Open();
    table.First();
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    std::vector<std::uint32_t> lengths;
    while (table.Next(b.data()) == 0) {
      std::uint32_t length = 0;
      if (b[table.GetFieldDescriptor(false, 2).Offset] != 0) {
        EXPECT_EQ(table.OpenBlob(false, 2, kBlobOpenRead, b.data()), 0);
        EXPECT_EQ(table.GetBlobSize(false, 2, b.data(), length), 0);
        table.CloseAllBlobs();
      }
      lengths.push_back(length);
    }
    table.Close();
    return lengths;
  }
};

TEST_F(MemoTableRepair, MissingOrDamagedBlobFileEmptiesTheValuesAndKeepsTheRecords) {
  ASSERT_EQ(Lengths().size(), static_cast<std::size_t>(kRows));
  const std::string data = dir.Read("notes.DAT"), index = dir.Read("notes.IDX"), blobs = dir.Read("notes.BLB");
  for (const bool missing : {false, true}) {
    dir.Write("notes.DAT", data);
    dir.Write("notes.IDX", index);
    dir.Write("notes.BLB", blobs);
    if (missing) {
      std::filesystem::remove(dir.File("notes.BLB"));
    } else {
      std::string blob = dir.Read("notes.BLB");
      blob[8] = 1;  // the version byte
      dir.Write("notes.BLB", blob);
    }
    TRepairResult result;
    ASSERT_EQ(testing::ErrorCode([&] { result = RepairTable(name); }), 0) << missing;
    EXPECT_EQ(result.Kept, static_cast<std::uint32_t>(kRows)) << missing;
    EXPECT_EQ(result.BlobsEmptied, static_cast<std::uint32_t>(kRows)) << missing;
    EXPECT_EQ(Check(), std::vector<std::string>{}) << missing;
    EXPECT_EQ(Lengths(), std::vector<std::uint32_t>(kRows, 0)) << missing;
  }
}

}  // namespace
}  // namespace quillon::engine
