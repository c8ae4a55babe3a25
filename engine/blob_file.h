// TBlobFile: the table's BLOB file (<name>.BLB), owned by its TDataFile and present exactly when
// the table has BLOB fields. It keeps BLOB values as chains of fixed-size blocks, caches blocks,
// and holds the values a cursor has open (TBlobBuffer): a value is read whole into memory when it
// is opened, edited there and written back as a chain when its record is inserted or updated.
//
// Header: TBlobHeader (blob_format.h), 512 bytes at offset 0, scrambled as a whole with the data
// seed when encrypted.
// Blocks of BlockSize bytes (the data header's BlobBlockSize: 64 or more, 0 read as 512) follow
// at 512 + k x BlockSize and are addressed by their byte offset. A block:
//   0 u32 PrevBlock (0 in a chain's first block)   4 u32 NextBlock (0 in the last; in a free
//   block the next free block)   8 u16 UsedBytes   10 u32 OwnerRecord   14 u32 TotalLength (the
//   whole value's length in the first block, 0 elsewhere)   18.. data (BlockSize - 18 bytes)
// When encrypted, a block's 18-byte header and its data part are scrambled separately, each from
// the seed. A value of length L takes ceil(L / (BlockSize - 18)) blocks, all full but the last;
// the empty value takes none and its field holds 0.
//
// Invariants:
//  1. Every chain block belongs to one record (OwnerRecord) and one chain; free blocks form one
//     list from FreeBlockHead; the two never share a block. Blocks are reused from the free list
//     before the file grows.
//  2. A chain is changed or freed only after it has been walked whole and found sound (valid
//     offsets, the right owner, no block met twice), so a damaged chain yields an engine error
//     and is left as it was, never a half-freed chain or a write into another record's value.
//  3. Cached blocks follow the engine's cache policy: most recently used first; pinned, dirty or
//     read-ahead-marked buffers are never reused; at most 64 pins on one block (err::kBlobBuffersCorrupt).
//  4. Any block change marks the header changed, so the next write-back increments the change
//     counter and other cursors drop their cached blocks.
//  5. At most 64 values are open per cursor; each has a negative handle unique in the process,
//     which stands in the record buffer's BLOB slot while the value is open.
//
// Thread rules: one cursor, and so one TBlobFile, belongs to one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/blob_format.h"
#include "engine/buffer_cache.h"
#include "engine/file_handler.h"
#include "engine/system_list.h"

namespace quillon::engine {

class TDataFile;
class TBlobFile;

inline constexpr int kBlockHeaderSize = 18;
inline constexpr int kMinBlockSize = 64;
inline constexpr int kMaxOpenBlobs = 64;
// NextBlockOffset may not grow once it exceeds this (err::kFileFull); values are limited to it as well.
inline constexpr std::uint32_t kMaxBlobFileOffset = 2000000000;

enum TBlobOpenMode { kBlobOpenRead = 1, kBlobOpenReadWrite = 2 };

// One cached block.
struct TBlock {
  TBlobFile* Owner = nullptr;
  bool Dirty = false;
  std::uint16_t PinCount = 0;  // at most 64
  std::uint32_t Offset = 0;    // 0 = empty buffer
  std::uint32_t PrevBlock = 0;
  std::uint32_t NextBlock = 0;
  std::uint16_t UsedBytes = 0;
  std::uint32_t OwnerRecord = 0;
  std::uint32_t TotalLength = 0;
  std::vector<std::uint8_t> Data;  // BlockSize - 18 bytes
  bool ReadAheadMark = false;
  TBlock* Newer = nullptr;  // the cache's recency links
  TBlock* Older = nullptr;
};

// One open BLOB value: the whole value in memory.
struct TBlobBuffer {
  TBlobFile* Owner = nullptr;
  bool Modified = false;
  std::uint32_t OwnerRecord = 0;
  int FieldNumber = 0;
  std::uint16_t SlotOffset = 0;  // the field's null byte in the record; the 4-byte slot follows
  std::uint32_t FirstBlock = 0;
  std::vector<std::uint8_t> Data;
  int OpenMode = kBlobOpenRead;
  std::int32_t Handle = 0;  // negative

  std::uint32_t Length() const { return static_cast<std::uint32_t>(Data.size()); }
};

class TBlobFile : public TFileHandler {
 public:
  explicit TBlobFile(TDataFile& owner) : owner_(owner) {}
  ~TBlobFile() override;

