// The flat controls with real windows under a real message loop: pixels of the rendered controls
// where the look is fixed (borders, glyph cells and positions, the etched glyph, the edit frame,
// the combo box button, the check mark, the group box gap), and real mouse and keyboard input
// through SendInput for hover, press-drag-release, grouping, tabbing and clicks.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "flatctl/flat_button.h"
#include "flatctl/flat_check_box.h"
#include "flatctl/flat_combo_box.h"
#include "flatctl/flat_edit.h"
#include "flatctl/flat_group_box.h"
#include "ui/application.h"
#include "ui/form.h"
#include "ui/std_controls.h"

namespace quillon::flatctl {
namespace {

constexpr TColorRef kRed = RGB(255, 0, 0);
constexpr TColorRef kGreen = RGB(0, 255, 0);
constexpr TColorRef kBlue = RGB(0, 0, 255);
constexpr TColorRef kYellow = RGB(255, 255, 0);
constexpr TColorRef kButtonColor = RGB(217, 217, 217);

// Dispatches what is waiting, and what arrives within ms (input and timers are asynchronous).
void Pump(int ms = 30) {
  DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    ui::Application().DispatchPendingMessages();
    Sleep(5);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
  ui::Application().DispatchPendingMessages();
}

COLORREF Pixel(HWND window, int x, int y) {
  UpdateWindow(window);
  HDC dc = GetDC(window);
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}

// Pixels of the whole window, frame included.
COLORREF WindowPixel(HWND window, int x, int y) {
  RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  HDC dc = GetWindowDC(window);
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}

void SendMouse(DWORD flags, POINT screen) {
  INPUT in = {};
  in.type = INPUT_MOUSE;
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  in.mi.dx = static_cast<LONG>((screen.x * 65536 + w / 2) / w);
  in.mi.dy = static_cast<LONG>((screen.y * 65536 + h / 2) / h);
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &in, sizeof in);
}

// Real mouse input at a point of a window's client area.
void MouseMove(HWND window, int x, int y) {
  POINT p = {x, y};
  ClientToScreen(window, &p);
  SendMouse(0, p);
  Pump();
}
void MouseDown(HWND window, int x, int y) {
  POINT p = {x, y};
  ClientToScreen(window, &p);
  SendMouse(0, p);
  SendMouse(MOUSEEVENTF_LEFTDOWN, p);
  Pump();
}
void MouseUp(HWND window, int x, int y) {
  POINT p = {x, y};
  ClientToScreen(window, &p);
  SendMouse(0, p);
  SendMouse(MOUSEEVENTF_LEFTUP, p);
  Pump();
}
void MouseClick(HWND window, int x, int y) {
  MouseDown(window, x, y);
  MouseUp(window, x, y);
}

void Key(WORD vk, bool shift = false) {
  std::vector<INPUT> keys;
  auto add = [&](WORD k, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = k;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    keys.push_back(in);
  };
  if (shift) add(VK_SHIFT, false);
  add(vk, false);
  add(vk, true);
  if (shift) add(VK_SHIFT, true);
  SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
  Pump();
}

// Alt+key as the keyboard delivers it to the message loop.
void AltKey(HWND focus, char key) {
  MSG msg = {focus, WM_SYSCHAR, static_cast<WPARAM>(key), 0x20000001, 0, {0, 0}};
  ui::Application().DispatchOne(msg);
}

// A strip of cells: each cell white with a filled square of its colour from (2, 2) to (13, 13)
// (white is the transparent colour, as the bottom-left pixel is white).
HBITMAP MakeGlyph(int cellWidth, int height, const std::vector<TColorRef>& cells) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, cellWidth * static_cast<int>(cells.size()), height);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all = {0, 0, cellWidth * static_cast<int>(cells.size()), height};
  FillRect(dc, &all, ui::BrushHandle(kWhiteColor));
  for (size_t i = 0; i < cells.size(); ++i) {
    int left = static_cast<int>(i) * cellWidth;
    RECT square = {left + 2, 2, left + std::min(14, cellWidth - 2), std::min(14, height - 2)};
    FillRect(dc, &square, ui::BrushHandle(cells[i]));
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

SIZE TextExtent(const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, ui::FontHandle(ui::TTextFont{}));
  RECT r = {0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return {r.right, r.bottom};
}

class FlatControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    form = std::make_unique<ui::TFormWindow>("Form1", "Flat controls", 500, 400, ui::TFormFrame::Sizeable);
    form->SetFont(ui::TTextFont{});
    panel = form->Add<ui::TPanelBox>(form.get(), "Panel1", 0, 0, 480, 360);
    panel->SetColor(RGB(184, 179, 163));
  }
  void Show() {
    form->Show();
    SetForegroundWindow(form->Handle());
    SetActiveWindow(form->Handle());
    Pump(50);
  }
  void TearDown() override {
    // Nothing stays pressed or hovered for the next test.
    MouseMove(form->Handle(), 495, 395);
    form.reset();
    Pump();
    ui::Application().ClearTerminated();
  }
  TFlatButton* Button(const std::string& caption, int left, int top, int width, int height) {
    auto* b = form->Add<TFlatButton>(panel, "FlatButton" + std::to_string(++count), caption, left, top, width, height);
    b->SetColor(kButtonColor);
    return b;
  }
  std::unique_ptr<ui::TFormWindow> form;
  ui::TPanelBox* panel = nullptr;
  int count = 0;
};

// ---- Flat button -------------------------------------------------------------------------------

