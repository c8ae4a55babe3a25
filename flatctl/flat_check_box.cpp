// The flat check box (see flat_check_box.h).
#include "flatctl/flat_check_box.h"

namespace quillon::flatctl {

namespace {

THoverTracker& CheckBoxHover() {
  static THoverTracker tracker;
  return tracker;
}

}  // namespace

TFlatCheckBox::TFlatCheckBox(ui::TWindowControl* parent, std::string name, const std::string& caption, int left,
                             int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_TABSTOP, 0, caption, left, top, width, height);
  CheckBoxHover().Register();
}

TFlatCheckBox::~TFlatCheckBox() {
  CheckBoxHover().Unregister(this);
}

TColorRef TFlatCheckBox::ColorFocused() const {
  return useAdvColors_ ? Lighter(Color(), advColorFocused_) : colorFocused_;
}
TColorRef TFlatCheckBox::ColorDown() const {
  return useAdvColors_ ? Darker(Color(), advColorDown_) : colorDown_;
}
TColorRef TFlatCheckBox::ColorBorder() const {
  return useAdvColors_ ? Darker(Color(), advColorBorder_) : colorBorder_;
}

void TFlatCheckBox::SetUseAdvColors(bool value) {
  useAdvColors_ = value;
  SetParentColor(value);
  Invalidate();
}

void TFlatCheckBox::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  Click();
  Redraw();
}

void TFlatCheckBox::SetCaption(const std::string& text) {
  TWindowControl::SetCaption(text);
  Invalidate();
}

RECT TFlatCheckBox::BoxRect() const {
  if (layout_ == TCheckBoxLayout::checkboxRight) {
    int w = ClientWidth();
    return {w - 12, 3, w - 1, 14};
  }
  return {1, 3, 12, 14};
}

void TFlatCheckBox::Redraw() {
  if (!Handle()) return;
  InvalidateRect(Handle(), nullptr, FALSE);
  UpdateWindow(Handle());
}

void TFlatCheckBox::HoverLeft() {
  // A press keeps the box lit until the button is released.
  if (pressed_) return;
  CheckBoxHover().Forget(this);
  if (hot_) {
    hot_ = false;
    Redraw();
  }
}

void TFlatCheckBox::MouseMoved(int x, int y) {
  THoverTracker& hover = CheckBoxHover();
  if (hover.Tracked() != this && hover.Enter(this)) {
    hot_ = true;
    Redraw();
  }
  if (pressed_) {
    // While the button is held, the box is lit only with the mouse over it: a release
    // elsewhere does not toggle.
    bool inside = x >= 0 && y >= 0 && x < ClientWidth() && y < ClientHeight();
    if (inside != hot_) {
      hot_ = inside;
      Redraw();
    }
  }
}

void TFlatCheckBox::LeftButtonUp() {
  if (GetCapture() == Handle()) ReleaseCapture();
  if (Enabled() && pressed_) {
    pressed_ = false;
    if (hot_)
      SetChecked(!checked_);
    else
      CheckBoxHover().Forget(this);
    Redraw();
  }
}

bool TFlatCheckBox::DialogChar(char key) {
  if (!Enabled() || !IsWindowVisible(Handle()) || !ui::IsAccelerator(key, Caption())) return false;
  SetFocus();
  SetChecked(!checked_);
  return true;
}

LRESULT TFlatCheckBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintOffscreen(Handle(), ClientWidth(), ClientHeight(), [this](HDC dc) { PaintTo(dc); });
      return 0;
    case WM_PRINTCLIENT:
      PaintTo(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_MOUSEMOVE:
      MouseMoved(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (Enabled()) {
        SetFocus();
        pressed_ = true;
        SetCapture(Handle());
        Redraw();
      }
      return 0;
    case WM_LBUTTONUP:
      LeftButtonUp();
      return 0;
    case WM_CHAR:
      if (wParam == ' ' && Enabled()) {
        SetChecked(!checked_);
        return 0;
      }
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      focused_ = msg == WM_SETFOCUS;
      Redraw();
      return 0;
    case WM_ENABLE:
      Invalidate();
      return 0;
    case WM_WINDOWPOSCHANGED:
      if (transparent_) Invalidate();
      break;
    case BM_GETCHECK:
      return checked_ ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
      SetChecked(wParam == BST_CHECKED);
      return 0;
    case BM_CLICK:
      if (Enabled()) SetChecked(!checked_);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_BUTTON;
    case ui::kDialogCharMessage:
      return DialogChar(static_cast<char>(wParam)) ? 1 : 0;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

void TFlatCheckBox::PaintTo(HDC dc) {
  RECT client = {0, 0, ClientWidth(), ClientHeight()};
  if (transparent_)
    DrawParentImage(Handle(), dc);
  else
    FillRect(dc, &client, ui::BrushHandle(Color()));

  RECT box = BoxRect();
  TColorRef face = !focused_ && !hot_ ? Color() : pressed_ ? ColorDown() : ColorFocused();
  FillRect(dc, &box, ui::BrushHandle(face));
  if (checked_) {
    int l = box.left, t = box.top;
    HPEN pen = CreatePen(PS_SOLID, 1, Enabled() ? colorCheck_ : GetSysColor(COLOR_BTNSHADOW));
    HGDIOBJ old = SelectObject(dc, pen);
    const int lines[6][4] = {{2, 4, 6, 8}, {2, 5, 5, 8}, {2, 6, 5, 9}, {8, 2, 4, 6}, {8, 3, 4, 7}, {8, 4, 5, 7}};
    for (const auto& line : lines) {
      MoveToEx(dc, l + line[0], t + line[1], nullptr);
      LineTo(dc, l + line[2], t + line[3]);
    }
    SelectObject(dc, old);
    DeleteObject(pen);
  }
  FrameRectColor(dc, box, ColorBorder());

  std::string caption = Caption();
  if (!caption.empty()) {
    HGDIOBJ oldFont = SelectObject(dc, ui::FontHandle(Font()));
    RECT text;
    UINT format = DT_WORDBREAK | DT_TOP;
    if (layout_ == TCheckBoxLayout::checkboxRight) {
      text = {1, 1, client.right - 16, client.bottom - 1};
      format |= DT_RIGHT;
    } else {
      text = {16, 1, client.right - 1, client.bottom - 1};
      format |= DT_LEFT;
    }
    if (Enabled())
      DrawTextColor(dc, caption, text, format, Font().color);
    else
      DrawDisabledText(dc, caption, text, format);
    SelectObject(dc, oldFont);
  }
}

}  // namespace quillon::flatctl
