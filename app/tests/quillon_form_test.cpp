// The main window with real windows on a program folder of its own: start-up state, "lyrics.ini",
// the registry value, page switching, the base catalogue and its download questions, artist
// browsing, the sorting tool, the search callers, and the Help menu and About dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/testing/recording_dialogs.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/about_form.h"
#include "app/maker.h"
#include "app/quillon_form.h"
#include "app/tests/base_tables.h"
#include "app/tests/form_test.h"
#include "flatctl/flat_utilitys.h"
#include "skin/skin_menus.h"
#include "skin/skin_page_ctrl.h"
#include "skin/skin_services.h"
#include "ui/application.h"
#include "ui/dialogs.h"
#include "util/files.h"
#include "util/profile.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"

namespace quillon::app {
namespace {

using testing::SaveScreenshot;
using ui::testing::RecordingDialogs;

std::string ReadRegistry(const char* keyPath, const char* name) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? buffer : "<no value>";
}

// The version as the tree keeps it, in the file VERSION alone: "<major>.<minor>".
std::string SourceVersion() {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  if (!source) return "";
  std::ifstream file(std::string(source) + "/VERSION");
  std::string version;
  std::getline(file, version);
  if (!version.empty() && version.back() == '\r') version.pop_back();
  return version;
}

void SetKeyDown(int key, bool down) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[key] = down ? 0x80 : 0;
  SetKeyboardState(keys);
}

// The index of a window among its siblings from the top of the z-order.
int ZOrder(HWND window) {
  int n = 0;
  for (HWND w = GetWindow(GetParent(window), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT), ++n)
    if (w == window) return n;
  return -1;
}

COLORREF Pixel(HWND window, int x, int y) {
  UpdateWindow(window);
  HDC dc = GetDC(window);
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r\n";
  return text;
}

class QuillonFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
    AddBase("default", Lines({"[A]", "Abba=", "Aerosmith=", "[B]", "Beatles="}));
  }
  void TearDown() override {
    about.reset();
    form.reset();
    ui::SetUserDialogs(nullptr);
    ui::Application().DispatchPendingMessages();
    ui::Application().ClearTerminated();
  }

  // A base folder with its descriptor, artist index ("" leaves the index out) and empty album
  // and song tables.
  void AddBase(const std::string& name, const std::string& artists, const std::string& descriptor = "") {
    dir.MakeDir(name);
    dir.Write(name + "\\" + name + ".ini", descriptor.empty() ? Lines({"[db]", "artistfile=artist.ini"}) : descriptor);
    if (!artists.empty()) dir.Write(name + "\\artist.ini", artists);
    TProfileFile ini(dir.File(name + "\\" + name + ".ini"));
    std::string folder = dir.File(name + "\\");
    testing::CreateTable(dir, folder, testing::kAlbumsSchema, ini.ReadString("db", "AlbumDb", "AlbumList.dat"), "");
    testing::CreateTable(dir, folder, testing::kSongsSchema, ini.ReadString("db", "songDb", "songlist.dat"), "");
  }

  TQuillonForm& Start() {
    form = std::make_unique<TQuillonForm>(dir.Path(), browser);
    return *form;
  }
  TQuillonForm& StartShown() {
    Start();
    form->Show();
    return *form;
  }

  void ChooseBase(const std::string& name) {
    form->dbCb->SetItemIndex(form->dbCb->IndexOf(name));
    form->dbCbChange(*form->dbCb);
  }

  void ClickLetter(int col, int row) {
    RECT cell = form->AZGrid->CellRect(col, row);
    SendMessageA(form->AZGrid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cell.left + 4, cell.top + 4));
  }

  quillon::testing::TempDir dir;
  RecordingDialogs dialogs;
  web::testing::TRecordingBrowser browser;
  std::unique_ptr<TQuillonForm> form;
  std::unique_ptr<TAboutForm> about;
};

TEST_F(QuillonFormTest, FirstStartWithoutLyricsIniOpensDefaultOnLetterAPageZero) {
  TQuillonForm& f = StartShown();
  EXPECT_EQ(f.Caption(), "Pelmora Lyrics Base - Quillon");
  EXPECT_EQ(f.Setting.base, "default");
  EXPECT_EQ(f.Setting.lastchar, "A");
  EXPECT_EQ(f.Setting.lastpageindex, 0);
  EXPECT_EQ(f.Setting.baseDir, dir.Path() + "default\\");
  EXPECT_EQ(f.Setting.artistfile, "artist.ini");
  EXPECT_EQ(f.Setting.AlbumDb, "AlbumList.dat");
  EXPECT_EQ(f.Setting.songDb, "songlist.dat");
  EXPECT_EQ(f.pages->ActivePageIndex(), 0);
  EXPECT_EQ(f.artistList->Items(), (std::vector<std::string>{"Abba", "Aerosmith"}));
  EXPECT_EQ(f.dbCb->Text(), "default");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(ui::Application().Terminated());
  EXPECT_EQ(ReadRegistry("software\\Pelmora\\Quillon", "Path"), dir.Path());
}

TEST_F(QuillonFormTest, AltXClosesTheWindowAndWritesLyricsIniKeysInOrder) {
  TQuillonForm& f = StartShown();
  ClickLetter(2, 0);  // "B"
  SetKeyDown(VK_MENU, true);
  MSG msg = {f.Handle(), WM_SYSKEYDOWN, 'X', 0x20000001, 0, {0, 0}};
  ui::Application().DispatchOne(msg);
  SetKeyDown(VK_MENU, false);
  EXPECT_FALSE(f.Visible());
  EXPECT_TRUE(ui::Application().Terminated());
  EXPECT_EQ(dir.Read("lyrics.ini"),
            Lines({"[set]", "lastchar=B", "lastartist=", "lastpageindex=0", "LastAlbum=", "base=default"}));
}

TEST_F(QuillonFormTest, AMissingBaseIsReportedAndEndsTheProgramWithoutSavingState) {
  const std::string state = Lines({"[set]", "base=gone", "lastchar=Q"});
  dir.Write("lyrics.ini", state);
  TQuillonForm& f = Start();
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Can't find lyrics base \"gone\""}));
  EXPECT_TRUE(ui::Application().Terminated());
  // The remaining start-up steps still ran on the missing base: defaults and an empty index.
  EXPECT_EQ(f.Setting.base, "gone");
  EXPECT_EQ(f.Setting.artistfile, "artist.ini");
  ui::Application().Run();  // ends at once, showing nothing
  EXPECT_FALSE(f.Visible());
  form.reset();
  EXPECT_EQ(dir.Read("lyrics.ini"), state);
}

