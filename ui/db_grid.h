// TTableGrid: a grid bound to a data source that shows the records of its dataset, one row per
// record, one column per visible field, under a title row of field names.
//
// It reads only what it shows: it asks the dataset for as many buffered records as it has rows
// (a data link's BufferCount), and paints those buffers, so a table of a million rows costs the
// same as one of twenty. The highlighted row is the dataset's current record; the mouse and the
// keys (arrows, Page Up/Down, Home/End) move the dataset, and the grid follows what the dataset
// tells its link. The vertical scroll bar shows record numbers when the dataset is sequenced
// (no filter), else only the start, the middle and the end.
//
// The grid shows and navigates; it never changes data (ReadOnly is kept for the window
// definitions and reported back). Column widths come from the fields' display widths in
// characters of the grid's font, unless a width in pixels is set for a field by name.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dataset/data_set.h"
#include "ui/control.h"

namespace quillon::ui {

class TTableGrid : public TWindowControl {
 public:
  TTableGrid(TWindowControl* parent, std::string name, int left, int top, int width, int height, bool border = true);
  ~TTableGrid() override;

  void SetDataSource(dataset::TDataFeed* source);
  dataset::TDataFeed* DataSource() const { return link_.DataSource(); }
  dataset::TDataSet* DataSet() const { return link_.DataSet(); }

  bool ReadOnly = true;
  bool ShowTitles = true;
  int RowHeight = 18;
  TColorRef FixedColor = GetSysColor(COLOR_BTNFACE);
  // A column width in pixels for a field (case ignored), instead of its display width.
  void SetColumnWidth(const std::string& fieldName, int pixels);
  // A column width in characters of the grid's font for a field, instead of its display width.
  void SetColumnDisplayWidth(const std::string& fieldName, int characters);
  // A field hidden from this grid whatever its Visible flag says.
  void HideColumn(const std::string& fieldName);

  // Layout, for tests and the window.
  int VisibleRowCount() const;  // data rows that fit
  int TitleHeight() const { return ShowTitles ? RowHeight + 1 : 0; }
  RECT RowRect(int row) const;  // data row 0 is the first below the title
  // The data row at a client point, -1 for the title row or below the last record.
  int RowAt(int y) const;
  // The row of the dataset's current record (-1 without records).
  int CurrentRow() const;
  // The fields shown, left to right, and their pixel widths.
  std::vector<dataset::TRecordField*> Columns() const;
  int ColumnWidth(const dataset::TRecordField& field) const;
  // The text of a cell as painted (row = data row).
  std::string CellText(int row, int column) const;

  std::function<void(TTableGrid&)> OnDblClick;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  class TGridLink : public dataset::TFeedLink {
   public:
    explicit TGridLink(TTableGrid& grid) : grid_(grid) {}

   protected:
    void ActiveChanged() override { grid_.LinkChanged(true); }
    void DataSetChanged() override { grid_.LinkChanged(false); }
    void DataSetScrolled(int) override { grid_.LinkChanged(false); }
    void RecordChanged(dataset::TRecordField*) override { grid_.Invalidate(); }
    void LayoutChanged() override { grid_.LinkChanged(true); }

   private:
    TTableGrid& grid_;
  };

  void LinkChanged(bool layout);
  void UpdateRowCount();
  void UpdateScrollBar();
  void Paint(HDC dc);
  void Scroll(int code);
  void KeyDown(WPARAM key);
  int CharWidth() const;

  TGridLink link_;
  std::map<std::string, int> widths_;  // upper-cased field name -> pixels
  std::map<std::string, int> chars_;   // upper-cased field name -> characters
  std::vector<std::string> hidden_;
  bool updatingScroll_ = false;
};

}  // namespace quillon::ui
