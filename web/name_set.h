// A fixed set of element names, looked up by hash: the tree builder and the text walk ask which
// group a tag belongs to for every element of a page.
#pragma once

#include <initializer_list>
#include <string_view>
#include <unordered_set>

namespace quillon::web {

class TNameSet {
 public:
  TNameSet(std::initializer_list<std::string_view> names) : names_(names) {}
  bool Has(std::string_view name) const { return names_.count(name) > 0; }

 private:
  std::unordered_set<std::string_view> names_;
};

}  // namespace quillon::web
