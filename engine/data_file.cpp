// TDataFile: opening, creating and emptying tables, the header, the record cache and the lock
// states. See data_file.h for the invariants and table_format.h for the byte layout.
//
// A damaged or foreign file must end in a clean engine error, never in a read outside a buffer:
// Open checks the header's counts against the limits the engine itself obeys and every field
// descriptor against the record size before anything uses them (err::kHeaderAccess when they disagree).
#include "engine/data_file.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "engine/locale.h"
#include "engine/os_file.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

constexpr int kMaxPins = 64;

bool IsType(std::uint8_t code, TFieldType type) {
  return code == static_cast<std::uint8_t>(type);
}

// Types whose size the table's creator declares; the others have a size of their type.
bool HasDeclaredSize(std::uint8_t code) {
  return IsType(code, TFieldType::String) || IsType(code, TFieldType::Bytes) || IsType(code, TFieldType::VarBytes);
}
constexpr std::uint32_t kRecordCacheBytes = 131070;
constexpr std::uint32_t kReadAheadBytes = 32767;
constexpr int kMaxCachedRecords = 65535;
constexpr int kTransactionCacheGrowth = 1024;

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0x81 && c <= 0xFE);
}

bool IsValidLiteral(const TFieldDescriptor& f, const std::string& text, const TLocaleFormats& formats) {
  if (text.empty()) return true;
  std::int64_t i;
  double d;
  std::int32_t n;
  switch (static_cast<TFieldType>(f.FieldType)) {
    case TFieldType::Date:
      return EqualIgnoringCase(Trim(text), "DATE") || ParseDate(text, formats, n);
    case TFieldType::Boolean:
      return EqualIgnoringCase(Trim(text), "TRUE") || EqualIgnoringCase(Trim(text), "FALSE");
    case TFieldType::SmallInt:
      return ParseInteger(text, -32768, 32767, i);
    case TFieldType::Integer:
      return ParseInteger(text, INT32_MIN, INT32_MAX, i);
    case TFieldType::Float:
      return ParseFloat(text, formats, d);
    case TFieldType::Bcd:
      return ParseFixed4(text, formats, i);
    case TFieldType::Time:
      return EqualIgnoringCase(Trim(text), "TIME") || ParseTime(text, formats, n);
    case TFieldType::TimeStamp: {
      std::string t = Trim(text);
      return EqualIgnoringCase(t, "NOW") || EqualIgnoringCase(t, "DATE") || EqualIgnoringCase(t, "TIME") ||
             ParseDateTime(text, formats, d);
    }
    case TFieldType::Word:
      return ParseInteger(text, 0, 65535, i);
    default:
      return true;
  }
}

}  // namespace

TDataFile::TDataFile()
    : indexFile_(std::make_unique<TIndexFile>(*this)), blobFile_(std::make_unique<TBlobFile>(*this)) {}

TDataFile::~TDataFile() {
  try {
    TDataFile::Close();
  } catch (...) {  // a destructor must not throw; Close reports its failures to direct callers
  }
}

std::string TDataFile::NormalizeName(const std::string& name) const {
  return ReplaceExtension(Trim(name), ".DAT");
}

void TDataFile::SetStrictChangeDetection(bool value) {
  if (value != strictChangeDetection_ && Opened()) Fail(err::kFileInUse);
  strictChangeDetection_ = value;
}

void TDataFile::SetForceBufferFlush(bool value) {
  if (value != forceBufferFlush_ && Opened()) Fail(err::kFileInUse);
  forceBufferFlush_ = value;
}

void TDataFile::SetDeleteOnClose(bool value) {
  if (value != deleteOnClose_ && Opened()) Fail(err::kFileInUse);
  deleteOnClose_ = value;
}

std::uint32_t TDataFile::LocaleId() const {
  return locale::LocaleId(header_.LanguageId, header_.SortId);
}

// ---- Open and Close --------------------------------------------------------------------------

void TDataFile::ReadHeader(bool initial) {
  std::uint8_t bytes[kTableHeaderSize];
  ReadAt(0, bytes, kTableHeaderSize);
  TTableHeader h = TTableHeader::Decode(bytes);
  if (h.Version != kTableVersion) Fail(err::kWrongVersion);
  bool sane = h.FieldCount <= kMaxFields && h.BlobFieldCount <= kMaxBlobFields && h.RecordSize >= kRecordHeaderSize &&
              h.NextRecordNumber >= 1 && h.NextRecordNumber <= kMaxRecordNumber + 1 &&
              h.FreeRecordHead < h.NextRecordNumber && std::uint32_t{h.RecordSize} + h.ComputedBytes <= kMaxRecordBytes;
  if (!sane) Fail(err::kHeaderAccess);
  if (!initial) {
    // Another cursor may change counters, never the shape of the table.
    bool sameShape = h.FieldCount == header_.FieldCount && h.RecordSize == header_.RecordSize &&
                     h.BlobFieldCount == header_.BlobFieldCount && h.Encrypted == header_.Encrypted &&
                     h.LanguageId == header_.LanguageId && h.SortId == header_.SortId;
    if (!sameShape) Fail(err::kHeaderAccess);
  }
  header_ = h;
  headerChanged_ = false;
}

