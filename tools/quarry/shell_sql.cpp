// The shell's SQL statements: the bar goes where .import's would.
#include "tools/quarry/shell.h"
#include "util/files.h"

namespace quillon::quarry {

void TShell::SqlStatement(const std::string& text) {
  bool bar = options_.progress > 0 || (options_.progress < 0 && IsTerminal(err_));
  std::unique_ptr<TResultWriter> writer = MakeResultWriter(options_.mode, options_.headers, out_);
  // The SQL layer reads a database name without a trailing delimiter as an alias, not a folder:
  // hand it the folder the dot commands use, delimiter included.
  const std::string folder = options_.directory.empty() ? std::string() : WithTrailingDelimiter(options_.directory);
  RunSqlStatement(text, folder, parameters_, *writer, bar ? err_ : nullptr);
}

}  // namespace quillon::quarry
