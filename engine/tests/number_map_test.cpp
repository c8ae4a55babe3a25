// TNumberMap against a plain map under random adds, replacements and removals: removals shift
// the entries behind them back, which is where an open-addressing map goes wrong.
#include "engine/number_map.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace quillon::engine {
namespace {

TEST(NumberMap, AgreesWithAPlainMapThroughAddsReplacementsAndRemovals) {
  // Values are addresses into this array; key k maps to one of them.
  std::vector<int> targets(64);
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    TNumberMap<int> map;
    std::map<std::uint32_t, int*> model;
    // Few distinct keys (crowded neighbourhoods) and multiples of a block size (what offsets are).
    auto key = [&] { return random() % 2 ? 1 + random() % 300 : 512 * (1 + random() % 300); };
    for (int step = 0; step < 20000; ++step) {
      const std::uint32_t k = key();
      switch (random() % 3) {
        case 0:
        case 1: {
          int* value = &targets[random() % targets.size()];
          map.Set(k, value);
          model[k] = value;
          break;
        }
        default:
          EXPECT_EQ(map.Erase(k), model.erase(k) == 1);
      }
      if (step % 997 == 0) {
        ASSERT_EQ(map.Size(), model.size());
        std::vector<std::uint32_t> probes;
        for (std::uint32_t n = 0; n <= 301; ++n) probes.insert(probes.end(), {n, 512 * n});
        for (std::uint32_t probe : probes) {
          auto it = model.find(probe);
          ASSERT_EQ(map.Find(probe), it == model.end() ? nullptr : it->second) << "key " << probe;
        }
      }
    }
    map.Clear();
    EXPECT_EQ(map.Size(), 0u);
    EXPECT_EQ(map.Find(512), nullptr);
    EXPECT_EQ(map.Find(0), nullptr);
  }
}

// The caches' keys: record numbers run consecutively, page and block offsets are multiples of
// their sizes. Each kind must spread over the slots, or a lookup walks the whole map.
TEST(NumberMap, RecordNumbersAndFileOffsetsSpreadOverTheSlots) {
  for (std::uint32_t step : {1u, 64u, 512u, 4096u}) {
    SCOPED_TRACE(step);
    int value = 0;
    TNumberMap<int> map;
    for (std::uint32_t k = 1; k <= 5000; ++k) map.Set(k * step, &value);
    EXPECT_LE(map.LongestProbe(), 24u);
  }
}

}  // namespace
}  // namespace quillon::engine
