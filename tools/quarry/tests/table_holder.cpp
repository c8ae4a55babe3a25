// Peer of the shell's two-process tests: opens a table (shared), writes the ready file, and keeps
// the table open until the release file appears (at most a minute).
//   table_holder TABLE READY RELEASE
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  quillon::engine::InitializeEngine();
  quillon::engine::TDataFile table;
  try {
    table.SetFileName(argv[1]);
    table.Open();
  } catch (const quillon::engine::EEngineError& e) {
    std::fprintf(stderr, "table_holder: %s\n", e.what());
    return 1;
  }
  std::ofstream(argv[2]) << "open\n";
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!std::filesystem::exists(argv[3]) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  table.Close();
  return 0;
}
