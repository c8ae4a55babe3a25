// The dataset state machine and its ring of record buffers (see data_set.h).
//
// The ring is filled in the direction of travel: a step past the last buffer fetches one record
// and, when the ring is full, drops the first one, so a walk reads each record once and a grid of
// n rows costs n records. The cursor is placed on a buffer's record (InternalSetToRecord) only when
// it does not already stand there.
#include "dataset/data_set.h"

#include <algorithm>

#include "util/text.h"

namespace quillon::dataset {

// ---- Data links and sources --------------------------------------------------------------------

TFeedLink::~TFeedLink() {
  SetDataSource(nullptr);
}

void TFeedLink::SetDataSource(TDataFeed* source) {
  if (source == source_) return;
  if (source_) source_->RemoveLink(this);
  source_ = source;
  if (source_) source_->AddLink(this);
  ActiveChanged();
}

TDataSet* TFeedLink::DataSet() const {
  return source_ ? source_->DataSet() : nullptr;
}

bool TFeedLink::Active() const {
  TDataSet* ds = DataSet();
  return ds && ds->Active();
}

void TFeedLink::SetBufferCount(int count) {
  bufferCount_ = std::max(1, count);
  if (TDataSet* ds = DataSet()) ds->UpdateBufferCount();
}

int TFeedLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  return ds ? ds->activeRecord_ : 0;
}

void TFeedLink::SetActiveRecord(int index) {
  TDataSet* ds = DataSet();
  if (!ds || !ds->Active()) return;
  ds->activeRecord_ = std::clamp(index, 0, std::max(0, ds->recordCount_ - 1));
}

int TFeedLink::RecordCount() const {
  TDataSet* ds = DataSet();
  return ds && ds->Active() ? ds->recordCount_ : 0;
}

void TFeedLink::DataEvent(TDataChange event, TRecordField* field, int distance) {
  switch (event) {
    case TDataChange::FieldChange:
    case TDataChange::RecordChange:
      RecordChanged(field);
      break;
    case TDataChange::DataSetChange:
      DataSetChanged();
      break;
    case TDataChange::DataSetScroll:
      DataSetScrolled(distance);
      break;
    case TDataChange::LayoutChange:
      LayoutChanged();
      break;
    case TDataChange::UpdateState:
      EditingChanged();
      break;
  }
}

TDataFeed::~TDataFeed() {
  for (TFeedLink* link : std::vector<TFeedLink*>(links_)) link->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataFeed::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) {
    auto& v = dataSet_->sources_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    dataSet_->UpdateBufferCount();
  }
  dataSet_ = dataSet;
  if (dataSet_) {
    dataSet_->sources_.push_back(this);
    dataSet_->UpdateBufferCount();
  }
  lastState_ = State();
  for (TFeedLink* link : links_) link->ActiveChanged();
}

TDataSetMode TDataFeed::State() const {
  return dataSet_ ? dataSet_->State() : TDataSetMode::Inactive;
}

