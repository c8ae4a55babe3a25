// The table cursor: its order (an index or physical record order), where it stands, record
// numbers, bookmarks, key searches, ranges, and filters with the record bitmaps that make filtered
// and physical-order navigation a matter of testing bits.
//
// Positions in index order come from the subtree counts of TIndexFile (ordinals, RecNo, range
// sizes: one descent, no leaf walk); stepping follows the leaf links. In physical order the cursor
// walks the Visible bitmap a 64-bit word at a time.
//
// Invariants (besides those of cursor_state.h):
//  1. Between operations CurrentRecord is the record at cursor_.RecordNumber, pinned once by the
//     cursor, or null when the cursor stands on nothing; at a crack it is the record of the entry
//     the cursor rests on.
//  2. Every operation that reads pages or records runs through Run: with StrictChangeDetection it
//     takes the read lock first; otherwise a cache miss may take it and throw ERestartOperation
//     when it finds the files changed. Run then re-evaluates bounds, bitmaps and position (by the
//     key or record number the cursor kept) and runs the operation again from scratch, so no
//     operation mixes pages from before and after another process's change. A read lock the
//     operation took is released at its end.
//  3. The tree selection of the index file is the cursor's index whenever cursor code walks a
//     tree; the record operations and filter evaluators may switch it in between.
//  4. Bitmaps are never rebuilt while a rebuild runs (a filter callback may navigate).
//
// Tables without a primary index keep deleted records in place with no deleted-records index, so
// their LiveBits comes from one pass over the Deleted bytes of the data file (and the cached
// records, which may be newer than the file) whenever the bitmaps are built from scratch.
#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "engine/record_filter.h"
#include "util/text.h"

namespace quillon::engine {

struct TDataFile::TCursorOps {
  using T = TDataFile;

  // ---- Plumbing ------------------------------------------------------------------------------

  static bool TableHasNoPrimary(T& t) {
    return t.indexFile_->NoPrimaryIndex() || t.indexFile_->GetIndexDescriptor(0).KeyFieldCount == 0;
  }

  static bool IsPhysical(T& t, int index) {
    return index == TIndexFile::kPhysicalOrder || (index == 0 && TableHasNoPrimary(t));
  }

  static bool IndexOrder(T& t) { return !t.cursor_.Physical; }

  static bool RangeInEffect(T& t) { return t.cursor_.RangeActive && !t.cursor_.Physical; }

  static void SelectTree(T& t) {
    if (IndexOrder(t) && t.indexFile_->CurrentIndex() != t.cursor_.Index) t.indexFile_->SelectIndex(t.cursor_.Index);
  }

  static int KeyLength(T& t) { return t.indexFile_->KeyLength(); }

  static std::uint32_t RecordTotal(T& t) { return t.header_.NextRecordNumber - 1; }

  static bool AnyFilterActive(T& t) {
    return std::any_of(t.cursor_.Filters.begin(), t.cursor_.Filters.end(), [](const TFilter& f) { return f.Active; });
  }

  static TFilter* FindFilter(T& t, std::uint32_t handle) {
    for (TFilter& f : t.cursor_.Filters)
      if (f.Handle == handle) return &f;
    return nullptr;
  }

  static void UnpinCurrent(T& t) {
    TRecord* record = t.CurrentRecord;
    t.CurrentRecord = nullptr;
    t.UnpinRecord(record);
  }

  // What an operation may have changed when a restart interrupts it: put back, so that the
  // operation runs again from where the cursor stood (a Next must not step twice).
  struct TSnapshot {
    int Index;
    bool Physical;
    TKeyPosition Pos;
    TKey Key;
    std::uint32_t RecordNumber, Position;
    bool AtBOF, AtEOF, RangeActive;
    TKey RangeStart, RangeEnd;
  };

  // Fills s, reusing its key buffers: a walk takes a snapshot at every step.
  static void Take(const TCursorState& c, TSnapshot& s) {
    s.Index = c.Index;
    s.Physical = c.Physical;
    s.Pos = c.Pos;
    s.Key.assign(c.Key.begin(), c.Key.end());
    s.RecordNumber = c.RecordNumber;
    s.Position = c.Position;
    s.AtBOF = c.AtBOF;
    s.AtEOF = c.AtEOF;
    s.RangeActive = c.RangeActive;
    s.RangeStart.assign(c.RangeStart.begin(), c.RangeStart.end());
    s.RangeEnd.assign(c.RangeEnd.begin(), c.RangeEnd.end());
  }

  // One snapshot per level of operations running inside one another on this thread, kept for
  // the next operation at that level.
  class TSnapshotSlot {
   public:
    TSnapshotSlot() {
      if (pool_.size() <= depth_) pool_.push_back(std::make_unique<TSnapshot>());
      snapshot_ = pool_[depth_++].get();
    }
    ~TSnapshotSlot() { --depth_; }
    TSnapshotSlot(const TSnapshotSlot&) = delete;
    TSnapshotSlot& operator=(const TSnapshotSlot&) = delete;
    TSnapshot& operator*() const { return *snapshot_; }

   private:
    TSnapshot* snapshot_;
    static inline thread_local std::vector<std::unique_ptr<TSnapshot>> pool_;
    static inline thread_local std::size_t depth_ = 0;
  };

  static void PutBack(T& t, TSnapshot& s) {
    TCursorState& c = t.cursor_;
    c.Index = s.Index;
    c.Physical = s.Physical;
    c.Pos = s.Pos;
    c.Key = std::move(s.Key);
    c.RecordNumber = s.RecordNumber;
    c.Position = s.Position;
    c.AtBOF = s.AtBOF;
    c.AtEOF = s.AtEOF;
    c.RangeActive = s.RangeActive;
    c.RangeStart = std::move(s.RangeStart);
    c.RangeEnd = std::move(s.RangeEnd);
  }

  // Whether a cache miss could throw ERestartOperation now: only when no lock that runs the change
  // check is held and the check is not run up front.
  static bool CanRestart(T& t) {
    const TLockState& l = t.locks_;
    return !t.strictChangeDetection_ && !t.LocksAreNoOps() && !l.Read && !l.Write && !l.StatementRead && !l.Transaction;
  }

  template <class F>
  static auto Run(T& t, F&& operation) -> decltype(operation()) {
    if (!t.Opened()) t.Fail(err::kInvalidFileHandle);
    const bool readHeld = t.locks_.Read;
    try {
      if (t.strictChangeDetection_) t.AcquireReadLock();
      TSnapshotSlot slot;
      for (int attempt = 0;; ++attempt) {
        bool taken = false;
        try {
          Prepare(t);
          if (CanRestart(t)) {
            Take(t.cursor_, *slot);
            taken = true;
          }
          if constexpr (std::is_void_v<decltype(operation())>) {
            operation();
            if (!readHeld) t.ReleaseReadLock();
            return;
          } else {
            auto result = operation();
            if (!readHeld) t.ReleaseReadLock();
            return result;
          }
        } catch (const ERestartOperation&) {
          // The read lock is held now, so a second restart means the lock is not protecting us.
          if (attempt >= 2) throw;
          if (taken) PutBack(t, *slot);
          t.cursor_.Stale = true;
        }
      }
    } catch (...) {
      if (!readHeld && t.locks_.Read) {
        try {
          t.ReleaseReadLock();
        } catch (...) {
        }
      }
      throw;
    }
  }

  // Brings the state up to date before an operation uses it.
  static void Prepare(T& t) {
    TCursorState& c = t.cursor_;
    SelectTree(t);
    if (c.Stale) Revalidate(t);
    if (c.BitmapMode && !c.BitmapsValid) RebuildBitmaps(t, true);
    if (c.PendingFirst) {
      // As First: before the first record, which is loaded.
      c.PendingFirst = false;
      GoFirst(t);
      if (StandingOnSomething(t)) c.AtBOF = true;
      LoadCurrent(t, 1);
    }
    if (c.PendingSeek) ResolveSeek(t);
  }

  // Finds the place of the record the cursor was put on by an insert or update.
  static void ResolveSeek(T& t) {
    TCursorState& c = t.cursor_;
    c.PendingSeek = false;
    if (c.Physical) {
      GoRecordAtOrAbove(t, c.RecordNumber);
    } else {
      TKey key = c.Key;
      if (!KeySearch(t, key, true) && !StandingOnSomething(t)) GoFirst(t);
    }
    LoadCurrent(t, 1);
  }

  // After a change of the files: fresh bounds and bitmaps, and the cursor back on its key or
  // record (at a crack, the same crack).
  static void Revalidate(T& t) {
    TCursorState& c = t.cursor_;
    c.Stale = false;
    c.PendingSeek = false;
    UnpinCurrent(t);
    SelectTree(t);
    ComputeRangeBounds(t);
    UpdateBitmapMode(t);
    c.LiveValid = false;
    c.BitmapsValid = false;
    if (c.BitmapMode) RebuildBitmaps(t, true);
    if (!c.PendingFirst) Reposition(t, true);
    LoadCurrent(t, 1);
  }

