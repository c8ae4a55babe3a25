// TDataFile: a table's data file (<name>.DAT) and, at the same time, one open cursor on the
// table. It owns the table's TIndexFile and, when the table has BLOB fields, its TBlobFile.
// The dataset layer and the SQL executor touch tables only through this class.
//
// What this file provides, and what the index, BLOB, navigation and record layers build on:
//  - Open, Close, CreateTable, EmptyTable, DeleteTable with all their checks;
//  - the cached header (Header(), HeaderForUpdate(), WriteHeader) with the change counter;
//  - the physical and logical field descriptors;
//  - the record cache (FetchRecord, NewRecord, UnpinRecord, MarkDirty, WriteBackRecords) with
//    read-ahead and write-back of consecutive runs, scrambling records of encrypted tables;
//  - the five lock states, record locks and change detection (Refresh).
//
// Invariants:
//  1. While open, Header() is the file's header as of the last change check or as this cursor
//     will write it; HeaderChanged() says it has unsaved changes.
//  2. Every cached record buffer is RecordBufferSize() bytes; RecordNumber 0 marks an empty one.
//     A pinned, dirty or marked buffer is never reused.
//  3. No lock state is taken on an Exclusive table or one with the read-only attribute; taking
//     a state already held is a no-op; acquiring the read, statement, write (outside a
//     transaction), transaction or table lock runs the change check.
//  4. Any failure of Open or CreateTable leaves the cursor closed (CreateTable also removes the
//     files it created).
//
// Thread rules: one cursor belongs to one thread at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/blob_file.h"
#include "engine/buffer_cache.h"
#include "engine/cursor_state.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "engine/file_handler.h"
#include "engine/index_file.h"
#include "engine/system_list.h"
#include "engine/table_cursor.h"
#include "engine/table_format.h"

namespace quillon::engine {

class TDataFile;
class TFilterEvaluator;

// A default value text that cannot be read as its field's type (only files this engine did not
// check at creation hold such texts). Not an engine error: it carries the conversion message,
// such as "'maybe' is not a valid boolean value".
class EValueTextError : public std::invalid_argument {
 public:
  explicit EValueTextError(const std::string& message) : std::invalid_argument(message) {}
};

// One cached record.
struct TRecord {
  TDataFile* Owner = nullptr;
  bool Dirty = false;
  std::uint16_t PinCount = 0;  // at most 64
  bool ComputedDone = false;
  std::uint32_t RecordNumber = 0;  // 0 = empty buffer
  std::vector<std::uint8_t> Data;  // RecordSize + ComputedBytes bytes
  bool ReadAheadMark = false;
  // The cache's recency order, newest first (maintained by the owner only).
  TRecord* Newer = nullptr;
  TRecord* Older = nullptr;
};

// Thrown (not an engine error) when a read lock taken at a cache miss finds that another cursor
// changed the table: the operation that needed the record must start over with fresh state.
class ERestartOperation : public std::runtime_error {
 public:
  ERestartOperation() : std::runtime_error("table changed; operation restarts") {}
};

// What CreateTable needs. Fields give FieldNumber (0 = its position), FieldName, FieldType,
// SubType, DeclaredSize, Decimals, Required, MinValue, MaxValue, DefaultValue and, for computed
// fields, Computed and Expression; the engine fills in the rest. Indexes: the primary index
// first (no key fields = none, when AllowEmptyPrimary), then the secondaries.
struct TTableDefinition {
  std::uint16_t LanguageId = 0;
  std::uint16_t SortId = 0;
  std::vector<TFieldDescriptor> Fields;
  std::vector<TIndexDescriptor> Indexes;
  bool AllowEmptyPrimary = false;
  std::string Description;
  std::string Password;
  bool Encrypted = false;
  std::uint32_t BlobBlockSize = kDefaultBlobBlockSize;
  std::int16_t UserValue1 = 0;
  std::int16_t UserValue2 = 0;
};

// The lock states of one cursor. Each flag is taken and released on its own (taking one already
// held does nothing); what they hold in the files:
//
//   Read, StatementRead        a shared slot of the index and BLOB files (one slot for both)
//   Write                      the data semaphore (unless Transaction has it) and the exclusive
//                              semaphore of the index and BLOB files
//   Transaction                the data semaphore, until ReleaseTransactionLock
//   Table                      the table-lock region of the data file
//   record locks (LockedRecords, not a flag)   one byte per record
//
//            AcquireReadLock / AcquireStatementReadLock
//   [none] ------------------------------------------> [shared]  Read and/or StatementRead
//     ^  |   <------------------------------------------  |
//     |  |      release the last of them                  | AcquireWriteLock: gives the shared
//     |  | AcquireWriteLock                               v slot up while it writes
//     |  +-------------------------------------------> [write]  Write
//     +-------------- ReleaseWriteLock ------------------ |  (back to [shared] when Read or
//                                                            StatementRead is still set)
//   [transaction]: Transaction set beside any of these; Write then leaves the data semaphore to
//   it, and the record locks asked to go during it are released when it ends.
//   [table]: Table set beside any of these; record locks are not taken while it is held.
//
// AcquireReadLock does nothing while StatementRead, Write or Transaction is held (they keep the
// files still already). Every acquisition runs the change check, except Write inside a
// transaction; on an Exclusive or read-only table none of them touches the files.
struct TLockState {
  bool Read = false;
  bool StatementRead = false;
  bool Write = false;
  bool Transaction = false;
  bool Table = false;
  bool DataSemaphore = false;
};

class TDataFile : public TFileHandler {
 public:
  // Asked for a table password; answers whether one was added to the session.
  using TPasswordCallback = std::function<bool(TDataFile&)>;

