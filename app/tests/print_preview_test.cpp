// The lyrics report and its print preview, with real windows: the layout's positions in
// millimetres, the lyrics running on over further pages, the pages as drawn (text where the
// layout puts it, white margins, no lines), the preview's zoom and page buttons, and the same
// pages drawn at a printer's resolution. The drawn pages are kept as print-page-*.bmp.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/lyrics_report.h"
#include "app/print_preview.h"
#include "ui/application.h"

namespace quillon::app {
namespace {

using G = TReportGeometry;

// A bitmap's pixels, read back as 0x00RRGGBB, rows from the top.
struct TPixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> data;
  std::uint32_t At(int x, int y) const { return data[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF; }
  bool Ink(int x, int y) const {
    std::uint32_t p = At(x, y);
    return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 160;
  }
  // The first row and column with ink inside [x0, x1) x [y0, y1); -1 when none.
  POINT FirstInk(int x0, int y0, int x1, int y1) const {
    POINT first{-1, -1};
    for (int y = y0; y < y1 && first.y < 0; ++y)
      for (int x = x0; x < x1; ++x)
        if (Ink(x, y)) first.y = y;
    for (int x = x0; x < x1 && first.x < 0; ++x)
      for (int y = y0; y < y1; ++y)
        if (Ink(x, y)) first.x = x;
    return first;
  }
  // The longest run of ink along a row or a column: text has short ones, a drawn line long ones.
  int LongestRun(bool rows) const {
    int longest = 0;
    for (int a = 0; a < (rows ? height : width); ++a) {
      int run = 0;
      for (int b = 0; b < (rows ? width : height); ++b) {
        run = (rows ? Ink(b, a) : Ink(a, b)) ? run + 1 : 0;
        longest = std::max(longest, run);
      }
    }
    return longest;
  }
};

TPixels Read(HBITMAP bitmap, int width, int height) {
  TPixels p;
  p.width = width;
  p.height = height;
  p.data.resize(static_cast<std::size_t>(width) * height);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), p.data.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return p;
}

// Keeps a drawn page as a BMP file in the working folder, to be looked at.
void Keep(const TPixels& p, const std::string& name) {
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = p.width;
  header.biHeight = -p.height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  const DWORD bytes = static_cast<DWORD>(p.data.size() * 4);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + bytes;
  if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, f);
    std::fwrite(&header, sizeof header, 1, f);
    std::fwrite(p.data.data(), 1, bytes, f);
    std::fclose(f);
  }
}

// A page drawn at a resolution onto a bitmap of the sheet's size.
TPixels DrawAt(const TLyricsReport& report, int page, int dpi) {
  const int width = static_cast<int>(std::lround(G::kPageWidth * dpi / 25.4));
  const int height = static_cast<int>(std::lround(G::kPageHeight * dpi / 25.4));
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  report.DrawPage(dc, page, dpi, dpi);
  SelectObject(dc, old);
  DeleteDC(dc);
  TPixels p = Read(bitmap, width, height);
  DeleteObject(bitmap);
  return p;
}

TLyricsReport Report(int lines) {
  TLyricsReport report;
  report.Title = "Auld Lang Syne";
  for (int i = 1; i <= lines; ++i)
    report.Lines.push_back("Should auld acquaintance be forgot, verse " + std::to_string(i));
  return report;
}

double Mm(double mm, int dpi) {
  return mm * dpi / 25.4;
}

TEST(LyricsReport, TitleAndLyricsStandWhereTheBandPutsThem) {
  for (int dpi : {96, 150, 600}) {
    SCOPED_TRACE(dpi);
    TReportDevice device{dpi, dpi, dpi / 5, dpi / 6};
    std::vector<TReportPage> pages = LayoutLyricsReport("Title", {"first", "second"}, device);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].size(), 3u);
    EXPECT_TRUE(pages[0][0].title);
    EXPECT_NEAR(pages[0][0].x, Mm(G::kMargin + 6.35, dpi), 1.0);
    EXPECT_NEAR(pages[0][0].y, Mm(G::kMargin + 5.29, dpi), 1.0);
    EXPECT_EQ(pages[0][1].text, "first");
    EXPECT_NEAR(pages[0][1].x, Mm(G::kMargin + 6.35, dpi), 1.0);
    EXPECT_NEAR(pages[0][1].y, Mm(G::kMargin + 13.76, dpi), 1.0);
    EXPECT_EQ(pages[0][2].y - pages[0][1].y, device.memoLineHeight);
  }
  // No lyrics: the page with its title is still there.
  EXPECT_EQ(LayoutLyricsReport("Title", {}, TReportDevice{96, 96, 19, 16}).size(), 1u);
}

