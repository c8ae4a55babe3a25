// TFlatEdit and TFlatMemo: the standard single-line and multi-line edit controls (keyboard,
// clipboard, selection, focus and accessibility are the system's own) with a flat three-pixel
// frame: a one-pixel border and two inner lines in the face colour, both turning to ColorFocused
// while the control is highlighted. A flat edit fits its height to its font.
//
// Highlighted means: focused, or the mouse is over it while the focused control is not a flat
// edit (for a memo: not a flat memo), so tabbing highlights only the focused edit.
// User-interface thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "flatctl/flat_utilitys.h"
#include "ui/control.h"

namespace quillon::flatctl {

class TCustomFlatEdit : public ui::TWindowControl {
 public:
  std::string Text() const { return Caption(); }
  void SetText(const std::string& text) { SetCaption(text); }
  void SetReadOnly(bool value);
  bool ReadOnly() const;

  void SetColorFocused(TColorRef c);
  void SetColorBorder(TColorRef c);
  // Setting ColorFlat turns ParentColor off.
  void SetColorFlat(TColorRef c);
  TColorRef ColorFocused() const;
  TColorRef ColorBorder() const;
  TColorRef ColorFlat() const;
  // The edit's own flag (it hides the class library's): while true, ColorFlat is the parent's
  // colour.
  void SetParentColor(bool value);
  bool ParentColor() const { return parentColor_; }
  void SetAdvColorFocused(int percent);
  void SetAdvColorBorder(int percent);
  // Derived colours: ColorFocused lighter and ColorBorder darker than ColorFlat. Also sets
  // ParentColor to the same value.
  void SetUseAdvColors(bool value);
  bool UseAdvColors() const { return useAdvColors_; }

  bool Hot() const { return hot_; }
  bool Highlighted() const;
  // Draws the frame on the whole window and sets the client colour to match the highlight.
  void RedrawBorder();

  ui::TEventHandler OnChange;
  std::function<void(ui::TOwnedObject& sender, WORD& key)> OnKeyDown;

 protected:
  TCustomFlatEdit(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height, DWORD style,
                  bool fitHeight);
  // Whether the focused control keeps the mouse from highlighting this one.
  virtual bool HoverSuppressedBy(const ui::TWindowControl* focused) const = 0;
  // Drawn on the whole-window surface after the frame.
  virtual void DrawMoreBorder(HDC, TColorRef /*innerColor*/) {}
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  HBRUSH ControlColor(HDC dc) override;
  void FontChanged() override;

 private:
  void FitHeight();

  TColorRef colorFocused_ = kWhiteColor;
  TColorRef colorBorder_ = kFlatBorderColor;
  TColorRef colorFlat_ = kFlatFaceColor;
  bool parentColor_ = true;
  int advColorFocused_ = 10;
  int advColorBorder_ = 50;
  bool useAdvColors_ = false;
  bool fitHeight_;
  bool hot_ = false;
  TColorRef shown_ = kFlatFaceColor;  // the client colour now: ColorFlat or ColorFocused
};

class TFlatEdit : public TCustomFlatEdit {
 public:
  // 121 x 19 unless given another size; the height follows the font (text height + 6).
  TFlatEdit(ui::TWindowControl* parent, std::string name, int left, int top, int width = 121, int height = 19);

 protected:
  bool HoverSuppressedBy(const ui::TWindowControl* focused) const override;
};

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

struct TFlatMemoStyle {
  TScrollStyle scrollBars = TScrollStyle::ssNone;
  bool wordWrap = true;
  bool readOnly = false;
};

class TFlatMemo : public TCustomFlatEdit {
 public:
  TFlatMemo(ui::TWindowControl* parent, std::string name, int left, int top, int width = 185, int height = 89,
            TFlatMemoStyle style = {});
  void SetLines(const std::vector<std::string>& lines);
  std::vector<std::string> Lines() const;
  TScrollStyle ScrollBars() const { return scrollBars_; }

 protected:
  bool HoverSuppressedBy(const ui::TWindowControl* focused) const override;
  void DrawMoreBorder(HDC dc, TColorRef innerColor) override;

 private:
  TScrollStyle scrollBars_;
};

}  // namespace quillon::flatctl
