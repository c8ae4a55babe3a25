// RepairTable (table_repair.h).
#include "engine/table_repair.h"

#include <algorithm>
#include <array>
#include <set>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/field_codec.h"
#include "engine/os_file.h"
#include "engine/table_verify.h"

namespace quillon::engine {

namespace {

constexpr int kMaxRepairLines = 50;
const char* const kExtensions[] = {".DAT", ".IDX", ".BLB"};

[[noreturn]] void Refuse(const std::string& table, const std::string& why) {
  throw EEngineError(err::kHeaderAccess, "cannot repair " + table + ": " + why);
}

// The bytes a file holds from its start, at most `count` (fewer when it is shorter). False when
// it cannot be opened or read; `code` then holds the engine code of the open.
bool ReadStart(const std::string& path, std::uint32_t count, std::vector<std::uint8_t>& bytes, std::int64_t* size,
               int* code = nullptr) {
  os::TOsFile file;
  const int opened = file.Open(path, true, true, false);
  if (code != nullptr) *code = opened;
  if (opened != 0) return false;
  const std::int64_t length = file.Size();
  if (size != nullptr) *size = length;
  bytes.assign(static_cast<std::size_t>(std::min<std::int64_t>(std::max<std::int64_t>(length, 0), count)), 0);
  const std::int64_t got = bytes.empty() ? 0 : file.ReadAt(0, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  file.Close();
  if (got < 0) return false;
  bytes.resize(static_cast<std::size_t>(got));
  return true;
}

bool IsStoredType(std::uint8_t code, TFieldType type) {
  return code == static_cast<std::uint8_t>(type);
}

// A descriptor as the engine writes it for field `number`, laid out right after the stored fields
// before it (`end` is where the next stored field starts and moves past this one).
bool PlausibleField(const TFieldDescriptor& f, int number, std::uint32_t& end) {
  if (f.FieldNumber != number || !IsValidFieldType(f.FieldType)) return false;
  const bool freeSize = IsStoredType(f.FieldType, TFieldType::Bytes) || IsStoredType(f.FieldType, TFieldType::VarBytes);
  if (!freeSize && f.DataSize != DataSizeOf(f.FieldType, f.DeclaredSize)) return false;
  if (f.IsAutoInc()) return f.Offset == kRowIdOffset && f.DataSize == 4;
  if (f.Computed) return true;
  if (f.Offset != end) return false;
  end += f.DataSize + 1u;
  return end <= kMaxRecordBytes;
}

// The shape of the data file that its bytes support, whatever its header claims: how many field
// descriptors there are, how long a record is and how many records the file holds whole. The
// header's FieldCount and RecordSize are votes; the descriptors (each in its place, laid out one
// after the other) and the file's size decide.
TTableHeader ReconcileHeader(const std::string& path, const std::string& table, std::vector<std::string>& lines) {
  std::vector<std::uint8_t> bytes;
  std::int64_t size = 0;
  const std::uint32_t room = kTableHeaderSize + std::uint32_t{kMaxFields} * kFieldDescriptorSize;
  int code = 0;
  if (!ReadStart(path, room, bytes, &size, &code)) {
    if (code != 0) RaiseEngineError(code, path);
    Refuse(table, "the data file cannot be read");
  }
  if (bytes.size() < static_cast<std::size_t>(kTableHeaderSize))
    Refuse(table, "the data file is shorter than its header");
  TTableHeader h = TTableHeader::Decode(bytes.data());
  if (h.Version != kTableVersion)
    Refuse(table, "the data file is no table of this version (" + std::to_string(h.Version) + ")");
  std::vector<std::uint8_t> area(bytes.begin() + kTableHeaderSize, bytes.end());
  if (h.Encrypted) ScrambleData(area.data(), area.size());

  // The run of sound descriptors from field 1, and the record length each prefix of it makes.
  std::vector<std::uint32_t> layout{kRecordHeaderSize};  // layout[n]: record length of n fields
  std::vector<int> blobs{0};
  std::uint32_t end = kRecordHeaderSize;
  for (std::size_t n = 0; (n + 1) * kFieldDescriptorSize <= area.size() && n < static_cast<std::size_t>(kMaxFields);
       ++n) {
    TFieldDescriptor f = TFieldDescriptor::Decode(area.data() + n * kFieldDescriptorSize);
    if (!PlausibleField(f, static_cast<int>(n + 1), end)) break;
    layout.push_back(end);
    blobs.push_back(blobs.back() + (f.IsBlob() ? 1 : 0));
  }
  const int run = static_cast<int>(layout.size()) - 1;

  struct TShape {
    int Fields;
    std::uint32_t RecordSize;
    std::int64_t Area;  // bytes after the descriptors
    int Score;
  };
  const std::uint32_t claimed = h.NextRecordNumber >= 1 ? h.NextRecordNumber - 1 : 0;
  auto shapeOf = [&](int fields) {
    TShape s{fields, layout[static_cast<std::size_t>(fields)],
             size - kTableHeaderSize - std::int64_t{fields} * kFieldDescriptorSize, 0};
    const bool sizeMatches = s.Area >= 0 && s.Area == std::int64_t{claimed} * s.RecordSize;
    const bool recordMatches = s.RecordSize == h.RecordSize;
    const bool countMatches = fields == h.FieldCount;
    const bool whole = s.Area >= 0 && s.Area % s.RecordSize == 0;
    s.Score = (sizeMatches ? 8 : 0) + (recordMatches ? 4 : 0) + (countMatches ? 2 : 0) + (whole ? 1 : 0);
    if (s.Area < 0) s.Score = -1;
    return s;
  };
  std::vector<TShape> shapes;
  if (h.FieldCount <= run) shapes.push_back(shapeOf(h.FieldCount));
  if (run != h.FieldCount) shapes.push_back(shapeOf(run));
  const TShape* best = nullptr;
  for (const TShape& s : shapes)
    if (best == nullptr || s.Score > best->Score) best = &s;
  // A shape needs the file's size, the header's record length or (for its own field count) whole
  // records behind it; otherwise the records cannot be told apart.
  if (best == nullptr || best->Score < 3) {
    if (h.FieldCount > run) {
      Refuse(table, "field descriptor " + std::to_string(run + 1) + " of " + std::to_string(h.FieldCount) +
                        " is damaged and the file's size does not show where the records begin");
    }
    Refuse(table, "the header's record length " + std::to_string(h.RecordSize) + " and field count " +
                      std::to_string(h.FieldCount) +
                      " cannot be reconciled with the field descriptors and the file's size");
  }
  TTableHeader r = h;
  if (best->Fields != h.FieldCount) {
    lines.push_back("the header counts " + std::to_string(h.FieldCount) + " fields, the file holds " +
                    std::to_string(best->Fields) + " field descriptors: read with " + std::to_string(best->Fields));
  }
  if (best->RecordSize != h.RecordSize) {
    lines.push_back("the header's record length " + std::to_string(h.RecordSize) + " is not the " +
                    std::to_string(best->RecordSize) + " bytes its fields take: read with " +
                    std::to_string(best->RecordSize));
  }
  r.FieldCount = static_cast<std::uint16_t>(best->Fields);
  r.RecordSize = static_cast<std::uint16_t>(best->RecordSize);
  r.BlobFieldCount = static_cast<std::uint16_t>(blobs[static_cast<std::size_t>(best->Fields)]);
  r.ComputedBytes = 0;
  r.FreeRecordHead = 0;
  const std::int64_t whole = best->Area / best->RecordSize;
  std::uint32_t held = claimed;
  if (h.NextRecordNumber < 1 || h.NextRecordNumber > kMaxRecordNumber + 1 || whole < claimed) {
    held = static_cast<std::uint32_t>(std::min<std::int64_t>(whole, kMaxRecordNumber));
    lines.push_back("the header counts " + std::to_string(claimed) + " records, the file holds " +
                    std::to_string(held) + " whole: read " + std::to_string(held));
  } else if (whole > claimed) {
    lines.push_back(std::to_string(whole - claimed) +
                    " records past the header's count (an interrupted writer's) left out; they stay in the backup");
  }
  r.NextRecordNumber = held + 1;
  return r;
}

bool Printable(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto ch = static_cast<unsigned char>(c);
    return ch < ' ' || ch == 127;
  });
}

// The index descriptors of the index file's header page, as far as they read: the file may be
// missing, short or carry a damaged header; only its descriptors are used.
bool ReadIndexHeader(const std::string& path, bool encrypted, TIndexHeader& header) {
  std::vector<std::uint8_t> page;
  if (!ReadStart(path, kIndexPageSize, page, nullptr) || page.size() < static_cast<std::size_t>(kIndexPageSize))
    return false;
  if (encrypted) ScrambleData(page.data(), page.size());
  header = TIndexHeader::Decode(page.data());
  return true;
}

// The definition the table was created with, from its data file and the index descriptors the
// fields allow.
TTableDefinition DefinitionOf(TDataFile& table, const std::string& base, TRepairResult& result) {
  TTableDefinition d;
  const TTableHeader& h = table.Header();
  d.LanguageId = h.LanguageId;
  d.SortId = h.SortId;
  d.Description = Printable(h.Description) ? h.Description : std::string();
  if (d.Description != h.Description) result.Lines.push_back("the description held unprintable characters: emptied");
  d.Password = h.Password;
  d.Encrypted = h.Encrypted;
  d.BlobBlockSize = h.BlockSize();
  if (h.BlobFieldCount != 0 && (d.BlobBlockSize < kMinBlockSize || d.BlobBlockSize % 16 != 0)) {
    result.Lines.push_back("BLOB block size " + std::to_string(d.BlobBlockSize) + " is damaged: the new file uses " +
                           std::to_string(kDefaultBlobBlockSize));
    d.BlobBlockSize = kDefaultBlobBlockSize;
  }
  d.UserValue1 = h.UserValue1;
  d.UserValue2 = h.UserValue2;
  d.Fields = table.PhysicalFields();
  TIndexHeader index;
  if (!ReadIndexHeader(base + ".IDX", h.Encrypted, index)) {
    result.Lines.push_back(
        "the index file is missing or shorter than its header: the table is rebuilt without indexes");
    d.AllowEmptyPrimary = true;
    d.Indexes.push_back(TIndexDescriptor{});
    return d;
  }
  if (index.Version != kIndexVersion)
    result.Lines.push_back("the index file's header is damaged: its descriptors are read as they stand");
  TIndexDescriptor primary = index.Slots[0];
  if (index.NoPrimaryIndex == 1 || primary.KeyFieldCount == 0) {
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
  const int counted = std::min<int>(index.SecondaryIndexCount, kMaxSecondaryIndexes);
  // Slots past the header's count may still hold indexes a damaged count hides: every slot with a
  // named descriptor the fields allow is an index.
  for (int i = 1; i <= kMaxSecondaryIndexes; ++i) {
    TIndexDescriptor s = index.Slots[static_cast<std::size_t>(i)];
    if (i > counted && (s.IndexName.empty() || s.KeyFieldCount == 0)) continue;
    if (!Printable(s.IndexName)) {
      // The index itself is sound: it keeps its keys under a name that can be typed.
      std::string renamed;
      for (int k = i;; ++k) {
        renamed = "Index" + std::to_string(k);
        if (std::find(names.begin(), names.end(), renamed) == names.end()) break;
      }
      result.Lines.push_back("index in slot " + std::to_string(i) + " renamed " + renamed +
                             ": its name held unprintable characters");
      s.IndexName = renamed;
    }
    try {
      s = TIndexFile::CheckDescriptor(s, false, false, d.Fields, names, table.FileName());
    } catch (const EEngineError& e) {
      result.Lines.push_back("index in slot " + std::to_string(i) + " dropped: its descriptor is damaged (" +
                             std::to_string(e.Code()) + ")");
      continue;
    }
    if (i > counted) result.Lines.push_back("index " + s.IndexName + " restored: the header did not count it");
    names.push_back(s.IndexName);
    d.Indexes.push_back(s);
  }
  return d;
}

class TRepair {
 public:
  TRepair(TDataFile& source, TDataFile& target, TRepairResult& result)
      : source_(source), target_(target), result_(result) {}

  void CopyRecords() {
    const std::uint32_t count = source_.PhysicalRecordCount();
    const auto& fields = source_.PhysicalFields();
    const auto& newFields = target_.PhysicalFields();
    const std::size_t recordSize = source_.Header().RecordSize;
    std::int32_t lastRowId = source_.Header().LastRowId;
    std::set<std::int32_t> rowIds;
    std::vector<std::uint8_t> buffer(target_.RecordBufferSize());
    std::vector<std::uint8_t> old;
    for (std::uint32_t r = 1; r <= count; ++r) {
      TRecord* record = source_.FetchRecord(r);
      old.assign(record->Data.begin(), record->Data.begin() + static_cast<std::ptrdiff_t>(recordSize));
      source_.UnpinRecord(record);
      if (old[0] == 1) continue;  // deleted
      ++result_.Live;
      std::string why = Unsound(old, fields, rowIds);
      if (!why.empty()) {
        Drop(r, why);
        continue;
      }
      const std::int32_t rowId = GetI32(old.data() + kRowIdOffset);
      // Field by field: the new layout is the engine's own and need not match the old bytes.
      std::fill(buffer.begin(), buffer.end(), 0);
      std::copy_n(old.begin(), kRecordHeaderSize, buffer.begin());
      for (std::size_t i = 0; i < fields.size() && i < newFields.size(); ++i) {
        const TFieldDescriptor& from = fields[i];
        const TFieldDescriptor& to = newFields[i];
        if (from.IsAutoInc() || from.Computed || from.IsBlob()) continue;
        const std::size_t length = std::min<std::size_t>(from.DataSize, to.DataSize) + 1u;
        if (from.Offset + length > old.size() || to.Offset + length > buffer.size()) continue;
        std::copy_n(old.begin() + from.Offset, length, buffer.begin() + to.Offset);
      }
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
    const std::int32_t rowId = GetI32(data.data() + kRowIdOffset);
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

  // The value of a BLOB field of an old record; empty (and reported) when its chain is broken or
  // the BLOB file could not be opened.
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
                              (source_.BlobFile() == nullptr ? " was emptied (the BLOB file is missing or damaged)"
                                                             : " was emptied (broken BLOB chain)"));
    }
    return {};
  }

  TDataFile& source_;
  TDataFile& target_;
  TRepairResult& result_;
};

void Rename(const std::string& from, const std::string& to, const std::string& table) {
  if (os::IsExistingFile(to)) RaiseEngineError(err::kAccessDenied, table);  // never over a backup
  if (!os::RenameFile(from, to)) RaiseEngineError(err::kAccessDenied, table);
}

// The first backup number no file of the table uses yet: a later repair never overwrites the
// backups of an earlier one.
int FreeBackupNumber(const std::string& base) {
  for (int n = 1;; ++n) {
    bool used = false;
    for (const char* ext : kExtensions) used = used || os::IsExistingFile(base + ext + ".bak" + std::to_string(n));
    if (!used) return n;
  }
}

void RemoveWorkFiles(const std::string& work) {
  for (const char* ext : kExtensions) {
    const std::string path = work + ext;
    if (os::IsExistingFile(path) && !os::RemoveFile(path)) RaiseEngineError(err::kCannotDelete, path);
  }
}

}  // namespace

