// TFlatButton: a push button with a flat face, a thin border, a highlight while the mouse is over
// it or it has the focus, an optional glyph strip, and grouping (buttons of one GroupIndex under
// one parent behave as radio buttons, AllowAllUp letting the down one be released).
//
// Its window is one of our own class; it paints everything itself into a client-sized bitmap.
// Mouse: pressing captures the mouse; a release inside clicks, a release outside does not.
// Keyboard: Space presses and releases, the caption's Alt+accelerator clicks, BM_CLICK clicks.
// Hover: one shared 100 ms timer tracks the one button under the mouse (flat_utilitys.h).
// User-interface thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "flatctl/button_layout.h"
#include "flatctl/flat_utilitys.h"
#include "ui/control.h"

namespace quillon::flatctl {

enum class TTransparentMode { tmAlways, tmNotFocused, tmNone };

// A grouped button going down tells its siblings (wParam = GroupIndex, lParam = the button).
inline constexpr UINT kButtonPressedMessage = 0xB018;

using TMouseHandler = std::function<void(ui::TOwnedObject& sender, UINT keys, int x, int y)>;

class TFlatButton : public ui::TWindowControl, public THoverClient {
 public:
  enum class TButtonState { up, disabled, pressed, exclusive };

  // A new button is 25 x 25 unless given another size.
  TFlatButton(ui::TWindowControl* parent, std::string name, const std::string& caption, int left, int top,
              int width = 25, int height = 25);
  ~TFlatButton() override;

  void SetTransparentMode(TTransparentMode mode);
  TTransparentMode TransparentMode() const { return transparentMode_; }
  void SetDefault(bool value);
  bool Default() const { return default_; }
  void SetAllowAllUp(bool value);
  bool AllowAllUp() const { return allowAllUp_; }
  void SetGroupIndex(int value);
  int GroupIndex() const { return groupIndex_; }
  void SetDown(bool value);
  bool Down() const { return down_; }

  // Color / ParentColor are the control's own (ui::TWindowControl); these are the secondary colours,
  // derived from Color while UseAdvColors is on.
  void SetColorFocused(TColorRef c) { colorFocused_ = c, Invalidate(); }
  void SetColorDown(TColorRef c) { colorDown_ = c, Invalidate(); }
  void SetColorBorder(TColorRef c) { colorBorder_ = c, Invalidate(); }
  void SetColorHighLight(TColorRef c) { colorHighLight_ = c, Invalidate(); }
  void SetColorShadow(TColorRef c) { colorShadow_ = c, Invalidate(); }
  TColorRef ColorFocused() const;
  TColorRef ColorDown() const;
  TColorRef ColorBorder() const;
  TColorRef ColorHighLight() const { return colorHighLight_; }
  TColorRef ColorShadow() const { return colorShadow_; }
  void SetAdvColorFocused(int percent) { advColorFocused_ = percent, Invalidate(); }
  void SetAdvColorDown(int percent) { advColorDown_ = percent, Invalidate(); }
  void SetAdvColorBorder(int percent) { advColorBorder_ = percent, Invalidate(); }
  void SetUseAdvColors(bool value);
  bool UseAdvColors() const { return useAdvColors_; }

  // The bitmap is copied. A strip whose width is a multiple of its height sets NumGlyphs to the
  // number of square cells (1 when more than 4).
  void SetGlyph(HBITMAP glyph);
  HBITMAP Glyph() const { return glyph_; }
  void SetNumGlyphs(int value);
  int NumGlyphs() const { return numGlyphs_; }
  void SetLayout(TButtonLayout layout) { layout_ = layout, Invalidate(); }
  TButtonLayout Layout() const { return layout_; }
  void SetMargin(int value);  // -1 centres; below -1 is ignored
  int Margin() const { return margin_; }
  void SetSpacing(int value) { spacing_ = value, Invalidate(); }  // -1 spreads
  int Spacing() const { return spacing_; }
  int ModalResult = 0;

  void SetCaption(const std::string& text) override;

  TButtonState State() const { return state_; }
  bool Hot() const { return hot_; }
  bool Dragging() const { return dragging_; }
  // The glyph position and text rectangle of the last layout (client coordinates).
  POINT GlyphPos() const { return glyphPos_; }
  RECT TextBounds() const { return textBounds_; }

  ui::TEventHandler OnDblClick;
  TMouseHandler OnMouseDown;
  TMouseHandler OnMouseMove;
  TMouseHandler OnMouseUp;
  ui::TEventHandler OnMouseEnter;
  ui::TEventHandler OnMouseLeave;

  // THoverClient
  HWND HoverHandle() const override { return Handle(); }
  void HoverLeft() override;

  // Paints the button as it is now into dc (client coordinates).
  void PaintTo(HDC dc);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void MouseEnter();
  void MouseLeave();
  void ButtonClick();
  void Repaint();
  bool Inside(int x, int y) const;
  void BroadcastPressed();
  void ReevaluateHover();
  void DrawGlyph(HDC dc, int x, int y);
  bool DialogChar(char key);
  void MouseMoved(WPARAM keys, int x, int y);
  void LeftButtonDown(bool doubleClick, WPARAM keys, int x, int y);
  void LeftButtonUp(WPARAM keys, int x, int y);
  void SpaceKey(bool pressed);
  void EnabledChanged(bool enabled);
  void GroupMemberPressed(const TFlatButton& sender);
  void SettleState();
  void LayOut(HDC dc, const RECT& client, const std::string& caption);
  void PaintFace(HDC dc, const RECT& client);
  void PaintBorder(HDC dc, const RECT& client);

  TTransparentMode transparentMode_ = TTransparentMode::tmNone;
  bool default_ = false;
  bool allowAllUp_ = false;
  int groupIndex_ = 0;
  bool down_ = false;
  TColorRef colorFocused_ = kFlatFaceColor;
  TColorRef colorDown_ = kFlatDownColor;
  TColorRef colorBorder_ = kFlatBorderColor;
  TColorRef colorHighLight_ = kWhiteColor;
  TColorRef colorShadow_ = kBlackColor;
  int advColorFocused_ = 10;
  int advColorDown_ = 10;
  int advColorBorder_ = 50;
  bool useAdvColors_ = false;
  HBITMAP glyph_ = nullptr;
  int numGlyphs_ = 1;
  TButtonLayout layout_ = TButtonLayout::blGlyphTop;
  int margin_ = -1;
  int spacing_ = 4;

  TButtonState state_ = TButtonState::up;
  bool hot_ = false;
  bool dragging_ = false;
  POINT glyphPos_ = {0, 0};
  RECT textBounds_ = {0, 0, 0, 0};
};

}  // namespace quillon::flatctl
