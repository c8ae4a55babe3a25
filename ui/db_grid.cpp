// The data-aware grid (see db_grid.h). Rows are RowHeight pixels plus a one-pixel grid line; the
// title row uses the fixed colour. Exceptions of the dataset (a failing move) leave through the
// window procedure's guard to the default error display.
#include "ui/db_grid.h"

#include <algorithm>

#include "util/text.h"

namespace quillon::ui {

namespace {
constexpr int kScrollSteps = 2;  // unsequenced: 0 start, 1 middle, 2 end
}

TTableGrid::TTableGrid(TWindowControl* parent, std::string name, int left, int top, int width, int height, bool border)
    : TWindowControl(parent, std::move(name)), link_(*this) {
  CreateHandle(nullptr, WS_VISIBLE | WS_TABSTOP | WS_VSCROLL, border ? WS_EX_CLIENTEDGE : 0, "", left, top, width,
               height);
  UpdateScrollBar();
}

TTableGrid::~TTableGrid() {
  link_.SetDataSource(nullptr);
}

void TTableGrid::SetDataSource(dataset::TDataFeed* source) {
  link_.SetDataSource(source);
  LinkChanged(true);
}

void TTableGrid::SetColumnWidth(const std::string& fieldName, int pixels) {
  widths_[UpperAsciiText(fieldName)] = std::max(0, pixels);
  Invalidate();
}

void TTableGrid::SetColumnDisplayWidth(const std::string& fieldName, int characters) {
  chars_[UpperAsciiText(fieldName)] = std::max(0, characters);
  Invalidate();
}

void TTableGrid::HideColumn(const std::string& fieldName) {
  hidden_.push_back(UpperAsciiText(fieldName));
  Invalidate();
}

int TTableGrid::VisibleRowCount() const {
  RECT client;
  GetClientRect(Handle(), &client);
  return std::max(1, static_cast<int>(client.bottom - TitleHeight()) / (RowHeight + 1));
}

RECT TTableGrid::RowRect(int row) const {
  RECT client;
  GetClientRect(Handle(), &client);
  RECT r;
  r.left = 0;
  r.right = client.right;
  r.top = TitleHeight() + row * (RowHeight + 1);
  r.bottom = r.top + RowHeight;
  return r;
}

int TTableGrid::RowAt(int y) const {
  if (y < TitleHeight()) return -1;
  int row = (y - TitleHeight()) / (RowHeight + 1);
  return row < link_.RecordCount() ? row : -1;
}

int TTableGrid::CurrentRow() const {
  return link_.Active() && link_.RecordCount() > 0 ? link_.ActiveRecord() : -1;
}

std::vector<dataset::TRecordField*> TTableGrid::Columns() const {
  std::vector<dataset::TRecordField*> columns;
  dataset::TDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return columns;
  for (const auto& f : ds->Fields()) {
    if (!f->Visible) continue;
    if (std::find(hidden_.begin(), hidden_.end(), UpperAsciiText(f->FieldName())) != hidden_.end()) continue;
    columns.push_back(f.get());
  }
  return columns;
}

int TTableGrid::CharWidth() const {
  HDC dc = GetDC(Handle());
  HGDIOBJ old = SelectObject(dc, FontHandle(Font()));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  return std::max<int>(1, tm.tmAveCharWidth);
}

int TTableGrid::ColumnWidth(const dataset::TRecordField& field) const {
  auto it = widths_.find(UpperAsciiText(field.FieldName()));
  if (it != widths_.end()) return it->second;
  auto chars = chars_.find(UpperAsciiText(field.FieldName()));
  return (chars != chars_.end() ? chars->second : field.DisplayWidth()) * CharWidth() + 4;
}

std::string TTableGrid::CellText(int row, int column) const {
  std::vector<dataset::TRecordField*> columns = Columns();
  if (row < 0 || row >= link_.RecordCount() || column < 0 || column >= static_cast<int>(columns.size())) return {};
  auto& link = const_cast<TGridLink&>(link_);
  const int active = link.ActiveRecord();
  link.SetActiveRecord(row);
  std::string text;
  try {
    text = columns[static_cast<std::size_t>(column)]->AsString();
  } catch (...) {
    link.SetActiveRecord(active);
    throw;
  }
  link.SetActiveRecord(active);
  return text;
}

void TTableGrid::LinkChanged(bool layout) {
  if (layout) UpdateRowCount();
  UpdateScrollBar();
  Invalidate();
}

void TTableGrid::UpdateRowCount() {
  link_.SetBufferCount(VisibleRowCount());
}

void TTableGrid::UpdateScrollBar() {
  if (updatingScroll_) return;
  updatingScroll_ = true;
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_POS | SIF_PAGE | SIF_DISABLENOSCROLL;
  dataset::TDataSet* ds = DataSet();
  if (!ds || !ds->Active() || ds->IsEmpty()) {
    si.nMin = 0;
    si.nMax = 0;
  } else if (ds->IsSequenced()) {
    // Record numbers: the thumb stands at the current record's number.
    si.nMin = 1;
    si.nMax = std::max(1, ds->RecordCount());
    si.nPage = 0;
    si.nPos = std::clamp(ds->RecNo(), 1, si.nMax);
  } else {
    si.nMin = 0;
    si.nMax = kScrollSteps;
    si.nPos = ds->Bof() ? 0 : ds->Eof() ? kScrollSteps : 1;
  }
  SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  updatingScroll_ = false;
}

void TTableGrid::Paint(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  FillRect(dc, &client, BrushHandle(Color()));
  HGDIOBJ oldFont = SelectObject(dc, FontHandle(Font()));
  SetBkMode(dc, TRANSPARENT);
  HBRUSH lines = BrushHandle(GetSysColor(COLOR_3DSHADOW));
  std::vector<dataset::TRecordField*> columns = Columns();
  std::vector<int> widths;
  for (dataset::TRecordField* f : columns) widths.push_back(ColumnWidth(*f));
  auto drawRow = [&](const RECT& row, auto&& textOf, TColorRef back, TColorRef fore) {
    int x = 0;
    RECT fill = row;
    FillRect(dc, &fill, BrushHandle(back));
    SetTextColor(dc, fore);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      RECT cell{x, row.top, x + widths[c], row.bottom};
      if (widths[c] > 0) {
        RECT text = cell;
        text.left += 2;
        std::string s = textOf(c);
        DrawTextA(dc, s.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        RECT vline{cell.right, row.top, cell.right + 1, row.bottom + 1};
        FillRect(dc, &vline, lines);
      }
      x = cell.right + (widths[c] > 0 ? 1 : 0);
    }
    RECT hline{row.left, row.bottom, row.right, row.bottom + 1};
    FillRect(dc, &hline, lines);
  };
  if (ShowTitles) {
    RECT title{0, 0, client.right, RowHeight};
    drawRow(
        title, [&](std::size_t c) { return columns[c]->DisplayName(); }, FixedColor, GetSysColor(COLOR_BTNTEXT));
  }
  const int rows = link_.RecordCount();
  const int active = link_.ActiveRecord();
  const bool focused = GetFocus() == Handle();
  for (int r = 0; r < rows; ++r) {
    RECT row = RowRect(r);
    if (row.top >= client.bottom) break;
    link_.SetActiveRecord(r);
    const bool current = r == active;
    TColorRef back = current ? GetSysColor(focused ? COLOR_HIGHLIGHT : COLOR_BTNSHADOW) : Color();
    TColorRef fore = current ? GetSysColor(COLOR_HIGHLIGHTTEXT) : Font().color;
    try {
      drawRow(
          row, [&](std::size_t c) { return columns[c]->AsString(); }, back, fore);
    } catch (...) {
      link_.SetActiveRecord(active);
      SelectObject(dc, oldFont);
      throw;
    }
  }
  link_.SetActiveRecord(active);
  SelectObject(dc, oldFont);
}

void TTableGrid::KeyDown(WPARAM key) {
  dataset::TDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return;
  switch (key) {
    case VK_UP:
      ds->Prior();
      break;
    case VK_DOWN:
      ds->Next();
      break;
    case VK_PRIOR:
      ds->MoveBy(-VisibleRowCount());
      break;
    case VK_NEXT:
      ds->MoveBy(VisibleRowCount());
      break;
    case VK_HOME:
      ds->First();
      break;
    case VK_END:
      ds->Last();
      break;
    default:
      return;
  }
}

void TTableGrid::Scroll(int code) {
  dataset::TDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return;
  switch (code) {
    case SB_LINEUP:
      ds->Prior();
      break;
    case SB_LINEDOWN:
      ds->Next();
      break;
    case SB_PAGEUP:
      ds->MoveBy(-VisibleRowCount());
      break;
    case SB_PAGEDOWN:
      ds->MoveBy(VisibleRowCount());
      break;
    case SB_TOP:
      ds->First();
      break;
    case SB_BOTTOM:
      ds->Last();
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
      SCROLLINFO si{};
      si.cbSize = sizeof si;
      si.fMask = SIF_TRACKPOS | SIF_RANGE;
      GetScrollInfo(Handle(), SB_VERT, &si);
      if (ds->IsSequenced()) {
        ds->SetRecNo(si.nTrackPos);
      } else if (si.nTrackPos <= 0) {
        ds->First();
      } else if (si.nTrackPos >= kScrollSteps) {
        ds->Last();
      }
      break;
    }
    default:
      return;
  }
  UpdateScrollBar();
}

