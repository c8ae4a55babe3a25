// pagetext over saved pages: a site rule's page, a page of the general rule, and a page in
// Windows-1252; the expected texts follow the rules by hand.
#include "tools/pagetext/page_text_tool.h"
#include "tools/pagetext/tests/read_back.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quillon::pagetext {
namespace {

std::string SourceDir() {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  return source ? std::string(source) + "/" : std::string();
}

struct TRun {
  int status = 0;
  std::string out, err;
};

using testing::ReadBack;

TRun RunTool(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  TRun r;
  r.status = RunPageText(args, out, err);
  r.out = ReadBack(out);
  r.err = ReadBack(err);
  return r;
}

TEST(PageTextTool, PrintsBodyTextAndTheLyricsTheRuleCuts) {
  ASSERT_FALSE(SourceDir().empty()) << "QUILLON_SOURCE_DIR is not set";
  const std::string corpus = SourceDir() + "web/tests/corpus/";
  const std::string pages = SourceDir() + "tools/pagetext/tests/pages/";
  struct TCase {
    const char* what;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {"rule 1: between the two markers",
       {corpus + "rule1_pelmoralyrics.html", "--base", "C:\\Quillon\\pelmoralyrics\\", "--title", "Rain"},
       "Grey clouds over the harbour,\r\ngrey & silver on the sea,\r\nthe rain falls on the water\r\n"
       "and the water falls on me.\r\n\r\nCaf\xe9 windows steam \x96 and the\r\ntram bells ring \x85 for three.\r\n"},
      {"the same page under the general rule: everything after the first title",
       {corpus + "rule1_pelmoralyrics.html", "--base", "C:\\Quillon\\MyLyrics\\", "--title", "Shenandoah"},
       ""},
      {"general rule: the text after the heading, the final table included",
       {corpus + "general_mylyrics.html", "--base", "C:\\Quillon\\MyLyrics\\", "--title", "Lullaby"},
       "Hush now, the moon is a boat,\r\nthe stars are the nets it has cast,\r\nChorus\r\n"
       "sleep, little one, sleep\r\nthe night will not last.\r\n\r\n"
       "Written <2008> \x97 \"for Mira\" \x80"
       "0\r\n\r\none\r\ntwo\r\nVerses\r\n1\tHush\r\n2\tSleep\r\n"},
      {"sheets linked from a saved page are read from beside it; print, alternate, missing and remote ones are "
       "not",
       {pages + "linked_sheets.html"},
       "NIGHT TRAIN\r\nThe night train calls\r\nacross the fields\r\n(shown)\r\n"},
      {"Windows-1252 named in a meta element",
       {pages + "cp1252.html"},
       "Caf\xe9 Song\r\n\r\n\x93Na\xefve\x94 words \x96 one\r\nline two \x80 5\r\n"},
  };
  for (const auto& c : cases) {
    TRun r = RunTool(c.args);
    EXPECT_EQ(r.status, 0) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    EXPECT_EQ(r.out, c.out) << c.what;
  }
}

TEST(PageTextTool, BodyTextOfASitePageEndsEveryLineWithCrLf) {
  TRun r = RunTool({SourceDir() + "web/tests/corpus/rule1_pelmoralyrics.html"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Home | Rain lyrics\r\nHome\r\nArtists\r\n", 0), 0u) << r.out;
  const std::string end = "\r\n\xa9 2006 Pelmora\r\n";
  ASSERT_GE(r.out.size(), end.size());
  EXPECT_EQ(r.out.substr(r.out.size() - end.size()), end);
  for (std::size_t i = 0; i < r.out.size(); ++i) {
    if (r.out[i] == '\n') {
      EXPECT_TRUE(i > 0 && r.out[i - 1] == '\r') << "a bare line feed at " << i;
    }
    if (r.out[i] == '\r') {
      EXPECT_TRUE(i + 1 < r.out.size() && r.out[i + 1] == '\n') << "a bare CR at " << i;
    }
  }
}

TEST(PageTextTool, BadArgumentsAndMissingPages) {
  struct TCase {
    std::vector<std::string> args;
    int status;
    std::string errStart;
  } cases[] = {
      {{}, 2, "Error: no page given\nusage: pagetext"},
      {{"page.html", "--base", "C:\\b\\"}, 2, "Error: --base and --title go together\n"},
      {{"page.html", "--frob"}, 2, "Error: unexpected argument: --frob\n"},
      {{"/nonexistent/page.html"}, 1, "Error: cannot read /nonexistent/page.html\n"},
  };
  for (const auto& c : cases) {
    TRun r = RunTool(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  TRun help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, kUsage);
}

// A saved page over the size the tool reads is refused with a message, not read; one at the limit
// is read. The files are sparse: only their last byte is written.
TEST(PageTextTool, PagesOverTheSizeLimitAreRefused) {
  const std::string path = ::testing::TempDir() + "pagetext_size_limit.html";
  for (std::int64_t size : {kMaxPageFileBytes + 1, kMaxPageFileBytes}) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, static_cast<long>(size - 1), SEEK_SET), 0);
    std::fputc('<', f);
    std::fclose(f);
    TRun r = RunTool({path});
    if (size > kMaxPageFileBytes) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "Error: " + path + " is " + std::to_string(size) + " bytes; pages over 64 MB are not read\n");
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(r.out, "");
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace quillon::pagetext
