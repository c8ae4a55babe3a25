#include "tools/quarry/shell.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "dataset/engine_error.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_session.h"
#include "engine/index_file.h"
#include "engine/os_file.h"
#include "engine/table_repair.h"
#include "engine/table_verify.h"
#include "tools/quarry/filter_commands.h"
#include "tools/quarry/table_transfer.h"
#include "util/files.h"
#include "util/text.h"

#ifdef _WIN32
#include <io.h>
#define QUARRY_ISATTY _isatty
#define QUARRY_FILENO _fileno
#else
#include <unistd.h>
#define QUARRY_ISATTY isatty
#define QUARRY_FILENO fileno
#endif

namespace quillon::quarry {

bool IsTerminal(std::FILE* stream) {
  return QUARRY_ISATTY(QUARRY_FILENO(stream)) != 0;
}

namespace {

using engine::TDataFile;
using engine::TFieldDescriptor;
using engine::TFieldType;
using engine::TIndexDescriptor;

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ') ++i;
    if (i >= line.size()) break;
    std::string w;
    if (line[i] == '"' || line[i] == '\'') {
      char q = line[i++];
      while (i < line.size() && line[i] != q) w += line[i++];
      ++i;
    } else {
      while (i < line.size() && static_cast<unsigned char>(line[i]) > ' ') w += line[i++];
    }
    words.push_back(w);
  }
  return words;
}

bool OnOff(const std::string& word, bool& value) {
  if (EqualIgnoringCase(word, "on"))
    value = true;
  else if (EqualIgnoringCase(word, "off"))
    value = false;
  else
    return false;
  return true;
}

void FillIndex(const TIndexSpec& def, const std::vector<TColumnDef>& columns, TIndexDescriptor& d) {
  d.IndexName = def.name;
  d.Unique = def.unique;
  d.CaseInsensitive = def.caseInsensitive;
  d.Descending = def.descending;
  d.Compression = static_cast<std::uint8_t>(def.compression < 0 ? 0 : def.compression);
  if (def.columns.size() > engine::kMaxKeyFields) throw EShellError("an index has at most 16 columns");
  d.KeyFieldCount = static_cast<std::uint8_t>(def.columns.size());
  for (size_t i = 0; i < def.columns.size(); ++i) {
    auto found = std::find_if(columns.begin(), columns.end(),
                              [&](const TColumnDef& c) { return EqualIgnoringCase(c.name, def.columns[i].name); });
    if (found == columns.end()) throw EShellError("no column " + def.columns[i].name + " for an index");
    d.KeyFields[i] = static_cast<std::int16_t>(found - columns.begin() + 1);
    d.FieldDescending[i] = def.columns[i].descending ? 1 : 0;
  }
}

TIndexSpec IndexDefOf(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields) {
  TIndexSpec def;
  def.name = d.IndexName;
  def.unique = d.Unique;
  def.caseInsensitive = d.CaseInsensitive;
  def.descending = d.Descending;
  def.compression = d.Compression;
  for (int i = 0; i < d.KeyFieldCount && i < engine::kMaxKeyFields; ++i) {
    int number = d.KeyFields[static_cast<size_t>(i)];
    std::string name = number >= 1 && number <= static_cast<int>(fields.size())
                           ? fields[static_cast<size_t>(number - 1)].FieldName
                           : "#" + std::to_string(number);
    def.columns.push_back({name, d.FieldDescending[static_cast<size_t>(i)] != 0});
  }
  return def;
}

}  // namespace

TShell::TShell(TShellOptions options, std::FILE* out, std::FILE* err)
    : options_(std::move(options)), out_(out), err_(err) {
  engine::InitializeEngine();
  for (const auto& password : options_.passwords) engine::Session().AddPassword(password);
}

// Names resolve in the table folder, with folders inside it (sub/songs) too; only a name that
// is a path of its own (from the root or a drive) stands as written.
std::string TShell::TablePath(const std::string& name) const {
  const bool absolute = (!name.empty() && (name[0] == '/' || name[0] == '\\')) || (name.size() >= 2 && name[1] == ':');
  if (absolute || options_.directory.empty()) return name;
  return WithTrailingDelimiter(options_.directory) + name;
}