TEST_F(FlatControlsTest, AGlyphStripWhoseWidthIsAMultipleOfItsHeightSetsNumGlyphsUpToFour) {
  struct Case {
    int width, height, numGlyphs;
  } cases[] = {{64, 16, 4}, {80, 16, 1}, {48, 16, 3}, {32, 16, 2}, {16, 16, 1}, {40, 16, 3}};
  for (const Case& c : cases) {
    auto* b = Button("", 0, 0, 30, 30);
    b->SetNumGlyphs(3);
    HBITMAP glyph = MakeGlyph(c.width, c.height, {kRed});
    b->SetGlyph(glyph);
    DeleteObject(glyph);
    EXPECT_EQ(b->NumGlyphs(), c.numGlyphs) << c.width << " x " << c.height;
  }
  auto* b = Button("", 0, 0, 25, 25);
  EXPECT_EQ(b->Width(), 25);
  EXPECT_EQ(b->Height(), 25);
}

TEST_F(FlatControlsTest, AnIdleButtonHasAOnePixelBorderADefaultOneTwoAndAFocusedOneIsRaised) {
  auto* plain = Button("Plain", 10, 10, 75, 25);
  auto* def = Button("Default", 100, 10, 75, 25);
  def->SetDefault(true);
  Show();
  EXPECT_EQ(form->DefaultButton(), def);
  EXPECT_EQ(Pixel(plain->Handle(), 0, 0), kFlatBorderColor);
  EXPECT_EQ(Pixel(plain->Handle(), 1, 1), kButtonColor);
  EXPECT_EQ(Pixel(plain->Handle(), 74, 24), kFlatBorderColor);
  EXPECT_EQ(Pixel(plain->Handle(), 73, 23), kButtonColor);
  EXPECT_EQ(Pixel(def->Handle(), 0, 0), kFlatBorderColor);
  EXPECT_EQ(Pixel(def->Handle(), 1, 1), kFlatBorderColor);
  EXPECT_EQ(Pixel(def->Handle(), 73, 23), kFlatBorderColor);
  EXPECT_EQ(Pixel(def->Handle(), 2, 2), kButtonColor);

  // Focused: hot, raised (highlight top-left, shadow bottom-right), ColorFocused face.
  plain->SetFocus();
  Pump();
  EXPECT_TRUE(plain->Hot());
  EXPECT_EQ(Pixel(plain->Handle(), 0, 0), kWhiteColor);
  EXPECT_EQ(Pixel(plain->Handle(), 0, 23), kWhiteColor);
  EXPECT_EQ(Pixel(plain->Handle(), 74, 24), kBlackColor);
  EXPECT_EQ(Pixel(plain->Handle(), 74, 0), kBlackColor);
  EXPECT_EQ(Pixel(plain->Handle(), 5, 5), kFlatFaceColor);
  // A hot default button is raised like any other.
  def->SetFocus();
  Pump();
  EXPECT_EQ(Pixel(def->Handle(), 0, 0), kWhiteColor);
  EXPECT_EQ(Pixel(def->Handle(), 1, 1), kFlatFaceColor);
  EXPECT_FALSE(plain->Hot());
  EXPECT_EQ(Pixel(plain->Handle(), 0, 0), kFlatBorderColor);
}

TEST_F(FlatControlsTest, LeftLayoutPutsTheGlyphAt27AndTheCaptionAt47InA113PixelButton) {
  // A caption exactly 40 pixels wide in the default font: a word, perhaps with a narrow letter
  // or two after it.
  std::string caption;
  for (std::string word : {"Import", "Search", "Select", "Lyrics", "Add", "Songs"})
    for (std::string tail : {"", ".", "l", "i", "!", "..", "il", "ll", "ii", "s", "e"})
      if (caption.empty() && TextExtent(word + tail).cx == 40) caption = word + tail;
  ASSERT_FALSE(caption.empty()) << "no 40-pixel caption found";

  auto* b = Button(caption, 10, 10, 113, 25);
  b->SetLayout(TButtonLayout::blGlyphLeft);
  HBITMAP glyph = MakeGlyph(16, 16, {kRed});
  b->SetGlyph(glyph);
  DeleteObject(glyph);
  Show();
  EXPECT_EQ(b->GlyphPos().x, 27);
  EXPECT_EQ(b->GlyphPos().y, 5);
  EXPECT_EQ(b->TextBounds().left, 47);
  EXPECT_EQ(b->TextBounds().right, 87);

  HWND h = b->Handle();
  EXPECT_EQ(Pixel(h, 27 + 2, 5 + 2), kRed);
  EXPECT_EQ(Pixel(h, 27 + 13, 5 + 13), kRed);
  EXPECT_EQ(Pixel(h, 27 + 1, 5 + 1), kButtonColor);  // white is the glyph's transparent colour
  EXPECT_EQ(Pixel(h, 27 + 14, 5 + 14), kButtonColor);
  // The caption's ink (anything but the face, smoothed edges included) starts at x = 47, within
  // its first letter's side bearing, and ends inside the text rectangle; the glyph ends at 43.
  int first = 1000, last = -1;
  for (int y = 0; y < 25; ++y)
    for (int x = 27 + 16; x < 112; ++x)
      if (y > 0 && y < 24 && Pixel(h, x, y) != kButtonColor) first = std::min(first, x), last = std::max(last, x);
  EXPECT_GE(first, 47);
  EXPECT_LE(first, 49);
  EXPECT_LE(last, 87);
  EXPECT_GT(last, 80);
}

