// What the table model test and its peer program agree on: the table's shape and how the two
// processes keep out of each other's records. The test owns Ids below kPeerFirstId and Grp 0..2;
// the peer owns Ids from kPeerFirstId, names starting with "p" and Grp kPeerGroup.
#pragma once

#include <string>

#include "engine/data_file.h"
#include "engine/field_types.h"

namespace quillon::dataset::model {

inline constexpr int kPeerFirstId = 1000000;
inline constexpr int kPeerGroup = 9;

// Id integer (primary), Name string 20 (index "ByName"), Grp integer.
inline engine::TTableDefinition ModelTable() {
  auto field = [](const char* name, engine::TFieldType type, int size = 0) {
    engine::TFieldDescriptor f;
    f.FieldName = name;
    f.FieldType = static_cast<std::uint8_t>(type);
    f.DeclaredSize = static_cast<std::uint8_t>(size);
    return f;
  };
  engine::TTableDefinition t;
  t.Fields = {field("Id", engine::TFieldType::Integer), field("Name", engine::TFieldType::String, 20),
              field("Grp", engine::TFieldType::Integer)};
  engine::TIndexDescriptor primary, byName;
  primary.KeyFields[primary.KeyFieldCount++] = 1;
  byName.IndexName = "ByName";
  byName.KeyFields[byName.KeyFieldCount++] = 2;
  t.Indexes = {primary, byName};
  return t;
}

}  // namespace quillon::dataset::model
