// The table component over one engine cursor (see quarry_table.h).
//
// Every call into the engine goes through Eng(), which lets an engine failure out as
// EQuarryEngineError; navigation results (err::kBeginningOfFile before the first record, err::kEndOfFile after the
// last) are answers, not failures.
#include "dataset/quarry_table.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "dataset/sql/filter_expr.h"
#include "dataset/sql/table_filter.h"
#include "engine/errors.h"
#include "engine/field_types.h"
#include "util/text.h"

namespace quillon::dataset {

namespace {

template <typename TCall>
decltype(auto) Eng(TCall&& call) {
  return EngineCall(std::forward<TCall>(call));
}

constexpr char kNotEditing[] = "Dataset not in edit or insert mode";
constexpr char kNotIndexed[] = "Field '%s' is not indexed and cannot be modified";
constexpr char kCannotModify[] = "Field '%s' cannot be modified";

std::function<void(const std::exception&)>& ExceptionHandler() {
  static std::function<void(const std::exception&)> handler;
  return handler;
}

// Where a field object's size comes from: none, the declared size, or the decimals (BCD).
enum class TSizeFrom { None, DeclaredSize, Decimals };

struct TKindRule {
  std::uint8_t FieldType;
  TValueKind Kind;
  TSizeFrom Size;
};

// Engine types that get a field object; the others (extended among them) get none.
constexpr TKindRule kKindRules[] = {
    {1, TValueKind::String, TSizeFrom::DeclaredSize},
    {2, TValueKind::Date, TSizeFrom::None},
    {3, TValueKind::Blob, TSizeFrom::None},
    {4, TValueKind::Boolean, TSizeFrom::None},
    {5, TValueKind::Smallint, TSizeFrom::None},
    {6, TValueKind::Integer, TSizeFrom::None},
    {7, TValueKind::Float, TSizeFrom::None},
    {8, TValueKind::BCD, TSizeFrom::Decimals},
    {9, TValueKind::Bytes, TSizeFrom::DeclaredSize},
    {10, TValueKind::Time, TSizeFrom::None},
    {11, TValueKind::DateTime, TSizeFrom::None},
    {12, TValueKind::Word, TSizeFrom::None},
    {13, TValueKind::Integer, TSizeFrom::None},
    {15, TValueKind::VarBytes, TSizeFrom::DeclaredSize},
    {18, TValueKind::Largeint, TSizeFrom::None},
    {19, TValueKind::Largeint, TSizeFrom::None},
    {20, TValueKind::ADT, TSizeFrom::DeclaredSize},
    {21, TValueKind::Array, TSizeFrom::DeclaredSize},
    {22, TValueKind::Reference, TSizeFrom::DeclaredSize},
    {23, TValueKind::DataSet, TSizeFrom::DeclaredSize},
};

struct TSubKindRule {
  std::uint8_t FieldType, SubType;
  TValueKind Kind;
};

// Subtypes that give a BLOB, integer or float field a kind of its own.
constexpr TSubKindRule kSubKindRules[] = {
    {3, engine::kSubTypeMemo, TValueKind::Memo},       {3, engine::kSubTypeFmtMemo, TValueKind::FmtMemo},
    {3, engine::kSubTypeGraphic, TValueKind::Graphic}, {3, engine::kSubTypeTypedBinary, TValueKind::TypedBinary},
    {6, engine::kSubTypeAutoInc, TValueKind::AutoInc}, {7, engine::kSubTypeMoney, TValueKind::Currency},
};

// The field kind of an engine field; false when the field gets no field object.
bool KindOf(const engine::TFieldDescriptor& d, TValueKind& kind, int& size) {
  size = 0;
  const TKindRule* rule = std::find_if(std::begin(kKindRules), std::end(kKindRules),
                                       [&](const TKindRule& r) { return r.FieldType == d.FieldType; });
  if (rule == std::end(kKindRules)) return false;
  kind = rule->Kind;
  for (const TSubKindRule& sub : kSubKindRules)
    if (sub.FieldType == d.FieldType && sub.SubType == d.SubType) kind = sub.Kind;
  if (rule->Size == TSizeFrom::DeclaredSize) size = d.DeclaredSize;
  if (rule->Size == TSizeFrom::Decimals) size = d.Decimals;
  return true;
}

std::string JoinFieldList(const std::string& names) {
  std::string out;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = Trim(names.substr(start, end - start));
    if (!out.empty()) out += ';';
    out += name;
    start = end + 1;
  }
  return out;
}

// The engine filter of a filter text (EDatabaseError with the parser's message when it is wrong).
std::shared_ptr<engine::TFilterEvaluator> CompileFilter(engine::TDataFile& table, const std::string& text,
                                                        const TFilterSettings& options) {
  std::vector<std::uint8_t> canned = CompileFilterText(table, text, options);
  return Eng([&] { return sql::MakeTextFilter(table, canned); });
}

}  // namespace

std::vector<std::uint8_t> CompileFilterText(engine::TDataFile& table, const std::string& text,
                                            const TFilterSettings& options) {
  sql::TFilterExpr expr(sql::FilterFieldsOf(table), table.Formats());
  return expr.Compile({options.CaseInsensitive, options.NoPartialCompare}, text);
}

void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) {
  ExceptionHandler() = std::move(handler);
}

void HandleApplicationException(const std::exception& error) {
  if (ExceptionHandler()) ExceptionHandler()(error);
}

// ==== TQuarryDataSet =============================================================================

TQuarryDataSet::TQuarryDataSet() = default;

TQuarryDataSet::~TQuarryDataSet() = default;

void TQuarryDataSet::DestroyHandle() {
  locateClone_.reset();
  if (handle_) {
    try {
      handle_->Close();
    } catch (...) {
      // A failing close must not keep the component half open.
    }
    handle_.reset();
  }
}

void TQuarryDataSet::BuildFieldDefs() {
  fieldDefs_.clear();
  const int count = handle_->FieldCount();
  for (int n = 1; n <= count; ++n) {
    const engine::TFieldDescriptor& d = handle_->GetFieldDescriptor(true, n);
    TFieldSpec def;
    if (HiddenField(d) || !KindOf(d, def.Kind, def.Size)) continue;
    def.FieldNo = n;
    def.Required = d.Required;
    if (def.Kind == TValueKind::BCD) def.Precision = 20;
    // A name already taken becomes name_1, name_2, ...
    std::string name = d.FieldName;
    auto taken = [&](const std::string& candidate) {
      return std::any_of(fieldDefs_.begin(), fieldDefs_.end(),
                         [&](const TFieldSpec& f) { return EqualIgnoringCase(f.Name, candidate); });
    };
    if (taken(name)) {
      for (int i = 1;; ++i) {
        std::string candidate = name + "_" + std::to_string(i);
        if (!taken(candidate)) {
          name = candidate;
          break;
        }
      }
    }
    def.Name = name;
    fieldDefs_.push_back(def);
  }
}

