#include "engine/errors.h"

namespace quillon::engine {

namespace {

constexpr size_t kMaxContextText = 255;
constexpr size_t kMaxMessage = 127;

std::string Cut(const std::string& s, size_t n) { return s.size() <= n ? s : s.substr(0, n); }

std::string BuildMessage(int code, const TErrorContext& c) {
  const std::string& F = c.ErrorFileName;
  const std::string& D = c.ErrorFieldName;
  const std::string& S = c.ErrorMessageText;
  const std::string& I = c.ErrorIndexName;
  switch (code) {
    case 8705: return "Beginning of file encountered in data file " + F;
    case 8706: return "End of file encountered in data file " + F;
    case 8708: return "Key not found in index " + I + " of data file " + F;
    case 8710: return "Record not found in data file " + F;
    case 8711: return "End of blob data in data file " + F + " reached prematurely";
    case 8962: return "Data record buffers corrupt in data file " + F;
    case 8963: return "BLOB block buffers corrupt in data file " + F;
    case 8965: return "Index page buffers corrupt in data file " + F;
    case 9217: return "Error reading from data file " + F;
    case 9218: return "Error writing to data file " + F;
    case 9220: return "Cannot delete data file " + F;
    case 9221: return "Error accessing file header information for data file " + F;
    case 9477: return "Maximum record size exceeded in data file " + F;
    case 9479: return "The data file " + F + " is full and cannot contain any more data";
    case 9482: return "Too many filters defined for data file " + F;
    case 9487:
      return "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file " + F;
    case 9492: return "Maximum or minimum limits on number of fields or field size exceeded in data file " + F;
    case 9494: return "Too many blobs opened in data file " + F;
    case 9498: return "Too many blob fields or invalid blob block size specified for data file " + F;
    case 9729: return "Duplicate key found in index " + I + " of data file " + F;
    case 9730: return "The minimum value has been exceeded for the field " + D + " in data file " + F;
    case 9731: return "The maximum value has been exceeded for the field " + D + " in data file " + F;
    case 9732: return "A value must be provided for the field " + D + " in data file " + F;
    case 9985: return "Invalid field number or name " + D + " specified for data file " + F;
    case 9993: return "A primary index is already defined for data file " + F + " and cannot be added again";
    case 9998: return "Invalid blob offset into data file " + F + " specified";
    case 10000: return "Invalid field definition specified for the field " + D + " in data file " + F;
    case 10006:
      return "Invalid default, min or max validity check, or expression specified for " + D + " in data file " + F;
    case 10010: return "The secondary index name is missing or not specified for data file " + F;
    case 10015: return "Password provided for data file " + F + "is invalid";
    case 10022: return "Invalid secondary index name " + I + " specified for data file " + F;
    case 10023: return "Invalid field number " + D + " specified in index " + I + " for data file " + F;
    case 10026: return "Invalid key size specified in index " + I + " for data file " + F;
    case 10027: return "The secondary index " + I + " already exists for data file " + F;
    case 10029: return "Invalid blob length in data file " + F;
    case 10030: return "Invalid blob handle for data file " + F + " specified";
    case 10031: return "Data file " + F + " is already in use";
    case 10038: return "Invalid or duplicate field name " + D + " specified for data file " + F;
    case 10050: return "Invalid filter handle specified for data file " + F;
    case 10051: return "Invalid filter expression specified for data file " + F;
    case 10055: return "The primary index cannot be removed from data file " + F;
    case 10241: return "The data file " + F + " is already locked by another user";
    case 10242: return "Cannot unlock data file or record in data file " + F;
    case 10249: return "General lock failure with data file " + F;
    case 10253: return "Data file " + F + " must be opened exclusively";
    case 10258: return "Record in data file " + F + " is in use by another user";
    case 10498: return "Insufficient rights to data file " + F + ", a password is required";
    case 10753: return "Invalid blob field " + D + " specified for data file " + F;
    case 10758: return "Quarry engine not initialized";
    case 11010: return "Invalid path or file name for data file " + F;
    case 11012: return "Too many files open while attempting to open data file " + F;
    case 11013: return "Access denied to data file " + F;
    case 11014: return "Invalid file handle for data file " + F;
    case 11016: return "There is insufficient operating system memory available for the current operation";
    case 11017: return "Invalid length for in-memory data file " + F;
    case 11023: return "Access denied to logical operating system device for data file " + F;
    case 11025: return "Data file " + F + " has been moved";
    case 11047: return "An unknown operating system error occurred with data file " + F;
    case 11949: return "SQL - " + S;
    case 12035: return "Data file " + F + " is not the correct version";
    case 12292: return "Invalid field type specified for index " + I + " in data file " + F;
    case 15878: return "The language driver for data file " + F + " is not available or installed";
    default: return "Unknown error occurred with data file " + F;
  }
}

}  // namespace

// CurrentErrorContext lives with the session (file_session.cpp).

std::string MessageText(int code, const TErrorContext& context) { return Cut(BuildMessage(code, context), kMaxMessage); }

std::string MessageText(int code) { return MessageText(code, CurrentErrorContext()); }

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
