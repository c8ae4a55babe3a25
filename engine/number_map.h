// TNumberMap: finds a cached unit (a record buffer, a page, a block) by its non-zero 32-bit
// number. The caches look up, add and drop units at every step of a walk, so the map keeps its
// keys in one array with open addressing: nothing is allocated once it has grown to the cache's
// size, and a lookup touches one or two neighbouring slots.
//
// Invariants:
//  1. Key 0 marks an empty slot and is never stored.
//  2. The array's size is a power of two, at least twice the number of entries.
//  3. Every entry lies between its home slot and the first empty slot after it (linear probing;
//     Erase shifts the entries behind a removed one back so that this stays true).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon::engine {

template <class T>
class TNumberMap {
 public:
  T* Find(std::uint32_t key) const {
    if (size_ == 0 || key == 0) return nullptr;
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      if (keys_[i] == key) return values_[i];
      if (keys_[i] == 0) return nullptr;
    }
  }

  // Adds the entry or replaces the value of an existing one; key must not be 0.
  void Set(std::uint32_t key, T* value) {
    if ((size_ + 1) * 2 > keys_.size()) Grow();
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      if (keys_[i] == key) {
        values_[i] = value;
        return;
      }
      if (keys_[i] == 0) {
        keys_[i] = key;
        values_[i] = value;
        ++size_;
        return;
      }
    }
  }

  bool Erase(std::uint32_t key) {
    if (size_ == 0 || key == 0) return false;
    std::size_t i = Home(key);
    while (keys_[i] != key) {
      if (keys_[i] == 0) return false;
      i = (i + 1) & mask_;
    }
    // Entries after the hole whose home is not between the hole and themselves move into it.
    for (std::size_t j = (i + 1) & mask_; keys_[j] != 0; j = (j + 1) & mask_) {
      const std::size_t home = Home(keys_[j]);
      const bool staysPut = i < j ? (home > i && home <= j) : (home > i || home <= j);
      if (staysPut) continue;
      keys_[i] = keys_[j];
      values_[i] = values_[j];
      i = j;
    }
    keys_[i] = 0;
    values_[i] = nullptr;
    --size_;
    return true;
  }

  void Clear() {
    std::fill(keys_.begin(), keys_.end(), 0u);
    std::fill(values_.begin(), values_.end(), nullptr);
    size_ = 0;
  }

  std::size_t Size() const { return size_; }
  // The most slots a lookup of a held key walks; keys that collide in their home slots make
  // every lookup as slow as a list.
  std::size_t LongestProbe() const {
    std::size_t longest = 0;
    for (std::size_t i = 0; i < keys_.size(); ++i)
      if (keys_[i] != 0) longest = std::max(longest, ((i - Home(keys_[i])) & mask_) + 1);
    return longest;
  }

 private:
  // Multiplicative hashing that takes the product's high bits: page and block offsets are
  // multiples of their size, and the low bits of their products are all zero.
  std::size_t Home(std::uint32_t key) const {
    return static_cast<std::size_t>(static_cast<std::uint32_t>(key * 2654435761u) >> shift_);
  }

  void Grow() {
    std::vector<std::uint32_t> keys = std::move(keys_);
    std::vector<T*> values = std::move(values_);
    const std::size_t capacity = keys.empty() ? 16 : keys.size() * 2;
    keys_.assign(capacity, 0);
    values_.assign(capacity, nullptr);
    mask_ = capacity - 1;
    shift_ = 32;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
    size_ = 0;
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (keys[i] != 0) Set(keys[i], values[i]);
  }

  std::vector<std::uint32_t> keys_;
  std::vector<T*> values_;
  std::size_t mask_ = 0;
  int shift_ = 32;
  std::size_t size_ = 0;
};

}  // namespace quillon::engine
