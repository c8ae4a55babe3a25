// The main window (see quillon_form.h).
//
// On-disk files read and written here, all profile files below appDir:
//   "lyrics.ini"        [set] lastchar, lastartist, lastpageindex, LastAlbum, base (written at close
//                       in that order)
//   <base>\<base>.ini   [db] artistfile, AlbumDb, songDb; [info] Url
//   <base>\artistfile   one section per initial ("#", "A".."Z", "~"), one key per artist
//   "search.ini"        [db] <base name>=<songs>#<artists>: bases offered for download
#include "app/quillon_form.h"

#include <algorithm>

#include "app/about_form.h"
#include "app/maker.h"
#include "app/print_preview.h"
#include "lyricsearch/lyric_store.h"
#include "skin/skin_page_ctrl.h"
#include "ui/application.h"
#include "ui/cursor.h"
#include "ui/dialogs.h"
#include "util/files.h"
#include "util/registry.h"
#include "util/text.h"
#include "web/lyrics_extraction.h"
#include "web/version_check.h"

namespace quillon::app {

namespace {

constexpr ui::TColorRef kClientColor = ui::RgbColor(0xB8B3A3);
constexpr ui::TColorRef kStripColor = ui::RgbColor(0xACA895);
constexpr ui::TColorRef kStripEdgeColor = ui::RgbColor(0x8C8772);
constexpr ui::TColorRef kLetterGridColor = ui::RgbColor(0x333333);
constexpr ui::TColorRef kAlbumFixedColor = ui::RgbColor(0x0080C0);
constexpr ui::TColorRef kFlatButtonColor = ui::RgbColor(0xD9D9D9);
constexpr int kAllAnchors = ui::kAnchorLeft | ui::kAnchorTop | ui::kAnchorRight | ui::kAnchorBottom;
constexpr int kWideAnchors = ui::kAnchorLeft | ui::kAnchorTop | ui::kAnchorRight;
constexpr int kManyArtists = 180;  // from this many names on, the artist list gets a sixth column
constexpr int kGb2312Charset = 134;
// Page 1's layout: album rows are this far apart; up to kFewAlbums albums the song panel follows
// the last row, beyond that it sits at kSongPanelLowTop.
constexpr int kAlbumRowPitch = 19;
constexpr int kFewAlbums = 10;
constexpr int kSongPanelLowTop = 220;
constexpr int kSongPanelBottomGap = 40;
constexpr int kLyricMemoBottomGap = 45;
constexpr int kLyricNoteGap = 6;  // between the memo and the note below it
// The scan for a song's record starts this many records before the song table's position.
constexpr int kSongWindow = 200;
// A text this long or shorter is no usable lyric (a page's stray line, an error notice).
constexpr std::size_t kShortText = 100;
// Real lyrics are a few KB; a longer text is a page's whole content taken for lyrics. Texts are
// shown and stored cut to this bound, so no page can make the memo or the lyric table swell.
constexpr std::size_t kLyricsTextLimit = 64 * 1024;
// A lyrics page is read up to this many bytes: its parse on the worker stays small in memory.
constexpr std::size_t kLyricsPageLimit = 1u << 20;
// Notes shown under the memo in place of lyrics, or beside lyrics cut to the bound.
constexpr char kCutTextNote[] = "This text is longer than 64 KB: only its beginning is shown.";
constexpr char kNoAnswerNote[] = "The lyrics site did not answer; no lyrics could be loaded.";
constexpr char kNoLyricsNote[] = "The song's page holds no lyrics.";

ui::TTextFont BoldFont() {
  ui::TTextFont font;
  font.bold = true;
  return font;
}

// The letter grid's entry for a remembered letter: its first character, "A" for none.
std::string InitialOf(const std::string& s) {
  return s.empty() ? "A" : s.substr(0, 1);
}

// Base names are listed in the system's order for text without case.
bool BaseNameLess(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) < 0;
}

}  // namespace

TQuillonForm::TQuillonForm(std::string appDir, web::TExternalBrowser& browser)
    : ui::TFormWindow("QuillonForm", "Pelmora Lyrics Base - Quillon", 798, 570, ui::TFormFrame::Sizeable),
      appDir_(WithTrailingDelimiter(std::move(appDir))),
      browser_(browser) {
  SetFont(ui::TTextFont{});
  CreateMenu();
  scSkinEngine1 = Add<skin::TscSkinEngine>(this, "scSkinEngine1");
  scSkinEngine1->SetMainMenu(MainMenu1);
  scSkinEngine1->SetMainMenuShow(true);
  scSkinEngine1->SetBorderIcons(skin::sbSystemMenu | skin::sbMinimize | skin::sbMaximize | skin::sbClose);
  scSkinEngine1->SetSkinFile("skin.dat");
  scSkinEngine1->SetSizeable(true);
  ImageList1 = Add<ui::TImageStrip>("ImageList1", 16, 16);
  ImageList1->AddResourceBitmap("TOOLIMAGES");
  CreateLeftStrip();
  CreatePages();
  web = Add<TPageHostView>(this, "web", 4, 196, 137, 249);
  web->OnProgressChange = [this](ui::TOwnedObject& s, int progress, int max) { webProgressChange(s, progress, max); };
  web->OnNewWindow2 = [this](ui::TOwnedObject& s, bool& cancel) { webNewWindow2(s, cancel); };
  web->OnDocumentComplete = [this](ui::TOwnedObject& s, const std::string& a) { webDocumentComplete(s, a); };
  web->OnNavigating = [this](ui::TOwnedObject& s, web::TNavigation& navigation) { webNavigating(s, navigation); };
  printPanel = Add<ui::TPanelBox>(this, "printPanel", 20, 216, 121, 101);
  // Over the search page, where the switch "/ownlyrics" shows it.
  Panel3 = Add<ui::TPanelBox>(TabSheet3, "Panel3", 0, 0, 633, 497);
  Panel3->SetVisible(false);
  CreateOwnLyricsPanel();
  SaveDialog1 = Add<ui::TSaveFileDialog>("SaveDialog1");
  SaveDialog1->Filter = "*.txt|*.txt";
  OpenDialog1 = Add<ui::TOpenFileDialog>("OpenDialog1");
  OpenDialog1->Filter = "*.txt|*.txt";

  OnShow = [this](ui::TOwnedObject& s) { FormShow(s); };
  OnKeyCommand = [this](char letter) { return LyricsKeyCommand(letter); };
  OnClose = [this](ui::TOwnedObject& s) { FormClose(s); };
  SetActiveControl(dbCb);
  SetPageKeys(pages);
  scSkinEngine1->Loaded();
  FormCreate();
}

TQuillonForm::~TQuillonForm() {
  // The tables close while the window's members go; no song list may be reloaded by then.
  t1.AfterScroll = nullptr;
  q1.AfterScroll = nullptr;
}

void TQuillonForm::CreateMenu() {
  MainMenu1 = Add<ui::TMenuBar>("MainMenu1");
  auto pageItem = [this](ui::TMenuEntry* item, int page) {
    item->HelpContext = page;
    item->Tag = page;
    item->OnClick = [this](ui::TOwnedObject& s) { SearchLyrics1Click(s); };
    return item;
  };
  System1 = MainMenu1->Add("System1", "System");
  SelectArtist1 = pageItem(System1->Add("SelectArtist1", "Select Artist"), 0);
  AlbumSongs1 = pageItem(System1->Add("AlbumSongs1", "Album && Songs"), 1);
  SearchLyrics1 = pageItem(System1->Add("SearchLyrics1", "Search Lyrics"), 2);
  System1->Add("N1", "-");
  Exit1 = System1->Add("Exit1", "Exit");
  Exit1->ShortCut = {true, 'X'};
  Exit1->OnClick = [this](ui::TOwnedObject& s) { Exit1Click(s); };
  Help1 = MainMenu1->Add("Help1", "Help");
  OnlineHelp1 = Help1->Add("OnlineHelp1", "Online Help");
  OnlineHelp1->OnClick = [this](ui::TOwnedObject& s) { OnlineHelp1Click(s); };
  WebSite1 = Help1->Add("WebSite1", "Web Site...");
  WebSite1->OnClick = [this](ui::TOwnedObject& s) { WebSite1Click(s); };
  Email1 = Help1->Add("Email1", "Email...");
  Email1->OnClick = [this](ui::TOwnedObject& s) { Email1Click(s); };
  VersionM = Help1->Add("VersionM", "Check new version");
  VersionM->Visible = false;
  VersionM->Hint = "1.6";
  VersionM->OnClick = [this](ui::TOwnedObject& s) { VersionMClick(s); };
  Help1->Add("N2", "-");
  About1 = Help1->Add("About1", "About");
  About1->OnClick = [this](ui::TOwnedObject& s) { About1Click(s); };
  SetMenu(MainMenu1);
  AttachMenu();
}

