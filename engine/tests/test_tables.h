// Test support for the engine tests: an initialised engine and small table definitions.
#pragma once

#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/tests/table_definitions.h"

namespace quillon::engine::testing {

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
