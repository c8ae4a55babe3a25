// Tab order, access keys and the focus's own key wishes (see dialog_keys.h).
#include "ui/dialog_keys.h"

#include <algorithm>
#include <string>

namespace quillon::ui {

namespace {

bool Usable(HWND window) {
  return IsWindowVisible(window) && IsWindowEnabled(window);
}

// Every visible, enabled control under control in Tab order (labels included); only the Tab stops
// when stopsOnly.
void Collect(const TWindowControl& control, bool stopsOnly, std::vector<TWindowControl*>& out) {
  for (TWindowControl* child : control.Children()) {
    HWND h = child->Handle();
    if (!h || !Usable(h)) continue;
    if (!stopsOnly || (GetWindowLongA(h, GWL_STYLE) & WS_TABSTOP)) out.push_back(child);
    Collect(*child, stopsOnly, out);
  }
}

}  // namespace

std::vector<TWindowControl*> TabStops(const TWindowControl& root) {
  std::vector<TWindowControl*> stops;
  Collect(root, true, stops);
  return stops;
}

TWindowControl* NextTabStop(const TWindowControl& root, HWND from, bool backward) {
  std::vector<TWindowControl*> stops = TabStops(root);
  if (stops.empty()) return nullptr;
  auto it = std::find_if(stops.begin(), stops.end(), [from](TWindowControl* c) { return c->Handle() == from; });
  if (it == stops.end()) {
    // The focus may sit inside a stop (a combo box's edit, say): find the stop that holds it.
    it = std::find_if(stops.begin(), stops.end(),
                      [from](TWindowControl* c) { return from && IsChild(c->Handle(), from); });
  }
  if (it == stops.end()) return backward ? stops.back() : stops.front();
  auto index = static_cast<size_t>(it - stops.begin());
  size_t n = stops.size();
  return stops[backward ? (index + n - 1) % n : (index + 1) % n];
}

bool OfferAccessKey(const TWindowControl& root, char ch) {
  std::vector<TWindowControl*> all;
  Collect(root, false, all);
  for (TWindowControl* control : all)
    if (SendMessageA(control->Handle(), kDialogCharMessage, static_cast<WPARAM>(static_cast<unsigned char>(ch)), 0))
      return true;
  return false;
}

bool WantsKey(HWND focus, const MSG& msg) {
  if (!focus) return false;
  auto code = SendMessageA(focus, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
  if (code & DLGC_WANTMESSAGE) return true;
  if (msg.wParam == VK_TAB) return (code & DLGC_WANTTAB) != 0;
  return false;
}

bool IsPushButton(HWND window) {
  if (!window) return false;
  auto code = SendMessageA(window, WM_GETDLGCODE, 0, 0);
  return (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

}  // namespace quillon::ui
