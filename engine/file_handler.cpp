// TFileHandler; see file_handler.h for its invariants and the locking protocol.
#include "engine/file_handler.h"

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "engine/errors.h"
#include "engine/file_session.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

constexpr std::size_t kMaxFileName = 255;

void Pause(std::uint32_t ms, TLockWait wait) {
  if (wait == TLockWait::Sleeping) {
    platform::SleepMs(ms);
    return;
  }
  std::uint32_t start = platform::TickCount();
  while (platform::TickCount() - start <= ms) std::this_thread::yield();
}

}  // namespace

// The system's random source costs more than opening a small table, and every cursor makes
// three handlers: it is read once per process, and each handler's seed mixes a counter into it.
std::uint32_t TFileHandler::NewSlotSeed() {
  static const std::uint64_t base = (std::uint64_t{std::random_device{}()} << 32) | std::random_device{}();
  static std::atomic<std::uint32_t> counter{0};
  std::uint64_t z = base + 0x9E3779B97F4A7C15ull * (counter.fetch_add(1, std::memory_order_relaxed) + 1ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<std::uint32_t>(z ^ (z >> 31));
}

TFileHandler::~TFileHandler() {
  try {
    TFileHandler::Close();
  } catch (...) {  // a destructor must not throw; closing a handle cannot fail in practice
  }
}

void TFileHandler::Fail(int code) const {
  RaiseEngineError(code, ErrorFileName());
}

void TFileHandler::RequireClosed() const {
  if (opened_) Fail(err::kFileInUse);
}

std::string TFileHandler::NormalizeName(const std::string& name) const {
  return Trim(name);
}

void TFileHandler::RequireOpen() const {
  if (!opened_ || !storage_) Fail(err::kInvalidFileHandle);
}

void TFileHandler::Attach(std::unique_ptr<TStorage> storage) {
  storage_ = ApplyStorageHook(std::move(storage), fileName_);
  opened_ = true;
}

void TFileHandler::SetFileName(const std::string& name) {
  std::string normal = NormalizeName(name).substr(0, kMaxFileName);
  if (normal == fileName_) return;
  RequireClosed();
  fileName_ = normal;
}

void TFileHandler::SetInMemory(bool value) {
  if (value == inMemory_) return;
  RequireClosed();
  inMemory_ = value;
}

void TFileHandler::SetExclusive(bool value) {
  if (value == exclusive_) return;
  RequireClosed();
  exclusive_ = value;
}

void TFileHandler::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  RequireClosed();
  readOnly_ = value;
}

void TFileHandler::SetWriteThrough(bool value) {
  if (!opened_) writeThrough_ = value;
}

void TFileHandler::Open() {
  if (opened_) return;
  position_ = 0;
  if (inMemory_) {
    int h = Session().MemoryFiles.OpenMemoryFile(fileName_, exclusive_, memoryFile_);
    if (h < 0) Fail(-h);
    handle_ = h;
    Attach(std::make_unique<TMemoryStorage>(*memoryFile_, h));
    return;
  }
  if (!os::IsExistingFile(fileName_)) Fail(err::kInvalidPath);
  bool attribute = false;
  if (int code = os::ReadOnlyAttribute(fileName_, attribute)) Fail(code);
  if (attribute) {
    readOnlyForced_ = !readOnly_;
    readOnly_ = true;
    readOnlyAttribute_ = true;
  }
  auto disk = std::make_unique<TDiskStorage>();
  if (int code = disk->Open(fileName_, readOnly_, exclusive_, writeThrough_)) {
    if (readOnlyForced_) readOnly_ = false;
    readOnlyForced_ = readOnlyAttribute_ = false;
    Fail(code);
  }
  handle_ = 1;
  Attach(std::move(disk));
}

void TFileHandler::Close() {
  if (!opened_) return;
  if (sharedSlot_ != 0) UnlockRegion(kSharedSemaphoreTop - sharedSlot_, 1);
  if (exclusiveSemaphore_) UnlockRegion(kExclusiveSemaphoreOffset, kExclusiveSemaphoreLength);
  sharedSlot_ = 0;
  exclusiveSemaphore_ = false;
  if (storage_) storage_->Close();
  storage_.reset();
  memoryFile_ = nullptr;
  if (readOnlyForced_) readOnly_ = false;
  readOnlyForced_ = readOnlyAttribute_ = false;
  opened_ = false;
  handle_ = 0;
}

void TFileHandler::CreateNew() {
  RequireClosed();
  if (!exclusive_) Fail(err::kMustBeExclusive);
  position_ = 0;
  if (inMemory_) {
    int h = Session().MemoryFiles.CreateMemoryFile(fileName_, memoryFile_);
    if (h < 0) Fail(-h);
    handle_ = h;
    Attach(std::make_unique<TMemoryStorage>(*memoryFile_, h));
    return;
  }
  auto disk = std::make_unique<TDiskStorage>();
  if (int code = disk->Create(fileName_, writeThrough_)) Fail(code);
  handle_ = 1;
  Attach(std::move(disk));
}

void TFileHandler::Erase() {
  RequireClosed();
  bool ok = inMemory_ ? Session().MemoryFiles.DeleteMemoryFile(fileName_) : os::RemoveFile(fileName_);
  if (!ok) Fail(err::kCannotDelete);
}

void TFileHandler::Rename(const std::string& newName) {
  RequireClosed();
  std::string normal = NormalizeName(newName).substr(0, kMaxFileName);
  bool ok = inMemory_ ? Session().MemoryFiles.RenameMemoryFile(fileName_, normal) : os::RenameFile(fileName_, normal);
  if (!ok) Fail(err::kUnknownOsError);
  fileName_ = normal;
}

