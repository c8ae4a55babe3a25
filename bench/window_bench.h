// Benchmark support for the programs that drive the main window under Wine: message boxes and
// questions answered without a person (and printed), no browser, and painting forced inside the
// clock.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/quillon_form.h"
#include "bench/timing_report.h"
#include "ui/dialogs.h"
#include "web/external_browser.h"

namespace quillon::bench {

class TNoDialogs : public ui::TUserDialogs {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
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

}  // namespace quillon::bench