  TDataFile();
  ~TDataFile() override;

  // Removes the extension and appends ".DAT".
  std::string NormalizeName(const std::string& name) const override;
  void Open() override;
  // For the repair: opens the data file alone, Exclusive and read-only, with a header the caller
  // has reconciled with the file (the file's own header is not read again). The BLOB file is
  // opened when it opens and left closed otherwise (BlobFile() is then null); the index file
  // stays closed, so only the record cache, the field reads and the BLOB reads may be used.
  void OpenDataOnly(const TTableHeader& header);
  void Close() override;
  void CreateTable(const TTableDefinition& definition);
  void EmptyTable();   // Exclusive (err::kMustBeExclusive), not ReadOnly (err::kAccessDenied)
  void DeleteTable();  // closed; removes .DAT, .IDX and .BLB
  // A second, independent cursor on the same open table: shared (never Exclusive), with this
  // cursor's ReadOnly, InMemory, lock and change-detection settings, password callback, logical
  // field list, current index, range and filters (added again, active where active here), standing
  // on this cursor's record. The two move independently and see each other's changes through the
  // usual change detection. err::kAccessDenied on an Exclusive cursor, err::kInvalidFileHandle when this one is closed.
  std::unique_ptr<TDataFile> CloneCursor();

  // Settings: the flags only while closed (err::kFileInUse); the lock values at any time.
  void SetStrictChangeDetection(bool value);
  void SetForceBufferFlush(bool value);
  void SetDeleteOnClose(bool value);
  bool StrictChangeDetection() const { return strictChangeDetection_; }
  bool ForceBufferFlush() const { return forceBufferFlush_; }
  bool DeleteOnClose() const { return deleteOnClose_; }
  void SetPasswordCallback(TPasswordCallback callback) { passwordCallback_ = std::move(callback); }
  std::uint8_t LockRetryCount = 15;
  std::uint32_t LockWaitTime = 100;  // milliseconds
  bool NoDuplicateCheck = false;

  // Table shape.
  const TTableHeader& Header() const { return header_; }
  int FieldCount() const { return static_cast<int>(logicalFields_.size()); }
  int PhysicalFieldCount() const { return static_cast<int>(fields_.size()); }
  // 1-based; err::kInvalidField when there is no such field.
  const TFieldDescriptor& GetFieldDescriptor(bool logical, int fieldNumber) const;
  const TFieldDescriptor& GetFieldDescriptorByName(bool logical, const std::string& name) const;
  const std::vector<TFieldDescriptor>& PhysicalFields() const { return fields_; }
  const std::vector<TFieldDescriptor>& LogicalFields() const { return logicalFields_; }
  // Replaces the logical list (SQL result tables with computed fields); drops cached records.
  void SetLogicalFields(std::vector<TFieldDescriptor> fields);
  std::uint32_t RecordBufferSize() const { return header_.RecordSize + computedBytes_; }
  std::uint32_t PhysicalRecordCount() const { return header_.NextRecordNumber - 1; }
  bool HasValidityChecks() const { return hasValidityChecks_; }
  bool HasDefaults() const { return hasDefaults_; }
  bool HasComputed() const { return hasComputed_; }
  std::uint32_t LocaleId() const;
  const TLocaleFormats& Formats() const { return formats_; }

