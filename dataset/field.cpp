// Field values: the table store's encoding of each kind, both ways, and the conversions between
// the typed accessors.
#include "dataset/field.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "dataset/data_set.h"
#include "engine/field_codec.h"
#include "util/text.h"

namespace quillon::dataset {

namespace {

// The table store counts days from 0001-01-01 (day 1); field values count them from 1899-12-30.
constexpr std::int32_t kDay18991230 = 693594;

constexpr const char* kKindNames[] = {"String",   "Date",     "Memo",     "FmtMemo", "Graphic",   "TypedBinary",
                                      "Blob",     "Boolean",  "Smallint", "AutoInc", "Integer",   "Currency",
                                      "Float",    "BCD",      "Bytes",    "Time",    "DateTime",  "Word",
                                      "VarBytes", "Largeint", "ADT",      "Array",   "Reference", "DataSet"};

template <class T>
T Load(const void* data) {
  T v;
  std::memcpy(&v, data, sizeof v);
  return v;
}

std::string TwoDigits(int v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", v);
  return text;
}

std::string DateText(std::int32_t day) {
  int y, m, d;
  if (!engine::DecodeDate(day, y, m, d)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return text;
}

std::string TimeText(std::int32_t ms) {
  int s = ms / 1000;
  return TwoDigits(s / 3600) + ":" + TwoDigits(s / 60 % 60) + ":" + TwoDigits(s % 60);
}

[[noreturn]] void ConversionError(const TRecordField& f, const char* to) {
  throw EDatabaseError("Field '" + f.FieldName() + "' cannot be converted to " + to);
}

}  // namespace

const char* FieldKindName(TValueKind kind) {
  return kKindNames[static_cast<int>(kind)];
}

bool IsBlobKind(TValueKind kind) {
  switch (kind) {
    case TValueKind::Memo:
    case TValueKind::FmtMemo:
    case TValueKind::Graphic:
    case TValueKind::TypedBinary:
    case TValueKind::Blob:
      return true;
    default:
      return false;
  }
}

std::string TBlobValueStream::ReadAll() {
  std::string text;
  char chunk[4096];
  for (;;) {
    std::uint32_t n = Read(chunk, sizeof chunk);
    text.append(chunk, n);
    if (n < sizeof chunk) return text;
  }
}

TRecordField::TRecordField(TDataSet& dataSet, std::string name, TValueKind kind, int size, int fieldNo)
    : dataSet_(dataSet), name_(std::move(name)), kind_(kind), size_(size), fieldNo_(fieldNo) {}

int TRecordField::DataSize() const {
  switch (kind_) {
    case TValueKind::String:
      return size_ + 1;
    case TValueKind::Boolean:
    case TValueKind::Smallint:
    case TValueKind::Word:
      return 2;
    case TValueKind::Date:
    case TValueKind::Time:
    case TValueKind::AutoInc:
    case TValueKind::Integer:
      return 4;
    case TValueKind::Currency:
    case TValueKind::Float:
    case TValueKind::BCD:
    case TValueKind::DateTime:
    case TValueKind::Largeint:
      return 8;
    default:
      return IsBlobKind(kind_) ? 4 : size_;
  }
}

int TRecordField::DisplayWidth() const {
  if (displayWidth_ > 0) return displayWidth_;
  switch (kind_) {
    case TValueKind::String:
      return size_;
    case TValueKind::Boolean:
      return 5;
    case TValueKind::Date:
    case TValueKind::Time:
      return 10;
    case TValueKind::DateTime:
      return 19;
    default:
      return IsBlobKind(kind_) ? 10 : 10;
  }
}

bool TRecordField::GetData(void* data) const {
  return dataSet_.GetFieldData(*this, data);
}

void TRecordField::SetData(const void* data) {
  dataSet_.SetFieldData(*this, data);
}

bool TRecordField::IsNull() const {
  if (IsBlobKind(kind_)) return Value().index() == 0;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(DataSize()) + 1, 0);
  return !GetData(raw.data());
}

TFieldValue TRecordField::Decode(const void* data) const {
  switch (kind_) {
    case TValueKind::String:
      return std::string(static_cast<const char*>(data));
    case TValueKind::Boolean:
      return Load<std::uint16_t>(data) != 0;
    case TValueKind::Smallint:
      return static_cast<std::int64_t>(Load<std::int16_t>(data));
    case TValueKind::Word:
      return static_cast<std::int64_t>(Load<std::uint16_t>(data));
    case TValueKind::AutoInc:
    case TValueKind::Integer:
      if (Unsigned) return static_cast<std::int64_t>(Load<std::uint32_t>(data));
      return static_cast<std::int64_t>(Load<std::int32_t>(data));
    case TValueKind::Largeint:
      return Load<std::int64_t>(data);
    case TValueKind::Float:
    case TValueKind::Currency:
      return Load<double>(data);
    case TValueKind::BCD: {
      std::int64_t fixed4 = 0;
      engine::DecodeBcd(Load<std::int64_t>(data), fixed4);
      return static_cast<double>(fixed4) / 10000.0;
    }
    case TValueKind::Date:
      return static_cast<double>(Load<std::int32_t>(data) - kDay18991230);
    case TValueKind::Time:
      return static_cast<double>(Load<std::int32_t>(data)) / engine::kMsPerDay;
    case TValueKind::DateTime:
      return Load<double>(data) / engine::kMsPerDay - kDay18991230;
    default:
      return std::string(static_cast<const char*>(data), static_cast<std::size_t>(DataSize()));
  }
}

TFieldValue TRecordField::Value() const {
  if (IsBlobKind(kind_)) {
    std::unique_ptr<TBlobValueStream> stream =
        dataSet_.OpenBlobStream(const_cast<TRecordField&>(*this), TBlobAccessMode::Read);
    std::string text = stream->ReadAll();
    if (text.empty()) return TFieldValue{};
    return text;
  }
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(DataSize()) + 1, 0);
  if (!GetData(raw.data())) return TFieldValue{};
  return Decode(raw.data());
}

