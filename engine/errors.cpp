#include "engine/errors.h"

namespace quillon::engine {

namespace {

constexpr size_t kMaxContextText = 255;
constexpr size_t kMaxMessage = 127;

std::string Cut(const std::string& s, size_t n) {
  return s.size() <= n ? s : s.substr(0, n);
}

// One table for every code's message. {F}, {D}, {S} and {I} stand for the context texts: the data
// file's name, the field, the SQL message and the index.
struct TMessagePattern {
  int Code;
  const char* Pattern;
};

constexpr TMessagePattern kMessagePatterns[] = {
    {err::kBeginningOfFile, "Beginning of file encountered in data file {F}"},
    {err::kEndOfFile, "End of file encountered in data file {F}"},
    {err::kKeyNotFound, "Key not found in index {I} of data file {F}"},
    {err::kRecordNotFound, "Record not found in data file {F}"},
    {err::kEndOfBlob, "End of blob data in data file {F} reached prematurely"},
    {err::kRecordBuffersCorrupt, "Data record buffers corrupt in data file {F}"},
    {err::kBlobBuffersCorrupt, "BLOB block buffers corrupt in data file {F}"},
    {err::kIndexPagesCorrupt, "Index page buffers corrupt in data file {F}"},
    {err::kReadError, "Error reading from data file {F}"},
    {err::kWriteError, "Error writing to data file {F}"},
    {err::kCannotDelete, "Cannot delete data file {F}"},
    {err::kHeaderAccess, "Error accessing file header information for data file {F}"},
    {err::kRecordTooLarge, "Maximum record size exceeded in data file {F}"},
    {err::kFileFull, "The data file {F} is full and cannot contain any more data"},
    {err::kTooManyFilters, "Too many filters defined for data file {F}"},
    {err::kIndexLimits,
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file {F}"},
    {err::kFieldLimits, "Maximum or minimum limits on number of fields or field size exceeded in data file {F}"},
    {err::kTooManyBlobs, "Too many blobs opened in data file {F}"},
    {err::kBlobFieldsOrBlockSize, "Too many blob fields or invalid blob block size specified for data file {F}"},
    {err::kDuplicateKey, "Duplicate key found in index {I} of data file {F}"},
    {err::kMinimumExceeded, "The minimum value has been exceeded for the field {D} in data file {F}"},
    {err::kMaximumExceeded, "The maximum value has been exceeded for the field {D} in data file {F}"},
    {err::kValueRequired, "A value must be provided for the field {D} in data file {F}"},
    {err::kInvalidField, "Invalid field number or name {D} specified for data file {F}"},
    {err::kPrimaryExists, "A primary index is already defined for data file {F} and cannot be added again"},
    {err::kInvalidBlobOffset, "Invalid blob offset into data file {F} specified"},
    {err::kInvalidFieldDefinition, "Invalid field definition specified for the field {D} in data file {F}"},
    {err::kInvalidValidityCheck,
     "Invalid default, min or max validity check, or expression specified for {D} in data file {F}"},
    {err::kIndexNameMissing, "The secondary index name is missing or not specified for data file {F}"},
    {err::kInvalidPassword, "Password provided for data file {F}is invalid"},
    {err::kInvalidIndexName, "Invalid secondary index name {I} specified for data file {F}"},
    {err::kInvalidIndexField, "Invalid field number {D} specified in index {I} for data file {F}"},
    {err::kInvalidKeySize, "Invalid key size specified in index {I} for data file {F}"},
    {err::kIndexExists, "The secondary index {I} already exists for data file {F}"},
    {err::kInvalidBlobLength, "Invalid blob length in data file {F}"},
    {err::kInvalidBlobHandle, "Invalid blob handle for data file {F} specified"},
    {err::kFileInUse, "Data file {F} is already in use"},
    {err::kInvalidFieldName, "Invalid or duplicate field name {D} specified for data file {F}"},
    {err::kInvalidFilterHandle, "Invalid filter handle specified for data file {F}"},
    {err::kInvalidFilterExpression, "Invalid filter expression specified for data file {F}"},
    {err::kPrimaryCannotBeRemoved, "The primary index cannot be removed from data file {F}"},
    {err::kFileLocked, "The data file {F} is already locked by another user"},
    {err::kCannotUnlock, "Cannot unlock data file or record in data file {F}"},
    {err::kLockFailure, "General lock failure with data file {F}"},
    {err::kMustBeExclusive, "Data file {F} must be opened exclusively"},
    {err::kRecordLocked, "Record in data file {F} is in use by another user"},
    {err::kPasswordRequired, "Insufficient rights to data file {F}, a password is required"},
    {err::kInvalidBlobField, "Invalid blob field {D} specified for data file {F}"},
    {err::kNotInitialized, "Quarry engine not initialized"},
    {err::kInvalidPath, "Invalid path or file name for data file {F}"},
    {err::kTooManyFiles, "Too many files open while attempting to open data file {F}"},
    {err::kAccessDenied, "Access denied to data file {F}"},
    {err::kInvalidFileHandle, "Invalid file handle for data file {F}"},
    {err::kOutOfMemory, "There is insufficient operating system memory available for the current operation"},
    {err::kInvalidMemoryFileLength, "Invalid length for in-memory data file {F}"},
    {err::kDeviceAccessDenied, "Access denied to logical operating system device for data file {F}"},
    {err::kFileMoved, "Data file {F} has been moved"},
    {err::kUnknownOsError, "An unknown operating system error occurred with data file {F}"},
    {err::kSql, "SQL - {S}"},
    {err::kWrongVersion, "Data file {F} is not the correct version"},
    {err::kInvalidIndexFieldType, "Invalid field type specified for index {I} in data file {F}"},
    {err::kLocaleUnavailable, "The language driver for data file {F} is not available or installed"},
};

constexpr const char* kUnknownErrorPattern = "Unknown error occurred with data file {F}";

const char* PatternOf(int code) {
  for (const TMessagePattern& m : kMessagePatterns)
    if (m.Code == code) return m.Pattern;
  return kUnknownErrorPattern;
}

const std::string* ContextText(char name, const TErrorContext& c) {
  switch (name) {
    case 'F':
      return &c.ErrorFileName;
    case 'D':
      return &c.ErrorFieldName;
    case 'S':
      return &c.ErrorMessageText;
    case 'I':
      return &c.ErrorIndexName;
    default:
      return nullptr;
  }
}

std::string BuildMessage(int code, const TErrorContext& c) {
  std::string text;
  for (const char* p = PatternOf(code); *p != '\0'; ++p) {
    if (p[0] == '{' && p[1] != '\0' && p[2] == '}') {
      if (const std::string* context = ContextText(p[1], c)) {
        text += *context;
        p += 2;
        continue;
      }
    }
    text += *p;
  }
  return text;
}

}  // namespace

// CurrentErrorContext lives with the session (file_session.cpp).

std::string MessageText(int code, const TErrorContext& context) {
  return Cut(BuildMessage(code, context), kMaxMessage);
}

std::string MessageText(int code) {
  return MessageText(code, CurrentErrorContext());
}

void RaiseEngineError(int code, const std::string& fileName, const std::string& fieldName,
                      const std::string& messageText, const std::string& indexName) {
  TErrorContext& c = CurrentErrorContext();
  if (code != err::kNotInitialized) {
    c = TErrorContext{};
    c.ErrorCode = static_cast<std::uint16_t>(code);
    c.ErrorFileName = Cut(fileName, kMaxContextText);
    c.ErrorFieldName = Cut(fieldName, kMaxContextText);
    c.ErrorMessageText = Cut(messageText, kMaxContextText);
    c.ErrorIndexName = Cut(indexName, kMaxContextText);
  }
  throw EEngineError(code, MessageText(code, c));
}

}  // namespace quillon::engine
