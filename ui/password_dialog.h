// TQuarryPasswordDialog: the modal prompt for table passwords, shown by a session that has no
// OnPassword handler when a table needs a password. It edits the session's password list:
//   "&Add"        adds the typed password, clears the edit and remembers that one was added;
//   "&Remove"     removes the typed password;
//   "Re&move all" empties the list;
//   "&OK"         adds the typed password and closes; "Cancel" closes.
// "&Add" and "&Remove" are enabled while the edit holds text, "&OK" while it holds text or a
// password was added. The answer is true exactly when the dialog closed with "&OK".
//
// InstallPasswordDialog makes this dialog the sessions' prompt (the portable session code asks
// through dataset::TPasswordPrompt and knows nothing of windows).
#pragma once

#include <string>

#include "dataset/session.h"
#include "ui/form.h"
#include "ui/std_controls.h"

namespace quillon::ui {

class TQuarryPasswordDialog : public TFormWindow {
 public:
  explicit TQuarryPasswordDialog(dataset::TQuarrySession& session);

  // Shows the dialog modally; true when it closed with "&OK".
  bool Execute();

  TFrameBox* GroupBox = nullptr;
  TTextBox* Edit = nullptr;
  TPushButton* AddButton = nullptr;
  TPushButton* RemoveButton = nullptr;
  TPushButton* RemoveAllButton = nullptr;
  TPushButton* OkButton = nullptr;
  TPushButton* CancelButton = nullptr;

 private:
  void UpdateButtons();

  dataset::TQuarrySession& session_;
  bool added_ = false;
};

// The prompt that shows TQuarryPasswordDialog.
class TPasswordDialogPrompt : public dataset::TPasswordPrompt {
 public:
  bool Ask(dataset::TQuarrySession& session) override;
};

void InstallPasswordDialog();

}  // namespace quillon::ui