void TQuarryDataSet::BuildIndexDefs() {
  indexDefs_.clear();
  engine::TIndexFile& idx = handle_->IndexFile();
  for (int i = 0; i <= idx.IndexCount(); ++i) {
    engine::TIndexDescriptor d = idx.GetIndexDescriptor(i);
    if (i == 0 && d.KeyFieldCount == 0) continue;  // a table without primary index
    TIndexSpec def;
    def.Name = d.IndexName;
    for (int k = 0; k < d.KeyFieldCount; ++k) {
      if (k) def.Fields += ';';
      def.Fields += handle_->GetFieldDescriptor(false, d.KeyFields[static_cast<std::size_t>(k)]).FieldName;
    }
    def.Primary = i == 0;
    def.Unique = d.Unique || i == 0;
    def.Descending = d.Descending;
    def.CaseInsensitive = d.CaseInsensitive;
    indexDefs_.push_back(def);
  }
}

void TQuarryDataSet::ComputeLayout() {
  recordSize_ = handle_->RecordBufferSize();
  calcOffset_ = recordSize_;
  std::size_t calcSize = 0;
  for (auto& c : calcFieldsDeclared_) calcSize += 1 + static_cast<std::size_t>(c->DataSize());
  bookmarkOffset_ = calcOffset_ + calcSize;
  // The bookmark area fits the longest key of any index, so a new order needs no new buffers.
  int longest = 4;
  engine::TIndexFile& idx = handle_->IndexFile();
  for (int i = 0; i <= idx.IndexCount(); ++i) longest = std::max<int>(longest, idx.GetIndexDescriptor(i).KeyLength);
  keySize_ = handle_->KeySize();
  bufferSize_ = bookmarkOffset_ + 5 + static_cast<std::size_t>(std::max(longest, keySize_));
}

void TQuarryDataSet::InternalOpen() {
  handle_ = CreateHandle();
  if (!handle_) throw EDatabaseError("Error creating table handle.");
  try {
    SelectInitialIndex();
    BuildFieldDefs();
    BuildIndexDefs();
    ComputeLayout();
    keyBuffers_.assign(kKeyBufferCount, std::vector<std::uint8_t>(8 + recordSize_, 0));
    for (auto& k : keyBuffers_) Eng([&] { handle_->InitRecord(k.data() + 8); });
    oldValueBuffer_.assign(bufferSize_, 0);
    Eng([&] { handle_->First(); });
    InstallFilters();
  } catch (...) {
    DestroyHandle();
    throw;
  }
}

void TQuarryDataSet::InternalClose() {
  exprFilter_ = callbackFilter_ = 0;
  keyBuffers_.clear();
  oldValueBuffer_.clear();
  DestroyHandle();
}

void TQuarryDataSet::InstallFilters() {
  if (!filter_.empty()) {
    exprFilter_ =
        Eng([&] { return handle_->AddFilter(CompileFilter(*handle_, filter_, filterOptions_), nullptr, false); });
    if (filtered_) Eng([&] { return handle_->ActivateFilter(exprFilter_); });
  }
  if (onFilterRecord_) InstallCallbackFilter();
}

void TQuarryDataSet::InstallCallbackFilter() {
  callbackFilter_ = Eng([&] {
    return handle_->AddFilter(
        nullptr,
        [this](const std::uint8_t* record, std::uint32_t) {
          bool accept = true;
          try {
            RunInState(TDataSetMode::Filter, const_cast<std::uint8_t*>(record),
                       [&] { onFilterRecord_(*this, accept); });
          } catch (const std::exception& e) {
            HandleApplicationException(e);
          }
          return accept;
        },
        false);
  });
  if (filtered_) Eng([&] { handle_->ActivateFilter(callbackFilter_); });
}

void TQuarryDataSet::DropLocateClone() {
  locateClone_.reset();
  cloneFields_.clear();
}

void TQuarryDataSet::InternalFirst() {
  Eng([&] { handle_->First(); });
}

void TQuarryDataSet::InternalLast() {
  Eng([&] { handle_->Last(); });
}

TFetchResult TQuarryDataSet::GetRecord(std::uint8_t* buffer, TFetchStep mode) {
  int code = Eng([&] {
    switch (mode) {
      case TFetchStep::Next:
        return handle_->Next(buffer);
      case TFetchStep::Prior:
        return handle_->Prior(buffer);
      default:
        return handle_->GetCurrent(buffer, false);
    }
  });
  if (code == engine::err::kBeginningOfFile) return TFetchResult::AtBeginning;
  if (code == engine::err::kEndOfFile) return TFetchResult::AtEnd;
  CheckEngineResult(code);
  std::uint8_t* area = buffer + bookmarkOffset_;
  auto recNo = static_cast<std::int32_t>(Eng([&] { return handle_->RecNo(); }));
  std::memcpy(area, &recNo, 4);
  area[4] = 0;
  std::vector<std::uint8_t> bookmark = Eng([&] { return handle_->GetBookmark(); });
  std::memset(area + 5, 0, bufferSize_ - bookmarkOffset_ - 5);
  std::memcpy(area + 5, bookmark.data(), std::min(bookmark.size(), bufferSize_ - bookmarkOffset_ - 5));
  return TFetchResult::Ok;
}

void TQuarryDataSet::InternalSetToRecord(const std::uint8_t* buffer) {
  if (buffer[bookmarkOffset_ + 4] != 0) return;  // a new record has no place yet
  Eng([&] { handle_->GotoBookmark(buffer + bookmarkOffset_ + 5); });
}

void TQuarryDataSet::InternalInitRecord(std::uint8_t* buffer) {
  std::memset(buffer, 0, bufferSize_);
  Eng([&] { handle_->InitRecord(buffer); });
  std::int32_t recNo = -1;
  std::memcpy(buffer + bookmarkOffset_, &recNo, 4);
  buffer[bookmarkOffset_ + 4] = 1;
}

void TQuarryDataSet::ClearCalcFields(std::uint8_t* buffer) {
  std::memset(buffer + calcOffset_, 0, bookmarkOffset_ - calcOffset_);
}

void TQuarryDataSet::InternalEdit() {
  int code = Eng([&] { return handle_->GetCurrent(ActiveBuffer(), true); });
  if (code != 0) CheckEngineResult(engine::err::kRecordNotFound);
}

