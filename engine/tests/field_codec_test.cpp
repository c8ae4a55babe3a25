#include "engine/field_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace quillon::engine {
namespace {

TEST(Bcd, EncodesDigitsThenScale) {
  struct Case {
    std::int64_t fixed4;
    int scale;
    std::int64_t stored;
  } cases[] = {
      {123400, 2, 12342}, {-123400, 2, -12342}, {0, 2, 2},          {70000, 0, 70},   {5000, 2, 502},
      {-5000, 2, -502},   {12350, 2, 1242},     {-12350, 2, -1242}, {12349, 2, 1232}, {15, 6, 15006},
      {1, 0, 0},          {5000, 0, 10},        {-4, 2, 2},
  };
  for (const auto& c : cases) {
    std::int64_t stored = 0;
    ASSERT_TRUE(EncodeBcd(c.fixed4, c.scale, stored)) << c.fixed4;
    EXPECT_EQ(stored, c.stored) << c.fixed4 << " at scale " << c.scale;
  }
}

TEST(Bcd, DecodesBackToTextAndFixedPoint) {
  struct Case {
    std::int64_t stored;
    const char* text;
    std::int64_t fixed4;
  } cases[] = {
      {12342, "12.34", 123400}, {-502, "-0.50", -5000},      {2, "0.00", 0}, {70, "7", 70000}, {15006, "0.001500", 15},
      {15556, "0.001555", 16},  {-12342, "-12.34", -123400},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BcdToText(c.stored), c.text);
    std::int64_t fixed4 = -1;
    ASSERT_TRUE(DecodeBcd(c.stored, fixed4));
    EXPECT_EQ(fixed4, c.fixed4) << c.stored;
  }
}

TEST(Bcd, RefusesScalesAndValuesThatDoNotFit) {
  std::int64_t stored;
  EXPECT_FALSE(EncodeBcd(10000, 10, stored));
  EXPECT_FALSE(EncodeBcd(std::numeric_limits<std::int64_t>::max(), 9, stored));
  EXPECT_FALSE(EncodeBcd(std::numeric_limits<std::int64_t>::min(), 4, stored));
  EXPECT_TRUE(EncodeBcd(std::numeric_limits<std::int64_t>::max(), 0, stored));
}

TEST(Dates, DayNumbersCountFromYearOne) {
  EXPECT_EQ(EncodeDate(1, 1, 1), 1);
  EXPECT_EQ(EncodeDate(1899, 12, 30), 693594);
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2);
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1);
  for (std::int32_t day : {1, 59, 60, 365, 366, 693594, 730179, 730180, 3652059}) {
    int y, m, d;
    ASSERT_TRUE(DecodeDate(day, y, m, d)) << day;
    EXPECT_EQ(EncodeDate(y, m, d), day);
  }
  int y, m, d;
  EXPECT_FALSE(DecodeDate(0, y, m, d));
  EXPECT_FALSE(DecodeDate(3652060, y, m, d));
  EXPECT_FALSE(IsValidDate(2001, 2, 29));
  EXPECT_TRUE(IsValidDate(2004, 2, 29));
}

TEST(Dates, TimeStampsJoinDayAndMilliseconds) {
  double t = EncodeTimeStamp(693594, EncodeTime(13, 5, 7, 250));
  EXPECT_EQ(t, 693594.0 * 86400000 + 47107250);
  std::int32_t day, ms;
  ASSERT_TRUE(DecodeTimeStamp(t, day, ms));
  EXPECT_EQ(day, 693594);
  EXPECT_EQ(ms, 47107250);
  EXPECT_FALSE(DecodeTimeStamp(std::nan(""), day, ms));
  EXPECT_FALSE(DecodeTimeStamp(-1, day, ms));
}

