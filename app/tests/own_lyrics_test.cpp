// Own lyrics with real windows and real tables: one song added through the form of Panel3, and
// songs imported from a tagged text file, into the base "MyLyrics"; the rows are read back from
// its album and song tables, the shared lyric table and its artist index afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/testing/recording_dialogs.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/quillon_form.h"
#include "app/tests/base_tables.h"
#include "app/tests/form_test.h"
#include "dataset/quarry_table.h"
#include "ui/application.h"
#include "util/profile.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"

namespace quillon::app {
namespace {

// Every row of a table as its field values joined by "|", the key field first.
std::vector<std::string> Rows(const std::string& folder, const std::string& table) {
  dataset::TQuarryTable t;
  t.SetDatabaseName(folder);
  t.SetTableName(table);
  t.Open();
  std::vector<std::string> rows;
  for (t.First(); !t.Eof(); t.Next()) {
    std::string row;
    for (const auto& field : t.Fields()) row += (row.empty() ? "" : "|") + field->AsString();
    rows.push_back(row);
  }
  return rows;
}

class OwnLyricsTest : public testing::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    // The base the window opens on, with one album.
    dir.MakeDir("shelf");
    dir.Write("shelf\\shelf.ini", "[db]\r\nartistfile=artist.ini\r\n");
    dir.Write("shelf\\artist.ini", "[S]\r\nSomeone=\r\n");
    std::string folder = dir.File("shelf\\");
    testing::CreateTable(dir, folder, testing::kAlbumsSchema, "AlbumList.dat",
                         "album\tartist\tbeginID\nFirst\tSomeone\t1\n");
    testing::CreateTable(dir, folder, testing::kSongsSchema, "songlist.dat", "albumIndex\tsong\turl1\n1\tOne\tx\n");
    // MyLyrics: an album with a song whose lyric row is stored and one whose row is missing.
    dir.MakeDir("MyLyrics");
    dir.Write("MyLyrics\\MyLyrics.ini",
              "[db]\r\nartistfile=artist.ini\r\nAlbumDb=MyLyricsAlbum.dat\r\nsongDb=MyLyricsSong.dat\r\n");
    dir.Write("MyLyrics\\artist.ini", "[Q]\r\nQuillon Singers=1\r\n");
    own = dir.File("MyLyrics\\");
    testing::CreateTable(dir, own, testing::kAlbumsSchema, "MyLyricsAlbum.dat",
                         "album\tartist\tbeginID\nEvenings\tQuillon Singers\t1\n");
    testing::CreateTable(dir, own, testing::kSongsSchema, "MyLyricsSong.dat",
                         "albumIndex\tsong\turl1\n1\tStored\t#\n1\tLost\t#\n");
    testing::CreateTable(dir, dir.Path(), testing::kLyricsSchema, "lyrics.dat",
                         "songname\tlyrics\tsongindex\tsongdb\nStored\tthe stored text\t1\tMyLyrics\n");
    dir.Write("lyrics.ini", "[set]\r\nbase=shelf\r\n");
  }
  // A click on a control as a person does it: press and release in its middle.
  static void Click(ui::TWindowControl& control) {
    LPARAM middle = MAKELPARAM(control.Width() / 2, control.Height() / 2);
    SendMessageA(control.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageA(control.Handle(), WM_LBUTTONUP, 0, middle);
    ui::Application().DispatchPendingMessages();
  }

  void Fill(const std::string& lyrics, const std::string& song, const std::string& artist, const std::string& album) {
    form->LyricsMemo3->SetText(lyrics);
    form->songEdit3->SetText(song);
    form->artistEdit3->SetText(artist);
    form->albumEdit3->SetText(album);
  }

  // Imports text as the file the open dialog hands over.
  void Import(const std::string& text, const std::string& name = "mylyrics.txt") {
    dir.Write(name, text);
    dialogs.chosenFile = dir.File(name);
    Click(*form->FlatButton4);
  }

  // The tables, read after the window is gone.
  std::vector<std::string> Albums() { return Rows(own, "MyLyricsAlbum.dat"); }
  std::vector<std::string> Songs() { return Rows(own, "MyLyricsSong.dat"); }
  std::vector<std::string> Lyrics() { return Rows(dir.Path(), "lyrics.dat"); }
  std::string ArtistEntry(const std::string& section, const std::string& artist) {
    return TProfileFile(own + "artist.ini").ReadString(section, artist, "(none)");
  }

  std::string own;
};

TEST_F(OwnLyricsTest, TheFormAsksForEachEmptyFieldInOrder) {
  StartShown();
  struct TCase {
    const char *lyrics, *song, *artist, *album, *message;
  } cases[] = {
      {"", "", "", "", "Please input lyrics"},
      {"la la", "", "", "", "Please input song name"},
      {"la la", "Tune", "", "", "Please input artist name"},
      {"la la", "Tune", "Singer", "", "Please input album name"},
      {"", "Tune", "Singer", "Record", "Please input lyrics"},
  };
  for (const TCase& c : cases) {
    dialogs.messages.clear();
    Fill(c.lyrics, c.song, c.artist, c.album);
    Click(*form->FlatButton3);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{c.message});
  }
  form.reset();
  EXPECT_EQ(Songs().size(), 2u);  // nothing was added
}