TEST_F(QuillonFormTest, RestoreViewShowsTheLettersArtistsWhenNoArtistWasSelected) {
  struct Case {
    const char* state;
    int page;
    std::vector<std::string> artists;
  } cases[] = {
      {"lastpageindex=1\r\nlastchar=B\r\n", 0, {"Beatles"}},
      {"lastpageindex=0\r\nlastchar=B\r\nlastartist=Beatles\r\n", 0, {"Beatles"}},
      {"lastpageindex=2\r\nlastchar=A\r\nlastartist=Abba\r\n", 2, {}},
      {"lastpageindex=7\r\nlastchar=B\r\nlastartist=Beatles\r\n", 0, {"Beatles"}},  // damaged
  };
  for (const Case& c : cases) {
    dir.Write("lyrics.ini", std::string("[set]\r\n") + c.state);
    StartShown();
    EXPECT_EQ(form->pages->ActivePageIndex(), c.page) << c.state;
    EXPECT_EQ(form->artistList->Items(), c.artists) << c.state;
    form.reset();
  }
}

TEST_F(QuillonFormTest, TheSystemMenuSwitchesPagesAndAsksForAnArtistFirst) {
  TQuillonForm& f = StartShown();
  f.SearchLyrics1Click(*f.AlbumSongs1);
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Please select an artist."}));
  EXPECT_EQ(f.pages->ActivePageIndex(), 0);

  f.SearchLyrics1Click(*f.SearchLyrics1);
  EXPECT_EQ(f.pages->ActivePageIndex(), 2);
  EXPECT_EQ(f.Setting.lastpageindex, 2);

  f.SearchLyrics1Click(*f.SelectArtist1);
  EXPECT_EQ(f.pages->ActivePageIndex(), 0);
  EXPECT_EQ(f.Setting.lastpageindex, 0);

  // With an artist chosen in the list, page 1 names it.
  f.artistList->SetItemIndex(1);
  f.artistListClick(*f.artistList);
  EXPECT_EQ(f.Setting.lastartist, "Aerosmith");
  EXPECT_EQ(f.pages->ActivePageIndex(), 1);
  EXPECT_EQ(f.albumLabel->Caption(), "Aerosmith");
  f.SearchLyrics1Click(*f.AlbumSongs1);
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(f.pages->ActivePageIndex(), 1);
}

TEST_F(QuillonFormTest, HoldingCtrlAtShowLeavesThePageHostInFront) {
  for (bool ctrl : {false, true}) {
    Start();
    SetKeyDown(VK_CONTROL, ctrl);
    form->Show();
    SetKeyDown(VK_CONTROL, false);
    EXPECT_EQ(ZOrder(form->web->Handle()) < ZOrder(form->Panel1->Handle()), ctrl) << ctrl;
    EXPECT_GT(ZOrder(form->printPanel->Handle()), ZOrder(form->Panel1->Handle()));
    form.reset();
  }
}

TEST_F(QuillonFormTest, TheBaseListHoldsInstalledBasesSortedThenDownloadsThenMore) {
  AddBase("beta", "");
  AddBase("Alpha", "");
  dir.MakeDir("nodesc");  // a folder without its descriptor is no base
  dir.Write("nodesc\\other.ini", "[db]\r\n");
  dir.Write("loose.ini", "[db]\r\n");  // an .ini beside the program is no base either
  dir.Write("search.ini", Lines({"[db]", "rock=12#5", "ALPHA=3#4", "pop=1#5"}));
  StartShown();
  std::vector<std::string> items;
  for (int i = 0; i < form->dbCb->Count(); ++i) items.push_back(form->dbCb->Item(i));
  EXPECT_EQ(items, (std::vector<std::string>{"Alpha", "beta", "default", "rock", "pop", "more..."}));
  EXPECT_EQ(form->dbCb->ItemIndex(), 2);
}

TEST_F(QuillonFormTest, ChoosingABaseThatIsNotInstalledAsksToDownloadIt) {
  dir.Write("search.ini", Lines({"[db]", "rock=12#5", "pop=1#5", "jazz=abc#12", "blues=1200", "folk=7#x", "soul=0#9",
                                 "funk=120#45"}));
  struct Case {
    const char* name;
    const char* question;
  } cases[] = {
      {"rock", "Lyrics base \"rock\" contains about 12 songs and 5 artists, do you want to download it now?"},
      {"pop", "Failed to open this lyrics base, do you want to download it now?"},  // length 3
      {"jazz", "Failed to open this lyrics base, do you want to download it now?"},
      {"blues", "Failed to open this lyrics base, do you want to download it now?"},
      {"folk", "Failed to open this lyrics base, do you want to download it now?"},
      {"soul", "Failed to open this lyrics base, do you want to download it now?"},
      {"funk", "Lyrics base \"funk\" contains about 120 songs and 45 artists, do you want to download it now?"},
  };
  StartShown();
  for (const Case& c : cases) {
    dialogs.questions.clear();
    browser.opened.clear();
    dialogs.answer = true;
    ChooseBase(c.name);
    EXPECT_EQ(dialogs.questions, (std::vector<std::string>{c.question})) << c.name;
    EXPECT_EQ(browser.opened, (std::vector<std::string>{BaseDownloadPage(c.name)})) << c.name;
    // The previous base stays open; the box keeps showing the chosen name.
    EXPECT_EQ(form->Setting.base, "default");
    EXPECT_EQ(form->dbCb->Text(), c.name);
  }
  browser.opened.clear();
  dialogs.answer = false;
  ChooseBase("rock");
  EXPECT_TRUE(browser.opened.empty());
  EXPECT_EQ(BaseDownloadPage("rock"), "http://www.pelmora.example/lyrics/rock.html");
}