  TIndexFile& IndexFile() { return *indexFile_; }
  TBlobFile* BlobFile() { return blobFile_ && blobFile_->Opened() ? blobFile_.get() : nullptr; }

  // Header.
  TTableHeader& HeaderForUpdate();  // marks the header changed
  bool HeaderChanged() const { return headerChanged_; }
  // Increments ChangeCounter, sets LastUpdate and writes the header; unforced only on changes.
  void WriteHeader(bool force);

  // Record cache. FetchRecord returns record r pinned, reading `count` records in one go in
  // the direction of travel (+1 forward from r, -1 backward ending at r); a record number equal
  // to NextRecordNumber yields a fresh zeroed buffer. May throw ERestartOperation (see above).
  TRecord* FetchRecord(std::uint32_t recordNumber, int direction = 1, std::uint32_t count = 1);
  // FetchRecord for a walk in an index order: a miss also reads the records of the coming index
  // entries (`upcoming`, in walk order) that are not cached, one read each, under the read lock
  // the miss took. They are as fresh as the wanted one, and the walk's next misses need no lock
  // and change check of their own. At most half the cache is filled so.
  TRecord* FetchRecordAndUpcoming(std::uint32_t recordNumber, int direction, std::uint32_t count,
                                  const std::uint32_t* upcoming, std::size_t upcomingCount);
  void UnpinRecord(TRecord* record);
  // The read-ahead of a cursor walking in the records' own order. FetchWalkRecord answers record r
  // pinned from a stream of consecutive records: when the stream does not hold r, the `count`
  // records from r on (at most kWalkReads reads of the read-ahead size) are read into it under
  // the read lock of the miss (ERestartOperation as for FetchRecord). Streamed records take no
  // cache buffer each: the one the cursor stands on is copied into a buffer of its own at each
  // step. The stream is as fresh as the cache, and emptied with it (a change check that found
  // changes, Close) and whenever this cursor changes or writes records, so a record this cursor
  // holds changed in its cache always wins; the callers ask the cache first. Null when the file
  // does not hold r whole (only an Exclusive cursor's file may be short); the caller then reads r
  // through the cache. StreamedRecord answers r only when the stream holds it already.
  static constexpr std::uint32_t kWalkReads = 4;
  TRecord* FetchWalkRecord(std::uint32_t recordNumber, std::uint32_t count);
  TRecord* StreamedRecord(std::uint32_t recordNumber);
  // How far a fill at record r may reach: a walk that starts (or comes back after a change check)
  // reads as a single read-ahead would, one read within one leaf; each fill that carries on where
  // the last one ended may reach twice as far, up to kWalkReads reads and half the page cache in
  // leaves. So a cursor that only looks at a few records reads no more than before, and one that
  // keeps walking takes the read lock ever more rarely.
  struct TWalkReach {
    std::uint32_t Records;
    int Leaves;
  };
  TWalkReach WalkReach(std::uint32_t recordNumber) const;
  // Visits the records set in `which` in record-number order, read from the file in blocks of
  // the read-ahead size rather than one by one through the record cache, which a scan of a
  // large table would only churn. What the visitor sees is what FetchRecord would give: a change
  // this cursor still holds in its cache wins over the file, computed fields are filled in. The
  // bytes (RecordBufferSize()) are valid during the call only; the visitor answers false to stop
  // and must not change this table. Takes the read lock as a cache miss does (ERestartOperation).
  using TRecordVisitor = std::function<bool(const std::uint8_t* record, std::uint32_t recordNumber)>;
  void ScanRecords(const TRecordBitmap& which, const TRecordVisitor& visit);
  void MarkDirty(TRecord* record) {
    ForgetWalk();
    record->Dirty = true;
  }
  // Writes dirty unpinned buffers in runs of consecutive records, one write per run.
  void WriteBackRecords();
  // After the records are written back: frees the BLOB chains that changes gave up and that
  // their records no longer name (TBlobFile::FreeChainsLater), and writes the BLOB file again.
  void ReleaseReplacedChains();
  void DropRecordCache();  // marks every cached record empty
  // Whether record r is in the record cache (a record of an Exclusive cursor may be there before
  // the file holds it).
  bool IsRecordCached(std::uint32_t recordNumber) const { return recordCache_.Holds(recordNumber); }
  std::uint32_t ReadAheadCount() const { return readAheadCount_; }
  int RecordCacheCapacity() const { return recordCache_.Capacity(); }
  std::int64_t RecordOffset(std::uint32_t recordNumber) const;
  TRecord* CurrentRecord = nullptr;

