// The class library with real windows: the default error display, the hourglass, events of the
// grid, list box, page control and menu, inherited fonts and colours, owned components.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "ui/testing/recording_dialogs.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "ui/application.h"
#include "ui/cursor.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "ui/page_control.h"
#include "ui/std_controls.h"
#include "ui/string_grid.h"

namespace quillon::ui {
namespace {

using ui::testing::RecordingDialogs;

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application().Initialize();
    SetUserDialogs(&dialogs);
    form = std::make_unique<TFormWindow>("Form1", "Controls", 400, 300, TFormFrame::Sizeable);
  }
  void TearDown() override {
    form.reset();
    SetUserDialogs(nullptr);
    Application().DispatchPendingMessages();
    Application().ClearTerminated();
  }
  RecordingDialogs dialogs;
  std::unique_ptr<TFormWindow> form;
};

TEST_F(ControlsTest, AnExceptionInAHandlerReachesTheDefaultErrorDisplayAndTheProgramGoesOn) {
  auto* button = form->Add<TPushButton>(form.get(), "Button1", "Go", 10, 10, 75, 25);
  int clicks = 0;
  button->OnClick = [&](TOwnedObject&) {
    ++clicks;
    throw std::runtime_error("Table is busy");
  };
  SendMessageA(button->Handle(), BM_CLICK, 0, 0);
  SendMessageA(button->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Table is busy", "Table is busy"}));
}

TEST_F(ControlsTest, TheHourglassIsRestoredAlsoWhenTheOperationFails) {
  EXPECT_EQ(ScreenCursor(), TCursorKind::Default);
  try {
    THourglass wait;
    EXPECT_EQ(ScreenCursor(), TCursorKind::HourGlass);
    { THourglass nested; }
    EXPECT_EQ(ScreenCursor(), TCursorKind::HourGlass);
    throw std::runtime_error("failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(ScreenCursor(), TCursorKind::Default);
}

TEST_F(ControlsTest, AGridClickMakesTheCellUnderTheMouseCurrentAndFiresOnClick) {
  auto* grid = form->Add<TTextGrid>(form.get(), "Grid", 10, 10, 119, 68, TGridStyle{7, 4, 16, 16, 0, 0, false});
  grid->SetCell(2, 1, "I");
  std::string clicked;
  grid->OnClick = [&](TOwnedObject&) { clicked = grid->Cell(grid->Col(), grid->Row()); };
  RECT cell = grid->CellRect(2, 1);
  EXPECT_EQ(cell.left, 34);
  EXPECT_EQ(cell.top, 17);
  SendMessageA(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cell.left + 5, cell.top + 5));
  EXPECT_EQ(grid->Col(), 2);
  EXPECT_EQ(grid->Row(), 1);
  EXPECT_EQ(clicked, "I");
  // Below the last row nothing is hit and nothing fires.
  clicked = "none";
  SendMessageA(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 200));
  EXPECT_EQ(clicked, "none");
}

TEST_F(ControlsTest, ListBoxFindsItemsWithoutCaseAndSharesItsWidthAmongColumns) {
  auto* list = form->Add<TItemList>(form.get(), "List", 0, 0, 300, 100, TListBoxStyle{true, false, 16, false});
  list->SetItems({"beta", "Alpha", "gamma"});
  EXPECT_EQ(list->IndexOf("ALPHA"), 1);
  EXPECT_EQ(list->IndexOf("delta"), -1);
  list->SetColumns(6);
  EXPECT_EQ(list->Columns(), 6);
  RECT item;
  SendMessageA(list->Handle(), LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(item.right - item.left, list->ClientWidth() / 6);
  list->SetBounds(0, 0, 600, 100);  // a resize keeps the columns sharing the width
  SendMessageA(list->Handle(), LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(item.right - item.left, list->ClientWidth() / 6);
  EXPECT_GT(item.right - item.left, 90);
  list->Sort();
  EXPECT_EQ(list->Items(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  list->Add("a-last");  // sorting happened once: later items are appended
  EXPECT_EQ(list->Item(3), "a-last");
}

TEST_F(ControlsTest, PageChangesFromCodeAreSilentButAUserTabClickFiresOnChange) {
  auto* pages = form->Add<TTabbedPages>(form.get(), "pages", 0, 0, 380, 250);
  auto* first = form->Add<TTabPage>(pages, "Sheet1", "First");
  auto* second = form->Add<TTabPage>(pages, "Sheet2", "Second");
  int changes = 0;
  pages->OnChange = [&](TOwnedObject&) { ++changes; };
  pages->SetActivePageIndex(1);
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(second->Visible());
  EXPECT_FALSE(first->Visible());
  RECT tab;
  SendMessageA(pages->Handle(), TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&tab));
  SendMessageA(pages->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(tab.left + 4, tab.top + 4));
  SendMessageA(pages->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(tab.left + 4, tab.top + 4));
  EXPECT_EQ(pages->ActivePageIndex(), 0);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(first->Visible());
  EXPECT_EQ(pages->TabCaption(1), "Second");
}

TEST_F(ControlsTest, AnAltShortcutOfTheMenuRunsItsItemThroughTheMessageLoop) {
  auto* menu = form->Add<TMenuBar>("MainMenu1");
  auto* system = menu->Add("System1", "System");
  auto* exit = system->Add("Exit1", "Exit");
  exit->ShortCut = {true, 'X'};
  auto* hidden = system->Add("Hidden1", "Hidden");
  hidden->Visible = false;
  int runs = 0;
  exit->OnClick = [&](TOwnedObject& sender) {
    EXPECT_EQ(&sender, exit);
    ++runs;
  };
  form->SetMenu(menu);
  form->AttachMenu();
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(GetMenu(form->Handle()), 0)), 1);  // the hidden item is left out
  form->Show();
  // Alt+X as the keyboard delivers it: Alt held, then a system key-down with the context bit.
  BYTE keys[256] = {};
  keys[VK_MENU] = 0x80;
  ASSERT_TRUE(SetKeyboardState(keys));
  MSG msg = {form->Handle(), WM_SYSKEYDOWN, 'X', 0x20000001, 0, {0, 0}};
  Application().DispatchOne(msg);
  keys[VK_MENU] = 0;
  ASSERT_TRUE(SetKeyboardState(keys));
  EXPECT_EQ(runs, 1);
  msg = {form->Handle(), WM_KEYDOWN, 'X', 0x00000001, 0, {0, 0}};  // plain X is no shortcut
  Application().DispatchOne(msg);
  EXPECT_EQ(runs, 1);
}

TEST_F(ControlsTest, ChildrenInheritFontAndColourUntilTheySetTheirOwn) {
  TTextFont bold;
  bold.bold = true;
  auto* panel = form->Add<TPanelBox>(form.get(), "Panel1", 0, 0, 100, 100);
  panel->SetColor(RgbColor(0xB8B3A3));
  auto* label = form->Add<TTextLabel>(panel, "Label1", "Inherited", 5, 5);
  auto* own = form->Add<TTextLabel>(panel, "Label2", "Own", 5, 30);
  own->SetFont(bold);
  EXPECT_EQ(label->Color(), RGB(0xB8, 0xB3, 0xA3));
  EXPECT_FALSE(label->Font().bold);
  EXPECT_TRUE(own->Font().bold);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(own->Handle(), WM_GETFONT, 0, 0)), FontHandle(bold));
  int plainWidth = own->Width();
  own->SetCaption("Own, and longer");
  EXPECT_GT(own->Width(), plainWidth);  // labels fit their text
}