void TQuillonForm::CreateLeftStrip() {
  Panel1 = Add<ui::TPanelBox>(this, "Panel1", 0, 0, ClientWidth(), ClientHeight());
  Panel1->SetColor(kClientColor);
  Panel1->SetDock(ui::TDock::Client);
  Panel2 = Add<ui::TPanelBox>(Panel1, "Panel2", 0, 0, 151, Panel1->ClientHeight());
  Panel2->SetColor(kStripColor);
  Panel2->SetDock(ui::TDock::Left);
  Shape1 = Add<ui::TShapeBox>(Panel2, "Shape1", 150, 0, 1, Panel2->ClientHeight());
  Shape1->SetBrushColor(kStripEdgeColor);
  Shape1->SetAnchors(ui::kAnchorLeft | ui::kAnchorTop | ui::kAnchorBottom);
  Label7 = Add<ui::TTextLabel>(Panel2, "Label7", "Select Lyrics Base:", 16, 14);
  Label7->SetFont(BoldFont());
  dbCb = Add<flatctl::TFlatComboBox>(Panel2, "dbCb", 16, 32, 117);
  dbCb->SetColor(ui::SysColor(COLOR_WINDOW));
  dbCb->OnChange = [this](ui::TOwnedObject& s) { dbCbChange(s); };
  Label3 = Add<ui::TTextLabel>(Panel2, "Label3", "Select Artist:", 16, 62);
  Label3->SetFont(BoldFont());
  // 7 x 4 cells of 16 x 16 with one-pixel grid lines.
  AZGrid = Add<ui::TTextGrid>(Panel2, "AZGrid", 16, 80, 7 * 17, 4 * 17, ui::TGridStyle{7, 4, 16, 16, 0, 0, false});
  AZGrid->SetColor(kLetterGridColor);
  ui::TTextFont gridFont = BoldFont();
  gridFont.color = ui::kColorWhite;
  AZGrid->SetFont(gridFont);
  AZGrid->SetCursor(ui::TCursorKind::Hand);
  AZGrid->OnClick = [this](ui::TOwnedObject& s) { AZGridClick(s); };
  Button1 = Add<ui::TPushButton>(Panel2, "Button1", "sort artist", 16, 160, 75, 25);
  Button1->SetVisible(false);
  Button1->OnClick = [this](ui::TOwnedObject& s) { Button1Click(s); };
  Image1 = Add<ui::TPictureBox>(Panel2, "Image1", 26, 466, 109, 30);
  Image1->SetCursor(ui::TCursorKind::Hand);
  Image1->SetHint("Visit our web site");
  Image1->LoadJpegResource("LOGO");
  Image1->OnClick = [this](ui::TOwnedObject& s) { Image1Click(s); };
}

void TQuillonForm::CreatePages() {
  auto* skinnedPages =
      Add<skin::TscPageControl>(Panel1, "pages", 156, 4, Panel1->ClientWidth() - 160, Panel1->ClientHeight() - 8);
  skinnedPages->SetSkinEngine(scSkinEngine1);
  pages = skinnedPages;
  pages->SetAnchors(kAllAnchors);
  pages->OnChange = [this](ui::TOwnedObject& s) { pagesChange(s); };
  TabSheet1 = Add<ui::TTabPage>(pages, "TabSheet1", "Select Artist");
  artistList = Add<ui::TItemList>(TabSheet1, "artistList", 4, 4, TabSheet1->ClientWidth() - 8,
                                  TabSheet1->ClientHeight() - 8, ui::TListBoxStyle{true, true, 13, false});
  artistList->SetAnchors(kAllAnchors);
  artistList->OnClick = [this](ui::TOwnedObject& s) { artistListClick(s); };
  CreateSongPage();
  CreateSearchPage();
  pages->SetActivePageIndex(0);
}

void TQuillonForm::CreateSongPage() {
  songTab = Add<ui::TTabPage>(pages, "songTab", "  Album && Songs  ");
  albumLabel = Add<ui::TTextLabel>(songTab, "albumLabel", "", 22, 12);
  albumLabel->SetFont(BoldFont());
  AlbumGrid = Add<ui::TTableGrid>(songTab, "AlbumGrid", 20, 32, 189, 186);
  AlbumGrid->ShowTitles = false;
  AlbumGrid->FixedColor = kAlbumFixedColor;
  AlbumGrid->SetColor(ui::kColorWhite);
  // Only the album column, 28 characters wide.
  AlbumGrid->HideColumn("index");
  AlbumGrid->HideColumn("artist");
  AlbumGrid->HideColumn("beginID");
  AlbumGrid->SetColumnDisplayWidth("album", 28);
  AlbumGrid->SetDataSource(&DataSource1);
  ui::TTextFont albumFont;
  albumFont.color = ui::kColorBlue;
  AlbumGrid->SetFont(albumFont);
  DataSource1.SetDataSet(&t1);
  t1.AfterScroll = [this](dataset::TDataSet& s) { t1AfterScroll(s); };
  covePanel = Add<ui::TPanelBox>(songTab, "covePanel", 192, 28, 25, 190);
  SongListPanel = Add<ui::TPanelBox>(songTab, "SongListPanel", 18, 193, 200, songTab->ClientHeight() - 193 - 40);
  Label2 = Add<ui::TTextLabel>(SongListPanel, "Label2", "Songs in album:", 2, 4);
  Label2->SetFont(BoldFont());
  Gauge1 = Add<ui::TProgressGauge>(SongListPanel, "Gauge1", 110, 2, 69, 17);
  Gauge1->SetBarColor(ui::kColorBlue);
  Gauge1->SetVisible(false);
  songList = Add<ui::TItemList>(SongListPanel, "songList", 0, 22, 200, SongListPanel->ClientHeight() - 22,
                                ui::TListBoxStyle{false, true, 16, true});
  ui::TTextFont linkFont;
  linkFont.color = ui::kColorBlue;
  linkFont.underline = true;
  songList->SetFont(linkFont);
  songList->SetCursor(ui::TCursorKind::Hand);
  songList->SetAnchors(kAllAnchors);
  songList->OnClick = [this](ui::TOwnedObject& s) { songListClick(s); };
  songLabel = Add<ui::TTextLabel>(songTab, "songLabel", "", 245, 16);
  songLabel->SetFont(BoldFont());
  songLabel->SetVisible(false);
  songtb = Add<ui::TButtonBar>(songTab, "songtb", 245, 10, 150, 24);
  songtb->SetImages(ImageList1);
  SchNetLyricB = songtb->AddButton("SchNetLyricB", 4, "Search Lyrics from Internet...");
  SchNetLyricB->OnClick = [this](ui::TOwnedObject& s) { SchNetLyricBClick(s); };
  ToolButton5 = songtb->AddButton("ToolButton5", 3, "Search Mp3 File...");
  ToolButton5->OnClick = [this](ui::TOwnedObject& s) { ToolButton5Click(s); };
  songtb->AddSeparator();
  ToolButton1 = songtb->AddButton("ToolButton1", 0, "Save");
  ToolButton1->OnClick = [this](ui::TOwnedObject& s) { ToolButton1Click(s); };
  ToolButton2 = songtb->AddButton("ToolButton2", 1, "Edit");
  ToolButton2->OnClick = [this](ui::TOwnedObject& s) { ToolButton2Click(s); };
  songtb->AddSeparator();
  ToolButton3 = songtb->AddButton("ToolButton3", 2, "Print");
  ToolButton3->OnClick = [this](ui::TOwnedObject& s) { ToolButton3Click(s); };
  songtb->SetVisible(false);
  LyricMemo = Add<ui::TRichTextBox>(songTab, "LyricMemo", 244, 40, songTab->ClientWidth() - 244 - 8,
                                    songTab->ClientHeight() - 40 - 45, true);
  ui::TTextFont memoFont;
  memoFont.charset = kGb2312Charset;
  LyricMemo->SetFont(memoFont);
  LyricMemo->SetAnchors(kAllAnchors);
  lyricNote = Add<ui::TTextLabel>(songTab, "lyricNote", "", LyricMemo->Left(),
                                  LyricMemo->Top() + LyricMemo->Height() + kLyricNoteGap);
  lyricNote->SetAnchors(ui::kAnchorLeft | ui::kAnchorBottom);
  lyricNote->SetVisible(false);
}

