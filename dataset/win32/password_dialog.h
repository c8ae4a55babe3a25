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

namespace quillon::dataset {

class TQuarryPasswordDialog : public ui::TFormWindow {
 public:
  explicit TQuarryPasswordDialog(TQuarrySession& session);

  // Shows the dialog modally; true when it closed with "&OK".
  bool Execute();

  ui::TFrameBox* GroupBox = nullptr;
  ui::TTextBox* Edit = nullptr;
  ui::TPushButton* AddButton = nullptr;
  ui::TPushButton* RemoveButton = nullptr;
  ui::TPushButton* RemoveAllButton = nullptr;
  ui::TPushButton* OkButton = nullptr;
  ui::TPushButton* CancelButton = nullptr;

 private:
  void UpdateButtons();

  TQuarrySession& session_;
  bool added_ = false;
};

// The prompt that shows TQuarryPasswordDialog.
class TPasswordDialogPrompt : public TPasswordPrompt {
 public:
  bool Ask(TQuarrySession& session) override;
};

void InstallPasswordDialog();

}  // namespace quillon::dataset
