// The index file's header, descriptors, current index and page cache; index_format.h maps the
// header's bytes. The tree operations are in index_tree.cpp, the verifier in index_verify.cpp.
//
// Page cache: one TSystemList per descriptor slot in most-recently-used order, 31 pages each,
// growing by 64 only while the transaction lock is held. A miss reuses the least recently used
// page that is neither dirty nor pinned; when there is none, the dirty unpinned pages of all
// caches are written first (not under the transaction lock, whose changes must stay in memory).
#include "engine/index_file.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "engine/locale.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

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
  return EqualIgnoringCase(name.substr(dot), ext);
}

TIndexFile::TIndexFile(TDataFile& owner) : owner_(owner), pageBuffer_(kIndexPageSize) {
  for (auto& cache : caches_) cache.SetCapacity(kPageCacheSize);
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
    current_ = 0;
    try {
      SelectIndex(0);
    } catch (const EEngineError&) {
      // A damaged primary descriptor must not keep the table from opening (the check and the
      // repair open it); the cursor's first use of the index raises the error.
      SelectIndex(kPhysicalOrder);
    }
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TIndexFile::Close() {
  headerChanged_ = false;
  for (auto& cache : caches_) {
    cache.Clear();
    cache.SetCapacity(kPageCacheSize);
  }
  TFileHandler::Close();
}

void TIndexFile::CreateNew() {
  TFileHandler::CreateNew();
  header_ = TIndexHeader{};
  ForgetSelections();
  TIndexDescriptor deleted;
  deleted.IndexName = kDeletedIndexName;
  deleted.KeyLength = 5;
  PutDescriptor(kDeletedIndexSlot, deleted);
  headerChanged_ = true;
  InvalidatePages();
  current_ = 0;
  SelectIndex(0);
}

void TIndexFile::ReadHeader() {
  std::array<std::uint8_t, kIndexPageSize> page{};
  ReadAt(0, page.data(), kIndexPageSize);
  if (owner_.Header().Encrypted) ScrambleData(page.data(), page.size());
  TIndexHeader header = TIndexHeader::Decode(page.data());
  if (header.Version != kIndexVersion) Fail(err::kWrongVersion);
  if (header.SecondaryIndexCount > kMaxSecondaryIndexes) Fail(err::kHeaderAccess);
  // Descriptors no writer produces would size pages and keys wrongly: refuse them here.
  for (int slot = 0; slot <= kDeletedIndexSlot; ++slot) {
    if (slot > header.SecondaryIndexCount && slot != kDeletedIndexSlot) continue;
    const TIndexDescriptor& d = header.Slots[static_cast<std::size_t>(slot)];
    if (d.KeyLength > kMaxKeyLength || d.KeyFieldCount > kMaxKeyFields || d.Compression > 3) Fail(err::kHeaderAccess);
  }
  header_ = std::move(header);
  headerChanged_ = false;
  ForgetSelections();
  // The descriptors may have changed under the current index (another cursor emptied the file).
  if (current_ != kPhysicalOrder && (current_ == kDeletedIndexSlot || current_ <= IndexCount())) {
    SelectIndex(current_);
  } else {
    current_ = 0;
    SelectIndex(0);
  }
}

void TIndexFile::WriteHeader(bool force) {
  if (!force && !headerChanged_) return;
  header_.ChangeCounter = NextChangeCounter(header_.ChangeCounter);
  header_.HeaderDirty = headerChanged_ ? 1 : 0;
  std::array<std::uint8_t, kIndexPageSize> page{};
  header_.Encode(page.data());
  if (owner_.Header().Encrypted) ScrambleData(page.data(), page.size());
  WriteAt(0, page.data(), kIndexPageSize);
  headerChanged_ = false;
}

std::int32_t TIndexFile::ReadChangeCounter() {
  std::uint8_t bytes[4];
  ReadAt(0, bytes, 4);
  if (owner_.Header().Encrypted) ScrambleData(bytes, 4);  // the first bytes of the scrambled page
  return GetI32(bytes);
}

void TIndexFile::SetRecordCount(std::uint32_t count) {
  header_.RecordCount = count;
  headerChanged_ = true;
}

TIndexDescriptor TIndexFile::GetIndexDescriptor(int number) const {
  if (number < 0 || number > kDeletedIndexSlot)
    RaiseEngineError(err::kInvalidIndexName, owner_.FileName(), {}, {}, std::to_string(number));
  return header_.Slots[static_cast<std::size_t>(number)];
}

void TIndexFile::PutDescriptor(int slot, const TIndexDescriptor& descriptor) {
  header_.Slots[static_cast<std::size_t>(slot)] = descriptor;
  headerChanged_ = true;
  ForgetSelections();
}

void TIndexFile::ForgetSelections() {
  for (auto& selection : selections_) selection.Valid = false;
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
      if (EqualIgnoringCase(Trim(other), Trim(d.IndexName))) fail(err::kIndexExists);
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
  d.Reserved = {};
  return d;
}

void TIndexFile::AddPrimaryIndex(const TIndexDescriptor& descriptor, bool allowEmpty) {
  if (!Exclusive()) Fail(err::kMustBeExclusive);
  if (GetIndexDescriptor(0).KeyFieldCount != 0 || NoPrimaryIndex()) Fail(err::kPrimaryExists);
  TIndexDescriptor d = CheckDescriptor(descriptor, true, allowEmpty, owner_.PhysicalFields(), {}, owner_.FileName());
  if (d.KeyFieldCount == 0) {
    header_.NoPrimaryIndex = 1;
    headerChanged_ = true;
    ForgetSelections();
    return;
  }
  PutDescriptor(0, d);
  SelectIndex(current_);
}

void TIndexFile::AddSecondaryIndex(const TIndexDescriptor& descriptor) {
  if (!Exclusive()) Fail(err::kMustBeExclusive);
  if (IndexCount() >= kMaxSecondaryIndexes) {
    RaiseEngineError(err::kIndexLimits, owner_.FileName(), {}, {}, descriptor.IndexName);
  }
  std::vector<std::string> names;
  for (int i = 1; i <= IndexCount(); ++i) names.push_back(GetIndexDescriptor(i).IndexName);
  TIndexDescriptor d = CheckDescriptor(descriptor, false, false, owner_.PhysicalFields(), names, owner_.FileName());
  header_.SecondaryIndexCount = static_cast<std::uint8_t>(IndexCount() + 1);
  PutDescriptor(IndexCount(), d);
  SelectIndex(current_);
}

void TIndexFile::EmptyIndexFile() {
  Seek(kIndexPageSize, 0);
  WriteBuffer(nullptr, 0);
  header_.NextPageOffset = kIndexPageSize;
  header_.RecordCount = 0;
  for (int slot = 0; slot <= kDeletedIndexSlot; ++slot) {
    TIndexDescriptor d = GetIndexDescriptor(slot);
    d.RootPage = 0;
    d.FreePageHead = 0;
    if (slot == 0 || slot == kDeletedIndexSlot || slot <= IndexCount()) PutDescriptor(slot, d);
  }
  InvalidatePages();
  headerChanged_ = true;
  SelectIndex(current_);
}

// ---- Current index ---------------------------------------------------------------------------

std::uint32_t TIndexFile::RootPage(int number) const {
  return header_.Slots[static_cast<std::size_t>(number)].RootPage;
}

void TIndexFile::SetRootPage(int number, std::uint32_t offset) {
  header_.Slots[static_cast<std::size_t>(number)].RootPage = offset;
  if (number == current_) descriptor_.RootPage = offset;
  headerChanged_ = true;
}

std::uint32_t TIndexFile::FreePageHead(int number) const {
  return header_.Slots[static_cast<std::size_t>(number)].FreePageHead;
}

void TIndexFile::SetFreePageHead(int number, std::uint32_t offset) {
  header_.Slots[static_cast<std::size_t>(number)].FreePageHead = offset;
  if (number == current_) descriptor_.FreePageHead = offset;
  headerChanged_ = true;
}

bool TIndexFile::IsNonUniqueSecondary(int number) const {
  return number >= 1 && number <= kMaxSecondaryIndexes && !GetIndexDescriptor(number).Unique;
}

TPageFormat TIndexFile::FormatOf(int number) const {
  TIndexDescriptor d = GetIndexDescriptor(number);
  TPageFormat f;
  f.KeyLength = d.KeyLength;
  f.Compression = d.Compression;
  f.RowIdSuffix = IsNonUniqueSecondary(number);
  return f;
}

void TIndexFile::SelectIndex(int number) {
  bool exists =
      number == kPhysicalOrder || number == 0 || number == kDeletedIndexSlot || (number >= 1 && number <= IndexCount());
  if (!exists) RaiseEngineError(err::kInvalidIndexName, owner_.FileName(), {}, {}, std::to_string(number));
  current_ = number;
  if (number == kPhysicalOrder) {
    descriptor_ = TIndexDescriptor{};
    format_ = TPageFormat{};
    comparer_ = TKeyComparer{};
    return;
  }
  // The record operations switch the tree for every index they maintain, so what a selection
  // derives from its descriptor is kept per slot until a descriptor changes.
  TSelection& selection = selections_[static_cast<std::size_t>(number)];
  if (!selection.Valid) {
    selection.Descriptor = GetIndexDescriptor(number);
    CheckKeyLength(number, selection.Descriptor);
    selection.Format = FormatOf(number);
    std::uint32_t lcid = owner_.Header().LanguageId != 0 ? owner_.LocaleId() : 0;
    if (number == kDeletedIndexSlot || lcid == 0) {
      selection.Comparer = TKeyComparer(number != kDeletedIndexSlot && selection.Descriptor.Descending);
    } else {
      selection.Comparer = TKeyComparer(
          selection.Descriptor, owner_.PhysicalFields(),
          [lcid](std::string_view a, std::string_view b) { return locale::CompareStrings(lcid, a, b, false); });
    }
    selection.Valid = true;
  }
  descriptor_ = selection.Descriptor;
  descriptor_.RootPage = RootPage(number);
  descriptor_.FreePageHead = FreePageHead(number);
  format_ = selection.Format;
  comparer_ = selection.Comparer;
}

// Every key buffer, page stride and comparison is sized by the descriptor's KeyLength, while keys
// are built from the fields: a header whose KeyLength disagrees with its fields would make them
// read past the keys, so such an index is damaged and never used.
void TIndexFile::CheckKeyLength(int number, const TIndexDescriptor& d) const {
  if (number == kDeletedIndexSlot) {
    if (d.KeyLength != 5) Corrupt();
    return;
  }
  if (d.KeyFieldCount == 0 && d.KeyLength == 0) return;  // no tree
  if (d.KeyFieldCount > kMaxKeyFields) Corrupt();
  const std::vector<TFieldDescriptor>& fields = owner_.PhysicalFields();
  int length = 0;
  for (int i = 0; i < d.KeyFieldCount; ++i) {
    const int field = d.KeyFields[static_cast<std::size_t>(i)];
    if (field < 1 || field > static_cast<int>(fields.size())) Corrupt();
    const TFieldDescriptor& f = fields[static_cast<std::size_t>(field - 1)];
    if (f.IsBlob()) Corrupt();
    length += f.IsAutoInc() ? 5 : f.DataSize + 1;
  }
  if (number != 0 && !d.Unique) length += 4;
  if (length != d.KeyLength || length > kMaxKeyLength) Corrupt();
}

void TIndexFile::SelectIndex(const std::string& name) {
  std::string wanted = Trim(name);
  if (wanted.empty()) {
    SelectIndex(0);
    return;
  }
  for (int i = 1; i <= IndexCount(); ++i) {
    if (EqualIgnoringCase(Trim(GetIndexDescriptor(i).IndexName), wanted)) {
      SelectIndex(i);
      return;
    }
  }
  RaiseEngineError(err::kInvalidIndexName, owner_.FileName(), {}, {}, name);
}

bool TIndexFile::SelectIndexForField(int fieldNumber, bool caseInsensitive, bool anyCase) {
  const auto& fields = owner_.PhysicalFields();
  if (fieldNumber < 1 || fieldNumber > static_cast<int>(fields.size())) return false;
  const TFieldDescriptor& field = fields[static_cast<std::size_t>(fieldNumber - 1)];
  const bool isString = field.FieldType == static_cast<std::uint8_t>(TFieldType::String);
  // A table without a primary index keeps its secondaries for explicit selection only; the
  // search by field leaves it in physical order.
  if (NoPrimaryIndex()) return false;
  for (int number = 0; number <= IndexCount(); ++number) {
    TIndexDescriptor d = GetIndexDescriptor(number);
    if (d.KeyFieldCount == 0 || d.KeyFields[0] != fieldNumber) continue;
    if (isString && !anyCase && d.CaseInsensitive != caseInsensitive) continue;
    SelectIndex(number);
    return true;
  }
  return false;
}

bool TIndexFile::HasCurrentTree() const {
  if (current_ == kPhysicalOrder) return false;
  if (current_ == 0 && (NoPrimaryIndex() || descriptor_.KeyFieldCount == 0)) return false;
  return descriptor_.KeyLength > 0;
}

void TIndexFile::RequireTree() const {
  if (!HasCurrentTree()) RaiseEngineError(err::kInvalidIndexName, owner_.FileName(), {}, {}, std::to_string(current_));
}

TKey TIndexFile::BuildKey(int number, const std::uint8_t* record) const {
  if (number == kDeletedIndexSlot) return DeletedRecordKey(record[0] != 0, GetI32(record + kRowIdOffset));
  TIndexDescriptor d = GetIndexDescriptor(number);
  std::uint32_t lcid = owner_.Header().LanguageId != 0 ? owner_.LocaleId() : 0;
  return BuildIndexKey(d, IsNonUniqueSecondary(number), owner_.PhysicalFields(), record, lcid);
}

void TIndexFile::Corrupt() const {
  RaiseEngineError(err::kIndexPagesCorrupt, owner_.FileName(), {}, {},
                   current_ == 0 ? "Primary" : descriptor_.IndexName);
}

// ---- Page cache ------------------------------------------------------------------------------

bool TIndexFile::TransactionHeld() const {
  return owner_.LockState().Transaction;
}

void TIndexFile::CheckPageOffset(std::uint32_t offset) const {
  if (offset < kIndexPageSize || offset % kIndexPageSize != 0 || offset >= NextPageOffset()) Corrupt();
}

TPage* TIndexFile::TakeBuffer(int number) {
  auto& cache = caches_[static_cast<std::size_t>(number)];
  if (!cache.Full()) return cache.Add(std::make_unique<TPage>());
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (TPage* page = cache.ReuseOldest()) return page;
    // Deferred changes and an Exclusive writer between checkpoints keep every changed page in
    // memory: pages are changed in place, and one written early would leave the file's trees
    // neither as they were nor as they will be.
    if (TransactionHeld() || owner_.HoldsPagesUntilCheckpoint()) {
      cache.SetCapacity(std::min(cache.Capacity() + kTransactionCacheGrowth, kMaxListSize));
      return cache.Add(std::make_unique<TPage>());
    }
    if (attempt == 0) WritePages(true);
  }
  Corrupt();
}