void TQuillonForm::CreateSearchPage() {
  TabSheet3 = Add<ui::TTabPage>(pages, "TabSheet3", "  Search Lyrics  ");
  int width = TabSheet3->ClientWidth() - 16;
  FlatGroupBox1 = Add<flatctl::TFlatGroupBox>(TabSheet3, "FlatGroupBox1", "Internet Search Assistant", 8, 6, width, 84);
  FlatGroupBox1->SetAnchors(kWideAnchors);
  Label4 = Add<ui::TTextLabel>(FlatGroupBox1, "Label4", "Song:", 14, 26);
  songEdit2 = Add<flatctl::TFlatEdit>(FlatGroupBox1, "songEdit2", 54, 23, 200);
  Label1 = Add<ui::TTextLabel>(FlatGroupBox1, "Label1", "Artist:", 272, 26);
  artistEdit2 = Add<flatctl::TFlatEdit>(FlatGroupBox1, "artistEdit2", 312, 23, 180);
  FlatButton1 = Add<flatctl::TFlatButton>(FlatGroupBox1, "FlatButton1", "Search Lyrics", 54, 52, 95, 23);
  FlatButton1->SetColor(kFlatButtonColor);
  FlatButton1->OnClick = [this](ui::TOwnedObject& s) { FlatButton1Click(s); };
  FlatButton2 = Add<flatctl::TFlatButton>(FlatGroupBox1, "FlatButton2", "Search Mp3", 159, 52, 95, 23);
  FlatButton2->SetColor(kFlatButtonColor);
  FlatButton2->OnClick = [this](ui::TOwnedObject& s) { FlatButton2Click(s); };

  FlatGroupBox2 =
      Add<flatctl::TFlatGroupBox>(TabSheet3, "FlatGroupBox2", "Local Search (Get lyrics and its artist, album name...)",
                                  8, 98, width, TabSheet3->ClientHeight() - 98 - 8);
  FlatGroupBox2->SetAnchors(kAllAnchors);
  Label6 = Add<ui::TTextLabel>(FlatGroupBox2, "Label6", "Song:", 14, 26);
  songEdit = Add<flatctl::TFlatEdit>(FlatGroupBox2, "songEdit", 54, 23, 200);
  Label5 = Add<ui::TTextLabel>(FlatGroupBox2, "Label5", "Artist:", 272, 26);
  artistEdit = Add<flatctl::TFlatEdit>(FlatGroupBox2, "artistEdit", 312, 23, 180);
  fullschB = Add<flatctl::TFlatButton>(FlatGroupBox2, "fullschB", "Search ...", 504, 21, 75, 23);
  fullschB->SetColor(kFlatButtonColor);
  fullschB->OnClick = [this](ui::TOwnedObject& s) { fullschBClick(s); };
  CreateLyricSearchRow();
  songEdit->OnKeyDown = [this](ui::TOwnedObject& s, WORD& key) { songEditKeyDown(s, key); };
  artistEdit->OnKeyDown = [this](ui::TOwnedObject& s, WORD& key) { songEditKeyDown(s, key); };
  Gauge2 = Add<ui::TProgressGauge>(FlatGroupBox2, "Gauge2", 54, 50, 438, 12);
  Gauge2->SetRange(0, 100);
  Gauge2->SetBarColor(ui::kColorBlue);
  Gauge2->SetVisible(false);
  int gridHeight = FlatGroupBox2->ClientHeight() - 66 - 40;
  DBGrid1 = Add<ui::TTableGrid>(FlatGroupBox2, "DBGrid1", 14, 66, width - 28, gridHeight);
  DBGrid1->ReadOnly = true;
  DBGrid1->SetColor(ui::kColorWhite);
  DBGrid1->SetDataSource(&ds2);
  ds2.SetDataSet(&q1);
  q1.OnQueryProgress = [this](dataset::TQuarryQuery& q, int record, std::uint16_t percent, bool& abort) {
    q1QueryProgress(q, record, percent, abort);
  };
  q1.AfterScroll = [this](dataset::TDataSet& d) { q1AfterScroll(d); };
  DBGrid1->OnDblClick = [this](ui::TTableGrid&) { viewLyricBClick(*viewLyricB); };
  DBGrid1->SetHint("Double click to view the lyric and album information");
  DBGrid1->SetAnchors(kAllAnchors);
  CreateLyricResultList();
  viewLyricB = Add<flatctl::TFlatButton>(FlatGroupBox2, "viewLyricB", "View lyrics and album information", 14,
                                         66 + gridHeight + 8, 200, 23);
  viewLyricB->SetColor(kFlatButtonColor);
  viewLyricB->OnClick = [this](ui::TOwnedObject& s) { viewLyricBClick(s); };
  viewLyricB->SetAnchors(ui::kAnchorLeft | ui::kAnchorBottom);
  infoLabel = Add<ui::TTextLabel>(FlatGroupBox2, "infoLabel", "Result: 0", width - 120, 66 + gridHeight + 12);
  infoLabel->AutoSize = false;
  infoLabel->SetBounds(width - 134, 66 + gridHeight + 12, 120, 14);
  infoLabel->SetAlignRight(true);
  infoLabel->SetAnchors(ui::kAnchorRight | ui::kAnchorBottom);
}