TEST_F(FlatControlsTest, EachStateShowsItsGlyphCellAndADisabledOneCellGlyphIsEtched) {
  auto* b = Button("", 10, 10, 40, 40);
  b->SetGroupIndex(3);
  b->SetAllowAllUp(true);
  HBITMAP strip = MakeGlyph(16, 16, {kRed, kGreen, kBlue, kYellow});
  b->SetGlyph(strip);
  DeleteObject(strip);
  ASSERT_EQ(b->NumGlyphs(), 4);
  Show();
  HWND h = b->Handle();
  EXPECT_EQ(b->GlyphPos().x, 12);
  EXPECT_EQ(Pixel(h, 12 + 7, 12 + 7), kRed);  // up
  b->SetEnabled(false);
  Pump();
  EXPECT_EQ(Pixel(h, 12 + 7, 12 + 7), kGreen);  // disabled
  EXPECT_EQ(Pixel(h, 0, 0), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 5, 5), kButtonColor);
  b->SetEnabled(true);
  MouseDown(h, 3, 3);
  EXPECT_EQ(b->State(), TFlatButton::TButtonState::pressed);
  EXPECT_EQ(Pixel(h, 13 + 7, 13 + 7), kBlue);  // pressed, moved by one pixel
  EXPECT_EQ(Pixel(h, 0, 0), kBlackColor);      // sunken
  EXPECT_EQ(Pixel(h, 39, 39), kWhiteColor);
  EXPECT_EQ(Pixel(h, 5, 5), kFlatDownColor);
  MouseUp(h, 3, 3);
  EXPECT_TRUE(b->Down());
  EXPECT_EQ(b->State(), TFlatButton::TButtonState::exclusive);
  EXPECT_EQ(Pixel(h, 13 + 7, 13 + 7), kYellow);  // exclusive

  // One cell, disabled: the glyph's shape etched (shadow in place, highlight one pixel down and
  // right), the caption embossed the same way.
  auto* one = Button("Etched", 60, 10, 80, 40);
  one->SetLayout(TButtonLayout::blGlyphLeft);
  HBITMAP cell = MakeGlyph(16, 16, {kRed});
  one->SetGlyph(cell);
  DeleteObject(cell);
  one->SetEnabled(false);
  Pump();
  HWND o = one->Handle();
  POINT g = one->GlyphPos();
  COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
  EXPECT_EQ(Pixel(o, g.x + 2, g.y + 2), shadow);
  EXPECT_EQ(Pixel(o, g.x + 13, g.y + 13), shadow);
  EXPECT_EQ(Pixel(o, g.x + 14, g.y + 14), highlight);
  EXPECT_EQ(Pixel(o, g.x + 14, g.y + 3), highlight);
  EXPECT_EQ(Pixel(o, g.x + 1, g.y + 1), kButtonColor);
  int shadowInk = 0, highlightInk = 0, blackInk = 0;
  RECT t = one->TextBounds();
  for (int y = t.top; y <= t.bottom; ++y)
    for (int x = t.left; x <= t.right; ++x) {
      COLORREF c = Pixel(o, x, y);
      shadowInk += c == shadow;
      highlightInk += c == highlight;
      blackInk += c == kBlackColor;
    }
  EXPECT_GT(shadowInk, 10);
  EXPECT_GT(highlightInk, 10);
  EXPECT_EQ(blackInk, 0);
}

TEST_F(FlatControlsTest, PressingInsideDraggingOutAndReleasingFiresNoClickAndLeavesTheButtonUp) {
  auto* b = Button("Search ...", 20, 20, 75, 23);
  int clicks = 0;
  b->OnClick = [&](ui::TOwnedObject&) { ++clicks; };
  Show();
  HWND h = b->Handle();
  MouseMove(h, 30, 10);
  MouseDown(h, 30, 10);
  EXPECT_EQ(b->State(), TFlatButton::TButtonState::pressed);
  EXPECT_TRUE(b->Dragging());
  MouseMove(h, 200, 10);
  EXPECT_EQ(b->State(), TFlatButton::TButtonState::up);
  MouseMove(h, 30, 10);  // back inside: pressed again
  EXPECT_EQ(b->State(), TFlatButton::TButtonState::pressed);
  MouseMove(h, 30, 150);
  MouseUp(h, 30, 150);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(b->State(), TFlatButton::TButtonState::up);
  EXPECT_FALSE(b->Dragging());
  EXPECT_EQ(GetCapture(), nullptr);

  MouseClick(h, 30, 10);
  EXPECT_EQ(clicks, 1);
  // The keyboard: Space presses and releases, BM_CLICK and the Alt+accelerator click.
  b->SetCaption("&Search");
  b->SetFocus();
  Pump();
  Key(VK_SPACE);
  EXPECT_EQ(clicks, 2);
  SendMessageA(h, BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 3);
  AltKey(h, 's');
  EXPECT_EQ(clicks, 4);
  AltKey(h, 'q');
  EXPECT_EQ(clicks, 4);
}

