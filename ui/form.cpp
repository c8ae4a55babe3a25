// Top-level windows, their closing and modal showing (see form.h).
#include "ui/form.h"

#include "ui/application.h"
#include "ui/dialog_keys.h"
#include "ui/page_control.h"

namespace quillon::ui {

TFormWindow::TFormWindow(std::string name, const std::string& caption, int width, int height, TFormFrame border)
    : TWindowControl(nullptr, std::move(name)) {
  DWORD style = border == TFormFrame::Sizeable ? WS_OVERLAPPEDWINDOW : WS_CAPTION | WS_SYSMENU | WS_POPUP;
  DWORD exStyle = border == TFormFrame::Dialog ? WS_EX_DLGMODALFRAME : 0;
  if (border == TFormFrame::Dialog) {
    RECT r = {0, 0, width, height};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    width = r.right - r.left;
    height = r.bottom - r.top;
  }
  int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  CreateHandle(nullptr, style | WS_CLIPCHILDREN, exStyle, caption, left, top, width, height);
  if (!Application().MainWindow()) Application().SetMainWindow(this);
}

TFormWindow::~TFormWindow() {
  if (Application().MainWindow() == this) Application().SetMainWindow(nullptr);
  while (!components_.empty()) components_.pop_back();
}

void TFormWindow::AttachMenu() {
  if (menu_) menu_->Attach(Handle());
  AlignChildren();
}

void TFormWindow::Show() {
  if (Visible()) return;
  if (OnShow) OnShow(*this);
  ShowWindow(Handle(), SW_SHOW);
  UpdateWindow(Handle());
}

void TFormWindow::Close() {
  if (OnClose) OnClose(*this);
  if (modal_) {
    if (modalResult_ == kDialogNone) modalResult_ = kDialogCancel;
    return;
  }
  Hide();
  if (Application().MainWindow() == this) Application().Terminate();
}

void TFormWindow::SetModalResult(int result) {
  modalResult_ = result;
}

int TFormWindow::ShowModal() {
  HWND owner =
      Application().MainWindow() && Application().MainWindow() != this ? Application().MainWindow()->Handle() : nullptr;
  if (owner) EnableWindow(owner, FALSE);
  modalResult_ = kDialogNone;
  modal_ = true;
  Show();
  if (defaultButton_) defaultButton_->SetFocus();
  MSG msg;
  while (modalResult_ == kDialogNone) {
    if (!GetMessageA(&msg, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      modalResult_ = kDialogCancel;
      break;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && !WantsKey(GetFocus(), msg)) {
      modalResult_ = kDialogCancel;
      continue;
    }
    Application().DispatchOne(msg);
  }
  modal_ = false;
  if (owner) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
  Hide();
  return modalResult_;
}

bool TFormWindow::MenuKey(const MSG& msg) {
  const bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
  const bool up = msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP;
  const WPARAM key = msg.wParam == VK_LMENU || msg.wParam == VK_RMENU ? VK_MENU : msg.wParam;
  if (down) {
    const bool repeat = (msg.lParam & (1 << 30)) != 0;
    if (!(repeat && key == menuKey_))
      menuKey_ = (key == VK_MENU || (key == VK_F10 && GetKeyState(VK_SHIFT) >= 0)) ? key : 0;
    return false;
  }
  if (msg.message == WM_CHAR || msg.message == WM_SYSCHAR) menuKey_ = 0;
  if (!up || key != menuKey_ || menuKey_ == 0) return false;
  menuKey_ = 0;
  SendMessageA(Handle(), WM_SYSCOMMAND, SC_KEYMENU, 0);
  return true;
}

bool TFormWindow::DialogKey(const MSG& msg) {
  if (MenuKey(msg)) return true;
  HWND focus = GetFocus();
  bool ctrl = GetKeyState(VK_CONTROL) < 0;
  bool shift = GetKeyState(VK_SHIFT) < 0;
  if (msg.message == WM_KEYDOWN) {
    if (ctrl && OnKeyCommand && msg.wParam >= 'A' && msg.wParam <= 'Z' && GetKeyState(VK_MENU) >= 0 &&
        OnKeyCommand(static_cast<char>(msg.wParam)))
      return true;
    if (ctrl && pageKeys_ && pageKeys_->PageCount() > 0 &&
        (msg.wParam == VK_TAB || msg.wParam == VK_NEXT || msg.wParam == VK_PRIOR)) {
      bool forward = msg.wParam == VK_TAB ? !shift : msg.wParam == VK_NEXT;
      pageKeys_->SelectNextPage(forward);
      // A control of the page that was left is hidden now: the tab strip takes the focus
      // (unless the change itself focused a control of the new page).
      HWND now = GetFocus();
      if (!now || !IsWindowVisible(now)) pageKeys_->SetFocus();
      return true;
    }
    if (msg.wParam == VK_TAB && !ctrl && !WantsKey(focus, msg)) {
      if (TWindowControl* next = NextTabStop(*this, focus, shift)) next->SetFocus();
      return true;
    }
    if (msg.wParam == VK_RETURN && !WantsKey(focus, msg)) {
      HWND button = IsChild(Handle(), focus) && IsPushButton(focus) ? focus : nullptr;
      if (!button && defaultButton_ && defaultButton_->Enabled() && defaultButton_->Visible())
        button = defaultButton_->Handle();
      if (button) {
        SendMessageA(button, BM_CLICK, 0, 0);
        return true;
      }
    }
  }
  if (msg.message == WM_SYSCHAR && !ctrl && OfferAccessKey(*this, static_cast<char>(msg.wParam))) return true;
  return false;
}

LRESULT TFormWindow::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(Handle(), focus)) savedFocus_ = focus;
        break;
      }
      if (!HIWORD(wParam)) {  // not minimised
        HWND target = savedFocus_;
        if (!target || !IsWindow(target) || !IsChild(Handle(), target) || !IsWindowVisible(target) ||
            !IsWindowEnabled(target))
          target = activeControl_ && activeControl_->Visible() && activeControl_->Enabled() ? activeControl_->Handle()
                                                                                            : nullptr;
        if (target) {
          ::SetFocus(target);
          return 0;
        }
      }
      break;
    case WM_SETFOCUS:
      // The frame itself was given the focus (a click on the caption, say): pass it on.
      if (savedFocus_ && IsWindow(savedFocus_) && IsChild(Handle(), savedFocus_) && IsWindowVisible(savedFocus_)) {
        ::SetFocus(savedFocus_);
        return 0;
      }
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_COMMAND:
      if (lParam == 0 && menu_) {
        if (TMenuEntry* item = menu_->FindCommand(LOWORD(wParam))) {
          item->Click();
          return 0;
        }
      }
      break;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

TFormWindow* FormOf(HWND handle) {
  if (!handle) return nullptr;
  return dynamic_cast<TFormWindow*>(TWindowControl::FromHandle(GetAncestor(handle, GA_ROOT)));
}

}  // namespace quillon::ui
