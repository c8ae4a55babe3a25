// RepairTable (table_repair.h).
#include "engine/table_repair.h"

#include <algorithm>
#include <set>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/os_file.h"

namespace quillon::engine {

namespace {

constexpr int kMaxRepairLines = 50;

std::string Suffixed(const std::string& name, const std::string& suffix) {
  return name + suffix;
}

// The definition the table was created with, from its data file header and the index
// descriptors the fields allow.
TTableDefinition DefinitionOf(TDataFile& table, TRepairResult& result) {
  TTableDefinition d;
  const TTableHeader& h = table.Header();
  d.LanguageId = h.LanguageId;
  d.SortId = h.SortId;
  d.Description = h.Description;
  d.Password = h.Password;
  d.Encrypted = h.Encrypted;
  d.BlobBlockSize = h.BlockSize();
  d.UserValue1 = h.UserValue1;
  d.UserValue2 = h.UserValue2;
  d.Fields = table.PhysicalFields();
  TIndexFile& index = table.IndexFile();
  TIndexDescriptor primary = index.GetIndexDescriptor(0);
  if (index.NoPrimaryIndex() || primary.KeyFieldCount == 0) {
    d.AllowEmptyPrimary = true;
    primary = TIndexDescriptor{};
  } else {
    try {
      primary = TIndexFile::CheckDescriptor(primary, true, false, d.Fields, {}, table.FileName());
    } catch (const EEngineError& e) {
      result.Lines.push_back("primary index dropped: its descriptor is damaged (" + std::to_string(e.Code()) + ")");
      d.AllowEmptyPrimary = true;
      primary = TIndexDescriptor{};
    }
  }
  d.Indexes.push_back(primary);
  std::vector<std::string> names;
  // Slots past the header's count may still hold indexes a damaged count hides: every slot with a
  // named descriptor the fields allow is an index.
  for (int i = 1; i <= kMaxSecondaryIndexes; ++i) {
    TIndexDescriptor s = index.GetIndexDescriptor(i);
    if (i > index.IndexCount() && (s.IndexName.empty() || s.KeyFieldCount == 0)) continue;
    try {
      s = TIndexFile::CheckDescriptor(s, false, false, d.Fields, names, table.FileName());
    } catch (const EEngineError& e) {
      result.Lines.push_back("index in slot " + std::to_string(i) + " dropped: its descriptor is damaged (" +
                             std::to_string(e.Code()) + ")");
      continue;
    }
    if (i > index.IndexCount())
      result.Lines.push_back("index " + s.IndexName + " restored: the header did not count it");
    names.push_back(s.IndexName);
    d.Indexes.push_back(s);
  }
  return d;
}

// The records the data file holds whole: NextRecordNumber - 1 unless the file is shorter.
std::uint32_t HeldRecords(TDataFile& table) {
  const std::uint32_t claimed = table.PhysicalRecordCount();
  const std::int64_t size = table.Header().RecordSize;
  const std::int64_t room = table.FileSize() - table.RecordOffset(1);
  const std::int64_t held = size > 0 && room > 0 ? room / size : 0;
  return held < claimed ? static_cast<std::uint32_t>(held) : claimed;
}

class TRepair {
 public:
  TRepair(TDataFile& source, TDataFile& target, TRepairResult& result)
      : source_(source), target_(target), result_(result) {}

  void CopyRecords() {
    const std::uint32_t count = HeldRecords(source_);
    const auto& fields = source_.PhysicalFields();
    std::int32_t lastRowId = source_.Header().LastRowId;
    std::set<std::int32_t> rowIds;
    std::vector<std::uint8_t> buffer(target_.RecordBufferSize());
    std::vector<std::uint8_t> old;
    for (std::uint32_t r = 1; r <= count; ++r) {
      TRecord* record = source_.FetchRecord(r);
      old.assign(record->Data.begin(), record->Data.begin() + source_.Header().RecordSize);
      source_.UnpinRecord(record);
      if (old[0] == 1) continue;  // deleted
      std::string why = Unsound(old, fields, rowIds);
      if (!why.empty()) {
        Drop(r, why);
        continue;
      }
      const std::int32_t rowId = GetI32(old.data() + 5);
      std::copy(old.begin(), old.end(), buffer.begin());
      std::vector<std::string> values(fields.size());
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!fields[i].IsBlob()) continue;
        values[i] = ReadBlob(static_cast<int>(i + 1), old, r);
        target_.SetField(false, static_cast<int>(i + 1), nullptr, buffer.data());
      }
      try {
        for (std::size_t i = 0; i < fields.size(); ++i) {
          if (!fields[i].IsBlob() || values[i].empty()) continue;
          const int f = static_cast<int>(i + 1);
          int code = target_.OpenBlob(false, f, kBlobOpenReadWrite, buffer.data());
          if (code == 0) {
            code = target_.WriteBlob(false, f, 0, static_cast<std::uint32_t>(values[i].size()), values[i].data(),
                                     buffer.data());
          }
          if (code != 0) RaiseEngineError(code, target_.FileName(), fields[i].FieldName);
        }
        // The row identifier the insert hands out is LastRowId + 1: the record keeps its own.
        target_.HeaderForUpdate().LastRowId = rowId - 1;
        target_.InsertRecord(buffer.data());
        target_.CloseAllBlobs();
        rowIds.insert(rowId);
        lastRowId = std::max(lastRowId, rowId);
        ++result_.Kept;
      } catch (const EEngineError& e) {
        target_.CloseAllBlobs();
        if (e.Code() == err::kDuplicateKey || e.Code() == err::kValueRequired || e.Code() == err::kMinimumExceeded ||
            e.Code() == err::kMaximumExceeded) {
          Drop(r, std::string("refused by the table (") + std::to_string(e.Code()) + " " + e.what() + ")");
          continue;
        }
        throw;
      }
    }
    target_.HeaderForUpdate().LastRowId = lastRowId;
  }