TPage* TIndexFile::FetchPage(int number, std::uint32_t offset, TPins& pins) {
  CheckPageOffset(offset);
  if (TPage* hit = FindCached(number, offset)) return pins.Add(hit);
  if (!owner_.StrictChangeDetection() && owner_.AcquireReadLock()) throw ERestartOperation();
  TPage* page = TakeBuffer(number);
  TPageFormat format = FormatOf(number);
  page->Reset(0, number, format.KeyLength);
  bool allowShort = Exclusive() || TransactionHeld();
  const std::uint32_t got = ReadAt(offset, pageBuffer_.data(), kIndexPageSize, allowShort);
  std::fill(pageBuffer_.begin() + got, pageBuffer_.end(), 0);
  if (owner_.Header().Encrypted) ScrambleData(pageBuffer_.data(), kIndexPageSize);
  if (!page->Decode(pageBuffer_.data(), format)) {
    page->Reset(0, number, format.KeyLength);
    Corrupt();
  }
  caches_[static_cast<std::size_t>(number)].SetKey(page, offset);
  return pins.Add(page);
}

TPage* TIndexFile::AllocatePage(int number, TPins& pins) {
  TPageFormat format = FormatOf(number);
  std::uint32_t head = FreePageHead(number);
  TPage* page;
  if (head != 0) {
    page = FetchPage(number, head, pins);
    if (!page->Free) Corrupt();  // a free list that leads into a page in use
    std::uint32_t next = page->NextPage;
    if (next != 0) CheckPageOffset(next);
    SetFreePageHead(number, next);
  } else {
    std::uint32_t offset = NextPageOffset();
    if (offset > kMaxPageOffset - kIndexPageSize) Fail(err::kFileFull);
    header_.NextPageOffset = offset + kIndexPageSize;
    headerChanged_ = true;
    page = pins.Add(TakeBuffer(number));
    caches_[static_cast<std::size_t>(number)].SetKey(page, offset);
  }
  page->Reset(page->Offset, number, format.KeyLength);
  page->Dirty = true;
  return page;
}

