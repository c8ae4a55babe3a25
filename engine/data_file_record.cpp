// TDataFile's record operations: filling, reading and checking record buffers (InitRecord,
// GetField, SetField, the validity checks) and changing the table (InsertRecord, UpdateRecord,
// DeleteRecord) with their index, free-list, row-identifier and BLOB maintenance.
//
// Value forms of GetField and SetField are the record's own bytes (table_format.h): DataSize
// bytes, little-endian numbers, a string as its characters ending with a 0 byte, a BLOB field as
// its 4-byte slot.
//
// A change keeps these invariants:
//  1. It runs under the write lock from the first check to the last write, and releases that
//     lock and the record lock it took itself on every way out.
//  2. Every check that can refuse it (read-only err::kAccessDenied, validity
//     err::kMinimumExceeded to err::kValueRequired, duplicate keys err::kDuplicateKey, missing
//     keys err::kKeyNotFound, the size limits err::kFileFull, broken BLOB chains
//     err::kInvalidBlobOffset) runs before the first change of a record, a page or a block, so a
//     refused change leaves the table as it was.
//     On a shared table outside deferred changes nothing reaches the files before the final
//     write-back, so a change that fails later still (a damaged page, a full disk) is dropped
//     from the caches, which are read again from the files. With deferred changes the same
//     failure drops every deferred change and ends the transaction. An Exclusive cursor keeps
//     changes of earlier operations in its caches and cannot drop one alone: there a failure
//     after the checks leaves the caches as it met them.
//  3. Row identifiers only grow: a new record takes LastRowId + 1, also when it reuses the slot
//     of a deleted record. In a table with a primary index the deleted-records index holds one
//     key (Deleted byte, row identifier) per physical record; deleted slots are reused from the
//     free list (FreeRecordHead, then each deleted record's link) only in such tables.
//  4. Two records never share a BLOB chain: a posted buffer whose closed BLOB slot points at a
//     chain that is not the record's own gets a copy of that value.
//  5. A shared table has every change written back (records, the data header with its counter,
//     index pages and header, BLOB blocks and header) before the write lock goes, so other
//     cursors see all of it or none of it.
//
// Deferred changes: a cursor told so while closed keeps its changes in its caches. Its first
// change writes back whatever is pending (an Exclusive cursor also flushes) and takes the
// transaction lock; from then on changes are not written back per operation, the caches grow
// instead of writing, and record unlocks wait. CommitChanges writes everything back under the
// write lock and ends the transaction (releasing the cursor's record locks, the postponed ones
// among them); Close without it drops the cached changes, reads the headers again and releases
// every lock, and so does a change that fails halfway. An Exclusive cursor
// takes no lock states, so there the transaction is a flag only, with the same meaning.
//
// Computed fields: their expressions belong to the SQL layer, which installs a callback
// (SetComputeFields); without one their bytes stay as they are.
//
// Default texts are read with the table's formats (its locale's, or the fixed ones of a table
// without locale). A text that cannot be read as its field's type raises EValueTextError with the
// conversion message ("'x' is not a valid boolean value"); only files this engine did not create
// hold such texts. Unsigned 32-bit and extended fields, whose default texts creation does not
// check, take the number the text holds, else zero; bytes fields take zero bytes.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/locale.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

bool IsStringType(const TFieldDescriptor& f) {
  return f.FieldType == static_cast<std::uint8_t>(TFieldType::String);
}

TFieldType TypeOf(const TFieldDescriptor& f) {
  return static_cast<TFieldType>(f.FieldType);
}

[[noreturn]] void ConvertFailure(const std::string& text, const char* what) {
  throw EValueTextError("'" + text + "' is not a valid " + what);
}

std::int32_t Today() {
  platform::LocalTime t = platform::LocalNow();
  return EncodeDate(t.year, t.month, t.day);
}

std::int32_t TimeNow() {
  platform::LocalTime t = platform::LocalNow();
  return EncodeTime(t.hour, t.minute, t.second, t.millisecond);
}

// The integer types a literal must fit; a text out of range is no value of the field.
struct TIntegerLiteralRule {
  TFieldType Type;
  std::int64_t Low, High;
  void (*Put)(std::uint8_t*, std::int64_t);
};

constexpr TIntegerLiteralRule kIntegerLiteralRules[] = {
    {TFieldType::SmallInt, -32768, 32767,
     [](std::uint8_t* p, std::int64_t v) { PutI16(p, static_cast<std::int16_t>(v)); }},
    {TFieldType::Integer, INT32_MIN, INT32_MAX,
     [](std::uint8_t* p, std::int64_t v) { PutI32(p, static_cast<std::int32_t>(v)); }},
    {TFieldType::Word, 0, 65535, [](std::uint8_t* p, std::int64_t v) { PutU16(p, static_cast<std::uint16_t>(v)); }},
};

