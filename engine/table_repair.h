// RepairTable: rebuilds a damaged table from the records that read whole, behind the shell's
// .repair command. The data file is the source of truth; everything derived from it is built
// again:
//  - every record whose Deleted byte, null bytes and row identifier are sound is kept with its
//    row identifier (and so its auto-increment value); half-written ones are dropped;
//  - every index is rebuilt from the kept records (a descriptor the fields do not allow is
//    dropped), and with them the deleted-records index and the free lists, which start empty;
//  - each BLOB value is read through its chain; a broken chain's value becomes empty.
// Only the data file is trusted, and only as far as its bytes agree: the header's field count,
// record length and record count are checked against the field descriptors and the file's size
// first (a shape that cannot be reconciled is refused before anything is written), and a missing
// or damaged index or BLOB file is rebuilt from it (no index descriptors readable: no indexes;
// no BLOB file: every memo value emptied and counted). Index names and the description that hold
// unprintable characters are replaced.
// The table is written as a new set of files beside the old ones (<name>~repair, left over from
// an interrupted repair they are removed first) and checked; the old files are renamed to
// numbered backups (<file>.bak1, .bak2, ...: the first number no file of the table uses, so a
// later repair never overwrites them) and the new ones take their names. A result that keeps
// fewer than half of the live records is not installed unless AcceptLoss; any loss is reported
// in the lines. The table must not be open anywhere (it is opened Exclusive). Raises engine
// errors for what stops the repair (table in use, a shape that cannot be read, a file that cannot
// be written); the old files are then left in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::engine {

struct TRepairOptions {
  bool AcceptLoss = false;  // install even when fewer than half of the live records read whole
};

struct TRepairResult {
  std::uint32_t Live = 0;  // records of the source not marked deleted
  std::uint32_t Kept = 0;
  std::uint32_t Dropped = 0;
  std::uint32_t BlobsEmptied = 0;
  int Indexes = 0;
  std::vector<std::string> Lines;  // what was done, one line each
  std::string Backup;              // the suffix of this repair's backups (".bak1", ...)
};

TRepairResult RepairTable(const std::string& fileName, const TRepairOptions& options = {});

}  // namespace quillon::engine
