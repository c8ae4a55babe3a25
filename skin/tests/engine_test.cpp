// The skin engine on real windows under Wine: the frame, hit tests, roll-up, tracking limits,
// the fallback to the standard frame, skinned menus and the skinned page control.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "skin/skin_engine.h"
#include "skin/skin_menus.h"
#include "skin/skin_page_ctrl.h"
#include "ui/application.h"
#include "ui/form.h"
#include "ui/testing/recording_dialogs.h"

namespace quillon::skin {
namespace {

// A Windows path to a folder of the source tree.
std::string SourcePath(const std::string& relative) {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  std::string path = std::string("Z:") + (source ? source : "/work") + "/" + relative;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string OurSkin() {
  return SourcePath("data/skin/config.osk");
}

void PumpFor(int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    ui::Application().DispatchPendingMessages();
    Sleep(5);
  } while (static_cast<int>(end - GetTickCount()) > 0);
}

std::vector<HWND> MenuWindows() {
  std::vector<HWND> found;
  HWND w = nullptr;
  while ((w = FindWindowExA(nullptr, w, "QuillonSkinMenu", nullptr)) != nullptr)
    if (IsWindowVisible(w)) found.push_back(w);
  return found;
}

RECT WindowRect(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  return r;
}

// A form like the main window: a menu bar of &Options and &Help, both with sub-items, one of
// Options' items opening a submenu.
class SkinnedForm {
 public:
  explicit SkinnedForm(const std::string& skinFile, bool withMenu = true,
                       TscBorderIcons icons = sbSystemMenu | sbMinimize | sbMaximize | sbClose) {
    form = std::make_unique<ui::TFormWindow>("SkinTestForm", "Skin test form", 420, 320, ui::TFormFrame::Sizeable);
    if (withMenu) {
      menu = form->Add<ui::TMenuBar>("MainMenu1");
      options = menu->Add("Options1", "&Options");
      first = options->Add("First1", "&First");
      first->OnClick = [this](ui::TOwnedObject&) { ++firstClicks; };
      more = options->Add("More1", "&More");
      more->Add("Deep1", "&Deep");
      options->Add("N1", "-");
      plain = options->Add("Plain1", "&Plain");
      help = menu->Add("Help1", "&Help");
      about = help->Add("About1", "&About");
      about->OnClick = [this](ui::TOwnedObject&) { ++aboutClicks; };
      form->SetMenu(menu);
      form->AttachMenu();
    }
    engine = form->Add<TscSkinEngine>(form.get(), "scSkinEngine1");
    if (withMenu) engine->SetMainMenu(menu);
    engine->SetMainMenuShow(withMenu);
    engine->SetBorderIcons(icons);
    engine->SetSkinFile(skinFile);
    engine->SetSizeable(true);
    engine->Loaded();
    // The mouse rests away from the window: the frame's timer follows it (hover, menu-bar items).
    SetCursorPos(0, 0);
    SetWindowPos(form->Handle(), nullptr, 100, 100, 420, 320, SWP_NOZORDER);
    form->Show();
    SetForegroundWindow(form->Handle());
    PumpFor(60);
  }
  ~SkinnedForm() {
    for (HWND w : MenuWindows()) DestroyWindow(w);
    ui::Application().DispatchPendingMessages();
  }
  HWND Handle() const { return form->Handle(); }
  LRESULT HitAt(int x, int y) const {  // window coordinates
    const RECT r = WindowRect(Handle());
    return SendMessageA(Handle(), WM_NCHITTEST, 0, MAKELPARAM(r.left + x, r.top + y));
  }