bool TShell::TableExists(const std::string& name) const {
  TDataFile table;
  table.SetFileName(TablePath(name));
  return engine::os::IsExistingFile(table.FileName());
}

bool TShell::Run(const TLineSource& source) {
  TStatementSplitter splitter;
  std::string line;
  TShellInput input;
  while (source(line, splitter.Pending())) {
    splitter.AddLine(line);
    while (splitter.Next(input)) {
      if (!Execute(input) && !options_.keepGoing) return false;
    }
  }
  splitter.Finish();
  while (splitter.Next(input)) {
    if (!Execute(input) && !options_.keepGoing) return false;
  }
  return !failed_;
}

bool TShell::RunText(const std::string& text) {
  std::vector<std::string> lines = SplitLines(text);
  size_t next = 0;
  return Run([&](std::string& line, bool) {
    if (next >= lines.size()) return false;
    line = lines[next++];
    return true;
  });
}

bool TShell::RunFile(const std::string& fileName) {
  std::string content;
  if (!platform::ReadWholeFile(fileName, content)) {
    std::fprintf(err_, "Error: cannot read %s\n", fileName.c_str());
    failed_ = true;
    return false;
  }
  return RunText(content);
}

bool TShell::Execute(const TShellInput& input) {
  auto start = std::chrono::steady_clock::now();
  try {
    if (input.kind == TShellInput::Kind::DotCommand) {
      DotCommand(input.text);
    } else {
      Statement(input.text);
    }
  } catch (const engine::EEngineError& e) {
    std::fprintf(err_, "%s\n", dataset::ToQuarryEngineError(e).what());
    failed_ = true;
    return false;
  } catch (const dataset::EQuarryEngineError& e) {
    std::fprintf(err_, "%s\n", e.what());
    failed_ = true;
    return false;
  } catch (const ELocatedError& e) {
    std::fprintf(err_, "%s\n", e.what());
    failed_ = true;
    return false;
  } catch (const std::exception& e) {
    std::fprintf(err_, "Error: %s\n", e.what());
    failed_ = true;
    return false;
  }
  if (options_.timer) {
    std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
    std::fprintf(out_, "Run Time: real %.3f\n", s.count());
  }
  std::fflush(out_);
  return true;
}

void TShell::Statement(const std::string& text) {
  // Whatever is not one of the shell's own table statements goes to the SQL layer as written,
  // so that its result or its own message is what the user sees.
  std::optional<TDdlStatement> ddl = ParseDdl(text);
  if (!ddl) {
    SqlStatement(text);
    return;
  }
  switch (ddl->kind) {
    case TDdlStatement::Kind::CreateTable:
      if (TableExists(ddl->table.name)) {
        if (ddl->ifNotExists) break;
        throw EShellError("table " + ddl->table.name + " already exists (DROP TABLE first to replace it)");
      }
      CreateTable(ddl->table);
      break;
    case TDdlStatement::Kind::DropTable:
      DropTable(ddl->table.name);
      break;
    case TDdlStatement::Kind::EmptyTable:
      EmptyTable(ddl->table.name);
      break;
  }
}

