// The index verifier: walks every tree and free list of the index file and reports each broken
// invariant as one line of text. Tests run it after every operation; the shell's .check prints
// it. It reads through the page cache but never changes a page, and it is bounded on damaged
// files: each page is visited once, walks stop at a depth limit and at the file's page count.
#include <map>
#include <set>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/index_file.h"

namespace quillon::engine {

namespace {

constexpr int kMaxVerifyDepth = 64;

std::string Hex(std::uint32_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) s += digits[(v >> shift) & 15];
  return s;
}

}  // namespace

struct TIndexFile::TVerifyState {
  int Number = 0;
  std::string Name;
  std::vector<std::string>* Problems = nullptr;
  std::set<std::uint32_t>* Owned = nullptr;  // pages of every index seen so far
  std::map<int, std::vector<std::uint32_t>> Levels;
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> Links;  // prev, next
  int LeafDepth = -1;
  TKey LastKey;
  bool HaveLast = false;

  void Report(const std::string& text) const { Problems->push_back(Name + ": " + text); }
};

std::uint64_t TIndexFile::VerifyPage(TVerifyState& state, std::uint32_t offset, int depth,
                                     const std::uint8_t* firstKey) {
  const std::string where = "page " + Hex(offset);
  if (depth > kMaxVerifyDepth) {
    state.Report(where + " lies deeper than any real tree");
    return 0;
  }
  if (!state.Owned->insert(offset).second) {
    state.Report(where + " is reached twice");
    return 0;
  }
  TPage page;
  try {
    TPins pins(*this);
    page = *FetchPage(state.Number, offset, pins);
    page.PinCount = 0;
  } catch (const EEngineError& e) {
    state.Report(where + " cannot be read (" + std::to_string(e.Code()) + ")");
    return 0;
  }
  const int kl = format_.KeyLength;
  bool typeOk = depth == 0 ? page.IsRoot() : (page.PageType == kInnerPage || page.PageType == kLeafPage);
  if (!typeOk)
    state.Report(where + " has page type " + std::to_string(page.PageType) + " at depth " + std::to_string(depth));
  if (page.Free || page.Count == 0) {
    state.Report(where + " is in the tree but has no entries");
    return 0;
  }
  state.Levels[depth].push_back(offset);
  state.Links[offset] = {page.PrevPage, page.NextPage};
  if (firstKey && std::memcmp(firstKey, page.Key(0), static_cast<std::size_t>(kl)) != 0) {
    state.Report(where + ": its parent entry does not carry its first key");
  }
  for (int i = 1; i < page.Count; ++i) {
    if (comparer_.Compare(page.Key(i - 1), page.Key(i), kl) > 0)
      state.Report(where + ": entries out of order at " + std::to_string(i));
  }
  if (page.IsLeaf()) {
    if (state.LeafDepth < 0) state.LeafDepth = depth;
    if (state.LeafDepth != depth)
      state.Report(where + ": leaf at depth " + std::to_string(depth) + ", others at " +
                   std::to_string(state.LeafDepth));
    if (state.HaveLast && comparer_.Compare(state.LastKey.data(), page.Key(0), kl) > 0) {
      state.Report(where + ": first key below the previous leaf's last key");
    }
    state.LastKey.assign(page.Key(page.Count - 1), page.Key(page.Count - 1) + kl);
    state.HaveLast = true;
    if (format_.Compression != 0) {
      std::uint16_t stored = page.UsedBytes;
      page.RecountUsedBytes(format_);
      if (stored != page.UsedBytes || page.UsedBytes > kPageRoom) {
        state.Report(where + ": UsedBytes " + std::to_string(stored) + ", entries take " +
                     std::to_string(page.UsedBytes));
      }
    } else if (page.Count > format_.LeafCapacity()) {
      state.Report(where + ": more entries than a leaf holds");
    }
    return static_cast<std::uint64_t>(page.Count);
  }
  if (page.Count > format_.InnerCapacity()) state.Report(where + ": more entries than a page with children holds");
  std::uint64_t total = 0;
  for (int i = 0; i < page.Count; ++i) {
    std::uint32_t child = page.Value(i);
    if (child < kIndexPageSize || child % kIndexPageSize != 0 || child >= NextPageOffset()) {
      state.Report(where + ": child " + Hex(child) + " lies outside the file");
      continue;
    }
    std::uint64_t below = VerifyPage(state, child, depth + 1, page.Key(i));
    if (below != page.SubCount(i)) {
      state.Report(where + ": entry " + std::to_string(i) + " counts " + std::to_string(page.SubCount(i)) +
                   " keys, its subtree holds " + std::to_string(below));
    }
    total += below;
  }
  return total;
}

