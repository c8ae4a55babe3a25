// Placeholder bodies so the tree links while the record operations are written.
#include <stdexcept>

#pragma GCC diagnostic ignored "-Wunused-parameter"

#include "engine/data_file.h"
#include "engine/record_filter.h"

namespace quillon::engine {

void TDataFile::InitRecord(std::uint8_t* buffer) {
  throw std::logic_error("TDataFile::InitRecord: not built yet");
}

bool TDataFile::GetField(bool logical, int fieldNumber, const std::uint8_t* record, void* value) {
  throw std::logic_error("TDataFile::GetField: not built yet");
}

void TDataFile::SetField(bool logical, int fieldNumber, const void* value, std::uint8_t* record) {
  throw std::logic_error("TDataFile::SetField: not built yet");
}

void TDataFile::InsertRecord(std::uint8_t* buffer) {
  throw std::logic_error("TDataFile::InsertRecord: not built yet");
}

void TDataFile::UpdateRecord(std::uint8_t* buffer, bool unlockAfter, bool refresh) {
  throw std::logic_error("TDataFile::UpdateRecord: not built yet");
}

void TDataFile::DeleteRecord(bool refresh) {
  throw std::logic_error("TDataFile::DeleteRecord: not built yet");
}

void TDataFile::SetDeferredChanges(bool value) {
  throw std::logic_error("TDataFile::SetDeferredChanges: not built yet");
}

void TDataFile::CommitChanges() {
  throw std::logic_error("TDataFile::CommitChanges: not built yet");
}

}  // namespace quillon::engine
