// The HTML tokenizer and tree builder (see html_document.h).
//
// One pass over the decoded text: the tokenizer recognises tags, comments, doctypes and text, and
// hands each token to the tree builder, which keeps the stack of open elements. The builder
// follows the browsers' tree construction where it changes which element a piece of text ends up
// in or whether it is rendered; it leaves out what only changes inline nesting (formatting
// elements are closed, not reopened) and table foster-parenting.
//
// Invariants:
//  1. stack_ is never empty while tokens arrive; stack_[0] is the html element.
//  2. Before the body starts, only head content is on the stack above html; the first other
//     content starts the body, which then stays on the stack to the end.
//  3. Text is appended to the top of the stack, merged into a text node that ends its children.
#include "web/html_document.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <unordered_map>

#include "util/text.h"
#include "web/name_set.h"
#include "web/style_sheet.h"

namespace quillon::web {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsVoid(std::string_view n) {
  static const TNameSet kNames{"area",  "base",  "basefont", "bgsound", "br",   "col",   "embed",  "frame", "hr", "img",
                               "image", "input", "keygen",   "link",    "meta", "param", "source", "track", "wbr"};
  return kNames.Has(n);
}
bool IsRawText(std::string_view n) {
  static const TNameSet kNames{"script", "style", "xmp", "iframe", "noembed", "noframes", "noscript"};
  return kNames.Has(n);
}
bool IsEscapableRawText(std::string_view n) {
  return n == "title" || n == "textarea";
}
bool IsHeadContent(std::string_view n) {
  static const TNameSet kNames{"base",  "basefont", "bgsound",  "link",     "meta",    "title",
                               "style", "script",   "noscript", "noframes", "template"};
  return kNames.Has(n);
}
// Start tags that close an open paragraph.
bool ClosesParagraph(std::string_view n) {
  static const TNameSet kNames{"address", "article",   "aside",    "blockquote", "center",  "details", "dialog", "dir",
                               "div",     "dl",        "fieldset", "figcaption", "figure",  "footer",  "form",   "h1",
                               "h2",      "h3",        "h4",       "h5",         "h6",      "header",  "hgroup", "hr",
                               "li",      "dd",        "dt",       "listing",    "main",    "menu",    "nav",    "ol",
                               "p",       "plaintext", "pre",      "section",    "summary", "table",   "ul",     "xmp"};
  return kNames.Has(n);
}
bool IsHeading(std::string_view n) {
  return n.size() == 2 && n[0] == 'h' && n[1] >= '1' && n[1] <= '6';
}
// Elements whose end tag is looked for only within the current table or cell.
bool IsSpecial(std::string_view n) {
  static const TNameSet kOthers{"applet", "body",     "button",  "caption", "colgroup", "frameset",
                                "head",   "html",     "marquee", "object",  "select",   "tbody",
                                "td",     "template", "tfoot",   "th",      "thead",    "tr"};
  return ClosesParagraph(n) || IsVoid(n) || IsRawText(n) || IsEscapableRawText(n) || kOthers.Has(n);
}
bool IsTablePart(std::string_view n) {
  static const TNameSet kNames{"table", "tbody", "thead", "tfoot", "tr", "td", "th", "caption", "colgroup"};
  return kNames.Has(n);
}

}  // namespace

const std::string_view* THtmlNode::Attribute(std::string_view attributeName) const {
  if (kind_ != TKind::Element) return nullptr;
  for (std::uint32_t i = 0; i < size_; ++i)
    if (Attributes()[i].name == attributeName) return &Attributes()[i].value;
  return nullptr;
}

std::size_t THtmlNode::TChildren::size() const {
  std::size_t n = 0;
  for (const THtmlNode* c = first_; c; c = c->nextSibling_) ++n;
  return n;
}

const THtmlNode* THtmlNode::TChildren::operator[](std::size_t index) const {
  const THtmlNode* c = first_;
  while (c && index-- > 0) c = c->nextSibling_;
  return c;
}

