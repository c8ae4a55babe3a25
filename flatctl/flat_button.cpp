// The flat button (see flat_button.h).
#include "flatctl/flat_button.h"

#include <vector>

#include "ui/form.h"

namespace quillon::flatctl {

namespace {

THoverTracker& ButtonHover() {
  static THoverTracker tracker;
  return tracker;
}

int MouseX(LPARAM lParam) {
  return static_cast<short>(LOWORD(lParam));
}
int MouseY(LPARAM lParam) {
  return static_cast<short>(HIWORD(lParam));
}

bool CursorOver(HWND window) {
  POINT cursor;
  GetCursorPos(&cursor);
  return WindowFromPoint(cursor) == window;
}

}  // namespace

TFlatButton::TFlatButton(ui::TWindowControl* parent, std::string name, const std::string& caption, int left, int top,
                         int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_TABSTOP, 0, caption, left, top, width, height);
  ButtonHover().Register();
}

TFlatButton::~TFlatButton() {
  ButtonHover().Unregister(this);
  if (ui::TFormWindow* form = ui::FormOf(Handle()))
    if (form->DefaultButton() == this) form->SetDefaultButton(nullptr);
  if (glyph_) DeleteObject(glyph_);
}

TColorRef TFlatButton::ColorFocused() const {
  return useAdvColors_ ? Lighter(Color(), advColorFocused_) : colorFocused_;
}
TColorRef TFlatButton::ColorDown() const {
  return useAdvColors_ ? Darker(Color(), advColorDown_) : colorDown_;
}
TColorRef TFlatButton::ColorBorder() const {
  return useAdvColors_ ? Darker(Color(), advColorBorder_) : colorBorder_;
}

void TFlatButton::SetUseAdvColors(bool value) {
  useAdvColors_ = value;
  SetParentColor(value);
  Invalidate();
}

void TFlatButton::SetTransparentMode(TTransparentMode mode) {
  transparentMode_ = mode;
  Invalidate();
}

void TFlatButton::SetDefault(bool value) {
  default_ = value;
  if (ui::TFormWindow* form = ui::FormOf(Handle())) {
    if (value)
      form->SetDefaultButton(this);
    else if (form->DefaultButton() == this)
      form->SetDefaultButton(nullptr);
  }
  Invalidate();
}

void TFlatButton::SetAllowAllUp(bool value) {
  allowAllUp_ = value;
  BroadcastPressed();
}

void TFlatButton::SetGroupIndex(int value) {
  groupIndex_ = value;
  BroadcastPressed();
}

void TFlatButton::SetDown(bool value) {
  if (groupIndex_ == 0) value = false;
  if (value == down_) return;
  if (down_ && !allowAllUp_) return;
  down_ = value;
  if (value) {
    bool wasUp = state_ == TButtonState::up;
    state_ = TButtonState::exclusive;
    if (wasUp) Repaint();
    BroadcastPressed();
  } else {
    state_ = TButtonState::up;
    Repaint();
  }
}

