// TStorage: the bytes under one open table file, whatever holds them. TFileHandler keeps its own
// position, name and flags and talks to exactly one TStorage while it is open, so a disk file, an
// in-memory file and a test's fault-injecting wrapper all look the same to the table formats.
//
// Contract shared by every implementation:
//  1. ReadAt, WriteAt, Size, Truncate and Flush return 0 or a positive engine error code
//     (err:: names); they never throw. Reading at or past the end is not an error: it reads 0.
//  2. WriteAt reports how many bytes reached the storage; fewer than asked is a short write,
//     which the caller treats as a failure (err::kWriteError) even when the code is 0.
//  3. Lock and Unlock answer true or false: a refused lock is a normal answer, not a failure.
//     Lock ranges follow the locking protocol of file_handler.h.
//  4. Close releases the underlying handle (and with it every lock it holds); it is called once,
//     and a destroyed storage closes itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/memory_file.h"
#include "engine/os_file.h"

namespace quillon::engine {

class TStorage {
 public:
  TStorage() = default;
  virtual ~TStorage() = default;
  TStorage(const TStorage&) = delete;
  TStorage& operator=(const TStorage&) = delete;

  virtual int ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) = 0;
  virtual int WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten) = 0;
  virtual int Size(std::int64_t& size) = 0;
  virtual int Truncate(std::uint64_t size) = 0;
  virtual int Flush() = 0;
  virtual bool Lock(std::uint32_t offset, std::uint32_t length) = 0;
  virtual bool Unlock(std::uint32_t offset, std::uint32_t length) = 0;
  virtual void Close() = 0;
};

// A file on disk through the operating system backend of os_file.h.
class TDiskStorage : public TStorage {
 public:
  ~TDiskStorage() override;
  // 0, or the engine error code of the failed open or create.
  int Open(const std::string& path, bool readOnly, bool exclusive, bool writeThrough);
  int Create(const std::string& path, bool writeThrough);

  int ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) override;
  int WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten) override;
  int Size(std::int64_t& size) override;
  int Truncate(std::uint64_t size) override;
  int Flush() override;
  bool Lock(std::uint32_t offset, std::uint32_t length) override;
  bool Unlock(std::uint32_t offset, std::uint32_t length) override;
  void Close() override;

 private:
  os::TOsFile file_;
};

// One handle of an in-memory file. The file outlives the handle (memory_file.h), so the
// reference stays valid until Close; every call runs under InMemoryLock(), because the handle's
// position is shared state of the file and a read or write is a seek followed by the transfer.
class TMemoryStorage : public TStorage {
 public:
  TMemoryStorage(TMemoryFile& file, int handle) : file_(&file), handle_(handle) {}
  ~TMemoryStorage() override;

  int ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) override;
  int WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten) override;
  int Size(std::int64_t& size) override;
  // A memory file never reports a failed truncation; it keeps what it cannot shrink or grow.
  int Truncate(std::uint64_t size) override;
  int Flush() override { return 0; }  // nothing lies between the handle and the bytes
  bool Lock(std::uint32_t offset, std::uint32_t length) override;
  bool Unlock(std::uint32_t offset, std::uint32_t length) override;
  void Close() override;

 private:
  TMemoryFile* file_;
  int handle_;
};

}  // namespace quillon::engine