void* THtmlDocument::Allocate(std::size_t bytes, std::size_t align) {
  std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(blockNext_) % align) % align;
  if (bytes + pad > blockLeft_) {
    // Blocks grow with the document, so a large page needs few of them; a piece larger than a
    // block gets a block of its own.
    std::size_t size = std::max(bytes, std::clamp<std::size_t>(arenaBytes_ / 8, 64 * 1024, 4 << 20));
    blocks_.push_back(std::make_unique<char[]>(size));
    blockNext_ = blocks_.back().get();
    blockLeft_ = size;
    pad = 0;
  }
  void* p = blockNext_ + pad;
  blockNext_ += pad + bytes;
  blockLeft_ -= pad + bytes;
  arenaBytes_ += pad + bytes;
  return p;
}

std::string_view THtmlDocument::Store(std::string_view text) {
  if (text.empty()) return {};
  char* p = static_cast<char*>(Allocate(text.size(), 1));
  std::memcpy(p, text.data(), text.size());
  return {p, text.size()};
}

const std::string_view* THtmlDocument::Intern(std::string_view name) {
  auto it = nameIndex_.find(name);
  if (it != nameIndex_.end()) return it->second;
  const std::string_view* entry = &names_.emplace_back(Store(name));
  nameIndex_.emplace(*entry, entry);
  return entry;
}

class THtmlTreeBuilder {
 public:
  // Deeper elements become children of the element at this depth (as browsers do), so that the
  // walks over the tree stay shallow whatever a page holds.
  static constexpr std::size_t kMaxDepth = 512;

  explicit THtmlTreeBuilder(THtmlDocument& doc) : doc_(doc) {
    html_ = NewElement("html");
    doc_.root_ = html_;
    PushNode(html_);
  }

  void Run(std::string_view s);

 private:
  struct TTag {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool selfClosing = false;
  };

  // Tokenizer pieces; each returns the position after what it read.
  std::size_t ReadTag(std::string_view s, std::size_t i, TTag& tag) const;
  void Text(std::string_view text, bool resolve);
  void StartTag(TTag& tag);
  bool StartTagBeforeBody(TTag& tag, const std::string& name);
  void CloseImpliedElements(const std::string& name);
  void OpenElement(TTag& tag);
  void EndTag(const std::string& name);

  THtmlNode* Current() { return stack_.back(); }
  // Where new nodes go: the current node, or its ancestor at the greatest depth the tree keeps.
  THtmlNode* InsertionParent() { return stack_[std::min(stack_.size(), kMaxDepth) - 1]; }
  THtmlNode* NewElement(std::string_view name, const TTag* tag = nullptr);
  void AppendChild(THtmlNode* parent, THtmlNode* node);
  THtmlNode* Append(THtmlNode* parent, TTag& tag);
  void Push(TTag& tag) { PushNode(Append(InsertionParent(), tag)); }
  void PushNode(THtmlNode* node) {
    stack_.push_back(node);
    ++openCount_[node->name_];
  }
  void PopTo(std::size_t size) {
    while (stack_.size() > size) {
      --openCount_[stack_.back()->name_];
      stack_.pop_back();
    }
  }
  bool IsOpen(std::string_view name) const {
    auto interned = doc_.nameIndex_.find(name);
    if (interned == doc_.nameIndex_.end()) return false;
    auto it = openCount_.find(interned->second);
    return it != openCount_.end() && it->second > 0;
  }
  void StartBody(const TTag* tag = nullptr);
  // Pops elements down to and including the topmost one that passes match, unless a node that
  // passes stop is met first. True when something was popped.
  template <typename Match, typename Stop>
  bool PopThrough(Match match, Stop stop);
  bool CloseInScope(std::string_view name);
  void CloseParagraph() { CloseInScope("p"); }

