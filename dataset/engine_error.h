// How failures of the table store reach the application: the component layer raises the dataset
// framework's database error (EDatabaseError) with fixed texts of its own, and turns every engine
// failure into EQuarryEngineError, a database error that carries the engine code.
//
// EQuarryEngineError holds a list of TQuarryError entries (code and the engine's message text for
// it, at most 127 characters); its own message is "Quarry Engine Error # <code> <text>" for the
// first entry. It owns its entries by value, so copies made while the exception travels stay
// whole.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/errors.h"

namespace quillon::dataset {

// The dataset framework's database error: a fixed text, no code.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

// "%s" in a message replaced by the argument (the first occurrence), as the fixed texts need.
std::string FormatMessage(const std::string& pattern, const std::string& argument);
[[noreturn]] void RaiseDatabaseError(const std::string& message);

struct TQuarryError {
  int ErrorCode = 0;
  std::string Message;  // at most 127 characters
};

class EQuarryEngineError : public EDatabaseError {
 public:
  // The entry's text is cut to 127 characters.
  EQuarryEngineError(int code, const std::string& text);
  explicit EQuarryEngineError(std::vector<TQuarryError> errors);

  int ErrorCount() const { return static_cast<int>(errors_.size()); }
  const TQuarryError& Errors(int index) const { return errors_.at(static_cast<std::size_t>(index)); }
  // The first entry's code (0 for an empty list).
  int ErrorCode() const { return errors_.empty() ? 0 : errors_.front().ErrorCode; }

 private:
  std::vector<TQuarryError> errors_;
};

// The exception of an engine failure: the code and the text the engine gave it when raised.
EQuarryEngineError ToQuarryEngineError(const engine::EEngineError& error);
// Raises code with the engine's message text for it in the current error context; nothing for 0.
void CheckEngineResult(int code);

// Runs an engine call and lets its engine failure out as EQuarryEngineError; every other
// exception passes unchanged.
template <typename TCall>
decltype(auto) EngineCall(TCall&& call) {
  try {
    return std::forward<TCall>(call)();
  } catch (const engine::EEngineError& error) {
    throw ToQuarryEngineError(error);
  }
}

}  // namespace quillon::dataset
