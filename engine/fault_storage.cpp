// The fault-injecting storage of the tests; see fault_storage.h.
#include "engine/fault_storage.h"

#include "engine/errors.h"

namespace quillon::engine {

TFaultStorage::~TFaultStorage() {
  TFaultStorage::Close();
}

TFaultStorage::TWriteFate TFaultStorage::NextWrite() {
  TFaultPlan& p = *plan_;
  if (p.Stopped) return TWriteFate::Drop;
  ++p.Writes;
  if (p.Writes != p.Nth) return TWriteFate::Pass;
  switch (p.Kind) {
    case TFaultKind::FailWrite:
      p.Met = true;
      return TWriteFate::Fail;
    case TFaultKind::ShortWrite:
      p.Met = true;
      return TWriteFate::Cut;
    case TFaultKind::StopAfterWrite:
      // This write still reaches the storage; the ones after it never do.
      p.Met = true;
      p.Stopped = true;
      return TWriteFate::Pass;
    default:
      return TWriteFate::Pass;
  }
}

int TFaultStorage::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
  return inner_->ReadAt(offset, buffer, count, bytesRead);
}

int TFaultStorage::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  switch (NextWrite()) {
    case TWriteFate::Pass:
      return inner_->WriteAt(offset, buffer, count, bytesWritten);
    case TWriteFate::Fail:
      return err::kWriteError;
    case TWriteFate::Cut:
      if (count < 2) return 0;  // nothing of a one-byte write gets through
      return inner_->WriteAt(offset, buffer, count / 2, bytesWritten);
    case TWriteFate::Drop:
      bytesWritten = count;
      return 0;
  }
  return 0;
}

int TFaultStorage::Size(std::int64_t& size) {
  return inner_->Size(size);
}

int TFaultStorage::Truncate(std::uint64_t size) {
  switch (NextWrite()) {
    case TWriteFate::Pass:
      return inner_->Truncate(size);
    case TWriteFate::Fail:
    case TWriteFate::Cut:
      return err::kWriteError;
    case TWriteFate::Drop:
      return 0;
  }
  return 0;
}

int TFaultStorage::Flush() {
  TFaultPlan& p = *plan_;
  if (p.Stopped) return 0;
  ++p.Flushes;
  if (p.Kind == TFaultKind::FailFlush && p.Flushes == p.Nth) {
    p.Met = true;
    return err::kWriteError;
  }
  return inner_->Flush();
}

bool TFaultStorage::Lock(std::uint32_t offset, std::uint32_t length) {
  TFaultPlan& p = *plan_;
  ++p.Locks;
  if (p.Kind == TFaultKind::RefuseLock && p.Locks >= p.Nth) {
    p.Met = true;
    return false;
  }
  return inner_->Lock(offset, length);
}

bool TFaultStorage::Unlock(std::uint32_t offset, std::uint32_t length) {
  return inner_->Unlock(offset, length);
}

void TFaultStorage::Close() {
  if (inner_) inner_->Close();
}

}  // namespace quillon::engine
