// TIndexFile: the table's index file (<name>.IDX), owned by its TDataFile. It holds every index
// of the table (primary, up to 30 secondaries and the deleted-records index "Sys Deleted"), each a
// B+-tree of 4,096-byte pages whose entries with children carry the number of keys below them, so
// that ordinals, record numbers and range sizes come from a descent without visiting leaves.
//
// The header page and the index descriptors are mapped byte by byte in index_format.h; the page
// layout is in index_page.h, key bytes and order in index_key.h.
//
// Invariants:
//  1. The cached header is the file's header as last read or as it will be written;
//     HeaderChanged() says it differs from the file. Every header write increments ChangeCounter,
//     and a write-back writes the dirty pages before the header.
//  2. In every tree: keys ascend under the index's comparison along each level; an entry with a
//     child carries the child's first key and the exact number of keys below it; all leaves are
//     on one level; PrevPage/NextPage link each level from left to right; the root is type 0 or
//     3, other pages 1 or 2.
//  3. A page is on at most one of: its index's tree, its index's free list. Free pages are never
//     handed to another index.
//  4. Every page read is checked (type, entry count, bytes, child offsets inside the file, a
//     depth bound): damaged files give err::kIndexPagesCorrupt, never a crash or an endless walk.
//  5. A tree operation reads the pages of its path and checks the room for new pages before its
//     first change; only pages read later in a cascading split or merge can still fail it.
//  6. A pinned page is never evicted; operations pin the pages they hold and release them on
//     every way out.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/file_handler.h"
#include "engine/index_format.h"
#include "engine/index_key.h"
#include "engine/index_page.h"
#include "engine/system_list.h"
#include "engine/table_format.h"

namespace quillon::engine {

class TDataFile;

// A place in the current index: a leaf entry and its 1-based ordinal among all keys of the
// index. Page 0 means after the last key (Ordinal = key count + 1) or an empty index. A position
// holds until the index changes; after a change the cursor finds its key again.
struct TKeyPosition {
  std::uint32_t Page = 0;
  int Slot = 0;
  std::uint32_t Ordinal = 0;
};

class TIndexFile : public TFileHandler {
 public:
  static constexpr int kPhysicalOrder = 255;
  static constexpr int kSlotCount = kIndexSlotCount;
  static constexpr int kPageCacheSize = 31;
  static constexpr int kTransactionCacheGrowth = 64;
  static constexpr std::uint32_t kMaxPageOffset = 2000000000;

  explicit TIndexFile(TDataFile& owner);
  ~TIndexFile() override;

  // The extension becomes ".IDX" unless it already is one (any case).
  std::string NormalizeName(const std::string& name) const override;
  // Reads the header (Version 3, else err::kWrongVersion) and selects index 0.
  void Open() override;
  // Forgets the cached pages without writing them (the data file writes back before closing).
  void Close() override;
  // Creates the file with a fresh header in memory (Version 3, NextPageOffset 4,096, slot 31
  // "Sys Deleted" with KeyLength 5, HeaderDirty 1); nothing is written until a write-back.
  void CreateNew() override;

  // Checks an index descriptor against the table's fields and the secondary names already
  // present, fills in KeyLength and KeyFieldCount, and raises the index errors (err::kIndexLimits,
  // err::kIndexNameMissing, err::kInvalidIndexName, err::kInvalidIndexField, err::kInvalidKeySize, err::kIndexExists,
  // err::kInvalidIndexFieldType) naming the table's data file.
  static TIndexDescriptor CheckDescriptor(const TIndexDescriptor& descriptor, bool primary, bool allowEmptyPrimary,
                                          const std::vector<TFieldDescriptor>& fields,
                                          const std::vector<std::string>& secondaryNames,
                                          const std::string& dataFileName);
  void AddPrimaryIndex(const TIndexDescriptor& descriptor, bool allowEmpty);  // exclusive only (err::kMustBeExclusive)
  void AddSecondaryIndex(const TIndexDescriptor& descriptor);                 // exclusive only (err::kMustBeExclusive)
  // Truncates to the header page and empties every index.
  void EmptyIndexFile();