// Dates, times and timestamps take the keywords DATE, TIME and NOW (blanks around them allowed)
// for the moment the value is written.
std::int32_t DateLiteral(const std::string& text, const TLocaleFormats& formats) {
  std::int32_t n = 0;
  if (EqualIgnoringCase(Trim(text), "DATE")) return Today();
  if (!ParseDate(text, formats, n)) ConvertFailure(text, "date");
  return n;
}

std::int32_t TimeLiteral(const std::string& text, const TLocaleFormats& formats) {
  std::int32_t n = 0;
  if (EqualIgnoringCase(Trim(text), "TIME")) return TimeNow();
  if (!ParseTime(text, formats, n)) ConvertFailure(text, "time");
  return n;
}

double TimeStampLiteral(const std::string& text, const TLocaleFormats& formats) {
  const std::string word = Trim(text);
  double d = 0;
  if (EqualIgnoringCase(word, "NOW")) return EncodeTimeStamp(Today(), TimeNow());
  if (EqualIgnoringCase(word, "DATE")) return EncodeTimeStamp(Today(), 0);
  if (EqualIgnoringCase(word, "TIME")) return EncodeTimeStamp(kDayNumberOf18991230, TimeNow());
  if (!ParseDateTime(text, formats, d)) ConvertFailure(text, "date and time");
  return d;
}

std::uint16_t BooleanLiteral(const std::string& text) {
  const std::string word = Trim(text);
  if (EqualIgnoringCase(word, "TRUE")) return 1;
  if (!EqualIgnoringCase(word, "FALSE")) ConvertFailure(text, "boolean value");
  return 0;
}

std::int64_t BcdLiteral(const TFieldDescriptor& f, const std::string& text, const TLocaleFormats& formats) {
  std::int64_t fixed4 = 0, stored = 0;
  if (!ParseFixed4(text, formats, fixed4) || !EncodeBcd(fixed4, f.DataDecimals, stored)) {
    ConvertFailure(text, "floating point value");
  }
  return stored;
}

// A literal (default, minimum or maximum text) as the field's DataSize value bytes. Answers
// false for types that have no literal form (their default is zero bytes).
bool LiteralValue(const TFieldDescriptor& f, const std::string& text, const TLocaleFormats& formats,
                  std::vector<std::uint8_t>& value) {
  value.assign(f.DataSize, 0);
  const TFieldType type = TypeOf(f);
  std::int64_t i = 0;
  double d = 0;
  for (const TIntegerLiteralRule& rule : kIntegerLiteralRules) {
    if (rule.Type != type) continue;
    if (!ParseInteger(text, rule.Low, rule.High, i)) ConvertFailure(text, "integer value");
    rule.Put(value.data(), i);
    return true;
  }
  switch (type) {
    case TFieldType::String:
      std::copy_n(text.begin(), std::min<std::size_t>(text.size(), f.DataSize > 0 ? f.DataSize - 1u : 0u),
                  value.begin());
      return true;
    case TFieldType::Date:
      PutI32(value.data(), DateLiteral(text, formats));
      return true;
    case TFieldType::Time:
      PutI32(value.data(), TimeLiteral(text, formats));
      return true;
    case TFieldType::TimeStamp:
      PutDouble(value.data(), TimeStampLiteral(text, formats));
      return true;
    case TFieldType::Boolean:
      PutU16(value.data(), BooleanLiteral(text));
      return true;
    case TFieldType::Float:
      if (!ParseFloat(text, formats, d)) ConvertFailure(text, "floating point value");
      PutDouble(value.data(), d);
      return true;
    case TFieldType::Bcd:
      PutI64(value.data(), BcdLiteral(f, text, formats));
      return true;
    case TFieldType::LargeWord:
      // Creation takes any text for these two types; a number is read, anything else stays 0.
      if (ParseInteger(text, 0, UINT32_MAX, i)) PutU32(value.data(), static_cast<std::uint32_t>(i));
      return true;
    case TFieldType::Extended:
      if (ParseFloat(text, formats, d)) EncodeExtended(d, value.data());
      return true;
    default:
      return false;
  }
}

// The characters of a string value: up to the first 0 byte, at most `room` bytes.
std::string StringOf(const std::uint8_t* bytes, std::size_t room) {
  const std::uint8_t* end = std::find(bytes, bytes + room, 0);
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
}