  THtmlDocument& doc_;
  THtmlNode* html_ = nullptr;
  THtmlNode* head_ = nullptr;
  std::vector<THtmlNode*> stack_;
  // How many elements of each name are on the stack: most searches of the stack end here.
  std::unordered_map<const std::string_view*, int> openCount_;
  bool bodyStarted_ = false;
  bool frameset_ = false;
  bool skipNewline_ = false;  // after <pre>, <listing>, <textarea>: drop one leading LF
  std::string rawEnd_;        // inside a raw-text element: its name
  bool rawResolves_ = false;  // escapable raw text resolves character references
};

// An element and its attributes in one piece: the attributes follow the node.
THtmlNode* THtmlTreeBuilder::NewElement(std::string_view name, const TTag* tag) {
  std::size_t count = tag ? tag->attributes.size() : 0;
  static_assert(sizeof(THtmlNode) % alignof(THtmlAttribute) == 0);
  void* memory = doc_.Allocate(sizeof(THtmlNode) + count * sizeof(THtmlAttribute), alignof(THtmlNode));
  THtmlNode* node = new (memory) THtmlNode();
  node->kind_ = THtmlNode::TKind::Element;
  node->name_ = doc_.Intern(name);
  node->size_ = static_cast<std::uint32_t>(count);
  auto* attributes = reinterpret_cast<THtmlAttribute*>(node + 1);
  for (std::size_t i = 0; i < count; ++i)
    new (&attributes[i]) THtmlAttribute{*doc_.Intern(tag->attributes[i].first), doc_.Store(tag->attributes[i].second)};
  return node;
}

void THtmlTreeBuilder::AppendChild(THtmlNode* parent, THtmlNode* node) {
  if (!parent->firstChild_) {
    parent->firstChild_ = node;
  } else {
    THtmlNode* last = parent->firstChild_->previousSibling_;
    last->nextSibling_ = node;
    node->previousSibling_ = last;
  }
  parent->firstChild_->previousSibling_ = node;
}

THtmlNode* THtmlTreeBuilder::Append(THtmlNode* parent, TTag& tag) {
  THtmlNode* node = NewElement(tag.name, &tag);
  AppendChild(parent, node);
  return node;
}

void THtmlTreeBuilder::StartBody(const TTag* tag) {
  PopTo(1);
  THtmlNode* body = NewElement("body", tag);
  AppendChild(html_, body);
  PushNode(body);
  doc_.body_ = body;
  bodyStarted_ = true;
}

template <typename Match, typename Stop>
bool THtmlTreeBuilder::PopThrough(Match match, Stop stop) {
  for (std::size_t k = stack_.size(); k-- > 1;) {
    std::string_view n = stack_[k]->Name();
    if (match(n)) {
      PopTo(k);
      return true;
    }
    if (stop(n)) return false;
  }
  return false;
}

bool THtmlTreeBuilder::CloseInScope(std::string_view name) {
  bool tablePart = IsTablePart(name);
  bool listItem = name == "li";
  if (!IsOpen(name)) return false;
  return PopThrough([&](std::string_view n) { return n == name; },
                    [&](std::string_view n) {
                      if (n == "html" || n == "table" || n == "template") return true;
                      if (tablePart) return false;
                      if (listItem && (n == "ol" || n == "ul")) return true;
                      if (name == "p" && n == "button") return true;
                      return OneOf(n, {"applet", "caption", "td", "th", "marquee", "object", "body"}) ||
                             (n == "select" && name == "option");
                    });
}

