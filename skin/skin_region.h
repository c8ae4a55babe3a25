// A window region as an exact list of rectangles, so the shape a skin gives a window can be
// built and checked without the platform. Normalize turns any list into the one canonical form:
// horizontal bands from top to bottom, disjoint runs from left to right inside each band, and
// vertically adjacent bands with the same runs merged.
#pragma once

#include <vector>

#include "skin/ombra_bmp.h"

namespace quillon::skin {

class TSkinRegion {
 public:
  TSkinRegion() = default;
  explicit TSkinRegion(const TSkinRect& r) { Add(r); }
  explicit TSkinRegion(std::vector<TSkinRect> rects);

  void Add(const TSkinRect& r) {
    if (!r.Empty()) rects_.push_back(r);
  }
  void Union(const TSkinRegion& other);
  void IntersectWith(const TSkinRect& r);
  void Offset(int dx, int dy);
  bool Contains(int x, int y) const;
  bool Empty() const { return rects_.empty(); }
  std::vector<TSkinRect> Rects() const;  // the canonical form
  const std::vector<TSkinRect>& RawRects() const { return rects_; }

 private:
  std::vector<TSkinRect> rects_;
};

}  // namespace quillon::skin