// Byte order over the longer of the two lengths, the shorter one padded with zeros.
int CompareBytes(const std::string& a, const std::string& b) {
  std::size_t n = std::max(a.size(), b.size());
  for (std::size_t k = 0; k < n; ++k) {
    unsigned ca = k < a.size() ? static_cast<unsigned char>(a[k]) : 0u;
    unsigned cb = k < b.size() ? static_cast<unsigned char>(b[k]) : 0u;
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

template <class T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Compares two values of a range-checked type; `ok` false for types that are never checked.
int CompareValues(const TFieldDescriptor& f, const std::uint8_t* a, const std::uint8_t* b, std::uint32_t lcid,
                  bool& ok) {
  ok = true;
  switch (TypeOf(f)) {
    case TFieldType::String: {
      std::string sa = StringOf(a, f.DataSize), sb = StringOf(b, f.DataSize);
      if (lcid != 0) return Sign(locale::CompareStrings(lcid, sa, sb, false), 0);
      return CompareBytes(sa, sb);
    }
    case TFieldType::Date:
    case TFieldType::Time:
    case TFieldType::Integer:
      return Sign(GetI32(a), GetI32(b));
    case TFieldType::SmallInt:
      return Sign(GetI16(a), GetI16(b));
    case TFieldType::Word:
      return Sign(GetU16(a), GetU16(b));
    case TFieldType::Float:
    case TFieldType::TimeStamp:
      return Sign(GetDouble(a), GetDouble(b));
    case TFieldType::Bcd:
      return Sign(GetI64(a), GetI64(b));
    default:
      ok = false;
      return 0;
  }
}

// Selecting a tree decodes its descriptor: skip it when the tree is selected already.
void SelectTree(TIndexFile& index, int number) {
  if (index.CurrentIndex() != number) index.SelectIndex(number);
}

// Unpins a fetched record on every way out.
class TPinned {
 public:
  TPinned(TDataFile& table, TRecord* record) : table_(table), record_(record) {}
  ~TPinned() { Release(); }
  TPinned(const TPinned&) = delete;
  TPinned& operator=(const TPinned&) = delete;
  void Release() {
    table_.UnpinRecord(record_);
    record_ = nullptr;
  }

 private:
  TDataFile& table_;
  TRecord* record_;
};

// The indexes a new record gets keys in (the primary first when there is one, then the
// secondaries in order) and its key for each.
struct TRecordKeys {
  std::vector<int> Indexes;
  std::vector<TKey> Keys;
};

TRecordKeys BuildRecordKeys(TIndexFile& index, bool primary, const std::uint8_t* record) {
  TRecordKeys keys;
  if (primary) keys.Indexes.push_back(0);
  for (int i = 1; i <= index.IndexCount(); ++i) keys.Indexes.push_back(i);
  for (int i : keys.Indexes) keys.Keys.push_back(index.BuildKey(i, record));
  return keys;
}

void CheckDuplicates(TIndexFile& index, const TRecordKeys& keys) {
  for (std::size_t k = 0; k < keys.Indexes.size(); ++k) {
    SelectTree(index, keys.Indexes[k]);
    index.CheckDuplicate(keys.Keys[k].data());  // the primary and unique indexes only
  }
}

// The primary index last, so that the cursor's own tree (usually the primary) is the one
// selected at the end.
void InsertRecordKeys(TIndexFile& index, const TRecordKeys& keys, std::uint32_t recordNumber) {
  for (std::size_t k = keys.Indexes.size(); k-- > 0;) {
    SelectTree(index, keys.Indexes[k]);
    index.InsertKey(keys.Keys[k], recordNumber);
  }
}

// The head of the free list, about to be reused: its row identifier and the next free record.
struct TFreeRecord {
  std::int32_t OldRowId = 0;
  std::uint32_t NextFree = 0;
};

// A free-list entry that is not a deleted record, or whose key the deleted-records index lacks,
// means a damaged file: refuse to overwrite it.
TFreeRecord CheckFreeRecord(const TRecord& record, TIndexFile& index, std::uint32_t nextRecordNumber,
                            const std::string& fileName) {
  if (record.Data[0] != 1) RaiseEngineError(err::kRecordBuffersCorrupt, fileName);
  TFreeRecord head;
  head.OldRowId = GetI32(record.Data.data() + kRowIdOffset);
  head.NextFree = GetU32(record.Data.data() + 1);
  if (head.NextFree >= nextRecordNumber) RaiseEngineError(err::kRecordBuffersCorrupt, fileName);
  SelectTree(index, kDeletedIndexSlot);
  if (!index.ContainsKey(DeletedRecordKey(true, head.OldRowId))) {
    RaiseEngineError(err::kKeyNotFound, fileName, {}, {}, kDeletedIndexName);
  }
  return head;
}

}  // namespace

// ---- The scope of one change -------------------------------------------------------------------

// Holds what one insert, update or delete takes (the write lock, the record lock it takes
// itself, the tree selection it found) and gives it back on every way out.
class TDataFile::TChangeScope {
 public:
  explicit TChangeScope(TDataFile& table) : table_(table) {
    if (!table.Opened()) table.Fail(err::kInvalidFileHandle);
    if (table.ReadOnly()) table.Fail(err::kAccessDenied);
    if (table.deferredChanges_ && !table.locks_.Transaction) BeginTransaction();
    table.AcquireWriteLock();
    selection_ = table.indexFile_->CurrentIndex();
  }

  ~TChangeScope() {
    if (finished_) return;
    // The change failed: nothing of it may survive in this cursor's caches where they can be
    // read again from the files. Deferred changes cannot be told apart from it in the caches,
    // so the whole transaction ends uncommitted, as if the cursor had closed.
    const bool endTransaction = changing_ && table_.locks_.Transaction;
    if (changing_ && (endTransaction || !table_.Exclusive())) {
      try {
        table_.DiscardCachedChanges();
      } catch (...) {  // the original failure is the one to report
      }
    }
    try {
      RestoreSelection();
    } catch (...) {
    }
    try {
      if (lockedRecord_ != 0) table_.UnlockRecord(lockedRecord_);
    } catch (...) {
    }
    try {
      table_.ReleaseWriteLock();
    } catch (...) {
    }
    try {
      if (endTransaction) table_.ReleaseTransactionLock();
    } catch (...) {
    }
  }
  TChangeScope(const TChangeScope&) = delete;
  TChangeScope& operator=(const TChangeScope&) = delete;

  // Locks the record for the length of the change unless the cursor holds its lock already.
  void LockRecord(std::uint32_t recordNumber) {
    const auto& held = table_.lockedRecords_;
    bool had = std::find(held.begin(), held.end(), recordNumber) != held.end();
    table_.LockRecord(recordNumber);
    bool has = std::find(held.begin(), held.end(), recordNumber) != held.end();
    if (!had && has) lockedRecord_ = recordNumber;
  }

  // From here on the caches hold parts of the change.
  void Changing() { changing_ = true; }

  // The tree selection as the operation found it.
  void RestoreSelection() {
    if (table_.indexFile_->CurrentIndex() != selection_) table_.indexFile_->SelectIndex(selection_);
  }

  // The change is complete: writes it back (shared tables outside deferred changes) and puts
  // the tree selection back.
  void Complete(bool forceIndexHeader) {
    // The data header goes out always: its counter tells other cursors that records changed.
    if (!table_.locks_.Transaction && !table_.Exclusive()) table_.WriteBackAll(true, forceIndexHeader);
    changing_ = false;
    RestoreSelection();
  }

  // Releases what the change took; failures of the release are reported.
  void Finish() {
    finished_ = true;
    std::uint32_t record = lockedRecord_;
    lockedRecord_ = 0;
    try {
      if (record != 0) table_.UnlockRecord(record);
    } catch (...) {
      table_.ReleaseWriteLock();
      throw;
    }
    table_.ReleaseWriteLock();
  }

 private:
  void BeginTransaction() {
    // Only an Exclusive cursor has changes pending between operations.
    if (table_.Exclusive()) table_.WriteBackAll(false, false);
    table_.AcquireTransactionLock();
    // Exclusive cursors take no lock states; the flag alone keeps their changes in the caches.
    table_.locks_.Transaction = true;
  }

  TDataFile& table_;
  int selection_ = 0;
  std::uint32_t lockedRecord_ = 0;
  bool changing_ = false;
  bool finished_ = false;
};

// ---- Helpers ---------------------------------------------------------------------------------

bool TDataFile::HasPrimaryIndex() const {
  if (indexFile_->NoPrimaryIndex()) return false;
  TIndexDescriptor primary = indexFile_->GetIndexDescriptor(0);
  return primary.KeyFieldCount > 0 && primary.KeyLength > 0;
}

std::uint32_t TDataFile::RecordToChange() const {
  if (cursor_.RecordNumber() != 0) return cursor_.RecordNumber();
  return CurrentRecord ? CurrentRecord->RecordNumber : 0;
}

void TDataFile::WriteBackAll(bool forceDataHeader, bool forceIndexHeader) {
  // The cursor keeps its current record pinned between operations; the change it carries must
  // reach the file all the same.
  std::vector<std::uint16_t> pins;
  pins.reserve(static_cast<std::size_t>(recordCache_.Count()));
  for (auto& r : recordCache_) {
    pins.push_back(r->PinCount);
    r->PinCount = 0;
  }
  // The order of WriteBackInSafeOrder: a process that dies half-way leaves records the index
  // and the header do not name yet, never entries or a count naming what is not written.
  try {
    if (BlobFile()) blobFile_->WriteBack();
    WriteBackRecords();
  } catch (...) {
    for (std::size_t k = 0; k < pins.size(); ++k) recordCache_[static_cast<int>(k)]->PinCount = pins[k];
    throw;
  }
  for (std::size_t k = 0; k < pins.size(); ++k) recordCache_[static_cast<int>(k)]->PinCount = pins[k];
  ReleaseReplacedChains();
  indexFile_->WriteBack(forceIndexHeader);
  WriteHeader(forceDataHeader);
}

void TDataFile::ReleaseReplacedChains() {
  // The records no longer naming these chains are on disk now; only then may their blocks be
  // handed out again, and the free list that holds them is written.
  if (!BlobFile() || blobFile_->ReplacedChainCount() == 0) return;
  auto named = [&](std::uint32_t owner, std::uint32_t first) {
    if (owner == 0 || owner >= header_.NextRecordNumber) return false;
    TRecord* r = FetchRecord(owner);
    bool names = false;
    if (r->Data[0] == 0) {
      for (const auto& f : fields_)
        if (f.IsBlob() && GetU32(r->Data.data() + f.Offset + 1) == first) names = true;
    }
    UnpinRecord(r);
    return names;
  };
  if (blobFile_->ReleaseReplacedChains(named)) blobFile_->WriteBack();
}

void TDataFile::DiscardCachedChanges() {
  CursorFilesChanged();
  DropRecordCache();
  ReadHeader(false);
  indexFile_->InvalidatePages();
  indexFile_->ReadHeader();
  if (BlobFile()) {
    blobFile_->InvalidateBlocks();
    blobFile_->ReadHeader();
  }
}

void TDataFile::ComputeFields(std::uint8_t* record) {
  if (hasComputed_ && computeFields_) computeFields_(*this, record);
}

// ---- Fields ----------------------------------------------------------------------------------

void TDataFile::InitRecord(std::uint8_t* buffer) {
  std::fill_n(buffer, RecordBufferSize(), 0);
  if (!hasDefaults_) return;
  std::vector<std::uint8_t> value;
  for (const auto& f : fields_) {
    if (f.DefaultValue.empty() || f.Computed || f.IsBlob()) continue;
    if (!LiteralValue(f, f.DefaultValue, formats_, value)) value.assign(f.DataSize, 0);
    SetField(false, f.FieldNumber, value.data(), buffer);
  }
}

bool TDataFile::GetField(bool logical, int fieldNumber, const std::uint8_t* record, void* value) {
  const TFieldDescriptor& f = GetFieldDescriptor(logical, fieldNumber);
  auto* out = static_cast<std::uint8_t*>(value);
  std::fill_n(out, f.DataSize, 0);
  if (f.IsAutoInc() && !f.Computed) {
    std::copy_n(record + kRowIdOffset, 4, out);
    return true;
  }
  const std::uint8_t* at = record + f.Offset;
  std::copy_n(at + 1, f.DataSize, out);
  if (f.IsBlob() && !f.Computed) {
    std::int32_t slot = GetI32(at + 1);
    if (slot < 0 && BlobFile()) {
      if (TBlobBuffer* open = blobFile_->FindOpenBlob(slot)) return open->Length() > 0;
    }
  }
  return at[0] == 1;
}

void TDataFile::SetField(bool logical, int fieldNumber, const void* value, std::uint8_t* record) {
  const TFieldDescriptor& f = GetFieldDescriptor(logical, fieldNumber);
  if (f.Computed) return;  // computed values are the engine's own
  const auto* in = static_cast<const std::uint8_t*>(value);
  if (f.IsAutoInc()) {
    if (in) std::copy_n(in, 4, record + kRowIdOffset);
  } else {
    std::uint8_t* at = record + f.Offset;
    std::uint8_t* bytes = at + 1;
    std::fill_n(bytes, f.DataSize, 0);
    if (!in) {
      at[0] = 0;
    } else if (IsStringType(f)) {
      std::string text = StringOf(in, f.DataSize > 0 ? f.DataSize - 1u : 0u);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      std::copy(text.begin(), text.end(), bytes);
      at[0] = text.empty() ? 0 : 1;
    } else if (f.IsBlob()) {
      std::copy_n(in, 4, bytes);
      std::int32_t slot = GetI32(bytes);
      bool present = slot > 0;
      if (slot < 0 && BlobFile()) {
        TBlobBuffer* open = blobFile_->FindOpenBlob(slot);
        present = open && open->Length() > 0;
      }
      at[0] = present ? 1 : 0;
    } else if (TypeOf(f) == TFieldType::Boolean) {
      PutU16(bytes, GetU16(in) != 0 ? 1 : 0);
      at[0] = 1;
    } else {
      std::copy_n(in, f.DataSize, bytes);
      at[0] = 1;
    }
  }
  ComputeFields(record);
}

// ---- Validation ------------------------------------------------------------------------------

void TDataFile::ValidateRecord(const std::uint8_t* record) {
  if (!hasValidityChecks_) return;
  const std::uint32_t lcid = header_.LanguageId != 0 ? LocaleId() : 0;
  std::vector<std::uint8_t> value, bound;
  for (const auto& f : fields_) {
    if (f.Computed) continue;
    value.assign(f.DataSize, 0);
    bool present = GetField(false, f.FieldNumber, record, value.data());
    if (f.Required && !present) RaiseEngineError(err::kValueRequired, FileName(), f.FieldName);
    if (!present) std::fill(value.begin(), value.end(), 0);  // checked as zero
    auto outside = [&](const std::string& text, int sign) {
      if (text.empty()) return false;
      try {
        if (!LiteralValue(f, text, formats_, bound)) return false;
      } catch (const EValueTextError&) {
        RaiseEngineError(err::kInvalidValidityCheck, FileName(), f.FieldName);
      }
      bool checked = false;
      int order = CompareValues(f, value.data(), bound.data(), lcid, checked);
      return checked && order == sign;
    };
    if (outside(f.MinValue, -1)) RaiseEngineError(err::kMinimumExceeded, FileName(), f.FieldName);
    if (outside(f.MaxValue, 1)) RaiseEngineError(err::kMaximumExceeded, FileName(), f.FieldName);
  }
}

// ---- Insert ----------------------------------------------------------------------------------

void TDataFile::InsertRecord(std::uint8_t* buffer) {
  TChangeScope scope(*this);
  const bool primary = HasPrimaryIndex();
  const bool reuse = primary && header_.FreeRecordHead != 0;
  const std::uint32_t target = reuse ? header_.FreeRecordHead : header_.NextRecordNumber;
  if (!reuse && (target > kMaxRecordNumber || std::uint64_t{target} * header_.RecordSize > 2000000000u)) {
    Fail(err::kFileFull);
  }
  if (header_.LastRowId == INT32_MAX) Fail(err::kFileFull);
  scope.LockRecord(target);
  ValidateRecord(buffer);
  const std::int32_t rowId = header_.LastRowId + 1;
  PutI32(buffer + kRowIdOffset, rowId);

  // Every key, and every check, before the first change.
  const TRecordKeys keys = BuildRecordKeys(*indexFile_, primary, buffer);
  if (!NoDuplicateCheck) CheckDuplicates(*indexFile_, keys);
  TBlobPlan blobs = PlanBlobs(buffer, nullptr);
  TRecord* record = FetchRecord(target);
  TPinned pinned(*this, record);
  const TFreeRecord head =
      reuse ? CheckFreeRecord(*record, *indexFile_, header_.NextRecordNumber, FileName()) : TFreeRecord{};

  scope.Changing();
  // The deleted-records index first and the primary index last: each tree is selected once.
  TTableHeader& header = HeaderForUpdate();
  if (reuse) {
    header.FreeRecordHead = head.NextFree;
    SelectTree(*indexFile_, kDeletedIndexSlot);
    TKey oldKey = DeletedRecordKey(true, head.OldRowId), newKey = DeletedRecordKey(false, rowId);
    indexFile_->ReplaceKey(oldKey.data(), newKey.data(), target);
  } else {
    header.NextRecordNumber = target + 1;
    if (primary) {
      SelectTree(*indexFile_, kDeletedIndexSlot);
      indexFile_->InsertKey(DeletedRecordKey(false, rowId), target);
    }
  }
  InsertRecordKeys(*indexFile_, keys, target);
  std::uint8_t* data = record->Data.data();
  std::fill(record->Data.begin(), record->Data.end(), 0);
  std::copy(buffer + kRecordHeaderSize, buffer + RecordBufferSize(), data + kRecordHeaderSize);
  data[0] = 0;
  PutU32(data + 1, target);
  PutI32(data + kRowIdOffset, rowId);
  header.LastRowId = rowId;
  indexFile_->IncrementRecordCount();
  StoreBlobs(blobs, target, buffer, data);
  MarkDirty(record);
  buffer[0] = 0;
  PutU32(buffer + 1, target);
  pinned.Release();

  scope.Complete(false);
  CursorAfterInsert(target);
  scope.Finish();
}

// ---- Update ----------------------------------------------------------------------------------

void TDataFile::UpdateRecord(std::uint8_t* buffer, bool unlockAfter, bool refresh) {
  // Taken before the write lock, whose change check may move the cursor.
  const std::uint32_t number = RecordToChange();
  TChangeScope scope(*this);
  if (number == 0 || number >= header_.NextRecordNumber) Fail(err::kRecordNotFound);
  TRecord* record = FetchRecord(number);
  TPinned pinned(*this, record);
  std::uint8_t* data = record->Data.data();
  if (data[0] != 0) Fail(err::kRecordNotFound);  // deleted by another cursor meanwhile
  ValidateRecord(buffer);
  buffer[0] = 0;
  PutU32(buffer + 1, number);
  std::copy_n(data + kRowIdOffset, 4, buffer + kRowIdOffset);

  const bool primary = HasPrimaryIndex();
  struct TChange {
    int Index;
    TKey Old, New;
  };
  std::vector<TChange> changes;
  for (int i = primary ? 0 : 1; i <= indexFile_->IndexCount(); ++i) {
    TKey oldKey = indexFile_->BuildKey(i, data), newKey = indexFile_->BuildKey(i, buffer);
    if (oldKey != newKey) changes.push_back({i, std::move(oldKey), std::move(newKey)});
  }
  for (const auto& c : changes) {
    SelectTree(*indexFile_, c.Index);
    // A key equal to the old one under the index's order can only meet this record itself.
    bool moves = indexFile_->CompareKeys(c.Old.data(), c.New.data(), indexFile_->KeyLength()) != 0;
    if (!NoDuplicateCheck && moves) indexFile_->CheckDuplicate(c.New.data());
    if (!indexFile_->ContainsKey(c.Old)) {
      RaiseEngineError(err::kKeyNotFound, FileName(), {}, {},
                       c.Index == 0 ? "Primary" : indexFile_->CurrentIndexName());
    }
  }
  TBlobPlan blobs = PlanBlobs(buffer, data);

  scope.Changing();
  // Each chain is walked whole before it is freed: a broken one (err::kInvalidBlobOffset) stops the update here,
  // before anything else changed.
  FreeLeftChains(blobs, number);
  for (const auto& c : changes) {
    SelectTree(*indexFile_, c.Index);
    indexFile_->ReplaceKey(c.Old.data(), c.New.data(), number);
  }
  std::copy(buffer + kRecordHeaderSize, buffer + RecordBufferSize(), data + kRecordHeaderSize);
  StoreBlobs(blobs, number, buffer, data);
  MarkDirty(record);
  pinned.Release();

  scope.Complete(!changes.empty());
  CursorAfterUpdate(number, refresh);
  scope.Finish();
  if (unlockAfter) UnlockRecord(number);
}

// ---- Delete ----------------------------------------------------------------------------------

void TDataFile::DeleteRecord(bool refresh) {
  const std::uint32_t number = RecordToChange();
  TChangeScope scope(*this);
  if (number == 0 || number >= header_.NextRecordNumber) Fail(err::kRecordNotFound);
  scope.LockRecord(number);
  TRecord* record = FetchRecord(number);
  TPinned pinned(*this, record);
  std::uint8_t* data = record->Data.data();
  if (data[0] != 0) Fail(err::kRecordNotFound);
  const std::vector<std::uint8_t> before = record->Data;
  const std::int32_t rowId = GetI32(data + kRowIdOffset);

  const bool primary = HasPrimaryIndex();
  std::vector<std::pair<int, TKey>> keys;
  for (int i = primary ? 0 : 1; i <= indexFile_->IndexCount(); ++i) keys.emplace_back(i, indexFile_->BuildKey(i, data));
  if (primary) keys.emplace_back(kDeletedIndexSlot, DeletedRecordKey(false, rowId));
  for (const auto& [index, key] : keys) {
    SelectTree(*indexFile_, index);
    if (!indexFile_->ContainsKey(key)) {
      RaiseEngineError(err::kKeyNotFound, FileName(), {}, {}, index == 0 ? "Primary" : indexFile_->CurrentIndexName());
    }
  }

  scope.Changing();
  // Walks every chain before freeing any: a broken one refuses the delete (err::kInvalidBlobOffset) untouched.
  FreeRecordBlobs(data);
  for (const auto& [index, key] : keys) {
    SelectTree(*indexFile_, index);
    if (index == kDeletedIndexSlot) {
      TKey deleted = DeletedRecordKey(true, rowId);
      indexFile_->ReplaceKey(key.data(), deleted.data(), number);
    } else {
      indexFile_->DeleteKey(key, number);
    }
  }
  indexFile_->DecrementRecordCount();
  data[0] = 1;
  PutU32(data + 1, header_.FreeRecordHead);
  HeaderForUpdate().FreeRecordHead = number;
  MarkDirty(record);
  pinned.Release();

  scope.Complete(false);
  CursorAfterDelete(number, before.data(), refresh);
  scope.Finish();
}

// ---- BLOB fields of a posted buffer ------------------------------------------------------------

TDataFile::TBlobPlan TDataFile::PlanBlobs(const std::uint8_t* buffer, const std::uint8_t* stored) {
  TBlobPlan plan;
  TBlobFile* blobs = BlobFile();
  if (!blobs) return plan;
  for (const auto& f : fields_) {
    if (!f.IsBlob()) continue;
    const std::int32_t slot = GetI32(buffer + f.Offset + 1);
    const std::uint32_t old = stored ? GetU32(stored + f.Offset + 1) : 0;
    if (slot < 0) {
      TBlobBuffer* open = blobs->FindOpenBlob(slot);
      if (!open) RaiseEngineError(err::kInvalidBlobOffset, FileName(), f.FieldName);
      // The open value carries on the record's chain itself, or leaves it behind.
      if (old != 0 && open->FirstBlock != old) plan.Free.push_back(old);
      continue;
    }
    const auto offset = static_cast<std::uint32_t>(slot);
    if (offset == old) continue;
    if (old != 0) plan.Free.push_back(old);
    if (offset == 0) continue;
    // Another record's chain: this record gets a copy of the value.
    TBlock* first = blobs->GetBlock(offset);
    TBlobBuffer copy;
    copy.Owner = blobs;
    copy.FirstBlock = offset;
    copy.OwnerRecord = first->OwnerRecord;
    copy.FieldNumber = f.FieldNumber;
    copy.SlotOffset = f.Offset;
    blobs->UnpinBlock(first);
    blobs->LoadValue(copy);
    plan.Copies.push_back(std::move(copy));
  }
  return plan;
}

void TDataFile::FreeLeftChains(TBlobPlan& plan, std::uint32_t number) {
  if (BlobFile() && !plan.Free.empty()) blobFile_->FreeChainsLater(plan.Free, number);
  plan.Free.clear();
}

void TDataFile::StoreBlobs(TBlobPlan& plan, std::uint32_t number, const std::uint8_t* buffer, std::uint8_t* stored) {
  TBlobFile* blobs = BlobFile();
  if (!blobs) return;
  for (auto& copy : plan.Copies) {
    copy.FirstBlock = 0;
    copy.OwnerRecord = number;
    copy.Modified = true;
    blobs->StoreValue(copy);
    stored[copy.SlotOffset] = copy.FirstBlock != 0 ? 1 : 0;
    PutU32(stored + copy.SlotOffset + 1, copy.FirstBlock);
  }
  blobs->SetOwner(number, buffer);
  blobs->StoreModified(buffer);
  blobs->PutOffsetsIntoRecord(stored);
}

// ---- Deferred changes ------------------------------------------------------------------------

void TDataFile::SetDeferredChanges(bool value) {
  if (value != deferredChanges_ && Opened()) Fail(err::kFileInUse);
  deferredChanges_ = value;
}

void TDataFile::CommitChanges() {
  if (!Opened() || !locks_.Transaction) return;
  // Readers must not meet half of the changes: they are written under the write lock, which
  // inside the transaction takes no data semaphore and checks no changes.
  AcquireWriteLock();
  try {
    WriteBackAll(true, true);
    if (Exclusive()) {
      Flush();
      indexFile_->Flush();
      if (BlobFile()) blobFile_->Flush();
    }
  } catch (...) {
    ReleaseWriteLock();
    throw;
  }
  ReleaseWriteLock();
  ReleaseTransactionLock();
}

}  // namespace quillon::engine