TEST(Extended, EncodesTheEightyBitForm) {
  std::uint8_t b[10];
  EncodeExtended(1.0, b);
  const std::uint8_t one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(0, std::memcmp(b, one, 10));
  EncodeExtended(-2.5, b);
  const std::uint8_t minus[10] = {0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0};
  EXPECT_EQ(0, std::memcmp(b, minus, 10));
  for (double v : {0.0, 1.0, -2.5, 3.141592653589793, 1e300, -1e-300, 4.9e-324, 123456789.125}) {
    EncodeExtended(v, b);
    EXPECT_EQ(DecodeExtended(b), v);
  }
  EncodeExtended(std::numeric_limits<double>::infinity(), b);
  EXPECT_TRUE(std::isinf(DecodeExtended(b)));
  EncodeExtended(std::nan(""), b);
  EXPECT_TRUE(std::isnan(DecodeExtended(b)));
}

TEST(Scramble, IsItsOwnInverseAndDependsOnTheSeed) {
  std::uint8_t data[300];
  for (int i = 0; i < 300; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  std::uint8_t copy[300];
  std::memcpy(copy, data, sizeof data);
  ScrambleData(copy, sizeof copy);
  EXPECT_EQ(copy[0], data[0] ^ kDataSeedLow ^ kDataSeedHigh);
  EXPECT_EQ(copy[1],
            data[1] ^ static_cast<std::uint8_t>(kDataSeedLow + 1) ^ static_cast<std::uint8_t>(kDataSeedHigh - 1));
  std::uint8_t other[300];
  std::memcpy(other, data, sizeof data);
  ScramblePassword(other, sizeof other);
  EXPECT_NE(0, std::memcmp(copy, other, sizeof copy));
  ScrambleData(copy, sizeof copy);
  EXPECT_EQ(0, std::memcmp(copy, data, sizeof data));
}

TEST(Literals, ReadWithTheFixedFormats) {
  const TLocaleFormats& f = DefaultFormats();
  std::int32_t day = 0, ms = 0;
  EXPECT_TRUE(ParseDate("12/30/1899", f, day));
  EXPECT_EQ(day, 693594);
  EXPECT_TRUE(ParseDate(" 2/29/2004 ", f, day));
  EXPECT_EQ(day, EncodeDate(2004, 2, 29));
  EXPECT_FALSE(ParseDate("2/29/2001", f, day));
  EXPECT_FALSE(ParseDate("30/12/1899", f, day));
  EXPECT_FALSE(ParseDate("1-2-2000", f, day));
  EXPECT_TRUE(ParseTime("1:05 PM", f, ms));
  EXPECT_EQ(ms, EncodeTime(13, 5, 0, 0));
  EXPECT_TRUE(ParseTime("12:00:01.5 am", f, ms));
  EXPECT_EQ(ms, 1005);
  EXPECT_FALSE(ParseTime("25:00", f, ms));
  EXPECT_FALSE(ParseTime("13:00 PM", f, ms));
  double ts = 0;
  EXPECT_TRUE(ParseDateTime("12/30/1899 6:00", f, ts));
  EXPECT_EQ(ts, EncodeTimeStamp(693594, 6 * 3600000));
  EXPECT_FALSE(ParseDateTime("12/30/1899 6", f, ts));
  std::int64_t i = 0;
  EXPECT_TRUE(ParseInteger(" -32768", -32768, 32767, i));
  EXPECT_FALSE(ParseInteger("32768", -32768, 32767, i));
  EXPECT_FALSE(ParseInteger("1.5", -32768, 32767, i));
  double d = 0;
  EXPECT_TRUE(ParseFloat("-1.5e3", f, d));
  EXPECT_EQ(d, -1500);
  EXPECT_FALSE(ParseFloat("1,5", f, d));
  EXPECT_TRUE(ParseFixed4("12.34567", f, i));
  EXPECT_EQ(i, 123457);
  EXPECT_FALSE(ParseFixed4("1.2.3", f, i));
}

}  // namespace
}  // namespace quillon::engine
