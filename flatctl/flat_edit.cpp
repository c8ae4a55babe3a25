// The flat edit and memo (see flat_edit.h).
#include "flatctl/flat_edit.h"

namespace quillon::flatctl {

namespace {
constexpr int kFrame = 3;  // non-client pixels on every side
}

TCustomFlatEdit::TCustomFlatEdit(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height,
                                 DWORD style, bool fitHeight)
    : TWindowControl(parent, std::move(name)), fitHeight_(fitHeight) {
  CreateHandle("EDIT", WS_VISIBLE | WS_TABSTOP | style, 0, "", left, top, width, height);
  // The frame is only taken off the client area once the window is told its frame changed.
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  shown_ = ColorFlat();
  FitHeight();
}

void TCustomFlatEdit::SetReadOnly(bool value) {
  SendMessageA(Handle(), EM_SETREADONLY, value ? TRUE : FALSE, 0);
}
bool TCustomFlatEdit::ReadOnly() const {
  return (GetWindowLongA(Handle(), GWL_STYLE) & ES_READONLY) != 0;
}

TColorRef TCustomFlatEdit::ColorFlat() const {
  return parentColor_ && Parent() ? Parent()->Color() : colorFlat_;
}
TColorRef TCustomFlatEdit::ColorFocused() const {
  return useAdvColors_ ? Lighter(ColorFlat(), advColorFocused_) : colorFocused_;
}
TColorRef TCustomFlatEdit::ColorBorder() const {
  return useAdvColors_ ? Darker(ColorFlat(), advColorBorder_) : colorBorder_;
}

void TCustomFlatEdit::SetColorFocused(TColorRef c) {
  colorFocused_ = c;
  RedrawBorder();
}
void TCustomFlatEdit::SetColorBorder(TColorRef c) {
  colorBorder_ = c;
  RedrawBorder();
}
void TCustomFlatEdit::SetColorFlat(TColorRef c) {
  colorFlat_ = c;
  parentColor_ = false;
  RedrawBorder();
}
void TCustomFlatEdit::SetParentColor(bool value) {
  if (value && Parent()) colorFlat_ = Parent()->Color();
  parentColor_ = value;
  RedrawBorder();
}
void TCustomFlatEdit::SetAdvColorFocused(int percent) {
  advColorFocused_ = percent;
  RedrawBorder();
}
void TCustomFlatEdit::SetAdvColorBorder(int percent) {
  advColorBorder_ = percent;
  RedrawBorder();
}
void TCustomFlatEdit::SetUseAdvColors(bool value) {
  useAdvColors_ = value;
  SetParentColor(value);
}

bool TCustomFlatEdit::Highlighted() const {
  if (Focused()) return true;
  return hot_ && !HoverSuppressedBy(ui::TWindowControl::FromHandle(GetFocus()));
}

void TCustomFlatEdit::RedrawBorder() {
  if (!Handle()) return;
  bool lit = Highlighted();
  TColorRef inner = lit ? ColorFocused() : ColorFlat();
  if (inner != shown_) {
    shown_ = inner;
    InvalidateRect(Handle(), nullptr, TRUE);
  }
  HDC dc = GetWindowDC(Handle());
  RECT r;
  GetWindowRect(Handle(), &r);
  OffsetRect(&r, -r.left, -r.top);
  FrameRectColor(dc, r, ColorBorder());
  for (int i = 1; i < kFrame; ++i) {
    InflateRect(&r, -1, -1);
    FrameRectColor(dc, r, inner);
  }
  DrawMoreBorder(dc, inner);
  ReleaseDC(Handle(), dc);
}

void TCustomFlatEdit::FitHeight() {
  if (!fitHeight_ || !Handle()) return;
  HDC dc = GetDC(Handle());
  HGDIOBJ old = SelectObject(dc, ui::FontHandle(Font()));
  TEXTMETRICA tm = {};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  SetWindowPos(Handle(), nullptr, 0, 0, Width(), tm.tmHeight + 2 * kFrame, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TCustomFlatEdit::FontChanged() {
  FitHeight();
}

LRESULT TCustomFlatEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCALCSIZE: {
      RECT* r = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
      InflateRect(r, -kFrame, -kFrame);
      // Scroll bars, when there are any, go inside the frame.
      return TWindowControl::WndProc(msg, wParam, lParam);
    }
    case WM_NCPAINT: {
      LRESULT result = TWindowControl::WndProc(msg, wParam, lParam);
      RedrawBorder();
      return result;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      LRESULT result = TWindowControl::WndProc(msg, wParam, lParam);
      RedrawBorder();
      return result;
    }
    case WM_MOUSEMOVE:
      if (!hot_ && ApplicationActive()) {
        hot_ = true;
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, Handle(), 0};
        TrackMouseEvent(&track);
        RedrawBorder();
      }
      break;
    case WM_MOUSELEAVE:
      hot_ = false;
      RedrawBorder();
      break;
    case WM_KEYDOWN:
      if (OnKeyDown) {
        WORD key = static_cast<WORD>(wParam);
        OnKeyDown(*this, key);
        if (key == 0) return 0;
        wParam = key;
      }
      break;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

bool TCustomFlatEdit::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
    if (OnChange) OnChange(*this);
    result = 0;
    return true;
  }
  return false;
}

HBRUSH TCustomFlatEdit::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, shown_);
  return ui::BrushHandle(shown_);
}

TFlatEdit::TFlatEdit(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TCustomFlatEdit(parent, std::move(name), left, top, width, height, ES_AUTOHSCROLL, true) {}

bool TFlatEdit::HoverSuppressedBy(const ui::TWindowControl* focused) const {
  return dynamic_cast<const TFlatEdit*>(focused) != nullptr;
}

namespace {
DWORD MemoStyle(const TFlatMemoStyle& style) {
  DWORD s = ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  if (!style.wordWrap) s |= ES_AUTOHSCROLL;
  if (style.readOnly) s |= ES_READONLY;
  if (style.scrollBars == TScrollStyle::ssVertical || style.scrollBars == TScrollStyle::ssBoth) s |= WS_VSCROLL;
  if (style.scrollBars == TScrollStyle::ssHorizontal || style.scrollBars == TScrollStyle::ssBoth) s |= WS_HSCROLL;
  return s;
}
}  // namespace

TFlatMemo::TFlatMemo(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height,
                     TFlatMemoStyle style)
    : TCustomFlatEdit(parent, std::move(name), left, top, width, height, MemoStyle(style), false),
      scrollBars_(style.scrollBars) {
  RedrawBorder();
}

void TFlatMemo::SetLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  SetText(text);
}

std::vector<std::string> TFlatMemo::Lines() const {
  std::vector<std::string> lines;
  std::string text = Text();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      if (start < text.size()) lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool TFlatMemo::HoverSuppressedBy(const ui::TWindowControl* focused) const {
  return dynamic_cast<const TFlatMemo*>(focused) != nullptr;
}

void TFlatMemo::DrawMoreBorder(HDC dc, TColorRef innerColor) {
  if (scrollBars_ != TScrollStyle::ssBoth) return;
  // The square between the two scroll bars takes the frame's colour.
  int w = Width(), h = Height();
  RECT corner = {w - 19, h - 19, w - 3, h - 3};
  FillRect(dc, &corner, ui::BrushHandle(innerColor));
}

}  // namespace quillon::flatctl