  // Lock states. The Acquire calls answer whether the change check found changes.
  bool AcquireReadLock();
  void ReleaseReadLock();
  bool AcquireStatementReadLock();
  void ReleaseStatementReadLock();
  bool AcquireWriteLock();
  void ReleaseWriteLock();
  bool AcquireTransactionLock();
  void ReleaseTransactionLock();
  void LockTable();                               // err::kFileLocked
  void UnlockTable();                             // err::kCannotUnlock
  void LockRecord(std::uint32_t recordNumber);    // 0 = the current record; err::kRecordLocked
  void UnlockRecord(std::uint32_t recordNumber);  // err::kCannotUnlock
  void UnlockAllRecords();
  const TLockState& LockState() const { return locks_; }
  const std::vector<std::uint32_t>& LockedRecords() const { return lockedRecords_; }
  // The change check now; true when another cursor changed the table.
  bool Refresh();

  // ---- Cursor: order, positions, ranges, filters (data_file_cursor.cpp) ----
  // Results of Next, Prior and GetCurrent besides 0.
  static constexpr int kAtBeginning = err::kBeginningOfFile;
  static constexpr int kAtEnd = err::kEndOfFile;
  // Selects the cursor's order: 0 primary, 1..30 secondary, 255 physical order; err::kInvalidIndexName for an
  // unknown index. The tree selection of IndexFile() is the cursor's again afterwards.
  void SelectIndex(int number) { cursor_.SelectIndex(number); }
  void SelectIndex(const std::string& name) { cursor_.SelectIndex(name); }
  int CursorIndex() const { return cursor_.Index(); }
  void First() { cursor_.First(); }
  void Last() { cursor_.Last(); }
  // Copy the record into `buffer` (RecordBufferSize() bytes) and answer 0, or initialise it and
  // answer kAtBeginning / kAtEnd.
  int Next(std::uint8_t* buffer) { return cursor_.Next(buffer); }
  // Visits every record the cursor's physical order shows (its filters and range applied), the
  // whole walk under one read lock, without moving the cursor; see ScanRecords. In an index order
  // the records come in that order through the cursor, which then stands at the end.
  void ScanVisible(const TRecordVisitor& visit) { cursor_.ScanVisible(visit); }
  int Prior(std::uint8_t* buffer) { return cursor_.Prior(buffer); }
  int GetCurrent(std::uint8_t* buffer, bool lock) { return cursor_.GetCurrent(buffer, lock); }
  bool AtBOF() const { return cursor_.AtBOF(); }
  bool AtEOF() const { return cursor_.AtEOF(); }
  std::uint32_t RecNo() { return cursor_.RecNo(); }
  void SetRecNo(std::int64_t n) { cursor_.SetRecNo(n); }
  std::uint32_t RecordCount() { return cursor_.RecordCount(); }
  int KeySize() const { return cursor_.KeySize(); }
  std::vector<std::uint8_t> GetBookmark() { return cursor_.GetBookmark(); }
  void GotoBookmark(const std::uint8_t* bookmark) { cursor_.GotoBookmark(bookmark); }
  int CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const { return cursor_.CompareBookmarks(a, b); }
  // `keyOrRecord` is a key of the current index when isKey, else a record buffer. `partial` < 0
  // means no partial length. The current record is copied into `result` (may be null).
  bool FindKey(const std::uint8_t* keyOrRecord, bool isKey, bool nearest, int fields, int partial,
               std::uint8_t* result) {
    return cursor_.FindKey(keyOrRecord, isKey, nearest, fields, partial, result);
  }
  bool FindPrefix(const std::uint8_t* record, std::uint8_t* result) { return cursor_.FindPrefix(record, result); }
  int GotoCurrentOf(TDataFile& other) { return cursor_.GotoCurrentOf(other.cursor_); }  // 0 or err::kRecordNotFound
  void SetRange(const std::uint8_t* start, bool startIsKey, int startFields, const std::uint8_t* end, bool endIsKey,
                int endFields) {
    cursor_.SetRange(start, startIsKey, startFields, end, endIsKey, endFields);
  }
  void CancelRange() { cursor_.CancelRange(); }
  bool RangeActive() const { return cursor_.RangeActive(); }
  // Filters. A handle is never 0; 0 passed to RemoveFilter means every filter. The evaluator is
  // the seam of filter expressions (record_filter.h).
  using TFilterCallback = std::function<bool(const std::uint8_t* record, std::uint32_t recordNumber)>;
  std::uint32_t AddFilter(std::shared_ptr<TFilterEvaluator> expression, TFilterCallback callback, bool afterEarlier) {
    return cursor_.AddFilter(std::move(expression), std::move(callback), afterEarlier);
  }
  int ActivateFilter(std::uint32_t handle) { return cursor_.ActivateFilter(handle); }
  int DeactivateFilter(std::uint32_t handle) { return cursor_.DeactivateFilter(handle); }
  int RemoveFilter(std::uint32_t handle) { return cursor_.RemoveFilter(handle); }
  int ChangeFilterExpression(std::uint32_t handle, std::shared_ptr<TFilterEvaluator> expression) {
    return cursor_.ChangeFilterExpression(handle, std::move(expression));
  }
  bool BitmapMode() const { return cursor_.BitmapMode(); }
  // What the record operations tell the cursor, under the write lock, once the files hold the
  // change: bitmaps and range bounds follow (always after an insert, else when `refresh`), and
  // the cursor stands on the changed record again (after a delete, on the one that followed it;
  // `deletedRecord` is the record as it was, so its key in the cursor's order can be built).
  void CursorAfterInsert(std::uint32_t recordNumber) { cursor_.AfterInsert(recordNumber); }
  void CursorAfterUpdate(std::uint32_t recordNumber, bool refresh) { cursor_.AfterUpdate(recordNumber, refresh); }
  void CursorAfterDelete(std::uint32_t recordNumber, const std::uint8_t* deletedRecord, bool refresh) {
    cursor_.AfterDelete(recordNumber, deletedRecord, refresh);
  }

