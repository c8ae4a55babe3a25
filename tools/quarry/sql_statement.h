// SELECT, INSERT, UPDATE and DELETE in the shell: run through the query component over the
// shell's directory. A SELECT prints its rows with the value texts of .dump (the result table's
// bookkeeping fields are left out); the others print nothing. ":name" parameters take the values
// given with ".param set NAME VALUE": a value that reads as a whole number binds as an integer,
// one that reads as a number as a float, anything else as text.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "tools/quarry/result_writer.h"

namespace quillon::quarry {

using TSqlParameters = std::map<std::string, std::string>;

// Whether the text is one of the statements the SQL layer runs.
bool IsSqlStatement(const std::string& text);

// `progress` (may be null) gets a progress bar fed by the statement's progress reports.
void RunSqlStatement(const std::string& text, const std::string& directory, const TSqlParameters& parameters,
                     TResultWriter& writer, std::FILE* progress);

// ".param set NAME VALUE", ".param unset NAME", ".param clear", ".param list".
void ParamCommand(const std::string& line, TSqlParameters& parameters, std::FILE* out);

}  // namespace quillon::quarry