TEST_F(OwnLyricsTest, AddingASongWritesItsRowsSwitchesToTheOwnBaseAndAsksBeforeOverwriting) {
  StartShown();
  EXPECT_FALSE(form->IsOwnLyricsBase());
  form->SelectArtist("Someone", true);
  Fill("Light the lantern\r\nwalk the road", "Lantern Road", "Quillon Singers", "Evenings");
  Click(*form->FlatButton3);
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Done"});
  EXPECT_TRUE(dialogs.questions.empty());
  // The open base is MyLyrics, shown in the base box, its album table no longer filtered.
  EXPECT_TRUE(form->IsOwnLyricsBase());
  EXPECT_EQ(form->dbCb->Text(), "MyLyrics");
  EXPECT_FALSE(form->IsAlbumTableFiltered());

  // The same song again: the question; No keeps the text, Yes replaces it without a new row.
  dialogs.messages.clear();
  Fill("second text", "Lantern Road", "Quillon Singers", "Evenings");
  dialogs.answer = false;
  Click(*form->FlatButton3);
  dialogs.answer = true;
  Fill("third text", "Lantern Road", "Quillon Singers", "Evenings");
  Click(*form->FlatButton3);
  EXPECT_EQ(dialogs.questions,
            std::vector<std::string>(2, "Lyrics of this song already exists, do you want to overwrite it?"));
  EXPECT_TRUE(dialogs.messages.empty());  // no "Done" after an overwrite
  form.reset();
  EXPECT_EQ(Albums(), std::vector<std::string>{"1|Evenings|Quillon Singers|1"});  // the album row reused
  EXPECT_EQ(Songs(), (std::vector<std::string>{"1|1|Stored|#", "2|1|Lost|#", "3|1|Lantern Road|#"}));
  EXPECT_EQ(Lyrics(),
            (std::vector<std::string>{"1|Stored|the stored text|1|MyLyrics", "2|Lantern Road|third text|3|MyLyrics"}));
  EXPECT_EQ(ArtistEntry("Q", "Quillon Singers"), "1");
}

// A song whose lyric row is missing gets one when it is overwritten, instead of the text being
// dropped without a word.
TEST_F(OwnLyricsTest, OverwritingASongWithoutALyricRowAppendsIt) {
  StartShown();
  dialogs.answer = true;
  Fill("found again", "Lost", "Quillon Singers", "Evenings");
  Click(*form->FlatButton3);
  EXPECT_EQ(dialogs.questions.size(), 1u);
  form.reset();
  EXPECT_EQ(Songs().size(), 2u);
  EXPECT_EQ(Lyrics(),
            (std::vector<std::string>{"1|Stored|the stored text|1|MyLyrics", "2|Lost|found again|2|MyLyrics"}));
}

