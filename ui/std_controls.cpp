// The simple controls (see std_controls.h).
#include "ui/std_controls.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <map>

#include "ui/application.h"
#include "ui/form.h"
#include "util/text.h"

namespace quillon::ui {

TPanelBox::TPanelBox(TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, "", left, top, width, height);
}

TTextLabel::TTextLabel(TWindowControl* parent, std::string name, const std::string& caption, int left, int top)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle("STATIC", WS_VISIBLE | SS_LEFT | SS_NOTIFY, 0, caption, left, top, 10, 13);
  Fit();
}

void TTextLabel::SetCaption(const std::string& text) {
  TWindowControl::SetCaption(text);
  Fit();
}

void TTextLabel::SetAlignRight(bool right) {
  LONG style = GetWindowLongA(Handle(), GWL_STYLE) & ~(SS_LEFT | SS_RIGHT | SS_CENTER);
  SetWindowLongA(Handle(), GWL_STYLE, style | (right ? SS_RIGHT : SS_LEFT));
  Invalidate();
}

void TTextLabel::Fit() {
  if (!AutoSize || !Handle()) return;
  std::string text = Caption();
  HDC dc = GetDC(Handle());
  HGDIOBJ old = SelectObject(dc, FontHandle(Font()));
  RECT r = {0, 0, 0, 0};
  DrawTextA(dc, text.empty() ? " " : text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  if (text.empty()) r.right = 0;
  SetWindowPos(Handle(), nullptr, 0, 0, r.right, r.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Invalidate();
}

HBRUSH TTextLabel::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkMode(dc, TRANSPARENT);
  return BrushHandle(Color());
}

bool TTextLabel::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
    Click();
    result = 0;
    return true;
  }
  return false;
}

TPushButton::TPushButton(TWindowControl* parent, std::string name, const std::string& caption, int left, int top,
                         int width, int height, bool isDefault)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle("BUTTON", WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0, caption, left,
               top, width, height);
  if (isDefault)
    if (TFormWindow* form = FormOf(Handle())) form->SetDefaultButton(this);
}

bool TPushButton::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    Click();
    result = 0;
    return true;
  }
  return false;
}

TTextBox::TTextBox(TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle("EDIT", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, "", left, top, width, height);
}

bool TTextBox::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
    if (OnChange) OnChange(*this);
    result = 0;
    return true;
  }
  return false;
}

LRESULT TTextBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_GETDLGCODE && OnKeyDown) {
    // A key handler sees Enter rather than the form's default button.
    auto* key = reinterpret_cast<const MSG*>(lParam);
    if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN)
      return TWindowControl::WndProc(msg, wParam, lParam) | DLGC_WANTMESSAGE;
  }
  if (msg == WM_KEYDOWN && OnKeyDown) {
    WORD key = static_cast<WORD>(wParam);
    OnKeyDown(*this, key);
    if (key == 0) return 0;
    wParam = key;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

HBRUSH TTextBox::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

TComboField::TComboField(TWindowControl* parent, std::string name, int left, int top, int width)
    : TComboField(parent, std::move(name), left, top, width, TComboStyle::csDropDownList) {}

TComboField::TComboField(TWindowControl* parent, std::string name, int left, int top, int width, TComboStyle style,
                         int height)
    : TWindowControl(parent, std::move(name)), style_(style) {
  DWORD kind = style == TComboStyle::csDropDown ? CBS_DROPDOWN
               : style == TComboStyle::csSimple ? CBS_SIMPLE
                                                : CBS_DROPDOWNLIST;
  if (style != TComboStyle::csDropDownList) kind |= CBS_AUTOHSCROLL;
  // The height of a drop-down list's window includes its open list.
  CreateHandle("COMBOBOX", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | kind, 0, "", left, top, width, height);
}

void TComboField::Clear() {
  SendMessageA(Handle(), CB_RESETCONTENT, 0, 0);
}
void TComboField::Add(const std::string& item) {
  SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}
int TComboField::Count() const {
  return static_cast<int>(SendMessageA(Handle(), CB_GETCOUNT, 0, 0));
}

std::string TComboField::Item(int index) const {
  LRESULT length = SendMessageA(Handle(), CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(Handle(), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

int TComboField::IndexOf(const std::string& text) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (EqualIgnoringCase(Item(i), text)) return i;
  return -1;
}

int TComboField::ItemIndex() const {
  return static_cast<int>(SendMessageA(Handle(), CB_GETCURSEL, 0, 0));
}
void TComboField::SetItemIndex(int index) {
  SendMessageA(Handle(), CB_SETCURSEL, index, 0);
}
std::string TComboField::Text() const {
  if (style_ != TComboStyle::csDropDownList) return Caption();
  int i = ItemIndex();
  return i < 0 ? std::string() : Item(i);
}

bool TComboField::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE) {
    if (OnChange) OnChange(*this);
    result = 0;
    return true;
  }
  return false;
}

HBRUSH TComboField::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

TFrameBox::TFrameBox(TWindowControl* parent, std::string name, const std::string& caption, int left, int top, int width,
                     int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle("BUTTON", WS_VISIBLE | BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, caption, left, top, width,
               height);
}

LRESULT TFrameBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(Handle(), &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, BrushHandle(Color()));
    return 1;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

TShapeBox::TShapeBox(TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE, 0, "", left, top, width, height);
}

