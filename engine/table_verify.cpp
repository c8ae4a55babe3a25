// VerifyTable (table_verify.h). One pass over the records in physical order gathers what the
// later checks compare against: each record's Deleted byte, its row identifier, and, per index,
// a 64-bit hash of the key the record should have there. Each index is then walked once in key
// order and every entry is matched against those hashes, so the check needs memory in
// proportion to the record count (about 9 bytes per record and index) but never a random read
// of the data file. Trees that their own verifier finds damaged are not walked.
#include "engine/table_verify.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "engine/blob_verifier.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"

namespace quillon::engine {

namespace {

std::uint64_t KeyHash(const TKey& key) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::uint8_t b : key) {
    h ^= b;
    h *= 1099511628211ull;
  }
  return h;
}

// Problem lines with a cap per kind of problem.
class TReport {
 public:
  void Add(const std::string& kind, const std::string& line) {
    int& n = counts_[kind];
    if (++n <= kMaxLinesPerCheck) lines_.push_back(line);
  }
  std::vector<std::string> Finish() {
    for (const auto& [kind, n] : counts_) {
      if (n > kMaxLinesPerCheck) lines_.push_back(kind + ": " + std::to_string(n - kMaxLinesPerCheck) + " more");
    }
    return std::move(lines_);
  }

 private:
  std::vector<std::string> lines_;
  std::map<std::string, int> counts_;
};

struct TIndexPlan {
  int Number = 0;
  std::string Name;
  bool AllRecords = false;            // the deleted-records index: deleted records too
  std::vector<std::uint64_t> Hashes;  // by record number
};

class TTableVerifier {
 public:
  explicit TTableVerifier(TDataFile& table) : table_(table), index_(table.IndexFile()) {}

  std::vector<std::string> Run() {
    if (!index_.VerifyDescriptors().empty()) {
      // Keys cannot be built for descriptors that are not the table's: the trees and pages are
      // checked, the records are not compared with them.
      for (const auto& t : index_.Verify()) report_.Add("index trees", "index " + t);
      report_.Add("index entries", "records not compared with the indexes (damaged index header)");
      return report_.Finish();
    }
    PlanIndexes();
    ReadRecords();
    CheckFreeList();
    CheckIndexes();
    for (const auto& p : VerifyBlobFile(table_).Problems) report_.Add("BLOB file", "BLOB file: " + p);
    return report_.Finish();
  }

  void Stopped(const std::string& what) { report_.Add("check", "check stopped: " + what); }
  std::vector<std::string> Finish() { return report_.Finish(); }

 private:
  void PlanIndexes() {
    if (!index_.NoPrimaryIndex() && index_.GetIndexDescriptor(0).KeyFieldCount > 0) {
      plans_.push_back({0, "Primary", false, {}});
    }
    for (int i = 1; i <= index_.IndexCount(); ++i)
      plans_.push_back({i, index_.GetIndexDescriptor(i).IndexName, false, {}});
    if (!index_.NoPrimaryIndex()) plans_.push_back({kDeletedIndexSlot, kDeletedIndexName, true, {}});
  }

  // The records the file holds: NextRecordNumber - 1 unless the file is shorter (a damaged
  // header must not make the check read or allocate for records that are not there).
  std::uint32_t RecordCount() {
    const std::uint32_t claimed = table_.PhysicalRecordCount();
    const std::int64_t recordSize = table_.Header().RecordSize;
    const std::int64_t room = table_.FileSize() - table_.RecordOffset(1);
    std::int64_t held = recordSize > 0 && room > 0 ? room / recordSize : 0;
    // Records added by this cursor and not yet written back are held by its cache.
    while (held < claimed && table_.IsRecordCached(static_cast<std::uint32_t>(held + 1))) ++held;
    if (held < claimed) {
      report_.Add("record count",
                  "the header counts " + std::to_string(claimed) + " records, the file holds " + std::to_string(held));
      return static_cast<std::uint32_t>(held);
    }
    return claimed;
  }

  void ReadRecords() {
    count_ = RecordCount();
    const std::uint32_t count = count_;
    const std::uint32_t lastRowId = table_.Header().LastRowId;
    deleted_.assign(count + 1, 0);
    for (auto& p : plans_) p.Hashes.assign(count + 1, 0);
    std::vector<std::int32_t> rowIds;
    rowIds.reserve(count);
    const auto& fields = table_.PhysicalFields();
    for (std::uint32_t r = 1; r <= count; ++r) {
      TRecord* record = table_.FetchRecord(r, 1, std::min<std::uint32_t>(table_.ReadAheadCount(), count - r + 1));
      const std::uint8_t* data = record->Data.data();
      const std::string where = "record " + std::to_string(r);
      std::uint8_t flag = data[0];
      if (flag > 1) {
        report_.Add("record flags", where + ": Deleted byte " + std::to_string(flag));
      }
      deleted_[r] = flag != 0 ? 1 : 0;
      std::int32_t rowId = GetI32(data + 5);
      if (!deleted_[r]) {
        ++live_;
        for (const auto& f : fields) {
          if (f.IsAutoInc() || f.Computed) continue;
          if (data[f.Offset] > 1) {
            report_.Add("null bytes",
                        where + ": field " + f.FieldName + " has null byte " + std::to_string(data[f.Offset]));
          }
        }
      }
      if (rowId <= 0 || static_cast<std::uint32_t>(rowId) > lastRowId) {
        report_.Add("row identifiers",
                    where + ": row identifier " + std::to_string(rowId) + " outside 1.." + std::to_string(lastRowId));
      } else {
        rowIds.push_back(rowId);
      }
      for (auto& p : plans_) {
        if (!deleted_[r] || p.AllRecords) p.Hashes[r] = KeyHash(index_.BuildKey(p.Number, data));
      }
      table_.UnpinRecord(record);
    }
    std::sort(rowIds.begin(), rowIds.end());
    for (std::size_t i = 1; i < rowIds.size(); ++i) {
      if (rowIds[i] == rowIds[i - 1]) {
        report_.Add("row identifiers", "row identifier " + std::to_string(rowIds[i]) + " used by more than one record");
      }
    }
    if (index_.RecordCount() != live_) {
      report_.Add("record count", "the index file counts " + std::to_string(index_.RecordCount()) +
                                      " records, the data file holds " + std::to_string(live_) + " live ones");
    }
  }

