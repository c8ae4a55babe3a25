// TCursorState: where a table cursor stands and what it may see; the private state of a
// TTableCursor (table_cursor.h, where its states are drawn). The tree selection of the table's
// TIndexFile is switched by the record operations to maintain every index, so the cursor's order
// is kept here rather than in the index file.
//
// Invariants:
//  1. Index is the cursor's order: 0 primary, 1..30 secondary, 255 physical order; Physical is set
//     for 255 and for index 0 of a table without primary index.
//  2. In index order Key and RecordNumber are those of the entry at Pos, or Key is empty and
//     RecordNumber 0 when the cursor stands on nothing; they survive changes of the files, Pos
//     does not (after a change the cursor finds Key again).
//  3. Position: index order the ordinal of the entry at Pos; physical order the number of visible
//     records up to and including RecordNumber; 0 when the cursor stands on nothing. Both AtBOF
//     and AtEOF are set when there is nothing to stand on.
//  4. BitmapMode is on exactly when a filter is active or the order is physical; LiveBits,
//     RangeBits, Visible and the active filters' bitmaps are then sized to the records of the
//     table, and VisibleCount is the number of records set in Visible. Off, they are released.
//  5. RangeFirst and RangeLast are the ordinals of the first and last key inside the range, both 0
//     when it holds no key; without a range 1 and the key count.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/index_file.h"
#include "engine/record_bitmap.h"
#include "engine/record_filter.h"

namespace quillon::engine {

inline constexpr int kMaxFilters = 128;

struct TFilter {
  std::uint32_t Handle = 0;
  std::shared_ptr<TFilterEvaluator> Expression;  // null for a callback filter
  std::function<bool(const std::uint8_t* record, std::uint32_t recordNumber)> Callback;
  bool Active = false;
  bool AfterEarlier = false;
  TRecordBitmap Bits;
  int Grade = 0;
};

struct TCursorState {
  int Index = 0;
  bool Physical = false;
  TKeyPosition Pos;
  TKey Key;
  std::uint32_t RecordNumber = 0;
  std::uint32_t Position = 0;
  bool AtBOF = true;
  bool AtEOF = true;

  bool RangeActive = false;
  TKey RangeStart, RangeEnd;
  std::uint32_t RangeFirst = 0, RangeLast = 0;
  // The key count of the index as last read; re-read when a walk seems to pass it.
  std::uint32_t KeyTotal = 0;

  bool BitmapMode = false;
  TRecordBitmap LiveBits, RangeBits, Visible;
  std::uint32_t VisibleCount = 0;
  std::vector<TFilter> Filters;
  std::uint32_t NextHandle = 1;

  // The files changed under the cursor: bounds, bitmaps and position are re-evaluated before the
  // next cursor operation uses them.
  bool Stale = false;
  // Opened and not yet positioned: the first cursor operation goes to the first record.
  bool PendingFirst = false;
  // Standing on RecordNumber (Key in index order) after an insert or update, whose place in the
  // order (Pos, Position) is looked up only when an operation needs it: a bulk load then pays no
  // descent per record.
  bool PendingSeek = false;
  bool Rebuilding = false;
  // LiveBits follows the files (rebuilt after a change of them, kept up to date by the record
  // operations); the other bitmaps are valid when BitmapsValid.
  bool LiveValid = false;
  bool BitmapsValid = false;
};

}  // namespace quillon::engine
