// The query component (see quarry_query.h).
#include "dataset/quarry_query.h"

#include <cmath>

#include "dataset/engine_error.h"
#include "dataset/sql/data_query.h"
#include "dataset/sql/expr_evaluator.h"
#include "engine/field_codec.h"
#include "engine/field_types.h"
#include "util/text.h"

namespace quillon::dataset {

namespace {

constexpr char kNoStatement[] = "No SQL statement available";
constexpr char kOpenDataset[] = "Cannot perform this operation on an open dataset";
constexpr char kNoValue[] = "No value for parameter '%s'";
constexpr char kUnknownType[] = "Field '%s' is of unknown type";
constexpr char kUnsupportedType[] = "Field '%s' is of an unsupported type";
constexpr std::size_t kMaxParamName = 30;

bool EndsName(char c) {
  return c == '\r' || c == '\n' || c == ' ' || c == ')' || c == ',' || c == ';';
}

double AsNumber(const TFieldValue& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* s = std::get_if<std::string>(&v)) {
    try {
      return std::stod(*s);
    } catch (const std::exception&) {
      RaiseDatabaseError("'" + *s + "' is not a valid number");
    }
  }
  return 0;
}

std::string AsText(const TFieldValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", *d);
    return buffer;
  }
  return "";
}

// A parameter's value in the form the statement takes.
sql::TSqlValue SqlValueOf(const TQuarryParam& p) {
  using engine::TFieldType;
  if (p.IsNull || IsNull(p.Value)) return sql::TSqlValue::Null();
  const int type = ParamEngineType(p);
  constexpr std::int32_t kEpoch = engine::kDayNumberOf18991230;
  switch (static_cast<TFieldType>(type)) {
    case TFieldType::String:
    case TFieldType::Blob:
      return sql::TSqlValue::String(AsText(p.Value));
    case TFieldType::Boolean:
      return sql::TSqlValue::Boolean(AsNumber(p.Value) != 0);
    case TFieldType::Float:
      return sql::TSqlValue::Float(AsNumber(p.Value));
    case TFieldType::Bcd:
      return sql::TSqlValue::Integer(static_cast<std::int64_t>(std::llround(AsNumber(p.Value) * 10000.0)), type);
    case TFieldType::Date:
      return sql::TSqlValue::Integer(kEpoch + static_cast<std::int64_t>(std::floor(AsNumber(p.Value))), type);
    case TFieldType::Time: {
      double d = AsNumber(p.Value);
      return sql::TSqlValue::Integer(std::llround((d - std::floor(d)) * engine::kMsPerDay), type);
    }
    case TFieldType::TimeStamp:
      return sql::TSqlValue::Float(std::round((AsNumber(p.Value) + kEpoch) * engine::kMsPerDay), type);
    default:
      return sql::TSqlValue::Integer(static_cast<std::int64_t>(std::trunc(AsNumber(p.Value))), type);
  }
}

}  // namespace

void TQuarryParam::SetValue(const TFieldValue& value, TValueKind type) {
  Value = value;
  DataType = type;
  DataTypeSet = true;
  IsNull = quillon::dataset::IsNull(value);
}

TQuarryParam& TQuarryParams::Add(const std::string& name) {
  items_.push_back(std::make_unique<TQuarryParam>(this));
  items_.back()->Name = name;
  return *items_.back();
}

TQuarryParam* TQuarryParams::FindParam(const std::string& name) {
  for (auto& p : items_) {
    if (p->Name == name) return p.get();
  }
  return nullptr;
}

void TQuarryParams::AssignValues(const TQuarryParams& other) {
  for (auto& p : items_) {
    for (const auto& q : other.items_) {
      if (q->Name != p->Name) continue;
      p->Value = q->Value;
      p->DataType = q->DataType;
      p->DataTypeSet = q->DataTypeSet;
      p->IsNull = q->IsNull;
      p->ParamType = q->ParamType;
      p->Bound = q->Bound;
      break;
    }
  }
}

