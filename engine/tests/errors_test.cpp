#include "engine/errors.h"

#include <gtest/gtest.h>

namespace quillon::engine {
namespace {

EEngineError Catch(int code, const std::string& F, const std::string& D = {}, const std::string& S = {},
                   const std::string& I = {}) {
  try {
    RaiseEngineError(code, F, D, S, I);
  } catch (const EEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "RaiseEngineError returned";
  return EEngineError(0, "");
}

TEST(EngineErrors, MessagesJoinTheContextTexts) {
  struct Case {
    int code;
    const char* F;
    const char* D;
    const char* S;
    const char* I;
    const char* text;
  } cases[] = {
      {9729, "C:\\q\\default\\songList.DAT", "", "", "Primary",
       "Duplicate key found in index Primary of data file C:\\q\\default\\songList.DAT"},
      {9732, "t.DAT", "Artist", "", "", "A value must be provided for the field Artist in data file t.DAT"},
      {10015, "t.DAT", "", "", "", "Password provided for data file t.DATis invalid"},
      {10023, "t.DAT", "3", "", "ByArtist", "Invalid field number 3 specified in index ByArtist for data file t.DAT"},
      {11949, "", "", "Expected FROM but found WHERE", "", "SQL - Expected FROM but found WHERE"},
      {8711, "b.DAT", "", "", "", "End of blob data in data file b.DAT reached prematurely"},
      {11016, "x", "", "", "", "There is insufficient operating system memory available for the current operation"},
      {4242, "odd.DAT", "", "", "", "Unknown error occurred with data file odd.DAT"},
  };
  for (const auto& c : cases) {
    EEngineError e = Catch(c.code, c.F, c.D, c.S, c.I);
    EXPECT_EQ(e.Code(), c.code);
    EXPECT_STREQ(e.what(), c.text);
    EXPECT_EQ(MessageText(c.code), c.text) << "the current context gives the same text";
  }
}

TEST(EngineErrors, MessageIsCutAfter127Characters) {
  std::string path = "C:\\" + std::string(200, 'd') + "\\albums.DAT";
  EEngineError e = Catch(err::kIndexLimits, path);
  std::string full =
      "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file " + path;
  EXPECT_EQ(std::string(e.what()), full.substr(0, 127));
  EXPECT_EQ(CurrentErrorContext().ErrorFileName, path.substr(0, 255)) << "context texts keep up to 255";
}

TEST(EngineErrors, ContextIsClearedPerRaiseButKeptForNotInitialized) {
  Catch(err::kDuplicateKey, "first.DAT", "f", "s", "Primary");
  Catch(err::kRecordLocked, "second.DAT");
  EXPECT_EQ(CurrentErrorContext().ErrorCode, err::kRecordLocked);
  EXPECT_EQ(CurrentErrorContext().ErrorIndexName, "");
  EXPECT_EQ(CurrentErrorContext().ErrorFieldName, "");
  EEngineError e = Catch(err::kNotInitialized, "ignored.DAT", "x");
  EXPECT_STREQ(e.what(), "Quarry engine not initialized");
  EXPECT_EQ(CurrentErrorContext().ErrorCode, err::kRecordLocked);
  EXPECT_EQ(CurrentErrorContext().ErrorFileName, "second.DAT");
  // An unknown code reports the file of the last context.
  EXPECT_EQ(MessageText(1), "Unknown error occurred with data file second.DAT");
}

}  // namespace
}  // namespace quillon::engine
