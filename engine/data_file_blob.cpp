// TDataFile's BLOB operations on record buffers: the bridge between a record's BLOB field slots
// and the values its TBlobFile holds open.
//
// Slot of a BLOB field (the field's null byte, then 4 bytes): the first block's offset (0 = no
// value) while the value is closed, or the negative handle of the open TBlobBuffer while it is
// open. The null byte follows the value: 1 when the offset is not 0, or, while open, when the
// value is longer than 0 bytes. Only the offset form reaches the file; the record operations
// see to that through TBlobFile::PutOffsetsIntoRecord.
//
// The operations answer codes rather than raising, so that the component layer decides which of
// them are errors; only damage met while reading a chain raises.
#include <algorithm>
#include <new>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"

namespace quillon::engine {

namespace {

// The stored BLOB field of the list, or null when the number names none.
const TFieldDescriptor* BlobField(const TDataFile& table, bool logical, int fieldNumber) {
  const auto& list = logical ? table.LogicalFields() : table.PhysicalFields();
  if (fieldNumber < 1 || fieldNumber > static_cast<int>(list.size())) return nullptr;
  const TFieldDescriptor& f = list[static_cast<std::size_t>(fieldNumber - 1)];
  return f.IsBlob() && !f.Computed ? &f : nullptr;
}

std::int32_t Slot(const std::uint8_t* record, const TFieldDescriptor& f) {
  return GetI32(record + f.Offset + 1);
}

void PutSlot(std::uint8_t* record, std::uint16_t slotOffset, std::int32_t value, bool hasValue) {
  record[slotOffset] = hasValue ? 1 : 0;
  PutI32(record + slotOffset + 1, value);
}

// The open value in the field's slot: err::kInvalidBlobField when the field is no BLOB field, err::kInvalidBlobHandle
// when the slot holds no value open in this cursor.
int FindValue(TDataFile& table, bool logical, int fieldNumber, const std::uint8_t* record,
              const TFieldDescriptor*& field, TBlobBuffer*& value) {
  field = BlobField(table, logical, fieldNumber);
  TBlobFile* blobs = table.BlobFile();
  if (!field || !blobs) return err::kInvalidBlobField;
  value = blobs->FindOpenBlob(Slot(record, *field));
  return value ? 0 : err::kInvalidBlobHandle;
}

// A value grows only as far as the file could ever hold it.
bool Resize(TBlobBuffer& value, std::uint64_t length, int& code) {
  if (length > kMaxBlobFileOffset) {
    code = err::kFileFull;
    return false;
  }
  try {
    value.Data.resize(static_cast<std::size_t>(length), 0);
  } catch (const std::bad_alloc&) {
    code = err::kOutOfMemory;
    return false;
  }
  return true;
}

}  // namespace

int TDataFile::OpenBlob(bool logical, int fieldNumber, int mode, std::uint8_t* record) {
  const TFieldDescriptor* f = BlobField(*this, logical, fieldNumber);
  TBlobFile* blobs = BlobFile();
  if (!f || !blobs) return err::kInvalidBlobField;
  std::int32_t slot = Slot(record, *f);
  if (slot < 0) return blobs->FindOpenBlob(slot) ? 0 : err::kInvalidBlobOffset;
  if (blobs->OpenBlobCount() >= kMaxOpenBlobs) return err::kTooManyBlobs;
  auto value = std::make_unique<TBlobBuffer>();
  value->FirstBlock = static_cast<std::uint32_t>(slot);
  value->OwnerRecord = GetU32(record + 1);
  value->FieldNumber = fieldNumber;
  value->SlotOffset = f->Offset;
  value->OpenMode = mode == kBlobOpenReadWrite ? kBlobOpenReadWrite : kBlobOpenRead;
  if (value->FirstBlock != 0) {
    // A read lock taken at a cache miss may find the file changed by another cursor: the load
    // then starts over on the fresh header, still under that lock, which is released here.
    bool readLockHeld = LockState().Read;
    try {
      for (int attempt = 0;; ++attempt) {
        try {
          blobs->LoadValue(*value);
          break;
        } catch (const ERestartOperation&) {
          if (attempt == 2) throw;
        }
      }
    } catch (...) {
      if (!readLockHeld) ReleaseReadLock();
      throw;
    }
    if (!readLockHeld) ReleaseReadLock();
  }
  TBlobBuffer* open = blobs->AddOpenBlob(std::move(value));
  PutSlot(record, open->SlotOffset, open->Handle, open->Length() > 0);
  return 0;
}

void TDataFile::ReadBlobsAhead() {
  TBlobFile* blobs = BlobFile();
  if (!blobs || !CurrentRecord || !locks_.Read || CurrentRecord->RecordNumber == 0) return;
  const std::uint8_t* record = CurrentRecord->Data.data();
  for (const TFieldDescriptor& f : fields_) {
    if (!f.IsBlob()) continue;
    const std::int32_t slot = Slot(record, f);
    if (slot > 0) blobs->ReadChainAhead(static_cast<std::uint32_t>(slot), CurrentRecord->RecordNumber);
  }
}

int TDataFile::CloseBlob(bool logical, int fieldNumber, std::uint8_t* record) {
  const TFieldDescriptor* f;
  TBlobBuffer* value;
  if (int code = FindValue(*this, logical, fieldNumber, record, f, value)) return code;
  PutSlot(record, value->SlotOffset, static_cast<std::int32_t>(value->FirstBlock), value->FirstBlock != 0);
  blobFile_->RemoveOpenBlob(value->Handle);
  return 0;
}

int TDataFile::ReadBlob(bool logical, int fieldNumber, std::uint32_t offset, std::uint32_t count, void* destination,
                        const std::uint8_t* record, std::uint32_t& bytesRead) {
  bytesRead = 0;
  const TFieldDescriptor* f;
  TBlobBuffer* value;
  if (int code = FindValue(*this, logical, fieldNumber, record, f, value)) return code;
  const std::uint32_t length = value->Length();
  if (std::uint64_t{offset} + count <= length) {
    if (count > 0) std::copy_n(value->Data.data() + offset, count, static_cast<std::uint8_t*>(destination));
    bytesRead = count;
    return 0;
  }
  if (offset < length) {
    bytesRead = length - offset;
    std::copy_n(value->Data.data() + offset, bytesRead, static_cast<std::uint8_t*>(destination));
  }
  return err::kEndOfBlob;
}

int TDataFile::WriteBlob(bool logical, int fieldNumber, std::uint32_t offset, std::uint32_t count, const void* source,
                         std::uint8_t* record) {
  const TFieldDescriptor* f;
  TBlobBuffer* value;
  if (int code = FindValue(*this, logical, fieldNumber, record, f, value)) return code;
  std::uint64_t end = std::uint64_t{offset} + count;
  if (end > value->Length()) {
    int code;
    if (!Resize(*value, end, code)) return code;
  }
  if (count > 0) std::copy_n(static_cast<const std::uint8_t*>(source), count, value->Data.data() + offset);
  value->Modified = true;
  record[value->SlotOffset] = value->Length() > 0 ? 1 : 0;
  return 0;
}

int TDataFile::TruncateBlob(bool logical, int fieldNumber, std::uint32_t newLength, std::uint8_t* record) {
  const TFieldDescriptor* f;
  TBlobBuffer* value;
  if (int code = FindValue(*this, logical, fieldNumber, record, f, value)) return code;
  if (newLength == value->Length()) return 0;
  int code;
  if (!Resize(*value, newLength, code)) return code;
  value->Modified = true;
  record[value->SlotOffset] = value->Length() > 0 ? 1 : 0;
  return 0;
}

int TDataFile::GetBlobSize(bool logical, int fieldNumber, const std::uint8_t* record, std::uint32_t& length) {
  length = 0;
  const TFieldDescriptor* f;
  TBlobBuffer* value;
  if (int code = FindValue(*this, logical, fieldNumber, record, f, value)) return code;
  length = value->Length();
  return 0;
}

bool TDataFile::BlobIsOpen(bool logical, int fieldNumber, const std::uint8_t* record) {
  const TFieldDescriptor* f;
  TBlobBuffer* value;
  return FindValue(*this, logical, fieldNumber, record, f, value) == 0;
}

void TDataFile::CloseAllBlobs() {
  if (TBlobFile* blobs = BlobFile()) blobs->CloseAllBlobs();
}

void TDataFile::FreeRecordBlobs(std::uint8_t* record) {
  TBlobFile* blobs = BlobFile();
  if (!blobs) return;
  std::vector<std::uint32_t> chains;
  for (const auto& f : fields_) {
    if (!f.IsBlob()) continue;
    std::int32_t slot = Slot(record, f);
    if (slot > 0) chains.push_back(static_cast<std::uint32_t>(slot));
  }
  blobs->FreeChainsLater(chains, GetU32(record + 1));
  for (const auto& f : fields_)
    if (f.IsBlob()) PutSlot(record, f.Offset, 0, false);
}

}  // namespace quillon::engine