void TDataFeed::AddLink(TFeedLink* link) {
  links_.push_back(link);
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataFeed::RemoveLink(TFeedLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataFeed::Notify(TDataChange event, TRecordField* field, int distance) {
  if (event == TDataChange::UpdateState) {
    TDataSetMode now = State();
    if (now == lastState_) return;
    bool activeChanged = (now == TDataSetMode::Inactive) != (lastState_ == TDataSetMode::Inactive);
    lastState_ = now;
    for (TFeedLink* link : std::vector<TFeedLink*>(links_)) {
      if (activeChanged) {
        link->ActiveChanged();
      } else {
        link->EditingChanged();
      }
    }
    if (OnStateChange) OnStateChange(*this);
    return;
  }
  for (TFeedLink* link : std::vector<TFeedLink*>(links_)) link->DataEvent(event, field, distance);
  if (OnDataChange && (event == TDataChange::FieldChange || event == TDataChange::RecordChange ||
                       event == TDataChange::DataSetChange || event == TDataChange::DataSetScroll))
    OnDataChange(*this, event == TDataChange::FieldChange ? field : nullptr);
}

// ---- The dataset ------------------------------------------------------------------------------

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  for (TDataFeed* s : std::vector<TDataFeed*>(sources_)) s->SetDataSet(nullptr);
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
}

void TDataSet::SetState(TDataSetMode value) {
  if (value == state_) return;
  state_ = value;
  // Internal states are brief: only the ones a user can see are announced.
  if (value == TDataSetMode::Inactive || value == TDataSetMode::Browse || value == TDataSetMode::Edit ||
      value == TDataSetMode::Insert || value == TDataSetMode::SetKey)
    NotifyLinks(TDataChange::UpdateState, nullptr, 0);
}

void TDataSet::NotifyLinks(TDataChange event, TRecordField* field, int distance) {
  for (TDataFeed* s : std::vector<TDataFeed*>(sources_)) s->Notify(event, field, distance);
}

void TDataSet::DataEvent(TDataChange event, TRecordField* field, int distance) {
  if (event == TDataChange::FieldChange && field) {
    if (field->OnChange) field->OnChange(*field);
    if (AutoCalcFields && !field->Calculated && !calcFieldsDeclared_.empty() &&
        (state_ == TDataSetMode::Edit || state_ == TDataSetMode::Insert))
      CalculateFields(ActiveBuffer());
  }
  NotifyLinks(event, field, distance);
}

void TDataSet::UpdateBufferCount() {
  int wanted = 1;
  for (TDataFeed* s : sources_)
    for (TFeedLink* link : s->links_) wanted = std::max(wanted, link->BufferCount());
  if (wanted == bufferCount_) return;
  bufferCount_ = wanted;
  if (Active() && state_ == TDataSetMode::Browse) {
    AllocateBuffers();
    if (recordCount_ > 0) Resync(false, false);
  }
}

void TDataSet::AllocateBuffers() {
  // One spare buffer beyond the ring holds a record being inserted into a full ring.
  buffers_.resize(static_cast<std::size_t>(bufferCount_) + 1);
  for (auto& b : buffers_) b.assign(RecordBufferSize(), 0);
  recordCount_ = std::min(recordCount_, bufferCount_);
  activeRecord_ = std::min(activeRecord_, std::max(0, recordCount_ - 1));
  cursorAt_ = -1;
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  cursorAt_ = -1;
}

std::uint8_t* TDataSet::ActiveBuffer() {
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<std::size_t>(activeRecord_)].data();
}

std::uint8_t* TDataSet::StateBuffer() {
  switch (state_) {
    case TDataSetMode::Browse:
      return recordCount_ > 0 ? ActiveBuffer() : nullptr;
    case TDataSetMode::Edit:
    case TDataSetMode::Insert:
      return ActiveBuffer();
    default:
      return tempStateBuffer_;
  }
}

void TDataSet::RunInState(TDataSetMode state, std::uint8_t* buffer, const std::function<void()>& f) {
  std::uint8_t* saved = tempStateBuffer_;
  TDataSetMode savedState = state_;
  tempStateBuffer_ = buffer;
  state_ = state;
  try {
    f();
  } catch (...) {
    state_ = savedState;
    tempStateBuffer_ = saved;
    throw;
  }
  state_ = savedState;
  tempStateBuffer_ = saved;
}

void TDataSet::CalculateFields(std::uint8_t* buffer) {
  if (calcFieldsDeclared_.empty() || !buffer) return;
  RunInState(TDataSetMode::CalcFields, buffer, [&] {
    ClearCalcFields(buffer);
    if (OnCalcFields) OnCalcFields(*this);
  });
}

// ---- Fields -----------------------------------------------------------------------------------