void TQuarryDataSet::InternalPost() {
  std::uint8_t* buffer = ActiveBuffer();
  if (State() == TDataSetMode::Insert) {
    Eng([&] { handle_->InsertRecord(buffer); });
  } else {
    Eng([&] { handle_->UpdateRecord(buffer, true, true); });
  }
  // The record now names the stored values; the handles of the write streams are of no further
  // use, and kept they would use up the cursor's 64 open BLOBs after as many posts.
  Eng([&] { handle_->CloseAllBlobs(); });
  DropLocateClone();
  CursorMoved();
}

void TQuarryDataSet::InternalCancel() {
  Eng([&] { handle_->CloseAllBlobs(); });
  if (State() == TDataSetMode::Edit) {
    try {
      Eng([&] { handle_->UnlockRecord(0); });
    } catch (const EQuarryEngineError&) {
      // The record was not locked by this cursor (it vanished meanwhile): nothing to release.
    }
  }
}

void TQuarryDataSet::InternalDelete() {
  Eng([&] { handle_->DeleteRecord(true); });
  DropLocateClone();
  CursorMoved();
}

void TQuarryDataSet::InternalRefresh() {
  Eng([&] { handle_->Refresh(); });
}

bool TQuarryDataSet::CanModify() const {
  return handle_ && !handle_->ReadOnly();
}

int TQuarryDataSet::RecordCount() {
  CheckActive();
  return static_cast<int>(Eng([&] { return handle_->RecordCount(); }));
}

int TQuarryDataSet::RecNo() const {
  if (!Active() || BufferedRecords() == 0) return 0;
  auto* self = const_cast<TQuarryDataSet*>(this);
  std::int32_t recNo = 0;
  std::memcpy(&recNo, self->ActiveBuffer() + bookmarkOffset_, 4);
  return recNo;
}

void TQuarryDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == RecNo()) return;
  DoBeforeScroll();
  Eng([&] { handle_->SetRecNo(value); });
  CursorMoved();
  Resync(false, true);
  DoAfterScroll();
}

TRecordMark TQuarryDataSet::GetBookmark() {
  if (!Active() || BufferedRecords() == 0) return {};
  std::uint8_t* buffer = ActiveBuffer();
  if (buffer[bookmarkOffset_ + 4] != 0) return {};
  return TRecordMark(buffer + bookmarkOffset_ + 5, buffer + bookmarkOffset_ + 5 + keySize_);
}

void TQuarryDataSet::GotoBookmark(const TRecordMark& bookmark) {
  CheckBrowseMode();
  if (bookmark.size() < static_cast<std::size_t>(keySize_)) throw EDatabaseError("Invalid bookmark");
  DoBeforeScroll();
  Eng([&] { handle_->GotoBookmark(bookmark.data()); });
  CursorMoved();
  Resync(true, true);
  DoAfterScroll();
}

int TQuarryDataSet::CompareBookmarks(const TRecordMark& a, const TRecordMark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  if (a.size() < static_cast<std::size_t>(keySize_) || b.size() < static_cast<std::size_t>(keySize_))
    throw EDatabaseError("Invalid bookmark");
  return Eng([&] { return handle_->CompareBookmarks(a.data(), b.data()); });
}

bool TQuarryDataSet::BookmarkValid(const TRecordMark& bookmark) {
  if (!Active() || bookmark.size() < static_cast<std::size_t>(keySize_)) return false;
  std::vector<std::uint8_t> probe(bufferSize_, 0);
  bool valid = false;
  try {
    Eng([&] { handle_->GotoBookmark(bookmark.data()); });
    // The search is a nearest one: only the record itself makes the bookmark valid.
    valid = Eng([&] { return handle_->GetCurrent(probe.data(), false); }) == 0 &&
            Eng([&] { return handle_->GetBookmark(); }) == bookmark;
  } catch (const EQuarryEngineError&) {
    valid = false;
  }
  CursorMoved();
  return valid;
}

// ---- Field data ---------------------------------------------------------------------------------

std::uint8_t* TQuarryDataSet::StateBuffer() {
  switch (State()) {
    case TDataSetMode::SetKey:
      return KeyBuffer(activeKey_);
    case TDataSetMode::OldValue: {
      if (tempStateBuffer_) return tempStateBuffer_;
      if (BufferedRecords() == 0) return nullptr;
      std::uint8_t* active = ActiveBuffer();
      if (active[bookmarkOffset_ + 4] != 0) return nullptr;  // a new record has no old values
      InternalSetToRecord(active);
      CursorMoved();
      if (Eng([&] { return handle_->GetCurrent(oldValueBuffer_.data(), false); }) != 0) return nullptr;
      return oldValueBuffer_.data();
    }
    default:
      return TDataSet::StateBuffer();
  }
}

bool TQuarryDataSet::GetFieldData(const TRecordField& field, void* data) {
  std::uint8_t* buffer = StateBuffer();
  if (!buffer) return false;
  if (field.Calculated) {
    const std::uint8_t* at = buffer + calcOffset_ + field.CalcOffset;
    if (at[0] == 0) return false;
    std::memcpy(data, at + 1, static_cast<std::size_t>(field.DataSize()));
    return true;
  }
  return Eng([&] { return handle_->GetField(true, field.FieldNo(), buffer, data); });
}

void TQuarryDataSet::SetFieldData(TRecordField& field, const void* data) {
  const TDataSetMode state = State();
  switch (state) {
    case TDataSetMode::Edit:
    case TDataSetMode::Insert:
    case TDataSetMode::SetKey:
    case TDataSetMode::CalcFields:
    case TDataSetMode::Filter:
    case TDataSetMode::NewValue:
    case TDataSetMode::InternalCalc:
      break;
    default:
      throw EDatabaseError(kNotEditing);
  }
  int keyPosition = -1;
  if (state == TDataSetMode::SetKey) {
    std::vector<int> keys = CurrentKeyFields();
    auto it = std::find(keys.begin(), keys.end(), field.FieldNo());
    if (field.Calculated || it == keys.end()) throw EDatabaseError(FormatMessage(kNotIndexed, field.FieldName()));
    keyPosition = static_cast<int>(it - keys.begin());
  }
  if (field.ReadOnly && state != TDataSetMode::SetKey && state != TDataSetMode::Filter)
    throw EDatabaseError(FormatMessage(kCannotModify, field.FieldName()));
  if (state == TDataSetMode::CalcFields && !field.Calculated) throw EDatabaseError(kNotEditing);
  if (field.OnValidate) field.OnValidate(field);
  std::uint8_t* buffer = StateBuffer();
  if (!buffer) throw EDatabaseError(kNotEditing);
  if (field.Calculated) {
    std::uint8_t* at = buffer + calcOffset_ + field.CalcOffset;
    at[0] = data ? 1 : 0;
    std::memset(at + 1, 0, static_cast<std::size_t>(field.DataSize()));
    if (data) std::memcpy(at + 1, data, static_cast<std::size_t>(field.DataSize()));
  } else {
    Eng([&] { handle_->SetField(true, field.FieldNo(), data, buffer); });
  }
  if (state == TDataSetMode::SetKey) {
    KeyModified(activeKey_) = true;
    SetKeyFieldsAssigned(activeKey_, std::max(KeyFieldsAssigned(activeKey_), keyPosition + 1));
  }
  if (state != TDataSetMode::CalcFields && state != TDataSetMode::Filter && state != TDataSetMode::NewValue)
    DataEvent(TDataChange::FieldChange, &field);
}

