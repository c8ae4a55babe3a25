#include "skin/skin_region.h"

#include <algorithm>

namespace quillon::skin {

TSkinRegion::TSkinRegion(std::vector<TSkinRect> rects) {
  for (const auto& r : rects) Add(r);
}

void TSkinRegion::Union(const TSkinRegion& other) {
  rects_.insert(rects_.end(), other.rects_.begin(), other.rects_.end());
}

void TSkinRegion::IntersectWith(const TSkinRect& clip) {
  std::vector<TSkinRect> kept;
  for (const auto& r : rects_) {
    const TSkinRect i = Intersect(r, clip);
    if (!i.Empty()) kept.push_back(i);
  }
  rects_ = std::move(kept);
}

void TSkinRegion::Offset(int dx, int dy) {
  for (auto& r : rects_) r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

bool TSkinRegion::Contains(int x, int y) const {
  return std::any_of(rects_.begin(), rects_.end(), [&](const TSkinRect& r) { return r.Contains(x, y); });
}

std::vector<TSkinRect> TSkinRegion::Rects() const {
  std::vector<int> edges;
  for (const auto& r : rects_) {
    edges.push_back(r.top);
    edges.push_back(r.bottom);
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  std::vector<TSkinRect> out;
  std::vector<TSkinRect> previousBand;
  for (std::size_t e = 0; e + 1 < edges.size(); ++e) {
    const int top = edges[e], bottom = edges[e + 1];
    std::vector<std::pair<int, int>> spans;
    for (const auto& r : rects_)
      if (r.top <= top && r.bottom >= bottom) spans.emplace_back(r.left, r.right);
    std::sort(spans.begin(), spans.end());
    std::vector<TSkinRect> band;
    for (const auto& [l, r] : spans) {
      if (!band.empty() && l <= band.back().right)
        band.back().right = std::max(band.back().right, r);
      else
        band.push_back({l, top, r, bottom});
    }
    // A band that continues the one above with the same runs extends it.
    const bool same =
        !band.empty() && band.size() == previousBand.size() && previousBand.front().bottom == top &&
        std::equal(band.begin(), band.end(), previousBand.begin(),
                   [](const TSkinRect& a, const TSkinRect& b) { return a.left == b.left && a.right == b.right; });
    if (same) {
      for (std::size_t i = out.size() - band.size(); i < out.size(); ++i) out[i].bottom = bottom;
      for (auto& r : previousBand) r.bottom = bottom;
    } else {
      out.insert(out.end(), band.begin(), band.end());
      previousBand = band;
    }
  }
  return out;
}

}  // namespace quillon::skin