TEST_F(FlatControlsTest, AGroupedButtonStaysDownUntilAnotherGoesDownUnlessAllowAllUp) {
  auto* a = Button("A", 10, 10, 40, 25);
  auto* b = Button("B", 60, 10, 40, 25);
  auto* other = Button("C", 110, 10, 40, 25);
  a->SetGroupIndex(1);
  b->SetGroupIndex(1);
  other->SetGroupIndex(2);
  int clicksA = 0;
  a->OnClick = [&](ui::TOwnedObject&) { ++clicksA; };
  Show();
  MouseClick(a->Handle(), 10, 10);
  EXPECT_TRUE(a->Down());
  MouseClick(a->Handle(), 10, 10);  // AllowAllUp false: clicking again does not release it
  EXPECT_TRUE(a->Down());
  EXPECT_EQ(clicksA, 2);
  a->SetDown(false);  // nor does code
  EXPECT_TRUE(a->Down());
  MouseClick(other->Handle(), 10, 10);  // another group leaves it alone
  EXPECT_TRUE(a->Down());
  EXPECT_TRUE(other->Down());
  MouseClick(b->Handle(), 10, 10);
  EXPECT_TRUE(b->Down());
  EXPECT_FALSE(a->Down());
  EXPECT_EQ(a->State(), TFlatButton::TButtonState::up);

  a->SetAllowAllUp(true);  // the group shares it
  EXPECT_TRUE(b->AllowAllUp());
  EXPECT_FALSE(other->AllowAllUp());
  MouseClick(b->Handle(), 10, 10);
  EXPECT_FALSE(b->Down());
  EXPECT_FALSE(a->Down());
  // Without a group a button never stays down.
  auto* plain = Button("P", 160, 10, 40, 25);
  plain->SetDown(true);
  EXPECT_FALSE(plain->Down());
}

TEST_F(FlatControlsTest, TheMouseOverAButtonMakesItHotAndTheHoverTimerMakesItLeave) {
  auto* a = Button("A", 10, 10, 60, 25);
  auto* b = Button("B", 100, 10, 60, 25);
  int enters = 0, leaves = 0;
  a->OnMouseEnter = [&](ui::TOwnedObject&) { ++enters; };
  a->OnMouseLeave = [&](ui::TOwnedObject&) { ++leaves; };
  Show();
  ASSERT_NE(GetActiveWindow(), nullptr);
  MouseMove(a->Handle(), 20, 10);
  EXPECT_TRUE(a->Hot());
  EXPECT_EQ(enters, 1);
  EXPECT_EQ(Pixel(a->Handle(), 0, 0), kWhiteColor);
  MouseMove(b->Handle(), 20, 10);  // straight onto another button: the first leaves at once
  EXPECT_FALSE(a->Hot());
  EXPECT_TRUE(b->Hot());
  EXPECT_EQ(leaves, 1);
  MouseMove(panel->Handle(), 300, 200);
  Pump(350);  // the 100 ms timer notices the mouse is gone
  EXPECT_FALSE(b->Hot());
  EXPECT_EQ(Pixel(b->Handle(), 0, 0), kFlatBorderColor);
  MouseMove(a->Handle(), 20, 10);  // and it can come back
  EXPECT_TRUE(a->Hot());
  EXPECT_EQ(enters, 2);
  // Disabled it is never hot; enabled again under the mouse it is, and the timer still takes
  // that away once the mouse is gone.
  a->SetEnabled(false);
  EXPECT_FALSE(a->Hot());
  EXPECT_EQ(a->State(), TFlatButton::TButtonState::disabled);
  a->SetEnabled(true);
  EXPECT_TRUE(a->Hot());
  MouseMove(panel->Handle(), 300, 200);
  Pump(350);
  EXPECT_FALSE(a->Hot());
}

// ---- Flat edit and memo ------------------------------------------------------------------------

TEST_F(FlatControlsTest, AFlatEditIsTheFontsTextHeightPlusSixAndFramedThreePixelsDeep) {
  auto* edit = form->Add<TFlatEdit>(panel, "songEdit", 10, 10, 200, 25);
  Show();
  HDC dc = GetDC(edit->Handle());
  HGDIOBJ old = SelectObject(dc, ui::FontHandle(ui::TTextFont{}));
  TEXTMETRICA tm = {};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(edit->Handle(), dc);
  EXPECT_EQ(tm.tmHeight, 13);
  EXPECT_EQ(edit->Height(), 19);
  EXPECT_EQ(edit->ClientHeight(), 13);
  EXPECT_EQ(edit->ClientWidth(), 194);
  ui::TTextFont big;
  big.size = 12;
  edit->SetFont(big);
  HDC dc2 = GetDC(edit->Handle());
  old = SelectObject(dc2, ui::FontHandle(big));
  GetTextMetricsA(dc2, &tm);
  SelectObject(dc2, old);
  ReleaseDC(edit->Handle(), dc2);
  EXPECT_EQ(edit->Height(), tm.tmHeight + 6);

  // ParentColor: the face is the panel's colour; the border the default border colour.
  EXPECT_EQ(edit->ColorFlat(), RGB(184, 179, 163));
  EXPECT_EQ(WindowPixel(edit->Handle(), 0, 0), kFlatBorderColor);
  EXPECT_EQ(WindowPixel(edit->Handle(), 1, 1), RGB(184, 179, 163));
  EXPECT_EQ(WindowPixel(edit->Handle(), 2, 5), RGB(184, 179, 163));
  edit->SetColorFlat(RGB(10, 20, 30));
  EXPECT_FALSE(edit->ParentColor());
  EXPECT_EQ(WindowPixel(edit->Handle(), 2, 2), RGB(10, 20, 30));
  edit->SetParentColor(true);
  EXPECT_EQ(edit->ColorFlat(), RGB(184, 179, 163));
  // The text stays the standard edit's: typing, selection, clipboard.
  edit->SetFocus();
  Pump();
  Key('A');
  Key('B');
  EXPECT_EQ(edit->Text(), "ab");
  SendMessageA(edit->Handle(), EM_SETSEL, 0, -1);
  SendMessageA(edit->Handle(), WM_COPY, 0, 0);
  SendMessageA(edit->Handle(), EM_SETSEL, 2, 2);
  SendMessageA(edit->Handle(), WM_PASTE, 0, 0);
  EXPECT_EQ(edit->Text(), "abab");
}

