// The skin descriptor store: an ordered list of sections, each an ordered list of lines.
//
// Reading text: every line is trimmed of blanks and control characters at both ends; empty lines
// and lines starting with ";" are dropped; "[name]" opens a section whose name is kept
// lower-cased; lines before the first section are dropped; a repeated section name opens a second
// section that lookups never reach (they find the first). A key line is name=value with the name
// everything before the first "=": values are not trimmed further, and a line "Align = left"
// defines the key "Align " that a lookup of "Align" never finds.
#pragma once

#include <string>
#include <vector>

namespace quillon::skin {

class TscCustomIniFile {
 public:
  virtual ~TscCustomIniFile() = default;
  virtual std::string ReadString(const std::string& section, const std::string& key, const std::string& def);
  virtual void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // The lower-cased key names of a section (a line without "=" gives an empty name).
  virtual void ReadSection(const std::string& section, std::vector<std::string>& keys);
  virtual void ReadSections(std::vector<std::string>& sections);
  virtual void ReadSectionValues(const std::string& section, std::vector<std::string>& lines);
  virtual void EraseSection(const std::string& section);
  virtual void DeleteKey(const std::string& section, const std::string& key);
  virtual void UpdateFile() = 0;

  bool SectionExists(const std::string& section);

  void SetText(const std::string& text);
  // Each section as "[name]", its lines and an empty line, with CR LF line ends.
  std::string GetText() const;

 protected:
  struct Section {
    std::string name;  // lower-cased
    std::vector<std::string> lines;
  };
  Section* Find(const std::string& section);
  std::vector<Section> sections_;
};

// Bound to a file: read at construction when the file exists, written back by UpdateFile.
class TscMemIniFile : public TscCustomIniFile {
 public:
  explicit TscMemIniFile(std::string fileName);
  void UpdateFile() override;
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
};

// Unbound: filled from one length-prefixed text record and written as one.
class TscStringsIniFile : public TscCustomIniFile {
 public:
  TscStringsIniFile() = default;
  void UpdateFile() override {}
  // Reads one record from data at pos (pos moves past it); throws ESkinError on a short record.
  void ReadRecord(const std::string& data, std::size_t& pos);
  void WriteRecord(std::string& out) const;
};

// The key name of a line (before the first "="; empty without one) and its value.
std::string LineKey(const std::string& line);
std::string LineValue(const std::string& line);
std::string LowerAscii(std::string s);

}  // namespace quillon::skin
