// libFuzzer target over damaged tables: the input is a table's three files (table_files.h). The
// table is opened, checked and walked through every index both ways, and its BLOB values are
// read. Any engine error is a fine answer; a crash, a sanitizer report, another exception or a
// walk longer than the records the file holds is a fault.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "engine/fuzz/table_files.h"
#include "engine/table_verify.h"

namespace {

using namespace quillon::engine;

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    auto p = std::filesystem::temp_directory_path() / ("quillon-table-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes, bool present) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (present) std::ofstream(path, std::ios::binary) << bytes;
}

void ReadBlobs(TDataFile& table, const std::uint8_t* record) {
  for (int f = 1; f <= table.PhysicalFieldCount(); ++f) {
    if (table.GetFieldDescriptor(false, f).FieldType != static_cast<std::uint8_t>(TFieldType::Blob)) continue;
    std::vector<std::uint8_t> copy(record, record + table.RecordBufferSize());
    try {
      if (table.OpenBlob(false, f, kBlobOpenRead, copy.data()) != 0) continue;
      std::uint32_t length = 0;
      if (table.GetBlobSize(false, f, copy.data(), length) == 0) {
        std::vector<std::uint8_t> value(std::min<std::uint32_t>(length, 1u << 20));
        std::uint32_t read = 0;
        table.ReadBlob(false, f, 0, static_cast<std::uint32_t>(value.size()), value.data(), copy.data(), read);
      }
      table.CloseBlob(false, f, copy.data());
    } catch (const EEngineError&) {
      table.CloseAllBlobs();
    }
  }
}

void Walk(TDataFile& table, int index, bool forward) {
  try {
    table.SelectIndex(index);
    if (forward)
      table.First();
    else
      table.Last();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    const std::uint64_t bound = std::uint64_t{table.PhysicalRecordCount()} + 1;
    for (std::uint64_t steps = 0;; ++steps) {
      int result = forward ? table.Next(record.data()) : table.Prior(record.data());
      if (result != 0) break;
      if (steps > bound) __builtin_trap();  // more records than the file holds: a looping walk
      if (steps < 64) ReadBlobs(table, record.data());
    }
  } catch (const EEngineError&) {
  } catch (const EValueTextError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool started = [] {
    InitializeEngine();
    return true;
  }();
  (void)started;
  fuzzing::TTableFiles files;
  if (!UnpackTable(data, size, files)) return 0;
  const std::filesystem::path base = Folder() / "t";
  WriteFile(base.string() + ".DAT", files.Data, true);
  WriteFile(base.string() + ".IDX", files.Index, true);
  WriteFile(base.string() + ".BLB", files.Blob, !files.Blob.empty());
  TDataFile table;
  try {
    table.SetFileName(base.string());
    table.SetReadOnly(true);
    table.Open();
  } catch (const EEngineError&) {
    return 0;
  } catch (const EValueTextError&) {
    return 0;
  }
  try {
    VerifyTable(table);
    std::vector<int> indexes = {TIndexFile::kPhysicalOrder, 0};
    for (int i = 1; i <= table.IndexFile().IndexCount(); ++i) indexes.push_back(i);
    for (int index : indexes) {
      Walk(table, index, true);
      Walk(table, index, false);
    }
  } catch (const EEngineError&) {
  } catch (const EValueTextError&) {
  }
  try {
    table.Close();
  } catch (const EEngineError&) {
  }
  return 0;
}
