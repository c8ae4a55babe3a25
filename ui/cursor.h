// The screen cursor for long operations: while a THourglass lives, every control of the program shows
// the hourglass; the default cursor comes back when the last one ends, also when it ends through
// an exception.
#pragma once

#include "ui/control.h"

namespace quillon::ui {

class THourglass {
 public:
  THourglass();
  ~THourglass();
  THourglass(const THourglass&) = delete;
  THourglass& operator=(const THourglass&) = delete;
};

// HourGlass while a THourglass lives, otherwise Default.
TCursorKind ScreenCursor();

}  // namespace quillon::ui
