// Field objects: one per stored field of an open dataset (and one per calculated field declared
// before opening). A field reads and writes its value in the buffer of the dataset's current state
// through TDataSet::GetFieldData / SetFieldData, in the table store's own encoding of its kind
// (engine/field_codec.h), and converts between that and the typed accessors.
//
// Values travel as TFieldValue: Null, a Boolean, an integer, a float or text. Dates, times and
// timestamps are floats counting days since 1899-12-30 (the fraction is the time of day); BCD
// values are floats (exchanged with the table store as scaled 64-bit integers).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace quillon::dataset {

class TDataSet;

enum class TValueKind {
  String,
  Date,
  Memo,
  FmtMemo,
  Graphic,
  TypedBinary,
  Blob,
  Boolean,
  Smallint,
  AutoInc,
  Integer,
  Currency,
  Float,
  BCD,
  Bytes,
  Time,
  DateTime,
  Word,
  VarBytes,
  Largeint,
  ADT,
  Array,
  Reference,
  DataSet
};
const char* FieldKindName(TValueKind kind);
bool IsBlobKind(TValueKind kind);

using TFieldValue = std::variant<std::monostate, bool, std::int64_t, double, std::string>;
inline bool IsNull(const TFieldValue& v) {
  return std::holds_alternative<std::monostate>(v);
}

enum class TBlobAccessMode { Read, Write, ReadWrite };
enum class TSeekFrom { Beginning, Current, End };

// A stream over one BLOB value of the current record.
class TBlobValueStream {
 public:
  virtual ~TBlobValueStream() = default;
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
  virtual std::uint32_t Write(const void* buffer, std::uint32_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekFrom origin) = 0;
  std::string ReadAll();
};

class TRecordField {
 public:
  TRecordField(TDataSet& dataSet, std::string name, TValueKind kind, int size, int fieldNo);
  TRecordField(const TRecordField&) = delete;
  TRecordField& operator=(const TRecordField&) = delete;

  TDataSet& DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return name_; }
  TValueKind Kind() const { return kind_; }
  int Size() const { return size_; }        // characters, bytes, or the decimals of a BCD field
  int FieldNo() const { return fieldNo_; }  // stored field number; 0 for a calculated field
  // Bytes of the value in a record buffer.
  int DataSize() const;
  bool Calculated = false;
  int CalcOffset = 0;     // offset of the null byte in the calculated-field area
  bool Unsigned = false;  // a 32-bit unsigned stored field shown as Integer
  int Precision = 0;

  // Presentation, for data-aware controls.
  bool Visible = true;
  int DisplayWidth() const;  // characters
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  std::string DisplayLabel;  // empty = the field name
  std::string DisplayName() const { return DisplayLabel.empty() ? name_ : DisplayLabel; }
  bool ReadOnly = false;
  bool Required = false;

  // ---- Values ----
  bool IsNull() const;
  TFieldValue Value() const;
  void SetValue(const TFieldValue& value);
  void Clear() { SetValue(TFieldValue{}); }
  std::string AsString() const;
  void SetAsString(const std::string& value);
  std::int64_t AsInteger() const;
  void SetAsInteger(std::int64_t value) { SetValue(TFieldValue{value}); }
  double AsFloat() const;
  void SetAsFloat(double value) { SetValue(TFieldValue{value}); }
  bool AsBoolean() const;
  void SetAsBoolean(bool value) { SetValue(TFieldValue{value}); }
  // The value of the record as it is stored now (the old-value state).
  TFieldValue OldValue() const;
  // Raw access in the table store's encoding; false (and no bytes) when there is no value.
  bool GetData(void* data) const;
  void SetData(const void* data);  // null = no value

  std::function<void(TRecordField&)> OnValidate;
  std::function<void(TRecordField&)> OnChange;

 private:
  TFieldValue Decode(const void* data) const;
  void EncodeValue(const TFieldValue& value, std::uint8_t* raw) const;
  TDataSet& dataSet_;
  std::string name_;
  TValueKind kind_;
  int size_;
  int fieldNo_;
  int displayWidth_ = 0;
};

}  // namespace quillon::dataset
