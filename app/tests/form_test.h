// Test support: the main window on a program folder of the test's own (a temporary directory),
// with message boxes, questions and file dialogs recorded and the browser replaced.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/quillon_form.h"
#include "ui/application.h"
#include "ui/testing/recording_dialogs.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"

namespace quillon::app::testing {

// Saves what a window shows as a 24-bit BMP file (screenshots of the test run, to be looked at).
inline void SaveScreenshot(HWND window, const std::string& file) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT r;
  GetWindowRect(window, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HDC source = GetWindowDC(window);
  BitBlt(memory, 0, 0, w, h, source, 0, 0, SRCCOPY);
  ReleaseDC(window, source);
  GdiFlush();
  DWORD rowBytes = (static_cast<DWORD>(w) * 3 + 3) & ~3u, imageBytes = rowBytes * static_cast<DWORD>(h);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + imageBytes;
  info.bmiHeader.biSizeImage = imageBytes;
  if (FILE* f = fopen(file.c_str(), "wb")) {
    fwrite(&header, sizeof header, 1, f);
    fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f);
    fwrite(bits, 1, imageBytes, f);
    fclose(f);
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
}

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
