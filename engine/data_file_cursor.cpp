// Placeholder bodies so the tree links while the cursor are written.
#include <stdexcept>

#pragma GCC diagnostic ignored "-Wunused-parameter"

#include "engine/data_file.h"
#include "engine/record_filter.h"

namespace quillon::engine {

void TDataFile::SelectIndex(int number) {
  throw std::logic_error("TDataFile::SelectIndex: not built yet");
}

void TDataFile::SelectIndex(const std::string& name) {
  throw std::logic_error("TDataFile::SelectIndex: not built yet");
}

int TDataFile::CursorIndex() const {
  throw std::logic_error("TDataFile::CursorIndex: not built yet");
}

void TDataFile::First() {
  throw std::logic_error("TDataFile::First: not built yet");
}

void TDataFile::Last() {
  throw std::logic_error("TDataFile::Last: not built yet");
}

int TDataFile::Next(std::uint8_t* buffer) {
  throw std::logic_error("TDataFile::Next: not built yet");
}

int TDataFile::Prior(std::uint8_t* buffer) {
  throw std::logic_error("TDataFile::Prior: not built yet");
}

int TDataFile::GetCurrent(std::uint8_t* buffer, bool lock) {
  throw std::logic_error("TDataFile::GetCurrent: not built yet");
}

bool TDataFile::AtBOF() const {
  throw std::logic_error("TDataFile::AtBOF: not built yet");
}

bool TDataFile::AtEOF() const {
  throw std::logic_error("TDataFile::AtEOF: not built yet");
}

std::uint32_t TDataFile::RecNo() {
  throw std::logic_error("TDataFile::RecNo: not built yet");
}

void TDataFile::SetRecNo(std::int64_t n) {
  throw std::logic_error("TDataFile::SetRecNo: not built yet");
}

std::uint32_t TDataFile::RecordCount() {
  throw std::logic_error("TDataFile::RecordCount: not built yet");
}

int TDataFile::KeySize() const {
  throw std::logic_error("TDataFile::KeySize: not built yet");
}

std::vector<std::uint8_t> TDataFile::GetBookmark() {
  throw std::logic_error("TDataFile::GetBookmark: not built yet");
}

void TDataFile::GotoBookmark(const std::uint8_t* bookmark) {
  throw std::logic_error("TDataFile::GotoBookmark: not built yet");
}

int TDataFile::CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const {
  throw std::logic_error("TDataFile::CompareBookmarks: not built yet");
}

bool TDataFile::FindKey(const std::uint8_t* keyOrRecord, bool isKey, bool nearest, int fields, int partial,
                        std::uint8_t* result) {
  throw std::logic_error("TDataFile::FindKey: not built yet");
}

bool TDataFile::FindPrefix(const std::uint8_t* record, std::uint8_t* result) {
  throw std::logic_error("TDataFile::FindPrefix: not built yet");
}

int TDataFile::GotoCurrentOf(TDataFile& other) {
  throw std::logic_error("TDataFile::GotoCurrentOf: not built yet");
}

void TDataFile::SetRange(const std::uint8_t* start, bool startIsKey, int startFields, const std::uint8_t* end,
                         bool endIsKey, int endFields) {
  throw std::logic_error("TDataFile::SetRange: not built yet");
}

void TDataFile::CancelRange() {
  throw std::logic_error("TDataFile::CancelRange: not built yet");
}

bool TDataFile::RangeActive() const {
  throw std::logic_error("TDataFile::RangeActive: not built yet");
}

std::uint32_t TDataFile::AddFilter(std::shared_ptr<TFilterEvaluator> expression, TFilterCallback callback,
                                   bool afterEarlier) {
  throw std::logic_error("TDataFile::AddFilter: not built yet");
}

int TDataFile::ActivateFilter(std::uint32_t handle) {
  throw std::logic_error("TDataFile::ActivateFilter: not built yet");
}

int TDataFile::DeactivateFilter(std::uint32_t handle) {
  throw std::logic_error("TDataFile::DeactivateFilter: not built yet");
}

int TDataFile::RemoveFilter(std::uint32_t handle) {
  throw std::logic_error("TDataFile::RemoveFilter: not built yet");
}

int TDataFile::ChangeFilterExpression(std::uint32_t handle, std::shared_ptr<TFilterEvaluator> expression) {
  throw std::logic_error("TDataFile::ChangeFilterExpression: not built yet");
}

bool TDataFile::BitmapMode() const {
  throw std::logic_error("TDataFile::BitmapMode: not built yet");
}

void TDataFile::CursorAfterInsert(std::uint32_t recordNumber) {
  throw std::logic_error("TDataFile::CursorAfterInsert: not built yet");
}

void TDataFile::CursorAfterUpdate(std::uint32_t recordNumber, bool refresh) {
  throw std::logic_error("TDataFile::CursorAfterUpdate: not built yet");
}

void TDataFile::CursorAfterDelete(std::uint32_t recordNumber, const std::uint8_t* deletedRecord, bool refresh) {
  throw std::logic_error("TDataFile::CursorAfterDelete: not built yet");
}

}  // namespace quillon::engine
