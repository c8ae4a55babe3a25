// The table cursor: its order (an index or physical record order), where it stands, record
// numbers, bookmarks, key searches, ranges, and filters with the record bitmaps that make filtered
// and physical-order navigation a matter of testing bits.
//
// Positions in index order come from the subtree counts of TIndexFile (ordinals, RecNo, range
// sizes: one descent, no leaf walk); stepping follows the leaf links. In physical order the cursor
// walks the Visible bitmap a 64-bit word at a time.
//
// Invariants (besides those of cursor_state.h):
//  1. Between operations the table's CurrentRecord is the record at state_.RecordNumber, pinned
//     once by the cursor, or null when the cursor stands on nothing; at a crack it is the record
//     of the entry the cursor rests on.
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
#include "engine/table_cursor.h"

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

namespace {

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
void Take(const TCursorState& c, TSnapshot& s) {
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

// Puts back what Take kept.
void PutBack(TCursorState& c, TSnapshot& s) {
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

// Up to this many visible records, NearestVisible answers from their keys.
constexpr std::uint32_t kFewVisible = 64;

void Pad(TKey& key, int from, std::uint8_t value) {
  if (from < static_cast<int>(key.size())) std::fill(key.begin() + from, key.end(), value);
}

struct TRebuildGuard {
  bool& flag;
  explicit TRebuildGuard(bool& f) : flag(f) { flag = true; }
  ~TRebuildGuard() { flag = false; }
};

}  // namespace

TTableCursor::TTableCursor(TDataFile& table) : table_(table) {}

TIndexFile& TTableCursor::IndexFile() const {
  return table_.IndexFile();
}

// ---- Plumbing ------------------------------------------------------------------------------

bool TTableCursor::TableHasNoPrimary() {
  return IndexFile().NoPrimaryIndex() || IndexFile().GetIndexDescriptor(0).KeyFieldCount == 0;
}

bool TTableCursor::IsPhysical(int index) {
  return index == TIndexFile::kPhysicalOrder || (index == 0 && TableHasNoPrimary());
}

void TTableCursor::SelectTree() {
  if (IndexOrder() && IndexFile().CurrentIndex() != state_.Index) IndexFile().SelectIndex(state_.Index);
}

int TTableCursor::KeyLength() {
  return IndexFile().KeyLength();
}

std::uint32_t TTableCursor::RecordTotal() {
  return table_.Header().NextRecordNumber - 1;
}

bool TTableCursor::AnyFilterActive() {
  return std::any_of(state_.Filters.begin(), state_.Filters.end(), [](const TFilter& f) { return f.Active; });
}

TFilter* TTableCursor::FindFilter(std::uint32_t handle) {
  for (TFilter& f : state_.Filters)
    if (f.Handle == handle) return &f;
  return nullptr;
}

void TTableCursor::UnpinCurrent() {
  TRecord* record = table_.CurrentRecord;
  table_.CurrentRecord = nullptr;
  table_.UnpinRecord(record);
}

// Whether a cache miss could throw ERestartOperation now: only when no lock that runs the change
// check is held and the check is not run up front.
bool TTableCursor::CanRestart() {
  const TLockState& l = table_.LockState();
  return !table_.StrictChangeDetection() && !table_.LocksAreNoOps() && !l.Read && !l.Write && !l.StatementRead &&
         !l.Transaction;
}

template <class F>
auto TTableCursor::Run(F&& operation) -> decltype(operation()) {
  if (!table_.Opened()) table_.Fail(err::kInvalidFileHandle);
  const bool readHeld = table_.LockState().Read;
  try {
    if (table_.StrictChangeDetection()) table_.AcquireReadLock();
    TSnapshotSlot slot;
    for (int attempt = 0;; ++attempt) {
      bool taken = false;
      try {
        Prepare();
        if (CanRestart()) {
          Take(state_, *slot);
          taken = true;
        }
        if constexpr (std::is_void_v<decltype(operation())>) {
          operation();
          if (!readHeld) table_.ReleaseReadLock();
          return;
        } else {
          auto result = operation();
          if (!readHeld) table_.ReleaseReadLock();
          return result;
        }
      } catch (const ERestartOperation&) {
        // The read lock is held now, so a second restart means the lock is not protecting us.
        if (attempt >= 2) throw;
        if (taken) PutBack(state_, *slot);
        state_.Stale = true;
      }
    }
  } catch (...) {
    if (!readHeld && table_.LockState().Read) {
      try {
        table_.ReleaseReadLock();
      } catch (...) {
      }
    }
    throw;
  }
}

// Brings the state up to date before an operation uses it.
void TTableCursor::Prepare() {
  TCursorState& c = state_;
  SelectTree();
  if (c.Stale) Revalidate();
  if (c.BitmapMode && !c.BitmapsValid) RebuildBitmaps(true);
  if (c.PendingFirst) {
    // As First: before the first record, which is loaded.
    c.PendingFirst = false;
    GoFirst();
    if (StandingOnSomething()) c.AtBOF = true;
    LoadCurrent(1);
  }
  if (c.PendingSeek) ResolveSeek();
}

// Finds the place of the record the cursor was put on by an insert or update.
void TTableCursor::ResolveSeek() {
  TCursorState& c = state_;
  c.PendingSeek = false;
  if (c.Physical) {
    GoRecordAtOrAbove(c.RecordNumber);
  } else {
    TKey key = c.Key;
    if (!KeySearch(key, true) && !StandingOnSomething()) GoFirst();
  }
  LoadCurrent(1);
}

// After a change of the files: fresh bounds and bitmaps, and the cursor back on its key or
// record (at a crack, the same crack).
void TTableCursor::Revalidate() {
  TCursorState& c = state_;
  c.Stale = false;
  c.PendingSeek = false;
  UnpinCurrent();
  SelectTree();
  ComputeRangeBounds();
  UpdateBitmapMode();
  c.LiveValid = false;
  c.BitmapsValid = false;
  if (c.BitmapMode) RebuildBitmaps(true);
  if (!c.PendingFirst) Reposition(true);
  LoadCurrent(1);
}

// ---- Standing ------------------------------------------------------------------------------

void TTableCursor::StandOnNothing() {
  TCursorState& c = state_;
  c.Pos = {};
  c.Key.clear();
  c.RecordNumber = 0;
  c.Position = 0;
  c.AtBOF = c.AtEOF = true;
}

// Index order: stands on the entry at p (flags untouched); false when p is no entry.
bool TTableCursor::StandAt(const TKeyPosition& p) {
  TKey& key = standKey_;  // swapped with the state's key below: no allocation per step
  std::uint32_t record = 0;
  if (!IndexFile().ReadPosition(p, &key, &record)) return false;
  // An entry naming no record, or one the data file does not hold yet, would read as a fresh
  // empty record: the index is damaged.
  if (record == 0 || record >= table_.Header().NextRecordNumber) {
    RaiseEngineError(err::kIndexPagesCorrupt, table_.FileName(), {}, {},
                     state_.Index == 0 ? "Primary" : IndexFile().CurrentIndexName());
  }
  TCursorState& c = state_;
  c.Pos = p;
  c.Key.swap(key);
  c.RecordNumber = record;
  c.Position = p.Ordinal;
  return true;
}

// One step along the leaf level. Ordinals run 1..the key count, so an ordinal outside them means
// leaf links that loop back: a damaged file, reported instead of walked forever.
bool TTableCursor::Advance(TKeyPosition& p, int direction) {
  bool moved = direction > 0 ? IndexFile().NextPosition(p) : IndexFile().PriorPosition(p);
  if (moved && (p.Ordinal == 0 || p.Ordinal > state_.KeyTotal)) {
    state_.KeyTotal = IndexFile().KeyCount();
    if (p.Ordinal == 0 || p.Ordinal > state_.KeyTotal) {
      RaiseEngineError(err::kIndexPagesCorrupt, table_.FileName(), {}, {},
                       state_.Index == 0 ? "Primary" : IndexFile().CurrentIndexName());
    }
  }
  return moved;
}

std::uint32_t TTableCursor::RecordAt(const TKeyPosition& p) {
  std::uint32_t record = 0;
  if (!IndexFile().ReadPosition(p, nullptr, &record)) return 0;
  return record;
}

// Physical order: stands on record r (visible) with its ordinal among the visible records.
void TTableCursor::StandOnRecord(std::uint32_t r) {
  TCursorState& c = state_;
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

TTableCursor::TNearest TTableCursor::NearestVisible(const TKey* from, int direction, TKeyPosition& out) {
  TCursorState& c = state_;
  if (!c.BitmapMode || c.Physical || c.VisibleCount > kFewVisible || table_.HasComputed()) return TNearest::kUnknown;
  const int length = KeyLength();
  if (from && static_cast<int>(from->size()) < length) return TNearest::kUnknown;
  TKey best;
  std::uint32_t bestRecord = 0;
  for (std::uint32_t r = c.Visible.NextSet(1); r != TRecordBitmap::kNone; r = c.Visible.NextSet(r + 1)) {
    if (r >= table_.Header().NextRecordNumber) return TNearest::kUnknown;
    TRecord* record = table_.FetchRecord(r, 1, 1);
    TKey key;
    try {
      key = IndexFile().BuildKey(c.Index, record->Data.data());
    } catch (...) {
      table_.UnpinRecord(record);
      throw;
    }
    table_.UnpinRecord(record);
    if (static_cast<int>(key.size()) < length) return TNearest::kUnknown;
    if (from) {
      int order = Compare(key, *from);
      if (direction > 0 ? order <= 0 : order >= 0) continue;
    }
    if (bestRecord == 0 || (direction > 0 ? Compare(key, best) < 0 : Compare(key, best) > 0)) {
      best = std::move(key);
      bestRecord = r;
    }
  }
  SelectTree();
  if (bestRecord == 0) return TNearest::kNone;
  TKeyPosition p = IndexFile().LowerBound(best.data(), length);
  TKey found;
  std::uint32_t record = 0;
  if (!IndexFile().ReadPosition(p, &found, &record) || record != bestRecord ||
      IndexFile().CompareKeys(found.data(), best.data(), length) != 0) {
    return TNearest::kUnknown;
  }
  out = p;
  return TNearest::kFound;
}

// First (direction 1) or Last (-1) answered from the visible records' keys; false when the walk
// has to decide.
bool TTableCursor::EndFromKeys(int direction) {
  TKeyPosition p;
  switch (NearestVisible(nullptr, direction, p)) {
    case TNearest::kNone:
      StandOnNothing();
      return true;
    case TNearest::kFound:
      if (StandAt(p)) {
        state_.AtBOF = state_.AtEOF = false;
      } else {
        StandOnNothing();
      }
      return true;
    case TNearest::kUnknown:
      break;
  }
  return false;
}

// ---- First, last, moving -------------------------------------------------------------------

void TTableCursor::GoFirst() {
  TCursorState& c = state_;
  if (c.Physical) {
    std::uint32_t r = c.Visible.NextSet(1);
    if (r == TRecordBitmap::kNone) return StandOnNothing();
    StandOnRecord(r);
    return;
  }
  if (c.BitmapMode && c.VisibleCount == 0) return StandOnNothing();
  std::uint32_t first = 1;
  if (RangeInEffect()) {
    if (c.RangeFirst == 0) return StandOnNothing();
    first = c.RangeFirst;
  }
  if (EndFromKeys(1)) return;
  TKeyPosition p = IndexFile().PositionAtOrdinal(first);
  if (!StandAt(p)) return StandOnNothing();
  if (c.BitmapMode) {
    while (!c.Visible.Test(c.RecordNumber)) {
      if (!Advance(p, 1) || (RangeInEffect() && p.Ordinal > c.RangeLast) || !StandAt(p)) {
        return StandOnNothing();
      }
    }
  }
  c.AtBOF = c.AtEOF = false;
}

void TTableCursor::GoLast() {
  TCursorState& c = state_;
  if (c.Physical) {
    std::uint32_t r = c.Visible.PriorSet(c.Visible.Size());
    if (r == TRecordBitmap::kNone) return StandOnNothing();
    StandOnRecord(r);
    return;
  }
  if (c.BitmapMode && c.VisibleCount == 0) return StandOnNothing();
  std::uint32_t last = IndexFile().KeyCount();
  if (RangeInEffect()) {
    if (c.RangeLast == 0) return StandOnNothing();
    last = c.RangeLast;
  }
  if (EndFromKeys(-1)) return;
  TKeyPosition p = IndexFile().PositionAtOrdinal(last);
  if (!StandAt(p)) return StandOnNothing();
  if (c.BitmapMode) {
    while (!c.Visible.Test(c.RecordNumber)) {
      if (!Advance(p, -1) || (RangeInEffect() && p.Ordinal < c.RangeFirst) || !StandAt(p)) {
        return StandOnNothing();
      }
    }
  }
  c.AtBOF = c.AtEOF = false;
}

// One visible step forward or backward; false (and the crack flag) when there is none.
bool TTableCursor::Step(int direction) {
  TCursorState& c = state_;
  if (!StandingOnSomething()) return false;
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
  const bool range = RangeInEffect();
  TKeyPosition p = c.Pos;
  if (c.BitmapMode) {
    // The range is part of Visible here, so the nearest visible key is inside it.
    switch (NearestVisible(&c.Key, direction, p)) {
      case TNearest::kNone:
        (direction > 0 ? c.AtEOF : c.AtBOF) = true;
        return false;
      case TNearest::kFound:
        if (!StandAt(p)) {
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
    bool moved = Advance(p, direction);
    if (!moved) {
      (direction > 0 ? c.AtEOF : c.AtBOF) = true;
      return false;
    }
    bool outside = range && (direction > 0 ? p.Ordinal > c.RangeLast : p.Ordinal < c.RangeFirst);
    if (outside) {
      // Without bitmaps the cursor rests on the entry past the bound; with them on the last
      // visible one, which it already stands on.
      if (!c.BitmapMode) StandAt(p);
      (direction > 0 ? c.AtEOF : c.AtBOF) = true;
      return false;
    }
    if (c.BitmapMode && !c.Visible.Test(RecordAt(p))) continue;
    if (!StandAt(p)) {
      (direction > 0 ? c.AtEOF : c.AtBOF) = true;
      return false;
    }
    c.AtBOF = c.AtEOF = false;
    return true;
  }
}

// ---- Loading the current record ------------------------------------------------------------

std::uint32_t TTableCursor::ReadAheadFor(int direction) {
  TCursorState& c = state_;
  const std::uint32_t limit = std::max<std::uint32_t>(table_.ReadAheadCount(), 1);
  std::uint32_t n = 1;
  if (c.Physical) {
    // One read reaches the last visible record within the read-ahead window: under a filter
    // that hides every other record, stopping at the first hidden one would cost a read per
    // record.
    for (std::uint32_t k = 1; k < limit; ++k) {
      std::uint32_t next = direction > 0 ? c.RecordNumber + k : c.RecordNumber - k;
      if (next < 1 || next >= table_.Header().NextRecordNumber) break;
      if (c.Visible.Test(next)) n = k + 1;
    }
    return n;
  }
  TKeyPosition p = c.Pos;
  while (n < limit) {
    p.Slot += direction;
    if (p.Slot < 0) break;
    std::uint32_t record = 0;
    if (!IndexFile().ReadPosition(p, nullptr, &record)) break;
    if (record != (direction > 0 ? c.RecordNumber + n : c.RecordNumber - n)) break;
    ++n;
  }
  return n;
}

// direction: +1 or -1 reads ahead in the direction of travel; 0 (a jump) reads the record alone,
// since records next to a random target are rarely wanted.
void TTableCursor::LoadCurrent(int direction) {
  TCursorState& c = state_;
  if (!StandingOnSomething()) {
    UnpinCurrent();
    return;
  }
  if (c.RecordNumber >= table_.Header().NextRecordNumber) {
    // Only an index entry can name a record the data file does not hold.
    UnpinCurrent();
    RaiseEngineError(err::kIndexPagesCorrupt, table_.FileName(), {}, {},
                     c.Index == 0 ? "Primary" : IndexFile().CurrentIndexName());
  }
  if (table_.CurrentRecord && table_.CurrentRecord->RecordNumber == c.RecordNumber) return;
  UnpinCurrent();
  if (direction == 0 || c.PendingSeek || table_.FindCached(c.RecordNumber)) {
    Adopt(table_.FetchRecord(c.RecordNumber, direction < 0 ? -1 : 1, 1));
    return;
  }
  if (TRecord* streamed = table_.StreamedRecord(c.RecordNumber)) {
    Adopt(streamed);
    return;
  }
  if (direction > 0) {
    // Forward over records in their own order (the primary index of an auto-numbered table,
    // physical order): the stream serves the walk, which then takes one read lock and runs one
    // change check for several read-ahead blocks and the leaves they need, not one per leaf.
    std::uint32_t ahead = WalkAhead();
    if (ahead > 1) {
      if (TRecord* streamed = table_.FetchWalkRecord(c.RecordNumber, ahead)) {
        Adopt(streamed);
        return;
      }
    }
  }
  const std::uint32_t count = ReadAheadFor(direction);
  std::uint32_t upcoming[kUpcomingRecords];
  const std::size_t n = c.Physical ? 0 : UpcomingRecords(direction, count, upcoming);
  Adopt(table_.FetchRecordAndUpcoming(c.RecordNumber, direction < 0 ? -1 : 1, count, upcoming, n));
}

// How many records from the current one on the walk forward meets in record order, within the
// stream's limit and, in index order, the range.
std::uint32_t TTableCursor::WalkAhead() {
  TCursorState& c = state_;
  const TDataFile::TWalkReach reach = table_.WalkReach(c.RecordNumber);
  const std::uint32_t limit = reach.Records;
  if (c.Physical) {
    // Hidden records inside the stretch are read and skipped, as ReadAheadFor does.
    std::uint32_t n = 1;
    const std::uint32_t end = table_.Header().NextRecordNumber;
    for (std::uint32_t r = c.Visible.NextSet(c.RecordNumber + 1); r != TRecordBitmap::kNone && r < end;
         r = c.Visible.NextSet(r + 1)) {
      if (r - c.RecordNumber >= limit) break;
      n = r - c.RecordNumber + 1;
    }
    return n;
  }
  std::uint32_t n = IndexFile().ConsecutiveRecordsAhead(c.Pos, c.RecordNumber, limit, reach.Leaves);
  if (RangeInEffect() && c.Pos.Ordinal <= c.RangeLast) n = std::min(n, c.RangeLast - c.Pos.Ordinal + 1);
  return n;
}

std::size_t TTableCursor::UpcomingRecords(int direction, std::uint32_t skip, std::uint32_t* out) {
  TKeyPosition p = state_.Pos;
  p.Slot += static_cast<int>(skip) * direction;
  std::size_t n = 0;
  for (; n < kUpcomingRecords && p.Slot >= 0; p.Slot += direction) {
    if (!IndexFile().ReadPosition(p, nullptr, out + n)) break;
    ++n;
  }
  return n;
}

// A pinned record becomes the current one.
void TTableCursor::Adopt(TRecord* record) {
  table_.CurrentRecord = record;
  if (table_.HasComputed() && !record->ComputedDone) {
    table_.ComputeFields(record->Data.data());
    record->ComputedDone = true;
  }
}

void TTableCursor::CopyCurrent(std::uint8_t* buffer) {
  if (!buffer) return;
  if (table_.CurrentRecord) {
    std::memcpy(buffer, table_.CurrentRecord->Data.data(), table_.RecordBufferSize());
  } else {
    table_.InitRecord(buffer);
  }
}

// ---- Key searches --------------------------------------------------------------------------

TKey TTableCursor::KeyOf(const std::uint8_t* record) {
  if (!IndexOrder()) return {};
  return IndexFile().BuildKey(state_.Index, record);
}

int TTableCursor::Compare(const TKey& a, const TKey& b) {
  return IndexFile().CompareKeys(a.data(), b.data(), KeyLength());
}

// From an entry that may be hidden: forward to the next visible entry, else back to the
// previous one, else nothing.
void TTableCursor::SettleOnVisible() {
  TCursorState& c = state_;
  if (!c.BitmapMode || !StandingOnSomething() || c.Visible.Test(c.RecordNumber)) return;
  for (int direction : {1, -1}) {
    TKeyPosition q;
    TNearest nearest = NearestVisible(&c.Key, direction, q);
    if (nearest == TNearest::kUnknown) break;
    if (nearest == TNearest::kFound && StandAt(q)) {
      c.AtBOF = c.AtEOF = false;
      return;
    }
    if (direction < 0) return StandOnNothing();
  }
  TKeyPosition start = c.Pos;
  TKeyPosition p = start;
  while (Advance(p, 1)) {
    if (c.Visible.Test(RecordAt(p))) {
      StandAt(p);
      c.AtBOF = c.AtEOF = false;
      return;
    }
  }
  p = start;
  while (Advance(p, -1)) {
    if (c.Visible.Test(RecordAt(p))) {
      StandAt(p);
      c.AtBOF = c.AtEOF = false;
      return;
    }
  }
  StandOnNothing();
}

// The tree part of FindKey, GotoBookmark and GotoCurrentOf; answers found.
bool TTableCursor::KeySearch(const TKey& key, bool nearest) {
  TCursorState& c = state_;
  if (!IndexOrder()) return false;
  const int length = KeyLength();
  if (static_cast<int>(key.size()) < length) return false;
  if (RangeInEffect() && !c.BitmapMode) {
    if (Compare(key, c.RangeStart) < 0) {
      GoFirst();
      return false;
    }
    if (Compare(key, c.RangeEnd) > 0) {
      GoLast();
      return false;
    }
  }
  TKeyPosition p = IndexFile().LowerBound(key.data(), length);
  TKey found;
  std::uint32_t record = 0;
  if (!IndexFile().ReadPosition(p, &found, &record)) {
    // Every key is less than k.
    if (nearest) {
      GoLast();
      if (StandingOnSomething()) c.AtEOF = true;
    }
    return false;
  }
  const bool equal = IndexFile().CompareKeys(found.data(), key.data(), length) == 0;
  if (equal && Visible(record)) {
    StandAt(p);
    c.AtBOF = c.AtEOF = false;
    return true;
  }
  if (!nearest) return false;
  StandAt(p);
  c.AtBOF = c.AtEOF = false;
  if (RangeInEffect() && !c.BitmapMode && p.Ordinal > c.RangeLast) c.AtEOF = true;
  SettleOnVisible();
  return false;
}

// Byte length of the first `fields` key fields of the cursor's index.
int TTableCursor::PrefixLength(int fields) {
  const TIndexDescriptor& d = IndexFile().CurrentDescriptor();
  int length = 0;
  for (int i = 0; i < fields && i < d.KeyFieldCount; ++i) {
    int number = d.KeyFields[static_cast<std::size_t>(i)];
    if (number >= 1 && number <= table_.PhysicalFieldCount())
      length += table_.PhysicalFields()[static_cast<std::size_t>(number - 1)].DataSize + 1;
  }
  return length;
}

// Goes back on the record the cursor stood on. keepCrack: a cursor before the first (after the
// last) record stays there.
void TTableCursor::Reposition(bool keepCrack) {
  TCursorState& c = state_;
  const bool wasBOF = c.AtBOF, wasEOF = c.AtEOF;
  if (!StandingOnSomething() || (keepCrack && wasBOF)) {
    GoFirst();
    if (keepCrack && StandingOnSomething()) c.AtBOF = true;
    return;
  }
  if (keepCrack && wasEOF) {
    GoLast();
    if (StandingOnSomething()) c.AtEOF = true;
    return;
  }
  if (c.Physical) {
    GoRecordAtOrAbove(c.RecordNumber);
    return;
  }
  TKey key = c.Key;
  if (!KeySearch(key, true) && !StandingOnSomething()) GoFirst();
}

// Physical order: the lowest visible record >= r, else the highest one below (AtEOF set then).
void TTableCursor::GoRecordAtOrAbove(std::uint32_t r) {
  TCursorState& c = state_;
  std::uint32_t found = c.Visible.NextSet(std::max<std::uint32_t>(r, 1));
  if (found != TRecordBitmap::kNone) return StandOnRecord(found);
  GoLast();
  if (StandingOnSomething()) c.AtEOF = true;
}

// ---- Ranges --------------------------------------------------------------------------------

void TTableCursor::ComputeRangeBounds() {
  TCursorState& c = state_;
  if (!IndexOrder()) return;
  if (!c.RangeActive) {
    c.RangeFirst = 1;
    c.RangeLast = IndexFile().KeyCount();
    return;
  }
  c.RangeFirst = c.RangeLast = 0;
  const int length = KeyLength();
  if (static_cast<int>(c.RangeStart.size()) < length || static_cast<int>(c.RangeEnd.size()) < length) return;
  if (Compare(c.RangeStart, c.RangeEnd) > 0) return;
  std::uint32_t first = IndexFile().LowerBound(c.RangeStart.data(), length).Ordinal;
  std::uint32_t after = IndexFile().UpperBound(c.RangeEnd.data(), length).Ordinal;
  if (first == 0 || after <= first) return;
  c.RangeFirst = first;
  c.RangeLast = after - 1;
}

bool TTableCursor::KeyInRange(const TKey& key) {
  TCursorState& c = state_;
  if (key.empty()) return false;
  return Compare(key, c.RangeStart) >= 0 && Compare(key, c.RangeEnd) <= 0;
}

// ---- Bitmaps -------------------------------------------------------------------------------

// Sets the records of the entries with ordinals first..last.
void TTableCursor::MarkOrdinals(std::uint32_t first, std::uint32_t last, TRecordBitmap& bits) {
  if (first == 0 || first > last) return;
  TKeyPosition p = IndexFile().PositionAtOrdinal(first);
  for (std::uint32_t n = first; n <= last; ++n) {
    std::uint32_t record = 0;
    if (!IndexFile().ReadPosition(p, nullptr, &record)) break;
    bits.Set(record);
    if (n < last && !IndexFile().NextPosition(p)) break;
  }
}

void TTableCursor::BuildLiveBits() {
  TCursorState& c = state_;
  const std::uint32_t total = RecordTotal();
  c.LiveBits.Resize(0);
  if (TableHasNoPrimary()) {
    c.LiveBits.Resize(total, true);
    ClearDeletedByScan();
  } else {
    std::uint8_t liveLow[5] = {0, 0, 0, 0, 0}, liveHigh[5] = {0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::uint8_t deadLow[5] = {1, 0, 0, 0, 0}, deadHigh[5] = {1, 0xFF, 0xFF, 0xFF, 0xFF};
    IndexFile().SelectIndex(kDeletedIndexSlot);
    try {
      std::uint32_t deleted = IndexFile().CountKeysInRange(deadLow, deadHigh);
      std::vector<std::uint8_t> bytes(total / 8 + 1, 0);
      bool fromLive = std::uint64_t{IndexFile().RecordCount()} < 2 * std::uint64_t{deleted};
      if (fromLive) {
        IndexFile().MarkRecordsInRange(liveLow, liveHigh, bytes);
      } else {
        IndexFile().MarkRecordsInRange(deadLow, deadHigh, bytes);
      }
      c.LiveBits.FromBytes(bytes, total);
      if (!fromLive) c.LiveBits.Invert();
    } catch (...) {
      SelectTree();
      throw;
    }
    if (IndexOrder()) {
      SelectTree();
    } else {
      IndexFile().SelectIndex(0);
    }
  }
  c.LiveValid = true;
}

// Clears the bits of records whose Deleted byte is set, reading the file in large blocks and then
// letting the cached records, which may not be written yet, have the last word.
void TTableCursor::ClearDeletedByScan() {
  TCursorState& c = state_;
  const std::uint32_t total = RecordTotal();
  const std::uint32_t size = table_.Header().RecordSize;
  if (total == 0 || size == 0) return;
  if (!table_.StrictChangeDetection() && table_.AcquireReadLock()) throw ERestartOperation();
  const std::uint32_t perBlock = std::max<std::uint32_t>(1, (1u << 20) / size);
  std::vector<std::uint8_t> block;
  std::vector<std::uint8_t> one(size);
  for (std::uint32_t first = 1; first <= total; first += perBlock) {
    std::uint32_t count = std::min(perBlock, total - first + 1);
    block.assign(std::size_t{count} * size, 0);
    std::uint32_t got =
        table_.ReadAt(table_.RecordOffset(first), block.data(), static_cast<std::uint32_t>(block.size()), true);
    for (std::uint32_t k = 0; k < count && (std::uint64_t{k} + 1) * size <= got; ++k) {
      const std::uint8_t* data = block.data() + std::size_t{k} * size;
      std::uint8_t deleted = data[0];
      if (table_.Header().Encrypted) {
        std::memcpy(one.data(), data, size);
        ScrambleData(one.data(), size);
        deleted = one[0];
      }
      if (deleted != 0) c.LiveBits.Clear(first + k);
    }
  }
  for (auto& record : table_.recordCache_) {
    if (record->RecordNumber == 0 || record->RecordNumber > total) continue;
    c.LiveBits.Assign(record->RecordNumber, record->Data[0] == 0);
  }
}

void TTableCursor::BuildRangeBits() {
  TCursorState& c = state_;
  const std::uint32_t total = RecordTotal();
  c.RangeBits.Resize(0);
  c.RangeBits.Resize(total);
  std::uint32_t keys = IndexFile().KeyCount();
  std::uint32_t inside = c.RangeFirst != 0 ? c.RangeLast - c.RangeFirst + 1 : 0;
  if (std::uint64_t{inside} * 2 > IndexFile().RecordCount()) {
    MarkOrdinals(1, c.RangeFirst - 1, c.RangeBits);
    MarkOrdinals(c.RangeLast + 1, keys, c.RangeBits);
    c.RangeBits.Invert();
  } else {
    MarkOrdinals(c.RangeFirst, c.RangeLast, c.RangeBits);
  }
}

TRecordBitmap TTableCursor::Candidates(std::size_t filterIndex) {
  TCursorState& c = state_;
  TRecordBitmap candidates = c.LiveBits;
  if (RangeInEffect()) candidates.And(c.RangeBits);
  if (c.Filters[filterIndex].AfterEarlier) {
    for (std::size_t i = 0; i < filterIndex; ++i)
      if (c.Filters[i].Active) candidates.And(c.Filters[i].Bits);
  }
  return candidates;
}

bool TTableCursor::Evaluate(TFilter& filter, const std::uint8_t* record, std::uint32_t recordNumber) {
  bool passes =
      filter.Callback ? filter.Callback(record, recordNumber) : filter.Expression->Passes(table_, record, recordNumber);
  SelectTree();
  return passes;
}

void TTableCursor::BuildFilterBits(std::size_t filterIndex) {
  TCursorState& c = state_;
  TFilter& filter = c.Filters[filterIndex];
  TRecordBitmap bits = Candidates(filterIndex);
  const std::uint32_t total = bits.Size();
  if (filter.Expression && !filter.Callback) {
    std::vector<std::uint8_t> bytes = bits.ToBytes();
    filter.Expression->MarkPassing(table_, bytes);
    SelectTree();
    TRecordBitmap passing;
    passing.FromBytes(bytes, total);
    bits.And(passing);  // an evaluator may only clear candidates
  } else {
    const std::uint32_t ahead = std::max<std::uint32_t>(table_.ReadAheadCount(), 1);
    for (std::uint32_t r = bits.NextSet(1); r != TRecordBitmap::kNone; r = bits.NextSet(r + 1)) {
      TRecord* record = table_.FetchRecord(r, 1, ahead);
      bool passes;
      try {
        if (table_.HasComputed() && !record->ComputedDone) {
          table_.ComputeFields(record->Data.data());
          record->ComputedDone = true;
        }
        passes = Evaluate(filter, record->Data.data(), r);
      } catch (...) {
        table_.UnpinRecord(record);
        throw;
      }
      table_.UnpinRecord(record);
      if (!passes) bits.Clear(r);
    }
  }
  filter.Bits = std::move(bits);
}

void TTableCursor::ComputeVisible() {
  TCursorState& c = state_;
  c.Visible = c.LiveBits;
  if (RangeInEffect()) c.Visible.And(c.RangeBits);
  for (const TFilter& f : c.Filters)
    if (f.Active) c.Visible.And(f.Bits);
  c.VisibleCount = c.Visible.Count();
}

void TTableCursor::ReleaseBitmaps() {
  TCursorState& c = state_;
  c.LiveBits.Release();
  c.RangeBits.Release();
  c.Visible.Release();
  c.VisibleCount = 0;
  for (TFilter& f : c.Filters) f.Bits.Release();
  c.LiveValid = false;
  c.BitmapsValid = false;
}

// Rebuilds what the range, the filters or the order changed; from scratch (LiveBits included
// when the files changed) when `filters` is set, else the active filters' bitmaps are kept.
void TTableCursor::RebuildBitmaps(bool filters, std::size_t firstFilter) {
  TCursorState& c = state_;
  if (c.Rebuilding) return;
  if (!c.BitmapMode) {
    ReleaseBitmaps();
    return;
  }
  TRebuildGuard guard(c.Rebuilding);
  c.BitmapsValid = false;
  if (!c.LiveValid || c.LiveBits.Size() != RecordTotal()) BuildLiveBits();
  if (filters) {
    if (RangeInEffect()) {
      BuildRangeBits();
    } else {
      c.RangeBits.Release();
    }
  }
  for (std::size_t i = filters ? 0 : firstFilter; i < c.Filters.size(); ++i) {
    TFilter& f = c.Filters[i];
    if (!f.Active) continue;
    if (filters || i == firstFilter || f.AfterEarlier || f.Bits.Size() != RecordTotal()) BuildFilterBits(i);
  }
  ComputeVisible();
  c.BitmapsValid = true;
}

// BitmapMode follows the order and the active filters; bitmaps appear and go with it.
void TTableCursor::UpdateBitmapMode() {
  TCursorState& c = state_;
  bool wanted = c.Physical || AnyFilterActive();
  if (wanted == c.BitmapMode) return;
  c.BitmapMode = wanted;
  if (!wanted) {
    ReleaseBitmaps();
  } else {
    c.BitmapsValid = false;
  }
}

// The bits of one record after it was inserted or updated.
void TTableCursor::RefreshRecordBits(std::uint32_t r) {
  TCursorState& c = state_;
  const std::uint32_t total = RecordTotal();
  c.LiveBits.Resize(total);
  c.Visible.Resize(total);
  if (RangeInEffect()) c.RangeBits.Resize(total);
  for (TFilter& f : c.Filters)
    if (f.Active) f.Bits.Resize(total);
  TRecord* record = table_.FetchRecord(r);
  try {
    const std::uint8_t* data = record->Data.data();
    const bool live = data[0] == 0;
    c.LiveBits.Assign(r, live);
    bool candidate = live;
    if (RangeInEffect()) {
      bool inside = KeyInRange(KeyOf(data));
      c.RangeBits.Assign(r, inside);
      candidate = candidate && inside;
    }
    bool visible = candidate;
    bool allEarlier = true;
    for (TFilter& f : c.Filters) {
      if (!f.Active) continue;
      bool passes = candidate && (!f.AfterEarlier || allEarlier) && Evaluate(f, data, r);
      f.Bits.Assign(r, passes);
      allEarlier = allEarlier && passes;
      visible = visible && passes;
    }
    bool was = c.Visible.Test(r);
    c.Visible.Assign(r, visible);
    if (was != visible) visible ? ++c.VisibleCount : --c.VisibleCount;
  } catch (...) {
    table_.UnpinRecord(record);
    throw;
  }
  table_.UnpinRecord(record);
}

void TTableCursor::ClearRecordBits(std::uint32_t r) {
  TCursorState& c = state_;
  c.LiveBits.Clear(r);
  c.RangeBits.Clear(r);
  for (TFilter& f : c.Filters) f.Bits.Clear(r);
  if (c.Visible.Test(r)) {
    c.Visible.Clear(r);
    --c.VisibleCount;
  }
}

// After a filter was activated, changed, deactivated or removed.
void TTableCursor::FiltersChanged(std::size_t changedIndex, bool rebuildChanged) {
  TCursorState& c = state_;
  const bool wasOn = c.BitmapMode;
  UpdateBitmapMode();
  if (c.BitmapMode) {
    if (!wasOn || !c.BitmapsValid) {
      RebuildBitmaps(true);
    } else if (rebuildChanged) {
      RebuildBitmaps(false, changedIndex);
    } else {
      ComputeVisible();
    }
  }
  Reposition(true);
  if (c.BitmapMode && StandingOnSomething() && !c.AtBOF && !c.AtEOF && !c.Visible.Test(c.RecordNumber)) {
    if (c.Physical) {
      GoRecordAtOrAbove(c.RecordNumber);
    } else {
      SettleOnVisible();
    }
  }
  LoadCurrent(1);
}

// The record operations told us about record r; the cursor ends on `key` (index order) or on
// the record at or above r (physical order).
void TTableCursor::AfterChange(std::uint32_t r, const TKey& key) {
  TCursorState& c = state_;
  c.PendingFirst = false;
  c.PendingSeek = false;
  UnpinCurrent();
  if (c.Physical) {
    GoRecordAtOrAbove(r);
  } else if (!KeySearch(key, true) && !StandingOnSomething()) {
    GoFirst();
  }
  LoadCurrent(1);
}

// After an insert or update of record r: when the cursor can stand on r itself (live, visible,
// inside the range) it does so at once and leaves finding its place to the next operation;
// otherwise it moves as after any change.
void TTableCursor::AfterChangeOn(std::uint32_t r) {
  TCursorState& c = state_;
  c.PendingFirst = false;
  c.PendingSeek = false;
  UnpinCurrent();
  TRecord* record = table_.FetchRecord(r);
  TKey key;
  bool direct;
  try {
    key = KeyOf(record->Data.data());
    direct = record->Data[0] == 0 && (!c.BitmapMode || (c.BitmapsValid && c.Visible.Test(r))) &&
             (!RangeInEffect() || KeyInRange(key));
  } catch (...) {
    table_.UnpinRecord(record);
    throw;
  }
  if (!direct) {
    table_.UnpinRecord(record);
    return AfterChange(r, key);
  }
  c.Pos = {};
  c.Key = std::move(key);
  c.RecordNumber = r;
  c.Position = 0;
  c.AtBOF = c.AtEOF = false;
  c.PendingSeek = true;
  Adopt(record);
}

// Under the write lock of a record operation: a change check may have found another cursor's
// changes, which the incremental updates cannot follow.
bool TTableCursor::CatchUpAfterChangeCheck() {
  TCursorState& c = state_;
  if (!c.Stale) return false;
  c.Stale = false;
  ComputeRangeBounds();
  c.LiveValid = false;
  c.BitmapsValid = false;
  if (c.BitmapMode) RebuildBitmaps(true);
  return true;
}

// ---- Hooks of the file layer ---------------------------------------------------------------------

void TTableCursor::TableOpened() {
  state_ = TCursorState{};
  state_.Index = 0;
  state_.Physical = IsPhysical(0);
  state_.BitmapMode = state_.Physical;
  state_.PendingFirst = true;
  // The first record now, so that the record operations have a current record right away. A
  // damaged index must not keep the table from opening (the check tools open it to report the
  // damage): the cursor then stays unpositioned and its first move raises the error.
  try {
    Run([] {});
  } catch (const EEngineError&) {
    UnpinCurrent();
    state_ = TCursorState{};
    state_.Physical = IsPhysical(0);
    state_.BitmapMode = state_.Physical;
    state_.PendingFirst = true;
  }
}

void TTableCursor::TableClosed() {
  state_ = TCursorState{};
}

void TTableCursor::FilesChanged() {
  state_.Stale = true;
  // The record cache was emptied: the record the cursor stands on is read again when a held lock
  // makes that safe here, so a record operation under the write lock works on fresh bytes.
  std::uint32_t number = state_.RecordNumber;
  UnpinCurrent();
  const TLockState& l = table_.LockState();
  bool locked = l.Read || l.Write || l.StatementRead || l.Transaction;
  if (locked && number >= 1 && number < table_.Header().NextRecordNumber)
    table_.CurrentRecord = table_.FetchRecord(number);
}

// ---- Order -----------------------------------------------------------------------------------

void TTableCursor::SelectIndex(int number) {
  Run([&] {
    TCursorState& c = state_;
    if (number == c.Index) return;
    bool exists =
        number == TIndexFile::kPhysicalOrder || number == 0 || (number >= 1 && number <= IndexFile().IndexCount());
    const bool hadRange = c.RangeActive;
    c.RangeActive = false;
    if (!exists) {
      if (hadRange) {
        ComputeRangeBounds();
        if (c.BitmapMode) RebuildBitmaps(true);
      }
      RaiseEngineError(err::kInvalidIndexName, table_.FileName(), {}, {}, std::to_string(number));
    }
    std::vector<std::uint8_t> record;
    if (table_.CurrentRecord && StandingOnSomething()) record = table_.CurrentRecord->Data;
    c.Index = number;
    c.Physical = IsPhysical(number);
    SelectTree();
    c.RangeStart.clear();
    c.RangeEnd.clear();
    ComputeRangeBounds();
    UpdateBitmapMode();
    if (c.BitmapMode) RebuildBitmaps(true);
    const bool wasBOF = c.AtBOF, wasEOF = c.AtEOF;
    if (record.empty()) {
      StandOnNothing();
      GoFirst();
    } else if (c.Physical) {
      GoRecordAtOrAbove(c.RecordNumber);
    } else {
      KeySearch(KeyOf(record.data()), true);
    }
    if (StandingOnSomething() && wasBOF != wasEOF) {
      if (wasBOF) {
        GoFirst();
        c.AtBOF = true;
      } else {
        GoLast();
        c.AtEOF = true;
      }
    }
    LoadCurrent(1);
  });
}

void TTableCursor::SelectIndex(const std::string& name) {
  std::string wanted = Trim(name);
  int number = -1;
  if (wanted.empty()) {
    number = 0;
  } else {
    for (int i = 1; i <= IndexFile().IndexCount(); ++i) {
      if (EqualIgnoringCase(Trim(IndexFile().GetIndexDescriptor(i).IndexName), wanted)) {
        number = i;
        break;
      }
    }
  }
  if (number >= 0) return SelectIndex(number);
  Run([&] {
    if (state_.RangeActive) {
      state_.RangeActive = false;
      ComputeRangeBounds();
      if (state_.BitmapMode) RebuildBitmaps(true);
    }
  });
  RaiseEngineError(err::kInvalidIndexName, table_.FileName(), {}, {}, name);
}

int TTableCursor::Index() const {
  return state_.Index;
}

// ---- Navigation ------------------------------------------------------------------------------

void TTableCursor::First() {
  Run([&] {
    GoFirst();
    if (StandingOnSomething()) state_.AtBOF = true;
    LoadCurrent(1);
  });
}

void TTableCursor::Last() {
  Run([&] {
    GoLast();
    if (StandingOnSomething()) state_.AtEOF = true;
    LoadCurrent(-1);
  });
}

int TTableCursor::Next(std::uint8_t* buffer) {
  return Run([&] {
    if (state_.AtBOF) {
      GoFirst();
    } else {
      Step(1);
    }
    LoadCurrent(1);
    if (state_.AtEOF) {
      table_.InitRecord(buffer);
      return TDataFile::kAtEnd;
    }
    CopyCurrent(buffer);
    return 0;
  });
}

void TTableCursor::ScanVisible(const TRecordVisitor& visit) {
  // The read lock first, so that the bitmaps brought up to date below stay true for the whole
  // walk and no restart can visit a record twice.
  const bool wasHeld = table_.LockState().Read;
  table_.AcquireReadLock();
  try {
    const bool physical = Run([&] { return state_.Physical && state_.BitmapMode; });
    if (physical) {
      table_.ScanRecords(state_.Visible, visit);
    } else {
      std::vector<std::uint8_t> buffer(table_.RecordBufferSize());
      First();
      while (Next(buffer.data()) == 0) {
        if (!visit(buffer.data(), state_.RecordNumber)) break;
      }
    }
  } catch (...) {
    try {
      if (!wasHeld) table_.ReleaseReadLock();
    } catch (...) {  // the walk's own failure is the one to report
    }
    throw;
  }
  if (!wasHeld) table_.ReleaseReadLock();
}

int TTableCursor::Prior(std::uint8_t* buffer) {
  return Run([&] {
    if (state_.AtEOF) {
      GoLast();
    } else {
      Step(-1);
    }
    LoadCurrent(-1);
    if (state_.AtBOF) {
      table_.InitRecord(buffer);
      return TDataFile::kAtBeginning;
    }
    CopyCurrent(buffer);
    return 0;
  });
}

int TTableCursor::GetCurrent(std::uint8_t* buffer, bool lock) {
  return Run([&] {
    if (lock && !state_.AtBOF && !state_.AtEOF) {
      LoadCurrent(0);  // a new logical field list leaves no record loaded
      table_.LockRecord(0);
      // Locking reads the record fresh; a change it found moves the cursor back by its key.
      if (state_.Stale) Revalidate();
    }
    if (state_.AtBOF) {
      table_.InitRecord(buffer);
      return TDataFile::kAtBeginning;
    }
    if (state_.AtEOF) {
      table_.InitRecord(buffer);
      return TDataFile::kAtEnd;
    }
    LoadCurrent(1);
    CopyCurrent(buffer);
    return 0;
  });
}

bool TTableCursor::AtBOF() const {
  return state_.AtBOF;
}

bool TTableCursor::AtEOF() const {
  return state_.AtEOF;
}

std::uint32_t TTableCursor::RecNo() {
  return Run([&]() -> std::uint32_t {
    const TCursorState& c = state_;
    if (c.Physical || c.Position == 0) return c.Position;
    std::uint32_t first = RangeInEffect() ? c.RangeFirst : 1;
    if (first == 0 || c.Position < first) return 0;
    return c.Position - first + 1;
  });
}

void TTableCursor::SetRecNo(std::int64_t n) {
  Run([&] {
    TCursorState& c = state_;
    if (c.Physical) {
      std::uint32_t r = n < 1 ? 1 : (n > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n));
      GoRecordAtOrAbove(r);
      if (StandingOnSomething()) c.AtEOF = false;
      LoadCurrent(0);
      return;
    }
    const std::int64_t first = RangeInEffect() ? c.RangeFirst : 1;
    if (!c.BitmapMode) {
      // Without filters the record numbers are exactly 1..the range's or the index's key count.
      const std::int64_t last = RangeInEffect() ? (c.RangeFirst == 0 ? 0 : std::int64_t{c.RangeLast} - c.RangeFirst + 1)
                                                : std::int64_t{IndexFile().KeyCount()};
      if (n >= 1 && n <= last) {
        TKeyPosition p = IndexFile().PositionAtOrdinal(static_cast<std::uint32_t>(n + first - 1));
        if (StandAt(p)) {
          c.AtBOF = c.AtEOF = false;
          return LoadCurrent(0);
        }
      }
    }
    GoFirst();
    if (!StandingOnSomething()) return LoadCurrent(1);
    if (n < static_cast<std::int64_t>(c.Position) - first + 1) {
      c.AtBOF = true;
      return LoadCurrent(1);
    }
    GoLast();
    if (n > static_cast<std::int64_t>(c.Position) - first + 1) {
      c.AtEOF = true;
      return LoadCurrent(1);
    }
    TKeyPosition p = IndexFile().PositionAtOrdinal(static_cast<std::uint32_t>(n + first - 1));
    if (StandAt(p)) {
      c.AtBOF = c.AtEOF = false;
      SettleOnVisible();
    }
    LoadCurrent(0);
  });
}

std::uint32_t TTableCursor::RecordCount() {
  return Run([&]() -> std::uint32_t {
    const TCursorState& c = state_;
    if (c.BitmapMode) return c.VisibleCount;
    if (RangeInEffect()) return c.RangeFirst == 0 || c.RangeLast == 0 ? 0 : c.RangeLast - c.RangeFirst + 1;
    return IndexFile().RecordCount();
  });
}

// ---- Bookmarks -------------------------------------------------------------------------------

int TTableCursor::KeySize() const {
  if (state_.Physical) return 4;
  return IndexFile().GetIndexDescriptor(state_.Index).KeyLength;
}

std::vector<std::uint8_t> TTableCursor::GetBookmark() {
  return Run([&] {
    std::vector<std::uint8_t> bookmark(static_cast<std::size_t>(KeySize()), 0);
    if (state_.Physical) {
      PutU32(bookmark.data(), state_.RecordNumber);
    } else if (StandingOnSomething()) {
      std::copy_n(state_.Key.begin(), std::min(bookmark.size(), state_.Key.size()), bookmark.begin());
    }
    return bookmark;
  });
}

void TTableCursor::GotoBookmark(const std::uint8_t* bookmark) {
  Run([&] {
    if (state_.Physical) {
      GoRecordAtOrAbove(GetU32(bookmark));
    } else {
      TKey key(bookmark, bookmark + KeySize());
      KeySearch(key, true);
    }
    LoadCurrent(0);
  });
}

int TTableCursor::CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const {
  if (state_.Physical) {
    std::uint32_t x = GetU32(a), y = GetU32(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (IndexFile().CurrentIndex() != state_.Index) IndexFile().SelectIndex(state_.Index);
  return IndexFile().CompareKeys(a, b, IndexFile().KeyLength());
}

// ---- Searches --------------------------------------------------------------------------------

bool TTableCursor::FindKey(const std::uint8_t* keyOrRecord, bool isKey, bool nearest, int fields, int partial,
                           std::uint8_t* result) {
  return Run([&] {
    TCursorState& c = state_;
    bool found = false;
    if (!c.Physical) {
      const int length = IndexFile().KeyLength();
      TKey key = isKey ? TKey(keyOrRecord, keyOrRecord + length) : KeyOf(keyOrRecord);
      const TIndexDescriptor& d = IndexFile().CurrentDescriptor();
      const bool nonUnique = IndexFile().IsNonUniqueSecondary(c.Index);
      const bool whole = (fields == 0 || fields >= d.KeyFieldCount) && !nonUnique && !(fields == 0 && partial >= 0);
      if (whole) {
        found = KeySearch(key, nearest);
      } else {
        int used = fields == 0 && nonUnique && partial < 0 ? d.KeyFieldCount : std::min<int>(fields, d.KeyFieldCount);
        int compare = (partial >= 0 ? partial + 1 : 0) + PrefixLength(used);
        compare = std::min(compare, length);
        Pad(key, compare, d.Descending ? 0xFF : 0x00);
        KeySearch(key, true);
        found = StandingOnSomething() && !c.AtEOF && !c.AtBOF &&
                std::equal(key.begin(), key.begin() + compare, c.Key.begin());
      }
      if (c.AtEOF && StandingOnSomething()) GoLast();
    }
    LoadCurrent(0);
    if (found) table_.ReadBlobsAhead();
    if (result) {
      if (StandingOnSomething()) {
        CopyCurrent(result);
      } else {
        table_.InitRecord(result);
      }
    }
    return found;
  });
}

bool TTableCursor::FindPrefix(const std::uint8_t* record, std::uint8_t* result) {
  return Run([&] {
    TCursorState& c = state_;
    if (c.Physical) return false;
    TKey key = KeyOf(record);
    int length = IndexFile().KeyLength() - (IndexFile().IsNonUniqueSecondary(c.Index) ? 4 : 0);
    TKeyPosition p = IndexFile().LowerBound(key.data(), length);
    TKey found;
    std::uint32_t number = 0;
    while (IndexFile().ReadPosition(p, &found, &number)) {
      if (!std::equal(key.begin(), key.begin() + length, found.begin())) return false;
      if (RangeInEffect() && !c.BitmapMode && (p.Ordinal < c.RangeFirst || p.Ordinal > c.RangeLast)) return false;
      if (Visible(number)) {
        StandAt(p);
        c.AtBOF = c.AtEOF = false;
        LoadCurrent(0);
        CopyCurrent(result);
        return true;
      }
      if (!Advance(p, 1)) return false;
    }
    return false;
  });
}

int TTableCursor::GotoCurrentOf(TTableCursor& other) {
  return Run([&] {
    TCursorState& c = state_;
    const bool otherOnRecord = other.table_.CurrentRecord && other.state_.RecordNumber != 0;
    bool found = false;
    if (c.Physical) {
      // Record numbers only mean the same record in the same table.
      std::uint32_t r = other.state_.RecordNumber;
      found = otherOnRecord && EqualIgnoringCase(table_.FileName(), other.table_.FileName()) && c.Visible.Test(r);
      if (found) StandOnRecord(r);
    } else {
      TKey key(static_cast<std::size_t>(IndexFile().KeyLength()), 0);
      if (otherOnRecord) key = KeyOf(other.table_.CurrentRecord->Data.data());
      found = KeySearch(key, false);
    }
    if (!found) {
      // The other cursor stands on a record this one may not know yet: a change check decides,
      // and when it finds changes the search runs again on the fresh files.
      if (otherOnRecord && !table_.StrictChangeDetection() && table_.AcquireReadLock()) throw ERestartOperation();
      return static_cast<int>(err::kRecordNotFound);
    }
    LoadCurrent(0);
    return 0;
  });
}

// ---- A second cursor -------------------------------------------------------------------------

void TTableCursor::TakeOrderAndPlaceOf(TTableCursor& source) {
  SelectIndex(source.state_.Index);
  if (source.state_.RangeActive) {
    TCursorState& c = state_;
    c.RangeStart = source.state_.RangeStart;
    c.RangeEnd = source.state_.RangeEnd;
    c.RangeActive = true;
    Run([&] {
      ComputeRangeBounds();
      if (c.BitmapMode) RebuildBitmaps(true);
    });
  }
  for (const TFilter& f : source.state_.Filters) {
    std::uint32_t handle = AddFilter(f.Expression, f.Callback, f.AfterEarlier);
    if (f.Active) ActivateFilter(handle);
  }
  // At a crack the source still holds the record beside it; this cursor takes the crack itself.
  if (source.AtBOF()) {
    First();
  } else if (source.AtEOF()) {
    Last();
  } else if (GotoCurrentOf(source) != 0) {
    First();
  }
}

// ---- Ranges ----------------------------------------------------------------------------------

void TTableCursor::SetRange(const std::uint8_t* start, bool startIsKey, int startFields, const std::uint8_t* end,
                            bool endIsKey, int endFields) {
  Run([&] {
    TCursorState& c = state_;
    if (c.Physical) {
      c.RangeActive = true;
      return;
    }
    const int length = IndexFile().KeyLength();
    const TIndexDescriptor& d = IndexFile().CurrentDescriptor();
    const bool nonUnique = IndexFile().IsNonUniqueSecondary(c.Index);
    TKey low = startIsKey ? TKey(start, start + length) : KeyOf(start);
    TKey high = endIsKey ? TKey(end, end + length) : KeyOf(end);
    auto padded = [&](int fields) { return (fields >= 1 && fields < d.KeyFieldCount) || nonUnique; };
    auto from = [&](int fields) { return PrefixLength(fields == 0 ? d.KeyFieldCount : fields); };
    if (padded(startFields)) Pad(low, from(startFields), d.Descending ? 0xFF : 0x00);
    if (padded(endFields)) Pad(high, from(endFields), d.Descending ? 0x00 : 0xFF);
    c.RangeStart = std::move(low);
    c.RangeEnd = std::move(high);
    c.RangeActive = true;
    ComputeRangeBounds();
    if (c.BitmapMode) RebuildBitmaps(true);
    bool inside = StandingOnSomething() && !c.AtBOF && !c.AtEOF && KeyInRange(c.Key) && Visible(c.RecordNumber);
    if (inside) {
      KeySearch(TKey(c.Key), true);  // the ordinal stays, the crack flags are right again
    } else {
      GoFirst();
    }
    LoadCurrent(1);
  });
}

void TTableCursor::CancelRange() {
  Run([&] {
    TCursorState& c = state_;
    const bool had = c.RangeActive;
    c.RangeActive = false;
    c.RangeStart.clear();
    c.RangeEnd.clear();
    if (c.Physical || !had) return;
    ComputeRangeBounds();
    if (c.BitmapMode) RebuildBitmaps(true);
    Reposition(true);
    LoadCurrent(1);
  });
}

bool TTableCursor::RangeActive() const {
  return state_.RangeActive;
}

// ---- Filters ---------------------------------------------------------------------------------

std::uint32_t TTableCursor::AddFilter(std::shared_ptr<TFilterEvaluator> expression, TFilterCallback callback,
                                      bool afterEarlier) {
  if (!table_.Opened()) table_.Fail(err::kInvalidFileHandle);
  if (state_.Filters.size() >= static_cast<std::size_t>(kMaxFilters)) table_.Fail(err::kTooManyFilters);
  if (!expression && !callback) table_.Fail(err::kInvalidFilterExpression);
  TFilter filter;
  filter.Handle = state_.NextHandle++;
  if (state_.NextHandle == 0) state_.NextHandle = 1;
  filter.Grade = expression ? expression->OptimisationGrade() : 0;
  filter.Expression = std::move(expression);
  filter.Callback = std::move(callback);
  filter.AfterEarlier = afterEarlier;
  state_.Filters.push_back(std::move(filter));
  return state_.Filters.back().Handle;
}

int TTableCursor::ActivateFilter(std::uint32_t handle) {
  if (!table_.Opened()) table_.Fail(err::kInvalidFileHandle);
  TFilter* filter = FindFilter(handle);
  if (!filter) return err::kInvalidFilterHandle;
  if (filter->Active) return 0;
  // The list changes first and only the recomputation runs (again, after a restart) under Run.
  filter->Active = true;
  const auto index = static_cast<std::size_t>(filter - state_.Filters.data());
  Run([&] { FiltersChanged(index, true); });
  return 0;
}

int TTableCursor::DeactivateFilter(std::uint32_t handle) {
  if (!table_.Opened()) table_.Fail(err::kInvalidFileHandle);
  TFilter* filter = FindFilter(handle);
  if (!filter) return err::kInvalidFilterHandle;
  if (!filter->Active) return 0;
  filter->Active = false;
  filter->Bits.Release();
  Run([&] { FiltersChanged(0, false); });
  return 0;
}

int TTableCursor::RemoveFilter(std::uint32_t handle) {
  if (!table_.Opened()) table_.Fail(err::kInvalidFileHandle);
  auto& filters = state_.Filters;
  if (handle == 0) {
    filters.clear();
  } else {
    auto it = std::find_if(filters.begin(), filters.end(), [&](const TFilter& f) { return f.Handle == handle; });
    if (it == filters.end()) return err::kInvalidFilterHandle;
    filters.erase(it);
  }
  Run([&] { FiltersChanged(0, false); });
  return 0;
}

int TTableCursor::ChangeFilterExpression(std::uint32_t handle, std::shared_ptr<TFilterEvaluator> expression) {
  if (!table_.Opened()) table_.Fail(err::kInvalidFileHandle);
  TFilter* filter = FindFilter(handle);
  if (!filter || !filter->Active) return err::kInvalidFilterHandle;
  if (!expression) return err::kInvalidFilterExpression;
  filter->Grade = expression->OptimisationGrade();
  filter->Expression = std::move(expression);
  filter->Callback = nullptr;
  const auto index = static_cast<std::size_t>(filter - state_.Filters.data());
  Run([&] { FiltersChanged(index, true); });
  return 0;
}

bool TTableCursor::BitmapMode() const {
  return state_.BitmapMode;
}

// ---- What the record operations tell the cursor ------------------------------------------------

void TTableCursor::AfterInsert(std::uint32_t recordNumber) {
  if (!table_.Opened()) return;
  SelectTree();
  if (!CatchUpAfterChangeCheck()) {
    ComputeRangeBounds();
    if (state_.BitmapMode) {
      if (state_.BitmapsValid) {
        RefreshRecordBits(recordNumber);
      } else {
        RebuildBitmaps(true);
      }
    }
  }
  AfterChangeOn(recordNumber);
}

void TTableCursor::AfterUpdate(std::uint32_t recordNumber, bool refresh) {
  if (!table_.Opened()) return;
  SelectTree();
  if (!CatchUpAfterChangeCheck() && refresh) {
    ComputeRangeBounds();
    if (state_.BitmapMode && state_.BitmapsValid) RefreshRecordBits(recordNumber);
  }
  AfterChangeOn(recordNumber);
}

void TTableCursor::AfterDelete(std::uint32_t recordNumber, const std::uint8_t* deletedRecord, bool refresh) {
  if (!table_.Opened()) return;
  SelectTree();
  if (!CatchUpAfterChangeCheck() && refresh) {
    ComputeRangeBounds();
    if (state_.BitmapMode && state_.BitmapsValid) ClearRecordBits(recordNumber);
  }
  AfterChange(recordNumber, KeyOf(deletedRecord));
}

}  // namespace quillon::engine
