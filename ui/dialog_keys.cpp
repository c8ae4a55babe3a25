// Tab order, access keys and the focus's own key wishes (see dialog_keys.h).
#include "ui/dialog_keys.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace quillon::ui {

namespace {

bool Usable(HWND window) {
  return IsWindowVisible(window) && IsWindowEnabled(window);
}

void CollectStops(const TControl& control, std::vector<TControl*>& stops) {
  for (TControl* child : control.Children()) {
    HWND h = child->Handle();
    if (!h || !Usable(h)) continue;
    if (GetWindowLongA(h, GWL_STYLE) & WS_TABSTOP) stops.push_back(child);
    CollectStops(*child, stops);
  }
}

// Every visible, enabled control under root in Tab order, stops or not (labels included).
void CollectAll(const TControl& control, std::vector<TControl*>& all) {
  for (TControl* child : control.Children()) {
    HWND h = child->Handle();
    if (!h || !Usable(h)) continue;
    all.push_back(child);
    CollectAll(*child, all);
  }
}

// The access key of a caption: the character after a single "&", 0 when none.
char AccessKey(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return caption[i + 1];
  }
  return 0;
}

bool HasTabStop(HWND window) {
  return (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP) != 0;
}

}  // namespace

std::vector<TControl*> TabStops(const TControl& root) {
  std::vector<TControl*> stops;
  CollectStops(root, stops);
  return stops;
}

TControl* NextTabStop(const TControl& root, HWND from, bool backward) {
  std::vector<TControl*> stops = TabStops(root);
  if (stops.empty()) return nullptr;
  auto it = std::find_if(stops.begin(), stops.end(), [from](TControl* c) { return c->Handle() == from; });
  if (it == stops.end()) {
    // The focus may sit inside a stop (a combo box's edit, say): find the stop that holds it.
    it = std::find_if(stops.begin(), stops.end(), [from](TControl* c) { return from && IsChild(c->Handle(), from); });
  }
  if (it == stops.end()) return backward ? stops.back() : stops.front();
  auto index = static_cast<size_t>(it - stops.begin());
  size_t n = stops.size();
  return stops[backward ? (index + n - 1) % n : (index + 1) % n];
}

TControl* MnemonicTarget(const TControl& root, char ch) {
  std::vector<TControl*> all;
  CollectAll(root, all);
  auto want = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(ch)));
  for (size_t i = 0; i < all.size(); ++i) {
    char key = AccessKey(all[i]->Caption());
    if (!key || static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(key))) != want) continue;
    if (HasTabStop(all[i]->Handle())) return all[i];
    // A label lends its access key to the control that follows it.
    for (size_t j = i + 1; j < all.size(); ++j)
      if (HasTabStop(all[j]->Handle())) return all[j];
  }
  return nullptr;
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