void TDataSet::CreateFields() {
  fields_.clear();
  for (const TFieldSpec& d : fieldDefs_) {
    auto f = std::make_unique<TRecordField>(*this, d.Name, d.Kind, d.Size, d.FieldNo);
    f->Required = d.Required;
    f->Precision = d.Precision;
    if (d.Kind == TValueKind::AutoInc) f->ReadOnly = false;
    fields_.push_back(std::move(f));
  }
  calcFieldSize_ = 0;
  for (auto& c : calcFieldsDeclared_) {
    c->CalcOffset = calcFieldSize_;
    calcFieldSize_ += 1 + c->DataSize();
  }
}

void TDataSet::DestroyFields() {
  fields_.clear();
}

TRecordField& TDataSet::AddCalculatedField(const std::string& name, TValueKind kind, int size) {
  CheckInactive();
  auto f = std::make_unique<TRecordField>(*this, name, kind, size, 0);
  f->Calculated = true;
  calcFieldsDeclared_.push_back(std::move(f));
  return *calcFieldsDeclared_.back();
}

TRecordField* TDataSet::FindField(const std::string& name) const {
  for (const auto& f : fields_)
    if (EqualIgnoringCase(f->FieldName(), name)) return f.get();
  for (const auto& f : calcFieldsDeclared_)
    if (EqualIgnoringCase(f->FieldName(), name)) return f.get();
  return nullptr;
}

TRecordField& TDataSet::FieldNamed(const std::string& name) const {
  TRecordField* f = FindField(name);
  if (!f) throw EDatabaseError("Field '" + name + "' not found");
  return *f;
}

TRecordField& TDataSet::FieldByNumber(int fieldNo) const {
  for (const auto& f : fields_)
    if (f->FieldNo() == fieldNo) return *f;
  throw EDatabaseError("Field index out of range");
}

std::vector<TRecordField*> TDataSet::FieldList(const std::string& names) const {
  std::vector<TRecordField*> list;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = Trim(names.substr(start, end - start));
    if (!name.empty()) list.push_back(&FieldNamed(name));
    start = end + 1;
  }
  return list;
}

// ---- Opening ----------------------------------------------------------------------------------

void TDataSet::Open() {
  if (Active()) return;
  if (BeforeOpen) BeforeOpen(*this);
  try {
    InternalOpen();
    CreateFields();
    AllocateBuffers();
    calcBuffer_.assign(RecordBufferSize(), 0);
    ClearBuffers();
    bof_ = true;
    eof_ = false;
    state_ = TDataSetMode::Browse;
    InternalFirst();
    FillForward();
    eof_ = recordCount_ == 0;
  } catch (...) {
    state_ = TDataSetMode::Inactive;
    buffers_.clear();
    recordCount_ = 0;
    try {
      DestroyFields();
      InternalClose();
    } catch (...) {
    }
    throw;
  }
  NotifyLinks(TDataChange::UpdateState, nullptr, 0);
  NotifyLinks(TDataChange::DataSetChange, nullptr, 0);
  if (AfterOpen) AfterOpen(*this);
  DoAfterScroll();
}

void TDataSet::Close() {
  if (!Active()) return;
  if (BeforeClose) BeforeClose(*this);
  if (state_ == TDataSetMode::Edit || state_ == TDataSetMode::Insert) {
    try {
      InternalCancel();
    } catch (...) {
    }
  }
  state_ = TDataSetMode::Inactive;
  ClearBuffers();
  buffers_.clear();
  DestroyFields();
  InternalClose();
  NotifyLinks(TDataChange::UpdateState, nullptr, 0);
  if (AfterClose) AfterClose(*this);
}

// ---- The ring ---------------------------------------------------------------------------------