void THtmlTreeBuilder::Text(std::string_view text, bool resolve) {
  std::string value =
      resolve && text.find('&') != std::string_view::npos ? ResolveCharacterReferences(text) : std::string(text);
  std::string_view v = value;
  if (skipNewline_) {
    skipNewline_ = false;
    if (!v.empty() && v.front() == '\n') v.remove_prefix(1);
  }
  if (v.empty() || frameset_) return;
  if (!bodyStarted_ && rawEnd_.empty()) {
    // Before the body, white space is dropped and anything else starts the body.
    std::size_t first = 0;
    while (first < v.size() && IsSpace(v[first])) ++first;
    if (first == v.size()) return;
    v.remove_prefix(first);
    StartBody();
  }
  THtmlNode* parent = InsertionParent();
  THtmlNode* last = parent->firstChild_ ? parent->firstChild_->previousSibling_ : nullptr;
  // A text node's length is 32 bits: text beyond that goes on in a node of its own.
  if (last && last->kind_ == THtmlNode::TKind::Text && v.size() <= UINT32_MAX - last->size_) {
    // Text that follows text (across a comment, say) joins it: in place when the node's
    // characters end the arena, else both move to a fresh piece.
    if (last->text_ + last->size_ == doc_.blockNext_ && v.size() <= doc_.blockLeft_) {
      std::memcpy(doc_.Allocate(v.size(), 1), v.data(), v.size());
      last->size_ += static_cast<std::uint32_t>(v.size());
      return;
    }
    std::string joined;
    joined.reserve(last->size_ + v.size());
    joined.append(last->text_, last->size_).append(v);
    last->text_ = doc_.Store(joined).data();
    last->size_ = static_cast<std::uint32_t>(joined.size());
    return;
  }
  auto* node = new (doc_.Allocate(sizeof(THtmlNode), alignof(THtmlNode))) THtmlNode();
  node->kind_ = THtmlNode::TKind::Text;
  std::string_view stored = doc_.Store(v);
  node->text_ = stored.data();
  node->size_ = static_cast<std::uint32_t>(stored.size());
  AppendChild(parent, node);
}

// A tag before the body starts: head content goes to the head, a frameset replaces the body.
// True when the tag is taken care of here.
bool THtmlTreeBuilder::StartTagBeforeBody(TTag& tag, const std::string& name) {
  if (name == "head") {
    if (!head_) {
      head_ = Append(html_, tag);
      PushNode(head_);
    }
    return true;
  }
  if (IsHeadContent(name)) {
    if (!head_) {
      TTag head{"head", {}, false};
      head_ = Append(html_, head);
      PushNode(head_);
    }
    THtmlNode* node = Append(Current(), tag);
    if (!IsVoid(name)) {
      PushNode(node);
      rawEnd_ = name;
      rawResolves_ = IsEscapableRawText(name);
    }
    return true;
  }
  if (name == "frameset") {
    PopTo(1);
    Push(tag);
    frameset_ = true;
    return true;
  }
  return false;
}

// A start tag ends the elements it may not nest in: a paragraph, the previous list item, cell, row...
void THtmlTreeBuilder::CloseImpliedElements(const std::string& name) {
  if (ClosesParagraph(name)) CloseParagraph();
  if (name == "li") {
    CloseInScope("li");
  } else if ((name == "dd" || name == "dt") && (IsOpen("dd") || IsOpen("dt"))) {
    PopThrough([](std::string_view n) { return n == "dd" || n == "dt"; },
               [](std::string_view n) { return n == "dl" || n == "table" || n == "td" || n == "th"; });
  } else if (IsHeading(name)) {
    if (IsHeading(Current()->Name())) PopTo(stack_.size() - 1);
  } else if (name == "option") {
    if (Current()->Name() == "option") PopTo(stack_.size() - 1);
  } else if (name == "optgroup") {
    if (Current()->Name() == "option") PopTo(stack_.size() - 1);
    if (Current()->Name() == "optgroup") PopTo(stack_.size() - 1);
  } else if (name == "tr" && IsOpen("tr")) {
    PopThrough([](std::string_view n) { return n == "tr"; }, [](std::string_view n) { return n == "table"; });
  } else if ((name == "td" || name == "th") && (IsOpen("td") || IsOpen("th"))) {
    PopThrough([](std::string_view n) { return n == "td" || n == "th"; },
               [](std::string_view n) { return n == "tr" || n == "table"; });
  } else if ((name == "tbody" || name == "thead" || name == "tfoot") &&
             (IsOpen("tbody") || IsOpen("thead") || IsOpen("tfoot"))) {
    PopThrough([](std::string_view n) { return n == "tbody" || n == "thead" || n == "tfoot"; },
               [](std::string_view n) { return n == "table"; });
  } else if (name == "a" || name == "button" || name == "nobr") {
    CloseInScope(name);
  }
}

