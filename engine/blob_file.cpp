// The BLOB file's header; see blob_file.h for the byte map.
#include "engine/blob_file.h"

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "util/text.h"

namespace quillon::engine {

TBlobFile::~TBlobFile() {
  try {
    TBlobFile::Close();
  } catch (...) {  // a destructor must not throw
  }
}

std::string TBlobFile::ErrorFileName() const {
  return owner_.FileName();
}

std::string TBlobFile::NormalizeName(const std::string& name) const {
  std::string trimmed = Trim(name);
  return HasExtension(trimmed, ".BLB") ? trimmed : ReplaceExtension(trimmed, ".BLB");
}

void TBlobFile::Open() {
  if (Opened()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TBlobFile::Close() {
  HeaderChanged = false;
  TFileHandler::Close();
}

void TBlobFile::CreateNew() {
  TFileHandler::CreateNew();
  header_.fill(0);
  header_[8] = 3;
  PutU32(header_.data() + 13, kBlobHeaderSize);
  HeaderChanged = true;
}

void TBlobFile::EmptyBlobFile() {
  Seek(kBlobHeaderSize, 0);
  WriteBuffer(nullptr, 0);
  PutU32(header_.data() + 9, 0);
  PutU32(header_.data() + 13, kBlobHeaderSize);
  InvalidateBlocks();
  HeaderChanged = true;
}

std::uint32_t TBlobFile::BlockSize() const {
  return owner_.Header().BlockSize();
}
std::uint32_t TBlobFile::FreeBlockHead() const {
  return GetU32(header_.data() + 9);
}
std::uint32_t TBlobFile::NextBlockOffset() const {
  return GetU32(header_.data() + 13);
}
std::int32_t TBlobFile::ChangeCounter() const {
  return GetI32(header_.data());
}

std::int32_t TBlobFile::ReadChangeCounter() {
  std::uint8_t bytes[4];
  ReadAt(0, bytes, 4);
  if (owner_.Header().Encrypted) ScrambleData(bytes, 4);
  return GetI32(bytes);
}

void TBlobFile::ReadHeader() {
  std::array<std::uint8_t, kBlobHeaderSize> page{};
  ReadAt(0, page.data(), kBlobHeaderSize);
  if (owner_.Header().Encrypted) ScrambleData(page.data(), page.size());
  if (page[8] != 3) Fail(err::kWrongVersion);
  header_ = page;
  HeaderChanged = false;
}

void TBlobFile::WriteHeader(bool force) {
  if (!force && !HeaderChanged) return;
  PutI32(header_.data(), ChangeCounter() + 1);
  header_[17] = HeaderChanged ? 1 : 0;
  std::array<std::uint8_t, kBlobHeaderSize> page = header_;
  if (owner_.Header().Encrypted) ScrambleData(page.data(), page.size());
  WriteAt(0, page.data(), kBlobHeaderSize);
  HeaderChanged = false;
}

}  // namespace quillon::engine