void TShapeBox::SetBrushColor(TColorRef color) {
  brush_ = color;
  Invalidate();
}

LRESULT TShapeBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(Handle(), &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, BrushHandle(brush_));
    return 1;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

TProgressGauge::TProgressGauge(TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(PROGRESS_CLASSA, WS_VISIBLE | PBS_SMOOTH, 0, "", left, top, width, height);
}

void TProgressGauge::SetRange(int minimum, int maximum) {
  SendMessageA(Handle(), PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}
void TProgressGauge::SetPosition(int position) {
  SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
int TProgressGauge::Position() const {
  return static_cast<int>(SendMessageA(Handle(), PBM_GETPOS, 0, 0));
}
void TProgressGauge::SetBarColor(TColorRef color) {
  SendMessageA(Handle(), PBM_SETBARCOLOR, 0, color);
}

TItemList::TItemList(TWindowControl* parent, std::string name, int left, int top, int width, int height,
                     TListBoxStyle style)
    : TWindowControl(parent, std::move(name)), style_(style) {
  DWORD s = WS_VISIBLE | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  s |= style.multiColumn ? (LBS_MULTICOLUMN | WS_HSCROLL) : WS_VSCROLL;
  if (style.ownerDrawFixed) s |= LBS_OWNERDRAWFIXED | LBS_HASSTRINGS;
  CreateHandle("LISTBOX", s, style.border ? WS_EX_CLIENTEDGE : 0, "", left, top, width, height);
  // The creation-time measure request arrives before the object is attached.
  if (style.ownerDrawFixed) SendMessageA(Handle(), LB_SETITEMHEIGHT, 0, style.itemHeight);
}

void TItemList::Clear() {
  SendMessageA(Handle(), LB_RESETCONTENT, 0, 0);
}
void TItemList::Add(const std::string& item) {
  SendMessageA(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void TItemList::SetItems(const std::vector<std::string>& items) {
  SendMessageA(Handle(), WM_SETREDRAW, FALSE, 0);
  Clear();
  for (const auto& item : items) Add(item);
  SendMessageA(Handle(), WM_SETREDRAW, TRUE, 0);
  Invalidate();
}

std::vector<std::string> TItemList::Items() const {
  std::vector<std::string> items;
  for (int i = 0, n = Count(); i < n; ++i) items.push_back(Item(i));
  return items;
}

int TItemList::Count() const {
  return static_cast<int>(SendMessageA(Handle(), LB_GETCOUNT, 0, 0));
}

std::string TItemList::Item(int index) const {
  LRESULT length = SendMessageA(Handle(), LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(Handle(), LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

int TItemList::IndexOf(const std::string& text) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (EqualIgnoringCase(Item(i), text)) return i;
  return -1;
}

int TItemList::ItemIndex() const {
  return static_cast<int>(SendMessageA(Handle(), LB_GETCURSEL, 0, 0));
}
void TItemList::SetItemIndex(int index) {
  SendMessageA(Handle(), LB_SETCURSEL, index, 0);
}

void TItemList::SetColumns(int columns) {
  columns_ = columns;
  if (columns > 0) SendMessageA(Handle(), LB_SETCOLUMNWIDTH, ClientWidth() / columns, 0);
  Invalidate();
}

LRESULT TItemList::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_GETDLGCODE) {
    auto* key = reinterpret_cast<const MSG*>(lParam);
    LRESULT code = TWindowControl::WndProc(msg, wParam, lParam);
    if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
    return code;
  }
  if (msg == WM_KEYDOWN && wParam == VK_RETURN) {
    if (ItemIndex() >= 0) Click();
    return 0;
  }
  if (msg == WM_KEYDOWN || msg == WM_CHAR) {
    // Selection changes made by keys only browse; they are not clicks.
    keyboardSelecting_ = true;
    LRESULT result = TWindowControl::WndProc(msg, wParam, lParam);
    keyboardSelecting_ = false;
    return result;
  }
  LRESULT result = TWindowControl::WndProc(msg, wParam, lParam);
  // The columns keep sharing the width when the list is resized.
  if (msg == WM_SIZE && columns_ > 0) SendMessageA(Handle(), LB_SETCOLUMNWIDTH, ClientWidth() / columns_, 0);
  return result;
}

void TItemList::SortItems(std::vector<std::string>& items) {
  std::stable_sort(items.begin(), items.end(),
                   [](const std::string& a, const std::string& b) { return CompareIgnoringCase(a, b) < 0; });
}

void TItemList::Sort() {
  std::vector<std::string> items = Items();
  SortItems(items);
  SetItems(items);
}

bool TItemList::Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wParam) == LBN_SELCHANGE) {
        if (!keyboardSelecting_) Click();
        result = 0;
        return true;
      }
      return false;
    case WM_MEASUREITEM:
      reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = static_cast<UINT>(style_.itemHeight);
      result = TRUE;
      return true;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      bool selected = (item->itemState & ODS_SELECTED) != 0;
      FillRect(item->hDC, &item->rcItem, selected ? GetSysColorBrush(COLOR_HIGHLIGHT) : GetSysColorBrush(COLOR_WINDOW));
      if (item->itemID != static_cast<UINT>(-1)) {
        std::string text = Item(static_cast<int>(item->itemID));
        HGDIOBJ old = SelectObject(item->hDC, FontHandle(Font()));
        SetBkMode(item->hDC, TRANSPARENT);
        SetTextColor(item->hDC, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : Font().color);
        RECT r = item->rcItem;
        r.left += 2;
        r.right -= 4;  // a gap, so that neighbouring columns never run together
        DrawTextA(item->hDC, text.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        SelectObject(item->hDC, old);
      }
      if (item->itemState & ODS_FOCUS) DrawFocusRect(item->hDC, &item->rcItem);
      result = TRUE;
      return true;
    }
  }
  return false;
}

