// Building the Win32 menu bar and shortcut table from the item tree (see menu.h).
#include "ui/menu.h"

#include <functional>

namespace quillon::ui {

namespace {
UINT NextCommand() {
  static UINT next = 100;
  return next++;
}

std::string ShortCutText(const TKeyShortcut& s) {
  std::string text = s.alt ? "Alt+" : "";
  return text + s.key;
}
}  // namespace

TMenuEntry* TMenuEntry::Add(std::string name, std::string caption) {
  items_.push_back(std::make_unique<TMenuEntry>(std::move(name), std::move(caption)));
  return items_.back().get();
}

TMenuBar::~TMenuBar() {
  if (accelerators_) DestroyAcceleratorTable(accelerators_);
}

TMenuEntry* TMenuBar::Add(std::string name, std::string caption) {
  items_.push_back(std::make_unique<TMenuEntry>(std::move(name), std::move(caption)));
  return items_.back().get();
}

HMENU TMenuBar::Build(const std::vector<std::unique_ptr<TMenuEntry>>& items, std::vector<ACCEL>& accels, bool popup) {
  HMENU menu = popup ? CreatePopupMenu() : CreateMenu();
  for (const auto& item : items) {
    if (!item->Visible) continue;
    if (item->caption_ == "-") {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    if (!item->items_.empty()) {
      AppendMenuA(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(Build(item->items_, accels, true)),
                  item->caption_.c_str());
      continue;
    }
    item->command_ = NextCommand();
    std::string text = item->caption_;
    if (item->ShortCut.key) {
      text += "\t" + ShortCutText(item->ShortCut);
      ACCEL a = {};
      a.fVirt = FVIRTKEY | (item->ShortCut.alt ? FALT : 0);
      a.key = static_cast<WORD>(item->ShortCut.key);
      a.cmd = static_cast<WORD>(item->command_);
      accels.push_back(a);
    }
    AppendMenuA(menu, MF_STRING | (item->Enabled ? 0u : MF_GRAYED) | (item->Checked ? MF_CHECKED : 0u), item->command_,
                text.c_str());
  }
  return menu;
}

void TMenuBar::Attach(HWND form) {
  std::vector<ACCEL> accels;
  bar_ = Build(items_, accels, false);
  if (!accels.empty()) accelerators_ = CreateAcceleratorTableA(accels.data(), static_cast<int>(accels.size()));
  SetMenu(form, bar_);  // the window destroys the bar with itself
}

TMenuEntry* TMenuBar::FindCommand(UINT command) const {
  std::function<TMenuEntry*(const std::vector<std::unique_ptr<TMenuEntry>>&)> find =
      [&](const std::vector<std::unique_ptr<TMenuEntry>>& items) -> TMenuEntry* {
    for (const auto& item : items) {
      if (item->command_ == command && command != 0) return item.get();
      if (TMenuEntry* found = find(item->items_)) return found;
    }
    return nullptr;
  };
  return find(items_);
}

}  // namespace quillon::ui
