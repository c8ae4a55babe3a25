// Modal boxes and the standard file dialogs.
//
// Every information box and Yes/No question of the program goes through the current
// TUserDialogs, so that tests can replace it with one that records the texts and answers.
#pragma once

#include <string>

#include "ui/control.h"

namespace quillon::ui {

class TFileDialog;

class TUserDialogs {
 public:
  virtual ~TUserDialogs() = default;
  // An information box with one OK button.
  virtual void ShowInfo(const std::string& text) = 0;
  // The same box marked as an error (the program cannot go on as asked).
  virtual void ShowError(const std::string& text) { ShowInfo(text); }
  // A question with the buttons Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // The standard open or save dialog; true when a file was chosen (its name in dialog.FileName).
  virtual bool ChooseFile(TFileDialog& dialog, HWND owner, bool save);
};

// The current dialogs: the system's modal boxes unless replaced.
TUserDialogs& UserDialogs();
// Replaces the current dialogs (not owned); nullptr restores the system's.
void SetUserDialogs(TUserDialogs* dialogs);

inline void ShowInfo(const std::string& text) {
  UserDialogs().ShowInfo(text);
}
inline void ShowError(const std::string& text) {
  UserDialogs().ShowError(text);
}
inline bool Confirm(const std::string& text) {
  return UserDialogs().Confirm(text);
}

// The standard open and save dialogs. Filter is written "description|mask|description|mask".
class TFileDialog : public TOwnedObject {
 public:
  using TOwnedObject::TOwnedObject;
  std::string Filter;
  std::string FileName;
  std::string DefaultExt;
  std::string Title;

  // The system's dialog itself, whatever the current dialogs are.
  bool ShowSystemDialog(HWND owner, bool save);

 protected:
  bool Run(HWND owner, bool save) { return UserDialogs().ChooseFile(*this, owner, save); }
};

class TOpenFileDialog : public TFileDialog {
 public:
  using TFileDialog::TFileDialog;
  // True when the user chose a file (then in FileName).
  bool Execute(HWND owner = nullptr) { return Run(owner, false); }
};

class TSaveFileDialog : public TFileDialog {
 public:
  using TFileDialog::TFileDialog;
  bool Execute(HWND owner = nullptr) { return Run(owner, true); }
};

}  // namespace quillon::ui
