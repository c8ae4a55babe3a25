// Colour arithmetic of the flat controls: RGB to HSL and back on the 0 ... 240 scale, and the
// luminance shift that derives a control's secondary colours from its face colour.
//
// Colours are 0x00BBGGRR values, the layout Windows uses, so the functions are portable and the
// controls pass their colours straight in. Pure functions, usable from any thread.
#pragma once

#include <cstdint>

namespace quillon::flatctl {

using ColorValue = std::uint32_t;  // 0x00BBGGRR

constexpr ColorValue MakeColor(int r, int g, int b) {
  return static_cast<ColorValue>(r & 0xFF) | (static_cast<ColorValue>(g & 0xFF) << 8) |
         (static_cast<ColorValue>(b & 0xFF) << 16);
}
constexpr int RedOf(ColorValue c) {
  return static_cast<int>(c & 0xFF);
}
constexpr int GreenOf(ColorValue c) {
  return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int BlueOf(ColorValue c) {
  return static_cast<int>((c >> 16) & 0xFF);
}

inline constexpr int kHslMax = 240;

// Hue 0 ... 239, saturation and luminance 0 ... 240. Greys have hue 0.
struct Hsl {
  int h = 0;
  int s = 0;
  int l = 0;
  bool operator==(const Hsl&) const = default;
};

Hsl RgbToHsl(ColorValue color);
// Components outside their range are brought into it first.
ColorValue HslToRgb(Hsl hsl);

// The colour with its luminance raised (lighter) or lowered by percent points, after a first lift
// of 10; 0 percent returns the colour unchanged. The luminance stays within 0 ... 240.
ColorValue AdjustLuminance(ColorValue color, int percent, bool lighter);

}  // namespace quillon::flatctl
