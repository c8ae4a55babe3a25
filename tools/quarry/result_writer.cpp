#include "tools/quarry/result_writer.h"

#include <algorithm>

#include "util/tsv.h"

namespace quillon::quarry {

namespace {

void Put(std::FILE* out, const std::string& s) {
  std::fwrite(s.data(), 1, s.size(), out);
}

class TsvWriter : public TResultWriter {
 public:
  TsvWriter(bool headers, std::FILE* out) : headers_(headers), out_(out) {}
  void Header(const std::vector<std::string>& names) override {
    if (headers_) Put(out_, JoinTsvLine(names) + "\n");
  }
  void Row(const TRowValues& values) override {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) line += '\t';
      if (values[i]) line += EscapeTsvField(*values[i]);
    }
    Put(out_, line + "\n");
  }

 private:
  bool headers_;
  std::FILE* out_;
};

std::string CsvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string q = "\"";
  for (char c : v) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
}

class CsvWriter : public TResultWriter {
 public:
  CsvWriter(bool headers, std::FILE* out) : headers_(headers), out_(out) {}
  void Header(const std::vector<std::string>& names) override {
    if (!headers_) return;
    TRowValues values(names.begin(), names.end());
    Row(values);
  }
  void Row(const TRowValues& values) override {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) line += ',';
      if (values[i]) line += CsvField(*values[i]);
    }
    Put(out_, line + "\r\n");
  }

 private:
  bool headers_;
  std::FILE* out_;
};

// Line breaks and tabs would break the alignment: show them as the TSV escapes.
std::string Cell(const std::optional<std::string>& v) {
  return v ? EscapeTsvField(*v) : "NULL";
}

class TableWriter : public TResultWriter {
 public:
  TableWriter(bool headers, std::FILE* out) : headers_(headers), out_(out) {}
  void Header(const std::vector<std::string>& names) override {
    if (headers_) header_ = names;
  }
  void Row(const TRowValues& values) override {
    std::vector<std::string> cells;
    for (const auto& v : values) cells.push_back(Cell(v));
    rows_.push_back(std::move(cells));
  }
  void End() override {
    std::vector<size_t> width(header_.size());
    for (size_t i = 0; i < header_.size(); ++i) width[i] = header_[i].size();
    for (const auto& r : rows_) {
      if (width.size() < r.size()) width.resize(r.size());
      for (size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], r[i].size());
    }
    std::string rule = "+";
    for (size_t w : width) rule += std::string(w + 2, '-') + "+";
    rule += "\n";
    Put(out_, rule);
    if (!header_.empty()) {
      Line(header_, width);
      Put(out_, rule);
    }
    for (const auto& r : rows_) Line(r, width);
    if (!rows_.empty()) Put(out_, rule);
    rows_.clear();
  }

 private:
  void Line(const std::vector<std::string>& cells, const std::vector<size_t>& width) {
    std::string line = "|";
    for (size_t i = 0; i < width.size(); ++i) {
      std::string c = i < cells.size() ? cells[i] : "";
      line += " " + c + std::string(width[i] - c.size(), ' ') + " |";
    }
    Put(out_, line + "\n");
  }

  bool headers_;
  std::FILE* out_;
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace

std::unique_ptr<TResultWriter> MakeResultWriter(TOutputMode mode, bool headers, std::FILE* out) {
  switch (mode) {
    case TOutputMode::Csv:
      return std::make_unique<CsvWriter>(headers, out);
    case TOutputMode::Table:
      return std::make_unique<TableWriter>(headers, out);
    default:
      return std::make_unique<TsvWriter>(headers, out);
  }
}

}  // namespace quillon::quarry
