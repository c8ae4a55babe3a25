// Test support: what a tool wrote into a temporary file stream.
#pragma once

#include <cstdio>
#include <string>

namespace quillon::pagetext::testing {

// The whole content written to f; closes f.
inline std::string ReadBack(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  std::fclose(f);
  return s;
}

}  // namespace quillon::pagetext::testing