  std::unique_ptr<ui::TFormWindow> form;
  ui::TMenuBar* menu = nullptr;
  ui::TMenuEntry *options = nullptr, *first = nullptr, *more = nullptr, *plain = nullptr, *help = nullptr,
                 *about = nullptr;
  TscSkinEngine* engine = nullptr;
  int firstClicks = 0, aboutClicks = 0;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
  }
  void TearDown() override {
    ui::Application().DispatchPendingMessages();
    ui::SetUserDialogs(nullptr);
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
  }
  ui::testing::RecordingDialogs dialogs;
};

TEST_F(EngineTest, TheSkinTakesOverTheFrame) {
  SkinnedForm f(OurSkin());
  ASSERT_NE(f.engine->Source(), nullptr);
  EXPECT_EQ(GetMenu(f.Handle()), nullptr) << "no standard menu bar";
  const LONG style = GetWindowLongA(f.Handle(), GWL_STYLE);
  EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0) << "no standard border icons";
  // The client area sits where the skin's client object is.
  TscSkinObject* client = f.engine->ClientObject();
  ASSERT_NE(client, nullptr);
  POINT origin{0, 0};
  ClientToScreen(f.Handle(), &origin);
  const RECT wr = WindowRect(f.Handle());
  EXPECT_EQ(origin.x - wr.left, client->Left);
  EXPECT_EQ(origin.y - wr.top, client->Top);
  RECT cr;
  GetClientRect(f.Handle(), &cr);
  EXPECT_EQ(cr.right, client->Width);
  EXPECT_EQ(cr.bottom, client->Height);
  // Below the caption (28) and the top edge (3) comes the menu bar (22).
  EXPECT_EQ(client->Top, 3 + 28 + 22);
  // The window is shaped by the skin.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_NE(GetWindowRgn(f.Handle(), region), ERROR);
  DeleteObject(region);
  // The caption is painted from the skin: the caption image between the title and the buttons
  // (its second row: the top edge takes 3 pixels).
  HDC dc = GetWindowDC(f.Handle());
  const COLORREF caption = GetPixel(dc, 250, 4);
  ReleaseDC(f.Handle(), dc);
  EXPECT_EQ(caption, f.engine->Source()->FindImage("caption")->Pixel(0, 1));
}

TEST_F(EngineTest, AWindowWithoutAMenuBarShowsNone) {
  SkinnedForm f(OurSkin(), false);  // the About box: no main menu, MainMenuShow false
  ASSERT_NE(f.engine->Source(), nullptr);
  EXPECT_FALSE(f.engine->MenuBarObject()->Visible);
  EXPECT_EQ(f.engine->ClientObject()->Top, 3 + 28) << "the client area starts below the caption";
  POINT origin{0, 0};
  ClientToScreen(f.Handle(), &origin);
  EXPECT_EQ(origin.y - WindowRect(f.Handle()).top, 3 + 28);
  EXPECT_EQ(f.HitAt(200, 40), HTCLIENT) << "no menu bar to hit";
  EXPECT_EQ(SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'h'), 0);
}

TEST_F(EngineTest, HitTestsFollowTheSkinObjects) {
  SkinnedForm f(OurSkin());
  struct Case {
    int x, y;
    LRESULT code;
  } cases[] = {
      {150, 15, HTCAPTION},       // caption
      {1, 150, HTLEFT},           // left edge
      {418, 150, HTRIGHT},        // right edge
      {200, 1, HTTOP},            // top edge
      {200, 318, HTBOTTOM},       // bottom edge
      {1, 1, HTTOPLEFT},          // corner objects over the edges
      {418, 318, HTBOTTOMRIGHT},  //
      {400, 15, 8},               // the close button
      {300, 40, 8},               // the menu bar
      {200, 200, HTCLIENT},       // the client area: the form's own answer
  };
  for (const Case& c : cases) EXPECT_EQ(f.HitAt(c.x, c.y), c.code) << c.x << "," << c.y;

  f.engine->SetSizeable(false);
  EXPECT_EQ(f.HitAt(1, 150), 8) << "no sizing code when not sizeable";
  EXPECT_EQ(f.HitAt(418, 318), 8);
  EXPECT_EQ(f.HitAt(150, 15), HTCAPTION);
}