  void CheckFreeList() {
    const std::uint32_t count = count_;
    std::vector<std::uint8_t> onList(count + 1, 0);
    std::uint32_t r = table_.Header().FreeRecordHead;
    std::uint32_t from = 0;  // 0: the header
    auto origin = [&] { return from == 0 ? std::string("FreeRecordHead") : "record " + std::to_string(from); };
    while (r != 0) {
      if (r > count) {
        report_.Add("free list",
                    "free list: " + origin() + " links to record " + std::to_string(r) + " beyond the last record");
        break;
      }
      if (!deleted_[r]) {
        report_.Add("free list", "free list: " + origin() + " links to live record " + std::to_string(r));
        break;
      }
      if (onList[r]) {
        report_.Add("free list",
                    "free list: " + origin() + " links back to record " + std::to_string(r) + " (a cycle)");
        break;
      }
      onList[r] = 1;
      TRecord* record = table_.FetchRecord(r);
      std::uint32_t next = GetU32(record->Data.data() + 1);
      table_.UnpinRecord(record);
      from = r;
      r = next;
    }
    for (std::uint32_t d = 1; d <= count; ++d) {
      if (deleted_[d] && !onList[d]) {
        report_.Add("free list", "free list: deleted record " + std::to_string(d) + " is not on it");
      }
    }
  }

  void CheckIndexes() {
    std::vector<std::string> trees = index_.Verify();
    for (const auto& t : trees) report_.Add("index trees", "index " + t);
    const std::uint32_t count = count_;
    for (auto& p : plans_) {
      if (!trees.empty() && !index_.VerifyIndex(p.Number).empty()) {
        report_.Add("index entries", "index " + p.Name + ": entries not compared with the records (damaged tree)");
        continue;
      }
      index_.SelectIndex(p.Number);
      const std::string name = "index " + p.Name + ": ";
      const std::uint32_t keys = index_.KeyCount();
      const std::uint32_t wanted = p.AllRecords ? count : live_;
      if (keys != wanted) {
        report_.Add("index entries",
                    name + std::to_string(keys) + " entries for " + std::to_string(wanted) + " records");
      }
      std::vector<std::uint8_t> seen(count + 1, 0);
      TKeyPosition position = index_.FirstPosition();
      TKey key;
      std::uint32_t r = 0;
      for (std::uint32_t left = keys; left > 0 && index_.ReadPosition(position, &key, &r); --left) {
        const std::string entry = name + "an entry for record " + std::to_string(r);
        if (r == 0 || r > count) {
          report_.Add("index entries", entry + ", beyond the last record");
        } else if (deleted_[r] && !p.AllRecords) {
          report_.Add("index entries", entry + ", which is deleted");
        } else if (seen[r]) {
          report_.Add("index entries", entry + ", which has another one");
        } else {
          seen[r] = 1;
          if (KeyHash(key) != p.Hashes[r]) report_.Add("index entries", entry + " with a key not built from it");
        }
        if (!index_.NextPosition(position)) break;
      }
      for (std::uint32_t d = 1; d <= count; ++d) {
        if (!seen[d] && (p.AllRecords || !deleted_[d])) {
          report_.Add("index entries", name + "record " + std::to_string(d) + " is missing");
        }
      }
    }
  }

  TDataFile& table_;
  TIndexFile& index_;
  TReport report_;
  std::vector<TIndexPlan> plans_;
  std::vector<std::uint8_t> deleted_;
  std::uint32_t live_ = 0;
  std::uint32_t count_ = 0;
};

}  // namespace

std::vector<std::string> VerifyTable(TDataFile& table) {
  TIndexFile& index = table.IndexFile();
  const int selected = index.CurrentIndex();
  const bool held = table.LockState().StatementRead;
  if (!held) table.AcquireStatementReadLock();
  TTableVerifier verifier(table);
  std::vector<std::string> problems;
  try {
    problems = verifier.Run();
  } catch (const EEngineError& e) {
    verifier.Stopped(e.what());
    problems = verifier.Finish();
  } catch (const ERestartOperation& e) {
    verifier.Stopped(e.what());
    problems = verifier.Finish();
  }
  // The record and page caches may hold what the walk read; nothing in them is dirty.
  try {
    index.SelectIndex(selected);
  } catch (const EEngineError&) {
  }
  if (!held) table.ReleaseStatementReadLock();
  return problems;
}

}  // namespace quillon::engine
