// Writes the seed inputs of the table fuzz target into a folder: small real tables (plain, with a
// compressed secondary index, with BLOB values and deleted records), each packed as one input.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/fuzz/table_files.h"

using namespace quillon::engine;

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TFieldDescriptor Field(const std::string& name, TFieldType type, int size = 0, std::uint8_t subType = 0) {
  TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.SubType = subType;
  return f;
}

void MakeTable(const std::filesystem::path& folder, const std::string& name, int rows, int compression, bool memo,
               int deletions, const std::filesystem::path& out) {
  TTableDefinition t;
  t.Fields = {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, 12)};
  if (memo) t.Fields.push_back(Field("Memo", TFieldType::Blob, 0, kSubTypeMemo));
  TIndexDescriptor primary;
  primary.KeyFieldCount = 1;
  primary.KeyFields[0] = 1;
  TIndexDescriptor byName;
  byName.IndexName = "ByName";
  byName.KeyFieldCount = 1;
  byName.KeyFields[0] = 2;
  byName.Compression = static_cast<std::uint8_t>(compression);
  t.Indexes = {primary, byName};
  t.BlobBlockSize = 512;
  const std::string path = (folder / name).string();
  TDataFile table;
  table.SetFileName(path);
  table.SetExclusive(true);
  table.CreateTable(t);
  table.Open();
  for (int i = 1; i <= rows; ++i) {
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    table.InitRecord(b.data());
    std::uint8_t id[4];
    PutI32(id, i * 3);
    table.SetField(false, 1, id, b.data());
    std::string text = "s" + std::to_string((i * 37) % 101);
    std::vector<char> field(table.GetFieldDescriptor(false, 2).DataSize, 0);
    std::memcpy(field.data(), text.data(), text.size());
    table.SetField(false, 2, field.data(), b.data());
    if (memo && i % 4 == 1) {
      std::string value(static_cast<std::size_t>(100 + i * 30), static_cast<char>('a' + i % 26));
      table.OpenBlob(false, 3, kBlobOpenReadWrite, b.data());
      table.WriteBlob(false, 3, 0, static_cast<std::uint32_t>(value.size()), value.data(), b.data());
    }
    table.InsertRecord(b.data());
    table.CloseAllBlobs();
  }
  table.SelectIndex(0);
  for (int d = 0; d < deletions; ++d) {
    table.First();
    std::vector<std::uint8_t> b(table.RecordBufferSize());
    if (table.Next(b.data()) != 0 || table.Next(b.data()) != 0) break;
    table.DeleteRecord(true);
  }
  table.Close();
  fuzzing::TTableFiles files{ReadAll(path + ".DAT"), ReadAll(path + ".IDX"),
                             memo ? ReadAll(path + ".BLB") : std::string()};
  std::ofstream(out / (name + ".table"), std::ios::binary) << fuzzing::PackTable(files);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_table_seeds FOLDER\n");
    return 2;
  }
  InitializeEngine();
  const std::filesystem::path out = argv[1];
  std::filesystem::create_directories(out);
  const std::filesystem::path work = out / "tables";
  std::filesystem::create_directories(work);
  try {
    MakeTable(work, "plain", 40, 0, false, 0, out);
    MakeTable(work, "split", 700, 0, false, 5, out);
    MakeTable(work, "packed", 300, 3, false, 3, out);
    MakeTable(work, "memo", 30, 1, true, 4, out);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_table_seeds: %s\n", e.what());
    return 1;
  }
  std::filesystem::remove_all(work);
  return 0;
}
