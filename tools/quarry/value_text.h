// The shell's text of stored field values, the same in every output mode before the mode's own
// quoting: strings as stored; integers in decimal; float and money "%.15g" (C locale); BCD with
// exactly its scale digits after "."; TRUE / FALSE; dates YYYY-MM-DD; times HH:MM:SS (.mmm when
// the milliseconds are not 0); timestamps "YYYY-MM-DD HH:MM:SS" likewise; memo texts as stored;
// other BLOB and byte values as lower-case hexadecimal. A value that cannot be decoded (a day
// number out of the calendar, say) is shown as "?" followed by its bytes in hexadecimal, so a
// damaged record still dumps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/field_types.h"

namespace quillon::quarry {

// bytes: the field's DataSize bytes as stored in the record (after its null byte).
std::string FieldValueText(engine::TFieldType type, std::string_view bytes);
// A BLOB field's whole value.
std::string BlobValueText(std::uint8_t subType, std::string_view value);
std::string HexText(std::string_view bytes);

}  // namespace quillon::quarry
