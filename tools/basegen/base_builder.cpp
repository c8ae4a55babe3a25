#include "tools/basegen/base_builder.h"

#include <algorithm>
#include <set>

#include "util/files.h"
#include "util/text.h"
#include "util/tsv.h"

namespace quillon::basegen {

namespace {

void CheckWidth(const std::string& value, size_t width, const char* what, size_t line) {
  if (value.size() > width) {
    throw EBaseError("line " + std::to_string(line) + ": " + what + " longer than " + std::to_string(width) +
                     " characters: " + value);
  }
}

void CheckIniName(const std::string& artist, size_t line) {
  if (artist.empty() || artist != Trim(artist) || artist.find('=') != std::string::npos || artist[0] == '[' ||
      artist[0] == ';') {
    throw EBaseError("line " + std::to_string(line) + ": artist name cannot be an index key: \"" + artist + "\"");
  }
}

std::string WriteTsv(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
  std::string text = JoinTsvLine(header) + "\n";
  for (const auto& r : rows) text += JoinTsvLine(r) + "\n";
  return text;
}

void WriteFile(const std::string& path, const std::string& text) {
  if (!platform::WriteWholeFile(path, text)) throw EBaseError("cannot write " + path);
}

}  // namespace

std::string ArtistSection(const std::string& artist) {
  char c = artist.empty() ? '#' : UpperAscii(artist[0]);
  return (c >= 'A' && c <= 'Z') ? std::string(1, c) : "#";
}

BaseTables BuildBase(const std::vector<CatalogueLine>& lines, bool ownBase) {
  BaseTables t;
  std::map<std::pair<std::string, std::string>, int> albumNumbers;
  std::set<std::string> artists;
  int lastAlbum = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const CatalogueLine& l = lines[i];
    size_t lineNo = i + 2;
    CheckIniName(l.artist, lineNo);
    CheckWidth(l.artist, kArtistWidth, "artist", lineNo);
    CheckWidth(l.album, kAlbumWidth, "album", lineNo);
    CheckWidth(l.song, kSongWidth, "song", lineNo);
    CheckWidth(l.url1, kUrlWidth, "url1", lineNo);
    if (l.song.empty()) throw EBaseError("line " + std::to_string(lineNo) + ": song title missing");
    auto key = std::make_pair(l.artist, l.album);
    auto found = albumNumbers.find(key);
    int album;
    if (found == albumNumbers.end()) {
      album = static_cast<int>(t.albums.size()) + 1;
      albumNumbers.emplace(key, album);
      t.albums.push_back({l.album, l.artist, ownBase ? 1 : static_cast<int>(t.songs.size()) + 1});
    } else {
      album = found->second;
      if (!ownBase && album != lastAlbum) {
        throw EBaseError("line " + std::to_string(lineNo) + ": songs of album \"" + l.album + "\" of " + l.artist +
                         " are not consecutive");
      }
    }
    lastAlbum = album;
    t.songs.push_back({album, l.song, l.url1});
    int songIndex = static_cast<int>(t.songs.size());
    if (!l.lyrics.empty()) t.lyrics.push_back({l.song, l.lyrics, songIndex});
    artists.insert(l.artist);
  }
  for (const auto& a : artists) t.artistIndex[ArtistSection(a)].push_back(a);
  for (auto& [section, names] : t.artistIndex) {
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& x, const std::string& y) { return CompareIgnoringCase(x, y) < 0; });
  }
  return t;
}

std::vector<CatalogueLine> ReadCatalogue(const std::string& file, const std::string& lyricsDir) {
  std::string content;
  if (!platform::ReadWholeFile(file, content)) throw EBaseError("cannot read " + file);
  std::vector<std::string> rows = SplitLines(content);
  const std::vector<std::string> header = {"artist", "album", "song", "url1", "lyrics"};
  if (rows.empty() || SplitTsvLine(rows[0]) != header) {
    throw EBaseError(file + ": the first line must name the columns artist, album, song, url1, lyrics");
  }
  std::vector<CatalogueLine> lines;
  for (size_t i = 1; i < rows.size(); ++i) {
    if (Trim(rows[i]).empty()) continue;
    std::vector<std::string> f = SplitTsvLine(rows[i]);
    if (f.size() != header.size()) {
      throw EBaseError(file + ": line " + std::to_string(i + 1) + " has " + std::to_string(f.size()) +
                       " fields, not 5");
    }
    CatalogueLine l{f[0], f[1], f[2], f[3], {}};
    if (!f[4].empty()) {
      std::string path = WithTrailingDelimiter(lyricsDir) + f[4] + ".txt";
      if (!platform::ReadWholeFile(path, l.lyrics)) throw EBaseError("cannot read lyric text " + path);
      l.lyrics = JoinLines(SplitLines(l.lyrics));  // the program's texts end lines with CR LF
    }
    lines.push_back(std::move(l));
  }
  return lines;
}

void WriteBase(const BaseTables& t, const std::string& baseName, const std::string& outDir) {
  std::string dir = WithTrailingDelimiter(outDir);
  std::vector<std::vector<std::string>> rows;
  for (const auto& a : t.albums) rows.push_back({a.album, a.artist, std::to_string(a.beginID)});
  WriteFile(dir + "albums.tsv", WriteTsv({"album", "artist", "beginID"}, rows));
  rows.clear();
  for (const auto& s : t.songs) rows.push_back({std::to_string(s.albumIndex), s.song, s.url1});
  WriteFile(dir + "songs.tsv", WriteTsv({"albumIndex", "song", "url1"}, rows));
  rows.clear();
  for (const auto& l : t.lyrics) rows.push_back({l.songname, l.lyrics, std::to_string(l.songindex), baseName});
  WriteFile(dir + "lyrics.tsv", WriteTsv({"songname", "lyrics", "songindex", "songdb"}, rows));
  std::vector<std::string> ini;
  for (const auto& [section, names] : t.artistIndex) {
    if (!ini.empty()) ini.emplace_back();
    ini.push_back("[" + section + "]");
    for (const auto& n : names) ini.push_back(n + "=");
  }
  WriteFile(dir + "artist.ini", JoinLines(ini));
}

}  // namespace quillon::basegen
