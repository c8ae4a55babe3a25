// Page 1 with real windows and real tables: an artist's albums in the album grid, the songs of the
// album under the cursor, and a song's lyrics from the shared lyric table or, when none is stored,
// from its page on a lyrics site served inside the test (127.0.0.1), stored for the next time.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include "ui/testing/recording_dialogs.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/quillon_form.h"
#include "app/tests/base_tables.h"
#include "dataset/quarry_table.h"
#include "ui/application.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"
#include "web/tests/test_http_server.h"

namespace quillon::app {
namespace {

using web::testing::Html;
using web::testing::TResponse;

std::string Repeat(char c, std::size_t n) {
  return std::string(n, c);
}

// The lyric texts stored for the test base: one just long enough to count, one just too short.
const std::string kLong101 = "M" + Repeat('m', 100);
const std::string kShort100 = "E" + Repeat('e', 99);
const std::string kFetched = "Sailing out at morning\r\nHome again at night\r\nRow the boat\r\n";

// A page of many megabytes for the general rule: the title, then line upon line of "lyrics".
std::string HugePage(const std::string& title, std::size_t bytes) {
  std::string page = "<h2>" + title + "</h2><p>";
  for (int i = 0; page.size() < bytes; ++i)
    page += "la la la, line " + std::to_string(i) + " of a page far too long<br>";
  return page + "</p>";
}

// Measures, from a thread of its own, how long the window takes to answer a message, for as long
// as it lives: the longest round trip is what a person waits at worst.
class TAnswerWatch {
 public:
  explicit TAnswerWatch(HWND window)
      : thread_([this, window] {
          while (!stop_) {
            DWORD start = GetTickCount();
            DWORD_PTR result;
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);
            longest_ = std::max<DWORD>(longest_, GetTickCount() - start);
            Sleep(20);
          }
        }) {}
  ~TAnswerWatch() { Stop(); }
  // The longest round trip seen so far, in ms; the watch ends.
  DWORD Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return longest_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<DWORD> longest_{0};
  std::thread thread_;
};

// One row of the lyric table as read back.
struct TLyricRow {
  std::string songname, lyrics, songdb;
  std::int64_t songindex;
  bool operator==(const TLyricRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TLyricRow& r) {
  return os << "{" << r.songname << ", " << r.songindex << ", " << r.songdb << ", " << r.lyrics.size() << " chars}";
}

class SongPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
    // "shelf": the general extraction rule; its pages on the test's site.
    dir.MakeDir("shelf");
    dir.Write("shelf\\shelf.ini", "[db]\r\nartistfile=artist.ini\r\n[info]\r\nUrl=" +
                                      server.Address("/lyric-[id].html?again=[id]") + "\r\n");
    dir.Write("shelf\\artist.ini", "[O]\r\nO'Neil=\r\n[T]\r\nTen=\r\n[E]\r\nEleven=\r\n");
    // Albums: O'Neil's three, then 10 of "Ten" and 11 of "Eleven", one song each.
    std::string albums = "album\tartist\tbeginID\n";
    albums += "Alpha\tO'Neil\t1\n";
    albums += "Beta\tO'Neil\t3\n";
    albums += "Long\tO'Neil\t7\n";
    std::string songs = "albumIndex\tsong\turl1\n";
    songs += "1\tMorning\tm1\n";  // 1
    songs += "1\tEvening\te1\n";  // 2
    songs += "2\tSailor\ts2\n";   // 3: Beta starts here
    songs += "2\tsailor\ts2b\n";  // 4: the same title in another case
    songs += "2\tAnchor\t\n";     // 5: no page identifier
    songs += "2\tSailor\ts2c\n";  // 6: the same title again
    for (int i = 1; i <= 250; ++i) songs += "3\tTrack " + std::to_string(1000 + i) + "\tt" + std::to_string(i) + "\n";
    int record = 7 + 250, album = 4;
    for (int i = 1; i <= 21; ++i, ++album, ++record) {
      bool ten = i <= 10;
      albums += std::string(ten ? "Ten " : "Eleven ") + std::to_string(100 + i) + "\t" + (ten ? "Ten" : "Eleven") +
                "\t" + std::to_string(record) + "\n";
      songs += std::to_string(album) + "\tSong " + std::to_string(i) + "\tx" + std::to_string(i) + "\n";
    }
    std::string folder = dir.File("shelf\\");
    testing::CreateTable(dir, folder, testing::kAlbumsSchema, "AlbumList.dat", albums);
    testing::CreateTable(dir, folder, testing::kSongsSchema, "songlist.dat", songs);
    // The own-lyrics base: album 1's songs spread over the table.
    dir.MakeDir("MyLyrics");
    dir.Write("MyLyrics\\MyLyrics.ini",
              "[db]\r\nartistfile=artist.ini\r\nAlbumDb=MyLyricsAlbum.dat\r\nsongDb=MyLyricsSong.dat\r\n");
    dir.Write("MyLyrics\\artist.ini", "[M]\r\nMe=\r\n");
    folder = dir.File("MyLyrics\\");
    testing::CreateTable(dir, folder, testing::kAlbumsSchema, "MyLyricsAlbum.dat",
                         "album\tartist\tbeginID\nMine\tMe\t1\nOther\tYou\t1\n");
    testing::CreateTable(dir, folder, testing::kSongsSchema, "MyLyricsSong.dat",
                         "albumIndex\tsong\turl1\n1\tOne\t#\n2\tTwo\t#\n1\tThree\t#\n2\tFour\t#\n1\tFive\t#\n");
    testing::CreateTable(dir, dir.Path(), testing::kLyricsSchema, "lyrics.dat",
                         "songname\tlyrics\tsongindex\tsongdb\n"
                         "Morning\t" +
                             kLong101 +
                             "\t1\tshelf\n"
                             "Evening\t" +
                             kShort100 +
                             "\t2\tshelf\n"
                             "Morning\tfrom another base, not ours " +
                             Repeat('z', 100) +
                             "\t1\tother\n"
                             "One\tshort own\t1\tMyLyrics\n");
    dir.Write("lyrics.ini", "[set]\r\nbase=shelf\r\n");
  }
  void TearDown() override {
    form.reset();
    ui::SetUserDialogs(nullptr);
    ui::Application().DispatchPendingMessages();
    ui::Application().ClearTerminated();
  }

