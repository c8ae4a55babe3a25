// Where a flat button puts its glyph and its caption: CalcButtonLayout works on sizes only, so it
// is portable and tested natively; the button measures its glyph and caption and passes them in.
#pragma once

namespace quillon::flatctl {

enum class TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

struct LayoutPoint {
  int x = 0;
  int y = 0;
  bool operator==(const LayoutPoint&) const = default;
};

struct LayoutRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const LayoutRect&) const = default;
};

struct ButtonLayoutInput {
  LayoutRect client;        // the button's client rectangle
  LayoutPoint pressOffset;  // (1, 1) while pressed or exclusive
  int glyphWidth = 0;       // one cell: the strip's width / NumGlyphs; 0 without a glyph
  int glyphHeight = 0;
  int textWidth = 0;  // the caption's single-line extent; 0 for an empty caption
  int textHeight = 0;
  int margin = -1;  // -1: centred
  int spacing = 4;  // -1: spread
  TButtonLayout layout = TButtonLayout::blGlyphTop;
};

struct ButtonLayout {
  LayoutPoint glyph;  // top-left corner of the glyph cell
  LayoutRect text;    // the caption is centred in this rectangle
};

ButtonLayout CalcButtonLayout(const ButtonLayoutInput& in);

}  // namespace quillon::flatctl
