// Shared drawing and hover tracking of the flat controls (see flat_utilitys.h).
#include "flatctl/flat_utilitys.h"

namespace quillon::flatctl {

TColorRef Lighter(TColorRef color, int percent) {
  return AdjustLuminance(color, percent, true);
}

TColorRef Darker(TColorRef color, int percent) {
  return AdjustLuminance(color, percent, false);
}

void DrawFrame3D(HDC dc, RECT rect, TColorRef topLeft, int width, TColorRef bottomRight) {
  HPEN light = CreatePen(PS_SOLID, 1, topLeft);
  HPEN dark = CreatePen(PS_SOLID, 1, bottomRight);
  HGDIOBJ oldPen = SelectObject(dc, light);
  --rect.right;
  --rect.bottom;
  for (int i = 0; i < width; ++i) {
    SelectObject(dc, light);
    POINT tl[] = {{rect.left, rect.bottom}, {rect.left, rect.top}, {rect.right, rect.top}};
    Polyline(dc, tl, 3);
    SelectObject(dc, dark);
    POINT br[] = {{rect.right, rect.top}, {rect.right, rect.bottom}, {rect.left - 1, rect.bottom}};
    Polyline(dc, br, 3);
    InflateRect(&rect, -1, -1);
  }
  SelectObject(dc, oldPen);
  DeleteObject(light);
  DeleteObject(dark);
}

void FrameRectColor(HDC dc, const RECT& rect, TColorRef color) {
  FrameRect(dc, &rect, ui::BrushHandle(color));
}

void DrawParentImage(HWND control, HDC dc) {
  HWND parent = GetParent(control);
  if (!parent) return;
  RECT inParent;
  GetWindowRect(control, &inParent);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&inParent), 2);
  RECT parentClient;
  GetClientRect(parent, &parentClient);
  int saved = SaveDC(dc);
  POINT origin;
  OffsetWindowOrgEx(dc, inParent.left, inParent.top, &origin);
  IntersectClipRect(dc, parentClient.left, parentClient.top, parentClient.right, parentClient.bottom);
  SendMessageA(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  SendMessageA(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  RestoreDC(dc, saved);
}

void DrawTextColor(HDC dc, const std::string& text, RECT rect, UINT format, TColorRef color) {
  int oldMode = SetBkMode(dc, TRANSPARENT);
  COLORREF oldColor = SetTextColor(dc, color);
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
  SetTextColor(dc, oldColor);
  SetBkMode(dc, oldMode);
}

void DrawDisabledText(HDC dc, const std::string& text, RECT rect, UINT format) {
  RECT shifted = rect;
  OffsetRect(&shifted, 1, 1);
  DrawTextColor(dc, text, shifted, format, GetSysColor(COLOR_BTNHIGHLIGHT));
  DrawTextColor(dc, text, rect, format, GetSysColor(COLOR_BTNSHADOW));
}

void THoverTracker::Register() {
  if (users_++ == 0) {
    timer_ = std::make_unique<ui::TIntervalTimer>("HoverTimer");
    timer_->SetInterval(100);
    timer_->OnTimer = [this](ui::TOwnedObject&) { Tick(); };
  }
}

void THoverTracker::Unregister(THoverClient* client) {
  Forget(client);
  if (--users_ == 0) timer_.reset();
}

void THoverTracker::Track(THoverClient* client) {
  tracked_ = client;
  if (!timer_) return;
  timer_->SetEnabled(false);
  timer_->SetEnabled(true);
}

void THoverTracker::Stop() {
  if (timer_) timer_->SetEnabled(false);
}

void THoverTracker::Forget(THoverClient* client) {
  if (tracked_ != client) return;
  tracked_ = nullptr;
  Stop();
}

void THoverTracker::Handover(THoverClient* client) {
  if (THoverClient* other = tracked_) {
    Forget(other);
    other->HoverLeft();
  }
  if (client) Track(client);
}

bool THoverTracker::Enter(THoverClient* client) {
  const bool active = ApplicationActive();
  Handover(active ? client : nullptr);
  return active;
}

void THoverTracker::Tick() {
  if (!tracked_) {
    Stop();
    return;
  }
  POINT cursor;
  GetCursorPos(&cursor);
  if (WindowFromPoint(cursor) != tracked_->HoverHandle()) tracked_->HoverLeft();
}

bool ApplicationActive() {
  return GetActiveWindow() != nullptr;
}

TOffscreen::TOffscreen(HDC target, int width, int height) : width_(width), height_(height) {
  dc_ = CreateCompatibleDC(target);
  bitmap_ = CreateCompatibleBitmap(target, width > 0 ? width : 1, height > 0 ? height : 1);
  old_ = SelectObject(dc_, bitmap_);
}

TOffscreen::~TOffscreen() {
  SelectObject(dc_, old_);
  DeleteObject(bitmap_);
  DeleteDC(dc_);
}

void TOffscreen::CopyTo(HDC target) const {
  BitBlt(target, 0, 0, width_, height_, dc_, 0, 0, SRCCOPY);
}

}  // namespace quillon::flatctl
