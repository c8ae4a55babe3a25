// VerifyTable: the whole-table check behind the shell's .check command and the tests' "the table
// is sound" assertions. It reads through the cursor's caches and never changes anything; on a
// shared table it runs under the statement read lock, so it sees one state of the files.
//
// What must hold:
//  1. Every record's Deleted byte is 0 or 1; every null byte of a live record is 0 or 1; row
//     identifiers are above 0, at most LastRowId and never used twice. (A live record's own
//     number in its header is not checked: loading a record sets it from its place.)
//  2. The free list starting at FreeRecordHead is a simple list of deleted records, and every
//     deleted record is on it exactly once.
//  3. The index file's RecordCount is the number of live records.
//  4. Every index tree and its free list is sound (TIndexFile::Verify).
//  5. Every index holds exactly one entry per live record (the deleted-records index one per
//     record, live or deleted), with that record's number and the key built from it; no entry
//     points at a deleted or missing record.
//  6. BLOB chains and the BLOB free list are sound (VerifyBlobFile).
// Problems are reported, one line each, never raised: damage of any kind gives lines, not a
// crash or an endless walk. Each kind of problem is reported at most kMaxLinesPerCheck times,
// followed by one line counting the rest.
#pragma once

#include <string>
#include <vector>

namespace quillon::engine {

class TDataFile;

inline constexpr int kMaxLinesPerCheck = 50;

// The table must be open. Empty when the table is sound. The cursor's tree selection is restored.
std::vector<std::string> VerifyTable(TDataFile& table);

}  // namespace quillon::engine