TEST_F(FlatControlsTest, TabbingBetweenFlatEditsHighlightsOnlyTheFocusedOneEvenUnderTheMouse) {
  auto* first = form->Add<TFlatEdit>(panel, "songEdit", 10, 10, 150);
  auto* second = form->Add<TFlatEdit>(panel, "artistEdit", 10, 40, 150);
  auto* button = Button("Search", 10, 70, 75, 23);
  int keys = 0;
  first->OnKeyDown = [&](ui::TOwnedObject&, WORD& key) { keys += key == VK_RETURN; };
  Show();
  const TColorRef face = RGB(184, 179, 163);
  first->SetFocus();
  Pump();
  EXPECT_TRUE(first->Highlighted());
  EXPECT_EQ(WindowPixel(first->Handle(), 1, 1), kWhiteColor);
  EXPECT_EQ(WindowPixel(first->Handle(), 0, 0), kFlatBorderColor);
  MouseMove(first->Handle(), 20, 5);  // the mouse rests on the first edit
  EXPECT_TRUE(first->Hot());
  Key(VK_TAB);
  EXPECT_TRUE(second->Focused());
  EXPECT_TRUE(second->Highlighted());
  EXPECT_FALSE(first->Highlighted());
  EXPECT_EQ(WindowPixel(first->Handle(), 1, 1), face);
  EXPECT_EQ(WindowPixel(first->Handle(), 2, 2), face);
  EXPECT_EQ(WindowPixel(second->Handle(), 1, 1), kWhiteColor);
  EXPECT_EQ(WindowPixel(second->Handle(), 2, 2), kWhiteColor);
  Key(VK_TAB, true);  // Shift+Tab goes back
  EXPECT_TRUE(first->Focused());
  EXPECT_FALSE(second->Highlighted());
  Key(VK_RETURN);
  EXPECT_EQ(keys, 1);
  // With a button focused, the mouse over an edit highlights it.
  button->SetFocus();
  Pump();
  MouseMove(panel->Handle(), 300, 300);
  MouseMove(second->Handle(), 20, 5);
  EXPECT_TRUE(second->Highlighted());
  EXPECT_EQ(WindowPixel(second->Handle(), 1, 1), kWhiteColor);
  MouseMove(panel->Handle(), 300, 300);
  Pump(600);  // the system reports the leave on its own timer
  EXPECT_FALSE(second->Hot());
  EXPECT_EQ(WindowPixel(second->Handle(), 1, 1), face);
}

TEST_F(FlatControlsTest, AMemoWithBothScrollBarsFillsTheSquareBetweenThemWithTheFrameColour) {
  auto* memo =
      form->Add<TFlatMemo>(panel, "LyricsMemo3", 10, 10, 185, 89, TFlatMemoStyle{TScrollStyle::ssBoth, false, false});
  auto* plain = form->Add<TFlatMemo>(panel, "FlatMemo1", 210, 10);
  plain->SetColorFlat(RGB(200, 100, 50));
  Show();
  EXPECT_EQ(memo->Height(), 89);  // no height fitting
  EXPECT_EQ(plain->Width(), 185);
  EXPECT_EQ(plain->Height(), 89);
  memo->SetLines({"first line", "second line"});
  EXPECT_EQ(memo->Lines(), (std::vector<std::string>{"first line", "second line"}));
  const TColorRef face = RGB(184, 179, 163);
  EXPECT_EQ(WindowPixel(memo->Handle(), 185 - 19, 89 - 19), face);
  EXPECT_EQ(WindowPixel(memo->Handle(), 185 - 4, 89 - 4), face);
  EXPECT_EQ(WindowPixel(memo->Handle(), 0, 0), kFlatBorderColor);
  EXPECT_EQ(WindowPixel(plain->Handle(), 1, 1), RGB(200, 100, 50));
  EXPECT_EQ(Pixel(plain->Handle(), 100, 40), RGB(200, 100, 50));  // the client takes the face colour
  memo->SetFocus();
  Pump();
  EXPECT_EQ(WindowPixel(memo->Handle(), 185 - 10, 89 - 10), kWhiteColor);
  // A memo keeps Tab and Enter for itself.
  Key(VK_RETURN);
  EXPECT_TRUE(memo->Focused());
}

// ---- Flat combo box ----------------------------------------------------------------------------

TEST_F(FlatControlsTest, TheDropDownListIsDropDownCountRowsPlusFourPixelsHigh) {
  auto* combo = form->Add<TFlatComboBox>(panel, "dbCb", 16, 32, 117);
  for (int i = 0; i < 20; ++i) combo->Add("Base " + std::to_string(i));
  Show();
  EXPECT_EQ(combo->DropDownCount(), 8);
  EXPECT_EQ(combo->ItemHeight(), 13);
  combo->SetDroppedDown(true);
  Pump();
  ASSERT_TRUE(combo->DroppedDown());
  RECT list;
  GetWindowRect(combo->ListHandle(), &list);
  EXPECT_EQ(list.bottom - list.top, 8 * 13 + 4);
  combo->SetDroppedDown(false);
  Pump();

  combo->Clear();
  for (int i = 0; i < 3; ++i) combo->Add("Base " + std::to_string(i));
  combo->SetDroppedDown(true);
  Pump();
  GetWindowRect(combo->ListHandle(), &list);
  EXPECT_EQ(list.bottom - list.top, 3 * 13 + 4);
  combo->SetDroppedDown(false);
  combo->Clear();
  EXPECT_EQ(combo->ListHeight(), 10);
}

