// The page host against a small HTTP server of the test's own on 127.0.0.1 (a free port), fetched
// through the system's WinINet: frames, a redirect, a page replaced while it loads slowly, a page
// that opens a window, an error page, a document that is not HTML, and charset variants.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "web/page_host.h"
#include "web/tests/test_http_server.h"

namespace quillon::web {
namespace {

using testing::Html;
using testing::TResponse;
using testing::TTestServer;

// Records the host's notifications as text lines, in order.
class PageHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.OnProgressChange = [this](int progress, int max) {
      ++progressCount;
      if (progress > max) events.push_back("progress beyond its maximum");
      lastProgress = progress;
      lastProgressMax = max;
    };
    host.OnNewWindow2 = [this](bool& cancel) {
      events.push_back("new window");
      cancel = true;
    };
    host.OnDocumentComplete = [this](const std::string& address, bool top) {
      events.push_back((top ? "top " : "frame ") + address);
      if (top) ++topCompletes;
    };
  }

  // Runs the message loop until the top document completes (or a time limit passes).
  bool WaitForTop(int expected = 1, DWORD limitMs = 15000) {
    DWORD start = GetTickCount();
    while (topCompletes < expected && GetTickCount() - start < limitMs) Pump(20);
    return topCompletes >= expected;
  }
  void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(5);
    } while (GetTickCount() - start < ms);
  }

  TTestServer server;
  TPageHost host;
  std::vector<std::string> events;
  int progressCount = 0;
  int lastProgress = -1;
  int lastProgressMax = -1;
  int topCompletes = 0;
};

TEST_F(PageHostTest, LoadsAPageAndReportsProgressThenCompletion) {
  std::string body =
      "<html><head><title>T</title></head><body><p>Hello</p>" + std::string(100000, ' ') + "<p>world</p></body></html>";
  server.Route("/page.html", Html(body, "text/html; charset=utf-8"));
  host.Navigate(server.Address("/page.html"));
  ASSERT_TRUE(WaitForTop());
  EXPECT_EQ(events, (std::vector<std::string>{"top " + server.Address("/page.html")}));
  EXPECT_EQ(host.DocumentBodyText(), "Hello\r\n\r\nworld");
  EXPECT_GT(progressCount, 1);
  EXPECT_EQ(lastProgress, static_cast<int>(body.size()));
  EXPECT_EQ(lastProgressMax, static_cast<int>(body.size()));
  // Our user agent went with the request.
  ASSERT_FALSE(server.Requests().empty());
  EXPECT_NE(server.Requests()[0].find(TPageHost::UserAgent()), std::string::npos);
}

TEST_F(PageHostTest, FramesCompleteOneLevelBeforeTheTopDocument) {
  server.Route("/frames.html", Html("<frameset cols='*,*'><frame src='a.html'><frame src='/sub/b.html'></frameset>"));
  server.Route("/a.html", Html("<p>A <iframe src='deep.html'></iframe></p>"));
  server.Route("/sub/b.html", Html("<p>B</p>"));
  server.Route("/inline.html", Html("<p>top text</p><iframe src='a.html'></iframe>"));
  host.Navigate(server.Address("/frames.html"));
  ASSERT_TRUE(WaitForTop());
  EXPECT_EQ(events,
            (std::vector<std::string>{"frame " + server.Address("/a.html"), "frame " + server.Address("/sub/b.html"),
                                      "top " + server.Address("/frames.html")}));
  EXPECT_EQ(host.DocumentBodyText(), "");  // a frameset document has no body
  for (const std::string& r : server.Requests()) EXPECT_EQ(r.find("deep.html"), std::string::npos) << r;

  events.clear();
  host.Navigate(server.Address("/inline.html"));
  ASSERT_TRUE(WaitForTop(2));
  EXPECT_EQ(events,
            (std::vector<std::string>{"frame " + server.Address("/a.html"), "top " + server.Address("/inline.html")}));
  EXPECT_EQ(host.DocumentBodyText(), "top text");
}

TEST_F(PageHostTest, RedirectsAreFollowed) {
  TResponse redirect;
  redirect.status = "302 Found";
  redirect.headers = {"Location: " + server.Address("/target.html")};
  server.Route("/old.html", redirect);
  server.Route("/target.html", Html("<p>moved here</p>"));
  host.Navigate(server.Address("/old.html"));
  ASSERT_TRUE(WaitForTop());
  EXPECT_EQ(host.DocumentBodyText(), "moved here");
  EXPECT_EQ(host.DocumentAddress(), server.Address("/target.html"));
}

