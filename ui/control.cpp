// Message routing, geometry, fonts and colours shared by every control (see control.h).
#include "ui/control.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <tuple>

#include "ui/application.h"
#include "ui/cursor.h"

namespace quillon::ui {

namespace {

constexpr char kObjectProp[] = "QuillonControl";
constexpr char kTipProp[] = "QuillonTip";
constexpr char kOwnClass[] = "QuillonWindow";

// Child window identifiers only need to be unique per parent; one counter keeps them unique per
// process, which WM_MEASUREITEM's lookup by identifier relies on.
UINT_PTR NextControlId() {
  static UINT_PTR next = 1000;
  return next++;
}

void RegisterOwnClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSA wc = {};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = DefWindowProcA;  // replaced per window by the subclassing in CreateHandle
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hIcon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
  wc.lpszClassName = kOwnClass;
  RegisterClassA(&wc);
  registered = true;
}

int PointsToHeight(int points) {
  HDC dc = GetDC(nullptr);
  int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(nullptr, dc);
  return height;
}

}  // namespace

TColorRef SysColor(int index) {
  return GetSysColor(index);
}

bool IsAccelerator(char key, const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;  // "&&" shows one ampersand
      continue;
    }
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(caption[i + 1]) == lower(key);
  }
  return false;
}

HFONT FontHandle(const TTextFont& font) {
  using Key = std::tuple<std::string, int, bool, bool, int>;
  static std::map<Key, HFONT> cache;
  Key key{font.name, font.size, font.bold, font.underline, font.charset};
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  HFONT handle = CreateFontA(PointsToHeight(font.size), 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE,
                             font.underline ? TRUE : FALSE, FALSE, static_cast<BYTE>(font.charset), OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.name.c_str());
  cache.emplace(key, handle);
  return handle;
}

HBRUSH BrushHandle(TColorRef color) {
  static std::map<TColorRef, HBRUSH> cache;
  auto it = cache.find(color);
  if (it != cache.end()) return it->second;
  HBRUSH brush = CreateSolidBrush(color);
  cache.emplace(color, brush);
  return brush;
}

TWindowControl::TWindowControl(TWindowControl* parent, std::string name)
    : TOwnedObject(std::move(name)), parent_(parent) {
  if (parent_) parent_->children_.push_back(this);
}

TWindowControl::~TWindowControl() {
  if (parent_) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  if (handle_) {
    HWND handle = handle_;
    if (HWND tip = static_cast<HWND>(GetPropA(handle, kTipProp))) {
      RemovePropA(handle, kTipProp);
      DestroyWindow(tip);
    }
    Detach();
    DestroyWindow(handle);
  }
  // Child windows still alive went with ours.
  for (TWindowControl* child : children_) {
    child->parent_ = nullptr;
    child->ForgetHandle();
  }
}

void TWindowControl::ForgetHandle() {
  handle_ = nullptr;
  oldProc_ = nullptr;
  for (TWindowControl* child : children_) child->ForgetHandle();
}

void TWindowControl::Detach() {
  if (oldProc_) SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc_));
  RemovePropA(handle_, kObjectProp);
  handle_ = nullptr;
}

TWindowControl* TWindowControl::FromHandle(HWND handle) {
  if (!handle) return nullptr;
  return static_cast<TWindowControl*>(GetPropA(handle, kObjectProp));
}

void TWindowControl::CreateHandle(const char* className, DWORD style, DWORD exStyle, const std::string& text, int left,
                                  int top, int width, int height) {
  RegisterOwnClass();
  HWND parentHandle = parent_ ? parent_->handle_ : nullptr;
  if (parent_) style |= WS_CHILD | WS_CLIPSIBLINGS;
  HMENU id = parent_ ? reinterpret_cast<HMENU>(NextControlId()) : nullptr;
  handle_ = CreateWindowExA(exStyle, className ? className : kOwnClass, text.c_str(), style, left, top, width, height,
                            parentHandle, id, GetModuleHandleA(nullptr), nullptr);
  if (!handle_) throw std::runtime_error("Cannot create the window of " + Name());
  SetPropA(handle_, kObjectProp, this);
  oldProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWindowControl::Thunk)));
  if (className == nullptr) oldProc_ = DefWindowProcA;
  // Windows links a new child window below its siblings; a control created later lies above the
  // ones created before it, as a design's later controls cover earlier ones.
  if (parent_) SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ApplyFont();
  RememberMargins();
}

