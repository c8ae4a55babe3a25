// VerifyBlobFile; see blob_verifier.h for what it checks. Every offset is checked against the
// block grid before it is read and every block is remembered once met, so a damaged file yields
// problem lines, never a read outside the file or an endless walk.
#include "engine/blob_verifier.h"

#include <set>
#include <unordered_map>
#include <unordered_set>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"

namespace quillon::engine {

namespace {

struct TBlockFacts {
  std::uint32_t PrevBlock, NextBlock, UsedBytes, OwnerRecord, TotalLength;
};

TBlockFacts ReadFacts(TBlobFile& file, std::uint32_t offset) {
  TBlock* block = file.GetBlock(offset);
  TBlockFacts facts{block->PrevBlock, block->NextBlock, block->UsedBytes, block->OwnerRecord, block->TotalLength};
  file.UnpinBlock(block);
  return facts;
}

class TVerifier {
 public:
  TVerifier(TDataFile& table, TBlobFile& file, TBlobFileReport& report) : table_(table), file_(file), report_(report) {}

  void Run() {
    for (std::uint32_t r = 1; r <= table_.PhysicalRecordCount(); ++r) {
      std::vector<std::uint8_t> record;
      {
        TRecord* cached = table_.FetchRecord(r);
        record = cached->Data;
        table_.UnpinRecord(cached);
      }
      if (record[0] != 0) continue;  // deleted
      for (const auto& f : table_.PhysicalFields()) {
        if (f.IsBlob()) CheckSlot(r, f, record.data());
      }
    }
    CheckFreeList();
    std::uint64_t total = (file_.NextBlockOffset() - kBlobHeaderSize) / file_.BlockSize();
    std::uint64_t accounted = owners_.size() + free_.size();
    for (std::uint32_t offset : free_)
      if (owners_.count(offset) != 0) --accounted;
    // Chains a change gave up are freed once its records are written: until then they are
    // neither in a record's chain nor free, and not lost.
    std::set<std::uint32_t> putAside;
    for (std::uint32_t offset : file_.ReplacedBlocks())
      if (owners_.count(offset) == 0 && free_.count(offset) == 0) putAside.insert(offset);
    accounted += putAside.size();
    if (total > accounted) {
      report_.LostBlocks = static_cast<std::uint32_t>(total - accounted);
      Problem(std::to_string(report_.LostBlocks) + " block(s) in no chain and not free");
    }
  }

 private:
  void Problem(const std::string& text) { report_.Problems.push_back(text); }

  void CheckSlot(std::uint32_t r, const TFieldDescriptor& f, const std::uint8_t* record) {
    std::string where = "record " + std::to_string(r) + " field " + f.FieldName;
    std::int32_t slot = GetI32(record + f.Offset + 1);
    bool hasValue = record[f.Offset] != 0;
    if (slot < 0) return Problem(where + ": slot holds an open value's handle " + std::to_string(slot));
    if (hasValue != (slot != 0)) Problem(where + ": null byte disagrees with offset " + std::to_string(slot));
    if (slot == 0) return;
    ++report_.Values;
    CheckChain(r, static_cast<std::uint32_t>(slot), where);
  }

  void CheckChain(std::uint32_t r, std::uint32_t first, const std::string& where) {
    const std::uint32_t capacity = file_.BlockCapacity();
    std::uint32_t previous = 0, totalLength = 0;
    std::uint64_t used = 0;
    for (std::uint32_t offset = first; offset != 0;) {
      std::string at = where + " block " + std::to_string(offset);
      if (!file_.IsValidBlockOffset(offset)) return Problem(at + ": offset off the block grid");
      auto [it, fresh] = owners_.emplace(offset, r);
      if (!fresh) {
        return Problem(at + (it->second == r ? ": met twice (loop)"
                                             : ": also in the chain of record " + std::to_string(it->second)));
      }
      ++report_.ChainBlocks;
      TBlockFacts b = ReadFacts(file_, offset);
      if (b.OwnerRecord != r) Problem(at + ": owned by record " + std::to_string(b.OwnerRecord));
      if (b.PrevBlock != previous) Problem(at + ": PrevBlock " + std::to_string(b.PrevBlock));
      if (previous == 0) {
        totalLength = b.TotalLength;
      } else if (b.TotalLength != 0) {
        Problem(at + ": TotalLength " + std::to_string(b.TotalLength) + " outside the first block");
      }
      if (b.UsedBytes > capacity) Problem(at + ": UsedBytes " + std::to_string(b.UsedBytes) + " above the block");
      if (b.NextBlock != 0 && b.UsedBytes != capacity) Problem(at + ": not full but not the last block");
      used += b.UsedBytes;
      previous = offset;
      offset = b.NextBlock;
    }
    if (used != totalLength) {
      Problem(where + ": TotalLength " + std::to_string(totalLength) + " but " + std::to_string(used) + " bytes used");
    }
  }

  void CheckFreeList() {
    for (std::uint32_t offset = file_.FreeBlockHead(); offset != 0;) {
      std::string at = "free block " + std::to_string(offset);
      if (!file_.IsValidBlockOffset(offset)) return Problem(at + ": offset off the block grid");
      if (!free_.insert(offset).second) return Problem(at + ": met twice in the free list (loop)");
      ++report_.FreeBlocks;
      auto owner = owners_.find(offset);
      if (owner != owners_.end()) Problem(at + ": also in the chain of record " + std::to_string(owner->second));
      offset = ReadFacts(file_, offset).NextBlock;
    }
  }

  TDataFile& table_;
  TBlobFile& file_;
  TBlobFileReport& report_;
  std::unordered_map<std::uint32_t, std::uint32_t> owners_;  // chain block -> record
  std::unordered_set<std::uint32_t> free_;
};

}  // namespace

TBlobFileReport VerifyBlobFile(TDataFile& table) {
  TBlobFileReport report;
  TBlobFile* file = table.BlobFile();
  if (!file) return report;
  bool held = table.LockState().StatementRead;
  if (!held) table.AcquireStatementReadLock();
  try {
    TVerifier(table, *file, report).Run();
  } catch (const EEngineError& e) {
    report.Problems.push_back(std::string("check stopped: ") + e.what());
  } catch (...) {
    if (!held) table.ReleaseStatementReadLock();
    throw;
  }
  if (!held) table.ReleaseStatementReadLock();
  return report;
}

}  // namespace quillon::engine
