// Painting and hit-testing of the string grid (see string_grid.h). Grid lines are one pixel, drawn
// right of and below each cell in the dark shadow colour.
#include "ui/string_grid.h"

#include <algorithm>

namespace quillon::ui {

TTextGrid::TTextGrid(TWindowControl* parent, std::string name, int left, int top, int width, int height,
                     TGridStyle style)
    : TWindowControl(parent, std::move(name)),
      style_(style),
      colWidths_(static_cast<size_t>(style.colCount), style.colWidth),
      cells_(static_cast<size_t>(style.colCount * style.rowCount)) {
  col_ = focusCol_ = style.fixedCols;
  row_ = focusRow_ = style.fixedRows;
  CreateHandle(nullptr, WS_VISIBLE | WS_TABSTOP, style.border ? WS_EX_CLIENTEDGE : 0, "", left, top, width, height);
}

void TTextGrid::SetRowCount(int rows) {
  style_.rowCount = std::max(rows, 0);
  cells_.resize(static_cast<size_t>(style_.colCount * style_.rowCount));
  row_ = std::clamp(row_, style_.fixedRows, std::max(style_.fixedRows, style_.rowCount - 1));
  focusRow_ = std::clamp(focusRow_, style_.fixedRows, std::max(style_.fixedRows, style_.rowCount - 1));
  Invalidate();
}

void TTextGrid::SetColWidth(int col, int width) {
  if (col < 0 || col >= style_.colCount) return;
  colWidths_[static_cast<size_t>(col)] = width;
  Invalidate();
}

std::string TTextGrid::Cell(int col, int row) const {
  if (col < 0 || row < 0 || col >= style_.colCount || row >= style_.rowCount) return {};
  return cells_[static_cast<size_t>(row * style_.colCount + col)];
}

void TTextGrid::SetCell(int col, int row, const std::string& text) {
  if (col < 0 || row < 0 || col >= style_.colCount || row >= style_.rowCount) return;
  cells_[static_cast<size_t>(row * style_.colCount + col)] = text;
  Invalidate();
}

void TTextGrid::SetCurrent(int col, int row) {
  if (col < style_.fixedCols || row < style_.fixedRows || col >= style_.colCount || row >= style_.rowCount) return;
  col_ = focusCol_ = col;
  row_ = focusRow_ = row;
  Invalidate();
}

void TTextGrid::MoveFocusCell(int dCol, int dRow) {
  int col = std::clamp(focusCol_ + dCol, style_.fixedCols, std::max(style_.fixedCols, style_.colCount - 1));
  int row = std::clamp(focusRow_ + dRow, style_.fixedRows, std::max(style_.fixedRows, style_.rowCount - 1));
  if (col == focusCol_ && row == focusRow_) return;
  focusCol_ = col;
  focusRow_ = row;
  Invalidate();
}

int TTextGrid::ColLeft(int col) const {
  int x = 0;
  for (int c = 0; c < col; ++c) x += colWidths_[static_cast<size_t>(c)] + 1;
  return x;
}

RECT TTextGrid::CellRect(int col, int row) const {
  RECT r;
  r.left = ColLeft(col);
  r.top = row * (style_.rowHeight + 1);
  r.right = r.left + colWidths_[static_cast<size_t>(col)];
  r.bottom = r.top + style_.rowHeight;
  return r;
}

bool TTextGrid::CellAt(int x, int y, int& col, int& row) const {
  for (int r = 0; r < style_.rowCount; ++r)
    for (int c = 0; c < style_.colCount; ++c) {
      RECT cell = CellRect(c, r);
      if (x >= cell.left && x < cell.right + 1 && y >= cell.top && y < cell.bottom + 1) {
        col = c;
        row = r;
        return true;
      }
    }
  return false;
}

void TTextGrid::Paint(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  FillRect(dc, &client, BrushHandle(GetSysColor(COLOR_3DDKSHADOW)));
  HGDIOBJ oldFont = SelectObject(dc, FontHandle(Font()));
  SetBkMode(dc, TRANSPARENT);
  for (int r = 0; r < style_.rowCount; ++r)
    for (int c = 0; c < style_.colCount; ++c) {
      RECT cell = CellRect(c, r);
      bool fixed = r < style_.fixedRows || c < style_.fixedCols;
      bool current = c == col_ && r == row_ && !fixed;
      TColorRef back = fixed ? FixedColor : current ? GetSysColor(COLOR_HIGHLIGHT) : Color();
      FillRect(dc, &cell, BrushHandle(back));
      SetTextColor(dc, fixed ? GetSysColor(COLOR_BTNTEXT) : current ? GetSysColor(COLOR_HIGHLIGHTTEXT) : Font().color);
      RECT text = cell;
      text.left += 2;
      const std::string& s = cells_[static_cast<size_t>(r * style_.colCount + c)];
      DrawTextA(dc, s.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
      if (!fixed && c == focusCol_ && r == focusRow_ && GetFocus() == Handle()) {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        DrawFocusRect(dc, &cell);
      }
    }
  // The area beyond the last cell keeps the control's colour.
  RECT rest = client;
  rest.top = style_.rowCount * (style_.rowHeight + 1);
  if (rest.top < rest.bottom) FillRect(dc, &rest, BrushHandle(Color()));
  rest = client;
  rest.left = ColLeft(style_.colCount);
  rest.bottom = std::min<LONG>(client.bottom, style_.rowCount * (style_.rowHeight + 1));
  if (rest.left < rest.right) FillRect(dc, &rest, BrushHandle(Color()));
  SelectObject(dc, oldFont);
}

LRESULT TTextGrid::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      Paint(dc);
      EndPaint(Handle(), &ps);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      SetFocus();
      int col, row;
      if (CellAt(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)), col, row) &&
          col >= style_.fixedCols && row >= style_.fixedRows) {
        SetCurrent(col, row);
        Click();
      }
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate();
      break;
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_LEFT:
          MoveFocusCell(-1, 0);
          return 0;
        case VK_RIGHT:
          MoveFocusCell(1, 0);
          return 0;
        case VK_UP:
          MoveFocusCell(0, -1);
          return 0;
        case VK_DOWN:
          MoveFocusCell(0, 1);
          return 0;
        case VK_HOME:
          MoveFocusCell(-style_.colCount, 0);
          return 0;
        case VK_END:
          MoveFocusCell(style_.colCount, 0);
          return 0;
        case VK_RETURN:
        case VK_SPACE:
          if (style_.rowCount > style_.fixedRows) {
            SetCurrent(focusCol_, focusRow_);
            Click();
          }
          return 0;
      }
      break;
    case WM_GETDLGCODE: {
      auto* key = reinterpret_cast<const MSG*>(lParam);
      if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) return DLGC_WANTARROWS | DLGC_WANTMESSAGE;
      return DLGC_WANTARROWS;
    }
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

}  // namespace quillon::ui
