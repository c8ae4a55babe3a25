// EQuarryEngineError: the message format, the entry list and the turn from engine failures.
#include <gtest/gtest.h>

#include "dataset/engine_error.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"

namespace quillon::dataset {
namespace {

TEST(EngineError, MessageIsCodeAndTextOfTheFirstEntry) {
  EQuarryEngineError e(9729, "Duplicate key found in index Primary of data file C:\\X.DAT");
  EXPECT_STREQ(e.what(), "Quarry Engine Error # 9729 Duplicate key found in index Primary of data file C:\\X.DAT");
  ASSERT_EQ(e.ErrorCount(), 1);
  EXPECT_EQ(e.Errors(0).ErrorCode, 9729);
  EXPECT_EQ(e.ErrorCode(), 9729);
  EXPECT_THROW(e.Errors(1), std::out_of_range);
  // It is a database error for whoever catches those.
  const EDatabaseError& base = e;
  EXPECT_EQ(std::string(base.what()).rfind("Quarry Engine Error # 9729 ", 0), 0u);
}

TEST(EngineError, EntryTextsAreCutAfter127Characters) {
  EQuarryEngineError e(9487, std::string(200, 'x'));
  EXPECT_EQ(e.Errors(0).Message.size(), 127u);
  EXPECT_EQ(std::string(e.what()), "Quarry Engine Error # 9487 " + std::string(127, 'x'));
}

TEST(EngineError, AnEngineFailureKeepsItsCodeAndText) {
  engine::InitializeEngine();
  testing::TempDir dir;
  engine::TDataFile table;
  table.SetFileName(dir.File("missing.dat"));
  try {
    EngineCall([&] { table.Open(); });
    FAIL() << "opening a missing table succeeded";
  } catch (const EQuarryEngineError& e) {
    EXPECT_NE(e.ErrorCode(), 0);
    std::string expected = "Quarry Engine Error # " + std::to_string(e.ErrorCode()) + " " + e.Errors(0).Message;
    EXPECT_EQ(e.what(), expected);
    EXPECT_NE(e.Errors(0).Message.find("missing"), std::string::npos) << e.Errors(0).Message;
  }
  // Other exceptions pass unchanged, and values come back.
  EXPECT_THROW(EngineCall([] { throw std::logic_error("x"); }), std::logic_error);
  EXPECT_EQ(EngineCall([] { return 7; }), 7);
}

TEST(EngineError, CheckEngineResultRaisesOnlyForNonZeroCodes) {
  engine::InitializeEngine();
  EXPECT_NO_THROW(CheckEngineResult(0));
  try {
    CheckEngineResult(10050);
    FAIL();
  } catch (const EQuarryEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 10050);
    EXPECT_EQ(
        std::string(e.what()).rfind("Quarry Engine Error # 10050 Invalid filter handle specified for data file ", 0),
        0u)
        << e.what();
  }
}

TEST(EngineError, FormatMessageFillsThePlaceholder) {
  EXPECT_EQ(FormatMessage("Session name %s is not valid.", "x"), "Session name x is not valid.");
  EXPECT_EQ(FormatMessage("no placeholder", "x"), "no placeholder");
}

}  // namespace
}  // namespace quillon::dataset