TEST_F(EngineTest, AMaximizedWindowLeavesHitTestsToTheForm) {
  SkinnedForm f(OurSkin());
  const POINT closePoint{400, 15};  // the close button
  auto ownAnswer = [&](POINT p) {   // what the form's procedure answers without the engine
    const RECT r = WindowRect(f.Handle());
    return DefWindowProcA(f.Handle(), WM_NCHITTEST, 0, MAKELPARAM(r.left + p.x, r.top + p.y));
  };
  ASSERT_EQ(f.HitAt(closePoint.x, closePoint.y), 8);
  ASSERT_NE(ownAnswer(closePoint), 8) << "the button code is the engine's answer";
  // Without a window manager the platform's maximize command does not maximize reliably: the
  // command sets the engine's state bit, ShowWindow maximizes.
  SendMessageA(f.Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  ShowWindow(f.Handle(), SW_MAXIMIZE);
  // No pumping here: without a window manager the X server's answer to the new size would be
  // taken for the user restoring the window.
  ASSERT_TRUE(IsZoomed(f.Handle()));
  EXPECT_NE(f.engine->StateFlags() & kFrameMaximized, 0u) << "state bit 2 set by the maximize command";
  const RECT wr = WindowRect(f.Handle());
  const int width = wr.right - wr.left;
  for (POINT p : {closePoint, POINT{1, 150}, POINT{width - 20, 15}, POINT{width - 2, 2}, POINT{200, 200}})
    EXPECT_EQ(f.HitAt(p.x, p.y), ownAnswer(p)) << p.x << "," << p.y;
  SendMessageA(f.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
  ShowWindow(f.Handle(), SW_RESTORE);
  PumpFor(30);
  EXPECT_EQ(f.engine->StateFlags() & kFrameMaximized, 0u) << "cleared by the restore command";
  EXPECT_EQ(f.HitAt(closePoint.x, closePoint.y), 8);
  MINMAXINFO info{};
  SendMessageA(f.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(info.ptMaxSize.x, work.right - work.left);
  EXPECT_EQ(info.ptMaxSize.y, work.bottom - work.top);
  EXPECT_EQ(info.ptMaxPosition.x, work.left);
}

TEST_F(EngineTest, GetTextAfterACaptionChangeAnswersZeroOnceAndSchedulesOneRepaint) {
  SkinnedForm f(OurSkin());
  char text[100];
  GetWindowTextA(f.Handle(), text, sizeof text);  // settles the remembered length
  PumpFor(20);
  SetWindowTextA(f.Handle(), "A caption of another length");
  MSG m;
  while (PeekMessageA(&m, f.Handle(), kSkinChangedMessage, kSkinChangedMessage, PM_REMOVE)) {
  }
  EXPECT_EQ(GetWindowTextA(f.Handle(), text, sizeof text), 0) << "the first request after the change";
  EXPECT_TRUE(PeekMessageA(&m, f.Handle(), kSkinChangedMessage, kSkinChangedMessage, PM_REMOVE))
      << "a frame repaint is scheduled";
  EXPECT_EQ(GetWindowTextA(f.Handle(), text, sizeof text), 27) << "the repaint's own request";
  EXPECT_STREQ(text, "A caption of another length");
  EXPECT_FALSE(PeekMessageA(&m, f.Handle(), kSkinChangedMessage, kSkinChangedMessage, PM_REMOVE))
      << "the same length schedules nothing";
  // A caption change alone brings the new caption into the title object.
  SetWindowTextA(f.Handle(), "Short");
  PumpFor(50);
  TscSkinObject* title = f.engine->FormObject()->FindKind(TSkinKind::Title);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->Text, "Short");
}

TEST_F(EngineTest, RollingUpTwiceRestoresTheHeight) {
  SkinnedForm f(OurSkin());
  const RECT before = WindowRect(f.Handle());
  SendMessageA(f.Handle(), kRollUpToggleMessage, 0, 0);
  PumpFor(30);
  const RECT rolled = WindowRect(f.Handle());
  EXPECT_TRUE(f.engine->RolledUp());
  // Top edge 3 + caption 28 + bottom edge 4: the client object and the menu bar are gone.
  EXPECT_EQ(rolled.bottom - rolled.top, 3 + 28 + 4);
  EXPECT_EQ(rolled.left, before.left);
  EXPECT_EQ(rolled.right - rolled.left, before.right - before.left);
  EXPECT_EQ(f.HitAt(200, 34), 8) << "a rolled-up window does not size";
  SendMessageA(f.Handle(), kRollUpToggleMessage, 0, 0);
  PumpFor(30);
  const RECT after = WindowRect(f.Handle());
  EXPECT_FALSE(f.engine->RolledUp());
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
  EXPECT_EQ(after.top, before.top);
}

TEST_F(EngineTest, MinimumTrackingWidthIsOneHundred) {
  SkinnedForm f(OurSkin());
  MINMAXINFO info{};
  info.ptMinTrackSize = {555, 555};
  SendMessageA(f.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 100);
  EXPECT_EQ(info.ptMinTrackSize.y, 3 + 28 + 4 + 22) << "the rolled-up height with the menu bar";
}

TEST_F(EngineTest, StayOnTopTogglesTheTopmostBand) {
  SkinnedForm f(OurSkin());
  SendMessageA(f.Handle(), kStayOnTopToggleMessage, 0, 0);
  EXPECT_NE(GetWindowLongA(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  SendMessageA(f.Handle(), kStayOnTopToggleMessage, 0, 0);
  EXPECT_EQ(GetWindowLongA(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
}

TEST_F(EngineTest, AMissingOrDamagedSkinLeavesTheStandardFrame) {
  SkinnedForm missing("no-such-skin.dat");
  EXPECT_EQ(missing.engine->Source(), nullptr);
  EXPECT_NE(GetMenu(missing.Handle()), nullptr) << "the standard menu bar stays";
  EXPECT_NE(GetWindowLongA(missing.Handle(), GWL_STYLE) & WS_SYSMENU, 0) << "mapped border icons";

  const auto folder = std::filesystem::temp_directory_path() / "quillon-damaged-skin";
  std::filesystem::create_directories(folder);
  { std::ofstream(folder / "skin.dat", std::ios::binary) << "SkinEngine package, but not really"; }
  SkinnedForm damaged(folder.string() + "\\skin.dat");
  EXPECT_EQ(damaged.engine->Source(), nullptr);
  EXPECT_NE(GetMenu(damaged.Handle()), nullptr);
  EXPECT_NE(GetWindowLongA(damaged.Handle(), GWL_STYLE) & WS_CAPTION, 0);

  // A skinned window that unloads its skin gets the standard frame back.
  SkinnedForm skinned(OurSkin());
  ASSERT_NE(skinned.engine->Source(), nullptr);
  skinned.engine->SetSkinFile("");
  EXPECT_EQ(skinned.engine->Source(), nullptr);
  EXPECT_NE(GetMenu(skinned.Handle()), nullptr);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(skinned.Handle(), region), ERROR) << "no window region";
  DeleteObject(region);
}

// ---- menus ----

TEST_F(EngineTest, TheMenuBarHoldsOneObjectPerTopLevelItemAfterTheHiddenTemplate) {
  SkinnedForm f(OurSkin());
  const auto& items = f.engine->MenuBarItems();
  ASSERT_EQ(items.size(), 2u);
  TscSkinObject* templ = f.engine->FormObject()->FindKind(TSkinKind::MenuBarItem);
  ASSERT_NE(templ, nullptr);
  EXPECT_TRUE(templ->Conditions.test(scNever));
  EXPECT_FALSE(templ->Visible);
  const char* captions[] = {"&Options", "&Help"};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(items[i]->Text, captions[i]);
    EXPECT_EQ(items[i]->Width, SkinTextRenderer().TextWidth(items[i]->Font, captions[i]) + 8);
    EXPECT_EQ(items[i]->Parent, templ->Parent);
    EXPECT_TRUE(items[i]->Visible);
  }
  EXPECT_EQ(items[0]->Left, templ->Parent->Left) << "the hidden template takes no room";
  EXPECT_EQ(items[1]->Left, items[0]->Left + items[0]->Width);
  EXPECT_NE(f.engine->MenuBarPopups()[0], nullptr);
  EXPECT_NE(f.engine->MenuBarPopups()[1], nullptr);
}

TEST_F(EngineTest, AltHOpensHelpDirectlyBelowItsItem) {
  SkinnedForm f(OurSkin());
  EXPECT_EQ(SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'h'), 1);
  PumpFor(30);
  const auto windows = MenuWindows();
  ASSERT_EQ(windows.size(), 1u);
  TscSkinObject* item = f.engine->MenuBarItems()[1];
  const RECT wr = WindowRect(f.Handle()), mr = WindowRect(windows[0]);
  EXPECT_EQ(mr.left, wr.left + item->Left);
  EXPECT_EQ(mr.top, wr.top + item->Top + item->Height);
  EXPECT_TRUE(f.engine->MenuOpen());
  EXPECT_EQ(f.engine->OpenPopup(), f.engine->MenuBarPopups()[1].get());
  EXPECT_EQ(SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'z'), 0) << "no such item";
}

TEST_F(EngineTest, AltHTypedOnTheKeyboardReachesTheMenuBar) {
  SkinnedForm f(OurSkin());
  SetForegroundWindow(f.Handle());
  SetFocus(f.Handle());
  PumpFor(30);
  INPUT keys[4] = {};
  const WORD codes[4] = {VK_MENU, 'H', 'H', VK_MENU};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
  }
  ASSERT_EQ(SendInput(4, keys, sizeof(INPUT)), 4u);
  PumpFor(80);
  const auto windows = MenuWindows();
  ASSERT_EQ(windows.size(), 1u) << "the accelerator control passed Alt+H to the engine";
  EXPECT_EQ(f.engine->OpenPopup(), f.engine->MenuBarPopups()[1].get());
  // Esc typed into the open menu closes it and ends the menu state.
  INPUT esc[2] = {};
  for (int i = 0; i < 2; ++i) {
    esc[i].type = INPUT_KEYBOARD;
    esc[i].ki.wVk = VK_ESCAPE;
    esc[i].ki.dwFlags = i == 1 ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(2, esc, sizeof(INPUT));
  PumpFor(80);
  EXPECT_TRUE(MenuWindows().empty());
  EXPECT_FALSE(f.engine->MenuOpen());
}

TEST_F(EngineTest, APopupThatWouldPassTheScreenBottomOpensAboveItsItem) {
  SkinnedForm f(OurSkin());
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  SetWindowPos(f.Handle(), nullptr, 100, screenHeight - 70, 420, 320, SWP_NOZORDER);
  PumpFor(30);
  SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'O');
  PumpFor(30);
  const auto windows = MenuWindows();
  ASSERT_EQ(windows.size(), 1u);
  TscSkinObject* item = f.engine->MenuBarItems()[0];
  const RECT wr = WindowRect(f.Handle()), mr = WindowRect(windows[0]);
  EXPECT_EQ(mr.bottom, wr.top + item->Top);
  EXPECT_EQ(mr.left, wr.left + item->Left);
}

TEST_F(EngineTest, HoverOpensASubmenuAndEscClosesTheChain) {
  SkinnedForm f(OurSkin());
  SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'o');
  PumpFor(30);
  TscMenuWnd* top = f.engine->OpenPopup()->Window;
  ASSERT_NE(top, nullptr);
  TscMenuItemObject* moreObject = top->ObjectOf(f.more);
  ASSERT_NE(moreObject, nullptr);
  EXPECT_TRUE(moreObject->HasSubmenu);
  const RECT mr = WindowRect(top->Handle());
  SetCursorPos(mr.left + moreObject->Left + 30, mr.top + moreObject->Top + moreObject->Height / 2);
  PumpFor(80);
  ASSERT_NE(top->SubWindow, nullptr) << "the submenu opens on a timer tick";
  EXPECT_EQ(top->SubWindow->Items, f.more);
  const RECT sr = WindowRect(top->SubWindow->Handle());
  EXPECT_EQ(sr.left, mr.left + moreObject->Left + moreObject->Width) << "beside its item";
  EXPECT_EQ(sr.top, mr.top + moreObject->Top);

  TscMenuItemObject* plainObject = top->ObjectOf(f.plain);
  ASSERT_NE(plainObject, nullptr);
  SetCursorPos(mr.left + plainObject->Left + 30, mr.top + plainObject->Top + plainObject->Height / 2);
  PumpFor(80);
  EXPECT_EQ(top->SubWindow, nullptr) << "an item without sub-items closes it";
  EXPECT_EQ(MenuWindows().size(), 1u);

  SetCursorPos(mr.left + moreObject->Left + 30, mr.top + moreObject->Top + moreObject->Height / 2);
  PumpFor(80);
  ASSERT_NE(top->SubWindow, nullptr);
  SendMessageA(top->SubWindow->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
  PumpFor(40);
  EXPECT_TRUE(MenuWindows().empty()) << "both windows closed";
  EXPECT_FALSE(f.engine->MenuOpen()) << "the form's menu state ended";
  EXPECT_EQ(f.engine->OpenPopup(), nullptr);
}

TEST_F(EngineTest, WhileAMenuIsOpenTheMouseOnAnotherBarItemOpensItsPopup) {
  SkinnedForm f(OurSkin());
  SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'o');
  PumpFor(40);
  ASSERT_EQ(f.engine->OpenPopup(), f.engine->MenuBarPopups()[0].get());
  TscSkinObject* help = f.engine->MenuBarItems()[1];
  const RECT wr = WindowRect(f.Handle());
  SetCursorPos(wr.left + help->Left + help->Width / 2, wr.top + help->Top + help->Height / 2);
  PumpFor(120);
  EXPECT_EQ(f.engine->OpenPopup(), f.engine->MenuBarPopups()[1].get());
  const auto windows = MenuWindows();
  ASSERT_EQ(windows.size(), 1u) << "the Options window was closed";
  EXPECT_EQ(WindowRect(windows[0]).left, wr.left + help->Left);
}

