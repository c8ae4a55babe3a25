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

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillon::web {

struct THtmlAttribute {
  std::string_view name;   // lower case
  std::string_view value;  // UTF-8
};

// A node of the tree. Nodes, names, attributes and text live in their document's arena, so a
// node is small (40 bytes, 24 in a 32-bit build) and needs no allocation of its own: the children are a list through
// the siblings (the first child's previous sibling is the last child, so appending and walking back both take one
// step).
class THtmlNode {
 public:
  enum class TKind : std::uint8_t { Element, Text };

  class TChildren {
   public:
    class iterator {
     public:
      using iterator_category = std::forward_iterator_tag;
      using value_type = const THtmlNode*;
      using difference_type = std::ptrdiff_t;
      using pointer = const THtmlNode* const*;
      using reference = const THtmlNode*;
      iterator() : node_(nullptr) {}
      explicit iterator(const THtmlNode* node) : node_(node) {}
      iterator operator++(int) {
        iterator old = *this;
        node_ = node_->nextSibling_;
        return old;
      }
      const THtmlNode* operator*() const { return node_; }
      iterator& operator++() {
        node_ = node_->nextSibling_;
        return *this;
      }
      bool operator==(const iterator& other) const { return node_ == other.node_; }
      bool operator!=(const iterator& other) const { return node_ != other.node_; }

     private:
      const THtmlNode* node_;
    };
    explicit TChildren(const THtmlNode* first) : first_(first) {}
    iterator begin() const { return iterator(first_); }
    iterator end() const { return iterator(nullptr); }
    bool empty() const { return !first_; }
    const THtmlNode* front() const { return first_; }
    const THtmlNode* back() const { return first_ ? first_->previousSibling_ : nullptr; }
    std::size_t size() const;
    const THtmlNode* operator[](std::size_t index) const;  // walks the list

   private:
    const THtmlNode* first_;
  };

  TKind Kind() const { return kind_; }
  bool IsElement() const { return kind_ == TKind::Element; }
  bool IsElement(std::string_view tag) const { return kind_ == TKind::Element && *name_ == tag; }
  // Element: the tag name in lower case; text node: empty.
  std::string_view Name() const { return kind_ == TKind::Element ? *name_ : std::string_view(); }
  // Text node: its characters as UTF-8; element: empty.
  std::string_view Text() const { return kind_ == TKind::Text ? std::string_view(text_, size_) : std::string_view(); }
  TChildren Children() const { return TChildren(firstChild_); }
  // The sibling after this one, nullptr for the last.
  const THtmlNode* NextSibling() const { return nextSibling_; }
  // The sibling before this one within parent, nullptr for the first.
  const THtmlNode* PreviousSibling(const THtmlNode& parent) const {
    return parent.firstChild_ == this ? nullptr : previousSibling_;
  }
  std::size_t AttributeCount() const { return kind_ == TKind::Element ? size_ : 0; }
  const THtmlAttribute& AttributeAt(std::size_t i) const { return Attributes()[i]; }
  // The value of an attribute, or nullptr when the element has none of that name.
  const std::string_view* Attribute(std::string_view attributeName) const;

 private:
  friend class THtmlTreeBuilder;
  friend class THtmlDocument;
  // An element's attributes are stored right after it.
  const THtmlAttribute* Attributes() const { return reinterpret_cast<const THtmlAttribute*>(this + 1); }
  TKind kind_ = TKind::Element;
  std::uint32_t size_ = 0;  // text: its length; element: the number of attributes
  union {
    const std::string_view* name_ = nullptr;  // element: an entry of the document's name table
    const char* text_;                        // text node
  };
  THtmlNode* firstChild_ = nullptr;
  THtmlNode* nextSibling_ = nullptr;
  THtmlNode* previousSibling_ = nullptr;
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

  // Bytes the tree holds (nodes, names, attributes and text), for the memory figures.
  std::size_t TreeBytes() const { return arenaBytes_; }

 private:
  friend class THtmlTreeBuilder;
  // Storage for the tree: blocks that are never moved or freed before the document.
  void* Allocate(std::size_t bytes, std::size_t align);
  std::string_view Store(std::string_view text);
  const std::string_view* Intern(std::string_view name);

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* blockNext_ = nullptr;
  std::size_t blockLeft_ = 0;
  std::size_t arenaBytes_ = 0;
  std::deque<std::string_view> names_;  // interned names; their characters are in the arena
  std::unordered_map<std::string_view, const std::string_view*> nameIndex_;
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