TEST_F(OwnLyricsTest, ImportReadsEveryRecordSkipsBrokenOnesAndSaysDoneOnce) {
  StartShown();
  const std::string file =
      "My songs, a title line before the first record\r\n"
      "@@@=Ten Green Bottles\r\n###=10 Penny Choir\r\n$$$=Rounds\r\n%%%=Ten green bottles\r\nhanging on the wall\r\n"
      "@@@=Bottle Two\r\n###=10 Penny Choir\r\n$$$=Rounds\r\n%%%=Nine green bottles\r\n"
      "@@@=Out Of Order\r\n$$$=Rounds\r\n###=Nobody\r\n%%%=never stored\r\n"
      "@@@=Chanson\r\n###=\xE9"
      "cole Singers\r\n$$$=Paris\r\n%%%=Sur le pont\r\nd'Avignon\r\n";
  Import(file);
  EXPECT_EQ(dialogs.fileDialogs, std::vector<std::string>{"*.txt|*.txt"});
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Done"});
  EXPECT_TRUE(dialogs.questions.empty());

  // The same file again, with other texts: overwritten without questions, no new rows.
  dialogs.messages.clear();
  std::string again = file;
  again.replace(again.find("Nine green"), 4, "NINE");
  Import(again, "again.txt");
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Done"});
  EXPECT_TRUE(dialogs.questions.empty());
  form.reset();

  EXPECT_EQ(Albums(), (std::vector<std::string>{"1|Evenings|Quillon Singers|1", "2|Rounds|10 Penny Choir|1",
                                                "3|Paris|\xE9"
                                                "cole Singers|1"}));
  EXPECT_EQ(Songs(), (std::vector<std::string>{"1|1|Stored|#", "2|1|Lost|#", "3|2|Ten Green Bottles|#",
                                               "4|2|Bottle Two|#", "5|3|Chanson|#"}));
  // Each record's lyrics end before the CR LF of the next record; the last keeps the final one.
  EXPECT_EQ(Lyrics(), (std::vector<std::string>{
                          "1|Stored|the stored text|1|MyLyrics",
                          "2|Ten Green Bottles|Ten green bottles\r\nhanging on the wall|3|MyLyrics",
                          "3|Bottle Two|NINE green bottles|4|MyLyrics",
                          "4|Chanson|Sur le pont\r\nd'Avignon\r\n|5|MyLyrics",
                      }));
  EXPECT_EQ(ArtistEntry("#", "10 Penny Choir"), "1");
  EXPECT_EQ(ArtistEntry("#",
                        "\xE9"
                        "cole Singers"),
            "1");
  EXPECT_EQ(ArtistEntry("N", "Nobody"), "(none)");
}

TEST_F(OwnLyricsTest, AFileWithoutEveryTagShowsTheFormatHelp) {
  StartShown();
  Import("@@@=Song\r\n###=Artist\r\n$$$=Album\r\nno lyrics tag\r\n");
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0],
            "[Failed] Can't find song lyrics in this file.     \r\r[Note]" + form->FlatMemo1->Text());
  EXPECT_NE(dialogs.messages[0].find("%%%=Lyrics Content"), std::string::npos);
  // Cancelling the dialog does nothing at all.
  dialogs.messages.clear();
  dialogs.chosenFile.clear();
  Click(*form->FlatButton4);
  EXPECT_TRUE(dialogs.messages.empty());
  form.reset();
  EXPECT_EQ(Songs().size(), 2u);
}

// Without the base's tables every record fails; the loop goes on and ends with "Done".
TEST_F(OwnLyricsTest, ARecordsFailureDoesNotStopTheImport) {
  StartShown();
  for (const char* file : {"MyLyricsAlbum.DAT", "MyLyricsAlbum.IDX", "MyLyricsSong.DAT", "MyLyricsSong.IDX"})
    ASSERT_TRUE(DeleteFileA((own + file).c_str())) << file;
  Import("@@@=A\r\n###=B\r\n$$$=C\r\n%%%=D\r\n@@@=E\r\n###=F\r\n$$$=G\r\n%%%=H\r\n");
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Done"});
  form.reset();
  EXPECT_EQ(Lyrics().size(), 1u);
}