TEST_F(EngineTest, ClickingAnItemRunsItAndClosesTheMenu) {
  SkinnedForm f(OurSkin());
  SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'O');
  PumpFor(30);
  TscMenuWnd* top = f.engine->OpenPopup()->Window;
  ASSERT_NE(top, nullptr);
  TscMenuItemObject* firstObject = top->ObjectOf(f.first);
  ASSERT_NE(firstObject, nullptr);
  SendMessageA(top->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(firstObject->Left + 20, firstObject->Top + 3));
  PumpFor(30);
  EXPECT_EQ(f.firstClicks, 1);
  EXPECT_TRUE(MenuWindows().empty());
  EXPECT_FALSE(f.engine->MenuOpen());

  // A key press clicks the item with that accelerator.
  SendMessageA(f.Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode, 'H');
  PumpFor(30);
  ASSERT_EQ(MenuWindows().size(), 1u);
  SendMessageA(MenuWindows()[0], WM_KEYDOWN, 'A', 0);
  PumpFor(30);
  EXPECT_EQ(f.aboutClicks, 1);
  EXPECT_TRUE(MenuWindows().empty());
}

TEST_F(EngineTest, TheSystemMenuOffersRollUpOnlyWithTheRollUpIcon) {
  for (const bool withRollup : {false, true}) {
    SkinnedForm f(OurSkin(), true, sbSystemMenu | sbMinimize | sbMaximize | sbClose | (withRollup ? sbRollup : 0u));
    SendMessageA(f.Handle(), kSystemMenuMessage, 0, 0);
    PumpFor(30);
    TscMenuWnd* window = f.engine->SystemMenu()->Window;
    ASSERT_NE(window, nullptr);
    ui::TMenuEntry* roll = nullptr;
    for (const auto& item : f.engine->SystemMenu()->Items->Items())
      if (item->Name() == "miSysRoll") roll = item.get();
    ASSERT_NE(roll, nullptr);
    EXPECT_EQ(roll->Caption(), "Rollu&p");
    EXPECT_EQ(roll->Tag, 6);
    TscMenuItemObject* object = window->ObjectOf(roll);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->Enabled, withRollup);
    if (withRollup) {
      const RECT before = WindowRect(f.Handle());
      SendMessageA(window->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(object->Left + 20, object->Top + 3));
      PumpFor(60);
      EXPECT_TRUE(f.engine->RolledUp()) << "the item runs the rollup action";
      EXPECT_LT(WindowRect(f.Handle()).bottom - WindowRect(f.Handle()).top, before.bottom - before.top);
    }
    for (HWND w : MenuWindows()) DestroyWindow(w);
  }
}