void THtmlTreeBuilder::OpenElement(TTag& tag) {
  const std::string name = tag.name;
  if (IsVoid(name)) {
    if (name == "image") tag.name = "img";
    Append(InsertionParent(), tag);
    return;
  }
  // Self-closing syntax means something only for void elements and inside svg and math.
  if (tag.selfClosing) {
    if (IsOpen("svg") || IsOpen("math")) {
      Append(InsertionParent(), tag);
      return;
    }
  }
  Push(tag);
  if (IsRawText(name) || IsEscapableRawText(name)) {
    rawEnd_ = name;
    rawResolves_ = IsEscapableRawText(name);
  } else if (name == "plaintext") {
    rawEnd_ = "plaintext";  // never ends
    rawResolves_ = false;
  }
  if (name == "pre" || name == "listing" || name == "textarea") skipNewline_ = true;
}

void THtmlTreeBuilder::StartTag(TTag& tag) {
  const std::string name = tag.name;
  skipNewline_ = false;
  if (name == "html") return;
  if (frameset_) {
    if (name == "frameset") {
      Push(tag);
    } else if (name == "frame") {
      Append(InsertionParent(), tag);
    }
    return;
  }
  if (!bodyStarted_) {
    if (StartTagBeforeBody(tag, name)) return;
    if (name == "body") {
      StartBody(&tag);
      return;
    }
    StartBody();
  } else if (name == "body" || name == "head" || name == "frameset") {
    return;
  }
  CloseImpliedElements(name);
  OpenElement(tag);
}

void THtmlTreeBuilder::EndTag(const std::string& name) {
  skipNewline_ = false;
  if (frameset_) {
    if (name == "frameset" && stack_.size() > 2) PopTo(stack_.size() - 1);
    return;
  }
  if (name == "html" || name == "body") return;
  if (name == "br") {
    TTag br{"br", {}, false};
    StartTag(br);
    return;
  }
  if (!bodyStarted_) {
    if (Current() != html_ && Current()->Name() == name) PopTo(stack_.size() - 1);
    return;
  }
  if (name == "p") {
    // A "</p>" with no paragraph open makes an empty one, which still separates the text around it.
    if (!CloseInScope("p")) {
      TTag p{"p", {}, false};
      Append(InsertionParent(), p);
    }
    return;
  }
  if (IsSpecial(name)) {
    CloseInScope(name);
    return;
  }
  if (!IsOpen(name)) return;
  // Any other end tag closes the nearest open element of its name, unless a block-level or
  // table element stands between.
  PopThrough([&](std::string_view n) { return n == name; }, [](std::string_view n) { return IsSpecial(n); });
}