  TQuillonForm& StartShown() {
    form = std::make_unique<TQuillonForm>(dir.Path(), browser);
    form->Show();
    auto handler = form->web->OnDocumentComplete;
    form->web->OnDocumentComplete = [this, handler](ui::TOwnedObject& s, const std::string& a) {
      completed.push_back(a);
      handler(s, a);
    };
    return *form;
  }

  // Runs the message loop until the page host completed more than `before` documents (false after
  // 15 s). A page of the test's server may complete while the click is still being handled.
  bool WaitForPage(std::size_t before) { return WaitForPageWithin(before, 15000); }
  bool WaitForPageWithin(std::size_t before, DWORD limitMs) {
    DWORD start = GetTickCount();
    while (completed.size() == before && GetTickCount() - start < limitMs) {
      ui::Application().DispatchPendingMessages();
      Sleep(10);
    }
    return completed.size() > before;
  }

  // Clicks the song list's entry title as a person does.
  void ClickSong(const std::string& title) {
    int i = form->songList->IndexOf(title);
    ASSERT_GE(i, 0) << title;
    RECT item;
    SendMessageA(form->songList->Handle(), LB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item));
    SendMessageA(form->songList->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.left + 4, item.top + 4));
    SendMessageA(form->songList->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(item.left + 4, item.top + 4));
    ui::Application().DispatchPendingMessages();
  }

  // Adds a row to the lyric table before the window opens it.
  void AddLyricRow(const TLyricRow& row) {
    dataset::TQuarryTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("lyrics.dat");
    t.Open();
    t.Append();
    t.FieldNamed("songname").SetAsString(row.songname);
    t.FieldNamed("lyrics").SetAsString(row.lyrics);
    t.FieldNamed("songindex").SetAsInteger(row.songindex);
    t.FieldNamed("songdb").SetAsString(row.songdb);
    t.Post();
  }

  void LocateAlbum(const std::string& album) {
    ASSERT_TRUE(form->t1.Locate("album", dataset::TFieldValue{album})) << album;
  }

  // The lyric table's rows, read after the window is gone.
  std::vector<TLyricRow> LyricRows() {
    form.reset();
    dataset::TQuarryTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("lyrics.dat");
    t.Open();
    std::vector<TLyricRow> rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.push_back({t.FieldNamed("songname").AsString(), t.FieldNamed("lyrics").AsString(),
                      t.FieldNamed("songdb").AsString(), t.FieldNamed("songindex").AsInteger()});
    return rows;
  }

  web::testing::TTestServer server;
  quillon::testing::TempDir dir;
  ui::testing::RecordingDialogs dialogs;
  web::testing::TRecordingBrowser browser;
  std::unique_ptr<TQuillonForm> form;
  std::vector<std::string> completed;
};

