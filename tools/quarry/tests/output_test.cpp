#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/field_codec.h"
#include "engine/table_format.h"
#include "tools/quarry/result_writer.h"
#include "tools/quarry/value_text.h"

namespace quillon::quarry {
namespace {

using engine::TFieldType;

template <typename T>
std::string Bytes(T v) {
  std::string s(sizeof(T), '\0');
  std::memcpy(s.data(), &v, sizeof(T));
  return s;
}

struct ValueCase {
  TFieldType type;
  std::string bytes;
  const char* text;
};

std::vector<ValueCase> ValueCases() {
  std::uint8_t ext[10];
  engine::EncodeExtended(-2.5, ext);
  return {
      {TFieldType::String, std::string("O'Neil\0\0\0", 9), "O'Neil"},
      {TFieldType::Date, Bytes<std::int32_t>(693594), "1899-12-30"},
      {TFieldType::Date, Bytes<std::int32_t>(engine::EncodeDate(2026, 12, 10)), "2026-12-10"},
      {TFieldType::Time, Bytes<std::int32_t>(engine::EncodeTime(13, 5, 9, 0)), "13:05:09"},
      {TFieldType::Time, Bytes<std::int32_t>(engine::EncodeTime(0, 0, 1, 7)), "00:00:01.007"},
      {TFieldType::TimeStamp,
       Bytes<double>(engine::EncodeTimeStamp(engine::EncodeDate(2001, 2, 3), engine::EncodeTime(4, 5, 6, 0))),
       "2001-02-03 04:05:06"},
      {TFieldType::TimeStamp,
       Bytes<double>(engine::EncodeTimeStamp(engine::EncodeDate(2001, 2, 3), engine::EncodeTime(4, 5, 6, 789))),
       "2001-02-03 04:05:06.789"},
      {TFieldType::Boolean, Bytes<std::uint16_t>(1), "TRUE"},
      {TFieldType::Boolean, Bytes<std::uint16_t>(0), "FALSE"},
      {TFieldType::SmallInt, Bytes<std::int16_t>(-32768), "-32768"},
      {TFieldType::Integer, Bytes<std::int32_t>(-7), "-7"},
      {TFieldType::Word, Bytes<std::uint16_t>(65535), "65535"},
      {TFieldType::LargeWord, Bytes<std::uint32_t>(4294967295u), "4294967295"},
      {TFieldType::Float, Bytes<double>(0.1), "0.1"},
      {TFieldType::Float, Bytes<double>(1e300), "1e+300"},
      {TFieldType::Float, Bytes<double>(0.1 + 0.2), "0.30000000000000004"},  // 15 digits would say 0.3
      {TFieldType::Float, Bytes<double>(-0.0), "-0"},
      {TFieldType::Bcd, Bytes<std::int64_t>(12342), "12.34"},
      {TFieldType::Bcd, Bytes<std::int64_t>(-502), "-0.50"},
      {TFieldType::Bcd, Bytes<std::int64_t>(70), "7"},
      {TFieldType::Extended, std::string(reinterpret_cast<char*>(ext), 10), "-2.5"},
      {TFieldType::Bytes, std::string("\x00\xAB\x10", 3), "00ab10"},
      {TFieldType::VarBytes, std::string("\xFF", 1), "ff"},
      {TFieldType::Date, Bytes<std::int32_t>(-5), "?fbffffff"},
      {TFieldType::Time, Bytes<std::int32_t>(86400000), "?005c2605"},
  };
}

TEST(ValueText, EveryFieldType) {
  for (const auto& c : ValueCases()) EXPECT_EQ(FieldValueText(c.type, c.bytes), c.text) << c.text;
}

// Query results: floating numbers with at most 15 significant digits; other types as above.
TEST(ValueText, ShownNumbersKeepFifteenDigitsAtMost) {
  std::uint8_t third[10];
  engine::EncodeExtended(1.0 / 3.0, third);
  const struct {
    TFieldType type;
    std::string bytes;
    const char* text;
  } cases[] = {
      {TFieldType::Float, Bytes<double>(0.1 + 0.2), "0.3"},
      {TFieldType::Float, Bytes<double>(1.0 / 3.0), "0.333333333333333"},
      {TFieldType::Float, Bytes<double>(2.0 / 3.0), "0.666666666666667"},
      {TFieldType::Float, Bytes<double>(0.1), "0.1"},
      {TFieldType::Float, Bytes<double>(123456789012345.6), "123456789012346"},
      {TFieldType::Float, Bytes<double>(1e300), "1e+300"},
      {TFieldType::Extended, std::string(reinterpret_cast<char*>(third), 10), "0.333333333333333"},
      {TFieldType::Integer, Bytes<std::int32_t>(-7), "-7"},
  };
  for (const auto& c : cases) EXPECT_EQ(FieldValueText(c.type, c.bytes, TNumberText::Shown), c.text) << c.text;
}

engine::TFieldDescriptor FieldOf(TFieldType type, int declaredSize = 0, int decimals = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = "f";
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(declaredSize);
  f.Decimals = static_cast<std::uint8_t>(decimals);
  f.DataSize = engine::DataSizeOf(f.FieldType, f.DeclaredSize);
  return f;
}

// Every text the shell writes for a decodable value reads back to the very bytes it came from.
TEST(ValueText, TextsReadBackToTheirBytes) {
  for (const auto& c : ValueCases()) {
    if (c.text[0] == '?') continue;  // damaged values have no way back
    SCOPED_TRACE(c.text);
    int declared = c.type == TFieldType::String ? 8 : static_cast<int>(c.bytes.size());
    int scale = 0;
    if (c.type == TFieldType::Bcd) {
      std::int64_t stored;
      std::memcpy(&stored, c.bytes.data(), 8);
      scale = static_cast<int>((stored < 0 ? -stored : stored) % 10);
    }
    engine::TFieldDescriptor f = FieldOf(c.type, declared, scale);
    std::string bytes, error;
    ASSERT_TRUE(FieldValueFromText(f, c.text, bytes, error)) << error;
    EXPECT_EQ(HexText(bytes), HexText(c.bytes));
  }
}

TEST(ValueText, TextsThatAreNoValueOfTheField) {
  struct Case {
    engine::TFieldDescriptor field;
    std::string text;
  } cases[] = {
      {FieldOf(TFieldType::String, 5), "abcdef"},
      {FieldOf(TFieldType::String, 5), std::string("a\0b", 3)},
      {FieldOf(TFieldType::Date), "2026-02-30"},
      {FieldOf(TFieldType::Date), "12/10/2026"},
      {FieldOf(TFieldType::Time), "24:00:00"},
      {FieldOf(TFieldType::Time), "10:00:00.5"},
      {FieldOf(TFieldType::TimeStamp), "2026-01-01T10:00:00"},
      {FieldOf(TFieldType::Boolean), "yes"},
      {FieldOf(TFieldType::SmallInt), "32768"},
      {FieldOf(TFieldType::Integer), " 5"},
      {FieldOf(TFieldType::Integer), "2147483648"},
      {FieldOf(TFieldType::Word), "-1"},
      {FieldOf(TFieldType::Word), "-0"},
      {FieldOf(TFieldType::LargeWord), "-0"},
      {FieldOf(TFieldType::SmallInt), ""},
      {FieldOf(TFieldType::LargeWord), "4294967296"},
      {FieldOf(TFieldType::Float), "1,5"},
      {FieldOf(TFieldType::Float), "1.5x"},
      {FieldOf(TFieldType::Bcd, 0, 2), "1.234"},
      {FieldOf(TFieldType::Bcd, 0, 2), "1."},
      {FieldOf(TFieldType::Bcd, 0, 2), "99999999999999999999"},
      {FieldOf(TFieldType::Bytes, 2), "abc"},
      {FieldOf(TFieldType::Bytes, 2), "001122"},
      {FieldOf(TFieldType::VarBytes, 2), "zz"},
  };
  for (const auto& c : cases) {
    std::string bytes, error;
    EXPECT_FALSE(FieldValueFromText(c.field, c.text, bytes, error)) << c.text;
    EXPECT_FALSE(error.empty()) << c.text;
  }
  std::string value, error;
  EXPECT_FALSE(BlobValueFromText(engine::kSubTypeGraphic, "47494", value, error));
  ASSERT_TRUE(BlobValueFromText(engine::kSubTypeGraphic, "474946", value, error));
  EXPECT_EQ(value, "GIF");
  ASSERT_TRUE(BlobValueFromText(engine::kSubTypeMemo, "a\tb\r\n", value, error));
  EXPECT_EQ(value, "a\tb\r\n") << "memo texts are taken as they are (the TSV escapes are undone before)";
}

TEST(ValueText, ShorterStringsAndBytesArePaddedToTheField) {
  std::string bytes, error;
  ASSERT_TRUE(FieldValueFromText(FieldOf(TFieldType::String, 5), "ab", bytes, error));
  EXPECT_EQ(bytes, std::string("ab\0\0\0\0", 6));
  ASSERT_TRUE(FieldValueFromText(FieldOf(TFieldType::Bytes, 3), "ff", bytes, error));
  EXPECT_EQ(bytes, std::string("\xff\0\0", 3));
  ASSERT_TRUE(FieldValueFromText(FieldOf(TFieldType::Boolean), "true", bytes, error));
  EXPECT_EQ(bytes, std::string("\x01\0", 2));
}

TEST(ValueText, MemoAsTextOtherBlobsAsHex) {
  EXPECT_EQ(BlobValueText(engine::kSubTypeMemo, "line 1\r\nline 2"), "line 1\r\nline 2");
  EXPECT_EQ(BlobValueText(engine::kSubTypeGraphic, "GIF"), "474946");
  EXPECT_EQ(BlobValueText(0, std::string("\x01\x02", 2)), "0102");
}

std::string Render(TOutputMode mode, bool headers, const std::vector<TRowValues>& rows) {
  std::FILE* f = std::tmpfile();
  {
    auto w = MakeResultWriter(mode, headers, f);
    w->Header({"song", "lyrics", "n"});
    for (const auto& r : rows) w->Row(r);
    w->End();
  }
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buffer[256];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

const std::vector<TRowValues> kRows = {
    {"Shenandoah", "Oh Shenandoah,\r\nI long\tto see", "1"},
    {"Say \"hi\", folks", std::nullopt, "22"},
};

TEST(ResultWriter, TsvEscapesAndEmptyNull) {
  EXPECT_EQ(Render(TOutputMode::Tsv, true, kRows),
            "song\tlyrics\tn\nShenandoah\tOh Shenandoah,\\r\\nI long\\tto see\t1\nSay \"hi\", folks\t\t22\n");
  EXPECT_EQ(Render(TOutputMode::Tsv, false, {{"a\\b"}}), "a\\\\b\n");
}

TEST(ResultWriter, CsvQuotesOnlyWhereNeeded) {
  EXPECT_EQ(Render(TOutputMode::Csv, true, kRows),
            "song,lyrics,n\r\nShenandoah,\"Oh Shenandoah,\r\nI long\tto see\",1\r\n\"Say \"\"hi\"\", folks\",,22\r\n");
}

TEST(ResultWriter, TableAlignsColumns) {
  EXPECT_EQ(Render(TOutputMode::Table, true, {{"ab", std::nullopt, "1"}, {"a", "xyz", "22"}}),
            "+------+--------+----+\n"
            "| song | lyrics | n  |\n"
            "+------+--------+----+\n"
            "| ab   | NULL   | 1  |\n"
            "| a    | xyz    | 22 |\n"
            "+------+--------+----+\n");
}

}  // namespace
}  // namespace quillon::quarry
