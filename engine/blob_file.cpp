// TBlobFile: the BLOB file's header, its block cache, block chains and the open values of a
// cursor. See blob_file.h for the byte map and the invariants.
//
// Damage never reaches memory unchecked: every offset taken from a slot, a block header or the
// file header is checked against the block grid and NextBlockOffset before it is read, a value's
// TotalLength is checked against what the file could hold before memory is set aside for it, and
// chains are walked whole, with a record of the blocks met, before they are changed or freed.
#include "engine/blob_file.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <unordered_set>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

constexpr int kMaxPins = 64;
constexpr std::uint32_t kBlockCacheBytes = 262140;
constexpr int kMaxCachedBlocks = 4096;
constexpr std::uint32_t kReadAheadBytes = 65535;
constexpr std::uint32_t kValueGuessBytes = 4096;  // ReadChainAhead's first read
constexpr int kTransactionCacheGrowth = 256;

// Handles are unique in the process, so a record buffer carried to another cursor can never
// name that cursor's values by accident.
std::atomic<std::uint32_t> nextHandleSerial{0};

std::int32_t NewHandle() {
  std::uint32_t serial = nextHandleSerial.fetch_add(1) % 0x7FFFFFFFu;  // 0 .. 2^31 - 2
  return -static_cast<std::int32_t>(serial + 1);
}

// Unpins on scope exit; the block may have been emptied by a change check meanwhile.
class TPinnedBlock {
 public:
  TPinnedBlock(TBlobFile& file, TBlock* block) : file_(file), block_(block) {}
  ~TPinnedBlock() { file_.UnpinBlock(block_); }
  TPinnedBlock(const TPinnedBlock&) = delete;
  TPinnedBlock& operator=(const TPinnedBlock&) = delete;
  TBlock* operator->() const { return block_; }
  TBlock* get() const { return block_; }

 private:
  TBlobFile& file_;
  TBlock* block_;
};

void DecodeBlockHeader(const std::uint8_t* p, TBlock& block) {
  block.PrevBlock = GetU32(p);
  block.NextBlock = GetU32(p + 4);
  block.UsedBytes = GetU16(p + 8);
  block.OwnerRecord = GetU32(p + 10);
  block.TotalLength = GetU32(p + 14);
}

void EncodeBlockHeader(const TBlock& block, std::uint8_t* p) {
  PutU32(p, block.PrevBlock);
  PutU32(p + 4, block.NextBlock);
  PutU16(p + 8, block.UsedBytes);
  PutU32(p + 10, block.OwnerRecord);
  PutU32(p + 14, block.TotalLength);
}

void ResetBlock(TBlock& block) {
  block.PrevBlock = block.NextBlock = 0;
  block.UsedBytes = 0;
  block.OwnerRecord = block.TotalLength = 0;
  std::fill(block.Data.begin(), block.Data.end(), 0);
}

}  // namespace

TBlobFile::~TBlobFile() {
  try {
    TBlobFile::Close();
  } catch (...) {  // a destructor must not throw
  }
}

std::string TBlobFile::ErrorFileName() const {
  return owner_.FileName();
}

std::string TBlobFile::NormalizeName(const std::string& name) const {
  std::string trimmed = Trim(name);
  return HasExtension(trimmed, ".BLB") ? trimmed : ReplaceExtension(trimmed, ".BLB");
}

bool TBlobFile::Encrypted() const {
  return owner_.Header().Encrypted;
}

bool TBlobFile::TransactionHeld() const {
  return owner_.LockState().Transaction;
}

// ---- Open, Close, Create ---------------------------------------------------------------------

