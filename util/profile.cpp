#include "util/profile.h"

#include <string_view>

#include "util/files.h"
#include "util/text.h"

namespace quillon {

namespace {

constexpr size_t npos = static_cast<size_t>(-1);

enum class LineKind { Blank, Comment, Section, Key };

struct ParsedLine {
  LineKind kind = LineKind::Blank;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed and unquoted
};

ParsedLine Parse(std::string_view raw) {
  ParsedLine p;
  std::string line = Trim(raw);
  if (line.empty()) return p;
  if (line[0] == ';') {
    p.kind = LineKind::Comment;
  } else if (line[0] == '[') {
    p.kind = LineKind::Section;
    size_t close = line.find(']');
    p.name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  } else {
    p.kind = LineKind::Key;
    size_t eq = line.find('=');
    p.name = Trim(line.substr(0, eq));
    if (eq != std::string::npos) {
      p.value = Trim(line.substr(eq + 1));
      if (p.value.size() >= 2 && (p.value[0] == '"' || p.value[0] == '\'') && p.value.back() == p.value[0]) {
        p.value = p.value.substr(1, p.value.size() - 2);
      }
    }
    if (p.name.empty()) p.kind = LineKind::Comment;  // "=x" names no key
  }
  return p;
}

}  // namespace

TProfileFile::TProfileFile(std::string fileName) : fileName_(std::move(fileName)) {}

void TProfileFile::Refresh() {
  platform::FileStamp now = platform::GetFileStamp(fileName_);
  if (loaded_ && now == stamp_) return;
  std::string content;
  lines_ = platform::ReadWholeFile(fileName_, content) ? SplitLines(content) : std::vector<std::string>{};
  stamp_ = now;
  loaded_ = true;
}

void TProfileFile::Save() {
  if (!platform::WriteWholeFile(fileName_, JoinLines(lines_))) {
    loaded_ = false;  // what is on disk is unknown now: read it again next time
    throw EFileError("Unable to write to " + fileName_);
  }
  stamp_ = platform::GetFileStamp(fileName_);
}

bool TProfileFile::FindSection(const std::string& section, Span& span) const {
  std::string wanted = Trim(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    ParsedLine p = Parse(lines_[i]);
    if (p.kind != LineKind::Section || !EqualIgnoringCase(p.name, wanted)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && Parse(lines_[end]).kind != LineKind::Section) ++end;
    span = {i, end};
    return true;
  }
  return false;
}

size_t TProfileFile::FindKey(const Span& span, const std::string& key) const {
  std::string wanted = Trim(key);
  for (size_t i = span.header + 1; i < span.end; ++i) {
    ParsedLine p = Parse(lines_[i]);
    if (p.kind == LineKind::Key && EqualIgnoringCase(p.name, wanted)) return i;
  }
  return npos;
}

std::string TProfileFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& fallback) {
  Refresh();
  Span span;
  if (!FindSection(section, span)) return fallback;
  size_t at = FindKey(span, key);
  return at == npos ? fallback : Parse(lines_[at]).value;
}

int TProfileFile::ReadInteger(const std::string& section, const std::string& key, int fallback) {
  std::string text = ReadString(section, key, "");
  return text.empty() ? fallback : DecimalIntOr(text, fallback);
}

void TProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  Refresh();
  std::string line = Trim(key) + "=" + value;
  Span span;
  if (!FindSection(section, span)) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + Trim(section) + "]");
    lines_.push_back(line);
  } else if (size_t at = FindKey(span, key); at != npos) {
    lines_[at] = line;
  } else {
    // After the section's last non-blank line, so a blank separator stays before the next one.
    size_t insertAt = span.end;
    while (insertAt > span.header + 1 && Trim(lines_[insertAt - 1]).empty()) --insertAt;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
  }
  Save();
}

void TProfileFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

std::vector<std::string> TProfileFile::ReadSection(const std::string& section) {
  Refresh();
  std::vector<std::string> keys;
  Span span;
  if (!FindSection(section, span)) return keys;
  for (size_t i = span.header + 1; i < span.end; ++i) {
    ParsedLine p = Parse(lines_[i]);
    if (p.kind == LineKind::Key) keys.push_back(std::move(p.name));
  }
  return keys;
}

std::vector<std::string> TProfileFile::ReadSections() {
  Refresh();
  std::vector<std::string> names;
  for (const auto& raw : lines_) {
    ParsedLine p = Parse(raw);
    if (p.kind != LineKind::Section) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || EqualIgnoringCase(n, p.name);
    if (!seen) names.push_back(std::move(p.name));
  }
  return names;
}

bool TProfileFile::SectionExists(const std::string& section) { return !ReadSection(section).empty(); }

bool TProfileFile::ValueExists(const std::string& section, const std::string& key) {
  Refresh();
  Span span;
  return FindSection(section, span) && FindKey(span, key) != npos;
}

void TProfileFile::EraseSection(const std::string& section) {
  Refresh();
  bool changed = false;
  Span span;
  while (FindSection(section, span)) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(span.header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(span.end));
    changed = true;
  }
  if (changed) Save();
}

void TProfileFile::DeleteKey(const std::string& section, const std::string& key) {
  Refresh();
  Span span;
  if (!FindSection(section, span)) return;
  size_t at = FindKey(span, key);
  if (at == npos) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  Save();
}

std::string ReadIniString(const std::string& iniFile, const std::string& section, const std::string& key,
                          const std::string& fallback) {
  return TProfileFile(iniFile).ReadString(section, key, fallback);
}

}  // namespace quillon
