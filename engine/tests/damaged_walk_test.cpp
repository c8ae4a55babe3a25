// Walks over damaged index files: every cursor walk either gives the records in their true order
// or ends in 8965; none loops, repeats or silently skips records.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "engine/tests/damaged_table.h"

namespace quillon::engine {
namespace {

using testing::DamagedTable;
using testing::DamageName;

class DamagedWalk : public DamagedTable {
 protected:
  // Row identifiers equal the ids, so the true orders are known without the index.
  std::vector<std::uint32_t> Expected(int index, bool forward) const {
    std::vector<std::uint32_t> ids(static_cast<std::size_t>(records));
    std::iota(ids.begin(), ids.end(), 1u);
    if (index == 1) {
      std::sort(ids.begin(), ids.end(), [](std::uint32_t a, std::uint32_t b) {
        return DamageName(static_cast<int>(a)) < DamageName(static_cast<int>(b));
      });
    }
    if (!forward) std::reverse(ids.begin(), ids.end());
    return ids;
  }

  // A walk either is the true order or ends in 8965.
  void ExpectTrueOrError(int index, bool forward, const std::string& what) {
    TWalk w = Walk(index, forward);
    if (w.Error == 0) {
      EXPECT_EQ(w.Records, Expected(index, forward)) << what;
    } else {
      EXPECT_EQ(w.Error, err::kIndexPagesCorrupt) << what;
      EXPECT_LE(w.Records.size(), static_cast<std::size_t>(records)) << what;
    }
  }

