// Test support for damage tests: a closed table of a few thousand records with a primary index
// (integer key) and one secondary index, and readers of its index file's layout so that a test
// can find a tree's pages and write damage into them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/index_file.h"
#include "engine/table_verify.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine::testing {

// What the verifier says of the table file, opened read-only.
inline std::vector<std::string> VerifyTableFile(const std::string& name) {
  TDataFile table;
  table.SetFileName(name);
  table.SetReadOnly(true);
  table.Open();
  std::vector<std::string> lines = VerifyTable(table);
  table.Close();
  return lines;
}

inline constexpr int kDamageId = 1, kDamageName = 2;

// The name every record of id i gets: a secondary order unlike the primary one.
inline std::string DamageName(int id) {
  return "n" + std::to_string((id * 7919) % 10007);
}

class DamagedTable : public EngineTest {
 protected:
  quillon::testing::TempDir dir;
  std::string name = dir.File("songs");
  int records = 2000;

  void SetUp() override {
    EngineTest::SetUp();
    TTableDefinition t;
    t.Fields = {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, 20)};
    TIndexDescriptor byName;
    byName.IndexName = "ByName";
    byName.KeyFieldCount = 1;
    byName.KeyFields[0] = kDamageName;
    t.Indexes = {PrimaryOn({kDamageId}), byName};
    CreateTable(name, t);
    TDataFile table;
    table.SetFileName(name);
    table.SetExclusive(true);
    table.Open();
    for (int i = 1; i <= records; ++i) Insert(table, i);
    table.Close();
  }

  static void Insert(TDataFile& table, int id) {
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    table.InitRecord(b.data());
    std::uint8_t value[4];
    PutI32(value, id);
    table.SetField(false, kDamageId, value, b.data());
    std::string text = DamageName(id);
    std::vector<char> field(table.GetFieldDescriptor(false, kDamageName).DataSize, 0);
    std::memcpy(field.data(), text.data(), text.size());
    table.SetField(false, kDamageName, field.data(), b.data());
    table.InsertRecord(b.data());
  }

  std::vector<std::string> Check() { return VerifyTableFile(name); }

  std::string Index() { return dir.Read("songs.IDX"); }
  void SetIndex(const std::string& bytes) { dir.Write("songs.IDX", bytes); }

  static std::uint32_t U32(const std::string& bytes, std::size_t at) {
    return GetU32(reinterpret_cast<const std::uint8_t*>(bytes.data() + at));
  }
  static void PutAt(std::string& bytes, std::size_t at, std::uint32_t value) {
    PutU32(reinterpret_cast<std::uint8_t*>(bytes.data() + at), value);
  }
  static std::size_t SlotAt(int slot) { return 14 + static_cast<std::size_t>(slot) * kIndexDescriptorSize; }
  static std::uint32_t Root(const std::string& bytes, int slot) { return U32(bytes, SlotAt(slot) + 86); }
  static int KeyLengthOf(const std::string& bytes, int slot) {
    return GetU16(reinterpret_cast<const std::uint8_t*>(bytes.data() + SlotAt(slot) + 31));
  }
  static int EntryCount(const std::string& bytes, std::uint32_t page) {
    return GetU16(reinterpret_cast<const std::uint8_t*>(bytes.data() + page + 1));
  }
  // The leaves of a two-level tree, left to right (its root's children).
  static std::vector<std::uint32_t> Leaves(const std::string& bytes, int slot) {
    std::uint32_t root = Root(bytes, slot);
    const int stride = KeyLengthOf(bytes, slot) + 8;
    std::vector<std::uint32_t> leaves;
    for (int i = 0; i < EntryCount(bytes, root); ++i) {
      leaves.push_back(U32(bytes, root + 13 + static_cast<std::size_t>(i) * stride + KeyLengthOf(bytes, slot)));
    }
    return leaves;
  }
  static void SwapPages(std::string& bytes, std::uint32_t a, std::uint32_t b) {
    std::string pa = bytes.substr(a, kIndexPageSize);
    bytes.replace(a, kIndexPageSize, bytes.substr(b, kIndexPageSize));
    bytes.replace(b, kIndexPageSize, pa);
  }

  // What a walk of one index gave: the record numbers in order and the engine error that ended
  // it (0 when it reached the end).
  struct TWalk {
    std::vector<std::uint32_t> Records;
    int Error = 0;
  };
  // Walks forward (or backward) through an index, stopping after far more steps than there are
  // records, so that a walk that would never end shows as too many records, not as a hang.
  TWalk Walk(int index, bool forward = true) {
    TWalk walk;
    TDataFile table;
    try {
      table.SetFileName(name);
      table.SetReadOnly(true);
      table.Open();
      table.SelectIndex(index);
      std::vector<std::uint8_t> b;
      if (forward) {
        table.First();
      } else {
        table.Last();
      }
      b.resize(table.RecordBufferSize());
      for (int steps = 0; steps < 4 * records; ++steps) {
        int result = forward ? table.Next(b.data()) : table.Prior(b.data());
        if (result != 0) break;
        walk.Records.push_back(static_cast<std::uint32_t>(GetI32(b.data() + 5)));
      }
    } catch (const EEngineError& e) {
      walk.Error = e.Code();
    }
    return walk;
  }
};

}  // namespace quillon::engine::testing
