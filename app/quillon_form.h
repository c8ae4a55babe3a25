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

class TQuillonForm : public ui::TForm {
 public:
  TQuillonForm(std::string appDir, web::TExternalBrowser& browser);
  ~TQuillonForm() override;

  void SetAboutForm(TAboutForm* about) { aboutForm_ = about; }

  // Start-up and view state.
  void FormCreate();
  void FormShow(ui::TComponent& sender);
  void FormClose(ui::TComponent& sender);
  void LoadState();
  void SaveState();
  void RestoreView();
  void pagesChange(ui::TComponent& sender);
  void SearchLyrics1Click(ui::TComponent& sender);
  void Exit1Click(ui::TComponent& sender);

  // Base catalogue.
  void FillBaseList();
  void OpenBase(const std::string& name);
  void SwitchBase(const std::string& name);
  void dbCbChange(ui::TComponent& sender);

  // Artist browsing.
  void FillLetterGrid();
  void ShowArtists(const std::string& s);
  void AZGridClick(ui::TComponent& sender);
  void artistListClick(ui::TComponent& sender);
  void Button1Click(ui::TComponent& sender);

  // Internet search assistant.
  void SearchLyricsOnWeb(const std::string& song, const std::string& artist);
  void SearchMp3OnWeb(const std::string& song, const std::string& artist);
  void FlatButton1Click(ui::TComponent& sender);
  void FlatButton2Click(ui::TComponent& sender);
  void SchNetLyricBClick(ui::TComponent& sender);
  void ToolButton5Click(ui::TComponent& sender);

  // Help, web site, e-mail, About.
  void OnlineHelp1Click(ui::TComponent& sender);
  void WebSite1Click(ui::TComponent& sender);
  void Email1Click(ui::TComponent& sender);
  void Image1Click(ui::TComponent& sender);
  void About1Click(ui::TComponent& sender);

  // The page host's notifications and what the loaded pages are for (web->Tag: 1 a song's lyrics
  // page, 2 the version page).
  void webProgressChange(ui::TComponent& sender, int progress, int progressMax);
  void webNewWindow2(ui::TComponent& sender, bool& cancel);
  void webDocumentComplete(ui::TComponent& sender, const std::string& address);
  // The lyric text cut out of the loaded page by the open base's rule; empty when none.
  std::string ExtractLyrics();
  // Shows lyrics fetched from the web (purpose 1).
  void ShowFetchedLyrics(const std::string& text);
  // Loads the version page; its completion offers a newer version when the page names one.
  void CheckVersion();
  void VersionMClick(ui::TComponent& sender);

  // Albums and songs of page 1.
  void SelectArtist(const std::string& artist, bool loadSongs);
  void LoadSongs();
  void t1AfterScroll(dataset::TDataSet& sender);
  void songListClick(ui::TComponent& sender);
  bool IsOwnLyricsBase();
  bool IsAlbumTableFiltered() { return t1.Active() && t1.Filtered(); }

  // Lyrics of a song of the current album: from the lyric table, else from its web page.
  void ShowSong(const std::string& title, bool fromList);
  // The song's title shown above the lyrics, with the song tool bar just right of it.
  void ShowSongTitle(const std::string& title);
  // Keeps a fetched text for the song under the song table's cursor (edit or append).
  void StoreFetchedLyrics(const std::string& text);

  // Save, Edit and Print of the lyrics shown: the title, a blank line, the memo's lines, every
  // line ended by CR LF.
  std::string LyricsDocument();
  void ToolButton1Click(ui::TComponent& sender);
  void ToolButton2Click(ui::TComponent& sender);
  void ToolButton3Click(ui::TComponent& sender);
  // The report's title and lines from what the window shows.
  void FillPrintReport();

  // Local search of page 2.
  void fullschBClick(ui::TComponent& sender);
  void songEditKeyDown(ui::TComponent& sender, WORD& key);
  void q1QueryProgress(dataset::TQuarryQuery& sender, int currentRecord, std::uint16_t percentDone, bool& abortQuery);
  void q1AfterScroll(dataset::TDataSet& sender);
  void viewLyricBClick(ui::TComponent& sender);
  // The search statement over the song table songDb and the album table albumDb for the song and
  // artist terms (either may be empty, not both).
  static std::string LocalSearchStatement(const std::string& songDb, const std::string& albumDb,
                                          const std::string& song, const std::string& artist);

  // Own lyrics: the form of Panel3 and the batch import into the base "MyLyrics".
  void FlatButton3Click(ui::TComponent& sender);
  void FlatButton4Click(ui::TComponent& sender);
  void SwitchToOwnBase();
  // The album and song tables closed and opened again on the open base's files.
  void ReopenBaseTables();
  void AddOwnLyrics(const std::string& artist, const std::string& album, bool interactive, const std::string& lyrics,
                    const std::string& song);
  // Shows Panel3 over page 2 (the command-line switch "/ownlyrics"); nothing else shows it.
  void ShowOwnLyricsPanel();