TEST_F(PageHostTest, ANewNavigationReplacesARunningOne) {
  TResponse slow = Html("<p>" + std::string(20000, 'x') + "</p>");
  slow.slowPieces = 10;  // two seconds
  server.Route("/slow.html", slow);
  server.Route("/fast.html", Html("<p>fast</p>"));
  host.Navigate(server.Address("/slow.html"));
  // Wait until the slow page has started to arrive.
  DWORD start = GetTickCount();
  while (progressCount == 0 && GetTickCount() - start < 10000) Pump(10);
  ASSERT_GT(progressCount, 0);
  host.Navigate(server.Address("/fast.html"));
  ASSERT_TRUE(WaitForTop());
  Pump(2500);  // long enough for the slow page to have ended
  EXPECT_EQ(events, (std::vector<std::string>{"top " + server.Address("/fast.html")}));
  EXPECT_EQ(host.DocumentBodyText(), "fast");
}

TEST_F(PageHostTest, BlankAddressDoesNothing) {
  host.Navigate("   ");
  host.Navigate("");
  Pump(500);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(progressCount, 0);
  EXPECT_TRUE(server.Requests().empty());
}

BOOL CALLBACK CountWindow(HWND window, LPARAM count) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window)) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

TEST_F(PageHostTest, WindowRequestsAreRefusedAndNoWindowOpens) {
  server.Route("/popup.html", Html("<body onload=\"window.open('/page.html')\"><p>pop</p></body>"));
  int before = 0;
  EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&before));
  host.Navigate(server.Address("/popup.html"));
  ASSERT_TRUE(WaitForTop());
  int after = 0;
  EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&after));
  EXPECT_EQ(events, (std::vector<std::string>{"new window", "top " + server.Address("/popup.html")}));
  EXPECT_EQ(after, before);
  for (const std::string& r : server.Requests()) EXPECT_EQ(r.find("/page.html"), std::string::npos);
}

TEST_F(PageHostTest, ErrorPagesAndOtherDocuments) {
  struct TCase {
    const char* what;
    const char* path;
    TResponse response;
    std::string text;
  } cases[] = {
      {"an error page is a document", "/missing.html", {}, "Not Found\r\n\r\nNo page /missing.html"},
      {"not HTML", "/data.json", Html("{\"a\": \"<p>x</p>\"}", "application/json"), ""},
      {"utf-8 by header", "/u.html", Html("<p>caf\xC3\xA9 \xE2\x80\x94</p>", "text/html; charset=utf-8"),
       "caf\xE9 \x97"},
      {"latin-1 by header", "/l.html", Html("<p>caf\xE9</p>", "text/html; charset=ISO-8859-1"), "caf\xE9"},
      {"utf-8 by meta", "/m.html", Html("<meta charset=utf-8><p>\xC3\xBC\xE4\xB8\xAD</p>"), "\xFC?"},
      {"windows-1252 by meta", "/w.html",
       Html("<meta http-equiv='Content-Type' content='text/html; charset=windows-1252'><p>\x93q\x94</p>"), "\x93q\x94"},
  };
  int n = 0;
  for (auto& c : cases) {
    if (!c.response.body.empty()) server.Route(c.path, c.response);
    host.Navigate(server.Address(c.path));
    ASSERT_TRUE(WaitForTop(++n)) << c.what;
    EXPECT_EQ(host.DocumentBodyText(), c.text) << c.what;
  }
}

TEST_F(PageHostTest, AnUnreachablePageCompletesWithoutADocument) {
  server.Route("/page.html", Html("<p>first</p>"));
  host.Navigate(server.Address("/page.html"));
  ASSERT_TRUE(WaitForTop());
  // A port nobody listens on: bind one, note it, close it.
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int size = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &size);
  closesocket(s);
  std::string dead = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x.html";
  host.Navigate(dead);
  ASSERT_TRUE(WaitForTop(2));
  EXPECT_EQ(events.back(), "top " + dead);
  EXPECT_EQ(host.DocumentBodyText(), "");
}