std::vector<std::string> TIndexFile::VerifyIndex(int number) {
  std::set<std::uint32_t> owned;
  return VerifyIndexPages(number, owned);
}

std::vector<std::string> TIndexFile::VerifyIndexPages(int number, std::set<std::uint32_t>& owned) {
  std::vector<std::string> problems;
  const int saved = current_;
  SelectIndex(number);
  TVerifyState state;
  state.Number = number;
  state.Name = number == 0 ? "Primary" : descriptor_.IndexName;
  state.Problems = &problems;
  state.Owned = &owned;
  try {
    if (HasCurrentTree()) {
      std::uint32_t root = RootPage(number);
      if (root != 0) {
        if (root < kIndexPageSize || root % kIndexPageSize != 0 || root >= NextPageOffset()) {
          state.Report("root " + Hex(root) + " lies outside the file");
        } else {
          VerifyPage(state, root, 0, nullptr);
        }
      }
      for (auto& [depth, pages] : state.Levels) {
        for (std::size_t i = 0; i < pages.size(); ++i) {
          auto [prev, next] = state.Links[pages[i]];
          std::uint32_t wantPrev = i > 0 ? pages[i - 1] : 0;
          std::uint32_t wantNext = i + 1 < pages.size() ? pages[i + 1] : 0;
          if (prev != wantPrev || next != wantNext) {
            state.Report("page " + Hex(pages[i]) + ": level links " + Hex(prev) + "/" + Hex(next) + ", expected " +
                         Hex(wantPrev) + "/" + Hex(wantNext));
          }
        }
      }
    }
    // The free list: pages of this index only, each free, no cycle, none in a tree.
    std::uint32_t offset = FreePageHead(number);
    std::set<std::uint32_t> freeSeen;
    const std::uint32_t limit = NextPageOffset() / kIndexPageSize;
    for (std::uint32_t steps = 0; offset != 0; ++steps) {
      const std::string where = "free page " + Hex(offset);
      if (steps > limit || !freeSeen.insert(offset).second) {
        state.Report(where + ": the free list runs in a cycle");
        break;
      }
      if (offset < kIndexPageSize || offset % kIndexPageSize != 0 || offset >= NextPageOffset()) {
        state.Report(where + " lies outside the file");
        break;
      }
      if (!owned.insert(offset).second) state.Report(where + " is also in use elsewhere");
      std::uint32_t next = 0;
      try {
        TPins pins(*this);
        TPage* page = FetchPage(number, offset, pins);
        if (!page->Free) state.Report(where + " has entries");
        next = page->NextPage;
      } catch (const EEngineError& e) {
        state.Report(where + " cannot be read (" + std::to_string(e.Code()) + ")");
        break;
      }
      offset = next;
    }
  } catch (const EEngineError& e) {
    state.Report("walk stopped by error " + std::to_string(e.Code()));
  }
  SelectIndex(saved);
  return problems;
}

