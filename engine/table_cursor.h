// TTableCursor: the one open cursor of a TDataFile. It keeps its own state (TCursorState:
// order, place, range, filters and their bitmaps) private and reaches the table's files, record
// cache and locks through the table that owns it; the table forwards its cursor calls here and
// tells the cursor when it opened, closed or found its files changed.
//
// Where a cursor stands (state_.RecordNumber, AtBOF, AtEOF; "r" a record, "-" a flag clear):
//
//                  Open                         the first operation (Prepare)
//     [closed] ----------> [opened, PendingFirst] -----------------------------+
//        ^                                                                      |
//        | Close, from any state                                                v
//        |        +----------------+  Next   +-------------+  Next past the  +---------------+
//        |        | before first   | ------> | on record r | --------------> | after last    |
//        |        | r, BOF, -      | <------ | r, -, -     | <-------------- | r, -, EOF     |
//        |        +----------------+  Prior  +-------------+  Prior          +---------------+
//        |          past the first   ^     |    (First goes to "before first", Last to "after
//        |                           |     |     last"; searches, SetRecNo, GotoBookmark and
//        |            the next       |     |     GotoCurrentOf to "on record r")
//        |            operation      |     | insert or update of r, r visible
//        |            (Prepare)      |     v
//        |                     +-----------------------+
//        |                     | on r, place pending   |   PendingSeek: Pos and Position are looked
//        |                     | r, -, -               |   up only when an operation needs them
//        |                     +-----------------------+
//        |
//        |     [nothing]  0, BOF, EOF: the order shows no record (empty table, empty range,
//        |                filters that hide everything); every move comes back here.
//
//   - A delete, or an insert or update whose record the cursor may not show (hidden by a filter,
//     outside the range), leaves it on the nearest visible record in its order: the one at or
//     after the changed key, else the last (with EOF), else nothing.
//   - Stale (another cursor changed the files) is a flag on any of these states: the next
//     operation builds bounds and bitmaps again and finds the cursor's key (index order) or
//     record number (physical order) again; a crack stays a crack.
//   - Orthogonal to the place: the order (an index, or physical with Physical), a range (index
//     order only) and BitmapMode, which is on exactly in physical order or with an active filter.
//     Editing and inserting are states of the dataset layer above, not of this cursor.
//
// Thread rules: those of the owning table (one thread at a time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/cursor_state.h"

namespace quillon::engine {

class TDataFile;
class TIndexFile;
class TFilterEvaluator;
struct TRecord;

class TTableCursor {
 public:
  using TRecordVisitor = std::function<bool(const std::uint8_t* record, std::uint32_t recordNumber)>;
  using TFilterCallback = std::function<bool(const std::uint8_t* record, std::uint32_t recordNumber)>;

  explicit TTableCursor(TDataFile& table);
  TTableCursor(const TTableCursor&) = delete;
  TTableCursor& operator=(const TTableCursor&) = delete;

  // What the table tells its cursor: it opened (the cursor goes to the first record), it closed
  // (filters and bitmaps are dropped), a change check found another cursor's changes.
  void TableOpened();
  void TableClosed();
  void FilesChanged();
  // For a second cursor on the same table: this one (freshly opened) takes the source's index,
  // range and filters (added again, active where active there) and stands where it stands.
  void TakeOrderAndPlaceOf(TTableCursor& source);

  // The operations of TDataFile's cursor part, documented there.
  void SelectIndex(int number);
  void SelectIndex(const std::string& name);
  int Index() const;
  void First();
  void Last();
  int Next(std::uint8_t* buffer);
  void ScanVisible(const TRecordVisitor& visit);
  int Prior(std::uint8_t* buffer);
  int GetCurrent(std::uint8_t* buffer, bool lock);
  bool AtBOF() const;
  bool AtEOF() const;
  std::uint32_t RecNo();
  void SetRecNo(std::int64_t n);
  std::uint32_t RecordCount();
  int KeySize() const;
  std::vector<std::uint8_t> GetBookmark();
  void GotoBookmark(const std::uint8_t* bookmark);
  int CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const;
  bool FindKey(const std::uint8_t* keyOrRecord, bool isKey, bool nearest, int fields, int partial,
               std::uint8_t* result);
  bool FindPrefix(const std::uint8_t* record, std::uint8_t* result);
  int GotoCurrentOf(TTableCursor& other);
  void SetRange(const std::uint8_t* start, bool startIsKey, int startFields, const std::uint8_t* end, bool endIsKey,
                int endFields);
  void CancelRange();
  bool RangeActive() const;
  std::uint32_t AddFilter(std::shared_ptr<TFilterEvaluator> expression, TFilterCallback callback, bool afterEarlier);
  int ActivateFilter(std::uint32_t handle);
  int DeactivateFilter(std::uint32_t handle);
  int RemoveFilter(std::uint32_t handle);
  int ChangeFilterExpression(std::uint32_t handle, std::shared_ptr<TFilterEvaluator> expression);
  bool BitmapMode() const;
  void AfterInsert(std::uint32_t recordNumber);
  void AfterUpdate(std::uint32_t recordNumber, bool refresh);
  void AfterDelete(std::uint32_t recordNumber, const std::uint8_t* deletedRecord, bool refresh);
  // The record the cursor stands on (it survives a change check that empties the record cache);
  // 0 when it stands on nothing.
  std::uint32_t RecordNumber() const { return state_.RecordNumber; }

