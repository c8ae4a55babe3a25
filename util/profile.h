// Profile files (.ini) with the semantics of the Windows profile-file functions that settings,
// base descriptors, artist indexes and search templates rely on:
//  1. Section and key names match without regard to the case of A-Z; blanks around names and
//     values are not part of them; a value enclosed in a pair of like quotes loses the quotes.
//  2. A missing file, section or key reads as the caller's default and is never an error.
//  3. Every write goes to the file at once (the whole file is rewritten with CR LF line ends).
//     A failed write raises EFileError.
//  4. Lines keep their order. A new key goes after the last key of its section; a new section
//     goes at the end of the file; erasing a section removes it with all its lines, so writing
//     to it again re-appends it at the end.
//  5. Lines beginning with ";" are comments: kept, but never keys.
//  6. The file is read again whenever its size or time stamp changed since the last look, so
//     another program's writes are seen.
// Not thread-safe: one object per thread.
#pragma once

#include <string>
#include <vector>

#include "util/platform.h"

namespace quillon {

class TProfileFile {
 public:
  explicit TProfileFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback);
  int ReadInteger(const std::string& section, const std::string& key, int fallback);
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);

  // Key names of a section in file order (the first section of that name).
  std::vector<std::string> ReadSection(const std::string& section);
  // Section names in file order, each name once.
  std::vector<std::string> ReadSections();
  bool SectionExists(const std::string& section);
  bool ValueExists(const std::string& section, const std::string& key);

  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

 private:
  struct Span {
    size_t header;  // index of the "[name]" line
    size_t end;     // one past the section's last line
  };
  void Refresh();
  void Save();
  bool FindSection(const std::string& section, Span& span) const;
  // Index of the first line of the span with that key, or npos.
  size_t FindKey(const Span& span, const std::string& key) const;

  std::string fileName_;
  std::vector<std::string> lines_;
  platform::FileStamp stamp_;
  bool loaded_ = false;
};

// One value from a profile file (the file is opened, read and released).
std::string ReadIniString(const std::string& iniFile, const std::string& section, const std::string& key,
                          const std::string& fallback);

}  // namespace quillon