  int IndexCount() const { return header_.SecondaryIndexCount; }
  TIndexDescriptor GetIndexDescriptor(int number) const;  // 0..31
  std::array<std::int16_t, kMaxKeyFields> GetKeyFields(int number) const {
    return GetIndexDescriptor(number).KeyFields;
  }
  bool NoPrimaryIndex() const { return header_.NoPrimaryIndex == 1; }
  std::uint32_t RecordCount() const { return header_.RecordCount; }
  void SetRecordCount(std::uint32_t count);
  void IncrementRecordCount() { SetRecordCount(RecordCount() + 1); }
  void DecrementRecordCount() { SetRecordCount(RecordCount() > 0 ? RecordCount() - 1 : 0); }
  std::uint32_t NextPageOffset() const { return header_.NextPageOffset; }

  // ---- The current index -----------------------------------------------------------------
  // 0..30 (existing ones), 31 the deleted-records index, 255 physical order (no key
  // operations). An unknown index raises err::kInvalidIndexName.
  void SelectIndex(int number);
  // Case-insensitive over the secondary names; an empty name selects index 0.
  void SelectIndex(const std::string& name);
  int CurrentIndex() const { return current_; }
  // Whether the current index is a real tree (not physical order, not a missing primary).
  bool HasCurrentTree() const;
  const TIndexDescriptor& CurrentDescriptor() const { return descriptor_; }
  const std::string& CurrentIndexName() const { return descriptor_.IndexName; }
  int KeyLength() const { return descriptor_.KeyLength; }
  // A secondary index without Unique: its keys end with the row identifier.
  bool IsNonUniqueSecondary(int number) const;

  // The key of index `number` for a record buffer (the deleted-records key for index 31).
  TKey BuildKey(int number, const std::uint8_t* record) const;
  // The current index's comparison over `length` bytes: -1, 0, 1.
  int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, int length) const {
    return comparer_.Compare(a, b, length);
  }

  // ---- Tree operations on the current index; keys are KeyLength() bytes -------------------
  bool ContainsKey(const std::uint8_t* key);
  void InsertKey(const std::uint8_t* key, std::uint32_t recordNumber);
  // err::kKeyNotFound when absent. With a record number, the entry of that record among equal keys.
  void DeleteKey(const std::uint8_t* key, std::uint32_t recordNumber = 0);
  void ReplaceKey(const std::uint8_t* oldKey, const std::uint8_t* newKey, std::uint32_t recordNumber);
  // Primary and unique indexes: err::kDuplicateKey naming the index ("Primary") when the key is present.
  void CheckDuplicate(const std::uint8_t* key);
  bool ContainsKey(const TKey& key) { return ContainsKey(key.data()); }
  void InsertKey(const TKey& key, std::uint32_t recordNumber) { InsertKey(key.data(), recordNumber); }
  void DeleteKey(const TKey& key, std::uint32_t recordNumber = 0) { DeleteKey(key.data(), recordNumber); }

  // ---- Positions for the cursor (all from subtree counts) --------------------------------
  std::uint32_t KeyCount();
  // The first key not less than `key` over `length` bytes, or the first greater one.
  TKeyPosition LowerBound(const std::uint8_t* key, int length);
  TKeyPosition UpperBound(const std::uint8_t* key, int length);
  // The key with ordinal n (1..KeyCount()), else an empty position.
  TKeyPosition PositionAtOrdinal(std::uint32_t n);
  TKeyPosition FirstPosition() { return PositionAtOrdinal(1); }
  TKeyPosition LastPosition() { return PositionAtOrdinal(KeyCount()); }
  // Steps along the leaf level; false (position unchanged) at either end.
  bool NextPosition(TKeyPosition& position);
  bool PriorPosition(TKeyPosition& position);
  // The key and record number at a position; false when it is not on an entry.
  bool ReadPosition(const TKeyPosition& position, TKey* key, std::uint32_t* recordNumber);
  // How many entries from `position` on, forward along the leaf level, name the records first,
  // first + 1, first + 2, ...; at most `limit`, and over at most `leaves` leaves (the position's
  // own counts). The leaves it crosses are read as a step would read them, so a walk that
  // follows finds them cached.
  std::uint32_t ConsecutiveRecordsAhead(const TKeyPosition& position, std::uint32_t first, std::uint32_t limit,
                                        int leaves);
  // Keys k with low <= k <= high over KeyLength() bytes.
  std::uint32_t CountKeysInRange(const std::uint8_t* low, const std::uint8_t* high);
  // Clears the bitmap, then sets bit r - 1 of every record r of a key inside [low, high].
  void MarkRecordsInRange(const std::uint8_t* low, const std::uint8_t* high, std::vector<std::uint8_t>& bitmap);