// The own-lyrics input form, hidden: its controls and texts, and the Add and Import buttons.
void TQuillonForm::CreateOwnLyricsPanel() {
  Label8 = Add<ui::TTextLabel>(Panel3, "Label8", "Add/Import your own lyrics to Base \"MyLyrics\":", 16, 12);
  Label8->SetFont(BoldFont());

  FlatGroupBox5 =
      Add<flatctl::TFlatGroupBox>(Panel3, "FlatGroupBox5", "1. Add song lyrics one by one", 16, 36, 601, 262);
  Label9 = Add<ui::TTextLabel>(FlatGroupBox5, "Label9", "Lyrics:", 12, 22);
  LyricsMemo3 = Add<flatctl::TFlatMemo>(FlatGroupBox5, "LyricsMemo3", 12, 38, 380, 212,
                                        flatctl::TFlatMemoStyle{flatctl::TScrollStyle::ssVertical, false, false});
  Label13 = Add<ui::TTextLabel>(FlatGroupBox5, "Label13", "Song:", 408, 42);
  songEdit3 = Add<flatctl::TFlatEdit>(FlatGroupBox5, "songEdit3", 450, 38, 139);
  Label10 = Add<ui::TTextLabel>(FlatGroupBox5, "Label10", "Artist:", 408, 72);
  artistEdit3 = Add<flatctl::TFlatEdit>(FlatGroupBox5, "artistEdit3", 450, 68, 139);
  Label11 = Add<ui::TTextLabel>(FlatGroupBox5, "Label11", "Album:", 408, 102);
  albumEdit3 = Add<flatctl::TFlatEdit>(FlatGroupBox5, "albumEdit3", 450, 98, 139);
  FlatButton3 = Add<flatctl::TFlatButton>(FlatGroupBox5, "FlatButton3", "Add", 450, 132, 75, 23);
  FlatButton3->SetColor(kFlatButtonColor);
  FlatButton3->OnClick = [this](ui::TOwnedObject& s) { FlatButton3Click(s); };

  FlatGroupBox3 = Add<flatctl::TFlatGroupBox>(Panel3, "FlatGroupBox3", "2. Batch Importing", 16, 306, 601, 124);
  FlatButton4 = Add<flatctl::TFlatButton>(FlatGroupBox3, "FlatButton4", "Import from text file", 12, 24, 140, 23);
  FlatButton4->SetColor(kFlatButtonColor);
  FlatButton4->OnClick = [this](ui::TOwnedObject& s) { FlatButton4Click(s); };
  FlatMemo1 = Add<flatctl::TFlatMemo>(FlatGroupBox3, "FlatMemo1", 164, 20, 425, 94,
                                      flatctl::TFlatMemoStyle{flatctl::TScrollStyle::ssVertical, false, true});
  FlatMemo1->SetLines({"Text format for lyrics file:",
                       "@@@=Song Name",
                       "###=Artist Name",
                       "$$$=Album Name",
                       "%%%=Lyrics Content",
                       std::string(50, '-'),
                       "Example, content in file \"mylyrics.txt':",
                       "@@@=Lantern Road",
                       "###=Quillon Singers",
                       "$$$=Songs of the Evening",
                       "%%%=Light the lantern, walk the road,",
                       "the hills are dark and far,",
                       "carry home an empty load",
                       "and follow the evening star.",
                       ".......",
                       "@@@=Next Song Name",
                       "###=Next Artist Name",
                       "$$$=Next Album Name",
                       "%%%=Next Lyrics",
                       "......"});

  DisplayCheck = Add<flatctl::TFlatCheckBox>(Panel3, "DisplayCheck",
                                             "Display added lyrics with other lyrics bases together", 16, 436, 400, 17);
  DisplayCheck->SetEnabled(false);

  FlatGroupBox4 = Add<flatctl::TFlatGroupBox>(Panel3, "FlatGroupBox4", "3. Export added lyrics", 16, 456, 601, 40);
  ExportButton = Add<flatctl::TFlatButton>(FlatGroupBox4, "ExportButton", "Export to file...", 12, 16, 120, 19);
  ExportButton->SetColor(kFlatButtonColor);
  UploadButton = Add<flatctl::TFlatButton>(FlatGroupBox4, "UploadButton", "Upload to Pelmora", 142, 16, 120, 19);
  UploadButton->SetColor(kFlatButtonColor);
  ShareLabel = Add<ui::TTextLabel>(FlatGroupBox4, "ShareLabel", "- share your lyrics with other people", 274, 19);
  FlatGroupBox4->SetEnabled(false);
}

// ---- Start-up and view state -------------------------------------------------------------------

void TQuillonForm::FormCreate() {
  LoadState();
  FillLetterGrid();
}

void TQuillonForm::LoadState() {
  scratchList.clear();
  stateIni = std::make_unique<TProfileFile>(appDir_ + "lyrics.ini");
  Setting.lastchar = stateIni->ReadString("set", "lastchar", "A");
  Setting.lastartist = stateIni->ReadString("set", "lastartist", "");
  Setting.lastpageindex = stateIni->ReadInteger("set", "lastpageindex", 0);
  Setting.LastAlbum = stateIni->ReadString("set", "LastAlbum", "");
  Setting.base = stateIni->ReadString("set", "base", "default");
  if (!IsPlainFileName(Setting.base) || !IsExistingFolder(appDir_ + Setting.base)) {
    ui::ShowError("Can't find lyrics base \"" + Setting.base + "\"");
    ui::Application().Terminate();
  }
  OpenBase(Setting.base);
}

void TQuillonForm::FormShow(ui::TOwnedObject&) {
  printPanel->SendToBack();
  RestoreView();
  if (ownLyricsShown_) pages->SetActivePageIndex(2);
  FillBaseList();
  WriteRegString(RegistryRoot::CurrentUser, "software\\Pelmora\\Quillon", "Path", appDir_);
  // Holding Ctrl at this moment leaves the page host in front, so its pages can be watched.
  if (!IsKeyDown(VK_CONTROL)) web->SendToBack();
}

void TQuillonForm::FormClose(ui::TOwnedObject&) {
  SaveState();
}

void TQuillonForm::SaveState() {
  stateIni->WriteString("set", "lastchar", Setting.lastchar);
  stateIni->WriteString("set", "lastartist", Setting.lastartist);
  stateIni->WriteInteger("set", "lastpageindex", Setting.lastpageindex);
  stateIni->WriteString("set", "LastAlbum", Setting.LastAlbum);
  stateIni->WriteString("set", "base", Setting.base);
}

void TQuillonForm::RestoreView() {
  int p = Setting.lastpageindex;
  // A page number that names no page (a damaged "lyrics.ini") restores the first page.
  if (p < 0 || p > 2) p = 0;
  if (p == 0 || Setting.lastartist.empty()) {
    ShowArtists(Setting.lastchar);
    return;
  }
  // The artists are not listed on these pages, but the grid still names the remembered letter.
  MarkLetter(InitialOf(Setting.lastchar));
  if (p == 1) {
    SelectArtist(Setting.lastartist, false);
    // The cursor's move loads the album's songs (t1AfterScroll).
    if (!Setting.LastAlbum.empty() && t1.Active()) t1.Locate("album", dataset::TFieldValue{Setting.LastAlbum});
  } else {
    pages->SetActivePageIndex(p);
  }
}

void TQuillonForm::pagesChange(ui::TOwnedObject&) {
  Setting.lastpageindex = pages->ActivePageIndex();
  switch (Setting.lastpageindex) {
    case 0:
      ShowArtists(Setting.lastchar);
      break;
    case 1:
      if (IsAlbumTableFiltered()) break;
      if (!Setting.lastartist.empty()) {
        SelectArtist(Setting.lastartist, true);
      } else {
        ui::ShowInfo("Please select an artist.");
        pages->SetActivePageIndex(0);
      }
      break;
    case 2:
      songEdit->SetFocus();
      break;
  }
}

void TQuillonForm::SearchLyrics1Click(ui::TOwnedObject& sender) {
  pages->SetActivePageIndex(static_cast<ui::TMenuEntry&>(sender).HelpContext);
  pagesChange(*pages);
}

void TQuillonForm::Exit1Click(ui::TOwnedObject&) {
  Close();
}

// ---- Base catalogue ----------------------------------------------------------------------------

std::string TQuillonForm::DescriptorFile(const std::string& name) const {
  return appDir_ + name + "\\" + name + ".ini";
}

void TQuillonForm::FillBaseList() {
  dbCb->Clear();
  FindFolders(appDir_, "*.ini", scratchList, false, true, true);
  std::stable_sort(scratchList.begin(), scratchList.end(), BaseNameLess);
  for (const std::string& name : scratchList)
    if (IsExistingFile(DescriptorFile(name))) dbCb->Add(name);
  TProfileFile searchIni(appDir_ + "search.ini");
  scratchList = searchIni.ReadSection("db");
  for (const std::string& name : scratchList)
    if (IsPlainFileName(name) && dbCb->IndexOf(name) < 0) dbCb->Add(name);
  dbCb->Add("more...");
  dbCb->SetItemIndex(dbCb->IndexOf(Setting.base));
  dbCbShown_ = dbCb->ItemIndex();
}

void TQuillonForm::OpenBase(const std::string& name) {
  Setting.base = name;
  descriptorIni = std::make_unique<TProfileFile>(DescriptorFile(name));
  Setting.baseDir = appDir_ + name + "\\";
  // File names of the base lie in its folder: a name that would lead out of it is refused and
  // the default taken, so that nothing is read or written elsewhere.
  auto fileName = [&](const char* key, const char* fallback) {
    std::string value = descriptorIni->ReadString("db", key, fallback);
    if (IsPlainFileName(value)) return value;
    ui::ShowError("Invalid file name \"" + value + "\" for " + key + " in " + DescriptorFile(name));
    return std::string(fallback);
  };
  Setting.artistfile = fileName("artistfile", "artist.ini");
  Setting.AlbumDb = fileName("AlbumDb", "AlbumList.dat");
  Setting.songDb = fileName("songDb", "songlist.dat");
  Setting.Url = descriptorIni->ReadString("info", "Url", "");
  artistIni = std::make_unique<TProfileFile>(Setting.baseDir + Setting.artistfile);
}

