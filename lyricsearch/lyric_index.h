// TLyricIndex: the word index of the lyric table, kept in two tables of our own beside it.
//
//   "lyricwords.dat"  one row per word: "word" (CHAR(32), primary, byte order), "lyrics" (the
//                     number of lyrics holding it), "postings" and "recent" (BLOBs: together
//                     postings.h's byte form; appended lyrics go to the short "recent" part, which
//                     moves into "postings" when it outgrows kRecentBytes, so that adding a lyric
//                     rewrites small values), "lastkey" (the last lyric key of the list)
//   "lyricdocs.dat"   one row per indexed lyric: "lyrickey" (INTEGER, primary: the lyric row's
//                     key) and "wordcount"; the row with key 0 is the index's state: "wordcount"
//                     the words of all lyrics, "tablestamp" the lyric table's change counter as
//                     the index last matched it. The table's first user value is the format.
//
// Invariants:
//  1. The index is trusted only when its state row names the lyric table's change counter as it
//     is now. Missing tables, another format, a state row that is missing or names another
//     counter (a write the index never saw), or a posting list or table that does not read back,
//     make the index be built again from the lyric table before it answers anything.
//  2. Every change of the index, and every search, runs under the table lock of "lyricdocs.dat",
//     which is the index's one lock between processes. A write turn (TWriteTurn) takes it before
//     the lyric row is written and records the new change counter only after the index holds the
//     change, so another process either waits for the whole turn or sees its counter missing from
//     the index and rebuilds (1): it never answers from an index that disagrees with the table.
//  3. The lyric table is read through a cursor of the index's own, so the caller's cursor on it
//     (the window's) stays where it was.
//
// Ownership and threads: owns its three cursors; one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dataset/quarry_table.h"
#include "lyricsearch/lyric_query.h"
#include "lyricsearch/postings.h"

namespace quillon::lyricsearch {

inline constexpr const char* kWordTableName = "lyricwords.dat";
inline constexpr const char* kLyricKeyTableName = "lyricdocs.dat";
inline constexpr std::int16_t kIndexFormat = 2;

struct TLyricHit {
  std::int32_t Key = 0;
  double Score = 0;
  std::string SongName;
  std::int32_t SongIndex = 0;
  std::string SongDb;
  TSnippet Snippet;
  std::uint32_t FirstMatch = 0;  // the word number of the first match in the lyric
};

class TTableLock;

enum class TIndexState { Current, Missing, Stale, Damaged };
const char* IndexStateName(TIndexState state);

class TLyricIndex {
 public:
  // folder holds the lyric table lyricTable and the index tables.
  explicit TLyricIndex(std::string folder, std::string lyricTable = "lyrics.dat");
  ~TLyricIndex();
  TLyricIndex(const TLyricIndex&) = delete;
  TLyricIndex& operator=(const TLyricIndex&) = delete;

  // Told during a rebuild: lyrics read so far and of how many; then rows written.
  std::function<void(const char* step, int done, int total)> OnProgress;

  // How the stored index stands against the lyric table (opens or creates the tables).
  TIndexState Inspect();
  // True when the index exists and is current, found without making or building anything: for a
  // write that must not wait for a build (the window's), which then leaves the index to its next
  // search to be built, with progress.
  bool IsCurrentWithoutBuilding();
  // Builds the index again unless it is current; answers whether it did.
  bool MakeCurrent();
  void Rebuild();
  // The differences between the stored index and one built from the lyric table now, one line
  // each; empty when they agree. Never changes anything.
  std::vector<std::string> Check();
  // The best hits of query (lyric_query.h), at most limit; ELyricQueryError for a query with
  // nothing to look for.
  std::vector<TLyricHit> Search(std::string_view query, std::size_t limit = 50);
  // How often the index was built again since this object was made.
  int RebuildCount() const { return rebuilds_; }

  // One change of the lyric table and of the index, under the index's lock (invariant 2). The
  // caller writes the lyric row between the constructor and Commit and tells the index what
  // changed; a turn that ends without Commit leaves the index stale, to be rebuilt.
  class TWriteTurn {
   public:
    explicit TWriteTurn(TLyricIndex& index);
    ~TWriteTurn();
    TWriteTurn(const TWriteTurn&) = delete;
    TWriteTurn& operator=(const TWriteTurn&) = delete;
    // The lyric key now holds newText instead of oldText (empty for a new row).
    void Replace(std::int32_t key, std::string_view oldText, std::string_view newText);
    // The lyric key, which held oldText, was deleted.
    void Remove(std::int32_t key, std::string_view oldText);
    void Commit();

   private:
    TLyricIndex& index_;
    std::unique_ptr<TTableLock> lock_;
    bool committed_ = false;
  };

 private:
  friend class TStoredPostings;
  friend class TTableLock;
  void OpenTables();
  void CloseTables();
  // replace: tables that are there are deleted and made anew; else only missing ones are made.
  void CreateTables(bool replace);
  static bool IndexFileExists(dataset::TQuarryTable& table);
  static constexpr int kOpenAttempts = 10;
  static constexpr std::uint32_t kOpenWait = 50;
  void OpenLyrics();
  std::int32_t LyricCounter();
  TIndexState InspectLocked();
  bool MakeCurrentLocked();
  void RebuildLocked();
  TMemoryIndex BuildFromLyrics();
  class TExclusiveWords;
  void WriteIndex(const TMemoryIndex& built);
  void ChangeLyric(std::int32_t key, std::string_view oldText, std::string_view newText, bool removed);
  void WriteState(std::int64_t totalWords, std::int32_t stamp);
  bool ReadState(std::int64_t& totalWords, std::int32_t& stamp);
  TPostingList StoredPostings(const std::string& word);
  // Of the word row the table stands on: its whole byte form.
  std::string StoredBytes();
  // Adds the posting of a lyric newer than all of the word's; false (nothing done) when it is not.
  bool AppendNewest(const std::string& word, const TPosting& posting);
  static constexpr std::size_t kRecentBytes = 2048;
  void PutPostings(const std::string& word, const TPostingList& postings);
  void LoadLengths();
  std::string LyricKeyField() const;

  std::string folder_, lyricTable_;
  dataset::TQuarryTable lyrics_, words_, keys_;
  std::unordered_map<std::int32_t, std::uint32_t> lengths_;
  std::int32_t lengthsStamp_ = 0;
  bool lengthsLoaded_ = false;
  int lockDepth_ = 0;
  int rebuilds_ = 0;
};

}  // namespace quillon::lyricsearch
