// TFileHandler: one named table file, on disk or in the session's in-memory directory, that is
// opened, created, read, written, sought, flushed and byte-range locked. It is the base of
// TDataFile, TIndexFile and TBlobFile, which add their formats; nothing here knows about fields,
// keys or records.
//
// While open, the handler keeps its own position and flags and does every read, write, size,
// flush and lock through one TStorage (storage.h): a disk file or a handle of an in-memory
// file, possibly wrapped by the session's storage hook. Only open, create, erase, rename,
// exists and copy know which kind of file it is.
//
// Invariants:
//  1. FileName, InMemory, Exclusive and ReadOnly change only while the file is closed (err::kFileInUse);
//     setting an equal value is always allowed. FileName always passes through NormalizeName.
//  2. Reads and writes happen at the handler's own position, which only Seek, ReadBuffer and
//     WriteBuffer move; a short read is an error (err::kReadError) unless the caller allows it.
//  3. A file carrying the read-only attribute is opened read-only and every lock on it succeeds
//     without locking anything; no write ever reaches it (err::kAccessDenied).
//  4. LockRegion and UnlockRegion never raise: lock failure is a normal answer and the caller
//     decides. Every other failure raises the engine error of its code, naming ErrorFileName().
//
// Locking protocol: every lock is a byte range beyond any real data (above 2,047,483,645), so
// locks never block reading or writing the files. The offsets are 32-bit and fixed; they are
// the same on disk and in in-memory lock lists:
//
//   lock                          file    first byte          length        attempts, pause
//   record r                      data    0x7FFFFFFE - r      1             retry count + 1, wait ms busy
//   table                         data    2,047,483,645       100,000,001   retry count + 1, wait ms busy
//   data semaphore                data    0x7FFFFFFF          1             8,193, 3 ms busy
//   exclusive index/BLOB sem.     idx/blb 0x7FFF0000          65,535        8,193, 3 ms sleeping
//   shared index/BLOB semaphore   idx/blb 0x7FFFFFFF - s      1             8,193, 3 ms sleeping, new s each try
//
// The table lock covers the record bytes of records 1 to 100,000,001; every shared slot
// (s = 1..65,535) lies inside the exclusive semaphore's range, so the exclusive semaphore
// conflicts with every shared one while shared holders never conflict (but by chance of slot).
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "engine/memory_file.h"
#include "engine/storage.h"

namespace quillon::engine {

inline constexpr std::uint32_t kRecordLockBase = 0x7FFFFFFE;  // record r locks kRecordLockBase - r
inline constexpr std::uint32_t kTableLockOffset = 2047483645;
inline constexpr std::uint32_t kTableLockLength = 100000001;
inline constexpr std::uint32_t kDataSemaphoreOffset = 0x7FFFFFFF;
inline constexpr std::uint32_t kExclusiveSemaphoreOffset = 0x7FFF0000;
inline constexpr std::uint32_t kExclusiveSemaphoreLength = 0xFFFF;
inline constexpr std::uint32_t kSharedSemaphoreTop = 0x7FFFFFFF;  // slot s locks kSharedSemaphoreTop - s
inline constexpr int kSemaphoreAttempts = 8193;
inline constexpr std::uint32_t kSemaphorePauseMs = 3;
inline constexpr std::uint32_t kCopyChunk = 65535;

enum class TLockWait { Busy, Sleeping };

// The name with its extension (the part from the last "." after the last folder separator)
// replaced by ext; used by all three table files.
std::string ReplaceExtension(const std::string& name, const std::string& ext);
// True when the name's extension is ext, compared without case.
bool HasExtension(const std::string& name, const std::string& ext);

class TFileHandler {
 public:
  TFileHandler() = default;
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // The base rule: the name trimmed of blanks.
  virtual std::string NormalizeName(const std::string& name) const;
  virtual void Open();
  virtual void Close();
  // Creates (or truncates) the file and leaves it open; needs Exclusive (err::kMustBeExclusive).
  virtual void CreateNew();
  void Erase();
  void Rename(const std::string& newName);
  void CopyTo(const std::string& destinationName);
  std::uint32_t ReadBuffer(void* buffer, std::uint32_t count, bool allowShort = false);
  // Count 0 truncates the file at the current position.
  void WriteBuffer(const void* buffer, std::uint32_t count);
  // Origin 0 from the start, 1 from the current position, 2 from the end.
  std::int64_t Seek(std::int64_t offset, int origin);
  virtual void Flush();
  bool LockRegion(std::uint32_t offset, std::uint32_t length);
  bool UnlockRegion(std::uint32_t offset, std::uint32_t length);
  bool Exists() const;

  // Seek then read or write.
  std::uint32_t ReadAt(std::int64_t offset, void* buffer, std::uint32_t count, bool allowShort = false);
  void WriteAt(std::int64_t offset, const void* buffer, std::uint32_t count);
  std::int64_t FileSize();

  // Locks with the protocol's retries (LockRetries holds how many attempts the last one made).
  bool LockWithRetries(std::uint32_t offset, std::uint32_t length, int attempts, std::uint32_t pauseMs, TLockWait wait);
  // The index and BLOB semaphores; a failure after all attempts (or a failed release) raises
  // err::kLockFailure. Taking one that is already held is a no-op.
  void AcquireSharedSemaphore();
  void ReleaseSharedSemaphore();
  void AcquireExclusiveSemaphore();
  void ReleaseExclusiveSemaphore();
  bool HoldsSharedSemaphore() const { return sharedSlot_ != 0; }
  bool HoldsExclusiveSemaphore() const { return exclusiveSemaphore_; }

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name);
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool value);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  bool ReadOnlyAttribute() const { return readOnlyAttribute_; }
  bool WriteThrough() const { return writeThrough_; }
  void SetWriteThrough(bool value);  // ignored while open
  bool Opened() const { return opened_; }
  int Handle() const { return handle_; }

  // The protocol's semaphore timing; tests shorten it so that failures come quickly.
  int SemaphoreAttempts = kSemaphoreAttempts;
  std::uint32_t SemaphorePauseMs = kSemaphorePauseMs;
  int LockRetries = 0;  // attempts made by the last LockWithRetries

 protected:
  // The data file's name for error messages: companions report their table's data file.
  virtual std::string ErrorFileName() const { return fileName_; }
  [[noreturn]] void Fail(int code) const;
  // Sets the name without normalising (companions take the data file's name as it is).
  void AssignFileName(const std::string& name) { fileName_ = name; }

 private:
  void RequireClosed() const;
  void RequireOpen() const;
  // Puts the freshly opened storage in place, through the session's storage hook.
  void Attach(std::unique_ptr<TStorage> storage);

  std::string fileName_;
  bool inMemory_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool readOnlyAttribute_ = false;
  bool readOnlyForced_ = false;  // ReadOnly was switched on by the attribute, off again at Close
  bool writeThrough_ = false;
  bool opened_ = false;
  int handle_ = 0;
  std::int64_t position_ = 0;
  // Everything that reads, writes, sizes, flushes or locks the open file goes through storage_;
  // the in-memory file itself is kept only so that CopyTo can copy it inside the directory.
  std::unique_ptr<TStorage> storage_;
  TMemoryFile* memoryFile_ = nullptr;
  std::uint32_t sharedSlot_ = 0;
  bool exclusiveSemaphore_ = false;
  static std::uint32_t NewSlotSeed();
  std::minstd_rand slotRandom_{NewSlotSeed()};
};

}  // namespace quillon::engine
