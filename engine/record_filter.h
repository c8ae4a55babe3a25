// TFilterEvaluator: what a cursor needs from a filter expression. The expression language and its
// evaluation live in the dataset layer; the engine only asks for the passing records among a
// candidate set, or for one record after it changed. An evaluator may answer from index ranges
// (TIndexFile::CountKeysInRange, MarkRecordsInRange, SelectIndexForField) instead of reading the
// records, but leaves the table's tree selection as it found it.
#pragma once

#include <cstdint>
#include <vector>

namespace quillon::engine {

class TDataFile;

class TFilterEvaluator {
 public:
  virtual ~TFilterEvaluator() = default;
  // `candidates` is a record bitmap (record r is bit (r - 1) mod 8 of byte (r - 1) div 8): clear
  // the bit of every candidate record that fails.
  virtual void MarkPassing(TDataFile& table, std::vector<std::uint8_t>& candidates) = 0;
  virtual bool Passes(TDataFile& table, const std::uint8_t* record, std::uint32_t recordNumber) = 0;
  // How much of the work the indexes can do; 0 when every record must be read.
  virtual int OptimisationGrade() const { return 0; }
};

}  // namespace quillon::engine