  // ---- Standing ------------------------------------------------------------------------------

  static void StandOnNothing(T& t) {
    TCursorState& c = t.cursor_;
    c.Pos = {};
    c.Key.clear();
    c.RecordNumber = 0;
    c.Position = 0;
    c.AtBOF = c.AtEOF = true;
  }

  static bool StandingOnSomething(T& t) { return t.cursor_.RecordNumber != 0; }

  // Index order: stands on the entry at p (flags untouched); false when p is no entry.
  static bool StandAt(T& t, const TKeyPosition& p) {
    TKey key;
    std::uint32_t record = 0;
    if (!t.indexFile_->ReadPosition(p, &key, &record)) return false;
    // An entry naming no record, or one the data file does not hold yet, would read as a fresh
    // empty record: the index is damaged.
    if (record == 0 || record >= t.header_.NextRecordNumber) {
      RaiseEngineError(err::kIndexPagesCorrupt, t.FileName(), {}, {},
                       t.cursor_.Index == 0 ? "Primary" : t.indexFile_->CurrentIndexName());
    }
    TCursorState& c = t.cursor_;
    c.Pos = p;
    c.Key = std::move(key);
    c.RecordNumber = record;
    c.Position = p.Ordinal;
    return true;
  }

  // One step along the leaf level. Ordinals run 1..the key count, so an ordinal outside them means
  // leaf links that loop back: a damaged file, reported instead of walked forever.
  static bool Advance(T& t, TKeyPosition& p, int direction) {
    bool moved = direction > 0 ? t.indexFile_->NextPosition(p) : t.indexFile_->PriorPosition(p);
    if (moved && (p.Ordinal == 0 || p.Ordinal > t.cursor_.KeyTotal)) {
      t.cursor_.KeyTotal = t.indexFile_->KeyCount();
      if (p.Ordinal == 0 || p.Ordinal > t.cursor_.KeyTotal) {
        RaiseEngineError(err::kIndexPagesCorrupt, t.FileName(), {}, {},
                         t.cursor_.Index == 0 ? "Primary" : t.indexFile_->CurrentIndexName());
      }
    }
    return moved;
  }

  static std::uint32_t RecordAt(T& t, const TKeyPosition& p) {
    std::uint32_t record = 0;
    if (!t.indexFile_->ReadPosition(p, nullptr, &record)) return 0;
    return record;
  }

  static bool Visible(T& t, std::uint32_t record) { return !t.cursor_.BitmapMode || t.cursor_.Visible.Test(record); }

  // Physical order: stands on record r (visible) with its ordinal among the visible records.
  static void StandOnRecord(T& t, std::uint32_t r) {
    TCursorState& c = t.cursor_;
    c.Pos = {};
    c.Key.clear();
    c.RecordNumber = r;
    c.Position = c.Visible.CountUpTo(r);
    c.AtBOF = c.AtEOF = false;
  }

  // ---- Few visible records in index order -----------------------------------------------------

  // A filter that leaves a handful of records visible would otherwise make First, Last and every
  // step walk the index entry by entry past everything it hides (tens of thousands of entries for
  // an artist's albums in primary order). Every key of an index is unique (a non-unique secondary
  // index's keys end with the row identifier), so the visible entry next to a key is the one with
  // the nearest key among the visible records' own keys. Answers kUnknown where that cannot be
  // relied on (many visible records, computed fields, an entry that does not match its record:
  // a damaged index or one another process is changing), and the caller walks as before.
  static constexpr std::uint32_t kFewVisible = 64;
  enum class TNearest { kNone, kFound, kUnknown };

  static TNearest NearestVisible(T& t, const TKey* from, int direction, TKeyPosition& out) {
    TCursorState& c = t.cursor_;
    if (!c.BitmapMode || c.Physical || c.VisibleCount > kFewVisible || t.hasComputed_) return TNearest::kUnknown;
    const int length = KeyLength(t);
    if (from && static_cast<int>(from->size()) < length) return TNearest::kUnknown;
    TKey best;
    std::uint32_t bestRecord = 0;
    for (std::uint32_t r = c.Visible.NextSet(1); r != TRecordBitmap::kNone; r = c.Visible.NextSet(r + 1)) {
      if (r >= t.header_.NextRecordNumber) return TNearest::kUnknown;
      TRecord* record = t.FetchRecord(r, 1, 1);
      TKey key;
      try {
        key = t.indexFile_->BuildKey(c.Index, record->Data.data());
      } catch (...) {
        t.UnpinRecord(record);
        throw;
      }
      t.UnpinRecord(record);
      if (static_cast<int>(key.size()) < length) return TNearest::kUnknown;
      if (from) {
        int order = Compare(t, key, *from);
        if (direction > 0 ? order <= 0 : order >= 0) continue;
      }
      if (bestRecord == 0 || (direction > 0 ? Compare(t, key, best) < 0 : Compare(t, key, best) > 0)) {
        best = std::move(key);
        bestRecord = r;
      }
    }
    SelectTree(t);
    if (bestRecord == 0) return TNearest::kNone;
    TKeyPosition p = t.indexFile_->LowerBound(best.data(), length);
    TKey found;
    std::uint32_t record = 0;
    if (!t.indexFile_->ReadPosition(p, &found, &record) || record != bestRecord ||
        t.indexFile_->CompareKeys(found.data(), best.data(), length) != 0) {
      return TNearest::kUnknown;
    }
    out = p;
    return TNearest::kFound;
  }

  // First (direction 1) or Last (-1) answered from the visible records' keys; false when the walk
  // has to decide.
  static bool EndFromKeys(T& t, int direction) {
    TKeyPosition p;
    switch (NearestVisible(t, nullptr, direction, p)) {
      case TNearest::kNone:
        StandOnNothing(t);
        return true;
      case TNearest::kFound:
        if (StandAt(t, p)) {
          t.cursor_.AtBOF = t.cursor_.AtEOF = false;
        } else {
          StandOnNothing(t);
        }
        return true;
      case TNearest::kUnknown:
        break;
    }
    return false;
  }

  // ---- First, last, moving -------------------------------------------------------------------

  static void GoFirst(T& t) {
    TCursorState& c = t.cursor_;
    if (c.Physical) {
      std::uint32_t r = c.Visible.NextSet(1);
      if (r == TRecordBitmap::kNone) return StandOnNothing(t);
      StandOnRecord(t, r);
      return;
    }
    if (c.BitmapMode && c.VisibleCount == 0) return StandOnNothing(t);
    std::uint32_t first = 1;
    if (RangeInEffect(t)) {
      if (c.RangeFirst == 0) return StandOnNothing(t);
      first = c.RangeFirst;
    }
    if (EndFromKeys(t, 1)) return;
    TKeyPosition p = t.indexFile_->PositionAtOrdinal(first);
    if (!StandAt(t, p)) return StandOnNothing(t);
    if (c.BitmapMode) {
      while (!c.Visible.Test(c.RecordNumber)) {
        if (!Advance(t, p, 1) || (RangeInEffect(t) && p.Ordinal > c.RangeLast) || !StandAt(t, p)) {
          return StandOnNothing(t);
        }
      }
    }
    c.AtBOF = c.AtEOF = false;
  }

  static void GoLast(T& t) {
    TCursorState& c = t.cursor_;
    if (c.Physical) {
      std::uint32_t r = c.Visible.PriorSet(c.Visible.Size());
      if (r == TRecordBitmap::kNone) return StandOnNothing(t);
      StandOnRecord(t, r);
      return;
    }
    if (c.BitmapMode && c.VisibleCount == 0) return StandOnNothing(t);
    std::uint32_t last = t.indexFile_->KeyCount();
    if (RangeInEffect(t)) {
      if (c.RangeLast == 0) return StandOnNothing(t);
      last = c.RangeLast;
    }
    if (EndFromKeys(t, -1)) return;
    TKeyPosition p = t.indexFile_->PositionAtOrdinal(last);
    if (!StandAt(t, p)) return StandOnNothing(t);
    if (c.BitmapMode) {
      while (!c.Visible.Test(c.RecordNumber)) {
        if (!Advance(t, p, -1) || (RangeInEffect(t) && p.Ordinal < c.RangeFirst) || !StandAt(t, p)) {
          return StandOnNothing(t);
        }
      }
    }
    c.AtBOF = c.AtEOF = false;
  }