void TFlatButton::BroadcastPressed() {
  HWND parent = GetParent(Handle());
  if (!parent) return;
  for (HWND w = GetWindow(parent, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
    if (w != Handle())
      SendMessageA(w, kButtonPressedMessage, static_cast<WPARAM>(groupIndex_), reinterpret_cast<LPARAM>(this));
}

void TFlatButton::SetGlyph(HBITMAP glyph) {
  if (glyph_) DeleteObject(glyph_);
  glyph_ = glyph ? static_cast<HBITMAP>(CopyImage(glyph, IMAGE_BITMAP, 0, 0, 0)) : nullptr;
  if (glyph_) {
    BITMAP bm = {};
    GetObjectA(glyph_, sizeof bm, &bm);
    if (bm.bmWidth > 0 && bm.bmHeight > 0 && bm.bmWidth % bm.bmHeight == 0) {
      int cells = bm.bmWidth / bm.bmHeight;
      numGlyphs_ = cells > 4 ? 1 : cells;
    }
  }
  Invalidate();
}

void TFlatButton::SetNumGlyphs(int value) {
  numGlyphs_ = value < 1 ? 1 : value > 4 ? 4 : value;
  Invalidate();
}

void TFlatButton::SetMargin(int value) {
  if (value < -1) return;
  margin_ = value;
  Invalidate();
}

void TFlatButton::SetCaption(const std::string& text) {
  TWindowControl::SetCaption(text);
  Invalidate();
}

void TFlatButton::Repaint() {
  if (!Handle()) return;
  InvalidateRect(Handle(), nullptr, FALSE);
  UpdateWindow(Handle());
}

bool TFlatButton::Inside(int x, int y) const {
  return x >= 0 && x < ClientWidth() && y >= 0 && y <= ClientHeight();
}

void TFlatButton::MouseEnter() {
  hot_ = true;
  Repaint();
  if (OnMouseEnter) OnMouseEnter(*this);
}

void TFlatButton::MouseLeave() {
  if (ButtonHover().Tracked() == this) ButtonHover().Forget(this);
  if (Enabled() && hot_ && !dragging_) {
    hot_ = false;
    Repaint();
  }
  if (OnMouseLeave) OnMouseLeave(*this);
}

void TFlatButton::HoverLeft() {
  // While the left button is held down over it the button keeps its highlight.
  if (Enabled() && hot_ && !dragging_) MouseLeave();
}

void TFlatButton::ReevaluateHover() {
  hot_ = Enabled() && CursorOver(Handle());
  // A button found hot is tracked, so that the timer takes the highlight away again.
  THoverTracker& hover = ButtonHover();
  if (hot_ && hover.Tracked() != this) hover.Handover(this);
  Repaint();
}

void TFlatButton::ButtonClick() {
  if (Parent())
    if (ui::TFormWindow* form = ui::FormOf(Handle())) form->SetModalResult(ModalResult);
  Click();
}

bool TFlatButton::DialogChar(char key) {
  if (!Enabled() || !IsWindowVisible(Handle()) || !ui::IsAccelerator(key, Caption())) return false;
  if (groupIndex_ != 0) SetDown(true);
  ButtonClick();
  return true;
}

void TFlatButton::MouseMoved(WPARAM keys, int x, int y) {
  THoverTracker& hover = ButtonHover();
  if (hover.Tracked() != this && hover.Enter(this)) MouseEnter();
  if (dragging_) {
    TButtonState next = down_ ? TButtonState::exclusive : Inside(x, y) ? TButtonState::pressed : TButtonState::up;
    if (next != state_) {
      state_ = next;
      Repaint();
    }
  }
  if (OnMouseMove) OnMouseMove(*this, static_cast<UINT>(keys), x, y);
}

void TFlatButton::LeftButtonDown(bool doubleClick, WPARAM keys, int x, int y) {
  if (Enabled()) {
    if (!down_) {
      state_ = TButtonState::pressed;
      Repaint();
    }
    dragging_ = true;
    SetFocus();
    SetCapture(Handle());
  }
  if (OnMouseDown) OnMouseDown(*this, static_cast<UINT>(keys), x, y);
  if (doubleClick && down_ && OnDblClick) OnDblClick(*this);
}

void TFlatButton::LeftButtonUp(WPARAM keys, int x, int y) {
  if (GetCapture() == Handle()) ReleaseCapture();
  if (dragging_) {
    dragging_ = false;
    bool inside = Inside(x, y);
    if (groupIndex_ == 0) {
      state_ = TButtonState::up;
      hot_ = false;
      if (inside) Repaint();
    } else if (inside) {
      SetDown(!down_);
      if (down_) Repaint();
    } else {
      if (down_) state_ = TButtonState::exclusive;
      Repaint();
    }
    if (inside)
      ButtonClick();
    else
      MouseLeave();
    ReevaluateHover();
  }
  if (OnMouseUp) OnMouseUp(*this, static_cast<UINT>(keys), x, y);
}

// The space bar presses the button while held and clicks it when released, as a mouse click does.
void TFlatButton::SpaceKey(bool pressed) {
  if (groupIndex_ != 0)
    SetDown(pressed);
  else
    state_ = pressed ? TButtonState::pressed : TButtonState::up;
  if (!pressed) ButtonClick();
  Repaint();
}

void TFlatButton::EnabledChanged(bool enabled) {
  if (enabled) {
    ReevaluateHover();
    return;
  }
  hot_ = false;
  state_ = TButtonState::disabled;
  ButtonHover().Forget(this);
  Repaint();
}

// Another button of the group went down: only one of a group stays down.
void TFlatButton::GroupMemberPressed(const TFlatButton& sender) {
  if (sender.down_ && down_) {
    down_ = false;
    state_ = TButtonState::up;
    Repaint();
  }
  allowAllUp_ = sender.allowAllUp_;
}

LRESULT TFlatButton::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
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
      MouseMoved(wParam, MouseX(lParam), MouseY(lParam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      LeftButtonDown(msg == WM_LBUTTONDBLCLK, wParam, MouseX(lParam), MouseY(lParam));
      return 0;
    case WM_LBUTTONUP:
      LeftButtonUp(wParam, MouseX(lParam), MouseY(lParam));
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      if (wParam != VK_SPACE) break;
      SpaceKey(msg == WM_KEYDOWN);
      return 0;
    case WM_SETFOCUS:
      if (Enabled()) {
        hot_ = true;
        Repaint();
      }
      return 0;
    case WM_KILLFOCUS:
      HoverLeft();
      return 0;
    case WM_ENABLE:
      EnabledChanged(wParam != 0);
      return 0;
    case WM_WINDOWPOSCHANGED:
      if (transparentMode_ != TTransparentMode::tmNone) Invalidate();
      break;
    case BM_CLICK:
      if (Enabled()) ButtonClick();
      return 0;
    case WM_GETDLGCODE:
      // A push button to the keyboard: Enter clicks it while it has the focus.
      return DLGC_BUTTON | (Default() ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case kButtonPressedMessage:
      if (static_cast<int>(wParam) == groupIndex_ && lParam != reinterpret_cast<LPARAM>(this))
        GroupMemberPressed(*reinterpret_cast<const TFlatButton*>(lParam));
      return 0;
    case ui::kDialogCharMessage:
      return DialogChar(static_cast<char>(wParam)) ? 1 : 0;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

void TFlatButton::DrawGlyph(HDC dc, int x, int y) {
  BITMAP bm = {};
  GetObjectA(glyph_, sizeof bm, &bm);
  int stripWidth = bm.bmWidth, height = bm.bmHeight;
  int cellWidth = stripWidth / numGlyphs_;
  if (cellWidth <= 0 || height <= 0) return;

  int cell = 0;
  switch (numGlyphs_) {
    case 2:
      cell = state_ == TButtonState::disabled ? 1 : 0;
      break;
    case 3:
      cell = state_ == TButtonState::disabled                                       ? 1
             : state_ == TButtonState::pressed || state_ == TButtonState::exclusive ? 2
                                                                                    : 0;
      break;
    case 4:
      cell = state_ == TButtonState::disabled    ? 1
             : state_ == TButtonState::pressed   ? 2
             : state_ == TButtonState::exclusive ? 3
                                                 : 0;
      break;
  }

  // The strip as top-down 32-bit pixels (0x00RRGGBB).
  std::vector<DWORD> strip(static_cast<size_t>(stripWidth) * height);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = stripWidth;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  int rows = GetDIBits(screen, glyph_, 0, static_cast<UINT>(height), strip.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != height) return;

  std::vector<COLORREF> image(static_cast<size_t>(cellWidth) * height);
  auto at = [&](std::vector<COLORREF>& v, int cx, int cy) -> COLORREF& {
    return v[static_cast<size_t>(cy) * cellWidth + cx];
  };
  for (int cy = 0; cy < height; ++cy)
    for (int cx = 0; cx < cellWidth; ++cx) {
      DWORD p = strip[static_cast<size_t>(cy) * stripWidth + cell * cellWidth + cx];
      at(image, cx, cy) = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

  if (numGlyphs_ == 1 && state_ == TButtonState::disabled) {
    // Etched: the glyph's shape, white left out, as an engraving on the button face.
    std::vector<COLORREF> etched(image.size(), GetSysColor(COLOR_BTNFACE));
    COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT), shadow = GetSysColor(COLOR_BTNSHADOW);
    for (int cy = 0; cy < height; ++cy)
      for (int cx = 0; cx < cellWidth; ++cx)
        if (at(image, cx, cy) != kWhiteColor && cx + 1 < cellWidth && cy + 1 < height)
          at(etched, cx + 1, cy + 1) = highlight;
    for (int cy = 0; cy < height; ++cy)
      for (int cx = 0; cx < cellWidth; ++cx)
        if (at(image, cx, cy) != kWhiteColor) at(etched, cx, cy) = shadow;
    image.swap(etched);
  }

  COLORREF transparent = at(image, 0, height - 1);
  for (int cy = 0; cy < height; ++cy)
    for (int cx = 0; cx < cellWidth; ++cx)
      if (at(image, cx, cy) != transparent) SetPixelV(dc, x + cx, y + cy, at(image, cx, cy));
}

// A disabled button forgets a drag; an enabled one leaves the disabled look.
void TFlatButton::SettleState() {
  if (Enabled()) {
    if (state_ == TButtonState::disabled)
      state_ = down_ && groupIndex_ != 0 ? TButtonState::exclusive : TButtonState::up;
  } else {
    state_ = TButtonState::disabled;
    dragging_ = false;
  }
}

void TFlatButton::LayOut(HDC dc, const RECT& client, const std::string& caption) {
  ButtonLayoutInput in;
  in.client = {client.left, client.top, client.right, client.bottom};
  if (state_ == TButtonState::pressed || state_ == TButtonState::exclusive) in.pressOffset = {1, 1};
  if (glyph_) {
    BITMAP bm = {};
    GetObjectA(glyph_, sizeof bm, &bm);
    in.glyphWidth = bm.bmWidth / numGlyphs_;
    in.glyphHeight = bm.bmHeight;
  }
  if (!caption.empty()) {
    RECT extent = {0, 0, 0, 0};
    DrawTextA(dc, caption.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE);
    in.textWidth = extent.right - extent.left;
    in.textHeight = extent.bottom - extent.top;
  }
  in.margin = margin_;
  in.spacing = spacing_;
  in.layout = layout_;
  ButtonLayout layout = CalcButtonLayout(in);
  glyphPos_ = {layout.glyph.x, layout.glyph.y};
  textBounds_ = {layout.text.left, layout.text.top, layout.text.right, layout.text.bottom};
}

void TFlatButton::PaintFace(HDC dc, const RECT& client) {
  auto fill = [&](TColorRef color) { FillRect(dc, &client, ui::BrushHandle(color)); };
  switch (transparentMode_) {
    case TTransparentMode::tmNone:
      switch (state_) {
        case TButtonState::disabled:
          fill(Color());
          break;
        case TButtonState::pressed:
          fill(ColorDown());
          break;
        case TButtonState::exclusive:
          fill(hot_ ? ColorFocused() : ColorDown());
          break;
        case TButtonState::up:
          fill(hot_ ? ColorFocused() : Color());
          break;
      }
      break;
    case TTransparentMode::tmAlways:
      DrawParentImage(Handle(), dc);
      break;
    case TTransparentMode::tmNotFocused:
      if (hot_)
        fill(state_ == TButtonState::pressed ? kWhiteColor : ColorFocused());
      else
        DrawParentImage(Handle(), dc);
      break;
  }
}

void TFlatButton::PaintBorder(HDC dc, const RECT& client) {
  if (state_ == TButtonState::disabled) {
    FrameRectColor(dc, client, ColorBorder());
  } else if (state_ == TButtonState::pressed || state_ == TButtonState::exclusive) {
    DrawFrame3D(dc, client, colorShadow_, 1, colorHighLight_);
  } else if (hot_) {
    DrawFrame3D(dc, client, colorHighLight_, 1, colorShadow_);
  } else if (default_) {
    FrameRectColor(dc, client, ColorBorder());
    RECT inner = client;
    InflateRect(&inner, -1, -1);
    FrameRectColor(dc, inner, ColorBorder());
  } else {
    FrameRectColor(dc, client, ColorBorder());
  }
}

void TFlatButton::PaintTo(HDC dc) {
  RECT client = {0, 0, ClientWidth(), ClientHeight()};
  HGDIOBJ oldFont = SelectObject(dc, ui::FontHandle(Font()));
  std::string caption = Caption();
  SettleState();
  LayOut(dc, client, caption);
  PaintFace(dc, client);
  PaintBorder(dc, client);
  if (glyph_) DrawGlyph(dc, glyphPos_.x, glyphPos_.y);
  if (!caption.empty()) {
    UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    if (state_ == TButtonState::disabled)
      DrawDisabledText(dc, caption, textBounds_, format);
    else
      DrawTextColor(dc, caption, textBounds_, format, Font().color);
  }
  SelectObject(dc, oldFont);
}

}  // namespace quillon::flatctl
