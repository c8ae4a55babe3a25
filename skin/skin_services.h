// The seams between the skin objects and the platform: text, window messages, message boxes,
// frame drawing and sound. The Windows build installs GDI and user32 backends by default
// (skin_services_win32.cpp); the portable build has quiet backends (skin_services_posix.cpp) and
// tests install recording ones. A backend is borrowed: whoever installs one keeps it alive until
// it installs the previous one again.
#pragma once

#include <cstdint>
#include <string>

#include "skin/ombra_bmp.h"

namespace quillon::skin {

struct TSkinFontSpec {
  std::string name = "Arial";
  int size = 8;  // points
  bool bold = false;
  bool italic = false;
};

// Single-line text without background; "&" underlines the next character and "&&" shows "&".
class TSkinTextRenderer {
 public:
  virtual ~TSkinTextRenderer() = default;
  virtual int TextWidth(const TSkinFontSpec& font, const std::string& text) = 0;
  // textAlign: 0 top-left ... 8 bottom-right, any other value middle-centre.
  virtual void PaintText(TOmbraBmp& canvas, const TSkinRect& r, const std::string& text, const TSkinFontSpec& font,
                         TSkinColor color, int textAlign) = 0;
};

using TSkinWindow = std::uintptr_t;  // a window handle; 0 for none

class TSkinWindowServices {
 public:
  virtual ~TSkinWindowServices() = default;
  virtual void PostWindowMessage(TSkinWindow window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  virtual bool IsMaximized(TSkinWindow window) = 0;
  // A modal error box with one OK button.
  virtual void ShowError(const std::string& text) = 0;
  // Draws frame onto the whole window (frame included) at (x, y), clipped to (x, y, w, h) of
  // the frame's size, leaving out key when transparent; false when the window has no drawing
  // context.
  virtual bool DrawFrame(TSkinWindow window, const TOmbraBmp& frame, int x, int y, bool transparent,
                         TSkinColor key) = 0;
  virtual void SleepMs(unsigned ms) = 0;
};

// Plays a complete wave file held in memory, asynchronously; a new sound replaces the one playing.
class TSkinSoundPlayer {
 public:
  virtual ~TSkinSoundPlayer() = default;
  virtual void Play(const std::string& waveBytes) = 0;
  virtual void Stop() = 0;
};

TSkinTextRenderer& SkinTextRenderer();
TSkinWindowServices& SkinWindowServices();
TSkinSoundPlayer& SkinSoundPlayer();
// Each returns the backend it replaces; nullptr restores the default.
TSkinTextRenderer* SetSkinTextRenderer(TSkinTextRenderer* r);
TSkinWindowServices* SetSkinWindowServices(TSkinWindowServices* s);
TSkinSoundPlayer* SetSkinSoundPlayer(TSkinSoundPlayer* p);

// The portable text stand-in: every visible character is FontSize x 3 / 4 pixels wide (at least
// 1) and drawn as a filled cell. Used natively, where there is no font engine.
class TBlockTextRenderer : public TSkinTextRenderer {
 public:
  int TextWidth(const TSkinFontSpec& font, const std::string& text) override;
  void PaintText(TOmbraBmp& canvas, const TSkinRect& r, const std::string& text, const TSkinFontSpec& font,
                 TSkinColor color, int textAlign) override;
};

// The text as shown: "&x" shows x, "&&" shows "&".
std::string VisibleText(const std::string& text);

}  // namespace quillon::skin
