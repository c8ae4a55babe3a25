// The password prompt; see password_dialog.h.
#include "ui/password_dialog.h"

namespace quillon::ui {

TQuarryPasswordDialog::TQuarryPasswordDialog(dataset::TQuarrySession& session)
    : TFormWindow("QuarryPasswordDialog", "Enter password", 300, 112, TFormFrame::Dialog), session_(session) {
  GroupBox = Add<TFrameBox>(this, "GroupBox1", "Password", 8, 6, 196, 52);
  Edit = Add<TTextBox>(GroupBox, "Edit1", 10, 20, 176, 21);
  // The password is masked as it is typed.
  SendMessageA(Edit->Handle(), EM_SETPASSWORDCHAR, '*', 0);
  AddButton = Add<TPushButton>(this, "AddButton", "&Add", 8, 68, 60, 25);
  RemoveButton = Add<TPushButton>(this, "RemoveButton", "&Remove", 76, 68, 60, 25);
  RemoveAllButton = Add<TPushButton>(this, "RemoveAllButton", "Re&move all", 144, 68, 72, 25);
  OkButton = Add<TPushButton>(this, "OKButton", "&OK", 224, 10, 68, 25, true);
  CancelButton = Add<TPushButton>(this, "CancelButton", "Cancel", 224, 40, 68, 25);
  SetDefaultButton(OkButton);

  Edit->OnChange = [this](TOwnedObject&) { UpdateButtons(); };
  AddButton->OnClick = [this](TOwnedObject&) {
    session_.AddPassword(Edit->Text());
    Edit->SetText("");
    added_ = true;
    UpdateButtons();
    Edit->SetFocus();
  };
  RemoveButton->OnClick = [this](TOwnedObject&) {
    session_.RemovePassword(Edit->Text());
    Edit->SetFocus();
  };
  RemoveAllButton->OnClick = [this](TOwnedObject&) {
    session_.RemoveAllPasswords();
    Edit->SetFocus();
  };
  OkButton->OnClick = [this](TOwnedObject&) {
    session_.AddPassword(Edit->Text());
    SetModalResult(kDialogOk);
  };
  CancelButton->OnClick = [this](TOwnedObject&) { SetModalResult(kDialogCancel); };
  UpdateButtons();
}

void TQuarryPasswordDialog::UpdateButtons() {
  bool typed = !Edit->Text().empty();
  AddButton->SetEnabled(typed);
  RemoveButton->SetEnabled(typed);
  OkButton->SetEnabled(typed || added_);
}

bool TQuarryPasswordDialog::Execute() {
  Edit->SetFocus();
  return ShowModal() == kDialogOk;
}

bool TPasswordDialogPrompt::Ask(dataset::TQuarrySession& session) {
  TQuarryPasswordDialog dialog(session);
  return dialog.Execute();
}

void InstallPasswordDialog() {
  static TPasswordDialogPrompt prompt;
  dataset::SetPasswordPrompt(&prompt);
}

}  // namespace quillon::ui
