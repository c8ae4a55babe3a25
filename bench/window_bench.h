// Benchmark support for the programs that drive the main window under Wine: message boxes and
// questions answered without a person (and printed), no browser, and painting forced inside the
// clock.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/quillon_form.h"
#include "bench/timing_report.h"
#include "ui/application.h"
#include "ui/dialogs.h"
#include "util/profile.h"
#include "web/external_browser.h"

namespace quillon::bench {

class TNoDialogs : public ui::TUserDialogs {
 public:
  void ShowInfo(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  bool Confirm(const std::string& text) override {
    std::fprintf(stderr, "question: %s\n", text.c_str());
    return false;
  }
};

class TNoBrowser : public web::TExternalBrowser {
 public:
  void OpenInBrowser(const std::string&, const std::string&) override {}
  void ShellOpen(const std::string&) override {}
};

// Whatever the step left to paint is painted now, so that a step's time ends when the person sees
// its result.
inline void PaintNow(app::TQuillonForm& form) {
  RedrawWindow(form.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// The main window on a program folder, opened on a base and a page (the remembered state it
// starts from), shown and settled, with no person needed.
struct TBenchWindow {
  TBenchWindow(std::string programFolder, const std::string& base, int page) : folder(std::move(programFolder)) {
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    {
      TProfileFile state(folder + "lyrics.ini");
      state.WriteString("set", "base", base);
      state.WriteString("set", "lastpageindex", std::to_string(page));
    }
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
    form = std::make_unique<app::TQuillonForm>(folder, browser);
    form->Show();
    form->pages->SetActivePageIndex(page);
    ui::Application().DispatchPendingMessages();
  }
  std::string folder;
  TNoDialogs dialogs;
  TNoBrowser browser;
  std::unique_ptr<app::TQuillonForm> form;
};

}  // namespace quillon::bench