std::string ParseParameterText(const std::string& text, std::vector<std::string>& names) {
  std::string out;
  char quote = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      out += c;
      ++i;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      out += c;
      ++i;
      continue;
    }
    if (c != ':') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == ':') {
      out += ':';
      i += 2;
      continue;
    }
    std::size_t j = i + 1;
    std::string name;
    if (j < text.size() && (text[j] == '\'' || text[j] == '"')) {
      const char q = text[j];
      std::size_t end = text.find(q, j + 1);
      if (end == std::string::npos) end = text.size();
      name = text.substr(j + 1, end - j - 1);
      j = end < text.size() ? end + 1 : end;
    } else {
      while (j < text.size() && !EndsName(text[j])) ++j;
      name = text.substr(i + 1, j - i - 1);
    }
    if (name.empty()) {
      // A lone colon is no parameter.
      out += ':';
      ++i;
      continue;
    }
    names.push_back(name);
    out += '?';
    i = j;
  }
  return out;
}

int ParamBoundSize(const TQuarryParam& p) {
  if (!p.DataTypeSet) RaiseDatabaseError(FormatMessage(kUnknownType, p.Name));
  switch (p.DataType) {
    case TValueKind::String:
    case TValueKind::Memo:
      return static_cast<int>(AsText(p.Value).size()) + 1;
    case TValueKind::Smallint:
    case TValueKind::Word:
    case TValueKind::Boolean:
      return 2;
    case TValueKind::Integer:
    case TValueKind::Date:
    case TValueKind::Time:
    case TValueKind::AutoInc:
      return 4;
    case TValueKind::Float:
    case TValueKind::Currency:
    case TValueKind::BCD:
    case TValueKind::DateTime:
      return 8;
    default:
      RaiseDatabaseError(FormatMessage(kUnsupportedType, p.Name));
  }
}

int ParamEngineType(const TQuarryParam& p) {
  using engine::TFieldType;
  switch (p.DataType) {
    case TValueKind::String:
      return static_cast<int>(TFieldType::String);
    case TValueKind::Smallint:
      return static_cast<int>(TFieldType::SmallInt);
    case TValueKind::Integer:
    case TValueKind::AutoInc:
      return static_cast<int>(TFieldType::Integer);
    case TValueKind::Word:
      return static_cast<int>(TFieldType::Word);
    case TValueKind::Boolean:
      return static_cast<int>(TFieldType::Boolean);
    case TValueKind::Float:
    case TValueKind::Currency:
      return static_cast<int>(TFieldType::Float);
    case TValueKind::BCD:
      return static_cast<int>(TFieldType::Bcd);
    case TValueKind::Date:
      return static_cast<int>(TFieldType::Date);
    case TValueKind::Time:
      return static_cast<int>(TFieldType::Time);
    case TValueKind::DateTime:
      return static_cast<int>(TFieldType::TimeStamp);
    case TValueKind::Bytes:
      return static_cast<int>(TFieldType::Bytes);
    case TValueKind::VarBytes:
      return static_cast<int>(TFieldType::VarBytes);
    case TValueKind::Blob:
    case TValueKind::Memo:
      return static_cast<int>(TFieldType::Blob);
    default:
      RaiseDatabaseError(FormatMessage(kNoValue, p.Name));
  }
}

TQuarryQuery::TQuarryQuery(const void* owner) : TQuarryDBDataSet(owner) {}

TQuarryQuery::~TQuarryQuery() {
  try {
    Close();
  } catch (...) {
    // Destruction closes quietly.
  }
  Unprepare();
}

std::string TQuarryQuery::SQLText() const {
  std::string text;
  for (std::size_t i = 0; i < sql_.size(); ++i) {
    if (i) text += kCrLf;
    text += sql_[i];
  }
  return text;
}

void TQuarryQuery::SetSQLText(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  SetSQL(lines);
}

void TQuarryQuery::SetSQL(const std::vector<std::string>& lines) {
  if (lines == sql_) return;
  sql_ = lines;
  Close();
  Unprepare();
  const std::string text = SQLText();
  if (!ParamCheck) {
    parsedText_ = text;
    return;
  }
  std::vector<std::string> names;
  std::string parsed = ParseParameterText(text, names);
  TQuarryParams fresh;
  for (const std::string& name : names) fresh.Add(name);
  fresh.AssignValues(params_);
  params_.Clear();
  for (std::size_t i = 0; i < fresh.Count(); ++i) {
    TQuarryParam& p = params_.Add(fresh.Items(i).Name);
    const TQuarryParam& q = fresh.Items(i);
    p.Value = q.Value;
    p.DataType = q.DataType;
    p.DataTypeSet = q.DataTypeSet;
    p.IsNull = q.IsNull;
    p.ParamType = q.ParamType;
    p.Bound = q.Bound;
  }
  parsedText_ = parsed;
}

