// quarry [DIR] [-c STATEMENT]... [-f FILE] [--tsv|--csv|--table] [--no-header] [--keep-going]
//        [--password TEXT]... | --help
// Statements come from each -c in order, then from -f FILE; without either from standard input,
// with a prompt and line editing when that is a terminal.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/quarry/shell.h"

#ifdef QUARRY_HAVE_EDITLINE
#include <editline/readline.h>
#endif

using namespace quillon::quarry;

namespace {

constexpr char kUsage[] =
    "usage: quarry [DIR] [-c STATEMENT]... [-f FILE] [--tsv|--csv|--table] [--no-header] [--keep-going]\n"
    "              [--password TEXT]...\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

void Help() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\nDIR is the folder of the tables (default: the current one). --password gives a table\n"
      "password to the session (repeatable). The dot-commands (.help prints them):\n\n",
      stdout);
  std::fflush(stdout);
  TShellOptions options;
  TShell shell(options, stdout, stderr);
  shell.RunText(".help");
}

bool ReadPlainLine(std::FILE* in, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
  if (c == EOF && line.empty()) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TShellOptions options;
  std::vector<std::string> commands;
  std::string file;
  bool haveDir = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-c" && i + 1 < argc)
      commands.push_back(argv[++i]);
    else if (a == "-f" && i + 1 < argc && file.empty())
      file = argv[++i];
    else if (a == "--tsv")
      options.mode = TOutputMode::Tsv;
    else if (a == "--csv")
      options.mode = TOutputMode::Csv;
    else if (a == "--table")
      options.mode = TOutputMode::Table;
    else if (a == "--no-header")
      options.headers = false;
    else if (a == "--keep-going")
      options.keepGoing = true;
    else if (a == "--password" && i + 1 < argc)
      options.passwords.push_back(argv[++i]);
    else if (a == "--help") {
      Help();
      return 0;
    } else if (!a.empty() && a[0] != '-' && !haveDir) {
      options.directory = a;
      haveDir = true;
    } else {
      return Usage();
    }
  }
  bool interactive = commands.empty() && file.empty() && IsTerminal(stdin);
  if (interactive) options.keepGoing = true;  // at a prompt every error is reported and the shell goes on
  TShell shell(options, stdout, stderr);
  if (!commands.empty() || !file.empty()) {
    for (const auto& c : commands) {
      if (!shell.RunText(c) && !options.keepGoing) return 1;
    }
    if (!file.empty()) shell.RunFile(file);
    return shell.ExitCode();
  }
  if (!interactive) {
    shell.Run([](std::string& line, bool) { return ReadPlainLine(stdin, line); });
    return shell.ExitCode();
  }
  shell.Run([](std::string& line, bool continuation) {
    const char* prompt = continuation ? "   ...> " : "quarry> ";
#ifdef QUARRY_HAVE_EDITLINE
    char* text = readline(prompt);
    if (!text) return false;
    line = text;
    if (!line.empty()) add_history(text);
    std::free(text);
    return true;
#else
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    return ReadPlainLine(stdin, line);
#endif
  });
  std::fputs("\n", stdout);
  return 0;
}
