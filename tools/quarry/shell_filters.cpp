// The shell's commands around filters and passwords: .dump with a filter, .filter-plan and
// .password.
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/os_file.h"
#include "tools/quarry/filter_commands.h"
#include "tools/quarry/shell.h"

namespace quillon::quarry {

namespace {

constexpr char kDumpUsage[] = ".dump TABLE [INDEX|-] [--filter TEXT [--nocase] [--nopartial]]";
constexpr char kPlanUsage[] = ".filter-plan TABLE TEXT [--nocase] [--nopartial]";
constexpr char kPasswordUsage[] = ".password add TEXT | remove TEXT | clear";

}  // namespace

void TShell::DumpCommand(std::vector<std::string> words) {
  TShellFilter filter;
  bool filtered = TakeFilterWords(words, filter, kDumpUsage);
  if (words.size() != 2 && words.size() != 3) throw EShellError(std::string("usage: ") + kDumpUsage);
  Dump(words[1], words.size() == 3 ? &words[2] : nullptr, filtered ? &filter : nullptr);
}

void TShell::FilterPlanCommand(std::vector<std::string> words) {
  TShellFilter filter;
  TakeFilterOptions(words, filter.options, kPlanUsage);
  if (words.size() != 3) throw EShellError(std::string("usage: ") + kPlanUsage);
  filter.text = words[2];
  engine::TDataFile table;
  table.SetFileName(TablePath(words[1]));
  if (!engine::os::IsExistingFile(table.FileName())) throw EShellError("no such table: " + words[1]);
  table.SetReadOnly(true);
  table.Open();
  WriteFilterPlan(table, filter, out_);
  table.Close();
}

void TShell::PasswordCommand(const std::vector<std::string>& words) {
  const std::string action = words.size() > 1 ? words[1] : std::string();
  if (action == "add" && words.size() == 3) {
    engine::Session().AddPassword(words[2]);
  } else if (action == "remove" && words.size() == 3) {
    engine::Session().RemovePassword(words[2]);
  } else if (action == "clear" && words.size() == 2) {
    engine::Session().RemoveAllPasswords();
  } else {
    throw EShellError(std::string("usage: ") + kPasswordUsage);
  }
}

}  // namespace quillon::quarry
