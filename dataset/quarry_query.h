// TQuarryQuery: the dataset through which the program runs SQL. It keeps the statement text and
// its ":name" parameters, prepares a TDataQuery against its database's directory when opened,
// executes it (reporting progress through OnQueryProgress) and reads the result cursor with the
// same machinery as the table component. The statement owns the result; closing the query frees
// the statement, which closes (and, when temporary, deletes) the result table, so every open
// prepares and runs the statement anew.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/field.h"
#include "dataset/quarry_table.h"

namespace quillon::sql {
class TDataQuery;
}

namespace quillon::dataset {

class TQuarryParams;

class TQuarryParam {
 public:
  explicit TQuarryParam(TQuarryParams* collection = nullptr) : collection_(collection) {}
  TQuarryParams* Collection() const { return collection_; }
  std::string Name;
  TValueKind DataType = TValueKind::String;
  bool DataTypeSet = false;  // false: unknown type
  TFieldValue Value = std::int64_t{0};
  bool IsNull = false;
  std::uint8_t ParamType = 0;
  bool Bound = false;  // the value came from DataSource

  void SetValue(const TFieldValue& value, TValueKind type);

 private:
  TQuarryParams* collection_;
};

class TQuarryParams {
 public:
  std::size_t Count() const { return items_.size(); }
  TQuarryParam& Items(std::size_t index) { return *items_.at(index); }
  const TQuarryParam& Items(std::size_t index) const { return *items_.at(index); }
  TQuarryParam& Add(const std::string& name);
  // The first parameter of that name (names compared case-sensitively); null when none.
  TQuarryParam* FindParam(const std::string& name);
  // Takes the values of parameters with equal names from other; the others stay.
  void AssignValues(const TQuarryParams& other);
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TQuarryParam>> items_;
};

// Replaces each ":name" of text by "?" and lists the names in order; "::" becomes ":".
std::string ParseParameterText(const std::string& text, std::vector<std::string>& names);

// The bound size of a parameter's value; raises the type messages.
int ParamBoundSize(const TQuarryParam& param);
// The engine type code of a parameter's type; raises "No value for parameter '%s'" when none.
int ParamEngineType(const TQuarryParam& param);

class TQuarryQuery : public TQuarryDBDataSet {
 public:
  using TQueryProgressEvent =
      std::function<void(TQuarryQuery& sender, int currentRecord, std::uint16_t percentDone, bool& abortQuery)>;

  explicit TQuarryQuery(const void* owner = nullptr);
  ~TQuarryQuery() override;

  const std::vector<std::string>& SQL() const { return sql_; }
  void SetSQL(const std::vector<std::string>& lines);
  void SetSQLText(const std::string& text);
  std::string SQLText() const;
  TQuarryParams& Params() { return params_; }
  void SetParams(const TQuarryParams& params) { params_.AssignValues(params); }
  TQuarryParam& ParamNamed(const std::string& name);
  bool ParamCheck = true;
  bool RequestLive = false;
  std::uint8_t LockRetryCount = 15;
  std::uint16_t LockWaitTime = 100;
  bool StrictChangeDetection = false;
  TQueryProgressEvent OnQueryProgress;

  // The master whose current record gives the parameters the program has not set: each takes
  // the value of the master's field of its name (which must exist) at every open, and the open
  // query runs again when the master opens or moves to another record.
  void SetDataSource(TDataFeed* source);
  TDataFeed* DataSource() const { return masterLink_.DataSource(); }

  bool Prepared() const { return statement_ != nullptr; }
  // Runs a statement that gives no result (INSERT, UPDATE, DELETE) without opening the dataset.
  void RunStatement();

 protected:
  std::unique_ptr<engine::TDataFile> CreateHandle() override;
  void DestroyHandle() override;
  bool HiddenField(const engine::TFieldDescriptor& field) const override;

 private:
  void Prepare();
  void Unprepare();
  engine::TDataFile* Run();
  void TakeMasterValues();

  class TMasterLink : public TFeedLink {
   public:
    explicit TMasterLink(TQuarryQuery& query) : query_(query) {}

   protected:
    void ActiveChanged() override { query_.MasterMoved(); }
    void DataSetChanged() override { query_.MasterMoved(); }
    void DataSetScrolled(int) override { query_.MasterMoved(); }
    void LayoutChanged() override {}

   private:
    TQuarryQuery& query_;
  };
  void MasterMoved();
  TMasterLink masterLink_{*this};

  std::vector<std::string> sql_;
  std::string parsedText_;  // the text with "?" for each parameter
  TQuarryParams params_;
  std::unique_ptr<sql::TDataQuery> statement_;
};

}  // namespace quillon::dataset