bool TDataSet::GetNextRecord() {
  if (recordCount_ > 0 && cursorAt_ != recordCount_ - 1) {
    InternalSetToRecord(buffers_[static_cast<std::size_t>(recordCount_ - 1)].data());
  }
  // The spare buffer receives the record; when the ring is full its first buffer becomes spare.
  auto& spare = buffers_[static_cast<std::size_t>(bufferCount_)];
  if (GetRecord(spare.data(), TFetchStep::Next) != TFetchResult::Ok) {
    cursorAt_ = -1;
    return false;
  }
  CalculateFields(spare.data());
  if (recordCount_ < bufferCount_) {
    std::swap(buffers_[static_cast<std::size_t>(recordCount_)], spare);
    ++recordCount_;
  } else {
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.begin() + bufferCount_ + 1);
    // buffers_[bufferCount_-1] is now the fetched record, buffers_[bufferCount_] the dropped one.
    activeRecord_ = std::max(0, activeRecord_ - 1);
  }
  cursorAt_ = recordCount_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0 && cursorAt_ != 0) InternalSetToRecord(buffers_[0].data());
  auto& spare = buffers_[static_cast<std::size_t>(bufferCount_)];
  if (GetRecord(spare.data(), TFetchStep::Prior) != TFetchResult::Ok) {
    cursorAt_ = -1;
    return false;
  }
  CalculateFields(spare.data());
  // The fetched record goes in front; the last buffer falls out when the ring is full.
  std::rotate(buffers_.begin(), buffers_.begin() + bufferCount_, buffers_.begin() + bufferCount_ + 1);
  if (recordCount_ < bufferCount_) ++recordCount_;
  activeRecord_ = std::min(activeRecord_ + 1, recordCount_ - 1);
  cursorAt_ = 0;
  return true;
}

void TDataSet::FillForward() {
  while (recordCount_ < bufferCount_ && GetNextRecord()) {
  }
}

void TDataSet::FetchRecordsAround(bool center) {
  // buffers_[0] holds the cursor's record; fill before it, then after it.
  int before = center ? (bufferCount_ - 1) / 2 : std::min(activeRecord_, bufferCount_ - 1);
  recordCount_ = 1;
  activeRecord_ = 0;
  cursorAt_ = 0;
  for (int i = 0; i < before && GetPriorRecord(); ++i) {
  }
  FillForward();
  // Near the end of the set the ring takes more records from before the cursor's record.
  while (recordCount_ < bufferCount_ && GetPriorRecord()) {
  }
}

void TDataSet::Resync(bool exact, bool center) {
  CheckActive();
  auto& first = buffers_[0];
  TFetchResult r = GetRecord(first.data(), TFetchStep::Current);
  if (r != TFetchResult::Ok) {
    if (exact) throw EDatabaseError("Record not found or changed by another user");
    r = GetRecord(first.data(), TFetchStep::Next);
    if (r != TFetchResult::Ok) r = GetRecord(first.data(), TFetchStep::Prior);
  }
  if (r != TFetchResult::Ok) {
    ClearBuffers();
    bof_ = eof_ = true;
  } else {
    CalculateFields(first.data());
    FetchRecordsAround(center);
    bof_ = eof_ = false;
  }
  NotifyLinks(TDataChange::DataSetChange, nullptr, 0);
}

void TDataSet::DoBeforeScroll() {
  if (!disableScrollEvents_ && BeforeScroll) BeforeScroll(*this);
}

void TDataSet::DoAfterScroll() {
  if (!disableScrollEvents_ && AfterScroll) AfterScroll(*this);
}

