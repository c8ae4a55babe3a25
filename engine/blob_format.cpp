// TBlobHeader; see blob_format.h for the layout.
#include "engine/blob_format.h"

#include <cstring>

#include "engine/byte_order.h"

namespace quillon::engine {

TBlobHeader TBlobHeader::Decode(const std::uint8_t* b) {
  TBlobHeader h;
  h.ChangeCounter = GetI32(b + 0);
  h.Version = b[8];
  h.FreeBlockHead = GetU32(b + 9);
  h.NextBlockOffset = GetU32(b + 13);
  h.HeaderDirty = b[17];
  return h;
}

void TBlobHeader::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kBlobHeaderSize);
  PutI32(b + 0, ChangeCounter);
  b[8] = Version;
  PutU32(b + 9, FreeBlockHead);
  PutU32(b + 13, NextBlockOffset);
  b[17] = HeaderDirty;
}

}  // namespace quillon::engine