  // The extension becomes ".BLB" unless it already is one (any case).
  std::string NormalizeName(const std::string& name) const override;
  void Open() override;   // reads the header: Version 3, else err::kWrongVersion
  void Close() override;  // drops open values and cached blocks without writing
  // Creates the file with a fresh header (Version 3, NextBlockOffset 512, HeaderDirty 1).
  void CreateNew() override;
  // Truncates to the header: NextBlockOffset 512, FreeBlockHead 0; drops cached blocks.
  void EmptyBlobFile();

  std::uint32_t BlockSize() const;
  std::uint32_t BlockCapacity() const { return BlockSize() - kBlockHeaderSize; }  // data bytes
  std::uint32_t FreeBlockHead() const;
  std::uint32_t NextBlockOffset() const;
  // A block's offset: at or above 512, on a block boundary and below NextBlockOffset.
  bool IsValidBlockOffset(std::uint32_t offset) const;

  // Header I/O and change detection.
  std::int32_t ChangeCounter() const;
  std::int32_t ReadChangeCounter();
  void ReadHeader();
  void WriteHeader(bool force);
  bool HeaderChanged() const { return headerChanged_; }
  // Forgets every cached block, dirty ones too (another cursor changed the file, or deferred
  // changes are discarded).
  void InvalidateBlocks();
  // Writes dirty unpinned blocks in runs of adjacent blocks, one write per run, then the header
  // when anything changed.
  void WriteBack();
  // Ahead of a checkpoint (an Exclusive writer that needs room in its caches): writes the dirty
  // blocks but leaves the header as last written, so that blocks appended since lie past its
  // NextBlockOffset and a kill leaves none outside every chain (the next writer appends over
  // them). When a block was taken from the free list meanwhile the header is written too: the
  // free list on disk would otherwise lead into a chain.
  void WriteBackAhead();

  // Block cache. GetBlock returns the block pinned, reading up to `wanted` consecutive blocks in
  // one read on a miss; an invalid offset raises err::kInvalidBlobOffset. May throw ERestartOperation when the read
  // lock taken at a miss finds the table changed.
  TBlock* GetBlock(std::uint32_t offset, std::uint32_t wanted = 1);
  void UnpinBlock(TBlock* block);
  int BlockCacheCapacity() const { return blockCache_.Capacity(); }

  // Chains. AllocateBlock returns a zeroed, pinned, dirty block: the free list's head, else a new
  // block at NextBlockOffset (err::kFileFull when that already exceeds 2,000,000,000). FreeChain walks
  // the chain first (err::kInvalidBlobOffset when it is broken or a block belongs to another owner) and then puts
  // every block on the free list.
  TBlock* AllocateBlock();
  void FreeChain(std::uint32_t firstBlock, std::uint32_t ownerRecord);
  // Several chains of one record at once: all are walked (and must not share a block) before any
  // is freed.
  void FreeChains(const std::vector<std::uint32_t>& firstBlocks, std::uint32_t ownerRecord);
  // The record operations' way of giving up a chain (a value replaced, left behind, or its
  // record deleted): the chains are walked now, as FreeChains does, but their blocks go on the
  // free list only in ReleaseReplacedChains, which the table calls once its records are written
  // back. Until the record on disk stops naming a chain, its blocks keep the old value whole, so
  // a failure or a kill between the writes leaves the old record with its old value.
  void FreeChainsLater(const std::vector<std::uint32_t>& firstBlocks, std::uint32_t ownerRecord);
  // Frees the chains put aside that their owner no longer names (`named` answers whether record
  // `owner` names the chain starting at `first`; a chain still named stays in use, as after a
  // change that failed). True when any block was freed.
  bool ReleaseReplacedChains(const std::function<bool(std::uint32_t owner, std::uint32_t first)>& named);
  std::size_t ReplacedChainCount() const { return replaced_.size(); }
  // The blocks of the chains put aside and not yet released (in use until then).
  std::vector<std::uint32_t> ReplacedBlocks() const {
    std::vector<std::uint32_t> blocks;
    for (const auto& chain : replaced_) blocks.insert(blocks.end(), chain.Blocks.begin(), chain.Blocks.end());
    return blocks;
  }
  // Reads the value at FirstBlock into the buffer: err::kBlobBuffersCorrupt for a block of another owner (the value
  // is empty instead when the first block's owner differs and the buffer is read-only) or a
  // block met twice, err::kEndOfBlob for a chain shorter than its TotalLength.
  void LoadValue(TBlobBuffer& buffer);
  // Reads the blocks of the chain at firstBlock into the cache, as LoadValue would read them, for
  // a value about to be opened; at most one read-ahead's worth. The caller holds the read lock
  // (the blocks are then as fresh as the record that names them). Stops quietly at anything
  // unsound or unreadable: the open that follows meets it again and reports it.
  void ReadChainAhead(std::uint32_t firstBlock, std::uint32_t ownerRecord);
  // Writes the value as a new chain and puts the old one aside (FreeChainsLater); the empty
  // value puts the chain aside and leaves FirstBlock 0. err::kBlobBuffersCorrupt when the old chain is not sound.
  void StoreValue(TBlobBuffer& buffer);

