// The table component: one table of the table store presented as a dataset (data_set.h).
//
//  TQuarryDataSet      the cursor (one TDataFile), record buffers, navigation, field data,
//                      filters, Locate/Lookup and key buffers
//  TQuarryDBDataSet    adds DatabaseName and SessionName and the database it holds while open
//  TQuarryTable        one table file: TableName, indexes, ranges, master/detail, open flags
//  TQuarryBlobStream   reads and writes one BLOB field of the current record
//  TQuarryMasterDataLink  follows the master dataset of a detail table
//
// Record buffer layout (RecordBufferSize() bytes):
//   [0, R)           the engine record (R = the cursor's RecordBufferSize)
//   [R, R + C)       calculated fields: per field one null byte and its value
//   [R + C, +4)      the record number when the record was fetched (-1 for a new record)
//   [R + C + 4]      bookmark flag: 0 a fetched record, 1 a record being inserted
//   [R + C + 5, +K)  the engine bookmark (K = the cursor's KeySize)
//
// Key buffers: six, each an 8-byte header (byte 0 modified, bytes 4..7 the number of key fields
// assigned) followed by an engine record: lookup key, range start, range end, current range
// start, current range end, saved key.
//
// Every engine failure leaves this layer as EQuarryEngineError; the layer's own failures are
// EDatabaseError with fixed texts. Ownership: a dataset owns its cursor, its locate clone, its
// buffers and fields. Thread rules: the user-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataset/data_set.h"
#include "dataset/session.h"
#include "engine/data_file.h"

namespace quillon::dataset {

struct TFilterSettings {
  bool CaseInsensitive = false;   // foCaseInsensitive
  bool NoPartialCompare = false;  // foNoPartialCompare
  bool operator==(const TFilterSettings&) const = default;
};

struct TSearchOptions {
  bool CaseInsensitive = false;
  bool PartialKey = false;
};

using TRecordMark = std::vector<std::uint8_t>;

// Where exceptions of event handlers go that must not stop the operation (a filter callback, the
// end of a BLOB write stream): the application's error display, installed by the program.
void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler);
void HandleApplicationException(const std::exception& error);

// The canned filter buffer of a Filter text under FilterOptions, compiled against the fields of
// an open cursor; what an open table installs as its filter (EDatabaseError with the parser's or
// builder's message when the text is wrong). The shell's filtered dump uses it too, so both
// select the same records.
std::vector<std::uint8_t> CompileFilterText(engine::TDataFile& table, const std::string& text,
                                            const TFilterSettings& options);

class TQuarryDataSet : public TDataSet {
 public:
  TQuarryDataSet();
  ~TQuarryDataSet() override;

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(const std::string&) {}
  engine::TDataFile* Handle() const { return handle_.get(); }

  // ---- Cursor ----
  int RecordCount() override;
  int RecNo() const override;
  void SetRecNo(int value) override;
  bool IsSequenced() const override { return !filtered_; }
  bool CanModify() const override;
  TRecordMark GetBookmark();
  void GotoBookmark(const TRecordMark& bookmark);
  // Both empty = equal; an empty one after a non-empty one; else the engine's order.
  int CompareBookmarks(const TRecordMark& a, const TRecordMark& b);
  bool BookmarkValid(const TRecordMark& bookmark);