// ---- page control ----

// A skin folder of our own: a frame and a page-control tree whose tab has two children, one shown
// on the active tab (red) and one on the others (blue).
std::string WriteTabSkin(const std::string& name, bool pageControlChildren) {
  const auto folder = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / "config.osk", std::ios::binary);
  out << "[General]\r\nSkinName=Tabs\r\n[Form]\r\nKind=form\r\nChild=Cap,Cl\r\n"
         "[Cap]\r\nKind=caption\r\nAlign=mosttop\r\nHeight=20\r\nColor=10,10,10\r\n"
         "[Cl]\r\nKind=client\r\nAlign=client\r\nColor=200,200,200\r\n"
         "[PageControl]\r\nKind=pagecontrol\r\n";
  if (pageControlChildren)
    out << "Child=Tab,Page\r\n[Tab]\r\nKind=pagecontroltab\r\nTransparency=0\r\nChild=On,Off\r\n"
           "[On]\r\nAlign=client\r\nVisible=tabactive\r\nColor=255,0,0\r\n"
           "[Off]\r\nAlign=client\r\nVisible=tabnoactive\r\nColor=0,0,255\r\n"
           "[Page]\r\nKind=pagecontrolclient\r\nColor=0,255,0\r\n";
  return folder.string() + "\\config.osk";
}

