// The page's styles as the body text sees them: selectors, the cascade, inheritance, error
// recovery of broken sheets, media, and the walk that follows the computed values.
#include "web/style_sheet.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "web/html_document.h"
#include "web/lyrics_extraction.h"

namespace quillon::web {
namespace {

// The body text of a page made of a sheet and a body, with LF line ends.
std::string TextOf(const std::string& css, const std::string& body) {
  std::string text =
      PageBodyText("<!DOCTYPE html><html><head><meta charset=utf-8><style>" + css + "</style></head><body>" + body, "");
  std::string lf;
  for (char c : text)
    if (c != '\r') lf += c;
  return lf;
}

struct TCase {
  const char* css;
  const char* body;
  const char* text;
};

void Check(const TCase* begin, const TCase* end) {
  for (const TCase* c = begin; c != end; ++c)
    EXPECT_EQ(TextOf(c->css, c->body), c->text) << "css: " << c->css << "\nbody: " << c->body;
}

TEST(StyleSheet, SelectorsPickTheirElements) {
  const TCase cases[] = {
      {"span{display:none}", "a<span>b</span>c<i>d</i>", "acd"},
      {"SPAN{DISPLAY:NONE}", "a<span>b</span>c", "ac"},
      {".x{display:none}", "a<b class=' y  x '>b</b><b class=xx>c</b>", "ac"},
      {".Ad{display:none}", "<b class=ad>kept</b>", "kept"},
      {"#k{display:none}", "<b id=k>b</b><b id=kk>c</b>", "c"},
      {"*{display:none}", "<b>b</b>", ""},
      {"[data-ad]{display:none}", "<b data-ad>x</b><b data-add>y</b>", "y"},
      {"[title=exact]{display:none}", "<b title=exact>x</b><b title=Exact>y</b>", "y"},
      {"[title='exact' i]{display:none}", "<b title=EXACT>x</b><b title=exacter>y</b>", "y"},
      {"[class~=ad]{display:none}", "<b class='a ad b'>x</b><b class=ads>y</b>", "y"},
      {"[lang|=en]{display:none}", "<b lang=en>x</b><b lang=en-GB>y</b><b lang=eng>z</b>", "z"},
      {"[href^='http://ads']{display:none}", "<a href='http://ads.example'>x</a><a href='/http://ads'>y</a>", "y"},
      {"[href$='.pdf']{display:none}", "<a href='a.pdf'>x</a><a href='a.pdf?x'>y</a>", "y"},
      {"[href*=track]{display:none}", "<a href='/x?tracker'>x</a><a href='/t'>y</a>", "y"},
      {"[href^='']{display:none}", "<a href='x'>kept</a>", "kept"},
      {"div b{display:none}", "<div><i><b>x</b></i></div><b>y</b>", "y"},
      {"div>b{display:none}", "<div><b>x</b><i><b>y</b></i></div>", "y"},
      {"h3+p{display:none}", "<h3>h</h3><p>x</p><p>y</p>", "h\n\ny"},
      {"h3 ~ p{display:none}", "<p>a</p><h3>h</h3><b>b</b><p>x</p><p>y</p>", "a\n\nh\nb"},
      {"b:not(.keep){display:none}", "<b>x</b><b class=keep>y</b>", "y"},
      {"b:is(.a,.b){display:none}", "<b class=a>x</b><b class=b>y</b><b>z</b>", "z"},
      {"li:first-child{display:none}", "<ul><li>1<li>2<li>3</ul>", "2\n3"},
      {"li:last-child{display:none}", "<ul><li>1<li>2<li>3</ul>", "1\n2"},
      {"li:nth-child(2n+1){display:none}", "<ul><li>1<li>2<li>3<li>4<li>5</ul>", "2\n4"},
      {"li:nth-child(-n+2){display:none}", "<ul><li>1<li>2<li>3</ul>", "3"},
      {"li:nth-child(3){display:none}", "<ul><li>1<li>2<li>3</ul>", "1\n2"},
      {"li:nth-last-child(1){display:none}", "<ul><li>1<li>2</ul>", "1"},
      {"b:first-of-type{display:none}", "<p><i>i</i><b>x</b><b>y</b></p>", "iy"},
      {"b:only-child{display:none}", "<p><b>x</b></p><p><b>y</b><i>z</i></p>", "yz"},
      {"b:empty{display:block}", "a<b></b>c<b>d</b>", "a\ncd"},
      {"a:hover{display:none}", "<a href=x>link</a>", "link"},
      {".sr:not(:focus){display:none}", "a<span class=sr>skip</span>b", "ab"},
      {"a::after{display:none} a:before{display:none}", "<a>link</a>", "link"},
      {".a\\:b{display:none}", "<b class='a:b'>x</b>y", "y"},
      {".\\31 st{display:none}", "<b class=1st>x</b>y", "y"},
      {"div div div div div div div div b{display:none}", "<div><div><b>x</b></div></div>y", "x\ny"},
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(StyleSheet, CascadeFollowsImportanceSpecificityAndOrder) {
  const TCase cases[] = {
      {"#a{display:none} div.b{display:block}", "<div id=a class=b>x</div>y", "y"},
      {"div{display:none} .b{display:block}", "<div class=b>x</div>", "x"},
      {".a{display:none} .a{display:inline}", "<div class=a>x</div>", "x"},
      {".a{display:inline} .a{display:none}", "<div class=a>x</div>", ""},
      {".a{display:none !important} #i.a{display:inline}", "<b id=i class=a>x</b>y", "y"},
      {".a{display:none}", "<b class=a style='display:inline'>x</b>", "x"},
      {".a{display:none!important}", "<b class=a style='display:inline'>x</b>y", "y"},
      {".a{display:inline!important}", "<b class=a style='display:none !important'>x</b>y", "y"},
      {":where(#a){display:none} b{display:inline}", "<b id=a>x</b>", "x"},
      {":is(#a){display:none} b.c{display:inline}", "<b id=a class=c>x</b>y", "y"},
      {"b{display:block;display:inline}", "a<b>x</b>c", "axc"},
      {"[hidden]{display:block}", "<b hidden>x</b>", "x"},
      {"", "<b hidden>x</b>y", "y"},
      {"b{display:none} b{display:revert}", "a<b>x</b>", "ax"},
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(StyleSheet, InheritedPropertiesFlowDown) {
  const TCase cases[] = {
      {".h{visibility:hidden} .v{visibility:visible}", "<div class=h>no <b class=v>yes</b> no</div>", "yes"},
      {"", "<div style='visibility:hidden'><p>x</p></div><p>y</p>", "y"},
      {"div{text-transform:uppercase}", "<div>a <b>b</b> <i style='text-transform:none'>c</i></div>", "A B c"},
      {"div{text-transform:uppercase} b{text-transform:inherit}", "<div><b>x</b></div>", "X"},
      {"div{white-space:pre}", "<div>a  <b> b</b></div>", "a   b"},
      {"div{white-space:pre} b{white-space:initial}", "<div>a  <b> b  </b>|</div>", "a   b |"},
      {"div{display:none} p{display:block}", "<div><p>x</p></div>y", "y"},
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(StyleSheet, BrokenSheetsAreSkippedAsBrowsersSkipThem) {
  const TCase cases[] = {
      {".a:nosuchpseudo, .b{display:none}", "<b class=b>kept</b>", "kept"},
      {".a{display:nonsense} .b{display:none}", "<b class=a>a</b><b class=b>b</b>", "a"},
      {".a{display: ;} .b{display:none}", "<b class=a>a</b><b class=b>b</b>", "a"},
      {".a{color:red; display:none; font:x}", "<b class=a>a</b>b", "b"},
      {".a{display:none !importantish}", "<b class=a>a</b>", "a"},
      {"@import url(x.css); .a{display:none}", "<b class=a>a</b>b", "b"},
      {"@font-face{font-family:x} .a{display:none}", "<b class=a>a</b>b", "b"},
      {"@keyframes k{from{display:none} to{}} .a{display:none}", "<b class=a>a</b><i>b</i>", "b"},
      {".a{display:block; .b{display:none}", "<b class=a>a</b><b class=b>b</b>", "a\nb"},
      {"} .a{display:none} .b{display:none}", "<b class=a>a</b>b<i class=b>c</i>", "ab"},
      {".a{content:'}'; display:none}", "<b class=a>a</b>b", "b"},
      {"/* .a{display:inline} */ .a{display:none}", "<b class=a>a</b>b", "b"},
      {"<!-- .a{display:none} -->", "<b class=a>a</b>b", "b"},
      {"{display:none}", "<b>a</b>", "a"},
      {"ns|b{display:none}", "<b>a</b>", "a"},
      {".a{display:none", "<b class=a>a</b>b", "b"},
      {".a[x{display:none}", "<b class=a x>a</b>", "a"},
      {"li:nth-child(2n+){display:none}", "<ul><li>1<li>2</ul>", "1\n2"},
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(StyleSheet, MediaDecidesWhichSheetsApply) {
  const TCase cases[] = {
      {"@media print{.a{display:none}}", "<b class=a>a</b>", "a"},
      {"@media screen{.a{display:none}}", "<b class=a>a</b>b", "b"},
      {"@media screen and (min-width:600px){.a{display:none}}", "<b class=a>a</b>b", "b"},
      {"@media (max-width:600px){.a{display:none}}", "<b class=a>a</b>", "a"},
      {"@media not print{.a{display:none}}", "<b class=a>a</b>b", "b"},
      {"@media print, screen{.a{display:none}}", "<b class=a>a</b>b", "b"},
      {"@media (frobnicate){.a{display:none}}", "<b class=a>a</b>", "a"},
      {"@supports (display:grid){.a{display:none}}", "<b class=a>a</b>b", "b"},
      {"@supports not (display:grid){.a{display:none}}", "<b class=a>a</b>", "a"},
  };
  Check(std::begin(cases), std::end(cases));
  EXPECT_TRUE(MediaApplies(""));
  EXPECT_TRUE(MediaApplies("all"));
  EXPECT_TRUE(MediaApplies("Screen"));
  EXPECT_TRUE(MediaApplies("only screen and (min-width: 40em)"));
  EXPECT_FALSE(MediaApplies("print"));
  EXPECT_FALSE(MediaApplies("speech, print"));
  EXPECT_FALSE(MediaApplies("screen and (min-width: 1024px)"));

  std::string page =
      "<html><head><style media=print>.a{display:none}</style><style media='screen'>.b{display:none}</style>"
      "<style type='text/less'>.c{display:none}</style></head><body><i class=a>a</i><i class=b>b</i><i class=c>c</i>";
  EXPECT_EQ(PageBodyText(page, ""), "ac");
}

TEST(StyleSheet, WalkFollowsTheComputedDisplay) {
  const TCase cases[] = {
      {".nav{display:flex}", "<div class=nav><a>Home</a><a>Songs</a> <a>About</a></div>", "Home\nSongs\nAbout"},
      {".g{display:grid}", "<div class=g>loose <b>item</b></div>", "loose\nitem"},
      {"a{display:block}", "<nav><a>Home</a><a>Songs</a></nav>", "Home\nSongs"},
      {"a{float:left}", "<p><a>One</a><a>Two</a></p>", "One\nTwo"},
      {"a{position:absolute}", "x<a>One</a>y", "x\nOne\ny"},
      {".ib{display:inline-block}", "a<span class=ib> b </span>c", "abc"},
      {".ib{display:inline-block}", "a <span class=ib>b</span> c", "a b c"},
      {".f{display:inline-flex}", "<p>a <span class=f><i>x</i><i>y</i></span> b</p>", "a \nx\ny\n b"},
      {"", "x<button> Go </button>y", "xGoy"},
      {"", "a <input> b", "a  b"},
      {"", "a <input type=HIDDEN> b", "a b"},
      {"", "a <img alt=pic> b<img>c", "a  bc"},
      {"", "a <select><option>x<option>y</select> b", "a \nx\ny\n b"},
      {"", "a <audio></audio> b <audio controls></audio> c", "a b  c"},
      {"img{display:block}", "a<img>b", "a\nb"},
      {".t{display:table}.r{display:table-row}.c{display:table-cell}",
       "<div class=t><div class=r><i class=c>1</i><i class=c>2</i></div><div class=r><i class=c>3</i></div></div>",
       "1\t2\n3"},
      {"", "<table><tr><td>a<td style='display:none'>b</table>", "a"},
      {"", "<table><tr><td>a<td style='visibility:hidden'>b<td>c</table>", "a\tc"},
      {"", "<details><summary>Sum</summary>Body</details>", "Sum"},
      {"", "<details open><summary>Sum</summary>Body</details>", "Sum\nBody"},
      {"", "<details>Body</details>after", "after"},
      {".h{visibility:hidden}", "<div>a <span class=h>b</span> c</div>", "a  c"},
      {".h{visibility:hidden}", "<div><span class=h>b </span>c</div>", "c"},
      {".h{visibility:hidden}", "<div class=h>x</div><div>y</div>", "y"},
      {".h{visibility:hidden}", "<div>A<div class=h>x</div>B</div>", "AB"},
      {".h{visibility:hidden}", "<div>A<div class=h><p style='visibility:visible'>v</p></div>B</div>", "A\n\nv\n\nB"},
      {".h{visibility:hidden}", "<div><b>a</b> <span class=h> x </span> <b>c</b></div>", "a c"},
      {".ib{display:inline-block}", "a <span class=ib></span> c", "a  c"},
      {"", "<dialog>closed</dialog><dialog open>open</dialog>", "open"},
      {"div{white-space:pre-line}", "<div>  a   b  \n  c</div>", "a b\nc"},
      {"div{white-space:pre-wrap}", "<div> a  b </div>", " a  b "},
      {"div{white-space:nowrap}", "<div> a \n b </div>", "a b"},
      {"pre{white-space:normal}", "<pre>a\n   b</pre>", "a b"},
      {".c{text-transform:capitalize}", "<p class=c>the sea-shore, don't 3rd <b>wo</b>rd</p>",
       "The Sea-Shore, Don't 3rd Word"},
      {".u{text-transform:uppercase}",
       "<p class=u>stra\xC3\x9F"
       "e \xC3\xA9t\xC3\xA9</p>",
       "STRASSE \xC9T\xC9"},
      {".l{text-transform:lowercase}", "<p class=l>\xC3\x89T\xC3\x89 \xC5\xA0KODA</p>", "\xE9t\xE9 \x9Akoda"},
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(StyleSheet, TransformTextCarriesWordStarts) {
  bool wordStart = true;
  EXPECT_EQ(TransformText("he", TTextTransform::Capitalize, wordStart), "He");
  EXPECT_FALSE(wordStart);
  EXPECT_EQ(TransformText("llo world", TTextTransform::Capitalize, wordStart), "llo World");
  EXPECT_EQ(TransformText("\xC3\xBF\xC3\xA6\xCE\xB1\xD0\xB6", TTextTransform::Uppercase, wordStart),
            "\xC5\xB8\xC3\x86\xCE\x91\xD0\x96");
  EXPECT_EQ(TransformText("\xC5\xB8\xC4\xB0\xD0\x81", TTextTransform::Lowercase, wordStart), "\xC3\xBFi\xD1\x91");
  // Broken UTF-8 at the end does not read past the text.
  EXPECT_EQ(TransformText("ab\xE2\x82", TTextTransform::Uppercase, wordStart), "AB\xEF\xBF\xBD\xEF\xBF\xBD");
}

// A page full of rules and deep nesting is still read in linear time: descendant chains do not
// try every combination of ancestors (which would take years here, so a fault shows as a hang).
// Every name the rules ask for is on the path, so no filter of names turns them down early; only
// the order is wrong (the em is below the divs, not above them).
TEST(StyleSheet, DeepPagesWithLongSelectorChainsStayFast) {
  std::string css;
  for (int i = 0; i < 20; ++i)
    css += "em" + std::string(i % 2 ? " > " : " ") + "div div div div div div div div div div span{display:none}\n";
  std::string body;
  for (int i = 0; i < 400; ++i) body += "<div>";
  body += "<em><span>deep</span>";
  EXPECT_EQ(TextOf(css, body), "deep");
  EXPECT_EQ(TextOf("em div span{display:none}", "<em><div><span>hidden</span></div></em>shown"), "shown");
}

TEST(StyleSheet, GarbageSheetsNeverBreakThePage) {
  std::mt19937 random(38);
  const std::string pieces[] = {
      "{",     "}",           "(",  ")", "[", "]", "\"", "'",  "\\",      ";",    ":",          ",",  "@media ",
      "@x ",   ".a",          "#b", "*", ">", "+", "~",  " ",  "display", "none", "!important", "/*", "*/",
      ":not(", ":nth-child(", "n+", "-", "2", "i", "=",  "^=", "<!--",    "-->",  "\xC3"};
  for (int round = 0; round < 300; ++round) {
    std::string css;
    int n = static_cast<int>(random() % 60);
    for (int i = 0; i < n; ++i) css += pieces[random() % std::size(pieces)];
    // Whatever the sheet hides or shows, the page's text is made of its own paragraphs.
    std::string text = TextOf(css, "<p class=a id=b>x</p><p>y</p>");
    EXPECT_TRUE(text.empty() || text == "x" || text == "y" || text == "x\n\ny") << css << "\n" << text;
  }
}

// The lyrics cut from a page whose lyrics block holds ads hidden by its sheet leave the ads out.
TEST(StyleSheet, HiddenAdsStayOutOfTheLyrics) {
  std::string page =
      "<html><head><title>Tide</title><style>.ad{display:none} .label{visibility:hidden}</style></head><body>"
      "<h1>Tide</h1><div class=lyrics>First line<br><span class=ad>ADVERTISEMENT</span>Second line<br>"
      "<div class=label>Sponsored</div>Third line</div></body></html>";
  TLyricsPage lyricsPage{PageBodyText(page, ""), "C:\\Q\\MyLyrics\\", std::string("Tide"), "Tide"};
  EXPECT_EQ(ExtractLyrics(lyricsPage), "First line\r\nSecond line\r\nThird line\r\n");
}

}  // namespace
}  // namespace quillon::web
