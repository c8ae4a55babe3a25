// Page 2's local search with real windows and real tables: the statement built from the two edits,
// the rows in the grid with their count and the progress bar fed while the query runs, the web
// search fields following the grid, and a row opened on page 1 with its lyrics.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/testing/recording_dialogs.h"

#include <string>
#include <vector>

#include "app/quillon_form.h"
#include "app/tests/base_tables.h"
#include "app/tests/form_test.h"
#include "ui/application.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"

namespace quillon::app {
namespace {

const std::string kStored = "Stored lyrics of a lovely day " + std::string(100, 'd');

class LocalSearchTest : public testing::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    dir.MakeDir("shelf");
    dir.Write("shelf\\shelf.ini", "[db]\r\nartistfile=artist.ini\r\n");
    dir.Write("shelf\\artist.ini", "[O]\r\nO'Neil Sisters=1\r\n[Z]\r\nZed Band=1\r\n");
    std::string folder = dir.File("shelf\\");
    testing::CreateTable(dir, folder, testing::kAlbumsSchema, "AlbumList.dat",
                         "album\tartist\tbeginID\n"
                         "Cold Songs\tZed Band\t1\n"
                         "Another\tO'Neil Sisters\t3\n"
                         "Blue Album\tZed Band\t5\n");
    testing::CreateTable(dir, folder, testing::kSongsSchema, "songlist.dat",
                         "albumIndex\tsong\turl1\n"
                         "1\tLOVELY Day\tx1\n"       // 1
                         "1\tWinter\tx2\n"           // 2
                         "2\tglove story\tx3\n"      // 3
                         "2\tO'Neil's Lament\tx4\n"  // 4
                         "3\tLove Me Tender\tx5\n"   // 5
                         "3\tHate Song\tx6\n");      // 6
    testing::CreateTable(dir, dir.Path(), testing::kLyricsSchema, "lyrics.dat",
                         "songname\tlyrics\tsongindex\tsongdb\nLOVELY Day\t" + kStored + "\t1\tshelf\n");
    dir.Write("lyrics.ini", "[set]\r\nbase=shelf\r\nlastpageindex=2\r\nlastartist=Zed Band\r\n");
  }
  TQuillonForm& StartShown() override {
    FormTest::StartShown();
    auto handler = form->q1.OnQueryProgress;
    form->q1.OnQueryProgress = [this, handler](dataset::TQuarryQuery& q, int r, std::uint16_t percent, bool& abort) {
      progress.push_back(percent);
      gaugeShown = gaugeShown || IsWindowVisible(form->Gauge2->Handle());
      handler(q, r, percent, abort);
    };
    return *form;
  }

