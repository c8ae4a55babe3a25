// RGB <-> HSL on the 0 ... 240 scale (see hsl_utils.h). Integer arithmetic with rounding at each
// division, so that a grey or a primary survives the round trip exactly.
#include "flatctl/hsl_utils.h"

#include <algorithm>

namespace quillon::flatctl {

namespace {

constexpr int kRgbMax = 255;

// One channel from the two luminance bounds and a hue, all on the 0 ... 240 scale.
int HueToChannel(int n1, int n2, int hue) {
  if (hue < 0) hue += kHslMax;
  if (hue > kHslMax) hue -= kHslMax;
  if (hue < kHslMax / 6) return n1 + (((n2 - n1) * hue + kHslMax / 12) / (kHslMax / 6));
  if (hue < kHslMax / 2) return n2;
  if (hue < (kHslMax * 2) / 3) return n1 + (((n2 - n1) * (((kHslMax * 2) / 3) - hue) + kHslMax / 12) / (kHslMax / 6));
  return n1;
}

int ToByte(int channelOnHslScale) {
  return std::clamp((channelOnHslScale * kRgbMax + kHslMax / 2) / kHslMax, 0, kRgbMax);
}

}  // namespace

Hsl RgbToHsl(ColorValue color) {
  int r = RedOf(color), g = GreenOf(color), b = BlueOf(color);
  int cMax = std::max({r, g, b});
  int cMin = std::min({r, g, b});
  Hsl hsl;
  hsl.l = ((cMax + cMin) * kHslMax + kRgbMax) / (2 * kRgbMax);
  if (cMax == cMin) return hsl;  // a grey: no saturation, hue undefined (0)
  int sum = cMax + cMin, delta = cMax - cMin;
  if (hsl.l <= kHslMax / 2)
    hsl.s = (delta * kHslMax + sum / 2) / sum;
  else
    hsl.s = (delta * kHslMax + (2 * kRgbMax - sum) / 2) / (2 * kRgbMax - sum);
  int rDelta = ((cMax - r) * (kHslMax / 6) + delta / 2) / delta;
  int gDelta = ((cMax - g) * (kHslMax / 6) + delta / 2) / delta;
  int bDelta = ((cMax - b) * (kHslMax / 6) + delta / 2) / delta;
  if (r == cMax)
    hsl.h = bDelta - gDelta;
  else if (g == cMax)
    hsl.h = kHslMax / 3 + rDelta - bDelta;
  else
    hsl.h = (2 * kHslMax) / 3 + gDelta - rDelta;
  if (hsl.h < 0) hsl.h += kHslMax;
  if (hsl.h >= kHslMax) hsl.h -= kHslMax;
  hsl.s = std::min(hsl.s, kHslMax);
  return hsl;
}

ColorValue HslToRgb(Hsl hsl) {
  int h = ((hsl.h % kHslMax) + kHslMax) % kHslMax;
  int s = std::clamp(hsl.s, 0, kHslMax);
  int l = std::clamp(hsl.l, 0, kHslMax);
  if (s == 0) {
    int v = ToByte(l);
    return MakeColor(v, v, v);
  }
  int magic2 =
      l <= kHslMax / 2 ? (l * (kHslMax + s) + kHslMax / 2) / kHslMax : l + s - ((l * s) + kHslMax / 2) / kHslMax;
  int magic1 = 2 * l - magic2;
  return MakeColor(ToByte(HueToChannel(magic1, magic2, h + kHslMax / 3)), ToByte(HueToChannel(magic1, magic2, h)),
                   ToByte(HueToChannel(magic1, magic2, h - kHslMax / 3)));
}

ColorValue AdjustLuminance(ColorValue color, int percent, bool lighter) {
  if (percent == 0) return color & 0x00FFFFFF;
  Hsl hsl = RgbToHsl(color);
  int l = hsl.l + 10;
  // The bounds are those of the luminance scale itself: a lighter colour never comes out darker
  // than the one it was derived from.
  hsl.l = lighter ? std::min(l + percent, kHslMax) : std::max(l - percent, 0);
  return HslToRgb(hsl);
}

}  // namespace quillon::flatctl
