// TFlatCheckBox: a check box drawn flat (an 11 x 11 box with a thin border and a six-line mark,
// the caption word-wrapped beside it). A click on the box or the caption toggles it; pressing,
// dragging off and releasing does not. Space and the caption's Alt+accelerator toggle it too;
// BM_GETCHECK and BM_SETCHECK answer as for a standard check box.
// Hover: one shared 100 ms timer for all flat check boxes (flat_utilitys.h).
// User-interface thread only.
#pragma once

#include <windows.h>

#include <string>

#include "flatctl/flat_utilitys.h"
#include "ui/control.h"

namespace quillon::flatctl {

enum class TCheckBoxLayout { checkboxLeft, checkboxRight };

class TFlatCheckBox : public ui::TWindowControl, public THoverClient {
 public:
  TFlatCheckBox(ui::TWindowControl* parent, std::string name, const std::string& caption, int left, int top,
                int width = 121, int height = 17);
  ~TFlatCheckBox() override;

  // Setting a new value raises OnClick.
  void SetChecked(bool value);
  bool Checked() const { return checked_; }
  void SetTransparent(bool value) { transparent_ = value, Invalidate(); }
  bool Transparent() const { return transparent_; }
  void SetLayout(TCheckBoxLayout layout) { layout_ = layout, Invalidate(); }
  TCheckBoxLayout Layout() const { return layout_; }
  // Right-to-left reading order puts the box on the right (Layout becomes checkboxRight).
  void SetRightToLeft(bool value) {
    rightToLeft_ = value;
    if (value) SetLayout(TCheckBoxLayout::checkboxRight);
  }
  bool RightToLeft() const { return rightToLeft_; }

  void SetColorFocused(TColorRef c) { colorFocused_ = c, Invalidate(); }
  void SetColorDown(TColorRef c) { colorDown_ = c, Invalidate(); }
  void SetColorCheck(TColorRef c) { colorCheck_ = c, Invalidate(); }
  void SetColorBorder(TColorRef c) { colorBorder_ = c, Invalidate(); }
  TColorRef ColorFocused() const;
  TColorRef ColorDown() const;
  TColorRef ColorCheck() const { return colorCheck_; }
  TColorRef ColorBorder() const;
  void SetAdvColorFocused(int percent) { advColorFocused_ = percent, Invalidate(); }
  void SetAdvColorDown(int percent) { advColorDown_ = percent, Invalidate(); }
  void SetAdvColorBorder(int percent) { advColorBorder_ = percent, Invalidate(); }
  void SetUseAdvColors(bool value);

  void SetCaption(const std::string& text) override;

  bool Hot() const { return hot_; }
  bool Pressed() const { return pressed_; }
  // The box in client coordinates.
  RECT BoxRect() const;

  // THoverClient
  HWND HoverHandle() const override { return Handle(); }
  void HoverLeft() override;

  void PaintTo(HDC dc);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void MouseMoved(int x, int y);
  void LeftButtonUp();
  bool DialogChar(char key);
  void Redraw();

  bool checked_ = false;
  bool transparent_ = false;
  TCheckBoxLayout layout_ = TCheckBoxLayout::checkboxLeft;
  bool rightToLeft_ = false;
  TColorRef colorFocused_ = kWhiteColor;
  TColorRef colorDown_ = kFlatDownColor;
  TColorRef colorCheck_ = kBlackColor;
  TColorRef colorBorder_ = kFlatBorderColor;
  int advColorFocused_ = 10;
  int advColorDown_ = 10;
  int advColorBorder_ = 50;
  bool useAdvColors_ = false;
  bool hot_ = false;
  bool focused_ = false;
  bool pressed_ = false;
};

}  // namespace quillon::flatctl