  // Selects the first index (primary first, then the secondaries in order) whose first key field
  // is fieldNumber and, for a string field, whose CaseInsensitive flag is the wanted one unless
  // any case will do; false (selection unchanged) when there is none or the table has no primary index.
  bool SelectIndexForField(int fieldNumber, bool caseInsensitive, bool anyCase);

  // ---- Cache and write-back ---------------------------------------------------------------
  // Writes the dirty unpinned pages in runs of adjacent pages, then the header when it changed
  // or when forced.
  void WriteBack(bool forceHeader);
  // Forgets every cached page (another cursor changed the file).
  void InvalidatePages();
  int PageCacheCapacity(int number) const { return caches_[static_cast<std::size_t>(number)].Capacity(); }
  // Pages of all caches written by the last write-back, and the writes it took.
  int LastWriteBackPages = 0;
  int LastWriteBackWrites = 0;

  // The header fields of a page of the current index as the cache holds them (tests, .check).
  struct TPageSummary {
    std::uint8_t PageType = 0;
    int EntryCount = 0;
    std::uint32_t PrevPage = 0, NextPage = 0;
    std::uint16_t UsedBytes = 0;
    bool Free = false;
  };
  TPageSummary InspectPage(std::uint32_t offset);
  std::uint32_t CurrentRootPage() const { return HasCurrentTree() ? RootPage(current_) : 0; }
  std::uint32_t CurrentFreePageHead() const { return HasCurrentTree() ? FreePageHead(current_) : 0; }

  // ---- Verification -----------------------------------------------------------------------
  // Checks every tree and free list (order, first-key rule, subtree counts, level links, page
  // types, UsedBytes, page ownership). Never raises for damage: each problem is one line.
  std::vector<std::string> Verify();
  std::vector<std::string> VerifyIndex(int number);
  // The header's index count and descriptors against the table's fields.
  std::vector<std::string> VerifyDescriptors();

  // Header I/O and change detection.
  std::int32_t ChangeCounter() const { return header_.ChangeCounter; }
  std::int32_t ReadChangeCounter();  // the counter in the file now
  void ReadHeader();
  void WriteHeader(bool force);
  bool HeaderChanged() const { return headerChanged_; }

 protected:
  std::string ErrorFileName() const override;

 private:
  struct TPathStep {
    TPage* Page;
    int Slot;
  };
  using TPath = std::vector<TPathStep>;
  // The pages an operation holds; each is pinned once per Add and released on every way out.
  class TPins {
   public:
    explicit TPins(const TIndexFile& file) : file_(file) {}
    ~TPins() {
      for (std::size_t i = 0; i < count_; ++i) Unpin(At(i));
    }
    TPins(const TPins&) = delete;
    TPins& operator=(const TPins&) = delete;
    TPage* Add(TPage* page) {
      if (page->PinCount >= 64) file_.Corrupt();
      ++page->PinCount;
      // A lookup pins a page or three: those live here, without an allocation per call.
      if (count_ < kInline) {
        inline_[count_] = page;
      } else {
        more_.push_back(page);
      }
      ++count_;
      return page;
    }
    // Gives up one pin of a page the operation no longer holds.
    void Release(TPage* page) {
      for (std::size_t i = count_; i-- > 0;) {
        if (At(i) != page) continue;
        Unpin(page);
        for (std::size_t k = i; k + 1 < count_; ++k) At(k) = At(k + 1);
        if (--count_ >= kInline) more_.pop_back();
        return;
      }
    }

