#include "util/files.h"

#include "util/text.h"

namespace quillon {

bool IsPathDelimiter(char c) {
  return c == '\\' || c == '/';
}

std::string WithTrailingDelimiter(std::string path) {
  if (path.empty() || !IsPathDelimiter(path.back())) path += platform::kPathDelim;
  return path;
}

bool IsPlainFileName(std::string_view name) {
  // Windows drops trailing dots and blanks: ".. " and "..." name the parent or this folder there.
  if (name.find_first_not_of(". ") == std::string_view::npos) return false;
  for (char c : name) {
    const auto ch = static_cast<unsigned char>(c);
    if (IsPathDelimiter(c) || c == ':' || ch < ' ' || ch == 127) return false;
  }
  return true;
}

std::string FolderOf(std::string_view path) {
  size_t i = path.size();
  while (i > 0 && !IsPathDelimiter(path[i - 1]) && path[i - 1] != ':') --i;
  return std::string(path.substr(0, i));
}

std::string FileNameOf(std::string_view path) {
  return std::string(path.substr(FolderOf(path).size()));
}

std::string AppPath() {
  return FolderOf(platform::ExecutablePath());
}

bool IsKeyDown(int virtualKey) {
  return platform::KeyDown(virtualKey);
}

std::string LoadTextFile(const std::string& file, int line) {
  std::string content;
  if (!platform::ReadWholeFile(file, content)) return {};
  std::vector<std::string> lines = SplitLines(content);
  if (line == -1) return JoinLines(lines);
  if (line < 0 || static_cast<size_t>(line) >= lines.size()) return {};
  return lines[static_cast<size_t>(line)];
}

void SaveTextFile(const std::string& text, const std::string& file) {
  if (file.empty()) return;
  if (!platform::WriteWholeFile(file, JoinLines(SplitLines(text)))) {
    throw EFileError("Cannot create file \"" + file + "\"");
  }
}

bool MatchesMask(std::string_view name, std::string_view mask) {
  // Iterative match with one back-track point per "*": linear in practice, never exponential.
  size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

namespace {

void ScanFolder(const std::string& root, const std::string& folder, const std::string& mask,
                std::vector<std::string>& list, bool includeRoot, bool listOnly, bool namesOnly) {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(folder, entries)) return;
  bool anyMatch = MatchesMask(".", mask) || MatchesMask("..", mask);  // the system lists these too
  for (const auto& e : entries) {
    if (anyMatch) break;
    anyMatch = MatchesMask(e.name, mask);
  }
  if (anyMatch && (includeRoot || folder != root)) list.push_back(folder);
  for (const auto& e : entries) {
    if (!e.directory) continue;
    std::string path = folder + e.name + platform::kPathDelim;
    if (!listOnly) {
      ScanFolder(root, path, mask, list, includeRoot, listOnly, namesOnly);
    } else {
      list.push_back(namesOnly ? e.name : path);
    }
  }
}

}  // namespace

void FindFolders(const std::string& root, const std::string& mask, std::vector<std::string>& list, bool includeRoot,
                 bool listOnly, bool namesOnly) {
  list.clear();
  std::string start = WithTrailingDelimiter(root);
  ScanFolder(start, start, mask, list, includeRoot, listOnly, namesOnly);
}

}  // namespace quillon
