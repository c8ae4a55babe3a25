// The system's modal boxes behind TUserDialogs, and the common file dialogs.
#include "ui/dialogs.h"

#include <commdlg.h>

#include "ui/application.h"

namespace quillon::ui {

namespace {

class TSystemDialogs : public TUserDialogs {
 public:
  void ShowInfo(const std::string& text) override {
    MessageBoxA(GetActiveWindow(), text.c_str(), Application().Title.c_str(), MB_OK | MB_ICONINFORMATION);
  }
  void ShowError(const std::string& text) override {
    MessageBoxA(GetActiveWindow(), text.c_str(), Application().Title.c_str(), MB_OK | MB_ICONERROR);
  }
  bool Confirm(const std::string& text) override {
    return MessageBoxA(GetActiveWindow(), text.c_str(), Application().Title.c_str(), MB_YESNO | MB_ICONQUESTION) ==
           IDYES;
  }
};

TSystemDialogs systemDialogs;
TUserDialogs* current = &systemDialogs;

}  // namespace

TUserDialogs& UserDialogs() {
  return *current;
}
void SetUserDialogs(TUserDialogs* dialogs) {
  current = dialogs ? dialogs : &systemDialogs;
}

bool TUserDialogs::ChooseFile(TFileDialog& dialog, HWND owner, bool save) {
  return dialog.ShowSystemDialog(owner, save);
}

bool TFileDialog::ShowSystemDialog(HWND owner, bool save) {
  // "a|b|c|d" becomes "a\0b\0c\0d\0\0" as the dialog expects.
  std::string filter = Filter;
  for (char& c : filter)
    if (c == '|') c = '\0';
  filter.append(2, '\0');
  char file[MAX_PATH] = {};
  FileName.copy(file, sizeof file - 1);
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
  ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
  if (!ok) return false;
  FileName = file;
  return true;
}

}  // namespace quillon::ui