   private:
    static constexpr std::size_t kInline = 8;
    static void Unpin(TPage* page) {
      if (page->PinCount > 0) --page->PinCount;
    }
    TPage*& At(std::size_t i) { return i < kInline ? inline_[i] : more_[i - kInline]; }
    const TIndexFile& file_;
    std::array<TPage*, kInline> inline_{};
    std::vector<TPage*> more_;
    std::size_t count_ = 0;
  };
  enum class TDescent { Lower, Upper };
  TKeyPosition Bound(const std::uint8_t* key, int length, TDescent descent);

  void PutDescriptor(int slot, const TIndexDescriptor& descriptor);
  void CheckKeyLength(int number, const TIndexDescriptor& descriptor) const;
  void ForgetSelections();
  std::uint32_t RootPage(int number) const;
  void SetRootPage(int number, std::uint32_t offset);
  std::uint32_t FreePageHead(int number) const;
  void SetFreePageHead(int number, std::uint32_t offset);
  TPageFormat FormatOf(int number) const;
  void RequireTree() const;
  [[noreturn]] void Corrupt() const;

  // Page cache (index_file.cpp).
  TPage* FindCached(int number, std::uint32_t offset) { return caches_[static_cast<std::size_t>(number)].Find(offset); }
  TPage* TakeBuffer(int number);
  TPage* FetchPage(int number, std::uint32_t offset, TPins& pins);
  TPage* AllocatePage(int number, TPins& pins);
  void FreePage(int number, TPage* page);
  void CheckPageOffset(std::uint32_t offset) const;
  bool TransactionHeld() const;
  void WritePages(bool onlyUnpinned);

  // Tree walking (index_tree.cpp).
  TPage* FetchChild(const TPage* parent, int slot, TPins& pins);
  TPath Descend(const std::uint8_t* key, int length, TDescent mode, TPins& pins);
  std::uint32_t OrdinalOf(const TPath& path) const;
  bool StepForward(TPath& path, TPins& pins);
  bool Successor(TPath& path, int level, TPins& pins);
  bool Predecessor(TPath& path, int level, TPins& pins);
  TKeyPosition PositionOf(const TPath& path) const;
  void CheckFirstKey(const TPage& parent, int slot, const TPage& child) const;
  void CheckStep(const TPage& from, int fromSlot, const TPage& to, int toSlot, bool forward) const;
  void PropagateFirstKey(TPath& path, int level);
  void Split(TPath& path, int level, TPins& pins);
  void BalanceCompressedSplit(TPage& left, TPage& right);
  void RepairUnderflow(TPath& path, int level, TPins& pins);
  void RepairRoot(TPage* page, TPins& pins);
  TPath UnderflowNeighbour(const TPath& path, int level, bool& right, TPins& pins);
  void MergeIntoNeighbour(TPath& path, TPath& other, int level, bool right, TPins& pins);
  void Redistribute(TPath& path, TPath& other, int level, bool right);
  void ShiftCounts(TPath& from, TPath& to, int level, std::uint32_t count);
  void RemoveFromParent(TPath& path, int level, TPins& pins);
  void Unlink(TPage* page, TPins& pins);

  // Verification (index_verify.cpp).
  struct TVerifyState;
  std::vector<std::string> VerifyIndexPages(int number, std::set<std::uint32_t>& owned);
  void VerifyOwnership(std::vector<std::string>& problems, const std::set<std::uint32_t>& owned);
  std::uint64_t VerifyPage(TVerifyState& state, std::uint32_t offset, int depth, const std::uint8_t* firstKey);

  TDataFile& owner_;
  TIndexHeader header_;
  bool headerChanged_ = false;
  std::array<TBufferCache<TPage, &TPage::Offset>, kSlotCount> caches_;
  int current_ = 0;
  TIndexDescriptor descriptor_;
  TPageFormat format_;
  TKeyComparer comparer_;
  struct TSelection {
    bool Valid = false;
    TIndexDescriptor Descriptor;
    TPageFormat Format;
    TKeyComparer Comparer;
  };
  std::array<TSelection, kSlotCount> selections_;
  std::vector<std::uint8_t> pageBuffer_;
};

}  // namespace quillon::engine