TFieldValue TRecordField::OldValue() const {
  // A brief internal state: no link hears of it.
  TDataSet& ds = dataSet_;
  TDataSetMode saved = ds.state_;
  ds.state_ = TDataSetMode::OldValue;
  try {
    TFieldValue v = Value();
    ds.state_ = saved;
    return v;
  } catch (...) {
    ds.state_ = saved;
    throw;
  }
}

namespace {

// A number written to a numeric field: booleans count as 0 and 1, floats are rounded, texts parsed.
std::int64_t IntegerOf(const TFieldValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (const auto* d = std::get_if<double>(&value)) return static_cast<std::int64_t>(std::llround(*d));
  std::int64_t v = 0;
  if (!engine::ParseInteger(std::get<std::string>(value), std::numeric_limits<std::int64_t>::min(),
                            std::numeric_limits<std::int64_t>::max(), v))
    throw EDatabaseError("'" + std::get<std::string>(value) + "' is not a valid integer value");
  return v;
}

double FloatOf(const TFieldValue& value) {
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
  double v = 0;
  if (!engine::ParseFloat(std::get<std::string>(value), engine::DefaultFormats(), v))
    throw EDatabaseError("'" + std::get<std::string>(value) + "' is not a valid floating point value");
  return v;
}

[[noreturn]] void OutOfRange(const std::string& fieldName) {
  throw EDatabaseError("Value of field '" + fieldName + "' is out of range");
}

std::int64_t InRange(const std::string& fieldName, std::int64_t v, std::int64_t low, std::int64_t high) {
  if (v < low || v > high) OutOfRange(fieldName);
  return v;
}

template <class T>
void Store(std::uint8_t* raw, T v) {
  std::memcpy(raw, &v, sizeof v);
}

// Any value reads as text; what does not fit the field's size is cut off.
void StoreString(const TFieldValue& value, int size, std::uint8_t* raw) {
  std::string s;
  if (const auto* text = std::get_if<std::string>(&value)) {
    s = *text;
  } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
    s = std::to_string(*i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    char number[64];
    std::snprintf(number, sizeof number, "%.15g", *d);
    s = number;
  } else if (const auto* b = std::get_if<bool>(&value)) {
    s = *b ? "True" : "False";
  }
  if (s.size() > static_cast<std::size_t>(size)) s.resize(static_cast<std::size_t>(size));
  std::memcpy(raw, s.data(), s.size());
}

void StoreBoolean(const TFieldValue& value, std::uint8_t* raw) {
  std::uint16_t b;
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (EqualIgnoringCase(*s, "True"))
      b = 1;
    else if (EqualIgnoringCase(*s, "False"))
      b = 0;
    else
      throw EDatabaseError("'" + *s + "' is not a valid boolean value");
  } else {
    b = IntegerOf(value) != 0 ? 1 : 0;
  }
  Store(raw, b);
}

