// Tab-separated text as the table store's tools write and read it: one record per line, fields
// separated by TAB, and inside a field "\" written "\\", TAB "\t", LF "\n", CR "\r", so that any
// 8-bit text (memo texts with line breaks included) survives a round trip.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

std::string EscapeTsvField(std::string_view value);
// The inverse of EscapeTsvField. An unknown escape keeps both characters; a lone "\" at the end
// is kept as it is.
std::string UnescapeTsvField(std::string_view field);

// One line (without its line end) cut at TABs and unescaped.
std::vector<std::string> SplitTsvLine(std::string_view line);
// Fields escaped and joined with TABs (no line end).
std::string JoinTsvLine(const std::vector<std::string>& fields);

}  // namespace quillon
