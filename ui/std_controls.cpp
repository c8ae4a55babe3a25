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

TPanel::TPanel(TControl* parent, std::string name, int left, int top, int width, int height)
    : TControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, "", left, top, width, height);
}

TLabel::TLabel(TControl* parent, std::string name, const std::string& caption, int left, int top)
    : TControl(parent, std::move(name)) {
  CreateHandle("STATIC", WS_VISIBLE | SS_LEFT | SS_NOTIFY, 0, caption, left, top, 10, 13);
  Fit();
}

void TLabel::SetCaption(const std::string& text) {
  TControl::SetCaption(text);
  Fit();
}

void TLabel::SetAlignRight(bool right) {
  LONG style = GetWindowLongA(Handle(), GWL_STYLE) & ~(SS_LEFT | SS_RIGHT | SS_CENTER);
  SetWindowLongA(Handle(), GWL_STYLE, style | (right ? SS_RIGHT : SS_LEFT));
  Invalidate();
}

void TLabel::Fit() {
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

HBRUSH TLabel::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkMode(dc, TRANSPARENT);
  return BrushHandle(Color());
}

bool TLabel::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
    Click();
    result = 0;
    return true;
  }
  return false;
}

TButton::TButton(TControl* parent, std::string name, const std::string& caption, int left, int top, int width,
                 int height, bool isDefault)
    : TControl(parent, std::move(name)) {
  CreateHandle("BUTTON", WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0, caption, left,
               top, width, height);
  if (isDefault)
    if (TForm* form = FormOf(Handle())) form->SetDefaultButton(this);
}

bool TButton::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    Click();
    result = 0;
    return true;
  }
  return false;
}

TEdit::TEdit(TControl* parent, std::string name, int left, int top, int width, int height)
    : TControl(parent, std::move(name)) {
  CreateHandle("EDIT", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, "", left, top, width, height);
}

bool TEdit::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
    if (OnChange) OnChange(*this);
    result = 0;
    return true;
  }
  return false;
}

LRESULT TEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_GETDLGCODE && OnKeyDown) {
    // A key handler sees Enter rather than the form's default button.
    auto* key = reinterpret_cast<const MSG*>(lParam);
    if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN)
      return TControl::WndProc(msg, wParam, lParam) | DLGC_WANTMESSAGE;
  }
  if (msg == WM_KEYDOWN && OnKeyDown) {
    WORD key = static_cast<WORD>(wParam);
    OnKeyDown(*this, key);
    if (key == 0) return 0;
    wParam = key;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

HBRUSH TEdit::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

TComboBox::TComboBox(TControl* parent, std::string name, int left, int top, int width)
    : TComboBox(parent, std::move(name), left, top, width, TComboStyle::csDropDownList) {}

TComboBox::TComboBox(TControl* parent, std::string name, int left, int top, int width, TComboStyle style, int height)
    : TControl(parent, std::move(name)), style_(style) {
  DWORD kind = style == TComboStyle::csDropDown ? CBS_DROPDOWN
               : style == TComboStyle::csSimple ? CBS_SIMPLE
                                                : CBS_DROPDOWNLIST;
  if (style != TComboStyle::csDropDownList) kind |= CBS_AUTOHSCROLL;
  // The height of a drop-down list's window includes its open list.
  CreateHandle("COMBOBOX", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | kind, 0, "", left, top, width, height);
}

void TComboBox::Clear() {
  SendMessageA(Handle(), CB_RESETCONTENT, 0, 0);
}
void TComboBox::Add(const std::string& item) {
  SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}
int TComboBox::Count() const {
  return static_cast<int>(SendMessageA(Handle(), CB_GETCOUNT, 0, 0));
}

std::string TComboBox::Item(int index) const {
  LRESULT length = SendMessageA(Handle(), CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(Handle(), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

int TComboBox::IndexOf(const std::string& text) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (EqualIgnoringCase(Item(i), text)) return i;
  return -1;
}

int TComboBox::ItemIndex() const {
  return static_cast<int>(SendMessageA(Handle(), CB_GETCURSEL, 0, 0));
}
void TComboBox::SetItemIndex(int index) {
  SendMessageA(Handle(), CB_SETCURSEL, index, 0);
}
std::string TComboBox::Text() const {
  if (style_ != TComboStyle::csDropDownList) return Caption();
  int i = ItemIndex();
  return i < 0 ? std::string() : Item(i);
}

bool TComboBox::Notified(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE) {
    if (OnChange) OnChange(*this);
    result = 0;
    return true;
  }
  return false;
}

HBRUSH TComboBox::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

TGroupBox::TGroupBox(TControl* parent, std::string name, const std::string& caption, int left, int top, int width,
                     int height)
    : TControl(parent, std::move(name)) {
  CreateHandle("BUTTON", WS_VISIBLE | BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, caption, left, top, width,
               height);
}

LRESULT TGroupBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(Handle(), &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, BrushHandle(Color()));
    return 1;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

TShape::TShape(TControl* parent, std::string name, int left, int top, int width, int height)
    : TControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE, 0, "", left, top, width, height);
}

void TShape::SetBrushColor(TColorRef color) {
  brush_ = color;
  Invalidate();
}

LRESULT TShape::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(Handle(), &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, BrushHandle(brush_));
    return 1;
  }
  return TControl::WndProc(msg, wParam, lParam);
}

TProgressBar::TProgressBar(TControl* parent, std::string name, int left, int top, int width, int height)
    : TControl(parent, std::move(name)) {
  CreateHandle(PROGRESS_CLASSA, WS_VISIBLE | PBS_SMOOTH, 0, "", left, top, width, height);
}

