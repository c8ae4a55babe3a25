#include "util/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "util/testing/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

TEST(LoadTextFile, MissingFileIsEmpty) {
  TempDir dir;
  EXPECT_EQ(LoadTextFile(dir.File("none.txt"), -1), "");
  EXPECT_EQ(LoadTextFile(dir.File("none.txt"), 0), "");
}

TEST(LoadTextFile, WholeTextHasCrLfLineEndsAndAFinalOne) {
  TempDir dir;
  dir.Write("lf.txt", "first\nsecond\n\nfourth");
  EXPECT_EQ(LoadTextFile(dir.File("lf.txt"), -1), "first\r\nsecond\r\n\r\nfourth\r\n");
  dir.Write("crlf.txt", "a\r\nb\r\n");
  EXPECT_EQ(LoadTextFile(dir.File("crlf.txt"), -1), "a\r\nb\r\n");
  dir.Write("empty.txt", "");
  EXPECT_EQ(LoadTextFile(dir.File("empty.txt"), -1), "");
}

TEST(LoadTextFile, SingleLineByZeroBasedIndex) {
  TempDir dir;
  dir.Write("t.txt", "zero\r\none\r\n\r\nthree\r\n");
  EXPECT_EQ(LoadTextFile(dir.File("t.txt"), 0), "zero");
  EXPECT_EQ(LoadTextFile(dir.File("t.txt"), 1), "one");
  EXPECT_EQ(LoadTextFile(dir.File("t.txt"), 2), "");
  EXPECT_EQ(LoadTextFile(dir.File("t.txt"), 3), "three");
  EXPECT_EQ(LoadTextFile(dir.File("t.txt"), 4), "");
  EXPECT_EQ(LoadTextFile(dir.File("t.txt"), -2), "");
}

TEST(SaveTextFile, WritesCrLfLinesWithFinalLineEndAndOverwrites) {
  TempDir dir;
  SaveTextFile("a\nb\rc\r\nd", dir.File("out.txt"));
  EXPECT_EQ(dir.Read("out.txt"), "a\r\nb\r\nc\r\nd\r\n");
  SaveTextFile("short", dir.File("out.txt"));
  EXPECT_EQ(dir.Read("out.txt"), "short\r\n");
  SaveTextFile("", dir.File("out.txt"));
  EXPECT_EQ(dir.Read("out.txt"), "");
}

TEST(SaveTextFile, EmptyFileNameDoesNothingAndUnwritableFileRaises) {
  TempDir dir;
  EXPECT_NO_THROW(SaveTextFile("text", ""));
  dir.MakeDir("folder");
  EXPECT_THROW(SaveTextFile("text", dir.File("folder")), EFileError);
  EXPECT_THROW(SaveTextFile("text", dir.File("missing") + platform::kPathDelim + "x.txt"), EFileError);
}

