// TRecordBitmap: one bit per record of a table, record r at bit r - 1, kept in 64-bit words so
// that scans for the next or previous set record, counts and the AND of several bitmaps go a word
// at a time (physical-order navigation over a million records must not test bits one by one).
//
// Invariants: Size() is the number of records covered; bits at and above Size() in the last word
// are always zero, so counts and scans never see records that do not exist. Record numbers outside
// 1..Size() read as clear and are ignored when set or cleared.
//
// The byte form (record r is bit (r - 1) mod 8 of byte (r - 1) div 8) is what filter evaluators and
// TIndexFile::MarkRecordsInRange work on; ToBytes and FromBytes convert.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace quillon::engine {

class TRecordBitmap {
 public:
  static constexpr std::uint32_t kNone = 0;

  std::uint32_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }

  // Grows or shrinks to `records` bits; new bits are `value`.
  void Resize(std::uint32_t records, bool value = false) {
    std::uint32_t old = size_;
    words_.resize((static_cast<std::size_t>(records) + 63) / 64, 0);
    size_ = records;
    if (value && records > old) {
      for (std::uint32_t r = old + 1; r <= records && (r - 1) % 64 != 0; ++r) Set(r);
      std::size_t firstWhole = (static_cast<std::size_t>(old) + 63) / 64;
      std::fill(words_.begin() + static_cast<std::ptrdiff_t>(firstWhole), words_.end(), ~std::uint64_t{0});
    }
    TrimTail();
  }
  void Release() {
    words_.clear();
    words_.shrink_to_fit();
    size_ = 0;
  }
  void Fill(bool value) {
    std::fill(words_.begin(), words_.end(), value ? ~std::uint64_t{0} : 0);
    TrimTail();
  }

  bool Test(std::uint32_t r) const {
    if (r < 1 || r > size_) return false;
    return (words_[(r - 1) / 64] >> ((r - 1) % 64)) & 1u;
  }
  void Set(std::uint32_t r) {
    if (r >= 1 && r <= size_) words_[(r - 1) / 64] |= std::uint64_t{1} << ((r - 1) % 64);
  }
  void Clear(std::uint32_t r) {
    if (r >= 1 && r <= size_) words_[(r - 1) / 64] &= ~(std::uint64_t{1} << ((r - 1) % 64));
  }
  void Assign(std::uint32_t r, bool value) { value ? Set(r) : Clear(r); }

  void Invert() {
    for (auto& w : words_) w = ~w;
    TrimTail();
  }
  // Bits beyond the other bitmap's size are cleared.
  void And(const TRecordBitmap& other) {
    for (std::size_t i = 0; i < words_.size(); ++i) words_[i] &= i < other.words_.size() ? other.words_[i] : 0;
  }

  // Bits beyond this bitmap's size are ignored.
  void Or(const TRecordBitmap& other) {
    for (std::size_t i = 0; i < words_.size() && i < other.words_.size(); ++i) words_[i] |= other.words_[i];
    TrimTail();
  }

  std::uint32_t Count() const {
    std::uint64_t n = 0;
    for (auto w : words_) n += static_cast<std::uint64_t>(std::popcount(w));
    return static_cast<std::uint32_t>(n);
  }
  // Set bits among records 1..r.
  std::uint32_t CountUpTo(std::uint32_t r) const {
    r = std::min(r, size_);
    if (r == 0) return 0;
    std::size_t full = r / 64;
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < full; ++i) n += static_cast<std::uint64_t>(std::popcount(words_[i]));
    if (r % 64 != 0)
      n += static_cast<std::uint64_t>(std::popcount(words_[full] & ((std::uint64_t{1} << (r % 64)) - 1)));
    return static_cast<std::uint32_t>(n);
  }

  // The lowest set record >= r, or kNone.
  std::uint32_t NextSet(std::uint32_t r) const {
    if (r < 1) r = 1;
    if (r > size_) return kNone;
    std::size_t i = (r - 1) / 64;
    std::uint64_t w = words_[i] & (~std::uint64_t{0} << ((r - 1) % 64));
    while (w == 0) {
      if (++i >= words_.size()) return kNone;
      w = words_[i];
    }
    return static_cast<std::uint32_t>(i * 64 + static_cast<std::size_t>(std::countr_zero(w)) + 1);
  }
  // The highest set record <= r, or kNone.
  std::uint32_t PriorSet(std::uint32_t r) const {
    r = std::min(r, size_);
    if (r < 1) return kNone;
    std::size_t i = (r - 1) / 64;
    unsigned shift = 63 - (r - 1) % 64;
    std::uint64_t w = words_[i] & (~std::uint64_t{0} >> shift);
    while (w == 0) {
      if (i == 0) return kNone;
      w = words_[--i];
    }
    return static_cast<std::uint32_t>(i * 64 + 63 - static_cast<std::size_t>(std::countl_zero(w)) + 1);
  }

  std::vector<std::uint8_t> ToBytes() const {
    std::vector<std::uint8_t> bytes(size_ / 8 + 1, 0);
    for (std::size_t i = 0; i < bytes.size() && i / 8 < words_.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(words_[i / 8] >> (8 * (i % 8)));
    return bytes;
  }
  // Takes `records` bits from the byte form; missing bytes read as zero.
  void FromBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t records) {
    words_.assign((static_cast<std::size_t>(records) + 63) / 64, 0);
    size_ = records;
    for (std::size_t i = 0; i < bytes.size() && i / 8 < words_.size(); ++i)
      words_[i / 8] |= std::uint64_t{bytes[i]} << (8 * (i % 8));
    TrimTail();
  }

  friend bool operator==(const TRecordBitmap& a, const TRecordBitmap& b) {
    return a.size_ == b.size_ && a.words_ == b.words_;
  }

 private:
  void TrimTail() {
    if (size_ % 64 != 0 && !words_.empty()) words_.back() &= (std::uint64_t{1} << (size_ % 64)) - 1;
  }

  std::vector<std::uint64_t> words_;
  std::uint32_t size_ = 0;
};

}  // namespace quillon::engine
