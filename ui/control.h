// The base of our thin class library over the Win32 ANSI API: components, controls and the routing
// of window messages to the objects that own the windows.
//
// Invariants:
//  1. Every control owns exactly one window handle, created in its constructor and destroyed in its
//     destructor; the object is attached to the handle (a window property) for that whole span, and
//     detached before the handle is destroyed, so no message ever reaches a half-destroyed object.
//  2. Notifications that Windows sends to a parent about a child (WM_COMMAND, WM_NOTIFY,
//     WM_DRAWITEM, WM_MEASUREITEM, WM_CTLCOLOR...) are handed back to the child object, so each
//     control class handles its own notifications and a parent never needs to know its children.
//  3. An exception thrown by an event handler never crosses a window procedure: it goes to the
//     application's default error display and the program continues.
//  4. Fonts and colours are inherited from the parent until a control sets its own.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillon::ui {

// A colour as Windows stores it (0x00BBGGRR).
using TColorRef = COLORREF;
// Colours are written in the design as #RRGGBB; this turns that spelling into a TColorRef.
constexpr TColorRef RgbColor(unsigned rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}
inline constexpr TColorRef kColorWhite = RGB(255, 255, 255);
inline constexpr TColorRef kColorBlack = RGB(0, 0, 0);
inline constexpr TColorRef kColorBlue = RGB(0, 0, 255);
inline constexpr TColorRef kColorNavy = RGB(0, 0, 128);
TColorRef SysColor(int index);  // GetSysColor

// Sent by the message loop to the controls of a form, in Tab order, when a key is pressed with Alt
// (wParam = the character): a control whose caption has that accelerator acts on it and returns
// nonzero, which consumes the key. By default a Tab stop takes the focus and a button is clicked.
inline constexpr UINT kDialogCharMessage = WM_APP + 0x101;
// True when caption marks key (without regard to case) with "&" as its accelerator.
bool IsAccelerator(char key, const std::string& caption);

struct TTextFont {
  std::string name = "MS Sans Serif";
  int size = 8;  // points
  bool bold = false;
  bool underline = false;
  TColorRef color = RGB(0, 0, 0);
  int charset = DEFAULT_CHARSET;

  bool operator==(const TTextFont&) const = default;
};
// One shared font handle per distinct font, alive until the process ends.
HFONT FontHandle(const TTextFont& font);
// One shared solid brush per colour, alive until the process ends.
HBRUSH BrushHandle(TColorRef color);

class TOwnedObject {
 public:
  explicit TOwnedObject(std::string name) : name_(std::move(name)) {}
  virtual ~TOwnedObject() = default;
  TOwnedObject(const TOwnedObject&) = delete;
  TOwnedObject& operator=(const TOwnedObject&) = delete;

  const std::string& Name() const { return name_; }
  int Tag = 0;

 private:
  std::string name_;
};

using TEventHandler = std::function<void(TOwnedObject& sender)>;

enum class TCursorKind { Default, Hand, HourGlass };

enum TAnchor : unsigned { kAnchorLeft = 1, kAnchorTop = 2, kAnchorRight = 4, kAnchorBottom = 8 };
enum class TDock { None, Client, Left };

class TWindowControl : public TOwnedObject {
 public:
  TWindowControl(TWindowControl* parent, std::string name);
  ~TWindowControl() override;

  HWND Handle() const { return handle_; }
  TWindowControl* Parent() const { return parent_; }
  // The child controls in creation order, which is also the order of the Tab key.
  const std::vector<TWindowControl*>& Children() const { return children_; }
  // The control that owns a window handle, or nullptr when the handle is not one of ours.
  static TWindowControl* FromHandle(HWND handle);

  // Position and size in the parent's client coordinates.
  void SetBounds(int left, int top, int width, int height);
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  int ClientWidth() const;
  int ClientHeight() const;
  void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
  void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
  void SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }

  void SetAnchors(unsigned anchors);
  void SetDock(TDock dock);

  void SetVisible(bool visible);
  bool Visible() const;
  void SetEnabled(bool enabled);
  bool Enabled() const;

  virtual void SetCaption(const std::string& text);
  std::string Caption() const;

  void SetFont(const TTextFont& font);
  const TTextFont& Font() const;  // own font, else the parent's
  void SetColor(TColorRef color);
  TColorRef Color() const;  // own colour, else the parent's, else the dialog face colour
  // True while the control shows its parent's colour; setting it true drops the own colour.
  void SetParentColor(bool value);
  bool ParentColor() const { return !color_.has_value(); }

  void SetCursor(TCursorKind cursor) { cursor_ = cursor; }
  void SetHint(const std::string& hint);
  const std::string& Hint() const { return hint_; }

  void BringToFront();
  void SendToBack();
  void SetFocus();
  bool Focused() const;
  void Invalidate();

  TEventHandler OnClick;

 protected:
  // Creates the handle: one of our own window classes when className is null, otherwise a
  // standard class that is subclassed.
  void CreateHandle(const char* className, DWORD style, DWORD exStyle, const std::string& text, int left, int top,
                    int width, int height);
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);
  // A notification about this control that reached its parent; true when handled.
  virtual bool Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // Colours for WM_CTLCOLOR*: by default the control's font colour on its own colour.
  virtual HBRUSH ControlColor(HDC dc);
  // Called after the font changed (the handle already has it).
  virtual void FontChanged() {}
  // Lays out aligned and anchored children after this control's client area changed size.
  virtual void AlignChildren();
  void Click();
  void ApplyFont();
  void RepaintWithChildren();

 private:
  static LRESULT CALLBACK Thunk(HWND handle, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
  bool Reflect(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void RememberMargins();
  void Detach();
  void ForgetHandle();

  TWindowControl* parent_;
  HWND handle_ = nullptr;
  WNDPROC oldProc_ = nullptr;
  std::vector<TWindowControl*> children_;
  std::optional<TTextFont> font_;
  std::optional<TColorRef> color_;
  TCursorKind cursor_ = TCursorKind::Default;
  std::string hint_;
  unsigned anchors_ = kAnchorLeft | kAnchorTop;
  TDock dock_ = TDock::None;
  int rightMargin_ = 0;
  int bottomMargin_ = 0;
  bool aligning_ = false;
};

}  // namespace quillon::ui