void TQuillonForm::ReopenBaseTables() {
  t1.Close();
  t1.SetDatabaseName(Setting.baseDir);
  t1.SetTableName(Setting.AlbumDb);
  t1.Open();
  t2.Close();
  t2.SetDatabaseName(Setting.baseDir);
  t2.SetTableName(Setting.songDb);
  t2.Open();
}

void TQuillonForm::SwitchBase(const std::string& name) {
  ui::THourglass wait;
  OpenBase(name);
  ReopenBaseTables();
  ShowArtists("A");
}

void TQuillonForm::AskToDownload(const std::string& name) {
  std::string v = ReadIniString(appDir_ + "search.ini", "db", name, "");
  int songs = 0, artists = 0;
  if (v.size() > 3) {
    size_t hash = v.find('#');
    // Without "#" the song count is the empty text before it, which is no number.
    std::string before = hash == std::string::npos ? std::string() : v.substr(0, hash);
    std::string after = hash == std::string::npos ? std::string() : v.substr(hash + 1, 20);
    int value;
    if (ParseDecimalInt(before, value)) {
      songs = value;
      if (ParseDecimalInt(after, value)) artists = value;
    }
  }
  std::string question = songs != 0 && artists != 0
                             ? "Lyrics base \"" + name + "\" contains about " + std::to_string(songs) + " songs and " +
                                   std::to_string(artists) + " artists, do you want to download it now?"
                             : "Failed to open this lyrics base, do you want to download it now?";
  if (ui::Confirm(question)) browser_.ShellOpen(BaseDownloadPage(name));
}

void TQuillonForm::dbCbChange(ui::TOwnedObject&) {
  int i = dbCb->ItemIndex(), n = dbCb->Count();
  if (i < 0) return;
  if (i < n - 1) {
    std::string name = dbCb->Item(i);
    dbCbShown_ = i;
    if (IsExistingFile(DescriptorFile(name)))
      SwitchBase(name);
    else
      AskToDownload(name);
  } else if (ui::Confirm(std::string("Visit ") + kMakerHost + " for more lyrics bases now?")) {
    browser_.ShellOpen(kMakerSite);
  } else {
    // "No" changes nothing: the box shows again what it showed before.
    dbCb->SetItemIndex(dbCbShown_);
  }
}

// ---- Artist browsing ---------------------------------------------------------------------------

void TQuillonForm::FillLetterGrid() {
  AZGrid->SetCell(0, 0, "#");
  for (int i = 0; i < 26; ++i) {
    int cell = i + 1;
    AZGrid->SetCell(cell % 7, cell / 7, std::string(1, static_cast<char>('A' + i)));
  }
  AZGrid->SetCell(6, 3, "~");
}

void TQuillonForm::ShowArtists(const std::string& s) {
  std::string letter = InitialOf(s);
  scratchList = artistIni->ReadSection(letter);
  artistList->SetColumns(scratchList.size() >= kManyArtists ? 6 : 5);
  artistList->SetItems(scratchList);
  MarkLetter(letter);
  pages->SetActivePageIndex(0);
}

void TQuillonForm::MarkLetter(const std::string& letter) {
  // The grid's highlight always names the letter whose artists are listed.
  for (int row = 0; row < AZGrid->RowCount(); ++row)
    for (int col = 0; col < AZGrid->ColCount(); ++col)
      if (EqualIgnoringCase(AZGrid->Cell(col, row), letter)) {
        AZGrid->SetCurrent(col, row);
        return;
      }
}

void TQuillonForm::AZGridClick(ui::TOwnedObject&) {
  Setting.lastchar = AZGrid->Cell(AZGrid->Col(), AZGrid->Row());
  ShowArtists(Setting.lastchar);
}

void TQuillonForm::artistListClick(ui::TOwnedObject&) {
  int i = artistList->ItemIndex();
  if (i < 0) return;
  SelectArtist(artistList->Item(i), true);
}

void TQuillonForm::Button1Click(ui::TOwnedObject&) {
  for (int i = 0; i < dbCb->Count() - 1; ++i) {
    std::string e = dbCb->Item(i);
    TProfileFile descriptor(DescriptorFile(e));
    std::string artistfile = descriptor.ReadString("db", "artistfile", "");
    std::string indexFile = appDir_ + e + "\\" + artistfile;
    if (!IsPlainFileName(artistfile) || !IsExistingFile(indexFile)) continue;  // rewritten below
    TProfileFile index(indexFile);
    for (const std::string& section : index.ReadSections()) {
      Button1->SetCaption(section + ":" + FileNameOf(indexFile));
      std::vector<std::string> keys = index.ReadSection(section);
      std::stable_sort(keys.begin(), keys.end(),
                       [](const std::string& a, const std::string& b) { return CompareIgnoringCase(a, b) < 0; });
      index.EraseSection(section);
      for (const std::string& key : keys) index.WriteString(section, key, "");
    }
  }
}

// ---- Albums and songs -------------------------------------------------------------------------

void TQuillonForm::SelectArtist(const std::string& artist, bool loadSongs) {
  ui::THourglass wait;
  if (!t1.Active()) {
    t1.SetDatabaseName(Setting.baseDir);
    t1.SetTableName(Setting.AlbumDb);
    t1.Open();
  }
  try {
    Setting.lastartist = artist;
    std::string quoted;
    for (char c : artist) {
      quoted += c;
      if (c == '\'') quoted += '\'';
    }
    // The album table scrolls while its filter changes; songs listed then would be cleared below
    // at once, so the notification waits until the filter is set.
    albumScrollArmed = false;
    t1.SetFilter("Artist='" + quoted + "'");
    t1.SetFiltered(true);
    t1.Open();
    albumScrollArmed = true;
    int n = t1.RecordCount();
    covePanel->SetVisible(n <= kFewAlbums);
    songList->Clear();
    albumLabel->SetCaption(Setting.lastartist);
    int pageHeight = songTab->ClientHeight();
    int top = n > kFewAlbums ? kSongPanelLowTop : n * kAlbumRowPitch + AlbumGrid->Top() + 10;
    SongListPanel->SetBounds(SongListPanel->Left(), top, SongListPanel->Width(),
                             pageHeight - top - kSongPanelBottomGap);
    LyricMemo->SetBounds(LyricMemo->Left(), LyricMemo->Top(), LyricMemo->Width(),
                         pageHeight - LyricMemo->Top() - kLyricMemoBottomGap);
    if (loadSongs) LoadSongs();
  } catch (const std::exception&) {
    ui::ShowInfo("Error: " + t1.Filter());
  }
  pages->SetActivePageIndex(1);
  Setting.lastpageindex = 1;
}

void TQuillonForm::OpenSongTable() {
  if (t2.Active()) return;
  t2.SetDatabaseName(Setting.baseDir);
  t2.SetTableName(Setting.songDb);
  t2.Open();
}

void TQuillonForm::OpenLyricTable() {
  if (t3.Active()) return;
  t3.SetDatabaseName(appDir_);
  t3.SetTableName("lyrics.dat");
  t3.Open();
}

lyricsearch::TLyricIndex& TQuillonForm::LyricIndex() {
  if (!lyricIndex_) lyricIndex_ = std::make_unique<lyricsearch::TLyricIndex>(appDir_);
  return *lyricIndex_;
}

bool TQuillonForm::IsOwnLyricsBase() {
  return PosText("MyLyrics", t1.TableName()) > 0;
}

void TQuillonForm::LoadSongs() {
  if (!t1.Active() || t1.IsEmpty()) return;
  OpenSongTable();
  songList->Clear();
  std::int64_t album = t1.FieldNamed("index").AsInteger();
  Setting.LastAlbum = t1.FieldNamed("album").AsString();
  dataset::TRecordField& albumIndex = t2.FieldNamed("albumIndex");
  dataset::TRecordField& song = t2.FieldNamed("song");
  // The titles are gathered first and the list filled once: asking the list box for every title
  // it holds costs a pair of messages per entry and title.
  std::vector<std::string> titles;
  auto contribute = [&] {
    std::string title = song.AsString();
    if (std::none_of(titles.begin(), titles.end(), [&](const std::string& t) { return EqualIgnoringCase(t, title); }))
      titles.push_back(std::move(title));
  };
  t2.First();
  if (IsOwnLyricsBase()) {
    // Own songs are added one by one, so an album's songs may lie anywhere.
    for (; !t2.Eof(); t2.Next())
      if (albumIndex.AsInteger() == album) contribute();
  } else {
    // An album's songs are consecutive from its beginID; start a little before it.
    int start = static_cast<int>(t1.FieldNamed("beginID").AsInteger()) - 5;
    if (start > 1) t2.SetRecNo(start);
    while (!t2.Eof() && albumIndex.AsInteger() != album) t2.Next();
    for (; !t2.Eof() && albumIndex.AsInteger() == album; t2.Next()) contribute();
  }
  ui::TItemList::SortItems(titles);
  songList->SetItems(titles);
}

