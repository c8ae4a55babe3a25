// TscSkinSource: one loaded skin: its descriptive values, named images and sounds, and the
// top-level skin objects built from the descriptor's object sections.
//
// Package layout ("skin.dat"); integers little-endian signed 32-bit; a text record is a length
// followed by that many bytes of 8-bit text without terminator:
//   1. text record: the magic "SkinEngine package" (18 bytes)
//   2. text record: the descriptor text (skin_ini_files.h)
//   3. per line of [Sounds], in line order: length N, then N bytes of one complete wave file
//   4. per line of [Images], in line order: one complete BMP file (ombra_bmp.cpp describes the
//      reader); the next record starts right after its last pixel byte
// Nothing else is read. Any error (short data, a bad BMP header, a bad number, a value of 256
// characters or more, a Child list that loops back into a section being loaded, an object tree of
// more than kMaxSkinObjects objects) throws ESkinError; the caller drops the partly read source.
//
// Ownership: the source owns its objects; images and sounds are shared (std::shared_ptr).
// Destruction releases the sounds, then the images, then frees the objects.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "skin/ombra_bmp.h"
#include "skin/skin_ini_files.h"
#include "skin/skin_objects.h"
#include "skin/skin_sound.h"

namespace quillon::skin {

inline constexpr char kSkinPackageMagic[] = "SkinEngine package";
inline constexpr int kMaxSkinObjects = 10000;
// What an unpacked folder holds beside its images and sounds: the descriptor, and the list of
// records whose names could not be file names (with the files they were written to).
inline constexpr char kSkinConfigFile[] = "config.osk";
inline constexpr char kSkinManifestFile[] = "unnamed.lst";

// A record name that can be a file name in the unpacked folder: not empty, no folder or wild-card
// characters, no control characters, not "." or "..".
bool IsUsableSkinFileName(const std::string& name);

class TscSkinSource {
 public:
  TscSkinSource() = default;
  TscSkinSource(const TscSkinSource&) = delete;
  TscSkinSource& operator=(const TscSkinSource&) = delete;

  std::string SkinName, SkinVersion, Author, AuthorEmail, AuthorURL;
  bool Sizeable = true;
  bool Loaded = false;
  std::vector<std::unique_ptr<TscSkinObject>> Objects;
  std::vector<TOmbraBmpRef> Images;
  std::vector<TscWaveRef> Sounds;
  TSkinEngineLink* Engine = nullptr;
  // The descriptor as read (written back by SaveToStream).
  TscStringsIniFile Descriptor;

  void LoadFromFile(const std::string& path);
  // Reads one package from data starting at pos; pos ends after the last record read.
  void LoadFromStream(const std::string& data, std::size_t& pos);
  void LoadFromStream(const std::string& data) {
    std::size_t pos = 0;
    LoadFromStream(data, pos);
  }
  // A skin folder: the first "*.osk" file there (by name) with loose BMP and wave files. Nothing
  // happens when folder is empty or names no folder.
  void LoadFromFolder(const std::string& folder);
  void SaveToStream(std::string& out) const;
  // Writes "config.osk" and one "<name>.wav" / "<name>.bmp" per sound and image; records whose
  // names cannot be file names go to files of ours listed in "unnamed.lst", which the folder
  // loader reads, so that every package the reader accepts unpacks and packs back.
  void SaveToFolder(const std::string& folder) const;

  // Releases everything held, then deep-copies the objects and shares the images and sounds.
  void Assign(const TscSkinSource& other);
  // Gives every object (recursively) this source and the engine.
  void Attach(TSkinEngineLink* engine);

  TscSkinObject* FindObject(TSkinKind kind) const;  // first top-level object of that kind
  TOmbraBmpRef FindImage(const std::string& name) const;
  TscWaveRef FindSound(const std::string& name) const;

  // Object loading, usable on its own (the action verbs resolve images the same way).
  void LoadObject(TscCustomIniFile& ini, const std::string& section, TscSkinObject& object);
  // An image reference: "name" shares the image; "name l t r b" makes a private copy of that
  // inclusive part. nullptr when the name is unknown or a coordinate is not a number.
  TOmbraBmpRef ImageReference(const std::vector<std::string>& tokens, std::size_t first = 0) const;

 private:
  void Clear();
  void ReadGeneral(TscCustomIniFile& ini);
  void LoadObjects(TscCustomIniFile& ini);
  void LoadObjectFrom(TscCustomIniFile& ini, const std::string& section, TscSkinObject& object,
                      std::vector<std::string>& branch, int& count);
};

// Cuts a value into tokens at blank, ",", ";", "(" and ")": each delimiter ends one token, so two
// in a row give an empty token. Throws ESkinError for values of 256 characters or more.
std::vector<std::string> SkinTokens(const std::string& value);
// Strict decimal integer (optional sign); false for anything else or out of int range.
bool ParseSkinInt(const std::string& token, int& out);
// Three decimal tokens red green blue, each taken modulo 256; throws ESkinError otherwise.
TSkinColor ParseSkinColor(const std::vector<std::string>& tokens, std::size_t first = 0);

TSkinAlign AlignWord(const std::string& word);
TSkinKind KindWord(const std::string& word);
TSkinTileStyle TileStyleWord(const std::string& word);
int TextAlignWord(const std::string& word);
int ConditionWord(const std::string& word);  // -1 when unknown

// Where a SkinFile value leads.
struct TSkinFileLocation {
  enum Kind { Unload, Nothing, Package, Folder } kind = Nothing;
  std::string path;  // the package file, or the folder with its trailing delimiter
};
// exeFolder is the running executable's folder with its trailing delimiter.
TSkinFileLocation FindSkinFile(std::string value, const std::string& exeFolder);
// Loads source from a Package or Folder location; throws ESkinError on a damaged skin.
void LoadSkinLocation(const TSkinFileLocation& where, TscSkinSource& source);

}  // namespace quillon::skin
