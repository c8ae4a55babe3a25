// The disk and in-memory storages; see storage.h for the contract they share.
#include "engine/storage.h"

#include <mutex>

#include "engine/errors.h"

namespace quillon::engine {

// ---- TDiskStorage ----------------------------------------------------------------------------

TDiskStorage::~TDiskStorage() {
  TDiskStorage::Close();
}

int TDiskStorage::Open(const std::string& path, bool readOnly, bool exclusive, bool writeThrough) {
  return file_.Open(path, readOnly, exclusive, writeThrough);
}

int TDiskStorage::Create(const std::string& path, bool writeThrough) {
  return file_.Create(path, writeThrough);
}

int TDiskStorage::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
  bytesRead = 0;
  std::int64_t got = file_.ReadAt(offset, buffer, count);
  if (got < 0) return err::kReadError;
  bytesRead = static_cast<std::uint32_t>(got);
  return 0;
}

int TDiskStorage::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  std::int64_t put = file_.WriteAt(offset, buffer, count);
  if (put < 0) return err::kWriteError;
  bytesWritten = static_cast<std::uint32_t>(put);
  return 0;
}

int TDiskStorage::Size(std::int64_t& size) {
  size = file_.Size();
  return size < 0 ? err::kReadError : 0;
}

int TDiskStorage::Truncate(std::uint64_t size) {
  return file_.Truncate(size) ? 0 : err::kWriteError;
}

int TDiskStorage::Flush() {
  return file_.Flush() ? 0 : err::kWriteError;
}

bool TDiskStorage::Lock(std::uint32_t offset, std::uint32_t length) {
  return file_.Lock(offset, length);
}

bool TDiskStorage::Unlock(std::uint32_t offset, std::uint32_t length) {
  return file_.Unlock(offset, length);
}

void TDiskStorage::Close() {
  file_.Close();
}

// ---- TMemoryStorage --------------------------------------------------------------------------

TMemoryStorage::~TMemoryStorage() {
  TMemoryStorage::Close();
}

int TMemoryStorage::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  bytesRead = 0;
  if (!file_) return err::kInvalidFileHandle;
  file_->Seek(handle_, static_cast<std::int64_t>(offset), 0);
  bytesRead = file_->Read(handle_, buffer, count);
  return 0;
}

int TMemoryStorage::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count,
                            std::uint32_t& bytesWritten) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  bytesWritten = 0;
  if (!file_) return err::kInvalidFileHandle;
  file_->Seek(handle_, static_cast<std::int64_t>(offset), 0);
  bytesWritten = file_->Write(handle_, buffer, count);
  return 0;
}

int TMemoryStorage::Size(std::int64_t& size) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  size = file_ ? file_->Size() : 0;
  return file_ ? 0 : err::kInvalidFileHandle;
}

int TMemoryStorage::Truncate(std::uint64_t size) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  if (!file_) return err::kInvalidFileHandle;
  file_->Seek(handle_, static_cast<std::int64_t>(size), 0);
  file_->Write(handle_, nullptr, 0);
  return 0;
}

bool TMemoryStorage::Lock(std::uint32_t offset, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  return file_ && file_->Lock(offset, length);
}

bool TMemoryStorage::Unlock(std::uint32_t offset, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  return file_ && file_->Unlock(offset, length);
}

void TMemoryStorage::Close() {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  if (file_) file_->CloseHandle(handle_);
  file_ = nullptr;
}

}  // namespace quillon::engine