void TFileHandler::CopyTo(const std::string& destinationName) {
  if (!opened_) return;
  if (inMemory_) {
    int code = Session().MemoryFiles.CopyMemoryFile(*memoryFile_, handle_, Trim(destinationName));
    if (code < 0) Fail(-code);
    return;
  }
  os::TOsFile target;
  if (int code = target.Create(Trim(destinationName), false)) Fail(code);
  std::vector<std::uint8_t> chunk(kCopyChunk);
  for (std::uint64_t offset = 0;;) {
    std::uint32_t n = 0;
    if (storage_->ReadAt(offset, chunk.data(), kCopyChunk, n) != 0) Fail(err::kReadError);
    if (n == 0) break;
    if (target.WriteAt(offset, chunk.data(), n) != n) Fail(err::kWriteError);
    offset += n;
  }
}

std::uint32_t TFileHandler::ReadBuffer(void* buffer, std::uint32_t count, bool allowShort) {
  RequireOpen();
  std::uint32_t n = 0;
  // A position before the start reads nothing, as past the end does.
  if (position_ >= 0) {
    if (int code = storage_->ReadAt(static_cast<std::uint64_t>(position_), buffer, count, n)) Fail(code);
  }
  position_ += n;
  if (n < count && !allowShort) Fail(err::kReadError);
  return n;
}

void TFileHandler::WriteBuffer(const void* buffer, std::uint32_t count) {
  RequireOpen();
  if (readOnly_) Fail(err::kAccessDenied);
  if (position_ < 0) Fail(err::kWriteError);
  auto offset = static_cast<std::uint64_t>(position_);
  if (count == 0) {
    if (int code = storage_->Truncate(offset)) Fail(code);
    return;
  }
  std::uint32_t n = 0;
  if (int code = storage_->WriteAt(offset, buffer, count, n)) Fail(code);
  if (n != count) Fail(err::kWriteError);
  position_ += n;
}

std::int64_t TFileHandler::Seek(std::int64_t offset, int origin) {
  RequireOpen();
  switch (origin) {
    case 0:
      position_ = offset;
      break;
    case 1:
      position_ += offset;
      break;
    default: {
      std::int64_t size = 0;
      if (int code = storage_->Size(size)) Fail(code);
      position_ = size + offset;
    }
  }
  return position_;
}

void TFileHandler::Flush() {
  if (opened_ && storage_ && !readOnly_) {
    if (int code = storage_->Flush()) Fail(code);
  }
}

bool TFileHandler::LockRegion(std::uint32_t offset, std::uint32_t length) {
  if (!opened_ || !storage_) return false;
  if (readOnlyAttribute_) return true;
  return storage_->Lock(offset, length);
}

bool TFileHandler::UnlockRegion(std::uint32_t offset, std::uint32_t length) {
  if (!opened_ || !storage_) return false;
  if (readOnlyAttribute_) return true;
  return storage_->Unlock(offset, length);
}

bool TFileHandler::Exists() const {
  return inMemory_ ? Session().MemoryFiles.MemoryFileExists(fileName_) : os::IsExistingFile(fileName_);
}

std::uint32_t TFileHandler::ReadAt(std::int64_t offset, void* buffer, std::uint32_t count, bool allowShort) {
  Seek(offset, 0);
  return ReadBuffer(buffer, count, allowShort);
}

void TFileHandler::WriteAt(std::int64_t offset, const void* buffer, std::uint32_t count) {
  Seek(offset, 0);
  WriteBuffer(buffer, count);
}

std::int64_t TFileHandler::FileSize() {
  std::int64_t keep = position_;
  std::int64_t size = Seek(0, 2);
  Seek(keep, 0);
  return size;
}

bool TFileHandler::LockWithRetries(std::uint32_t offset, std::uint32_t length, int attempts, std::uint32_t pauseMs,
                                   TLockWait wait) {
  for (LockRetries = 1;; ++LockRetries) {
    if (LockRegion(offset, length)) return true;
    if (LockRetries >= attempts) return false;
    Pause(pauseMs, wait);
  }
}

void TFileHandler::AcquireSharedSemaphore() {
  if (sharedSlot_ != 0) return;
  std::uniform_int_distribution<std::uint32_t> slots(1, 65535);
  for (LockRetries = 1;; ++LockRetries) {
    std::uint32_t slot = slots(slotRandom_);
    if (LockRegion(kSharedSemaphoreTop - slot, 1)) {
      sharedSlot_ = slot;
      return;
    }
    if (LockRetries >= SemaphoreAttempts) Fail(err::kLockFailure);
    Pause(SemaphorePauseMs, TLockWait::Sleeping);
  }
}

void TFileHandler::ReleaseSharedSemaphore() {
  if (sharedSlot_ == 0) return;
  std::uint32_t slot = sharedSlot_;
  sharedSlot_ = 0;
  if (!UnlockRegion(kSharedSemaphoreTop - slot, 1)) Fail(err::kLockFailure);
}

void TFileHandler::AcquireExclusiveSemaphore() {
  if (exclusiveSemaphore_) return;
  if (!LockWithRetries(kExclusiveSemaphoreOffset, kExclusiveSemaphoreLength, SemaphoreAttempts, SemaphorePauseMs,
                       TLockWait::Sleeping)) {
    Fail(err::kLockFailure);
  }
  exclusiveSemaphore_ = true;
}

void TFileHandler::ReleaseExclusiveSemaphore() {
  if (!exclusiveSemaphore_) return;
  exclusiveSemaphore_ = false;
  if (!UnlockRegion(kExclusiveSemaphoreOffset, kExclusiveSemaphoreLength)) Fail(err::kLockFailure);
}

}  // namespace quillon::engine
