// The shell's output modes for rows of values (NULL is an absent value):
//   tsv    fields separated by TAB, "\" "TAB" LF CR escaped as \\ \t \n \r, NULL empty
//   csv    RFC 4180: fields with a comma, quote, CR or LF in double quotes, quotes doubled,
//          lines ended with CR LF, NULL empty
//   table  aligned columns for people, rows collected until End
// The header line (field names) is written unless switched off.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon::quarry {

enum class TOutputMode { Tsv, Csv, Table };

using TRowValues = std::vector<std::optional<std::string>>;

class TResultWriter {
 public:
  virtual ~TResultWriter() = default;
  virtual void Header(const std::vector<std::string>& names) = 0;
  virtual void Row(const TRowValues& values) = 0;
  virtual void End() {}
};

// Writes to out, which must outlive the writer.
std::unique_ptr<TResultWriter> MakeResultWriter(TOutputMode mode, bool headers, std::FILE* out);

}  // namespace quillon::quarry
