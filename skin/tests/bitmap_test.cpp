// TOmbraBmp: pixel operations, the BMP reader's formats and its refusal of damaged headers.
#include <gtest/gtest.h>

#include "skin/ombra_bmp.h"
#include "skin/skin_bytes.h"
#include "skin/tests/skin_fixtures.h"

namespace quillon::skin {
namespace {

using testing::GradientBmp;
using testing::SolidBmp;

TEST(OmbraBmpTest, LayoutIsTopDownBgrWithFourByteRows) {
  TOmbraBmp b(5, 2);
  EXPECT_EQ(b.Stride(), 16);  // 15 rounded up
  b.SetPixel(1, 1, SkinRgb(10, 20, 30));
  const std::uint8_t* p = b.Row(1) + 3;
  EXPECT_EQ(p[0], 30);
  EXPECT_EQ(p[1], 20);
  EXPECT_EQ(p[2], 10);
  EXPECT_EQ(b.Row(1) - b.Row(0), 16);
  EXPECT_EQ(TOmbraBmp(3, 3).Pixel(2, 2), kSkinBlack);  // created blank
}

TEST(OmbraBmpTest, RefusesNegativeAndHugeSizes) {
  EXPECT_THROW(TOmbraBmp(-1, 4), ESkinError);
  EXPECT_THROW(TOmbraBmp(kMaxBitmapSide + 1, 1), ESkinError);
  EXPECT_THROW(TOmbraBmp(kMaxBitmapSide, kMaxBitmapSide), ESkinError);
  EXPECT_NO_THROW(TOmbraBmp(0, 0));
}

TEST(OmbraBmpTest, CopyRectIsInclusiveAndCutsOffOutside) {
  auto src = GradientBmp(10, 10);
  struct Case {
    const char* what;
    TSkinRect rect;
    int x, y;
    int probeX, probeY;
    TSkinColor expected;
  } cases[] = {
      {"inclusive right edge copied", {2, 3, 4, 5}, 0, 0, 2, 2, SkinRgb(4, 5, 7)},
      {"beyond the inclusive edge untouched", {2, 3, 4, 5}, 0, 0, 3, 0, kSkinBlack},
      {"negative source start shifts target", {-2, 0, 3, 0}, 0, 0, 2, 0, SkinRgb(0, 0, 7)},
      {"negative target start cuts source", {0, 0, 5, 5}, -3, -1, 0, 0, SkinRgb(3, 1, 7)},
      {"past the source end cut", {8, 8, 20, 20}, 0, 0, 2, 0, kSkinBlack},
      {"huge rectangle clipped", {0, 0, 2147483647, 2147483647}, 0, 0, 4, 4, SkinRgb(4, 4, 7)},
      {"far negative start lands outside", {-2000000000, -2000000000, 5, 5}, 0, 0, 0, 0, kSkinBlack},
  };
  for (const auto& c : cases) {
    TOmbraBmp target(6, 6);
    CopyRect(*src, target, c.rect, c.x, c.y);
    EXPECT_EQ(target.Pixel(c.probeX, c.probeY), c.expected) << c.what;
  }
}

TEST(OmbraBmpTest, TileDrawRepeatsFromTheOrigin) {
  auto tile = GradientBmp(3, 2);
  TOmbraBmp target(20, 9);
  tile->TileDraw(target, 1, 2, 17, 6);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool inside = x >= 1 && x < 18 && y >= 2 && y < 8;
      const TSkinColor expected = inside ? SkinRgb((x - 1) % 3, (y - 2) % 2, 7) : kSkinBlack;
      ASSERT_EQ(target.Pixel(x, y), expected) << x << "," << y;
    }
  // Starting left of the target keeps the pattern's phase.
  TOmbraBmp shifted(4, 1);
  tile->TileDraw(shifted, -4, 0, 8, 1);
  EXPECT_EQ(shifted.Pixel(0, 0), SkinRgb(1, 0, 7));
}

TEST(OmbraBmpTest, StretchDrawDropsAndRepeatsPixels) {
  auto src = GradientBmp(4, 2);
  TOmbraBmp target(8, 1);
  src->StretchDraw(target, 0, 0, 8, 1);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(target.Pixel(x, 0), SkinRgb(x / 2, 0, 7)) << x;
  TOmbraBmp half(2, 2);
  src->StretchDraw(half, 0, 0, 2, 2);
  EXPECT_EQ(half.Pixel(1, 1), SkinRgb(2, 1, 7));
}

TEST(OmbraBmpTest, TransparentDrawingLeavesOutTheKey) {
  auto src = SolidBmp(3, 1, SkinRgb(255, 0, 255));
  src->SetPixel(1, 0, SkinRgb(1, 2, 3));
  TOmbraBmp target(3, 1);
  target.Fill(SkinRgb(9, 9, 9));
  src->DrawTransparent(target, 0, 0, SkinRgb(255, 0, 255));
  EXPECT_EQ(target.Pixel(0, 0), SkinRgb(9, 9, 9));
  EXPECT_EQ(target.Pixel(1, 0), SkinRgb(1, 2, 3));
  TOmbraBmp tiled(6, 1);
  src->TileDrawTransparent(tiled, 0, 0, 6, 1, SkinRgb(255, 0, 255));
  EXPECT_EQ(tiled.Pixel(4, 0), SkinRgb(1, 2, 3));
  EXPECT_EQ(tiled.Pixel(3, 0), kSkinBlack);
}

TEST(OmbraBmpTest, BlendRoundsHalvesToEven) {
  struct Case {
    int a, b;
    double t;
    int expected;
  } cases[] = {{0, 255, 0.5, 128},  // 127.5 -> 128 (even)
               {0, 1, 0.5, 0},      // 0.5 -> 0
               {0, 3, 0.5, 2},      // 1.5 -> 2
               {10, 20, -1.0, 10},  // t clamped to 0
               {10, 20, 7.0, 20}};  // t clamped to 1
  for (const auto& c : cases) {
    auto first = SolidBmp(2, 1, SkinRgb(c.a, c.a, c.a));
    auto second = SolidBmp(2, 1, SkinRgb(c.b, c.b, c.b));
    TOmbraBmp target(2, 1);
    Blend(*first, *second, c.t, target);
    EXPECT_EQ(target.Pixel(1, 0), SkinRgb(c.expected, c.expected, c.expected)) << c.a << " " << c.b << " " << c.t;
    EXPECT_EQ(first->Pixel(0, 0), target.Pixel(0, 0)) << "written into the first image too";
  }
  auto small = SolidBmp(1, 1, kSkinWhite);
  auto first = SolidBmp(2, 1, kSkinBlack);
  TOmbraBmp target(2, 1);
  target.Fill(SkinRgb(5, 5, 5));
  Blend(*first, *small, 0.5, target);
  EXPECT_EQ(target.Pixel(0, 0), SkinRgb(5, 5, 5)) << "different sizes do nothing";
}

TEST(OmbraBmpTest, SlideEntersFromEachSide) {
  auto from = SolidBmp(4, 4, kSkinBlack);
  auto to = GradientBmp(4, 4);
  struct Case {
    int direction;
    double t;
    int probeX, probeY;
    TSkinColor expected;
  } cases[] = {
      {0, 0.5, 0, 0, SkinRgb(2, 0, 7)},                                      // to's columns 2..3 at 0..1
      {0, 0.5, 2, 0, kSkinBlack},        {1, 0.5, 2, 1, SkinRgb(0, 1, 7)},   // to's columns 0..1 at 2..3
      {1, 0.5, 1, 1, kSkinBlack},        {2, 0.25, 0, 0, SkinRgb(0, 3, 7)},  // to's row 3 at row 0
      {3, 0.25, 3, 3, SkinRgb(3, 0, 7)},                                     // to's row 0 at row 3
      {0, 0.125, 0, 0, kSkinBlack},                                          // 0.5 columns rounds to 0
      {0, 1.0, 1, 1, SkinRgb(1, 1, 7)},
  };
  for (const auto& c : cases) {
    TOmbraBmp target(4, 4);
    Slide(*from, *to, c.direction, c.t, target);
    EXPECT_EQ(target.Pixel(c.probeX, c.probeY), c.expected) << c.direction << " " << c.t;
  }
}

TEST(OmbraBmpTest, KeyRunsAreMaximalRowRuns) {
  const TSkinColor key = SkinRgb(255, 0, 255);
  auto b = SolidBmp(6, 3, key);
  b->SetPixel(0, 0, 1);
  b->SetPixel(1, 0, 2);
  b->SetPixel(4, 0, 3);
  b->SetPixel(5, 2, 4);
  const auto runs = b->KeyRuns(key);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0], (TSkinRect{0, 0, 2, 1}));
  EXPECT_EQ(runs[1], (TSkinRect{4, 0, 5, 1}));
  EXPECT_EQ(runs[2], (TSkinRect{5, 2, 6, 3}));
  // A checkerboard gives more runs than the limit; the list stops there.
  TOmbraBmp checks(300, 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 300; ++x) checks.SetPixel(x, y, (x + y) % 2 ? key : kSkinWhite);
  EXPECT_EQ(checks.KeyRuns(key).size(), TOmbraBmp::kMaxKeyRuns);
}

