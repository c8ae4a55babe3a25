// The part of a page's style that decides its text: which elements are shown, where lines break,
// letter case and white space.
//
// Sheets come from <style> elements, linked sheets and style attributes. Only the properties that
// change the body text are kept: display, visibility, text-transform, white-space, and float and
// position (which make an element a block). Selectors cover type, class, id, attribute, universal,
// the four combinators, :not(), :is(), :where() and the structural pseudo-classes; a selector with
// a state pseudo-class (:hover, :focus...) or a pseudo-element never matches an element, since the
// page is read as it stands when loaded. Anything not understood is skipped as browsers skip it: a
// bad declaration, a rule whose selector does not parse, an unknown at-rule; nothing in a sheet
// stops the page.
//
// Matching runs on a path of elements from the root down, so the tree needs no parent links. Rules
// are filed under the id, class or tag of their rightmost compound selector, so an element is
// tried only against the rules that can match it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillon::web {

struct THtmlNode;

enum class TDisplay : std::uint8_t {
  None,
  Inline,
  Block,  // block, flow-root
  ListItem,
  InlineBlock,  // inline-block, inline-table and other atomic inlines
  Flex,         // flex and grid: block-level, their children become blocks
  InlineFlex,   // inline-flex and inline-grid
  Table,
  TableRowGroup,
  TableRow,
  TableCell,
  TableCaption,
  TableColumn,
  Contents,
};
enum class TTextTransform : std::uint8_t { None, Uppercase, Lowercase, Capitalize };
enum class TWhiteSpace : std::uint8_t { Normal, Pre, PreWrap, PreLine, NoWrap };

// The computed values the text depends on.
struct TTextStyle {
  TDisplay display = TDisplay::Inline;
  bool visible = true;  // visibility: visible (hidden and collapse are not)
  TTextTransform transform = TTextTransform::None;
  TWhiteSpace whiteSpace = TWhiteSpace::Normal;
  bool floated = false;     // float other than none
  bool positioned = false;  // position absolute or fixed
};

// An element on the path being matched: the node, its parent, and its 1-based position among
// the parent's element children.
struct TElementRef {
  const THtmlNode* node = nullptr;
  const THtmlNode* parent = nullptr;
  int elementIndex = 1;
  int elementCount = 1;
};

struct TStyleSelector;
struct TStyleRule;

// The tags, ids and classes of the elements above the one being styled, counted in a small table
// of hashes, so that a rule naming an ancestor the path cannot hold is passed over without a
// search. A hash may stand for more than one name (the search then decides), never for none.
class TAncestorFilter {
 public:
  TAncestorFilter();
  void Push(const THtmlNode& element) { Count(element, 1); }
  void Pop(const THtmlNode& element) { Count(element, -1); }
  bool MayHold(std::uint32_t hash) const { return counts_[hash & kMask] > 0 && counts_[(hash >> kBits) & kMask] > 0; }
  // The hash of a tag ('t'), id ('#') or class ('.') name.
  static std::uint32_t Hash(char kind, std::string_view name);

 private:
  static constexpr unsigned kBits = 12;
  static constexpr std::uint32_t kMask = (1u << kBits) - 1;
  void Count(const THtmlNode& element, int step);
  void Add(std::uint32_t hash, int step) {
    counts_[hash & kMask] = static_cast<std::uint16_t>(counts_[hash & kMask] + step);
    counts_[(hash >> kBits) & kMask] = static_cast<std::uint16_t>(counts_[(hash >> kBits) & kMask] + step);
  }
  std::vector<std::uint16_t> counts_;
};

class TStyleSheet {
 public:
  TStyleSheet();
  ~TStyleSheet();
  TStyleSheet(const TStyleSheet&) = delete;
  TStyleSheet& operator=(const TStyleSheet&) = delete;

  // Adds the rules of a sheet's text, after those added before (later rules win ties).
  void Add(std::string_view css);
  bool Empty() const;

  // The computed style of path.back(); path[0..n-2] are its ancestors from the root, parent the
  // computed style of its parent (nullptr for the root); ancestors, when given, holds exactly
  // those ancestors.
  TTextStyle Compute(const std::vector<TElementRef>& path, const TTextStyle* parent,
                     const TAncestorFilter* ancestors = nullptr) const;

 private:
  struct TIndex;
  std::unique_ptr<TIndex> index_;
  int order_ = 0;
};

// True when a media list (a <style> or <link> media attribute, or an @media prelude) applies to
// the screen the page is read on: empty, "all" or "screen", with width and height features
// evaluated for an 800 x 600 window.
bool MediaApplies(std::string_view media);

// Applies a text-transform to UTF-8 text. wordStart: whether the first character starts a word
// (for capitalize); on return, whether the next character would.
std::string TransformText(std::string_view text, TTextTransform transform, bool& wordStart);

}  // namespace quillon::web
