// What the flat controls share: the default colours, the 3D frame, drawing the parent's image
// behind a see-through control, the disabled-text rule, and the hover tracking by timer that the
// flat button and the flat check box use (one timer per control class, one tracked control).
//
// User-interface thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "flatctl/hsl_utils.h"
#include "ui/control.h"
#include "ui/std_controls.h"

namespace quillon::flatctl {

using ui::TColorRef;

inline constexpr TColorRef kFlatFaceColor = RGB(235, 234, 225);
inline constexpr TColorRef kFlatBorderColor = RGB(160, 150, 131);
inline constexpr TColorRef kFlatDownColor = RGB(217, 214, 197);
inline constexpr TColorRef kWhiteColor = RGB(255, 255, 255);
inline constexpr TColorRef kBlackColor = RGB(0, 0, 0);

// AdjustLuminance on Windows colours.
TColorRef Lighter(TColorRef color, int percent);
TColorRef Darker(TColorRef color, int percent);

// A frame of `width` pixels: left and top edges in topLeft, right and bottom edges in bottomRight,
// drawn with one-pixel lines; the rectangle shrinks by one on every side per pixel of width.
void DrawFrame3D(HDC dc, RECT rect, TColorRef topLeft, int width, TColorRef bottomRight);
// A one-pixel frame in a colour.
void FrameRectColor(HDC dc, const RECT& rect, TColorRef color);
// Paints what the parent shows under the control onto dc (in the control's client coordinates).
void DrawParentImage(HWND control, HDC dc);
// Text of a disabled control: in the button-highlight colour one pixel down and right, then in the
// button-shadow colour in place. Keeps the DC's text colour and background mode.
void DrawDisabledText(HDC dc, const std::string& text, RECT rect, UINT format);
// Plain text in a colour with a transparent background.
void DrawTextColor(HDC dc, const std::string& text, RECT rect, UINT format, TColorRef color);

// A control that a hover tracker can make leave.
class THoverClient {
 public:
  virtual ~THoverClient() = default;
  virtual HWND HoverHandle() const = 0;
  // The cursor is no longer over the tracked control.
  virtual void HoverLeft() = 0;
};

// One timer of 100 ms for all the controls of one class: it checks, while one of them is tracked,
// whether the cursor is still over it. The timer lives from the first client registered to the
// last one gone.
class THoverTracker {
 public:
  void Register();
  void Unregister(THoverClient* client);
  THoverClient* Tracked() const { return tracked_; }
  // Starts (or restarts) the timer for client.
  void Track(THoverClient* client);
  void Stop();
  // Forgets client when it is the tracked one, and stops the timer then.
  void Forget(THoverClient* client);
  // The mouse came onto client: the one lit before is told the mouse left it, and client is
  // tracked while the program is active. True when client is now the tracked one.
  bool Enter(THoverClient* client);
  // The one lit before is told the mouse left it, and client (if any) is tracked.
  void Handover(THoverClient* client);
  bool Running() const { return timer_ && timer_->Enabled(); }

 private:
  void Tick();
  int users_ = 0;
  THoverClient* tracked_ = nullptr;
  std::unique_ptr<ui::TIntervalTimer> timer_;
};

// True while the program has an active window (the mouse highlight waits for one).
bool ApplicationActive();

// A memory bitmap of a control's client size: everything is drawn into it, then copied at once.
class TOffscreen {
 public:
  TOffscreen(HDC target, int width, int height);
  ~TOffscreen();
  TOffscreen(const TOffscreen&) = delete;
  TOffscreen& operator=(const TOffscreen&) = delete;
  HDC Dc() const { return dc_; }
  void CopyTo(HDC target) const;

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  int width_, height_;
};

// Answers WM_PAINT through an offscreen bitmap, so the control never flickers through a half-drawn face.
template <class TPaint>
void PaintOffscreen(HWND window, int width, int height, TPaint&& paint) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  {
    TOffscreen off(dc, width, height);
    paint(off.Dc());
    off.CopyTo(dc);
  }
  EndPaint(window, &ps);
}

}  // namespace quillon::flatctl
