// The main window: its controls, the remembered view state ("lyrics.ini"), the base catalogue
// (installed bases, the download list, switching bases), artist browsing (letter grid, artist list,
// the artist index sorting tool), the internet search callers and the Help menu.
//
// Invariants:
//  1. appDir ends with a folder delimiter; every file is found relative to it.
//  2. After construction the state is loaded and a base is open: descriptorIni and artistIni always
//     exist (a missing file reads as defaults and an empty index).
//  3. t1 and t2 always point at the open base's album and song tables once opened (a base switch
//     re-points them); t3 is the lyric table shared by all bases, opened on first use and kept open.
//  4. Messages and questions go through ui::UserDialogs(); addresses, files and e-mail through the
//     TExternalBrowser given at construction.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/lyrics_report.h"
#include "app/page_host_view.h"
#include "app/setting.h"
#include "dataset/data_set.h"
#include "dataset/quarry_query.h"
#include "dataset/quarry_table.h"
#include "flatctl/flat_button.h"
#include "flatctl/flat_check_box.h"
#include "flatctl/flat_combo_box.h"
#include "flatctl/flat_edit.h"
#include "flatctl/flat_group_box.h"
#include "lyricsearch/lyric_index.h"
#include "skin/skin_engine.h"
#include "ui/db_grid.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "ui/image.h"
#include "ui/menu.h"
#include "ui/page_control.h"
#include "ui/std_controls.h"
#include "ui/string_grid.h"
#include "ui/tool_bar.h"
#include "util/profile.h"
#include "web/external_browser.h"
#include "web/search_assistant.h"

namespace quillon::app {

class TAboutForm;

// A hit of the search by lyrics with the album and artist its base gives it.
struct TLyricResult {
  lyricsearch::TLyricHit Hit;
  std::string Artist, Album;
};

class TQuillonForm : public ui::TFormWindow {
 public:
  TQuillonForm(std::string appDir, web::TExternalBrowser& browser);
  ~TQuillonForm() override;

  void SetAboutForm(TAboutForm* about) { aboutForm_ = about; }

  // Start-up and view state.
  void FormCreate();
  void FormShow(ui::TOwnedObject& sender);
  void FormClose(ui::TOwnedObject& sender);
  void LoadState();
  void SaveState();
  void RestoreView();
  void pagesChange(ui::TOwnedObject& sender);
  void SearchLyrics1Click(ui::TOwnedObject& sender);
  void Exit1Click(ui::TOwnedObject& sender);

  // Base catalogue.
  void FillBaseList();
  void OpenBase(const std::string& name);
  void SwitchBase(const std::string& name);
  void dbCbChange(ui::TOwnedObject& sender);

  // Artist browsing.
  void FillLetterGrid();
  void ShowArtists(const std::string& s);
  void AZGridClick(ui::TOwnedObject& sender);
  void artistListClick(ui::TOwnedObject& sender);
  void Button1Click(ui::TOwnedObject& sender);

  // Internet search assistant.
  void SearchLyricsOnWeb(const std::string& song, const std::string& artist);
  void SearchMp3OnWeb(const std::string& song, const std::string& artist);
  void FlatButton1Click(ui::TOwnedObject& sender);
  void FlatButton2Click(ui::TOwnedObject& sender);
  void SchNetLyricBClick(ui::TOwnedObject& sender);
  void ToolButton5Click(ui::TOwnedObject& sender);

  // Help, web site, e-mail, About.
  void OnlineHelp1Click(ui::TOwnedObject& sender);
  void WebSite1Click(ui::TOwnedObject& sender);
  void Email1Click(ui::TOwnedObject& sender);
  void Image1Click(ui::TOwnedObject& sender);
  void About1Click(ui::TOwnedObject& sender);

  // The page host's notifications and what the loaded pages are for (web->Tag: 1 a song's lyrics
  // page, 2 the version page).
  void webProgressChange(ui::TOwnedObject& sender, int progress, int progressMax);
  void webNewWindow2(ui::TOwnedObject& sender, bool& cancel);
  void webDocumentComplete(ui::TOwnedObject& sender, const std::string& address);
  // Before a page loads: a lyrics page (purpose 1) is read up to a lower bound than other pages,
  // and its lyrics are cut out on the page host's worker, so that no page keeps the window from
  // answering.
  void webNavigating(ui::TOwnedObject& sender, web::TNavigation& navigation);
  // The lyric text cut out of the loaded page by the open base's rule (on the page host's worker,
  // with the song list's selection and the song label as they were when the page was asked
  // for); empty when none.
  std::string ExtractLyrics();
  // Shows lyrics fetched from the web (purpose 1).
  void ShowFetchedLyrics(const std::string& text);
  // Loads the version page; its completion offers a newer version when the page names one.
  void CheckVersion();
  void VersionMClick(ui::TOwnedObject& sender);

  // Albums and songs of page 1.
  void SelectArtist(const std::string& artist, bool loadSongs);
  void LoadSongs();
  void t1AfterScroll(dataset::TDataSet& sender);
  void songListClick(ui::TOwnedObject& sender);
  bool IsOwnLyricsBase();
  bool IsAlbumTableFiltered() { return t1.Active() && t1.Filtered(); }

