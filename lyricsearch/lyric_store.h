// The write paths of the lyric table: each changes one lyric row and the word index in one turn
// of the index's lock (lyric_index.h, invariant 2), so that no process ever finds the two apart.
// Every program path that writes a lyric goes through one of these. The index never costs a
// lyric: when it cannot be changed the row is written alone and the index, left stale, is
// rebuilt from the table on its next use.
#pragma once

#include <cstdint>
#include <string>

#include "dataset/quarry_table.h"
#include "lyricsearch/lyric_index.h"

namespace quillon::lyricsearch {

// What a write does with an index that is missing or older than the table: build it first (the
// default), or leave it to its next search, so that a window showing a fetched lyric never waits
// for a build of the whole table.
enum class TIndexUpkeep { BuildFirst, OnlyIfCurrent };

// Appends a lyric row (key left to the table) and answers its key.
std::int32_t AppendLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics, const std::string& songName,
                         const std::string& text, std::int32_t songIndex, const std::string& songDb,
                         TIndexUpkeep upkeep = TIndexUpkeep::BuildFirst);
// Sets the "lyrics" of the row the table stands on.
void OverwriteLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics, const std::string& text,
                    TIndexUpkeep upkeep = TIndexUpkeep::BuildFirst);
// Deletes the row the table stands on.
void DeleteLyric(TLyricIndex& index, dataset::TQuarryTable& lyrics);

}  // namespace quillon::lyricsearch
