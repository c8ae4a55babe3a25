// The portable parts of the flat controls: HSL on the 0 ... 240 scale, the luminance shift that
// derives secondary colours, and the glyph and caption placement of the flat button.
#include <gtest/gtest.h>

#include "flatctl/button_layout.h"
#include "flatctl/hsl_utils.h"

namespace quillon::flatctl {
namespace {

TEST(HslUtils, KnownColoursConvertToTheirHslValues) {
  struct Case {
    const char* what;
    ColorValue rgb;
    Hsl hsl;
  } cases[] = {
      {"black", MakeColor(0, 0, 0), {0, 0, 0}},           {"white", MakeColor(255, 255, 255), {0, 0, 240}},
      {"red", MakeColor(255, 0, 0), {0, 240, 120}},       {"green", MakeColor(0, 255, 0), {80, 240, 120}},
      {"blue", MakeColor(0, 0, 255), {160, 240, 120}},    {"grey 128", MakeColor(128, 128, 128), {0, 0, 120}},
      {"yellow", MakeColor(255, 255, 0), {40, 240, 120}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RgbToHsl(c.rgb), c.hsl) << c.what;
    EXPECT_EQ(HslToRgb(c.hsl), c.rgb) << c.what;
  }
}

TEST(HslUtils, EveryColourOfACoarseGridSurvivesTheRoundTripWithinRounding) {
  for (int r = 0; r < 256; r += 15)
    for (int g = 0; g < 256; g += 15)
      for (int b = 0; b < 256; b += 15) {
        ColorValue back = HslToRgb(RgbToHsl(MakeColor(r, g, b)));
        ASSERT_NEAR(RedOf(back), r, 3) << r << "," << g << "," << b;
        ASSERT_NEAR(GreenOf(back), g, 3) << r << "," << g << "," << b;
        ASSERT_NEAR(BlueOf(back), b, 3) << r << "," << g << "," << b;
        Hsl hsl = RgbToHsl(MakeColor(r, g, b));
        ASSERT_GE(hsl.h, 0);
        ASSERT_LT(hsl.h, 240);
        ASSERT_LE(hsl.s, 240);
        ASSERT_LE(hsl.l, 240);
      }
}

TEST(HslUtils, AdjustLuminanceMovesOnlyTheLuminanceAndKeepsItOnTheScale) {
  const ColorValue face = MakeColor(235, 234, 225);
  EXPECT_EQ(AdjustLuminance(face, 0, true), face);
  EXPECT_EQ(AdjustLuminance(face, 0, false), face);

  Hsl base = RgbToHsl(face);
  Hsl darker = RgbToHsl(AdjustLuminance(face, 50, false));
  EXPECT_NEAR(darker.l, base.l + 10 - 50, 1);
  EXPECT_NEAR(darker.h, base.h, 3);

  // Darker by 10 after the lift of 10 is the colour's own luminance.
  EXPECT_NEAR(RgbToHsl(AdjustLuminance(face, 10, false)).l, base.l, 1);

  // A light colour made lighter never comes out darker; the scale's top is white.
  ColorValue lighter = AdjustLuminance(face, 10, true);
  EXPECT_GE(RgbToHsl(lighter).l, base.l);
  EXPECT_EQ(AdjustLuminance(MakeColor(250, 250, 250), 100, true), MakeColor(255, 255, 255));
  EXPECT_EQ(AdjustLuminance(MakeColor(20, 20, 20), 100, false), MakeColor(0, 0, 0));

  // A grey stays a grey.
  ColorValue grey = AdjustLuminance(MakeColor(217, 217, 217), 30, false);
  EXPECT_EQ(RedOf(grey), GreenOf(grey));
  EXPECT_EQ(GreenOf(grey), BlueOf(grey));
  EXPECT_LT(RedOf(grey), 217);
}

ButtonLayoutInput Input(TButtonLayout layout, int width, int height, int glyph, int textWidth, int textHeight,
                        int margin, int spacing) {
  ButtonLayoutInput in;
  in.client = {0, 0, width, height};
  in.glyphWidth = in.glyphHeight = glyph;
  in.textWidth = textWidth;
  in.textHeight = textHeight;
  in.margin = margin;
  in.spacing = spacing;
  in.layout = layout;
  return in;
}

TEST(CalcButtonLayout, PlacesGlyphAndCaptionByMarginAndSpacing) {
  using L = TButtonLayout;
  struct Case {
    const char* what;
    ButtonLayoutInput in;
    LayoutPoint glyph;
    LayoutRect text;
  } cases[] = {
      {"left, centred: glyph at 27, caption at 47",
       Input(L::blGlyphLeft, 113, 25, 16, 40, 13, -1, 4),
       {27, 5},
       {47, 6, 87, 19}},
      {"right, centred", Input(L::blGlyphRight, 113, 25, 16, 40, 13, -1, 4), {70, 5}, {26, 6, 66, 19}},
      {"top, centred", Input(L::blGlyphTop, 75, 60, 16, 40, 13, -1, 4), {30, 14}, {18, 34, 58, 47}},
      {"bottom, margin 5", Input(L::blGlyphBottom, 75, 60, 16, 40, 13, 5, 4), {30, 39}, {18, 22, 58, 35}},
      {"left, margin 4, spacing spread", Input(L::blGlyphLeft, 113, 25, 16, 40, 13, 4, -1), {4, 5}, {46, 6, 86, 19}},
      {"left, margin and spacing spread", Input(L::blGlyphLeft, 113, 25, 16, 40, 13, -1, -1), {19, 5}, {54, 6, 94, 19}},
      {"no glyph: spacing counts as 0", Input(L::blGlyphLeft, 113, 25, 0, 40, 13, -1, 4), {37, 13}, {37, 6, 77, 19}},
      {"no caption: the glyph centred", Input(L::blGlyphTop, 25, 25, 16, 0, 0, -1, 4), {5, 5}, {13, 5 + 16, 13, 21}},
      {"a caption wider than the button", Input(L::blGlyphLeft, 30, 25, 16, 40, 13, -1, 4), {-14, 5}, {6, 6, 46, 19}},
  };
  for (const Case& c : cases) {
    ButtonLayout out = CalcButtonLayout(c.in);
    EXPECT_EQ(out.glyph, c.glyph) << c.what << ": glyph " << out.glyph.x << "," << out.glyph.y;
    EXPECT_EQ(out.text, c.text) << c.what << ": text " << out.text.left << "," << out.text.top << "," << out.text.right
                                << "," << out.text.bottom;
  }
}

TEST(CalcButtonLayout, APressedButtonMovesBothPartsByThePressOffsetAndTheClientOrigin) {
  ButtonLayoutInput in = Input(TButtonLayout::blGlyphLeft, 113, 25, 16, 40, 13, -1, 4);
  ButtonLayout up = CalcButtonLayout(in);
  in.pressOffset = {1, 1};
  in.client = {2, 3, 115, 28};
  ButtonLayout pressed = CalcButtonLayout(in);
  EXPECT_EQ(pressed.glyph, (LayoutPoint{up.glyph.x + 3, up.glyph.y + 4}));
  EXPECT_EQ(pressed.text.left, up.text.left + 3);
  EXPECT_EQ(pressed.text.top, up.text.top + 4);
}

}  // namespace
}  // namespace quillon::flatctl