std::unique_ptr<TBlobValueStream> TQuarryDataSet::OpenBlobStream(TRecordField& field, TBlobAccessMode mode) {
  return std::make_unique<TQuarryBlobStream>(*this, field, mode);
}

// ---- Filters ------------------------------------------------------------------------------------

void TQuarryDataSet::SetFilter(const std::string& text) {
  if (text == filter_) return;
  if (!Active()) {
    filter_ = text;
    return;
  }
  ReplaceFilter(text, filterOptions_);
}

void TQuarryDataSet::ReplaceFilter(const std::string& text, const TFilterSettings& options) {
  CheckBrowseMode();
  // A text that does not compile changes nothing.
  std::shared_ptr<engine::TFilterEvaluator> compiled;
  if (!text.empty()) compiled = CompileFilter(*handle_, text, options);
  DropLocateClone();
  if (exprFilter_) {
    Eng([&] { return handle_->RemoveFilter(exprFilter_); });
    exprFilter_ = 0;
  }
  filter_ = text;
  filterOptions_ = options;
  if (compiled) {
    exprFilter_ = Eng([&] { return handle_->AddFilter(compiled, nullptr, false); });
    if (filtered_) Eng([&] { return handle_->ActivateFilter(exprFilter_); });
  }
  if (filtered_) First();
}

void TQuarryDataSet::SetFilterOptions(const TFilterSettings& options) {
  if (options == filterOptions_) return;
  if (!Active() || filter_.empty()) {
    filterOptions_ = options;
    return;
  }
  ReplaceFilter(filter_, options);
}

void TQuarryDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  const bool had = static_cast<bool>(onFilterRecord_);
  onFilterRecord_ = std::move(handler);
  if (!Active()) return;
  CheckBrowseMode();
  DropLocateClone();
  if (had) {
    Eng([&] { return handle_->RemoveFilter(callbackFilter_); });
    callbackFilter_ = 0;
  }
  if (onFilterRecord_) InstallCallbackFilter();
  if (filtered_) First();
}

void TQuarryDataSet::SetFiltered(bool value) {
  if (value == filtered_) return;
  if (!Active()) {
    filtered_ = value;
    return;
  }
  CheckBrowseMode();
  DropLocateClone();
  filtered_ = value;
  for (std::uint32_t h : {exprFilter_, callbackFilter_}) {
    if (!h) continue;
    if (value) {
      Eng([&] { return handle_->ActivateFilter(h); });
    } else {
      Eng([&] { return handle_->DeactivateFilter(h); });
    }
  }
  First();
}

bool TQuarryDataSet::FindRecord(bool restart, bool forward) {
  CheckBrowseMode();
  DoBeforeScroll();
  const bool activate = !filtered_;
  auto setFilters = [&](bool on) {
    for (std::uint32_t h : {exprFilter_, callbackFilter_}) {
      if (!h) continue;
      if (on) {
        Eng([&] { return handle_->ActivateFilter(h); });
      } else {
        Eng([&] { return handle_->DeactivateFilter(h); });
      }
    }
  };
  std::vector<std::uint8_t> probe(bufferSize_, 0);
  int code = 0;
  if (activate) setFilters(true);
  try {
    if (restart) {
      forward ? InternalFirst() : InternalLast();
    } else if (BufferedRecords() > 0) {
      InternalSetToRecord(ActiveBuffer());
    }
    code = Eng([&] { return forward ? handle_->Next(probe.data()) : handle_->Prior(probe.data()); });
  } catch (...) {
    if (activate) setFilters(false);
    CursorMoved();
    throw;
  }
  if (activate) setFilters(false);
  CursorMoved();
  if (code != 0) {
    if (BufferedRecords() > 0) InternalSetToRecord(ActiveBuffer());
    return false;
  }
  Resync(false, true);
  DoAfterScroll();
  return true;
}

bool TQuarryDataSet::FindFirst() {
  return FindRecord(true, true);
}
bool TQuarryDataSet::FindNext() {
  return FindRecord(false, true);
}
bool TQuarryDataSet::FindPrior() {
  return FindRecord(false, false);
}
bool TQuarryDataSet::FindLast() {
  return FindRecord(true, false);
}

// ---- Locate and Lookup --------------------------------------------------------------------------

std::vector<int> TQuarryDataSet::CurrentKeyFields() const {
  std::vector<int> keys;
  if (!handle_) return keys;
  int index = handle_->CursorIndex();
  if (index == engine::TIndexFile::kPhysicalOrder) return keys;
  engine::TIndexDescriptor d = handle_->IndexFile().GetIndexDescriptor(index);
  for (int k = 0; k < d.KeyFieldCount; ++k) keys.push_back(d.KeyFields[static_cast<std::size_t>(k)]);
  return keys;
}

int TQuarryDataSet::IndexForFields(const std::vector<int>& fields, bool caseInsensitive) const {
  engine::TIndexFile& idx = handle_->IndexFile();
  int prefixMatch = -1;
  for (int i = 0; i <= idx.IndexCount(); ++i) {
    engine::TIndexDescriptor d = idx.GetIndexDescriptor(i);
    if (d.KeyFieldCount == 0 || d.Descending) continue;
    if (caseInsensitive && !d.CaseInsensitive) continue;
    if (d.KeyFieldCount < fields.size()) continue;
    bool leading = true;
    for (std::size_t k = 0; k < fields.size() && leading; ++k) leading = d.KeyFields[k] == fields[k];
    if (!leading) continue;
    if (d.KeyFieldCount == fields.size()) return i;
    if (prefixMatch < 0) prefixMatch = i;
  }
  return prefixMatch;
}