TEST_F(OwnLyricsTest, TheSwitchShowsThePanelOverTheSearchPage) {
  StartShown();
  EXPECT_FALSE(IsWindowVisible(form->Panel3->Handle()));
  form->ShowOwnLyricsPanel();
  ui::Application().DispatchPendingMessages();
  EXPECT_EQ(form->pages->ActivePageIndex(), 2);
  EXPECT_TRUE(IsWindowVisible(form->Panel3->Handle()));
  EXPECT_TRUE(IsWindowVisible(form->FlatButton4->Handle()));
  // Every group of the panel lies inside the page, the export group's foot included, and the
  // panel keeps its size.
  RECT page;
  GetClientRect(form->TabSheet3->Handle(), &page);
  const std::vector<ui::TWindowControl*> groups = {form->FlatGroupBox5, form->FlatGroupBox3, form->DisplayCheck,
                                                   form->FlatGroupBox4};
  for (ui::TWindowControl* c : groups) {
    RECT r;
    GetWindowRect(c->Handle(), &r);
    MapWindowPoints(nullptr, form->TabSheet3->Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_GE(r.top, 0) << c->Name();
    EXPECT_LE(r.bottom, page.bottom) << c->Name();
  }
  // The groups do not overlap, and the lyrics memo keeps room for its lines.
  EXPECT_LE(form->FlatGroupBox5->Top() + form->FlatGroupBox5->Height(), form->FlatGroupBox3->Top());
  EXPECT_LE(form->FlatGroupBox3->Top() + form->FlatGroupBox3->Height(), form->DisplayCheck->Top());
  EXPECT_LE(form->DisplayCheck->Top() + form->DisplayCheck->Height(), form->FlatGroupBox4->Top());
  EXPECT_GE(form->LyricsMemo3->Height(), 80);
  EXPECT_EQ(form->Panel3->Width(), 633);
  EXPECT_EQ(form->Panel3->Height(), 497);
  // Shown twice, it does not shrink again.
  int memo = form->LyricsMemo3->Height();
  form->ShowOwnLyricsPanel();
  EXPECT_EQ(form->LyricsMemo3->Height(), memo);
}

// As the program starts with the switch: asked for before the window is shown, on a first start
// that would open on the artist page.
TEST_F(OwnLyricsTest, TheSwitchBeforeTheWindowShowsOpensOnTheSearchPage) {
  form = std::make_unique<TQuillonForm>(dir.Path(), browser);
  form->ShowOwnLyricsPanel();
  form->Show();
  ui::Application().DispatchPendingMessages();
  EXPECT_EQ(form->pages->ActivePageIndex(), 2);
  EXPECT_TRUE(IsWindowVisible(form->Panel3->Handle()));
}

TEST_F(OwnLyricsTest, AddedImportedAndOverwrittenLyricsAreFoundByTheLyricSearchAtOnce) {
  StartShown();
  auto songs = [this](const std::string& query) {
    std::vector<std::string> found;
    for (const auto& hit : form->LyricIndex().Search(query)) found.push_back(hit.SongName);
    std::sort(found.begin(), found.end());
    return found;
  };
  const int builds = form->LyricIndex().RebuildCount();
  Fill("Lanterns glow along the quay", "Quay Song", "Quillon Singers", "Evenings");
  Click(*form->FlatButton3);
  EXPECT_EQ(songs("lanterns"), std::vector<std::string>{"Quay Song"});
  Import(
      "@@@=Bottle Song\r\n###=10 Penny Choir\r\n$$$=Rounds\r\n%%%=Ten green bottles\r\non the quay\r\n"
      "@@@=Second\r\n###=10 Penny Choir\r\n$$$=Rounds\r\n%%%=green fields\r\n");
  EXPECT_EQ(songs("green"), (std::vector<std::string>{"Bottle Song", "Second"}));
  EXPECT_EQ(songs("quay"), (std::vector<std::string>{"Bottle Song", "Quay Song"}));
  // The same song again: overwritten, its old words gone.
  Import("@@@=Second\r\n###=10 Penny Choir\r\n$$$=Rounds\r\n%%%=silver meadows\r\n", "again.txt");
  EXPECT_EQ(songs("green"), std::vector<std::string>{"Bottle Song"});
  EXPECT_EQ(songs("silver"), std::vector<std::string>{"Second"});
  EXPECT_EQ(form->LyricIndex().RebuildCount(), builds + 1) << "only the first use builds the index";
  EXPECT_EQ(form->LyricIndex().Check(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quillon::app
