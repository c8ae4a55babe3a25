// SQL statements in the shell: any statement that is not one of the shell's own table
// statements runs through the query component over the shell's directory, as written, so that
// the SQL layer's own result or message is what the user sees. A SELECT prints its rows with the
// value texts of .dump (the result table's bookkeeping fields are left out), except that floating
// numbers are shown with at most 15 significant digits; the others print nothing. ":name"
// parameters take the values given with ".param set NAME VALUE": a value that reads as a whole
// number binds as an integer, one that reads as a number as a float, anything else as text.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "tools/quarry/result_writer.h"

namespace quillon::quarry {

using TSqlParameters = std::map<std::string, std::string>;

// `progress` (may be null) gets a progress bar fed by the statement's progress reports.
void RunSqlStatement(const std::string& text, const std::string& directory, const TSqlParameters& parameters,
                     TResultWriter& writer, std::FILE* progress);

// ".param set NAME VALUE", ".param unset NAME", ".param clear", ".param list".
void ParamCommand(const std::string& line, TSqlParameters& parameters, std::FILE* out);

}  // namespace quillon::quarry
