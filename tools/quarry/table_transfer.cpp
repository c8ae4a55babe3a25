// .import and .dump (table_transfer.h). The import keeps one record buffer and reuses its
// cell strings from row to row; a row is built completely (InitRecord, SetField, BLOB values
// opened on the buffer) before InsertRecord, so a row that fails leaves nothing of itself
// behind but the row identifiers it may have moved on.
#include "tools/quarry/table_transfer.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "dataset/engine_error.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "tools/quarry/value_text.h"
#include "util/platform.h"
#include "util/text.h"
#include "util/tsv.h"

namespace quillon::quarry {

namespace {

using engine::TDataFile;
using engine::TFieldDescriptor;
using engine::TFieldType;

// Lines of a file read in large chunks, so that a million rows cost a few hundred reads.
class TLineReader {
 public:
  explicit TLineReader(const std::string& fileName) : file_(std::fopen(fileName.c_str(), "rb")) {}
  ~TLineReader() {
    if (file_) std::fclose(file_);
  }
  TLineReader(const TLineReader&) = delete;
  TLineReader& operator=(const TLineReader&) = delete;
  bool Opened() const { return file_ != nullptr; }
  std::uint64_t BytesConsumed() const { return consumed_; }

  // The next line without its line end (and a CR before it); false at the end of the file.
  bool Next(std::string& line) {
    line.clear();
    for (;;) {
      if (pos_ == size_) {
        size_ = file_ ? std::fread(buffer_.data(), 1, buffer_.size(), file_) : 0;
        pos_ = 0;
        if (size_ == 0) {
          if (line.empty() && !partial_) return false;
          partial_ = false;
          Strip(line);
          return true;
        }
      }
      const char* start = buffer_.data() + pos_;
      const void* lf = std::memchr(start, '\n', size_ - pos_);
      size_t n = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) : size_ - pos_;
      line.append(start, n);
      pos_ += n;
      consumed_ += n;
      if (lf) {
        ++pos_;
        ++consumed_;
        partial_ = false;
        Strip(line);
        return true;
      }
      partial_ = true;
    }
  }