// A BCD value is held as a fixed-point number with four decimals before it is packed.
void StoreBcd(const TFieldValue& value, const std::string& fieldName, int size, std::uint8_t* raw) {
  std::int64_t fixed4 = 0, stored = 0;
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (!engine::ParseFixed4(*s, engine::DefaultFormats(), fixed4))
      throw EDatabaseError("'" + *s + "' is not a valid BCD value");
  } else {
    double d = FloatOf(value) * 10000.0;
    if (!(std::fabs(d) < 9.2e18)) OutOfRange(fieldName);
    fixed4 = std::llround(d);
  }
  if (!engine::EncodeBcd(fixed4, size, stored)) OutOfRange(fieldName);
  Store(raw, stored);
}

// Days since 1899-12-30 with the time of day as the fraction, from a number or a date/time text.
double DaysOf(const TFieldValue& value, TValueKind kind) {
  const auto* s = std::get_if<std::string>(&value);
  if (!s) return FloatOf(value);
  const auto& formats = engine::DefaultFormats();
  std::int32_t day = 0, ms = 0;
  double stamp = 0;
  bool ok = kind == TValueKind::Date   ? engine::ParseDate(*s, formats, day)
            : kind == TValueKind::Time ? engine::ParseTime(*s, formats, ms)
                                       : engine::ParseDateTime(*s, formats, stamp);
  if (!ok) throw EDatabaseError("'" + *s + "' is not a valid date and time");
  return kind == TValueKind::Date   ? day - kDay18991230
         : kind == TValueKind::Time ? static_cast<double>(ms) / engine::kMsPerDay
                                    : stamp / engine::kMsPerDay - kDay18991230;
}

void StoreDateTime(const TFieldValue& value, TValueKind kind, const std::string& fieldName, std::uint8_t* raw) {
  double days = DaysOf(value, kind);
  // NaN and the infinities are no moment: a time would keep them as midnight, a timestamp as
  // bytes no reader decodes.
  if (!std::isfinite(days)) OutOfRange(fieldName);
  if (kind == TValueKind::Date) {
    // Checked as a double, so that no day number outside the calendar is cast to an integer.
    double day = std::floor(days) + kDay18991230;
    if (!(day >= 1 && day <= 3652059)) OutOfRange(fieldName);
    Store(raw, static_cast<std::int32_t>(day));
  } else if (kind == TValueKind::Time) {
    double frac = days - std::floor(days);
    Store(raw, static_cast<std::int32_t>(std::llround(frac * engine::kMsPerDay)) % engine::kMsPerDay);
  } else {
    Store(raw, std::round((days + kDay18991230) * engine::kMsPerDay));
  }
}

}  // namespace

void TRecordField::SetValue(const TFieldValue& value) {
  if (IsBlobKind(kind_)) {
    std::string text;
    if (const auto* s = std::get_if<std::string>(&value))
      text = *s;
    else if (!quillon::dataset::IsNull(value))
      ConversionError(*this, "BLOB");
    std::unique_ptr<TBlobValueStream> stream = dataSet_.OpenBlobStream(*this, TBlobAccessMode::Write);
    if (!text.empty()) stream->Write(text.data(), static_cast<std::uint32_t>(text.size()));
    return;
  }
  if (quillon::dataset::IsNull(value)) {
    SetData(nullptr);
    return;
  }
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(DataSize()) + 1, 0);
  EncodeValue(value, raw.data());
  SetData(raw.data());
}

