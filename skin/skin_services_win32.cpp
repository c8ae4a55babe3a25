// The Windows backends: GDI text drawn straight into the bitmap's DIB section, window messages
// and frames through user32 and GDI, the error box through the class library's dialogs (so tests
// can record it), and wave playback from memory.
#include <windows.h>

#include <mmsystem.h>
#include <map>
#include <tuple>

#include "skin/skin_services.h"
#include "ui/dialogs.h"

namespace quillon::skin {

namespace {

HDC PlatformDc(const TOmbraRGB& bitmap) {
  return static_cast<HDC>(MemoryDc(bitmap));
}

// One font handle per distinct font, kept until the process ends.
HFONT FontFor(const TSkinFontSpec& font) {
  static std::map<std::tuple<std::string, int, bool, bool>, HFONT> fonts;
  const auto key = std::make_tuple(font.name, font.size, font.bold, font.italic);
  auto it = fonts.find(key);
  if (it != fonts.end()) return it->second;
  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(font.size, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  HFONT handle = CreateFontA(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, font.italic, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, font.name.c_str());
  fonts.emplace(key, handle);
  return handle;
}

class GdiTextRenderer : public TSkinTextRenderer {
 public:
  int TextWidth(const TSkinFontSpec& font, const std::string& text) override {
    if (text.empty()) return 0;
    if (!measure_) measure_ = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(measure_, FontFor(font));
    RECT r{0, 0, 0, 0};
    DrawTextA(measure_, text.c_str(), static_cast<int>(text.size()), &r, DT_SINGLELINE | DT_CALCRECT);
    SelectObject(measure_, old);
    return r.right - r.left;
  }
  void PaintText(TOmbraBmp& canvas, const TSkinRect& r, const std::string& text, const TSkinFontSpec& font,
                 TSkinColor color, int textAlign) override {
    if (text.empty()) return;
    HDC dc = PlatformDc(canvas);
    if (!dc) return;
    static constexpr UINT kHorizontal[3] = {DT_LEFT, DT_CENTER, DT_RIGHT};
    static constexpr UINT kVertical[3] = {DT_TOP, DT_VCENTER, DT_BOTTOM};
    const int column = textAlign >= 0 && textAlign <= 8 ? textAlign % 3 : 1;
    const int row = textAlign >= 0 && textAlign <= 8 ? textAlign / 3 : 1;
    HGDIOBJ old = SelectObject(dc, FontFor(font));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    RECT rect{r.left, r.top, r.right, r.bottom};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_SINGLELINE | DT_NOCLIP | kHorizontal[column] | kVertical[row]);
    SelectObject(dc, old);
    GdiFlush();  // the pixel operations read the memory right after
  }

 private:
  HDC measure_ = nullptr;
};

class UserWindowServices : public TSkinWindowServices {
 public:
  void PostWindowMessage(TSkinWindow window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    PostMessageA(reinterpret_cast<HWND>(window), message, wParam, lParam);
  }
  bool IsMaximized(TSkinWindow window) override { return IsZoomed(reinterpret_cast<HWND>(window)) != FALSE; }
  void ShowError(const std::string& text) override { ui::UserDialogs().ShowInfo(text); }
  bool DrawFrame(TSkinWindow window, const TOmbraBmp& frame, int x, int y, bool transparent, TSkinColor key) override {
    HWND handle = reinterpret_cast<HWND>(window);
    HDC dc = GetWindowDC(handle);
    if (!dc) return false;
    IntersectClipRect(dc, x, y, x + frame.Width(), y + frame.Height());
    HDC source = PlatformDc(frame);
    if (source) {
      if (transparent)
        GdiTransparentBlt(dc, x, y, frame.Width(), frame.Height(), source, 0, 0, frame.Width(), frame.Height(), key);
      else
        BitBlt(dc, x, y, frame.Width(), frame.Height(), source, 0, 0, SRCCOPY);
    }
    ReleaseDC(handle, dc);
    return true;
  }
  void SleepMs(unsigned ms) override { Sleep(ms); }
};

class WaveSoundPlayer : public TSkinSoundPlayer {
 public:
  void Play(const std::string& waveBytes) override {
    PlaySoundA(waveBytes.data(), nullptr, SND_ASYNC | SND_MEMORY | SND_NODEFAULT);
  }
  void Stop() override { PlaySoundA(nullptr, nullptr, 0); }
};

}  // namespace

TSkinTextRenderer& DefaultSkinTextRenderer() {
  static GdiTextRenderer r;
  return r;
}
TSkinWindowServices& DefaultSkinWindowServices() {
  static UserWindowServices s;
  return s;
}
TSkinSoundPlayer& DefaultSkinSoundPlayer() {
  static WaveSoundPlayer p;
  return p;
}

}  // namespace quillon::skin