 private:
  static void Strip(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  std::FILE* file_;
  std::vector<char> buffer_ = std::vector<char>(1 << 20);
  size_t pos_ = 0, size_ = 0;
  std::uint64_t consumed_ = 0;
  bool partial_ = false;
};

class TProgressGauge {
 public:
  TProgressGauge(std::FILE* out, std::string label, std::uint64_t total)
      : out_(out), label_(std::move(label)), total_(total) {}
  void Update(std::uint64_t done, std::uint64_t rows, bool force = false) {
    if (!out_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    drawn_ = true;
    int percent = total_ ? static_cast<int>(done * 100 / total_) : 100;
    if (percent > 100) percent = 100;
    constexpr int kWidth = 40;
    std::string bar(static_cast<size_t>(percent * kWidth / 100), '#');
    bar.resize(kWidth, '.');
    std::fprintf(out_, "\r%s [%s] %3d%% %llu rows", label_.c_str(), bar.c_str(), percent,
                 static_cast<unsigned long long>(rows));
    std::fflush(out_);
  }
  void Abandon() {
    if (!out_ || !drawn_) return;
    std::fputs("\n", out_);
    std::fflush(out_);
  }
  void Finish(std::uint64_t rows) {
    if (!out_) return;
    Update(total_, rows, true);
    std::fputs("\n", out_);
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
  std::string label_;
  std::uint64_t total_;
  std::chrono::steady_clock::time_point last_;
  bool drawn_ = false;
};

}  // namespace

std::string PrintableText(const std::string& text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == 0) {
      out += "\\0";
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += digits[b >> 4];
      out += digits[b & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

namespace {

std::string Shortened(const std::string& text) {
  return text.size() <= 40 ? text : text.substr(0, 37) + "...";
}

struct TColumn {
  int fieldNumber = 0;
  const TFieldDescriptor* field = nullptr;
};

// An Exclusive import writes everything back every so many rows, so that a process killed
// meanwhile loses at most the rows since the last checkpoint.
constexpr std::uint64_t kImportCheckpointRows = 5000;

class TImporter {
 public:
  TImporter(TDataFile& table, const std::string& fileName) : table_(table), fileName_(fileName) {}

  std::uint64_t Run(std::FILE* progressOut) {
    TLineReader reader(fileName_);
    if (!reader.Opened()) throw EShellError("cannot read " + fileName_);
    std::string line;
    if (!reader.Next(line)) throw ELocatedError(fileName_ + ":1: no header row");
    lineNumber_ = 1;
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a UTF-8 byte order mark some editors write
    ReadHeader(line);
    platform::FileStamp stamp = platform::GetFileStamp(fileName_);
    TProgressGauge bar(progressOut, "Importing " + fileName_,
                       stamp.size > 0 ? static_cast<std::uint64_t>(stamp.size) : 0);
    buffer_.assign(table_.RecordBufferSize(), 0);
    std::uint64_t rows = 0;
    try {
      while (reader.Next(line)) {
        ++lineNumber_;
        Row(line);
        ++rows;
        if (table_.Exclusive() && rows % kImportCheckpointRows == 0) table_.Checkpoint();
        if ((rows & 1023) == 0) bar.Update(reader.BytesConsumed(), rows);
      }
    } catch (...) {
      bar.Abandon();  // the error message goes on a line of its own
      throw;
    }
    bar.Finish(rows);
    return rows;
  }

 private:
  // Messages quote the file's text, which may hold NULs, CRs and other control characters; the
  // message must stay one printable line whatever the file holds.
  [[noreturn]] void Fail(const std::string& text) {
    throw ELocatedError(fileName_ + ":" + std::to_string(lineNumber_) + ": " + PrintableText(text));
  }

  void ReadHeader(const std::string& line) {
    std::vector<std::string> names = SplitTsvLine(line);
    const auto& fields = table_.PhysicalFields();
    for (const auto& name : names) {
      TColumn c;
      for (size_t i = 0; i < fields.size(); ++i) {
        if (EqualIgnoringCase(fields[i].FieldName, name)) {
          c.fieldNumber = static_cast<int>(i + 1);
          c.field = &fields[i];
        }
      }
      if (!c.field) Fail("no field " + Shortened(name) + " in the table");
      for (const auto& other : columns_) {
        if (other.fieldNumber == c.fieldNumber) Fail("field " + Shortened(name) + " named twice");
      }
      columns_.push_back(c);
    }
  }

  void Row(const std::string& line) {
    // Cut at TABs into the cells of the previous row, so that their storage is reused.
    size_t cellCount = 0;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      std::string_view raw(line.data() + start, (tab == std::string::npos ? line.size() : tab) - start);
      if (cellCount == cells_.size()) cells_.emplace_back();
      std::string& cell = cells_[cellCount++];
      if (raw.find('\\') == std::string_view::npos) {
        cell.assign(raw);
      } else {
        cell = UnescapeTsvField(raw);
      }
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (cellCount != columns_.size()) {
      Fail(std::to_string(cellCount) + " fields, the header names " + std::to_string(columns_.size()));
    }
    std::uint8_t* record = buffer_.data();
    bool blobsOpen = false;
    bool writeLockTaken = false;
    try {
      table_.InitRecord(record);
      std::int64_t rowId = 0;
      for (size_t i = 0; i < columns_.size(); ++i) {
        const TColumn& c = columns_[i];
        const std::string& text = cells_[i];
        const TFieldDescriptor& f = *c.field;
        if (f.IsAutoInc()) {
          if (!text.empty() && !engine::ParseInteger(text, 1, 0x7FFFFFFF, rowId)) {
            Fail(f.FieldName + ": not a row identifier: \"" + Shortened(text) + "\"");
          }
          continue;
        }
        if (text.empty()) {
          table_.SetField(false, c.fieldNumber, nullptr, record);
          continue;
        }
        if (f.IsBlob()) {
          if (!BlobValueFromText(f.SubType, text, value_, error_)) {
            Fail(f.FieldName + ": " + error_ + ": \"" + Shortened(text) + "\"");
          }
          blobsOpen = true;
          int code = table_.OpenBlob(false, c.fieldNumber, engine::kBlobOpenReadWrite, record);
          if (code == 0) {
            code = table_.WriteBlob(false, c.fieldNumber, 0, static_cast<std::uint32_t>(value_.size()), value_.data(),
                                    record);
          }
          if (code != 0) engine::RaiseEngineError(code, table_.FileName(), f.FieldName);
          continue;
        }
        if (!FieldValueFromText(f, text, value_, error_)) {
          Fail(f.FieldName + ": " + error_ + ": \"" + Shortened(text) + "\"");
        }
        table_.SetField(false, c.fieldNumber, value_.data(), record);
      }
      if (rowId != 0) {
        // The row identifier InsertRecord will hand out is LastRowId + 1, read under the write
        // lock so that no other cursor takes it in between.
        if (!table_.LockState().Write) {
          table_.AcquireWriteLock();
          writeLockTaken = true;
        }
        std::int64_t next = static_cast<std::int64_t>(table_.Header().LastRowId) + 1;
        if (rowId < next) {
          Fail("row identifier " + std::to_string(rowId) + " is below the next one the table hands out (" +
               std::to_string(next) + ")");
        }
        if (rowId > next) table_.HeaderForUpdate().LastRowId = static_cast<std::uint32_t>(rowId - 1);
      }
      table_.InsertRecord(record);
    } catch (const engine::EEngineError& e) {
      Cleanup(blobsOpen, writeLockTaken);
      Fail(dataset::ToQuarryEngineError(e).what());
    } catch (...) {
      Cleanup(blobsOpen, writeLockTaken);
      throw;
    }
    Cleanup(blobsOpen, writeLockTaken);
  }

  void Cleanup(bool blobsOpen, bool writeLockTaken) {
    if (blobsOpen) table_.CloseAllBlobs();
    if (writeLockTaken && table_.LockState().Write) table_.ReleaseWriteLock();
  }

  TDataFile& table_;
  std::string fileName_;
  std::vector<TColumn> columns_;
  std::vector<std::string> cells_;
  std::vector<std::uint8_t> buffer_;
  std::string value_, error_;
  std::uint64_t lineNumber_ = 0;
};

}  // namespace

std::uint64_t ImportTable(TDataFile& table, const std::string& fileName, std::FILE* progress) {
  return TImporter(table, fileName).Run(progress);
}

void DumpTable(TDataFile& table, TResultWriter& writer) {
  const auto& fields = table.PhysicalFields();
  std::vector<std::string> names;
  for (const auto& f : fields) names.push_back(f.FieldName);
  writer.Header(names);
  std::vector<std::uint8_t> record(table.RecordBufferSize(), 0);
  std::vector<std::uint8_t> value(256, 0);
  std::string blob;
  TRowValues row(fields.size());
  table.First();
  while (table.Next(record.data()) == 0) {
    for (size_t i = 0; i < fields.size(); ++i) {
      const TFieldDescriptor& f = fields[i];
      const int number = static_cast<int>(i + 1);
      row[i].reset();
      if (f.IsBlob()) {
        int code = table.OpenBlob(false, number, engine::kBlobOpenRead, record.data());
        if (code != 0) engine::RaiseEngineError(code, table.FileName(), f.FieldName);
        std::uint32_t length = 0, read = 0;
        table.GetBlobSize(false, number, record.data(), length);
        blob.assign(length, '\0');
        code = table.ReadBlob(false, number, 0, length, blob.data(), record.data(), read);
        table.CloseBlob(false, number, record.data());
        if (code != 0) engine::RaiseEngineError(code, table.FileName(), f.FieldName);
        if (length > 0) row[i] = BlobValueText(f.SubType, blob);
        continue;
      }
      if (table.GetField(false, number, record.data(), value.data())) {
        row[i] = FieldValueText(static_cast<TFieldType>(f.FieldType),
                                std::string_view(reinterpret_cast<const char*>(value.data()), f.DataSize));
      }
    }
    writer.Row(row);
  }
  writer.End();
}

}  // namespace quillon::quarry
