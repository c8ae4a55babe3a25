// The shell's SQL statements: the bar goes where .import's would.
#include "tools/quarry/shell.h"

namespace quillon::quarry {

void TShell::SqlStatement(const std::string& text) {
  bool bar = options_.progress > 0 || (options_.progress < 0 && IsTerminal(err_));
  std::unique_ptr<TResultWriter> writer = MakeResultWriter(options_.mode, options_.headers, out_);
  RunSqlStatement(text, options_.directory, parameters_, *writer, bar ? err_ : nullptr);
}

}  // namespace quillon::quarry
