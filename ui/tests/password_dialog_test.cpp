// The password dialog as a real window under the test's desktop: captions, the masked edit, the
// enabling rules of its buttons, what each button does to the session's passwords, its answer,
// and the whole path from opening an encrypted table to the engine's retry.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "dataset/engine_error.h"
#include "dataset/session.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "ui/application.h"
#include "ui/password_dialog.h"
#include "util/testing/temp_dir.h"

namespace quillon::dataset {
namespace {

using ui::InstallPasswordDialog;
using ui::TQuarryPasswordDialog;

TQuarrySession& Default() {
  return TQuarrySessionList::Instance().DefaultSession();
}

void Type(ui::TTextBox* edit, const std::string& text) {
  SendMessageA(edit->Handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
void Press(ui::TPushButton* button) {
  SendMessageA(button->Handle(), BM_CLICK, 0, 0);
}

// Runs `action` on the dialog once it is up, from inside its modal loop.
std::function<void(TQuarryPasswordDialog&)>& PendingAction() {
  static std::function<void(TQuarryPasswordDialog&)> action;
  return action;
}
void CALLBACK DriveDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND window = FindWindowA(nullptr, "Enter password");
  if (!window || !IsWindowVisible(window)) return;  // not shown yet: the timer comes again
  KillTimer(nullptr, timer);
  auto* dialog = dynamic_cast<TQuarryPasswordDialog*>(ui::TWindowControl::FromHandle(window));
  ASSERT_NE(dialog, nullptr);
  auto action = std::move(PendingAction());
  PendingAction() = nullptr;
  action(*dialog);
}
void WhenShown(std::function<void(TQuarryPasswordDialog&)> action) {
  PendingAction() = std::move(action);
  SetTimer(nullptr, 0, 20, DriveDialog);
}

// Saves the window as it is on the screen, as a 24-bit BMP.
void SaveWindow(HWND window, const char* file) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT r;
  GetWindowRect(window, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  int stride = (w * 3 + 3) & ~3;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  if (FILE* f = std::fopen(file, "wb")) {
    std::fwrite(&header, sizeof header, 1, f);
    std::fwrite(&info, sizeof info, 1, f);
    std::fwrite(pixels.data(), 1, pixels.size(), f);
    std::fclose(f);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

class PasswordDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    engine::InitializeEngine();
    Default().RemoveAllPasswords();
  }
  void TearDown() override {
    Default().RemoveAllPasswords();
    SetPasswordPrompt(nullptr);
    ui::Application().DispatchPendingMessages();
  }
};

TEST_F(PasswordDialog, CaptionsAndAMaskedEdit) {
  TQuarryPasswordDialog dialog(Default());
  EXPECT_EQ(dialog.Caption(), "Enter password");
  EXPECT_EQ(dialog.GroupBox->Caption(), "Password");
  EXPECT_EQ(dialog.AddButton->Caption(), "&Add");
  EXPECT_EQ(dialog.RemoveButton->Caption(), "&Remove");
  EXPECT_EQ(dialog.RemoveAllButton->Caption(), "Re&move all");
  EXPECT_EQ(dialog.OkButton->Caption(), "&OK");
  EXPECT_EQ(dialog.CancelButton->Caption(), "Cancel");
  EXPECT_EQ(SendMessageA(dialog.Edit->Handle(), EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(GetParent(dialog.Edit->Handle()), dialog.GroupBox->Handle());
}

TEST_F(PasswordDialog, ButtonsFollowTheEditAndChangeTheSessionsPasswords) {
  TQuarryPasswordDialog dialog(Default());
  EXPECT_FALSE(dialog.AddButton->Enabled());
  EXPECT_FALSE(dialog.RemoveButton->Enabled());
  EXPECT_FALSE(dialog.OkButton->Enabled());
  EXPECT_TRUE(dialog.CancelButton->Enabled());
  EXPECT_TRUE(dialog.RemoveAllButton->Enabled());

  Type(dialog.Edit, "first");
  EXPECT_TRUE(dialog.AddButton->Enabled());
  EXPECT_TRUE(dialog.RemoveButton->Enabled());
  EXPECT_TRUE(dialog.OkButton->Enabled());
  Press(dialog.AddButton);
  EXPECT_TRUE(Default().HasPassword("first"));
  EXPECT_EQ(dialog.Edit->Text(), "");
  EXPECT_FALSE(dialog.AddButton->Enabled());
  EXPECT_FALSE(dialog.RemoveButton->Enabled());
  EXPECT_TRUE(dialog.OkButton->Enabled());  // a password was added

  Type(dialog.Edit, "second");
  Press(dialog.AddButton);
  Type(dialog.Edit, "first");
  Press(dialog.RemoveButton);
  EXPECT_FALSE(Default().HasPassword("first"));
  EXPECT_TRUE(Default().HasPassword("second"));
  Press(dialog.RemoveAllButton);
  EXPECT_FALSE(Default().HasPassword("second"));
}

TEST_F(PasswordDialog, OkAddsTheTypedPasswordAndAnswersTrueCancelAnswersFalse) {
  {
    TQuarryPasswordDialog dialog(Default());
    WhenShown([](TQuarryPasswordDialog& d) {
      Type(d.Edit, "typed");
      SaveWindow(d.Handle(), "password_dialog.bmp");
      Press(d.OkButton);
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_TRUE(Default().HasPassword("typed"));
  }
  {
    TQuarryPasswordDialog dialog(Default());
    WhenShown([](TQuarryPasswordDialog& d) {
      Type(d.Edit, "ignored");
      Press(d.CancelButton);
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_FALSE(Default().HasPassword("ignored"));
  }
}

TEST_F(PasswordDialog, AnEncryptedTableOpensAfterThePasswordIsGiven) {
  quillon::testing::TempDir dir;
  engine::TTableDefinition t;
  engine::TFieldDescriptor id;
  id.FieldName = "Id";
  id.FieldType = static_cast<std::uint8_t>(engine::TFieldType::Integer);
  t.Fields = {id};
  t.Indexes.resize(1);
  t.Indexes[0].KeyFields[0] = 1;
  t.Indexes[0].KeyFieldCount = 1;
  t.Encrypted = true;
  t.Password = "s3cret";
  {
    engine::TDataFile create;
    create.SetFileName(dir.File("locked.dat"));
    create.SetExclusive(true);
    create.CreateTable(t);
  }
  Default().RemoveAllPasswords();
  InstallPasswordDialog();
  int prompts = 0;
  // A wrong password first: the engine asks again; then the right one.
  std::function<void(TQuarryPasswordDialog&)> answer = [&](TQuarryPasswordDialog& d) {
    ++prompts;
    Type(d.Edit, prompts == 1 ? "wrong" : "s3cret");
    if (prompts == 1) WhenShown(answer);
    Press(d.OkButton);
  };
  WhenShown(answer);
  engine::TDataFile table;
  table.SetFileName(dir.File("locked.dat"));
  table.SetPasswordCallback(Default().PasswordCallback());
  EXPECT_NO_THROW(EngineCall([&] { table.Open(); }));
  EXPECT_EQ(prompts, 2);
  table.Close();

  // Cancelled: the table stays closed with the engine's code.
  Default().RemoveAllPasswords();
  WhenShown([](TQuarryPasswordDialog& d) { Press(d.CancelButton); });
  try {
    EngineCall([&] { table.Open(); });
    ADD_FAILURE() << "opened without a password";
  } catch (const EQuarryEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 10498);
  }
}

}  // namespace
}  // namespace quillon::dataset