  // ---- Record operations (data_file_record.cpp) ----
  void InitRecord(std::uint8_t* buffer);
  // Copies DataSize bytes (zero-filled first) into `value`; answers whether the field has one.
  bool GetField(bool logical, int fieldNumber, const std::uint8_t* record, void* value);
  // `value` null: no value.
  void SetField(bool logical, int fieldNumber, const void* value, std::uint8_t* record);
  // Each change runs under the write lock and is refused whole before anything changes: err::kAccessDenied
  // read-only, kValueRequired/kMinimumExceeded/kMaximumExceeded, kDuplicateKey, kFileFull, kRecordLocked a record
  // locked elsewhere, err::kInvalidBlobOffset a broken BLOB chain. The buffer gets the new record's number and row
  // identifier; the cursor ends on the new record.
  void InsertRecord(std::uint8_t* buffer);
  // Update and delete act on the record the cursor stands on: err::kRecordNotFound when it stands on nothing or
  // the record was deleted meanwhile; err::kKeyNotFound when one of its keys is missing from an index.
  void UpdateRecord(std::uint8_t* buffer, bool unlockAfter, bool refresh);
  void DeleteRecord(bool refresh);
  // Deferred changes (set while closed, err::kFileInUse): the first change takes the transaction lock and
  // changes stay in the caches until CommitChanges writes them back or Close discards them.
  void SetDeferredChanges(bool value);
  // Crash safety of an Exclusive writer. Checkpoint writes everything cached back in the order
  // that keeps the files readable at every moment a process may die: BLOB blocks, then records
  // (appended ones lie past the header's record count until it is written), then index pages and
  // the index header, and the data file header last. With HoldPagesUntilCheckpoint set, changed
  // index pages are never written between checkpoints (the page caches grow instead), so a kill
  // at any moment outside a checkpoint leaves the trees as the last checkpoint wrote them.
  void Checkpoint();
  void SetHoldPagesUntilCheckpoint(bool value) { holdPages_ = value; }
  bool HoldsPagesUntilCheckpoint() const { return holdPages_ && Exclusive() && !ReadOnly(); }
  bool DeferredChanges() const { return deferredChanges_; }
  void CommitChanges();
  // Computed fields get their values from expressions the SQL layer compiles; the layer that
  // gives the logical field list sets this callback, which fills the computed part of a record
  // buffer. ComputeFields runs it (nothing without computed fields or without a callback);
  // SetField runs it after every write of a stored field.
  using TComputeFields = std::function<void(TDataFile&, std::uint8_t* record)>;
  void SetComputeFields(TComputeFields compute) { computeFields_ = std::move(compute); }
  void ComputeFields(std::uint8_t* record);

