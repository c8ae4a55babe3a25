#include "web/html_document.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon::web {
namespace {

// Body text of an HTML fragment read as UTF-8, with LF line ends for readability.
std::string TextOf(const std::string& html) {
  std::string text = THtmlDocument::Parse(html, "text/html; charset=utf-8")->BodyText();
  std::string lf;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
  return lf;
}

TEST(HtmlDocument, BodyTextFollowsTheRenderedLayout) {
  struct TCase {
    const char* what;
    const char* html;
    const char* text;
  } cases[] = {
      {"plain text starts the body", "hello  world", "hello world"},
      {"white space collapses across inline elements", "<p>a <b> b </b> c</p>", "a b c"},
      {"blocks give line breaks", "<div>one</div><div>two</div>three", "one\ntwo\nthree"},
      {"paragraphs give blank lines", "<p>one</p><p>two</p>", "one\n\ntwo"},
      {"implied paragraph end", "<p>one<p>two<div>three</div>", "one\n\ntwo\n\nthree"},
      {"br breaks a line and drops the blanks around it", "a <br> b<br/>c", "a\nb\nc"},
      {"two br give an empty line", "a<br><br>b", "a\n\nb"},
      {"leading and trailing breaks vanish", "<div><p>x</p></div>", "x"},
      {"headings and lists", "<h1>Title</h1><ul><li>one<li>two</ul>end", "Title\none\ntwo\nend"},
      {"table cells and rows", "<table><tr><td>a</td><td> b </td></tr><tr><th>c<td>d</table>after",
       "a\tb\nc\td\nafter"},
      {"empty cells keep their tabs", "<table><tr><td></td><td>b</td><td></td></tr></table>", "\tb\t"},
      {"rows in several row groups", "<table><thead><tr><td>h</td></tr></thead><tbody><tr><td>b</td></tr></table>",
       "h\nb"},
      {"nested table rows are their own",
       "<table><tr><td>x<table><tr><td>i</td></tr></table></td><td>y</td></tr></table>", "x\ni\n\ty"},
      {"head, script, style and noscript are left out",
       "<html><head><title>T</title><style>p{}</style><script>var a='<p>';</script></head>"
       "<body>v<script>document.write('x')</script><noscript>n</noscript><style>b{}</style>w</body></html>",
       "vw"},
      {"hidden elements are left out", "<div hidden>h</div><span style='color:red; display: none'>s</span>shown",
       "shown"},
      {"a text area's contents are left out", "<textarea>t</textarea>x", "x"},
      {"the options of a list each take a line", "a<select><option>o<option>p</select>x", "a\no\np\nx"},
      {"pre keeps white space and drops its first line feed", "<pre>\n a  b\n  c</pre>d", " a  b\n  c\nd"},
      {"character references", "&lt;&amp;&gt; &quot;&#65;&#x42;&copy;&nbsp;&eacute; &notit; &amp",
       "<&> \"AB\xA9\xA0\xE9 \xACit; &"},
      {"numeric references to C1 bytes mean Windows-1252", "&#150;&#x80;", "\x96\x80"},
      {"characters outside the code page become ?", "&#x4E2D;&hellip;&rarr;", "?\x85?"},
      {"a comment may also end with --!>", "<!-- x --!>y<!-- z -->w<!-- --!> -->v", "yw -->v"},
      {"comments and doctype are not text", "<!DOCTYPE html><!-- <p>no</p> -->yes<!---->!", "yes!"},
      {"text after the end of the body stays in the body", "<body>a</body> b</html> c", "a b c"},
      {"stray end tags: </span> is ignored, </p> makes an empty paragraph", "<div>a</span>b</p>c</div>", "ab\n\nc"},
      {"a lone < is text", "1 < 2 <3", "1 < 2 <3"},
      {"tag cut off at the end", "abc<div class=\"x", "abc"},
      {"frameset document has no body", "<frameset><frame src=a.html></frameset>", ""},
      {"attributes with > in quotes", "<div title='a>b'>x</div>", "x"},
      {"raw text end tag needs its own name", "<script>a</scriptx></script>t", "t"},
      {"uppercase tags", "<P>A<BR>B</P><DIV>C</DIV>", "A\nB\n\nC"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextOf(c.html), c.text) << c.what;
}

TEST(HtmlDocument, BodyTextUsesCrLf) {
  EXPECT_EQ(THtmlDocument::Parse("<p>a</p><p>b<br>c</p>")->BodyText(), "a\r\n\r\nb\r\nc");
}

TEST(HtmlDocument, CharsetComesFromBomHeaderOrMeta) {
  struct TCase {
    const char* what;
    std::string bytes;
    const char* contentType;
    const char* charset;
  } cases[] = {
      {"nothing declared", "<p>x</p>", "", "windows-1252"},
      {"header", "<p>x</p>", "text/html; charset=UTF-8", "utf-8"},
      {"quoted header", "<p>x</p>", "text/html;charset=\"iso-8859-1\"", "windows-1252"},
      {"meta charset", "<head><meta charset='utf-8'></head>", "text/html", "utf-8"},
      {"meta http-equiv", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">", "",
       "windows-1252"},
      {"header wins over meta", "<meta charset=utf-8>", "text/html; charset=windows-1252", "windows-1252"},
      {"byte-order mark wins over header", "\xEF\xBB\xBF<p>x</p>", "text/html; charset=windows-1252", "utf-8"},
      {"utf-16 mark", std::string("\xFF\xFE<\0p\0>\0", 8), "", "utf-16le"},
      {"meta inside a comment does not count", "<!-- <meta charset=utf-8> --><p>x", "", "windows-1252"},
      {"unknown label falls back", "<meta charset=klingon>", "", "windows-1252"},
      {"meta naming utf-16 means utf-8", "<meta charset=utf-16>", "", "utf-8"},
  };
  for (const auto& c : cases) EXPECT_EQ(DetectCharset(c.bytes, c.contentType), c.charset) << c.what;
}

TEST(HtmlDocument, TextIsConvertedToTheProgramsCodePage) {
  struct TCase {
    const char* what;
    std::string bytes;
    const char* contentType;
    const char* text;
  } cases[] = {
      {"utf-8 by header", "caf\xC3\xA9 \xE2\x80\x93 \xE2\x82\xAC \xE4\xB8\xAD", "text/html; charset=utf-8",
       "caf\xE9 \x96 \x80 ?"},
      {"windows-1252 by default", "caf\xE9 \x96 \x80", "text/html", "caf\xE9 \x96 \x80"},
      {"latin-1 read as windows-1252", "<meta charset=iso-8859-1>\x93q\x94", "", "\x93q\x94"},
      {"utf-8 by meta", "<meta charset=utf-8>\xC3\xBC", "", "\xFC"},
      {"malformed utf-8", "a\xC3(\xFF", "text/html; charset=utf-8", "a?(?"},
      {"utf-16be", std::string("\xFE\xFF\0a\0\xE9\x20\xAC", 8), "text/html", "a\xE9\x80"},
      {"CR line ends in pre", "<pre>a\r\nb\rc</pre>", "text/html", "a\r\nb\r\nc"},
  };
  for (const auto& c : cases) EXPECT_EQ(PageBodyText(c.bytes, c.contentType), c.text) << c.what;
}

TEST(HtmlDocument, OnlyHtmlResponsesHaveBodyText) {
  EXPECT_EQ(PageBodyText("<p>x</p>", "text/plain"), "");
  EXPECT_EQ(PageBodyText("<p>x</p>", "application/json"), "");
  EXPECT_EQ(PageBodyText("plain words", ""), "");
  EXPECT_EQ(PageBodyText("  <p>x</p>", ""), "x");
  EXPECT_EQ(PageBodyText("<p>x</p>", "application/xhtml+xml"), "x");
  EXPECT_EQ(PageBodyText("", "text/html"), "");
}

TEST(HtmlDocument, TreeKeepsFramesAndAttributes) {
  auto doc = THtmlDocument::Parse(
      "<frameset cols='50%,*'><frame src=\"a.html?x=1&amp;y=2\"><frame src=b.html>"
      "</frameset>");
  EXPECT_EQ(doc->Body(), nullptr);
  ASSERT_EQ(doc->Root().Children().size(), 1u);
  const THtmlNode& frameset = *doc->Root().Children()[0];
  ASSERT_EQ(frameset.Children().size(), 2u);
  EXPECT_EQ(*frameset.Children()[0]->Attribute("src"), "a.html?x=1&y=2");
  EXPECT_EQ(*frameset.Children()[1]->Attribute("src"), "b.html");

  auto page = THtmlDocument::Parse("<p>x<iframe src='f.html'>fallback</iframe><a href='?a&copy=1'>l</a>");
  ASSERT_NE(page->Body(), nullptr);
  EXPECT_EQ(page->BodyText(), "xl");
  const THtmlNode& p = *page->Body()->Children()[0];
  EXPECT_EQ(*p.Children()[1]->Attribute("src"), "f.html");
  // In an attribute an old reference without ";" before "=" stays as written.
  EXPECT_EQ(*p.Children()[2]->Attribute("href"), "?a&copy=1");
}

TEST(HtmlDocument, BadInputNeverBreaksTheParser) {
  // Every prefix of a page with all kinds of constructs parses, and so does a deep nesting.
  std::string page =
      "<!DOCTYPE html><html><head><meta charset=utf-8><title>t&amp;</title><script>if(a<b)</script></head>"
      "<body class=x><!-- c --><table><tr><td>a<td>b</table><pre>\nq</pre><p>x&#xZZ;&#;&bogus;"
      "<textarea>y</textarea><![CDATA[z]]><?php ?></body></html>";
  for (std::size_t n = 0; n <= page.size(); ++n) THtmlDocument::Parse(page.substr(0, n))->BodyText();
  std::string deep;
  for (int i = 0; i < 20000; ++i) deep += "<div><span>";
  deep += "x";
  EXPECT_EQ(PageBodyText(deep, "text/html"), "x");
}

}  // namespace
}  // namespace quillon::web