void TDataFile::ReadDescriptors() {
  std::uint32_t bytes = header_.FieldCount * std::uint32_t{kFieldDescriptorSize};
  std::vector<std::uint8_t> area(bytes);
  if (bytes > 0) ReadAt(kTableHeaderSize, area.data(), bytes);
  if (header_.Encrypted) ScrambleData(area.data(), area.size());
  fields_.clear();
  int blobs = 0;
  for (int i = 0; i < header_.FieldCount; ++i) {
    TFieldDescriptor f = TFieldDescriptor::Decode(area.data() + i * kFieldDescriptorSize);
    bool fits;
    if (f.IsAutoInc()) {
      fits = f.Offset == kRowIdOffset && f.DataSize == 4;
    } else if (f.Computed) {
      fits = true;  // lives after the stored record; placed by SetLogicalFields
    } else {
      fits = f.Offset >= kRecordHeaderSize && std::uint32_t{f.Offset} + f.DataSize + 1 <= header_.RecordSize;
    }
    bool sizeRight = !IsValidFieldType(f.FieldType) || IsType(f.FieldType, TFieldType::Bytes) ||
                     IsType(f.FieldType, TFieldType::VarBytes) || f.DataSize == DataSizeOf(f.FieldType, f.DeclaredSize);
    if (!fits || !sizeRight || f.FieldNumber != i + 1) Fail(err::kHeaderAccess);
    if (f.IsBlob()) ++blobs;
    fields_.push_back(std::move(f));
  }
  if (blobs != header_.BlobFieldCount) Fail(err::kHeaderAccess);
}

void TDataFile::DeriveFieldFlags() {
  hasValidityChecks_ = hasDefaults_ = hasComputed_ = false;
  for (const auto& f : fields_) {
    if (f.Required || !f.MinValue.empty() || !f.MaxValue.empty()) hasValidityChecks_ = true;
    if (!f.DefaultValue.empty()) hasDefaults_ = true;
  }
  for (const auto& f : logicalFields_)
    if (f.Computed) hasComputed_ = true;
}

void TDataFile::SetLogicalFields(std::vector<TFieldDescriptor> fields) {
  if (fields.size() > static_cast<std::size_t>(kMaxFields)) Fail(err::kFieldLimits);
  std::uint32_t offset = header_.RecordSize;
  for (auto& f : fields) {
    if (!f.Computed) continue;
    f.Offset = static_cast<std::uint16_t>(offset);
    offset += f.DataSize + 1u;
  }
  if (offset > kMaxRecordBytes) Fail(err::kRecordTooLarge);
  // The buffers change size: changes an Exclusive cursor still holds must reach the file first.
  if (Opened()) {
    for (auto& r : recordCache_) r->PinCount = 0;
    WriteBackRecords();
  }
  computedBytes_ = static_cast<std::uint16_t>(offset - header_.RecordSize);
  logicalFields_ = std::move(fields);
  DeriveFieldFlags();
  ClearRecordCache();
  CurrentRecord = nullptr;
  int capacity = static_cast<int>(std::min<std::uint32_t>(kRecordCacheBytes / RecordBufferSize(), kMaxCachedRecords));
  recordCache_.SetCapacity(std::max(capacity, 1));
}

void TDataFile::Open() {
  if (Opened()) return;
  locks_ = TLockState{};
  SetWriteThrough(forceBufferFlush_);
  indexFile_->SetWriteThrough(forceBufferFlush_);
  blobFile_->SetWriteThrough(forceBufferFlush_);
  TFileHandler::Open();
  try {
    ReadHeader(true);
    TakeHeader();
    indexFile_->SetExclusive(Exclusive());
    indexFile_->SetReadOnly(ReadOnly());
    indexFile_->SetInMemory(InMemory());
    indexFile_->SetFileName(FileName());
    indexFile_->Open();
    if (header_.BlobFieldCount != 0) {
      blobFile_->SetExclusive(Exclusive());
      blobFile_->SetReadOnly(ReadOnly());
      blobFile_->SetInMemory(InMemory());
      blobFile_->SetFileName(FileName());
      blobFile_->Open();
    }
    CursorOpened();
  } catch (...) {
    CloseFiles();
    throw;
  }
}

// What both opens derive from the header once it is read: the locale, the password, the fields.
void TDataFile::TakeHeader() {
  if (header_.LanguageId != 0 && !locale::IsLocaleInstalled(LocaleId())) Fail(err::kLocaleUnavailable);
  formats_ = header_.LanguageId != 0 ? locale::Formats(LocaleId()) : DefaultFormats();
  if (header_.Encrypted) {
    while (!Session().HasPassword(header_.Password)) {
      if (!passwordCallback_ || !passwordCallback_(*this)) Fail(err::kPasswordRequired);
    }
  }
  ReadDescriptors();
  computedBytes_ = 0;
  SetLogicalFields(fields_);
  readAheadCount_ = kReadAheadBytes / header_.RecordSize;
}

void TDataFile::OpenDataOnly(const TTableHeader& header) {
  if (Opened()) Fail(err::kFileInUse);
  if (!Exclusive() || !ReadOnly()) Fail(err::kMustBeExclusive);
  locks_ = TLockState{};
  TFileHandler::Open();
  try {
    header_ = header;
    headerChanged_ = false;
    TakeHeader();
    if (header_.BlobFieldCount != 0) {
      blobFile_->SetExclusive(true);
      blobFile_->SetReadOnly(true);
      blobFile_->SetInMemory(InMemory());
      blobFile_->SetFileName(FileName());
      try {
        blobFile_->Open();
      } catch (const EEngineError&) {
        blobFile_->Close();  // values then read as broken chains
      }
    }
  } catch (...) {
    CloseFiles();
    throw;
  }
}

void TDataFile::WriteBackInSafeOrder() {
  // What points comes after what it points to: BLOB chains before the records naming them,
  // records before the index entries naming them, pages before the index header, and the data
  // header, whose record count admits the new records, last.
  if (BlobFile()) blobFile_->WriteBack();
  WriteBackRecords();
  ReleaseReplacedChains();  // chains the written records gave up, and the free list after them
  indexFile_->WriteBack(false);
  WriteHeader(false);
}

