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

TEST(PageLinks, LinkedStyleSheetsForTheScreenWithinBounds) {
  auto doc = THtmlDocument::Parse(
      "<head><base href='http://b/dir/'><link rel=stylesheet href=a.css>"
      "<link rel='Alternate Stylesheet' href=alt.css><link rel=stylesheet media=print href=p.css>"
      "<link rel='preload stylesheet' media='screen and (min-width: 100px)' href='/s.css'>"
      "<link rel=stylesheet href='javascript:x'><link rel=stylesheet href='ftp://h/f.css'><link rel=icon href=i.ico>"
      "<link rel=stylesheet href='  '></head><body><link rel=stylesheet href='file:///c:/x.css'>");
  std::vector<std::string> addresses;
  for (const TLinkedSheet& sheet : LinkedStyleSheets(*doc, "http://h/page.html")) {
    EXPECT_TRUE(sheet.link->IsElement("link"));
    addresses.push_back(sheet.address);
  }
  EXPECT_EQ(addresses, (std::vector<std::string>{"http://b/dir/a.css", "http://b/s.css", "file:///c:/x.css"}));

  std::string many;
  for (int i = 0; i < 40; ++i) many += "<link rel=stylesheet href=s" + std::to_string(i) + ".css>";
  EXPECT_EQ(LinkedStyleSheets(*THtmlDocument::Parse(many), "http://h/").size(), kMaxLinkedSheets);
}

// A linked sheet takes its place in document order among the page's own sheets.
TEST(PageLinks, LinkedSheetsApplyInDocumentOrder) {
  auto doc = THtmlDocument::Parse(
      "<head><style>.a{display:none}</style><link rel=stylesheet href=one.css><style>.b{display:none}</style>"
      "<link rel=stylesheet href=two.css></head><body><i class=a>a</i><i class=b>b</i><i class=c>c</i>");
  std::vector<TLinkedSheet> sheets = LinkedStyleSheets(*doc, "http://h/");
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_EQ(doc->BodyText(), "c");
  doc->SetLinkedStyleSheet(sheets[0].link, ".a{display:inline} .b{display:inline}");
  EXPECT_EQ(doc->BodyText(), "ac");  // the later <style> hides .b again
  doc->SetLinkedStyleSheet(sheets[1].link, ".b{display:inline} .c{display:none}");
  EXPECT_EQ(doc->BodyText(), "ab");
}

}  // namespace
}  // namespace quillon::web