void TQuillonForm::t1AfterScroll(dataset::TDataSet&) {
  if (albumScrollArmed) LoadSongs();
}

void TQuillonForm::songListClick(ui::TOwnedObject&) {
  int i = songList->ItemIndex();
  if (i >= 0) ShowSong(songList->Item(i), true);
}

// ---- Lyrics lookup and display -----------------------------------------------------------------

bool TQuillonForm::FindSong(const std::string& title, std::string& id) {
  if (!t1.Active() || t1.IsEmpty()) return false;
  OpenSongTable();
  std::int64_t album = t1.FieldNamed("index").AsInteger();
  dataset::TRecordField& albumIndex = t2.FieldNamed("albumIndex");
  dataset::TRecordField& song = t2.FieldNamed("song");
  // The song is usually just behind the cursor: LoadSongs left it at the album's end.
  int r = t2.RecNo();
  t2.First();
  if (r > kSongWindow) t2.SetRecNo(r - kSongWindow);
  for (; !t2.Eof(); t2.Next())
    if (albumIndex.AsInteger() == album && song.AsString() == title) {
      id = t2.FieldNamed("url1").AsString();
      return true;
    }
  // Further back than the window (the cursor was moved elsewhere, by a search or another album):
  // the table itself finds it.
  if (t2.Locate("albumIndex;song", {dataset::TFieldValue{album}, dataset::TFieldValue{title}})) {
    id = t2.FieldNamed("url1").AsString();
    return true;
  }
  return false;
}

void TQuillonForm::ShowSongTitle(const std::string& title) {
  songLabel->SetCaption(title);
  songLabel->SetVisible(true);
  songtb->SetBounds(songLabel->Left() + songLabel->Width() + 8, songtb->Top(), songtb->Width(), songtb->Height());
  songtb->SetVisible(true);
}

void TQuillonForm::ShowSong(const std::string& title, bool fromList) {
  // Whatever an earlier song's page still brings belongs to that song: it is dropped.
  if (web->Tag == 1) {
    web->Stop();
    Gauge1->SetVisible(false);
  }
  ShowLyricNote("");
  if (!fromList) {
    int i = songList->IndexOf(title);
    if (i >= 0) songList->SetItemIndex(i);
  }
  std::string id;
  FindSong(title, id);
  ShowSongTitle(title);
  // The memo shows the stored text when it is usable, else it is emptied for the page to come:
  // set once, so that it is drawn once.
  std::string stored;
  bool usable = false;
  try {
    if (!IsKeyDown(VK_CONTROL)) {  // Ctrl skips what is stored and always asks the page again
      OpenLyricTable();
      std::int64_t songIndex = t2.Active() && !t2.IsEmpty() ? t2.FieldNamed("index").AsInteger() : -1;
      if (t3.Locate("songname;songindex;songdb", {dataset::TFieldValue{title}, dataset::TFieldValue{songIndex},
                                                  dataset::TFieldValue{Setting.base}})) {
        std::string text = t3.FieldNamed("lyrics").AsString();
        usable = IsOwnLyricsBase() || text.size() > kShortText;
        if (usable) stored = std::move(text);
      }
    }
  } catch (...) {
    LyricMemo->Clear();  // no earlier song's text stays beside this song's title
    throw;
  }
  if (usable) {
    ShowLyricsText(stored);
    return;
  }
  LyricMemo->Clear();
  if (!id.empty()) {
    Gauge1->SetPosition(0);
    Gauge1->SetVisible(true);
    std::string address = id;
    if (!Setting.Url.empty()) {
      address = Setting.Url;
      size_t at = address.find("[id]");
      if (at != std::string::npos) address.replace(at, 4, id);
    }
    web->Tag = 1;
    web->Navigate(address);
  } else if (ui::Confirm("Failed to open lyrics base, do you want to search it from Internet?")) {
    SchNetLyricB->Click();
  }
}

TQuillonForm::TBoundedText TQuillonForm::BoundLyrics(std::string text) {
  if (text.size() <= kLyricsTextLimit) return {std::move(text), false};
  // Cut after the last line end within the bound, so that no line is shown half.
  std::size_t end = text.rfind("\r\n", kLyricsTextLimit - 2);
  end = end == std::string::npos || end == 0 ? kLyricsTextLimit : end + 2;
  text.resize(end);
  return {std::move(text), true};
}

void TQuillonForm::ShowLyricsText(const std::string& text) {
  TBoundedText shown = BoundLyrics(text);
  LyricMemo->SetText(shown.text);
  ShowLyricNote(shown.cut ? kCutTextNote : "");
}

void TQuillonForm::ShowLyricNote(const std::string& note) {
  lyricNote->SetCaption(note);
  lyricNote->SetVisible(!note.empty());
}

void TQuillonForm::StoreFetchedLyrics(const std::string& text) {
  if (!t3.Active() || text.size() <= kShortText) return;
  if (!t2.Active() || t2.IsEmpty()) return;
  std::int64_t songIndex = t2.FieldNamed("index").AsInteger();
  // The window shows this lyric now: an index that would first have to be built waits for the
  // next lyric search instead.
  const auto upkeep = lyricsearch::TIndexUpkeep::OnlyIfCurrent;
  if (t3.Locate("songindex;songdb", {dataset::TFieldValue{songIndex}, dataset::TFieldValue{Setting.base}}))
    lyricsearch::OverwriteLyric(LyricIndex(), t3, text, upkeep);
  else
    lyricsearch::AppendLyric(LyricIndex(), t3, songLabel->Caption(), text, static_cast<std::int32_t>(songIndex),
                             Setting.base, upkeep);
}

// ---- Save, edit and print ----------------------------------------------------------------------

std::string TQuillonForm::LyricsDocument() {
  std::vector<std::string> lines{songLabel->Caption(), ""};
  for (std::string& line : SplitLines(LyricMemo->Text())) lines.push_back(std::move(line));
  return JoinLines(lines);
}

void TQuillonForm::ToolButton1Click(ui::TOwnedObject&) {
  SaveDialog1->FileName = songLabel->Caption() + ".txt";
  if (!SaveDialog1->Execute(Handle())) return;
  std::string name = SaveDialog1->FileName;
  // Any dot counts as an extension, also one in a folder name.
  if (name.find('.') == std::string::npos) name += ".txt";
  SaveTextFile(LyricsDocument(), name);
}

void TQuillonForm::ToolButton2Click(ui::TOwnedObject&) {
  const std::string file = appDir_ + "temp.txt";
  SaveTextFile(LyricsDocument(), file);
  browser_.ShellOpen(file);
}

bool TQuillonForm::LyricsKeyCommand(char letter) {
  // Only where the tool bar's buttons are at hand: page 1, once a song is shown.
  if (pages->ActivePageIndex() != 1 || !songtb->Visible()) return false;
  if (letter == 'S') {
    ToolButton1->Click();
    return true;
  }
  if (letter == 'P') {
    ToolButton3->Click();
    return true;
  }
  return false;
}

void TQuillonForm::FillPrintReport() {
  q.Title = songLabel->Caption();
  q.Lines = SplitLines(LyricMemo->Text());
}

void TQuillonForm::ToolButton3Click(ui::TOwnedObject&) {
  FillPrintReport();
  TPrintPreviewForm preview(q);
  preview.ShowModal();
}

// ---- Local search ------------------------------------------------------------------------------