TEST_F(QuillonFormTest, MoreAnsweredNoChangesNothingAndYesOpensTheSite) {
  dir.Write("search.ini", Lines({"[db]", "pop=12#5"}));
  TQuillonForm& f = StartShown();
  ClickLetter(2, 0);  // "B"
  ChooseBase("more...");
  EXPECT_EQ(dialogs.questions, (std::vector<std::string>{"Visit www.pelmora.example for more lyrics bases now?"}));
  EXPECT_TRUE(browser.opened.empty());
  EXPECT_EQ(f.Setting.base, "default");
  EXPECT_EQ(f.artistList->Items(), (std::vector<std::string>{"Beatles"}));
  // The box shows the open base again, not "more...".
  EXPECT_EQ(f.dbCb->Text(), "default");
  EXPECT_EQ(f.dbCb->ItemIndex(), f.dbCb->IndexOf("default"));
  // After a download name was chosen (and kept shown), No brings that name back.
  ChooseBase("pop");
  ChooseBase("more...");
  EXPECT_EQ(f.dbCb->Text(), "pop");
  dialogs.answer = true;
  ChooseBase("more...");
  EXPECT_EQ(browser.opened, (std::vector<std::string>{"http://www.pelmora.example/"}));
}

TEST_F(QuillonFormTest, SwitchingToAnInstalledBaseReadsItsDescriptorAndListsTheArtistsOfA) {
  AddBase("rock", "",
          Lines({"[db]", "artistfile=names.ini", "AlbumDb=rockalbums.dat", "songDb=rocksongs.dat", "[info]",
                 "Url=http://lyrics.example/[id].html"}));
  dir.Write("rock\\names.ini", Lines({"[A]", "AC/DC=", "Accept=", "[B]", "Boston="}));
  TQuillonForm& f = StartShown();
  ClickLetter(2, 0);  // "B" in the default base
  ChooseBase("rock");
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ(f.Setting.base, "rock");
  EXPECT_EQ(f.Setting.baseDir, dir.Path() + "rock\\");
  EXPECT_EQ(f.Setting.artistfile, "names.ini");
  EXPECT_EQ(f.Setting.AlbumDb, "rockalbums.dat");
  EXPECT_EQ(f.Setting.songDb, "rocksongs.dat");
  EXPECT_EQ(f.Setting.Url, "http://lyrics.example/[id].html");
  EXPECT_EQ(f.Setting.lastchar, "B");  // not changed by the switch
  EXPECT_EQ(f.artistList->Items(), (std::vector<std::string>{"AC/DC", "Accept"}));
  EXPECT_EQ(f.pages->ActivePageIndex(), 0);
}

