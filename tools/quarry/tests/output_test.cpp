#include <gtest/gtest.h>

#include <cstring>

#include "engine/field_codec.h"
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

TEST(ValueText, EveryFieldType) {
  std::uint8_t ext[10];
  engine::EncodeExtended(-2.5, ext);
  struct Case {
    TFieldType type;
    std::string bytes;
    const char* text;
  } cases[] = {
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
      {TFieldType::Bcd, Bytes<std::int64_t>(12342), "12.34"},
      {TFieldType::Bcd, Bytes<std::int64_t>(-502), "-0.50"},
      {TFieldType::Bcd, Bytes<std::int64_t>(70), "7"},
      {TFieldType::Extended, std::string(reinterpret_cast<char*>(ext), 10), "-2.5"},
      {TFieldType::Bytes, std::string("\x00\xAB\x10", 3), "00ab10"},
      {TFieldType::VarBytes, std::string("\xFF", 1), "ff"},
      {TFieldType::Date, Bytes<std::int32_t>(-5), "?fbffffff"},
      {TFieldType::Time, Bytes<std::int32_t>(86400000), "?005c2605"},
  };
  for (const auto& c : cases) EXPECT_EQ(FieldValueText(c.type, c.bytes), c.text) << c.text;
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
