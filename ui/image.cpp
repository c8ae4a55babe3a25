// Stretched drawing of a picture (see image.h).
#include "ui/image.h"

namespace quillon::ui {

TPictureBox::TPictureBox(TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE, 0, "", left, top, width, height);
}

void TPictureBox::SetPicture(TPictureData picture) {
  picture_ = std::move(picture);
  Invalidate();
}

void TPictureBox::LoadJpegResource(const char* resourceName) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, resourceName, MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!found) throw EInvalidGraphic(std::string("Missing picture resource ") + resourceName);
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) throw EInvalidGraphic(std::string("Missing picture resource ") + resourceName);
  SetPicture(DecodeJpeg(data, SizeofResource(module, found)));
}

LRESULT TPictureBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      RECT r;
      GetClientRect(Handle(), &r);
      if (picture_.Empty()) {
        FillRect(dc, &r, BrushHandle(Color()));
      } else {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = picture_.width;
        info.bmiHeader.biHeight = -picture_.height;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchDIBits(dc, 0, 0, r.right, r.bottom, 0, 0, picture_.width, picture_.height, picture_.pixels.data(), &info,
                      DIB_RGB_COLORS, SRCCOPY);
      }
      EndPaint(Handle(), &ps);
      return 0;
    }
    case WM_LBUTTONUP:
      Click();
      return 0;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

}  // namespace quillon::ui
