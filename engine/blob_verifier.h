// VerifyBlobFile: a full check of a table's BLOB file against its records, the BLOB file's
// sibling of the index tree verifier. Tests run it after every change and the shell's check
// command reports it. It reads through the cursor's caches, so it sees what the cursor would
// write, and it never changes anything.
//
// What must hold:
//  1. Every live record's BLOB slot holds 0 or the offset of a block on the block grid below
//     NextBlockOffset, never an open value's handle; its null byte is 1 exactly when it is not 0.
//  2. Each chain starts with PrevBlock 0, links back correctly, is owned by its record in every
//     block, has every block full but the last, and its first block's TotalLength equals the
//     bytes used over the chain (0 in the other blocks).
//  3. No block is in two chains or twice in one; the free list is a simple list of blocks that
//     are in no chain; every block of the file is in a chain or on the free list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::engine {

class TDataFile;

struct TBlobFileReport {
  std::vector<std::string> Problems;  // one line each, naming the block offset or record
  std::uint32_t Values = 0;           // chains found in live records
  std::uint32_t ChainBlocks = 0;
  std::uint32_t FreeBlocks = 0;
  std::uint32_t LostBlocks = 0;  // in no chain and not on the free list
  bool Ok() const { return Problems.empty(); }
};

// The table must be open. A table without BLOB fields yields an empty, good report. Runs under
// the statement read lock on a shared table.
TBlobFileReport VerifyBlobFile(TDataFile& table);

}  // namespace quillon::engine