LRESULT TTableGrid::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      try {
        Paint(dc);
      } catch (...) {
        EndPaint(Handle(), &ps);
        throw;
      }
      EndPaint(Handle(), &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_SIZE:
      UpdateRowCount();
      Invalidate();
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate();
      break;
    case WM_LBUTTONDOWN: {
      SetFocus();
      int row = RowAt(static_cast<short>(HIWORD(lParam)));
      dataset::TDataSet* ds = DataSet();
      if (row >= 0 && ds && ds->Active()) {
        ds->MoveBy(row - link_.ActiveRecord());
        Click();
      }
      return 0;
    }
    case WM_LBUTTONDBLCLK: {
      int row = RowAt(static_cast<short>(HIWORD(lParam)));
      if (row >= 0 && OnDblClick) OnDblClick(*this);
      return 0;
    }
    case WM_KEYDOWN:
      KeyDown(wParam);
      return 0;
    case WM_VSCROLL:
      Scroll(LOWORD(wParam));
      return 0;
    case WM_MOUSEWHEEL: {
      auto delta = static_cast<short>(HIWORD(wParam));
      if (dataset::TDataSet* ds = DataSet(); ds && ds->Active()) ds->MoveBy(delta > 0 ? -3 : 3);
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

}  // namespace quillon::ui
