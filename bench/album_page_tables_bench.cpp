// The table work behind the album page, without the window: the album filter of SelectArtist
// with its record count, the song scan of LoadSongs and the lyric table's three-field Locate of
// ShowSong, on a large base (scripts/large-base.sh). Tells the time the tables take from the time
// the window adds (bench/song_page_bench.cpp measures both together under Wine).
//
//   album_page_tables_bench <program folder> <base name> [artists to time]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/timing_report.h"
#include "dataset/quarry_table.h"
#include "util/profile.h"

using namespace quillon::bench;

int main(int argc, char** argv) {
  using namespace quillon;
  if (argc < 3) {
    std::fprintf(stderr, "usage: album_page_tables_bench <program folder> <base name> [artists]\n");
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '/') folder += '/';
  const std::string base = argv[2];
  const std::string baseDir = folder + base + "/";
  const int artistCount = argc > 3 ? std::atoi(argv[3]) : 50;

  TProfileFile index(baseDir + "artist.ini");
  std::vector<std::string> artists;
  for (const std::string& section : index.ReadSections())
    for (const std::string& a : index.ReadSection(section))
      if (static_cast<int>(artists.size()) < artistCount) artists.push_back(a);
  if (artists.empty()) {
    std::fprintf(stderr, "no artists in the base's index\n");
    return 1;
  }

  dataset::TQuarryTable t1, t2;
  t1.SetDatabaseName(baseDir);
  t1.SetTableName("AlbumList.dat");
  t1.Open();
  t2.SetDatabaseName(baseDir);
  t2.SetTableName("songlist.dat");
  t2.Open();

  std::vector<double> filter, count, songs;
  std::size_t found = 0;
  std::string title;  // the last album's first song
  for (const std::string& artist : artists) {
    auto start = Clock::now();
    t1.SetFilter("Artist='" + artist + "'");
    t1.SetFiltered(true);
    t1.Open();
    auto filtered = Clock::now();
    int n = t1.RecordCount();
    auto counted = Clock::now();
    // The scan of LoadSongs: from a little before the album's first song to its last.
    std::int64_t album = t1.FieldNamed("index").AsInteger();
    dataset::TRecordField& albumIndex = t2.FieldNamed("albumIndex");
    dataset::TRecordField& song = t2.FieldNamed("song");
    std::vector<std::string> titles;
    t2.First();
    int begin = static_cast<int>(t1.FieldNamed("beginID").AsInteger()) - 5;
    if (begin > 1) t2.SetRecNo(begin);
    while (!t2.Eof() && albumIndex.AsInteger() != album) t2.Next();
    for (; !t2.Eof() && albumIndex.AsInteger() == album; t2.Next()) titles.push_back(song.AsString());
    auto scanned = Clock::now();
    filter.push_back(Ms(filtered - start));
    count.push_back(Ms(counted - filtered));
    songs.push_back(Ms(scanned - counted));
    found += titles.size() + (n > 0 ? 0 : 1000000);
    if (!titles.empty()) title = titles.front();
  }
  // ShowSong's table work for the last album's first song: the walk from 200 records before the
  // song table's position, then the lyric table's three-field Locate (its lyric table holds one
  // row per base song shown here, appended first).
  std::vector<double> walk, locate;
  {
    dataset::TQuarryTable t3;
    t3.SetDatabaseName(folder);
    t3.SetTableName("lyrics.dat");
    t3.Open();
    std::int64_t album = t1.FieldNamed("index").AsInteger();
    dataset::TRecordField& albumIndex = t2.FieldNamed("albumIndex");
    dataset::TRecordField& song = t2.FieldNamed("song");
    for (int i = 0; i < 50; ++i) {
      auto start = Clock::now();
      int r = t2.RecNo();
      t2.First();
      if (r > 200) t2.SetRecNo(r - 200);
      std::int64_t songIndex = -1;
      for (; !t2.Eof(); t2.Next())
        if (albumIndex.AsInteger() == album && song.AsString() == title) {
          songIndex = t2.FieldNamed("index").AsInteger();
          break;
        }
      auto walked = Clock::now();
      bool found = t3.Locate("songname;songindex;songdb", {dataset::TFieldValue{title}, dataset::TFieldValue{songIndex},
                                                           dataset::TFieldValue{base}});
      walk.push_back(Ms(walked - start));
      locate.push_back(Ms(Clock::now() - walked));
      if (!found && i == 0) {
        t3.AppendRecord({dataset::TFieldValue{}, dataset::TFieldValue{title},
                         dataset::TFieldValue{std::string(400, 'l')}, dataset::TFieldValue{songIndex},
                         dataset::TFieldValue{base}});
      }
      // Where LoadSongs leaves the song table: after the album's last song.
      t2.SetRecNo(r);
    }
  }
  Report("album filter (SetFilter, Open)", filter);
  Report("RecordCount of the filtered albums", count);
  Report("song scan", songs);
  Report("ShowSong's 200-record walk", walk);
  Report("lyric table Locate", locate);
  std::printf("songs listed: %zu\n", found);
  return 0;
}
