// The flat group box (see flat_group_box.h).
#include "flatctl/flat_group_box.h"

namespace quillon::flatctl {

TFlatGroupBox::TFlatGroupBox(ui::TWindowControl* parent, std::string name, const std::string& caption, int left,
                             int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, caption, left, top, width, height);
}

TColorRef TFlatGroupBox::ColorBorder() const {
  return useAdvColors_ ? Darker(Color(), advColorBorder_) : colorBorder_;
}

void TFlatGroupBox::SetUseAdvColors(bool value) {
  useAdvColors_ = value;
  SetParentColor(value);
  Invalidate();
}

void TFlatGroupBox::SetCaption(const std::string& text) {
  TWindowControl::SetCaption(text);
  Invalidate();
}

SIZE TFlatGroupBox::CaptionSize() const {
  std::string caption = Caption();
  HDC dc = GetDC(Handle());
  HGDIOBJ old = SelectObject(dc, ui::FontHandle(Font()));
  SIZE size = {0, 0};
  GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
  if (caption.empty()) {
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    size.cy = tm.tmHeight;
  }
  SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  return size;
}

LRESULT TFlatGroupBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintOffscreen(Handle(), ClientWidth(), ClientHeight(), [this](HDC dc) { PaintTo(dc); });
      return 0;
    case WM_PRINTCLIENT:
      PaintTo(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ENABLE:
      Invalidate();
      break;
    case WM_WINDOWPOSCHANGED:
      if (transparent_) Invalidate();
      break;
    case ui::kDialogCharMessage:
      if (Enabled() && IsWindowVisible(Handle()) && ui::IsAccelerator(static_cast<char>(wParam), Caption())) {
        SetFocus();
        return 1;
      }
      return 0;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

void TFlatGroupBox::PaintTo(HDC dc) {
  int W = ClientWidth(), H = ClientHeight();
  RECT client = {0, 0, W, H};
  if (transparent_)
    DrawParentImage(Handle(), dc);
  else
    FillRect(dc, &client, ui::BrushHandle(Color()));

  SIZE caption = CaptionSize();
  int w = caption.cx, h = caption.cy, m = h / 2;
  HPEN pen = CreatePen(PS_SOLID, 1, ColorBorder());
  HGDIOBJ oldPen = SelectObject(dc, pen);
  if (border_ == TGroupBoxBorder::brFull) {
    POINT outline[] = {{5, m}, {0, m}, {0, H - 1}, {W - 1, H - 1}, {W - 1, m}, {w + 12, m}};
    POINT mirrored[] = {{W - w - 15, m}, {0, m}, {0, H - 1}, {W - 1, H - 1}, {W - 1, m}, {W - 7, m}};
    Polyline(dc, rightToLeft_ ? mirrored : outline, 6);
  } else if (!rightToLeft_) {
    MoveToEx(dc, 5, m, nullptr);
    LineTo(dc, 0, m);
    MoveToEx(dc, W - 1, m, nullptr);
    LineTo(dc, w + 12, m);
  } else {
    MoveToEx(dc, W - 5, m, nullptr);
    LineTo(dc, W, m);
    MoveToEx(dc, 1, m, nullptr);
    LineTo(dc, W - w - 12, m);
  }
  SelectObject(dc, oldPen);
  DeleteObject(pen);

  HGDIOBJ oldFont = SelectObject(dc, ui::FontHandle(Font()));
  RECT text = {10, 0, W - 10, h};
  UINT format = (rightToLeft_ ? DT_RIGHT : DT_LEFT) | DT_SINGLELINE;
  if (Enabled())
    DrawTextColor(dc, Caption(), text, format, Font().color);
  else
    DrawDisabledText(dc, Caption(), text, format);
  SelectObject(dc, oldFont);
}

}  // namespace quillon::flatctl