std::size_t THtmlTreeBuilder::ReadTag(std::string_view s, std::size_t i, TTag& tag) const {
  // s[i] is the first letter of the name.
  std::size_t n = s.size();
  std::size_t p = i;
  while (p < n && !IsSpace(s[p]) && s[p] != '/' && s[p] != '>') ++p;
  tag.name = LowerAsciiText(s.substr(i, p - i));
  while (p < n) {
    while (p < n && (IsSpace(s[p]) || s[p] == '/')) {
      if (s[p] == '/' && p + 1 < n && s[p + 1] == '>') tag.selfClosing = true;
      ++p;
    }
    if (p >= n) break;
    if (s[p] == '>') return p + 1;
    std::size_t nameStart = p++;
    while (p < n && !IsSpace(s[p]) && s[p] != '/' && s[p] != '>' && s[p] != '=') ++p;
    std::string attrName = LowerAsciiText(s.substr(nameStart, p - nameStart));
    while (p < n && IsSpace(s[p])) ++p;
    std::string value;
    if (p < n && s[p] == '=') {
      ++p;
      while (p < n && IsSpace(s[p])) ++p;
      if (p < n && (s[p] == '"' || s[p] == '\'')) {
        char quote = s[p++];
        std::size_t end = s.find(quote, p);
        if (end == std::string_view::npos) return n;  // a tag cut off by the end of the page is dropped
        value = ResolveCharacterReferences(s.substr(p, end - p), true);
        p = end + 1;
      } else {
        std::size_t start = p;
        while (p < n && !IsSpace(s[p]) && s[p] != '>') ++p;
        value = ResolveCharacterReferences(s.substr(start, p - start), true);
      }
    }
    bool seen = false;
    for (const auto& a : tag.attributes) seen = seen || a.first == attrName;
    if (!seen) tag.attributes.emplace_back(std::move(attrName), std::move(value));
  }
  tag.name.clear();  // no ">": the tag is dropped
  return n;
}

void THtmlTreeBuilder::Run(std::string_view s) {
  std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    if (!rawEnd_.empty()) {
      // Raw text runs to the matching end tag ("</name" and then a blank, "/" or ">").
      std::size_t end = i;
      while (true) {
        end = s.find("</", end);
        if (end == std::string_view::npos || rawEnd_ == "plaintext") {
          end = n;
          break;
        }
        std::size_t after = end + 2 + rawEnd_.size();
        if (after <= n && LowerAsciiText(s.substr(end + 2, rawEnd_.size())) == rawEnd_ &&
            (after == n || IsSpace(s[after]) || s[after] == '/' || s[after] == '>'))
          break;
        end += 2;
      }
      if (end > i) Text(s.substr(i, end - i), rawResolves_);
      rawEnd_.clear();
      i = end;
      continue;
    }
    if (s[i] != '<') {
      std::size_t end = s.find('<', i);
      if (end == std::string_view::npos) end = n;
      Text(s.substr(i, end - i), true);
      i = end;
      continue;
    }
    char next = i + 1 < n ? s[i + 1] : '\0';
    if (IsAlpha(next)) {
      TTag tag;
      i = ReadTag(s, i + 1, tag);
      if (!tag.name.empty()) StartTag(tag);
    } else if (next == '/') {
      if (i + 2 < n && IsAlpha(s[i + 2])) {
        TTag tag;
        i = ReadTag(s, i + 2, tag);
        if (!tag.name.empty()) EndTag(tag.name);
      } else {
        std::size_t end = s.find('>', i + 2);  // "</>" and bogus comments
        i = end == std::string_view::npos ? n : end + 1;
      }
    } else if (next == '!') {
      if (s.substr(i, 4) == "<!--") {
        std::size_t p = i + 4;
        if (s.substr(p, 1) == ">") {
          i = p + 1;
        } else if (s.substr(p, 2) == "->") {
          i = p + 2;
        } else {
          // "--!>" also ends a comment; look for it only before the first "-->".
          std::size_t end = s.find("-->", p);
          std::string_view body = s.substr(p, end == std::string_view::npos ? std::string_view::npos : end - p);
          std::size_t bang = body.find("--!>");
          if (bang != std::string_view::npos) {
            i = p + bang + 4;
          } else {
            i = end == std::string_view::npos ? n : end + 3;
          }
        }
      } else {
        std::size_t end = s.find('>', i + 2);
        i = end == std::string_view::npos ? n : end + 1;
      }
    } else if (next == '?') {
      std::size_t end = s.find('>', i + 2);
      i = end == std::string_view::npos ? n : end + 1;
    } else {
      Text("<", false);
      ++i;
    }
  }
  if (!bodyStarted_ && !frameset_) StartBody();
}

