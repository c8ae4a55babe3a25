// The print preview of the lyrics report: the pages as they will print, at a zoom of the whole
// page, the page width or 100 %, one page at a time, and a Print button that hands the same pages
// to a printer chosen in the standard print dialog.
#pragma once

#include <functional>
#include <string>

#include "app/lyrics_report.h"
#include "ui/form.h"
#include "ui/std_controls.h"

namespace quillon::app {

enum class TPreviewZoom { WholePage, PageWidth, Actual };

// The sheet of paper on a grey desk, scrolled when it is larger than the view.
class TReportPageView : public ui::TWindowControl {
 public:
  TReportPageView(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height);

  void SetReport(const TLyricsReport* report);
  void SetZoom(TPreviewZoom zoom);
  TPreviewZoom Zoom() const { return zoom_; }
  // The factor from the screen's 100 % to what is shown.
  double Scale() const;
  void SetPage(int page);
  int Page() const { return page_; }
  int PageCount() const;
  // The page drawn as it is shown (at the current scale), for the window and for tests.
  HBITMAP RenderPage(int& width, int& height) const;
  // Where the sheet's top-left corner lies in the view's client area.
  POINT SheetOrigin() const;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  int ScreenDpiX() const;
  int ScreenDpiY() const;
  SIZE SheetSize() const;  // in pixels at the current scale
  void UpdateScrollBars();
  void ScrollTo(int bar, int position);

  const TLyricsReport* report_ = nullptr;
  TPreviewZoom zoom_ = TPreviewZoom::WholePage;
  int page_ = 0;
  int scrollX_ = 0, scrollY_ = 0;
};

class TPrintPreviewForm : public ui::TFormWindow {
 public:
  // The printer's surface for a print: the standard print dialog's, or a test's.
  using TChoosePrinter = std::function<HDC(HWND owner)>;

  explicit TPrintPreviewForm(const TLyricsReport& report);

  void ShowPage(int page);
  void Zoom(TPreviewZoom zoom);
  // Prints every page on the chosen printer; nothing when the choice is cancelled.
  void PrintReport();
  TChoosePrinter ChoosePrinter;

  ui::TPushButton* WholePageButton;
  ui::TPushButton* PageWidthButton;
  ui::TPushButton* ActualSizeButton;
  ui::TPushButton* PriorPageButton;
  ui::TPushButton* NextPageButton;
  ui::TTextLabel* PageLabel;
  ui::TPushButton* PrintButton;
  ui::TPushButton* CloseButton;
  TReportPageView* PageView;

 private:
  void UpdatePageControls();

  const TLyricsReport& report_;
};

// The standard print dialog's printer surface, or nullptr when cancelled or no printer exists.
HDC ChooseSystemPrinter(HWND owner);

}  // namespace quillon::app