TEST_F(QuillonFormTest, ABaseWithoutItsArtistIndexListsNoArtists) {
  AddBase("bare", "");  // descriptor only
  TQuillonForm& f = StartShown();
  ChooseBase("bare");
  EXPECT_EQ(f.Setting.base, "bare");
  EXPECT_EQ(f.artistList->Count(), 0);
  ClickLetter(2, 0);
  EXPECT_EQ(f.artistList->Count(), 0);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(QuillonFormTest, TheArtistListGetsASixthColumnAt180Names) {
  std::string index = "[A]\r\n";
  for (int i = 0; i < 180; ++i) index += "Artist " + std::to_string(1000 + i) + "=\r\n";
  index += "[B]\r\n";
  for (int i = 0; i < 179; ++i) index += "Band " + std::to_string(1000 + i) + "=\r\n";
  dir.Write("default\\artist.ini", index);
  TQuillonForm& f = StartShown();
  EXPECT_EQ(f.artistList->Count(), 180);
  EXPECT_EQ(f.artistList->Columns(), 6);
  ClickLetter(2, 0);  // "B"
  EXPECT_EQ(f.artistList->Count(), 179);
  EXPECT_EQ(f.artistList->Columns(), 5);
}

TEST_F(QuillonFormTest, LetterCellsListTheirSectionsIgnoringCase) {
  dir.Write("default\\artist.ini", Lines({"[#]", "10cc=", "[A]", "Abba=", "[m]", "madonna=", "[~]", "~tilde="}));
  TQuillonForm& f = StartShown();
  struct Case {
    int col, row;
    const char* letter;
    std::vector<std::string> artists;
  } cases[] = {
      {0, 0, "#", {"10cc"}},    {6, 3, "~", {"~tilde"}},
      {6, 1, "M", {"madonna"}},  // added in lower case, found under the capital
      {1, 0, "A", {"Abba"}},    {3, 0, "C", {}},
  };
  for (const Case& c : cases) {
    f.pages->SetActivePageIndex(2);
    ClickLetter(c.col, c.row);
    EXPECT_EQ(f.Setting.lastchar, c.letter);
    EXPECT_EQ(f.artistList->Items(), c.artists) << c.letter;
    EXPECT_EQ(f.pages->ActivePageIndex(), 0);
  }
}

TEST_F(QuillonFormTest, TheSortingToolSortsEverySectionAndClearsTheValues) {
  dir.Write("default\\artist.ini", Lines({"[B]", "zz top=1", "Bb=1", "ba=", "[A]", "b=1", "a=1"}));
  AddBase("noindexkey", "", Lines({"[info]", "Url=x"}));  // no artistfile: skipped
  const std::string untouched = Lines({"[C]", "z=1", "a=1"});
  dir.Write("noindexkey\\artist.ini", untouched);
  AddBase("missingindex", "", Lines({"[db]", "artistfile=gone.ini"}));
  TQuillonForm& f = StartShown();
  f.Button1Click(*f.Button1);
  EXPECT_EQ(dir.Read("default\\artist.ini"), Lines({"[B]", "ba=", "Bb=", "zz top=", "", "[A]", "a=", "b="}));
  EXPECT_EQ(dir.Read("noindexkey\\artist.ini"), untouched);
  EXPECT_FALSE(IsExistingFile(dir.Path() + "missingindex\\gone.ini"));
  EXPECT_EQ(f.Button1->Caption(), "A:artist.ini");
  EXPECT_FALSE(f.Button1->Visible());
}

TEST_F(QuillonFormTest, TheFourSearchCallersOpenTheirAddresses) {
  dir.Write("search.ini", Lines({"[Lyrics]", "url=L:[song]/[artist]/[song]", "[Mp3]", "url=M:[artist]-[song]"}));
  TQuillonForm& f = StartShown();
  f.songEdit2->SetText("Song [artist]");
  f.artistEdit2->SetText("Abba");
  SendMessageA(f.FlatButton1->Handle(), BM_CLICK, 0, 0);
  SendMessageA(f.FlatButton2->Handle(), BM_CLICK, 0, 0);
  f.songEdit2->SetText("");
  f.artistEdit2->SetText("");
  SendMessageA(f.FlatButton1->Handle(), BM_CLICK, 0, 0);
  f.Setting.lastartist = "Beatles";
  f.songLabel->SetCaption("Help");
  f.SchNetLyricB->Click();
  f.ToolButton5->Click();
  EXPECT_EQ(browser.browsed, (std::vector<std::string>{"L:Song Abba/[artist]/[song]", "M:Abba-Song [artist]",
                                                       "L://[song]", "L:Help/Beatles/[song]", "M:Beatles-Help"}));
  EXPECT_EQ(f.SchNetLyricB->Hint, "Search Lyrics from Internet...");
  EXPECT_EQ(f.ToolButton5->Hint, "Search Mp3 File...");
}

TEST_F(QuillonFormTest, HelpMenuOpensHelpSiteAndMail) {
  TQuillonForm& f = StartShown();
  f.OnlineHelp1->Click();
  dir.Write("help.html", "<html></html>");
  f.OnlineHelp1->Click();
  f.WebSite1->Click();
  f.Email1->Click();
  SendMessageA(f.Image1->Handle(), WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(browser.opened, (std::vector<std::string>{kMakerSite, dir.Path() + "help.html", kMakerSite,
                                                      "mailto:quillon@pelmora.example", kMakerSite}));
  EXPECT_EQ(f.Image1->Hint(), "Visit our web site");
  EXPECT_EQ(f.Image1->Picture().width, 218);  // the logo resource decoded
  EXPECT_FALSE(f.VersionM->Visible);
  EXPECT_EQ(f.VersionM->Hint, "1.6");
}

TEST_F(QuillonFormTest, AboutShowsModallyUntilOk) {
  TQuillonForm& f = StartShown();
  about = std::make_unique<TAboutForm>(browser);
  f.SetAboutForm(about.get());
  EXPECT_EQ(about->Caption(), "About");
  EXPECT_EQ(about->ClientWidth(), 342);
  EXPECT_EQ(about->ClientHeight(), 199);
  EXPECT_EQ(about->_TextTitle->Caption(), "Pelmora Lyrics Base");
  ASSERT_FALSE(SourceVersion().empty());
  EXPECT_EQ(about->Label1->Caption(), "Version " + SourceVersion());
  SendMessageA(about->_TextWebsite->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageA(about->_TextWebsite->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(browser.opened, (std::vector<std::string>{kMakerSite}));
  // The click arrives through the modal loop.
  PostMessageA(about->_BtnOK->Handle(), BM_CLICK, 0, 0);
  f.About1->Click();
  EXPECT_EQ(about->ModalResult(), ui::kDialogOk);
  EXPECT_FALSE(about->Visible());
  EXPECT_TRUE(f.Enabled());
  // Enter clicks the default button; Escape cancels.
  struct Key {
    WPARAM key;
    int result;
  } keys[] = {{VK_RETURN, ui::kDialogOk}, {VK_ESCAPE, ui::kDialogCancel}};
  for (const Key& k : keys) {
    PostMessageA(about->_BtnOK->Handle(), WM_KEYDOWN, k.key, 1);
    f.About1->Click();
    EXPECT_EQ(about->ModalResult(), k.result) << k.key;
  }
}

// ---- The keyboard, as a Windows user works -----------------------------------------------------

INPUT KeyInput(WORD key, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

// Presses key (with the modifiers held) through the system's input queue, then lets the message
// loop handle what it produced.
void Press(WORD key, std::initializer_list<WORD> modifiers = {}) {
  std::vector<INPUT> inputs;
  for (WORD m : modifiers) inputs.push_back(KeyInput(m, false));
  inputs.push_back(KeyInput(key, false));
  inputs.push_back(KeyInput(key, true));
  for (auto m = std::rbegin(modifiers); m != std::rend(modifiers); ++m) inputs.push_back(KeyInput(*m, true));
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  for (int i = 0; i < 3; ++i) {
    Sleep(10);
    ui::Application().DispatchPendingMessages();
  }
}

std::string FocusName() {
  ui::TWindowControl* c = ui::TWindowControl::FromHandle(GetFocus());
  return c ? c->Name() : "<none>";
}

class KeyboardTest : public QuillonFormTest {
 protected:
  TQuillonForm& StartFocused() {
    StartShown();
    SetForegroundWindow(form->Handle());
    SetActiveWindow(form->Handle());
    ui::Application().DispatchPendingMessages();
    return *form;
  }
};

TEST_F(KeyboardTest, TheBaseBoxHasTheFirstFocus) {
  StartFocused();
  EXPECT_EQ(FocusName(), "dbCb");
}

TEST_F(KeyboardTest, TabAndShiftTabWalkEveryPageInReadingOrderAndComeBack) {
  struct Page {
    int index;
    std::vector<std::string> stops;
  } pages[] = {
      {0, {"dbCb", "AZGrid", "pages", "artistList"}},
      {1, {"dbCb", "AZGrid", "pages", "AlbumGrid", "songList", "LyricMemo"}},
      {2,
       {"dbCb", "AZGrid", "pages", "songEdit2", "artistEdit2", "FlatButton1", "FlatButton2", "songEdit", "artistEdit",
        "fullschB", "lyricEdit", "lyricFindB", "DBGrid1", "viewLyricB"}},
  };
  TQuillonForm& f = StartFocused();
  for (const Page& page : pages) {
    f.pages->SetActivePageIndex(page.index);
    f.dbCb->SetFocus();
    std::vector<std::string> forward, backward;
    for (size_t i = 0; i < page.stops.size(); ++i) {
      Press(VK_TAB);
      forward.push_back(FocusName());
    }
    for (size_t i = 0; i < page.stops.size(); ++i) {
      Press(VK_TAB, {VK_SHIFT});
      backward.push_back(FocusName());
    }
    std::vector<std::string> expectForward(page.stops.begin() + 1, page.stops.end());
    expectForward.push_back(page.stops.front());
    // Back from the first stop: the last one, and so on down to the first again.
    std::vector<std::string> expectBackward(page.stops.rbegin(), page.stops.rend());
    EXPECT_EQ(forward, expectForward) << "page " << page.index;
    EXPECT_EQ(backward, expectBackward) << "page " << page.index;
  }
}

TEST_F(KeyboardTest, TheFocusComesBackAfterTheAboutBox) {
  TQuillonForm& f = StartFocused();
  about = std::make_unique<TAboutForm>(browser);
  f.SetAboutForm(about.get());
  f.pages->SetActivePageIndex(2);
  f.artistEdit->SetFocus();
  ASSERT_EQ(FocusName(), "artistEdit");
  // Enter, typed while the box is up, closes it through its default button.
  std::vector<INPUT> enter = {KeyInput(VK_RETURN, false), KeyInput(VK_RETURN, true)};
  SendInput(2, enter.data(), sizeof(INPUT));
  f.About1->Click();
  ui::Application().DispatchPendingMessages();
  EXPECT_EQ(about->ModalResult(), ui::kDialogOk);
  EXPECT_EQ(FocusName(), "artistEdit");
}

// What a real message box showed, found while it is up.
struct BoxSeen {
  bool found = false;
  HICON icon = nullptr;
};
BoxSeen boxSeen;

void CALLBACK CloseTheBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowA("#32770", nullptr);
  if (!box) return;
  KillTimer(nullptr, id);
  boxSeen.found = true;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      boxSeen.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  // Yes for a question, OK for the others.
  PostMessageA(box, WM_COMMAND, GetDlgItem(box, IDYES) ? IDYES : IDOK, 0);
}

TEST_F(KeyboardTest, MessageBoxesCarryTheIconOfTheirKindAndGiveTheFocusBack) {
  TQuillonForm& f = StartFocused();
  f.pages->SetActivePageIndex(2);
  f.songEdit2->SetFocus();
  ui::SetUserDialogs(nullptr);  // the system's boxes
  struct Kind {
    const char* what;
    LPCSTR icon;
    std::function<void()> show;
  } kinds[] = {
      {"information", IDI_INFORMATION, [] { ui::ShowInfo("Please select an artist."); }},
      {"error", IDI_ERROR, [] { ui::ShowError("Can't find lyrics base \"x\""); }},
      {"question", IDI_QUESTION, [] { EXPECT_TRUE(ui::Confirm("Go on?")); }},
  };
  for (const Kind& k : kinds) {
    boxSeen = {};
    SetTimer(nullptr, 0, 50, CloseTheBox);
    k.show();
    ui::Application().DispatchPendingMessages();
    EXPECT_TRUE(boxSeen.found) << k.what;
    EXPECT_EQ(boxSeen.icon, LoadIconA(nullptr, k.icon)) << k.what;
    EXPECT_EQ(FocusName(), "songEdit2") << k.what;
  }
  ui::SetUserDialogs(&dialogs);
}

TEST_F(KeyboardTest, TheMissingBaseMessageIsAnError) {
  dir.Write("lyrics.ini", Lines({"[set]", "base=gone"}));
  Start();
  EXPECT_EQ(dialogs.errors, (std::vector<std::string>{"Can't find lyrics base \"gone\""}));
}

TEST_F(KeyboardTest, TheLetterGridListsTheLetterChosenWithArrowsAndEnterOrSpace) {
  TQuillonForm& f = StartFocused();
  f.AZGrid->SetFocus();
  // The highlight starts on the letter whose artists are listed.
  EXPECT_EQ(f.AZGrid->Cell(f.AZGrid->Col(), f.AZGrid->Row()), "A");
  Press(VK_RIGHT);
  Press(VK_DOWN);
  // Arrows only move the focus cell: nothing is listed yet.
  EXPECT_EQ(f.AZGrid->Cell(f.AZGrid->FocusCol(), f.AZGrid->FocusRow()), "I");
  EXPECT_EQ(f.Setting.lastchar, "A");
  EXPECT_EQ(f.AZGrid->Cell(f.AZGrid->Col(), f.AZGrid->Row()), "A");
  Press(VK_UP);
  Press(VK_RETURN);
  EXPECT_EQ(f.Setting.lastchar, "B");
  EXPECT_EQ(f.artistList->Items(), (std::vector<std::string>{"Beatles"}));
  EXPECT_EQ(f.AZGrid->Cell(f.AZGrid->Col(), f.AZGrid->Row()), "B");
  Press(VK_LEFT);
  Press(VK_SPACE);
  EXPECT_EQ(f.Setting.lastchar, "A");
  EXPECT_EQ(f.artistList->Items(), (std::vector<std::string>{"Abba", "Aerosmith"}));
  // The edges hold the focus cell inside the grid.
  for (int i = 0; i < 10; ++i) Press(VK_LEFT);
  EXPECT_EQ(f.AZGrid->Cell(f.AZGrid->FocusCol(), f.AZGrid->FocusRow()), "#");
}

TEST_F(KeyboardTest, TheHighlightFollowsTheRememberedLetterInAnyCase) {
  dir.Write("lyrics.ini", Lines({"[set]", "lastchar=b"}));
  TQuillonForm& f = StartShown();
  EXPECT_EQ(f.AZGrid->Cell(f.AZGrid->Col(), f.AZGrid->Row()), "B");
  EXPECT_EQ(f.artistList->Items(), (std::vector<std::string>{"Beatles"}));
}

TEST_F(KeyboardTest, TheGridNamesTheRememberedLetterAfterARestartOnEveryPage) {
  for (int page : {0, 1, 2}) {
    dir.Write("lyrics.ini",
              Lines({"[set]", "lastchar=B", "lastartist=Abba", ("lastpageindex=" + std::to_string(page)).c_str()}));
    TQuillonForm& f = StartShown();
    EXPECT_EQ(f.pages->ActivePageIndex(), page);
    EXPECT_EQ(f.AZGrid->Cell(f.AZGrid->Col(), f.AZGrid->Row()), "B") << "page " << page;
    form.reset();
  }
}

TEST_F(KeyboardTest, APageChangeMadeFromCodeLeavesTheFocusOnAVisibleControl) {
  TQuillonForm& f = StartFocused();
  // Enter in the artist list opens page 1: the list that had the focus is hidden now.
  f.artistList->SetFocus();
  Press(VK_DOWN);
  Press(VK_RETURN);
  ASSERT_EQ(f.pages->ActivePageIndex(), 1);
  EXPECT_TRUE(IsWindowVisible(GetFocus())) << FocusName();
  EXPECT_EQ(FocusName(), "pages");
  // From the search page's field to page 1 (as a search result opens), and back to page 0 (as
  // the "System" menu's first item does through the letter's artists).
  f.pages->SetActivePageIndex(2);
  f.songEdit->SetFocus();
  ASSERT_EQ(FocusName(), "songEdit");
  f.SelectArtist("Abba", true);
  EXPECT_EQ(FocusName(), "pages");
  f.AlbumGrid->SetFocus();
  f.ShowArtists("B");
  EXPECT_EQ(FocusName(), "pages");
  // A control outside the pages keeps the focus.
  f.dbCb->SetFocus();
  std::string box = FocusName();
  f.SelectArtist("Abba", true);
  EXPECT_EQ(FocusName(), box);
}

TEST_F(KeyboardTest, TheSongToolBarIsReachedWithTabAndItsButtonsWithArrowsAndEnter) {
  dir.Write("search.ini", Lines({"[Lyrics]", "url=L:[song]", "[Mp3]", "url=M:[song]"}));
  TQuillonForm& f = StartFocused();
  f.pages->SetActivePageIndex(1);
  f.ShowSongTitle("Loch Lomond");
  f.LyricMemo->SetFocus();
  // Tab from the lyrics goes round to the tool bar before it comes back.
  bool reached = false;
  for (int i = 0; i < 10 && !reached; ++i) {
    Press(VK_TAB);
    reached = FocusName() == "songtb";
  }
  ASSERT_TRUE(reached) << FocusName();
  // The first button (search lyrics) is chosen; Right chooses the next (search MP3); Enter presses.
  Press(VK_RETURN);
  EXPECT_EQ(browser.browsed, std::vector<std::string>{"L:Loch Lomond"});
  Press(VK_RIGHT);
  Press(VK_SPACE);
  EXPECT_EQ(browser.browsed, (std::vector<std::string>{"L:Loch Lomond", "M:Loch Lomond"}));
  EXPECT_EQ(FocusName(), "songtb");
}

TEST_F(KeyboardTest, ArtistListArrowsBrowseAndEnterOpensTheArtist) {
  TQuillonForm& f = StartFocused();
  f.artistList->SetFocus();
  Press(VK_DOWN);
  Press(VK_DOWN);
  EXPECT_EQ(f.artistList->ItemIndex(), 1);
  EXPECT_EQ(f.Setting.lastartist, "");
  EXPECT_EQ(f.pages->ActivePageIndex(), 0);
  Press(VK_RETURN);
  EXPECT_EQ(f.Setting.lastartist, "Aerosmith");
  EXPECT_EQ(f.pages->ActivePageIndex(), 1);
}

TEST_F(KeyboardTest, CtrlTabAndCtrlPageKeysCycleThePagesAndKeepLastpageindex) {
  dir.Write("lyrics.ini", Lines({"[set]", "lastartist=Abba"}));
  TQuillonForm& f = StartFocused();
  struct Step {
    WORD key;
    std::initializer_list<WORD> modifiers;
    int page;
  } steps[] = {
      {VK_TAB, {VK_CONTROL}, 1},           {VK_TAB, {VK_CONTROL}, 2},   {VK_TAB, {VK_CONTROL}, 0},
      {VK_TAB, {VK_CONTROL, VK_SHIFT}, 2}, {VK_PRIOR, {VK_CONTROL}, 1}, {VK_NEXT, {VK_CONTROL}, 2},
  };
  for (const Step& step : steps) {
    Press(step.key, step.modifiers);
    EXPECT_EQ(f.pages->ActivePageIndex(), step.page);
    EXPECT_EQ(f.Setting.lastpageindex, step.page);
    // The focus is on a visible control: on page 2 the song field, as a tab click gives it.
    EXPECT_TRUE(IsWindowVisible(GetFocus())) << FocusName();
  }
  EXPECT_EQ(FocusName(), "songEdit");
}

TEST_F(KeyboardTest, LongArtistNamesEndInAGapInsteadOfRunningIntoTheNextColumn) {
  TQuillonForm& f = StartShown();
  f.artistList->SetItems({"Averyveryverylongartistnamethatfillsmorethanonecolumn", "B"});
  f.artistList->SetColumns(5);
  RECT item;
  SendMessageA(f.artistList->Handle(), LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
  int column = item.right - item.left;  // the first column starts at 0
  ASSERT_GT(column, 20);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, f.artistList->ClientWidth(), f.artistList->ClientHeight());
  HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageA(f.artistList->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  COLORREF back = GetSysColor(COLOR_WINDOW);
  int textInGap = 0, textBeforeGap = 0;
  for (int y = item.top; y < item.bottom; ++y) {
    for (int x = column - 4; x < column; ++x) textInGap += GetPixel(dc, x, y) != back;
    for (int x = column - 20; x < column - 4; ++x) textBeforeGap += GetPixel(dc, x, y) != back;
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(textInGap, 0);
  EXPECT_GT(textBeforeGap, 0);  // the name runs up to the gap, ending in "..."
}

TEST_F(KeyboardTest, TheAboutBoxMakerLineFitsItsLabel) {
  about = std::make_unique<TAboutForm>(browser);
  ui::TTextLabel* line = about->MakerLabel;
  HDC dc = GetDC(line->Handle());
  HGDIOBJ old = SelectObject(dc, ui::FontHandle(line->Font()));
  std::string text = line->Caption();
  SIZE extent;
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(line->Handle(), dc);
  EXPECT_NE(text.find("Pelmora"), std::string::npos);
  EXPECT_GE(line->Width(), extent.cx);
  // Inside the group box's frame, with a margin like the one on the left.
  EXPECT_LE(line->Left() + extent.cx, about->GroupBox1->ClientWidth() - 16);
}

TEST(ProgramFile, CarriesItsManifestAndVersion) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string program = FolderOf(self) + "..\\Quillon.exe";
  ASSERT_TRUE(IsExistingFile(program)) << program;
  HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, found))),
                       SizeofResource(module, found));
  FreeLibrary(module);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find(">false</dpiAware>"), std::string::npos);

  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(program.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, size, info.data()));
  auto value = [&](const char* name) {
    char* text = nullptr;
    UINT length = 0;
    std::string path = std::string("\\StringFileInfo\\040904E4\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
      return std::string();
    return std::string(text);
  };
  // Every version the program file carries is the one of the file VERSION.
  std::string version = SourceVersion();
  size_t dot = version.find('.');
  ASSERT_NE(dot, std::string::npos) << version;
  int major = std::atoi(version.substr(0, dot).c_str());
  int minor = std::atoi(version.substr(dot + 1).c_str());
  ASSERT_EQ(std::to_string(major) + "." + std::to_string(minor), version);
  EXPECT_NE(manifest.find("name=\"Pelmora.Quillon\" version=\"" + version + ".0.0\""), std::string::npos) << manifest;
  EXPECT_EQ(value("ProductVersion"), version);
  EXPECT_EQ(value("FileVersion"), version);
  EXPECT_EQ(value("CompanyName"), "Pelmora Software");
  EXPECT_EQ(value("ProductName"), "Quillon");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(minor, major)));
  EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(minor, major)));
}

