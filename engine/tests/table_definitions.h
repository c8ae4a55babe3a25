// Test and benchmark support: field and index descriptors written in one line.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "engine/data_file.h"

namespace quillon::engine::testing {

inline TFieldDescriptor Field(const std::string& name, TFieldType type, int size = 0, int decimals = 0,
                              std::uint8_t subType = 0) {
  TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.Decimals = static_cast<std::uint8_t>(decimals);
  f.SubType = subType;
  return f;
}

inline TIndexDescriptor PrimaryOn(std::initializer_list<int> fields) {
  TIndexDescriptor d;
  for (int f : fields) d.KeyFields[d.KeyFieldCount++] = static_cast<std::int16_t>(f);
  return d;
}

// An index on one field: the primary index when name is empty, else a secondary one.
inline TIndexDescriptor IndexOn(const std::string& name, int field) {
  TIndexDescriptor d = PrimaryOn({field});
  d.IndexName = name;
  return d;
}

}  // namespace quillon::engine::testing