TEST_F(ControlsTest, AChildOutlivingItsParentForgetsItsDestroyedWindow) {
  auto panel = std::make_unique<TPanelBox>(form.get(), "Panel", 0, 0, 50, 50);
  auto label = std::make_unique<TTextLabel>(panel.get(), "Label", "x", 1, 1);
  HWND labelWindow = label->Handle();
  panel.reset();
  EXPECT_FALSE(IsWindow(labelWindow));
  EXPECT_EQ(label->Handle(), nullptr);
  EXPECT_EQ(label->Parent(), nullptr);
  label.reset();  // nothing left to destroy
}

TEST_F(ControlsTest, ATimerFiresThroughTheMessageLoopUntilDisabled) {
  TIntervalTimer timer("Timer1");
  int fired = 0;
  timer.OnTimer = [&](TOwnedObject&) {
    if (++fired == 2) timer.SetEnabled(false);
  };
  timer.SetInterval(10);
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  // Pump until the handler disabled the timer; the bound only keeps a broken timer from hanging.
  for (int i = 0; i < 500 && timer.Enabled(); ++i) {
    MSG msg;
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
    Application().DispatchOne(msg);
  }
  EXPECT_EQ(fired, 2);
  EXPECT_FALSE(timer.Enabled());
}

TEST_F(ControlsTest, ClosingTheMainFormRunsOnCloseOnceAndEndsTheLoop) {
  int closes = 0;
  form->OnClose = [&](TOwnedObject&) { ++closes; };
  EXPECT_EQ(Application().MainWindow(), form.get());
  form->Show();
  SendMessageA(form->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(Application().Terminated());
  EXPECT_FALSE(form->Visible());
}

}  // namespace
}  // namespace quillon::ui