TEST_F(QuillonFormTest, TheSearchPageAndTheOwnLyricsPanelAreMadeOfFlatControlsInTheirColours) {
  dir.Write("search.ini", Lines({"[Lyrics]", "url=L:[song]"}));
  SetCursorPos(1, 1);  // the mouse away from the window: nothing is hot
  TQuillonForm& f = StartShown();
  f.SearchLyrics1Click(*f.SearchLyrics1);
  ui::Application().DispatchPendingMessages();
  const ui::TColorRef face = RGB(184, 179, 163), button = RGB(217, 217, 217);

  // Search page: the flat edits fit the 8-point font and take the page's colour; the focused one
  // (songEdit, given the focus by the page change) is highlighted, the others are not.
  for (flatctl::TFlatEdit* edit : {f.songEdit2, f.artistEdit2, f.songEdit, f.artistEdit}) {
    EXPECT_EQ(edit->Height(), 19) << edit->Name();
    EXPECT_EQ(edit->ColorFlat(), face) << edit->Name();
    EXPECT_EQ(edit->Highlighted(), edit == f.songEdit) << edit->Name();
  }
  for (flatctl::TFlatButton* b : {f.FlatButton1, f.FlatButton2, f.fullschB, f.viewLyricB}) {
    EXPECT_EQ(b->Color(), button) << b->Name();
    EXPECT_EQ(Pixel(b->Handle(), 0, 0), flatctl::kFlatBorderColor) << b->Name();
    EXPECT_EQ(Pixel(b->Handle(), 2, 2), button) << b->Name();
  }
  // The group box's top line is open behind its caption.
  HWND group = f.FlatGroupBox1->Handle();
  SIZE caption = f.FlatGroupBox1->CaptionSize();
  EXPECT_EQ(Pixel(group, 5, caption.cy / 2), flatctl::kFlatBorderColor);
  EXPECT_NE(Pixel(group, caption.cx + 8, caption.cy / 2), flatctl::kFlatBorderColor);
  EXPECT_EQ(Pixel(group, caption.cx + 13, caption.cy / 2), flatctl::kFlatBorderColor);
  EXPECT_EQ(Pixel(f.dbCb->Handle(), 0, 0), flatctl::kFlatBorderColor);
  EXPECT_EQ(f.dbCb->Color(), GetSysColor(COLOR_WINDOW));
  // A real click on a flat button runs its command.
  f.songEdit2->SetText("Lantern Road");
  SendMessageA(f.FlatButton1->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  SendMessageA(f.FlatButton1->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(browser.browsed, (std::vector<std::string>{"L:Lantern Road"}));
  SaveScreenshot(f.Handle(), "flat_search_page.bmp");

  // The own-lyrics panel, as the switch "/ownlyrics" shows it.
  f.ShowOwnLyricsPanel();
  ui::Application().DispatchPendingMessages();
  EXPECT_EQ(f.FlatMemo1->Lines().size(), 20u);
  EXPECT_EQ(f.FlatMemo1->Lines()[6], "Example, content in file \"mylyrics.txt':");
  EXPECT_TRUE(f.FlatMemo1->ReadOnly());
  EXPECT_FALSE(f.LyricsMemo3->ReadOnly());
  EXPECT_FALSE(f.DisplayCheck->Enabled());
  EXPECT_FALSE(f.FlatGroupBox4->Enabled());
  for (flatctl::TFlatEdit* edit : {f.songEdit3, f.artistEdit3, f.albumEdit3}) {
    EXPECT_EQ(edit->Height(), 19) << edit->Name();
    EXPECT_EQ(edit->ColorFlat(), face) << edit->Name();
  }
  EXPECT_EQ(Pixel(f.DisplayCheck->Handle(), 1, 3), flatctl::kFlatBorderColor);
  SaveScreenshot(f.Handle(), "flat_own_lyrics_panel.bmp");
  f.Panel3->SetVisible(false);
}

// ---- The skinned frame, by keyboard and mouse ---------------------------------------------------

// The window wearing the skin of the source tree (the test folder has no "skin.dat").
class SkinnedWindowTest : public KeyboardTest {
 protected:
  TQuillonForm& StartSkinned() {
    TQuillonForm& f = StartFocused();
    const char* source = std::getenv("QUILLON_SOURCE_DIR");
    std::string skin = std::string("Z:") + (source ? source : "/work") + "/data/skin/config.osk";
    std::replace(skin.begin(), skin.end(), '/', '\\');
    f.scSkinEngine1->SetSkinFile(skin);
    Pump(100);
    EXPECT_NE(f.scSkinEngine1->Source(), nullptr) << skin;
    return f;
  }
  static void Pump(int ms) {
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
      ui::Application().DispatchPendingMessages();
      Sleep(5);
    } while (static_cast<int>(end - GetTickCount()) > 0);
  }
  // The skinned popup windows open now.
  static std::vector<HWND> MenuWindows() {
    std::vector<HWND> found;
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "QuillonSkinMenu", nullptr)) != nullptr)
      if (IsWindowVisible(w)) found.push_back(w);
    return found;
  }
  void CloseMenus() {
    Press(VK_ESCAPE);
    Pump(50);
    for (HWND w : MenuWindows()) DestroyWindow(w);
    Pump(50);
    SetForegroundWindow(form->Handle());
    Pump(50);
  }
};

