// Little-endian reading and writing of the skin package's records. Every read checks the bytes
// left first and throws ESkinError on a short record, so a damaged package can never make the
// loader read past its end.
#pragma once

#include <cstdint>
#include <string>

#include "skin/ombra_bmp.h"

namespace quillon::skin {

class TByteReader {
 public:
  TByteReader(const std::string& data, std::size_t pos) : data_(data), pos_(pos) {
    if (pos_ > data_.size()) pos_ = data_.size();
  }
  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ >= data_.size(); }

  std::string Bytes(std::size_t n) {
    Need(n);
    std::string s = data_.substr(pos_, n);
    pos_ += n;
    return s;
  }
  void Skip(std::size_t n) {
    Need(n);
    pos_ += n;
  }
  std::uint16_t U16() {
    Need(2);
    const auto* p = reinterpret_cast<const std::uint8_t*>(data_.data() + pos_);
    pos_ += 2;
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  std::uint32_t U32() {
    Need(4);
    const auto* p = reinterpret_cast<const std::uint8_t*>(data_.data() + pos_);
    pos_ += 4;
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  // A length-prefixed record: a signed 32-bit length, then that many bytes.
  std::string Record() {
    const std::int32_t n = I32();
    if (n < 0) throw ESkinError("negative record length");
    return Bytes(static_cast<std::size_t>(n));
  }

 private:
  void Need(std::size_t n) const {
    if (n > Remaining()) throw ESkinError("unexpected end of the skin data");
  }
  const std::string& data_;
  std::size_t pos_;
};

inline void PutU16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
inline void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutRecord(std::string& out, const std::string& bytes) {
  PutU32(out, static_cast<std::uint32_t>(bytes.size()));
  out += bytes;
}

}  // namespace quillon::skin
