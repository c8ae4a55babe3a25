#include "tools/quarry/filter_commands.h"

#include <algorithm>

#include "dataset/sql/table_filter.h"
#include "engine/data_file.h"
#include "engine/index_file.h"
#include "tools/quarry/ddl.h"

namespace quillon::quarry {

namespace {

bool TakeFlag(std::vector<std::string>& words, const char* flag) {
  auto found = std::find(words.begin(), words.end(), flag);
  if (found == words.end()) return false;
  words.erase(found);
  return true;
}

// The tree's text, with what a partial comparison adds to it.
std::string DescribeComparison(const sql::TQueryExprNode& node) {
  std::string text = sql::DescribeTree(&node);
  if (node.NodeClass == sql::kNodePartialCompare) {
    if (node.PartialLength > 0) text += " first " + std::to_string(node.PartialLength) + " characters";
    if (node.CaseInsensitive) text += " case ignored";
  }
  return text;
}

}  // namespace

void TakeFilterOptions(std::vector<std::string>& words, dataset::TFilterSettings& options, const char* usage) {
  options.CaseInsensitive = TakeFlag(words, "--nocase");
  options.NoPartialCompare = TakeFlag(words, "--nopartial");
  if (TakeFlag(words, "--nocase") || TakeFlag(words, "--nopartial")) throw EShellError(std::string("usage: ") + usage);
}

bool TakeFilterWords(std::vector<std::string>& words, TShellFilter& filter, const char* usage) {
  TakeFilterOptions(words, filter.options, usage);
  auto found = std::find(words.begin(), words.end(), "--filter");
  if (found == words.end()) {
    if (filter.options.CaseInsensitive || filter.options.NoPartialCompare)
      throw EShellError(std::string("usage: ") + usage);
    return false;
  }
  if (found + 1 == words.end()) throw EShellError(std::string("usage: ") + usage);
  filter.text = *(found + 1);
  words.erase(found, found + 2);
  if (std::find(words.begin(), words.end(), "--filter") != words.end())
    throw EShellError(std::string("usage: ") + usage);
  return true;
}

void InstallShellFilter(engine::TDataFile& table, const TShellFilter& filter) {
  std::vector<std::uint8_t> canned = dataset::CompileFilterText(table, filter.text, filter.options);
  std::uint32_t handle = table.AddFilter(sql::MakeTextFilter(table, canned), nullptr, false);
  int code = table.ActivateFilter(handle);
  if (code != 0) engine::RaiseEngineError(code, table.FileName());
}

std::string HexLines(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t line = 0; line < bytes.size(); line += 16) {
    char offset[20];
    std::snprintf(offset, sizeof offset, "%04zx", line);
    out += offset;
    for (std::size_t i = line; i < bytes.size() && i < line + 16; ++i) {
      out += ' ';
      out += kDigits[bytes[i] >> 4];
      out += kDigits[bytes[i] & 15];
    }
    out += '\n';
  }
  return out;
}

void WriteFilterPlan(engine::TDataFile& table, const TShellFilter& filter, std::FILE* out) {
  std::vector<std::uint8_t> canned = dataset::CompileFilterText(table, filter.text, filter.options);
  std::fputs(HexLines(canned).c_str(), out);
  std::unique_ptr<sql::TQueryExprNode> tree = sql::ReadCannedFilter(table, canned);
  for (const sql::TComparisonIndexUse& use : sql::ExplainIndexUse(table, *tree)) {
    std::string how;
    if (use.Index < 0) {
      how = "no index: every record is tested";
    } else if (use.Index == 0) {
      how = "primary index";
    } else {
      how = "index " + table.IndexFile().GetIndexDescriptor(use.Index).IndexName;
    }
    std::fprintf(out, "%s\t%s\n", DescribeComparison(*use.Comparison).c_str(), how.c_str());
  }
}

}  // namespace quillon::quarry