 private:
  static std::string Unsound(const std::vector<std::uint8_t>& data, const std::vector<TFieldDescriptor>& fields,
                             const std::set<std::int32_t>& rowIds) {
    if (data[0] > 1) return "Deleted byte " + std::to_string(data[0]);
    const std::int32_t rowId = GetI32(data.data() + 5);
    if (rowId <= 0) return "row identifier " + std::to_string(rowId);
    if (rowIds.count(rowId) != 0) return "row identifier " + std::to_string(rowId) + " used twice";
    for (const auto& f : fields) {
      if (f.IsAutoInc() || f.Computed) continue;
      if (f.Offset >= data.size()) return "field " + f.FieldName + " outside the record";
      if (data[f.Offset] > 1) return "field " + f.FieldName + " has null byte " + std::to_string(data[f.Offset]);
    }
    return {};
  }

  void Drop(std::uint32_t r, const std::string& why) {
    ++result_.Dropped;
    if (result_.Dropped <= kMaxRepairLines) result_.Lines.push_back("record " + std::to_string(r) + " dropped: " + why);
  }

  // The value of a BLOB field of an old record; empty (and reported) when its chain is broken.
  std::string ReadBlob(int field, const std::vector<std::uint8_t>& old, std::uint32_t r) {
    const TFieldDescriptor& f = source_.GetFieldDescriptor(false, field);
    if (old[f.Offset] == 0) return {};
    std::vector<std::uint8_t> copy(source_.RecordBufferSize(), 0);
    std::copy(old.begin(), old.end(), copy.begin());
    std::string value;
    bool broken = source_.BlobFile() == nullptr;
    if (!broken) {
      try {
        int code = source_.OpenBlob(false, field, kBlobOpenRead, copy.data());
        std::uint32_t length = 0;
        if (code == 0) code = source_.GetBlobSize(false, field, copy.data(), length);
        if (code == 0 && length > 0) {
          value.resize(length);
          std::uint32_t read = 0;
          code = source_.ReadBlob(false, field, 0, length, value.data(), copy.data(), read);
          if (code == 0 && read != length) code = err::kEndOfBlob;
        }
        // A value that is there (null byte 1) but reads as nothing lost its chain.
        broken = code != 0 || length == 0;
      } catch (const EEngineError&) {
        broken = true;
      }
      source_.CloseAllBlobs();
    }
    if (!broken) return value;
    ++result_.BlobsEmptied;
    if (result_.BlobsEmptied <= kMaxRepairLines) {
      result_.Lines.push_back("record " + std::to_string(r) + ": the value of " + f.FieldName +
                              " was emptied (broken BLOB chain)");
    }
    return {};
  }

  TDataFile& source_;
  TDataFile& target_;
  TRepairResult& result_;
};

void Rename(const std::string& from, const std::string& to, const std::string& table) {
  if (os::IsExistingFile(to) && !os::RemoveFile(to)) RaiseEngineError(err::kCannotDelete, to);
  if (!os::RenameFile(from, to)) RaiseEngineError(err::kAccessDenied, table);
}

}  // namespace

TRepairResult RepairTable(const std::string& fileName) {
  TRepairResult result;
  TDataFile source;
  source.SetFileName(fileName);
  source.SetExclusive(true);
  source.SetReadOnly(true);  // nobody else may use it meanwhile; it is never written
  source.Open();
  const std::string name = source.FileName();  // normalised: <base>.DAT
  const std::string base = name.substr(0, name.size() - 4);
  const std::string work = base + "~repair";
  TDataFile target;
  try {
    TTableDefinition definition = DefinitionOf(source, result);
    target.SetFileName(work);
    target.SetExclusive(true);
    target.CreateTable(definition);
    target.Open();
    TRepair repair(source, target, result);
    repair.CopyRecords();
    result.Indexes = static_cast<int>(definition.Indexes.size()) - (definition.AllowEmptyPrimary ? 1 : 0);
    target.Close();
  } catch (...) {
    try {
      target.Close();
    } catch (const EEngineError&) {
    }
    try {
      TDataFile leftover;
      leftover.SetFileName(work);
      if (os::IsExistingFile(leftover.FileName())) leftover.DeleteTable();
    } catch (const EEngineError&) {
    }
    source.Close();
    throw;
  }
  source.Close();
  // The old files become backups, then the new ones take their names. Between the two steps a
  // table is missing, never half of one: the backup and the new files are both whole.
  const char* extensions[] = {".DAT", ".IDX", ".BLB"};
  for (const char* ext : extensions) {
    const std::string old = base + ext;
    if (os::IsExistingFile(old)) Rename(old, Suffixed(old, ".bak"), name);
  }
  for (const char* ext : extensions) {
    const std::string fresh = work + ext;
    if (os::IsExistingFile(fresh)) Rename(fresh, base + ext, name);
  }
  result.Lines.push_back("kept " + std::to_string(result.Kept) + " records, dropped " + std::to_string(result.Dropped) +
                         ", emptied " + std::to_string(result.BlobsEmptied) + " BLOB values, rebuilt " +
                         std::to_string(result.Indexes) + (result.Indexes == 1 ? " index" : " indexes"));
  result.Lines.push_back("the old files are kept as " + base + ".DAT.bak, .IDX.bak" +
                         (os::IsExistingFile(base + ".BLB.bak") ? ", .BLB.bak" : ""));
  return result;
}

}  // namespace quillon::engine
