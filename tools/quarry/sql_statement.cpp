// SQL statements in the shell (see sql_statement.h).
#include "tools/quarry/sql_statement.h"

#include <cstdlib>
#include <vector>

#include "dataset/engine_error.h"
#include "dataset/quarry_query.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "tools/quarry/ddl.h"
#include "tools/quarry/value_text.h"
#include "util/text.h"

namespace quillon::quarry {

namespace {

// The statement's first word as the SQL layer reads it: after blanks, at most one comment and
// blanks again.
std::string FirstWord(const std::string& text) {
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  };
  skipBlanks();
  if (text.compare(i, 2, "/*") == 0) {
    std::size_t end = text.find("*/", i + 2);
    i = end == std::string::npos ? text.size() : end + 2;
    skipBlanks();
  }
  // A word is a symbol: "SELECT*FROM t" starts with SELECT.
  auto inWord = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c >= 129;
  };
  std::size_t j = i;
  while (j < text.size() && inWord(static_cast<unsigned char>(text[j]))) ++j;
  return UpperAsciiText(text.substr(i, j - i));
}

void SetParameter(dataset::TQuarryParam& param, const std::string& value) {
  char* end = nullptr;
  long long whole = std::strtoll(value.c_str(), &end, 10);
  if (!value.empty() && end && *end == '\0') {
    param.SetValue(static_cast<std::int64_t>(whole), dataset::TValueKind::Integer);
    return;
  }
  double number = std::strtod(value.c_str(), &end);
  if (!value.empty() && end && *end == '\0') {
    param.SetValue(number, dataset::TValueKind::Float);
    return;
  }
  param.SetValue(value, dataset::TValueKind::String);
}

// A bar on one line of a terminal, redrawn when the percentage changes.
class TProgressGauge {
 public:
  explicit TProgressGauge(std::FILE* out) : out_(out) {}
  ~TProgressGauge() {
    if (drawn_) std::fputc('\n', out_);
  }
  void Show(int percent) {
    if (!out_ || percent == last_) return;
    last_ = percent;
    const int width = 40;
    int filled = std::min(width, std::max(0, percent) * width / 100);
    std::fprintf(out_, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), ' ').c_str(), std::min(percent, 100));
    std::fflush(out_);
    drawn_ = true;
  }

 private:
  std::FILE* out_;
  int last_ = -1;
  bool drawn_ = false;
};

}  // namespace

void RunSqlStatement(const std::string& text, const std::string& directory, const TSqlParameters& parameters,
                     TResultWriter& writer, std::FILE* progress) {
  dataset::TQuarryQuery query;
  query.SetDatabaseName(directory);
  query.SetSQLText(text);
  for (std::size_t i = 0; i < query.Params().Count(); ++i) {
    dataset::TQuarryParam& p = query.Params().Items(i);
    auto found = parameters.find(p.Name);
    if (found == parameters.end()) throw EShellError("no value for parameter :" + p.Name + " (see .param set)");
    SetParameter(p, found->second);
  }
  TProgressGauge bar(progress);
  if (progress) {
    query.OnQueryProgress = [&](dataset::TQuarryQuery&, int, std::uint16_t percent, bool&) { bar.Show(percent); };
  }
  if (FirstWord(text) != "SELECT") {
    query.RunStatement();
    return;
  }
  query.Open();
  engine::TDataFile& result = *query.Handle();
  std::vector<int> shown;
  std::vector<std::string> names;
  const auto& fields = result.LogicalFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].FieldName == "Row___No" || fields[i].FieldName == "Avg__Count") continue;
    shown.push_back(static_cast<int>(i + 1));
    names.push_back(fields[i].FieldName);
  }
  writer.Header(names);
  std::vector<std::uint8_t> record(result.RecordBufferSize(), 0);
  std::vector<std::uint8_t> value(256, 0);
  TRowValues row(shown.size());
  std::string blob;
  dataset::EngineCall([&] {
    result.First();
    while (result.Next(record.data()) == 0) {
      for (std::size_t i = 0; i < shown.size(); ++i) {
        const engine::TFieldDescriptor& f = result.GetFieldDescriptor(true, shown[i]);
        row[i].reset();
        std::fill(value.begin(), value.end(), 0);
        if (!result.GetField(true, shown[i], record.data(), value.data())) continue;
        if (f.IsBlob()) {
          std::uint32_t length = 0, read = 0;
          int code = result.OpenBlob(true, shown[i], engine::kBlobOpenRead, record.data());
          if (code == 0) code = result.GetBlobSize(true, shown[i], record.data(), length);
          blob.assign(length, '\0');
          if (code == 0) code = result.ReadBlob(true, shown[i], 0, length, blob.data(), record.data(), read);
          result.CloseBlob(true, shown[i], record.data());
          if (code != 0) engine::RaiseEngineError(code, result.FileName(), f.FieldName);
          if (length > 0) row[i] = BlobValueText(f.SubType, blob);
          continue;
        }
        row[i] = FieldValueText(static_cast<engine::TFieldType>(f.FieldType),
                                std::string_view(reinterpret_cast<const char*>(value.data()), f.DataSize),
                                TNumberText::Shown);
      }
      writer.Row(row);
    }
  });
  writer.End();
  query.Close();
}

void ParamCommand(const std::string& line, TSqlParameters& parameters, std::FILE* out) {
  std::string rest = Trim(line);
  auto word = [&]() {
    rest = TrimLeft(rest);
    std::size_t end = rest.find_first_of(" \t");
    std::string w = rest.substr(0, end);
    rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
    return w;
  };
  word();  // .param
  const std::string action = word();
  if (action == "set") {
    std::string name = word();
    if (!name.empty() && name[0] == ':') name.erase(0, 1);
    if (name.empty()) throw EShellError("usage: .param set NAME VALUE");
    std::string value = Trim(rest);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') value = value.substr(1, value.size() - 2);
    parameters[name] = value;
  } else if (action == "unset") {
    std::string name = word();
    if (!name.empty() && name[0] == ':') name.erase(0, 1);
    parameters.erase(name);
  } else if (action == "clear") {
    parameters.clear();
  } else if (action == "list") {
    for (const auto& [name, value] : parameters) std::fprintf(out, "%s\t%s\n", name.c_str(), value.c_str());
  } else {
    throw EShellError("usage: .param set NAME VALUE | unset NAME | clear | list");
  }
}

}  // namespace quillon::quarry
