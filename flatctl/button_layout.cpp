// The flat button's glyph and caption placement (see button_layout.h).
#include "flatctl/button_layout.h"

namespace quillon::flatctl {

ButtonLayout CalcButtonLayout(const ButtonLayoutInput& in) {
  int clientWidth = in.client.right - in.client.left;
  int clientHeight = in.client.bottom - in.client.top;
  bool horizontal = in.layout == TButtonLayout::blGlyphLeft || in.layout == TButtonLayout::blGlyphRight;

  // Across the layout axis both parts are centred.
  LayoutPoint glyph, text;
  if (horizontal) {
    glyph.y = (clientHeight - in.glyphHeight + 1) / 2;
    text.y = (clientHeight - in.textHeight + 1) / 2;
  } else {
    glyph.x = (clientWidth - in.glyphWidth + 1) / 2;
    text.x = (clientWidth - in.textWidth + 1) / 2;
  }

  // Along it: extent, the parts' sizes, margin and spacing.
  int extent = horizontal ? clientWidth : clientHeight;
  int glyphSize = horizontal ? in.glyphWidth : in.glyphHeight;
  int textSize = horizontal ? in.textWidth : in.textHeight;
  bool hasText = in.textWidth > 0 && in.textHeight > 0;
  bool hasGlyph = in.glyphWidth > 0 && in.glyphHeight > 0;
  int margin = in.margin;
  int spacing = (hasText && hasGlyph) ? in.spacing : 0;
  if (margin == -1 && spacing == -1) {
    margin = spacing = (extent - glyphSize - textSize) / 3;
  } else if (margin == -1) {
    margin = (extent - glyphSize - spacing - textSize + 1) / 2;
  } else if (spacing == -1) {
    spacing = (extent - margin - glyphSize - textSize) / 2;
  }

  int glyphAt = 0, textAt = 0;
  switch (in.layout) {
    case TButtonLayout::blGlyphLeft:
    case TButtonLayout::blGlyphTop:
      glyphAt = margin;
      textAt = glyphAt + glyphSize + spacing;
      break;
    case TButtonLayout::blGlyphRight:
    case TButtonLayout::blGlyphBottom:
      glyphAt = extent - margin - glyphSize;
      textAt = glyphAt - spacing - textSize;
      break;
  }
  if (horizontal) {
    glyph.x = glyphAt;
    text.x = textAt;
  } else {
    glyph.y = glyphAt;
    text.y = textAt;
  }

  int dx = in.client.left + in.pressOffset.x, dy = in.client.top + in.pressOffset.y;
  ButtonLayout out;
  out.glyph = {glyph.x + dx, glyph.y + dy};
  out.text = {text.x + dx, text.y + dy, text.x + dx + in.textWidth, text.y + dy + in.textHeight};
  return out;
}

}  // namespace quillon::flatctl
