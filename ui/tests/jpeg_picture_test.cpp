// JPEG decoding: the committed logo decodes to its size and colours; damaged data raises a clear
// error instead of crashing.
#include "ui/jpeg_picture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quillon::ui {
namespace {

std::string ReadLogo() {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  std::ifstream in(std::string(source ? source : ".") + "/data/images/logo.jpg", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DecodeJpeg, DecodesTheLogoIntoBottomUpFreeBgrRows) {
  std::string jpeg = ReadLogo();
  ASSERT_GT(jpeg.size(), 100u);
  TPictureData p = DecodeJpeg(jpeg.data(), jpeg.size());
  EXPECT_EQ(p.width, 218);
  EXPECT_EQ(p.height, 60);
  EXPECT_EQ(p.Stride(), 656);  // 218 * 3 = 654, padded to a multiple of 4
  ASSERT_EQ(p.pixels.size(), 656u * 60u);
  // The corner is the strip colour #ACA895, stored blue first; JPEG is lossy, so allow a little.
  EXPECT_NEAR(p.pixels[0], 0x95, 12);
  EXPECT_NEAR(p.pixels[1], 0xA8, 12);
  EXPECT_NEAR(p.pixels[2], 0xAC, 12);
  // The frame at (3,30) is dark #333333.
  const std::uint8_t* frame = &p.pixels[30 * 656 + 3 * 3];
  EXPECT_LT(frame[0], 0x50);
  EXPECT_LT(frame[2], 0x50);
}

TEST(DecodeJpeg, DamagedDataRaisesInvalidGraphic) {
  std::string jpeg = ReadLogo();
  ASSERT_GT(jpeg.size(), 100u);
  const std::string cases[] = {
      std::string("not a picture at all"), jpeg.substr(0, 40),  // header cut short
      std::string(1, '\xFF'),                                   // one byte
  };
  for (const std::string& data : cases) {
    EXPECT_THROW(DecodeJpeg(data.data(), data.size()), EInvalidGraphic) << data.size();
  }
  EXPECT_THROW(DecodeJpeg(nullptr, 0), EInvalidGraphic);
}

}  // namespace
}  // namespace quillon::ui