LRESULT CALLBACK TWindowControl::Thunk(HWND handle, UINT msg, WPARAM wParam, LPARAM lParam) {
  TWindowControl* control = FromHandle(handle);
  if (!control) return DefWindowProcA(handle, msg, wParam, lParam);
  try {
    return control->Dispatch(msg, wParam, lParam);
  } catch (const std::exception& e) {
    Application().ReportException(e);
  } catch (...) {
    Application().ReportException(std::runtime_error("Unknown error"));
  }
  return 0;
}

LRESULT TWindowControl::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (Reflect(msg, wParam, lParam, result)) return result;
  switch (msg) {
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == handle_ && LOWORD(lParam) == HTCLIENT) {
        if (ScreenCursor() == TCursorKind::HourGlass) {
          ::SetCursor(LoadCursorA(nullptr, IDC_WAIT));
          return TRUE;
        }
        if (cursor_ == TCursorKind::Hand) {
          ::SetCursor(LoadCursorA(nullptr, IDC_HAND));
          return TRUE;
        }
      }
      break;
    case WM_SIZE: {
      LRESULT r = WndProc(msg, wParam, lParam);
      AlignChildren();
      return r;
    }
  }
  return WndProc(msg, wParam, lParam);
}

bool TWindowControl::Reflect(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  TWindowControl* child = nullptr;
  switch (msg) {
    case WM_COMMAND:
      child = FromHandle(reinterpret_cast<HWND>(lParam));
      break;
    case WM_NOTIFY:
      child = FromHandle(reinterpret_cast<NMHDR*>(lParam)->hwndFrom);
      break;
    case WM_DRAWITEM:
      child = FromHandle(reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem);
      break;
    case WM_MEASUREITEM:
      child = FromHandle(GetDlgItem(handle_, static_cast<int>(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->CtlID)));
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN: {
      child = FromHandle(reinterpret_cast<HWND>(lParam));
      if (!child || child == this) return false;
      result = reinterpret_cast<LRESULT>(child->ControlColor(reinterpret_cast<HDC>(wParam)));
      return result != 0;
    }
    default:
      return false;
  }
  if (!child || child == this) return false;
  return child->Notified(msg, wParam, lParam, result);
}

LRESULT TWindowControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (oldProc_ == DefWindowProcA && msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(handle_, &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, BrushHandle(Color()));
    return 1;
  }
  if (msg == kDialogCharMessage) {
    if (!(GetWindowLongA(handle_, GWL_STYLE) & WS_TABSTOP) || !IsAccelerator(static_cast<char>(wParam), Caption()))
      return 0;
    SetFocus();
    // Buttons and check boxes act as if clicked, as in dialog boxes.
    if (SendMessageA(handle_, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON) SendMessageA(handle_, BM_CLICK, 0, 0);
    return 1;
  }
  return DefaultProc(msg, wParam, lParam);
}

LRESULT TWindowControl::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(oldProc_ ? oldProc_ : DefWindowProcA, handle_, msg, wParam, lParam);
}

bool TWindowControl::Notified(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

HBRUSH TWindowControl::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, Color());
  return BrushHandle(Color());
}

void TWindowControl::Click() {
  if (OnClick) OnClick(*this);
}

void TWindowControl::SetBounds(int left, int top, int width, int height) {
  MoveWindow(handle_, left, top, width, height, TRUE);
  RememberMargins();
}

namespace {
RECT BoundsInParent(HWND handle) {
  RECT r;
  GetWindowRect(handle, &r);
  HWND parent = GetParent(handle);
  if (parent && (GetWindowLongA(handle, GWL_STYLE) & WS_CHILD))
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}
}  // namespace

int TWindowControl::Left() const {
  return BoundsInParent(handle_).left;
}
int TWindowControl::Top() const {
  return BoundsInParent(handle_).top;
}
int TWindowControl::Width() const {
  RECT r = BoundsInParent(handle_);
  return r.right - r.left;
}
int TWindowControl::Height() const {
  RECT r = BoundsInParent(handle_);
  return r.bottom - r.top;
}
int TWindowControl::ClientWidth() const {
  RECT r;
  GetClientRect(handle_, &r);
  return r.right;
}
int TWindowControl::ClientHeight() const {
  RECT r;
  GetClientRect(handle_, &r);
  return r.bottom;
}

void TWindowControl::RememberMargins() {
  if (!parent_ || aligning_) return;
  rightMargin_ = parent_->ClientWidth() - (Left() + Width());
  bottomMargin_ = parent_->ClientHeight() - (Top() + Height());
}

