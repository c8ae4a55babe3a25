// The table's side of its cursor: a second cursor on the same open table. The cursor itself
// (order, place, ranges, filters) is TTableCursor (table_cursor.cpp).
#include <memory>

#include "engine/data_file.h"
#include "engine/errors.h"

namespace quillon::engine {

std::unique_ptr<TDataFile> TDataFile::CloneCursor() {
  if (!Opened()) Fail(err::kInvalidFileHandle);
  // An Exclusive cursor keeps unwritten records in its own cache: a second cursor could not see
  // them, and it could not open the files beside the exclusive handle anyway.
  if (Exclusive()) Fail(err::kAccessDenied);
  auto clone = std::make_unique<TDataFile>();
  clone->SetFileName(FileName());
  clone->SetReadOnly(ReadOnly());
  clone->SetInMemory(InMemory());
  clone->SetStrictChangeDetection(strictChangeDetection_);
  clone->SetForceBufferFlush(forceBufferFlush_);
  clone->LockRetryCount = LockRetryCount;
  clone->LockWaitTime = LockWaitTime;
  clone->NoDuplicateCheck = NoDuplicateCheck;
  clone->SetPasswordCallback(passwordCallback_);
  clone->Open();
  if (hasComputed_) clone->SetLogicalFields(logicalFields_);
  clone->SetComputeFields(computeFields_);
  clone->cursor_.TakeOrderAndPlaceOf(cursor_);
  return clone;
}

}  // namespace quillon::engine
