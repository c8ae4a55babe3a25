// Page 2's search by a line of the lyrics: a "Lyrics:" row in the local search box, its results
// in a list shown where the local search's grid stands, and a result opened on page 1 with the
// first match selected in the lyrics. Every base whose lyrics are stored is searched; a result of
// another base than the open one names its base and opens it.
#include <windows.h>

#include <richedit.h>

#include "app/quillon_form.h"
#include "lyricsearch/lyric_query.h"
#include "lyricsearch/word_cutter.h"
#include "ui/cursor.h"
#include "ui/dialogs.h"
#include "util/profile.h"
#include "util/text.h"

namespace quillon::app {

namespace {

constexpr ui::TColorRef kFindButtonColor = ui::RgbColor(0xD9D9D9);
constexpr int kAllSides = ui::kAnchorLeft | ui::kAnchorTop | ui::kAnchorRight | ui::kAnchorBottom;

// The artist and album of a lyric row: its base's song table leads from the song index to the
// album row. Empty when the base or the rows are gone.
void FindAlbumOf(const std::string& appDir, TLyricResult& result) {
  try {
    TProfileFile descriptor(appDir + result.Hit.SongDb + "\\" + result.Hit.SongDb + ".ini");
    const std::string folder = appDir + result.Hit.SongDb + "\\";
    dataset::TQuarryTable songs, albums;
    songs.SetDatabaseName(folder);
    songs.SetTableName(descriptor.ReadString("db", "songDb", "songlist.dat"));
    songs.SetReadOnly(true);
    songs.Open();
    if (!songs.Locate("index", dataset::TFieldValue{std::int64_t{result.Hit.SongIndex}})) return;
    std::int64_t albumIndex = songs.FieldNamed("albumIndex").AsInteger();
    albums.SetDatabaseName(folder);
    albums.SetTableName(descriptor.ReadString("db", "AlbumDb", "AlbumList.dat"));
    albums.SetReadOnly(true);
    albums.Open();
    if (!albums.Locate("index", dataset::TFieldValue{albumIndex})) return;
    result.Album = albums.FieldNamed("album").AsString();
    result.Artist = albums.FieldNamed("artist").AsString();
  } catch (const std::exception&) {
    // A base that cannot be read still shows its song; opening it then says what is wrong.
  }
}

// The rich edit's character position of byte offset in text: a line break counts once there.
LONG MemoPosition(const std::string& text, std::size_t offset) {
  LONG position = 0;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i)
    if (!(text[i] == '\n' && i > 0 && text[i - 1] == '\r')) ++position;
  return position;
}

}  // namespace

void TQuillonForm::CreateLyricSearchRow() {
  lyricLabel = Add<ui::TTextLabel>(FlatGroupBox2, "lyricLabel", "Lyrics:", 14, 45);
  lyricEdit = Add<flatctl::TFlatEdit>(FlatGroupBox2, "lyricEdit", 54, 42, 438);
  lyricEdit->SetHint("Words of the lyrics, \"a phrase\", a prefix* or -a word to leave out");
  lyricFindB = Add<flatctl::TFlatButton>(FlatGroupBox2, "lyricFindB", "Find lyrics", 504, 40, 75, 23);
  lyricFindB->SetColor(kFindButtonColor);
  lyricFindB->OnClick = [this](ui::TOwnedObject& s) { lyricFindBClick(s); };
  lyricEdit->OnKeyDown = [this](ui::TOwnedObject&, WORD& key) {
    if (key == VK_RETURN) lyricFindBClick(*lyricFindB);
  };
}

void TQuillonForm::CreateLyricResultList() {
  lyricList = Add<ui::TItemList>(FlatGroupBox2, "lyricList", DBGrid1->Left(), DBGrid1->Top(), DBGrid1->Width(),
                                 DBGrid1->Height());
  lyricList->SetAnchors(kAllSides);
  lyricList->SetVisible(false);
  lyricList->OnClick = [this](ui::TOwnedObject&) { OpenLyricResult(lyricList->ItemIndex()); };
}

void TQuillonForm::ShowLyricResults(bool shown) {
  lyricList->SetVisible(shown);
  DBGrid1->SetVisible(!shown);
}

void TQuillonForm::lyricFindBClick(ui::TOwnedObject&) {
  const std::string query = Trim(lyricEdit->Text());
  lyricEdit->SetText(query);
  ui::THourglass wait;
  std::vector<lyricsearch::TLyricHit> hits;
  try {
    OpenLyricTable();
    hits = LyricIndex().Search(query, kLyricResultLimit);
  } catch (const lyricsearch::ELyricQueryError& e) {
    ui::ShowInfo(e.what());
    return;
  }
  lyricResults_.clear();
  std::vector<std::string> items;
  for (auto& hit : hits) {
    TLyricResult result{std::move(hit), {}, {}};
    FindAlbumOf(appDir_, result);
    std::string item = result.Hit.SongName + " - " + result.Artist + " - " + result.Album;
    if (!EqualIgnoringCase(result.Hit.SongDb, Setting.base)) item += " [" + result.Hit.SongDb + "]";
    item += ":  " + lyricsearch::MarkedText(result.Hit.Snippet);
    items.push_back(std::move(item));
    lyricResults_.push_back(std::move(result));
  }
  lyricList->SetItems(items);
  ShowLyricResults(true);
  infoLabel->SetCaption("Results: " + std::to_string(items.size()));
}

void TQuillonForm::OpenLyricResult(int index) {
  if (index < 0 || index >= static_cast<int>(lyricResults_.size())) return;
  const TLyricResult result = lyricResults_[static_cast<std::size_t>(index)];
  if (!EqualIgnoringCase(result.Hit.SongDb, Setting.base)) {
    if (dbCb->IndexOf(result.Hit.SongDb) < 0) {
      ui::ShowInfo("The lyrics base \"" + result.Hit.SongDb + "\" is not installed.");
      return;
    }
    dbCb->SetItemIndex(dbCb->IndexOf(result.Hit.SongDb));
    SwitchBase(result.Hit.SongDb);
  }
  ShowSongTitle(result.Hit.SongName);
  LyricMemo->Clear();
  pages->SetActivePageIndex(1);
  SelectArtist(result.Artist, true);
  t1.Locate("album", dataset::TFieldValue{result.Album});
  OpenSongTable();
  t2.Locate("index", dataset::TFieldValue{std::int64_t{result.Hit.SongIndex}});
  ShowSong(result.Hit.SongName, false);
  // The first match, found again by its word number in the text shown, whose line breaks may
  // differ from the stored text's.
  const std::string shown = LyricMemo->Text();
  const auto words = lyricsearch::CutWords(shown);
  if (result.Hit.FirstMatch >= words.size()) return;
  const auto& word = words[result.Hit.FirstMatch];
  CHARRANGE range{MemoPosition(shown, word.Offset), MemoPosition(shown, word.Offset + word.Length)};
  SendMessageA(LyricMemo->Handle(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  SendMessageA(LyricMemo->Handle(), EM_SCROLLCARET, 0, 0);
  LyricMemo->SetFocus();
}

}  // namespace quillon::app
