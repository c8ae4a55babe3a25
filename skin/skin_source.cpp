#include "skin/skin_source.h"

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <sstream>

#include "skin/skin_bytes.h"
#include "util/platform.h"

namespace quillon::skin {

// ---- value syntaxes ----

std::vector<std::string> SkinTokens(const std::string& value) {
  if (value.size() >= 256) throw ESkinError("value of 256 characters or more");
  std::vector<std::string> tokens;
  std::string current;
  for (char c : value) {
    if (c == ' ' || c == ',' || c == ';' || c == '(' || c == ')') {
      tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);
  return tokens;
}

bool ParseSkinInt(const std::string& token, int& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '-' || token[i] == '+')) negative = token[i++] == '-';
  if (i >= token.size()) return false;
  long long v = 0;
  for (; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
    v = v * 10 + (token[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  out = static_cast<int>(v);
  return true;
}

TSkinColor ParseSkinColor(const std::vector<std::string>& tokens, std::size_t first) {
  int c[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t at = first + static_cast<std::size_t>(i);
    if (at >= tokens.size() || !ParseSkinInt(tokens[at], c[i])) throw ESkinError("bad colour");
  }
  return SkinRgb(c[0] & 0xFF, c[1] & 0xFF, c[2] & 0xFF);
}

namespace {

template <std::size_t N>
int WordIndex(const char* const (&words)[N], const std::string& word) {
  const std::string lower = LowerAscii(word);
  for (std::size_t i = 0; i < N; ++i)
    if (lower == words[i]) return static_cast<int>(i);
  return -1;
}

constexpr const char* kAlignWords[] = {"",           "left",        "mostleft",   "top",    "mosttop", "right",
                                       "mostright",  "bottom",      "mostbottom", "client", "topleft", "topright",
                                       "bottomleft", "bottomright", "center",     "text"};
constexpr const char* kKindWords[] = {"",
                                      "form",
                                      "caption",
                                      "title",
                                      "top",
                                      "left",
                                      "right",
                                      "bottom",
                                      "topleft",
                                      "topright",
                                      "bottomleft",
                                      "bottomright",
                                      "menubar",
                                      "menubaritem",
                                      "popupmenu",
                                      "popupmenuitem",
                                      "popupmenuclient",
                                      "sysbutton",
                                      "client",
                                      "button",
                                      "buttonglyph",
                                      "buttontext",
                                      "progressbar",
                                      "progressbarback",
                                      "progressbarfore",
                                      "panel",
                                      "paneltext",
                                      "checkbox",
                                      "checkboxglyph",
                                      "checkboxtext",
                                      "radiobutton",
                                      "radiobuttonglyph",
                                      "radiobuttontext",
                                      "pagecontrol",
                                      "pagecontroltab",
                                      "pagecontrolclient"};
constexpr const char* kTileWords[] = {"tile", "stretch", "stretchlinear", "center"};
constexpr const char* kTextAlignWords[] = {"topleft", "topcenter",  "topright",     "left",       "center",
                                           "right",   "bottomleft", "bottomcenter", "bottomright"};
constexpr const char* kConditionWords[] = {
    "always",      "active",  "inactive",  "maximized",  "nomaximized", "rollup",  "norollup",  "stayontop",
    "nostayontop", "menubar", "nomenubar", "help",       "nohelp",      "max",     "nomax",     "min",
    "nomin",       "minmax",  "nominmax",  "sizeable",   "nosizeable",  "sysmenu", "nosysmenu", "close",
    "noclose",     "focused", "nofocused", "default",    "disabled",    "clicked", "checked",   "nochecked",
    "grayed",      "never",   "tabactive", "tabnoactive"};

}  // namespace

TSkinAlign AlignWord(const std::string& word) {
  const int i = word.empty() ? -1 : WordIndex(kAlignWords, word);
  return static_cast<TSkinAlign>(i < 0 ? 0 : i);
}
TSkinKind KindWord(const std::string& word) {
  const int i = word.empty() ? -1 : WordIndex(kKindWords, word);
  return static_cast<TSkinKind>(i < 0 ? 0 : i);
}
TSkinTileStyle TileStyleWord(const std::string& word) {
  const int i = WordIndex(kTileWords, word);
  return static_cast<TSkinTileStyle>(i < 0 ? 0 : i);
}
int TextAlignWord(const std::string& word) {
  const int i = WordIndex(kTextAlignWords, word);
  return i < 0 ? 4 : i;
}
int ConditionWord(const std::string& word) {
  return WordIndex(kConditionWords, word);
}

// ---- the source ----

void TscSkinSource::Clear() {
  Sounds.clear();
  Images.clear();
  Objects.clear();
  Descriptor = TscStringsIniFile();
  SkinName.clear(), SkinVersion.clear(), Author.clear(), AuthorEmail.clear(), AuthorURL.clear();
  Sizeable = true;
  Loaded = false;
}

TscSkinObject* TscSkinSource::FindObject(TSkinKind kind) const {
  for (const auto& o : Objects)
    if (o->Kind == kind) return o.get();
  return nullptr;
}

TOmbraBmpRef TscSkinSource::FindImage(const std::string& name) const {
  const std::string lower = LowerAscii(name);
  for (const auto& i : Images)
    if (LowerAscii(i->Name) == lower) return i;
  return nullptr;
}

TscWaveRef TscSkinSource::FindSound(const std::string& name) const {
  const std::string lower = LowerAscii(name);
  for (const auto& s : Sounds)
    if (LowerAscii(s->Name) == lower) return s;
  return nullptr;
}

TOmbraBmpRef TscSkinSource::ImageReference(const std::vector<std::string>& tokens, std::size_t first) const {
  if (first >= tokens.size()) return nullptr;
  TOmbraBmpRef image = FindImage(tokens[first]);
  if (!image) return nullptr;
  if (tokens.size() <= first + 1) return image;
  int box[4] = {0, 0, image->Width(), image->Height()};
  for (int i = 0; i < 4; ++i) {
    const std::size_t at = first + 1 + static_cast<std::size_t>(i);
    if (at >= tokens.size() || tokens[at].empty()) continue;
    if (!ParseSkinInt(tokens[at], box[i])) return nullptr;
  }
  const std::int64_t w = static_cast<std::int64_t>(box[2]) - box[0] + 1;
  const std::int64_t h = static_cast<std::int64_t>(box[3]) - box[1] + 1;
  if (w < 0 || h < 0 || w > kMaxBitmapSide || h > kMaxBitmapSide)
    throw ESkinError("image part " + std::to_string(w) + " x " + std::to_string(h) + " out of range");
  auto part = TOmbraBmp::Create(static_cast<int>(w), static_cast<int>(h));
  part->Name = image->Name;
  CopyRect(*image, *part, {box[0], box[1], box[2], box[3]}, 0, 0);
  return part;
}

void TscSkinSource::ReadGeneral(TscCustomIniFile& ini) {
  SkinName = ini.ReadString("General", "SkinName", "");
  SkinVersion = ini.ReadString("General", "SkinVersion", "");
  Author = ini.ReadString("General", "Author", "");
  AuthorEmail = ini.ReadString("General", "AuthorEmail", "");
  AuthorURL = ini.ReadString("General", "AuthorURL", "");
  Sizeable = LowerAscii(ini.ReadString("General", "Sizeable", "true")) == "true";
}

void TscSkinSource::LoadObjects(TscCustomIniFile& ini) {
  static constexpr const char* kTopLevel[] = {"Form",  "PopupMenu", "Button",      "ProgressBar",
                                              "Panel", "CheckBox",  "RadioButton", "PageControl"};
  int count = 0;
  for (const char* name : kTopLevel) {
    if (!ini.SectionExists(name)) continue;
    auto object = std::make_unique<TscSkinObject>();
    std::vector<std::string> branch;
    LoadObjectFrom(ini, name, *object, branch, count);
    Objects.push_back(std::move(object));
  }
}

void TscSkinSource::LoadObject(TscCustomIniFile& ini, const std::string& section, TscSkinObject& object) {
  std::vector<std::string> branch;
  int count = 0;
  LoadObjectFrom(ini, section, object, branch, count);
}

namespace {

int ReadInt(TscCustomIniFile& ini, const std::string& section, const char* key, int def) {
  const std::string v = ini.ReadString(section, key, "");
  if (v.empty()) return def;
  if (v.size() >= 256) throw ESkinError(std::string(key) + ": value of 256 characters or more");
  int out = 0;
  if (!ParseSkinInt(v, out)) throw ESkinError(std::string(key) + ": not a number: " + v);
  return out;
}

// Positions and sizes beyond these are damage, not design: a window frame is never wider.
constexpr int kMaxCoordinate = 32767;

std::string ShortValue(TscCustomIniFile& ini, const std::string& section, const char* key) {
  std::string v = ini.ReadString(section, key, "");
  if (v.size() >= 256) throw ESkinError(std::string(key) + ": value of 256 characters or more");
  return v;
}

template <class TFont>
void ReadFont(TscCustomIniFile& ini, const std::string& section, TFont& font) {
  std::string v;
  if (!(v = ShortValue(ini, section, "FontName")).empty()) font.name = v;
  font.size = ReadInt(ini, section, "FontSize", font.size);
  if (!(v = ShortValue(ini, section, "FontStyle")).empty()) {
    font.bold = font.italic = false;
    for (const auto& word : SkinTokens(v)) {
      const std::string w = LowerAscii(word);
      if (w == "bold") font.bold = true;
      if (w == "italic") font.italic = true;
    }
  }
}

// An object aligned to an edge takes its image's size across that edge; one in a corner both.
void FitToImage(TscSkinObject& o, int width, int height) {
  switch (o.Align) {
    case TSkinAlign::Left:
    case TSkinAlign::MostLeft:
    case TSkinAlign::Right:
    case TSkinAlign::MostRight:
      o.Width = width;
      break;
    case TSkinAlign::Top:
    case TSkinAlign::MostTop:
    case TSkinAlign::Bottom:
    case TSkinAlign::MostBottom:
      o.Height = height;
      break;
    case TSkinAlign::TopLeft:
    case TSkinAlign::TopRight:
    case TSkinAlign::BottomLeft:
    case TSkinAlign::BottomRight:
      o.Width = width;
      o.Height = height;
      break;
    default:
      break;
  }
}

// Action lists may be long; each of their lines (split at ';') is one token list and must stay short.
std::vector<std::string> EventLines(const std::string& list, const char* key) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const auto semi = list.find(';', start);
    lines.push_back(list.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
    if (lines.back().size() >= 256) throw ESkinError(std::string(key) + ": line of 256 characters or more");
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  return lines;
}

}  // namespace

void TscSkinSource::LoadObjectFrom(TscCustomIniFile& ini, const std::string& section, TscSkinObject& o,
                                   std::vector<std::string>& branch, int& count) {
  const std::string lower = LowerAscii(section);
  if (std::find(branch.begin(), branch.end(), lower) != branch.end())
    throw ESkinError("Child list of [" + section + "] loops back into a section being loaded");
  if (++count > kMaxSkinObjects) throw ESkinError("more than " + std::to_string(kMaxSkinObjects) + " skin objects");
  branch.push_back(lower);

  auto value = [&](const char* key) { return ShortValue(ini, section, key); };
  o.Name = section;
  std::string v;
  if (!(v = value("Align")).empty()) o.Align = AlignWord(v);
  o.Transparency = ReadInt(ini, section, "Transparency", o.Transparency);
  if (!(v = value("TileStyle")).empty()) o.TileStyle = TileStyleWord(v);
  if (!(v = value("Kind")).empty()) o.Kind = KindWord(v);
  if (!(v = value("Visible")).empty()) {
    o.Conditions.reset();
    for (const auto& word : SkinTokens(v))
      if (int c = ConditionWord(word); c >= 0) o.Conditions.set(static_cast<std::size_t>(c));
  }
  if (!(v = value("Color")).empty()) o.Color = ParseSkinColor(SkinTokens(v));
  ReadFont(ini, section, o.Font);
  if (!(v = value("TextColor")).empty()) o.TextColor = ParseSkinColor(SkinTokens(v));
  if (!(v = value("DisabledTextColor")).empty()) o.DisabledTextColor = ParseSkinColor(SkinTokens(v));
  if (!(v = value("TextAlign")).empty()) o.TextAlign = TextAlignWord(v);
  if (!(v = value("Image")).empty()) {
    if (auto image = ImageReference(SkinTokens(v))) {
      o.Image = image;
      FitToImage(o, image->Width(), image->Height());
    }
  }
  auto coordinate = [&](const char* key, int def, bool size) {
    const int n = ReadInt(ini, section, key, def);
    if (n > kMaxCoordinate || n < (size ? 0 : -kMaxCoordinate))
      throw ESkinError(std::string(key) + " out of range: " + std::to_string(n));
    return n;
  };
  o.Left = o.ConfiguredLeft = coordinate("Left", o.Left, false);
  o.Top = o.ConfiguredTop = coordinate("Top", o.Top, false);
  o.Width = coordinate("Width", o.Width, true);
  o.Height = coordinate("Height", o.Height, true);
  static constexpr const char* kEventKeys[] = {"HoverEvent",       "LeaveEvent",   "ClickEvent",    "RightClickEvent",
                                               "DoubleClickEvent", "UnClickEvent", "SetFocusEvent", "KillFocusEvent"};
  for (int e = 0; e < kSkinEventCount; ++e) {
    const std::string list = ini.ReadString(section, kEventKeys[e], "");
    if (list.empty()) continue;
    o.Events[e] = EventLines(list, kEventKeys[e]);
  }
  if (!(v = value("MaskColor")).empty()) {
    o.MaskColor = ParseSkinColor(SkinTokens(v));
    o.MaskKind = TSkinMaskKind::ColorKey;
  }
  if (!(v = value("MaskImage")).empty()) {
    if (auto mask = ImageReference(SkinTokens(v))) {
      o.MaskImage = mask;
      o.MaskKind = TSkinMaskKind::MaskImage;
    }
  }
  if (!(v = value("Child")).empty()) {
    for (const auto& name : SkinTokens(v)) {
      if (name.empty()) continue;  // "a, b": the blank between the names names nothing
      auto child = std::make_unique<TscSkinObject>();
      LoadObjectFrom(ini, name, *child, branch, count);
      o.AddChild(std::move(child));
    }
  }
  branch.pop_back();
}

void TscSkinSource::LoadFromFile(const std::string& path) {
  std::string data;
  if (!platform::ReadWholeFile(path, data)) throw ESkinError("cannot read " + path);
  LoadFromStream(data);
}

void TscSkinSource::LoadFromStream(const std::string& data, std::size_t& pos) {
  Clear();
  TByteReader in(data, pos);
  const std::string magic = in.Record();
  pos = in.Position();
  if (magic == kSkinPackageMagic) {
    Descriptor.ReadRecord(data, pos);
    ReadGeneral(Descriptor);
    std::vector<std::string> names;
    Descriptor.ReadSection("Sounds", names);
    for (const auto& name : names) {
      auto wave = std::make_shared<TscWave>();
      wave->Name = name;
      wave->ReadRecord(data, pos);
      Sounds.push_back(wave);
    }
    Descriptor.ReadSection("Images", names);
    for (const auto& name : names) {
      auto image = TOmbraBmp::ReadBmp(data, pos);
      image->Name = name;
      Images.push_back(image);
    }
    LoadObjects(Descriptor);
  }
  Loaded = true;
  Attach(Engine);
}

bool IsUsableSkinFileName(const std::string& name) {
  return !name.empty() && name.find_first_of("\\/:*?\"<>|") == std::string::npos && name != "." && name != ".." &&
         std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < ' '; });
}

namespace {
std::string WithDelimiter(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += platform::kPathDelim;
  return folder;
}
bool HasOskExtension(const std::string& name) {
  return name.size() > 4 && LowerAscii(name.substr(name.size() - 4)) == ".osk";
}
std::string FirstOskFile(const std::string& folder) {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(folder, entries)) return {};
  std::vector<std::string> names;
  for (const auto& e : entries)
    if (!e.directory && HasOskExtension(e.name)) names.push_back(e.name);
  if (names.empty()) return {};
  return *std::min_element(names.begin(), names.end());
}
}  // namespace

