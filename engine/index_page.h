// TPage: one 4,096-byte page of an index B+-tree as the page cache holds it, with its entries
// always expanded; compression exists only in the file.
//
// Page layout in the file:
//   0 u8 PageType (0 root with children, 1 inner, 2 leaf, 3 root that is a leaf)
//   1 u16 EntryCount (0 in a free page)   3 u32 PrevPage   7 u32 NextPage (next free page when free)
//   11 u16 UsedBytes (compressed leaves only; 0 elsewhere)   13.. entries, 4,083 bytes at most
// Entries of pages with children: key, u32 child offset, u32 keys in the child's subtree.
// Leaf entries by compression mode (p = leading bytes shared with the previous key, 0 in the
// first entry; t = trailing zero bytes left out):
//   0  key, u32 record number
//   1  u16 p, key[p..KL-1], u32 record number
//   2  u16 t, key[0..KL-t-1], u32 record number
//   3  u8 p (<= 255), u8 t (<= 255), key[p..KL-t-1], u32 record number
// With a row-identifier suffix (non-unique secondary index) t counts the zeros before the last 4
// key bytes, which are always stored after the kept bytes (in mode 3 only when KL - p >= 5).
//
// Invariants: Entries holds Count * Stride() bytes; in a compressed leaf UsedBytes is the stored
// size of the entries as they would be written now. Decode never reads outside the page and
// refuses what no writer produces (unknown type, too many entries, bytes beyond the page).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace quillon::engine {

inline constexpr int kPageHeaderSize = 13;
inline constexpr int kPageRoom = 4083;

enum TPageType : std::uint8_t { kRootWithChildren = 0, kInnerPage = 1, kLeafPage = 2, kRootLeaf = 3 };

// What the page codec needs to know about the page's index.
struct TPageFormat {
  int KeyLength = 0;
  std::uint8_t Compression = 0;
  bool RowIdSuffix = false;  // keys end with the row identifier (non-unique secondary index)

  int InnerCapacity() const { return kPageRoom / (KeyLength + 10); }
  int LeafCapacity() const { return kPageRoom / (KeyLength + 6); }
  // Stored size of a leaf entry after `previous` (null for a page's first entry).
  int StoredSize(const std::uint8_t* previous, const std::uint8_t* key) const;
  // p and t of a leaf entry as the encoder will write them.
  void Shape(const std::uint8_t* previous, const std::uint8_t* key, int& p, int& t) const;
};

struct TPage {
  std::uint32_t Offset = 0;  // 0 = empty buffer
  bool Dirty = false;
  std::uint16_t PinCount = 0;
  int IndexNumber = 0;
  std::uint8_t PageType = 0;
  std::uint32_t PrevPage = 0;
  std::uint32_t NextPage = 0;
  std::uint16_t UsedBytes = 0;
  bool Free = false;
  int KeyLength = 0;
  int Count = 0;
  std::vector<std::uint8_t> Entries;  // Count entries of Stride() bytes: key, value, subtree count
  bool ReadAheadMark = false;         // pages are read one by one: never set
  TPage* Newer = nullptr;             // the cache's recency links
  TPage* Older = nullptr;

  int Stride() const { return KeyLength + 8; }
  bool IsLeaf() const { return PageType == kLeafPage || PageType == kRootLeaf; }
  bool IsRoot() const { return PageType == kRootWithChildren || PageType == kRootLeaf; }
  std::uint8_t* Key(int i) { return Entries.data() + static_cast<std::size_t>(i) * Stride(); }
  const std::uint8_t* Key(int i) const { return Entries.data() + static_cast<std::size_t>(i) * Stride(); }
  // Record number (leaves) or child page offset (pages with children).
  std::uint32_t Value(int i) const;
  void SetValue(int i, std::uint32_t value);
  std::uint32_t SubCount(int i) const;  // pages with children only
  void SetSubCount(int i, std::uint32_t count);
  // Keys below this page: EntryCount of a leaf, the sum of the subtree counts otherwise.
  std::uint64_t KeysBelow() const;

  // Empties the buffer for a page of an index with the given key length.
  void Reset(std::uint32_t offset, int indexNumber, int keyLength);
  void InsertEntry(int at, const std::uint8_t* key, std::uint32_t value, std::uint32_t subCount);
  void DeleteEntry(int at);
  // Moves entries [from, Count) to the end of `to`, or entries [0, n) to the end of `to`.
  void MoveTailTo(int from, TPage& to);
  void MoveHeadToEnd(int n, TPage& to);
  void MoveTailToFront(int from, TPage& to);

  // Recomputes UsedBytes (compressed leaves; 0 elsewhere).
  void RecountUsedBytes(const TPageFormat& format);
  // Whether the page holds more than it may: entries beyond capacity, or UsedBytes beyond room.
  bool Overflows(const TPageFormat& format) const;

  // Fills the page from its file bytes; false when the bytes cannot be a page of this index.
  bool Decode(const std::uint8_t* bytes, const TPageFormat& format);
  // Writes the 4,096 file bytes (a free page as an empty one with its free-list link); false,
  // with nothing past the page touched, when the entries do not fit.
  bool Encode(std::uint8_t* bytes, const TPageFormat& format) const;
};

}  // namespace quillon::engine
