// A top-level window that owns its components.
//
// Invariants:
//  1. Components are created by Add in declaration order and destroyed with the form, in reverse
//     order, before the form's own window; a child's window therefore never outlives its parent's
//     object.
//  2. Closing runs OnClose once per close request; closing the main form ends the message loop,
//     closing a modal form ends its ShowModal.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/control.h"
#include "ui/menu.h"

namespace quillon::ui {

class TTabbedPages;

enum TDialogResult { kDialogNone = 0, kDialogOk = IDOK, kDialogCancel = IDCANCEL };

enum class TFormFrame { Sizeable, Dialog };

class TFormWindow : public TWindowControl {
 public:
  // Outer size width x height (Sizeable) or client size (Dialog), centred on the desktop.
  TFormWindow(std::string name, const std::string& caption, int width, int height, TFormFrame border);
  ~TFormWindow() override;

  template <class T, class... Args>
  T* Add(Args&&... args) {
    auto component = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = component.get();
    components_.push_back(std::move(component));
    return raw;
  }

  // Makes a main menu and attaches it once its items are added (see AttachMenu).
  TMenuBar* Menu() const { return menu_; }
  void SetMenu(TMenuBar* menu) { menu_ = menu; }
  void AttachMenu();

  // Shows the form; OnShow runs first, as the form becomes visible.
  void Show();
  void Hide() { SetVisible(false); }
  // Runs OnClose, hides the form and ends the message loop (main form) or ShowModal.
  void Close();
  // Shows the form with the other windows of the program disabled until it closes.
  int ShowModal();
  void SetModalResult(int result);
  int ModalResult() const { return modalResult_; }
  // In a modal form Enter clicks the default button and Escape cancels.
  void SetDefaultButton(TWindowControl* button) { defaultButton_ = button; }
  TWindowControl* DefaultButton() const { return defaultButton_; }
  // The control that gets the focus when the form is first activated.
  void SetActiveControl(TWindowControl* control) { activeControl_ = control; }
  // Ctrl+Tab / Ctrl+PgDn and Ctrl+Shift+Tab / Ctrl+PgUp switch this page control's pages.
  void SetPageKeys(TTabbedPages* pages) { pageKeys_ = pages; }

  // The keys that move between controls: Tab and Shift+Tab, Enter on the focused push button or
  // the default button, Alt+access key, the page keys, and F10 or Alt alone for the menus. True
  // when msg was used up.
  bool DialogKey(const MSG& msg);

  // Ctrl and a letter pressed anywhere in the form, before the focused control sees it: true when
  // the form used the key as a command of its own.
  std::function<bool(char letter)> OnKeyCommand;
  TEventHandler OnShow;
  TEventHandler OnClose;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  std::vector<std::unique_ptr<TOwnedObject>> components_;
  TMenuBar* menu_ = nullptr;
  int modalResult_ = kDialogNone;
  bool modal_ = false;
  TWindowControl* defaultButton_ = nullptr;
  TWindowControl* activeControl_ = nullptr;
  TTabbedPages* pageKeys_ = nullptr;
  // The focused control while the form is inactive, given the focus back on activation.
  HWND savedFocus_ = nullptr;
  // F10 or Alt pressed and released with no other key between ask for the menus: the form sends
  // itself the menu command, as the focused control's own handling of the keys is not to be
  // relied on (a combo box keeps them).
  bool MenuKey(const MSG& msg);
  WPARAM menuKey_ = 0;  // the key pressed alone so far, 0 when none
};

// The form that owns a window (its top-level ancestor), or nullptr.
TFormWindow* FormOf(HWND handle);

}  // namespace quillon::ui