void TIndexFile::FreePage(int number, TPage* page) {
  page->Count = 0;
  page->Entries.clear();
  page->UsedBytes = 0;
  page->PrevPage = 0;
  page->NextPage = FreePageHead(number);
  page->Free = true;
  page->Dirty = true;
  SetFreePageHead(number, page->Offset);
}

void TIndexFile::WritePages(bool onlyUnpinned) {
  // One index's pages lie next to another's in the file, so the runs are built over all caches.
  std::vector<TPage*> dirty;
  for (auto& cache : caches_) {
    std::vector<TPage*> some = cache.DirtyByKey(onlyUnpinned);
    dirty.insert(dirty.end(), some.begin(), some.end());
  }
  LastWriteBackPages = static_cast<int>(dirty.size());
  LastWriteBackWrites = 0;
  if (dirty.empty()) return;
  std::sort(dirty.begin(), dirty.end(), [](const TPage* a, const TPage* b) { return a->Offset < b->Offset; });
  const bool encrypted = owner_.Header().Encrypted;
  std::vector<std::uint8_t> run;
  TBufferCache<TPage, &TPage::Offset>::WriteRuns(dirty, kIndexPageSize, [&](TPage* const* pages, std::size_t n) {
    run.assign(n * kIndexPageSize, 0);
    for (std::size_t k = 0; k < n; ++k) {
      TPageFormat format = FormatOf(pages[k]->IndexNumber);
      if (!pages[k]->Free && pages[k]->Overflows(format)) Corrupt();
      std::uint8_t* bytes = run.data() + k * kIndexPageSize;
      if (!pages[k]->Encode(bytes, format)) Corrupt();
      if (encrypted) ScrambleData(bytes, kIndexPageSize);
    }
    WriteAt(pages[0]->Offset, run.data(), static_cast<std::uint32_t>(run.size()));
    ++LastWriteBackWrites;
  });
}

void TIndexFile::WriteBack(bool forceHeader) {
  WritePages(true);
  WriteHeader(forceHeader);
}

void TIndexFile::InvalidatePages() {
  for (auto& cache : caches_) {
    cache.ForgetKeys();
    for (auto& page : cache) {
      page->Dirty = false;
      page->Count = 0;
      page->Entries.clear();
    }
  }
}

}  // namespace quillon::engine
