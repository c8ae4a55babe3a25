// Benchmark support for the small benchmark programs: times in milliseconds and their median and
// worst case.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace quillon::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

inline void Report(const std::string& what, std::vector<double> times) {
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  std::printf("%-44s runs %3zu  median %9.3f ms  worst %9.3f ms\n", what.c_str(), times.size(), times[times.size() / 2],
              times.back());
}

}  // namespace quillon::bench