TQuarryParam& TQuarryQuery::ParamNamed(const std::string& name) {
  TQuarryParam* p = params_.FindParam(name);
  if (!p) RaiseDatabaseError(FormatMessage("Parameter '%s' not found", name));
  return *p;
}

bool TQuarryQuery::HiddenField(const engine::TFieldDescriptor& field) const {
  return statement_ && (field.FieldName == "Row___No" || field.FieldName == "Avg__Count");
}

void TQuarryQuery::Prepare() {
  if (statement_) return;
  if (handle_) RaiseDatabaseError(kOpenDataset);
  if (Trim(parsedText_).size() < 2) RaiseDatabaseError(kNoStatement);
  std::string dir = Trim(Database() ? Database()->TableDirectory() : std::string());
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  sql::TQuerySettings settings;
  settings.StrictChangeDetection = StrictChangeDetection;
  settings.LockRetryCount = LockRetryCount;
  settings.LockWaitTime = LockWaitTime;
  settings.RequestLive = RequestLive;
  settings.DatabaseDirectory = dir;
  settings.PasswordCallback = Session().PasswordCallback();
  auto statement = std::make_unique<sql::TDataQuery>();
  EngineCall([&] { statement->Open(parsedText_, settings); });
  statement_ = std::move(statement);
}

void TQuarryQuery::Unprepare() {
  statement_.reset();
}

void TQuarryQuery::SetDataSource(TDataFeed* source) {
  if (source && source->DataSet() == this) RaiseDatabaseError("Circular datalinks are not allowed");
  masterLink_.SetDataSource(source);
}

void TQuarryQuery::TakeMasterValues() {
  TDataSet* master = masterLink_.DataSet();
  if (!master || !master->Active()) return;
  for (std::size_t i = 0; i < params_.Count(); ++i) {
    TQuarryParam& p = params_.Items(i);
    if (p.DataTypeSet && !p.Bound) continue;  // set by the program: kept
    TRecordField& field = master->FieldNamed(p.Name);
    p.SetValue(field.Value(), field.Kind());
    p.Bound = true;
  }
}

void TQuarryQuery::MasterMoved() {
  TDataSet* master = masterLink_.DataSet();
  if (!Active() || !master || !master->Active() || master->State() == TDataSetMode::SetKey) return;
  Close();
  Open();
}

engine::TDataFile* TQuarryQuery::Run() {
  try {
    Prepare();
    TakeMasterValues();
    if (params_.Count() > 0) {
      for (std::size_t i = 0; i < params_.Count(); ++i) {
        const TQuarryParam& p = params_.Items(i);
        if (p.Name.size() > kMaxParamName) RaiseDatabaseError(FormatMessage(kNoValue, p.Name));
        ParamBoundSize(p);
        sql::TSqlValue value = SqlValueOf(p);
        EngineCall([&] { statement_->BindParameter(i, value); });
      }
    }
    sql::TQueryProgress progress;
    if (OnQueryProgress) {
      progress = [this](int record, int percent, bool& abort) {
        bool stop = false;
        OnQueryProgress(*this, record, static_cast<std::uint16_t>(percent), stop);
        abort = stop;
      };
    }
    return EngineCall([&] { return statement_->Execute(progress); });
  } catch (...) {
    Unprepare();
    throw;
  }
}

std::unique_ptr<engine::TDataFile> TQuarryQuery::CreateHandle() {
  OpenDatabase();
  try {
    if (sql_.empty()) RaiseDatabaseError(kNoStatement);
    engine::TDataFile* result = Run();
    if (!result) RaiseDatabaseError("The statement gives no result set; run it with RunStatement");
    // The statement keeps owning the cursor; DestroyHandle lets go of it without freeing it.
    return std::unique_ptr<engine::TDataFile>(result);
  } catch (...) {
    Unprepare();
    CloseDatabase();
    throw;
  }
}

void TQuarryQuery::DestroyHandle() {
  (void)handle_.release();
  TQuarryDBDataSet::DestroyHandle();
  Unprepare();
}

void TQuarryQuery::RunStatement() {
  if (Active()) RaiseDatabaseError(kOpenDataset);
  OpenDatabase();
  try {
    if (sql_.empty()) RaiseDatabaseError(kNoStatement);
    Run();
  } catch (...) {
    Unprepare();
    CloseDatabase();
    throw;
  }
  Unprepare();
  CloseDatabase();
}

}  // namespace quillon::dataset
