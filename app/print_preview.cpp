#include "app/print_preview.h"

#include <commdlg.h>

#include <algorithm>
#include <cmath>

namespace quillon::app {

namespace {

constexpr int kDeskGap = 10;  // grey around the sheet
constexpr COLORREF kDeskColor = RGB(128, 128, 128);
constexpr int kToolHeight = 32;

}  // namespace

// ---- The page view -----------------------------------------------------------------------------

TReportPageView::TReportPageView(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : ui::TWindowControl(parent, std::move(name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_HSCROLL | WS_VSCROLL, WS_EX_CLIENTEDGE, "", left, top, width, height);
}

void TReportPageView::SetReport(const TLyricsReport* report) {
  report_ = report;
  page_ = 0;
  UpdateScrollBars();
  Invalidate();
}

void TReportPageView::SetZoom(TPreviewZoom zoom) {
  zoom_ = zoom;
  scrollX_ = scrollY_ = 0;
  UpdateScrollBars();
  Invalidate();
}

int TReportPageView::ScreenDpiX() const {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int TReportPageView::ScreenDpiY() const {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

double TReportPageView::Scale() const {
  if (zoom_ == TPreviewZoom::Actual) return 1.0;
  RECT client;
  GetClientRect(Handle(), &client);
  // Both scroll bars may come and go with the scale; measure without them.
  int width = client.right + (GetWindowLongA(Handle(), GWL_STYLE) & WS_VSCROLL ? GetSystemMetrics(SM_CXVSCROLL) : 0);
  int height = client.bottom + (GetWindowLongA(Handle(), GWL_STYLE) & WS_HSCROLL ? GetSystemMetrics(SM_CYHSCROLL) : 0);
  const double sheetWidth = TReportGeometry::kPageWidth * ScreenDpiX() / 25.4;
  const double sheetHeight = TReportGeometry::kPageHeight * ScreenDpiY() / 25.4;
  double across = (width - 2 * kDeskGap) / sheetWidth;
  if (zoom_ == TPreviewZoom::PageWidth) {
    // Page width leaves room for the vertical scroll bar the long sheet needs.
    across = (width - GetSystemMetrics(SM_CXVSCROLL) - 2 * kDeskGap) / sheetWidth;
    return std::max(across, 0.05);
  }
  return std::max(std::min(across, (height - 2 * kDeskGap) / sheetHeight), 0.05);
}

SIZE TReportPageView::SheetSize() const {
  const double scale = Scale();
  const int dpiX = static_cast<int>(std::lround(ScreenDpiX() * scale));
  const int dpiY = static_cast<int>(std::lround(ScreenDpiY() * scale));
  return {static_cast<LONG>(std::lround(TReportGeometry::kPageWidth * dpiX / 25.4)),
          static_cast<LONG>(std::lround(TReportGeometry::kPageHeight * dpiY / 25.4))};
}

void TReportPageView::SetPage(int page) {
  page_ = std::clamp(page, 0, std::max(PageCount() - 1, 0));
  scrollY_ = 0;
  UpdateScrollBars();
  Invalidate();
}

int TReportPageView::PageCount() const {
  if (!report_) return 0;
  HDC screen = GetDC(nullptr);
  const int count =
      static_cast<int>(report_->Pages(TLyricsReport::DeviceOf(screen, ScreenDpiX(), ScreenDpiY())).size());
  ReleaseDC(nullptr, screen);
  return count;
}

HBITMAP TReportPageView::RenderPage(int& width, int& height) const {
  const double scale = Scale();
  const int dpiX = static_cast<int>(std::lround(ScreenDpiX() * scale));
  const int dpiY = static_cast<int>(std::lround(ScreenDpiY() * scale));
  SIZE size = SheetSize();
  width = size.cx;
  height = size.cy;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  if (report_) report_->DrawPage(dc, page_, dpiX, dpiY);
  SelectObject(dc, old);
  DeleteDC(dc);
  return bitmap;
}

POINT TReportPageView::SheetOrigin() const {
  RECT client;
  GetClientRect(Handle(), &client);
  SIZE size = SheetSize();
  // A sheet narrower than the view is centred; a larger one scrolls.
  int x = size.cx + 2 * kDeskGap <= client.right ? (client.right - size.cx) / 2 : kDeskGap - scrollX_;
  int y = size.cy + 2 * kDeskGap <= client.bottom ? (client.bottom - size.cy) / 2 : kDeskGap - scrollY_;
  return {x, y};
}

void TReportPageView::UpdateScrollBars() {
  if (!Handle()) return;
  for (int pass = 0; pass < 2; ++pass) {  // a bar that appears narrows the other direction
    RECT client;
    GetClientRect(Handle(), &client);
    SIZE size = SheetSize();
    SCROLLINFO h = {sizeof h,
                    SIF_RANGE | SIF_PAGE | SIF_POS,
                    0,
                    static_cast<int>(size.cx + 2 * kDeskGap - 1),
                    static_cast<UINT>(client.right),
                    scrollX_,
                    0};
    SCROLLINFO v = {sizeof v,
                    SIF_RANGE | SIF_PAGE | SIF_POS,
                    0,
                    static_cast<int>(size.cy + 2 * kDeskGap - 1),
                    static_cast<UINT>(client.bottom),
                    scrollY_,
                    0};
    scrollX_ = std::clamp(scrollX_, 0, std::max(0, static_cast<int>(size.cx + 2 * kDeskGap - client.right)));
    scrollY_ = std::clamp(scrollY_, 0, std::max(0, static_cast<int>(size.cy + 2 * kDeskGap - client.bottom)));
    h.nPos = scrollX_;
    v.nPos = scrollY_;
    SetScrollInfo(Handle(), SB_HORZ, &h, TRUE);
    SetScrollInfo(Handle(), SB_VERT, &v, TRUE);
  }
}

void TReportPageView::ScrollTo(int bar, int position) {
  (bar == SB_HORZ ? scrollX_ : scrollY_) = position;
  UpdateScrollBars();
  Invalidate();
}

LRESULT TReportPageView::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      RECT client;
      GetClientRect(Handle(), &client);
      HBRUSH desk = CreateSolidBrush(kDeskColor);
      FillRect(dc, &client, desk);
      DeleteObject(desk);
      if (report_) {
        int width = 0, height = 0;
        HBITMAP page = RenderPage(width, height);
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, page);
        POINT origin = SheetOrigin();
        BitBlt(dc, origin.x, origin.y, width, height, source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
        DeleteObject(page);
      }
      EndPaint(Handle(), &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      UpdateScrollBars();
      Invalidate();
      break;
    case WM_HSCROLL:
    case WM_VSCROLL: {
      const int bar = msg == WM_HSCROLL ? SB_HORZ : SB_VERT;
      SCROLLINFO info = {sizeof info, SIF_ALL, 0, 0, 0, 0, 0};
      GetScrollInfo(Handle(), bar, &info);
      int position = info.nPos;
      switch (LOWORD(wParam)) {
        case SB_LINEUP:
          position -= 20;
          break;
        case SB_LINEDOWN:
          position += 20;
          break;
        case SB_PAGEUP:
          position -= static_cast<int>(info.nPage);
          break;
        case SB_PAGEDOWN:
          position += static_cast<int>(info.nPage);
          break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
          position = info.nTrackPos;
          break;
        case SB_TOP:
          position = 0;
          break;
        case SB_BOTTOM:
          position = info.nMax;
          break;
        default:
          return 0;
      }
      ScrollTo(bar, position);
      return 0;
    }
    case WM_MOUSEWHEEL:
      ScrollTo(SB_VERT, scrollY_ - GET_WHEEL_DELTA_WPARAM(wParam) / 2);
      return 0;
    default:
      break;
  }
  return ui::TWindowControl::WndProc(msg, wParam, lParam);
}

// ---- The preview window ------------------------------------------------------------------------

TPrintPreviewForm::TPrintPreviewForm(const TLyricsReport& report)
    : ui::TFormWindow("PrintPreviewForm", "Print Preview", 760, 700, ui::TFormFrame::Sizeable), report_(report) {
  SetFont(ui::TTextFont{});
  ChoosePrinter = ChooseSystemPrinter;
  int x = 8;
  auto button = [&](const char* name, const char* caption, int width) {
    auto* b = Add<ui::TPushButton>(this, name, caption, x, 4, width, 24, false);
    x += width + 4;
    return b;
  };
  WholePageButton = button("WholePageButton", "&Whole page", 84);
  PageWidthButton = button("PageWidthButton", "Page wi&dth", 84);
  ActualSizeButton = button("ActualSizeButton", "&100 %", 60);
  x += 12;
  PriorPageButton = button("PriorPageButton", "< &Prior", 64);
  PageLabel = Add<ui::TTextLabel>(this, "PageLabel", "", x, 9);
  x += 90;
  NextPageButton = button("NextPageButton", "&Next >", 64);
  x += 12;
  PrintButton = button("PrintButton", "P&rint...", 72);
  CloseButton = button("CloseButton", "&Close", 72);
  PageView = Add<TReportPageView>(this, "PageView", 0, kToolHeight, ClientWidth(), ClientHeight() - kToolHeight);
  PageView->SetAnchors(ui::kAnchorLeft | ui::kAnchorTop | ui::kAnchorRight | ui::kAnchorBottom);
  PageView->SetReport(&report_);

  WholePageButton->OnClick = [this](ui::TOwnedObject&) { Zoom(TPreviewZoom::WholePage); };
  PageWidthButton->OnClick = [this](ui::TOwnedObject&) { Zoom(TPreviewZoom::PageWidth); };
  ActualSizeButton->OnClick = [this](ui::TOwnedObject&) { Zoom(TPreviewZoom::Actual); };
  PriorPageButton->OnClick = [this](ui::TOwnedObject&) { ShowPage(PageView->Page() - 1); };
  NextPageButton->OnClick = [this](ui::TOwnedObject&) { ShowPage(PageView->Page() + 1); };
  PrintButton->OnClick = [this](ui::TOwnedObject&) { PrintReport(); };
  CloseButton->OnClick = [this](ui::TOwnedObject&) { Close(); };
  SetActiveControl(CloseButton);
  UpdatePageControls();
}

void TPrintPreviewForm::ShowPage(int page) {
  PageView->SetPage(page);
  UpdatePageControls();
}

void TPrintPreviewForm::Zoom(TPreviewZoom zoom) {
  PageView->SetZoom(zoom);
}

void TPrintPreviewForm::UpdatePageControls() {
  const int count = PageView->PageCount();
  PageLabel->SetCaption("Page " + std::to_string(PageView->Page() + 1) + " of " + std::to_string(count));
  const HWND focus = GetFocus();
  PriorPageButton->SetEnabled(PageView->Page() > 0);
  NextPageButton->SetEnabled(PageView->Page() + 1 < count);
  // A page button that ends disabled under the focus (the first or last page reached) would leave
  // the window without one: the other page button takes it, or Close on a single page.
  for (auto [button, other] : {std::pair{PriorPageButton, NextPageButton}, std::pair{NextPageButton, PriorPageButton}})
    if (focus == button->Handle() && !button->Enabled()) (other->Enabled() ? other : CloseButton)->SetFocus();
}

void TPrintPreviewForm::PrintReport() {
  HDC printer = ChoosePrinter ? ChoosePrinter(Handle()) : nullptr;
  if (!printer) return;
  report_.Print(printer, report_.Title.empty() ? "Lyrics" : report_.Title);
  DeleteDC(printer);
}

HDC ChooseSystemPrinter(HWND owner) {
  PRINTDLGA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIESANDCOLLATE;
  if (!PrintDlgA(&dialog)) return nullptr;
  if (dialog.hDevMode) GlobalFree(dialog.hDevMode);
  if (dialog.hDevNames) GlobalFree(dialog.hDevNames);
  return dialog.hDC;
}

}  // namespace quillon::app