 private:
  enum class TNearest { kNone, kFound, kUnknown };

  TIndexFile& IndexFile() const;

  // Plumbing: every operation runs through Run (restarts after another cursor's change).
  bool TableHasNoPrimary();
  bool IsPhysical(int index);
  bool IndexOrder() const { return !state_.Physical; }
  bool RangeInEffect() const { return state_.RangeActive && !state_.Physical; }
  void SelectTree();
  int KeyLength();
  std::uint32_t RecordTotal();
  bool AnyFilterActive();
  TFilter* FindFilter(std::uint32_t handle);
  void UnpinCurrent();
  bool CanRestart();
  template <class F>
  auto Run(F&& operation) -> decltype(operation());
  void Prepare();
  void ResolveSeek();
  void Revalidate();

  // Standing.
  void StandOnNothing();
  bool StandingOnSomething() const { return state_.RecordNumber != 0; }
  bool StandAt(const TKeyPosition& p);
  bool Advance(TKeyPosition& p, int direction);
  std::uint32_t RecordAt(const TKeyPosition& p);
  bool Visible(std::uint32_t record) const { return !state_.BitmapMode || state_.Visible.Test(record); }
  void StandOnRecord(std::uint32_t r);
  TNearest NearestVisible(const TKey* from, int direction, TKeyPosition& out);
  bool EndFromKeys(int direction);

  // Moving and loading.
  void GoFirst();
  void GoLast();
  bool Step(int direction);
  std::uint32_t ReadAheadFor(int direction);
  void LoadCurrent(int direction);
  std::uint32_t WalkAhead();
  // The records of the entries after the `skip` consecutive ones on the current leaf, in the
  // direction of travel: on an index whose order is not the records' own, every step would
  // otherwise miss the cache and take the read lock alone.
  static constexpr std::size_t kUpcomingRecords = 32;
  std::size_t UpcomingRecords(int direction, std::uint32_t skip, std::uint32_t* out);
  void Adopt(TRecord* record);
  void CopyCurrent(std::uint8_t* buffer);

  // Keys and ranges.
  TKey KeyOf(const std::uint8_t* record);
  int Compare(const TKey& a, const TKey& b);
  void SettleOnVisible();
  bool KeySearch(const TKey& key, bool nearest);
  int PrefixLength(int fields);
  void Reposition(bool keepCrack);
  void GoRecordAtOrAbove(std::uint32_t r);
  void ComputeRangeBounds();
  bool KeyInRange(const TKey& key);

  // Bitmaps.
  void MarkOrdinals(std::uint32_t first, std::uint32_t last, TRecordBitmap& bits);
  void BuildLiveBits();
  void ClearDeletedByScan();
  void BuildRangeBits();
  TRecordBitmap Candidates(std::size_t filterIndex);
  bool Evaluate(TFilter& filter, const std::uint8_t* record, std::uint32_t recordNumber);
  void BuildFilterBits(std::size_t filterIndex);
  void ComputeVisible();
  void ReleaseBitmaps();
  void RebuildBitmaps(bool filters, std::size_t firstFilter = 0);
  void UpdateBitmapMode();
  void RefreshRecordBits(std::uint32_t r);
  void ClearRecordBits(std::uint32_t r);
  void FiltersChanged(std::size_t changedIndex, bool rebuildChanged);

  // After the record operations' changes.
  void AfterChange(std::uint32_t r, const TKey& key);
  void AfterChangeOn(std::uint32_t r);
  bool CatchUpAfterChangeCheck();

  TDataFile& table_;
  TCursorState state_;
  TKey standKey_;  // StandAt's buffer for the key it reads
};

}  // namespace quillon::engine