  // One visible step forward or backward; false (and the crack flag) when there is none.
  static bool Step(T& t, int direction) {
    TCursorState& c = t.cursor_;
    if (!StandingOnSomething(t)) return false;
    if (c.Physical) {
      std::uint32_t r = direction > 0 ? c.Visible.NextSet(c.RecordNumber + 1)
                                      : (c.RecordNumber > 1 ? c.Visible.PriorSet(c.RecordNumber - 1) : 0);
      if (r == TRecordBitmap::kNone) {
        (direction > 0 ? c.AtEOF : c.AtBOF) = true;
        return false;
      }
      c.RecordNumber = r;
      if (direction > 0) {
        ++c.Position;
      } else if (c.Position > 1) {
        --c.Position;
      } else {
        c.Position = c.Visible.CountUpTo(r);
      }
      c.AtBOF = c.AtEOF = false;
      return true;
    }
    const bool range = RangeInEffect(t);
    TKeyPosition p = c.Pos;
    if (c.BitmapMode) {
      // The range is part of Visible here, so the nearest visible key is inside it.
      switch (NearestVisible(t, &c.Key, direction, p)) {
        case TNearest::kNone:
          (direction > 0 ? c.AtEOF : c.AtBOF) = true;
          return false;
        case TNearest::kFound:
          if (!StandAt(t, p)) {
            (direction > 0 ? c.AtEOF : c.AtBOF) = true;
            return false;
          }
          c.AtBOF = c.AtEOF = false;
          return true;
        case TNearest::kUnknown:
          p = c.Pos;
          break;
      }
    }
    for (;;) {
      bool moved = Advance(t, p, direction);
      if (!moved) {
        (direction > 0 ? c.AtEOF : c.AtBOF) = true;
        return false;
      }
      bool outside = range && (direction > 0 ? p.Ordinal > c.RangeLast : p.Ordinal < c.RangeFirst);
      if (outside) {
        // Without bitmaps the cursor rests on the entry past the bound; with them on the last
        // visible one, which it already stands on.
        if (!c.BitmapMode) StandAt(t, p);
        (direction > 0 ? c.AtEOF : c.AtBOF) = true;
        return false;
      }
      if (c.BitmapMode && !c.Visible.Test(RecordAt(t, p))) continue;
      if (!StandAt(t, p)) {
        (direction > 0 ? c.AtEOF : c.AtBOF) = true;
        return false;
      }
      c.AtBOF = c.AtEOF = false;
      return true;
    }
  }

  // ---- Loading the current record ------------------------------------------------------------

  static std::uint32_t ReadAheadFor(T& t, int direction) {
    TCursorState& c = t.cursor_;
    const std::uint32_t limit = std::max<std::uint32_t>(t.readAheadCount_, 1);
    std::uint32_t n = 1;
    if (c.Physical) {
      // One read reaches the last visible record within the read-ahead window: under a filter
      // that hides every other record, stopping at the first hidden one would cost a read per
      // record.
      for (std::uint32_t k = 1; k < limit; ++k) {
        std::uint32_t next = direction > 0 ? c.RecordNumber + k : c.RecordNumber - k;
        if (next < 1 || next >= t.header_.NextRecordNumber) break;
        if (c.Visible.Test(next)) n = k + 1;
      }
      return n;
    }
    TKeyPosition p = c.Pos;
    while (n < limit) {
      p.Slot += direction;
      if (p.Slot < 0) break;
      std::uint32_t record = 0;
      if (!t.indexFile_->ReadPosition(p, nullptr, &record)) break;
      if (record != (direction > 0 ? c.RecordNumber + n : c.RecordNumber - n)) break;
      ++n;
    }
    return n;
  }

  // direction: +1 or -1 reads ahead in the direction of travel; 0 (a jump) reads the record alone,
  // since records next to a random target are rarely wanted.
  static void LoadCurrent(T& t, int direction) {
    TCursorState& c = t.cursor_;
    if (!StandingOnSomething(t)) {
      UnpinCurrent(t);
      return;
    }
    if (c.RecordNumber >= t.header_.NextRecordNumber) {
      // Only an index entry can name a record the data file does not hold.
      UnpinCurrent(t);
      RaiseEngineError(err::kIndexPagesCorrupt, t.FileName(), {}, {},
                       c.Index == 0 ? "Primary" : t.indexFile_->CurrentIndexName());
    }
    if (t.CurrentRecord && t.CurrentRecord->RecordNumber == c.RecordNumber) return;
    UnpinCurrent(t);
    if (direction == 0 || c.PendingSeek || t.FindCached(c.RecordNumber)) {
      Adopt(t, t.FetchRecord(c.RecordNumber, direction < 0 ? -1 : 1, 1));
      return;
    }
    const std::uint32_t count = ReadAheadFor(t, direction);
    std::uint32_t upcoming[kUpcomingRecords];
    const std::size_t n = c.Physical ? 0 : UpcomingRecords(t, direction, count, upcoming);
    Adopt(t, t.FetchRecordAndUpcoming(c.RecordNumber, direction < 0 ? -1 : 1, count, upcoming, n));
  }

  // The records of the entries after the `skip` consecutive ones on the current leaf, in the
  // direction of travel: on an index whose order is not the records' own, every step would
  // otherwise miss the cache and take the read lock alone.
  static constexpr std::size_t kUpcomingRecords = 32;
  static std::size_t UpcomingRecords(T& t, int direction, std::uint32_t skip, std::uint32_t* out) {
    TKeyPosition p = t.cursor_.Pos;
    p.Slot += static_cast<int>(skip) * direction;
    std::size_t n = 0;
    for (; n < kUpcomingRecords && p.Slot >= 0; p.Slot += direction) {
      if (!t.indexFile_->ReadPosition(p, nullptr, out + n)) break;
      ++n;
    }
    return n;
  }

  // A pinned record becomes the current one.
  static void Adopt(T& t, TRecord* record) {
    t.CurrentRecord = record;
    if (t.hasComputed_ && !record->ComputedDone) {
      t.ComputeFields(record->Data.data());
      record->ComputedDone = true;
    }
  }

  static void CopyCurrent(T& t, std::uint8_t* buffer) {
    if (!buffer) return;
    if (t.CurrentRecord) {
      std::memcpy(buffer, t.CurrentRecord->Data.data(), t.RecordBufferSize());
    } else {
      t.InitRecord(buffer);
    }
  }

  // ---- Key searches --------------------------------------------------------------------------

  static TKey KeyOf(T& t, const std::uint8_t* record) {
    if (!IndexOrder(t)) return {};
    return t.indexFile_->BuildKey(t.cursor_.Index, record);
  }

  static int Compare(T& t, const TKey& a, const TKey& b) {
    return t.indexFile_->CompareKeys(a.data(), b.data(), KeyLength(t));
  }

  // From an entry that may be hidden: forward to the next visible entry, else back to the
  // previous one, else nothing.
  static void SettleOnVisible(T& t) {
    TCursorState& c = t.cursor_;
    if (!c.BitmapMode || !StandingOnSomething(t) || c.Visible.Test(c.RecordNumber)) return;
    for (int direction : {1, -1}) {
      TKeyPosition q;
      TNearest nearest = NearestVisible(t, &c.Key, direction, q);
      if (nearest == TNearest::kUnknown) break;
      if (nearest == TNearest::kFound && StandAt(t, q)) {
        c.AtBOF = c.AtEOF = false;
        return;
      }
      if (direction < 0) return StandOnNothing(t);
    }
    TKeyPosition start = c.Pos;
    TKeyPosition p = start;
    while (Advance(t, p, 1)) {
      if (c.Visible.Test(RecordAt(t, p))) {
        StandAt(t, p);
        c.AtBOF = c.AtEOF = false;
        return;
      }
    }
    p = start;
    while (Advance(t, p, -1)) {
      if (c.Visible.Test(RecordAt(t, p))) {
        StandAt(t, p);
        c.AtBOF = c.AtEOF = false;
        return;
      }
    }
    StandOnNothing(t);
  }

  // The tree part of FindKey, GotoBookmark and GotoCurrentOf; answers found.
  static bool KeySearch(T& t, const TKey& key, bool nearest) {
    TCursorState& c = t.cursor_;
    if (!IndexOrder(t)) return false;
    const int length = KeyLength(t);
    if (static_cast<int>(key.size()) < length) return false;
    if (RangeInEffect(t) && !c.BitmapMode) {
      if (Compare(t, key, c.RangeStart) < 0) {
        GoFirst(t);
        return false;
      }
      if (Compare(t, key, c.RangeEnd) > 0) {
        GoLast(t);
        return false;
      }
    }
    TKeyPosition p = t.indexFile_->LowerBound(key.data(), length);
    TKey found;
    std::uint32_t record = 0;
    if (!t.indexFile_->ReadPosition(p, &found, &record)) {
      // Every key is less than k.
      if (nearest) {
        GoLast(t);
        if (StandingOnSomething(t)) c.AtEOF = true;
      }
      return false;
    }
    const bool equal = t.indexFile_->CompareKeys(found.data(), key.data(), length) == 0;
    if (equal && Visible(t, record)) {
      StandAt(t, p);
      c.AtBOF = c.AtEOF = false;
      return true;
    }
    if (!nearest) return false;
    StandAt(t, p);
    c.AtBOF = c.AtEOF = false;
    if (RangeInEffect(t) && !c.BitmapMode && p.Ordinal > c.RangeLast) c.AtEOF = true;
    SettleOnVisible(t);
    return false;
  }

