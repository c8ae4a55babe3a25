// TFlatGroupBox: a frame with a caption that holds other controls, drawn flat: a one-pixel border
// in ColorBorder whose top line is left open behind the caption (or only the top line).
// User-interface thread only.
#pragma once

#include <windows.h>

#include <string>

#include "flatctl/flat_utilitys.h"
#include "ui/control.h"

namespace quillon::flatctl {

enum class TGroupBoxBorder { brFull, brOnlyTopLine };

class TFlatGroupBox : public ui::TWindowControl {
 public:
  // 185 x 105 unless given another size.
  TFlatGroupBox(ui::TWindowControl* parent, std::string name, const std::string& caption, int left, int top,
                int width = 185, int height = 105);

  void SetTransparent(bool value) { transparent_ = value, Invalidate(); }
  bool Transparent() const { return transparent_; }
  void SetBorder(TGroupBoxBorder border) { border_ = border, Invalidate(); }
  TGroupBoxBorder Border() const { return border_; }
  void SetColorBorder(TColorRef c) { colorBorder_ = c, Invalidate(); }
  TColorRef ColorBorder() const;
  void SetAdvColorBorder(int percent) { advColorBorder_ = percent, Invalidate(); }
  void SetUseAdvColors(bool value);
  // Right-to-left reading order mirrors the caption and the gap it leaves in the border.
  void SetRightToLeft(bool value) { rightToLeft_ = value, Invalidate(); }
  bool RightToLeft() const { return rightToLeft_; }

  void SetCaption(const std::string& text) override;
  // The caption's extent in the control's font.
  SIZE CaptionSize() const;

  void PaintTo(HDC dc);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  bool transparent_ = false;
  TGroupBoxBorder border_ = TGroupBoxBorder::brFull;
  TColorRef colorBorder_ = kFlatBorderColor;
  int advColorBorder_ = 50;
  bool useAdvColors_ = false;
  bool rightToLeft_ = false;
};

}  // namespace quillon::flatctl