TRepairResult RepairTable(const std::string& fileName, const TRepairOptions& options) {
  TRepairResult result;
  TDataFile source;
  source.SetFileName(fileName);
  source.SetExclusive(true);
  source.SetReadOnly(true);                    // nobody else may use it meanwhile; it is never written
  const std::string name = source.FileName();  // normalised: <base>.DAT
  const std::string base = name.substr(0, name.size() - 4);
  const std::string work = base + "~repair";
  // Read the shape first, so that nothing opens the table in the wrong shape; then hold it
  // Exclusive for the rest.
  TTableHeader header = ReconcileHeader(name, name, result.Lines);
  source.OpenDataOnly(header);
  TDataFile target;
  try {
    RemoveWorkFiles(work);  // an interrupted repair's; the table is ours now
    TTableDefinition definition = DefinitionOf(source, base, result);
    target.SetFileName(work);
    target.SetExclusive(true);
    target.CreateTable(definition);
    target.Open();
    TRepair repair(source, target, result);
    repair.CopyRecords();
    result.Indexes = static_cast<int>(definition.Indexes.size()) - (definition.AllowEmptyPrimary ? 1 : 0);
    target.Close();
    // The new files are checked before they replace anything.
    TDataFile check;
    check.SetFileName(work);
    check.SetExclusive(true);
    check.SetReadOnly(true);
    check.Open();
    const std::vector<std::string> faults = VerifyTable(check);
    const std::uint32_t rows = check.IndexFile().RecordCount();
    check.Close();
    if (!faults.empty() || rows != result.Kept) {
      Refuse(name, "the rebuilt table does not check (" +
                       (faults.empty() ? std::to_string(rows) + " rows" : faults[0]) +
                       "); the table is left as it was");
    }
    if (result.Kept < result.Live && !options.AcceptLoss && result.Kept * 2 < result.Live) {
      Refuse(name, "only " + std::to_string(result.Kept) + " of " + std::to_string(result.Live) +
                       " records read whole; the table is left as it was (repair again accepting the loss to "
                       "install the rest; the old files are kept as a backup)");
    }
  } catch (...) {
    try {
      target.Close();
    } catch (const EEngineError&) {
    }
    try {
      RemoveWorkFiles(work);
    } catch (const EEngineError&) {
    }
    source.Close();
    throw;
  }
  source.Close();
  // The old files become backups, then the new ones take their names. Between the two steps a
  // table is missing, never half of one: the backup and the new files are both whole.
  const std::string suffix = ".bak" + std::to_string(FreeBackupNumber(base));
  std::string kept;
  for (const char* ext : kExtensions) {
    const std::string old = base + ext;
    if (!os::IsExistingFile(old)) continue;
    Rename(old, old + suffix, name);
    kept += (kept.empty() ? base + ext : std::string(", ") + ext) + suffix;
  }
  for (const char* ext : kExtensions) {
    const std::string fresh = work + ext;
    if (os::IsExistingFile(fresh)) Rename(fresh, base + ext, name);
  }
  if (result.Kept < result.Live) {
    result.Lines.push_back(std::to_string(result.Live - result.Kept) + " of " + std::to_string(result.Live) +
                           " records could not be kept: they remain only in the backup");
  }
  result.Lines.push_back("kept " + std::to_string(result.Kept) + " records, dropped " + std::to_string(result.Dropped) +
                         ", emptied " + std::to_string(result.BlobsEmptied) + " BLOB values, rebuilt " +
                         std::to_string(result.Indexes) + (result.Indexes == 1 ? " index" : " indexes"));
  result.Lines.push_back("the old files are kept as " + kept);
  result.Backup = suffix;
  return result;
}

}  // namespace quillon::engine