  // Byte length of the first `fields` key fields of the cursor's index.
  static int PrefixLength(T& t, int fields) {
    const TIndexDescriptor& d = t.indexFile_->CurrentDescriptor();
    int length = 0;
    for (int i = 0; i < fields && i < d.KeyFieldCount; ++i) {
      int number = d.KeyFields[static_cast<std::size_t>(i)];
      if (number >= 1 && number <= t.PhysicalFieldCount())
        length += t.fields_[static_cast<std::size_t>(number - 1)].DataSize + 1;
    }
    return length;
  }

  static void Pad(TKey& key, int from, std::uint8_t value) {
    if (from < static_cast<int>(key.size())) std::fill(key.begin() + from, key.end(), value);
  }

  // Goes back on the record the cursor stood on. keepCrack: a cursor before the first (after the
  // last) record stays there.
  static void Reposition(T& t, bool keepCrack) {
    TCursorState& c = t.cursor_;
    const bool wasBOF = c.AtBOF, wasEOF = c.AtEOF;
    if (!StandingOnSomething(t) || (keepCrack && wasBOF)) {
      GoFirst(t);
      if (keepCrack && StandingOnSomething(t)) c.AtBOF = true;
      return;
    }
    if (keepCrack && wasEOF) {
      GoLast(t);
      if (StandingOnSomething(t)) c.AtEOF = true;
      return;
    }
    if (c.Physical) {
      GoRecordAtOrAbove(t, c.RecordNumber);
      return;
    }
    TKey key = c.Key;
    if (!KeySearch(t, key, true) && !StandingOnSomething(t)) GoFirst(t);
  }

  // Physical order: the lowest visible record >= r, else the highest one below (AtEOF set then).
  static void GoRecordAtOrAbove(T& t, std::uint32_t r) {
    TCursorState& c = t.cursor_;
    std::uint32_t found = c.Visible.NextSet(std::max<std::uint32_t>(r, 1));
    if (found != TRecordBitmap::kNone) return StandOnRecord(t, found);
    GoLast(t);
    if (StandingOnSomething(t)) c.AtEOF = true;
  }

  // ---- Ranges --------------------------------------------------------------------------------

  static void ComputeRangeBounds(T& t) {
    TCursorState& c = t.cursor_;
    if (!IndexOrder(t)) return;
    if (!c.RangeActive) {
      c.RangeFirst = 1;
      c.RangeLast = t.indexFile_->KeyCount();
      return;
    }
    c.RangeFirst = c.RangeLast = 0;
    const int length = KeyLength(t);
    if (static_cast<int>(c.RangeStart.size()) < length || static_cast<int>(c.RangeEnd.size()) < length) return;
    if (Compare(t, c.RangeStart, c.RangeEnd) > 0) return;
    std::uint32_t first = t.indexFile_->LowerBound(c.RangeStart.data(), length).Ordinal;
    std::uint32_t after = t.indexFile_->UpperBound(c.RangeEnd.data(), length).Ordinal;
    if (first == 0 || after <= first) return;
    c.RangeFirst = first;
    c.RangeLast = after - 1;
  }

  static bool KeyInRange(T& t, const TKey& key) {
    TCursorState& c = t.cursor_;
    if (key.empty()) return false;
    return Compare(t, key, c.RangeStart) >= 0 && Compare(t, key, c.RangeEnd) <= 0;
  }

  // ---- Bitmaps -------------------------------------------------------------------------------

  // Sets the records of the entries with ordinals first..last.
  static void MarkOrdinals(T& t, std::uint32_t first, std::uint32_t last, TRecordBitmap& bits) {
    if (first == 0 || first > last) return;
    TKeyPosition p = t.indexFile_->PositionAtOrdinal(first);
    for (std::uint32_t n = first; n <= last; ++n) {
      std::uint32_t record = 0;
      if (!t.indexFile_->ReadPosition(p, nullptr, &record)) break;
      bits.Set(record);
      if (n < last && !t.indexFile_->NextPosition(p)) break;
    }
  }

  static void BuildLiveBits(T& t) {
    TCursorState& c = t.cursor_;
    const std::uint32_t total = RecordTotal(t);
    c.LiveBits.Resize(0);
    if (TableHasNoPrimary(t)) {
      c.LiveBits.Resize(total, true);
      ClearDeletedByScan(t);
    } else {
      std::uint8_t liveLow[5] = {0, 0, 0, 0, 0}, liveHigh[5] = {0, 0xFF, 0xFF, 0xFF, 0xFF};
      std::uint8_t deadLow[5] = {1, 0, 0, 0, 0}, deadHigh[5] = {1, 0xFF, 0xFF, 0xFF, 0xFF};
      t.indexFile_->SelectIndex(kDeletedIndexSlot);
      try {
        std::uint32_t deleted = t.indexFile_->CountKeysInRange(deadLow, deadHigh);
        std::vector<std::uint8_t> bytes(total / 8 + 1, 0);
        bool fromLive = std::uint64_t{t.indexFile_->RecordCount()} < 2 * std::uint64_t{deleted};
        if (fromLive) {
          t.indexFile_->MarkRecordsInRange(liveLow, liveHigh, bytes);
        } else {
          t.indexFile_->MarkRecordsInRange(deadLow, deadHigh, bytes);
        }
        c.LiveBits.FromBytes(bytes, total);
        if (!fromLive) c.LiveBits.Invert();
      } catch (...) {
        SelectTree(t);
        throw;
      }
      if (IndexOrder(t)) {
        SelectTree(t);
      } else {
        t.indexFile_->SelectIndex(0);
      }
    }
    c.LiveValid = true;
  }

  // Clears the bits of records whose Deleted byte is set, reading the file in large blocks and then
  // letting the cached records, which may not be written yet, have the last word.
  static void ClearDeletedByScan(T& t) {
    TCursorState& c = t.cursor_;
    const std::uint32_t total = RecordTotal(t);
    const std::uint32_t size = t.header_.RecordSize;
    if (total == 0 || size == 0) return;
    if (!t.strictChangeDetection_ && t.AcquireReadLock()) throw ERestartOperation();
    const std::uint32_t perBlock = std::max<std::uint32_t>(1, (1u << 20) / size);
    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> one(size);
    for (std::uint32_t first = 1; first <= total; first += perBlock) {
      std::uint32_t count = std::min(perBlock, total - first + 1);
      block.assign(std::size_t{count} * size, 0);
      std::uint32_t got = t.ReadAt(t.RecordOffset(first), block.data(), static_cast<std::uint32_t>(block.size()), true);
      for (std::uint32_t k = 0; k < count && (std::uint64_t{k} + 1) * size <= got; ++k) {
        const std::uint8_t* data = block.data() + std::size_t{k} * size;
        std::uint8_t deleted = data[0];
        if (t.header_.Encrypted) {
          std::memcpy(one.data(), data, size);
          ScrambleData(one.data(), size);
          deleted = one[0];
        }
        if (deleted != 0) c.LiveBits.Clear(first + k);
      }
    }
    for (auto& record : t.recordCache_) {
      if (record->RecordNumber == 0 || record->RecordNumber > total) continue;
      c.LiveBits.Assign(record->RecordNumber, record->Data[0] == 0);
    }
  }

  static void BuildRangeBits(T& t) {
    TCursorState& c = t.cursor_;
    const std::uint32_t total = RecordTotal(t);
    c.RangeBits.Resize(0);
    c.RangeBits.Resize(total);
    std::uint32_t keys = t.indexFile_->KeyCount();
    std::uint32_t inside = c.RangeFirst != 0 ? c.RangeLast - c.RangeFirst + 1 : 0;
    if (std::uint64_t{inside} * 2 > t.indexFile_->RecordCount()) {
      MarkOrdinals(t, 1, c.RangeFirst - 1, c.RangeBits);
      MarkOrdinals(t, c.RangeLast + 1, keys, c.RangeBits);
      c.RangeBits.Invert();
    } else {
      MarkOrdinals(t, c.RangeFirst, c.RangeLast, c.RangeBits);
    }
  }

  static TRecordBitmap Candidates(T& t, std::size_t filterIndex) {
    TCursorState& c = t.cursor_;
    TRecordBitmap candidates = c.LiveBits;
    if (RangeInEffect(t)) candidates.And(c.RangeBits);
    if (c.Filters[filterIndex].AfterEarlier) {
      for (std::size_t i = 0; i < filterIndex; ++i)
        if (c.Filters[i].Active) candidates.And(c.Filters[i].Bits);
    }
    return candidates;
  }

  static bool Evaluate(T& t, TFilter& filter, const std::uint8_t* record, std::uint32_t recordNumber) {
    bool passes =
        filter.Callback ? filter.Callback(record, recordNumber) : filter.Expression->Passes(t, record, recordNumber);
    SelectTree(t);
    return passes;
  }

