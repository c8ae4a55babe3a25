// The data-aware grid with real windows over a table of a few thousand rows: it buffers only the
// rows it shows, follows the dataset, moves it with the keys, the mouse and the scroll bar, and
// switches its scroll bar to three positions when the dataset is filtered. With
// QUILLON_SHOT_DIR set it also leaves a picture of the grid there (db_grid.bmp).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dataset/quarry_table.h"
#include "engine/data_file.h"
#include "engine/field_types.h"
#include "engine/file_session.h"
#include "ui/application.h"
#include "ui/db_grid.h"
#include "ui/form.h"
#include "ui/testing/recording_dialogs.h"
#include "util/testing/temp_dir.h"

namespace quillon::ui {
namespace {

constexpr int kRows = 3000;

engine::TFieldDescriptor Field(const std::string& name, engine::TFieldType type, int size = 0,
                               std::uint8_t subType = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.SubType = subType;
  return f;
}

// albums.dat: index (auto-increment, primary), album, artist; kRows records "Album 0001", ...
void CreateAlbums(const std::string& path) {
  engine::TTableDefinition def;
  def.Fields = {Field("index", engine::TFieldType::Integer, 0, engine::kSubTypeAutoInc),
                Field("album", engine::TFieldType::String, 40), Field("artist", engine::TFieldType::String, 40)};
  engine::TIndexDescriptor primary;
  primary.KeyFields[primary.KeyFieldCount++] = 1;
  def.Indexes = {primary};
  engine::TDataFile table;
  table.SetFileName(path);
  table.SetExclusive(true);
  table.CreateTable(def);
  table.Open();
  std::vector<std::uint8_t> record(table.RecordBufferSize());
  for (int i = 1; i <= kRows; ++i) {
    table.InitRecord(record.data());
    char album[32];
    wsprintfA(album, "Album %04d", i);
    std::string artist = "Artist " + std::to_string(i % 7);
    table.SetField(true, 2, album, record.data());
    table.SetField(true, 3, artist.c_str(), record.data());
    table.InsertRecord(record.data());
  }
  table.Close();
}

// The grid as the display shows it, as a 24-bit BMP file.
void SaveBitmap(HWND window, const std::string& path) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // What the display shows (frame and scroll bar included); the window is on top and painted.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const int stride = (w * 3 + 3) & ~3;
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + static_cast<DWORD>(stride * h);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&fh), sizeof fh);
  out.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
  out.write(static_cast<const char*>(bits), stride * h);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

class DBGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::InitializeEngine();
    Application().Initialize();
    SetUserDialogs(&dialogs);
    CreateAlbums(dir.File("albums.dat"));
    table = std::make_unique<dataset::TQuarryTable>();
    table->SetDatabaseName(dir.Path());
    table->SetTableName("albums.dat");
    table->Open();
    source.SetDataSet(table.get());
    form = std::make_unique<TFormWindow>("Form1", "Grid", 420, 320, TFormFrame::Sizeable);
    grid = form->Add<TTableGrid>(form.get(), "AlbumGrid", 10, 10, 380, 250);
    grid->SetColor(kColorWhite);
    grid->SetDataSource(&source);
    form->Show();
    Application().DispatchPendingMessages();
  }
  void TearDown() override {
    form.reset();
    source.SetDataSet(nullptr);
    table.reset();
    SetUserDialogs(nullptr);
    Application().DispatchPendingMessages();
    Application().ClearTerminated();
  }

  void Key(WPARAM key) { SendMessageA(grid->Handle(), WM_KEYDOWN, key, 0); }
  std::string Album() { return table->FieldNamed("album").AsString(); }
  SCROLLINFO ScrollBar() {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(grid->Handle(), SB_VERT, &si);
    return si;
  }

  ui::testing::RecordingDialogs dialogs;
  quillon::testing::TempDir dir;
  std::unique_ptr<dataset::TQuarryTable> table;
  dataset::TDataFeed source;
  std::unique_ptr<TFormWindow> form;
  TTableGrid* grid = nullptr;
};

TEST_F(DBGridTest, ShowsTheFirstRowsAndBuffersOnlyThoseItShows) {
  const int rows = grid->VisibleRowCount();
  RECT client;
  GetClientRect(grid->Handle(), &client);
  EXPECT_EQ(rows, (client.bottom - grid->TitleHeight()) / (grid->RowHeight + 1));
  ASSERT_GT(rows, 5);
  EXPECT_EQ(table->BufferCount(), rows);
  EXPECT_EQ(table->BufferedRecords(), rows);
  ASSERT_EQ(grid->Columns().size(), 3u);
  EXPECT_EQ(grid->CellText(0, 1), "Album 0001");
  EXPECT_EQ(grid->CellText(rows - 1, 1), "Album " + std::string(rows < 10 ? "000" : "00") + std::to_string(rows));
  EXPECT_EQ(grid->CurrentRow(), 0);
  // Display widths in characters: album is 40 characters wide.
  EXPECT_GT(grid->ColumnWidth(table->FieldNamed("album")), 40 * 4);
  // Hidden columns: by the grid, and by the field's own flag.
  grid->HideColumn("INDEX");
  table->FieldNamed("artist").Visible = false;
  ASSERT_EQ(grid->Columns().size(), 1u);
  EXPECT_EQ(grid->Columns()[0]->FieldName(), "album");
  grid->SetColumnWidth("album", 180);
  EXPECT_EQ(grid->ColumnWidth(table->FieldNamed("album")), 180);

  if (const char* shots = std::getenv("QUILLON_SHOT_DIR")) {
    Key(VK_DOWN);
    Key(VK_DOWN);
    SetFocus(grid->Handle());
    Application().DispatchPendingMessages();
    SaveBitmap(grid->Handle(), std::string(shots) + "\\db_grid.bmp");
  }
}