TEST_F(SkinnedWindowTest, F10AltAndAltSpaceOpenTheSkinnedMenus) {
  TQuillonForm& f = StartSkinned();
  skin::TscSkinEngine& engine = *f.scSkinEngine1;
  ASSERT_FALSE(engine.MenuBarPopups().empty());
  struct TCase {
    const char* what;
    std::initializer_list<WORD> keys;
    bool system;
  } cases[] = {{"F10", {VK_F10}, false}, {"Alt alone", {VK_MENU}, false}, {"Alt+Space", {VK_SPACE, VK_MENU}, true}};
  for (const TCase& c : cases) {
    ASSERT_TRUE(MenuWindows().empty()) << c.what;
    if (c.system)
      Press(VK_SPACE, {VK_MENU});
    else
      Press(*c.keys.begin());
    Pump(100);
    EXPECT_EQ(MenuWindows().size(), 1u) << c.what;
    if (c.system) {
      EXPECT_NE(engine.SystemMenu()->Window, nullptr) << c.what;
    } else {
      EXPECT_EQ(engine.OpenPopup(), engine.MenuBarPopups()[0].get()) << c.what;
      // Down keeps it open ("System" and its items).
      Press(VK_DOWN);
      Pump(50);
      EXPECT_EQ(MenuWindows().size(), 1u) << c.what;
    }
    CloseMenus();
  }
}

