// Index keys: how a record becomes the byte string an index orders by, and how two such strings
// compare. The B+-tree never looks inside a key; everything it knows about order comes from
// TKeyComparer.
//
// Key layout: for every key field in order, a null byte (1 = value present, 0 = none) and the
// field's DataSize key bytes (all zero when there is no value); a non-unique secondary index
// appends the row identifier. An auto-increment field is the row identifier: null byte 1 and the
// identifier in the 32-bit integer form. Key bytes by type:
//   string               mapped by the table locale, or upper-cased (case-insensitive index,
//                        Windows-1252 letters) without one; zero-padded to DataSize
//   date, int32, time    4 bytes big-endian, top bit inverted
//   int16                2 bytes big-endian, top bit inverted
//   boolean, word        2 bytes big-endian
//   float, timestamp     IEEE double big-endian; values >= 0 get the top bit set, negative
//                        values have every bit inverted
//   BCD                  the stored 64-bit integer big-endian, top bit inverted
//   anything else        the record bytes unchanged (unsigned 32-bit and extended values
//                        included: existing files are ordered by those bytes, so they stay)
// A FieldDescending field (in an index that is not Descending) has its null byte and key bytes
// inverted, except the last byte of a string field, which stays the terminating zero.
//
// Comparison: unsigned bytes over the comparison length, reversed for a Descending index. In a
// table with a locale the string parts are compared with the locale's collation instead; a
// FieldDescending string part is compared on its restored text with the result reversed, so that
// the field really runs backwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table_format.h"

namespace quillon::engine {

struct TIndexDescriptor;

using TKey = std::vector<std::uint8_t>;

// The 32-bit integer key form (big-endian, top bit inverted), also used for row identifiers.
void PutIntegerKey(std::uint8_t* out, std::int32_t value);
std::int32_t GetIntegerKey(const std::uint8_t* in);
// The deleted-records index key: the Deleted byte and the row identifier.
TKey DeletedRecordKey(bool deleted, std::int32_t rowId);
// Upper case of the Windows-1252 character set (a-z and the accented letters), so that keys of
// case-insensitive indexes have the same bytes whichever machine wrote them.
std::string UpperCaseAnsi(std::string_view text);

// Builds the key of an index from a record buffer. lcid 0 means no table locale.
// nonUniqueSecondary: the index is a secondary index without Unique (keys end with the row id).
TKey BuildIndexKey(const TIndexDescriptor& index, bool nonUniqueSecondary, const std::vector<TFieldDescriptor>& fields,
                   const std::uint8_t* record, std::uint32_t lcid);

class TKeyComparer {
 public:
  // Compares two strings with a locale collation: <0, 0, >0.
  using TCollation = std::function<int(std::string_view, std::string_view)>;

  // Plain byte order (the deleted-records index, tables without a locale).
  TKeyComparer() = default;
  explicit TKeyComparer(bool descending) : descending_(descending) {}
  // The comparison of an index of a table. With a collation, string parts use it.
  TKeyComparer(const TIndexDescriptor& index, const std::vector<TFieldDescriptor>& fields, TCollation collation);

  // -1, 0 or 1 over the first `length` bytes.
  int Compare(const std::uint8_t* a, const std::uint8_t* b, int length) const;
  bool Descending() const { return descending_; }

 private:
  struct TStringPart {
    int Offset;  // of the first character (after the null byte)
    int Length;  // DataSize
    bool Inverted;
  };
  int CompareAscending(const std::uint8_t* a, const std::uint8_t* b, int length) const;

  bool descending_ = false;
  std::vector<TStringPart> strings_;
  TCollation collation_;
};

}  // namespace quillon::engine