  // Lyrics of a song of the current album: from the lyric table, else from its web page.
  void ShowSong(const std::string& title, bool fromList);
  // The song's title shown above the lyrics, with the song tool bar just right of it.
  void ShowSongTitle(const std::string& title);
  // Keeps a fetched text for the song under the song table's cursor (edit or append).
  void StoreFetchedLyrics(const std::string& text);
  // A lyric text cut to the bound of what is shown and stored (after its last line end within
  // it), and whether anything was cut.
  struct TBoundedText {
    std::string text;
    bool cut = false;
  };
  static TBoundedText BoundLyrics(std::string text);
  // A stored text in the memo, cut to the bound with the note saying so.
  void ShowLyricsText(const std::string& text);
  // The short note under the memo (why no lyrics are shown, or that they are cut); empty hides it.
  void ShowLyricNote(const std::string& note);

  // Save, Edit and Print of the lyrics shown: the title, a blank line, the memo's lines, every
  // line ended by CR LF.
  std::string LyricsDocument();
  void ToolButton1Click(ui::TOwnedObject& sender);
  void ToolButton2Click(ui::TOwnedObject& sender);
  void ToolButton3Click(ui::TOwnedObject& sender);
  // Ctrl+S saves and Ctrl+P prints the lyrics shown, as the tool bar's buttons do; false for any
  // other key, or when no song is shown on page 1.
  bool LyricsKeyCommand(char letter);
  // The report's title and lines from what the window shows.
  void FillPrintReport();

  // Local search of page 2.
  void fullschBClick(ui::TOwnedObject& sender);
  void songEditKeyDown(ui::TOwnedObject& sender, WORD& key);
  void q1QueryProgress(dataset::TQuarryQuery& sender, int currentRecord, std::uint16_t percentDone, bool& abortQuery);
  void q1AfterScroll(dataset::TDataSet& sender);
  void viewLyricBClick(ui::TOwnedObject& sender);
  // The search statement over the song table songDb and the album table albumDb for the song and
  // artist terms (either may be empty, not both).
  static std::string LocalSearchStatement(const std::string& songDb, const std::string& albumDb,
                                          const std::string& song, const std::string& artist);

  // The word index of the lyric table, made on first use; every write of a lyric row goes
  // through lyricsearch/lyric_store.h with it.
  lyricsearch::TLyricIndex& LyricIndex();
  // Search by a line of the lyrics on page 2 (lyric_search_box.cpp).
  static constexpr std::size_t kLyricResultLimit = 50;
  void lyricFindBClick(ui::TOwnedObject& sender);
  // Opens result index of the last search by lyrics on page 1, the first match selected.
  void OpenLyricResult(int index);
  // The results of the search by lyrics in place of the local search's grid, or the grid again.
  void ShowLyricResults(bool shown);
  ui::TTextLabel* lyricLabel = nullptr;
  flatctl::TFlatEdit* lyricEdit = nullptr;
  flatctl::TFlatButton* lyricFindB = nullptr;
  ui::TItemList* lyricList = nullptr;
  std::vector<TLyricResult> lyricResults_;

  // Own lyrics: the form of Panel3 and the batch import into the base "MyLyrics".
  void FlatButton3Click(ui::TOwnedObject& sender);
  void FlatButton4Click(ui::TOwnedObject& sender);
  void SwitchToOwnBase();
  // The album and song tables closed and opened again on the open base's files.
  void ReopenBaseTables();
  void AddOwnLyrics(const std::string& artist, const std::string& album, bool interactive, const std::string& lyrics,
                    const std::string& song);
  // Shows Panel3 over page 2 (the command-line switch "/ownlyrics"); nothing else shows it.
  void ShowOwnLyricsPanel();
  // Fits Panel3 into its page by shortening the lyrics memo and raising the groups below it.
  void FitOwnLyricsPanel();

  const std::string& appDir() const { return appDir_; }
  TSetting Setting;
  std::vector<std::string> scratchList;