// The header's descriptors: the index count names exactly the slots that hold indexes, and each
// descriptor is one the engine could have written for the table's fields.
std::vector<std::string> TIndexFile::VerifyDescriptors() {
  std::vector<std::string> problems;
  auto report = [&](const std::string& text) { problems.push_back("header: " + text); };
  const std::uint32_t next = NextPageOffset();
  if (next < kIndexPageSize || next % kIndexPageSize != 0 || next > kMaxPageOffset) {
    report("NextPageOffset " + Hex(next) + " is not a page boundary");
  }
  if (IndexCount() > kMaxSecondaryIndexes) report("counts " + std::to_string(IndexCount()) + " secondary indexes");
  std::vector<std::string> names;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const TIndexDescriptor& d = header_.Slots[static_cast<std::size_t>(slot)];
    const std::string where = "slot " + std::to_string(slot);
    const bool inUse = (slot == 0 && !NoPrimaryIndex()) || (slot >= 1 && slot <= IndexCount()) ||
                       (slot == kDeletedIndexSlot && !NoPrimaryIndex());
    if (!inUse) {
      // Slot 0 of a table without a primary index and the deleted-records slot keep their names.
      const bool keepsName = slot == 0 || slot == kDeletedIndexSlot;
      bool empty = d.RootPage == 0 && d.FreePageHead == 0;
      if (empty && !keepsName) empty = d.IsBlank();
      if (!empty) {
        report(where + " holds index \"" + d.IndexName + "\" (root " + Hex(d.RootPage) + ") but the header counts " +
               std::to_string(IndexCount()) + " secondary indexes");
      }
      continue;
    }
    if (slot == kDeletedIndexSlot) {
      if (d.IndexName != kDeletedIndexName || d.KeyLength != 5) report(where + " is not the deleted-records index");
      continue;
    }
    for (unsigned char ch : d.IndexName) {
      if (ch < ' ' || ch == 127) {
        report(where + ": the index name holds unprintable characters");
        break;
      }
    }
    try {
      TIndexDescriptor checked =
          CheckDescriptor(d, slot == 0, false, owner_.PhysicalFields(), names, owner_.FileName());
      if (checked.KeyLength != d.KeyLength) {
        report(where + ": key length " + std::to_string(d.KeyLength) + ", its fields make " +
               std::to_string(checked.KeyLength));
      }
    } catch (const EEngineError& e) {
      report(where + ": the descriptor is invalid (" + std::to_string(e.Code()) + ")");
    }
    if (slot >= 1) names.push_back(d.IndexName);
  }
  return problems;
}

// Every page of the file is in exactly one tree or free list: a page in none belonged to an
// index the header no longer names, or was lost by a write that never finished.
void TIndexFile::VerifyOwnership(std::vector<std::string>& problems, const std::set<std::uint32_t>& owned) {
  const std::uint32_t next = NextPageOffset();
  if (next < kIndexPageSize || next % kIndexPageSize != 0 || next > kMaxPageOffset) return;
  std::uint32_t lost = 0;
  std::uint32_t first = 0;
  for (std::uint32_t offset = kIndexPageSize; offset < next; offset += kIndexPageSize) {
    if (owned.count(offset) != 0) continue;
    if (lost++ == 0) first = offset;
  }
  if (lost > 0) {
    problems.push_back("header: " + std::to_string(lost) + (lost == 1 ? " page is" : " pages are") +
                       " in no tree and no free list, the first at " + Hex(first));
  }
}

std::vector<std::string> TIndexFile::Verify() {
  std::vector<std::string> problems = VerifyDescriptors();
  std::vector<int> numbers;
  if (!NoPrimaryIndex() && GetIndexDescriptor(0).KeyFieldCount > 0) numbers.push_back(0);
  for (int i = 1; i <= IndexCount(); ++i) numbers.push_back(i);
  if (!NoPrimaryIndex()) numbers.push_back(kDeletedIndexSlot);
  // One set of pages for all indexes: a page may belong to one tree or free list only.
  std::set<std::uint32_t> owned;
  for (int number : numbers) {
    try {
      std::vector<std::string> p = VerifyIndexPages(number, owned);
      problems.insert(problems.end(), p.begin(), p.end());
    } catch (const EEngineError& e) {
      problems.push_back("slot " + std::to_string(number) + ": the index cannot be read (" + std::to_string(e.Code()) +
                         ")");
    }
  }
  VerifyOwnership(problems, owned);
  return problems;
}

}  // namespace quillon::engine