HBRUSH TItemList::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

TRichTextBox::TRichTextBox(TWindowControl* parent, std::string name, int left, int top, int width, int height,
                           bool readOnly)
    : TWindowControl(parent, std::move(name)) {
  LoadLibraryA("riched20.dll");
  CreateHandle(RICHEDIT_CLASSA,
               WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                   ES_NOHIDESEL | (readOnly ? ES_READONLY : 0),
               0, "", left, top, width, height);
  SendMessageA(Handle(), EM_SETTEXTMODE, TM_PLAINTEXT, 0);
}

LRESULT TRichTextBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = TWindowControl::WndProc(msg, wParam, lParam);
  if (msg == WM_GETDLGCODE) {
    auto* key = reinterpret_cast<const MSG*>(lParam);
    if (key && key->message == WM_KEYDOWN && key->wParam == VK_TAB) result &= ~(DLGC_WANTTAB | DLGC_WANTMESSAGE);
  }
  return result;
}

namespace {
std::map<UINT_PTR, TIntervalTimer*>& Timers() {
  static std::map<UINT_PTR, TIntervalTimer*> timers;
  return timers;
}
}  // namespace

TIntervalTimer::~TIntervalTimer() {
  SetEnabled(false);
}

void TIntervalTimer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  if (Enabled()) {
    SetEnabled(false);
    SetEnabled(true);
  }
}

void TIntervalTimer::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  if (enabled) {
    id_ = SetTimer(nullptr, 0, interval_, &TIntervalTimer::Fire);
    if (id_) Timers()[id_] = this;
  } else {
    KillTimer(nullptr, id_);
    Timers().erase(id_);
    id_ = 0;
  }
}

void CALLBACK TIntervalTimer::Fire(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = Timers().find(id);
  if (it == Timers().end() || !it->second->OnTimer) return;
  try {
    it->second->OnTimer(*it->second);
  } catch (const std::exception& e) {
    Application().ReportException(e);
  }
}

}  // namespace quillon::ui
