// Key building and key comparison; see index_key.h for the byte forms.
#include "engine/index_key.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/errors.h"
#include "engine/index_file.h"
#include "engine/locale.h"

namespace quillon::engine {

namespace {

void PutBigEndian(std::uint8_t* out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, int length) {
  if (length <= 0) return 0;
  int r = std::memcmp(a, b, static_cast<std::size_t>(length));
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

// The text of a string key part: its bytes up to the first zero.
std::string_view PartText(const std::uint8_t* p, int length) {
  const char* c = reinterpret_cast<const char*>(p);
  const void* zero = std::memchr(c, 0, static_cast<std::size_t>(length));
  return {c, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - c) : static_cast<std::size_t>(length)};
}

}  // namespace

void PutIntegerKey(std::uint8_t* out, std::int32_t value) {
  PutBigEndian(out, static_cast<std::uint32_t>(value) ^ 0x80000000u, 4);
}

std::int32_t GetIntegerKey(const std::uint8_t* in) {
  std::uint32_t v = (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) | (std::uint32_t{in[2]} << 8) | in[3];
  return static_cast<std::int32_t>(v ^ 0x80000000u);
}

TKey DeletedRecordKey(bool deleted, std::int32_t rowId) {
  TKey key(5);
  key[0] = deleted ? 1 : 0;
  PutIntegerKey(key.data() + 1, rowId);
  return key;
}

std::string UpperCaseAnsi(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
      c = static_cast<unsigned char>(c - 0x20);
    } else if (c == 0x9A || c == 0x9C || c == 0x9E) {  // s, oe and z with caron or ligature
      c = static_cast<unsigned char>(c - 0x10);
    } else if (c == 0xFF) {  // y with diaeresis
      c = 0x9F;
    }
    ch = static_cast<char>(c);
  }
  return out;
}

TKey BuildIndexKey(const TIndexDescriptor& index, bool nonUniqueSecondary, const std::vector<TFieldDescriptor>& fields,
                   const std::uint8_t* record, std::uint32_t lcid) {
  TKey key(index.KeyLength, 0);
  std::size_t at = 0;
  auto room = [&](std::size_t n) {
    if (at + n > key.size()) RaiseEngineError(err::kInvalidKeySize, {}, {}, {}, index.IndexName);
  };
  for (int i = 0; i < index.KeyFieldCount; ++i) {
    int number = index.KeyFields[static_cast<std::size_t>(i)];
    if (number < 1 || number > static_cast<int>(fields.size())) {
      RaiseEngineError(err::kInvalidIndexField, {}, std::to_string(number), {}, index.IndexName);
    }
    const TFieldDescriptor& f = fields[static_cast<std::size_t>(number - 1)];
    if (f.IsBlob()) RaiseEngineError(err::kInvalidIndexFieldType, {}, f.FieldName, {}, index.IndexName);
    std::size_t start = at;
    std::size_t size = f.IsAutoInc() ? 4 : f.DataSize;
    room(size + 1);
    std::uint8_t* out = key.data() + at + 1;
    if (f.IsAutoInc()) {
      key[at] = 1;
      PutIntegerKey(out, GetI32(record + kRowIdOffset));
    } else if (record[f.Offset] != 0) {
      key[at] = 1;
      const std::uint8_t* v = record + f.Offset + 1;
      switch (static_cast<TFieldType>(f.FieldType)) {
        case TFieldType::String: {
          std::string_view text = PartText(v, f.DataSize);
          std::string mapped = lcid != 0               ? locale::MapString(lcid, text, index.CaseInsensitive)
                               : index.CaseInsensitive ? UpperCaseAnsi(text)
                                                       : std::string(text);
          std::size_t n = std::min<std::size_t>(mapped.size(), size > 0 ? size - 1 : 0);
          std::memcpy(out, mapped.data(), n);
          break;
        }
        case TFieldType::Date:
        case TFieldType::Integer:
        case TFieldType::Time:
          PutIntegerKey(out, GetI32(v));
          break;
        case TFieldType::SmallInt:
          PutBigEndian(out, static_cast<std::uint16_t>(GetU16(v) ^ 0x8000u), 2);
          break;
        case TFieldType::Boolean:
        case TFieldType::Word:
          PutBigEndian(out, GetU16(v), 2);
          break;
        case TFieldType::Float:
        case TFieldType::TimeStamp: {
          double d = GetDouble(v);
          std::uint64_t bits = GetU64(v);
          bits = d >= 0 ? (bits | 0x8000000000000000ull) : ~bits;
          PutBigEndian(out, bits, 8);
          break;
        }
        case TFieldType::Bcd:
          PutBigEndian(out, GetU64(v) ^ 0x8000000000000000ull, 8);
          break;
        default:
          std::memcpy(out, v, size);
          break;
      }
    }
    at += size + 1;
    if (!index.Descending && index.FieldDescending[static_cast<std::size_t>(i)] != 0) {
      bool isString = f.FieldType == static_cast<std::uint8_t>(TFieldType::String) && !f.IsAutoInc();
      std::size_t end = isString ? at - 1 : at;
      for (std::size_t k = start; k < end; ++k) key[k] = static_cast<std::uint8_t>(~key[k]);
    }
  }
  if (nonUniqueSecondary) {
    room(4);
    PutIntegerKey(key.data() + at, GetI32(record + kRowIdOffset));
  }
  return key;
}