namespace {

// A search term as the statement takes it: A-Z lower-cased ("%" and "_" stay pattern
// characters). A quote would end the statement's string early; doubled it would stay two quotes in
// the dialect's constants and match nothing, so it becomes "_", which matches the quote itself:
// O'Neil finds O'Neil.
std::string SearchTerm(const std::string& text) {
  std::string term;
  for (char c : text) term += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c == '\'' ? '_' : c;
  return term;
}

}  // namespace

std::string TQuillonForm::LocalSearchStatement(const std::string& songDb, const std::string& albumDb,
                                               const std::string& song, const std::string& artist) {
  std::string s = SearchTerm(song), t = SearchTerm(artist);
  std::string sql = "Select a.song,b.artist,b.album,a.index from \"" + songDb + "\" a, \"" + albumDb + "\" b where ";
  if (!s.empty() && !t.empty()) {
    sql += "(lower(a.song) like '%" + s + "%') and (lower(b.artist) like '%" + t;
  } else if (!s.empty()) {
    sql += "(lower(a.song) like '%" + s;
  } else {
    sql += "(lower(b.artist) like '%" + t;
  }
  sql += "%') and (a.albumindex=b.index) ";
  sql += t.empty() ? "order by a.song" : "order by b.album";
  return sql;
}

void TQuillonForm::fullschBClick(ui::TOwnedObject&) {
  std::string song = Trim(songEdit->Text()), artist = Trim(artistEdit->Text());
  songEdit->SetText(song);
  artistEdit->SetText(artist);
  if (song.empty() && artist.empty()) {
    ui::ShowInfo("Please input search terms.");
    return;
  }
  ui::THourglass wait;
  ShowLyricResults(false);
  Gauge2->SetVisible(true);
  struct TIdle {
    ui::TProgressGauge* gauge;
    ~TIdle() { gauge->SetVisible(false); }
  } idle{Gauge2};
  searchPercent_ = -1;
  q1.Close();
  q1.SetSQLText("");
  q1.SetDatabaseName(Setting.baseDir);
  q1.SetSQLText(LocalSearchStatement(Setting.songDb, Setting.AlbumDb, song, artist));
  q1.Open();
  infoLabel->SetCaption("Results: " + std::to_string(q1.RecordCount()));
  if (q1.FieldCount() > 2) {
    const int widths[] = {35, 26, 26};
    for (int i = 0; i < 3; ++i) q1.Fields()[static_cast<std::size_t>(i)]->SetDisplayWidth(widths[i]);
  }
  if (q1.FieldCount() > 0) q1.Fields().back()->Visible = false;
  DBGrid1->Invalidate();
}

void TQuillonForm::songEditKeyDown(ui::TOwnedObject&, WORD& key) {
  if (key == VK_RETURN) fullschBClick(*fullschB);
}

void TQuillonForm::q1QueryProgress(dataset::TQuarryQuery&, int, std::uint16_t percentDone, bool&) {
  // Called for many records per percent: the bar is drawn again only when it moves.
  if (searchPercent_ == percentDone) return;
  searchPercent_ = percentDone;
  Gauge2->SetRange(0, 100);
  Gauge2->SetPosition(percentDone);
  UpdateWindow(Gauge2->Handle());
}

void TQuillonForm::q1AfterScroll(dataset::TDataSet&) {
  if (!q1.Active() || q1.IsEmpty()) return;
  songEdit2->SetText(q1.Fields()[0]->AsString());
  if (q1.FieldCount() > 2) artistEdit2->SetText(q1.Fields()[1]->AsString());
}

void TQuillonForm::viewLyricBClick(ui::TOwnedObject&) {
  if (lyricList->Visible()) return OpenLyricResult(lyricList->ItemIndex());
  if (!q1.Active() || q1.IsEmpty()) return;
  const std::string song = q1.Fields()[0]->AsString(), artist = q1.Fields()[1]->AsString(),
                    album = q1.Fields()[2]->AsString();
  const std::int64_t songIndex = q1.Fields().back()->AsInteger();
  ShowSongTitle(song);
  LyricMemo->Clear();
  pages->SetActivePageIndex(1);
  SelectArtist(artist, true);
  t1.Locate("album", dataset::TFieldValue{album});
  OpenSongTable();
  t2.Locate("index", dataset::TFieldValue{songIndex});
  ShowSong(song, false);
}

// ---- Own lyrics --------------------------------------------------------------------------------

namespace {

constexpr char kOwnBase[] = "MyLyrics";

// Characters from..to of text, positions 1-based and both ends included; empty when to < from.
std::string Slice(const std::string& text, std::size_t from, std::size_t to) {
  if (from < 1 || to < from || from > text.size()) return {};
  return text.substr(from - 1, to - from + 1);
}

// 1-based position of the first occurrence of tag in text, 0 when absent.
std::size_t TagAt(const std::string& text, const char* tag) {
  std::size_t at = text.find(tag);
  return at == std::string::npos ? 0 : at + 1;
}

}  // namespace

void TQuillonForm::FlatButton3Click(ui::TOwnedObject&) {
  const std::pair<std::string, const char*> checks[] = {
      {LyricsMemo3->Text(), "Please input lyrics"},
      {songEdit3->Text(), "Please input song name"},
      {artistEdit3->Text(), "Please input artist name"},
      {albumEdit3->Text(), "Please input album name"},
  };
  for (const auto& [value, message] : checks) {
    if (value.empty()) {
      ui::ShowInfo(message);
      return;
    }
  }
  AddOwnLyrics(artistEdit3->Text(), albumEdit3->Text(), true, LyricsMemo3->Text(), songEdit3->Text());
}

void TQuillonForm::SwitchToOwnBase() {
  if (IsOwnLyricsBase()) return;
  ui::THourglass wait;
  dbCb->SetItemIndex(dbCb->IndexOf(kOwnBase));
  OpenBase(kOwnBase);
  ReopenBaseTables();
}

void TQuillonForm::AddOwnLyrics(const std::string& artist, const std::string& album, bool interactive,
                                const std::string& lyrics, const std::string& song) {
  if (artist.empty() || album.empty() || lyrics.empty() || song.empty()) return;
  SwitchToOwnBase();
  OpenLyricTable();
  OpenSongTable();
  // Every album of the base is visible from here on.
  t1.Close();
  t1.SetFiltered(false);
  t1.Open();
  auto appendLyric = [&](std::int64_t songIndex) {
    lyricsearch::AppendLyric(LyricIndex(), t3, song, lyrics, static_cast<std::int32_t>(songIndex), kOwnBase);
  };
  std::int64_t albumIndex;
  if (t1.Locate("artist;album", {dataset::TFieldValue{artist}, dataset::TFieldValue{album}})) {
    albumIndex = t1.FieldNamed("index").AsInteger();
    if (t2.Locate("albumIndex;song", {dataset::TFieldValue{albumIndex}, dataset::TFieldValue{song}})) {
      std::int64_t songIndex = t2.FieldNamed("index").AsInteger();
      if (interactive && !ui::Confirm("Lyrics of this song already exists, do you want to overwrite it?")) return;
      if (t3.Locate("songindex;songdb", {dataset::TFieldValue{songIndex}, dataset::TFieldValue{kOwnBase}})) {
        lyricsearch::OverwriteLyric(LyricIndex(), t3, lyrics);
      } else {
        // The song has no lyric row (lost, or never written): the text would be dropped unseen.
        appendLyric(songIndex);
      }
      return;
    }
  } else {
    t1.Append();
    t1.FieldNamed("album").SetAsString(album);
    t1.FieldNamed("artist").SetAsString(artist);
    t1.FieldNamed("beginID").SetAsInteger(1);
    t1.Post();
    albumIndex = t1.FieldNamed("index").AsInteger();
  }
  t2.Append();
  t2.FieldNamed("albumIndex").SetAsInteger(albumIndex);
  t2.FieldNamed("song").SetAsString(song);
  t2.FieldNamed("url1").SetAsString("#");
  t2.Post();
  appendLyric(t2.FieldNamed("index").AsInteger());
  const char first = artist[0];
  const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  artistIni->WriteString(letter ? std::string(1, first) : std::string("#"), artist, "1");
  if (interactive) ui::ShowInfo("Done");
}

