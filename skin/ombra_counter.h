// TOmbraCounter: a stopwatch on the high-resolution clock (the performance counter on Windows),
// started when created; Seconds() gives the time since then.
#pragma once

#include <chrono>

namespace quillon::skin {

class TOmbraCounter {
 public:
  TOmbraCounter() : start_(std::chrono::steady_clock::now()) {}
  float Seconds() const { return std::chrono::duration<float>(std::chrono::steady_clock::now() - start_).count(); }

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace quillon::skin
