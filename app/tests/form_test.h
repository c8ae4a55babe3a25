// Test support: the main window on a program folder of the test's own (a temporary directory),
// with message boxes, questions and file dialogs recorded and the browser replaced.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/quillon_form.h"
#include "ui/application.h"
#include "ui/testing/recording_dialogs.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"

namespace quillon::app::testing {

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
  }
  void TearDown() override {
    form.reset();
    ui::SetUserDialogs(nullptr);
    ui::Application().DispatchPendingMessages();
    ui::Application().ClearTerminated();
  }

  // The window on the folder, shown, with what showing it started done.
  virtual TQuillonForm& StartShown() {
    form = std::make_unique<TQuillonForm>(dir.Path(), browser);
    form->Show();
    ui::Application().DispatchPendingMessages();
    return *form;
  }

  quillon::testing::TempDir dir;
  ui::testing::RecordingDialogs dialogs;
  web::testing::TRecordingBrowser browser;
  std::unique_ptr<TQuillonForm> form;
};

}  // namespace quillon::app::testing