void TBlobFile::Open() {
  if (Opened()) return;
  TFileHandler::Open();
  try {
    if (BlockSize() < kMinBlockSize) Fail(err::kHeaderAccess);
    ReadHeader();
    blockCache_.Clear();
    int capacity = static_cast<int>(std::min<std::uint32_t>(kBlockCacheBytes / BlockSize(), kMaxCachedBlocks));
    blockCache_.SetCapacity(std::max(capacity, 1));
    openBlobs_.Clear();
    openBlobs_.SetCapacity(kMaxOpenBlobs);
    statistics_ = TStatistics{};
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TBlobFile::Close() {
  headerChanged_ = false;
  replaced_.clear();
  openBlobs_.Clear();
  blockCache_.Clear();
  TFileHandler::Close();
}

void TBlobFile::CreateNew() {
  TFileHandler::CreateNew();
  header_ = TBlobHeader{};
  headerChanged_ = true;
}

void TBlobFile::EmptyBlobFile() {
  Seek(kBlobHeaderSize, 0);
  WriteBuffer(nullptr, 0);
  SetFreeBlockHead(0);
  SetNextBlockOffset(kBlobHeaderSize);
  InvalidateBlocks();
  // The chains the open values came from are gone; they are stored afresh if posted.
  for (auto& b : openBlobs_) b->FirstBlock = 0;
}

// ---- Header ----------------------------------------------------------------------------------

std::uint32_t TBlobFile::BlockSize() const {
  return owner_.Header().BlockSize();
}
std::uint32_t TBlobFile::FreeBlockHead() const {
  return header_.FreeBlockHead;
}
std::uint32_t TBlobFile::NextBlockOffset() const {
  return header_.NextBlockOffset;
}
std::int32_t TBlobFile::ChangeCounter() const {
  return header_.ChangeCounter;
}

void TBlobFile::SetFreeBlockHead(std::uint32_t offset) {
  header_.FreeBlockHead = offset;
  headerChanged_ = true;
}

void TBlobFile::SetNextBlockOffset(std::uint32_t offset) {
  header_.NextBlockOffset = offset;
  headerChanged_ = true;
}

bool TBlobFile::IsValidBlockOffset(std::uint32_t offset) const {
  return offset >= kBlobHeaderSize && offset < NextBlockOffset() && (offset - kBlobHeaderSize) % BlockSize() == 0;
}

std::int32_t TBlobFile::ReadChangeCounter() {
  std::uint8_t bytes[4];
  ReadAt(0, bytes, 4);
  if (Encrypted()) ScrambleData(bytes, 4);
  return GetI32(bytes);
}

void TBlobFile::ReadHeader() {
  std::array<std::uint8_t, kBlobHeaderSize> page{};
  ReadAt(0, page.data(), kBlobHeaderSize);
  if (Encrypted()) ScrambleData(page.data(), page.size());
  const TBlobHeader header = TBlobHeader::Decode(page.data());
  if (header.Version != kBlobVersion) Fail(err::kWrongVersion);
  // Offsets off the block grid would make every later block address meaningless.
  const std::uint32_t next = header.NextBlockOffset, freeHead = header.FreeBlockHead;
  bool sane = next >= kBlobHeaderSize && (next - kBlobHeaderSize) % BlockSize() == 0 &&
              next <= kMaxBlobFileOffset + BlockSize() &&
              (freeHead == 0 ||
               (freeHead >= kBlobHeaderSize && freeHead < next && (freeHead - kBlobHeaderSize) % BlockSize() == 0));
  if (!sane) Fail(err::kHeaderAccess);
  header_ = header;
  headerChanged_ = false;
  freeBlockTaken_ = false;
}

void TBlobFile::WriteHeader(bool force) {
  if (!force && !headerChanged_) return;
  if (ReadOnly()) Fail(err::kAccessDenied);
  header_.ChangeCounter = NextChangeCounter(header_.ChangeCounter);
  header_.HeaderDirty = headerChanged_ ? 1 : 0;
  std::array<std::uint8_t, kBlobHeaderSize> page{};
  header_.Encode(page.data());
  if (Encrypted()) ScrambleData(page.data(), page.size());
  WriteAt(0, page.data(), kBlobHeaderSize);
  headerChanged_ = false;
  freeBlockTaken_ = false;
}

// ---- Block cache -----------------------------------------------------------------------------

void TBlobFile::InvalidateBlocks() {
  replaced_.clear();  // the changes that gave them up are dropped with the blocks
  blockCache_.ForgetKeys();
  for (auto& b : blockCache_) {
    b->Dirty = false;
    b->PinCount = 0;
    b->ReadAheadMark = false;
  }
}

void TBlobFile::Pin(TBlock* block) {
  if (block->PinCount >= kMaxPins) Fail(err::kBlobBuffersCorrupt);
  ++block->PinCount;
}

void TBlobFile::UnpinBlock(TBlock* block) {
  if (block && block->PinCount > 0) --block->PinCount;
}

TBlock* TBlobFile::TakeBuffer() {
  if (!blockCache_.Full()) {
    auto block = std::make_unique<TBlock>();
    block->Owner = this;
    block->Data.assign(BlockCapacity(), 0);
    return blockCache_.Add(std::move(block));
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (TBlock* b = blockCache_.ReuseOldest()) return b;
    if (TransactionHeld()) {
      blockCache_.Grow(kTransactionCacheGrowth);
      return TakeBuffer();
    }
    if (attempt == 0) WriteBlocks();
  }
  Fail(err::kBlobBuffersCorrupt);
}

void TBlobFile::LoadBlocks(std::uint32_t first, std::uint32_t count) {
  const std::uint32_t size = BlockSize();
  std::vector<std::uint8_t>& area = area_;
  area.resize(std::size_t{count} * size);
  ++statistics_.BlockReads;
  std::uint32_t got = ReadAt(first, area.data(), static_cast<std::uint32_t>(area.size()), true);
  // The file may end before blocks still cached unwritten only on an Exclusive table or while
  // changes are deferred (a read-only cursor holds none); elsewhere a short block is a damaged
  // file.
  bool shortAllowed = (Exclusive() && !ReadOnly()) || TransactionHeld();
  if (got < size && !shortAllowed) Fail(err::kReadError);
  std::vector<TBlock*>& filled = loadFilled_;
  filled.clear();
  for (std::uint32_t k = 0; k < count; ++k) {
    std::size_t from = std::size_t{k} * size;
    if (k > 0 && from + size > got) break;  // only the wanted block may come up short
    std::uint32_t offset = first + k * size;
    if (blockCache_.Holds(offset)) continue;  // never overwrite what this cursor already holds
    TBlock* b = TakeBuffer();
    b->ReadAheadMark = true;
    filled.push_back(b);
    std::uint8_t raw[kBlockHeaderSize] = {};
    std::size_t available = got > from ? std::min<std::size_t>(size, got - from) : 0;
    std::memcpy(raw, area.data() + from, std::min<std::size_t>(available, kBlockHeaderSize));
    if (Encrypted()) ScrambleData(raw, kBlockHeaderSize);
    DecodeBlockHeader(raw, *b);
    const std::size_t copied = available > kBlockHeaderSize ? available - kBlockHeaderSize : 0;
    if (copied > 0) std::memcpy(b->Data.data(), area.data() + from + kBlockHeaderSize, copied);
    std::fill(b->Data.begin() + static_cast<std::ptrdiff_t>(copied), b->Data.end(), 0);
    if (Encrypted()) ScrambleData(b->Data.data(), b->Data.size());
    blockCache_.SetKey(b, offset);
  }
  for (TBlock* b : filled) b->ReadAheadMark = false;
}

TBlock* TBlobFile::GetBlock(std::uint32_t offset, std::uint32_t wanted) {
  if (IsValidBlockOffset(offset)) {
    if (TBlock* hit = FindCached(offset)) {
      Pin(hit);
      return hit;
    }
  }
  // The offset is judged against the header as the read lock finds it: another cursor may have
  // grown the file since this one last looked.
  if (!owner_.StrictChangeDetection() && owner_.AcquireReadLock()) throw ERestartOperation();
  if (!IsValidBlockOffset(offset)) Fail(err::kInvalidBlobOffset);
  const std::uint32_t size = BlockSize();
  std::uint32_t n = std::max<std::uint32_t>(wanted, 1);
  n = std::min(n, std::max<std::uint32_t>(kReadAheadBytes / size, 1));
  n = std::min(n, (NextBlockOffset() - offset) / size);
  n = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(std::max(blockCache_.Capacity(), 1)));
  LoadBlocks(offset, std::max<std::uint32_t>(n, 1));
  TBlock* block = FindCached(offset);
  if (!block) Fail(err::kBlobBuffersCorrupt);
  Pin(block);
  return block;
}

TBlock* TBlobFile::ClaimBlock(std::uint32_t offset) {
  TBlock* block = FindCached(offset);
  if (!block) {
    block = TakeBuffer();
    blockCache_.SetKey(block, offset);
  }
  Pin(block);
  return block;
}

void TBlobFile::WriteBack() {
  WriteBlocks();
  WriteHeader(false);
}

void TBlobFile::WriteBackAhead() {
  WriteBlocks();
  if (freeBlockTaken_) WriteHeader(false);
}

void TBlobFile::WriteBlocks() {
  const std::uint32_t size = BlockSize();
  std::size_t written = blockCache_.WriteDirtyRuns(size, true, [&](TBlock* const* blocks, std::size_t n) {
    if (ReadOnly()) Fail(err::kAccessDenied);
    std::vector<std::uint8_t>& run = writeRun_;
    run.assign(n * size, 0);
    for (std::size_t k = 0; k < n; ++k) {
      std::uint8_t* p = run.data() + k * size;
      EncodeBlockHeader(*blocks[k], p);
      std::memcpy(p + kBlockHeaderSize, blocks[k]->Data.data(), blocks[k]->Data.size());
      if (Encrypted()) {
        ScrambleData(p, kBlockHeaderSize);
        ScrambleData(p + kBlockHeaderSize, size - kBlockHeaderSize);
      }
    }
    ++statistics_.BlockWrites;
    WriteAt(blocks[0]->Offset, run.data(), static_cast<std::uint32_t>(run.size()));
  });
  if (written != 0) headerChanged_ = true;
}

// ---- Chains ----------------------------------------------------------------------------------

TBlock* TBlobFile::AllocateBlock() {
  if (ReadOnly()) Fail(err::kAccessDenied);
  TBlock* block;
  std::uint32_t head = FreeBlockHead();
  if (head != 0) {
    block = GetBlock(head);
    std::uint32_t next = block->NextBlock;
    if (next != 0 && !IsValidBlockOffset(next)) {
      UnpinBlock(block);
      Fail(err::kInvalidBlobOffset);
    }
    SetFreeBlockHead(next);
    freeBlockTaken_ = true;
    ++statistics_.BlocksReused;
  } else {
    std::uint32_t offset = NextBlockOffset();
    if (offset > kMaxBlobFileOffset) Fail(err::kFileFull);
    SetNextBlockOffset(offset + BlockSize());
    block = ClaimBlock(offset);
    ++statistics_.BlocksAppended;
  }
  ResetBlock(*block);
  block->Dirty = true;
  headerChanged_ = true;
  return block;
}

std::vector<std::uint32_t> TBlobFile::WalkChain(std::uint32_t firstBlock, std::uint32_t ownerRecord, int code) {
  std::vector<std::uint32_t> chain;
  std::unordered_set<std::uint32_t> met;
  std::uint32_t remaining = 1;  // blocks still expected, for read-ahead
  for (std::uint32_t offset = firstBlock; offset != 0;) {
    if (!IsValidBlockOffset(offset) || !met.insert(offset).second) Fail(code);
    TPinnedBlock block(*this, GetBlock(offset, remaining));
    if (block->OwnerRecord != ownerRecord) Fail(code);
    if (chain.empty()) {
      std::uint32_t capacity = BlockCapacity();
      remaining = static_cast<std::uint32_t>((std::uint64_t{block->TotalLength} + capacity - 1) / capacity);
    }
    chain.push_back(offset);
    remaining = remaining > 1 ? remaining - 1 : 1;
    offset = block->NextBlock;
  }
  return chain;
}

void TBlobFile::FreeBlock(std::uint32_t offset, std::uint32_t remaining) {
  TPinnedBlock block(*this, GetBlock(offset, remaining));
  block->NextBlock = FreeBlockHead();
  block->Dirty = true;
  SetFreeBlockHead(offset);
}

void TBlobFile::FreeChain(std::uint32_t firstBlock, std::uint32_t ownerRecord) {
  FreeChains({firstBlock}, ownerRecord);
}

void TBlobFile::FreeChains(const std::vector<std::uint32_t>& firstBlocks, std::uint32_t ownerRecord) {
  std::vector<std::vector<std::uint32_t>> chains;
  std::unordered_set<std::uint32_t> all;
  for (std::uint32_t first : firstBlocks) {
    if (first == 0) continue;
    if (ReadOnly()) Fail(err::kAccessDenied);
    chains.push_back(WalkChain(first, ownerRecord, err::kInvalidBlobOffset));
    for (std::uint32_t offset : chains.back())
      if (!all.insert(offset).second) Fail(err::kInvalidBlobOffset);
  }
  // Last block first, so that the free list hands the blocks out again in file order and a
  // value written into them reads back with few read-ahead calls.
  for (const auto& chain : chains)
    for (std::size_t i = chain.size(); i-- > 0;) FreeBlock(chain[i], 1);
}

void TBlobFile::FreeChainsLater(const std::vector<std::uint32_t>& firstBlocks, std::uint32_t ownerRecord) {
  std::unordered_set<std::uint32_t> all;
  std::vector<TReplacedChain> chains;
  for (std::uint32_t first : firstBlocks) {
    if (first == 0) continue;
    if (ReadOnly()) Fail(err::kAccessDenied);
    chains.push_back({ownerRecord, WalkChain(first, ownerRecord, err::kInvalidBlobOffset)});
    for (std::uint32_t offset : chains.back().Blocks)
      if (!all.insert(offset).second) Fail(err::kInvalidBlobOffset);
  }
  for (auto& chain : chains) replaced_.push_back(std::move(chain));
}

bool TBlobFile::ReleaseReplacedChains(const std::function<bool(std::uint32_t owner, std::uint32_t first)>& named) {
  std::vector<TReplacedChain> chains = std::move(replaced_);
  replaced_.clear();
  // A change that failed and was made again puts the same chain aside twice: it is freed once.
  std::unordered_set<std::uint32_t> freed;
  bool any = false;
  for (const TReplacedChain& chain : chains) {
    if (chain.Blocks.empty() || named(chain.Owner, chain.Blocks.front())) continue;
    if (!freed.insert(chain.Blocks.front()).second) continue;
    // Last block first, as FreeChains does.
    for (std::size_t i = chain.Blocks.size(); i-- > 0;) FreeBlock(chain.Blocks[i], 1);
    any = true;
  }
  return any;
}

void TBlobFile::ReadChainAhead(std::uint32_t firstBlock, std::uint32_t ownerRecord) {
  const std::uint32_t capacity = BlockCapacity();
  // Before the first block tells the length, a guess that covers a lyric-sized value in one read:
  // a value is written into blocks in file order, so its blocks mostly follow its first.
  std::uint32_t remaining = std::max<std::uint32_t>(kValueGuessBytes / BlockSize(), 1);
  std::uint32_t steps = std::max<std::uint32_t>(kReadAheadBytes / BlockSize(), 1);
  try {
    for (std::uint32_t offset = firstBlock; offset != 0 && steps > 0 && IsValidBlockOffset(offset); --steps) {
      TPinnedBlock block(*this, GetBlock(offset, remaining));
      if (block->OwnerRecord != ownerRecord) return;
      if (offset == firstBlock) {
        remaining = static_cast<std::uint32_t>((std::uint64_t{block->TotalLength} + capacity - 1) / capacity);
        steps = std::min(steps, remaining);
      }
      remaining = remaining > 1 ? remaining - 1 : 1;
      offset = block->NextBlock;
    }
  } catch (const EEngineError&) {  // reported by the open, which reads the chain again
  }
}

void TBlobFile::LoadValue(TBlobBuffer& buffer) {
  buffer.Data.clear();
  buffer.Modified = false;
  if (buffer.FirstBlock == 0) return;
  const std::uint32_t capacity = BlockCapacity();
  std::uint32_t length;
  {
    TPinnedBlock first(*this, GetBlock(buffer.FirstBlock));
    if (first->OwnerRecord != buffer.OwnerRecord) {
      if (buffer.OpenMode != kBlobOpenReadWrite) return;
      Fail(err::kBlobBuffersCorrupt);
    }
    length = first->TotalLength;
  }
  if (length == 0) return;  // a first block that says so holds the empty value; nothing to copy
  // A length no chain in this file could hold is damage, not a request for memory.
  std::uint64_t blocksInFile = (NextBlockOffset() - kBlobHeaderSize) / BlockSize();
  if (length > blocksInFile * capacity) Fail(err::kEndOfBlob);
  try {
    buffer.Data.assign(length, 0);
  } catch (const std::bad_alloc&) {
    Fail(err::kOutOfMemory);
  }
  // The blocks met so far, so that a chain leading back into itself ends in err::kBlobBuffersCorrupt, not a loop.
  std::unordered_set<std::uint32_t> met;
  std::uint32_t copied = 0;
  for (std::uint32_t offset = buffer.FirstBlock;;) {
    if (!met.insert(offset).second) Fail(err::kBlobBuffersCorrupt);
    std::uint32_t want = std::min(capacity, length - copied);
    std::uint32_t blocksNeeded = static_cast<std::uint32_t>((std::uint64_t{length - copied} + capacity - 1) / capacity);
    TPinnedBlock block(*this, GetBlock(offset, blocksNeeded));
    if (block->OwnerRecord != buffer.OwnerRecord) Fail(err::kBlobBuffersCorrupt);
    if (block->UsedBytes > capacity) Fail(err::kBlobBuffersCorrupt);
    if (block->UsedBytes < want) Fail(err::kEndOfBlob);
    std::memcpy(buffer.Data.data() + copied, block->Data.data(), want);
    copied += want;
    if (copied == length) break;
    offset = block->NextBlock;
    if (offset == 0) Fail(err::kEndOfBlob);
  }
}

void TBlobFile::StoreValue(TBlobBuffer& buffer) {
  if (ReadOnly()) Fail(err::kAccessDenied);
  const std::uint32_t length = buffer.Length();
  if (length == 0) {
    FreeChainsLater({buffer.FirstBlock}, buffer.OwnerRecord);
    buffer.FirstBlock = 0;
    buffer.Modified = false;
    return;
  }
  const std::uint32_t capacity = BlockCapacity();
  const std::size_t needed = (std::size_t{length} + capacity - 1) / capacity;
  // The new value never goes into the old chain's blocks: the record still names them until it
  // is written, and a kill in between must find the old value there whole.
  std::vector<std::uint32_t> old;
  if (buffer.FirstBlock != 0) old = WalkChain(buffer.FirstBlock, buffer.OwnerRecord, err::kBlobBuffersCorrupt);
  std::vector<std::uint32_t> chain;
  // Every block is in hand before the first byte changes: running out of room (err::kFileFull) puts the
  // new blocks back on the free list and leaves the old value as it was.
  std::vector<std::uint32_t> allocated;
  try {
    while (chain.size() < needed) {
      TPinnedBlock block(*this, AllocateBlock());
      allocated.push_back(block->Offset);
      chain.push_back(block->Offset);
    }
  } catch (...) {
    for (std::size_t i = allocated.size(); i-- > 0;) FreeBlock(allocated[i], 1);
    throw;
  }
  for (std::size_t i = 0; i < needed; ++i) {
    TPinnedBlock block(*this, ClaimBlock(chain[i]));
    std::uint32_t from = static_cast<std::uint32_t>(i * capacity);
    std::uint32_t chunk = std::min(capacity, length - from);
    block->PrevBlock = i == 0 ? 0 : chain[i - 1];
    block->NextBlock = i + 1 < needed ? chain[i + 1] : 0;
    block->UsedBytes = static_cast<std::uint16_t>(chunk);
    block->OwnerRecord = buffer.OwnerRecord;
    block->TotalLength = i == 0 ? length : 0;
    std::memcpy(block->Data.data(), buffer.Data.data() + from, chunk);
    std::fill(block->Data.begin() + chunk, block->Data.end(), 0);
    block->Dirty = true;
  }
  headerChanged_ = true;
  if (!old.empty()) replaced_.push_back({buffer.OwnerRecord, std::move(old)});
  buffer.FirstBlock = chain[0];
  buffer.Modified = false;
}

// ---- Open values -----------------------------------------------------------------------------

TBlobBuffer* TBlobFile::FindOpenBlob(std::int32_t handle) {
  if (handle >= 0) return nullptr;
  for (auto& b : openBlobs_)
    if (b->Handle == handle) return b.get();
  return nullptr;
}

TBlobBuffer* TBlobFile::AddOpenBlob(std::unique_ptr<TBlobBuffer> buffer) {
  if (openBlobs_.Count() >= kMaxOpenBlobs) Fail(err::kTooManyBlobs);
  buffer->Owner = this;
  do {
    buffer->Handle = NewHandle();
  } while (FindOpenBlob(buffer->Handle) != nullptr);
  openBlobs_.Add(std::move(buffer));
  return openBlobs_[openBlobs_.Count() - 1].get();
}

void TBlobFile::RemoveOpenBlob(std::int32_t handle) {
  for (int i = 0; i < openBlobs_.Count(); ++i) {
    if (openBlobs_[i]->Handle == handle) {
      openBlobs_.Delete(i);
      return;
    }
  }
}

void TBlobFile::CloseAllBlobs() {
  while (openBlobs_.Count() > 0) openBlobs_.Delete(openBlobs_.Count() - 1);
}

namespace {
bool StandsIn(const TBlobBuffer& b, const std::uint8_t* record) {
  return GetI32(record + b.SlotOffset + 1) == b.Handle;
}
}  // namespace

void TBlobFile::SetOwner(std::uint32_t recordNumber, const std::uint8_t* record) {
  for (auto& b : openBlobs_) {
    if (!StandsIn(*b, record) || b->OwnerRecord == recordNumber) continue;
    if (b->FirstBlock != 0) {
      // The chain is another record's: this record gets a copy of its own.
      b->FirstBlock = 0;
      b->Modified = true;
    }
    b->OwnerRecord = recordNumber;
  }
}

void TBlobFile::StoreModified(const std::uint8_t* record) {
  std::vector<TBlobBuffer*> modified;
  for (auto& b : openBlobs_)
    if (b->Modified && StandsIn(*b, record)) modified.push_back(b.get());
  for (TBlobBuffer* b : modified)
    if (b->OwnerRecord != modified.front()->OwnerRecord) Fail(err::kBlobBuffersCorrupt);
  for (TBlobBuffer* b : modified) StoreValue(*b);
}

void TBlobFile::PutOffsetsIntoRecord(std::uint8_t* record) const {
  for (const auto& b : openBlobs_) {
    if (!StandsIn(*b, record)) continue;
    record[b->SlotOffset] = b->FirstBlock != 0 ? 1 : 0;
    PutU32(record + b->SlotOffset + 1, b->FirstBlock);
  }
}

}  // namespace quillon::engine