  static void BuildFilterBits(T& t, std::size_t filterIndex) {
    TCursorState& c = t.cursor_;
    TFilter& filter = c.Filters[filterIndex];
    TRecordBitmap bits = Candidates(t, filterIndex);
    const std::uint32_t total = bits.Size();
    if (filter.Expression && !filter.Callback) {
      std::vector<std::uint8_t> bytes = bits.ToBytes();
      filter.Expression->MarkPassing(t, bytes);
      SelectTree(t);
      TRecordBitmap passing;
      passing.FromBytes(bytes, total);
      bits.And(passing);  // an evaluator may only clear candidates
    } else {
      const std::uint32_t ahead = std::max<std::uint32_t>(t.readAheadCount_, 1);
      for (std::uint32_t r = bits.NextSet(1); r != TRecordBitmap::kNone; r = bits.NextSet(r + 1)) {
        TRecord* record = t.FetchRecord(r, 1, ahead);
        bool passes;
        try {
          if (t.hasComputed_ && !record->ComputedDone) {
            t.ComputeFields(record->Data.data());
            record->ComputedDone = true;
          }
          passes = Evaluate(t, filter, record->Data.data(), r);
        } catch (...) {
          t.UnpinRecord(record);
          throw;
        }
        t.UnpinRecord(record);
        if (!passes) bits.Clear(r);
      }
    }
    filter.Bits = std::move(bits);
  }

  static void ComputeVisible(T& t) {
    TCursorState& c = t.cursor_;
    c.Visible = c.LiveBits;
    if (RangeInEffect(t)) c.Visible.And(c.RangeBits);
    for (const TFilter& f : c.Filters)
      if (f.Active) c.Visible.And(f.Bits);
    c.VisibleCount = c.Visible.Count();
  }

  static void ReleaseBitmaps(T& t) {
    TCursorState& c = t.cursor_;
    c.LiveBits.Release();
    c.RangeBits.Release();
    c.Visible.Release();
    c.VisibleCount = 0;
    for (TFilter& f : c.Filters) f.Bits.Release();
    c.LiveValid = false;
    c.BitmapsValid = false;
  }

  struct TRebuildGuard {
    bool& flag;
    explicit TRebuildGuard(bool& f) : flag(f) { flag = true; }
    ~TRebuildGuard() { flag = false; }
  };

  // Rebuilds what the range, the filters or the order changed; from scratch (LiveBits included
  // when the files changed) when `filters` is set, else the active filters' bitmaps are kept.
  static void RebuildBitmaps(T& t, bool filters, std::size_t firstFilter = 0) {
    TCursorState& c = t.cursor_;
    if (c.Rebuilding) return;
    if (!c.BitmapMode) {
      ReleaseBitmaps(t);
      return;
    }
    TRebuildGuard guard(c.Rebuilding);
    c.BitmapsValid = false;
    if (!c.LiveValid || c.LiveBits.Size() != RecordTotal(t)) BuildLiveBits(t);
    if (filters) {
      if (RangeInEffect(t)) {
        BuildRangeBits(t);
      } else {
        c.RangeBits.Release();
      }
    }
    for (std::size_t i = filters ? 0 : firstFilter; i < c.Filters.size(); ++i) {
      TFilter& f = c.Filters[i];
      if (!f.Active) continue;
      if (filters || i == firstFilter || f.AfterEarlier || f.Bits.Size() != RecordTotal(t)) BuildFilterBits(t, i);
    }
    ComputeVisible(t);
    c.BitmapsValid = true;
  }

  // BitmapMode follows the order and the active filters; bitmaps appear and go with it.
  static void UpdateBitmapMode(T& t) {
    TCursorState& c = t.cursor_;
    bool wanted = c.Physical || AnyFilterActive(t);
    if (wanted == c.BitmapMode) return;
    c.BitmapMode = wanted;
    if (!wanted) {
      ReleaseBitmaps(t);
    } else {
      c.BitmapsValid = false;
    }
  }

  // The bits of one record after it was inserted or updated.
  static void RefreshRecordBits(T& t, std::uint32_t r) {
    TCursorState& c = t.cursor_;
    const std::uint32_t total = RecordTotal(t);
    c.LiveBits.Resize(total);
    c.Visible.Resize(total);
    if (RangeInEffect(t)) c.RangeBits.Resize(total);
    for (TFilter& f : c.Filters)
      if (f.Active) f.Bits.Resize(total);
    TRecord* record = t.FetchRecord(r);
    try {
      const std::uint8_t* data = record->Data.data();
      const bool live = data[0] == 0;
      c.LiveBits.Assign(r, live);
      bool candidate = live;
      if (RangeInEffect(t)) {
        bool inside = KeyInRange(t, KeyOf(t, data));
        c.RangeBits.Assign(r, inside);
        candidate = candidate && inside;
      }
      bool visible = candidate;
      bool allEarlier = true;
      for (TFilter& f : c.Filters) {
        if (!f.Active) continue;
        bool passes = candidate && (!f.AfterEarlier || allEarlier) && Evaluate(t, f, data, r);
        f.Bits.Assign(r, passes);
        allEarlier = allEarlier && passes;
        visible = visible && passes;
      }
      bool was = c.Visible.Test(r);
      c.Visible.Assign(r, visible);
      if (was != visible) visible ? ++c.VisibleCount : --c.VisibleCount;
    } catch (...) {
      t.UnpinRecord(record);
      throw;
    }
    t.UnpinRecord(record);
  }

  static void ClearRecordBits(T& t, std::uint32_t r) {
    TCursorState& c = t.cursor_;
    c.LiveBits.Clear(r);
    c.RangeBits.Clear(r);
    for (TFilter& f : c.Filters) f.Bits.Clear(r);
    if (c.Visible.Test(r)) {
      c.Visible.Clear(r);
      --c.VisibleCount;
    }
  }

  // After a filter was activated, changed, deactivated or removed.
  static void FiltersChanged(T& t, std::size_t changedIndex, bool rebuildChanged) {
    TCursorState& c = t.cursor_;
    const bool wasOn = c.BitmapMode;
    UpdateBitmapMode(t);
    if (c.BitmapMode) {
      if (!wasOn || !c.BitmapsValid) {
        RebuildBitmaps(t, true);
      } else if (rebuildChanged) {
        RebuildBitmaps(t, false, changedIndex);
      } else {
        ComputeVisible(t);
      }
    }
    Reposition(t, true);
    if (c.BitmapMode && StandingOnSomething(t) && !c.AtBOF && !c.AtEOF && !c.Visible.Test(c.RecordNumber)) {
      if (c.Physical) {
        GoRecordAtOrAbove(t, c.RecordNumber);
      } else {
        SettleOnVisible(t);
      }
    }
    LoadCurrent(t, 1);
  }

  // The record operations told us about record r; the cursor ends on `key` (index order) or on
  // the record at or above r (physical order).
  static void AfterChange(T& t, std::uint32_t r, const TKey& key) {
    TCursorState& c = t.cursor_;
    c.PendingFirst = false;
    c.PendingSeek = false;
    UnpinCurrent(t);
    if (c.Physical) {
      GoRecordAtOrAbove(t, r);
    } else if (!KeySearch(t, key, true) && !StandingOnSomething(t)) {
      GoFirst(t);
    }
    LoadCurrent(t, 1);
  }

  // After an insert or update of record r: when the cursor can stand on r itself (live, visible,
  // inside the range) it does so at once and leaves finding its place to the next operation;
  // otherwise it moves as after any change.
  static void AfterChangeOn(T& t, std::uint32_t r) {
    TCursorState& c = t.cursor_;
    c.PendingFirst = false;
    c.PendingSeek = false;
    UnpinCurrent(t);
    TRecord* record = t.FetchRecord(r);
    TKey key;
    bool direct;
    try {
      key = KeyOf(t, record->Data.data());
      direct = record->Data[0] == 0 && (!c.BitmapMode || (c.BitmapsValid && c.Visible.Test(r))) &&
               (!RangeInEffect(t) || KeyInRange(t, key));
    } catch (...) {
      t.UnpinRecord(record);
      throw;
    }
    if (!direct) {
      t.UnpinRecord(record);
      return AfterChange(t, r, key);
    }
    c.Pos = {};
    c.Key = std::move(key);
    c.RecordNumber = r;
    c.Position = 0;
    c.AtBOF = c.AtEOF = false;
    c.PendingSeek = true;
    Adopt(t, record);
  }