// ---- Navigation -------------------------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalFirst();
  ClearBuffers();
  FillForward();
  bof_ = true;
  eof_ = recordCount_ == 0;
  NotifyLinks(TDataChange::DataSetChange, nullptr, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalLast();
  ClearBuffers();
  while (recordCount_ < bufferCount_ && GetPriorRecord()) {
  }
  activeRecord_ = std::max(0, recordCount_ - 1);
  eof_ = true;
  bof_ = recordCount_ == 0;
  NotifyLinks(TDataChange::DataSetChange, nullptr, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_)) return 0;
  DoBeforeScroll();
  int moved = 0;
  const int oldActive = activeRecord_;
  bool refetched = false;
  bof_ = eof_ = false;
  if (recordCount_ == 0) {
    bof_ = eof_ = true;
  }
  while (distance > 0 && recordCount_ > 0) {
    if (activeRecord_ < recordCount_ - 1) {
      ++activeRecord_;
    } else if (GetNextRecord()) {
      activeRecord_ = recordCount_ - 1;
      refetched = true;
    } else {
      eof_ = true;
      break;
    }
    --distance;
    ++moved;
  }
  while (distance < 0 && recordCount_ > 0) {
    if (activeRecord_ > 0) {
      --activeRecord_;
    } else if (GetPriorRecord()) {
      activeRecord_ = 0;
      refetched = true;
    } else {
      bof_ = true;
      break;
    }
    ++distance;
    --moved;
  }
  if (refetched) {
    NotifyLinks(TDataChange::DataSetScroll, nullptr, moved - (activeRecord_ - oldActive));
  } else if (moved != 0) {
    NotifyLinks(TDataChange::DataSetScroll, nullptr, 0);
  }
  DoAfterScroll();
  return moved;
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  InternalRefresh();
  if (recordCount_ > 0) {
    InternalSetToRecord(ActiveBuffer());
    Resync(false, false);
  } else {
    First();
  }
}

// ---- Changing ---------------------------------------------------------------------------------

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == TDataSetMode::Edit || state_ == TDataSetMode::Insert) {
    DataEvent(TDataChange::UpdateState);
    Post();
  } else if (state_ == TDataSetMode::SetKey) {
    SetState(TDataSetMode::Browse);
  }
}

void TDataSet::Edit() {
  if (state_ == TDataSetMode::Edit || state_ == TDataSetMode::Insert) return;
  CheckActive();
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  if (recordCount_ == 0) return Insert();
  CheckBrowseMode();
  if (BeforeEdit) BeforeEdit(*this);
  for (;;) {
    try {
      InternalSetToRecord(ActiveBuffer());
      cursorAt_ = activeRecord_;
      InternalEdit();
      break;
    } catch (const std::exception& e) {
      TErrorReply action = TErrorReply::Fail;
      if (OnEditError) OnEditError(*this, e, action);
      if (action != TErrorReply::Retry) throw;
    }
  }
  SetState(TDataSetMode::Edit);
  NotifyLinks(TDataChange::RecordChange, nullptr, 0);
  if (AfterEdit) AfterEdit(*this);
}

void TDataSet::Insert() {
  CheckBrowseMode();
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  if (BeforeInsert) BeforeInsert(*this);
  DoBeforeScroll();
  // The new record takes the active row; the rows from there move down by one.
  if (recordCount_ == 0) {
    recordCount_ = 1;
    activeRecord_ = 0;
  } else {
    auto begin = buffers_.begin() + activeRecord_;
    std::rotate(begin, buffers_.begin() + bufferCount_, buffers_.begin() + bufferCount_ + 1);
    if (recordCount_ < bufferCount_) ++recordCount_;
  }
  cursorAt_ = -1;
  std::uint8_t* buffer = ActiveBuffer();
  InternalInitRecord(buffer);
  SetState(TDataSetMode::Insert);
  try {
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    Cancel();
    throw;
  }
  bof_ = eof_ = false;
  NotifyLinks(TDataChange::DataSetChange, nullptr, 0);
  DoAfterScroll();
  if (AfterInsert) AfterInsert(*this);
}