// The value in the field's record layout; raw holds DataSize() zero bytes on entry.
void TRecordField::EncodeValue(const TFieldValue& value, std::uint8_t* raw) const {
  switch (kind_) {
    case TValueKind::String:
      return StoreString(value, size_, raw);
    case TValueKind::Boolean:
      return StoreBoolean(value, raw);
    case TValueKind::Smallint:
      return Store(raw, static_cast<std::int16_t>(InRange(name_, IntegerOf(value), -32768, 32767)));
    case TValueKind::Word:
      return Store(raw, static_cast<std::uint16_t>(InRange(name_, IntegerOf(value), 0, 65535)));
    case TValueKind::AutoInc:
    case TValueKind::Integer: {
      std::int64_t v = Unsigned ? InRange(name_, IntegerOf(value), 0, 4294967295LL)
                                : InRange(name_, IntegerOf(value), INT32_MIN, INT32_MAX);
      return Store(raw, static_cast<std::uint32_t>(v));
    }
    case TValueKind::Largeint:
      return Store(raw, IntegerOf(value));
    case TValueKind::Float:
    case TValueKind::Currency:
      return Store(raw, FloatOf(value));
    case TValueKind::BCD:
      return StoreBcd(value, name_, size_, raw);
    case TValueKind::Date:
    case TValueKind::Time:
    case TValueKind::DateTime:
      return StoreDateTime(value, kind_, name_, raw);
    default: {
      const auto* s = std::get_if<std::string>(&value);
      if (s) std::memcpy(raw, s->data(), std::min<std::size_t>(s->size(), static_cast<std::size_t>(DataSize())));
      return;
    }
  }
}

std::string TRecordField::AsString() const {
  TFieldValue v = Value();
  if (quillon::dataset::IsNull(v)) return {};
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  double d = std::get<double>(v);
  switch (kind_) {
    case TValueKind::Date:
      return DateText(static_cast<std::int32_t>(d) + kDay18991230);
    case TValueKind::Time:
      return TimeText(static_cast<std::int32_t>(std::llround(d * engine::kMsPerDay)));
    case TValueKind::DateTime: {
      double stamp = std::round((d + kDay18991230) * engine::kMsPerDay);
      std::int32_t day = 0, ms = 0;
      if (!engine::DecodeTimeStamp(stamp, day, ms)) return {};
      return DateText(day) + " " + TimeText(ms);
    }
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "%.15g", d);
      return text;
    }
  }
}

void TRecordField::SetAsString(const std::string& value) {
  if (value.empty() && kind_ != TValueKind::String && !IsBlobKind(kind_)) return Clear();
  SetValue(TFieldValue{value});
}

std::int64_t TRecordField::AsInteger() const {
  TFieldValue v = Value();
  if (quillon::dataset::IsNull(v)) return 0;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  if (const auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(*d);
  std::int64_t r = 0;
  if (!engine::ParseInteger(std::get<std::string>(v), std::numeric_limits<std::int64_t>::min(),
                            std::numeric_limits<std::int64_t>::max(), r))
    ConversionError(*this, "Integer");
  return r;
}

double TRecordField::AsFloat() const {
  TFieldValue v = Value();
  if (quillon::dataset::IsNull(v)) return 0;
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  double r = 0;
  if (!engine::ParseFloat(std::get<std::string>(v), engine::DefaultFormats(), r)) ConversionError(*this, "Float");
  return r;
}

bool TRecordField::AsBoolean() const {
  TFieldValue v = Value();
  if (quillon::dataset::IsNull(v)) return false;
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i != 0;
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (EqualIgnoringCase(*s, "True")) return true;
    if (EqualIgnoringCase(*s, "False")) return false;
  }
  ConversionError(*this, "Boolean");
}

}  // namespace quillon::dataset