void TscSkinSource::LoadFromFolder(const std::string& folderName) {
  if (folderName.empty() || !platform::IsExistingFolder(folderName)) return;
  const std::string folder = WithDelimiter(folderName);
  const std::string osk = FirstOskFile(folder);
  if (osk.empty()) return;
  Clear();
  TscMemIniFile ini(folder + osk);
  Descriptor.SetText(ini.GetText());
  ReadGeneral(ini);
  // Records unpacked without a usable file name: "<section> <position> <file>" per line.
  std::map<std::pair<std::string, std::size_t>, std::string> unnamed;
  if (platform::IsExistingFile(folder + kSkinManifestFile)) {
    std::string text;
    platform::ReadWholeFile(folder + kSkinManifestFile, text);
    std::istringstream in(text);
    std::string section, file;
    std::size_t position = 0;
    while (in >> section >> position >> file) {
      if (!IsUsableSkinFileName(file))
        throw ESkinError("\"" + file + "\" in " + kSkinManifestFile + " cannot be a file name");
      unnamed[{LowerAscii(section), position}] = file;
    }
  }
  auto fileOf = [&](const char* section, std::size_t position, const std::string& line) {
    auto it = unnamed.find({LowerAscii(section), position});
    return folder + (it != unnamed.end() ? it->second : LineValue(line));
  };
  std::vector<std::string> lines;
  ini.ReadSectionValues("Sounds", lines);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    auto wave = std::make_shared<TscWave>();
    wave->Name = LowerAscii(LineKey(lines[k]));
    wave->LoadFromFile(fileOf("Sounds", k, lines[k]));
    Sounds.push_back(wave);
  }
  ini.ReadSectionValues("Images", lines);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    auto image = TOmbraBmp::LoadFromFile(fileOf("Images", k, lines[k]));
    image->Name = LowerAscii(LineKey(lines[k]));
    Images.push_back(image);
  }
  LoadObjects(ini);
  Loaded = true;
  Attach(Engine);
}

