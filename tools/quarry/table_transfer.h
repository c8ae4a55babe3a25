// The shell's bulk paths between tables and text: .import reads a TSV file into a table, .dump
// writes a table's records through a result writer.
//
// Import file: a header row naming fields (any case, any order, each at most once; fields not
// named get InitRecord's defaults), then one record per line, fields separated by TAB with the
// TSV escapes of util/tsv.h; a CR before the line end is dropped. An empty field is no value.
// Values are the texts the shell writes (value_text.h), so a dump imports back to equal records.
// An auto-increment field's value is the row identifier InsertRecord hands out: an empty field
// takes the next one; a given value must not be below the next one, and a higher value moves the
// table's row identifiers on to it (so a dump of a table with gaps in its identifiers imports
// with the same identifiers). A row that cannot be stored stops the import with
// "<file>:<line>: <reason>" (engine errors as "Quarry Engine Error # <code> <text>"); the rows
// before it stay in the table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/quarry/ddl.h"
#include "tools/quarry/result_writer.h"

namespace quillon::engine {
class TDataFile;
}

namespace quillon::quarry {

// A failure located in an input file; its text is the whole message line.
class ELocatedError : public EShellError {
 public:
  using EShellError::EShellError;
};

// The text with NUL, CR, LF, TAB and other control characters written as escapes, so that a
// message quoting a file's content stays one printable line.
std::string PrintableText(const std::string& text);

// `table` is open; `progress` (may be null) gets a progress bar, redrawn at most ten times a
// second. Answers the number of records inserted.
std::uint64_t ImportTable(engine::TDataFile& table, const std::string& fileName, std::FILE* progress);

// Every record of the open table in the order of its current index, all stored fields.
void DumpTable(engine::TDataFile& table, TResultWriter& writer);

}  // namespace quillon::quarry