  // Under the write lock of a record operation: a change check may have found another cursor's
  // changes, which the incremental updates cannot follow.
  static bool CatchUpAfterChangeCheck(T& t) {
    TCursorState& c = t.cursor_;
    if (!c.Stale) return false;
    c.Stale = false;
    ComputeRangeBounds(t);
    c.LiveValid = false;
    c.BitmapsValid = false;
    if (c.BitmapMode) RebuildBitmaps(t, true);
    return true;
  }
};

// ---- Hooks of the file layer ---------------------------------------------------------------------

void TDataFile::CursorOpened() {
  cursor_ = TCursorState{};
  cursor_.Index = 0;
  cursor_.Physical = TCursorOps::IsPhysical(*this, 0);
  cursor_.BitmapMode = cursor_.Physical;
  cursor_.PendingFirst = true;
  // The first record now, so that the record operations have a current record right away. A
  // damaged index must not keep the table from opening (the check tools open it to report the
  // damage): the cursor then stays unpositioned and its first move raises the error.
  try {
    TCursorOps::Run(*this, [] {});
  } catch (const EEngineError&) {
    TCursorOps::UnpinCurrent(*this);
    cursor_ = TCursorState{};
    cursor_.Physical = TCursorOps::IsPhysical(*this, 0);
    cursor_.BitmapMode = cursor_.Physical;
    cursor_.PendingFirst = true;
  }
}

void TDataFile::CursorClosed() {
  cursor_ = TCursorState{};
}

void TDataFile::CursorFilesChanged() {
  cursor_.Stale = true;
  // The record cache was emptied: the record the cursor stands on is read again when a held lock
  // makes that safe here, so a record operation under the write lock works on fresh bytes.
  std::uint32_t number = cursor_.RecordNumber;
  TCursorOps::UnpinCurrent(*this);
  bool locked = locks_.Read || locks_.Write || locks_.StatementRead || locks_.Transaction;
  if (locked && number >= 1 && number < header_.NextRecordNumber) CurrentRecord = FetchRecord(number);
}

// ---- Order -----------------------------------------------------------------------------------

void TDataFile::SelectIndex(int number) {
  TCursorOps::Run(*this, [&] {
    TCursorState& c = cursor_;
    if (number == c.Index) return;
    bool exists =
        number == TIndexFile::kPhysicalOrder || number == 0 || (number >= 1 && number <= indexFile_->IndexCount());
    const bool hadRange = c.RangeActive;
    c.RangeActive = false;
    if (!exists) {
      if (hadRange) {
        TCursorOps::ComputeRangeBounds(*this);
        if (c.BitmapMode) TCursorOps::RebuildBitmaps(*this, true);
      }
      RaiseEngineError(err::kInvalidIndexName, FileName(), {}, {}, std::to_string(number));
    }
    std::vector<std::uint8_t> record;
    if (CurrentRecord && TCursorOps::StandingOnSomething(*this)) record = CurrentRecord->Data;
    c.Index = number;
    c.Physical = TCursorOps::IsPhysical(*this, number);
    TCursorOps::SelectTree(*this);
    c.RangeStart.clear();
    c.RangeEnd.clear();
    TCursorOps::ComputeRangeBounds(*this);
    TCursorOps::UpdateBitmapMode(*this);
    if (c.BitmapMode) TCursorOps::RebuildBitmaps(*this, true);
    const bool wasBOF = c.AtBOF, wasEOF = c.AtEOF;
    if (record.empty()) {
      TCursorOps::StandOnNothing(*this);
      TCursorOps::GoFirst(*this);
    } else if (c.Physical) {
      TCursorOps::GoRecordAtOrAbove(*this, c.RecordNumber);
    } else {
      TCursorOps::KeySearch(*this, TCursorOps::KeyOf(*this, record.data()), true);
    }
    if (TCursorOps::StandingOnSomething(*this) && wasBOF != wasEOF) {
      if (wasBOF) {
        TCursorOps::GoFirst(*this);
        c.AtBOF = true;
      } else {
        TCursorOps::GoLast(*this);
        c.AtEOF = true;
      }
    }
    TCursorOps::LoadCurrent(*this, 1);
  });
}

void TDataFile::SelectIndex(const std::string& name) {
  std::string wanted = Trim(name);
  int number = -1;
  if (wanted.empty()) {
    number = 0;
  } else {
    for (int i = 1; i <= indexFile_->IndexCount(); ++i) {
      if (EqualIgnoringCase(Trim(indexFile_->GetIndexDescriptor(i).IndexName), wanted)) {
        number = i;
        break;
      }
    }
  }
  if (number >= 0) return SelectIndex(number);
  TCursorOps::Run(*this, [&] {
    if (cursor_.RangeActive) {
      cursor_.RangeActive = false;
      TCursorOps::ComputeRangeBounds(*this);
      if (cursor_.BitmapMode) TCursorOps::RebuildBitmaps(*this, true);
    }
  });
  RaiseEngineError(err::kInvalidIndexName, FileName(), {}, {}, name);
}

int TDataFile::CursorIndex() const {
  return cursor_.Index;
}

// ---- Navigation ------------------------------------------------------------------------------

void TDataFile::First() {
  TCursorOps::Run(*this, [&] {
    TCursorOps::GoFirst(*this);
    if (TCursorOps::StandingOnSomething(*this)) cursor_.AtBOF = true;
    TCursorOps::LoadCurrent(*this, 1);
  });
}

void TDataFile::Last() {
  TCursorOps::Run(*this, [&] {
    TCursorOps::GoLast(*this);
    if (TCursorOps::StandingOnSomething(*this)) cursor_.AtEOF = true;
    TCursorOps::LoadCurrent(*this, -1);
  });
}

int TDataFile::Next(std::uint8_t* buffer) {
  return TCursorOps::Run(*this, [&] {
    if (cursor_.AtBOF) {
      TCursorOps::GoFirst(*this);
    } else {
      TCursorOps::Step(*this, 1);
    }
    TCursorOps::LoadCurrent(*this, 1);
    if (cursor_.AtEOF) {
      InitRecord(buffer);
      return kAtEnd;
    }
    TCursorOps::CopyCurrent(*this, buffer);
    return 0;
  });
}

void TDataFile::ScanVisible(const TRecordVisitor& visit) {
  // The read lock first, so that the bitmaps brought up to date below stay true for the whole
  // walk and no restart can visit a record twice.
  const bool wasHeld = locks_.Read;
  AcquireReadLock();
  try {
    const bool physical = TCursorOps::Run(*this, [&] { return cursor_.Physical && cursor_.BitmapMode; });
    if (physical) {
      ScanRecords(cursor_.Visible, visit);
    } else {
      std::vector<std::uint8_t> buffer(RecordBufferSize());
      First();
      while (Next(buffer.data()) == 0) {
        if (!visit(buffer.data(), cursor_.RecordNumber)) break;
      }
    }
  } catch (...) {
    try {
      if (!wasHeld) ReleaseReadLock();
    } catch (...) {  // the walk's own failure is the one to report
    }
    throw;
  }
  if (!wasHeld) ReleaseReadLock();
}

int TDataFile::Prior(std::uint8_t* buffer) {
  return TCursorOps::Run(*this, [&] {
    if (cursor_.AtEOF) {
      TCursorOps::GoLast(*this);
    } else {
      TCursorOps::Step(*this, -1);
    }
    TCursorOps::LoadCurrent(*this, -1);
    if (cursor_.AtBOF) {
      InitRecord(buffer);
      return kAtBeginning;
    }
    TCursorOps::CopyCurrent(*this, buffer);
    return 0;
  });
}

int TDataFile::GetCurrent(std::uint8_t* buffer, bool lock) {
  return TCursorOps::Run(*this, [&] {
    if (lock && !cursor_.AtBOF && !cursor_.AtEOF) {
      TCursorOps::LoadCurrent(*this, 0);  // a new logical field list leaves no record loaded
      LockRecord(0);
      // Locking reads the record fresh; a change it found moves the cursor back by its key.
      if (cursor_.Stale) TCursorOps::Revalidate(*this);
    }
    if (cursor_.AtBOF) {
      InitRecord(buffer);
      return kAtBeginning;
    }
    if (cursor_.AtEOF) {
      InitRecord(buffer);
      return kAtEnd;
    }
    TCursorOps::LoadCurrent(*this, 1);
    TCursorOps::CopyCurrent(*this, buffer);
    return 0;
  });
}

bool TDataFile::AtBOF() const {
  return cursor_.AtBOF;
}

bool TDataFile::AtEOF() const {
  return cursor_.AtEOF;
}

std::uint32_t TDataFile::RecNo() {
  return TCursorOps::Run(*this, [&]() -> std::uint32_t {
    const TCursorState& c = cursor_;
    if (c.Physical || c.Position == 0) return c.Position;
    std::uint32_t first = TCursorOps::RangeInEffect(*this) ? c.RangeFirst : 1;
    if (first == 0 || c.Position < first) return 0;
    return c.Position - first + 1;
  });
}

void TDataFile::SetRecNo(std::int64_t n) {
  TCursorOps::Run(*this, [&] {
    TCursorState& c = cursor_;
    if (c.Physical) {
      std::uint32_t r = n < 1 ? 1 : (n > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n));
      TCursorOps::GoRecordAtOrAbove(*this, r);
      if (TCursorOps::StandingOnSomething(*this)) c.AtEOF = false;
      TCursorOps::LoadCurrent(*this, 0);
      return;
    }
    const std::int64_t first = TCursorOps::RangeInEffect(*this) ? c.RangeFirst : 1;
    if (!c.BitmapMode) {
      // Without filters the record numbers are exactly 1..the range's or the index's key count.
      const std::int64_t last = TCursorOps::RangeInEffect(*this)
                                    ? (c.RangeFirst == 0 ? 0 : std::int64_t{c.RangeLast} - c.RangeFirst + 1)
                                    : std::int64_t{indexFile_->KeyCount()};
      if (n >= 1 && n <= last) {
        TKeyPosition p = indexFile_->PositionAtOrdinal(static_cast<std::uint32_t>(n + first - 1));
        if (TCursorOps::StandAt(*this, p)) {
          c.AtBOF = c.AtEOF = false;
          return TCursorOps::LoadCurrent(*this, 0);
        }
      }
    }
    TCursorOps::GoFirst(*this);
    if (!TCursorOps::StandingOnSomething(*this)) return TCursorOps::LoadCurrent(*this, 1);
    if (n < static_cast<std::int64_t>(c.Position) - first + 1) {
      c.AtBOF = true;
      return TCursorOps::LoadCurrent(*this, 1);
    }
    TCursorOps::GoLast(*this);
    if (n > static_cast<std::int64_t>(c.Position) - first + 1) {
      c.AtEOF = true;
      return TCursorOps::LoadCurrent(*this, 1);
    }
    TKeyPosition p = indexFile_->PositionAtOrdinal(static_cast<std::uint32_t>(n + first - 1));
    if (TCursorOps::StandAt(*this, p)) {
      c.AtBOF = c.AtEOF = false;
      TCursorOps::SettleOnVisible(*this);
    }
    TCursorOps::LoadCurrent(*this, 0);
  });
}