  // ---- Keys (data_file_index.cpp) ----
  // The key of the current index for a record buffer; empty in physical order.
  TKey BuildKey(const std::uint8_t* record) const;

  // ---- BLOB values of record buffers (data_file_blob.cpp) ----
  // A BLOB field's slot holds its first block's offset, or the negative handle of a value open
  // in this cursor. These raise nothing themselves and answer 0 or an engine code: err::kInvalidBlobField not a
  // BLOB field, err::kInvalidBlobHandle no value open there, err::kInvalidBlobOffset a negative slot that is no value
  // of this cursor, err::kTooManyBlobs already 64 values open, err::kEndOfBlob fewer bytes than asked for. A damaged
  // chain met while opening raises (err::kBlobBuffersCorrupt, kEndOfBlob, kInvalidBlobOffset off the block grid).
  // Mode: 1 read, 2 read-write.
  int OpenBlob(bool logical, int fieldNumber, int mode, std::uint8_t* record);
  int CloseBlob(bool logical, int fieldNumber, std::uint8_t* record);
  int ReadBlob(bool logical, int fieldNumber, std::uint32_t offset, std::uint32_t count, void* destination,
               const std::uint8_t* record, std::uint32_t& bytesRead);
  int WriteBlob(bool logical, int fieldNumber, std::uint32_t offset, std::uint32_t count, const void* source,
                std::uint8_t* record);
  int TruncateBlob(bool logical, int fieldNumber, std::uint32_t newLength, std::uint8_t* record);
  int GetBlobSize(bool logical, int fieldNumber, const std::uint8_t* record, std::uint32_t& length);
  bool BlobIsOpen(bool logical, int fieldNumber, const std::uint8_t* record);
  void CloseAllBlobs();  // without writing
  // For DeleteRecord: frees the chain of every BLOB field of a stored record (the number in its
  // record header is the owner) and clears the fields; err::kInvalidBlobOffset when any chain is broken, and then
  // every chain and field is left as it was.
  void FreeRecordBlobs(std::uint8_t* record);
  // After a key search that read the current record under the read lock: the blocks of its BLOB
  // values are read too, under that lock, so that opening a value (a lyric after its lookup)
  // finds them cached instead of taking the lock and running the change check once more. Does
  // nothing when no read lock is held (the record came from the cache, or a statement lock
  // covers the reads anyway).
  void ReadBlobsAhead();

 protected:
  std::string ErrorFileName() const override { return FileName(); }

 private:
  bool LocksAreNoOps() const { return Exclusive() || ReadOnlyAttribute(); }
  void ReadHeader(bool initial);
  void TakeHeader();
  void ReadDescriptors();
  void DeriveFieldFlags();
  bool CheckForChanges();
  void AcquireSharedSemaphores();
  void ReleaseSharedSemaphores();
  void AcquireDataSemaphore();
  void ReleaseDataSemaphore();
  TRecord* TakeBuffer();
  TRecord* FindCached(std::uint32_t recordNumber) { return recordCache_.Find(recordNumber); }
  void SetCachedNumber(TRecord* record, std::uint32_t recordNumber) { recordCache_.SetKey(record, recordNumber); }
  void ClearRecordCache();
  void Pin(TRecord* record);
  void LoadRecords(std::uint32_t first, std::uint32_t count, std::uint32_t wanted);
  void ForgetWalk() {
    walkCount_ = 0;
    walkReads_ = 0;
    walkRecord_.RecordNumber = 0;
  }
  bool WalkHolds(std::uint32_t recordNumber) const {
    return recordNumber >= walkFirst_ && recordNumber - walkFirst_ < walkCount_;
  }
  TRecord* ServeFromWalk(std::uint32_t recordNumber);
  void CloseFiles();
  void WriteBackInSafeOrder();

