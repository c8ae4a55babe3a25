// The descriptor store, the object sections and the package and folder forms of a skin.
#include <gtest/gtest.h>

#include <cstdlib>

#include "skin/skin_source.h"
#include "skin/tests/skin_fixtures.h"
#include "util/testing/temp_dir.h"

namespace quillon::skin {
namespace {

using testing::BmpBytes;
using testing::GradientBmp;
using testing::Package;
using testing::SilentWave;
using testing::SolidBmp;

TEST(SkinIniTest, ParsesSectionsKeysAndCase) {
  TscStringsIniFile ini;
  ini.SetText(
      "ignored=before any section\r\n"
      "  [FORM]  \r\n"
      "; a comment\n"
      "\tAlign=left \r"
      "Align = right\r\n"
      "Kind=form=x\r\n"
      "noequals\r\n"
      "[form]\r\n"
      "Align=bottom\r\n"
      "[Images]\r\n"
      "Frame=frame.bmp\r\n");
  EXPECT_EQ(ini.ReadString("Form", "ALIGN", "?"), "left") << "trimmed line, first match, any case";
  EXPECT_EQ(ini.ReadString("form", "Kind", "?"), "form=x") << "the value is everything after the first =";
  EXPECT_EQ(ini.ReadString("form", "Align ", "?"), " right") << "values are not trimmed";
  EXPECT_EQ(ini.ReadString("none", "Align", "def"), "def");
  EXPECT_EQ(ini.ReadString("form", "missing", "def"), "def");
  std::vector<std::string> list;
  ini.ReadSections(list);
  EXPECT_EQ(list, (std::vector<std::string>{"form", "form", "images"})) << "a repeated section is kept but never found";
  ini.ReadSection("FORM", list);
  EXPECT_EQ(list, (std::vector<std::string>{"align", "align ", "kind", ""}));
  ini.ReadSectionValues("images", list);
  EXPECT_EQ(list, (std::vector<std::string>{"Frame=frame.bmp"}));
  EXPECT_TRUE(ini.SectionExists("Images"));
  EXPECT_FALSE(ini.SectionExists("ignored"));
}

TEST(SkinIniTest, WritesEraseAndDeleteKeys) {
  TscStringsIniFile ini;
  ini.WriteString("General", "SkinName", "One");
  ini.WriteString("General", "SKINNAME", "Two");
  ini.WriteString("General", "Author", "Us");
  EXPECT_EQ(ini.GetText(), "[general]\r\nSKINNAME=Two\r\nAuthor=Us\r\n\r\n");
  ini.DeleteKey("general", "skinname");
  EXPECT_EQ(ini.ReadString("General", "SkinName", "-"), "-");
  ini.EraseSection("GENERAL");
  EXPECT_EQ(ini.GetText(), "");
  std::string record;
  ini.WriteString("a", "k", "v");
  ini.WriteRecord(record);
  TscStringsIniFile back;
  std::size_t pos = 0;
  back.ReadRecord(record, pos);
  EXPECT_EQ(pos, record.size());
  EXPECT_EQ(back.ReadString("A", "K", ""), "v");
}

TEST(SkinIniTest, MemIniFileReadsAndWritesItsFile) {
  quillon::testing::TempDir dir;
  dir.Write("s.osk", "[General]\r\nSkinName=Folder\r\n");
  TscMemIniFile ini(dir.File("s.osk"));
  EXPECT_EQ(ini.ReadString("general", "skinname", ""), "Folder");
  ini.WriteString("General", "Author", "Us");
  ini.UpdateFile();
  TscMemIniFile again(dir.File("s.osk"));
  EXPECT_EQ(again.ReadString("General", "Author", ""), "Us");
  TscMemIniFile missing(dir.File("none.osk"));
  EXPECT_FALSE(missing.SectionExists("General"));
}

TEST(SkinTokensTest, EachDelimiterEndsOneToken) {
  EXPECT_EQ(SkinTokens("255, 0, 0"), (std::vector<std::string>{"255", "", "0", "", "0"}));
  EXPECT_EQ(SkinTokens("frame(0,0,9,4)"), (std::vector<std::string>{"frame", "0", "0", "9", "4"}));
  EXPECT_EQ(SkinTokens("a;b c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_THROW(SkinTokens(std::string(256, 'x')), ESkinError);
  EXPECT_NO_THROW(SkinTokens(std::string(255, 'x')));
}

// One object section read through a source that holds the image "frame" (10 x 6).
struct Loaded {
  TscSkinSource source;
  std::unique_ptr<TscSkinObject> object;
};

std::unique_ptr<Loaded> LoadSection(const std::string& body, const std::string& extra = {}) {
  auto l = std::make_unique<Loaded>();
  l->source.Images.push_back(GradientBmp(10, 6, "frame"));
  TscStringsIniFile ini;
  ini.SetText("[Obj]\r\n" + body + "\r\n" + extra);
  l->object = std::make_unique<TscSkinObject>();
  l->source.LoadObject(ini, "Obj", *l->object);
  return l;
}

TEST(SkinObjectSectionTest, ValuesAndTheirSyntax) {
  struct Case {
    const char* what;
    std::string body;
    std::function<void(const TscSkinObject&)> check;
  } cases[] = {
      {"Color=255,0,0 is pure red", "Color=255,0,0", [](auto& o) { EXPECT_EQ(o.Color, SkinRgb(255, 0, 0)); }},
      {"blank-separated colour", "Color=1 2 3", [](auto& o) { EXPECT_EQ(o.Color, SkinRgb(1, 2, 3)); }},
      {"components modulo 256", "TextColor=256,257,-1", [](auto& o) { EXPECT_EQ(o.TextColor, SkinRgb(0, 1, 255)); }},
      {"Align = left never found", "Align = left", [](auto& o) { EXPECT_EQ(o.Align, TSkinAlign::None); }},
      {"words any case", "Align=MostTop\r\nKind=SysButton\r\nTileStyle=Stretch\r\nTextAlign=BottomRight",
       [](auto& o) {
         EXPECT_EQ(o.Align, TSkinAlign::MostTop);
         EXPECT_EQ(o.Kind, TSkinKind::SysButton);
         EXPECT_EQ(o.TileStyle, TSkinTileStyle::Stretch);
         EXPECT_EQ(o.TextAlign, 8);
       }},
      {"unknown words give defaults", "Align=diagonal\r\nKind=x\r\nTileStyle=x\r\nTextAlign=x",
       [](auto& o) {
         EXPECT_EQ(o.Align, TSkinAlign::None);
         EXPECT_EQ(o.Kind, TSkinKind::None);
         EXPECT_EQ(o.TileStyle, TSkinTileStyle::Tile);
         EXPECT_EQ(o.TextAlign, 4);
       }},
      {"Visible replaces always, unknown words ignored", "Visible=active,maximized,bogus,tabnoactive",
       [](auto& o) {
         TSkinConditions expected;
         expected.set(scActive).set(scMaximized).set(scTabNoActive);
         EXPECT_EQ(o.Conditions, expected);
       }},
      {"font", "FontName=Tahoma\r\nFontSize=11\r\nFontStyle=italic,bold",
       [](auto& o) {
         EXPECT_EQ(o.Font.name, "Tahoma");
         EXPECT_EQ(o.Font.size, 11);
         EXPECT_TRUE(o.Font.bold && o.Font.italic);
       }},
      {"Image shares the whole image", "Image=FRAME",
       [](auto& o) {
         ASSERT_TRUE(o.Image);
         EXPECT_EQ(o.Image->Width(), 10);
         EXPECT_EQ(o.Image.use_count(), 2);
       }},
      {"Image with a rectangle gives a private copy", "Image=frame,0,0,9,4",
       [](auto& o) {
         ASSERT_TRUE(o.Image);
         EXPECT_EQ(o.Image->Width(), 10);
         EXPECT_EQ(o.Image->Height(), 5);
         EXPECT_EQ(o.Image.use_count(), 1);
         EXPECT_EQ(o.Image->Pixel(9, 4), SkinRgb(9, 4, 7));
       }},
      {"part beyond the image stays black", "Image=frame,8,5,11,5",
       [](auto& o) {
         ASSERT_TRUE(o.Image);
         EXPECT_EQ(o.Image->Width(), 4);
         EXPECT_EQ(o.Image->Pixel(1, 0), SkinRgb(9, 5, 7));
         EXPECT_EQ(o.Image->Pixel(2, 0), kSkinBlack);
       }},
      {"empty coordinate keeps the default", "Image=frame,2,,,3",
       [](auto& o) {
         ASSERT_TRUE(o.Image);
         EXPECT_EQ(o.Image->Width(), 9);  // 2 .. image width (10) inclusive
         EXPECT_EQ(o.Image->Height(), 4);
       }},
      {"unknown image or non-numeric coordinate: no image", "Image=nothing\r\nMaskImage=frame,a,0,1,1",
       [](auto& o) {
         EXPECT_FALSE(o.Image);
         EXPECT_FALSE(o.MaskImage);
         EXPECT_EQ(o.MaskKind, TSkinMaskKind::None);
       }},
      {"image size follows the alignment", "Align=top\r\nImage=frame",
       [](auto& o) {
         EXPECT_EQ(o.Height, 6);
         EXPECT_EQ(o.Width, 0);
       }},
      {"corner takes both", "Align=bottomright\r\nImage=frame",
       [](auto& o) {
         EXPECT_EQ(o.GetBounds(), (TSkinRect{0, 0, 10, 6}));
       }},
      {"Height overrides the image", "Align=top\r\nImage=frame\r\nHeight=20", [](auto& o) { EXPECT_EQ(o.Height, 20); }},
      {"Left and Top are configured too", "Left=30\r\nTop=-4",
       [](auto& o) {
         EXPECT_EQ(o.ConfiguredLeft, 30);
         EXPECT_EQ(o.ConfiguredTop, -4);
         EXPECT_EQ(o.Top, -4);
       }},
      {"action lists cut at each ;", "ClickEvent=play click; close;max",
       [](auto& o) {
         EXPECT_EQ(o.EventList(TSkinEvent::Click), (std::vector<std::string>{"play click", " close", "max"}));
       }},
      {"mask colour", "MaskColor=255,0,255",
       [](auto& o) {
         EXPECT_EQ(o.MaskKind, TSkinMaskKind::ColorKey);
         EXPECT_EQ(o.MaskColor, SkinRgb(255, 0, 255));
       }},
      {"mask image after mask colour wins", "MaskColor=255,0,255\r\nMaskImage=frame",
       [](auto& o) { EXPECT_EQ(o.MaskKind, TSkinMaskKind::MaskImage); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<Loaded> l;
    ASSERT_NO_THROW(l = LoadSection(c.body));
    c.check(*l->object);
  }
}

TEST(SkinObjectSectionTest, BadValuesFailTheLoad) {
  struct Case {
    const char* what;
    std::string body, extra;
  } cases[] = {
      {"blanks after the commas", "Color=255, 0, 0", ""},
      {"non-numeric colour", "TextColor=red", ""},
      {"too few colour components", "MaskColor=1,2", ""},
      {"non-numeric integer", "FontSize=big", ""},
      {"value of 256 characters", "FontName=" + std::string(256, 'a'), ""},
      {"action line of 256 characters", "ClickEvent=close;" + std::string(256, 'a'), ""},
      {"negative width", "Width=-1", ""},
      {"huge height", "Height=2000000000", ""},
      {"huge left", "Left=99999", ""},
      {"image part with negative size", "Image=frame,5,0,1,1", ""},
      {"image part too large", "Image=frame,0,0,2000000000,1", ""},
      {"Child naming itself", "Child=Obj", ""},
      {"Child cycle two deep", "Child=A", "[A]\r\nChild=B\r\n[B]\r\nChild=obj\r\n"},
      {"exponential Child tree", "Child=A,A,A,A,A,A,A,A,A,A",
       "[A]\r\nChild=B,B,B,B,B,B,B,B,B,B\r\n[B]\r\nChild=C,C,C,C,C,C,C,C,C,C\r\n[C]\r\nChild=D,D,D,D,D,D,D,D,D,D\r\n"
       "[D]\r\nChild=E,E\r\n[E]\r\nKind=client\r\n"},
  };
  for (const auto& c : cases) EXPECT_THROW(LoadSection(c.body, c.extra), ESkinError) << c.what;
  // A section used twice on different branches is no cycle.
  std::unique_ptr<Loaded> l;
  ASSERT_NO_THROW(l = LoadSection("Child=A,B", "[A]\r\nChild=C\r\n[B]\r\nChild=C\r\n[C]\r\nKind=client\r\n"));
  ASSERT_EQ(l->object->ChildCount(), 2);
  EXPECT_EQ(l->object->Child(1)->Child(0)->Kind, TSkinKind::Client);
  EXPECT_EQ(l->object->Child(1)->Child(0)->Name, "C");
}

const std::string kDescriptor =
    "[General]\r\nSkinName=Test\r\nAuthor=Us\r\nSizeable=FALSE\r\n"
    "[Sounds]\r\nclick=click.wav\r\nhover=hover.wav\r\nnoequals\r\n"
    "[Images]\r\nframe=frame.bmp\r\nbtn=btn.bmp\r\n"
    "[FORM]\r\nKind=form\r\nColor=1,2,3\r\nChild=Caption\r\n"
    "[Caption]\r\nKind=caption\r\nAlign=top\r\nImage=frame\r\nClickEvent=play click\r\n"
    "[PageControl]\r\nKind=pagecontrol\r\n";

std::string TestPackage(const std::string& trailing = {}) {
  return Package(kDescriptor, {SilentWave(10), SilentWave(20), SilentWave(30)},
                 {BmpBytes(*GradientBmp(10, 6)), BmpBytes(*SolidBmp(3, 2, kSkinWhite))}) +
         trailing;
}

TEST(SkinPackageTest, ReadsExactlyItsRecords) {
  const std::string data = TestPackage("TRAILER");
  TscSkinSource s;
  std::size_t pos = 0;
  s.LoadFromStream(data, pos);
  EXPECT_EQ(data.substr(pos), "TRAILER") << "three sound records and two BMP files, nothing else";
  EXPECT_TRUE(s.Loaded);
  EXPECT_EQ(s.SkinName, "Test");
  EXPECT_EQ(s.Author, "Us");
  EXPECT_EQ(s.SkinVersion, "");
  EXPECT_FALSE(s.Sizeable);
  ASSERT_EQ(s.Sounds.size(), 3u);
  EXPECT_EQ(s.Sounds[1]->Name, "hover");
  EXPECT_EQ(s.Sounds[1]->Data, SilentWave(20));
  EXPECT_EQ(s.Sounds[2]->Name, "") << "a line without = still takes a record";
  ASSERT_EQ(s.Images.size(), 2u);
  EXPECT_EQ(s.FindImage("BTN")->Width(), 3);
  ASSERT_EQ(s.Objects.size(), 2u) << "Form and PageControl, in the loader's order";
  TscSkinObject* form = s.FindObject(TSkinKind::Form);
  ASSERT_NE(form, nullptr) << "[FORM] is found by the lookup of Form";
  EXPECT_EQ(form->Color, SkinRgb(1, 2, 3));
  ASSERT_EQ(form->ChildCount(), 1);
  EXPECT_EQ(form->Child(0)->Height, 6);
  EXPECT_EQ(form->Child(0)->Source, &s) << "objects are attached to the source";
  EXPECT_EQ(form->Child(0)->Image, s.Images[0]);
  EXPECT_NE(s.FindObject(TSkinKind::PageControl), nullptr);
}

TEST(SkinPackageTest, SaveToStreamWritesTheSameBytes) {
  const std::string data = TestPackage();
  TscSkinSource s;
  s.LoadFromStream(data);
  std::string first;
  s.SaveToStream(first);
  TscSkinSource again;
  again.LoadFromStream(first);
  std::string second;
  again.SaveToStream(second);
  EXPECT_EQ(first, second);
  EXPECT_EQ(again.Objects.size(), 2u);
}

TEST(SkinPackageTest, WrongMagicGivesALoadedSourceWithoutObjects) {
  TscSkinSource s;
  s.LoadFromStream(Package(kDescriptor, {}, {}, "skinengine package"));
  EXPECT_TRUE(s.Loaded);
  EXPECT_TRUE(s.Objects.empty());
  EXPECT_TRUE(s.Images.empty());
}

TEST(SkinPackageTest, EveryTruncationFailsCleanly) {
  const std::string data = TestPackage();
  // Cutting anywhere inside the records must throw, never read past the end.
  for (std::size_t n = 0; n < data.size(); n += 7) {
    TscSkinSource s;
    EXPECT_THROW(s.LoadFromStream(data.substr(0, n)), ESkinError) << n;
  }
  std::string negative;
  PutU32(negative, 0xFFFFFFF0u);
  TscSkinSource s;
  EXPECT_THROW(s.LoadFromStream(negative), ESkinError);
}

TEST(SkinPackageTest, DestroyingTheSourceReleasesSharedImages) {
  TOmbraBmpRef kept;
  {
    TscSkinSource s;
    s.LoadFromStream(TestPackage());
    kept = s.Images[0];
    EXPECT_EQ(kept.use_count(), 3) << "source, caption object, this test";
    TscSkinSource copy;
    copy.Assign(s);
    EXPECT_EQ(kept.use_count(), 5) << "the copy shares the image and its caption copy takes one more";
    EXPECT_EQ(copy.SkinName, "Test");
    EXPECT_NE(copy.Objects[0].get(), s.Objects[0].get());
  }
  EXPECT_EQ(kept.use_count(), 1);
}

TEST(SkinFolderTest, FolderFormLoadsAndWritesBack) {
  quillon::testing::TempDir dir;
  dir.Write("skin.osk",
            "[General]\r\nSkinName=Loose\r\n[Sounds]\r\nclick=c.wav\r\n[Images]\r\nframe=f.bmp\r\n"
            "[Form]\r\nKind=form\r\nImage=frame\r\n");
  dir.Write("c.wav", SilentWave(5));
  dir.Write("f.bmp", BmpBytes(*GradientBmp(4, 4)));
  TscSkinSource s;
  s.LoadFromFolder(dir.Path());
  ASSERT_TRUE(s.Loaded);
  EXPECT_EQ(s.SkinName, "Loose");
  EXPECT_EQ(s.FindSound("CLICK")->Data, SilentWave(5));
  ASSERT_NE(s.FindObject(TSkinKind::Form), nullptr);
  EXPECT_EQ(s.FindObject(TSkinKind::Form)->Image, s.FindImage("frame"));

  quillon::testing::TempDir out;
  s.SaveToFolder(out.Path());
  TscSkinSource back;
  back.LoadFromFolder(out.Path());
  ASSERT_TRUE(back.Loaded);
  EXPECT_EQ(back.FindImage("frame")->Pixel(3, 2), SkinRgb(3, 2, 7));
  EXPECT_EQ(back.FindSound("click")->Data, SilentWave(5));
  TscMemIniFile ini(out.File("config.osk"));
  EXPECT_EQ(ini.ReadString("Images", "frame", ""), "frame.bmp");

  TscSkinSource none;
  none.LoadFromFolder("");
  none.LoadFromFolder(dir.File("no-such-folder"));
  EXPECT_FALSE(none.Loaded);
}

TEST(SkinFolderTest, MissingImageFileFailsTheLoad) {
  quillon::testing::TempDir dir;
  dir.Write("a.osk", "[Images]\r\nframe=missing.bmp\r\n");
  TscSkinSource s;
  EXPECT_THROW(s.LoadFromFolder(dir.Path()), ESkinError);
}

// A name that cannot be a file name never becomes a path: the record goes to a file of ours
// inside the folder, listed in the manifest.
TEST(SkinFolderTest, UnsafeNamesAreNotWrittenAsFiles) {
  TscSkinSource s;
  s.Descriptor.SetText("[Images]\r\n../escape=x.bmp\r\n");
  s.Images.push_back(SolidBmp(1, 1, kSkinWhite, "../escape"));
  quillon::testing::TempDir root;
  std::filesystem::create_directories(root.File("out"));
  s.SaveToFolder(root.File("out"));
  EXPECT_FALSE(std::filesystem::exists(root.File("escape.bmp")));
  EXPECT_TRUE(std::filesystem::exists(root.File("out/unnamed-images-0.bmp")));
  EXPECT_EQ(root.Read("out/unnamed.lst"), "images 0 unnamed-images-0.bmp\r\n");
  // A manifest naming a path outside the folder is refused when the folder is read.
  root.Write("out/unnamed.lst", "images 0 ../escape.bmp\r\n");
  TscSkinSource back;
  EXPECT_THROW(back.LoadFromFolder(root.File("out")), ESkinError);
}

// Every package the reader accepts unpacks, even with a record whose descriptor line has no "="
// (an empty name), and packs back to the same records; a second round trip keeps the bytes.
TEST(SkinFolderTest, RecordsWithoutFileNamesRoundTripThroughAFolder) {
  TscSkinSource first;
  first.LoadFromStream(TestPackage());
  ASSERT_EQ(first.Sounds.size(), 3u);
  ASSERT_EQ(first.Sounds[2]->Name, "");
  quillon::testing::TempDir a, b;
  first.SaveToFolder(a.Path());
  EXPECT_NE(a.Read("unnamed.lst").find("sounds 2 "), std::string::npos);
  TscSkinSource packed;
  packed.LoadFromFolder(a.Path());
  ASSERT_TRUE(packed.Loaded);
  ASSERT_EQ(packed.Sounds.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(packed.Sounds[k]->Name, first.Sounds[k]->Name) << k;
    EXPECT_EQ(packed.Sounds[k]->Data, first.Sounds[k]->Data) << k;
  }
  ASSERT_EQ(packed.Images.size(), first.Images.size());
  std::string once, twice;
  packed.SaveToStream(once);
  TscSkinSource again;
  again.LoadFromStream(once);
  again.SaveToFolder(b.Path());
  TscSkinSource packedAgain;
  packedAgain.LoadFromFolder(b.Path());
  packedAgain.SaveToStream(twice);
  EXPECT_EQ(once, twice);
}

TEST(SkinFileLookupTest, PackageAndFolderRules) {
  quillon::testing::TempDir exe;
  exe.Write("skin.dat", TestPackage());
  std::filesystem::create_directories(exe.File("skins/blue"));
  exe.Write("skins/blue/blue.OSK", "[Form]\r\nKind=form\r\n");
  std::filesystem::create_directories(exe.File("skins/empty"));
  struct Case {
    std::string value;
    TSkinFileLocation::Kind kind;
    std::string path;
  } cases[] = {
      {"", TSkinFileLocation::Unload, ""},
      {"skin.dat", TSkinFileLocation::Package, exe.File("skin.dat")},
      {"\\skin.dat", TSkinFileLocation::Package, exe.File("skin.dat")},
      {"other.dat", TSkinFileLocation::Nothing, ""},
      {"skins/blue/any.osk", TSkinFileLocation::Folder, exe.File("skins/blue/")},
      {"skins/empty/any.osk", TSkinFileLocation::Nothing, ""},
  };
  for (const auto& c : cases) {
    const auto where = FindSkinFile(c.value, exe.Path());
    EXPECT_EQ(where.kind, c.kind) << c.value;
    EXPECT_EQ(where.path, c.path) << c.value;
  }
  TscSkinSource folder;
  LoadSkinLocation(FindSkinFile("skins/blue/x.osk", exe.Path()), folder);
  EXPECT_NE(folder.FindObject(TSkinKind::Form), nullptr);
}

}  // namespace
}  // namespace quillon::skin

namespace quillon::skin {
namespace {

std::string OurSkinFolder() {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  return std::string(source ? source : ".") + "/data/skin/";
}

TEST(OurSkinTest, PackedSkinLoadsAndWritesBackIdentically) {
  TscSkinSource folder;
  folder.LoadFromFolder(OurSkinFolder());
  ASSERT_TRUE(folder.Loaded) << OurSkinFolder();
  std::string packed;
  folder.SaveToStream(packed);
  TscSkinSource package;
  package.LoadFromStream(packed);
  std::string again;
  package.SaveToStream(again);
  EXPECT_EQ(again, packed);
  EXPECT_EQ(package.Images.size(), folder.Images.size());
  EXPECT_EQ(package.Sounds.size(), 2u);
}

TEST(OurSkinTest, HasEveryPieceTheWindowsUse) {
  TscSkinSource s;
  s.LoadFromFolder(OurSkinFolder());
  TscSkinObject* form = s.FindObject(TSkinKind::Form);
  ASSERT_NE(form, nullptr);
  for (TSkinKind k :
       {TSkinKind::Caption, TSkinKind::Title, TSkinKind::Top, TSkinKind::Left, TSkinKind::Right, TSkinKind::Bottom,
        TSkinKind::TopLeft, TSkinKind::TopRight, TSkinKind::BottomLeft, TSkinKind::BottomRight, TSkinKind::MenuBar,
        TSkinKind::MenuBarItem, TSkinKind::SysButton, TSkinKind::Client})
    EXPECT_NE(form->FindKind(k), nullptr) << static_cast<int>(k);
  TscSkinObject* popup = s.FindObject(TSkinKind::PopupMenu);
  ASSERT_NE(popup, nullptr);
  EXPECT_NE(popup->FindKind(TSkinKind::PopupMenuItem), nullptr);
  TscSkinObject* pages = s.FindObject(TSkinKind::PageControl);
  ASSERT_NE(pages, nullptr);
  EXPECT_GT(pages->ChildCount(), 0);
  EXPECT_NE(pages->FindKind(TSkinKind::PageControlTab), nullptr);
  EXPECT_NE(pages->FindKind(TSkinKind::PageControlClient), nullptr);
  // Every caption button reacts to hover, leave and click, and names images and sounds that exist.
  int buttons = 0;
  form->ForEach([&](TscSkinObject& o) {
    if (o.Kind != TSkinKind::SysButton) return;
    ++buttons;
    for (TSkinEvent e : {TSkinEvent::Hover, TSkinEvent::Leave, TSkinEvent::Click}) {
      ASSERT_FALSE(o.EventList(e).empty()) << o.Name;
      for (const auto& line : o.EventList(e)) {
        const auto tokens = SkinTokens(line);
        const std::string verb = LowerAscii(tokens[0]);
        if (verb == "changeimage" || verb == "fadeimage") {
          EXPECT_NE(s.FindImage(tokens[1]), nullptr) << line;
        }
        if (verb == "play") {
          EXPECT_NE(s.FindSound(tokens[1]), nullptr) << line;
        }
      }
    }
  });
  EXPECT_EQ(buttons, 4);
  // Laid out as a window, the frame shape covers the whole rectangle: no holes.
  form->SetBounds({0, 0, 640, 480});
  const auto rects = form->CreateRegion().Rects();
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0], (TSkinRect{0, 0, 640, 480}));
  TscSkinObject* client = form->FindKind(TSkinKind::Client);
  EXPECT_EQ(client->GetBounds(), (TSkinRect{4, 3 + 28 + 22, 636, 476}));
}

}  // namespace
}  // namespace quillon::skin
