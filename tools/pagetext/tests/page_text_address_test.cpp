// pagetext on an address: the page host of the Windows build loads it from a server inside the
// test, and the charset comes from the HTTP header.
#include <gtest/gtest.h>

#include <cstdio>

#include "tools/pagetext/page_text_tool.h"
#include "tools/pagetext/tests/read_back.h"
#include "web/tests/test_http_server.h"

namespace quillon::pagetext {
namespace {

using testing::ReadBack;

TEST(PageTextAddress, LoadsThePageThroughThePageHost) {
  web::testing::TTestServer server;
  web::testing::TResponse cp1252;
  cp1252.headers = {"Content-Type: text/html; charset=windows-1252"};
  cp1252.body = "<html><body><h1>Fl\xfbte</h1><p>River Road lyrics</p><p>one \x93two\x94</p></body></html>";
  server.Route("/song.html", cp1252);
  web::testing::TResponse utf8;
  utf8.headers = {"Content-Type: text/html; charset=utf-8"};
  utf8.body = cp1252.body;
  server.Route("/mislabelled.html", utf8);
  struct TCase {
    const char* what;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {"body text", {server.Address("/song.html")}, "Fl\xfbte\r\n\r\nRiver Road lyrics\r\n\r\none \x93two\x94\r\n"},
      {"general rule",
       {server.Address("/song.html"), "--base", "C:\\Q\\MyLyrics\\", "--title", "River Road"},
       "lyrics\r\n\r\none \x93two\x94\r\n"},
      {"the header's charset wins: these bytes are not UTF-8",
       {server.Address("/mislabelled.html")},
       "Fl?te\r\n\r\nRiver Road lyrics\r\n\r\none ?two?\r\n"},
  };
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    int status = RunPageText(c.args, out, err);
    EXPECT_EQ(status, 0) << c.what;
    EXPECT_EQ(ReadBack(err), "") << c.what;
    EXPECT_EQ(ReadBack(out), c.out) << c.what;
  }
}

}  // namespace
}  // namespace quillon::pagetext