std::uint32_t TDataFile::RecordCount() {
  return TCursorOps::Run(*this, [&]() -> std::uint32_t {
    const TCursorState& c = cursor_;
    if (c.BitmapMode) return c.VisibleCount;
    if (TCursorOps::RangeInEffect(*this))
      return c.RangeFirst == 0 || c.RangeLast == 0 ? 0 : c.RangeLast - c.RangeFirst + 1;
    return indexFile_->RecordCount();
  });
}

// ---- Bookmarks -------------------------------------------------------------------------------

int TDataFile::KeySize() const {
  if (cursor_.Physical) return 4;
  return indexFile_->GetIndexDescriptor(cursor_.Index).KeyLength;
}

std::vector<std::uint8_t> TDataFile::GetBookmark() {
  return TCursorOps::Run(*this, [&] {
    std::vector<std::uint8_t> bookmark(static_cast<std::size_t>(KeySize()), 0);
    if (cursor_.Physical) {
      PutU32(bookmark.data(), cursor_.RecordNumber);
    } else if (TCursorOps::StandingOnSomething(*this)) {
      std::copy_n(cursor_.Key.begin(), std::min(bookmark.size(), cursor_.Key.size()), bookmark.begin());
    }
    return bookmark;
  });
}

void TDataFile::GotoBookmark(const std::uint8_t* bookmark) {
  TCursorOps::Run(*this, [&] {
    if (cursor_.Physical) {
      TCursorOps::GoRecordAtOrAbove(*this, GetU32(bookmark));
    } else {
      TKey key(bookmark, bookmark + KeySize());
      TCursorOps::KeySearch(*this, key, true);
    }
    TCursorOps::LoadCurrent(*this, 0);
  });
}

