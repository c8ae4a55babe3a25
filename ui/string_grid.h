// A grid of text cells drawn by us: fixed-size cells, optional fixed (title) rows and columns, grid
// lines, a current cell chosen by clicking. The current cell is always inside the grid.
// From the keyboard, the arrows move a focus cell (drawn with a focus rectangle while the grid has
// the focus) without changing the current cell; Enter or Space makes the focus cell current and
// clicks it, as the mouse does.
#pragma once

#include <string>
#include <vector>

#include "ui/control.h"

namespace quillon::ui {

struct TGridStyle {
  int colCount = 5;
  int rowCount = 5;
  int colWidth = 64;
  int rowHeight = 24;
  int fixedCols = 0;
  int fixedRows = 0;
  bool border = false;
};

class TTextGrid : public TWindowControl {
 public:
  TTextGrid(TWindowControl* parent, std::string name, int left, int top, int width, int height, TGridStyle style);

  int ColCount() const { return style_.colCount; }
  int RowCount() const { return style_.rowCount; }
  void SetRowCount(int rows);
  void SetColWidth(int col, int width);
  std::string Cell(int col, int row) const;
  void SetCell(int col, int row, const std::string& text);

  int Col() const { return col_; }
  int Row() const { return row_; }
  // The cell that the arrow keys have reached.
  int FocusCol() const { return focusCol_; }
  int FocusRow() const { return focusRow_; }
  // Makes (col,row) the current cell; ignored outside the non-fixed cells.
  void SetCurrent(int col, int row);
  // The cell under a client point, false when none.
  bool CellAt(int x, int y, int& col, int& row) const;
  // The client rectangle of a cell.
  RECT CellRect(int col, int row) const;

  TColorRef FixedColor = GetSysColor(COLOR_BTNFACE);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC dc);
  int ColLeft(int col) const;
  void MoveFocusCell(int dCol, int dRow);

  TGridStyle style_;
  std::vector<int> colWidths_;
  std::vector<std::string> cells_;
  int col_ = 0;
  int row_ = 0;
  int focusCol_ = 0;
  int focusRow_ = 0;
};

}  // namespace quillon::ui
