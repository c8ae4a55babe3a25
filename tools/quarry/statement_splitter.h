// Cuts the shell's input into statements and dot-commands, line by line:
//  1. A statement ends with ";" outside quotes ('...' and "...", a doubled quote staying inside)
//     and outside /* ... */ comments; it may span lines, and one line may hold several.
//  2. A line whose first non-blank character is "." while no statement is pending is a
//     dot-command (the whole line).
//  3. Blank text between statements is dropped; text left at the end of the input is a last
//     statement without ";".
#pragma once

#include <deque>
#include <string>

namespace quillon::quarry {

struct TShellInput {
  enum class Kind { Statement, DotCommand };
  Kind kind = Kind::Statement;
  std::string text;  // a statement without its ";", or the dot-command line
  int line = 0;      // line where it starts (1-based)
};

class TStatementSplitter {
 public:
  void AddLine(const std::string& line);
  // Ends the input: a pending statement becomes complete.
  void Finish();
  bool Next(TShellInput& out);
  // An unfinished statement is buffered (the prompt shows a continuation).
  bool Pending() const;

 private:
  enum class State { Normal, SingleQuote, DoubleQuote, Comment };
  void Complete();

  std::deque<TShellInput> ready_;
  std::string buffer_;
  bool hasText_ = false;  // buffer_ holds more than blanks
  int bufferLine_ = 0;
  int lineNo_ = 0;
  State state_ = State::Normal;
};

}  // namespace quillon::quarry
