#include "util/tsv.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(Tsv, EscapesRoundTripEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  all += "\\t\\n";  // text that looks like an escape
  std::string escaped = EscapeTsvField(all);
  EXPECT_EQ(escaped.find('\t'), std::string::npos);
  EXPECT_EQ(escaped.find('\n'), std::string::npos);
  EXPECT_EQ(escaped.find('\r'), std::string::npos);
  EXPECT_EQ(UnescapeTsvField(escaped), all);
}

TEST(Tsv, KnownEscapes) {
  EXPECT_EQ(EscapeTsvField("a\\b\tc\r\nd"), "a\\\\b\\tc\\r\\nd");
  EXPECT_EQ(UnescapeTsvField("x\\qy"), "x\\qy") << "unknown escape kept";
  EXPECT_EQ(UnescapeTsvField("end\\"), "end\\") << "trailing backslash kept";
}

TEST(Tsv, LinesSplitAtTabsKeepingEmptyFields) {
  EXPECT_EQ(SplitTsvLine("a\t\tb\\tc\t"), (std::vector<std::string>{"a", "", "b\tc", ""}));
  EXPECT_EQ(SplitTsvLine(""), (std::vector<std::string>{""}));
  std::vector<std::string> fields = {"Fiddler's Green", "", "line1\nline2", "tab\there"};
  EXPECT_EQ(SplitTsvLine(JoinTsvLine(fields)), fields);
}

}  // namespace
}  // namespace quillon