TEST(LyricsReport, LongLyricsRunOnOverFurtherPagesWithinTheMargins) {
  const TReportDevice device{96, 96, 19, 16};
  TLyricsReport report = Report(150);
  std::vector<TReportPage> pages = report.Pages(device);
  ASSERT_GE(pages.size(), 3u);
  std::vector<std::string> lines;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    for (const TPlacedLine& line : pages[p]) {
      if (line.title) continue;
      lines.push_back(line.text);
      EXPECT_GE(line.y, device.Py(G::kMargin));
      EXPECT_LE(line.y + device.memoLineHeight, device.Py(G::kPageHeight - G::kMargin)) << line.text;
    }
    // A continued page starts at the top margin with the next line.
    if (p > 0) {
      EXPECT_EQ(pages[p].front().y, device.Py(G::kMargin));
    }
  }
  EXPECT_EQ(lines, report.Lines);
}

TEST(LyricsReport, DrawnPagesHaveTheTextInPlaceWhiteMarginsAndNoLines) {
  TLyricsReport report = Report(90);
  for (int dpi : {96, 150}) {
    SCOPED_TRACE(dpi);
    TPixels first = DrawAt(report, 0, dpi), second = DrawAt(report, 1, dpi);
    Keep(first, "print-page-1-" + std::to_string(dpi) + ".bmp");
    Keep(second, "print-page-2-" + std::to_string(dpi) + ".bmp");
    const int titleX = static_cast<int>(Mm(16.35, dpi)), titleY = static_cast<int>(Mm(15.29, dpi));
    const int memoY = static_cast<int>(Mm(23.76, dpi));
    // Nothing above or left of the title; its ink starts within its line.
    POINT ink = first.FirstInk(0, 0, first.width, memoY);
    EXPECT_GE(ink.y, titleY);
    EXPECT_LT(ink.y, titleY + dpi / 6);
    EXPECT_GE(ink.x, titleX);
    EXPECT_LT(ink.x, titleX + dpi / 10);
    // The first lyric line starts at the memo's top.
    POINT lyric = first.FirstInk(0, memoY, first.width, first.height);
    EXPECT_GE(lyric.y, memoY);
    EXPECT_LT(lyric.y, memoY + dpi / 7);
    // The margins stay white, and no frame line is drawn anywhere.
    for (const TPixels* page : {&first, &second}) {
      const int margin = static_cast<int>(Mm(G::kMargin, dpi)) - 1;
      EXPECT_EQ(page->FirstInk(0, 0, page->width, margin).y, -1);
      EXPECT_EQ(page->FirstInk(0, page->height - margin, page->width, page->height).y, -1);
      EXPECT_EQ(page->FirstInk(0, 0, margin, page->height).x, -1);
      EXPECT_EQ(page->At(page->width / 2, page->height - 2), 0xFFFFFFu);
      EXPECT_LT(page->LongestRun(true), dpi / 3);
      EXPECT_LT(page->LongestRun(false), dpi / 3);
    }
    // The second page goes on at the top margin.
    POINT next = second.FirstInk(0, 0, second.width, second.height);
    EXPECT_GE(next.y, static_cast<int>(Mm(G::kMargin, dpi)));
    EXPECT_LT(next.y, static_cast<int>(Mm(G::kMargin, dpi)) + dpi / 7);
  }
}

class PrintPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override { ui::Application().Initialize(); }
  void TearDown() override {
    ui::Application().DispatchPendingMessages();
    ui::Application().ClearTerminated();
  }
  static void Press(ui::TPushButton& button) {
    SendMessageA(button.Handle(), BM_CLICK, 0, 0);
    ui::Application().DispatchPendingMessages();
  }
};

