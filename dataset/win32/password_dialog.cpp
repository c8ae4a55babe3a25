// The password prompt; see password_dialog.h.
#include "dataset/win32/password_dialog.h"

namespace quillon::dataset {

TQuarryPasswordDialog::TQuarryPasswordDialog(TQuarrySession& session)
    : ui::TFormWindow("QuarryPasswordDialog", "Enter password", 300, 112, ui::TFormFrame::Dialog), session_(session) {
  GroupBox = Add<ui::TFrameBox>(this, "GroupBox1", "Password", 8, 6, 196, 52);
  Edit = Add<ui::TTextBox>(GroupBox, "Edit1", 10, 20, 176, 21);
  // The password is masked as it is typed.
  SendMessageA(Edit->Handle(), EM_SETPASSWORDCHAR, '*', 0);
  AddButton = Add<ui::TPushButton>(this, "AddButton", "&Add", 8, 68, 60, 25);
  RemoveButton = Add<ui::TPushButton>(this, "RemoveButton", "&Remove", 76, 68, 60, 25);
  RemoveAllButton = Add<ui::TPushButton>(this, "RemoveAllButton", "Re&move all", 144, 68, 72, 25);
  OkButton = Add<ui::TPushButton>(this, "OKButton", "&OK", 224, 10, 68, 25, true);
  CancelButton = Add<ui::TPushButton>(this, "CancelButton", "Cancel", 224, 40, 68, 25);
  SetDefaultButton(OkButton);

  Edit->OnChange = [this](ui::TOwnedObject&) { UpdateButtons(); };
  AddButton->OnClick = [this](ui::TOwnedObject&) {
    session_.AddPassword(Edit->Text());
    Edit->SetText("");
    added_ = true;
    UpdateButtons();
    Edit->SetFocus();
  };
  RemoveButton->OnClick = [this](ui::TOwnedObject&) {
    session_.RemovePassword(Edit->Text());
    Edit->SetFocus();
  };
  RemoveAllButton->OnClick = [this](ui::TOwnedObject&) {
    session_.RemoveAllPasswords();
    Edit->SetFocus();
  };
  OkButton->OnClick = [this](ui::TOwnedObject&) {
    session_.AddPassword(Edit->Text());
    SetModalResult(ui::kDialogOk);
  };
  CancelButton->OnClick = [this](ui::TOwnedObject&) { SetModalResult(ui::kDialogCancel); };
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
  return ShowModal() == ui::kDialogOk;
}

bool TPasswordDialogPrompt::Ask(TQuarrySession& session) {
  TQuarryPasswordDialog dialog(session);
  return dialog.Execute();
}

void InstallPasswordDialog() {
  static TPasswordDialogPrompt prompt;
  SetPasswordPrompt(&prompt);
}

}  // namespace quillon::dataset
