// TBufferCache: which buffer is reused, what keeps a buffer from reuse, and the runs a write-back
// is handed.
#include "engine/buffer_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace quillon::engine {
namespace {

struct TUnit {
  std::uint32_t Number = 0;
  bool Dirty = false;
  std::uint16_t PinCount = 0;
  bool ReadAheadMark = false;
  TUnit* Newer = nullptr;
  TUnit* Older = nullptr;
};
using TCache = TBufferCache<TUnit, &TUnit::Number>;

// A cache of `n` buffers keyed 1..n, made in that order (so n is the most recently used).
void Fill(TCache& cache, int n) {
  cache.SetCapacity(n);
  for (int k = 1; k <= n; ++k) {
    TUnit* u = cache.Add(std::make_unique<TUnit>());
    cache.SetKey(u, static_cast<std::uint32_t>(k));
  }
}

TEST(BufferCache, ReusesTheLeastRecentlyUsedBufferNothingHolds) {
  struct TCase {
    const char* what;
    std::vector<std::uint32_t> touched;  // found again, in this order
    std::vector<std::uint32_t> dirty, pinned, marked;
    std::vector<std::uint32_t> reused;  // the keys given up by successive takes; 0 = none left
  } cases[] = {
      {"plain order of use", {}, {}, {}, {}, {1, 2, 3, 4}},
      {"a find makes a buffer the newest", {1, 3}, {}, {}, {}, {2, 4, 1, 3}},
      {"dirty, pinned and marked buffers are passed over", {}, {1}, {2}, {3}, {4, 0}},
      {"all held", {}, {1, 2}, {3, 4}, {}, {0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TCache cache;
    Fill(cache, 4);
    for (std::uint32_t k : c.touched) ASSERT_NE(cache.Find(k), nullptr);
    for (std::uint32_t k : c.dirty) cache.Find(k)->Dirty = true;
    for (std::uint32_t k : c.pinned) cache.Find(k)->PinCount = 1;
    for (std::uint32_t k : c.marked) cache.Find(k)->ReadAheadMark = true;
    // The finds above changed the order again; redo the intended one.
    if (!c.dirty.empty() || !c.pinned.empty() || !c.marked.empty())
      for (std::uint32_t k = 1; k <= 4; ++k) cache.Find(k);
    for (std::uint32_t expected : c.reused) {
      std::map<TUnit*, std::uint32_t> before;
      for (auto& u : cache) before[u.get()] = u->Number;
      TUnit* taken = cache.ReuseOldest();
      if (expected == 0) {
        EXPECT_EQ(taken, nullptr);
        break;
      }
      ASSERT_NE(taken, nullptr);
      EXPECT_EQ(before[taken], expected);
      EXPECT_EQ(taken->Number, 0u);
      EXPECT_FALSE(cache.Holds(expected));
      cache.SetKey(taken, 100 + expected);  // in use again, the newest, held by its new user
      taken->PinCount = 1;
    }
  }
}

TEST(BufferCache, APassedOverBufferDoesNotChangeTheOrderOfTheCleanOnes) {
  TCache cache;
  Fill(cache, 6);
  cache.Find(2)->Dirty = true;
  cache.Find(5)->PinCount = 1;
  for (std::uint32_t k : {1u, 2u, 3u, 4u, 5u, 6u}) cache.Find(k);
  // Clean ones in order of use: 1 3 4 6. The held ones move to the newest end as they are
  // passed over, and come up again only after every clean one has been taken.
  std::vector<std::uint32_t> order;
  while (TUnit* u = cache.ReuseOldest()) {
    order.push_back(0);
    for (auto& b : cache)
      if (b.get() == u) order.back() = static_cast<std::uint32_t>(&b - &*cache.begin()) + 1;
    u->PinCount = 1;  // keep it, as a caller filling it would
  }
  EXPECT_EQ(order, (std::vector<std::uint32_t>{1, 3, 4, 6}));
  cache.Find(2)->Dirty = false;
  TUnit* two = cache.ReuseOldest();
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two, cache[1].get());
}

// Growth is the owner's decision (a transaction, pages held until a checkpoint): adding to a full
// cache is refused whole instead of growing it behind the owner's back.
TEST(BufferCache, AddingToAFullCacheIsRefusedAndChangesNothing) {
  TCache cache;
  Fill(cache, 3);
  EXPECT_THROW(cache.Add(std::make_unique<TUnit>()), EListError);
  EXPECT_EQ(cache.Count(), 3);
  EXPECT_EQ(cache.Capacity(), 3);
  EXPECT_EQ(cache.Find(2)->Number, 2u);
  cache.SetCapacity(4);
  TUnit* added = cache.Add(std::make_unique<TUnit>());
  EXPECT_EQ(cache.Count(), 4);
  EXPECT_TRUE(cache.Full());
  EXPECT_EQ(cache.ReuseOldest(), cache[0].get()) << "the new buffer is the most recently used";
  EXPECT_NE(added, nullptr);
}

// A transaction's cache grows until the list's limit and then refuses, rather than growing by
// nothing and asking again for ever.
TEST(BufferCache, GrowingStopsAtTheListLimitWithTheCapacityError) {
  TCache cache;
  cache.Grow(5);
  EXPECT_EQ(cache.Capacity(), 5);
  cache.SetCapacity(kMaxListSize - 2);
  cache.Grow(5);
  EXPECT_EQ(cache.Capacity(), kMaxListSize);
  EXPECT_THROW(cache.Grow(5), EListError);
  EXPECT_EQ(cache.Capacity(), kMaxListSize);
}

TEST(BufferCache, WriteBackGetsRunsOfConsecutiveKeysAndLeavesPinnedOnesAlone) {
  TCache cache;
  cache.SetCapacity(8);
  for (std::uint32_t key : {4096u * 7, 4096u * 2, 4096u * 3, 4096u * 9, 4096u * 8, 4096u * 4}) {
    TUnit* u = cache.Add(std::make_unique<TUnit>());
    cache.SetKey(u, key);
    u->Dirty = true;
  }
  cache.Find(4096 * 8)->PinCount = 1;
  std::vector<std::vector<std::uint32_t>> runs;
  int calls = 0;
  std::size_t written = cache.WriteDirtyRuns(
      4096, true,
      [&](TUnit* const* units, std::size_t n) {
        runs.emplace_back();
        for (std::size_t k = 0; k < n; ++k) runs.back().push_back(units[k]->Number / 4096);
      },
      &calls);
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(runs, (std::vector<std::vector<std::uint32_t>>{{2, 3, 4}, {7}, {9}}));
  EXPECT_TRUE(cache.Find(4096 * 8)->Dirty);
  EXPECT_FALSE(cache.Find(4096 * 7)->Dirty);
  // Pinned ones too when asked, as a forced write-back does.
  EXPECT_EQ(cache.DirtyByKey(false).size(), 1u);
}

TEST(BufferCache, FindsWhatAPlainMapHoldsThroughKeyChangesAndForgetting) {
  std::mt19937 random(7);
  TCache cache;
  Fill(cache, 64);
  std::map<std::uint32_t, TUnit*> model;
  for (auto& u : cache) model[u->Number] = u.get();
  for (int step = 0; step < 20000; ++step) {
    const std::uint32_t key = random() % 200 + 1;
    switch (random() % 10) {
      case 0:
        cache.ForgetKeys();
        model.clear();
        break;
      case 1:
      case 2:
      case 3: {  // a miss takes a buffer for the key
        if (model.count(key)) break;
        TUnit* u = cache.ReuseOldest();
        ASSERT_NE(u, nullptr);
        for (auto it = model.begin(); it != model.end(); ++it)
          if (it->second == u) {
            model.erase(it);
            break;
          }
        cache.SetKey(u, key);
        model[key] = u;
        break;
      }
      default: {
        TUnit* found = cache.Find(key);
        auto it = model.find(key);
        ASSERT_EQ(found, it == model.end() ? nullptr : it->second) << "step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace quillon::engine
