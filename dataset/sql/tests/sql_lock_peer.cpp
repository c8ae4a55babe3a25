// A second process for the WITH LOCKS test: runs a SELECT ... WITH LOCKS over the songs table of
// a folder and, at the statement's first progress report (the tables are locked then), creates
// the ready file and waits (at most 60 s) for the release file before letting the statement end.
// With "exclusive" it instead holds the songs table open Exclusive (as an import does) until the
// release file appears.
//
//   sql_lock_peer <folder> <ready file> <release file> [exclusive]
//
// Exit code 0 when the statement ran, 2 on bad arguments, 3 on an engine error.
#include <cstdio>
#include <string>

#include "dataset/sql/data_query.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "engine/os_file.h"
#include "util/platform.h"

using namespace quillon;

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 2;
  const std::string ready = argv[2], release = argv[3];
  engine::InitializeEngine();
  engine::Session().SetPrivateDir(argv[1]);
  auto waitForRelease = [&] {
    for (int ms = 0; ms < 60000 && !engine::os::IsExistingFile(release); ms += 5) platform::SleepMs(5);
  };
  try {
    if (argc == 5) {
      if (std::string(argv[4]) != "exclusive") return 2;
      engine::TDataFile table;
      table.SetFileName(std::string(argv[1]) + platform::kPathDelim + "songs");
      table.SetExclusive(true);
      table.Open();
      platform::WriteWholeFile(ready, "ready");
      waitForRelease();
      table.Close();
      return 0;
    }
    sql::TQuerySettings settings;
    settings.DatabaseDirectory = argv[1];
    sql::TDataQuery query;
    query.Open("select song from songs with locks", settings);
    bool waited = false;
    query.Execute([&](int, int, bool&) {
      if (waited) return;
      waited = true;
      platform::WriteWholeFile(ready, "ready");
      waitForRelease();
    });
  } catch (const engine::EEngineError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 3;
  }
  return 0;
}
