// Tab control and sheet placement (see page_control.h).
#include "ui/page_control.h"

#include <commctrl.h>

namespace quillon::ui {

TTabPage::TTabPage(TTabbedPages* pages, std::string name, const std::string& caption)
    : TPanelBox(pages, std::move(name), 0, 0, 10, 10), pages_(pages) {
  SetCaption(caption);
  pages->AddSheet(this, caption);
}

TTabPage::~TTabPage() {
  if (pages_ && Parent() == pages_) pages_->RemoveSheet(this);
}

void TTabbedPages::RemoveSheet(TTabPage* sheet) {
  std::erase(sheets_, sheet);
}

TTabbedPages::TTabbedPages(TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(WC_TABCONTROLA, WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, WS_EX_CONTROLPARENT, "", left, top, width,
               height);
}

void TTabbedPages::AddSheet(TTabPage* sheet, const std::string& caption) {
  TCITEMA item = {};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char*>(caption.c_str());
  SendMessageA(Handle(), TCM_INSERTITEMA, sheets_.size(), reinterpret_cast<LPARAM>(&item));
  sheets_.push_back(sheet);
  AlignChildren();
  ShowActiveSheet();
}

std::string TTabbedPages::TabCaption(int index) const {
  char text[256] = {};
  TCITEMA item = {};
  item.mask = TCIF_TEXT;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(Handle(), TCM_GETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  return text;
}

int TTabbedPages::ActivePageIndex() const {
  return static_cast<int>(SendMessageA(Handle(), TCM_GETCURSEL, 0, 0));
}

void TTabbedPages::SetActivePageIndex(int index) {
  SendMessageA(Handle(), TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  ShowActiveSheet();
  // A control of the page just hidden keeps the focus otherwise, and keys typed go nowhere to
  // be seen: the tab strip takes it, as after Ctrl+Tab.
  HWND focus = GetFocus();
  if (focus && IsChild(Handle(), focus) && !IsWindowVisible(focus)) SetFocus();
}

void TTabbedPages::SelectNextPage(bool forward) {
  int n = PageCount();
  if (n == 0) return;
  int active = ActivePageIndex();
  SetActivePageIndex(active < 0 ? 0 : (active + (forward ? 1 : n - 1)) % n);
  if (OnChange) OnChange(*this);
}

void TTabbedPages::ShowActiveSheet() {
  int active = ActivePageIndex();
  // Show the new sheet before hiding the old one, so the area never flashes empty.
  for (int i = 0; i < PageCount(); ++i)
    if (i == active) sheets_[static_cast<size_t>(i)]->SetVisible(true);
  for (int i = 0; i < PageCount(); ++i)
    if (i != active) sheets_[static_cast<size_t>(i)]->SetVisible(false);
}

void TTabbedPages::AlignChildren() {
  RECT r;
  GetClientRect(Handle(), &r);
  SendMessageA(Handle(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  for (TTabPage* sheet : sheets_)
    SetWindowPos(sheet->Handle(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TTabbedPages::Notified(UINT msg, WPARAM, LPARAM lParam, LRESULT& result) {
  if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(TCN_SELCHANGE)) {
    ShowActiveSheet();
    if (OnChange) OnChange(*this);
    result = 0;
    return true;
  }
  return false;
}

}  // namespace quillon::ui
