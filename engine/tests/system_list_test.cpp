#include "engine/system_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace quillon::engine {
namespace {

TEST(SystemList, GrowsByFourThenSixteenThenAQuarter) {
  TSystemList<int> list;
  std::vector<int> capacities;
  for (int i = 0; i < 200; ++i) {
    int before = list.Capacity();
    list.Add(i);
    if (list.Capacity() != before) capacities.push_back(list.Capacity());
  }
  std::vector<int> expected = {4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228};
  EXPECT_EQ(capacities, expected);
}

TEST(SystemList, InsertDeleteMoveAndSort) {
  TSystemList<int> list;
  for (int v : {5, 1, 4}) list.Add(v);
  list.Insert(0, 9);
  EXPECT_EQ(list[0], 9);
  list.Move(0, 3);
  EXPECT_EQ(list[3], 9);
  list.Delete(1);
  ASSERT_EQ(list.Count(), 3);
  list.Sort([](int a, int b) { return a - b; });
  EXPECT_EQ(list[0], 4);
  EXPECT_EQ(list[1], 5);
  EXPECT_EQ(list[2], 9);
}

TEST(SystemList, MoveShiftsOnlyTheEntriesBetweenInEitherDirection) {
  auto listOf = [](std::initializer_list<int> values) {
    TSystemList<int> list;
    for (int v : values) list.Add(v);
    return list;
  };
  auto values = [](const TSystemList<int>& list) { return std::vector<int>(list.begin(), list.end()); };
  TSystemList<int> list = listOf({0, 1, 2, 3, 4, 5});
  list.Move(4, 1);
  EXPECT_EQ(values(list), (std::vector<int>{0, 4, 1, 2, 3, 5}));
  list.Move(1, 4);
  EXPECT_EQ(values(list), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  list.Move(5, 0);
  EXPECT_EQ(values(list), (std::vector<int>{5, 0, 1, 2, 3, 4}));
  list.Move(0, 5);
  EXPECT_EQ(values(list), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  list.Move(2, 2);
  EXPECT_EQ(values(list), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_THROW(list.Move(6, 0), EListError);
  EXPECT_THROW(list.Move(0, 6), EListError);
}

TEST(SystemList, BoundsRaiseTheListErrors) {
  TSystemList<int> list;
  list.Add(1);
  struct Case {
    std::function<void()> action;
    const char* message;
  } cases[] = {
      {[&] { (void)list[1]; }, "List index out of bounds (1)"},
      {[&] { list.Delete(-1); }, "List index out of bounds (-1)"},
      {[&] { list.Insert(3, 0); }, "List index out of bounds (3)"},
      {[&] { list.SetCapacity(0); }, "List capacity out of bounds (0)"},
      {[&] { list.SetCapacity(kMaxListSize + 1); }, "List capacity out of bounds (262141)"},
      {[&] { list.SetCount(-2); }, "List count out of bounds (-2)"},
  };
  for (const auto& c : cases) {
    try {
      c.action();
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const EListError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(list.Count(), 1);
}

TEST(SystemList, StopsAtTheMaximumSize) {
  TSystemList<char> list;
  list.SetCapacity(kMaxListSize);
  list.SetCount(kMaxListSize);
  EXPECT_THROW(list.Add('x'), EListError);
  EXPECT_EQ(list.Count(), kMaxListSize);
}

}  // namespace
}  // namespace quillon::engine
