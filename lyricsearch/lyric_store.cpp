#include "lyricsearch/lyric_store.h"

#include <functional>
#include <memory>

namespace quillon::lyricsearch {

namespace {

std::int32_t CurrentKey(dataset::TQuarryTable& lyrics) {
  return static_cast<std::int32_t>(lyrics.Fields().front()->AsInteger());
}

// The index never costs a lyric: when its turn cannot begin or its change fails, the row is
// written (or stays written) alone, the index is left stale, and its next use rebuilds it from
// the table. This is the one place where index failures are set aside.
std::unique_ptr<TLyricIndex::TWriteTurn> BeginTurn(TLyricIndex& index, TIndexUpkeep upkeep) {
  try {
    if (upkeep == TIndexUpkeep::OnlyIfCurrent && !index.IsCurrentWithoutBuilding()) return nullptr;
    return std::make_unique<TLyricIndex::TWriteTurn>(index);
  } catch (const std::exception&) {
    return nullptr;
  }
}

void FinishTurn(std::unique_ptr<TLyricIndex::TWriteTurn>& turn,
                const std::function<void(TLyricIndex::TWriteTurn&)>& change) {
  if (!turn) return;
  try {
    change(*turn);
    turn->Commit();
  } catch (const std::exception&) {
  }
}

}  // namespace

std::int32_t AppendLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics, const std::string& songName,
                         const std::string& text, std::int32_t songIndex, const std::string& songDb,
                         TIndexUpkeep upkeep) {
  auto turn = BeginTurn(index, upkeep);
  lyrics.Append();
  lyrics.FieldNamed("songname").SetAsString(songName);
  lyrics.FieldNamed("lyrics").SetAsString(text);
  lyrics.FieldNamed("songindex").SetAsInteger(songIndex);
  lyrics.FieldNamed("songdb").SetAsString(songDb);
  lyrics.Post();
  std::int32_t key = CurrentKey(lyrics);
  FinishTurn(turn, [&](TLyricIndex::TWriteTurn& t) { t.Replace(key, {}, text); });
  return key;
}

void OverwriteLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics, const std::string& text, TIndexUpkeep upkeep) {
  auto turn = BeginTurn(index, upkeep);
  lyrics.Edit();  // reads the row as it is now, under the turn
  std::string old = lyrics.FieldNamed("lyrics").AsString();
  lyrics.FieldNamed("lyrics").SetAsString(text);
  lyrics.Post();
  std::int32_t key = CurrentKey(lyrics);
  FinishTurn(turn, [&](TLyricIndex::TWriteTurn& t) { t.Replace(key, old, text); });
}

void DeleteLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics) {
  auto turn = BeginTurn(index, TIndexUpkeep::BuildFirst);
  lyrics.Refresh();
  std::int32_t key = CurrentKey(lyrics);
  std::string old = lyrics.FieldNamed("lyrics").AsString();
  lyrics.Delete();
  FinishTurn(turn, [&](TLyricIndex::TWriteTurn& t) { t.Remove(key, old); });
}

}  // namespace quillon::lyricsearch
