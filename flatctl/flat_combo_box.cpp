// The flat combo box (see flat_combo_box.h).
#include "flatctl/flat_combo_box.h"

#include <algorithm>
#include <cmath>

namespace quillon::flatctl {

namespace {
constexpr char kComboProp[] = "QuillonFlatCombo";
constexpr int kButtonWidth = 11;
}  // namespace

TFlatComboBox::TFlatComboBox(ui::TWindowControl* parent, std::string name, int left, int top, int width,
                             ui::TComboStyle style, int height)
    : TComboField(parent, std::move(name), left, top, width, style, height) {
  SetColor(kFlatFaceColor);
  SetParentColor(false);
  // The drop-down list is taken over so that its height can be set whenever it is sized.
  COMBOBOXINFO info = {};
  info.cbSize = sizeof info;
  if (GetComboBoxInfo(Handle(), &info) && info.hwndList) {
    list_ = info.hwndList;
    SetPropA(list_, kComboProp, this);
    listOldProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TFlatComboBox::ListProc)));
  }
  if (style != ui::TComboStyle::csDropDownList && info.hwndItem != Handle()) edit_ = info.hwndItem;
  FitEdit();
}

void TFlatComboBox::FitEdit() {
  if (!edit_) return;
  RECT client, edit;
  GetClientRect(Handle(), &client);
  GetWindowRect(edit_, &edit);
  // A simple combo box's height includes its list, which the edit must not cover: only its
  // width follows there.
  int height = Style() == ui::TComboStyle::csSimple ? edit.bottom - edit.top : Height() - 6;
  SetWindowPos(edit_, nullptr, 0, 0, client.right - 19, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

TFlatComboBox::~TFlatComboBox() {
  if (list_ && IsWindow(list_)) {
    SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listOldProc_));
    RemovePropA(list_, kComboProp);
  }
}

TColorRef TFlatComboBox::ColorArrowBackground() const {
  return useAdvColors_ && Parent() ? Darker(Parent()->Color(), advColorArrowBackground_) : colorArrowBackground_;
}
TColorRef TFlatComboBox::ColorBorder() const {
  return useAdvColors_ && Parent() ? Darker(Parent()->Color(), advColorBorder_) : colorBorder_;
}

bool TFlatComboBox::DroppedDown() const {
  return SendMessageA(Handle(), CB_GETDROPPEDSTATE, 0, 0) != 0;
}

void TFlatComboBox::SetDroppedDown(bool value) {
  SendMessageA(Handle(), CB_SHOWDROPDOWN, value ? TRUE : FALSE, 0);
}

int TFlatComboBox::RowHeight() const {
  HDC dc = GetDC(Handle());
  HGDIOBJ old = SelectObject(dc, ui::FontHandle(Font()));
  TEXTMETRICA tm = {};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  return static_cast<int>(std::lround(1.125 * tm.tmHeight)) - 2;
}

int TFlatComboBox::ListHeight() const {
  int rows = std::min(dropDownCount_, Count());
  // The simple style's list rows are ItemHeight high; the drop-down styles' follow the font.
  int row = Style() == ui::TComboStyle::csSimple ? itemHeight_ : RowHeight();
  int height = rows * row + 4;
  return height <= 4 ? 10 : height;
}

LRESULT CALLBACK TFlatComboBox::ListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* combo = static_cast<TFlatComboBox*>(GetPropA(list, kComboProp));
  if (!combo) return DefWindowProcA(list, msg, wParam, lParam);
  if (msg == WM_WINDOWPOSCHANGING) {
    auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
    if (!(pos->flags & SWP_NOSIZE)) pos->cy = combo->ListHeight();
  }
  return CallWindowProcA(combo->listOldProc_, list, msg, wParam, lParam);
}

void TFlatComboBox::FontChanged() {
  itemHeight_ = 13;
  Invalidate();
}

HBRUSH TFlatComboBox::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, Color());
  return ui::BrushHandle(Color());
}

bool TFlatComboBox::Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  bool handled = TComboField::Notified(msg, wParam, lParam, result);
  if (msg == WM_COMMAND) {
    switch (HIWORD(wParam)) {
      case CBN_DROPDOWN:
      case CBN_CLOSEUP:
      case CBN_SETFOCUS:
      case CBN_KILLFOCUS:
      case CBN_SELCHANGE:
      case CBN_SELENDOK:
        // The active state or the selection changed: strip, border and button follow.
        InvalidateRect(Handle(), nullptr, FALSE);
        break;
    }
  }
  return handled;
}

