#include "skin/skin_services.h"

namespace quillon::skin {

TSkinTextRenderer& DefaultSkinTextRenderer();
TSkinWindowServices& DefaultSkinWindowServices();
TSkinSoundPlayer& DefaultSkinSoundPlayer();

namespace {
TSkinTextRenderer* textRenderer = nullptr;
TSkinWindowServices* windowServices = nullptr;
TSkinSoundPlayer* soundPlayer = nullptr;
}  // namespace

TSkinTextRenderer& SkinTextRenderer() {
  return textRenderer ? *textRenderer : DefaultSkinTextRenderer();
}
TSkinWindowServices& SkinWindowServices() {
  return windowServices ? *windowServices : DefaultSkinWindowServices();
}
TSkinSoundPlayer& SkinSoundPlayer() {
  return soundPlayer ? *soundPlayer : DefaultSkinSoundPlayer();
}

TSkinTextRenderer* SetSkinTextRenderer(TSkinTextRenderer* r) {
  auto* old = textRenderer;
  textRenderer = r;
  return old;
}
TSkinWindowServices* SetSkinWindowServices(TSkinWindowServices* s) {
  auto* old = windowServices;
  windowServices = s;
  return old;
}
TSkinSoundPlayer* SetSkinSoundPlayer(TSkinSoundPlayer* p) {
  auto* old = soundPlayer;
  soundPlayer = p;
  return old;
}

std::string VisibleText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size())
      ++i;
    else if (text[i] == '&')
      continue;
    out += text[i];
  }
  return out;
}

namespace {
int CellWidth(const TSkinFontSpec& font) {
  return font.size * 3 / 4 > 1 ? font.size * 3 / 4 : 1;
}
}  // namespace

int TBlockTextRenderer::TextWidth(const TSkinFontSpec& font, const std::string& text) {
  return static_cast<int>(VisibleText(text).size()) * CellWidth(font);
}

void TBlockTextRenderer::PaintText(TOmbraBmp& canvas, const TSkinRect& r, const std::string& text,
                                   const TSkinFontSpec& font, TSkinColor color, int textAlign) {
  const std::string shown = VisibleText(text);
  const int cell = CellWidth(font);
  const int w = static_cast<int>(shown.size()) * cell, h = font.size;
  const int column = textAlign >= 0 && textAlign <= 8 ? textAlign % 3 : 1;
  const int row = textAlign >= 0 && textAlign <= 8 ? textAlign / 3 : 1;
  const int x = column == 0 ? r.left : column == 2 ? r.right - w : r.left + (r.Width() - w) / 2;
  const int y = row == 0 ? r.top : row == 2 ? r.bottom - h : r.top + (r.Height() - h) / 2;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] == ' ') continue;
    const int cx = x + static_cast<int>(i) * cell;
    canvas.FillRect(Intersect({cx, y + 1, cx + cell - 1, y + h - 1}, r), color);
  }
}

}  // namespace quillon::skin
