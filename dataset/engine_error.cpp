// EQuarryEngineError and the database error helpers; see engine_error.h.
#include "dataset/engine_error.h"

namespace quillon::dataset {

namespace {

constexpr std::size_t kMaxErrorText = 127;

std::string MessageOf(const std::vector<TQuarryError>& errors) {
  if (errors.empty()) return "Quarry Engine Error";
  return "Quarry Engine Error # " + std::to_string(errors.front().ErrorCode) + " " + errors.front().Message;
}

std::vector<TQuarryError> Cut(std::vector<TQuarryError> errors) {
  for (auto& e : errors)
    if (e.Message.size() > kMaxErrorText) e.Message.resize(kMaxErrorText);
  return errors;
}

}  // namespace

std::string FormatMessage(const std::string& pattern, const std::string& argument) {
  std::string result = pattern;
  std::size_t at = result.find("%s");
  if (at != std::string::npos) result.replace(at, 2, argument);
  return result;
}

void RaiseDatabaseError(const std::string& message) {
  throw EDatabaseError(message);
}

EQuarryEngineError::EQuarryEngineError(int code, const std::string& text)
    : EQuarryEngineError(std::vector<TQuarryError>{TQuarryError{code, text}}) {}

EQuarryEngineError::EQuarryEngineError(std::vector<TQuarryError> errors)
    : EDatabaseError(MessageOf(Cut(errors))), errors_(Cut(std::move(errors))) {}

EQuarryEngineError ToQuarryEngineError(const engine::EEngineError& error) {
  return EQuarryEngineError(error.Code(), error.what());
}

void CheckEngineResult(int code) {
  if (code != 0) throw EQuarryEngineError(code, engine::MessageText(code));
}

}  // namespace quillon::dataset