  // Open values of the cursor, in opening order.
  int OpenBlobCount() const { return openBlobs_.Count(); }
  TBlobBuffer* FindOpenBlob(std::int32_t handle);
  // Takes the buffer, gives it a fresh handle and answers it; err::kTooManyBlobs beyond 64 open values.
  TBlobBuffer* AddOpenBlob(std::unique_ptr<TBlobBuffer> buffer);
  void RemoveOpenBlob(std::int32_t handle);
  void CloseAllBlobs();

  // The record operations' calls, in this order, once the record number is known. Each concerns
  // the open values that stand in the posted record buffer (their handle is in their field's
  // slot there), so a value opened on another record buffer is never written into this record.
  // SetOwner: they get the record as owner; a value whose chain belongs to another record is
  // detached from that chain and stored as a new one, so two records never share a chain.
  void SetOwner(std::uint32_t recordNumber, const std::uint8_t* record);
  // Writes every modified one (err::kBlobBuffersCorrupt when they have different owners).
  void StoreModified(const std::uint8_t* record);
  // Puts each one's FirstBlock, with its null byte, into its field of the stored record (a copy
  // of the posted buffer, so its slots still hold the handles).
  void PutOffsetsIntoRecord(std::uint8_t* record) const;

  // Counts since open, for tests and benchmarks.
  struct TStatistics {
    std::uint64_t BlocksReused = 0;    // allocations served from the free list
    std::uint64_t BlocksAppended = 0;  // allocations that grew the file
    std::uint64_t BlockReads = 0;      // read calls for blocks
    std::uint64_t BlockWrites = 0;     // write calls for blocks
  };
  const TStatistics& Statistics() const { return statistics_; }

 protected:
  std::string ErrorFileName() const override;

 private:
  bool Encrypted() const;
  bool TransactionHeld() const;
  void SetFreeBlockHead(std::uint32_t offset);
  void SetNextBlockOffset(std::uint32_t offset);
  TBlock* FindCached(std::uint32_t offset) { return blockCache_.Find(offset); }
  // A buffer for a block about to be read or written whole: a reused one keeps its old header
  // fields and bytes, which every caller overwrites (LoadBlocks, AllocateBlock, chain writes).
  TBlock* TakeBuffer();
  void Pin(TBlock* block);
  // A pinned buffer for a block that is about to be overwritten whole: no read.
  TBlock* ClaimBlock(std::uint32_t offset);
  void LoadBlocks(std::uint32_t first, std::uint32_t count);
  // The offsets of a sound chain, first block first; `code` is raised for anything unsound.
  std::vector<std::uint32_t> WalkChain(std::uint32_t firstBlock, std::uint32_t ownerRecord, int code);
  void FreeBlock(std::uint32_t offset, std::uint32_t remaining);
  // Writes dirty unpinned blocks in runs; the header is left to WriteBack.
  void WriteBlocks();

  TDataFile& owner_;
  TBlobHeader header_;
  bool headerChanged_ = false;
  bool freeBlockTaken_ = false;  // since the header was last read or written
  TBufferCache<TBlock, &TBlock::Offset> blockCache_;
  // Kept between calls; a read and a write-back may run at once (a read that needs room).
  std::vector<std::uint8_t> area_, writeRun_;
  std::vector<TBlock*> loadFilled_;  // LoadBlocks' list, kept between calls
  TSystemList<std::unique_ptr<TBlobBuffer>> openBlobs_;
  struct TReplacedChain {
    std::uint32_t Owner;
    std::vector<std::uint32_t> Blocks;  // first block first
  };
  std::vector<TReplacedChain> replaced_;
  TStatistics statistics_;
};

}  // namespace quillon::engine