void TDataSet::Append() {
  CheckBrowseMode();
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  if (BeforeInsert) BeforeInsert(*this);
  DoBeforeScroll();
  // Show the last records with the new one after them.
  InternalLast();
  ClearBuffers();
  while (recordCount_ < bufferCount_ - 1 && GetPriorRecord()) {
  }
  std::rotate(buffers_.begin() + recordCount_, buffers_.begin() + bufferCount_, buffers_.begin() + bufferCount_ + 1);
  ++recordCount_;
  activeRecord_ = recordCount_ - 1;
  cursorAt_ = -1;
  std::uint8_t* buffer = ActiveBuffer();
  InternalInitRecord(buffer);
  SetAppendMark(buffer);
  SetState(TDataSetMode::Insert);
  try {
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    Cancel();
    throw;
  }
  bof_ = false;
  eof_ = true;
  NotifyLinks(TDataChange::DataSetChange, nullptr, 0);
  DoAfterScroll();
  if (AfterInsert) AfterInsert(*this);
}

void TDataSet::Post() {
  if (state_ != TDataSetMode::Edit && state_ != TDataSetMode::Insert) {
    if (state_ == TDataSetMode::Browse) return;
    throw EDatabaseError("Dataset not in edit or insert mode");
  }
  NotifyLinks(TDataChange::UpdateState, nullptr, 0);
  if (BeforePost) BeforePost(*this);
  for (;;) {
    try {
      InternalPost();
      break;
    } catch (const std::exception& e) {
      TErrorReply action = TErrorReply::Fail;
      if (OnPostError) OnPostError(*this, e, action);
      if (action != TErrorReply::Retry) throw;
    }
  }
  SetState(TDataSetMode::Browse);
  Resync(false, false);
  if (AfterPost) AfterPost(*this);
}

void TDataSet::Cancel() {
  if (state_ == TDataSetMode::SetKey) {
    InternalCancelKey();
    SetState(TDataSetMode::Browse);
    return;
  }
  if (state_ != TDataSetMode::Edit && state_ != TDataSetMode::Insert) return;
  if (BeforeCancel) BeforeCancel(*this);
  const bool wasInsert = state_ == TDataSetMode::Insert;
  InternalCancel();
  SetState(TDataSetMode::Browse);
  if (wasInsert) {
    // Drop the new row; the cursor did not move, so the ring is read again around it.
    if (recordCount_ <= 1) {
      ClearBuffers();
      InternalFirst();
      FillForward();
      bof_ = true;
      eof_ = recordCount_ == 0;
      NotifyLinks(TDataChange::DataSetChange, nullptr, 0);
    } else {
      std::rotate(buffers_.begin() + activeRecord_, buffers_.begin() + activeRecord_ + 1,
                  buffers_.begin() + recordCount_);
      --recordCount_;
      activeRecord_ = std::min(activeRecord_, recordCount_ - 1);
      InternalSetToRecord(ActiveBuffer());
      Resync(false, false);
    }
  } else {
    // The active buffer is read again from the table.
    Resync(false, false);
  }
  if (AfterCancel) AfterCancel(*this);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetMode::Insert) return Cancel();
  if (recordCount_ == 0) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  if (state_ == TDataSetMode::Edit) Cancel();
  CheckBrowseMode();
  if (BeforeDelete) BeforeDelete(*this);
  DoBeforeScroll();
  for (;;) {
    try {
      InternalSetToRecord(ActiveBuffer());
      InternalDelete();
      break;
    } catch (const std::exception& e) {
      TErrorReply action = TErrorReply::Fail;
      if (OnDeleteError) OnDeleteError(*this, e, action);
      if (action != TErrorReply::Retry) throw;
    }
  }
  // The cursor stands on the record that followed the deleted one.
  Resync(false, false);
  if (recordCount_ > 0) eof_ = bof_ = false;
  if (AfterDelete) AfterDelete(*this);
  DoAfterScroll();
}

void TDataSet::AppendRecord(const std::vector<TFieldValue>& values) {
  Append();
  try {
    std::size_t i = 0;
    for (const auto& f : fields_) {
      if (i >= values.size()) break;
      const TFieldValue& v = values[i++];
      if (IsNull(v) && f->Kind() == TValueKind::AutoInc) continue;
      f->SetValue(v);
    }
    Post();
  } catch (...) {
    Cancel();
    throw;
  }
}

}  // namespace quillon::dataset
