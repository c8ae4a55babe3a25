// The operating system under the engine's file layer: one open disk file with positioned reads
// and writes, truncation, flushing and byte-range locks, plus the few name services the file
// layer needs. Two backends are chosen at build time: os_file_win32.cpp (CreateFileA, LockFile)
// and os_file_posix.cpp (pread/pwrite, open-file-description locks).
//
// Contract shared by both backends, which the locking protocol of the table store depends on:
//  1. A byte-range lock is exclusive and conflicts with every other handle's lock on an
//     overlapping range, whether that handle belongs to another process or to this one.
//  2. A handle cannot lock a range that overlaps one it already holds, and it can unlock only
//     a range it locked with exactly the same offset and length.
//  3. A file opened exclusively cannot be opened again until it is closed, and an exclusive
//     open or a create fails while any other handle has the file open (sharing violation).
//  4. Failures are reported as engine error codes (err::kInvalidPath ... err::kUnknownOsError), never thrown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillon::engine::os {

class TOsFile {
 public:
  TOsFile();
  ~TOsFile();
  TOsFile(const TOsFile&) = delete;
  TOsFile& operator=(const TOsFile&) = delete;

  // 0 on success, else the engine error code of the failure.
  int Open(const std::string& path, bool readOnly, bool exclusive, bool writeThrough);
  // Creates or truncates the file and opens it exclusively for reading and writing.
  int Create(const std::string& path, bool writeThrough);
  void Close();
  bool IsOpen() const;

  // Bytes transferred, or -1 on failure; reading at or past the end transfers 0.
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count);
  std::int64_t WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count);
  bool Truncate(std::uint64_t size);
  std::int64_t Size();
  bool Flush();
  bool Lock(std::uint32_t offset, std::uint32_t length);
  bool Unlock(std::uint32_t offset, std::uint32_t length);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The disk name a table file name refers to. Where the file system distinguishes case, an exact
// match wins, else the one entry of the folder that matches without regard to case; with none
// (or several) the name is returned as given, in the platform's own separators.
std::string ResolveName(const std::string& path);
bool IsExistingFile(const std::string& path);
// 0 and the attribute, or an engine error code when the attributes cannot be read.
int ReadOnlyAttribute(const std::string& path, bool& readOnly);
bool RemoveFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
std::string CurrentDirectory();

}  // namespace quillon::engine::os