TEST_F(FlatControlsTest, EditableComboBoxesSizeTheirEditAndTheSimpleOneHasNoButton) {
  auto* drop = form->Add<TFlatComboBox>(panel, "Drop", 16, 10, 150, ui::TComboStyle::csDropDown);
  auto* simple = form->Add<TFlatComboBox>(panel, "Simple", 16, 60, 150, ui::TComboStyle::csSimple, 120);
  for (auto* combo : {drop, simple})
    for (int i = 0; i < 20; ++i) combo->Add("Base " + std::to_string(i));
  Show();
  for (auto* combo : {drop, simple}) ASSERT_NE(combo->EditHandle(), nullptr) << combo->Name();
  RECT client, edit;
  GetClientRect(drop->Handle(), &client);
  GetWindowRect(drop->EditHandle(), &edit);
  EXPECT_EQ(edit.right - edit.left, client.right - 19);
  EXPECT_EQ(edit.bottom - edit.top, drop->Height() - 6);
  // Every resize fits the edit again.
  drop->SetBounds(16, 10, 200, drop->Height());
  Pump();
  GetClientRect(drop->Handle(), &client);
  GetWindowRect(drop->EditHandle(), &edit);
  EXPECT_EQ(edit.right - edit.left, client.right - 19);
  // The text typed into the edit is the control's text.
  SetWindowTextA(drop->EditHandle(), "Lantern");
  EXPECT_EQ(drop->Text(), "Lantern");
  // Focus in the edit lights the strip (the part of it between the edit and the border's inner
  // frames shows); while dropped down it is not drawn.
  auto stripLit = [&] {
    int lit = 0;
    for (int x = drop->ClientWidth() - 19; x < drop->ClientWidth() - 14; ++x)
      lit += Pixel(drop->Handle(), x, drop->Height() / 2) == GetSysColor(COLOR_HIGHLIGHT);
    return lit;
  };
  SetFocus(drop->EditHandle());
  Pump();
  EXPECT_GT(stripLit(), 0);
  drop->SetDroppedDown(true);
  Pump();
  EXPECT_EQ(stripLit(), 0);
  RECT list;
  GetWindowRect(drop->ListHandle(), &list);
  EXPECT_EQ(list.bottom - list.top, 8 * 13 + 4);
  drop->SetDroppedDown(false);
  Pump();

  // The simple style: no arrow button, and its list keeps ItemHeight rows; its edit stays above it.
  HWND s = simple->Handle();
  int left = simple->ClientWidth() - 13;
  EXPECT_NE(Pixel(s, left + 2, 2), kFlatDownColor);
  EXPECT_EQ(simple->ListHeight(), 8 * simple->ItemHeight() + 4);
  RECT simpleEdit, simpleList;
  GetWindowRect(simple->EditHandle(), &simpleEdit);
  GetWindowRect(simple->ListHandle(), &simpleList);
  EXPECT_LE(simpleEdit.bottom, simpleList.top);
}

TEST_F(FlatControlsTest, TheComboBoxIsFramedFlatWithANarrowArrowButton) {
  auto* combo = form->Add<TFlatComboBox>(panel, "dbCb", 16, 32, 117);
  combo->SetColor(GetSysColor(COLOR_WINDOW));
  combo->Add("default");
  combo->Add("MyLyrics");
  combo->SetItemIndex(0);
  int changes = 0;
  combo->OnChange = [&](ui::TOwnedObject&) { ++changes; };
  Show();
  HWND h = combo->Handle();
  int w = combo->Width(), hh = combo->Height();
  EXPECT_EQ(Pixel(h, 0, 0), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 0, hh - 1), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 1, 1), GetSysColor(COLOR_WINDOW));
  int left = combo->ClientWidth() - 13;
  EXPECT_EQ(Pixel(h, left, 2), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, w - 1, 2), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, left + 2, 2), kFlatDownColor);
  int cx = (left + w) / 2, cy = hh / 2;
  EXPECT_EQ(Pixel(h, cx, cy), kBlackColor);
  EXPECT_EQ(Pixel(h, cx - 2, cy - 1), kBlackColor);
  EXPECT_EQ(Pixel(h, cx, cy + 2), kFlatDownColor);

  // Focused: the highlight strip reaches the button.
  combo->SetFocus();
  Pump();
  EXPECT_EQ(Pixel(h, combo->ClientWidth() - 17, hh / 2), GetSysColor(COLOR_HIGHLIGHT));
  // The keyboard is the standard combo box's.
  Key(VK_DOWN);
  EXPECT_EQ(combo->ItemIndex(), 1);
  EXPECT_EQ(changes, 1);
  combo->SetEnabled(false);
  Pump();
  EXPECT_EQ(Pixel(h, cx, cy), RGB(128, 128, 128));
  EXPECT_EQ(Pixel(h, cx + 1, cy + 1), kWhiteColor);
}

// ---- Flat check box ----------------------------------------------------------------------------

