// A loaded web page as the page host keeps it, and the plain text of its body.
//
// The page's bytes are decoded with the charset named by the HTTP header, a byte-order mark or the
// page's own <meta> (in that order of precedence after the mark; Windows-1252 otherwise), then
// parsed into an element tree the way browsers build it for everything that matters to text:
// head and body are implied, a paragraph, list item, table row or cell is closed by what follows
// it, void, raw-text and escapable raw-text elements are recognised, misplaced end tags are
// ignored and character references are resolved. The body text is the element's inner text as
// browsers compute it, following the page's style sheets (style_sheet.h): block boundaries give
// line breaks, <p> a blank line around it, <br> a line break, table cells are separated by tabs
// and rows by line breaks, white space is collapsed as its white-space property says, letter case
// follows text-transform, and what is not rendered (head, script, style, form fields' contents,
// elements with the hidden attribute or "display: none", a closed <details> but its summary) or
// not visible ("visibility: hidden") is left out.
//
// Ownership: a THtmlDocument owns all its nodes (an arena; node addresses never change). Nothing
// here keeps global state, so documents may be built on any thread and read on another.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::web {

struct THtmlNode {
  enum class TKind { Element, Text };
  TKind kind = TKind::Element;
  std::string name;                                             // element: tag name in lower case
  std::string text;                                             // text node: its characters as UTF-8
  std::vector<std::pair<std::string, std::string>> attributes;  // element: names in lower case, values UTF-8
  std::vector<THtmlNode*> children;

  bool IsElement(std::string_view tag) const { return kind == TKind::Element && name == tag; }
  // The value of an attribute, or nullptr when the element has none of that name.
  const std::string* Attribute(std::string_view attributeName) const;
};

class THtmlDocument {
 public:
  // bytes: the page as received; contentType: the value of the HTTP Content-Type header, empty
  // when there was none.
  static std::unique_ptr<THtmlDocument> Parse(std::string_view bytes, std::string_view contentType = {});

  const THtmlNode& Root() const { return *root_; }  // the html element
  // The body element; nullptr for a frameset document.
  const THtmlNode* Body() const { return body_; }
  // The encoding the bytes were read with: "utf-8", "utf-16le", "utf-16be" or "windows-1252".
  const std::string& Charset() const { return charset_; }

  // The body's inner text in the program's 8-bit code page (Windows-1252; characters it lacks
  // become "?"), lines separated by CR LF; empty without a body.
  std::string BodyText() const;

  // The <link rel="stylesheet"> elements whose sheets apply to the screen, in document order,
  // and the sheet text fetched for one of them (its address is the caller's to resolve). Sheets
  // that are never given are left out.
  std::vector<const THtmlNode*> StyleSheetLinks() const;
  void SetLinkedStyleSheet(const THtmlNode* link, std::string css);

  THtmlNode* NewNode() { return &nodes_.emplace_back(); }

 private:
  friend class THtmlTreeBuilder;
  std::deque<THtmlNode> nodes_;
  THtmlNode* root_ = nullptr;
  THtmlNode* body_ = nullptr;
  std::string charset_;
  std::map<const THtmlNode*, std::string> linkedSheets_;
};

// True when a response is an HTML document: its Content-Type names text/html or
// application/xhtml+xml, or, without a Content-Type, its first non-blank byte is "<".
bool IsHtmlResponse(std::string_view contentType, std::string_view bytes);

// The body text of a response, as the page host's DocumentBodyText gives it: empty when the
// response is not HTML or the document has no body.
std::string PageBodyText(std::string_view bytes, std::string_view contentType);

// The encoding of a page: byte-order mark, then the charset parameter of contentType, then a
// <meta> near the start of the page, else "windows-1252". Always one of the names of Charset().
std::string DetectCharset(std::string_view bytes, std::string_view contentType);
// The canonical name for a charset label ("latin1" -> "windows-1252"), empty for labels we do not
// decode.
std::string CanonicalCharset(std::string_view label);
// Decodes bytes to UTF-8; malformed sequences become U+FFFD. Line ends become LF and NUL
// characters are dropped, as the parser's input stream wants them.
std::string DecodeToUtf8(std::string_view bytes, std::string_view charset);
// UTF-8 to Windows-1252; characters the code page lacks (and malformed sequences) become "?".
std::string Utf8ToCp1252(std::string_view utf8);

// Resolves the character references of a text (or, with inAttribute, of an attribute value,
// where a reference without ";" followed by "=" or a letter or digit stays as written).
std::string ResolveCharacterReferences(std::string_view text, bool inAttribute = false);

class TStyleSheet;

// The inner text of an element as UTF-8 with LF line ends, under the rules of sheet (none: the
// browser's own styles and the style attributes only); ancestors: the element's ancestors from the
// root, for the selectors that look at them and the properties inherited from them.
std::string InnerText(const THtmlNode& element, const TStyleSheet* sheet = nullptr,
                      const std::vector<const THtmlNode*>& ancestors = {});

}  // namespace quillon::web
