// The shell's commands for the word index of a lyric table: check it against the table, build
// it again, and search it as the program does.
#include <cstdio>

#include "lyricsearch/lyric_index.h"
#include "tools/quarry/shell.h"
#include "util/text.h"

namespace quillon::quarry {

namespace {

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void TShell::LyricIndexCommand(const std::vector<std::string>& words) {
  const char* usage = "usage: .lyric-index check|rebuild [TABLE]";
  if (words.size() < 2 || words.size() > 3) throw EShellError(usage);
  const std::string table = words.size() == 3 ? words[2] : "lyrics.dat";
  if (!TableExists(table)) throw EShellError("no such table: " + table);
  const std::string path = TablePath(table);
  lyricsearch::TLyricIndex index(FolderOf(path), NameOf(path));
  if (EqualIgnoringCase(words[1], "check")) {
    std::vector<std::string> problems = index.Check();
    if (problems.empty()) {
      std::fputs("ok\n", out_);
      return;
    }
    for (const auto& p : problems) std::fprintf(out_, "%s\n", p.c_str());
    std::fflush(out_);
    throw EShellError("lyric index: " + std::to_string(problems.size()) +
                      (problems.size() == 1 ? " difference" : " differences") + " from the lyric table");
  }
  if (!EqualIgnoringCase(words[1], "rebuild")) throw EShellError(usage);
  const bool bar = options_.progress > 0 || (options_.progress < 0 && IsTerminal(err_));
  if (bar) {
    index.OnProgress = [this](const char* step, int done, int total) {
      std::fprintf(err_, "\r%s: %d of %d   ", step, done, total);
      std::fflush(err_);
    };
  }
  index.Rebuild();
  if (bar) std::fputs("\n", err_);
  std::fputs("lyric index rebuilt\n", out_);
}

void TShell::LyricSearchCommand(const std::string& line) {
  // The query is the rest of the line, quotes included.
  auto at = line.find_first_of(" \t");
  std::string query = at == std::string::npos ? std::string() : line.substr(at + 1);
  lyricsearch::TLyricIndex index(FolderOf(TablePath("lyrics.dat")));
  try {
    for (const auto& hit : index.Search(query)) {
      std::fprintf(out_, "%.4f\t%s\t%s\t%d\t%s\n", hit.Score, hit.SongName.c_str(), hit.SongDb.c_str(), hit.SongIndex,
                   lyricsearch::MarkedText(hit.Snippet).c_str());
    }
  } catch (const lyricsearch::ELyricQueryError& e) {
    throw EShellError(e.what());
  }
  std::fflush(out_);
}

}  // namespace quillon::quarry