struct PagesOnForm {
  explicit PagesOnForm(SkinnedForm& f) {
    pages = f.form->Add<TscPageControl>(f.form.get(), "pages", 10, 10, 300, 200);
    one = f.form->Add<ui::TTabPage>(pages, "One", "First page");
    two = f.form->Add<ui::TTabPage>(pages, "Two", "Second page");
    three = f.form->Add<ui::TTabPage>(pages, "Three", "Third page");
    pages->SetSkinEngine(f.engine);
    pages->SetActivePageIndex(1);
  }
  TSkinColor TabPixel(TOmbraBmp& canvas, int index) {
    RECT r;
    SendMessageA(pages->Handle(), TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
    return canvas.Pixel(r.left + 2, r.top + 2);
  }
  TscPageControl* pages;
  ui::TTabPage *one, *two, *three;
};

TEST_F(EngineTest, TabsShowTheActiveOrInactiveImage) {
  SkinnedForm f(WriteTabSkin("quillon-tab-skin", true), false);
  PagesOnForm p(f);
  ASSERT_TRUE(p.pages->Skinned());
  TOmbraBmp canvas(300, 200);
  p.pages->PaintSkinned(canvas);
  EXPECT_EQ(p.TabPixel(canvas, 0), SkinRgb(0, 0, 255));
  EXPECT_EQ(p.TabPixel(canvas, 1), SkinRgb(255, 0, 0)) << "the current tab";
  EXPECT_EQ(p.TabPixel(canvas, 2), SkinRgb(0, 0, 255));
  EXPECT_EQ(canvas.Pixel(150, 190), SkinRgb(0, 255, 0)) << "the page frame from the client object";
  EXPECT_EQ(p.pages->Color(), RGB(0, 255, 0)) << "the control takes the page client's colour";

  // What the window shows, not only what PaintSkinned draws.
  RedrawWindow(p.pages->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  RECT r;
  SendMessageA(p.pages->Handle(), TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
  HDC dc = GetDC(p.pages->Handle());
  EXPECT_EQ(GetPixel(dc, r.left + 2, r.top + 2), RGB(255, 0, 0));
  ReleaseDC(p.pages->Handle(), dc);

  // Unloading the skin gives the standard look back after the next notice.
  f.engine->SetSkinFile("");
  EXPECT_FALSE(p.pages->Skinned());
  EXPECT_EQ(p.pages->SkinTree().ChildCount(), 0);
}

TEST_F(EngineTest, APageControlSectionWithoutChildrenLeavesTheControlUnskinned) {
  SkinnedForm f(WriteTabSkin("quillon-tab-skin-empty", false), false);
  ASSERT_NE(f.engine->Source(), nullptr);
  PagesOnForm p(f);
  EXPECT_FALSE(p.pages->Skinned());
  EXPECT_EQ(p.pages->SkinTree().ChildCount(), 0);
}

}  // namespace
}  // namespace quillon::skin
