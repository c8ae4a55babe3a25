// The page codec and the in-memory entry moves; see index_page.h for the layout.
#include "engine/index_page.h"

#include <algorithm>

#include "engine/byte_order.h"

namespace quillon::engine {

namespace {

int CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, int length) {
  int n = 0;
  while (n < length && a[n] == b[n]) ++n;
  return n;
}

// Zero bytes at the end of key[from, to).
int TrailingZeros(const std::uint8_t* key, int from, int to) {
  int n = 0;
  while (to - n > from && key[to - n - 1] == 0) ++n;
  return n;
}

}  // namespace

void TPageFormat::Shape(const std::uint8_t* previous, const std::uint8_t* key, int& p, int& t) const {
  p = 0;
  t = 0;
  const int kl = KeyLength;
  switch (Compression) {
    case 1:
      if (previous) p = CommonPrefix(previous, key, kl);
      break;
    case 2:
      t = RowIdSuffix ? TrailingZeros(key, 0, kl - 4) : TrailingZeros(key, 0, kl);
      break;
    case 3:
      if (previous) p = std::min(CommonPrefix(previous, key, kl), 255);
      t = std::min(RowIdSuffix && kl - p >= 5 ? TrailingZeros(key, p, kl - 4) : TrailingZeros(key, p, kl), 255);
      break;
    default:
      break;
  }
}

int TPageFormat::StoredSize(const std::uint8_t* previous, const std::uint8_t* key) const {
  if (Compression == 0) return KeyLength + 4;
  int p, t;
  Shape(previous, key, p, t);
  return KeyLength - p - t + 6;
}

std::uint32_t TPage::Value(int i) const {
  return GetU32(Key(i) + KeyLength);
}
void TPage::SetValue(int i, std::uint32_t value) {
  PutU32(Key(i) + KeyLength, value);
}
std::uint32_t TPage::SubCount(int i) const {
  return GetU32(Key(i) + KeyLength + 4);
}
void TPage::SetSubCount(int i, std::uint32_t count) {
  PutU32(Key(i) + KeyLength + 4, count);
}

std::uint64_t TPage::KeysBelow() const {
  if (IsLeaf()) return static_cast<std::uint64_t>(Count);
  std::uint64_t sum = 0;
  for (int i = 0; i < Count; ++i) sum += SubCount(i);
  return sum;
}

void TPage::Reset(std::uint32_t offset, int indexNumber, int keyLength) {
  Offset = offset;
  Dirty = false;
  IndexNumber = indexNumber;
  PageType = kLeafPage;
  PrevPage = NextPage = 0;
  UsedBytes = 0;
  Free = false;
  KeyLength = keyLength;
  Count = 0;
  Entries.clear();
}

void TPage::InsertEntry(int at, const std::uint8_t* key, std::uint32_t value, std::uint32_t subCount) {
  const auto stride = static_cast<std::size_t>(Stride());
  Entries.insert(Entries.begin() + static_cast<std::ptrdiff_t>(at * stride), stride, 0);
  std::memcpy(Key(at), key, static_cast<std::size_t>(KeyLength));
  ++Count;
  SetValue(at, value);
  SetSubCount(at, subCount);
}

void TPage::DeleteEntry(int at) {
  const auto stride = static_cast<std::ptrdiff_t>(Stride());
  Entries.erase(Entries.begin() + at * stride, Entries.begin() + (at + 1) * stride);
  --Count;
}

void TPage::MoveTailTo(int from, TPage& to) {
  const auto stride = static_cast<std::ptrdiff_t>(Stride());
  to.Entries.insert(to.Entries.end(), Entries.begin() + from * stride, Entries.end());
  to.Count += Count - from;
  Entries.resize(static_cast<std::size_t>(from * stride));
  Count = from;
}

void TPage::MoveHeadToEnd(int n, TPage& to) {
  const auto stride = static_cast<std::ptrdiff_t>(Stride());
  to.Entries.insert(to.Entries.end(), Entries.begin(), Entries.begin() + n * stride);
  to.Count += n;
  Entries.erase(Entries.begin(), Entries.begin() + n * stride);
  Count -= n;
}

void TPage::MoveTailToFront(int from, TPage& to) {
  const auto stride = static_cast<std::ptrdiff_t>(Stride());
  to.Entries.insert(to.Entries.begin(), Entries.begin() + from * stride, Entries.end());
  to.Count += Count - from;
  Entries.resize(static_cast<std::size_t>(from * stride));
  Count = from;
}

void TPage::RecountUsedBytes(const TPageFormat& format) {
  if (!IsLeaf() || format.Compression == 0) {
    UsedBytes = 0;
    return;
  }
  int total = 0;
  for (int i = 0; i < Count; ++i) total += format.StoredSize(i > 0 ? Key(i - 1) : nullptr, Key(i));
  UsedBytes = static_cast<std::uint16_t>(std::min(total, 0xFFFF));
}

bool TPage::Overflows(const TPageFormat& format) const {
  if (!IsLeaf()) return Count > format.InnerCapacity();
  if (format.Compression == 0) return Count > format.LeafCapacity();
  return UsedBytes > kPageRoom;
}