TEST_F(SongPageTest, AnArtistWithAnApostropheListsItsAlbumsAndTheFirstAlbumsSongs) {
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
  EXPECT_EQ(f.t1.Filter(), "Artist='O''Neil'");
  EXPECT_EQ(f.t1.RecordCount(), 3);
  EXPECT_EQ(f.pages->ActivePageIndex(), 1);
  EXPECT_EQ(f.Setting.lastpageindex, 1);
  EXPECT_EQ(f.albumLabel->Caption(), "O'Neil");
  ASSERT_EQ(f.AlbumGrid->Columns().size(), 1u);
  EXPECT_EQ(f.AlbumGrid->CellText(0, 0), "Alpha");
  EXPECT_EQ(f.AlbumGrid->CellText(2, 0), "Long");
  EXPECT_EQ(f.songList->Items(), (std::vector<std::string>{"Evening", "Morning"}));
  EXPECT_EQ(f.Setting.LastAlbum, "Alpha");
}

TEST_F(SongPageTest, TenAlbumsKeepTheCovePanelAndPutTheSongsBelowElevenDoNot) {
  TQuillonForm& f = StartShown();
  struct Case {
    const char* artist;
    bool cove;
    int songTop;
  } cases[] = {{"Ten", true, 10 * 19 + 32 + 10}, {"Eleven", false, 220}, {"O'Neil", true, 3 * 19 + 32 + 10}};
  int pageHeight = f.songTab->ClientHeight();
  for (const Case& c : cases) {
    f.SelectArtist(c.artist, true);
    EXPECT_EQ(f.covePanel->Visible(), c.cove) << c.artist;
    EXPECT_EQ(f.SongListPanel->Top(), c.songTop) << c.artist;
    EXPECT_EQ(f.SongListPanel->Top() + f.SongListPanel->Height(), pageHeight - 40) << c.artist;
    EXPECT_EQ(f.LyricMemo->Top() + f.LyricMemo->Height(), pageHeight - 45) << c.artist;
  }
  // The eleventh album's single song comes from its own beginID.
  f.SelectArtist("Eleven", true);
  LocateAlbum("Eleven 121");
  EXPECT_EQ(f.songList->Items(), std::vector<std::string>{"Song 21"});
}

TEST_F(SongPageTest, AnAlbumStartingAtRecordThreeListsEachTitleOnceSorted) {
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  LocateAlbum("Beta");  // beginID 3: the scan starts at the first record
  EXPECT_EQ(f.songList->Items(), (std::vector<std::string>{"Anchor", "Sailor"}));
  EXPECT_EQ(f.Setting.LastAlbum, "Beta");
  // Sorted once: a later addition stays at the end.
  f.songList->Add("Aardvark");
  EXPECT_EQ(f.songList->Item(2), "Aardvark");
}

TEST_F(SongPageTest, TheOwnLyricsBaseFindsAnAlbumsSongsAnywhereInTheTable) {
  dir.Write("lyrics.ini", "[set]\r\nbase=MyLyrics\r\n");
  TQuillonForm& f = StartShown();
  f.SelectArtist("Me", true);
  EXPECT_TRUE(f.IsOwnLyricsBase());
  EXPECT_EQ(f.songList->Items(), (std::vector<std::string>{"Five", "One", "Three"}));
  // Any stored text is shown, however short, and no page is ever asked.
  ClickSong("One");
  EXPECT_EQ(f.LyricMemo->Text(), "short own");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(SongPageTest, AStoredTextLongerThan100CharactersIsShownFromTheTable) {
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  ClickSong("Morning");
  EXPECT_EQ(f.LyricMemo->Text(), kLong101);
  EXPECT_EQ(f.songLabel->Caption(), "Morning");
  EXPECT_TRUE(f.songLabel->Visible());
  EXPECT_TRUE(f.songtb->Visible());
  EXPECT_EQ(f.songtb->Left(), f.songLabel->Left() + f.songLabel->Width() + 8);
  EXPECT_FALSE(f.Gauge1->Visible());
  // Nothing was loaded.
  for (int i = 0; i < 20; ++i) {
    ui::Application().DispatchPendingMessages();
    Sleep(10);
  }
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_TRUE(completed.empty());
}

TEST_F(SongPageTest, A100CharacterTextIsFetchedAgainAndTheRowEditedWithTheFirstIdReplaced) {
  server.Route("/lyric-e1.html?again=[id]", Html("<h2>Evening</h2><p>" + Repeat('w', 120) + "<br>end</p>"));
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  ClickSong("Evening");
  ASSERT_TRUE(WaitForPage(0));
  EXPECT_TRUE(dialogs.messages.empty());
  // Only the first "[id]" of the template is replaced.
  EXPECT_EQ(completed.back(), server.Address("/lyric-e1.html?again=[id]"));
  std::string expected = Repeat('w', 120) + "\r\nend\r\n";
  EXPECT_EQ(f.LyricMemo->Text(), expected);
  EXPECT_EQ(f.LyricMemo->Font().charset, DEFAULT_CHARSET);
  EXPECT_FALSE(f.Gauge1->Visible());
  EXPECT_GT(f.Gauge1->Position(), 0);  // the load's progress reached the gauge
  std::vector<TLyricRow> rows = LyricRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1], (TLyricRow{"Evening", expected, "shelf", 2}));
  EXPECT_EQ(rows[0].lyrics, kLong101);
}

