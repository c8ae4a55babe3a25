// Filters in the shell: a filtered dump applies a Filter text to a table exactly as the table
// component does (the same compilation to the canned buffer, the same engine filter, indexes
// where they serve), and a filter plan shows that buffer and which index answers each
// comparison. Filter errors come out as the filter parser's or builder's own message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dataset/quarry_table.h"

namespace quillon::engine {
class TDataFile;
}

namespace quillon::quarry {

struct TShellFilter {
  std::string text;
  dataset::TFilterSettings options;
};

// Reads "--filter TEXT", "--nocase" and "--nopartial" out of words (removing them); false when
// none of them is there. "--nocase" or "--nopartial" without "--filter" is a usage error.
bool TakeFilterWords(std::vector<std::string>& words, TShellFilter& filter, const char* usage);
// The same options after a filter text given in place: "--nocase", "--nopartial".
void TakeFilterOptions(std::vector<std::string>& words, dataset::TFilterSettings& options, const char* usage);

// Installs and activates the filter on the open table, as an open table component with Filtered
// set does.
void InstallShellFilter(engine::TDataFile& table, const TShellFilter& filter);

// Bytes as hex, 16 a line, each line led by its offset in four hex digits.
std::string HexLines(const std::vector<std::uint8_t>& bytes);

// The canned buffer of the filter and, per comparison, the index that serves it or that none does.
void WriteFilterPlan(engine::TDataFile& table, const TShellFilter& filter, std::FILE* out);

}  // namespace quillon::quarry