void TQuillonForm::FlatButton4Click(ui::TOwnedObject&) {
  if (!OpenDialog1->Execute(Handle())) return;
  std::string text = LoadTextFile(OpenDialog1->FileName, -1);
  for (const char* tag : {"@@@=", "###=", "$$$=", "%%%="}) {
    if (TagAt(text, tag) == 0) {
      ui::ShowInfo("[Failed] Can't find song lyrics in this file.     \r\r[Note]" + FlatMemo1->Text());
      return;
    }
  }
  while (TagAt(text, "@@@=") > 0) {
    const std::size_t p = TagAt(text, "@@@="), q = TagAt(text, "###="), r = TagAt(text, "$$$="),
                      u = TagAt(text, "%%%=");
    // Each value ends before the CR LF that precedes the next tag; tags out of order give an
    // empty value, and the record is skipped.
    std::string song = q >= 3 ? Slice(text, p + 4, q - 3) : std::string();
    std::string artist = r >= 3 ? Slice(text, q + 4, r - 3) : std::string();
    std::string album = u >= 3 ? Slice(text, r + 4, u - 3) : std::string();
    text.erase(0, p - 1 + 4);
    const std::size_t lyricsAt = TagAt(text, "%%%="), next = TagAt(text, "@@@=");
    std::string lyrics;
    if (lyricsAt > 0) {
      if (next == 0) {
        lyrics = text.substr(lyricsAt - 1 + 4);
      } else if (next >= 3) {
        lyrics = Slice(text, lyricsAt + 4, next - 3);
      }
    }
    if (next == 0) {
      text.clear();
    } else {
      text.erase(0, next - 1);
    }
    try {
      AddOwnLyrics(artist, album, false, lyrics, song);
    } catch (const std::exception&) {
      // One record's failure does not stop the others.
    }
  }
  ui::ShowInfo("Done");
}

void TQuillonForm::ShowOwnLyricsPanel() {
  ownLyricsShown_ = true;  // the page the window opens on, when it is not shown yet
  pages->SetActivePageIndex(2);
  FitOwnLyricsPanel();
  Panel3->SetVisible(true);
  Panel3->BringToFront();
}

void TQuillonForm::FitOwnLyricsPanel() {
  // The panel is taller than the page it lies on: the lyrics memo of the first group gives up
  // the difference, and the groups below move up by as much, so the export group stays in
  // sight (the panel keeps its size; its empty foot is what the page cuts off). The memo keeps
  // room for a few lines at least.
  constexpr int kMemoLeast = 80;
  const int over = Panel3->Top() + FlatGroupBox4->Top() + FlatGroupBox4->Height() - TabSheet3->ClientHeight();
  const int give = std::min(over, LyricsMemo3->Height() - kMemoLeast);
  if (give <= 0) return;
  auto raise = [give](ui::TWindowControl* c) { c->SetBounds(c->Left(), c->Top() - give, c->Width(), c->Height()); };
  LyricsMemo3->SetBounds(LyricsMemo3->Left(), LyricsMemo3->Top(), LyricsMemo3->Width(), LyricsMemo3->Height() - give);
  FlatGroupBox5->SetBounds(FlatGroupBox5->Left(), FlatGroupBox5->Top(), FlatGroupBox5->Width(),
                           FlatGroupBox5->Height() - give);
  raise(FlatGroupBox3);
  raise(DisplayCheck);
  raise(FlatGroupBox4);
}

// ---- Internet search assistant -----------------------------------------------------------------

void TQuillonForm::SearchLyricsOnWeb(const std::string& song, const std::string& artist) {
  web::SearchOnWeb(appDir_, web::TSearchKind::Lyrics, song, artist, browser_);
}

void TQuillonForm::SearchMp3OnWeb(const std::string& song, const std::string& artist) {
  web::SearchOnWeb(appDir_, web::TSearchKind::Mp3, song, artist, browser_);
}

void TQuillonForm::FlatButton1Click(ui::TOwnedObject&) {
  SearchLyricsOnWeb(songEdit2->Text(), artistEdit2->Text());
}
void TQuillonForm::FlatButton2Click(ui::TOwnedObject&) {
  SearchMp3OnWeb(songEdit2->Text(), artistEdit2->Text());
}
void TQuillonForm::SchNetLyricBClick(ui::TOwnedObject&) {
  SearchLyricsOnWeb(songLabel->Caption(), Setting.lastartist);
}
void TQuillonForm::ToolButton5Click(ui::TOwnedObject&) {
  SearchMp3OnWeb(songLabel->Caption(), Setting.lastartist);
}

// ---- Help, web site, e-mail, About -------------------------------------------------------------

void TQuillonForm::OnlineHelp1Click(ui::TOwnedObject&) {
  std::string help = appDir_ + "help.html";
  browser_.ShellOpen(IsExistingFile(help) ? help : std::string(kMakerSite));
}

void TQuillonForm::WebSite1Click(ui::TOwnedObject&) {
  browser_.ShellOpen(kMakerSite);
}
void TQuillonForm::Email1Click(ui::TOwnedObject&) {
  browser_.ShellOpen(std::string("mailto:") + kMakerEmail);
}
void TQuillonForm::Image1Click(ui::TOwnedObject&) {
  browser_.ShellOpen(kMakerSite);
}

void TQuillonForm::About1Click(ui::TOwnedObject&) {
  if (aboutForm_) aboutForm_->ShowModal();
}

// ---- Page host and version check -------------------------------------------------------------

void TQuillonForm::webProgressChange(ui::TOwnedObject&, int progress, int progressMax) {
  Gauge1->SetRange(0, progressMax);
  Gauge1->SetPosition(progress);
}

void TQuillonForm::webNewWindow2(ui::TOwnedObject&, bool& cancel) {
  cancel = true;
}

void TQuillonForm::webNavigating(ui::TOwnedObject&, web::TNavigation& navigation) {
  if (web->Tag != 1) return;
  navigation.pageLimit = kLyricsPageLimit;
  // The cut runs on the page host's worker: it gets copies of what it needs, taken now.
  web::TLyricsPage page;
  page.baseDir = Setting.baseDir;
  int selected = songList->ItemIndex();
  if (selected >= 0) page.selectedSong = songList->Item(selected);
  page.songLabel = songLabel->Caption();
  navigation.textWork = [page](const std::string& bodyText) mutable {
    page.bodyText = bodyText;
    std::string text = web::ExtractLyrics(page);
    // One character over the bound tells the window the text was longer; more would only cost.
    if (text.size() > kLyricsTextLimit + 1) text.resize(kLyricsTextLimit + 1);
    return text;
  };
}

void TQuillonForm::webDocumentComplete(ui::TOwnedObject&, const std::string&) {
  Gauge1->SetVisible(false);
  if (web->Tag == 1) {
    std::string text = ExtractLyrics();
    if (text.empty()) {
      // The memo stays empty; the note says why.
      ShowLyricNote(web->DocumentBodyText().empty() ? kNoAnswerNote : kNoLyricsNote);
      return;
    }
    TBoundedText bounded = BoundLyrics(std::move(text));
    StoreFetchedLyrics(bounded.text);
    ShowFetchedLyrics(bounded.text);
    ShowLyricNote(bounded.cut ? kCutTextNote : "");
  } else if (web->Tag == 2) {
    char separator[8] = ".";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator);
    std::optional<std::string> offered = web::NewerVersionOnPage(web->DocumentBodyText(), VersionM->Hint, separator[0]);
    if (offered && ui::Confirm(web::UpdateQuestion(*offered))) {
      browser_.ShellOpen(kMakerSite);
      // The program ends without its close handler: "lyrics.ini" keeps what it had.
      ui::Application().Terminate();
    }
  }
}

std::string TQuillonForm::ExtractLyrics() {
  return web->WorkedText();
}

void TQuillonForm::ShowFetchedLyrics(const std::string& text) {
  LyricMemo->SetText(text);
  LyricMemo->SetFont(Font());
}

void TQuillonForm::CheckVersion() {
  web->Tag = 2;
  web->Navigate(kVersionPage);
}

void TQuillonForm::VersionMClick(ui::TOwnedObject&) {
  CheckVersion();
}

}  // namespace quillon::app