TEST(MatchesMask, WildcardsWithoutCase) {
  struct Case {
    const char* name;
    const char* mask;
    bool match;
  } cases[] = {
      {"default.ini", "*.ini", true}, {"DEFAULT.INI", "*.ini", true}, {"default.ini.bak", "*.ini", false},
      {"ini", "*.ini", false},        {".ini", "*.ini", true},        {"a.ini", "?.ini", true},
      {"ab.ini", "?.ini", false},     {"anything", "*", true},        {"", "*", true},
      {"aaa", "a*a*a", true},         {"aab", "a*a*a", false},        {"x.dat", "X.DAT", true},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(FindFolders, ListOnlyNamesGivesImmediateSubfolders) {
  TempDir dir;
  dir.MakeDir("default");
  dir.MakeDir("empty");
  dir.MakeDir("default/deeper");
  dir.Write("default/default.ini", "[db]\r\n");
  dir.Write("lyrics.ini", "");
  std::vector<std::string> list = {"stale"};
  FindFolders(dir.Path(), "*.ini", list, false, true, true);
  EXPECT_EQ(Sorted(list), (std::vector<std::string>{"default", "empty"}));

  FindFolders(dir.Path(), "*.ini", list, true, true, true);
  EXPECT_EQ(Sorted(list), Sorted({dir.Path(), "default", "empty"})) << "root listed when it holds a match";

  FindFolders(dir.Path(), "*.ini", list, false, true, false);
  std::string d(1, platform::kPathDelim);
  EXPECT_EQ(Sorted(list), Sorted({dir.Path() + "default" + d, dir.Path() + "empty" + d}));
}

TEST(FindFolders, RecursiveScanListsFoldersHoldingMatches) {
  TempDir dir;
  dir.MakeDir("a/b");
  dir.MakeDir("c");
  dir.Write("a/b/x.ini", "");
  dir.Write("c/y.txt", "");
  dir.Write("top.ini", "");
  std::string d(1, platform::kPathDelim);
  std::vector<std::string> list;
  FindFolders(dir.Path(), "*.ini", list, false, false, false);
  EXPECT_EQ(list, (std::vector<std::string>{dir.Path() + "a" + d + "b" + d}));
  FindFolders(dir.Path(), "*.ini", list, true, false, false);
  EXPECT_EQ(Sorted(list), Sorted({dir.Path(), dir.Path() + "a" + d + "b" + d}));
  // The root without a trailing delimiter is the same root.
  std::string bare = dir.Path();
  bare.pop_back();
  FindFolders(bare, "*.ini", list, false, false, false);
  EXPECT_EQ(list, (std::vector<std::string>{dir.Path() + "a" + d + "b" + d}));
}

TEST(FindFolders, MissingRootGivesEmptyList) {
  TempDir dir;
  std::vector<std::string> list = {"stale"};
  FindFolders(dir.File("nowhere"), "*.ini", list, true, false, false);
  EXPECT_TRUE(list.empty());
}

TEST(Paths, PlainFileNamesStayInTheirFolder) {
  const std::pair<const char*, bool> cases[] = {
      {"AlbumList.dat", true},
      {"artist.ini", true},
      {"My Base", true},
      {"a..b", true},
      {"", false},
      {".", false},
      {"..", false},
      {"...", false},
      {".. ", false},
      {"../x", false},
      {"..\\x", false},
      {"sub/x", false},
      {"/etc/passwd", false},
      {"\\x", false},
      {"C:x.dat", false},
      {"C:\\x.dat", false},
      {"x.dat:stream", false},
      {"x\tz", false},
      {"x\x7f", false},
  };
  for (const auto& [name, plain] : cases) EXPECT_EQ(IsPlainFileName(name), plain) << name;
}

TEST(Paths, AppPathIsTheExecutablesFolder) {
  std::string app = AppPath();
  ASSERT_FALSE(app.empty());
  EXPECT_TRUE(IsPathDelimiter(app.back()));
  EXPECT_TRUE(IsExistingFolder(app));
  EXPECT_TRUE(IsExistingFile(platform::ExecutablePath()));
  EXPECT_EQ(FolderOf(platform::ExecutablePath()), app);
}

TEST(Paths, SplitAndJoin) {
  EXPECT_EQ(FolderOf("C:\\q\\base\\a.ini"), "C:\\q\\base\\");
  EXPECT_EQ(FileNameOf("C:\\q\\base\\a.ini"), "a.ini");
  EXPECT_EQ(FileNameOf("/tmp/x/b.dat"), "b.dat");
  EXPECT_EQ(FolderOf("c:a.txt"), "c:");
  EXPECT_EQ(FileNameOf("plain"), "plain");
  EXPECT_EQ(WithTrailingDelimiter("C:\\q\\"), "C:\\q\\");
  EXPECT_EQ(WithTrailingDelimiter("/q/"), "/q/");
  EXPECT_EQ(WithTrailingDelimiter("q"), std::string("q") + platform::kPathDelim);
}

}  // namespace
}  // namespace quillon