bool TQuarryDataSet::LocateRecord(const std::vector<TRecordField*>& fields, const std::vector<TFieldValue>& values,
                                  TSearchOptions options, bool moveCursor, std::vector<std::uint8_t>& result) {
  result.assign(bufferSize_, 0);
  if (fields.empty()) return false;
  std::vector<int> numbers;
  for (TRecordField* f : fields) {
    if (f->Calculated) throw EDatabaseError("Field '" + f->FieldName() + "' cannot be used in a search");
    numbers.push_back(f->FieldNo());
  }
  std::vector<std::uint8_t> key(bufferSize_, 0);
  FillSearchKey(fields, values, key.data());
  TRecordField* last = fields.back();
  const bool partial = options.PartialKey && last->Kind() == TValueKind::String;
  int partialLength = -1;
  if (partial) {
    // The last value's length, as far as the field holds it, is what the key compares.
    const std::string* s =
        fields.size() <= values.size() ? std::get_if<std::string>(&values[fields.size() - 1]) : nullptr;
    partialLength = s ? static_cast<int>(std::min<std::size_t>(s->size(), static_cast<std::size_t>(last->Size()))) : 0;
  }
  const int keyFields = static_cast<int>(fields.size()) - (partial ? 1 : 0);

  engine::TDataFile* cursor = SearchCursor(numbers, options.CaseInsensitive);
  bool found = cursor ? FindThroughIndex(*cursor, key.data(), keyFields, partialLength, moveCursor, result)
                      : FindThroughFilter(fields, key.data(), options.CaseInsensitive, partial, result);
  if ((!found || !moveCursor) && cursor != locateClone_.get() && BufferedRecords() > 0) {
    // The search moved the table's cursor: back to the record shown.
    InternalSetToRecord(ActiveBuffer());
  }
  return found;
}

// The search values written into a record buffer through the fields, so that they are converted
// and checked as an assignment would be; missing values are NULL.
void TQuarryDataSet::FillSearchKey(const std::vector<TRecordField*>& fields, const std::vector<TFieldValue>& values,
                                   std::uint8_t* key) {
  Eng([&] { handle_->InitRecord(key); });
  RunInState(TDataSetMode::Filter, key, [&] {
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i]->SetValue(i < values.size() ? values[i] : TFieldValue{});
  });
}

// The cursor to search with: (a) the table's own when the fields lead its current index, (b) a
// second cursor on another index that they lead, kept for the next search over the same fields;
// null when no index serves them or the table is Exclusive.
engine::TDataFile* TQuarryDataSet::SearchCursor(const std::vector<int>& numbers, bool caseInsensitive) {
  std::vector<int> current = CurrentKeyFields();
  bool ownIndex = current.size() >= numbers.size() && std::equal(numbers.begin(), numbers.end(), current.begin());
  if (ownIndex && caseInsensitive) {
    ownIndex = handle_->IndexFile().GetIndexDescriptor(handle_->CursorIndex()).CaseInsensitive;
  }
  if (ownIndex) return handle_.get();
  // An Exclusive table cannot lend a second cursor; the filter search answers there instead.
  if (handle_->Exclusive()) return nullptr;
  int index = IndexForFields(numbers, caseInsensitive);
  if (index < 0 || handle_->RangeActive()) return nullptr;
  if (!locateClone_ || cloneFields_ != numbers || cloneCase_ != caseInsensitive) {
    DropLocateClone();
    locateClone_ = Eng([&] { return handle_->CloneCursor(); });
    Eng([&] { locateClone_->SelectIndex(index); });
    cloneFields_ = numbers;
    cloneCase_ = caseInsensitive;
  } else {
    Eng([&] { locateClone_->Refresh(); });
  }
  return locateClone_.get();
}

bool TQuarryDataSet::FindThroughIndex(engine::TDataFile& cursor, const std::uint8_t* key, int keyFields,
                                      int partialLength, bool moveCursor, std::vector<std::uint8_t>& result) {
  bool found = Eng([&] { return cursor.FindKey(key, false, true, keyFields, partialLength, result.data()); });
  if (found && &cursor != handle_.get() && moveCursor) {
    found = Eng([&] { return handle_->GotoCurrentOf(cursor); }) == 0;
    if (found) Eng([&] { return handle_->GetCurrent(result.data(), false); });
  }
  if (&cursor == handle_.get() || moveCursor) CursorMoved();
  return found;
}

// (c) No index: a filter comparing each field for equality, joined by AND, on the table's own
// cursor. The values are taken from the key buffer, so they are what the fields hold.
bool TQuarryDataSet::FindThroughFilter(const std::vector<TRecordField*>& fields, std::uint8_t* key,
                                       bool caseInsensitive, bool partial, std::vector<std::uint8_t>& result) {
  std::vector<std::string> names;
  std::vector<sql::TFilterValue> wanted;
  for (TRecordField* f : fields) {
    names.push_back(Eng([&] { return handle_->GetFieldDescriptor(true, f->FieldNo()).FieldName; }));
    wanted.push_back(SearchKeyValue(*f, key));
  }
  sql::TFilterExpr expr(sql::FilterFieldsOf(*handle_), handle_->Formats());
  std::vector<std::uint8_t> canned = expr.Build(names, wanted, caseInsensitive, partial);
  std::shared_ptr<engine::TFilterEvaluator> matches = Eng([&] { return sql::MakeTextFilter(*handle_, canned); });
  std::uint32_t h = Eng([&] { return handle_->AddFilter(matches, nullptr, false); });
  bool found = false;
  try {
    Eng([&] { return handle_->ActivateFilter(h); });
    Eng([&] { handle_->First(); });
    found = Eng([&] { return handle_->Next(result.data()); }) == 0;
  } catch (...) {
    Eng([&] { return handle_->RemoveFilter(h); });
    CursorMoved();
    throw;
  }
  Eng([&] { return handle_->RemoveFilter(h); });
  CursorMoved();
  return found;
}

// A field's value in the key buffer as the filter compares it: dates and times as the engine's
// numbers, everything else as the field reads it.
TFieldValue TQuarryDataSet::SearchKeyValue(TRecordField& f, std::uint8_t* key) {
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(f.DataSize()) + 1, 0);
  if (!Eng([&] { return handle_->GetField(true, f.FieldNo(), key, raw.data()); })) return std::monostate{};
  switch (f.Kind()) {
    case TValueKind::Date:
    case TValueKind::Time: {
      std::int32_t i32 = 0;
      std::memcpy(&i32, raw.data(), 4);
      return std::int64_t{i32};
    }
    case TValueKind::DateTime: {
      double d = 0;
      std::memcpy(&d, raw.data(), 8);
      return d;
    }
    default: {
      TFieldValue v;
      RunInState(TDataSetMode::Filter, key, [&] { v = f.Value(); });
      return v;
    }
  }
}

bool TQuarryDataSet::Locate(const std::string& keyFields, const std::vector<TFieldValue>& keyValues,
                            TSearchOptions options) {
  CheckBrowseMode();
  CursorMoved();
  std::vector<TRecordField*> fields = FieldList(keyFields);
  DoBeforeScroll();
  std::vector<std::uint8_t> result;
  bool found = LocateRecord(fields, keyValues, options, true, result);
  if (found) {
    Resync(true, true);
    DoAfterScroll();
  }
  return found;
}

