// The index file's header and descriptors; see index_file.h for the byte map.
#include "engine/index_file.h"

#include <cstring>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

constexpr int kSlotsOffset = 14;
constexpr int kRecordCountOffset = 3974;
constexpr int kNoPrimaryOffset = 3978;
constexpr int kHeaderDirtyOffset = 3979;

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0x81 && c <= 0xFE);
}

}  // namespace

std::string ReplaceExtension(const std::string& name, const std::string& ext) {
  std::size_t separator = name.find_last_of("\\/");
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && (separator == std::string::npos || dot > separator)) {
    return name.substr(0, dot) + ext;
  }
  return name + ext;
}

bool HasExtension(const std::string& name, const std::string& ext) {
  std::size_t separator = name.find_last_of("\\/");
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return false;
  return SameText(name.substr(dot), ext);
}

TIndexDescriptor TIndexDescriptor::Decode(const std::uint8_t* b) {
  TIndexDescriptor d;
  d.IndexName = GetShortString(b, 30);
  d.KeyLength = GetU16(b + 31);
  d.Descending = b[33] == 1;
  d.CaseInsensitive = b[34] == 1;
  d.Unique = b[35] == 1;
  d.Compression = b[36];
  d.KeyFieldCount = b[37];
  for (int i = 0; i < kMaxKeyFields; ++i) {
    d.FieldDescending[i] = b[38 + i];
    d.KeyFields[i] = GetI16(b + 54 + 2 * i);
  }
  d.RootPage = GetU32(b + 86);
  d.FreePageHead = GetU32(b + 90);
  return d;
}

void TIndexDescriptor::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kIndexDescriptorSize);
  PutShortString(b, 30, IndexName);
  PutU16(b + 31, KeyLength);
  b[33] = Descending ? 1 : 0;
  b[34] = CaseInsensitive ? 1 : 0;
  b[35] = Unique ? 1 : 0;
  b[36] = Compression;
  b[37] = KeyFieldCount;
  for (int i = 0; i < kMaxKeyFields; ++i) {
    b[38 + i] = FieldDescending[i];
    PutI16(b + 54 + 2 * i, KeyFields[i]);
  }
  PutU32(b + 86, RootPage);
  PutU32(b + 90, FreePageHead);
}

TIndexFile::~TIndexFile() {
  try {
    TIndexFile::Close();
  } catch (...) {  // a destructor must not throw
  }
}

std::string TIndexFile::ErrorFileName() const {
  return owner_.FileName();
}

std::string TIndexFile::NormalizeName(const std::string& name) const {
  std::string trimmed = Trim(name);
  return HasExtension(trimmed, ".IDX") ? trimmed : ReplaceExtension(trimmed, ".IDX");
}