  // ---- Filters ----
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& text);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value);
  const TFilterSettings& FilterOptions() const { return filterOptions_; }
  void SetFilterOptions(const TFilterSettings& options);
  void SetOnFilterRecord(TFilterRecordEvent handler);
  const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
  bool FindFirst();
  bool FindNext();
  bool FindPrior();
  bool FindLast();

  // ---- Locate and Lookup ----
  bool Locate(const std::string& keyFields, const std::vector<TFieldValue>& keyValues, TSearchOptions options = {});
  bool Locate(const std::string& keyFields, const TFieldValue& keyValue, TSearchOptions options = {}) {
    return Locate(keyFields, std::vector<TFieldValue>{keyValue}, options);
  }
  // The values of resultFields of the record found, Null each when none; the cursor stays.
  std::vector<TFieldValue> Lookup(const std::string& keyFields, const std::vector<TFieldValue>& keyValues,
                                  const std::string& resultFields);
  // Whether the last Locate or Lookup used a second cursor (for tests of the search path).
  bool LocateCloneExists() const { return locateClone_ != nullptr; }

  // ---- Field data ----
  bool GetFieldData(const TRecordField& field, void* data) override;
  void SetFieldData(TRecordField& field, const void* data) override;
  std::unique_ptr<TBlobValueStream> OpenBlobStream(TRecordField& field, TBlobAccessMode mode) override;
  std::uint8_t* StateBuffer() override;

  // ---- Key buffers ----
  enum TKeyIndex { kiLookup, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave, kKeyBufferCount };
  void SetKey();   // set-key state on an emptied lookup key
  void EditKey();  // set-key state on the lookup key as it is
  bool GotoKey();
  void GotoNearest();
  bool FindKey(const std::vector<TFieldValue>& values);
  void FindNearest(const std::vector<TFieldValue>& values);
  int KeyFieldCount = 0;  // fields used by the next key search (0 = as assigned)
  bool KeyExclusive = false;

 protected:
  friend class TQuarryBlobStream;
  // Opening steps that differ by kind: the cursor made and opened (table: steps 1 to 5).
  virtual std::unique_ptr<engine::TDataFile> CreateHandle() = 0;
  virtual void DestroyHandle();
  // The index selected at open.
  virtual void SelectInitialIndex() {}
  // Fields of the cursor that the dataset does not show (a query result's bookkeeping fields).
  virtual bool HiddenField(const engine::TFieldDescriptor& /*field*/) const { return false; }

  void InternalOpen() override;
  void InternalClose() override;
  void InternalFirst() override;
  void InternalLast() override;
  TFetchResult GetRecord(std::uint8_t* buffer, TFetchStep mode) override;
  void InternalSetToRecord(const std::uint8_t* buffer) override;
  void InternalInitRecord(std::uint8_t* buffer) override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalCancelKey() override { keyBuffers_[activeKey_] = keyBuffers_[kiSave]; }
  void InternalDelete() override;
  void InternalRefresh() override;
  std::size_t RecordBufferSize() const override { return bufferSize_; }
  void ClearCalcFields(std::uint8_t* buffer) override;

  void BuildFieldDefs();
  void BuildIndexDefs();
  void ComputeLayout();
  void InstallFilters();
  void InstallCallbackFilter();
  void ReplaceFilter(const std::string& text, const TFilterSettings& options);
  void DropLocateClone();
  // Index of the current order: its key field numbers.
  std::vector<int> CurrentKeyFields() const;
  // Lookup of an index for a field list (numbers), as Locate uses it; -1 when none.
  int IndexForFields(const std::vector<int>& fields, bool caseInsensitive) const;
  std::uint8_t* KeyBuffer(TKeyIndex index) { return keyBuffers_[index].data() + 8; }
  bool& KeyModified(TKeyIndex index) { return reinterpret_cast<bool&>(keyBuffers_[index][0]); }
  std::int32_t KeyFieldsAssigned(TKeyIndex index) const;
  void SetKeyFieldsAssigned(TKeyIndex index, std::int32_t count);
  void SetKeyBufferState(TKeyIndex index, bool clear);
  void PostKeyBuffer();
  void ApplyRangeBuffers();
  void CancelRangeBuffers();

  std::unique_ptr<engine::TDataFile> handle_;
  std::size_t recordSize_ = 0, bufferSize_ = 0, bookmarkOffset_ = 0, calcOffset_ = 0;
  int keySize_ = 0;
  std::vector<std::vector<std::uint8_t>> keyBuffers_;
  TKeyIndex activeKey_ = kiLookup;
  std::vector<std::uint8_t> oldValueBuffer_;

 private:
  bool LocateRecord(const std::vector<TRecordField*>& fields, const std::vector<TFieldValue>& values,
                    TSearchOptions options, bool moveCursor, std::vector<std::uint8_t>& result);
  // LocateRecord's steps: the key buffer, the cursor of an index serving the fields (null when
  // none does), and the search through that cursor or, without one, through a filter.
  void FillSearchKey(const std::vector<TRecordField*>& fields, const std::vector<TFieldValue>& values,
                     std::uint8_t* key);
  engine::TDataFile* SearchCursor(const std::vector<int>& numbers, bool caseInsensitive);
  bool FindThroughIndex(engine::TDataFile& cursor, const std::uint8_t* key, int keyFields, int partialLength,
                        bool moveCursor, std::vector<std::uint8_t>& result);
  bool FindThroughFilter(const std::vector<TRecordField*>& fields, std::uint8_t* key, bool caseInsensitive,
                         bool partial, std::vector<std::uint8_t>& result);
  TFieldValue SearchKeyValue(TRecordField& f, std::uint8_t* key);
  bool FindRecord(bool restart, bool forward);

  std::string filter_;
  bool filtered_ = false;
  TFilterSettings filterOptions_;
  TFilterRecordEvent onFilterRecord_;
  std::uint32_t exprFilter_ = 0, callbackFilter_ = 0;
  std::unique_ptr<engine::TDataFile> locateClone_;
  std::vector<int> cloneFields_;
  bool cloneCase_ = false;
};

class TQuarryDBDataSet : public TQuarryDataSet, public TQuarryDatasetLink {
 public:
  explicit TQuarryDBDataSet(const void* owner = nullptr);
  ~TQuarryDBDataSet() override;

  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& name) override;
  TQuarryDatabase* Database() const { return database_; }
  TQuarrySession& Session() const;

  const void* Owner() const override { return owner_; }
  void CloseForDatabase() override { Close(); }

 protected:
  // Attaches to the database (the directory of the tables) and gives it back.
  std::string OpenDatabase();
  void CloseDatabase();
  void DestroyHandle() override;
  // TableName, DatabaseName or SessionName changed: index definitions are read again on next use.
  virtual void StructureChanged() {}

 private:
  const void* owner_;
  std::string databaseName_, sessionName_;
  TQuarryDatabase* database_ = nullptr;
};