TEST_F(SongPageTest, AFetchedTextIsAppendedOnlyWhenLongerThan100Characters) {
  // Sailor (record 3) has no row; "Track 1001" gets a text of exactly 100 characters.
  server.Route("/lyric-s2.html?again=[id]", Html("<h2>Sailor</h2><p>" + Repeat('s', 200) + "</p>"));
  server.Route("/lyric-t1.html?again=[id]", Html("<h2>Track 1001</h2><p>" + Repeat('t', 98) + "</p>"));
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  LocateAlbum("Beta");
  ClickSong("Sailor");
  ASSERT_TRUE(WaitForPage(0));
  EXPECT_EQ(f.LyricMemo->Text(), Repeat('s', 200) + "\r\n");
  LocateAlbum("Long");
  ClickSong("Track 1001");
  ASSERT_TRUE(WaitForPage(1));
  EXPECT_EQ(f.LyricMemo->Text(), Repeat('t', 98) + "\r\n");  // 100 characters: shown, not kept
  std::vector<TLyricRow> rows = LyricRows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4], (TLyricRow{"Sailor", Repeat('s', 200) + "\r\n", "shelf", 3}));
}

TEST_F(SongPageTest, CtrlSkipsTheLyricTableAndTheFetchedTextStillReplacesTheRow) {
  server.Route("/lyric-m1.html?again=[id]", Html("<h2>Morning</h2><p>" + Repeat('n', 150) + "</p>"));
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  ClickSong("Evening");  // opens the lyric table (and loads its page)
  ASSERT_TRUE(WaitForPage(0));
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  f.ShowSong("Morning", false);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  EXPECT_EQ(f.songList->Item(f.songList->ItemIndex()), "Morning");
  ASSERT_TRUE(WaitForPage(1));
  EXPECT_EQ(f.LyricMemo->Text(), Repeat('n', 150) + "\r\n");
  std::vector<TLyricRow> rows = LyricRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (TLyricRow{"Morning", Repeat('n', 150) + "\r\n", "shelf", 1}));
}

TEST_F(SongPageTest, ASongWithoutPageIdentifierAsksAndYesSearchesTheWeb) {
  dir.Write("search.ini", "[Lyrics]\r\nurl=L:[song]/[artist]\r\n");
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  LocateAlbum("Beta");
  for (bool yes : {false, true}) {
    dialogs.questions.clear();
    browser.browsed.clear();
    dialogs.answer = yes;
    ClickSong("Anchor");
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>{"Failed to open lyrics base, do you want to search it from Internet?"});
    EXPECT_EQ(browser.browsed, yes ? std::vector<std::string>{"L:Anchor/O'Neil"} : std::vector<std::string>{});
  }
  EXPECT_FALSE(f.Gauge1->Visible());
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(SongPageTest, ASongFarBeforeTheSongTablesPositionIsStillFound) {
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  // The song table's cursor far behind the album's songs (as after another album or a search).
  f.t2.Last();
  ASSERT_GT(f.t2.RecNo(), 201);
  ClickSong("Morning");
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ(f.LyricMemo->Text(), kLong101);
  EXPECT_EQ(f.t2.RecNo(), 1);
}