void TShell::CreateTable(const TTableDef& def) {
  engine::TTableDefinition d;
  d.LanguageId = static_cast<std::uint16_t>(def.locale & 0xFFFF);
  d.SortId = static_cast<std::uint16_t>(def.locale >> 16);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const TColumnDef& c = def.columns[i];
    TFieldDescriptor f;
    f.FieldNumber = static_cast<std::int16_t>(i + 1);
    f.FieldName = c.name;
    f.FieldType = static_cast<std::uint8_t>(c.type);
    f.SubType = c.subType;
    if (c.size < 0 || c.size > 255 || c.scale < 0 || c.scale > 255) throw EShellError("size out of range: " + c.name);
    if (c.type == TFieldType::Bcd && c.scale > engine::kMaxBcdScale) {
      throw EShellError("BCD scale out of range (0.." + std::to_string(engine::kMaxBcdScale) + "): " + c.name);
    }
    f.DeclaredSize = static_cast<std::uint8_t>(c.size);
    f.Decimals = static_cast<std::uint8_t>(c.scale);
    f.Required = c.notNull;
    f.DefaultValue = c.defaultValue;
    f.MinValue = c.minValue;
    f.MaxValue = c.maxValue;
    d.Fields.push_back(std::move(f));
  }
  TIndexDescriptor primary;
  if (def.primaryKey) {
    FillIndex(*def.primaryKey, def.columns, primary);
    primary.IndexName.clear();
    primary.Unique = true;
  } else {
    d.AllowEmptyPrimary = true;
  }
  d.Indexes.push_back(primary);
  for (const auto& ix : def.indexes) {
    TIndexDescriptor s;
    FillIndex(ix, def.columns, s);
    d.Indexes.push_back(s);
  }
  d.Description = def.description;
  if (def.password) {
    d.Password = *def.password;
    d.Encrypted = true;
  }
  if (def.blockSize) d.BlobBlockSize = static_cast<std::uint32_t>(def.blockSize);
  TDataFile table;
  table.SetFileName(TablePath(def.name));
  table.SetExclusive(true);
  table.CreateTable(d);
}

void TShell::DropTable(const std::string& name) {
  TDataFile table;
  table.SetFileName(TablePath(name));
  if (!engine::os::IsExistingFile(table.FileName())) throw EShellError("no such table: " + name);
  table.DeleteTable();
}

void TShell::EmptyTable(const std::string& name) {
  TDataFile table;
  table.SetFileName(TablePath(name));
  table.SetExclusive(true);
  table.Open();
  table.EmptyTable();
  table.Close();
}

void TShell::Tables() {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(options_.directory, entries)) {
    throw EShellError("cannot read the directory " + options_.directory);
  }
  std::vector<std::string> names;
  for (const auto& e : entries) {
    if (!e.directory && MatchesMask(e.name, "*.dat")) names.push_back(e.name.substr(0, e.name.size() - 4));
  }
  std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return CompareIgnoringCase(a, b) < 0; });
  for (const auto& n : names) std::fprintf(out_, "%s\n", n.c_str());
}

void TShell::Schema(const std::string& name) {
  TDataFile table;
  table.SetFileName(TablePath(name));
  table.SetReadOnly(true);
  table.Open();
  TTableDef def;
  def.name = name;
  const auto& fields = table.PhysicalFields();
  for (const auto& f : fields) {
    TColumnDef c;
    c.name = f.FieldName;
    c.type = static_cast<TFieldType>(f.FieldType);
    c.subType = f.SubType;
    if (c.type == TFieldType::Bcd)
      c.scale = f.Decimals;
    else
      c.size = f.DeclaredSize;
    c.notNull = f.Required;
    c.defaultValue = f.DefaultValue;
    c.minValue = f.MinValue;
    c.maxValue = f.MaxValue;
    def.columns.push_back(std::move(c));
  }
  engine::TIndexFile& index = table.IndexFile();
  if (!index.NoPrimaryIndex()) {
    def.primaryKey = IndexDefOf(index.GetIndexDescriptor(0), fields);
    def.primaryKey->name.clear();
    def.primaryKey->unique = true;
    def.primaryKey->compression = -1;
  }
  for (int i = 1; i <= index.IndexCount(); ++i) def.indexes.push_back(IndexDefOf(index.GetIndexDescriptor(i), fields));
  const engine::TTableHeader& h = table.Header();
  def.description = h.Description;
  if (h.Encrypted) def.password = h.Password;
  if (h.BlockSize() != engine::kDefaultBlobBlockSize) def.blockSize = static_cast<int>(h.BlockSize());
  def.locale = table.LocaleId();
  table.Close();
  std::fprintf(out_, "%s;\n", FormatCreateTable(def).c_str());
}

