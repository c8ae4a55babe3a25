// The shell's own table statements, which the SQL layer does not know:
//
//   CREATE TABLE [IF NOT EXISTS] name ( column-def, ... [, PRIMARY KEY ( col [DESC], ... )]
//                       [, [UNIQUE] [NOCASE] [DESC] INDEX iname ( col [DESC], ... ) [COMPRESSION n]]... )
//                [DESCRIPTION 'text'] [PASSWORD 'text'] [BLOCKSIZE n] [LOCALE n]
//   column-def: name type [NOT NULL] [DEFAULT 'text'] [MIN 'text'] [MAX 'text']
//   DROP TABLE name
//   EMPTY TABLE name
//
// Keywords and type names ignore case; names may be quoted with "..." ('...' for texts, a
// doubled quote standing for one). A table name is a file name and may also be written bare
// (songList.dat). FormatCreateTable writes a definition back in this syntax, so that .schema
// output creates the same table again.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/field_types.h"

namespace quillon::quarry {

class EShellError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TColumnDef {
  std::string name;
  engine::TFieldType type = engine::TFieldType::String;
  std::uint8_t subType = 0;
  int size = 0;   // CHAR, VARCHAR, BYTES, VARBYTES
  int scale = 0;  // BCD, NUMERIC
  bool notNull = false;
  std::string defaultValue, minValue, maxValue;
  bool operator==(const TColumnDef&) const = default;
};

struct TIndexColumn {
  std::string name;
  bool descending = false;
  bool operator==(const TIndexColumn&) const = default;
};

struct TIndexSpec {
  std::string name;  // empty for the primary key
  bool unique = false;
  bool caseInsensitive = false;
  bool descending = false;
  int compression = -1;  // -1: the engine's default
  std::vector<TIndexColumn> columns;
  bool operator==(const TIndexSpec&) const = default;
};

struct TTableDef {
  std::string name;
  std::vector<TColumnDef> columns;
  std::optional<TIndexSpec> primaryKey;
  std::vector<TIndexSpec> indexes;
  std::string description;
  std::optional<std::string> password;
  int blockSize = 0;  // 0: the engine's default
  std::uint32_t locale = 0;
  bool operator==(const TTableDef&) const = default;
};

struct TDdlStatement {
  enum class Kind { CreateTable, DropTable, EmptyTable };
  Kind kind = Kind::CreateTable;
  TTableDef table;           // for DROP and EMPTY only the name is set
  bool ifNotExists = false;  // CREATE TABLE IF NOT EXISTS: an existing table is kept as it is
};

// nullopt when the statement is not one of the shell's table statements (it then goes to the
// SQL layer); EShellError with a message naming what was expected and what was found when it is
// one but malformed.
std::optional<TDdlStatement> ParseDdl(const std::string& text);

std::string FormatCreateTable(const TTableDef& table);

}  // namespace quillon::quarry