// The page's linked sheets are fetched before its text is read, so that what they hide stays out
// of it; print sheets and addresses of other schemes are not fetched, and an error page or an
// HTML page in place of a sheet changes nothing.
TEST_F(PageHostTest, LinkedStyleSheetsDecideTheText) {
  server.Route("/song.html",
               Html("<html><head><link rel=stylesheet href='css/site.css'><link rel=stylesheet media=print "
                    "href='/print.css'><link rel=stylesheet href='/missing.css'><link rel=stylesheet "
                    "href='javascript:x'><link rel=stylesheet href='/gone.css'><link rel=stylesheet href='/soft.css'>"
                    "</head><body><h1>Song</h1><div>First line<br><span "
                    "class=ad>ADVERTISEMENT</span>Second line</div></body></html>"));
  server.Route("/css/site.css", Html(".ad { display: none } h1 { text-transform: uppercase }", "text/css"));
  server.Route("/print.css", Html("div { display: none }", "text/css"));
  TResponse gone = Html("div { display: none }", "text/css");
  gone.status = "404 Not Found";
  server.Route("/gone.css", gone);
  server.Route("/soft.css", Html("<html><style>div { display: none }</style>Moved</html>", "text/html"));
  host.Navigate(server.Address("/song.html"));
  ASSERT_TRUE(WaitForTop());
  EXPECT_EQ(host.DocumentBodyText(), "SONG\r\nFirst line\r\nSecond line");
  std::string requested;
  for (const std::string& request : server.Requests()) requested += request.substr(0, request.find("\r\n")) + "\n";
  EXPECT_NE(requested.find("GET /css/site.css "), std::string::npos) << requested;
  EXPECT_EQ(requested.find("/print.css"), std::string::npos) << requested;
}

TEST_F(PageHostTest, ThePageIsReadUpToItsLimitAndTheTextWorkRunsOnTheWorker) {
  std::string words;
  for (int i = 0; words.size() < 200000; ++i) words += "word" + std::to_string(i) + " ";
  server.Route("/big.html", Html("<p>" + words + "</p>"));
  const DWORD hostThread = GetCurrentThreadId();
  std::atomic<DWORD> workThread{0};
  TNavigation navigation;
  navigation.pageLimit = 10000;
  navigation.textWork = [&](const std::string& bodyText) {
    workThread = GetCurrentThreadId();
    return "worked " + std::to_string(bodyText.size());
  };
  host.Navigate(server.Address("/big.html"), navigation);
  EXPECT_EQ(host.WorkedText(), "");
  ASSERT_TRUE(WaitForTop());
  const std::string text = host.DocumentBodyText();
  EXPECT_LT(text.size(), 10000u);
  EXPECT_GT(text.size(), 9000u);
  EXPECT_EQ(text, words.substr(0, text.size()));
  EXPECT_EQ(host.WorkedText(), "worked " + std::to_string(text.size()));
  EXPECT_NE(workThread.load(), 0u);
  EXPECT_NE(workThread.load(), hostThread);
  // A navigation without work has no worked text; nor has one whose work throws.
  host.Navigate(server.Address("/big.html"));
  ASSERT_TRUE(WaitForTop(2));
  EXPECT_EQ(host.WorkedText(), "");
  EXPECT_GT(host.DocumentBodyText().size(), 150000u);  // the default limit is far away
  navigation.textWork = [](const std::string&) -> std::string { throw std::runtime_error("no"); };
  host.Navigate(server.Address("/big.html"), navigation);
  ASSERT_TRUE(WaitForTop(3));
  EXPECT_EQ(host.WorkedText(), "");
}

TEST_F(PageHostTest, StopDropsTheRunningNavigation) {
  TResponse slow = Html("<p>" + std::string(20000, 'x') + "</p>");
  slow.slowPieces = 5;  // one second
  server.Route("/slow.html", slow);
  TNavigation navigation;
  navigation.textWork = [](const std::string&) { return std::string("worked"); };
  host.Navigate(server.Address("/slow.html"), navigation);
  DWORD start = GetTickCount();
  while (progressCount == 0 && GetTickCount() - start < 10000) Pump(10);
  ASSERT_GT(progressCount, 0);
  host.Stop();
  const int progressSoFar = progressCount;
  Pump(2000);  // long enough for the page to have ended
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(progressCount, progressSoFar);
  EXPECT_EQ(host.WorkedText(), "");
}

}  // namespace
}  // namespace quillon::web
