// TFlatComboBox: the standard combo box (keyboard, edit, list, selection and notifications are
// the system's own) painted flat: a thin border, a narrow arrow button of 11 pixels with a small
// triangle, a highlight strip reaching the button while focused, and a drop-down list exactly
// DropDownCount rows high. Every style: drop-down list (the default), drop-down with an edit, and
// simple (an edit over a list always shown, no button).
// User-interface thread only.
#pragma once

#include <windows.h>

#include <string>

#include "flatctl/flat_utilitys.h"
#include "ui/std_controls.h"

namespace quillon::flatctl {

class TFlatComboBox : public ui::TComboField {
 public:
  TFlatComboBox(ui::TWindowControl* parent, std::string name, int left, int top, int width,
                ui::TComboStyle style = ui::TComboStyle::csDropDownList, int height = 200);
  ~TFlatComboBox() override;

  // Color / ParentColor are the control's own (ui::TWindowControl); the default face is (235, 234, 225).
  void SetColorArrow(TColorRef c) { colorArrow_ = c, Invalidate(); }
  void SetColorArrowBackground(TColorRef c) { colorArrowBackground_ = c, Invalidate(); }
  void SetColorBorder(TColorRef c) { colorBorder_ = c, Invalidate(); }
  TColorRef ColorArrow() const { return colorArrow_; }
  TColorRef ColorArrowBackground() const;
  TColorRef ColorBorder() const;
  void SetAdvColorBorder(int percent) { advColorBorder_ = percent, Invalidate(); }
  void SetAdvColorArrowBackground(int percent) { advColorArrowBackground_ = percent, Invalidate(); }
  void SetUseAdvColors(bool value) { useAdvColors_ = value, Invalidate(); }
  bool UseAdvColors() const { return useAdvColors_; }
  void SetDropDownCount(int count) { dropDownCount_ = count; }
  int DropDownCount() const { return dropDownCount_; }
  int ItemHeight() const { return itemHeight_; }

  bool DroppedDown() const;
  // Open or close the list as the arrow button does.
  void SetDroppedDown(bool value);
  HWND ListHandle() const { return list_; }
  // The edit of the editable styles, nullptr for a drop-down list.
  HWND EditHandle() const { return edit_; }
  // The height the drop-down list is given: rows for min(DropDownCount, items) plus 4.
  int ListHeight() const;

  // Paints the control as it is now into dc (client coordinates); the standard content is left out.
  void PaintFrame(HDC dc);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  HBRUSH ControlColor(HDC dc) override;
  void FontChanged() override;

 private:
  static LRESULT CALLBACK ListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam);
  int RowHeight() const;
  void FitEdit();
  void DrawSelectionStrip(HDC dc);
  void DrawBorderAndButton(HDC dc);

  TColorRef colorArrow_ = kBlackColor;
  TColorRef colorArrowBackground_ = kFlatDownColor;
  TColorRef colorBorder_ = kFlatBorderColor;
  int advColorBorder_ = 50;
  int advColorArrowBackground_ = 10;
  bool useAdvColors_ = false;
  int dropDownCount_ = 8;
  int itemHeight_ = 13;
  HWND list_ = nullptr;
  HWND edit_ = nullptr;
  WNDPROC listOldProc_ = nullptr;
};

}  // namespace quillon::flatctl