namespace {

// How long a command waits for its turn at a table another process holds Exclusive (an import
// that has it to itself) before the refusal is reported.
constexpr auto kTurnWait = std::chrono::seconds(120);
constexpr auto kTurnPause = std::chrono::milliseconds(50);

// Opens the table, Exclusive first when `preferExclusive`, else (or when another process has it
// open) shared. While another process holds it Exclusive every open is refused (err::kAccessDenied): the
// command waits for its turn instead of failing at once.
void OpenInTurn(TDataFile& table, const std::string& path, const std::string& name, bool preferExclusive) {
  table.SetFileName(path);
  if (!engine::os::IsExistingFile(table.FileName())) throw EShellError("no such table: " + name);
  const auto deadline = std::chrono::steady_clock::now() + kTurnWait;
  for (;;) {
    if (preferExclusive) {
      table.SetExclusive(true);
      try {
        table.Open();
        return;
      } catch (const engine::EEngineError&) {
      }
    }
    table.SetExclusive(false);
    try {
      table.Open();
      return;
    } catch (const engine::EEngineError& e) {
      if (e.Code() != engine::err::kAccessDenied || std::chrono::steady_clock::now() >= deadline) throw;
    }
    std::this_thread::sleep_for(kTurnPause);
  }
}

void OpenExisting(TDataFile& table, const std::string& path, const std::string& name) {
  OpenInTurn(table, path, name, false);
}

}  // namespace

// An import opens the table Exclusive when no other process has it open: records, index pages
// and BLOB blocks then stay in the caches and go to the files in runs, and Close writes
// everything back, so the files are complete for any later open. When another process has the
// table open, the import shares it and every row is written back under the write lock like any
// other insert: slower, but the other process sees whole rows only.
void TShell::Import(const std::string& name, const std::string& file) {
  TDataFile table;
  OpenInTurn(table, TablePath(name), name, true);
  // Between the import's checkpoints the index pages stay in memory, so that a kill leaves the
  // trees as the last checkpoint wrote them.
  table.SetHoldPagesUntilCheckpoint(true);
  bool bar = options_.progress > 0 || (options_.progress < 0 && IsTerminal(err_));
  try {
    ImportTable(table, file, bar ? err_ : nullptr);
  } catch (...) {
    // The rows before the failing one stay: closing writes them back.
    table.Close();
    throw;
  }
  table.Close();
}

void TShell::Dump(const std::string& name, const std::string* index, const TShellFilter* filter) {
  TDataFile table;
  OpenExisting(table, TablePath(name), name);
  if (!index) {
    table.SelectIndex(table.IndexFile().NoPrimaryIndex() ? engine::TIndexFile::kPhysicalOrder : 0);
  } else if (*index == "-") {
    table.SelectIndex(engine::TIndexFile::kPhysicalOrder);
  } else {
    table.SelectIndex(*index);
  }
  if (filter) InstallShellFilter(table, *filter);
  std::unique_ptr<TResultWriter> writer = MakeResultWriter(options_.mode, options_.headers, out_);
  DumpTable(table, *writer);
  table.Close();
}

void TShell::Check(const std::string& name) {
  TDataFile table;
  OpenExisting(table, TablePath(name), name);
  std::vector<std::string> faults = engine::VerifyTable(table);
  table.Close();
  if (faults.empty()) {
    std::fputs("ok\n", out_);
    return;
  }
  for (const auto& f : faults) std::fprintf(out_, "%s\n", f.c_str());
  std::fflush(out_);
  throw EShellError(name + ": " + std::to_string(faults.size()) + (faults.size() == 1 ? " fault" : " faults"));
}