TEST_F(DBGridTest, KeysMoveTheDatasetAndTheRowFollows) {
  const int rows = grid->VisibleRowCount();
  Key(VK_DOWN);
  Key(VK_DOWN);
  Key(VK_DOWN);
  EXPECT_EQ(table->RecNo(), 4);
  EXPECT_EQ(grid->CurrentRow(), 3);
  Key(VK_UP);
  EXPECT_EQ(table->RecNo(), 3);
  Key(VK_NEXT);
  EXPECT_EQ(table->RecNo(), 3 + rows);
  EXPECT_EQ(grid->CurrentRow(), rows - 1);  // the grid scrolled: the current row is the last one
  EXPECT_EQ(grid->CellText(rows - 1, 1), Album());
  Key(VK_PRIOR);
  EXPECT_EQ(table->RecNo(), 3);
  Key(VK_END);
  EXPECT_EQ(table->RecNo(), kRows);
  EXPECT_EQ(Album(), "Album 3000");
  EXPECT_EQ(grid->CurrentRow(), rows - 1);
  EXPECT_EQ(grid->CellText(0, 1), "Album " + std::to_string(kRows - rows + 1));
  EXPECT_EQ(ScrollBar().nPos, kRows);
  Key(VK_DOWN);  // at the end: nothing moves
  EXPECT_EQ(table->RecNo(), kRows);
  Key(VK_HOME);
  EXPECT_EQ(table->RecNo(), 1);
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(table->BufferedRecords(), rows);
}

TEST_F(DBGridTest, ClicksMoveToTheRowAndDoubleClicksAreReported) {
  int clicks = 0, doubles = 0;
  grid->OnClick = [&](TOwnedObject&) { ++clicks; };
  grid->OnDblClick = [&](TTableGrid&) { ++doubles; };
  RECT row = grid->RowRect(4);
  SendMessageA(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, (row.top + row.bottom) / 2));
  EXPECT_EQ(table->RecNo(), 5);
  EXPECT_EQ(grid->CurrentRow(), 4);
  EXPECT_EQ(clicks, 1);
  SendMessageA(grid->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, (row.top + row.bottom) / 2));
  EXPECT_EQ(doubles, 1);
  // The title row is no record.
  SendMessageA(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 3));
  EXPECT_EQ(table->RecNo(), 5);
  EXPECT_EQ(clicks, 1);
}

TEST_F(DBGridTest, TheScrollBarUsesRecordNumbersUnlessFiltered) {
  SCROLLINFO si = ScrollBar();
  EXPECT_EQ(si.nMin, 1);
  EXPECT_EQ(si.nMax, kRows);
  EXPECT_EQ(si.nPos, 1);
  SendMessageA(grid->Handle(), WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(table->RecNo(), 2);
  EXPECT_EQ(ScrollBar().nPos, 2);
  SendMessageA(grid->Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(table->RecNo(), 2 + grid->VisibleRowCount());
  // The thumb dropped at 1500 moves to record 1500.
  SetScrollPos(grid->Handle(), SB_VERT, 1500, FALSE);
  SendMessageA(grid->Handle(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 1500), 0);
  EXPECT_EQ(table->RecNo(), 1500);
  EXPECT_EQ(Album(), "Album 1500");
  EXPECT_EQ(ScrollBar().nPos, 1500);
  SendMessageA(grid->Handle(), WM_VSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(table->RecNo(), kRows);

  table->SetOnFilterRecord(
      [](dataset::TDataSet& ds, bool& accept) { accept = ds.FieldNamed("artist").AsString() == "Artist 3"; });
  table->SetFiltered(true);
  si = ScrollBar();
  EXPECT_EQ(si.nMin, 0);
  EXPECT_EQ(si.nMax, 2);
  EXPECT_EQ(si.nPos, 0);  // at the start
  EXPECT_EQ(grid->CellText(0, 2), "Artist 3");
  EXPECT_EQ(grid->CellText(1, 1), "Album 0010");
  SendMessageA(grid->Handle(), WM_VSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(ScrollBar().nPos, 2);
  EXPECT_EQ(Album(), "Album 2999");
}

}  // namespace
}  // namespace quillon::ui
