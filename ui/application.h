// The application object: the message loop, the main form, keyboard shortcuts and the default
// error display.
//
// Invariants:
//  1. The first form created while no main form exists becomes the main form; closing it ends the
//     message loop.
//  2. Keyboard shortcuts of a form's menu are translated before a message is dispatched, for the
//     form that owns the message's window.
//  3. The default error display shows an error's text through the user dialogs (dialogs.h) and
//     returns, so the program continues.
// One instance per process, used from the user-interface thread only.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace quillon::ui {

class TFormWindow;

class TProgram {
 public:
  // Common controls, COM for automation, the rich edit library.
  void Initialize();

  TFormWindow* MainWindow() const { return mainWindow_; }
  void SetMainWindow(TFormWindow* form) { mainWindow_ = form; }

  // Shows the main form (unless the end was already requested) and dispatches messages until the
  // main form closes or Terminate is called.
  void Run();
  // Requests the end of the message loop.
  void Terminate();
  bool Terminated() const { return terminated_; }
  // A new loop may follow an ended one (tests run several windows one after another).
  void ClearTerminated() { terminated_ = false; }

  // Dispatches every message waiting in the queue, without waiting for new ones.
  void DispatchPendingMessages();
  // Translates shortcuts and dispatches one message.
  void DispatchOne(MSG& msg);

  // The default error display.
  void ReportException(const std::exception& e);

  std::string Title = "Quillon";

 private:
  TFormWindow* mainWindow_ = nullptr;
  bool terminated_ = false;
};

TProgram& Application();

}  // namespace quillon::ui
