// The in-memory file directory: TMemoryFileList holds the session's TMemoryFile objects, which
// stand in for disk files when a table is opened with InMemory.
//
// Invariants:
//  1. Every operation on the directory or on any in-memory file runs under InMemoryLock(), one
//     process-wide mutex, so cursors on several threads see consistent files.
//  2. Capacity is Size rounded up to a multiple of 65,535 (0 when Size is 0).
//  3. A file stays in the directory after its last handle closes; only DeleteMemoryFile (with no
//     handle open) or the session's end removes it, so a TMemoryFile reference held by an open
//     handler stays valid until the handler closes.
//  4. Locks belong to the file, not to a handle, and never overlap one another.
//  5. Errors come back as negative engine codes (-err::kInvalidPath no such name, -err::kAccessDenied in use).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillon::engine {

std::recursive_mutex& InMemoryLock();

inline constexpr std::uint32_t kMemoryFileGranule = 65535;

class TMemoryFile {
 public:
  struct TLockRange {
    std::uint32_t First, Last, Length;
  };
  struct THandleEntry {
    int Handle;
    std::int64_t Position;
  };

  explicit TMemoryFile(std::string name) : Name(std::move(name)) {}

  std::uint32_t Read(int handle, void* buffer, std::uint32_t count);
  // Count 0 truncates at the handle's position; returns the bytes written (short when the file
  // would pass 2 GB or memory runs out).
  std::uint32_t Write(int handle, const void* buffer, std::uint32_t count);
  std::int64_t Seek(int handle, std::int64_t offset, int origin);
  bool Lock(std::uint32_t first, std::uint32_t length);
  bool Unlock(std::uint32_t first, std::uint32_t length);
  void CloseHandle(int handle);

  std::uint32_t Size() const { return size_; }
  std::uint32_t Capacity() const { return static_cast<std::uint32_t>(data_.size()); }
  int OpenCount() const { return static_cast<int>(handles_.size()); }
  bool ExclusiveOpen() const { return exclusiveOpen_; }

  std::string Name;  // the full name as given

 private:
  friend class TMemoryFileList;
  int AddHandle(bool exclusive);
  THandleEntry* Find(int handle);
  bool Resize(std::uint32_t size);
  void SetExclusive(bool exclusive) { exclusiveOpen_ = exclusive; }

  bool exclusiveOpen_ = false;
  std::uint32_t size_ = 0;
  std::vector<std::uint8_t> data_;
  std::vector<TLockRange> locks_;
  std::vector<THandleEntry> handles_;
};

class TMemoryFileList {
 public:
  // Each returns a handle number (> 0) and the file, or a negative engine code.
  int CreateMemoryFile(const std::string& name, TMemoryFile*& file);
  int OpenMemoryFile(const std::string& name, bool exclusive, TMemoryFile*& file);
  bool DeleteMemoryFile(const std::string& name);
  bool RenameMemoryFile(const std::string& name, const std::string& newName);
  bool MemoryFileExists(const std::string& name);
  // Copies the whole content of file into a new in-memory file destinationName (0, or a
  // negative code).
  int CopyMemoryFile(TMemoryFile& file, int handle, const std::string& destinationName);

 private:
  TMemoryFile* Find(const std::string& name);
  std::vector<std::unique_ptr<TMemoryFile>> files_;
};

}  // namespace quillon::engine
