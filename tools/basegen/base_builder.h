// Turns a lyrics base's catalogue (one line per song: artist, album, song title, page identifier,
// stored lyric text) into the rows of the base's tables and its artist index, in the shapes the
// program reads:
//  1. Albums are numbered 1, 2, ... in order of first appearance; that number is the album's
//     "index" (the auto-increment key the album table hands out on import in the same order).
//  2. Songs are numbered likewise; a song's "albumIndex" is its album's number.
//  3. An album's "beginID" is the 1-based record number of its first song in the song table.
//     Outside the own-lyrics base every album's songs must be consecutive (the program's song
//     scan relies on it); the own-lyrics base stores 1 and may spread an album's songs.
//  4. The artist index has one section per initial: "A" to "Z" for names beginning with a
//     letter (either case), "#" for all others; keys sorted without regard to case.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillon::basegen {

class EBaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Field widths of the tables.
inline constexpr size_t kAlbumWidth = 40;
inline constexpr size_t kArtistWidth = 40;
inline constexpr size_t kSongWidth = 50;
inline constexpr size_t kUrlWidth = 150;

struct CatalogueLine {
  std::string artist;
  std::string album;
  std::string song;
  std::string url1;
  std::string lyrics;  // stored lyric text; empty = none stored
};

struct AlbumRow {
  std::string album;
  std::string artist;
  int beginID = 0;
};

struct SongRow {
  int albumIndex = 0;
  std::string song;
  std::string url1;
};

struct LyricRow {
  std::string songname;
  std::string lyrics;
  int songindex = 0;
};

struct BaseTables {
  std::vector<AlbumRow> albums;  // album k has "index" k + 1
  std::vector<SongRow> songs;    // song k has "index" k + 1
  std::vector<LyricRow> lyrics;
  std::map<std::string, std::vector<std::string>> artistIndex;  // section -> sorted names
};

// Raises EBaseError naming the line (1-based, counting the catalogue's header) at fault.
BaseTables BuildBase(const std::vector<CatalogueLine>& lines, bool ownBase);

// The artist index section of a name.
std::string ArtistSection(const std::string& artist);

// Reads a catalogue file: a header row "artist album song url1 lyrics", then one song per line;
// the lyrics column names a file <name>.txt in lyricsDir (empty: none).
std::vector<CatalogueLine> ReadCatalogue(const std::string& file, const std::string& lyricsDir);

// Writes albums.tsv, songs.tsv, lyrics.tsv (with songdb = baseName) and artist.ini into outDir.
void WriteBase(const BaseTables& tables, const std::string& baseName, const std::string& outDir);

}  // namespace quillon::basegen