TEST_F(SkinnedWindowTest, TheSystemMenuShowsPicturesOnlyOnItsCommands) {
  TQuillonForm& f = StartSkinned();
  skin::TscPopupMenu& menu = *f.scSkinEngine1->SystemMenu();
  int separators = 0, pictures = 0;
  for (const auto& item : menu.Items->Items()) {
    bool picture = menu.ItemPicture(*item) != nullptr;
    if (item->Caption() == "-") {
      ++separators;
      EXPECT_FALSE(picture) << "a separator shows a picture";
    } else if (picture) {
      ++pictures;
    }
  }
  EXPECT_GE(separators, 1);
  EXPECT_GE(pictures, 5);
  SaveScreenshot(f.Handle(), "skinned_main_window.bmp");
  PostMessageA(f.Handle(), skin::kSystemMenuMessage, 0, 0);
  Pump(200);
  std::vector<HWND> open = MenuWindows();
  ASSERT_EQ(open.size(), 1u);
  SaveScreenshot(open[0], "skinned_system_menu.bmp");
  CloseMenus();
}

TEST_F(SkinnedWindowTest, ADoubleClickOnTheCaptionMaximisesAndRestores) {
  TQuillonForm& f = StartSkinned();
  auto maximizedBit = [&] { return (f.scSkinEngine1->StateFlags() & skin::kFrameMaximized) != 0; };
  auto doubleClickCaption = [&] {
    RECT r;
    GetWindowRect(f.Handle(), &r);
    POINT caption = {r.left + 300, r.top + 10};
    ASSERT_EQ(SendMessageA(f.Handle(), WM_NCHITTEST, 0, MAKELPARAM(caption.x, caption.y)), HTCAPTION);
    SendMessageA(f.Handle(), WM_NCLBUTTONDBLCLK, HTCAPTION, MAKELPARAM(caption.x, caption.y));
  };
  // Without a window manager the platform takes a maximize back as the message loop turns (see
  // the engine's tests): the state is looked at before the loop runs.
  doubleClickCaption();
  EXPECT_TRUE(IsZoomed(f.Handle()));
  EXPECT_TRUE(maximizedBit());
  Pump(100);
  ShowWindow(f.Handle(), SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(f.Handle()));
  doubleClickCaption();
  EXPECT_FALSE(IsZoomed(f.Handle()));
  EXPECT_FALSE(maximizedBit());
}

