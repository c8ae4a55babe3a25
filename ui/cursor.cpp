// Nesting count of the hourglass cursor (see cursor.h).
#include "ui/cursor.h"

namespace quillon::ui {

namespace {
int hourglassDepth = 0;
}

THourglass::THourglass() {
  ++hourglassDepth;
  ::SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

THourglass::~THourglass() {
  if (--hourglassDepth == 0) ::SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

TCursorKind ScreenCursor() {
  return hourglassDepth > 0 ? TCursorKind::HourGlass : TCursorKind::Default;
}

}  // namespace quillon::ui
