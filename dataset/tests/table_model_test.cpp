// A seeded random walk over a table component checked against an in-memory model: appends (also of
// duplicate keys), edits posted and cancelled, deletes, Locate by the primary key and by the
// secondary ByName index (the locate clone), callback filters switched on and off, RecNo jumps and
// whole-table comparisons, while a second process (table_model_peer) changes its own records of
// the same table. At the end the peer's records as it left them must be what this process sees.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "dataset/engine_error.h"
#include "dataset/quarry_table.h"
#include "dataset/tests/table_model_peer.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "engine/tests/peer_process.h"
#include "util/testing/temp_dir.h"

namespace quillon::dataset {
namespace {

struct TRow {
  std::string Name;
  int Grp = 0;
  bool operator==(const TRow&) const = default;
};

class TableModel : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override { engine::InitializeEngine(); }

  // Every record of the table: Id -> row, walked through the component.
  static std::map<int, TRow> Contents(TQuarryTable& t) {
    std::map<int, TRow> rows;
    for (t.First(); !t.Eof(); t.Next())
      rows[static_cast<int>(t.FieldNamed("Id").AsInteger())] =
          TRow{t.FieldNamed("Name").AsString(), static_cast<int>(t.FieldNamed("Grp").AsInteger())};
    return rows;
  }
  static std::map<int, TRow> Own(const std::map<int, TRow>& all) {
    std::map<int, TRow> own;
    for (const auto& [id, row] : all)
      if (id < model::kPeerFirstId) own[id] = row;
    return own;
  }
};

TEST_P(TableModel, RandomOperationsMatchTheModelBesideAPeerProcess) {
  quillon::testing::TempDir dir;
  {
    engine::TDataFile create;
    create.SetFileName(dir.File("model.dat"));
    create.SetExclusive(true);
    create.CreateTable(model::ModelTable());
  }
  const unsigned seed = GetParam();
  std::mt19937 random(seed);
  TQuarryTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("model.dat");
  t.Open();
  std::map<int, TRow> modelRows;
  bool filtered = false;
  t.SetOnFilterRecord([](TDataSet& ds, bool& accept) { accept = ds.FieldNamed("Grp").AsInteger() == 1; });

  const std::string summary = dir.File("peer.txt");
  // The folder without its trailing delimiter: a backslash before the closing quote of a Windows
  // command line would swallow the quote.
  std::string folder = dir.Path();
  folder.pop_back();
  engine::testing::TPeerProcess peer("table_model_peer", {folder, "model.dat", std::to_string(seed), "300", summary});
  ASSERT_TRUE(peer.Started()) << peer.Path();

  auto randomName = [&] { return "n" + std::to_string(random() % 50); };
  // Our record under the cursor, or 0.
  auto currentOwnId = [&]() -> int {
    if (t.IsEmpty()) return 0;
    int id = static_cast<int>(t.FieldNamed("Id").AsInteger());
    return id < model::kPeerFirstId ? id : 0;
  };

  for (int step = 0; step < 600; ++step) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
    const int what = static_cast<int>(random() % 100);
    if (what < 30) {
      int id = static_cast<int>(random() % 400) + 1;
      TRow row{randomName(), static_cast<int>(random() % 3)};
      try {
        t.AppendRecord({std::int64_t{id}, row.Name, std::int64_t{row.Grp}});
        EXPECT_EQ(modelRows.count(id), 0u) << "appended a duplicate Id " << id;
        modelRows[id] = row;
        // A record the filter hides is not shown after its post.
        if (!filtered || row.Grp == 1) {
          EXPECT_EQ(t.FieldNamed("Id").AsInteger(), id);
        }
      } catch (const EQuarryEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), engine::err::kDuplicateKey);
        EXPECT_EQ(modelRows.count(id), 1u) << "refused a new Id " << id;
        EXPECT_EQ(t.State(), TDataSetMode::Browse);
      }
    } else if (what < 45) {
      int id = currentOwnId();
      if (!id) continue;
      TRow row{randomName(), static_cast<int>(random() % 3)};
      t.Edit();
      t.FieldNamed("Name").SetAsString(row.Name);
      t.FieldNamed("Grp").SetAsInteger(row.Grp);
      if (random() % 4 == 0) {
        t.Cancel();
        EXPECT_EQ(t.FieldNamed("Name").AsString(), modelRows[id].Name);
      } else {
        t.Post();
        modelRows[id] = row;
        if (!filtered || row.Grp == 1) {
          EXPECT_EQ(t.FieldNamed("Id").AsInteger(), id);
        }
      }
    } else if (what < 53) {
      int id = currentOwnId();
      if (!id) continue;
      t.Delete();
      modelRows.erase(id);
    } else if (what < 68) {
      // Locate by the primary key: a present and an absent Id.
      int id = static_cast<int>(random() % 400) + 1;
      bool expected = modelRows.count(id) && (!filtered || modelRows[id].Grp == 1);
      EXPECT_EQ(t.Locate("Id", TFieldValue{std::int64_t{id}}), expected) << "Id " << id;
      if (expected) {
        EXPECT_EQ(t.FieldNamed("Name").AsString(), modelRows[id].Name);
      }
    } else if (what < 78) {
      // Locate by name: on the ByName index through the locate clone.
      std::string name = randomName();
      bool expected = false;
      for (const auto& [id, row] : modelRows)
        if (row.Name == name && (!filtered || row.Grp == 1)) expected = true;
      EXPECT_EQ(t.Locate("Name", TFieldValue{name}), expected) << name;
      if (expected) {
        EXPECT_EQ(t.FieldNamed("Name").AsString(), name);
        EXPECT_LT(t.FieldNamed("Id").AsInteger(), model::kPeerFirstId);
      }
    } else if (what < 85) {
      filtered = !filtered;
      t.SetFiltered(filtered);
      EXPECT_EQ(t.IsSequenced(), !filtered);
    } else if (what < 93) {
      if (filtered || t.IsEmpty()) continue;
      int count = t.RecordCount();
      int n = static_cast<int>(random() % static_cast<unsigned>(count)) + 1;
      t.SetRecNo(n);
      // The peer may have changed the table since RecordCount; the number read is where the
      // cursor stands now.
      EXPECT_GE(t.RecNo(), 1);
      EXPECT_LE(t.RecNo(), t.RecordCount());
    } else {
      std::map<int, TRow> seen = Own(Contents(t));
      std::map<int, TRow> wanted;
      for (const auto& [id, row] : modelRows)
        if (!filtered || row.Grp == 1) wanted[id] = row;
      ASSERT_EQ(seen, wanted);
    }
  }

  ASSERT_EQ(peer.Wait(), 0) << "the peer failed";
  t.SetFiltered(false);
  t.Refresh();
  std::map<int, TRow> all = Contents(t);
  EXPECT_EQ(Own(all), modelRows);
  // The peer's records as it left them.
  std::map<int, std::string> peerRows;
  std::ifstream in(summary);
  int id;
  std::string name;
  while (in >> id >> name) peerRows[id] = name;
  std::map<int, std::string> peerSeen;
  for (const auto& [rowId, row] : all)
    if (rowId >= model::kPeerFirstId) {
      peerSeen[rowId] = row.Name;
      EXPECT_EQ(row.Grp, model::kPeerGroup);
    }
  EXPECT_EQ(peerSeen, peerRows);
  EXPECT_FALSE(peerRows.empty());
}

INSTANTIATE_TEST_SUITE_P(Seeds, TableModel, ::testing::Values(1u, 2u, 3u));

}  // namespace
}  // namespace quillon::dataset
