#include "app/lyrics_report.h"

#include <algorithm>
#include <cmath>

namespace quillon::app {

namespace {

using G = TReportGeometry;

// The report's fonts at a vertical resolution: "MS Sans Serif", ANSI, the title bold.
HFONT ReportFont(int points, bool bold, int dpiY) {
  return CreateFontA(-MulDiv(points, dpiY, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                     "MS Sans Serif");
}

int LineHeight(HDC dc, HFONT font) {
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics = {};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  return metrics.tmHeight + metrics.tmExternalLeading;
}

}  // namespace

int TReportDevice::Px(double mm) const {
  return static_cast<int>(std::lround(mm * dpiX / 25.4));
}
int TReportDevice::Py(double mm) const {
  return static_cast<int>(std::lround(mm * dpiY / 25.4));
}

std::vector<TReportPage> LayoutLyricsReport(const std::string& title, const std::vector<std::string>& lines,
                                            const TReportDevice& device) {
  std::vector<TReportPage> pages(1);
  const int left = device.Px(G::kMargin), top = device.Py(G::kMargin);
  const int bottom = device.Py(G::kPageHeight - G::kMargin);
  pages[0].push_back({left + device.Px(G::kTitleLeft), top + device.Py(G::kTitleTop), title, true});
  // The memo stretches down from its place in the band; what does not fit above the bottom margin
  // goes on at the top margin of the next page.
  const int memoX = left + device.Px(G::kMemoLeft);
  const int step = std::max(device.memoLineHeight, 1);
  int y = top + device.Py(G::kMemoTop);
  for (const std::string& line : lines) {
    if (y + step > bottom && !pages.back().empty() && y > top) {
      pages.emplace_back();
      y = top;
    }
    pages.back().push_back({memoX, y, line, false});
    y += step;
  }
  return pages;
}

TReportDevice TLyricsReport::DeviceOf(HDC dc, int dpiX, int dpiY) {
  TReportDevice device;
  device.dpiX = dpiX;
  device.dpiY = dpiY;
  HFONT title = ReportFont(G::kTitlePoints, true, dpiY), memo = ReportFont(G::kMemoPoints, false, dpiY);
  device.titleLineHeight = LineHeight(dc, title);
  device.memoLineHeight = LineHeight(dc, memo);
  DeleteObject(title);
  DeleteObject(memo);
  return device;
}

void TLyricsReport::DrawPage(HDC dc, int page, int dpiX, int dpiY, int originX, int originY) const {
  const TReportDevice device = DeviceOf(dc, dpiX, dpiY);
  const std::vector<TReportPage> pages = Pages(device);
  RECT sheet{originX, originY, originX + device.Px(G::kPageWidth), originY + device.Py(G::kPageHeight)};
  FillRect(dc, &sheet, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  if (page < 0 || page >= static_cast<int>(pages.size())) return;
  HFONT title = ReportFont(G::kTitlePoints, true, dpiY), memo = ReportFont(G::kMemoPoints, false, dpiY);
  HGDIOBJ old = SelectObject(dc, memo);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  // Text stays inside the page's margins; the title wraps within its band.
  const int left = originX + device.Px(G::kMargin), right = originX + device.Px(G::kPageWidth - G::kMargin);
  const int bottom = originY + device.Py(G::kPageHeight - G::kMargin);
  for (const TPlacedLine& line : pages[static_cast<std::size_t>(page)]) {
    if (line.title) {
      SelectObject(dc, title);
      RECT box{originX + line.x, originY + line.y, left + device.Px(G::kBandWidth),
               originY + device.Py(G::kMargin + G::kBandHeight)};
      DrawTextA(dc, line.text.c_str(), -1, &box, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
      SelectObject(dc, memo);
    } else {
      RECT box{originX + line.x, originY + line.y, right, std::min(bottom, originY + line.y + device.memoLineHeight)};
      DrawTextA(dc, line.text.c_str(), -1, &box, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
    }
  }
  SelectObject(dc, old);
  DeleteObject(title);
  DeleteObject(memo);
}

bool TLyricsReport::Print(HDC printer, const std::string& documentName) const {
  const int dpiX = GetDeviceCaps(printer, LOGPIXELSX), dpiY = GetDeviceCaps(printer, LOGPIXELSY);
  // The printer's page starts at its printable area; the sheet's corner lies that far outside.
  const int offsetX = -GetDeviceCaps(printer, PHYSICALOFFSETX), offsetY = -GetDeviceCaps(printer, PHYSICALOFFSETY);
  DOCINFOA info = {};
  info.cbSize = sizeof info;
  info.lpszDocName = documentName.c_str();
  if (StartDocA(printer, &info) <= 0) return false;
  const int count = static_cast<int>(Pages(DeviceOf(printer, dpiX, dpiY)).size());
  for (int page = 0; page < count; ++page) {
    if (StartPage(printer) <= 0) {
      AbortDoc(printer);
      return false;
    }
    DrawPage(printer, page, dpiX, dpiY, offsetX, offsetY);
    if (EndPage(printer) <= 0) {
      AbortDoc(printer);
      return false;
    }
  }
  return EndDoc(printer) > 0;
}

}  // namespace quillon::app
