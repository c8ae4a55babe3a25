// RepairTable: rebuilds a damaged table from the records that read whole, behind the shell's
// .repair command. The data file is the source of truth; everything derived from it is built
// again:
//  - every record whose Deleted byte, null bytes and row identifier are sound is kept with its
//    row identifier (and so its auto-increment value); half-written ones are dropped;
//  - every index is rebuilt from the kept records (a descriptor the fields do not allow is
//    dropped), and with them the deleted-records index and the free lists, which start empty;
//  - each BLOB value is read through its chain; a broken chain's value becomes empty.
// The table is written as a new set of files beside the old ones, the old files are renamed to
// backups (<file>.bak, an older backup replaced) and the new ones take their names. The table
// must not be open anywhere (it is opened Exclusive). Raises engine errors for what stops the
// repair (table in use, a file that cannot be written); the old files are then left in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::engine {

struct TRepairResult {
  std::uint32_t Kept = 0;
  std::uint32_t Dropped = 0;
  std::uint32_t BlobsEmptied = 0;
  int Indexes = 0;
  std::vector<std::string> Lines;  // what was done, one line each
};

TRepairResult RepairTable(const std::string& fileName);

}  // namespace quillon::engine