void TscSkinSource::SaveToStream(std::string& out) const {
  PutRecord(out, kSkinPackageMagic);
  Descriptor.WriteRecord(out);
  for (const auto& s : Sounds) s->WriteRecord(out);
  for (const auto& i : Images) i->WriteBmp(out);
}

void TscSkinSource::SaveToFolder(const std::string& folderName) const {
  const std::string folder = WithDelimiter(folderName);
  // The file names replace the values in place, so a package dumped and packed again keeps its
  // descriptor text and therefore its bytes. A record whose name cannot be a file name (empty,
  // as for a descriptor line without "=", unsafe, or taken by an earlier record) keeps its line
  // as it is; its file gets a name of ours, listed in the manifest by section and position.
  TscStringsIniFile ini;
  ini.SetText(Descriptor.GetText());
  std::vector<std::string> soundFiles, imageFiles;
  std::set<std::string> used{LowerAscii(kSkinConfigFile), LowerAscii(kSkinManifestFile)};
  std::string manifest;
  auto place = [&](const char* section, std::size_t position, const std::string& name, const char* ext) {
    std::vector<std::string> lines;
    ini.ReadSectionValues(section, lines);
    const bool ownLine = position < lines.size() && lines[position].find('=') != std::string::npos &&
                         LowerAscii(LineKey(lines[position])) == LowerAscii(name);
    std::string file = name + ext;
    if (ownLine && IsUsableSkinFileName(name) && used.insert(LowerAscii(file)).second) {
      ini.WriteString(section, name, file);
    } else {
      for (int n = static_cast<int>(position);; ++n) {
        file = "unnamed-" + LowerAscii(section) + "-" + std::to_string(n) + ext;
        if (used.insert(LowerAscii(file)).second) break;
      }
      manifest += LowerAscii(section) + " " + std::to_string(position) + " " + file + "\r\n";
    }
    return file;
  };
  for (std::size_t k = 0; k < Sounds.size(); ++k) soundFiles.push_back(place("Sounds", k, Sounds[k]->Name, ".wav"));
  for (std::size_t k = 0; k < Images.size(); ++k) imageFiles.push_back(place("Images", k, Images[k]->Name, ".bmp"));
  const std::string text = ini.GetText();
  for (std::size_t k = 0; k < Sounds.size(); ++k) Sounds[k]->SaveToFile(folder + soundFiles[k]);
  for (std::size_t k = 0; k < Images.size(); ++k) {
    if (!Images[k]->SaveToFile(folder + imageFiles[k])) throw ESkinError("cannot write " + imageFiles[k]);
  }
  if (!manifest.empty() && !platform::WriteWholeFile(folder + kSkinManifestFile, manifest)) {
    throw ESkinError(std::string("cannot write ") + kSkinManifestFile);
  }
  if (!platform::WriteWholeFile(folder + kSkinConfigFile, text)) throw ESkinError("cannot write config.osk");
}