class TQuarryMasterDataLink;

enum class TDataLossCause { FieldDeleted, FieldTypeChanged, FieldSizeReduced, ValidityChecksChanged, IndexDeleted };

// Field definitions a table would be restructured to; empty unless a caller fills it.
struct TRestructureFieldDefs {
  std::vector<TFieldSpec> Items;
};

class TQuarryTable : public TQuarryDBDataSet {
 public:
  explicit TQuarryTable(const void* owner = nullptr);
  ~TQuarryTable() override;

  const std::string& TableName() const { return tableName_; }
  void SetTableName(const std::string& name);
  // The path the table opens (DatabaseName's directory and TableName), after the rules of Open.
  std::string TablePath();

  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(const std::string& name);
  const std::string& IndexFieldNames() const { return indexFieldNames_; }
  void SetIndexFieldNames(const std::string& names);
  // Index definitions, read from a closed table with a temporary cursor.
  std::vector<TIndexSpec>& GetIndexDefs();
  std::vector<TFieldSpec>& GetFieldDefs();

  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool value);
  bool StrictChangeDetection() const { return strict_; }
  void SetStrictChangeDetection(bool value);
  bool ForceBufferFlush() const { return forceFlush_; }
  void SetForceBufferFlush(bool value);
  std::uint8_t LockRetryCount() const { return lockRetryCount_; }
  void SetLockRetryCount(std::uint8_t value);
  std::uint16_t LockWaitTime() const { return lockWaitTime_; }
  void SetLockWaitTime(std::uint16_t value);

  // ---- Ranges ----
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void CancelRange();
  void SetRange(const std::vector<TFieldValue>& startValues, const std::vector<TFieldValue>& endValues);

  // ---- Master/detail ----
  TDataFeed* MasterSource() const;
  void SetMasterSource(TDataFeed* source);
  const std::string& MasterFields() const { return masterFields_; }
  void SetMasterFields(const std::string& fields);

  // Maintenance (create, repair, restructure) is not an operation of this program: the handlers
  // and the restructure list are held for the window definitions, never used.
  std::function<void(TQuarryTable&, int currentRecord, std::uint16_t percentDone)> OnRepairProgress, OnIndexProgress,
      OnRestructureProgress;
  std::function<void(TQuarryTable&, TDataLossCause cause, const std::string& contextInfo, bool& continueRestructure,
                     bool& stopAsking)>
      OnDataLost;
  std::function<void(TQuarryTable&, const std::string& logMessage)> OnRepairLog;
  TRestructureFieldDefs RestructureFieldDefs;

 protected:
  std::unique_ptr<engine::TDataFile> CreateHandle() override;
  void SelectInitialIndex() override;
  void StructureChanged() override { indexDefsRead_ = false; }
  void InternalInitRecord(std::uint8_t* buffer) override;

 private:
  friend class TQuarryMasterDataLink;
  void CheckClosed() const;
  std::unique_ptr<engine::TDataFile> OpenTemporaryHandle();
  std::string IndexNameForFields(const std::string& fields);
  void SwitchIndex(const std::string& name, bool byFields);
  void MasterChanged();

  std::string tableName_, indexName_, indexFieldNames_, masterFields_;
  bool exclusive_ = false, readOnly_ = false, inMemory_ = false, strict_ = false, forceFlush_ = false;
  std::uint8_t lockRetryCount_ = 15;
  std::uint16_t lockWaitTime_ = 100;
  bool indexDefsRead_ = false;
  std::unique_ptr<TQuarryMasterDataLink> masterLink_;
};

// Follows the master dataset of a detail table: each change of the master record re-applies the
// range of the detail on the master's field values.
class TQuarryMasterDataLink : public TFeedLink {
 public:
  explicit TQuarryMasterDataLink(TQuarryTable& detail) : detail_(detail) {}
  std::vector<TRecordField*> MasterFieldList() const;

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override { RecordChanged(nullptr); }
  void DataSetScrolled(int) override { RecordChanged(nullptr); }
  void RecordChanged(TRecordField* field) override;

 private:
  TQuarryTable& detail_;
  std::vector<std::uint8_t> lastKey_;
};

class TQuarryBlobStream : public TBlobValueStream {
 public:
  TQuarryBlobStream(TQuarryDataSet& dataSet, TRecordField& field, TBlobAccessMode mode);
  ~TQuarryBlobStream() override;
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekFrom origin) override;

 private:
  TQuarryDataSet& dataSet_;
  TRecordField& field_;
  std::uint8_t* buffer_;
  bool opened_ = false;
  bool modified_ = false;
  std::uint32_t position_ = 0;
};

}  // namespace quillon::dataset
