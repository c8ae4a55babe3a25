// The printed form of a song's lyrics: an A4 portrait page with 10 mm margins, a title band at
// the top of the first page with the title and, below it, the lyric lines, which run on over
// further pages as long as they last. One layout serves every device: the preview draws it at the
// screen's resolution (times the zoom), printing at the printer's.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quillon::app {

// The report's measures, in millimetres.
struct TReportGeometry {
  static constexpr double kPageWidth = 210.0, kPageHeight = 297.0;
  static constexpr double kMargin = 10.0;
  static constexpr double kBandWidth = 189.97, kBandHeight = 26.19;
  static constexpr double kTitleLeft = 6.35, kTitleTop = 5.29;  // within the band
  static constexpr double kMemoLeft = 6.35, kMemoTop = 13.76;
  static constexpr int kTitlePoints = 11, kMemoPoints = 10;
};

// A line of text placed on a page, in device pixels from the page's top-left corner.
struct TPlacedLine {
  int x = 0, y = 0;
  std::string text;
  bool title = false;
  bool operator==(const TPlacedLine&) const = default;
};

using TReportPage = std::vector<TPlacedLine>;

// A device's resolution and the line heights of the report's two fonts on it, in pixels.
struct TReportDevice {
  int dpiX = 96, dpiY = 96;
  int titleLineHeight = 0, memoLineHeight = 0;
  int Px(double mm) const;  // horizontal millimetres in pixels
  int Py(double mm) const;  // vertical millimetres in pixels
};

// The pages of the report on a device: always at least one, also for no lines.
std::vector<TReportPage> LayoutLyricsReport(const std::string& title, const std::vector<std::string>& lines,
                                            const TReportDevice& device);

class TLyricsReport {
 public:
  std::string Title;               // the song title (the title label)
  std::vector<std::string> Lines;  // the lyric lines (the memo)

  // The device of a drawing surface at a resolution, its fonts measured on it.
  static TReportDevice DeviceOf(HDC dc, int dpiX, int dpiY);
  std::vector<TReportPage> Pages(const TReportDevice& device) const { return LayoutLyricsReport(Title, Lines, device); }
  // Draws page (0-based) at the resolution: the white sheet, then the text, no lines. The page's
  // top-left corner goes to (originX, originY) of dc.
  void DrawPage(HDC dc, int page, int dpiX, int dpiY, int originX = 0, int originY = 0) const;
  // Sends every page to a printer's surface as one document; false when the printer refused.
  bool Print(HDC printer, const std::string& documentName) const;
};

}  // namespace quillon::app