  // Components, in creation order.
  ui::TMenuBar* MainMenu1;
  ui::TMenuEntry* System1;
  ui::TMenuEntry* SelectArtist1;
  ui::TMenuEntry* AlbumSongs1;
  ui::TMenuEntry* SearchLyrics1;
  ui::TMenuEntry* Exit1;
  ui::TMenuEntry* Help1;
  ui::TMenuEntry* OnlineHelp1;
  ui::TMenuEntry* WebSite1;
  ui::TMenuEntry* Email1;
  ui::TMenuEntry* VersionM;
  ui::TMenuEntry* About1;
  // Draws the frame, the menu bar and the page control's tabs from "skin.dat".
  skin::TscSkinEngine* scSkinEngine1 = nullptr;
  ui::TImageStrip* ImageList1;
  ui::TPanelBox* Panel1;
  ui::TPanelBox* Panel2;
  ui::TShapeBox* Shape1;
  ui::TTextLabel* Label7;
  flatctl::TFlatComboBox* dbCb;
  ui::TTextLabel* Label3;
  ui::TTextGrid* AZGrid;
  ui::TPushButton* Button1;
  ui::TPictureBox* Image1;
  ui::TTabbedPages* pages;
  ui::TTabPage* TabSheet1;
  ui::TItemList* artistList;
  ui::TTabPage* songTab;
  ui::TTextLabel* albumLabel;
  ui::TTableGrid* AlbumGrid;
  ui::TPanelBox* covePanel;
  ui::TPanelBox* SongListPanel;
  ui::TTextLabel* Label2;
  ui::TProgressGauge* Gauge1;
  ui::TItemList* songList;
  ui::TTextLabel* songLabel;
  ui::TButtonBar* songtb;
  ui::TBarButton* SchNetLyricB;
  ui::TBarButton* ToolButton5;
  ui::TBarButton* ToolButton1;
  ui::TBarButton* ToolButton2;
  ui::TBarButton* ToolButton3;
  ui::TRichTextBox* LyricMemo;
  ui::TTextLabel* lyricNote;
  ui::TTabPage* TabSheet3;
  flatctl::TFlatGroupBox* FlatGroupBox1;
  ui::TTextLabel* Label4;
  flatctl::TFlatEdit* songEdit2;
  ui::TTextLabel* Label1;
  flatctl::TFlatEdit* artistEdit2;
  flatctl::TFlatButton* FlatButton1;
  flatctl::TFlatButton* FlatButton2;
  flatctl::TFlatGroupBox* FlatGroupBox2;
  ui::TTextLabel* Label6;
  flatctl::TFlatEdit* songEdit;
  ui::TTextLabel* Label5;
  flatctl::TFlatEdit* artistEdit;
  flatctl::TFlatButton* fullschB;
  ui::TProgressGauge* Gauge2;
  ui::TTableGrid* DBGrid1;
  flatctl::TFlatButton* viewLyricB;
  ui::TTextLabel* infoLabel;
  TPageHostView* web;
  ui::TPanelBox* printPanel;
  ui::TPanelBox* Panel3;
  ui::TTextLabel* Label8;
  flatctl::TFlatGroupBox* FlatGroupBox5;
  ui::TTextLabel* Label9;
  flatctl::TFlatMemo* LyricsMemo3;
  ui::TTextLabel* Label13;
  flatctl::TFlatEdit* songEdit3;
  ui::TTextLabel* Label10;
  flatctl::TFlatEdit* artistEdit3;
  ui::TTextLabel* Label11;
  flatctl::TFlatEdit* albumEdit3;
  flatctl::TFlatButton* FlatButton3;
  flatctl::TFlatGroupBox* FlatGroupBox3;
  flatctl::TFlatButton* FlatButton4;
  flatctl::TFlatMemo* FlatMemo1;
  flatctl::TFlatCheckBox* DisplayCheck;
  flatctl::TFlatGroupBox* FlatGroupBox4;
  flatctl::TFlatButton* ExportButton;
  flatctl::TFlatButton* UploadButton;
  ui::TTextLabel* ShareLabel;
  // The album and song tables of the open base and the shared lyric table (invariant 3). Declared
  // before the data sources so that they outlive them.
  dataset::TQuarryTable t1;
  dataset::TQuarryTable t2;
  dataset::TQuarryTable t3;
  // The printed report of the lyrics shown.
  TLyricsReport q;
  // The local search's query over the open base.
  dataset::TQuarryQuery q1;
  // DataSource1 binds t1 to AlbumGrid, ds2 binds q1 to DBGrid1.
  dataset::TDataFeed DataSource1;
  dataset::TDataFeed ds2;
  ui::TSaveFileDialog* SaveDialog1;
  ui::TOpenFileDialog* OpenDialog1;

 private:
  void CreateMenu();
  void CreateLeftStrip();
  void CreatePages();
  void CreateSongPage();
  void CreateSearchPage();
  void CreateOwnLyricsPanel();
  // The lyrics row after the local search's button and the result list beside its grid, so that
  // the Tab order reads them where they stand (lyric_search_box.cpp).
  void CreateLyricSearchRow();
  void CreateLyricResultList();
  std::string DescriptorFile(const std::string& name) const;
  void AskToDownload(const std::string& name);
  void MarkLetter(const std::string& letter);
  void OpenSongTable();
  void OpenLyricTable();
  // The song of the current album titled title: the song table's cursor on it and its page
  // identifier in id; false (cursor at the end) when the album holds no such song.
  bool FindSong(const std::string& title, std::string& id);

  std::string appDir_;

  bool ownLyricsShown_ = false;  // by the command-line switch
  int dbCbShown_ = -1;           // the base box's entry before the user's last choice
  int searchPercent_ = -1;       // the local search's progress as last shown
  web::TExternalBrowser& browser_;
  TAboutForm* aboutForm_ = nullptr;
  std::unique_ptr<TProfileFile> stateIni;
  std::unique_ptr<TProfileFile> descriptorIni;
  std::unique_ptr<TProfileFile> artistIni;
  bool albumScrollArmed = false;
  std::unique_ptr<lyricsearch::TLyricIndex> lyricIndex_;
};

}  // namespace quillon::app
