// A fixed set of element names: the tree builder and the text walk ask which group a tag belongs
// to for every element of a page, so the lookup is an open table indexed by a hash of the name's
// length and its first and last letters, with one comparison for a hit.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace quillon::web {

class TNameSet {
 public:
  TNameSet(std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
      std::size_t slot = Slot(name);
      while (!slots_[slot].empty()) slot = (slot + 1) % kSlots;
      slots_[slot] = name;
    }
  }
  bool Has(std::string_view name) const {
    if (name.empty()) return false;
    for (std::size_t slot = Slot(name);; slot = (slot + 1) % kSlots) {
      std::string_view s = slots_[slot];
      if (s.empty()) return false;
      if (s == name) return true;
    }
  }

 private:
  static constexpr std::size_t kSlots = 256;  // sets hold far fewer names, so probes stay short
  static std::size_t Slot(std::string_view name) {
    std::uint32_t h = static_cast<std::uint32_t>(name.size()) * 131u + static_cast<unsigned char>(name.front()) * 31u +
                      static_cast<unsigned char>(name.back());
    return (h * 2654435761u >> 24) % kSlots;
  }
  std::array<std::string_view, kSlots> slots_{};
};

}  // namespace quillon::web