std::vector<TFieldValue> TQuarryDataSet::Lookup(const std::string& keyFields, const std::vector<TFieldValue>& keyValues,
                                                const std::string& resultFields) {
  CheckBrowseMode();
  CursorMoved();
  std::vector<TRecordField*> fields = FieldList(keyFields);
  std::vector<TRecordField*> wanted = FieldList(resultFields);
  std::vector<TFieldValue> out(wanted.size());
  std::vector<std::uint8_t> result;
  if (!LocateRecord(fields, keyValues, {}, false, result)) return out;
  CalculateFields(result.data());
  RunInState(TDataSetMode::Filter, result.data(), [&] {
    for (std::size_t i = 0; i < wanted.size(); ++i) out[i] = wanted[i]->Value();
  });
  return out;
}

// ---- Key buffers --------------------------------------------------------------------------------

std::int32_t TQuarryDataSet::KeyFieldsAssigned(TKeyIndex index) const {
  std::int32_t n = 0;
  std::memcpy(&n, keyBuffers_[index].data() + 4, 4);
  return n;
}

void TQuarryDataSet::SetKeyFieldsAssigned(TKeyIndex index, std::int32_t count) {
  std::memcpy(keyBuffers_[index].data() + 4, &count, 4);
}

void TQuarryDataSet::SetKeyBufferState(TKeyIndex index, bool clear) {
  CheckBrowseMode();
  keyBuffers_[kiSave] = keyBuffers_[index];
  if (clear) {
    std::fill(keyBuffers_[index].begin(), keyBuffers_[index].begin() + 8, 0);
    Eng([&] { handle_->InitRecord(KeyBuffer(index)); });
  }
  activeKey_ = index;
  SetState(TDataSetMode::SetKey);
}

void TQuarryDataSet::SetKey() {
  SetKeyBufferState(kiLookup, true);
}

void TQuarryDataSet::EditKey() {
  SetKeyBufferState(kiLookup, false);
}

bool TQuarryDataSet::GotoKey() {
  CheckBrowseMode();
  DoBeforeScroll();
  int fields = KeyFieldCount > 0 ? KeyFieldCount : KeyFieldsAssigned(kiLookup);
  std::vector<std::uint8_t> result(bufferSize_, 0);
  bool found =
      Eng([&] { return handle_->FindKey(KeyBuffer(kiLookup), false, KeyExclusive, fields, -1, result.data()); });
  CursorMoved();
  if (!found) {
    if (BufferedRecords() > 0) InternalSetToRecord(ActiveBuffer());
    return false;
  }
  Resync(true, true);
  DoAfterScroll();
  return true;
}

void TQuarryDataSet::GotoNearest() {
  CheckBrowseMode();
  DoBeforeScroll();
  int fields = KeyFieldCount > 0 ? KeyFieldCount : KeyFieldsAssigned(kiLookup);
  std::vector<std::uint8_t> result(bufferSize_, 0);
  Eng([&] { return handle_->FindKey(KeyBuffer(kiLookup), false, true, fields, -1, result.data()); });
  CursorMoved();
  Resync(false, true);
  DoAfterScroll();
}

namespace {
void AssignKeyValues(TQuarryDataSet& ds, const std::vector<int>& keys, const std::vector<TFieldValue>& values) {
  if (values.size() > keys.size()) throw EDatabaseError("Field index out of range");
  for (std::size_t i = 0; i < values.size(); ++i) {
    TRecordField* field = nullptr;
    for (const auto& f : ds.Fields())
      if (f->FieldNo() == keys[i]) field = f.get();
    if (!field) {
      std::string name = ds.Handle()->GetFieldDescriptor(true, keys[i]).FieldName;
      throw EDatabaseError(FormatMessage("Cannot access index field '%s'", name));
    }
    field->SetValue(values[i]);
  }
}
}  // namespace

bool TQuarryDataSet::FindKey(const std::vector<TFieldValue>& values) {
  SetKey();
  AssignKeyValues(*this, CurrentKeyFields(), values);
  return GotoKey();
}

void TQuarryDataSet::FindNearest(const std::vector<TFieldValue>& values) {
  SetKey();
  AssignKeyValues(*this, CurrentKeyFields(), values);
  GotoNearest();
}

void TQuarryDataSet::ApplyRangeBuffers() {
  CheckBrowseMode();
  auto& start = keyBuffers_[kiRangeStart];
  auto& end = keyBuffers_[kiRangeEnd];
  if (Eng([&] { return handle_->RangeActive(); }) && start == keyBuffers_[kiCurRangeStart] &&
      end == keyBuffers_[kiCurRangeEnd])
    return;
  keyBuffers_[kiCurRangeStart] = start;
  keyBuffers_[kiCurRangeEnd] = end;
  Eng([&] {
    handle_->SetRange(KeyBuffer(kiCurRangeStart), false, KeyFieldsAssigned(kiCurRangeStart), KeyBuffer(kiCurRangeEnd),
                      false, KeyFieldsAssigned(kiCurRangeEnd));
  });
  DropLocateClone();
  First();
}

void TQuarryDataSet::CancelRangeBuffers() {
  CheckBrowseMode();
  Eng([&] { handle_->CancelRange(); });
  for (TKeyIndex k : {kiCurRangeStart, kiCurRangeEnd}) {
    std::fill(keyBuffers_[k].begin(), keyBuffers_[k].begin() + 8, 0);
    Eng([&] { handle_->InitRecord(KeyBuffer(k)); });
  }
  DropLocateClone();
  First();
}

// ==== TQuarryBlobStream ==========================================================================

TQuarryBlobStream::TQuarryBlobStream(TQuarryDataSet& dataSet, TRecordField& field, TBlobAccessMode mode)
    : dataSet_(dataSet), field_(field), buffer_(dataSet.StateBuffer()) {
  if (!IsBlobKind(field.Kind())) throw EDatabaseError("Field '" + field.FieldName() + "' is not a BLOB field");
  engine::TDataFile& h = *dataSet.handle_;
  const bool writing = mode != TBlobAccessMode::Read;
  if (writing) {
    if (field.ReadOnly) throw EDatabaseError(FormatMessage(kCannotModify, field.FieldName()));
    if (dataSet.State() != TDataSetMode::Edit && dataSet.State() != TDataSetMode::Insert)
      throw EDatabaseError(kNotEditing);
  }
  if (!buffer_) return;  // an empty dataset: a stream over nothing
  if (!Eng([&] { return h.BlobIsOpen(true, field.FieldNo(), buffer_); })) {
    CheckEngineResult(Eng([&] { return h.OpenBlob(true, field.FieldNo(), writing ? 2 : 1, buffer_); }));
    opened_ = true;
  }
  if (mode == TBlobAccessMode::Write) {
    CheckEngineResult(Eng([&] { return h.TruncateBlob(true, field.FieldNo(), 0, buffer_); }));
    modified_ = true;
  }
}