void TProgressBar::SetRange(int minimum, int maximum) {
  SendMessageA(Handle(), PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}
void TProgressBar::SetPosition(int position) {
  SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
int TProgressBar::Position() const {
  return static_cast<int>(SendMessageA(Handle(), PBM_GETPOS, 0, 0));
}
void TProgressBar::SetBarColor(TColorRef color) {
  SendMessageA(Handle(), PBM_SETBARCOLOR, 0, color);
}

TListBox::TListBox(TControl* parent, std::string name, int left, int top, int width, int height, TListBoxStyle style)
    : TControl(parent, std::move(name)), style_(style) {
  DWORD s = WS_VISIBLE | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  s |= style.multiColumn ? (LBS_MULTICOLUMN | WS_HSCROLL) : WS_VSCROLL;
  if (style.ownerDrawFixed) s |= LBS_OWNERDRAWFIXED | LBS_HASSTRINGS;
  CreateHandle("LISTBOX", s, style.border ? WS_EX_CLIENTEDGE : 0, "", left, top, width, height);
  // The creation-time measure request arrives before the object is attached.
  if (style.ownerDrawFixed) SendMessageA(Handle(), LB_SETITEMHEIGHT, 0, style.itemHeight);
}

void TListBox::Clear() {
  SendMessageA(Handle(), LB_RESETCONTENT, 0, 0);
}
void TListBox::Add(const std::string& item) {
  SendMessageA(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void TListBox::SetItems(const std::vector<std::string>& items) {
  SendMessageA(Handle(), WM_SETREDRAW, FALSE, 0);
  Clear();
  for (const auto& item : items) Add(item);
  SendMessageA(Handle(), WM_SETREDRAW, TRUE, 0);
  Invalidate();
}

std::vector<std::string> TListBox::Items() const {
  std::vector<std::string> items;
  for (int i = 0, n = Count(); i < n; ++i) items.push_back(Item(i));
  return items;
}

int TListBox::Count() const {
  return static_cast<int>(SendMessageA(Handle(), LB_GETCOUNT, 0, 0));
}

std::string TListBox::Item(int index) const {
  LRESULT length = SendMessageA(Handle(), LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(Handle(), LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

int TListBox::IndexOf(const std::string& text) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (EqualIgnoringCase(Item(i), text)) return i;
  return -1;
}

int TListBox::ItemIndex() const {
  return static_cast<int>(SendMessageA(Handle(), LB_GETCURSEL, 0, 0));
}
void TListBox::SetItemIndex(int index) {
  SendMessageA(Handle(), LB_SETCURSEL, index, 0);
}

void TListBox::SetColumns(int columns) {
  columns_ = columns;
  if (columns > 0) SendMessageA(Handle(), LB_SETCOLUMNWIDTH, ClientWidth() / columns, 0);
  Invalidate();
}

LRESULT TListBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_GETDLGCODE) {
    auto* key = reinterpret_cast<const MSG*>(lParam);
    LRESULT code = TControl::WndProc(msg, wParam, lParam);
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
    LRESULT result = TControl::WndProc(msg, wParam, lParam);
    keyboardSelecting_ = false;
    return result;
  }
  LRESULT result = TControl::WndProc(msg, wParam, lParam);
  // The columns keep sharing the width when the list is resized.
  if (msg == WM_SIZE && columns_ > 0) SendMessageA(Handle(), LB_SETCOLUMNWIDTH, ClientWidth() / columns_, 0);
  return result;
}

void TListBox::SortItems(std::vector<std::string>& items) {
  std::stable_sort(items.begin(), items.end(),
                   [](const std::string& a, const std::string& b) { return CompareIgnoringCase(a, b) < 0; });
}

void TListBox::Sort() {
  std::vector<std::string> items = Items();
  SortItems(items);
  SetItems(items);
}

bool TListBox::Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
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

HBRUSH TListBox::ControlColor(HDC dc) {
  SetTextColor(dc, Font().color);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

TRichEdit::TRichEdit(TControl* parent, std::string name, int left, int top, int width, int height, bool readOnly)
    : TControl(parent, std::move(name)) {
  LoadLibraryA("riched20.dll");
  CreateHandle(RICHEDIT_CLASSA,
               WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                   ES_NOHIDESEL | (readOnly ? ES_READONLY : 0),
               0, "", left, top, width, height);
  SendMessageA(Handle(), EM_SETTEXTMODE, TM_PLAINTEXT, 0);
}

LRESULT TRichEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = TControl::WndProc(msg, wParam, lParam);
  if (msg == WM_GETDLGCODE) {
    auto* key = reinterpret_cast<const MSG*>(lParam);
    if (key && key->message == WM_KEYDOWN && key->wParam == VK_TAB) result &= ~(DLGC_WANTTAB | DLGC_WANTMESSAGE);
  }
  return result;
}

namespace {
std::map<UINT_PTR, TTimer*>& Timers() {
  static std::map<UINT_PTR, TTimer*> timers;
  return timers;
}
}  // namespace

TTimer::~TTimer() {
  SetEnabled(false);
}

void TTimer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  if (Enabled()) {
    SetEnabled(false);
    SetEnabled(true);
  }
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  if (enabled) {
    id_ = SetTimer(nullptr, 0, interval_, &TTimer::Fire);
    if (id_) Timers()[id_] = this;
  } else {
    KillTimer(nullptr, id_);
    Timers().erase(id_);
    id_ = 0;
  }
}

void CALLBACK TTimer::Fire(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = Timers().find(id);
  if (it == Timers().end() || !it->second->OnTimer) return;
  try {
    it->second->OnTimer(*it->second);
  } catch (const std::exception& e) {
    Application().ReportException(e);
  }
}

}  // namespace quillon::ui
