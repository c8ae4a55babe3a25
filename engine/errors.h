// Engine errors: every failure of the table store (and of the SQL layer above it) is one 16-bit
// code plus the error context of the session: the data file's full name (F), a field name or
// number (D), an SQL message (S) and an index name (I, "Primary" for the primary index).
//
// RaiseEngineError records the context and throws EEngineError, whose text is MessageText of the
// code at that moment, so the exception stays meaningful after the context moves on. Navigation
// results (before first, after last) and the BLOB and filter result codes are returned, not
// raised; see the callers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillon::engine {

// The codes, named by what they report.
namespace err {
inline constexpr int kBeginningOfFile = 8705;
inline constexpr int kEndOfFile = 8706;
inline constexpr int kKeyNotFound = 8708;
inline constexpr int kRecordNotFound = 8710;
inline constexpr int kEndOfBlob = 8711;
inline constexpr int kRecordBuffersCorrupt = 8962;
inline constexpr int kBlobBuffersCorrupt = 8963;
inline constexpr int kIndexPagesCorrupt = 8965;
inline constexpr int kReadError = 9217;
inline constexpr int kWriteError = 9218;
inline constexpr int kCannotDelete = 9220;
inline constexpr int kHeaderAccess = 9221;
inline constexpr int kRecordTooLarge = 9477;
inline constexpr int kFileFull = 9479;
inline constexpr int kTooManyFilters = 9482;
inline constexpr int kIndexLimits = 9487;
inline constexpr int kFieldLimits = 9492;
inline constexpr int kTooManyBlobs = 9494;
inline constexpr int kBlobFieldsOrBlockSize = 9498;
inline constexpr int kDuplicateKey = 9729;
inline constexpr int kMinimumExceeded = 9730;
inline constexpr int kMaximumExceeded = 9731;
inline constexpr int kValueRequired = 9732;
inline constexpr int kInvalidField = 9985;
inline constexpr int kPrimaryExists = 9993;
inline constexpr int kInvalidBlobOffset = 9998;
inline constexpr int kInvalidFieldDefinition = 10000;
inline constexpr int kInvalidValidityCheck = 10006;
inline constexpr int kIndexNameMissing = 10010;
inline constexpr int kInvalidPassword = 10015;
inline constexpr int kInvalidIndexName = 10022;
inline constexpr int kInvalidIndexField = 10023;
inline constexpr int kInvalidKeySize = 10026;
inline constexpr int kIndexExists = 10027;
inline constexpr int kInvalidBlobLength = 10029;
inline constexpr int kInvalidBlobHandle = 10030;
inline constexpr int kFileInUse = 10031;
inline constexpr int kInvalidFieldName = 10038;
inline constexpr int kInvalidFilterHandle = 10050;
inline constexpr int kInvalidFilterExpression = 10051;
inline constexpr int kPrimaryCannotBeRemoved = 10055;
inline constexpr int kFileLocked = 10241;
inline constexpr int kCannotUnlock = 10242;
inline constexpr int kLockFailure = 10249;
inline constexpr int kMustBeExclusive = 10253;
inline constexpr int kRecordLocked = 10258;
inline constexpr int kPasswordRequired = 10498;
inline constexpr int kInvalidBlobField = 10753;
inline constexpr int kNotInitialized = 10758;
inline constexpr int kInvalidPath = 11010;
inline constexpr int kTooManyFiles = 11012;
inline constexpr int kAccessDenied = 11013;
inline constexpr int kInvalidFileHandle = 11014;
inline constexpr int kOutOfMemory = 11016;
inline constexpr int kInvalidMemoryFileLength = 11017;
inline constexpr int kDeviceAccessDenied = 11023;
inline constexpr int kFileMoved = 11025;
inline constexpr int kUnknownOsError = 11047;
inline constexpr int kSql = 11949;
inline constexpr int kWrongVersion = 12035;
inline constexpr int kInvalidIndexFieldType = 12292;
inline constexpr int kLocaleUnavailable = 15878;
}  // namespace err

// The context texts of the last raised error; each at most 255 characters.
struct TErrorContext {
  std::uint16_t ErrorCode = 0;
  std::string ErrorFileName;     // F
  std::string ErrorFieldName;    // D
  std::string ErrorMessageText;  // S
  std::string ErrorIndexName;    // I
};

// The engine's one exception type.
class EEngineError : public std::runtime_error {
 public:
  EEngineError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// The error context of the current engine session (a detached one while the engine is not
// initialised). The engine runs on one thread per session, as
// the program does; callers on other threads must not raise engine errors concurrently.
TErrorContext& CurrentErrorContext();

// The message of a code with the given context texts, cut after 127 characters.
std::string MessageText(int code, const TErrorContext& context);
// The same with the current context.
std::string MessageText(int code);

// Clears the context, stores the code and texts (all left as they are for 10758), then throws.
[[noreturn]] void RaiseEngineError(int code, const std::string& fileName = {}, const std::string& fieldName = {},
                                   const std::string& messageText = {}, const std::string& indexName = {});

}  // namespace quillon::engine