TQuarryBlobStream::~TQuarryBlobStream() {
  if (!buffer_) return;
  engine::TDataFile* h = dataSet_.handle_.get();
  if (!h) return;
  try {
    if (modified_) {
      // The field keeps its open value until the record is posted or cancelled.
      dataSet_.DataEvent(TDataChange::FieldChange, &field_);
    } else if (opened_) {
      Eng([&] { return h->CloseBlob(true, field_.FieldNo(), buffer_); });
    }
  } catch (const std::exception& e) {
    HandleApplicationException(e);
  }
}

std::uint32_t TQuarryBlobStream::Read(void* buffer, std::uint32_t count) {
  if (!buffer_ || count == 0) return 0;
  std::uint32_t read = 0;
  int code =
      Eng([&] { return dataSet_.handle_->ReadBlob(true, field_.FieldNo(), position_, count, buffer, buffer_, read); });
  if (code == engine::err::kInvalidBlobOffset) return 0;
  if (code != 0 && code != engine::err::kEndOfBlob) CheckEngineResult(code);
  position_ += read;
  return read;
}

std::uint32_t TQuarryBlobStream::Write(const void* buffer, std::uint32_t count) {
  if (!buffer_) throw EDatabaseError(kNotEditing);
  if (count == 0) return 0;
  CheckEngineResult(
      Eng([&] { return dataSet_.handle_->WriteBlob(true, field_.FieldNo(), position_, count, buffer, buffer_); }));
  position_ += count;
  modified_ = true;
  return count;
}

std::int64_t TQuarryBlobStream::Seek(std::int64_t offset, TSeekFrom origin) {
  std::int64_t base = 0;
  if (origin == TSeekFrom::Current) base = position_;
  if (origin == TSeekFrom::End && buffer_) {
    std::uint32_t size = 0;
    CheckEngineResult(Eng([&] { return dataSet_.handle_->GetBlobSize(true, field_.FieldNo(), buffer_, size); }));
    base = size;
  }
  std::int64_t target = std::clamp<std::int64_t>(base + offset, 0, 0xFFFFFFFFLL);
  position_ = static_cast<std::uint32_t>(target);
  return target;
}

// ==== TQuarryDBDataSet ===========================================================================

TQuarryDBDataSet::TQuarryDBDataSet(const void* owner) : owner_(owner) {
  TQuarrySessionList::Instance().RegisterDataset(this);
}

TQuarryDBDataSet::~TQuarryDBDataSet() {
  CloseDatabase();
  TQuarrySessionList::Instance().UnregisterDataset(this);
}

void TQuarryDBDataSet::SetDatabaseName(const std::string& name) {
  if (name == databaseName_) return;
  if (database_) RaiseDatabaseError("Cannot perform this operation on an open database.");
  CheckInactive();
  databaseName_ = name;
  StructureChanged();
}

void TQuarryDBDataSet::SetSessionName(const std::string& name) {
  if (name == sessionName_) return;
  CheckInactive();
  sessionName_ = name;
  StructureChanged();
}

TQuarrySession& TQuarryDBDataSet::Session() const {
  return TQuarrySessionList::Instance().GetSession(sessionName_);
}

std::string TQuarryDBDataSet::OpenDatabase() {
  if (!database_) database_ = &Session().OpenDatabase(databaseName_, this);
  return database_->TableDirectory();
}

void TQuarryDBDataSet::CloseDatabase() {
  if (!database_) return;
  TQuarryDatabase* db = database_;
  database_ = nullptr;
  if (TQuarrySession* s = db->Session()) s->CloseDatabase(*db, this);
}

void TQuarryDBDataSet::DestroyHandle() {
  TQuarryDataSet::DestroyHandle();
  CloseDatabase();
}

// ==== TQuarryTable ===============================================================================

TQuarryTable::TQuarryTable(const void* owner) : TQuarryDBDataSet(owner) {}

TQuarryTable::~TQuarryTable() {
  try {
    Close();
  } catch (...) {
    // Destruction closes quietly; the handle goes with the object either way.
  }
  masterLink_.reset();
}

void TQuarryTable::CheckClosed() const {
  CheckInactive();
}

void TQuarryTable::SetTableName(const std::string& name) {
  if (name == tableName_) return;
  CheckClosed();
  tableName_ = name;
  StructureChanged();
}

void TQuarryTable::SetExclusive(bool value) {
  CheckClosed();
  exclusive_ = value;
}
void TQuarryTable::SetReadOnly(bool value) {
  CheckClosed();
  readOnly_ = value;
}
void TQuarryTable::SetInMemory(bool value) {
  CheckClosed();
  inMemory_ = value;
}
void TQuarryTable::SetStrictChangeDetection(bool value) {
  CheckClosed();
  strict_ = value;
}
void TQuarryTable::SetForceBufferFlush(bool value) {
  CheckClosed();
  forceFlush_ = value;
}
void TQuarryTable::SetLockRetryCount(std::uint8_t value) {
  lockRetryCount_ = value;
  if (handle_) handle_->LockRetryCount = value;
}
void TQuarryTable::SetLockWaitTime(std::uint16_t value) {
  lockWaitTime_ = value;
  if (handle_) handle_->LockWaitTime = value;
}

std::string TQuarryTable::TablePath() {
  std::string dir = Trim(OpenDatabase());
  if (!Active() && !handle_) CloseDatabase();
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  return dir + tableName_;
}

std::unique_ptr<engine::TDataFile> TQuarryTable::CreateHandle() {
  if (tableName_.empty()) throw EDatabaseError("Missing table name.");
  std::string dir = Trim(OpenDatabase());
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  std::string path = dir + tableName_;
  auto handle = std::make_unique<engine::TDataFile>();
  try {
    Eng([&] {
      handle->SetFileName(path);
      handle->SetExclusive(exclusive_);
      handle->SetReadOnly(readOnly_);
      handle->SetInMemory(inMemory_);
      handle->SetStrictChangeDetection(strict_);
      handle->SetForceBufferFlush(forceFlush_);
      handle->LockRetryCount = lockRetryCount_;
      handle->LockWaitTime = lockWaitTime_;
      handle->SetPasswordCallback(Session().PasswordCallback());
      try {
        handle->Open();
      } catch (...) {
        handle->SetPasswordCallback(nullptr);
        throw;
      }
      handle->SetPasswordCallback(nullptr);
    });
  } catch (...) {
    CloseDatabase();
    throw;
  }
  // A file that could only be opened read-only makes the table read-only.
  readOnly_ = handle->ReadOnly();
  return handle;
}

