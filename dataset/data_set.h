// The dataset framework: a navigable set of records seen through typed field objects, with a
// small state machine (browse, edit, insert and the internal states in which fields read other
// buffers), a ring of record buffers that data-aware controls read rows from, the Before/After
// events, and data sources with data links that tell bound controls what changed.
//
// TDataSet knows nothing of the table store: a concrete dataset (TQuarryDataSet) supplies the
// cursor through the protected hooks below. It serves this program, not every use of a dataset.
//
// Invariants:
//  1. While open, the ring holds BufferedRecords() consecutive records of the cursor's order in
//     buffers 0..BufferedRecords()-1 and ActiveRecord() is one of them (0 when the set is empty).
//     It never holds more than BufferCount() records; BufferCount() is the largest wish of the
//     data links (at least 1), so a grid showing 20 rows makes the set read 20 records, not more.
//  2. The state is Inactive exactly when the set is closed. Edit and Insert hold the active buffer
//     as the record being changed; any navigation first posts it (CheckBrowseMode).
//  3. Field reads go to the buffer of the current state (ActiveBuffer() in browse/edit/insert; the
//     key, filter, calculation or old-value buffer otherwise), so one field object serves them all.
//  4. Before/After events fire around the operation they name; an exception from a Before event
//     cancels the operation.
//
// Ownership: the set owns its fields, definitions and buffers; data sources and links are borrowed
// and unregister themselves when destroyed. Thread rules: one thread (the user-interface thread).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "dataset/engine_error.h"
#include "dataset/field.h"

namespace quillon::dataset {

class TDataSet;
class TDataFeed;

enum class TDataSetMode {
  Inactive,
  Browse,
  Edit,
  Insert,
  SetKey,
  CalcFields,
  Filter,
  NewValue,
  OldValue,
  InternalCalc
};

// What a data link is told.
enum class TDataChange { FieldChange, RecordChange, DataSetChange, DataSetScroll, LayoutChange, UpdateState };

// What an error handler (OnPostError, ...) wants done with the failure.
enum class TErrorReply { Fail, Abort, Retry };

// Results of the cursor hook that fetches one record.
enum class TFetchResult { Ok, AtBeginning, AtEnd, Error };
enum class TFetchStep { Current, Next, Prior };

struct TFieldSpec {
  std::string Name;
  TValueKind Kind = TValueKind::String;
  int Size = 0;       // characters or bytes; decimals for BCD
  int Precision = 0;  // BCD
  int FieldNo = 0;    // 1-based number of the stored field
  bool Required = false;
  bool InternalCalc = false;  // always false here: every definition is a stored field
};

struct TIndexSpec {
  std::string Name;
  std::string Fields;  // key fields joined by ";"
  bool Primary = false, Unique = false, Descending = false, CaseInsensitive = false;
  bool Expression = false;
};

// Observer of one dataset through a data source. A control derives from this and says how many
// records it wants to show at once (BufferCount); it then reads rows 0..RecordCount()-1 through
// SetActiveRecord.
class TFeedLink {
 public:
  TFeedLink() = default;
  virtual ~TFeedLink();
  TFeedLink(const TFeedLink&) = delete;
  TFeedLink& operator=(const TFeedLink&) = delete;

  void SetDataSource(TDataFeed* source);
  TDataFeed* DataSource() const { return source_; }
  TDataSet* DataSet() const;
  bool Active() const;
  // Rows the link wants in the ring.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  // Ring positions as the link sees them.
  int ActiveRecord() const;
  void SetActiveRecord(int index);  // for reading row `index`; restore it afterwards
  int RecordCount() const;
  bool ReadOnly = false;

 protected:
  friend class TDataFeed;
  friend class TDataSet;
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void RecordChanged(TRecordField* /*field*/) {}
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  void DataEvent(TDataChange event, TRecordField* field, int distance);

 private:
  TDataFeed* source_ = nullptr;
  int bufferCount_ = 1;
};

// Connects a dataset to data links.
class TDataFeed {
 public:
  TDataFeed() = default;
  ~TDataFeed();
  TDataFeed(const TDataFeed&) = delete;
  TDataFeed& operator=(const TDataFeed&) = delete;

  void SetDataSet(TDataSet* dataSet);
  TDataSet* DataSet() const { return dataSet_; }
  TDataSetMode State() const;
  std::function<void(TDataFeed&)> OnStateChange;
  std::function<void(TDataFeed&, TRecordField*)> OnDataChange;

 private:
  friend class TFeedLink;
  friend class TDataSet;
  void Notify(TDataChange event, TRecordField* field, int distance);
  void AddLink(TFeedLink* link);
  void RemoveLink(TFeedLink* link);
  TDataSet* dataSet_ = nullptr;
  std::vector<TFeedLink*> links_;
  TDataSetMode lastState_ = TDataSetMode::Inactive;
};

class TDataSet {
 public:
  using TEvent = std::function<void(TDataSet&)>;
  using TErrorEvent = std::function<void(TDataSet&, const std::exception&, TErrorReply&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // ---- Opening ----
  void Open();
  void Close();
  bool Active() const { return state_ != TDataSetMode::Inactive; }
  void SetActive(bool value) { value ? Open() : Close(); }
  TDataSetMode State() const { return state_; }

  // ---- Navigation ----
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);  // answers the distance moved
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return Active() && recordCount_ == 0; }
  virtual int RecordCount() = 0;
  virtual int RecNo() const = 0;
  virtual void SetRecNo(int value) = 0;
  // Record numbers usable for scroll bars.
  virtual bool IsSequenced() const = 0;
  void Refresh();
  // Re-reads the ring around the cursor's record: exact = the record itself must still be there
  // (else "Record not found or changed by another user"), center = place it in the middle.
  void Resync(bool exact, bool center);