void TIndexFile::Open() {
  if (Opened()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TIndexFile::Close() {
  HeaderChanged = false;
  TFileHandler::Close();
}

void TIndexFile::CreateNew() {
  TFileHandler::CreateNew();
  header_.fill(0);
  header_[8] = kTableVersion;
  PutU32(header_.data() + 9, kIndexPageSize);
  TIndexDescriptor deleted;
  deleted.IndexName = kDeletedIndexName;
  deleted.KeyLength = 5;
  PutDescriptor(kDeletedIndexSlot, deleted);
  HeaderChanged = true;
}

void TIndexFile::ReadHeader() {
  std::array<std::uint8_t, kIndexPageSize> page{};
  ReadAt(0, page.data(), kIndexPageSize);
  if (owner_.Header().Encrypted) ScrambleData(page.data(), page.size());
  if (page[8] != kTableVersion) Fail(err::kWrongVersion);
  if (page[13] > kMaxSecondaryIndexes) Fail(err::kHeaderAccess);
  header_ = page;
  HeaderChanged = false;
}

void TIndexFile::WriteHeader(bool force) {
  if (!force && !HeaderChanged) return;
  PutI32(header_.data(), ChangeCounter() + 1);
  header_[kHeaderDirtyOffset] = HeaderChanged ? 1 : 0;
  std::array<std::uint8_t, kIndexPageSize> page = header_;
  if (owner_.Header().Encrypted) ScrambleData(page.data(), page.size());
  WriteAt(0, page.data(), kIndexPageSize);
  HeaderChanged = false;
}

std::int32_t TIndexFile::ChangeCounter() const {
  return GetI32(header_.data());
}

std::int32_t TIndexFile::ReadChangeCounter() {
  std::uint8_t bytes[4];
  ReadAt(0, bytes, 4);
  if (owner_.Header().Encrypted) ScrambleData(bytes, 4);  // the first bytes of the scrambled page
  return GetI32(bytes);
}

std::uint32_t TIndexFile::RecordCount() const {
  return GetU32(header_.data() + kRecordCountOffset);
}

void TIndexFile::SetRecordCount(std::uint32_t count) {
  PutU32(header_.data() + kRecordCountOffset, count);
  HeaderChanged = true;
}

std::uint32_t TIndexFile::NextPageOffset() const {
  return GetU32(header_.data() + 9);
}

TIndexDescriptor TIndexFile::GetIndexDescriptor(int number) const {
  if (number < 0 || number > kDeletedIndexSlot)
    RaiseEngineError(err::kInvalidIndexName, owner_.FileName(), {}, {}, std::to_string(number));
  return TIndexDescriptor::Decode(header_.data() + kSlotsOffset + number * kIndexDescriptorSize);
}

void TIndexFile::PutDescriptor(int slot, const TIndexDescriptor& descriptor) {
  descriptor.Encode(header_.data() + kSlotsOffset + slot * kIndexDescriptorSize);
  HeaderChanged = true;
}

TIndexDescriptor TIndexFile::CheckDescriptor(const TIndexDescriptor& descriptor, bool primary, bool allowEmptyPrimary,
                                             const std::vector<TFieldDescriptor>& fields,
                                             const std::vector<std::string>& secondaryNames,
                                             const std::string& dataFileName) {
  TIndexDescriptor d = descriptor;
  std::string indexName = primary ? "Primary" : d.IndexName;
  auto fail = [&](int code, const std::string& field = {}) {
    RaiseEngineError(code, dataFileName, field, {}, indexName);
  };
  if (d.KeyFieldCount > kMaxKeyFields) fail(err::kIndexLimits);
  if (!primary) {
    if (Trim(d.IndexName).empty()) fail(err::kIndexNameMissing);
    if (!IsNameStart(static_cast<unsigned char>(d.IndexName[0]))) fail(err::kInvalidIndexName);
    for (const auto& other : secondaryNames)
      if (SameText(Trim(other), Trim(d.IndexName))) fail(err::kIndexExists);
    d.IndexName = d.IndexName.substr(0, 30);
  } else {
    d.IndexName.clear();
  }
  int keyLength = 0;
  int count = d.KeyFieldCount;
  for (int i = 0; i < count; ++i) {
    int number = d.KeyFields[i];
    if (number < 1 || number > static_cast<int>(fields.size())) {
      if (primary && allowEmptyPrimary) {  // an unknown field number ends an optional primary key
        count = i;
        break;
      }
      fail(err::kInvalidIndexField, std::to_string(number));
    }
    const TFieldDescriptor& field = fields[static_cast<std::size_t>(number - 1)];
    if (field.IsBlob()) fail(err::kInvalidIndexFieldType);
    keyLength += field.IsAutoInc() ? 5 : field.DataSize + 1;
  }
  for (int i = count; i < kMaxKeyFields; ++i) {
    d.KeyFields[i] = 0;
    d.FieldDescending[i] = 0;
  }
  d.KeyFieldCount = static_cast<std::uint8_t>(count);
  if (primary) d.Unique = true;
  if (!primary && !d.Unique) keyLength += 4;
  bool emptyAllowed = primary && allowEmptyPrimary && keyLength == 0;
  if (!emptyAllowed && (keyLength < 1 || keyLength > kMaxKeyLength)) fail(err::kInvalidKeySize);
  d.KeyLength = static_cast<std::uint16_t>(keyLength);
  d.RootPage = 0;
  d.FreePageHead = 0;
  return d;
}

void TIndexFile::AddPrimaryIndex(const TIndexDescriptor& descriptor, bool allowEmpty) {
  if (!Exclusive()) Fail(err::kMustBeExclusive);
  if (GetIndexDescriptor(0).KeyFieldCount != 0 || NoPrimaryIndex()) Fail(err::kPrimaryExists);
  TIndexDescriptor d = CheckDescriptor(descriptor, true, allowEmpty, owner_.PhysicalFields(), {}, owner_.FileName());
  if (d.KeyFieldCount == 0) {
    header_[kNoPrimaryOffset] = 1;
    HeaderChanged = true;
    return;
  }
  PutDescriptor(0, d);
}

void TIndexFile::AddSecondaryIndex(const TIndexDescriptor& descriptor) {
  if (!Exclusive()) Fail(err::kMustBeExclusive);
  if (IndexCount() >= kMaxSecondaryIndexes) {
    RaiseEngineError(err::kIndexLimits, owner_.FileName(), {}, {}, descriptor.IndexName);
  }
  std::vector<std::string> names;
  for (int i = 1; i <= IndexCount(); ++i) names.push_back(GetIndexDescriptor(i).IndexName);
  TIndexDescriptor d = CheckDescriptor(descriptor, false, false, owner_.PhysicalFields(), names, owner_.FileName());
  header_[13] = static_cast<std::uint8_t>(IndexCount() + 1);
  PutDescriptor(IndexCount(), d);
}

void TIndexFile::EmptyIndexFile() {
  Seek(kIndexPageSize, 0);
  WriteBuffer(nullptr, 0);
  PutU32(header_.data() + 9, kIndexPageSize);
  PutU32(header_.data() + kRecordCountOffset, 0);
  for (int slot = 0; slot <= kDeletedIndexSlot; ++slot) {
    TIndexDescriptor d = GetIndexDescriptor(slot);
    d.RootPage = 0;
    d.FreePageHead = 0;
    if (slot == 0 || slot == kDeletedIndexSlot || slot <= IndexCount()) PutDescriptor(slot, d);
  }
  InvalidatePages();
  HeaderChanged = true;
}

}  // namespace quillon::engine
