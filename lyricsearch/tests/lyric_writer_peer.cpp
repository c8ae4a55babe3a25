// The peer of the two-process index test: appends lyrics to a lyric table through the program's
// write path (index kept in the same turn), each with a word of its own ("<tag>w<n>") and one
// word every lyric shares, and overwrites every third one afterwards.
//   lyric_writer_peer <folder> <tag> <count>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "dataset/quarry_table.h"
#include "engine/file_session.h"
#include "lyricsearch/lyric_index.h"
#include "lyricsearch/lyric_store.h"

using namespace quillon;

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  engine::InitializeEngine();
  const std::string folder = argv[1], tag = argv[2];
  const int count = std::atoi(argv[3]);
  try {
    dataset::TQuarryTable lyrics;
    lyrics.SetDatabaseName(folder);
    lyrics.SetTableName("lyrics.dat");
    lyrics.Open();
    lyricsearch::TLyricIndex index(folder);
    std::vector<std::int32_t> keys;
    for (int i = 0; i < count; ++i) {
      std::string text = "shared chorus line\r\n" + tag + "w" + std::to_string(i) + " verse of " + tag;
      keys.push_back(lyricsearch::AppendLyric(index, lyrics, tag + " song " + std::to_string(i), text, i, tag));
    }
    for (int i = 0; i < count; i += 3) {
      if (!lyrics.Locate("id", dataset::TFieldValue{std::int64_t{keys[static_cast<std::size_t>(i)]}})) return 3;
      lyricsearch::OverwriteLyric(index, lyrics,
                                  "shared chorus again\r\n" + tag + "w" + std::to_string(i) + " " + tag + "changed");
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
