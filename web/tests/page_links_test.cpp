#include "web/page_links.h"

#include <gtest/gtest.h>

namespace quillon::web {
namespace {

TEST(PageLinks, AddressesResolveAgainstThePage) {
  struct TCase {
    const char* base;
    const char* ref;
    const char* address;
  } cases[] = {
      {"http://h/a/b.html", "c.html", "http://h/a/c.html"},
      {"http://h/a/b.html?x=1#top", "c.html?y", "http://h/a/c.html?y"},
      {"http://h:8080/a/b/c.html", "../d.html", "http://h:8080/a/d.html"},
      {"http://h/a/b.html", "./d/./e.html", "http://h/a/d/e.html"},
      {"http://h/a/b.html", "/root.html", "http://h/root.html"},
      {"http://h/a/b.html", "//other/x", "http://other/x"},
      {"https://h/a/b.html", "?q=1", "https://h/a/b.html?q=1"},
      {"http://h/a/b.html?q", "#f", "http://h/a/b.html?q#f"},
      {"http://h", "x.html", "http://h/x.html"},
      {"http://h/a/", "../../../x", "http://h/x"},
      {"http://h/a/b.html", "HTTPS://elsewhere/y", "HTTPS://elsewhere/y"},
      {"http://h/a/b.html", "  c.html ", "http://h/a/c.html"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveAddress(c.base, c.ref), c.address) << c.base << " + " << c.ref;
}

TEST(PageLinks, FramesInDocumentOrder) {
  auto frameset = THtmlDocument::Parse(
      "<frameset rows='*,*'><frame src='top.html'><frameset cols='*,*'><frame src=\"/l.html\">"
      "<frame src='javascript:void(0)'><frame></frameset></frameset>");
  EXPECT_EQ(FrameAddresses(*frameset, "http://h/d/index.html"),
            (std::vector<std::string>{"http://h/d/top.html", "http://h/l.html"}));
  auto inline_ = THtmlDocument::Parse(
      "<head><base href='http://b/dir/'></head><p>x<iframe src='i.html'></iframe><iframe src='about:blank'>");
  EXPECT_EQ(FrameAddresses(*inline_, "http://h/page.html"), (std::vector<std::string>{"http://b/dir/i.html"}));
  EXPECT_TRUE(FrameAddresses(*THtmlDocument::Parse("<p>none</p>"), "http://h/").empty());
}

TEST(PageLinks, WindowRequestsOnLoad) {
  EXPECT_TRUE(AsksForNewWindow(*THtmlDocument::Parse("<body onload=\"window.open('x.html')\">")));
  EXPECT_TRUE(AsksForNewWindow(*THtmlDocument::Parse("<script>var w = window.open('x');</script>")));
  EXPECT_FALSE(AsksForNewWindow(*THtmlDocument::Parse("<p>window.open is text here</p><a target=_blank>l</a>")));
}

}  // namespace
}  // namespace quillon::web