  // ---- Changing ----
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();  // posts an edit or insert in progress
  // Appends one record with the values in field order (Null leaves a field empty).
  void AppendRecord(const std::vector<TFieldValue>& values);
  virtual bool CanModify() const { return true; }

  // ---- Fields ----
  const std::vector<std::unique_ptr<TRecordField>>& Fields() const { return fields_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TRecordField* FindField(const std::string& name) const;   // ignoring case
  TRecordField& FieldNamed(const std::string& name) const;  // "Field '%s' not found"
  TRecordField& FieldByNumber(int fieldNo) const;
  TFieldValue FieldValues(const std::string& name) const { return FieldNamed(name).Value(); }
  void SetFieldValues(const std::string& name, const TFieldValue& value) { FieldNamed(name).SetValue(value); }
  // Fields named in a ";"-separated list, in that order, case ignored.
  std::vector<TRecordField*> FieldList(const std::string& names) const;
  // A calculated field, declared before opening; filled by OnCalcFields.
  TRecordField& AddCalculatedField(const std::string& name, TValueKind kind, int size = 0);
  std::vector<TFieldSpec>& FieldSpecs() { return fieldDefs_; }
  std::vector<TIndexSpec>& IndexSpecs() { return indexDefs_; }

  // ---- Buffers, for data links and fields ----
  int BufferCount() const { return bufferCount_; }
  int ActiveRecord() const { return activeRecord_; }
  int BufferedRecords() const { return recordCount_; }
  std::uint8_t* ActiveBuffer();
  // The buffer field reads and writes go to in the current state (null when there is none).
  virtual std::uint8_t* StateBuffer();
  // A field changed its value in the current buffer.
  void DataEvent(TDataChange event, TRecordField* field = nullptr, int distance = 0);

  // ---- Events ----
  TEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit, AfterEdit, BeforePost,
      AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll, AfterScroll, OnNewRecord,
      OnCalcFields;
  TErrorEvent OnDeleteError, OnEditError, OnPostError;
  bool AutoCalcFields = true;

  // ---- What fields call ----
  virtual bool GetFieldData(const TRecordField& field, void* data) = 0;
  virtual void SetFieldData(TRecordField& field, const void* data) = 0;
  virtual std::unique_ptr<TBlobValueStream> OpenBlobStream(TRecordField& field, TBlobAccessMode mode) = 0;

 protected:
  friend class TFeedLink;
  friend class TDataFeed;
  // ---- Hooks a concrete dataset supplies ----
  virtual void InternalOpen() = 0;  // builds field definitions (then CreateFields runs)
  virtual void InternalClose() = 0;
  virtual void InternalFirst() = 0;  // cursor before the first record
  virtual void InternalLast() = 0;   // cursor after the last record
  virtual TFetchResult GetRecord(std::uint8_t* buffer, TFetchStep mode) = 0;
  virtual void InternalSetToRecord(const std::uint8_t* buffer) = 0;  // cursor onto a buffer's record
  virtual void InternalInitRecord(std::uint8_t* buffer) = 0;
  virtual void InternalEdit() = 0;  // lock the record
  virtual void InternalPost() = 0;  // insert or update from ActiveBuffer()
  virtual void InternalCancel() = 0;
  // Leaving the set-key state by Cancel: the key as it was before.
  virtual void InternalCancelKey() {}
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() = 0;
  virtual std::size_t RecordBufferSize() const = 0;
  // The new record is appended at the end (Append) or before the active one (Insert).
  virtual void SetAppendMark(std::uint8_t* /*buffer*/) {}
  // Called when the ring was rebuilt from scratch, for layouts that depend on it.
  virtual void CalculateFields(std::uint8_t* buffer);
  virtual void ClearCalcFields(std::uint8_t* /*buffer*/) {}

  void SetState(TDataSetMode value);
  // Makes one field object per definition (fields are always made automatically here).
  void CreateFields();
  void DestroyFields();
  // Checks used by field writes and by the concrete dataset.
  void CheckActive() const;
  void CheckInactive() const;
  void DoBeforeScroll();
  void DoAfterScroll();
  // The cursor was moved behind the ring's back (a search, a new order).
  void CursorMoved() { cursorAt_ = -1; }
  // Runs f with the fields reading and writing `buffer` in an internal state (filter callbacks,
  // locate keys, lookups, new-record values); no link hears of it.
  void RunInState(TDataSetMode state, std::uint8_t* buffer, const std::function<void()>& f);
  std::uint8_t* tempStateBuffer_ = nullptr;
  std::vector<std::unique_ptr<TRecordField>> fields_;
  std::vector<std::unique_ptr<TRecordField>> calcFieldsDeclared_;
  std::vector<TFieldSpec> fieldDefs_;
  std::vector<TIndexSpec> indexDefs_;
  int calcFieldSize_ = 0;  // bytes of the calculated-field area
  std::vector<std::uint8_t> calcBuffer_;

 private:
  friend class TRecordField;
  void UpdateBufferCount();
  void AllocateBuffers();
  void ClearBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  void FillForward();
  void FetchRecordsAround(bool center);
  void NotifyLinks(TDataChange event, TRecordField* field, int distance);
  void PostOrFail();

  TDataSetMode state_ = TDataSetMode::Inactive;
  std::vector<std::vector<std::uint8_t>> buffers_;
  int bufferCount_ = 1;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  // Which ring buffer the cursor stands on (-1 unknown); saves a positioning per step of a walk.
  int cursorAt_ = -1;
  bool bof_ = true, eof_ = true;
  bool disableScrollEvents_ = false;
  std::vector<TDataFeed*> sources_;
};

}  // namespace quillon::dataset