// ---- BMP files ----

struct BmpLayout {
  std::uint32_t headerSize = 40;
  std::int32_t width = 2, height = 2;
  int bitCount = 24;
  std::uint32_t compression = 0, imageSize = 0, colours = 0;
  std::string extra;  // masks and colour table
  std::string pixels;
};

std::string BuildBmp(const BmpLayout& s) {
  std::string out = "BM";
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, s.headerSize);
  if (s.headerSize == 12) {
    PutU16(out, static_cast<std::uint16_t>(s.width));
    PutU16(out, static_cast<std::uint16_t>(s.height));
    PutU16(out, 1);
    PutU16(out, static_cast<std::uint16_t>(s.bitCount));
  } else {
    PutU32(out, static_cast<std::uint32_t>(s.width));
    PutU32(out, static_cast<std::uint32_t>(s.height));
    PutU16(out, 1);
    PutU16(out, static_cast<std::uint16_t>(s.bitCount));
    PutU32(out, s.compression);
    PutU32(out, s.imageSize);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, s.colours);
    PutU32(out, 0);
    if (s.headerSize > 40) out.append(s.headerSize - 40, '\0');
  }
  return out + s.extra + s.pixels;
}

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s += static_cast<char>(v);
  return s;
}

TEST(BmpReaderTest, ReadsEveryFormatIntoTwentyFourBits) {
  struct Case {
    const char* what;
    BmpLayout layout;
    TSkinColor topLeft, bottomRight;
  } cases[] = {
      {"24-bit bottom-up",
       {40, 2, 2, 24, 0, 0, 0, "", Bytes({1, 2, 3, 0, 0, 0, 0, 0, 9, 9, 9, 0, 0, 0, 0, 0})},
       SkinRgb(9, 9, 9),
       kSkinBlack},
      {"24-bit top-down",
       {40, 2, -2, 24, 0, 0, 0, "", Bytes({1, 2, 3, 0, 0, 0, 0, 0, 9, 9, 9, 0, 0, 0, 0, 0})},
       SkinRgb(3, 2, 1),
       kSkinBlack},
      {"8-bit palette of two, colour count given",
       {40, 2, 1, 8, 0, 0, 2, Bytes({0, 0, 255, 0, 255, 0, 0, 0}), Bytes({1, 0, 0, 0})},
       SkinRgb(0, 0, 255),
       SkinRgb(255, 0, 0)},
      {"1-bit with the full table",
       {40, 2, 1, 1, 0, 0, 0, Bytes({0, 0, 0, 0, 255, 255, 255, 0}), Bytes({0x40, 0, 0, 0})},
       kSkinBlack,
       kSkinWhite},
      {"4-bit, index beyond the table is black",
       {40, 2, 1, 4, 0, 0, 1, Bytes({10, 20, 30, 0}), Bytes({0x05, 0, 0, 0})},
       SkinRgb(30, 20, 10),
       kSkinBlack},
      {"16-bit 5-5-5",
       {40, 2, 1, 16, 0, 0, 0, "", Bytes({0x00, 0x7C, 0x1F, 0x00})},
       SkinRgb(255, 0, 0),
       SkinRgb(0, 0, 255)},
      {"16-bit 5-6-5 through masks",
       {40, 1, 1, 16, 3, 0, 0, Bytes({0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0}), Bytes({0xE0, 0x07, 0, 0})},
       SkinRgb(0, 255, 0),
       SkinRgb(0, 255, 0)},
      {"32-bit", {40, 1, 1, 32, 0, 0, 0, "", Bytes({1, 2, 3, 4})}, SkinRgb(3, 2, 1), SkinRgb(3, 2, 1)},
      {"12-byte header with 3-byte table",
       {12, 2, 1, 1, 0, 0, 0, Bytes({0, 0, 0, 7, 8, 9}), Bytes({0x80, 0, 0, 0})},
       SkinRgb(9, 8, 7),
       kSkinBlack},
      {"108-byte header", {108, 1, 1, 24, 0, 0, 0, "", Bytes({5, 6, 7, 0})}, SkinRgb(7, 6, 5), SkinRgb(7, 6, 5)},
  };
  for (const auto& c : cases) {
    const std::string file = BuildBmp(c.layout) + "NEXT";
    std::size_t pos = 0;
    TOmbraBmpRef b;
    ASSERT_NO_THROW(b = TOmbraBmp::ReadBmp(file, pos)) << c.what;
    EXPECT_EQ(b->Width(), c.layout.width) << c.what;
    EXPECT_EQ(b->Pixel(0, 0), c.topLeft) << c.what;
    EXPECT_EQ(b->Pixel(b->Width() - 1, b->Height() - 1), c.bottomRight) << c.what;
    EXPECT_EQ(file.substr(pos), "NEXT") << c.what << ": the next record starts after the last pixel byte";
  }
}

