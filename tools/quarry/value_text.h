// The shell's text of stored field values, the same in every output mode before the mode's own
// quoting: strings as stored; integers in decimal; float and money "%.15g" (C locale; "%.17g" when 15 digits would not
// give the value back); BCD with exactly its scale digits after "."; TRUE / FALSE; dates YYYY-MM-DD; times HH:MM:SS
// (.mmm when the milliseconds are not 0); timestamps "YYYY-MM-DD HH:MM:SS" likewise; memo texts as stored; other BLOB
// and byte values as lower-case hexadecimal. A value that cannot be decoded (a day number out of the calendar, say) is
// shown as "?" followed by its bytes in hexadecimal, so a damaged record still dumps. The readers below take these
// texts back (.import).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/field_types.h"
#include "engine/table_format.h"

namespace quillon::quarry {

// How float, money and extended values are written: RoundTrip as above, so that a dump imports
// to the same bits; Shown as query results are read, "%.15g" alone, which is the shortest text of
// at most 15 significant digits that gives the value back, or the value rounded to 15 digits
// when none does (0.1 + 0.2 shows as 0.3).
enum class TNumberText { RoundTrip, Shown };

// bytes: the field's DataSize bytes as stored in the record (after its null byte).
std::string FieldValueText(engine::TFieldType type, std::string_view bytes,
                           TNumberText numbers = TNumberText::RoundTrip);
// A BLOB field's whole value.
std::string BlobValueText(std::uint8_t subType, std::string_view value);
std::string HexText(std::string_view bytes);

// The inverses, for .import: FieldValueText's text of a value of `field` back into the field's
// DataSize bytes (the form SetField takes), and BlobValueText's text back into a BLOB value.
// Every text FieldValueText writes for a decodable value reads back to the same bytes (extended
// values as far as a double carries them). Anything else answers
// false with a short reason: a string longer than its field, a number out of its type's range,
// a BCD value with more decimals than its scale, hexadecimal of odd length or too many bytes.
// No blanks are skipped. Auto-increment fields are the caller's business (their value is the
// row identifier).
bool FieldValueFromText(const engine::TFieldDescriptor& field, std::string_view text, std::string& bytes,
                        std::string& error);
bool BlobValueFromText(std::uint8_t subType, std::string_view text, std::string& value, std::string& error);
bool HexToBytes(std::string_view hex, std::string& bytes);

}  // namespace quillon::quarry