bool TPage::Decode(const std::uint8_t* b, const TPageFormat& format) {
  const int kl = format.KeyLength;
  PageType = b[0];
  int count = GetU16(b + 1);
  PrevPage = GetU32(b + 3);
  NextPage = GetU32(b + 7);
  UsedBytes = GetU16(b + 11);
  KeyLength = kl;
  Count = 0;
  Entries.clear();
  if (PageType > kRootLeaf || kl < 1) return false;
  Free = count == 0;
  if (Free) {
    UsedBytes = 0;
    return true;
  }
  const bool leaf = IsLeaf();
  const bool compressed = leaf && format.Compression != 0;
  if (!compressed) {
    int capacity = leaf ? format.LeafCapacity() : format.InnerCapacity();
    if (count > capacity) return false;
    int width = leaf ? kl + 4 : kl + 8;
    Entries.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(Stride()), 0);
    for (int i = 0; i < count; ++i) {
      std::memcpy(Entries.data() + static_cast<std::size_t>(i) * Stride(), b + kPageHeaderSize + i * width,
                  static_cast<std::size_t>(width));
    }
    Count = count;
    UsedBytes = 0;
    return true;
  }
  if (format.Compression > 3 || UsedBytes > kPageRoom) return false;
  // Every entry takes at least 6 bytes, so a count beyond room / 6 cannot be real.
  if (count > kPageRoom / 6) return false;
  const std::uint8_t* p = b + kPageHeaderSize;
  const std::uint8_t* end = p + UsedBytes;
  Entries.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(Stride()), 0);
  for (int i = 0; i < count; ++i) {
    int lead = 0, trail = 0;
    if (format.Compression == 1) {
      if (end - p < 2) return false;
      lead = GetU16(p);
      p += 2;
    } else if (format.Compression == 2) {
      if (end - p < 2) return false;
      trail = GetU16(p);
      p += 2;
    } else {
      if (end - p < 2) return false;
      lead = p[0];
      trail = p[1];
      p += 2;
    }
    if (lead > kl || trail > kl - lead || (i == 0 && lead != 0)) return false;
    bool suffix = format.RowIdSuffix && format.Compression != 1 && kl - lead >= 5;
    if (suffix && trail > kl - lead - 4) return false;
    int kept = kl - lead - trail - (suffix ? 4 : 0);
    if (end - p < kept + (suffix ? 4 : 0) + 4) return false;
    std::uint8_t* key = Entries.data() + static_cast<std::size_t>(i) * Stride();
    if (lead > 0) std::memcpy(key, key - Stride(), static_cast<std::size_t>(lead));
    std::memcpy(key + lead, p, static_cast<std::size_t>(kept));
    p += kept;
    if (suffix) {
      std::memcpy(key + kl - 4, p, 4);
      p += 4;
    }
    std::memcpy(key + kl, p, 4);
    p += 4;
  }
  if (p != end) return false;
  Count = count;
  return true;
}

bool TPage::Encode(std::uint8_t* b, const TPageFormat& format) const {
  std::memset(b, 0, kPageHeaderSize + kPageRoom);
  b[0] = PageType;
  PutU32(b + 7, NextPage);
  if (Free) return true;
  PutU16(b + 1, static_cast<std::uint16_t>(Count));
  PutU32(b + 3, PrevPage);
  const int kl = format.KeyLength;
  std::uint8_t* p = b + kPageHeaderSize;
  const bool leaf = IsLeaf();
  if (!leaf || format.Compression == 0) {
    int width = leaf ? kl + 4 : kl + 8;
    if (Count * width > kPageRoom) return false;
    for (int i = 0; i < Count; ++i) std::memcpy(p + i * width, Key(i), static_cast<std::size_t>(width));
    return true;
  }
  const std::uint8_t* end = b + kPageHeaderSize + kPageRoom;
  PutU16(b + 11, UsedBytes);
  for (int i = 0; i < Count; ++i) {
    const std::uint8_t* key = Key(i);
    int lead, trail;
    format.Shape(i > 0 ? Key(i - 1) : nullptr, key, lead, trail);
    bool suffix = format.RowIdSuffix && format.Compression != 1 && kl - lead >= 5;
    int kept = kl - lead - trail - (suffix ? 4 : 0);
    if (end - p < 2 + kept + (suffix ? 4 : 0) + 4) return false;
    if (format.Compression == 1) {
      PutU16(p, static_cast<std::uint16_t>(lead));
      p += 2;
    } else if (format.Compression == 2) {
      PutU16(p, static_cast<std::uint16_t>(trail));
      p += 2;
    } else {
      p[0] = static_cast<std::uint8_t>(lead);
      p[1] = static_cast<std::uint8_t>(trail);
      p += 2;
    }
    std::memcpy(p, key + lead, static_cast<std::size_t>(kept));
    p += kept;
    if (suffix) {
      std::memcpy(p, key + kl - 4, 4);
      p += 4;
    }
    std::memcpy(p, key + kl, 4);
    p += 4;
  }
  return true;
}

}  // namespace quillon::engine
