// Test support for the engine tests: an initialised engine and small table definitions.
#pragma once

#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/file_session.h"

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

// Two fields and a primary index on the first.
inline TTableDefinition SmallTable() {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, 20)};
  t.Indexes = {PrimaryOn({1})};
  return t;
}

inline void CreateTable(const std::string& name, const TTableDefinition& definition, bool inMemory = false) {
  TDataFile table;
  table.SetInMemory(inMemory);
  table.SetFileName(name);
  table.SetExclusive(true);
  table.CreateTable(definition);
}

// Runs f and answers the engine error code it raised (0 when none).
template <class F>
int ErrorCode(F&& f) {
  try {
    f();
  } catch (const EEngineError& e) {
    return e.Code();
  }
  return 0;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
};

}  // namespace quillon::engine::testing