TEST_F(FlatControlsTest, ClickingTheCaptionTogglesTheCheckBoxButDraggingOffDoesNot) {
  auto* check = form->Add<TFlatCheckBox>(panel, "DisplayCheck", "Display added &lyrics", 10, 10, 200, 17);
  int clicks = 0;
  check->OnClick = [&](ui::TOwnedObject&) { ++clicks; };
  Show();
  HWND h = check->Handle();
  EXPECT_EQ(Pixel(h, 1, 3), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 11, 13), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 1 + 3, 3 + 5), RGB(184, 179, 163));  // no mark

  MouseClick(h, 60, 8);  // on the caption
  EXPECT_TRUE(check->Checked());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(SendMessageA(h, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(Pixel(h, 1 + 3, 3 + 5), kBlackColor);  // the mark, on the focused face
  EXPECT_EQ(Pixel(h, 1 + 7, 3 + 4), kBlackColor);
  EXPECT_EQ(Pixel(h, 1 + 1, 3 + 1), kWhiteColor);

  MouseDown(h, 60, 8);
  EXPECT_TRUE(check->Pressed());
  EXPECT_EQ(Pixel(h, 1 + 1, 3 + 1), kFlatDownColor);
  MouseMove(h, 60, 100);
  MouseUp(h, 60, 100);
  EXPECT_TRUE(check->Checked());
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(check->Pressed());

  MouseClick(h, 5, 8);  // on the box
  EXPECT_FALSE(check->Checked());
  Key(VK_SPACE);
  EXPECT_TRUE(check->Checked());
  AltKey(h, 'L');
  EXPECT_FALSE(check->Checked());
  EXPECT_EQ(clicks, 4);
  check->SetChecked(false);  // no change, no click
  EXPECT_EQ(clicks, 4);
  check->SetEnabled(false);
  check->SetChecked(true);
  Pump();
  EXPECT_EQ(Pixel(h, 1 + 3, 3 + 5), GetSysColor(COLOR_BTNSHADOW));
  MouseClick(h, 60, 8);
  EXPECT_TRUE(check->Checked());
}

// ---- Flat group box ----------------------------------------------------------------------------

TEST_F(FlatControlsTest, AGroupBoxLeavesItsTopBorderOpenFrom5ToCaptionWidthPlus12) {
  auto* group = form->Add<TFlatGroupBox>(panel, "FlatGroupBox1", "Internet Search Assistant", 8, 6, 400, 84);
  auto* child = form->Add<TFlatEdit>(group, "songEdit2", 54, 22, 200);
  Show();
  HWND h = group->Handle();
  SIZE caption = group->CaptionSize();
  EXPECT_EQ(caption.cx, TextExtent("Internet Search Assistant").cx);
  int w = caption.cx, m = caption.cy / 2, W = group->ClientWidth(), H = group->ClientHeight();
  EXPECT_EQ(Pixel(h, 0, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 5, m), kFlatBorderColor);
  for (int x = 6; x <= w + 12; ++x) EXPECT_NE(Pixel(h, x, m), kFlatBorderColor) << x;
  EXPECT_EQ(Pixel(h, w + 13, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, W - 1, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 0, H - 1), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, W - 1, H / 2), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, W / 2, H / 2), RGB(184, 179, 163));  // the parent's colour
  EXPECT_EQ(Pixel(h, 0, m - 1), RGB(184, 179, 163));
  // The caption in the font colour, from x = 10.
  int ink = 0, before = 0;
  for (int y = 0; y < caption.cy; ++y)
    for (int x = 0; x < W; ++x)
      if (Pixel(h, x, y) == kBlackColor) (x < 10 ? before : ink)++;
  EXPECT_GT(ink, 20);
  EXPECT_EQ(before, 0);
  EXPECT_EQ(child->ColorFlat(), RGB(184, 179, 163));

  group->SetBorder(TGroupBoxBorder::brOnlyTopLine);
  Pump();
  EXPECT_EQ(Pixel(h, 5, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, w + 13, m), kFlatBorderColor);
  EXPECT_NE(Pixel(h, 0, H - 1), kFlatBorderColor);
  EXPECT_NE(Pixel(h, W - 1, H / 2), kFlatBorderColor);
}

TEST_F(FlatControlsTest, RightToLeftReadingOrderMirrorsTheGroupBoxGapAndMovesTheCheckBoxRight) {
  auto* group = form->Add<TFlatGroupBox>(panel, "FlatGroupBox1", "Internet Search Assistant", 8, 6, 400, 84);
  group->SetRightToLeft(true);
  auto* check = form->Add<TFlatCheckBox>(panel, "DisplayCheck", "Display", 10, 100, 120, 17);
  check->SetRightToLeft(true);
  Show();
  HWND h = group->Handle();
  SIZE caption = group->CaptionSize();
  int w = caption.cx, m = caption.cy / 2, W = group->ClientWidth();
  // The line stops at W - w - 15 and starts again at W - 6 (a polyline leaves out its last point).
  EXPECT_EQ(Pixel(h, 0, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, W - w - 15, m), kFlatBorderColor);
  for (int x = W - w - 14; x <= W - 7; ++x) EXPECT_NE(Pixel(h, x, m), kFlatBorderColor) << x;
  EXPECT_EQ(Pixel(h, W - 6, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, W - 1, m), kFlatBorderColor);
  // The caption ends 10 pixels from the right edge.
  int firstInk = W, lastInk = -1;
  for (int y = 0; y < caption.cy; ++y)
    for (int x = 0; x < W; ++x)
      if (Pixel(h, x, y) == kBlackColor) firstInk = std::min(firstInk, x), lastInk = std::max(lastInk, x);
  EXPECT_GE(firstInk, W - 10 - w);
  EXPECT_LE(lastInk, W - 11);
  EXPECT_GT(lastInk, W - 20);

  group->SetBorder(TGroupBoxBorder::brOnlyTopLine);
  Pump();
  EXPECT_EQ(Pixel(h, W - 5, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, 1, m), kFlatBorderColor);
  EXPECT_EQ(Pixel(h, W - w - 13, m), kFlatBorderColor);
  EXPECT_NE(Pixel(h, W - w - 11, m), kFlatBorderColor);

  EXPECT_EQ(check->Layout(), TCheckBoxLayout::checkboxRight);
  EXPECT_EQ(Pixel(check->Handle(), check->ClientWidth() - 12, 3), kFlatBorderColor);
  EXPECT_NE(Pixel(check->Handle(), 1, 3), kFlatBorderColor);
}

