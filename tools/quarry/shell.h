// TShell: the table store's command-line shell. It runs the shell's own table statements
// (CREATE, DROP and EMPTY TABLE), the dot-commands, and hands everything else to the SQL layer.
// Errors print one line on the error stream (engine errors as "Quarry Engine Error # <code>
// <text>") and make the exit status 1; without keepGoing the first error stops the input.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/quarry/ddl.h"
#include "tools/quarry/result_writer.h"
#include "tools/quarry/sql_statement.h"
#include "tools/quarry/statement_splitter.h"

namespace quillon::quarry {

struct TShellFilter;

struct TShellOptions {
  std::string directory = ".";
  TOutputMode mode = TOutputMode::Tsv;
  bool headers = true;
  bool keepGoing = false;
  bool timer = false;
  // Progress bars of .import on the error stream: -1 when it is a terminal, 0 never, 1 always.
  int progress = -1;
  // Table passwords put into the engine session's password list when the shell starts.
  std::vector<std::string> passwords;
};

// Whether the stream is a terminal (prompts and progress bars are for people only).
bool IsTerminal(std::FILE* stream);

// Yields the next input line without its line end; false at the end of the input.
using TLineSource = std::function<bool(std::string& line, bool continuation)>;

class TShell {
 public:
  TShell(TShellOptions options, std::FILE* out, std::FILE* err);

  // Runs every statement of the source; false when it stopped at an error.
  bool Run(const TLineSource& source);
  bool RunText(const std::string& text);
  bool RunFile(const std::string& fileName);
  // One statement or dot-command; false (message printed) on error.
  bool Execute(const TShellInput& input);

  int ExitCode() const { return failed_ ? 1 : 0; }
  const TShellOptions& Options() const { return options_; }
  // The path of a table name: relative names lie in the database directory.
  std::string TablePath(const std::string& name) const;
  bool TableExists(const std::string& name) const;

 private:
  void Statement(const std::string& text);
  void DotCommand(const std::string& line);
  void CreateTable(const TTableDef& def);
  void DropTable(const std::string& name);
  void EmptyTable(const std::string& name);
  void Tables();
  void Schema(const std::string& name);
  void Help();
  void Import(const std::string& name, const std::string& file);
  void Dump(const std::string& name, const std::string* index, const TShellFilter* filter = nullptr);
  void Repair(const std::string& name, bool acceptLoss);
  // .dump with its filter options, .filter-plan and .password (shell_filters.cpp).
  void DumpCommand(std::vector<std::string> words);
  void FilterPlanCommand(std::vector<std::string> words);
  void PasswordCommand(const std::vector<std::string>& words);
  void Check(const std::string& name);
  // .lyric-index and .lyric-search (shell_lyrics.cpp).
  void LyricIndexCommand(const std::vector<std::string>& words);
  void LyricSearchCommand(const std::string& line);
  void SqlStatement(const std::string& text);

  TShellOptions options_;
  std::FILE* out_;
  std::FILE* err_;
  bool failed_ = false;
  int readDepth_ = 0;
  TSqlParameters parameters_;
};

}  // namespace quillon::quarry