TEST_F(SongPageTest, RestoreViewLocatesTheLastAlbumAndLoadsItsSongs) {
  dir.Write("lyrics.ini", "[set]\r\nbase=shelf\r\nlastpageindex=1\r\nlastartist=O'Neil\r\nLastAlbum=Beta\r\n");
  TQuillonForm& f = StartShown();
  EXPECT_EQ(f.pages->ActivePageIndex(), 1);
  EXPECT_EQ(f.t1.FieldNamed("album").AsString(), "Beta");
  EXPECT_EQ(f.songList->Items(), (std::vector<std::string>{"Anchor", "Sailor"}));
  form.reset();
  // An album that is gone: the first album stays current and no songs are loaded.
  dir.Write("lyrics.ini", "[set]\r\nbase=shelf\r\nlastpageindex=1\r\nlastartist=O'Neil\r\nLastAlbum=Gone\r\n");
  TQuillonForm& g = StartShown();
  EXPECT_EQ(g.t1.FieldNamed("album").AsString(), "Alpha");
  EXPECT_EQ(g.songList->Count(), 0);
  EXPECT_EQ(g.Setting.LastAlbum, "Gone");
}

TEST_F(SongPageTest, SwitchingBasesRepointsTheTablesAndKeepsTheArtistFilter) {
  TQuillonForm& f = StartShown();
  f.SelectArtist("Me", true);
  EXPECT_EQ(f.t1.RecordCount(), 0);
  f.SwitchBase("MyLyrics");
  EXPECT_EQ(f.t1.TableName(), "MyLyricsAlbum.dat");
  EXPECT_EQ(f.t2.TableName(), "MyLyricsSong.dat");
  EXPECT_EQ(f.t1.DatabaseName(), dir.File("MyLyrics\\"));
  EXPECT_TRUE(f.IsAlbumTableFiltered());
  EXPECT_EQ(f.t1.RecordCount(), 1);
  EXPECT_EQ(f.pages->ActivePageIndex(), 0);
  // Page 1 keeps what it shows while the album table is filtered.
  f.pages->SetActivePageIndex(1);
  f.pagesChange(*f.pages);
  EXPECT_EQ(f.albumLabel->Caption(), "Me");
}

TEST_F(SongPageTest, ASeveralMegabytePageKeepsTheWindowAnsweringAndItsTextBounded) {
  const std::size_t limit = 64 * 1024;
  server.Route("/lyric-e1.html?again=[id]", Html(HugePage("Evening", 6u << 20)));
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  TAnswerWatch watch(f.Handle());
  ClickSong("Evening");
  ASSERT_TRUE(WaitForPage(0));
  // The text is cut after a whole line within the bound, and the note says so.
  std::string shown = f.LyricMemo->Text();
  EXPECT_LE(shown.size(), limit);
  EXPECT_GT(shown.size(), limit - 100);
  EXPECT_EQ(shown.substr(0, 30), "la la la, line 0 of a page far");
  EXPECT_EQ(shown.substr(shown.size() - 2), "\r\n");
  EXPECT_TRUE(f.lyricNote->Visible());
  EXPECT_EQ(f.lyricNote->Caption(), "This text is longer than 64 KB: only its beginning is shown.");
  // The next song replaces the long text at once.
  DWORD start = GetTickCount();
  ClickSong("Morning");
  DWORD replace = GetTickCount() - start;
  EXPECT_EQ(f.LyricMemo->Text(), kLong101);
  EXPECT_FALSE(f.lyricNote->Visible());
  DWORD longest = watch.Stop();
  // What the window cannot avoid doing on its own thread: setting the bounded text and replacing
  // it. Where the machine runs that slowly (a loaded machine, the emulated 32-bit run) the limit
  // grows with it; a page read on the window's thread would still cost many times more.
  start = GetTickCount();
  f.LyricMemo->SetText(shown);
  f.LyricMemo->SetText(kLong101);
  const DWORD allowed = std::max<DWORD>(1000, 3 * (GetTickCount() - start));
  EXPECT_LT(replace, allowed);
  EXPECT_LT(longest, allowed) << "the window kept a message waiting this long (ms)";
  std::vector<TLyricRow> rows = LyricRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1].songname, "Evening");
  EXPECT_EQ(rows[1].lyrics, shown);
}

