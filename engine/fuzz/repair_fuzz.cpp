// libFuzzer target over the repair of damaged tables: the input is a table's three files
// (table_files.h). The repair may refuse with an engine error, leaving the files as they were;
// when it succeeds, the table it installs must check clean, hold the records it reports kept, and
// the data file's old bytes must be in the backup. A crash, a sanitizer report, another exception
// or any of these broken is a fault.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "engine/fuzz/table_files.h"
#include "engine/table_repair.h"
#include "engine/table_verify.h"

namespace {

using namespace quillon::engine;

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    auto p = std::filesystem::temp_directory_path() / ("quillon-repair-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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
  for (const auto& entry : std::filesystem::directory_iterator(Folder())) std::filesystem::remove(entry.path());
  const std::filesystem::path base = Folder() / "t";
  std::ofstream(base.string() + ".DAT", std::ios::binary) << files.Data;
  std::ofstream(base.string() + ".IDX", std::ios::binary) << files.Index;
  if (!files.Blob.empty()) std::ofstream(base.string() + ".BLB", std::ios::binary) << files.Blob;
  TRepairResult result;
  TRepairOptions options;
  options.AcceptLoss = true;
  try {
    result = RepairTable(base.string(), options);
  } catch (const EEngineError&) {
    // Refused: nothing of the table may have changed.
    if (ReadFile(base.string() + ".DAT") != files.Data || ReadFile(base.string() + ".IDX") != files.Index) {
      __builtin_trap();
    }
    return 0;
  } catch (const EValueTextError&) {
    return 0;
  }
  if (ReadFile(base.string() + ".DAT" + result.Backup) != files.Data) __builtin_trap();
  TDataFile table;
  table.SetFileName(base.string());
  table.SetReadOnly(true);
  try {
    table.Open();
  } catch (const EEngineError&) {
    __builtin_trap();  // the repaired table does not open
  }
  if (!VerifyTable(table).empty()) __builtin_trap();
  if (table.IndexFile().RecordCount() != result.Kept) __builtin_trap();
  table.Close();
  return 0;
}