TEST_F(SkinnedWindowTest, EveryTabHoldsItsWholeCaptionAsTheSkinDrawsIt) {
  TQuillonForm& f = StartSkinned();
  auto& pages = static_cast<skin::TscPageControl&>(*f.pages);
  ASSERT_TRUE(pages.Skinned());
  skin::TscSkinObject* tree = f.scSkinEngine1->Source()->FindObject(skin::TSkinKind::PageControl);
  ASSERT_NE(tree, nullptr);
  const skin::TscSkinObject* tab = tree->FindKind(skin::TSkinKind::PageControlTab);
  ASSERT_NE(tab, nullptr);
  skin::TSkinFontSpec font = tab->Font;
  font.name = pages.Font().name;
  font.size = pages.Font().size;
  font.bold = pages.Font().bold;
  for (int active : {0, 1, 2}) {
    pages.SetActivePageIndex(active);
    for (int i = 0; i < pages.PageCount(); ++i) {
      RECT r;
      ASSERT_TRUE(SendMessageA(pages.Handle(), TCM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r)));
      const std::string caption = skin::VisibleText(pages.TabCaption(i));
      EXPECT_GE(r.right - r.left, skin::SkinTextRenderer().TextWidth(font, caption) + 4)
          << "tab " << i << " \"" << caption << "\" with page " << active << " active";
    }
  }
  pages.SetActivePageIndex(0);
  SaveScreenshot(f.Handle(), "skinned_first_tab.bmp");
}

TEST_F(SkinnedWindowTest, StayOnTopPutsTheWindowInTheTopmostBandAndTakesItOut) {
  TQuillonForm& f = StartSkinned();
  auto topmost = [&] { return (GetWindowLongA(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
  ASSERT_FALSE(topmost());
  // The window has hints, so a hint window exists.
  ASSERT_NE(GetPropA(f.Handle(), "QuillonTip"), nullptr);
  SendMessageA(f.Handle(), skin::kStayOnTopToggleMessage, 0, 0);
  EXPECT_TRUE(topmost());
  EXPECT_TRUE((f.scSkinEngine1->StateFlags() & skin::kFrameStayOnTop) != 0);
  SendMessageA(f.Handle(), skin::kStayOnTopToggleMessage, 0, 0);
  EXPECT_FALSE(topmost());
  EXPECT_TRUE((f.scSkinEngine1->StateFlags() & skin::kFrameStayOnTop) == 0);
  // From outside, as any program may ask.
  EXPECT_TRUE(SetWindowPos(f.Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
  EXPECT_TRUE(topmost());
  SetWindowPos(f.Handle(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_FALSE(topmost());
}

}  // namespace
}  // namespace quillon::app