void TDataFile::Checkpoint() {
  if (!Opened() || !Exclusive() || ReadOnly() || locks_.Transaction) return;
  WriteBackAll(false, false);
}

void TDataFile::CloseFiles() {
  blobFile_->Close();
  indexFile_->Close();
  CursorClosed();
  ClearRecordCache();
  CurrentRecord = nullptr;
  fields_.clear();
  logicalFields_.clear();
  lockedRecords_.clear();
  locks_ = TLockState{};
  headerChanged_ = false;
  TFileHandler::Close();
}

void TDataFile::Close() {
  if (!Opened()) return;
  std::exception_ptr failure;
  try {
    if (locks_.Transaction) {
      // Deferred changes end uncommitted: drop them, so that nothing of them is written.
      try {
        DiscardCachedChanges();
      } catch (...) {
        failure = std::current_exception();
      }
      ReleaseTransactionLock();
    } else {
      for (auto& r : recordCache_) r->PinCount = 0;
      if (Exclusive() && !ReadOnly()) WriteBackInSafeOrder();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  // Locks are released even when the write-back failed, so that other cursors are not blocked.
  try {
    ReleaseStatementReadLock();
    UnlockTable();
    UnlockAllRecords();
    ReleaseReadLock();
    ReleaseWriteLock();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  CloseFiles();
  if (deleteOnClose_) {
    try {
      DeleteTable();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataFile::DeleteTable() {
  if (Opened()) Fail(err::kFileInUse);
  TIndexFile index(*this);
  index.SetInMemory(InMemory());
  index.SetFileName(FileName());
  TBlobFile blob(*this);
  blob.SetInMemory(InMemory());
  blob.SetFileName(FileName());
  if (!InMemory()) {
    // Removing a file another process has open succeeds on some systems and fails on others; a
    // table in use is refused everywhere, found by the exclusive open it would refuse.
    for (const std::string& path : {FileName(), index.FileName(), blob.FileName()}) {
      if (!os::IsExistingFile(path)) continue;
      os::TOsFile probe;
      if (int code = probe.Open(path, false, true, false)) Fail(code);
    }
  }
  Erase();
  index.Erase();
  if (blob.Exists()) blob.Erase();
}

// ---- CreateTable -----------------------------------------------------------------------------

namespace {

// The fields of a new table as they will be stored, and the record they make.
struct TFieldLayout {
  std::vector<TFieldDescriptor> Fields;
  std::uint32_t RecordSize = kRecordHeaderSize;
  std::uint32_t ComputedBytes = 0;
  int BlobCount = 0;
};

// The table-wide settings, checked before any field: the formats literals are read with.
TLocaleFormats CheckTableSettings(const TTableDefinition& definition, const std::string& password,
                                  const std::string& fileName) {
  auto fail = [&](int code) { RaiseEngineError(code, fileName); };
  if (definition.Encrypted && (password.empty() || password.size() > 15)) fail(err::kInvalidPassword);
  std::uint32_t lcid = locale::LocaleId(definition.LanguageId, definition.SortId);
  if (definition.LanguageId != 0 && !locale::IsLocaleInstalled(lcid)) fail(err::kLocaleUnavailable);
  if (definition.Fields.size() > static_cast<std::size_t>(kMaxFields)) fail(err::kFieldLimits);
  if (definition.Indexes.size() > static_cast<std::size_t>(kIndexSlotCount)) fail(err::kIndexLimits);
  if (definition.BlobBlockSize < 64 || definition.BlobBlockSize > 0xFFFF) fail(err::kBlobFieldsOrBlockSize);
  return definition.LanguageId != 0 ? locale::Formats(lcid) : DefaultFormats();
}

// One field as given, checked against the fields before it and completed: its number, its
// sizes and the sizes its type implies.
TFieldDescriptor CheckField(const TFieldDescriptor& given, std::size_t position,
                            const std::vector<TFieldDescriptor>& before, const TLocaleFormats& formats,
                            const std::string& fileName) {
  TFieldDescriptor f = given;
  f.FieldName = Trim(f.FieldName).substr(0, 30);
  if (f.FieldNumber == 0) f.FieldNumber = static_cast<std::int16_t>(position + 1);
  auto fail = [&](int code) { RaiseEngineError(code, fileName, f.FieldName); };
  if (f.FieldName.empty() || !IsNameStart(static_cast<unsigned char>(f.FieldName[0]))) fail(err::kInvalidFieldName);
  for (const auto& other : before) {
    if (EqualIgnoringCase(other.FieldName, f.FieldName)) fail(err::kInvalidFieldName);
    if (other.FieldNumber == f.FieldNumber) fail(err::kInvalidFieldDefinition);
  }
  // Field n is the n-th descriptor: the record layout and every lookup rely on it.
  if (f.FieldNumber != static_cast<int>(position + 1)) fail(err::kInvalidFieldDefinition);
  if (f.FieldType == 0) fail(err::kInvalidFieldDefinition);
  bool sized = HasDeclaredSize(f.FieldType);
  if (sized && f.DeclaredSize > kMaxStringSize) fail(err::kInvalidFieldDefinition);
  if (!sized) f.DeclaredSize = 0;
  if (!IsValidLiteral(f, f.DefaultValue, formats) || !IsValidLiteral(f, f.MinValue, formats) ||
      !IsValidLiteral(f, f.MaxValue, formats)) {
    fail(err::kInvalidValidityCheck);
  }
  if (!IsType(f.FieldType, TFieldType::Bcd)) f.Decimals = 0;
  if (f.Decimals > kMaxBcdScale) fail(err::kInvalidFieldDefinition);  // no value could be stored
  f.DataSize = DataSizeOf(f.FieldType, f.DeclaredSize);
  f.DataDecimals = f.Decimals;
  return f;
}

// The fields in the order given, each placed in the record: the auto-increment field is the row
// identifier, computed fields live after the stored record.
TFieldLayout LayOutFields(const TTableDefinition& definition, const TLocaleFormats& formats,
                          const std::string& fileName) {
  TFieldLayout layout;
  for (std::size_t i = 0; i < definition.Fields.size(); ++i) {
    TFieldDescriptor f = CheckField(definition.Fields[i], i, layout.Fields, formats, fileName);
    if (f.IsAutoInc()) {
      f.Offset = kRowIdOffset;
    } else if (f.Computed) {
      layout.ComputedBytes += f.DataSize + 1u;
    } else {
      f.Offset = static_cast<std::uint16_t>(std::min<std::uint32_t>(layout.RecordSize, 0xFFFF));
      layout.RecordSize += f.DataSize + 1u;
    }
    if (f.IsBlob()) ++layout.BlobCount;
    layout.Fields.push_back(std::move(f));
  }
  return layout;
}

// The index descriptors as given (an empty primary index when there are none), each checked
// against the fields and the secondary names before it.
std::vector<TIndexDescriptor> CheckIndexes(const TTableDefinition& definition,
                                           const std::vector<TFieldDescriptor>& fields, const std::string& fileName) {
  std::vector<TIndexDescriptor> indexes = definition.Indexes;
  if (indexes.empty()) indexes.emplace_back();
  std::vector<std::string> names;
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    TIndexDescriptor checked =
        TIndexFile::CheckDescriptor(indexes[i], i == 0, definition.AllowEmptyPrimary, fields, names, fileName);
    if (i > 0) names.push_back(checked.IndexName);
  }
  return indexes;
}

TTableHeader NewTableHeader(const TTableDefinition& definition, const TFieldLayout& layout,
                            const std::string& password) {
  TTableHeader h;
  h.BlobBlockSize = definition.BlobBlockSize;
  h.RecordSize = static_cast<std::uint16_t>(layout.RecordSize);
  h.FieldCount = static_cast<std::uint16_t>(layout.Fields.size());
  h.BlobFieldCount = static_cast<std::uint16_t>(layout.BlobCount);
  h.LanguageId = definition.LanguageId;
  h.SortId = definition.SortId;
  h.UserValue1 = definition.UserValue1;
  h.UserValue2 = definition.UserValue2;
  h.Encrypted = definition.Encrypted;
  h.Password = definition.Encrypted ? password : std::string();
  h.Description = definition.Description.substr(0, 50);
  h.ComputedBytes = static_cast<std::uint16_t>(layout.ComputedBytes);
  return h;
}

// A fresh sibling file (index or BLOB) of a table being created, its header written.
void CreateSiblingFile(TFileHandler& file, bool inMemory, const std::string& fileName) {
  file.SetExclusive(true);
  file.SetReadOnly(false);
  file.SetInMemory(inMemory);
  file.SetFileName(fileName);
  file.CreateNew();
}

}  // namespace

void TDataFile::CreateTable(const TTableDefinition& definition) {
  if (Opened()) Fail(err::kFileInUse);
  if (!Exclusive()) Fail(err::kMustBeExclusive);
  if (ReadOnly()) Fail(err::kAccessDenied);
  const std::string password = Trim(definition.Password);
  const TLocaleFormats formats = CheckTableSettings(definition, password, FileName());
  TFieldLayout layout = LayOutFields(definition, formats, FileName());
  const std::vector<TIndexDescriptor> indexes = CheckIndexes(definition, layout.Fields, FileName());
  if (layout.BlobCount > kMaxBlobFields) Fail(err::kBlobFieldsOrBlockSize);
  if (layout.RecordSize + layout.ComputedBytes > kMaxRecordBytes) Fail(err::kRecordTooLarge);
  const TTableHeader h = NewTableHeader(definition, layout, password);
  const std::vector<TFieldDescriptor>& fields = layout.Fields;

  // The password lets the reopen below pass; it stays only if the caller had given it before.
  bool addedPassword = definition.Encrypted && !Session().HasPassword(password);
  if (addedPassword) Session().AddPassword(password);
  bool created = false;
  try {
    TFileHandler::CreateNew();
    created = true;
    header_ = h;
    fields_ = fields;
    CreateSiblingFile(*indexFile_, InMemory(), FileName());
    indexFile_->WriteHeader(true);
    indexFile_->Close();
    if (layout.BlobCount > 0) {
      CreateSiblingFile(*blobFile_, InMemory(), FileName());
      blobFile_->WriteHeader(true);
      blobFile_->Close();
    }
    std::vector<std::uint8_t> area(fields.size() * kFieldDescriptorSize);
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i].Encode(area.data() + i * kFieldDescriptorSize);
    if (h.Encrypted) ScrambleData(area.data(), area.size());
    headerChanged_ = true;
    WriteHeader(true);
    if (!area.empty()) WriteAt(kTableHeaderSize, area.data(), static_cast<std::uint32_t>(area.size()));
    CloseFiles();
    Open();
    indexFile_->AddPrimaryIndex(indexes[0], definition.AllowEmptyPrimary);
    for (std::size_t i = 1; i < indexes.size(); ++i) indexFile_->AddSecondaryIndex(indexes[i]);
    indexFile_->WriteHeader(false);
    Close();
  } catch (...) {
    if (addedPassword) Session().RemovePassword(password);
    if (Opened()) CloseFiles();
    if (created) {
      try {
        DeleteTable();
      } catch (...) {  // keep the creation error, not the clean-up one
      }
    }
    throw;
  }
  if (addedPassword) Session().RemovePassword(password);
}

void TDataFile::EmptyTable() {
  if (!Exclusive()) Fail(err::kMustBeExclusive);
  if (ReadOnly()) Fail(err::kAccessDenied);
  Seek(kTableHeaderSize + std::int64_t{header_.FieldCount} * kFieldDescriptorSize, 0);
  WriteBuffer(nullptr, 0);
  header_.ChangeCounter = 0;
  header_.FreeRecordHead = 0;
  header_.NextRecordNumber = 1;
  header_.LastRowId = 0;
  headerChanged_ = true;
  DropRecordCache();
  indexFile_->EmptyIndexFile();
  if (BlobFile()) blobFile_->EmptyBlobFile();
  CursorFilesChanged();  // the cursor's position and bitmaps refer to records that are gone
}

// ---- Fields ----------------------------------------------------------------------------------

const TFieldDescriptor& TDataFile::GetFieldDescriptor(bool logical, int fieldNumber) const {
  const auto& list = logical ? logicalFields_ : fields_;
  if (fieldNumber < 1 || fieldNumber > static_cast<int>(list.size())) {
    RaiseEngineError(err::kInvalidField, FileName(), std::to_string(fieldNumber));
  }
  return list[static_cast<std::size_t>(fieldNumber - 1)];
}

const TFieldDescriptor& TDataFile::GetFieldDescriptorByName(bool logical, const std::string& name) const {
  for (const auto& f : logical ? logicalFields_ : fields_)
    if (EqualIgnoringCase(f.FieldName, name)) return f;
  RaiseEngineError(err::kInvalidField, FileName(), name);
}

// ---- Header ----------------------------------------------------------------------------------

TTableHeader& TDataFile::HeaderForUpdate() {
  headerChanged_ = true;
  return header_;
}

void TDataFile::WriteHeader(bool force) {
  if (!force && !headerChanged_) return;
  if (ReadOnly()) Fail(err::kAccessDenied);
  platform::LocalTime t = platform::LocalNow();
  TTableHeader h = header_;
  h.ChangeCounter = NextChangeCounter(header_.ChangeCounter);
  h.LastUpdate = LastUpdateValue(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  h.HeaderDirty = headerChanged_ ? 1 : 0;
  std::uint8_t bytes[kTableHeaderSize];
  h.Encode(bytes);
  WriteAt(0, bytes, kTableHeaderSize);
  header_ = h;
  headerChanged_ = false;
}

// ---- Record cache ----------------------------------------------------------------------------

std::int64_t TDataFile::RecordOffset(std::uint32_t recordNumber) const {
  return kTableHeaderSize + std::int64_t{header_.FieldCount} * kFieldDescriptorSize +
         std::int64_t{recordNumber - 1} * header_.RecordSize;
}

void TDataFile::ClearRecordCache() {
  ForgetWalk();
  walkRecord_.PinCount = 0;
  recordCache_.Clear();
}

void TDataFile::Pin(TRecord* record) {
  if (record->PinCount >= kMaxPins) Fail(err::kRecordBuffersCorrupt);
  ++record->PinCount;
}

void TDataFile::UnpinRecord(TRecord* record) {
  if (record && record->PinCount > 0) --record->PinCount;
}

// A buffer for a record about to be read or made; its bytes are the caller's to fill.
TRecord* TDataFile::TakeBuffer() {
  if (!recordCache_.Full()) {
    auto record = std::make_unique<TRecord>();
    record->Owner = this;
    record->Data.assign(RecordBufferSize(), 0);
    return recordCache_.Add(std::move(record));
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (TRecord* r = recordCache_.ReuseOldest()) {
      r->ComputedDone = false;
      return r;
    }
    if (locks_.Transaction) {
      recordCache_.Grow(kTransactionCacheGrowth);  // a transaction keeps every record it changed
      return TakeBuffer();
    }
    if (attempt == 0) {
      // Records written ahead of a checkpoint come after the BLOB blocks they name, as in the
      // ordered write-back: a kill in between must not leave a record naming empty blocks. An
      // import holding its pages until the checkpoint leaves the BLOB header to it as well, so
      // that a kill leaves the blocks of the unfinished batch past the header's end.
      if (BlobFile()) {
        if (HoldsPagesUntilCheckpoint()) {
          blobFile_->WriteBackAhead();
        } else {
          blobFile_->WriteBack();
        }
      }
      WriteBackRecords();
    }
  }
  Fail(err::kRecordBuffersCorrupt);
}

void TDataFile::DropRecordCache() {
  ForgetWalk();
  recordCache_.ForgetKeys();
  for (auto& r : recordCache_) {
    r->Dirty = false;
    r->ComputedDone = false;
    r->ReadAheadMark = false;
  }
}

void TDataFile::LoadRecords(std::uint32_t first, std::uint32_t count, std::uint32_t wanted) {
  const std::uint32_t size = header_.RecordSize;
  std::vector<std::uint8_t>& block = loadBlock_;
  block.resize(std::size_t{count} * size);
  bool allowShort = Exclusive() || locks_.Transaction;
  std::uint32_t got = ReadAt(RecordOffset(first), block.data(), static_cast<std::uint32_t>(block.size()), allowShort);
  std::vector<TRecord*>& filled = loadFilled_;
  filled.clear();
  for (std::uint32_t k = 0; k < count; ++k) {
    std::uint32_t number = first + k;
    if (number != wanted && (std::uint64_t{k} + 1) * size > got) continue;  // only the wanted one may come up short
    if (recordCache_.Holds(number)) continue;  // never overwrite what this cursor already holds
    TRecord* r = TakeBuffer();
    r->ReadAheadMark = true;
    filled.push_back(r);
    std::uint8_t* data = r->Data.data();
    std::size_t from = std::size_t{k} * size;
    std::size_t available = got > from ? std::min<std::size_t>(size, got - from) : 0;
    std::memcpy(data, block.data() + from, available);
    std::memset(data + available, 0, r->Data.size() - available);
    if (header_.Encrypted) ScrambleData(data, size);
    SetCachedNumber(r, number);
    if (data[0] == 0) PutU32(data + 1, number);
  }
  for (TRecord* r : filled) r->ReadAheadMark = false;
}

void TDataFile::ScanRecords(const TRecordBitmap& which, const TRecordVisitor& visit) {
  if (!strictChangeDetection_ && AcquireReadLock()) throw ERestartOperation();
  const std::uint32_t size = header_.RecordSize;
  const std::uint32_t end = header_.NextRecordNumber;
  const std::vector<TRecord*> changed = recordCache_.DirtyByKey(false);
  std::size_t nextChanged = 0;
  const std::uint32_t blockRecords = std::max<std::uint32_t>(readAheadCount_, 1);
  scanBlock_.resize(std::size_t{blockRecords} * size);
  scanRecord_.resize(RecordBufferSize());
  std::uint8_t* record = scanRecord_.data();
  const bool allowShort = Exclusive() || locks_.Transaction;
  constexpr std::uint32_t kNone = TRecordBitmap::kNone;
  for (std::uint32_t r = which.NextSet(1); r != kNone && r < end;) {
    const std::uint32_t first = r;
    const std::uint32_t stop = first + std::min(blockRecords, end - first);  // one past the block
    // Records past the end of the file matter only where they are wanted (below).
    const std::uint32_t got = ReadAt(RecordOffset(first), scanBlock_.data(), (stop - first) * size, true);
    std::uint32_t q = first;
    for (; q != kNone && q < stop; q = which.NextSet(q + 1)) {
      while (nextChanged < changed.size() && changed[nextChanged]->RecordNumber < q) ++nextChanged;
      if (nextChanged < changed.size() && changed[nextChanged]->RecordNumber == q) {
        TRecord* cached = changed[nextChanged];
        if (hasComputed_ && !cached->ComputedDone) {
          ComputeFields(cached->Data.data());
          cached->ComputedDone = true;
        }
        if (!visit(cached->Data.data(), q)) return;
        continue;
      }
      const std::size_t from = std::size_t{q - first} * size;
      const std::size_t available = got > from ? std::min<std::size_t>(size, got - from) : 0;
      if (available < size && !allowShort) Fail(err::kReadError);
      // The block is ours to change: records are made up where they lie unless computed fields
      // need room after them.
      std::uint8_t* at = scanBlock_.data() + from;
      if (hasComputed_ || available < size) {
        std::memcpy(record, at, available);
        std::memset(record + available, 0, scanRecord_.size() - available);
        at = record;
      }
      if (header_.Encrypted) ScrambleData(at, size);
      if (at[0] == 0) PutU32(at + 1, q);
      if (hasComputed_) ComputeFields(at);
      if (!visit(at, q)) return;
    }
    r = q;
  }
}

TRecord* TDataFile::FetchRecord(std::uint32_t recordNumber, int direction, std::uint32_t count) {
  return FetchRecordAndUpcoming(recordNumber, direction, count, nullptr, 0);
}

TRecord* TDataFile::FetchRecordAndUpcoming(std::uint32_t recordNumber, int direction, std::uint32_t count,
                                           const std::uint32_t* upcoming, std::size_t upcomingCount) {
  if (recordNumber < 1 || recordNumber > header_.NextRecordNumber) Fail(err::kRecordNotFound);
  if (TRecord* hit = FindCached(recordNumber)) {
    Pin(hit);
    return hit;
  }
  if (recordNumber == header_.NextRecordNumber) {
    TRecord* fresh = TakeBuffer();
    std::fill(fresh->Data.begin(), fresh->Data.end(), 0);
    SetCachedNumber(fresh, recordNumber);
    Pin(fresh);
    return fresh;
  }
  if (!strictChangeDetection_ && AcquireReadLock()) throw ERestartOperation();
  std::uint32_t n = std::max<std::uint32_t>(count, 1);
  n = std::min(n, std::max<std::uint32_t>(readAheadCount_, 1));
  n = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(std::max(recordCache_.Capacity(), 1)));
  std::uint32_t first;
  if (direction < 0) {
    n = std::min(n, recordNumber);
    first = recordNumber - n + 1;
  } else {
    n = std::min(n, header_.NextRecordNumber - recordNumber);
    first = recordNumber;
  }
  LoadRecords(first, n, recordNumber);
  TRecord* record = FindCached(recordNumber);
  if (!record) Fail(err::kRecordBuffersCorrupt);
  Pin(record);
  const std::size_t room = static_cast<std::size_t>(recordCache_.Capacity() / 2);
  try {
    for (std::size_t k = 0; k < std::min(upcomingCount, room); ++k) {
      const std::uint32_t r = upcoming[k];
      if (r >= 1 && r < header_.NextRecordNumber && !recordCache_.Holds(r)) LoadRecords(r, 1, r);
    }
  } catch (...) {
    UnpinRecord(record);
    throw;
  }
  return record;
}

TRecord* TDataFile::StreamedRecord(std::uint32_t recordNumber) {
  return WalkHolds(recordNumber) ? ServeFromWalk(recordNumber) : nullptr;
}

TDataFile::TWalkReach TDataFile::WalkReach(std::uint32_t recordNumber) const {
  const std::uint32_t perRead = std::max<std::uint32_t>(readAheadCount_, 1);
  const bool carriesOn = walkReads_ != 0 && recordNumber == walkFirst_ + walkCount_;
  const std::uint32_t reads = carriesOn ? std::min(walkReads_ * 2, kWalkReads) : 1;
  const int leaves = carriesOn ? std::min<int>(static_cast<int>(reads) * 4, TIndexFile::kPageCacheSize / 2) : 1;
  return {reads * perRead, leaves};
}

TRecord* TDataFile::FetchWalkRecord(std::uint32_t recordNumber, std::uint32_t count) {
  if (WalkHolds(recordNumber)) return ServeFromWalk(recordNumber);
  if (recordNumber < 1 || recordNumber >= header_.NextRecordNumber) return nullptr;
  const std::uint32_t reach = WalkReach(recordNumber).Records;
  if (!strictChangeDetection_ && AcquireReadLock()) throw ERestartOperation();
  const std::uint32_t size = header_.RecordSize;
  const std::uint32_t perRead = std::max<std::uint32_t>(readAheadCount_, 1);
  count = std::min({std::max<std::uint32_t>(count, 1), reach, header_.NextRecordNumber - recordNumber});
  walkBlock_.resize(std::size_t{count} * size);
  const bool allowShort = Exclusive() || locks_.Transaction;
  std::uint32_t whole = 0;  // records read whole, from recordNumber on
  while (whole < count) {
    const std::uint32_t n = std::min(perRead, count - whole);
    std::uint8_t* at = walkBlock_.data() + std::size_t{whole} * size;
    const std::uint32_t got = ReadAt(RecordOffset(recordNumber + whole), at, n * size, allowShort);
    whole += got / size;
    if (got < n * size) break;  // the file ends here (an Exclusive cursor's unwritten records)
  }
  walkFirst_ = recordNumber;
  walkCount_ = whole;
  walkReads_ = whole > 0 ? (reach + perRead - 1) / perRead : 0;
  return whole > 0 ? ServeFromWalk(recordNumber) : nullptr;
}

TRecord* TDataFile::ServeFromWalk(std::uint32_t recordNumber) {
  const std::uint32_t size = header_.RecordSize;
  TRecord& r = walkRecord_;
  r.Owner = this;
  r.Dirty = false;
  r.ComputedDone = false;
  r.Data.resize(RecordBufferSize());
  std::uint8_t* data = r.Data.data();
  std::memcpy(data, walkBlock_.data() + std::size_t{recordNumber - walkFirst_} * size, size);
  std::memset(data + size, 0, r.Data.size() - size);
  if (header_.Encrypted) ScrambleData(data, size);
  if (data[0] == 0) PutU32(data + 1, recordNumber);
  r.RecordNumber = recordNumber;
  Pin(&r);
  return &r;
}

void TDataFile::WriteBackRecords() {
  // Written records may leave the cache clean and be reused; the stream, read before, must not
  // then stand in for them.
  ForgetWalk();
  const std::uint32_t size = header_.RecordSize;
  std::vector<std::uint8_t>& run = writeRun_;
  recordCache_.WriteDirtyRuns(1, true, [&](TRecord* const* records, std::size_t n) {
    run.assign(n * size, 0);
    for (std::size_t k = 0; k < n; ++k) {
      std::memcpy(run.data() + k * size, records[k]->Data.data(), size);
      if (header_.Encrypted) ScrambleData(run.data() + k * size, size);
    }
    WriteAt(RecordOffset(records[0]->RecordNumber), run.data(), static_cast<std::uint32_t>(run.size()));
  });
}

// ---- Locks and change detection --------------------------------------------------------------

bool TDataFile::CheckForChanges() {
  bool changed = false;
  if (indexFile_->Opened() && indexFile_->ReadChangeCounter() != indexFile_->ChangeCounter()) {
    indexFile_->ReadHeader();
    ReadHeader(false);
    DropRecordCache();
    indexFile_->InvalidatePages();
    changed = true;
  } else {
    std::uint8_t bytes[4];
    ReadAt(0, bytes, 4);
    if (GetI32(bytes) != header_.ChangeCounter) {
      ReadHeader(false);
      DropRecordCache();
      changed = true;
    }
  }
  if (BlobFile() && blobFile_->ReadChangeCounter() != blobFile_->ChangeCounter()) {
    blobFile_->ReadHeader();
    blobFile_->InvalidateBlocks();
    changed = true;
  }
  // The cursor re-evaluates its range and filters and restores its position by bookmark.
  if (changed) CursorFilesChanged();
  return changed;
}

bool TDataFile::Refresh() {
  return Opened() && CheckForChanges();
}

void TDataFile::AcquireSharedSemaphores() {
  indexFile_->AcquireSharedSemaphore();
  if (BlobFile()) {
    try {
      blobFile_->AcquireSharedSemaphore();
    } catch (...) {
      indexFile_->ReleaseSharedSemaphore();
      throw;
    }
  }
}

void TDataFile::ReleaseSharedSemaphores() {
  if (BlobFile()) blobFile_->ReleaseSharedSemaphore();
  indexFile_->ReleaseSharedSemaphore();
}

bool TDataFile::AcquireReadLock() {
  if (LocksAreNoOps() || locks_.Read || locks_.Write || locks_.StatementRead || locks_.Transaction) return false;
  AcquireSharedSemaphores();
  locks_.Read = true;
  return CheckForChanges();
}

void TDataFile::ReleaseReadLock() {
  if (!locks_.Read) return;
  locks_.Read = false;
  if (!locks_.StatementRead && !locks_.Write) ReleaseSharedSemaphores();
}

bool TDataFile::AcquireStatementReadLock() {
  if (LocksAreNoOps() || locks_.StatementRead) return false;
  if (!locks_.Write) AcquireSharedSemaphores();
  locks_.StatementRead = true;
  return CheckForChanges();
}

void TDataFile::ReleaseStatementReadLock() {
  if (!locks_.StatementRead) return;
  locks_.StatementRead = false;
  if (!locks_.Read && !locks_.Write) ReleaseSharedSemaphores();
}

void TDataFile::AcquireDataSemaphore() {
  if (locks_.DataSemaphore) return;
  if (!LockWithRetries(kDataSemaphoreOffset, 1, SemaphoreAttempts, SemaphorePauseMs, TLockWait::Busy)) {
    Fail(err::kLockFailure);
  }
  locks_.DataSemaphore = true;
}

void TDataFile::ReleaseDataSemaphore() {
  if (!locks_.DataSemaphore) return;
  locks_.DataSemaphore = false;
  if (!UnlockRegion(kDataSemaphoreOffset, 1)) Fail(err::kLockFailure);
}

bool TDataFile::AcquireWriteLock() {
  ForgetWalk();  // the change about to be made may touch streamed records
  if (LocksAreNoOps() || locks_.Write) return false;
  // The exclusive semaphore covers every shared slot, this cursor's own too: a cursor holding a
  // read or statement lock gives its slot up while it writes, or it would wait on itself.
  bool hadShared = indexFile_->HoldsSharedSemaphore();
  if (hadShared) ReleaseSharedSemaphores();
  bool tookData = false;
  try {
    if (!locks_.Transaction) {
      AcquireDataSemaphore();
      tookData = true;
    }
    indexFile_->AcquireExclusiveSemaphore();
    if (BlobFile()) blobFile_->AcquireExclusiveSemaphore();
  } catch (...) {
    try {
      indexFile_->ReleaseExclusiveSemaphore();
      if (tookData) ReleaseDataSemaphore();
      if (hadShared) AcquireSharedSemaphores();
    } catch (...) {  // report the acquisition failure
    }
    throw;
  }
  locks_.Write = true;
  return locks_.Transaction ? false : CheckForChanges();
}

void TDataFile::ReleaseWriteLock() {
  if (!locks_.Write) return;
  locks_.Write = false;
  if (BlobFile()) blobFile_->ReleaseExclusiveSemaphore();
  indexFile_->ReleaseExclusiveSemaphore();
  if (!locks_.Transaction) ReleaseDataSemaphore();
  if (locks_.Read || locks_.StatementRead) AcquireSharedSemaphores();
}

bool TDataFile::AcquireTransactionLock() {
  ForgetWalk();
  if (LocksAreNoOps() || locks_.Transaction) {
    if (Exclusive() && !locks_.Transaction) {
      Flush();
      indexFile_->Flush();
      if (BlobFile()) blobFile_->Flush();
    }
    return false;
  }
  AcquireDataSemaphore();
  locks_.Transaction = true;
  return CheckForChanges();
}

void TDataFile::ReleaseTransactionLock() {
  if (!locks_.Transaction) return;
  locks_.Transaction = false;
  if (!locks_.Write) ReleaseDataSemaphore();
  UnlockAllRecords();  // the unlocks postponed while the transaction lock was held
}

void TDataFile::LockTable() {
  if (locks_.Table) return;
  if (!LocksAreNoOps()) {
    if (!LockWithRetries(kTableLockOffset, kTableLockLength, LockRetryCount + 1, LockWaitTime, TLockWait::Busy)) {
      Fail(err::kFileLocked);
    }
  }
  locks_.Table = true;
  if (!LocksAreNoOps()) CheckForChanges();
}

void TDataFile::UnlockTable() {
  if (!locks_.Table) return;
  locks_.Table = false;
  if (!LocksAreNoOps() && !UnlockRegion(kTableLockOffset, kTableLockLength)) Fail(err::kCannotUnlock);
}

void TDataFile::LockRecord(std::uint32_t recordNumber) {
  if (recordNumber == 0) {
    recordNumber = RecordToChange();
    if (recordNumber == 0) Fail(err::kRecordLocked);
  }
  if (recordNumber > kMaxRecordNumber + 1) Fail(err::kRecordLocked);
  if (LocksAreNoOps() || locks_.Table) return;
  if (std::find(lockedRecords_.begin(), lockedRecords_.end(), recordNumber) != lockedRecords_.end()) return;
  // The record lock comes first: waiting for it while holding the read lock would keep the
  // holder of the record, who may be posting it, out of the write lock all that time.
  if (!LockWithRetries(kRecordLockBase - recordNumber, 1, LockRetryCount + 1, LockWaitTime, TLockWait::Busy)) {
    Fail(err::kRecordLocked);
  }
  lockedRecords_.push_back(recordNumber);
  // The change check of the read lock drops stale caches, so the locked record is read fresh. A
  // read lock this call took ends with it; one the caller held stays for the caller to release.
  if (!strictChangeDetection_ && !locks_.Read) {
    try {
      AcquireReadLock();
    } catch (...) {
      ReleaseReadLock();
      lockedRecords_.pop_back();
      UnlockRegion(kRecordLockBase - recordNumber, 1);
      throw;
    }
    ReleaseReadLock();
  }
}

void TDataFile::UnlockRecord(std::uint32_t recordNumber) {
  if (locks_.Transaction) return;  // deferred changes keep their records locked until they end
  if (recordNumber == 0) recordNumber = RecordToChange();
  auto it = std::find(lockedRecords_.begin(), lockedRecords_.end(), recordNumber);
  if (it == lockedRecords_.end()) return;
  lockedRecords_.erase(it);
  if (!UnlockRegion(kRecordLockBase - recordNumber, 1)) Fail(err::kCannotUnlock);
}

void TDataFile::UnlockAllRecords() {
  if (locks_.Transaction) return;  // postponed, as for single records
  while (!lockedRecords_.empty()) UnlockRecord(lockedRecords_.back());
}

}  // namespace quillon::engine