LRESULT TFlatComboBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = wParam ? reinterpret_cast<HDC>(wParam) : BeginPaint(Handle(), &ps);
      RECT update;
      if (wParam)
        GetClientRect(Handle(), &update);
      else
        update = ps.rcPaint;
      update.right = std::min<LONG>(update.right, Width() - 15);
      FillRect(dc, &update, ui::BrushHandle(Color()));
      // The standard content, without the standard arrow button.
      int saved = SaveDC(dc);
      ExcludeClipRect(dc, ClientWidth() - GetSystemMetrics(SM_CXVSCROLL) - 2, 0, Width(), Height());
      TComboField::WndProc(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
      RestoreDC(dc, saved);
      PaintFrame(dc);
      if (!wParam) EndPaint(Handle(), &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      return WndProc(WM_PAINT, wParam, 0);
    case WM_CTLCOLORLISTBOX:
      // The drop-down list asks its combo box for its colours.
      return reinterpret_cast<LRESULT>(ControlColor(reinterpret_cast<HDC>(wParam)));
    case WM_WINDOWPOSCHANGED: {
      // The edit follows every move and resize of the control.
      LRESULT result = TComboField::WndProc(msg, wParam, lParam);
      FitEdit();
      return result;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE: {
      LRESULT result = TComboField::WndProc(msg, wParam, lParam);
      InvalidateRect(Handle(), nullptr, FALSE);
      return result;
    }
  }
  return TComboField::WndProc(msg, wParam, lParam);
}

void TFlatComboBox::PaintFrame(HDC dc) {
  DrawSelectionStrip(dc);
  DrawBorderAndButton(dc);
}

void TFlatComboBox::DrawSelectionStrip(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  if (Style() == ui::TComboStyle::csDropDown && DroppedDown()) {
    // The open drop-down's edit gets a frame in the window colour instead of the strip.
    RECT frame = client;
    InflateRect(&frame, -2, -2);
    frame.right = Width() - 14;
    FrameRect(dc, &frame, GetSysColorBrush(COLOR_WINDOW));
    return;
  }
  bool lit = (Focused() || (edit_ && GetFocus() == edit_)) && !DroppedDown();
  RECT strip = {client.right - 19, client.top + 3, client.right - 14, client.bottom - 3};
  FillRect(dc, &strip, lit ? GetSysColorBrush(COLOR_HIGHLIGHT) : ui::BrushHandle(Color()));
  if (lit) {
    RECT focus = client;
    InflateRect(&focus, -3, -3);
    focus.right -= 13;
    FrameRect(dc, &focus, GetSysColorBrush(COLOR_HIGHLIGHT));
  }
}

void TFlatComboBox::DrawBorderAndButton(HDC dc) {
  int w = Width(), h = Height();
  RECT border = {0, 0, w - 12, h};
  FrameRectColor(dc, border, ColorBorder());
  for (int i = 0; i < 2; ++i) {
    InflateRect(&border, -1, -1);
    FrameRectColor(dc, border, Color());
  }

  if (Style() == ui::TComboStyle::csSimple) return;  // no button: the list is always shown
  RECT button = {ClientWidth() - (kButtonWidth + 2), 0, w, h};
  FillRect(dc, &button, ui::BrushHandle(ColorArrowBackground()));
  FrameRectColor(dc, button, ColorBorder());
  int cx = (button.left + button.right) / 2, cy = (button.top + button.bottom) / 2;
  auto triangle = [&](int dx, int dy, bool up, TColorRef color) {
    POINT p[3];
    if (up) {
      p[0] = {cx - 2 + dx, cy + 1 + dy}, p[1] = {cx + 2 + dx, cy + 1 + dy}, p[2] = {cx + dx, cy - 1 + dy};
    } else {
      p[0] = {cx - 2 + dx, cy - 1 + dy}, p[1] = {cx + 2 + dx, cy - 1 + dy}, p[2] = {cx + dx, cy + 1 + dy};
    }
    HPEN pen = CreatePen(PS_SOLID, 1, color);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, ui::BrushHandle(color));
    Polygon(dc, p, 3);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
  };
  if (Enabled()) {
    triangle(0, 0, DroppedDown(), colorArrow_);
  } else {
    triangle(1, 1, false, kWhiteColor);
    triangle(0, 0, false, RGB(128, 128, 128));
  }
}

}  // namespace quillon::flatctl
