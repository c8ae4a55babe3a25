// The main menu: a tree of items with captions, shortcuts, help contexts and tags, built into a
// Win32 menu bar. Items that are not visible are kept but not put into the bar.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/control.h"

namespace quillon::ui {

// A key with Alt, e.g. {true, 'X'} for Alt+X; key 0 means none.
struct TKeyShortcut {
  bool alt = false;
  char key = 0;
};

class TMenuEntry : public TOwnedObject {
 public:
  TMenuEntry(std::string name, std::string caption) : TOwnedObject(std::move(name)), caption_(std::move(caption)) {}

  // A caption of "-" makes a separator.
  TMenuEntry* Add(std::string name, std::string caption);

  const std::string& Caption() const { return caption_; }
  const std::vector<std::unique_ptr<TMenuEntry>>& Items() const { return items_; }

  int HelpContext = 0;
  TKeyShortcut ShortCut;
  bool Visible = true;
  bool Enabled = true;
  bool Checked = false;
  bool RadioItem = false;  // a ticked radio item shows a dot instead of a check mark
  std::string Hint;
  TEventHandler OnClick;

  UINT Command() const { return command_; }
  void Click() {
    if (OnClick) OnClick(*this);
  }

 private:
  friend class TMenuBar;
  std::string caption_;
  std::vector<std::unique_ptr<TMenuEntry>> items_;
  UINT command_ = 0;
};

class TMenuBar : public TOwnedObject {
 public:
  using TOwnedObject::TOwnedObject;
  ~TMenuBar() override;

  TMenuEntry* Add(std::string name, std::string caption);
  const std::vector<std::unique_ptr<TMenuEntry>>& Items() const { return items_; }
  // Builds the menu bar and the shortcut table and attaches the bar to the window.
  void Attach(HWND form);
  HACCEL Accelerators() const { return accelerators_; }
  // The item with that command identifier, or nullptr.
  TMenuEntry* FindCommand(UINT command) const;

 private:
  HMENU Build(const std::vector<std::unique_ptr<TMenuEntry>>& items, std::vector<ACCEL>& accels, bool popup);

  std::vector<std::unique_ptr<TMenuEntry>> items_;
  HMENU bar_ = nullptr;
  HACCEL accelerators_ = nullptr;
};

}  // namespace quillon::ui
