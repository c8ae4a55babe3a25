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
struct TShortCut {
  bool alt = false;
  char key = 0;
};

class TMenuItem : public TComponent {
 public:
  TMenuItem(std::string name, std::string caption) : TComponent(std::move(name)), caption_(std::move(caption)) {}

  // A caption of "-" makes a separator.
  TMenuItem* Add(std::string name, std::string caption);

  const std::string& Caption() const { return caption_; }
  const std::vector<std::unique_ptr<TMenuItem>>& Items() const { return items_; }

  int HelpContext = 0;
  TShortCut ShortCut;
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
  friend class TMainMenu;
  std::string caption_;
  std::vector<std::unique_ptr<TMenuItem>> items_;
  UINT command_ = 0;
};

class TMainMenu : public TComponent {
 public:
  using TComponent::TComponent;
  ~TMainMenu() override;

  TMenuItem* Add(std::string name, std::string caption);
  const std::vector<std::unique_ptr<TMenuItem>>& Items() const { return items_; }
  // Builds the menu bar and the shortcut table and attaches the bar to the window.
  void Attach(HWND form);
  HACCEL Accelerators() const { return accelerators_; }
  // The item with that command identifier, or nullptr.
  TMenuItem* FindCommand(UINT command) const;

 private:
  HMENU Build(const std::vector<std::unique_ptr<TMenuItem>>& items, std::vector<ACCEL>& accels, bool popup);

  std::vector<std::unique_ptr<TMenuItem>> items_;
  HMENU bar_ = nullptr;
  HACCEL accelerators_ = nullptr;
};

}  // namespace quillon::ui
