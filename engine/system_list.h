// TSystemList: the engine's own growable array, used by every cache and list of the engine.
//
// Invariants:
//  1. Count() <= Capacity() <= kMaxListSize (262,140).
//  2. Growing by itself (an add or insert into a full list) adds 4 entries while the capacity is
//     below 9, 16 while it is at most 64, and a quarter of the capacity above that.
//  3. Every index, count or capacity outside its bounds raises EListError with the platform's
//     list message ("List index out of bounds (%d)" and its two siblings); nothing is changed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quillon::engine {

class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

inline constexpr int kMaxListSize = 262140;

template <class T>
class TSystemList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return capacity_; }

  T& operator[](int index) {
    CheckIndex(index, Count() - 1);
    return items_[static_cast<std::size_t>(index)];
  }
  const T& operator[](int index) const {
    CheckIndex(index, Count() - 1);
    return items_[static_cast<std::size_t>(index)];
  }

  // Returns the new entry's index.
  int Add(T item) {
    Insert(Count(), std::move(item));
    return Count() - 1;
  }
  void Insert(int index, T item) {
    CheckIndex(index, Count());
    if (Count() == capacity_) Grow();
    items_.insert(items_.begin() + index, std::move(item));
  }
  void Delete(int index) {
    CheckIndex(index, Count() - 1);
    items_.erase(items_.begin() + index);
  }
  // Moves the entry at from to position to, shifting the entries between.
  void Move(int from, int to) {
    if (from == to) return;
    CheckIndex(from, Count() - 1);
    CheckIndex(to, Count() - 1);
    // One rotation shifts only the entries between the two places (caches move hits to the
    // front on every lookup, so this is on their hot path).
    auto at = [&](int i) { return items_.begin() + i; };
    if (from > to) {
      std::rotate(at(to), at(from), at(from + 1));
    } else {
      std::rotate(at(from), at(from + 1), at(to + 1));
    }
  }
  void SetCapacity(int capacity) {
    if (capacity < Count() || capacity > kMaxListSize) Fail("List capacity out of bounds (%d)", capacity);
    capacity_ = capacity;
    items_.reserve(static_cast<std::size_t>(capacity));
  }
  void SetCount(int count) {
    if (count < 0 || count > kMaxListSize) Fail("List count out of bounds (%d)", count);
    if (count > capacity_) SetCapacity(count);
    items_.resize(static_cast<std::size_t>(count));
  }
  void Clear() {
    items_.clear();
    capacity_ = 0;
  }
  // compare(a, b) < 0 when a comes before b.
  template <class Compare>
  void Sort(Compare compare) {
    std::sort(items_.begin(), items_.end(), [&](const T& a, const T& b) { return compare(a, b) < 0; });
  }

  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  static void Fail(const char* format, int value) {
    std::string text(format);
    text.replace(text.find("%d"), 2, std::to_string(value));
    throw EListError(text);
  }
  static void CheckIndex(int index, int last) {
    if (index < 0 || index > last) Fail("List index out of bounds (%d)", index);
  }
  void Grow() {
    int delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
    int wanted = capacity_ + delta;
    if (wanted > kMaxListSize) {
      if (capacity_ == kMaxListSize) Fail("List capacity out of bounds (%d)", wanted);
      wanted = kMaxListSize;
    }
    SetCapacity(wanted);
  }

  std::vector<T> items_;
  int capacity_ = 0;
};

}  // namespace quillon::engine
