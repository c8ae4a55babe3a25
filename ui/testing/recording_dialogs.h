// Test support: message boxes and Yes/No questions recorded instead of shown, answered with a
// fixed answer.
#pragma once

#include <string>
#include <vector>

#include "ui/dialogs.h"

namespace quillon::ui::testing {

class RecordingDialogs : public TUserDialogs {
 public:
  void ShowInfo(const std::string& text) override { messages.push_back(text); }
  // Errors are messages too; errors lists which of them were shown as errors.
  void ShowError(const std::string& text) override {
    messages.push_back(text);
    errors.push_back(text);
  }
  bool Confirm(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  // File dialogs: recorded by their filter and the file name they propose, answered with
  // chosenFile (cancelled when it is empty).
  bool ChooseFile(TFileDialog& dialog, HWND, bool) override {
    fileDialogs.push_back(dialog.Filter);
    proposedFiles.push_back(dialog.FileName);
    if (chosenFile.empty()) return false;
    dialog.FileName = chosenFile;
    return true;
  }
  std::vector<std::string> messages;
  std::vector<std::string> errors;
  std::vector<std::string> questions;
  std::vector<std::string> fileDialogs;
  std::vector<std::string> proposedFiles;
  std::string chosenFile;
  bool answer = false;
};

}  // namespace quillon::ui::testing