int TDataFile::CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const {
  if (cursor_.Physical) {
    std::uint32_t x = GetU32(a), y = GetU32(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (indexFile_->CurrentIndex() != cursor_.Index) indexFile_->SelectIndex(cursor_.Index);
  return indexFile_->CompareKeys(a, b, indexFile_->KeyLength());
}

// ---- Searches --------------------------------------------------------------------------------

bool TDataFile::FindKey(const std::uint8_t* keyOrRecord, bool isKey, bool nearest, int fields, int partial,
                        std::uint8_t* result) {
  return TCursorOps::Run(*this, [&] {
    TCursorState& c = cursor_;
    bool found = false;
    if (!c.Physical) {
      const int length = indexFile_->KeyLength();
      TKey key = isKey ? TKey(keyOrRecord, keyOrRecord + length) : TCursorOps::KeyOf(*this, keyOrRecord);
      const TIndexDescriptor& d = indexFile_->CurrentDescriptor();
      const bool nonUnique = indexFile_->IsNonUniqueSecondary(c.Index);
      const bool whole = (fields == 0 || fields >= d.KeyFieldCount) && !nonUnique && !(fields == 0 && partial >= 0);
      if (whole) {
        found = TCursorOps::KeySearch(*this, key, nearest);
      } else {
        int used = fields == 0 && nonUnique && partial < 0 ? d.KeyFieldCount : std::min<int>(fields, d.KeyFieldCount);
        int compare = (partial >= 0 ? partial + 1 : 0) + TCursorOps::PrefixLength(*this, used);
        compare = std::min(compare, length);
        TCursorOps::Pad(key, compare, d.Descending ? 0xFF : 0x00);
        TCursorOps::KeySearch(*this, key, true);
        found = TCursorOps::StandingOnSomething(*this) && !c.AtEOF && !c.AtBOF &&
                std::equal(key.begin(), key.begin() + compare, c.Key.begin());
      }
      if (c.AtEOF && TCursorOps::StandingOnSomething(*this)) TCursorOps::GoLast(*this);
    }
    TCursorOps::LoadCurrent(*this, 0);
    if (result) {
      if (TCursorOps::StandingOnSomething(*this)) {
        TCursorOps::CopyCurrent(*this, result);
      } else {
        InitRecord(result);
      }
    }
    return found;
  });
}

bool TDataFile::FindPrefix(const std::uint8_t* record, std::uint8_t* result) {
  return TCursorOps::Run(*this, [&] {
    TCursorState& c = cursor_;
    if (c.Physical) return false;
    TKey key = TCursorOps::KeyOf(*this, record);
    int length = indexFile_->KeyLength() - (indexFile_->IsNonUniqueSecondary(c.Index) ? 4 : 0);
    TKeyPosition p = indexFile_->LowerBound(key.data(), length);
    TKey found;
    std::uint32_t number = 0;
    while (indexFile_->ReadPosition(p, &found, &number)) {
      if (!std::equal(key.begin(), key.begin() + length, found.begin())) return false;
      if (TCursorOps::RangeInEffect(*this) && !c.BitmapMode && (p.Ordinal < c.RangeFirst || p.Ordinal > c.RangeLast))
        return false;
      if (TCursorOps::Visible(*this, number)) {
        TCursorOps::StandAt(*this, p);
        c.AtBOF = c.AtEOF = false;
        TCursorOps::LoadCurrent(*this, 0);
        TCursorOps::CopyCurrent(*this, result);
        return true;
      }
      if (!TCursorOps::Advance(*this, p, 1)) return false;
    }
    return false;
  });
}

int TDataFile::GotoCurrentOf(TDataFile& other) {
  return TCursorOps::Run(*this, [&] {
    TCursorState& c = cursor_;
    const bool otherOnRecord = other.CurrentRecord && other.cursor_.RecordNumber != 0;
    bool found = false;
    if (c.Physical) {
      // Record numbers only mean the same record in the same table.
      std::uint32_t r = other.cursor_.RecordNumber;
      found = otherOnRecord && EqualIgnoringCase(FileName(), other.FileName()) && c.Visible.Test(r);
      if (found) TCursorOps::StandOnRecord(*this, r);
    } else {
      TKey key(static_cast<std::size_t>(indexFile_->KeyLength()), 0);
      if (otherOnRecord) key = TCursorOps::KeyOf(*this, other.CurrentRecord->Data.data());
      found = TCursorOps::KeySearch(*this, key, false);
    }
    if (!found) {
      // The other cursor stands on a record this one may not know yet: a change check decides,
      // and when it finds changes the search runs again on the fresh files.
      if (otherOnRecord && !strictChangeDetection_ && AcquireReadLock()) throw ERestartOperation();
      return static_cast<int>(err::kRecordNotFound);
    }
    TCursorOps::LoadCurrent(*this, 0);
    return 0;
  });
}

// ---- A second cursor -------------------------------------------------------------------------

std::unique_ptr<TDataFile> TDataFile::CloneCursor() {
  if (!Opened()) Fail(err::kInvalidFileHandle);
  // An Exclusive cursor keeps unwritten records in its own cache: a second cursor could not see
  // them, and it could not open the files beside the exclusive handle anyway.
  if (Exclusive()) Fail(err::kAccessDenied);
  auto clone = std::make_unique<TDataFile>();
  clone->SetFileName(FileName());
  clone->SetReadOnly(ReadOnly());
  clone->SetInMemory(InMemory());
  clone->SetStrictChangeDetection(strictChangeDetection_);
  clone->SetForceBufferFlush(forceBufferFlush_);
  clone->LockRetryCount = LockRetryCount;
  clone->LockWaitTime = LockWaitTime;
  clone->NoDuplicateCheck = NoDuplicateCheck;
  clone->SetPasswordCallback(passwordCallback_);
  clone->Open();
  if (hasComputed_) clone->SetLogicalFields(logicalFields_);
  clone->SetComputeFields(computeFields_);
  clone->SelectIndex(cursor_.Index);
  if (cursor_.RangeActive) {
    TCursorState& c = clone->cursor_;
    c.RangeStart = cursor_.RangeStart;
    c.RangeEnd = cursor_.RangeEnd;
    c.RangeActive = true;
    TCursorOps::Run(*clone, [&] {
      TCursorOps::ComputeRangeBounds(*clone);
      if (c.BitmapMode) TCursorOps::RebuildBitmaps(*clone, true);
    });
  }
  for (const TFilter& f : cursor_.Filters) {
    std::uint32_t handle = clone->AddFilter(f.Expression, f.Callback, f.AfterEarlier);
    if (f.Active) clone->ActivateFilter(handle);
  }
  // At a crack the cursor still holds the record beside it; the clone takes the crack itself.
  if (AtBOF()) {
    clone->First();
  } else if (AtEOF()) {
    clone->Last();
  } else if (clone->GotoCurrentOf(*this) != 0) {
    clone->First();
  }
  return clone;
}

// ---- Ranges ----------------------------------------------------------------------------------

void TDataFile::SetRange(const std::uint8_t* start, bool startIsKey, int startFields, const std::uint8_t* end,
                         bool endIsKey, int endFields) {
  TCursorOps::Run(*this, [&] {
    TCursorState& c = cursor_;
    if (c.Physical) {
      c.RangeActive = true;
      return;
    }
    const int length = indexFile_->KeyLength();
    const TIndexDescriptor& d = indexFile_->CurrentDescriptor();
    const bool nonUnique = indexFile_->IsNonUniqueSecondary(c.Index);
    TKey low = startIsKey ? TKey(start, start + length) : TCursorOps::KeyOf(*this, start);
    TKey high = endIsKey ? TKey(end, end + length) : TCursorOps::KeyOf(*this, end);
    auto padded = [&](int fields) { return (fields >= 1 && fields < d.KeyFieldCount) || nonUnique; };
    auto from = [&](int fields) { return TCursorOps::PrefixLength(*this, fields == 0 ? d.KeyFieldCount : fields); };
    if (padded(startFields)) TCursorOps::Pad(low, from(startFields), d.Descending ? 0xFF : 0x00);
    if (padded(endFields)) TCursorOps::Pad(high, from(endFields), d.Descending ? 0x00 : 0xFF);
    c.RangeStart = std::move(low);
    c.RangeEnd = std::move(high);
    c.RangeActive = true;
    TCursorOps::ComputeRangeBounds(*this);
    if (c.BitmapMode) TCursorOps::RebuildBitmaps(*this, true);
    bool inside = TCursorOps::StandingOnSomething(*this) && !c.AtBOF && !c.AtEOF &&
                  TCursorOps::KeyInRange(*this, c.Key) && TCursorOps::Visible(*this, c.RecordNumber);
    if (inside) {
      TCursorOps::KeySearch(*this, TKey(c.Key), true);  // the ordinal stays, the crack flags are right again
    } else {
      TCursorOps::GoFirst(*this);
    }
    TCursorOps::LoadCurrent(*this, 1);
  });
}

void TDataFile::CancelRange() {
  TCursorOps::Run(*this, [&] {
    TCursorState& c = cursor_;
    const bool had = c.RangeActive;
    c.RangeActive = false;
    c.RangeStart.clear();
    c.RangeEnd.clear();
    if (c.Physical || !had) return;
    TCursorOps::ComputeRangeBounds(*this);
    if (c.BitmapMode) TCursorOps::RebuildBitmaps(*this, true);
    TCursorOps::Reposition(*this, true);
    TCursorOps::LoadCurrent(*this, 1);
  });
}

bool TDataFile::RangeActive() const {
  return cursor_.RangeActive;
}

// ---- Filters ---------------------------------------------------------------------------------

std::uint32_t TDataFile::AddFilter(std::shared_ptr<TFilterEvaluator> expression, TFilterCallback callback,
                                   bool afterEarlier) {
  if (!Opened()) Fail(err::kInvalidFileHandle);
  if (cursor_.Filters.size() >= static_cast<std::size_t>(kMaxFilters)) Fail(err::kTooManyFilters);
  if (!expression && !callback) Fail(err::kInvalidFilterExpression);
  TFilter filter;
  filter.Handle = cursor_.NextHandle++;
  if (cursor_.NextHandle == 0) cursor_.NextHandle = 1;
  filter.Grade = expression ? expression->OptimisationGrade() : 0;
  filter.Expression = std::move(expression);
  filter.Callback = std::move(callback);
  filter.AfterEarlier = afterEarlier;
  cursor_.Filters.push_back(std::move(filter));
  return cursor_.Filters.back().Handle;
}

int TDataFile::ActivateFilter(std::uint32_t handle) {
  if (!Opened()) Fail(err::kInvalidFileHandle);
  TFilter* filter = TCursorOps::FindFilter(*this, handle);
  if (!filter) return err::kInvalidFilterHandle;
  if (filter->Active) return 0;
  // The list changes first and only the recomputation runs (again, after a restart) under Run.
  filter->Active = true;
  const auto index = static_cast<std::size_t>(filter - cursor_.Filters.data());
  TCursorOps::Run(*this, [&] { TCursorOps::FiltersChanged(*this, index, true); });
  return 0;
}

int TDataFile::DeactivateFilter(std::uint32_t handle) {
  if (!Opened()) Fail(err::kInvalidFileHandle);
  TFilter* filter = TCursorOps::FindFilter(*this, handle);
  if (!filter) return err::kInvalidFilterHandle;
  if (!filter->Active) return 0;
  filter->Active = false;
  filter->Bits.Release();
  TCursorOps::Run(*this, [&] { TCursorOps::FiltersChanged(*this, 0, false); });
  return 0;
}

int TDataFile::RemoveFilter(std::uint32_t handle) {
  if (!Opened()) Fail(err::kInvalidFileHandle);
  auto& filters = cursor_.Filters;
  if (handle == 0) {
    filters.clear();
  } else {
    auto it = std::find_if(filters.begin(), filters.end(), [&](const TFilter& f) { return f.Handle == handle; });
    if (it == filters.end()) return err::kInvalidFilterHandle;
    filters.erase(it);
  }
  TCursorOps::Run(*this, [&] { TCursorOps::FiltersChanged(*this, 0, false); });
  return 0;
}

int TDataFile::ChangeFilterExpression(std::uint32_t handle, std::shared_ptr<TFilterEvaluator> expression) {
  if (!Opened()) Fail(err::kInvalidFileHandle);
  TFilter* filter = TCursorOps::FindFilter(*this, handle);
  if (!filter || !filter->Active) return err::kInvalidFilterHandle;
  if (!expression) return err::kInvalidFilterExpression;
  filter->Grade = expression->OptimisationGrade();
  filter->Expression = std::move(expression);
  filter->Callback = nullptr;
  const auto index = static_cast<std::size_t>(filter - cursor_.Filters.data());
  TCursorOps::Run(*this, [&] { TCursorOps::FiltersChanged(*this, index, true); });
  return 0;
}

bool TDataFile::BitmapMode() const {
  return cursor_.BitmapMode;
}

// ---- What the record operations tell the cursor ------------------------------------------------

void TDataFile::CursorAfterInsert(std::uint32_t recordNumber) {
  if (!Opened()) return;
  TCursorOps::SelectTree(*this);
  if (!TCursorOps::CatchUpAfterChangeCheck(*this)) {
    TCursorOps::ComputeRangeBounds(*this);
    if (cursor_.BitmapMode) {
      if (cursor_.BitmapsValid) {
        TCursorOps::RefreshRecordBits(*this, recordNumber);
      } else {
        TCursorOps::RebuildBitmaps(*this, true);
      }
    }
  }
  TCursorOps::AfterChangeOn(*this, recordNumber);
}

void TDataFile::CursorAfterUpdate(std::uint32_t recordNumber, bool refresh) {
  if (!Opened()) return;
  TCursorOps::SelectTree(*this);
  if (!TCursorOps::CatchUpAfterChangeCheck(*this) && refresh) {
    TCursorOps::ComputeRangeBounds(*this);
    if (cursor_.BitmapMode && cursor_.BitmapsValid) TCursorOps::RefreshRecordBits(*this, recordNumber);
  }
  TCursorOps::AfterChangeOn(*this, recordNumber);
}

void TDataFile::CursorAfterDelete(std::uint32_t recordNumber, const std::uint8_t* deletedRecord, bool refresh) {
  if (!Opened()) return;
  TCursorOps::SelectTree(*this);
  if (!TCursorOps::CatchUpAfterChangeCheck(*this) && refresh) {
    TCursorOps::ComputeRangeBounds(*this);
    if (cursor_.BitmapMode && cursor_.BitmapsValid) TCursorOps::ClearRecordBits(*this, recordNumber);
  }
  TCursorOps::AfterChange(*this, recordNumber, TCursorOps::KeyOf(*this, deletedRecord));
}

}  // namespace quillon::engine
