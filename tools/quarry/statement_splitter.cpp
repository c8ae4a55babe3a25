#include "tools/quarry/statement_splitter.h"

#include "util/text.h"

namespace quillon::quarry {

bool TStatementSplitter::Pending() const {
  return hasText_ || state_ != State::Normal;
}

namespace {

// True when nothing but blanks and closed /* ... */ comments remain. A comment left open at the
// end of the input is a statement: the SQL layer names the fault rather than the text vanishing.
bool OnlyComments(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) <= ' ') {
      ++i;
    } else if (text.compare(i, 2, "/*") == 0) {
      size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) return false;
      i = end + 2;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

void TStatementSplitter::Complete() {
  if (hasText_ && !OnlyComments(buffer_)) ready_.push_back({TShellInput::Kind::Statement, Trim(buffer_), bufferLine_});
  buffer_.clear();
  hasText_ = false;
}

void TStatementSplitter::AddLine(const std::string& line) {
  ++lineNo_;
  if (!Pending()) {
    std::string trimmed = Trim(line);
    if (!trimmed.empty() && trimmed[0] == '.') {
      ready_.push_back({TShellInput::Kind::DotCommand, trimmed, lineNo_});
      return;
    }
    buffer_.clear();
  }
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    char next = i + 1 < line.size() ? line[i + 1] : '\0';
    if (state_ == State::Normal && c == ';') {
      Complete();
      continue;
    }
    if (!hasText_ && static_cast<unsigned char>(c) > ' ') {
      hasText_ = true;
      bufferLine_ = lineNo_;
    }
    buffer_ += c;
    switch (state_) {
      case State::Normal:
        if (c == '\'') state_ = State::SingleQuote;
        if (c == '"') state_ = State::DoubleQuote;
        if (c == '/' && next == '*') {
          state_ = State::Comment;
          buffer_ += line[++i];
        }
        break;
      case State::SingleQuote:
        if (c == '\'') state_ = State::Normal;  // a doubled quote re-enters at once
        break;
      case State::DoubleQuote:
        if (c == '"') state_ = State::Normal;
        break;
      case State::Comment:
        if (c == '*' && next == '/') {
          state_ = State::Normal;
          buffer_ += line[++i];
        }
        break;
    }
  }
  if (hasText_) buffer_ += '\n';
}

void TStatementSplitter::Finish() {
  state_ = State::Normal;
  Complete();
}

bool TStatementSplitter::Next(TShellInput& out) {
  if (ready_.empty()) return false;
  out = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

}  // namespace quillon::quarry