// ---- Shared colour model and see-through drawing ---------------------------------------------

TEST_F(FlatControlsTest, SeeThroughControlsShowTheParentAndDerivedColoursFollowTheFaceColour) {
  const TColorRef face = RGB(184, 179, 163);
  auto* always = Button("", 10, 10, 40, 25);
  always->SetTransparentMode(TTransparentMode::tmAlways);
  auto* notFocused = Button("", 60, 10, 40, 25);
  notFocused->SetTransparentMode(TTransparentMode::tmNotFocused);
  auto* derived = Button("", 110, 10, 40, 25);
  derived->SetUseAdvColors(true);
  auto* check = form->Add<TFlatCheckBox>(panel, "Check", "Right", 10, 50, 120, 17);
  check->SetColor(kRed);
  check->SetTransparent(true);
  check->SetLayout(TCheckBoxLayout::checkboxRight);
  auto* edit = form->Add<TFlatEdit>(panel, "Edit", 10, 80, 120);
  edit->SetUseAdvColors(true);
  Show();

  EXPECT_EQ(Pixel(always->Handle(), 10, 10), face);
  EXPECT_EQ(Pixel(always->Handle(), 0, 0), kFlatBorderColor);
  EXPECT_EQ(Pixel(notFocused->Handle(), 10, 10), face);
  notFocused->SetFocus();
  Pump();
  EXPECT_EQ(Pixel(notFocused->Handle(), 10, 10), kFlatFaceColor);  // hot: ColorFocused

  // UseAdvColors: the parent's colour as face, the border 50 darker, the highlight 10 lighter.
  EXPECT_TRUE(derived->ParentColor());
  EXPECT_EQ(derived->Color(), face);
  EXPECT_EQ(derived->ColorBorder(), Darker(face, 50));
  EXPECT_EQ(derived->ColorFocused(), Lighter(face, 10));
  EXPECT_NE(derived->ColorBorder(), face);
  EXPECT_EQ(Pixel(derived->Handle(), 0, 0), Darker(face, 50));
  EXPECT_EQ(Pixel(derived->Handle(), 10, 10), face);
  EXPECT_TRUE(edit->ParentColor());
  EXPECT_EQ(edit->ColorBorder(), Darker(face, 50));
  EXPECT_EQ(WindowPixel(edit->Handle(), 0, 0), Darker(face, 50));
  panel->SetColor(RGB(100, 120, 140));  // they follow the parent
  Pump();
  EXPECT_EQ(Pixel(derived->Handle(), 0, 0), Darker(RGB(100, 120, 140), 50));
  EXPECT_EQ(WindowPixel(edit->Handle(), 1, 1), RGB(100, 120, 140));

  // A see-through check box shows the panel behind it, not its own colour; checkboxRight puts
  // the box at the right edge.
  int w = check->ClientWidth();
  EXPECT_EQ(check->BoxRect().left, w - 12);
  EXPECT_EQ(Pixel(check->Handle(), w - 12, 3), kFlatBorderColor);
  EXPECT_EQ(Pixel(check->Handle(), 3, 15), RGB(100, 120, 140));
  EXPECT_EQ(Pixel(check->Handle(), w - 8, 7), kRed);  // the box face is still Color
}

TEST_F(FlatControlsTest, AMemoIsNotLitByTheMouseWhileAnotherMemoHasTheFocusButAnEditIs) {
  auto* focusedMemo = form->Add<TFlatMemo>(panel, "Memo1", 10, 10, 150, 60);
  auto* otherMemo = form->Add<TFlatMemo>(panel, "Memo2", 170, 10, 150, 60);
  auto* edit = form->Add<TFlatEdit>(panel, "Edit1", 10, 100, 150);
  auto* group = form->Add<TFlatGroupBox>(panel, "Group", "&Local Search", 10, 140, 300, 60);
  Show();
  focusedMemo->SetFocus();
  Pump();
  MouseMove(otherMemo->Handle(), 20, 20);
  EXPECT_TRUE(otherMemo->Hot());
  EXPECT_FALSE(otherMemo->Highlighted());
  MouseMove(edit->Handle(), 20, 5);
  EXPECT_TRUE(edit->Highlighted());
  EXPECT_EQ(WindowPixel(edit->Handle(), 1, 1), kWhiteColor);
  // The group box's Alt+accelerator gives it the focus.
  AltKey(focusedMemo->Handle(), 'l');
  EXPECT_EQ(GetFocus(), group->Handle());
}

}  // namespace
}  // namespace quillon::flatctl