void TscSkinSource::Assign(const TscSkinSource& other) {
  if (&other == this) return;
  Clear();
  for (const auto& o : other.Objects) {
    auto copy = o->CreateNew();
    copy->Assign(*o);
    Objects.push_back(std::move(copy));
  }
  Sounds = other.Sounds;
  Images = other.Images;
  Descriptor.SetText(other.Descriptor.GetText());
  SkinName = other.SkinName, SkinVersion = other.SkinVersion, Author = other.Author;
  AuthorEmail = other.AuthorEmail, AuthorURL = other.AuthorURL;
  Sizeable = other.Sizeable;
  Loaded = other.Loaded;
}

void TscSkinSource::Attach(TSkinEngineLink* engine) {
  Engine = engine;
  for (const auto& o : Objects) {
    o->SetSource(this);
    o->SetEngine(engine);
  }
}

// ---- SkinFile lookup ----

TSkinFileLocation FindSkinFile(std::string value, const std::string& exeFolder) {
  if (value.empty()) return {TSkinFileLocation::Unload, {}};
  if (value[0] == '\\') value.erase(0, 1);
  const auto delim = value.find_last_of("\\/");
  const auto dot = value.find_last_of('.');
  const std::string ext = dot == std::string::npos || (delim != std::string::npos && dot < delim)
                              ? std::string()
                              : LowerAscii(value.substr(dot));
  const auto absolute = [](const std::string& v) { return v.size() >= 2 && v[1] == ':'; };
  if (ext != ".osk") {
    const std::string path = absolute(value) ? value : exeFolder + value;
    if (!platform::IsExistingFile(path)) return {TSkinFileLocation::Nothing, {}};
    return {TSkinFileLocation::Package, path};
  }
  const std::string part = delim == std::string::npos ? std::string() : value.substr(0, delim + 1);
  const std::string folder = absolute(part) ? part : exeFolder + part;
  if (!platform::IsExistingFolder(folder) || FirstOskFile(WithDelimiter(folder)).empty())
    return {TSkinFileLocation::Nothing, {}};
  return {TSkinFileLocation::Folder, WithDelimiter(folder)};
}

void LoadSkinLocation(const TSkinFileLocation& where, TscSkinSource& source) {
  if (where.kind == TSkinFileLocation::Package) source.LoadFromFile(where.path);
  if (where.kind == TSkinFileLocation::Folder) source.LoadFromFolder(where.path);
}

}  // namespace quillon::skin
