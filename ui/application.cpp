// The message loop and the default error display (see application.h).
#include "ui/application.h"

#include <commctrl.h>
#include <objbase.h>

#include "ui/dialogs.h"
#include "ui/form.h"

namespace quillon::ui {

TApplication& Application() {
  static TApplication application;
  return application;
}

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  CoInitialize(nullptr);
  LoadLibraryA("riched20.dll");
}

void TApplication::Run() {
  if (!terminated_ && mainForm_) mainForm_->Show();
  MSG msg;
  while (!terminated_) {
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      terminated_ = true;
      break;
    }
    DispatchOne(msg);
  }
}

void TApplication::Terminate() {
  if (!terminated_) PostQuitMessage(0);
  terminated_ = true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    DispatchOne(msg);
  }
}

namespace {

// Tab and Shift+Tab move the focus to the next or previous tab stop of the form, unless the
// focused control takes the Tab key itself (a multi-line edit).
bool MoveFocusOnTab(TForm* form, const MSG& msg) {
  if (msg.message != WM_KEYDOWN || msg.wParam != VK_TAB) return false;
  LRESULT code = SendMessageA(msg.hwnd, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
  if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) return false;
  bool back = GetKeyState(VK_SHIFT) < 0;
  // A control created later lies above the ones before it (control.cpp), so the tab order, the
  // order of creation, runs up the z-order: "next" is the dialog manager's "previous".
  HWND next = GetNextDlgTabItem(form->Handle(), msg.hwnd, back ? FALSE : TRUE);
  if (!next || next == msg.hwnd) return false;
  SetFocus(next);
  return true;
}

// Alt+character goes to the form's controls first (kDialogCharMessage); the first one whose
// accelerator it is consumes it.
struct DialogCharSearch {
  WPARAM key;
  bool consumed;
};

BOOL CALLBACK OfferDialogChar(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<DialogCharSearch*>(data);
  if (!IsWindowVisible(child) || !IsWindowEnabled(child)) return TRUE;
  if (SendMessageA(child, kDialogCharMessage, search->key, 0) == 0) return TRUE;
  search->consumed = true;
  return FALSE;
}

bool SendDialogChar(TForm* form, const MSG& msg) {
  if (msg.message != WM_SYSCHAR) return false;
  DialogCharSearch search{msg.wParam, false};
  EnumChildWindows(form->Handle(), &OfferDialogChar, reinterpret_cast<LPARAM>(&search));
  return search.consumed;
}

}  // namespace

void TApplication::DispatchOne(MSG& msg) {
  if (TForm* form = FormOf(msg.hwnd)) {
    if (form->Menu() && form->Menu()->Accelerators() &&
        TranslateAcceleratorA(form->Handle(), form->Menu()->Accelerators(), &msg))
      return;
    if (MoveFocusOnTab(form, msg) || SendDialogChar(form, msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void TApplication::ShowException(const std::exception& e) {
  UserDialogs().ShowMessage(e.what());
}

}  // namespace quillon::ui
