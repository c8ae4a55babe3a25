// What the two-process table test and its peer program (table_peer.cpp) agree on: the table's
// shape and the invariants every record the peer writes keeps, so that the reading process can
// tell a whole change from half of one.
#pragma once

#include <cstdint>
#include <string>

#include "engine/data_file.h"
#include "engine/errors.h"

namespace quillon::engine::peer {

inline constexpr int kId = 1, kA = 2, kB = 3, kName = 4, kNameCopy = 5, kMemo = 6, kFiller = 7;
inline constexpr int kNameSize = 30;
// A long text field, so that the reader's record cache holds only part of the table and misses
// while the peer changes it.
inline constexpr int kFillerSize = 250;
inline constexpr std::int32_t kSum = 1000000;  // A + B of every record

// Primary index on Id, a unique secondary index "ByName" on Name, a memo and a filler.
inline TTableDefinition PeerTable() {
  auto field = [](const char* name, TFieldType type, int size = 0) {
    TFieldDescriptor f;
    f.FieldName = name;
    f.FieldType = static_cast<std::uint8_t>(type);
    f.DeclaredSize = static_cast<std::uint8_t>(size);
    return f;
  };
  TTableDefinition t;
  t.Fields = {field("Id", TFieldType::Integer),
              field("A", TFieldType::Integer),
              field("B", TFieldType::Integer),
              field("Name", TFieldType::String, kNameSize),
              field("NameCopy", TFieldType::String, kNameSize),
              field("Memo", TFieldType::Blob),
              field("Filler", TFieldType::String, kFillerSize)};
  TIndexDescriptor primary;
  primary.KeyFieldCount = 1;
  primary.KeyFields[0] = kId;
  TIndexDescriptor byName;
  byName.IndexName = "ByName";
  byName.Unique = true;
  byName.KeyFieldCount = 1;
  byName.KeyFields[0] = kName;
  t.Indexes = {primary, byName};
  return t;
}

inline std::string PeerName(std::int32_t id, std::int32_t a) {
  return "n" + std::to_string(id) + "-" + std::to_string(a);
}

// The filler of a record with value A.
inline std::string PeerFiller(std::int32_t a) {
  return std::string(static_cast<std::size_t>(20 + a % 200), static_cast<char>('a' + a % 26));
}

// The memo of a record with value A: its length and bytes follow from A.
inline std::string PeerMemo(std::int32_t a) {
  std::string s(static_cast<std::size_t>(a % 1500), '\0');
  std::uint32_t x = static_cast<std::uint32_t>(a) * 2654435761u + 1u;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// The codes a process sharing a table meets while another one holds a lock: try again.
inline bool IsLockCode(int code) {
  return code == err::kLockFailure || code == err::kRecordLocked || code == err::kFileLocked;
}

}  // namespace quillon::engine::peer