TEST(BmpReaderTest, ImageSizeFieldDecidesWhereTheNextRecordStarts) {
  BmpLayout s{40, 1, 1, 24, 0, 8, 0, "", Bytes({1, 2, 3, 0, 0xAA, 0xAA, 0xAA, 0xAA})};
  const std::string file = BuildBmp(s) + "X";
  std::size_t pos = 0;
  TOmbraBmp::ReadBmp(file, pos);
  EXPECT_EQ(file.substr(pos), "X");
}

TEST(BmpReaderTest, DamagedFilesFailCleanly) {
  struct Case {
    const char* what;
    std::string file;
  } cases[] = {
      {"not BM", "XM" + BuildBmp({}).substr(2)},
      {"short file header", "BM12"},
      {"header size 20", BuildBmp({20})},
      {"header larger than the record", BuildBmp({100000})},
      {"missing pixels", BuildBmp({40, 4, 4, 24, 0, 0, 0, "", "abc"})},
      {"image size smaller than its rows", BuildBmp({40, 4, 4, 24, 0, 4, 0, "", std::string(64, 'x')})},
      {"negative width", BuildBmp({40, -4, 1, 24, 0, 0, 0, "", std::string(64, 'x')})},
      {"huge height", BuildBmp({40, 1, 0x7FFFFFFF, 24, 0, 0, 0, "", std::string(64, 'x')})},
      {"most negative height", BuildBmp({40, 1, INT32_MIN, 24, 0, 0, 0, "", std::string(64, 'x')})},
      {"bit count 7", BuildBmp({40, 1, 1, 7, 0, 0, 0, "", std::string(64, 'x')})},
      {"run-length compression", BuildBmp({40, 1, 1, 8, 1, 0, 0, "", std::string(1100, 'x')})},
      {"colour table beyond the record", BuildBmp({40, 1, 1, 8, 0, 0, 0x40000000, "", std::string(64, 'x')})},
  };
  for (const auto& c : cases) {
    std::size_t pos = 0;
    EXPECT_THROW(TOmbraBmp::ReadBmp(c.file, pos), ESkinError) << c.what;
  }
}

TEST(BmpReaderTest, WrittenBmpReadsBackIdentically) {
  auto b = GradientBmp(7, 3);
  std::string file;
  b->WriteBmp(file);
  EXPECT_EQ(file.size(), 54u + 24u * 3u);
  std::size_t pos = 0;
  auto back = TOmbraBmp::ReadBmp(file, pos);
  EXPECT_EQ(pos, file.size());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(back->Pixel(x, y), b->Pixel(x, y));
  std::string again;
  back->WriteBmp(again);
  EXPECT_EQ(again, file);
}

}  // namespace
}  // namespace quillon::skin
