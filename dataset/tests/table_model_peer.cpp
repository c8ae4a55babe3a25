// The peer of the table model test: a second process that appends, edits and deletes its own
// records (see table_model_peer.h) through a table component while the test drives its own, then
// writes the records it left ("Id Name" per line) to a summary file.
//   table_model_peer <folder> <table> <seed> <operations> <summary file>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "dataset/quarry_table.h"
#include "dataset/tests/table_model_peer.h"
#include "engine/file_session.h"

using namespace quillon;
using namespace quillon::dataset;

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  engine::InitializeEngine();
  std::mt19937 random(static_cast<unsigned>(std::atoi(argv[3])));
  const int operations = std::atoi(argv[4]);
  std::map<int, std::string> mine;
  try {
    TQuarryTable t;
    t.SetDatabaseName(argv[1]);
    t.SetTableName(argv[2]);
    t.Open();
    int nextId = model::kPeerFirstId;
    for (int i = 0; i < operations; ++i) {
      int what = static_cast<int>(random() % 10);
      if (what < 5 || mine.empty()) {
        std::string name = "p" + std::to_string(random() % 100000);
        t.AppendRecord({std::int64_t{nextId}, name, std::int64_t{model::kPeerGroup}});
        mine[nextId++] = name;
        continue;
      }
      auto it = mine.begin();
      std::advance(it, static_cast<long>(random() % mine.size()));
      t.Refresh();
      if (!t.Locate("Id", TFieldValue{std::int64_t{it->first}})) return 3;
      if (what < 8) {
        std::string name = "p" + std::to_string(random() % 100000);
        t.Edit();
        t.FieldNamed("Name").SetAsString(name);
        t.Post();
        it->second = name;
      } else {
        t.Delete();
        mine.erase(it);
      }
    }
  } catch (const std::exception& e) {
    std::ofstream(argv[5]) << "error " << e.what() << "\n";
    return 4;
  }
  std::ofstream out(argv[5]);
  for (const auto& [id, name] : mine) out << id << " " << name << "\n";
  return 0;
}
