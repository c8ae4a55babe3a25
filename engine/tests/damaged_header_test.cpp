// The check of the index file's header against its trees: a secondary index that vanished from
// the header (a changed count or name byte) and pages no tree or free list reaches are reported.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/table_verify.h"
#include "engine/tests/damaged_table.h"

namespace quillon::engine {
namespace {

using testing::DamagedTable;

class DamagedHeader : public DamagedTable {
 protected:
  void SetUp() override {
    records = 600;
    DamagedTable::SetUp();
  }

  static bool Mentions(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
  }
  static std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
  }
};

TEST_F(DamagedHeader, SoundTableIsOk) {
  EXPECT_EQ(Joined(Check()), "");
}

TEST_F(DamagedHeader, ChangedHeaderBytesAreReported) {
  const std::string sound = Index();
  struct TCase {
    const char* What;
    std::size_t At;
    std::uint8_t Value;
    const char* Expected;  // a part of one reported line
  };
  const std::size_t name1 = SlotAt(1);
  const TCase cases[] = {
      {"index count lowered", 13, 0, "in no tree and no free list"},
      {"index count lowered (its slot)", 13, 0, "slot 1 holds index \"ByName\""},
      {"index count raised", 13, 2, "slot 2"},
      {"name length zeroed", name1, 0, "slot 1: the descriptor is invalid"},
      {"name length raised past the name", name1, 9, "unprintable"},
      {"name letter made a control character", name1 + 3, 1, "unprintable"},
      {"key length changed", name1 + 31, 7, "slot 1: key length 7"},
      {"deleted-records name changed", SlotAt(kDeletedIndexSlot) + 2, 'x', "slot 31"},
  };
  for (const TCase& c : cases) {
    std::string bytes = sound;
    bytes[c.At] = static_cast<char>(c.Value);
    SetIndex(bytes);
    std::vector<std::string> lines = Check();
    EXPECT_TRUE(Mentions(lines, c.Expected)) << c.What << ":\n" << Joined(lines);
  }
}

TEST_F(DamagedHeader, PageOutsideEveryTreeIsReported) {
  std::string bytes = Index();
  // A page appended past the trees and counted by NextPageOffset, as a split that never reached
  // its parent would leave it.
  const std::uint32_t next = U32(bytes, 9);
  ASSERT_EQ(next, bytes.size());
  bytes += bytes.substr(Leaves(bytes, 0)[1], kIndexPageSize);
  PutAt(bytes, 9, next + kIndexPageSize);
  SetIndex(bytes);
  std::vector<std::string> lines = Check();
  EXPECT_TRUE(Mentions(lines, "1 page is in no tree and no free list")) << Joined(lines);
}

}  // namespace
}  // namespace quillon::engine
