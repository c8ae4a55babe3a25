// The inner text of an element as browsers compute it (see html_document.h).
//
// The walk computes each element's style on the way down (style_sheet.h) and produces strings and
// "required line break" counts; a run of counts between two strings becomes as many line feeds as
// its largest count, and counts before the first or after the last string vanish. White space is
// collapsed on the fly as the renderer lays it out: for "white-space: normal" a run of blanks
// becomes one space, and none is kept at the start or end of a line or block. Text that is laid
// out but not visible (visibility: hidden) still takes part in that collapsing, so the spaces
// around it stay where a browser keeps them; only its own characters are left out.
#include <algorithm>
#include <initializer_list>
#include <string>

#include "util/text.h"
#include "web/html_document.h"
#include "web/name_set.h"
#include "web/style_sheet.h"

namespace quillon::web {

namespace {

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsCollapsible(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Elements whose content never becomes text, whatever the page's styles say.
bool IsNeverRendered(const THtmlNode& e) {
  static const TNameSet kNames{"head",     "script",  "style",    "noscript", "template", "title",  "meta",
                               "link",     "base",    "basefont", "bgsound",  "param",    "source", "track",
                               "datalist", "noembed", "noframes", "area",     "map",      "rp",     "frame",
                               "frameset", "math",    "col",      "colgroup"};
  if (kNames.Has(e.Name())) return true;
  if (e.IsElement("input")) {
    const std::string_view* type = e.Attribute("type");
    return type && LowerAsciiText(*type) == "hidden";
  }
  return e.IsElement("audio") && !e.Attribute("controls");
}

// Replaced elements and form fields: they take room on their line (so the spaces around them
// stay) but give no text of their own.
bool IsReplaced(const THtmlNode& e) {
  static const TNameSet kNames{"input", "textarea", "img",   "iframe", "object",
                               "embed", "audio",    "video", "canvas", "svg"};
  return kNames.Has(e.Name());
}

bool IsBlockLevel(TDisplay d) {
  return d == TDisplay::Block || d == TDisplay::ListItem || d == TDisplay::Flex || d == TDisplay::Table ||
         d == TDisplay::TableCaption;
}
bool IsAtomicInline(TDisplay d) {
  return d == TDisplay::InlineBlock || d == TDisplay::InlineFlex;
}
bool IsFlexContainer(TDisplay d) {
  return d == TDisplay::Flex || d == TDisplay::InlineFlex;
}

int ElementCount(const THtmlNode& node) {
  int count = 0;
  for (const THtmlNode* child : node.Children()) count += child->IsElement() ? 1 : 0;
  return count;
}

class TInnerTextWriter {
 public:
  explicit TInnerTextWriter(const TStyleSheet& sheet) : sheet_(sheet) {}
  std::string Take() { return std::move(out_); }

  // Walks element (the last of path), whose ancestors' computed styles end with parentStyle.
  void Element(std::vector<TElementRef>& path, const TTextStyle* parentStyle, bool top);
  void EnterChildren(const THtmlNode& element) { ancestors_.Push(element); }
  TTextStyle StyleOf(std::vector<TElementRef>& path, const TTextStyle* parentStyle) const {
    return sheet_.Compute(path, parentStyle, &ancestors_);
  }

 private:
  void Emit(std::string_view s) {
    if (breaks_ > 0) {
      if (!out_.empty()) out_.append(static_cast<std::size_t>(breaks_), '\n');
      breaks_ = 0;
      wordStart_ = true;
    }
    if (space_ && spaceVisible_) {
      out_ += ' ';
      wordStart_ = true;
    }
    space_ = false;
    out_.append(s);
  }
  // A piece of text that is laid out: emitted when visible, and in any case no longer at the
  // start of a line.
  void Word(std::string_view s, const TTextStyle& style) {
    if (space_ || lineStart_) wordStart_ = true;
    if (style.visible) {
      bool wordStart = wordStart_ || breaks_ > 0 || (space_ && spaceVisible_);
      std::string text = TransformText(s, style.transform, wordStart);
      Emit(text);
      wordStart_ = wordStart;
    } else {
      FlushSpace();
      TransformText(s, TTextTransform::None, wordStart_);
    }
    lineStart_ = false;
  }
  // A visible collapsed space followed by something laid out stays in the text.
  void FlushSpace() {
    if (space_ && spaceVisible_) Emit({});
    space_ = false;
  }
  void Space(bool visible) {
    if (lineStart_) return;
    // A run of white space keeps its first character, visible or not.
    if (!space_) spaceVisible_ = visible;
    space_ = true;
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
  void Text(std::string_view text, const TTextStyle& style);
  void CollapsedText(std::string_view text, const TTextStyle& style, bool keepLineFeeds);
  void Children(std::vector<TElementRef>& path, const TTextStyle& style, const THtmlNode* only);
  bool LaterCellFollows(std::vector<TElementRef>& path, const TTextStyle* parentStyle);
  static const THtmlNode* LastRow(const THtmlNode& table);

  const TStyleSheet& sheet_;
  TAncestorFilter ancestors_;  // the elements of the path above the one being styled
  std::string out_;
  int breaks_ = 0;
  bool space_ = false;                      // a collapsed space waits for the next character laid out
  bool spaceVisible_ = true;                // ...and it comes from visible text
  bool lineStart_ = true;                   // nothing laid out yet on this line of this block
  bool wordStart_ = true;                   // the next letter starts a word (for capitalize)
  std::vector<const THtmlNode*> lastRows_;  // per open table: its last row
  std::vector<const TTextStyle*> styles_;   // computed styles of the elements on the path
};

void TInnerTextWriter::CollapsedText(std::string_view text, const TTextStyle& style, bool keepLineFeeds) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (keepLineFeeds && c == '\n') {
      space_ = false;
      if (style.visible) {
        Emit("\n");
      }
      lineStart_ = true;
      wordStart_ = true;
      ++i;
      continue;
    }
    if (IsCollapsible(c)) {
      Space(style.visible);
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < n && !IsCollapsible(text[end])) ++end;
    Word(text.substr(i, end - i), style);
    i = end;
  }
}

void TInnerTextWriter::Text(std::string_view text, const TTextStyle& style) {
  if (text.empty()) return;
  bool anonymousBlock = !styles_.empty() && IsFlexContainer(styles_.back()->display);
  if (anonymousBlock) {
    // Text directly in a flex or grid container is an item of its own; blank text is no item.
    if (std::all_of(text.begin(), text.end(), IsCollapsible) && style.whiteSpace != TWhiteSpace::Pre &&
        style.whiteSpace != TWhiteSpace::PreWrap)
      return;
    RequireBreaks(1);
  }
  switch (style.whiteSpace) {
    case TWhiteSpace::Pre:
    case TWhiteSpace::PreWrap:
      if (style.visible) {
        bool wordStart = wordStart_ || breaks_ > 0 || (space_ && spaceVisible_);
        std::string transformed = TransformText(text, style.transform, wordStart);
        Emit(transformed);
        wordStart_ = wordStart;
      } else {
        FlushSpace();
      }
      lineStart_ = text.back() == '\n';
      break;
    case TWhiteSpace::PreLine:
      CollapsedText(text, style, true);
      break;
    case TWhiteSpace::Normal:
    case TWhiteSpace::NoWrap:
      CollapsedText(text, style, false);
      break;
  }
  if (anonymousBlock) RequireBreaks(1);
}

// The last row of a table, looking through its row groups but not into nested tables; for a
// table made of other elements by its styles, its last element child.
const THtmlNode* TInnerTextWriter::LastRow(const THtmlNode& table) {
  const THtmlNode* lastRow = nullptr;
  auto rows = [&](auto& self, const THtmlNode& node) -> void {
    for (const THtmlNode* child : node.Children()) {
      if (child->Kind() != THtmlNode::TKind::Element || child->Name() == "table") continue;
      if (child->Name() == "tr") {
        lastRow = child;
      } else if (!OneOf(child->Name(), {"td", "th"})) {
        self(self, *child);
      }
    }
  };
  rows(rows, table);
  if (!lastRow)
    for (const THtmlNode* child : table.Children())
      if (child->Kind() == THtmlNode::TKind::Element) lastRow = child;
  return lastRow;
}

// Whether a sibling after path.back() is a table cell that is shown.
bool TInnerTextWriter::LaterCellFollows(std::vector<TElementRef>& path, const TTextStyle* parentStyle) {
  TElementRef self = path.back();
  if (!self.parent) return false;
  bool found = false;
  int index = self.elementIndex;
  for (const THtmlNode* sibling = self.node->NextSibling(); sibling && !found; sibling = sibling->NextSibling()) {
    if (!sibling->IsElement()) continue;
    path.back() = {sibling, self.parent, ++index, self.elementCount};
    if (IsNeverRendered(*sibling)) continue;
    found = StyleOf(path, parentStyle).display == TDisplay::TableCell;
  }
  path.back() = self;
  return found;
}

void TInnerTextWriter::Children(std::vector<TElementRef>& path, const TTextStyle& style, const THtmlNode* only) {
  const THtmlNode& node = *path.back().node;
  const int count = ElementCount(node);
  int index = 0;
  for (const THtmlNode* child : node.Children()) {
    if (child->Kind() == THtmlNode::TKind::Text) {
      if (!only) Text(child->Text(), style);
      continue;
    }
    ++index;
    if (only && child != only) continue;
    path.push_back({child, &node, index, count});
    Element(path, &style, false);
    path.pop_back();
  }
}

void TInnerTextWriter::Element(std::vector<TElementRef>& path, const TTextStyle* parentStyle, bool top) {
  const THtmlNode& node = *path.back().node;
  if (!top && IsNeverRendered(node)) return;
  TTextStyle style = StyleOf(path, parentStyle);
  if (style.display == TDisplay::None) {
    if (!top) return;
    style.display = TDisplay::Block;
  }
  if (!top && IsReplaced(node)) {
    if (IsBlockLevel(style.display)) {
      RequireBreaks(1);
    } else {
      FlushSpace();
      lineStart_ = false;
    }
    return;
  }
  if (node.Name() == "br") {
    space_ = false;
    if (style.visible) Emit("\n");
    lineStart_ = true;
    wordStart_ = true;
    return;
  }
  const TDisplay d = style.display;
  const bool shown = style.visible;
  const bool paragraph = node.Name() == "p";
  const bool block = IsBlockLevel(d) || paragraph;
  const bool atomic = IsAtomicInline(d);
  const bool cell = d == TDisplay::TableCell;
  const bool row = d == TDisplay::TableRow;
  if (block) {
    if (shown) {
      RequireBreaks(paragraph ? 2 : 1);
    } else {
      Boundary();
    }
  } else if (cell || row) {
    Boundary();
  } else if (atomic) {
    FlushSpace();
    lineStart_ = true;
  }
  if (d == TDisplay::Table) lastRows_.push_back(LastRow(node));
  if (d != TDisplay::TableColumn) {
    styles_.push_back(&style);
    const THtmlNode* only = nullptr;
    if (node.Name() == "details" && !node.Attribute("open")) {
      // A closed details element shows only its summary.
      for (const THtmlNode* child : node.Children())
        if (child->IsElement("summary")) {
          only = child;
          break;
        }
      if (!only) only = &node;  // nothing at all
    }
    ancestors_.Push(node);
    Children(path, style, only);
    ancestors_.Pop(node);
    styles_.pop_back();
  }
  if (d == TDisplay::Table) lastRows_.pop_back();
  if (block) {
    if (shown) {
      RequireBreaks(paragraph ? 2 : 1);
    } else {
      Boundary();
    }
  } else if (atomic) {
    space_ = false;
    lineStart_ = false;
  }
  if (cell) {
    Boundary();
    // A tab after every cell but the last of its row.
    if (shown && LaterCellFollows(path, parentStyle)) Emit("\t");
  }
  if (row) {
    Boundary();
    if (shown && (lastRows_.empty() || lastRows_.back() != &node)) Emit("\n");
  }
}

}  // namespace

std::string InnerText(const THtmlNode& element, const TStyleSheet* sheet,
                      const std::vector<const THtmlNode*>& ancestors) {
  static const TStyleSheet kNoSheet;
  TInnerTextWriter writer(sheet ? *sheet : kNoSheet);
  std::vector<TElementRef> path;
  std::vector<TTextStyle> styles;
  styles.reserve(ancestors.size());
  const THtmlNode* parent = nullptr;
  auto refOf = [&](const THtmlNode* node) {
    TElementRef ref{node, parent, 1, 1};
    if (parent) {
      ref.elementCount = ElementCount(*parent);
      for (const THtmlNode* sibling = node->PreviousSibling(*parent); sibling;
           sibling = sibling->PreviousSibling(*parent))
        ref.elementIndex += sibling->IsElement() ? 1 : 0;
    }
    return ref;
  };
  for (const THtmlNode* ancestor : ancestors) {
    path.push_back(refOf(ancestor));
    styles.push_back(writer.StyleOf(path, styles.empty() ? nullptr : &styles.back()));
    writer.EnterChildren(*ancestor);
    parent = ancestor;
  }
  path.push_back(refOf(&element));
  writer.Element(path, styles.empty() ? nullptr : &styles.back(), true);
  return writer.Take();
}

}  // namespace quillon::web
