// A lyric table as the program installs it ("lyrics.dat": id, songname, lyrics, songindex,
// songdb), made in a folder for the tests of the word index and their peer process.
#pragma once

#include <string>

#include "engine/data_file.h"
#include "engine/field_types.h"

namespace quillon::lyricsearch::testing {

inline engine::TFieldDescriptor LyricField(const char* name, engine::TFieldType type, int size = 0,
                                           std::uint8_t subType = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  f.SubType = subType;
  return f;
}

// folder ends with the path delimiter.
inline void CreateLyricTable(const std::string& folder) {
  engine::TTableDefinition t;
  t.Fields = {LyricField("id", engine::TFieldType::Integer, 0, engine::kSubTypeAutoInc),
              LyricField("songname", engine::TFieldType::String, 50),
              LyricField("lyrics", engine::TFieldType::Blob, 0, engine::kSubTypeMemo),
              LyricField("songindex", engine::TFieldType::Integer),
              LyricField("songdb", engine::TFieldType::String, 40)};
  engine::TIndexDescriptor primary;
  primary.KeyFields[primary.KeyFieldCount++] = 1;
  engine::TIndexDescriptor bySong;
  bySong.IndexName = "BySong";
  bySong.KeyFields[bySong.KeyFieldCount++] = 4;
  bySong.KeyFields[bySong.KeyFieldCount++] = 5;
  t.Indexes = {primary, bySong};
  engine::TDataFile file;
  file.SetFileName(folder + "lyrics.dat");
  file.SetExclusive(true);
  file.CreateTable(t);
}

}  // namespace quillon::lyricsearch::testing
