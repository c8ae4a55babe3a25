// TIndexHeader and TIndexDescriptor; see index_format.h for the layout.
#include "engine/index_format.h"

#include <cstring>

#include "engine/byte_order.h"
#include "engine/table_format.h"

namespace quillon::engine {

namespace {

// Header page.
constexpr int kVersionOffset = 8;
constexpr int kNextPageOffset = 9;
constexpr int kIndexCountOffset = 13;
constexpr int kSlotsOffset = 14;
constexpr int kRecordCountOffset = 3974;
constexpr int kNoPrimaryOffset = 3978;
constexpr int kHeaderDirtyOffset = 3979;

// Index descriptor.
constexpr int kKeyLengthInSlot = 31;
constexpr int kDescendingInSlot = 33;
constexpr int kCaseInsensitiveInSlot = 34;
constexpr int kUniqueInSlot = 35;
constexpr int kCompressionInSlot = 36;
constexpr int kKeyFieldCountInSlot = 37;
constexpr int kFieldDescendingInSlot = 38;
constexpr int kKeyFieldsInSlot = 54;
constexpr int kRootPageInSlot = 86;
constexpr int kFreePageHeadInSlot = 90;
constexpr int kReservedInSlot = 94;
constexpr std::size_t kMaxIndexName = 30;

static_assert(kSlotsOffset + kIndexSlotCount * kIndexDescriptorSize <= kRecordCountOffset);
static_assert(kReservedInSlot + std::tuple_size_v<decltype(TIndexDescriptor::Reserved)> == kIndexDescriptorSize);

}  // namespace

bool TIndexDescriptor::IsBlank() const {
  std::uint8_t bytes[kIndexDescriptorSize];
  Encode(bytes);
  for (std::uint8_t b : bytes)
    if (b != 0) return false;
  return true;
}

TIndexDescriptor TIndexDescriptor::Decode(const std::uint8_t* b) {
  TIndexDescriptor d;
  d.IndexName = ReadCountedString(b, kMaxIndexName);
  d.KeyLength = GetU16(b + kKeyLengthInSlot);
  d.Descending = b[kDescendingInSlot] == 1;
  d.CaseInsensitive = b[kCaseInsensitiveInSlot] == 1;
  d.Unique = b[kUniqueInSlot] == 1;
  d.Compression = b[kCompressionInSlot];
  d.KeyFieldCount = b[kKeyFieldCountInSlot];
  for (int i = 0; i < kMaxKeyFields; ++i) {
    d.FieldDescending[i] = b[kFieldDescendingInSlot + i];
    d.KeyFields[i] = GetI16(b + kKeyFieldsInSlot + 2 * i);
  }
  d.RootPage = GetU32(b + kRootPageInSlot);
  d.FreePageHead = GetU32(b + kFreePageHeadInSlot);
  std::memcpy(d.Reserved.data(), b + kReservedInSlot, d.Reserved.size());
  return d;
}

void TIndexDescriptor::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kIndexDescriptorSize);
  WriteCountedString(b, kMaxIndexName, IndexName);
  PutU16(b + kKeyLengthInSlot, KeyLength);
  b[kDescendingInSlot] = Descending ? 1 : 0;
  b[kCaseInsensitiveInSlot] = CaseInsensitive ? 1 : 0;
  b[kUniqueInSlot] = Unique ? 1 : 0;
  b[kCompressionInSlot] = Compression;
  b[kKeyFieldCountInSlot] = KeyFieldCount;
  for (int i = 0; i < kMaxKeyFields; ++i) {
    b[kFieldDescendingInSlot + i] = FieldDescending[i];
    PutI16(b + kKeyFieldsInSlot + 2 * i, KeyFields[i]);
  }
  PutU32(b + kRootPageInSlot, RootPage);
  PutU32(b + kFreePageHeadInSlot, FreePageHead);
  std::memcpy(b + kReservedInSlot, Reserved.data(), Reserved.size());
}

TIndexHeader TIndexHeader::Decode(const std::uint8_t* b) {
  TIndexHeader h;
  h.ChangeCounter = GetI32(b + 0);
  h.Version = b[kVersionOffset];
  h.NextPageOffset = GetU32(b + kNextPageOffset);
  h.SecondaryIndexCount = b[kIndexCountOffset];
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    h.Slots[slot] = TIndexDescriptor::Decode(b + kSlotsOffset + slot * kIndexDescriptorSize);
  }
  h.RecordCount = GetU32(b + kRecordCountOffset);
  h.NoPrimaryIndex = b[kNoPrimaryOffset];
  h.HeaderDirty = b[kHeaderDirtyOffset];
  return h;
}

void TIndexHeader::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kIndexPageSize);
  PutI32(b + 0, ChangeCounter);
  b[kVersionOffset] = Version;
  PutU32(b + kNextPageOffset, NextPageOffset);
  b[kIndexCountOffset] = SecondaryIndexCount;
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    Slots[slot].Encode(b + kSlotsOffset + slot * kIndexDescriptorSize);
  }
  PutU32(b + kRecordCountOffset, RecordCount);
  b[kNoPrimaryOffset] = NoPrimaryIndex;
  b[kHeaderDirtyOffset] = HeaderDirty;
}

}  // namespace quillon::engine