TEST_F(PrintPreviewTest, ZoomAndPageButtonsChangeWhatIsShown) {
  TLyricsReport report = Report(120);
  TPrintPreviewForm preview(report);
  preview.Show();
  ui::Application().DispatchPendingMessages();
  TReportPageView& view = *preview.PageView;
  const int pages = view.PageCount();
  ASSERT_GE(pages, 2);
  EXPECT_EQ(preview.PageLabel->Caption(), "Page 1 of " + std::to_string(pages));
  EXPECT_FALSE(IsWindowEnabled(preview.PriorPageButton->Handle()));

  // Whole page: the sheet fits the view; 100 %: the sheet at the screen's resolution; page
  // width: as wide as the view.
  RECT client;
  GetClientRect(view.Handle(), &client);
  int width = 0, height = 0;
  DeleteObject(view.RenderPage(width, height));
  EXPECT_LE(height, client.bottom);
  EXPECT_LT(view.Scale(), 1.0);
  Press(*preview.ActualSizeButton);
  EXPECT_EQ(view.Scale(), 1.0);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  DeleteObject(view.RenderPage(width, height));
  EXPECT_NEAR(width, Mm(G::kPageWidth, dpi), 1.0);
  Press(*preview.PageWidthButton);
  DeleteObject(view.RenderPage(width, height));
  EXPECT_GT(width, client.right * 3 / 4);
  EXPECT_LE(width, client.right);

  // The page buttons move through the pages; the shown page is the one drawn.
  Press(*preview.WholePageButton);
  Press(*preview.NextPageButton);
  EXPECT_EQ(view.Page(), 1);
  EXPECT_EQ(preview.PageLabel->Caption(), "Page 2 of " + std::to_string(pages));
  EXPECT_TRUE(IsWindowEnabled(preview.PriorPageButton->Handle()));
  HBITMAP shown = view.RenderPage(width, height);
  TPixels page2 = Read(shown, width, height);
  DeleteObject(shown);
  Press(*preview.PriorPageButton);
  shown = view.RenderPage(width, height);
  TPixels page1 = Read(shown, width, height);
  DeleteObject(shown);
  EXPECT_NE(page1.data, page2.data);
  for (int i = 0; i < pages + 2; ++i) Press(*preview.NextPageButton);
  EXPECT_EQ(view.Page(), pages - 1);
  EXPECT_FALSE(IsWindowEnabled(preview.NextPageButton->Handle()));

  // Print with the choice cancelled does nothing; Close closes.
  int asked = 0;
  preview.ChoosePrinter = [&](HWND) -> HDC {
    ++asked;
    return nullptr;
  };
  Press(*preview.PrintButton);
  EXPECT_EQ(asked, 1);
  Press(*preview.CloseButton);
  EXPECT_FALSE(IsWindowVisible(preview.Handle()));
}

// Alt and a letter, as typed.
void PressAlt(char letter) {
  INPUT inputs[4] = {};
  const WORD keys[4] = {VK_MENU, static_cast<WORD>(letter), static_cast<WORD>(letter), VK_MENU};
  for (int i = 0; i < 4; ++i) {
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wVk = keys[i];
    inputs[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(4, inputs, sizeof(INPUT));
  for (int i = 0; i < 3; ++i) {
    Sleep(10);
    ui::Application().DispatchPendingMessages();
  }
}

TEST_F(PrintPreviewTest, EveryButtonHasItsOwnAccessKeyAndTheEndPagesKeepTheFocus) {
  TLyricsReport report = Report(120);
  TPrintPreviewForm preview(report);
  preview.Show();
  SetForegroundWindow(preview.Handle());
  SetActiveWindow(preview.Handle());
  ui::Application().DispatchPendingMessages();
  std::map<char, std::string> owners;
  for (ui::TPushButton* b :
       {preview.WholePageButton, preview.PageWidthButton, preview.ActualSizeButton, preview.PriorPageButton,
        preview.NextPageButton, preview.PrintButton, preview.CloseButton}) {
    std::string caption = b->Caption();
    std::size_t amp = caption.find('&');
    ASSERT_NE(amp, std::string::npos) << caption;
    char key = static_cast<char>(toupper(static_cast<unsigned char>(caption[amp + 1])));
    EXPECT_TRUE(owners.emplace(key, caption).second) << caption << " shares its key with " << owners[key];
  }
  TReportPageView& view = *preview.PageView;
  const int pages = view.PageCount();
  ASSERT_GE(pages, 2);
  // Alt+N to the last page: the next-page button goes grey and Prior takes the focus.
  for (int i = 0; i < pages; ++i) PressAlt('N');
  EXPECT_EQ(view.Page(), pages - 1);
  EXPECT_FALSE(IsWindowEnabled(preview.NextPageButton->Handle()));
  EXPECT_EQ(GetFocus(), preview.PriorPageButton->Handle());
  // And back to the first page with Alt+P.
  for (int i = 0; i < pages; ++i) PressAlt('P');
  EXPECT_EQ(view.Page(), 0);
  EXPECT_EQ(GetFocus(), preview.NextPageButton->Handle());
  // The zoom keys still work: Alt+D fits the page's width.
  PressAlt('W');
  const double whole = view.Scale();
  PressAlt('D');
  EXPECT_GT(view.Scale(), whole);
  preview.Close();
}

}  // namespace
}  // namespace quillon::app
