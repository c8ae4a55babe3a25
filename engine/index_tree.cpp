// The B+-tree operations of TIndexFile on its current index: search, insert with splits, delete
// with merges, redistribution and root collapse, and the positions the cursor is built on.
//
// Every operation works on a path: the pages from the root down to a leaf, each with the slot of
// the entry followed. Parents are known only through the path, never stored in pages, so a path
// is valid only inside one operation. A neighbour chosen for a merge or a redistribution is
// reached through its own path (the predecessor or successor path), because it may hang under
// another parent; subtree counts are then moved along both paths up to their common ancestor,
// and first keys are carried up the neighbour's path, so every parent stays right.
//
// Invariants kept (see index_file.h): ascending keys, first-key rule, exact subtree counts,
// level links, page types. The underflow rules: pages with children and uncompressed leaves
// underflow below half their capacity; compressed leaves only when empty.
#include <algorithm>
#include <cstring>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/index_file.h"

namespace quillon::engine {

namespace {

// Deeper than any real tree of a 2 GB file; a deeper walk means the pages form a cycle.
constexpr int kMaxDepth = 64;

std::uint32_t CheckedCount(std::uint64_t n) {
  return n > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

}  // namespace

TPage* TIndexFile::FetchChild(const TPage* parent, int slot, TPins& pins) {
  TPage* child = FetchPage(current_, parent->Value(slot), pins);
  if (child->Free || child->Count == 0 || (child->PageType != kInnerPage && child->PageType != kLeafPage)) Corrupt();
  return child;
}

TIndexFile::TPath TIndexFile::Descend(const std::uint8_t* key, int length, TDescent mode, TPins& pins) {
  TPath path;
  std::uint32_t root = RootPage(current_);
  if (root == 0) return path;
  TPage* page = FetchPage(current_, root, pins);
  if (page->Free || page->Count == 0 || !page->IsRoot()) Corrupt();
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) Corrupt();
    int lo = 0, hi = page->Count;
    while (lo < hi) {
      int mid = lo + (hi - lo) / 2;
      int c = comparer_.Compare(page->Key(mid), key, length);
      if (mode == TDescent::Lower ? c < 0 : c <= 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (page->IsLeaf()) {
      path.push_back({page, lo});
      return path;
    }
    int slot = lo > 0 ? lo - 1 : 0;
    path.push_back({page, slot});
    TPage* parent = page;
    page = FetchChild(page, slot, pins);
    CheckFirstKey(*parent, slot, *page);
  }
}

// A parent entry carries its child's first key; a child whose first key differs is another page
// than the one the parent was written with (pages moved or overwritten), and walking on from it
// would give keys out of order or skip whole pages.
void TIndexFile::CheckFirstKey(const TPage& parent, int slot, const TPage& child) const {
  if (std::memcmp(parent.Key(slot), child.Key(0), static_cast<std::size_t>(format_.KeyLength)) != 0) Corrupt();
}

// Leaf steps are the cursor's walks: each step must go forward in key order and along links
// that agree in both directions, so that no damage can make a walk repeat or loop.
void TIndexFile::CheckStep(const TPage& from, int fromSlot, const TPage& to, int toSlot, bool forward) const {
  const std::uint8_t* earlier = forward ? from.Key(fromSlot) : to.Key(toSlot);
  const std::uint8_t* later = forward ? to.Key(toSlot) : from.Key(fromSlot);
  if (comparer_.Compare(earlier, later, format_.KeyLength) > 0) Corrupt();
  if (&from == &to) return;
  if (from.Offset == to.Offset) Corrupt();
  if (forward ? to.PrevPage != from.Offset : to.NextPage != from.Offset) Corrupt();
}

std::uint32_t TIndexFile::OrdinalOf(const TPath& path) const {
  std::uint64_t ordinal = 1;
  for (const TPathStep& step : path) {
    if (step.Page->IsLeaf()) {
      ordinal += static_cast<std::uint64_t>(step.Slot);
    } else {
      for (int i = 0; i < step.Slot; ++i) ordinal += step.Page->SubCount(i);
    }
  }
  return CheckedCount(ordinal);
}

bool TIndexFile::Successor(TPath& path, int level, TPins& pins) {
  int l = level - 1;
  while (l >= 0 && path[static_cast<std::size_t>(l)].Slot >= path[static_cast<std::size_t>(l)].Page->Count - 1) --l;
  if (l < 0) return false;
  ++path[static_cast<std::size_t>(l)].Slot;
  path.resize(static_cast<std::size_t>(level) + 1);
  for (int m = l + 1; m <= level; ++m) {
    const TPathStep& up = path[static_cast<std::size_t>(m - 1)];
    path[static_cast<std::size_t>(m)] = {FetchChild(up.Page, up.Slot, pins), 0};
  }
  return true;
}

bool TIndexFile::Predecessor(TPath& path, int level, TPins& pins) {
  int l = level - 1;
  while (l >= 0 && path[static_cast<std::size_t>(l)].Slot <= 0) --l;
  if (l < 0) return false;
  --path[static_cast<std::size_t>(l)].Slot;
  path.resize(static_cast<std::size_t>(level) + 1);
  for (int m = l + 1; m <= level; ++m) {
    const TPathStep& up = path[static_cast<std::size_t>(m - 1)];
    TPage* child = FetchChild(up.Page, up.Slot, pins);
    path[static_cast<std::size_t>(m)] = {child, child->Count - 1};
  }
  return true;
}

bool TIndexFile::StepForward(TPath& path, TPins& pins) {
  TPathStep& leaf = path.back();
  if (leaf.Slot + 1 < leaf.Page->Count) {
    ++leaf.Slot;
    return true;
  }
  TPage* old = leaf.Page;
  if (!Successor(path, static_cast<int>(path.size()) - 1, pins)) return false;
  pins.Release(old);
  return true;
}

TKeyPosition TIndexFile::PositionOf(const TPath& path) const {
  TKeyPosition position;
  position.Ordinal = OrdinalOf(path);
  const TPathStep& leaf = path.back();
  if (leaf.Slot < leaf.Page->Count) {
    position.Page = leaf.Page->Offset;
    position.Slot = leaf.Slot;
  }
  return position;
}

void TIndexFile::PropagateFirstKey(TPath& path, int level) {
  const auto kl = static_cast<std::size_t>(format_.KeyLength);
  for (int l = level; l > 0; --l) {
    TPage* page = path[static_cast<std::size_t>(l)].Page;
    if (page->Count == 0) return;
    TPathStep& up = path[static_cast<std::size_t>(l - 1)];
    if (std::memcmp(up.Page->Key(up.Slot), page->Key(0), kl) == 0) return;
    std::memcpy(up.Page->Key(up.Slot), page->Key(0), kl);
    up.Page->Dirty = true;
    if (up.Slot != 0) return;
  }
}

// ---- Search ----------------------------------------------------------------------------------

bool TIndexFile::ContainsKey(const std::uint8_t* key) {
  RequireTree();
  TPins pins(*this);
  TPath path = Descend(key, format_.KeyLength, TDescent::Lower, pins);
  if (path.empty()) return false;
  if (path.back().Slot >= path.back().Page->Count) {
    if (!Successor(path, static_cast<int>(path.size()) - 1, pins)) return false;
  }
  const TPathStep& leaf = path.back();
  return comparer_.Compare(leaf.Page->Key(leaf.Slot), key, format_.KeyLength) == 0;
}

void TIndexFile::CheckDuplicate(const std::uint8_t* key) {
  if (current_ != 0 && !descriptor_.Unique) return;
  if (ContainsKey(key)) {
    RaiseEngineError(err::kDuplicateKey, owner_.FileName(), {}, {}, current_ == 0 ? "Primary" : descriptor_.IndexName);
  }
}

// ---- Insert ----------------------------------------------------------------------------------

void TIndexFile::InsertKey(const std::uint8_t* key, std::uint32_t recordNumber) {
  RequireTree();
  TPins pins(*this);
  if (RootPage(current_) == 0) {
    TPage* page = AllocatePage(current_, pins);
    page->PageType = kRootLeaf;
    page->InsertEntry(0, key, recordNumber, 0);
    page->RecountUsedBytes(format_);
    SetRootPage(current_, page->Offset);
    return;
  }
  TPath path = Descend(key, format_.KeyLength, TDescent::Upper, pins);
  const int leafLevel = static_cast<int>(path.size()) - 1;
  TPathStep& leaf = path.back();
  TPage* page = leaf.Page;
  const int slot = leaf.Slot;
  // The growth a full path of splits needs is known before the first change.
  if (FreePageHead(current_) == 0 &&
      NextPageOffset() > kMaxPageOffset - (path.size() + 1) * static_cast<std::uint32_t>(kIndexPageSize)) {
    bool full = format_.Compression == 0 ? page->Count >= format_.LeafCapacity()
                                         : page->UsedBytes + format_.KeyLength + 6 > kPageRoom;
    if (full) Fail(err::kFileFull);
  }
  for (int l = 0; l < leafLevel; ++l) {
    TPathStep& step = path[static_cast<std::size_t>(l)];
    step.Page->SetSubCount(step.Slot, step.Page->SubCount(step.Slot) + 1);
    step.Page->Dirty = true;
  }
  if (format_.Compression != 0) {
    const std::uint8_t* prev = slot > 0 ? page->Key(slot - 1) : nullptr;
    int delta = format_.StoredSize(prev, key);
    if (slot < page->Count)
      delta += format_.StoredSize(key, page->Key(slot)) - format_.StoredSize(prev, page->Key(slot));
    page->InsertEntry(slot, key, recordNumber, 0);
    page->UsedBytes = static_cast<std::uint16_t>(std::min(page->UsedBytes + delta, 0xFFFF));
  } else {
    page->InsertEntry(slot, key, recordNumber, 0);
  }
  page->Dirty = true;
  if (slot == 0) PropagateFirstKey(path, leafLevel);
  if (page->Overflows(format_)) Split(path, leafLevel, pins);
}

void TIndexFile::BalanceCompressedSplit(TPage& left, TPage& right) {
  left.RecountUsedBytes(format_);
  right.RecountUsedBytes(format_);
  while (left.UsedBytes > kPageRoom && left.Count > 1) {
    left.MoveTailToFront(left.Count - 1, right);
    left.RecountUsedBytes(format_);
    right.RecountUsedBytes(format_);
  }
  while (right.UsedBytes > kPageRoom && right.Count > 1) {
    right.MoveHeadToEnd(1, left);
    left.RecountUsedBytes(format_);
    right.RecountUsedBytes(format_);
  }
  if (left.UsedBytes > kPageRoom || right.UsedBytes > kPageRoom) Corrupt();
}

void TIndexFile::Split(TPath& path, int level, TPins& pins) {
  TPage* left = path[static_cast<std::size_t>(level)].Page;
  const bool leaf = left->IsLeaf();
  TPage* right = AllocatePage(current_, pins);
  left->MoveTailTo((left->Count + 1) / 2, *right);
  left->PageType = right->PageType = leaf ? kLeafPage : kInnerPage;
  if (leaf && format_.Compression != 0) BalanceCompressedSplit(*left, *right);
  right->NextPage = left->NextPage;
  if (left->NextPage != 0) {
    TPage* after = FetchPage(current_, left->NextPage, pins);
    after->PrevPage = right->Offset;
    after->Dirty = true;
  }
  left->NextPage = right->Offset;
  right->PrevPage = left->Offset;
  left->Dirty = right->Dirty = true;
  if (level == 0) {
    TPage* root = AllocatePage(current_, pins);
    root->PageType = kRootWithChildren;
    root->InsertEntry(0, left->Key(0), left->Offset, CheckedCount(left->KeysBelow()));
    root->InsertEntry(1, right->Key(0), right->Offset, CheckedCount(right->KeysBelow()));
    SetRootPage(current_, root->Offset);
    return;
  }
  TPathStep& up = path[static_cast<std::size_t>(level - 1)];
  up.Page->SetSubCount(up.Slot, CheckedCount(left->KeysBelow()));
  up.Page->InsertEntry(up.Slot + 1, right->Key(0), right->Offset, CheckedCount(right->KeysBelow()));
  up.Page->Dirty = true;
  if (up.Page->Overflows(format_)) Split(path, level - 1, pins);
}

// ---- Delete ----------------------------------------------------------------------------------

void TIndexFile::DeleteKey(const std::uint8_t* key, std::uint32_t recordNumber) {
  RequireTree();
  auto notFound = [&] {
    RaiseEngineError(err::kKeyNotFound, owner_.FileName(), {}, {}, current_ == 0 ? "Primary" : descriptor_.IndexName);
  };
  TPins pins(*this);
  TPath path = Descend(key, format_.KeyLength, TDescent::Lower, pins);
  if (path.empty()) notFound();
  const int leafLevel = static_cast<int>(path.size()) - 1;
  if (path.back().Slot >= path.back().Page->Count && !Successor(path, leafLevel, pins)) notFound();
  for (;;) {
    const TPathStep& at = path.back();
    if (comparer_.Compare(at.Page->Key(at.Slot), key, format_.KeyLength) != 0) notFound();
    if (recordNumber == 0 || at.Page->Value(at.Slot) == recordNumber) break;
    if (!StepForward(path, pins)) notFound();
  }
  for (int l = 0; l < leafLevel; ++l) {
    TPathStep& step = path[static_cast<std::size_t>(l)];
    if (step.Page->SubCount(step.Slot) == 0) Corrupt();
  }
  for (int l = 0; l < leafLevel; ++l) {
    TPathStep& step = path[static_cast<std::size_t>(l)];
    step.Page->SetSubCount(step.Slot, step.Page->SubCount(step.Slot) - 1);
    step.Page->Dirty = true;
  }
  TPage* page = path.back().Page;
  const int slot = path.back().Slot;
  if (format_.Compression != 0) {
    const std::uint8_t* prev = slot > 0 ? page->Key(slot - 1) : nullptr;
    int delta = -format_.StoredSize(prev, page->Key(slot));
    if (slot + 1 < page->Count) {
      delta += format_.StoredSize(prev, page->Key(slot + 1)) - format_.StoredSize(page->Key(slot), page->Key(slot + 1));
    }
    page->DeleteEntry(slot);
    page->UsedBytes = static_cast<std::uint16_t>(std::max(page->UsedBytes + delta, 0));
  } else {
    page->DeleteEntry(slot);
  }
  page->Dirty = true;
  if (slot == 0 && page->Count > 0) PropagateFirstKey(path, leafLevel);
  RepairUnderflow(path, leafLevel, pins);
}

void TIndexFile::ReplaceKey(const std::uint8_t* oldKey, const std::uint8_t* newKey, std::uint32_t recordNumber) {
  DeleteKey(oldKey, recordNumber);
  InsertKey(newKey, recordNumber);
}

void TIndexFile::Unlink(TPage* page, TPins& pins) {
  if (page->PrevPage != 0) {
    TPage* before = FetchPage(current_, page->PrevPage, pins);
    before->NextPage = page->NextPage;
    before->Dirty = true;
  }
  if (page->NextPage != 0) {
    TPage* after = FetchPage(current_, page->NextPage, pins);
    after->PrevPage = page->PrevPage;
    after->Dirty = true;
  }
}

void TIndexFile::ShiftCounts(TPath& from, TPath& to, int level, std::uint32_t count) {
  for (int l = level - 1; l >= 0; --l) {
    TPathStep& a = from[static_cast<std::size_t>(l)];
    TPathStep& b = to[static_cast<std::size_t>(l)];
    if (a.Page->SubCount(a.Slot) < count) Corrupt();
    a.Page->SetSubCount(a.Slot, a.Page->SubCount(a.Slot) - count);
    b.Page->SetSubCount(b.Slot, b.Page->SubCount(b.Slot) + count);
    a.Page->Dirty = b.Page->Dirty = true;
    if (a.Page == b.Page) return;  // above the common ancestor both paths follow the same entries
  }
}

void TIndexFile::RemoveFromParent(TPath& path, int level, TPins& pins) {
  TPathStep& up = path[static_cast<std::size_t>(level - 1)];
  if (up.Page->SubCount(up.Slot) != 0) Corrupt();
  up.Page->DeleteEntry(up.Slot);
  up.Page->Dirty = true;
  if (up.Slot == 0 && up.Page->Count > 0) PropagateFirstKey(path, level - 1);
  RepairUnderflow(path, level - 1, pins);
}

void TIndexFile::RepairUnderflow(TPath& path, int level, TPins& pins) {
  TPage* page = path[static_cast<std::size_t>(level)].Page;
  if (level == 0) {
    RepairRoot(page, pins);
    return;
  }
  if (page->IsLeaf() && format_.Compression != 0) {
    if (page->Count > 0) return;
    Unlink(page, pins);
    FreePage(current_, page);
    RemoveFromParent(path, level, pins);
    return;
  }
  const int capacity = page->IsLeaf() ? format_.LeafCapacity() : format_.InnerCapacity();
  if (page->Count >= capacity / 2) return;
  bool right = false;
  TPath other = UnderflowNeighbour(path, level, right, pins);
  const TPage* neighbour = other[static_cast<std::size_t>(level)].Page;
  if (page->Count + neighbour->Count < capacity) {
    MergeIntoNeighbour(path, other, level, right, pins);
  } else {
    Redistribute(path, other, level, right);
  }
}

// An empty root leaf empties the tree; a root with children that has one entry left hands the
// root over to its child.
void TIndexFile::RepairRoot(TPage* page, TPins& pins) {
  if (page->Count == 0) {
    FreePage(current_, page);
    SetRootPage(current_, 0);
    return;
  }
  // With small capacities the only child may itself hold a single entry: collapse until the
  // root has two entries or is a leaf, so no level ever consists of one lone page.
  for (int depth = 0; !page->IsLeaf() && page->Count == 1; ++depth) {
    if (depth > kMaxDepth) Corrupt();
    TPage* child = FetchChild(page, 0, pins);
    FreePage(current_, page);
    child->PageType = child->PageType == kLeafPage ? kRootLeaf : kRootWithChildren;
    child->PrevPage = child->NextPage = 0;
    child->Dirty = true;
    SetRootPage(current_, child->Offset);
    page = child;
  }
}

// The path to the neighbour an underflowing page merges with or borrows from: the left one,
// unless the page is its parent's first entry and not its last. `right` tells which it is.
TIndexFile::TPath TIndexFile::UnderflowNeighbour(const TPath& path, int level, bool& right, TPins& pins) {
  const TPage* page = path[static_cast<std::size_t>(level)].Page;
  const TPathStep& up = path[static_cast<std::size_t>(level - 1)];
  right = up.Slot == 0 && up.Page->Count > 1;
  TPath other(path.begin(), path.begin() + level + 1);
  bool found = right ? Successor(other, level, pins) : Predecessor(other, level, pins);
  if (!found) {
    // The leftmost page of a level under a one-entry parent has no left neighbour: take the
    // right one rather than fail.
    right = !right;
    other.assign(path.begin(), path.begin() + level + 1);
    found = right ? Successor(other, level, pins) : Predecessor(other, level, pins);
  }
  if (!found) Corrupt();
  const TPage* neighbour = other[static_cast<std::size_t>(level)].Page;
  if (neighbour->Offset != (right ? page->NextPage : page->PrevPage) || neighbour->IsLeaf() != page->IsLeaf()) {
    Corrupt();
  }
  return other;
}

// Both pages fit in one: the page's entries join the neighbour and the page leaves the tree.
void TIndexFile::MergeIntoNeighbour(TPath& path, TPath& other, int level, bool right, TPins& pins) {
  TPage* page = path[static_cast<std::size_t>(level)].Page;
  TPage* neighbour = other[static_cast<std::size_t>(level)].Page;
  std::uint32_t moved = CheckedCount(page->KeysBelow());
  if (right) {
    page->MoveTailToFront(0, *neighbour);
  } else {
    page->MoveTailTo(0, *neighbour);
  }
  neighbour->Dirty = true;
  Unlink(page, pins);
  ShiftCounts(path, other, level, moved);
  if (right) PropagateFirstKey(other, level);
  FreePage(current_, page);
  RemoveFromParent(path, level, pins);
}

// The neighbour gives entries to the page until it keeps the larger half.
void TIndexFile::Redistribute(TPath& path, TPath& other, int level, bool right) {
  TPage* page = path[static_cast<std::size_t>(level)].Page;
  TPage* neighbour = other[static_cast<std::size_t>(level)].Page;
  const int total = page->Count + neighbour->Count;
  const int move = neighbour->Count - (total + 1) / 2;
  if (move <= 0) return;
  std::uint64_t moved = 0;
  if (right) {
    for (int i = 0; i < move; ++i) moved += page->IsLeaf() ? 1 : neighbour->SubCount(i);
    neighbour->MoveHeadToEnd(move, *page);
    ShiftCounts(other, path, level, CheckedCount(moved));
    PropagateFirstKey(other, level);
    PropagateFirstKey(path, level);  // the page may have been empty
  } else {
    for (int i = neighbour->Count - move; i < neighbour->Count; ++i)
      moved += page->IsLeaf() ? 1 : neighbour->SubCount(i);
    neighbour->MoveTailToFront(neighbour->Count - move, *page);
    ShiftCounts(other, path, level, CheckedCount(moved));
    PropagateFirstKey(path, level);
  }
  page->Dirty = neighbour->Dirty = true;
}

TIndexFile::TPageSummary TIndexFile::InspectPage(std::uint32_t offset) {
  RequireTree();
  TPins pins(*this);
  TPage* page = FetchPage(current_, offset, pins);
  return {page->PageType, page->Count, page->PrevPage, page->NextPage, page->UsedBytes, page->Free};
}

// ---- Positions -------------------------------------------------------------------------------

std::uint32_t TIndexFile::KeyCount() {
  RequireTree();
  std::uint32_t root = RootPage(current_);
  if (root == 0) return 0;
  TPins pins(*this);
  TPage* page = FetchPage(current_, root, pins);
  if (page->Free || page->Count == 0 || !page->IsRoot()) Corrupt();
  return CheckedCount(page->KeysBelow());
}

TKeyPosition TIndexFile::Bound(const std::uint8_t* key, int length, TDescent descent) {
  RequireTree();
  TPins pins(*this);
  TPath path = Descend(key, length, descent, pins);
  if (path.empty()) return {0, 0, 1};
  TKeyPosition position = PositionOf(path);
  if (position.Page == 0 && Successor(path, static_cast<int>(path.size()) - 1, pins)) {
    position.Page = path.back().Page->Offset;
    position.Slot = 0;
  }
  return position;
}

TKeyPosition TIndexFile::LowerBound(const std::uint8_t* key, int length) {
  return Bound(key, length, TDescent::Lower);
}

TKeyPosition TIndexFile::UpperBound(const std::uint8_t* key, int length) {
  return Bound(key, length, TDescent::Upper);
}

TKeyPosition TIndexFile::PositionAtOrdinal(std::uint32_t n) {
  RequireTree();
  std::uint32_t root = RootPage(current_);
  if (n < 1 || root == 0) return {};
  TPins pins(*this);
  TPage* page = FetchPage(current_, root, pins);
  if (page->Free || page->Count == 0 || !page->IsRoot()) Corrupt();
  if (n > page->KeysBelow()) return {};
  std::uint32_t left = n;
  for (int depth = 0; !page->IsLeaf(); ++depth) {
    if (depth > kMaxDepth) Corrupt();
    int slot = 0;
    while (slot < page->Count && left > page->SubCount(slot)) left -= page->SubCount(slot++);
    if (slot == page->Count) Corrupt();
    TPage* parent = page;
    page = FetchChild(page, slot, pins);
    CheckFirstKey(*parent, slot, *page);
  }
  if (left > static_cast<std::uint32_t>(page->Count)) Corrupt();
  return {page->Offset, static_cast<int>(left) - 1, n};
}

bool TIndexFile::NextPosition(TKeyPosition& position) {
  if (position.Page == 0) return false;
  TPins pins(*this);
  TPage* page = FetchPage(current_, position.Page, pins);
  if (!page->IsLeaf() || page->Free) Corrupt();
  const bool onEntry = position.Slot >= 0 && position.Slot < page->Count;
  if (position.Slot + 1 < page->Count) {
    if (onEntry) CheckStep(*page, position.Slot, *page, position.Slot + 1, true);
    ++position.Slot;
    ++position.Ordinal;
    return true;
  }
  if (page->NextPage == 0) return false;
  TPage* next = FetchPage(current_, page->NextPage, pins);
  if (next->PageType != kLeafPage || next->Count == 0 || next->Free) Corrupt();
  if (onEntry) CheckStep(*page, position.Slot, *next, 0, true);
  position = {next->Offset, 0, position.Ordinal + 1};
  return true;
}

bool TIndexFile::PriorPosition(TKeyPosition& position) {
  if (position.Page == 0) return false;
  TPins pins(*this);
  TPage* page = FetchPage(current_, position.Page, pins);
  if (!page->IsLeaf() || page->Free) Corrupt();
  const bool onEntry = position.Slot >= 0 && position.Slot < page->Count;
  if (position.Slot > 0) {
    if (onEntry) CheckStep(*page, position.Slot, *page, position.Slot - 1, false);
    --position.Slot;
    --position.Ordinal;
    return true;
  }
  if (page->PrevPage == 0) return false;
  TPage* prior = FetchPage(current_, page->PrevPage, pins);
  if (prior->PageType != kLeafPage || prior->Count == 0 || prior->Free) Corrupt();
  if (onEntry) CheckStep(*page, position.Slot, *prior, prior->Count - 1, false);
  position = {prior->Offset, prior->Count - 1, position.Ordinal - 1};
  return true;
}

bool TIndexFile::ReadPosition(const TKeyPosition& position, TKey* key, std::uint32_t* recordNumber) {
  if (position.Page == 0) return false;
  TPins pins(*this);
  TPage* page = FetchPage(current_, position.Page, pins);
  if (!page->IsLeaf() || page->Free || position.Slot < 0 || position.Slot >= page->Count) return false;
  if (key) key->assign(page->Key(position.Slot), page->Key(position.Slot) + format_.KeyLength);
  if (recordNumber) *recordNumber = page->Value(position.Slot);
  return true;
}

std::uint32_t TIndexFile::ConsecutiveRecordsAhead(const TKeyPosition& position, std::uint32_t first,
                                                  std::uint32_t limit, int leaves) {
  if (position.Page == 0 || position.Slot < 0) return 0;
  TPins pins(*this);
  TPage* page = FetchPage(current_, position.Page, pins);
  std::uint32_t n = 0;
  // The leaves read ahead must still be cached when the walk reaches them.
  leaves = std::min(leaves, kPageCacheSize / 2);
  for (int slot = position.Slot;; slot = 0) {
    if (!page->IsLeaf() || page->Free) return n;
    for (; slot < page->Count && n < limit; ++slot, ++n) {
      if (page->Value(slot) != first + n) return n;
    }
    if (n >= limit || page->NextPage == 0 || --leaves <= 0) return n;
    TPage* next = FetchPage(current_, page->NextPage, pins);
    pins.Release(page);
    if (next->PageType != kLeafPage || next->Count == 0) return n;
    page = next;
  }
}

std::uint32_t TIndexFile::CountKeysInRange(const std::uint8_t* low, const std::uint8_t* high) {
  RequireTree();
  if (comparer_.Compare(low, high, format_.KeyLength) > 0) return 0;
  std::uint32_t first = LowerBound(low, format_.KeyLength).Ordinal;
  std::uint32_t after = UpperBound(high, format_.KeyLength).Ordinal;
  return after > first ? after - first : 0;
}

void TIndexFile::MarkRecordsInRange(const std::uint8_t* low, const std::uint8_t* high,
                                    std::vector<std::uint8_t>& bitmap) {
  std::fill(bitmap.begin(), bitmap.end(), 0);
  RequireTree();
  if (comparer_.Compare(low, high, format_.KeyLength) > 0) return;
  TKeyPosition position = LowerBound(low, format_.KeyLength);
  std::uint32_t left = KeyCount();
  TKey key;
  std::uint32_t record = 0;
  while (left-- > 0 && ReadPosition(position, &key, &record)) {
    if (comparer_.Compare(key.data(), high, format_.KeyLength) > 0) break;
    std::size_t byte = (record - 1) / 8;
    if (record >= 1 && byte < bitmap.size()) bitmap[byte] |= static_cast<std::uint8_t>(1u << ((record - 1) % 8));
    if (!NextPosition(position)) break;
  }
}

}  // namespace quillon::engine