// Rebuilds the table from its whole records and prints what was done; the old files stay beside
// it as numbered backups.
void TShell::Repair(const std::string& name, bool acceptLoss) {
  TDataFile probe;
  probe.SetFileName(TablePath(name));
  if (!engine::os::IsExistingFile(probe.FileName())) throw EShellError("no such table: " + name);
  engine::TRepairOptions options;
  options.AcceptLoss = acceptLoss;
  engine::TRepairResult result = engine::RepairTable(TablePath(name), options);
  for (const auto& line : result.Lines) std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void TShell::Help() {
  std::fprintf(out_,
               ".check TABLE            verify records, indexes, free lists and BLOB chains\n"
               ".dump TABLE [INDEX|-]   all records in index order (\"-\": physical order)\n"
               "  [--filter TEXT [--nocase] [--nopartial]]\n"
               "                        only the records that pass the filter text, as a table's\n"
               "                        Filter with FilterOptions selects them\n"
               ".filter-plan TABLE TEXT [--nocase] [--nopartial]\n"
               "                        the compiled filter as hex and the index of each comparison\n"
               ".headers on|off         header line of field names\n"
               ".help                   this text\n"
               ".import TABLE FILE      rows of a TSV file with a header row naming the fields\n"
               ".lyric-index check|rebuild [TABLE]\n"
               "                        compare the word index of a lyric table (lyrics.dat)\n"
               "                        with the table, or build it again\n"
               ".lyric-search QUERY     the lyrics of lyrics.dat that match: words, \"a phrase\",\n"
               "                        prefix*, -excluded\n"
               ".mode tsv|csv|table     output format\n"
               ".password add TEXT      a table password for the session (also: remove TEXT, clear)\n"
               ".read FILE              run the statements of a file\n"
               ".repair TABLE [--accept-loss]\n"
               "                        rebuild the table from the whole records of its data file\n"
               "                        (numbered backups kept; --accept-loss installs a result\n"
               "                        that keeps fewer than half of the records)\n"
               ".schema TABLE           the CREATE TABLE statement of a table\n"
               ".tables                 the tables of the database directory\n"
               ".timer on|off           time every statement\n"
               ".param set NAME VALUE   the value of :NAME in SQL statements\n");
}

void TShell::DotCommand(const std::string& line) {
  std::vector<std::string> w = Words(line);
  const std::string& cmd = w[0];
  auto need = [&](size_t args, const char* usage) {
    if (w.size() != args + 1) throw EShellError(std::string("usage: ") + usage);
  };
  if (cmd == ".tables") {
    need(0, ".tables");
    Tables();
  } else if (cmd == ".schema") {
    need(1, ".schema TABLE");
    Schema(w[1]);
  } else if (cmd == ".mode") {
    need(1, ".mode tsv|csv|table");
    if (EqualIgnoringCase(w[1], "tsv"))
      options_.mode = TOutputMode::Tsv;
    else if (EqualIgnoringCase(w[1], "csv"))
      options_.mode = TOutputMode::Csv;
    else if (EqualIgnoringCase(w[1], "table"))
      options_.mode = TOutputMode::Table;
    else
      throw EShellError("usage: .mode tsv|csv|table");
  } else if (cmd == ".headers") {
    need(1, ".headers on|off");
    if (!OnOff(w[1], options_.headers)) throw EShellError("usage: .headers on|off");
  } else if (cmd == ".param") {
    ParamCommand(line, parameters_, out_);
  } else if (cmd == ".timer") {
    need(1, ".timer on|off");
    if (!OnOff(w[1], options_.timer)) throw EShellError("usage: .timer on|off");
  } else if (cmd == ".read") {
    need(1, ".read FILE");
    if (readDepth_ >= 16) throw EShellError(".read nested too deeply");
    ++readDepth_;
    bool ok = RunFile(w[1]);
    --readDepth_;
    if (!ok) throw EShellError("stopped in " + w[1]);
  } else if (cmd == ".import") {
    need(2, ".import TABLE FILE");
    Import(w[1], w[2]);
  } else if (cmd == ".dump") {
    DumpCommand(w);
  } else if (cmd == ".filter-plan") {
    FilterPlanCommand(w);
  } else if (cmd == ".password") {
    PasswordCommand(w);
  } else if (cmd == ".check") {
    need(1, ".check TABLE");
    Check(w[1]);
  } else if (cmd == ".repair") {
    const bool acceptLoss = w.size() == 3 && w[2] == "--accept-loss";
    if (!acceptLoss) need(1, ".repair TABLE [--accept-loss]");
    Repair(w[1], acceptLoss);
  } else if (cmd == ".lyric-index") {
    LyricIndexCommand(w);
  } else if (cmd == ".lyric-search") {
    LyricSearchCommand(line);
  } else if (cmd == ".help") {
    Help();
  } else {
    throw EShellError("unknown command: " + cmd + " (.help lists the commands)");
  }
}

}  // namespace quillon::quarry
