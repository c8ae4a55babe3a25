// The inner text of an element as browsers compute it (see html_document.h).
//
// The walk produces strings and "required line break" counts; a run of counts between two strings
// becomes as many line feeds as its largest count, and counts before the first or after the last
// string vanish. White space is collapsed on the fly, as a renderer does for "white-space: normal":
// a run of blanks becomes one space, and none is kept at the start or end of a line or block.
#include <algorithm>
#include <initializer_list>
#include <string>

#include "util/text.h"
#include "web/html_document.h"

namespace quillon::web {

namespace {

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsCollapsible(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Elements a browser does not render (or renders without their child nodes).
bool IsNotRendered(const THtmlNode& e) {
  if (OneOf(e.name,
            {"head",     "script",  "style", "noscript", "template", "title",    "meta",    "link",     "base",
             "basefont", "bgsound", "param", "source",   "track",    "datalist", "noembed", "noframes", "iframe",
             "textarea", "input",   "img",   "area",     "map",      "rp",       "frame",   "frameset", "object",
             "embed",    "audio",   "video", "canvas",   "svg",      "math"}))
    return true;
  if (e.Attribute("hidden")) return true;
  if (const std::string* style = e.Attribute("style")) {
    std::string s = LowerAsciiText(*style);
    s.erase(std::remove_if(s.begin(), s.end(), IsCollapsible), s.end());
    std::size_t p = s.find("display:none");
    if (p != std::string::npos && (p == 0 || s[p - 1] == ';' || s[p - 1] == '"')) return true;
  }
  return false;
}

bool IsBlock(std::string_view n) {
  return OneOf(
      n, {"address", "article",   "aside", "blockquote", "body",     "center",     "dd",      "details", "dialog",
          "dir",     "div",       "dl",    "dt",         "fieldset", "figcaption", "figure",  "footer",  "form",
          "h1",      "h2",        "h3",    "h4",         "h5",       "h6",         "header",  "hgroup",  "hr",
          "html",    "legend",    "li",    "listing",    "main",     "menu",       "nav",     "ol",      "optgroup",
          "option",  "plaintext", "pre",   "section",    "summary",  "table",      "caption", "ul",      "xmp"});
}
bool IsPreformatted(std::string_view n) {
  return OneOf(n, {"pre", "listing", "xmp", "plaintext"});
}

class TInnerTextWriter {
 public:
  std::string Take() { return std::move(out_); }

  void Walk(const THtmlNode& node, bool top, bool lastCell);

 private:
  void Emit(std::string_view s) {
    if (breaks_ > 0) {
      if (!out_.empty()) out_.append(static_cast<std::size_t>(breaks_), '\n');
      breaks_ = 0;
    } else if (space_) {
      out_ += ' ';
    }
    space_ = false;
    out_.append(s);
  }
  void RequireBreaks(int count) {
    breaks_ = std::max(breaks_, count);
    Boundary();
  }
  // The start or end of a block-level box: no collapsible space survives across it.
  void Boundary() {
    space_ = false;
    lineStart_ = true;
  }
  void CollapsedText(const std::string& text);
  void Rows(const THtmlNode& table, const THtmlNode*& lastRow) const;

  std::string out_;
  int breaks_ = 0;
  bool space_ = false;     // a collapsed space waits for the next visible character
  bool lineStart_ = true;  // nothing visible yet on this line of this block
  int preformatted_ = 0;
  std::vector<const THtmlNode*> lastRows_;  // per open table: its last row
};

void TInnerTextWriter::CollapsedText(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    if (IsCollapsible(text[i])) {
      if (!lineStart_) space_ = true;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < n && !IsCollapsible(text[end])) ++end;
    Emit(std::string_view(text).substr(i, end - i));
    lineStart_ = false;
    i = end;
  }
}

// The last row of a table, looking through its row groups but not into nested tables.
void TInnerTextWriter::Rows(const THtmlNode& table, const THtmlNode*& lastRow) const {
  for (const THtmlNode* child : table.children) {
    if (child->kind != THtmlNode::TKind::Element || child->name == "table") continue;
    if (child->name == "tr") {
      lastRow = child;
    } else if (!OneOf(child->name, {"td", "th"})) {
      Rows(*child, lastRow);
    }
  }
}

void TInnerTextWriter::Walk(const THtmlNode& node, bool top, bool lastCell) {
  if (node.kind == THtmlNode::TKind::Text) {
    if (preformatted_ > 0) {
      if (!node.text.empty()) {
        Emit(node.text);
        lineStart_ = node.text.back() == '\n';
      }
    } else {
      CollapsedText(node.text);
    }
    return;
  }
  if (!top && IsNotRendered(node)) return;
  const std::string& n = node.name;
  if (n == "br") {
    space_ = false;
    Emit("\n");
    lineStart_ = true;
    return;
  }
  bool paragraph = n == "p";
  bool block = IsBlock(n);
  bool cell = n == "td" || n == "th";
  bool row = n == "tr";
  if (paragraph) {
    RequireBreaks(2);
  } else if (block) {
    RequireBreaks(1);
  } else if (cell || row) {
    Boundary();
  }
  if (n == "table") {
    const THtmlNode* lastRow = nullptr;
    Rows(node, lastRow);
    lastRows_.push_back(lastRow);
  }
  bool pre = IsPreformatted(n);
  if (pre) ++preformatted_;
  const THtmlNode* lastChildCell = nullptr;
  for (const THtmlNode* child : node.children)
    if (child->IsElement("td") || child->IsElement("th")) lastChildCell = child;
  for (const THtmlNode* child : node.children) Walk(*child, false, child == lastChildCell);
  if (pre) --preformatted_;
  if (n == "table") lastRows_.pop_back();
  if (paragraph) {
    RequireBreaks(2);
  } else if (block) {
    RequireBreaks(1);
  }
  if (cell) {
    Boundary();
    if (!lastCell) Emit("\t");  // a tab after every cell but the last of its row
  }
  if (row) {
    Boundary();
    if (lastRows_.empty() || lastRows_.back() != &node) Emit("\n");
  }
}

}  // namespace

std::string InnerText(const THtmlNode& element) {
  TInnerTextWriter writer;
  writer.Walk(element, true, true);
  return writer.Take();
}

}  // namespace quillon::web
