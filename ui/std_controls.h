// The simple controls: panels, labels, buttons, edits, combo boxes, group boxes, shapes, progress
// bars, list boxes, rich edits, and timers. Each wraps one Win32 window class (or our own class for
// panels and shapes) and turns its notifications into named events.
#pragma once

#include <string>
#include <vector>

#include "ui/control.h"

namespace quillon::ui {

// A plain rectangle of its colour that holds other controls.
class TPanelBox : public TWindowControl {
 public:
  TPanelBox(TWindowControl* parent, std::string name, int left, int top, int width, int height);
};

class TTextLabel : public TWindowControl {
 public:
  TTextLabel(TWindowControl* parent, std::string name, const std::string& caption, int left, int top);
  // With AutoSize (the default) the label fits its text after every caption or font change.
  void SetCaption(const std::string& text) override;
  bool AutoSize = true;
  void SetAlignRight(bool right);

 protected:
  HBRUSH ControlColor(HDC dc) override;
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void FontChanged() override { Fit(); }

 private:
  void Fit();
};

class TPushButton : public TWindowControl {
 public:
  TPushButton(TWindowControl* parent, std::string name, const std::string& caption, int left, int top, int width,
              int height, bool isDefault = false);

 protected:
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

class TTextBox : public TWindowControl {
 public:
  TTextBox(TWindowControl* parent, std::string name, int left, int top, int width, int height);
  std::string Text() const { return Caption(); }
  void SetText(const std::string& text) { SetCaption(text); }
  TEventHandler OnChange;
  std::function<void(TOwnedObject& sender, WORD& key)> OnKeyDown;

 protected:
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  HBRUSH ControlColor(HDC dc) override;
};

// The kinds of combo box: an edit with a drop-down list, an edit with a list always shown, a
// drop-down list only (not editable).
enum class TComboStyle { csDropDown, csSimple, csDropDownList };

class TComboField : public TWindowControl {
 public:
  // A drop-down list (not editable).
  TComboField(TWindowControl* parent, std::string name, int left, int top, int width);
  // height: the whole window's, which for csSimple includes the list shown below the edit.
  TComboField(TWindowControl* parent, std::string name, int left, int top, int width, TComboStyle style,
              int height = 200);
  TComboStyle Style() const { return style_; }
  void Clear();
  void Add(const std::string& item);
  int Count() const;
  std::string Item(int index) const;
  // Index of the item equal to text without regard to case, or -1.
  int IndexOf(const std::string& text) const;
  int ItemIndex() const;
  void SetItemIndex(int index);  // -1 clears the selection
  // The selected item, empty when none; the edit's text for the editable styles.
  std::string Text() const;
  TEventHandler OnChange;

 protected:
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  HBRUSH ControlColor(HDC dc) override;

 private:
  TComboStyle style_ = TComboStyle::csDropDownList;
};

class TFrameBox : public TWindowControl {
 public:
  TFrameBox(TWindowControl* parent, std::string name, const std::string& caption, int left, int top, int width,
            int height);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

// A filled rectangle (a line when one side is 1 pixel).
class TShapeBox : public TWindowControl {
 public:
  TShapeBox(TWindowControl* parent, std::string name, int left, int top, int width, int height);
  void SetBrushColor(TColorRef color);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  TColorRef brush_ = kColorWhite;
};

class TProgressGauge : public TWindowControl {
 public:
  TProgressGauge(TWindowControl* parent, std::string name, int left, int top, int width, int height);
  void SetRange(int minimum, int maximum);
  void SetPosition(int position);
  int Position() const;
  void SetBarColor(TColorRef color);
};

struct TListBoxStyle {
  bool multiColumn = false;
  bool ownerDrawFixed = false;  // rows of ItemHeight, drawn as text in the list's font
  int itemHeight = 16;
  bool border = true;
};

// Clicking an item raises OnClick; from the keyboard the arrows only move the selection and
// Enter raises OnClick for the selected item.
class TItemList : public TWindowControl {
 public:
  TItemList(TWindowControl* parent, std::string name, int left, int top, int width, int height,
            TListBoxStyle style = {});
  void Clear();
  void Add(const std::string& item);
  void SetItems(const std::vector<std::string>& items);
  std::vector<std::string> Items() const;
  int Count() const;
  std::string Item(int index) const;
  // Index of the item equal to text without regard to case, or -1.
  int IndexOf(const std::string& text) const;
  int ItemIndex() const;
  void SetItemIndex(int index);
  // Multi-column lists: the client width is shared by this many columns.
  void SetColumns(int columns);
  int Columns() const { return columns_; }
  // Puts the items in order once (case-insensitive); later additions are not sorted.
  void Sort();
  // Items in the order Sort gives them, for a list filled in one go.
  static void SortItems(std::vector<std::string>& items);

 protected:
  bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  HBRUSH ControlColor(HDC dc) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  TListBoxStyle style_;
  int columns_ = 0;
  bool keyboardSelecting_ = false;
};

// A rich edit in plain-text mode.
class TRichTextBox : public TWindowControl {
 public:
  TRichTextBox(TWindowControl* parent, std::string name, int left, int top, int width, int height, bool readOnly);
  std::string Text() const { return Caption(); }
  void SetText(const std::string& text) { SetCaption(text); }
  void Clear() { SetCaption(""); }

 protected:
  // Tab leaves the text for the next control instead of being typed into it.
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

class TIntervalTimer : public TOwnedObject {
 public:
  explicit TIntervalTimer(std::string name) : TOwnedObject(std::move(name)) {}
  ~TIntervalTimer() override;
  void SetInterval(unsigned milliseconds);
  void SetEnabled(bool enabled);
  bool Enabled() const { return id_ != 0; }
  TEventHandler OnTimer;

 private:
  static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD);
  unsigned interval_ = 1000;
  UINT_PTR id_ = 0;
};

}  // namespace quillon::ui