void TWindowControl::SetAnchors(unsigned anchors) {
  anchors_ = anchors;
  RememberMargins();
}

void TWindowControl::SetDock(TDock dock) {
  dock_ = dock;
  if (parent_) parent_->AlignChildren();
}

void TWindowControl::AlignChildren() {
  int width = ClientWidth(), height = ClientHeight();
  for (TWindowControl* child : children_) {
    if (!child->handle_) continue;
    int l = child->Left(), t = child->Top(), w = child->Width(), h = child->Height();
    switch (child->dock_) {
      case TDock::Client:
        l = 0, t = 0, w = width, h = height;
        break;
      case TDock::Left:
        l = 0, t = 0, h = height;
        break;
      case TDock::None:
        if (child->anchors_ & kAnchorRight) {
          if (child->anchors_ & kAnchorLeft)
            w = width - child->rightMargin_ - l;
          else
            l = width - child->rightMargin_ - w;
        }
        if (child->anchors_ & kAnchorBottom) {
          if (child->anchors_ & kAnchorTop)
            h = height - child->bottomMargin_ - t;
          else
            t = height - child->bottomMargin_ - h;
        }
        break;
    }
    child->aligning_ = true;
    MoveWindow(child->handle_, l, t, std::max(w, 0), std::max(h, 0), TRUE);
    child->aligning_ = false;
  }
}

void TWindowControl::SetVisible(bool visible) {
  ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE);
}
bool TWindowControl::Visible() const {
  return (GetWindowLongA(handle_, GWL_STYLE) & WS_VISIBLE) != 0;
}
void TWindowControl::SetEnabled(bool enabled) {
  EnableWindow(handle_, enabled ? TRUE : FALSE);
}
bool TWindowControl::Enabled() const {
  return IsWindowEnabled(handle_) != FALSE;
}

void TWindowControl::SetCaption(const std::string& text) {
  SetWindowTextA(handle_, text.c_str());
}

std::string TWindowControl::Caption() const {
  int length = GetWindowTextLengthA(handle_);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  length = GetWindowTextA(handle_, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(length, 0)));
  return text;
}

void TWindowControl::SetFont(const TTextFont& font) {
  font_ = font;
  ApplyFont();
}

const TTextFont& TWindowControl::Font() const {
  static const TTextFont kDefault;
  for (const TWindowControl* c = this; c; c = c->parent_)
    if (c->font_) return *c->font_;
  return kDefault;
}

void TWindowControl::ApplyFont() {
  if (!handle_) return;
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(Font())), TRUE);
  FontChanged();
  for (TWindowControl* child : children_)
    if (!child->font_) child->ApplyFont();
}

void TWindowControl::SetColor(TColorRef color) {
  color_ = color;
  RepaintWithChildren();
}

void TWindowControl::SetParentColor(bool value) {
  if (value == ParentColor()) return;
  if (value)
    color_.reset();
  else
    color_ = Color();
  RepaintWithChildren();
}

void TWindowControl::RepaintWithChildren() {
  // Children that inherit the colour show it too, frames included.
  if (handle_) RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

TColorRef TWindowControl::Color() const {
  for (const TWindowControl* c = this; c; c = c->parent_)
    if (c->color_) return *c->color_;
  return GetSysColor(COLOR_BTNFACE);
}

void TWindowControl::SetHint(const std::string& hint) {
  hint_ = hint;
  HWND top = GetAncestor(handle_, GA_ROOT);
  HWND tip = static_cast<HWND>(GetPropA(top, kTipProp));
  if (!tip) {
    // Not owned by the window: Wine links a window asked into the topmost band after the topmost
    // popups it owns, which leaves it outside the band, so an owned hint window would keep the
    // window from staying on top. The window destroys it with itself (~TWindowControl).
    tip =
        CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetPropA(top, kTipProp, tip);
  }
  TOOLINFOA info = {};
  info.cbSize = TTTOOLINFOA_V1_SIZE;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = top;
  info.uId = reinterpret_cast<UINT_PTR>(handle_);
  info.lpszText = const_cast<char*>(hint_.c_str());
  SendMessageA(tip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void TWindowControl::BringToFront() {
  SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
void TWindowControl::SendToBack() {
  SetWindowPos(handle_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
void TWindowControl::SetFocus() {
  ::SetFocus(handle_);
}
bool TWindowControl::Focused() const {
  return GetFocus() == handle_;
}
void TWindowControl::Invalidate() {
  if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

}  // namespace quillon::ui
