// Test support for the shell tests: runs a script through TShell with its output and error
// streams captured.
#pragma once

#include <cstdio>
#include <string>

#include "tools/quarry/shell.h"

namespace quillon::quarry::testing {

inline std::string ReadAll(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  return s;
}

struct ShellRun {
  std::string out, err;
  int exitCode = 0;
};

inline ShellRun RunShell(const std::string& dir, const std::string& script, bool keepGoing = false,
                         TShellOptions o = {}) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  o.directory = dir;
  o.keepGoing = keepGoing;
  ShellRun r;
  {
    TShell shell(o, out, err);
    shell.RunText(script);
    r.exitCode = shell.ExitCode();
  }
  r.out = ReadAll(out);
  r.err = ReadAll(err);
  std::fclose(out);
  std::fclose(err);
  return r;
}

}  // namespace quillon::quarry::testing