TKeyComparer::TKeyComparer(const TIndexDescriptor& index, const std::vector<TFieldDescriptor>& fields,
                           TCollation collation)
    : descending_(index.Descending) {
  if (!collation) return;
  int at = 0;
  for (int i = 0; i < index.KeyFieldCount; ++i) {
    int number = index.KeyFields[static_cast<std::size_t>(i)];
    if (number < 1 || number > static_cast<int>(fields.size())) break;
    const TFieldDescriptor& f = fields[static_cast<std::size_t>(number - 1)];
    int size = f.IsAutoInc() ? 4 : f.DataSize;
    if (f.FieldType == static_cast<std::uint8_t>(TFieldType::String) && !f.IsAutoInc()) {
      bool inverted = !index.Descending && index.FieldDescending[static_cast<std::size_t>(i)] != 0;
      strings_.push_back({at + 1, size, inverted});
    }
    at += size + 1;
  }
  if (!strings_.empty()) collation_ = std::move(collation);
}

int TKeyComparer::CompareAscending(const std::uint8_t* a, const std::uint8_t* b, int length) const {
  if (!collation_) return CompareBytes(a, b, length);
  int at = 0;
  for (const TStringPart& part : strings_) {
    if (part.Offset >= length) break;
    int r = CompareBytes(a + at, b + at, part.Offset - at);
    if (r != 0) return r;
    int n = std::min(part.Length, length - part.Offset);
    const std::uint8_t* pa = a + part.Offset;
    const std::uint8_t* pb = b + part.Offset;
    std::string ra, rb;
    if (part.Inverted) {
      // Restore the text: every byte but the field's last one was inverted.
      ra.assign(reinterpret_cast<const char*>(pa), static_cast<std::size_t>(n));
      rb.assign(reinterpret_cast<const char*>(pb), static_cast<std::size_t>(n));
      int last = std::min(n, part.Length - 1);
      for (int k = 0; k < last; ++k) {
        ra[static_cast<std::size_t>(k)] = static_cast<char>(~ra[static_cast<std::size_t>(k)]);
        rb[static_cast<std::size_t>(k)] = static_cast<char>(~rb[static_cast<std::size_t>(k)]);
      }
      pa = reinterpret_cast<const std::uint8_t*>(ra.data());
      pb = reinterpret_cast<const std::uint8_t*>(rb.data());
    }
    int c = collation_(PartText(pa, n), PartText(pb, n));
    c = c < 0 ? -1 : c > 0 ? 1 : 0;
    if (c != 0) return part.Inverted ? -c : c;
    at = part.Offset + n;
  }
  return CompareBytes(a + at, b + at, length - at);
}

int TKeyComparer::Compare(const std::uint8_t* a, const std::uint8_t* b, int length) const {
  int r = CompareAscending(a, b, length);
  return descending_ ? -r : r;
}

}  // namespace quillon::engine
