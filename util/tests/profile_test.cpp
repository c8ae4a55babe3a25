#include "util/profile.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "util/files.h"
#include "util/testing/temp_dir.h"
#include "util/text.h"

namespace quillon {
namespace {

using testing::TempDir;
using Keys = std::vector<std::string>;

TEST(ProfileFile, MissingFileGivesDefaultsAndIsNotCreatedByReading) {
  TempDir dir;
  TProfileFile ini(dir.File("lyrics.ini"));
  EXPECT_EQ(ini.ReadString("set", "lastchar", "A"), "A");
  EXPECT_EQ(ini.ReadInteger("set", "lastpageindex", 0), 0);
  EXPECT_TRUE(ini.ReadSection("set").empty());
  EXPECT_TRUE(ini.ReadSections().empty());
  EXPECT_FALSE(ini.SectionExists("set"));
  ini.EraseSection("set");
  ini.DeleteKey("set", "x");
  EXPECT_FALSE(IsExistingFile(dir.File("lyrics.ini")));
  EXPECT_EQ(ReadIniString(dir.File("nothing.ini"), "db", "artistfile", "artist.ini"), "artist.ini");
}

TEST(ProfileFile, WritesGoToTheFileAtOnceInKeyOrderWithCrLf) {
  TempDir dir;
  TProfileFile ini(dir.File("lyrics.ini"));
  ini.WriteString("set", "lastchar", "B");
  EXPECT_EQ(dir.Read("lyrics.ini"), "[set]\r\nlastchar=B\r\n");
  ini.WriteString("set", "lastartist", "Abba");
  ini.WriteInteger("set", "lastpageindex", 1);
  ini.WriteString("set", "LastAlbum", "");
  ini.WriteString("set", "base", "default");
  EXPECT_EQ(dir.Read("lyrics.ini"),
            "[set]\r\nlastchar=B\r\nlastartist=Abba\r\nlastpageindex=1\r\nLastAlbum=\r\nbase=default\r\n");
  // Rewriting keeps the place of every key.
  ini.WriteString("set", "lastchar", "C");
  EXPECT_EQ(dir.Read("lyrics.ini"),
            "[set]\r\nlastchar=C\r\nlastartist=Abba\r\nlastpageindex=1\r\nLastAlbum=\r\nbase=default\r\n");
  // Another reader sees every write.
  EXPECT_EQ(ReadIniString(dir.File("lyrics.ini"), "SET", "LASTCHAR", "?"), "C");
}

TEST(ProfileFile, NamesMatchWithoutCaseOnReadAndWrite) {
  TempDir dir;
  dir.Write("d.ini", "[DB]\r\nArtistFile=names.ini\r\n[Info]\r\nurl=http://x/[id]\r\n");
  TProfileFile ini(dir.File("d.ini"));
  EXPECT_EQ(ini.ReadString("db", "artistfile", "artist.ini"), "names.ini");
  EXPECT_EQ(ini.ReadString("INFO", "Url", ""), "http://x/[id]");
  EXPECT_TRUE(ini.ValueExists("dB", "ARTISTFILE"));
  ini.WriteString("db", "ARTISTFILE", "other.ini");
  EXPECT_EQ(dir.Read("d.ini"), "[DB]\r\nARTISTFILE=other.ini\r\n[Info]\r\nurl=http://x/[id]\r\n")
      << "the existing line is replaced, not a second one added";
  ini.WriteString("INFO", "new", "1");
  EXPECT_EQ(dir.Read("d.ini"), "[DB]\r\nARTISTFILE=other.ini\r\n[Info]\r\nurl=http://x/[id]\r\nnew=1\r\n");
}

TEST(ProfileFile, ReadsLfFilesAndWritesThemBackWithCrLf) {
  TempDir dir;
  dir.Write("a.ini", "[A]\nAbba=\nAc/Dc=1\n[B]\nBeatles=");
  TProfileFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadSection("a"), (Keys{"Abba", "Ac/Dc"}));
  EXPECT_EQ(ini.ReadString("b", "beatles", "x"), "");
  ini.WriteString("B", "Bee Gees", "");
  EXPECT_EQ(dir.Read("a.ini"), "[A]\r\nAbba=\r\nAc/Dc=1\r\n[B]\r\nBeatles=\r\nBee Gees=\r\n");
}

TEST(ProfileFile, SectionKeysInFileOrderSkippingCommentsAndBlanks) {
  TempDir dir;
  dir.Write("artist.ini",
            "; artist index\r\n[A]\r\nZappa Band=\r\n\r\n; note\r\nAbba=1\r\nAc/Dc\r\n  Aerosmith  =  \r\n"
            "=orphan\r\n\r\n[#]\r\n10cc=\r\n[~]\r\n~Tilde=\r\n");
  TProfileFile ini(dir.File("artist.ini"));
  EXPECT_EQ(ini.ReadSection("a"), (Keys{"Zappa Band", "Abba", "Ac/Dc", "Aerosmith"}));
  EXPECT_EQ(ini.ReadSection("#"), (Keys{"10cc"}));
  EXPECT_EQ(ini.ReadSection("~"), (Keys{"~Tilde"}));
  EXPECT_EQ(ini.ReadSections(), (Keys{"A", "#", "~"}));
  EXPECT_EQ(ini.ReadString("A", "aerosmith", "?"), "");
  EXPECT_EQ(ini.ReadString("A", "Ac/Dc", "?"), "") << "a line without = is a key with an empty value";
}

TEST(ProfileFile, ValuesAreTrimmedAndUnquotedFirstDuplicateWins) {
  TempDir dir;
  dir.Write("s.ini",
            "[x]\r\nplain =  value with  inner blanks  \r\nq1=\"quoted\"\r\nq2='single'\r\nq3=\"half\r\n"
            "q4=O'Neil\r\ndup=first\r\ndup=second\r\neq=a=b\r\nnum= 42\r\nbad=4x\r\n[x]\r\nlater=1\r\n");
  TProfileFile ini(dir.File("s.ini"));
  EXPECT_EQ(ini.ReadString("x", "plain", ""), "value with  inner blanks");
  EXPECT_EQ(ini.ReadString("x", "q1", ""), "quoted");
  EXPECT_EQ(ini.ReadString("x", "q2", ""), "single");
  EXPECT_EQ(ini.ReadString("x", "q3", ""), "\"half");
  EXPECT_EQ(ini.ReadString("x", "q4", ""), "O'Neil");
  EXPECT_EQ(ini.ReadString("x", "dup", ""), "first");
  EXPECT_EQ(ini.ReadString("x", "eq", ""), "a=b");
  EXPECT_EQ(ini.ReadInteger("x", "num", 0), 42);
  EXPECT_EQ(ini.ReadInteger("x", "bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("x", "missing", 7), 7);
  EXPECT_EQ(ini.ReadString("x", "later", "no"), "no") << "a repeated section header is not merged";
}

TEST(ProfileFile, EraseSectionThenWriteReappendsAtTheEnd) {
  TempDir dir;
  dir.Write("artist.ini", "[B]\r\nBee=1\r\nAbc=1\r\n\r\n[A]\r\nZed=\r\nAlpha=1\r\n");
  TProfileFile ini(dir.File("artist.ini"));
  // The sorting tool: every section in file order, erased and written back sorted.
  for (const std::string& section : ini.ReadSections()) {
    Keys keys = ini.ReadSection(section);
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return CompareIgnoringCase(a, b) < 0; });
    ini.EraseSection(section);
    EXPECT_FALSE(ini.SectionExists(section));
    for (const auto& k : keys) ini.WriteString(section, k, "");
  }
  EXPECT_EQ(dir.Read("artist.ini"), "[B]\r\nAbc=\r\nBee=\r\n\r\n[A]\r\nAlpha=\r\nZed=\r\n");
}

TEST(ProfileFile, NewKeyGoesAfterTheLastKeyOfItsSection) {
  TempDir dir;
  dir.Write("a.ini", "[A]\r\nAbba=\r\n\r\n[B]\r\nBeatles=\r\n");
  TProfileFile ini(dir.File("a.ini"));
  ini.WriteString("a", "aha", "1");
  EXPECT_EQ(dir.Read("a.ini"), "[A]\r\nAbba=\r\naha=1\r\n\r\n[B]\r\nBeatles=\r\n");
  ini.DeleteKey("A", "ABBA");
  EXPECT_EQ(dir.Read("a.ini"), "[A]\r\naha=1\r\n\r\n[B]\r\nBeatles=\r\n");
  ini.WriteString("C", "Cher", "1");
  EXPECT_EQ(dir.Read("a.ini"), "[A]\r\naha=1\r\n\r\n[B]\r\nBeatles=\r\n\r\n[C]\r\nCher=1\r\n");
}

TEST(ProfileFile, TwoObjectsOnOneFileLoseNoWrite) {
  TempDir dir;
  TProfileFile first(dir.File("shared.ini"));
  TProfileFile second(dir.File("shared.ini"));
  first.WriteString("s", "one", "1");
  second.WriteString("s", "two", "22");
  first.WriteString("s", "three", "333");
  second.WriteString("s", "four", "4444");
  EXPECT_EQ(first.ReadSection("s"), (Keys{"one", "two", "three", "four"}));
  EXPECT_EQ(dir.Read("shared.ini"), "[s]\r\none=1\r\ntwo=22\r\nthree=333\r\nfour=4444\r\n");
}

TEST(ProfileFile, FailedWriteRaisesAndLeavesTheObjectUsable) {
  TempDir dir;
  dir.MakeDir("folder.ini");
  TProfileFile ini(dir.File("folder.ini"));
  EXPECT_THROW(ini.WriteString("s", "k", "v"), EFileError);
  EXPECT_EQ(ini.ReadString("s", "k", "default"), "default");
}

}  // namespace
}  // namespace quillon
