#include "skin/skin_ini_files.h"

#include <algorithm>

#include "skin/skin_bytes.h"
#include "util/platform.h"

namespace quillon::skin {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

namespace {
char LowerChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// Case-insensitive comparison of a line's key part (line[0, n)) with a key, without copies: the
// loader asks for every key of every object section.
bool SameKey(const std::string& line, std::size_t n, const std::string& key) {
  if (n != key.size()) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (LowerChar(line[i]) != LowerChar(key[i])) return false;
  return true;
}
bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}
}  // namespace

std::string LineKey(const std::string& line) {
  const auto eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string LineValue(const std::string& line) {
  const auto eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

TscCustomIniFile::Section* TscCustomIniFile::Find(const std::string& section) {
  for (auto& s : sections_)
    if (SameKey(section, section.size(), s.name)) return &s;
  return nullptr;
}

std::string TscCustomIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) {
  const Section* s = Find(section);
  if (!s) return def;
  for (const auto& line : s->lines) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && SameKey(line, eq, key)) return line.substr(eq + 1);
  }
  return def;
}

void TscCustomIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  Section* s = Find(section);
  if (!s) {
    sections_.push_back({LowerAscii(section), {}});
    s = &sections_.back();
  }
  for (auto& line : s->lines) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && SameKey(line, eq, key)) {
      line = key + "=" + value;
      return;
    }
  }
  s->lines.push_back(key + "=" + value);
}

void TscCustomIniFile::ReadSection(const std::string& section, std::vector<std::string>& keys) {
  keys.clear();
  if (const Section* s = Find(section))
    for (const auto& line : s->lines) keys.push_back(LowerAscii(LineKey(line)));
}

void TscCustomIniFile::ReadSections(std::vector<std::string>& sections) {
  sections.clear();
  for (const auto& s : sections_) sections.push_back(s.name);
}

void TscCustomIniFile::ReadSectionValues(const std::string& section, std::vector<std::string>& lines) {
  lines.clear();
  if (const Section* s = Find(section)) lines = s->lines;
}

void TscCustomIniFile::EraseSection(const std::string& section) {
  const std::string name = LowerAscii(section);
  auto it = std::find_if(sections_.begin(), sections_.end(), [&](const Section& s) { return s.name == name; });
  if (it != sections_.end()) sections_.erase(it);
}

void TscCustomIniFile::DeleteKey(const std::string& section, const std::string& key) {
  Section* s = Find(section);
  if (!s) return;
  auto it = std::find_if(s->lines.begin(), s->lines.end(), [&](const std::string& line) {
    const auto eq = line.find('=');
    return eq != std::string::npos && SameKey(line, eq, key);
  });
  if (it != s->lines.end()) s->lines.erase(it);
}

bool TscCustomIniFile::SectionExists(const std::string& section) {
  std::vector<std::string> keys;
  ReadSection(section, keys);
  return !keys.empty();
}

void TscCustomIniFile::SetText(const std::string& text) {
  sections_.clear();
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t end = i;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    std::string line = text.substr(i, end - i);
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    i = end + 1;
    std::size_t a = 0, b = line.size();
    while (a < b && IsBlankOrControl(line[a])) ++a;
    while (b > a && IsBlankOrControl(line[b - 1])) --b;
    line = line.substr(a, b - a);
    if (line.empty() || line[0] == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections_.push_back({LowerAscii(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    if (!sections_.empty()) sections_.back().lines.push_back(line);
  }
}

std::string TscCustomIniFile::GetText() const {
  std::string out;
  for (const auto& s : sections_) {
    out += "[" + s.name + "]\r\n";
    for (const auto& line : s.lines) out += line + "\r\n";
    out += "\r\n";
  }
  return out;
}

TscMemIniFile::TscMemIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  std::string text;
  if (platform::IsExistingFile(fileName_) && platform::ReadWholeFile(fileName_, text)) SetText(text);
}

void TscMemIniFile::UpdateFile() {
  if (!platform::WriteWholeFile(fileName_, GetText())) throw ESkinError("cannot write " + fileName_);
}

void TscStringsIniFile::ReadRecord(const std::string& data, std::size_t& pos) {
  TByteReader in(data, pos);
  SetText(in.Record());
  pos = in.Position();
}

void TscStringsIniFile::WriteRecord(std::string& out) const {
  PutRecord(out, GetText());
}

}  // namespace quillon::skin
