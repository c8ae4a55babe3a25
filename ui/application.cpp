// The message loop and the default error display (see application.h).
#include "ui/application.h"

#include <commctrl.h>
#include <objbase.h>

#include "ui/dialogs.h"
#include "ui/form.h"

namespace quillon::ui {

TProgram& Application() {
  static TProgram application;
  return application;
}

void TProgram::Initialize() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  CoInitialize(nullptr);
  LoadLibraryA("riched20.dll");
}

void TProgram::Run() {
  if (!terminated_ && mainWindow_) mainWindow_->Show();
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

void TProgram::Terminate() {
  if (!terminated_) PostQuitMessage(0);
  terminated_ = true;
}

void TProgram::DispatchPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    DispatchOne(msg);
  }
}

void TProgram::DispatchOne(MSG& msg) {
  if (TFormWindow* form = FormOf(msg.hwnd)) {
    if (form->Menu() && form->Menu()->Accelerators() &&
        TranslateAcceleratorA(form->Handle(), form->Menu()->Accelerators(), &msg))
      return;
    if (form->DialogKey(msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void TProgram::ReportException(const std::exception& e) {
  UserDialogs().ShowError(e.what());
}

}  // namespace quillon::ui
