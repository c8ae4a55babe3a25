// A second process for the lock tests: opens a table shared, takes one lock and holds it until
// the test lets it go.
//
//   lock_peer <table> record <n> | table | write | read  <ready file> <release file>
//
// It creates the ready file once the lock is held, then waits (at most 60 s) for the release
// file to appear and exits, which drops every lock it held. Exit code 0 on success, 2 on bad
// arguments, 3 when the lock could not be taken.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/os_file.h"
#include "util/platform.h"

using namespace quillon;
using namespace quillon::engine;

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  std::string what = argv[2];
  int next = 3;
  std::uint32_t record = 0;
  if (what == "record") record = static_cast<std::uint32_t>(std::atoi(argv[next++]));
  if (argc < next + 2) return 2;
  std::string ready = argv[next], release = argv[next + 1];
  InitializeEngine();
  TDataFile table;
  try {
    table.SetFileName(argv[1]);
    table.SetStrictChangeDetection(true);  // no read lock beside the one asked for
    table.Open();
    if (what == "record") {
      table.LockRecord(record);
    } else if (what == "table") {
      table.LockTable();
    } else if (what == "write") {
      table.AcquireWriteLock();
    } else if (what == "read") {
      table.AcquireReadLock();
    } else {
      return 2;
    }
  } catch (const EEngineError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 3;
  }
  platform::WriteWholeFile(ready, "ready");
  for (int waited = 0; waited < 60000 && !os::IsExistingFile(release); waited += 5) platform::SleepMs(5);
  return 0;
}