  const std::string& appDir() const { return appDir_; }
  TSetting Setting;
  std::vector<std::string> scratchList;

  // Components, in creation order.
  ui::TMainMenu* MainMenu1;
  ui::TMenuItem* System1;
  ui::TMenuItem* SelectArtist1;
  ui::TMenuItem* AlbumSongs1;
  ui::TMenuItem* SearchLyrics1;
  ui::TMenuItem* Exit1;
  ui::TMenuItem* Help1;
  ui::TMenuItem* OnlineHelp1;
  ui::TMenuItem* WebSite1;
  ui::TMenuItem* Email1;
  ui::TMenuItem* VersionM;
  ui::TMenuItem* About1;
  // Draws the frame, the menu bar and the page control's tabs from "skin.dat".
  skin::TscSkinEngine* scSkinEngine1 = nullptr;
  ui::TImageList* ImageList1;
  ui::TPanel* Panel1;
  ui::TPanel* Panel2;
  ui::TShape* Shape1;
  ui::TLabel* Label7;
  flatctl::TFlatComboBox* dbCb;
  ui::TLabel* Label3;
  ui::TStringGrid* AZGrid;
  ui::TButton* Button1;
  ui::TImage* Image1;
  ui::TPageControl* pages;
  ui::TTabSheet* TabSheet1;
  ui::TListBox* artistList;
  ui::TTabSheet* songTab;
  ui::TLabel* albumLabel;
  ui::TDBGrid* AlbumGrid;
  ui::TPanel* covePanel;
  ui::TPanel* SongListPanel;
  ui::TLabel* Label2;
  ui::TProgressBar* Gauge1;
  ui::TListBox* songList;
  ui::TLabel* songLabel;
  ui::TToolBar* songtb;
  ui::TToolButton* SchNetLyricB;
  ui::TToolButton* ToolButton5;
  ui::TToolButton* ToolButton1;
  ui::TToolButton* ToolButton2;
  ui::TToolButton* ToolButton3;
  ui::TRichEdit* LyricMemo;
  ui::TTabSheet* TabSheet3;
  flatctl::TFlatGroupBox* FlatGroupBox1;
  ui::TLabel* Label4;
  flatctl::TFlatEdit* songEdit2;
  ui::TLabel* Label1;
  flatctl::TFlatEdit* artistEdit2;
  flatctl::TFlatButton* FlatButton1;
  flatctl::TFlatButton* FlatButton2;
  flatctl::TFlatGroupBox* FlatGroupBox2;
  ui::TLabel* Label6;
  flatctl::TFlatEdit* songEdit;
  ui::TLabel* Label5;
  flatctl::TFlatEdit* artistEdit;
  flatctl::TFlatButton* fullschB;
  ui::TProgressBar* Gauge2;
  ui::TDBGrid* DBGrid1;
  flatctl::TFlatButton* viewLyricB;
  ui::TLabel* infoLabel;
  TPageHostView* web;
  ui::TPanel* printPanel;
  ui::TPanel* Panel3;
  ui::TLabel* Label8;
  flatctl::TFlatGroupBox* FlatGroupBox5;
  ui::TLabel* Label9;
  flatctl::TFlatMemo* LyricsMemo3;
  ui::TLabel* Label13;
  flatctl::TFlatEdit* songEdit3;
  ui::TLabel* Label10;
  flatctl::TFlatEdit* artistEdit3;
  ui::TLabel* Label11;
  flatctl::TFlatEdit* albumEdit3;
  flatctl::TFlatButton* FlatButton3;
  flatctl::TFlatGroupBox* FlatGroupBox3;
  flatctl::TFlatButton* FlatButton4;
  flatctl::TFlatMemo* FlatMemo1;
  flatctl::TFlatCheckBox* DisplayCheck;
  flatctl::TFlatGroupBox* FlatGroupBox4;
  flatctl::TFlatButton* ExportButton;
  flatctl::TFlatButton* UploadButton;
  ui::TLabel* ShareLabel;
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
  dataset::TDataSource DataSource1;
  dataset::TDataSource ds2;
  ui::TSaveDialog* SaveDialog1;
  ui::TOpenDialog* OpenDialog1;

 private:
  void CreateMenu();
  void CreateLeftStrip();
  void CreatePages();
  void CreateSongPage();
  void CreateSearchPage();
  void CreateOwnLyricsPanel();
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
  int searchPercent_ = -1;       // the local search's progress as last shown
  web::TExternalBrowser& browser_;
  TAboutForm* aboutForm_ = nullptr;
  std::unique_ptr<TProfileFile> stateIni;
  std::unique_ptr<TProfileFile> descriptorIni;
  std::unique_ptr<TProfileFile> artistIni;
  bool albumScrollArmed = false;
};

}  // namespace quillon::app