std::unique_ptr<THtmlDocument> THtmlDocument::Parse(std::string_view bytes, std::string_view contentType) {
  auto doc = std::make_unique<THtmlDocument>();
  doc->charset_ = DetectCharset(bytes, contentType);
  std::string text = DecodeToUtf8(bytes, doc->charset_);
  THtmlTreeBuilder builder(*doc);
  builder.Run(text);
  return doc;
}

namespace {

bool IsStyleSheetLink(const THtmlNode& node) {
  const std::string_view* rel = node.Attribute("rel");
  if (!node.IsElement("link") || !rel || !node.Attribute("href")) return false;
  bool sheet = false, alternate = false;
  std::string r = LowerAsciiText(*rel);
  std::size_t i = 0;
  while (i < r.size()) {
    while (i < r.size() && IsSpace(r[i])) ++i;
    std::size_t start = i;
    while (i < r.size() && !IsSpace(r[i])) ++i;
    std::string_view word = std::string_view(r).substr(start, i - start);
    sheet = sheet || word == "stylesheet";
    alternate = alternate || word == "alternate";
  }
  const std::string_view* media = node.Attribute("media");
  return sheet && !alternate && (!media || MediaApplies(*media));
}

bool IsCssType(const THtmlNode& node) {
  const std::string_view* type = node.Attribute("type");
  return !type || type->empty() || LowerAsciiText(Trim(*type)) == "text/css";
}

// Style elements and linked sheets in document order, not looking into templates.
template <typename Visit>
void ForEachSheetSource(const THtmlNode& node, Visit visit) {
  for (const THtmlNode* child : node.Children()) {
    if (!child->IsElement() || child->IsElement("template")) continue;
    if (child->IsElement("style") || child->IsElement("link")) {
      visit(*child);
      continue;
    }
    ForEachSheetSource(*child, visit);
  }
}

}  // namespace

std::vector<const THtmlNode*> THtmlDocument::StyleSheetLinks() const {
  std::vector<const THtmlNode*> links;
  ForEachSheetSource(*root_, [&](const THtmlNode& node) {
    if (IsStyleSheetLink(node)) links.push_back(&node);
  });
  return links;
}

void THtmlDocument::SetLinkedStyleSheet(const THtmlNode* link, std::string css) {
  linkedSheets_[link] = std::move(css);
}

std::string THtmlDocument::BodyText() const {
  if (!body_) return {};
  TStyleSheet sheet;
  ForEachSheetSource(*root_, [&](const THtmlNode& node) {
    if (node.IsElement("link")) {
      auto it = linkedSheets_.find(&node);
      if (it != linkedSheets_.end() && IsStyleSheetLink(node)) sheet.Add(it->second);
      return;
    }
    const std::string_view* media = node.Attribute("media");
    if (!IsCssType(node) || (media && !MediaApplies(*media))) return;
    for (const THtmlNode* text : node.Children())
      if (!text->IsElement()) sheet.Add(text->Text());
  });
  std::string text = InnerText(*body_, &sheet, {root_});
  std::string crlf;
  crlf.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return Utf8ToCp1252(crlf);
}

bool IsHtmlResponse(std::string_view contentType, std::string_view bytes) {
  std::string type = LowerAsciiText(Trim(contentType.substr(0, contentType.find(';'))));
  if (!type.empty()) return type == "text/html" || type == "application/xhtml+xml";
  std::size_t i = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (i < bytes.size() && IsSpace(bytes[i])) ++i;
  return i < bytes.size() && bytes[i] == '<';
}

std::string PageBodyText(std::string_view bytes, std::string_view contentType) {
  if (!IsHtmlResponse(contentType, bytes)) return {};
  return THtmlDocument::Parse(bytes, contentType)->BodyText();
}

}  // namespace quillon::web
