#include "lyricsearch/lyric_store.h"

namespace quillon::lyricsearch {

namespace {
std::int32_t CurrentKey(dataset::TQuarryTable& lyrics) {
  return static_cast<std::int32_t>(lyrics.Fields().front()->AsInteger());
}
}  // namespace

std::int32_t AppendLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics, const std::string& songName,
                         const std::string& text, std::int32_t songIndex, const std::string& songDb) {
  TLyricIndex::TWriteTurn turn(index);
  lyrics.Append();
  lyrics.FieldNamed("songname").SetAsString(songName);
  lyrics.FieldNamed("lyrics").SetAsString(text);
  lyrics.FieldNamed("songindex").SetAsInteger(songIndex);
  lyrics.FieldNamed("songdb").SetAsString(songDb);
  lyrics.Post();
  std::int32_t key = CurrentKey(lyrics);
  turn.Replace(key, {}, text);
  turn.Commit();
  return key;
}

void OverwriteLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics, const std::string& text) {
  TLyricIndex::TWriteTurn turn(index);
  lyrics.Edit();  // reads the row as it is now, under the turn
  std::string old = lyrics.FieldNamed("lyrics").AsString();
  lyrics.FieldNamed("lyrics").SetAsString(text);
  lyrics.Post();
  turn.Replace(CurrentKey(lyrics), old, text);
  turn.Commit();
}

void DeleteLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics) {
  TLyricIndex::TWriteTurn turn(index);
  lyrics.Refresh();
  std::int32_t key = CurrentKey(lyrics);
  std::string old = lyrics.FieldNamed("lyrics").AsString();
  lyrics.Delete();
  turn.Remove(key, old);
  turn.Commit();
}

}  // namespace quillon::lyricsearch