  TTableHeader header_;
  bool headerChanged_ = false;
  std::vector<TFieldDescriptor> fields_;
  std::vector<TFieldDescriptor> logicalFields_;
  std::uint16_t computedBytes_ = 0;
  bool hasValidityChecks_ = false, hasDefaults_ = false, hasComputed_ = false;
  TLocaleFormats formats_;
  std::unique_ptr<TIndexFile> indexFile_;
  std::unique_ptr<TBlobFile> blobFile_;
  TBufferCache<TRecord, &TRecord::RecordNumber> recordCache_;
  std::vector<std::uint8_t> scanBlock_, scanRecord_;  // ScanRecords' buffers, kept between scans
  std::vector<std::uint8_t> writeRun_;                // WriteBackRecords' buffer
  std::vector<std::uint8_t> loadBlock_;               // LoadRecords' buffers
  std::vector<TRecord*> loadFilled_;
  std::vector<std::uint8_t> walkBlock_;  // records walkFirst_ .. walkFirst_ + walkCount_ - 1 as read
  std::uint32_t walkFirst_ = 0, walkCount_ = 0;
  std::uint32_t walkReads_ = 0;  // the reach of the last fill in reads of the read-ahead size; 0 = none
  TRecord walkRecord_;           // the streamed record the cursor stands on; never in the cache
  std::uint32_t readAheadCount_ = 0;
  TLockState locks_;
  std::vector<std::uint32_t> lockedRecords_;
  bool strictChangeDetection_ = false, forceBufferFlush_ = false, deleteOnClose_ = false;
  TPasswordCallback passwordCallback_;
  bool deferredChanges_ = false;
  bool holdPages_ = false;

  // ---- The cursor (table_cursor.h) ----
  // The cursor keeps its state to itself; the file layer only tells it what happened: Open
  // positions it (lazily), Close drops filters and bitmaps, a change check that found changes
  // marks its state for re-evaluation. Beyond this class's public part the cursor uses only
  // FindCached (a hit counts as a use of the record), LocksAreNoOps, Fail and, for the live
  // records of a table without primary index, the record cache's buffers.
  friend class TTableCursor;
  void CursorOpened() { cursor_.TableOpened(); }
  void CursorClosed() { cursor_.TableClosed(); }
  void CursorFilesChanged() { cursor_.FilesChanged(); }
  TTableCursor cursor_{*this};

  // ---- Record operation helpers (data_file_record.cpp) ----
  class TChangeScope;
  friend class TChangeScope;
  bool HasPrimaryIndex() const;
  // The record an update or delete changes: the one the cursor stands on (its number survives a
  // change check that empties the cached buffers); 0 when it stands on nothing.
  std::uint32_t RecordToChange() const;
  void ValidateRecord(const std::uint8_t* record);
  // What a posted buffer's BLOB slots need beyond its open values: chains the record leaves
  // behind, and copies of other records' values (read before the change, stored after it).
  struct TBlobPlan {
    std::vector<std::uint32_t> Free;
    std::vector<TBlobBuffer> Copies;
  };
  TBlobPlan PlanBlobs(const std::uint8_t* buffer, const std::uint8_t* stored);
  void FreeLeftChains(TBlobPlan& plan, std::uint32_t number);
  void StoreBlobs(TBlobPlan& plan, std::uint32_t number, const std::uint8_t* buffer, std::uint8_t* stored);
  void WriteBackAll(bool forceDataHeader, bool forceIndexHeader);
  // Forgets every cached change and re-reads the three headers.
  void DiscardCachedChanges();
  TComputeFields computeFields_;
};

}  // namespace quillon::engine