void TQuarryTable::SelectInitialIndex() {
  std::string name = indexFieldNames_.empty() ? indexName_ : IndexNameForFields(indexFieldNames_);
  Eng([&] { handle_->SelectIndex(name); });
}

std::string TQuarryTable::IndexNameForFields(const std::string& fields) {
  BuildIndexDefs();
  std::string wanted = JoinFieldList(fields);
  for (const TIndexSpec& d : indexDefs_)
    if (EqualIgnoringCase(d.Fields, wanted)) return d.Name;
  throw EDatabaseError(FormatMessage("No index for fields '%s'", fields));
}

std::unique_ptr<engine::TDataFile> TQuarryTable::OpenTemporaryHandle() {
  bool savedExclusive = exclusive_;
  bool savedReadOnly = readOnly_;
  exclusive_ = false;
  std::unique_ptr<engine::TDataFile> h;
  try {
    h = CreateHandle();
  } catch (...) {
    exclusive_ = savedExclusive;
    readOnly_ = savedReadOnly;
    throw;
  }
  exclusive_ = savedExclusive;
  readOnly_ = savedReadOnly;
  return h;
}

std::vector<TIndexSpec>& TQuarryTable::GetIndexDefs() {
  if (Active()) {
    if (!indexDefsRead_) BuildIndexDefs();
  } else if (!indexDefsRead_) {
    handle_ = OpenTemporaryHandle();
    try {
      BuildIndexDefs();
    } catch (...) {
      DestroyHandle();
      throw;
    }
    DestroyHandle();
  }
  indexDefsRead_ = true;
  return indexDefs_;
}

std::vector<TFieldSpec>& TQuarryTable::GetFieldDefs() {
  if (!Active()) {
    handle_ = OpenTemporaryHandle();
    try {
      BuildFieldDefs();
    } catch (...) {
      DestroyHandle();
      throw;
    }
    DestroyHandle();
  }
  return fieldDefs_;
}

void TQuarryTable::SwitchIndex(const std::string& name, bool byFields) {
  CheckBrowseMode();
  std::string engineName = byFields ? (name.empty() ? std::string() : IndexNameForFields(name)) : name;
  if (BufferedRecords() > 0) InternalSetToRecord(ActiveBuffer());
  Eng([&] { handle_->SelectIndex(engineName); });
  keySize_ = handle_->KeySize();
  DropLocateClone();
  CursorMoved();
  if (masterLink_ && masterLink_->Active()) MasterChanged();
  Resync(false, false);
}

void TQuarryTable::SetIndexName(const std::string& name) {
  const bool changed = name != indexName_ || !indexFieldNames_.empty();
  if (Active() && changed) SwitchIndex(name, false);
  indexName_ = name;
  indexFieldNames_.clear();
}

void TQuarryTable::SetIndexFieldNames(const std::string& names) {
  const bool changed = names != indexFieldNames_ || !indexName_.empty();
  if (Active() && changed) SwitchIndex(names, true);
  indexFieldNames_ = names;
  indexName_.clear();
}

void TQuarryTable::InternalInitRecord(std::uint8_t* buffer) {
  TQuarryDataSet::InternalInitRecord(buffer);
  if (!masterLink_ || !masterLink_->Active()) return;
  std::vector<TRecordField*> master = masterLink_->MasterFieldList();
  std::vector<int> keys = CurrentKeyFields();
  RunInState(TDataSetMode::Filter, buffer, [&] {
    for (std::size_t i = 0; i < master.size() && i < keys.size(); ++i)
      FieldByNumber(keys[i]).SetValue(master[i]->Value());
  });
}

// ---- Ranges -------------------------------------------------------------------------------------

void TQuarryTable::SetRangeStart() {
  SetKeyBufferState(kiRangeStart, true);
}
void TQuarryTable::SetRangeEnd() {
  SetKeyBufferState(kiRangeEnd, true);
}
void TQuarryTable::EditRangeStart() {
  SetKeyBufferState(kiRangeStart, false);
}
void TQuarryTable::EditRangeEnd() {
  SetKeyBufferState(kiRangeEnd, false);
}
void TQuarryTable::ApplyRange() {
  ApplyRangeBuffers();
}
void TQuarryTable::CancelRange() {
  CancelRangeBuffers();
}

void TQuarryTable::SetRange(const std::vector<TFieldValue>& startValues, const std::vector<TFieldValue>& endValues) {
  std::vector<int> keys = CurrentKeyFields();
  SetRangeStart();
  AssignKeyValues(*this, keys, startValues);
  SetRangeEnd();
  AssignKeyValues(*this, keys, endValues);
  ApplyRange();
}

// ---- Master/detail ------------------------------------------------------------------------------

TDataFeed* TQuarryTable::MasterSource() const {
  return masterLink_ ? masterLink_->DataSource() : nullptr;
}

void TQuarryTable::SetMasterSource(TDataFeed* source) {
  if (source && source->DataSet() == this) throw EDatabaseError("Circular datalinks are not allowed");
  if (!masterLink_) masterLink_ = std::make_unique<TQuarryMasterDataLink>(*this);
  masterLink_->SetDataSource(source);
}

void TQuarryTable::SetMasterFields(const std::string& fields) {
  masterFields_ = fields;
  if (Active() && masterLink_ && masterLink_->Active()) MasterChanged();
}

void TQuarryTable::MasterChanged() {
  if (!Active() || masterFields_.empty()) return;
  std::vector<TFieldValue> values;
  for (TRecordField* f : masterLink_->MasterFieldList()) values.push_back(f->Value());
  SetRange(values, values);
}

std::vector<TRecordField*> TQuarryMasterDataLink::MasterFieldList() const {
  TDataSet* master = DataSet();
  if (!master) return {};
  return master->FieldList(detail_.MasterFields());
}

void TQuarryMasterDataLink::ActiveChanged() {
  if (Active() && detail_.Active()) RecordChanged(nullptr);
}

void TQuarryMasterDataLink::RecordChanged(TRecordField*) {
  if (!Active() || !detail_.Active() || detail_.MasterFields().empty()) return;
  TDataSet* master = DataSet();
  if (master->State() != TDataSetMode::Browse) return;
  // Only a change of the master's key values re-applies the range.
  std::vector<std::uint8_t> key;
  for (TRecordField* f : MasterFieldList()) {
    std::string s = f->IsNull() ? std::string("\x01") : "\x02" + f->AsString();
    key.insert(key.end(), s.begin(), s.end());
    key.push_back(0);
  }
  if (key == lastKey_) return;
  lastKey_ = key;
  detail_.MasterChanged();
}

}  // namespace quillon::dataset