TEST_F(SongPageTest, AStoredTextOverTheBoundIsShownCutWithANote) {
  std::string text;
  for (int i = 0; text.size() < 100000; ++i) text += "stored line " + std::to_string(i) + "\r\n";
  AddLyricRow({"Sailor", text, "shelf", 3});
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  LocateAlbum("Beta");
  ClickSong("Sailor");
  std::string shown = f.LyricMemo->Text();
  ASSERT_LE(shown.size(), 64u * 1024);
  EXPECT_GT(shown.size(), 64u * 1024 - 30);
  EXPECT_EQ(shown, text.substr(0, shown.size()));
  EXPECT_EQ(shown.substr(shown.size() - 2), "\r\n");
  EXPECT_TRUE(f.lyricNote->Visible());
  EXPECT_TRUE(server.Requests().empty());
  // The row itself is left as it is.
  std::vector<TLyricRow> rows = LyricRows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4].lyrics, text);
}

TEST_F(SongPageTest, BoundLyricsCutsAfterTheLastLineEndWithinTheBound) {
  const std::size_t limit = 64 * 1024;
  std::string lines;
  while (lines.size() < limit + 50) lines += "0123456789abcd\r\n";  // 16 characters a line
  struct TCase {
    const char* what;
    std::string text;
    std::size_t size;
    bool cut;
  } cases[] = {
      {"short", "a\r\nb\r\n", 6, false},
      {"exactly the bound", std::string(limit, 'x'), limit, false},
      {"one over, no line end", std::string(limit + 1, 'x'), limit, true},
      {"lines", lines, limit, true},  // 64 KB is a whole number of 16-character lines
      {"lines, one short", lines.substr(1), limit - 1, true},
  };
  for (const TCase& c : cases) {
    TQuillonForm::TBoundedText b = TQuillonForm::BoundLyrics(c.text);
    EXPECT_EQ(b.text.size(), c.size) << c.what;
    EXPECT_EQ(b.cut, c.cut) << c.what;
    EXPECT_EQ(b.text, c.text.substr(0, c.size)) << c.what;
  }
}

TEST_F(SongPageTest, ANewerClickDropsTheOlderPageSoItIsNeitherShownNorStored) {
  TResponse slow = Html("<h2>Evening</h2><p>" + Repeat('w', 300) + "</p>");
  slow.slowPieces = 5;  // about a second
  server.Route("/lyric-e1.html?again=[id]", slow);
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  ClickSong("Evening");
  EXPECT_TRUE(f.Gauge1->Visible());
  ClickSong("Morning");
  EXPECT_FALSE(f.Gauge1->Visible());
  EXPECT_FALSE(WaitForPageWithin(0, 2500));
  EXPECT_EQ(f.LyricMemo->Text(), kLong101);
  std::vector<TLyricRow> rows = LyricRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].lyrics, kLong101);
  EXPECT_EQ(rows[1].lyrics, kShort100);
}

TEST_F(SongPageTest, ASongWhoseLyricsCannotBeLoadedGetsANoteInsteadOfAnEmptyMemo) {
  server.Route("/lyric-e1.html?again=[id]", Html("<h2>Other</h2><p>nothing of this song</p>"));
  TQuillonForm& f = StartShown();
  f.SelectArtist("O'Neil", true);
  ClickSong("Evening");
  ASSERT_TRUE(WaitForPage(0));
  EXPECT_EQ(f.LyricMemo->Text(), "");
  EXPECT_TRUE(f.lyricNote->Visible());
  EXPECT_EQ(f.lyricNote->Caption(), "The song's page holds no lyrics.");
  // A site that does not answer.
  f.Setting.Url = "http://127.0.0.1:1/[id]";
  ClickSong("Morning");
  EXPECT_FALSE(f.lyricNote->Visible());
  ClickSong("Evening");
  ASSERT_TRUE(WaitForPage(1));
  EXPECT_EQ(f.LyricMemo->Text(), "");
  EXPECT_EQ(f.lyricNote->Caption(), "The lyrics site did not answer; no lyrics could be loaded.");
  EXPECT_TRUE(f.lyricNote->Visible());
  // The note sits under the memo, in the lyrics area.
  EXPECT_EQ(f.lyricNote->Left(), f.LyricMemo->Left());
  EXPECT_GE(f.lyricNote->Top(), f.LyricMemo->Top() + f.LyricMemo->Height());
  EXPECT_LE(f.lyricNote->Top() + f.lyricNote->Height(), f.songTab->ClientHeight());
}

}  // namespace
}  // namespace quillon::app