  void ExpectError(int index, bool forward, const std::string& what) {
    TWalk w = Walk(index, forward);
    EXPECT_EQ(w.Error, err::kIndexPagesCorrupt) << what << ": " << w.Records.size() << " records";
    EXPECT_LE(w.Records.size(), static_cast<std::size_t>(records)) << what;
  }
};

TEST_F(DamagedWalk, SoundTableWalksInTrueOrder) {
  for (int index : {0, 1}) {
    for (bool forward : {true, false}) {
      TWalk w = Walk(index, forward);
      EXPECT_EQ(w.Error, 0);
      EXPECT_EQ(w.Records, Expected(index, forward));
    }
  }
  EXPECT_GE(Leaves(Index(), 0).size(), 4u);
}

TEST_F(DamagedWalk, KeyLoweredBelowItsNeighboursInPrimaryLeafEndsIn8965) {
  std::string bytes = Index();
  std::uint32_t leaf = Leaves(bytes, 0)[1];
  // Entry 5 of the second leaf gets the key of id 1.
  const std::size_t entry = leaf + 13 + 5 * 9;
  bytes[entry] = 1;
  PutAt(bytes, entry + 1, 0);
  bytes[entry + 1] = static_cast<char>(0x80);
  bytes[entry + 4] = 1;
  SetIndex(bytes);
  ExpectError(0, true, "forward");
  ExpectError(0, false, "backward");
}

TEST_F(DamagedWalk, SwappedIndexPagesNeverGiveAWrongOrder) {
  const std::string sound = Index();
  const std::vector<std::uint32_t> primary = Leaves(sound, 0), byName = Leaves(sound, 1);
  ASSERT_GE(primary.size(), 3u);
  ASSERT_GE(byName.size(), 3u);
  struct TCase {
    const char* What;
    std::uint32_t A, B;
    int Damaged;  // the index whose walks must end in 8965
  };
  const TCase cases[] = {
      {"first two primary leaves", primary[0], primary[1], 0},
      {"second and third primary leaves", primary[1], primary[2], 0},
      {"first and last primary leaves", primary[0], primary.back(), 0},
      {"two secondary leaves", byName[1], byName[2], 1},
      {"primary root and a leaf", Root(sound, 0), primary[1], 0},
      {"a primary leaf and a secondary leaf", primary[1], byName[1], 0},
  };
  for (const TCase& c : cases) {
    std::string bytes = sound;
    SwapPages(bytes, c.A, c.B);
    SetIndex(bytes);
    for (int index : {0, 1}) {
      for (bool forward : {true, false}) {
        const std::string what =
            std::string(c.What) + ", index " + std::to_string(index) + (forward ? " forward" : " backward");
        if (index == c.Damaged) {
          ExpectError(index, forward, what);
        } else {
          ExpectTrueOrError(index, forward, what);
        }
      }
    }
  }
}

TEST_F(DamagedWalk, EntryNamingNoHeldRecordEndsIn8965) {
  const std::string sound = Index();
  const std::uint32_t leaf = Leaves(sound, 0)[1];
  const std::size_t value = leaf + 13 + 3 * 9 + 5;  // record number of entry 3
  for (std::uint32_t record : {static_cast<std::uint32_t>(records + 1), static_cast<std::uint32_t>(records + 50), 0u}) {
    std::string bytes = sound;
    PutAt(bytes, value, record);
    SetIndex(bytes);
    ExpectError(0, true, "record " + std::to_string(record) + " forward");
    ExpectError(0, false, "record " + std::to_string(record) + " backward");
  }
}

TEST_F(DamagedWalk, LeafLinksThatLoopEndIn8965) {
  const std::string sound = Index();
  const std::vector<std::uint32_t> leaves = Leaves(sound, 0);
  struct TCase {
    const char* What;
    std::uint32_t Page;
    std::size_t Field;  // 3 PrevPage, 7 NextPage
    std::uint32_t Target;
  };
  const TCase cases[] = {
      {"next link back to an earlier leaf", leaves[2], 7, leaves[0]},
      {"next link to itself", leaves[1], 7, leaves[1]},
      {"prior link forward to a later leaf", leaves[1], 3, leaves[3]},
      {"prior link to itself", leaves[2], 3, leaves[2]},
  };
  for (const TCase& c : cases) {
    std::string bytes = sound;
    PutAt(bytes, c.Page + c.Field, c.Target);
    SetIndex(bytes);
    ExpectError(0, c.Field == 7, c.What);
  }
}

TEST_F(DamagedWalk, KeyLengthsDisagreeingWithTheFieldsEndIn8965) {
  const std::string sound = Index();
  struct TCase {
    const char* What;
    int Slot;
    std::uint16_t KeyLength;
  };
  const TCase cases[] = {
      {"deleted-records index longer", kDeletedIndexSlot, 100},
      {"deleted-records index shorter", kDeletedIndexSlot, 2},
      {"primary longer", 0, 900},
      {"secondary shorter", 1, 3},
  };
  for (const TCase& c : cases) {
    std::string bytes = sound;
    bytes[SlotAt(c.Slot) + 31] = static_cast<char>(c.KeyLength & 0xFF);
    bytes[SlotAt(c.Slot) + 32] = static_cast<char>(c.KeyLength >> 8);
    SetIndex(bytes);
    for (int index : {0, 1}) {
      TWalk w = Walk(index, true);
      if (c.Slot == kDeletedIndexSlot) {
        // A plain walk needs no deleted-records index; one that uses it must stop.
        EXPECT_TRUE(w.Error == 0 || w.Error == err::kIndexPagesCorrupt) << c.What << ", index " << index;
      } else if (c.Slot == index || c.Slot == 0) {
        EXPECT_EQ(w.Error, err::kIndexPagesCorrupt) << c.What << ", index " << index;
      } else {
        EXPECT_EQ(w.Error, 0) << c.What << ", index " << index;
      }
    }
    if (c.Slot == kDeletedIndexSlot) {
      TDataFile table;
      table.SetFileName(name);
      table.SetReadOnly(true);
      table.Open();
      table.SelectIndex(0);
      std::uint8_t low[5] = {0, 0, 0, 0, 0};
      std::uint8_t high[5] = {0, 0x80, 0, 0, 10};
      // A range over the primary is counted through the deleted-records index when records are
      // hidden; the damaged one must stop it with 8965, not be read past its keys.
      try {
        table.SetRange(low, true, 1, high, true, 1);
        table.First();
        std::vector<std::uint8_t> b(table.RecordBufferSize());
        while (table.Next(b.data()) == 0) {
        }
      } catch (const EEngineError& e) {
        EXPECT_EQ(e.Code(), err::kIndexPagesCorrupt) << c.What;
      }
      table.Close();
    }
  }
}

}  // namespace
}  // namespace quillon::engine
