// Page 1 end to end on a large base, in the real window: selecting an artist (album filter, page
// layout and the first album's song list) and showing a song whose lyrics are stored in the lyric
// table. A small main rather than Google Benchmark: it runs under Wine with the program's windows.
//
//   song_page_bench <program folder> <base name> [artists to time]
//
// The program folder holds the base folder (scripts/large-base.sh) and a "lyrics.dat"; lyric rows
// are stored for the two songs shown. Prints the median and the worst time of each step in
// milliseconds.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/quillon_form.h"
#include "bench/window_bench.h"
#include "dataset/quarry_table.h"
#include "ui/application.h"
#include "ui/dialogs.h"
#include "util/profile.h"
#include "web/external_browser.h"

using namespace quillon::bench;

int main(int argc, char** argv) {
  using namespace quillon;
  if (argc < 3) {
    std::fprintf(stderr, "usage: song_page_bench <program folder> <base name> [artists]\n");
    return 2;
  }
  std::string base = argv[2];
  int artistCount = argc > 3 ? std::atoi(argv[3]) : 50;
  TBenchWindow window(argv[1], base, 0);
  app::TQuillonForm& form = *window.form;
  const std::string& folder = window.folder;

  // Artists spread over the index: the first of every section, then the next ones.
  TProfileFile index(folder + base + "\\" + form.Setting.artistfile);
  std::vector<std::string> artists;
  for (const std::string& section : index.ReadSections())
    for (const std::string& a : index.ReadSection(section))
      if (static_cast<int>(artists.size()) < artistCount) artists.push_back(a);
  if (artists.empty()) {
    std::fprintf(stderr, "no artists in the base's index\n");
    return 1;
  }

  std::vector<double> select;
  for (const std::string& artist : artists) {
    auto start = Clock::now();
    form.SelectArtist(artist, true);
    PaintNow(form);
    select.push_back(Ms(Clock::now() - start));
    if (form.songList->Count() == 0) std::fprintf(stderr, "no songs for %s\n", artist.c_str());
  }
  Report("SelectArtist + LoadSongs", select);
  // The two halves apart: the album filter and layout, then the song scan.
  std::vector<double> filterOnly, songsOnly;
  for (const std::string& artist : artists) {
    auto start = Clock::now();
    form.SelectArtist(artist, false);
    PaintNow(form);
    auto middle = Clock::now();
    form.LoadSongs();
    PaintNow(form);
    filterOnly.push_back(Ms(middle - start));
    songsOnly.push_back(Ms(Clock::now() - middle));
  }
  Report("  SelectArtist without songs", filterOnly);
  Report("  LoadSongs", songsOnly);

  // Stored lyrics for the first two songs of the last artist's first album (one song when the
  // album has only one), shown in turn as a person clicks from song to song.
  form.SelectArtist(artists.back(), true);
  std::int64_t album = form.t1.FieldNamed("index").AsInteger();
  std::vector<std::string> titles, texts;
  for (int k = 0; k < std::min(2, form.songList->Count()); ++k) {
    std::string title = form.songList->Item(k);
    if (!form.t2.Locate("albumIndex;song", {dataset::TFieldValue{album}, dataset::TFieldValue{title}})) {
      std::fprintf(stderr, "song %s not found\n", title.c_str());
      return 1;
    }
    std::int64_t songIndex = form.t2.FieldNamed("index").AsInteger();
    std::string text;
    for (int line = 1; line <= 16; ++line)
      text += "Line " + std::to_string(line) + " of " + title + ", words to sing along\r\n";
    dataset::TQuarryTable lyrics;
    lyrics.SetDatabaseName(folder);
    lyrics.SetTableName("lyrics.dat");
    lyrics.Open();
    // A row of an earlier run is given this run's text.
    if (lyrics.Locate("songname;songindex;songdb",
                      {dataset::TFieldValue{title}, dataset::TFieldValue{songIndex}, dataset::TFieldValue{base}})) {
      lyrics.Edit();
      lyrics.FieldNamed("lyrics").SetAsString(text);
      lyrics.Post();
    } else {
      lyrics.AppendRecord({dataset::TFieldValue{}, dataset::TFieldValue{title}, dataset::TFieldValue{text},
                           dataset::TFieldValue{songIndex}, dataset::TFieldValue{base}});
    }
    titles.push_back(title);
    texts.push_back(text);
  }
  form.SelectArtist(artists.back(), true);
  std::vector<double> show;
  for (int i = 0; i < 50; ++i) {
    std::size_t k = static_cast<std::size_t>(i) % titles.size();
    auto start = Clock::now();
    form.ShowSong(titles[k], true);
    PaintNow(form);
    show.push_back(Ms(Clock::now() - start));
    // The rich edit hands its text back with CR line ends.
    std::string shown = form.LyricMemo->Text(), want;
    for (char c : texts[k])
      if (c != '\n') want += c;
    std::erase(shown, '\n');
    if (shown != want) {
      std::fprintf(stderr, "the stored lyric of %s was not shown\n", titles[k].c_str());
      return 1;
    }
  }
  Report("ShowSong from the lyric table", show);
  return 0;
}