  void Search(const std::string& song, const std::string& artist) {
    form->songEdit->SetText(song);
    form->artistEdit->SetText(artist);
    LPARAM middle = MAKELPARAM(form->fullschB->Width() / 2, form->fullschB->Height() / 2);
    SendMessageA(form->fullschB->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageA(form->fullschB->Handle(), WM_LBUTTONUP, 0, middle);
    ui::Application().DispatchPendingMessages();
  }

  // The grid's rows as painted, the visible columns joined by "|".
  std::vector<std::string> GridRows() {
    std::vector<std::string> rows;
    const int columns = static_cast<int>(form->DBGrid1->Columns().size());
    for (int row = 0; row < form->q1.RecordCount() && row < form->DBGrid1->VisibleRowCount(); ++row) {
      std::string text;
      for (int c = 0; c < columns; ++c) text += (c ? "|" : "") + form->DBGrid1->CellText(row, c);
      rows.push_back(text);
    }
    return rows;
  }

  std::vector<int> progress;
  bool gaugeShown = false;
};

TEST(LocalSearchStatement, IsBuiltCharacterForCharacter) {
  struct TCase {
    const char *song, *artist, *statement;
  } cases[] = {
      {"LOVE", "",
       "Select a.song,b.artist,b.album,a.index from \"songs.dat\" a, \"albums.dat\" b where (lower(a.song) like "
       "'%love%') and (a.albumindex=b.index) order by a.song"},
      {"", "Zed Band",
       "Select a.song,b.artist,b.album,a.index from \"songs.dat\" a, \"albums.dat\" b where (lower(b.artist) like "
       "'%zed band%') and (a.albumindex=b.index) order by b.album"},
      {"Day", "ZED",
       "Select a.song,b.artist,b.album,a.index from \"songs.dat\" a, \"albums.dat\" b where (lower(a.song) like "
       "'%day%') and (lower(b.artist) like '%zed%') and (a.albumindex=b.index) order by b.album"},
      // Pattern characters stay; a quote becomes the one-character pattern "_"; letters beyond A-Z
      // are left as they are.
      {"50%_\xC9T\xC9", "O'Neil",
       "Select a.song,b.artist,b.album,a.index from \"songs.dat\" a, \"albums.dat\" b where (lower(a.song) like "
       "'%50%_\xC9t\xC9%') and (lower(b.artist) like '%o_neil%') and (a.albumindex=b.index) order by b.album"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(TQuillonForm::LocalSearchStatement("songs.dat", "albums.dat", c.song, c.artist), c.statement);
}

TEST_F(LocalSearchTest, ASongTermFindsItInAnyCaseOrderedByTitleWithRisingProgress) {
  StartShown();
  Search("  LOVE ", "");
  EXPECT_EQ(form->songEdit->Text(), "LOVE");  // trimmed in the edit too
  EXPECT_EQ(form->infoLabel->Caption(), "Results: 3");
  EXPECT_EQ(GridRows(),
            (std::vector<std::string>{"LOVELY Day|Zed Band|Cold Songs", "Love Me Tender|Zed Band|Blue Album",
                                      "glove story|O'Neil Sisters|Another"}));
  // The song index is hidden; the three columns are 35, 26 and 26 characters wide.
  ASSERT_EQ(form->DBGrid1->Columns().size(), 3u);
  EXPECT_EQ(form->q1.Fields()[0]->DisplayWidth(), 35);
  EXPECT_EQ(form->q1.Fields()[1]->DisplayWidth(), 26);
  EXPECT_EQ(form->q1.Fields()[2]->DisplayWidth(), 26);
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_LE(progress.back(), 100);
  EXPECT_TRUE(gaugeShown);
  EXPECT_FALSE(IsWindowVisible(form->Gauge2->Handle()));  // hidden again when done
}

TEST_F(LocalSearchTest, AnArtistTermOrdersByAlbumAndBothTermsMayFindNothing) {
  StartShown();
  Search("", "zed");
  EXPECT_EQ(form->infoLabel->Caption(), "Results: 4");
  std::vector<std::string> albums;
  for (const std::string& row : GridRows()) albums.push_back(row.substr(row.rfind('|') + 1));
  EXPECT_EQ(albums, (std::vector<std::string>{"Blue Album", "Blue Album", "Cold Songs", "Cold Songs"}));

  Search("love", "nobody");
  EXPECT_EQ(form->infoLabel->Caption(), "Results: 0");
  EXPECT_TRUE(GridRows().empty());
  EXPECT_TRUE(dialogs.messages.empty());
}

// A quote in a term is searched for, not a broken statement.
TEST_F(LocalSearchTest, AnApostropheInATermFindsItsSongs) {
  StartShown();
  Search("love", "O'NEIL");
  EXPECT_EQ(form->infoLabel->Caption(), "Results: 1");
  EXPECT_EQ(GridRows(), std::vector<std::string>{"glove story|O'Neil Sisters|Another"});
  Search("o'neil", "");
  EXPECT_EQ(GridRows(), std::vector<std::string>{"O'Neil's Lament|O'Neil Sisters|Another"});
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(LocalSearchTest, EmptyTermsAskForThemAndEnterInEitherEditSearches) {
  StartShown();
  Search("   ", "");
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Please input search terms."});
  EXPECT_EQ(form->infoLabel->Caption(), "Result: 0");
  EXPECT_FALSE(form->q1.Active());

  for (flatctl::TFlatEdit* edit : {form->songEdit, form->artistEdit}) {
    form->songEdit->SetText(edit == form->songEdit ? "winter" : "");
    form->artistEdit->SetText(edit == form->artistEdit ? "o'neil" : "");
    form->infoLabel->SetCaption("");
    SendMessageA(edit->Handle(), WM_KEYDOWN, VK_RETURN, 0);
    ui::Application().DispatchPendingMessages();
    EXPECT_EQ(form->infoLabel->Caption(), edit == form->songEdit ? "Results: 1" : "Results: 2") << edit->Name();
  }
}

TEST_F(LocalSearchTest, MovingThroughTheResultFillsTheWebSearchFields) {
  StartShown();
  Search("love", "");
  EXPECT_EQ(form->songEdit2->Text(), "LOVELY Day");
  EXPECT_EQ(form->artistEdit2->Text(), "Zed Band");
  form->q1.Next();
  form->q1.Next();
  EXPECT_EQ(form->songEdit2->Text(), "glove story");
  EXPECT_EQ(form->artistEdit2->Text(), "O'Neil Sisters");
}

TEST_F(LocalSearchTest, OpeningARowShowsItsAlbumSongAndLyricsOnPageOne) {
  StartShown();
  Search("love", "");
  // The button opens the current row, the first.
  LPARAM middle = MAKELPARAM(10, 10);
  SendMessageA(form->viewLyricB->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, middle);
  SendMessageA(form->viewLyricB->Handle(), WM_LBUTTONUP, 0, middle);
  ui::Application().DispatchPendingMessages();
  EXPECT_EQ(form->pages->ActivePageIndex(), 1);
  EXPECT_EQ(form->albumLabel->Caption(), "Zed Band");
  EXPECT_EQ(form->t1.FieldNamed("album").AsString(), "Cold Songs");
  EXPECT_EQ(form->songLabel->Caption(), "LOVELY Day");
  ASSERT_GE(form->songList->ItemIndex(), 0);
  EXPECT_EQ(form->songList->Item(form->songList->ItemIndex()), "LOVELY Day");
  EXPECT_EQ(form->LyricMemo->Text(), kStored);

  // A double click on the grid's third row opens that row: no stored text, so the page is asked.
  form->pages->SetActivePageIndex(2);
  RECT row = form->DBGrid1->RowRect(2);
  LPARAM at = MAKELPARAM(row.left + 5, row.top + 5);
  SendMessageA(form->DBGrid1->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(form->DBGrid1->Handle(), WM_LBUTTONUP, 0, at);
  SendMessageA(form->DBGrid1->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  SendMessageA(form->DBGrid1->Handle(), WM_LBUTTONUP, 0, at);
  ui::Application().DispatchPendingMessages();
  EXPECT_EQ(form->pages->ActivePageIndex(), 1);
  EXPECT_EQ(form->albumLabel->Caption(), "O'Neil Sisters");
  EXPECT_EQ(form->songLabel->Caption(), "glove story");
  EXPECT_EQ(form->t2.FieldNamed("index").AsInteger(), 3);
  EXPECT_TRUE(form->LyricMemo->Text().empty());
}

}  // namespace
}  // namespace quillon::app
