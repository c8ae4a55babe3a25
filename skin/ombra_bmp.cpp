#include "skin/ombra_bmp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "skin/skin_bytes.h"
#include "util/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillon::skin {

#ifdef _WIN32
// The DIB section that holds the pixels and the memory device context kept selected on it, so GDI
// draws text and copies to windows straight from the bitmap.
struct TOmbraRGB::PlatformData {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
};
#else
struct TOmbraRGB::PlatformData {};
#endif

TSkinRect Intersect(const TSkinRect& a, const TSkinRect& b) {
  TSkinRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
  if (r.Empty()) return {};
  return r;
}

TOmbraRGB::~TOmbraRGB() {
  FreeMemory();
}

void* MemoryDc(const TOmbraRGB& bitmap) {
#ifdef _WIN32
  return bitmap.Platform() ? bitmap.Platform()->dc : nullptr;
#else
  (void)bitmap;
  return nullptr;
#endif
}

void TOmbraRGB::FreeMemory() {
#ifdef _WIN32
  if (platform_) {
    if (platform_->dc) {
      SelectObject(platform_->dc, platform_->previous);
      DeleteDC(platform_->dc);
    }
    if (platform_->bitmap) DeleteObject(platform_->bitmap);
    delete platform_;
    platform_ = nullptr;
  }
#endif
  memory_.clear();
  memory_.shrink_to_fit();
  rows_.clear();
  bits_ = nullptr;
  width_ = height_ = stride_ = 0;
}

void TOmbraRGB::Allocate(int width, int height) {
  if (width < 0 || height < 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
      static_cast<std::int64_t>(width) * height > kMaxBitmapPixels)
    throw ESkinError("bitmap size " + std::to_string(width) + " x " + std::to_string(height) + " out of range");
  FreeMemory();
  if (width == 0 || height == 0) return;
  const int stride = (width * PixelSize + 3) / 4 * 4;
#ifdef _WIN32
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) throw ESkinError("cannot create a bitmap");
  platform_ = new PlatformData;
  platform_->bitmap = bitmap;
  platform_->dc = CreateCompatibleDC(nullptr);
  if (platform_->dc) platform_->previous = SelectObject(platform_->dc, bitmap);
  bits_ = static_cast<std::uint8_t*>(bits);
  std::memset(bits_, 0, static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
#else
  memory_.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0);
  bits_ = memory_.data();
#endif
  width_ = width;
  height_ = height;
  stride_ = stride;
  rows_.resize(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) rows_[static_cast<std::size_t>(y)] = bits_ + static_cast<std::size_t>(y) * stride;
}

TSkinColor TOmbraRGB::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kSkinBlack;
  const std::uint8_t* p = Row(y) + x * PixelSize;
  return SkinRgb(p[2], p[1], p[0]);
}

void TOmbraRGB::SetPixel(int x, int y, TSkinColor c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t* p = Row(y) + x * PixelSize;
  p[0] = static_cast<std::uint8_t>(BlueOf(c));
  p[1] = static_cast<std::uint8_t>(GreenOf(c));
  p[2] = static_cast<std::uint8_t>(RedOf(c));
}

void TOmbraRGB::Fill(TSkinColor c) {
  FillRect({0, 0, width_, height_}, c);
}

void TOmbraRGB::FillRect(TSkinRect r, TSkinColor c) {
  r = Intersect(r, {0, 0, width_, height_});
  for (int y = r.top; y < r.bottom; ++y) {
    std::uint8_t* p = Row(y) + r.left * PixelSize;
    for (int x = r.left; x < r.right; ++x, p += PixelSize) {
      p[0] = static_cast<std::uint8_t>(BlueOf(c));
      p[1] = static_cast<std::uint8_t>(GreenOf(c));
      p[2] = static_cast<std::uint8_t>(RedOf(c));
    }
  }
}

TOmbraBmp::TOmbraBmp(const TOmbraBmp& other) : TOmbraRGB() {
  Allocate(other.Width(), other.Height());
  for (int y = 0; y < Height(); ++y) std::memcpy(Row(y), other.Row(y), static_cast<std::size_t>(Width()) * PixelSize);
}

void CopyRect(const TOmbraRGB& source, TOmbraRGB& target, TSkinRect inclusive, int x, int y) {
  // Work in 64 bits: the rectangle may come straight from a skin file.
  std::int64_t l = inclusive.left, t = inclusive.top, r = static_cast<std::int64_t>(inclusive.right) + 1,
               b = static_cast<std::int64_t>(inclusive.bottom) + 1;
  std::int64_t dx = x, dy = y;
  if (l < 0) {
    dx -= l;
    l = 0;
  }
  if (t < 0) {
    dy -= t;
    t = 0;
  }
  if (dx < 0) {
    l -= dx;
    dx = 0;
  }
  if (dy < 0) {
    t -= dy;
    dy = 0;
  }
  r = std::min<std::int64_t>({r, source.Width(), l + (target.Width() - dx)});
  b = std::min<std::int64_t>({b, source.Height(), t + (target.Height() - dy)});
  if (r <= l || b <= t) return;
  const std::size_t bytes = static_cast<std::size_t>(r - l) * TOmbraRGB::PixelSize;
  for (std::int64_t row = t; row < b; ++row)
    std::memmove(target.Row(static_cast<int>(dy + row - t)) + dx * TOmbraRGB::PixelSize,
                 source.Row(static_cast<int>(row)) + l * TOmbraRGB::PixelSize, bytes);
}

void TOmbraBmp::Draw(TOmbraRGB& target, int x, int y) const {
  if (Width() == 0 || Height() == 0) return;
  CopyRect(*this, target, {0, 0, Width() - 1, Height() - 1}, x, y);
}

void TOmbraBmp::StretchDraw(TOmbraRGB& target, int x, int y, int w, int h) const {
  if (Width() == 0 || Height() == 0 || w <= 0 || h <= 0) return;
  const TSkinRect clip = Intersect({x, y, x + w, y + h}, {0, 0, target.Width(), target.Height()});
  for (int ty = clip.top; ty < clip.bottom; ++ty) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(ty - y) * Height() / h);
    const std::uint8_t* src = Row(sy);
    std::uint8_t* dst = target.Row(ty);
    for (int tx = clip.left; tx < clip.right; ++tx) {
      const int sx = static_cast<int>(static_cast<std::int64_t>(tx - x) * Width() / w);
      std::memcpy(dst + tx * PixelSize, src + sx * PixelSize, PixelSize);
    }
  }
}

void TOmbraBmp::TileDraw(TOmbraRGB& target, int x, int y, int w, int h) const {
  if (Width() == 0 || Height() == 0 || w <= 0 || h <= 0) return;
  // Only the part that lands on the target is built: its first block starts at the phase of the
  // pattern there, and doubling keeps that phase.
  const TSkinRect clip = Intersect({x, y, x + w, y + h}, {0, 0, target.Width(), target.Height()});
  if (clip.Empty()) return;
  const int cw = clip.Width(), ch = clip.Height();
  const int px = (clip.left - x) % Width(), py = (clip.top - y) % Height();
  TOmbraBmp tile(cw, ch);
  const int bw = std::min(Width(), cw), bh = std::min(Height(), ch);
  for (int j = 0; j < bh; ++j)
    for (int i = 0; i < bw; ++i)
      std::memcpy(tile.Row(j) + i * PixelSize, Row((py + j) % Height()) + ((px + i) % Width()) * PixelSize, PixelSize);
  for (int filled = bw; filled < cw; filled *= 2) CopyRect(tile, tile, {0, 0, filled - 1, bh - 1}, filled, 0);
  for (int filled = bh; filled < ch; filled *= 2) CopyRect(tile, tile, {0, 0, cw - 1, filled - 1}, 0, filled);
  tile.Draw(target, clip.left, clip.top);
}

void TOmbraBmp::DrawTransparent(TOmbraRGB& target, int x, int y, TSkinColor key) const {
  const TSkinRect clip = Intersect({x, y, x + Width(), y + Height()}, {0, 0, target.Width(), target.Height()});
  for (int ty = clip.top; ty < clip.bottom; ++ty)
    for (int tx = clip.left; tx < clip.right; ++tx) {
      const TSkinColor c = Pixel(tx - x, ty - y);
      if (c != key) target.SetPixel(tx, ty, c);
    }
}

// The transparent forms give the same pixels as building the tiled or stretched image at the
// target size and drawing that with the key left out, without a temporary of that size.
void TOmbraBmp::TileDrawTransparent(TOmbraRGB& target, int x, int y, int w, int h, TSkinColor key) const {
  if (Width() == 0 || Height() == 0 || w <= 0 || h <= 0) return;
  const TSkinRect clip = Intersect({x, y, x + w, y + h}, {0, 0, target.Width(), target.Height()});
  for (int ty = clip.top; ty < clip.bottom; ++ty)
    for (int tx = clip.left; tx < clip.right; ++tx) {
      const TSkinColor c = Pixel((tx - x) % Width(), (ty - y) % Height());
      if (c != key) target.SetPixel(tx, ty, c);
    }
}

void TOmbraBmp::StretchDrawTransparent(TOmbraRGB& target, int x, int y, int w, int h, TSkinColor key) const {
  if (Width() == 0 || Height() == 0 || w <= 0 || h <= 0) return;
  const TSkinRect clip = Intersect({x, y, x + w, y + h}, {0, 0, target.Width(), target.Height()});
  for (int ty = clip.top; ty < clip.bottom; ++ty) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(ty - y) * Height() / h);
    for (int tx = clip.left; tx < clip.right; ++tx) {
      const int sx = static_cast<int>(static_cast<std::int64_t>(tx - x) * Width() / w);
      const TSkinColor c = Pixel(sx, sy);
      if (c != key) target.SetPixel(tx, ty, c);
    }
  }
}

std::vector<TSkinRect> TOmbraBmp::KeyRuns(TSkinColor key) const {
  std::vector<TSkinRect> runs;
  for (int y = 0; y < Height(); ++y) {
    int x = 0;
    while (x < Width()) {
      while (x < Width() && Pixel(x, y) == key) ++x;
      if (x >= Width()) break;
      const int start = x;
      while (x < Width() && Pixel(x, y) != key) ++x;
      if (runs.size() >= kMaxKeyRuns) return runs;
      runs.push_back({start, y, x, y + 1});
    }
  }
  return runs;
}

namespace {
double Clamp01(double t) {
  if (!(t >= 0)) return 0;  // also NaN
  return std::min(t, 1.0);
}
int RoundHalfEven(double v) {
  return static_cast<int>(std::nearbyint(v));
}
}  // namespace

void Blend(TOmbraBmp& first, const TOmbraBmp& second, double t, TOmbraBmp& target) {
  if (first.Width() != second.Width() || first.Height() != second.Height()) return;
  t = Clamp01(t);
  for (int y = 0; y < first.Height(); ++y) {
    std::uint8_t* a = first.Row(y);
    const std::uint8_t* b = second.Row(y);
    for (int i = 0; i < first.Width() * TOmbraRGB::PixelSize; ++i)
      a[i] = static_cast<std::uint8_t>(std::clamp(RoundHalfEven((1 - t) * a[i] + t * b[i]), 0, 255));
  }
  if (&target != &first) {
    if (target.Width() != first.Width() || target.Height() != first.Height())
      target.Resize(first.Width(), first.Height());
    first.Draw(target, 0, 0);
  }
}

void Slide(const TOmbraBmp& from, const TOmbraBmp& to, int direction, double t, TOmbraBmp& target) {
  if (from.Width() != to.Width() || from.Height() != to.Height()) return;
  t = Clamp01(t);
  const int w = from.Width(), h = from.Height();
  if (target.Width() != w || target.Height() != h) target.Resize(w, h);
  from.Draw(target, 0, 0);
  switch (direction) {
    case 0: {
      const int d = RoundHalfEven(w * t);
      if (d > 0) CopyRect(to, target, {w - d, 0, w - 1, h - 1}, 0, 0);
      break;
    }
    case 1: {
      const int d = RoundHalfEven(w * t);
      if (d > 0) CopyRect(to, target, {0, 0, d - 1, h - 1}, w - d, 0);
      break;
    }
    case 2: {
      const int d = RoundHalfEven(h * t);
      if (d > 0) CopyRect(to, target, {0, h - d, w - 1, h - 1}, 0, 0);
      break;
    }
    case 3: {
      const int d = RoundHalfEven(h * t);
      if (d > 0) CopyRect(to, target, {0, 0, w - 1, d - 1}, 0, h - d);
      break;
    }
    default:
      break;
  }
}

// ---- BMP files ----
//
// File header (14 bytes): "BM", file size (unused), 4 reserved bytes, pixel offset (unused: the
// pixels follow the colour table directly, as in a package record).
// Information header: size (4 bytes); 12 = short form (16-bit width and height, planes, bit
// count); 40 or more = width, height (negative: top-down), planes, bit count, compression, image
// size, two resolutions, colour count, important colours; a header of 52 bytes or more carries
// the channel masks itself, a 40-byte header with compression 3 is followed by 12 bytes of them.
// Then the colour table (3-byte entries after a short header, 4-byte otherwise) and the pixels.

namespace {

struct ChannelMask {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;
  explicit ChannelMask(std::uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  std::uint8_t Of(std::uint32_t v) const {
    if (!max) return 0;
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>((v & mask) >> shift) * 255 / max);
  }
};

// What the file header and the bitmap header of a BMP record say.
struct TBmpHeader {
  std::uint32_t HeaderSize = 0;
  std::int64_t Width = 0, Height = 0;
  bool TopDown = false;
  int BitCount = 0;
  std::uint32_t Compression = 0, ImageSize = 0, Colours = 0;
  std::uint32_t Masks[3] = {0, 0, 0};
  bool HaveMasks = false;
};

void ReadInfoHeader(TByteReader& in, std::size_t headerStart, TBmpHeader& h) {
  if (h.HeaderSize > in.Remaining() + 4) throw ESkinError("BMP header larger than its record");
  h.Width = in.I32();
  h.Height = in.I32();
  in.U16();
  h.BitCount = in.U16();
  h.Compression = in.U32();
  h.ImageSize = in.U32();
  in.Skip(8);
  h.Colours = in.U32();
  in.U32();
  if (h.HeaderSize >= 52) {
    for (auto& m : h.Masks) m = in.U32();
    h.HaveMasks = h.Compression == 3;
  }
  in.Skip(h.HeaderSize - (in.Position() - headerStart));
  // The masks of a 40-byte header follow it, where a palette would be.
  if (h.HeaderSize == 40 && h.Compression == 3 && (h.BitCount == 16 || h.BitCount == 32)) {
    for (auto& m : h.Masks) m = in.U32();
    h.HaveMasks = true;
  }
}

TBmpHeader ReadBmpHeader(TByteReader& in) {
  if (in.Bytes(2) != "BM") throw ESkinError("not a BMP file");
  in.Skip(12);
  const std::size_t headerStart = in.Position();
  TBmpHeader h;
  h.HeaderSize = in.U32();
  if (h.HeaderSize == 12) {
    h.Width = in.U16();
    h.Height = static_cast<std::int16_t>(in.U16());
    in.U16();
    h.BitCount = in.U16();
  } else if (h.HeaderSize >= 40) {
    ReadInfoHeader(in, headerStart, h);
  } else {
    throw ESkinError("unknown BMP header size " + std::to_string(h.HeaderSize));
  }
  const int bits = h.BitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    throw ESkinError("unsupported BMP bit count " + std::to_string(bits));
  if (!(h.Compression == 0 || (h.Compression == 3 && (bits == 16 || bits == 32))))
    throw ESkinError("compressed BMP files are not supported");
  h.TopDown = h.Height < 0;
  if (h.TopDown) h.Height = -h.Height;
  if (h.Width < 0 || h.Width > kMaxBitmapSide || h.Height > kMaxBitmapSide || h.Width * h.Height > kMaxBitmapPixels)
    throw ESkinError("BMP dimensions out of range");
  if (!h.HaveMasks) {
    if (bits == 16) {
      h.Masks[0] = 0x7C00, h.Masks[1] = 0x03E0, h.Masks[2] = 0x001F;
    } else {
      h.Masks[0] = 0xFF0000, h.Masks[1] = 0xFF00, h.Masks[2] = 0xFF;
    }
  }
  return h;
}

std::vector<TSkinColor> ReadPalette(TByteReader& in, const TBmpHeader& h) {
  std::uint64_t tableCount = h.Colours;
  if (tableCount == 0 && h.BitCount <= 8) tableCount = 1u << h.BitCount;
  const std::uint64_t entrySize = h.HeaderSize == 12 ? 3 : 4;
  if (tableCount * entrySize > in.Remaining()) throw ESkinError("BMP colour table beyond its record");
  std::vector<TSkinColor> palette(static_cast<std::size_t>(tableCount));
  for (auto& c : palette) {
    const std::string e = in.Bytes(static_cast<std::size_t>(entrySize));
    c = SkinRgb(static_cast<std::uint8_t>(e[2]), static_cast<std::uint8_t>(e[1]), static_cast<std::uint8_t>(e[0]));
  }
  return palette;
}

// One pixel of a row; the row holds at least the bytes of its width.
TSkinColor PixelAt(const std::uint8_t* src, int x, const TBmpHeader& h, const std::vector<TSkinColor>& palette,
                   const ChannelMask (&channel)[3]) {
  switch (h.BitCount) {
    case 1:
    case 4:
    case 8: {
      const int perByte = 8 / h.BitCount;
      const int shift = 8 - h.BitCount * (x % perByte + 1);
      const unsigned index = (src[x / perByte] >> shift) & ((1u << h.BitCount) - 1);
      return index < palette.size() ? palette[index] : kSkinBlack;
    }
    case 16: {
      const std::uint32_t v = src[x * 2] | (src[x * 2 + 1] << 8);
      return SkinRgb(channel[0].Of(v), channel[1].Of(v), channel[2].Of(v));
    }
    case 24:
      return SkinRgb(src[x * 3 + 2], src[x * 3 + 1], src[x * 3]);
    case 32: {
      const std::uint32_t v = static_cast<std::uint32_t>(src[x * 4]) | (src[x * 4 + 1] << 8) | (src[x * 4 + 2] << 16) |
                              (static_cast<std::uint32_t>(src[x * 4 + 3]) << 24);
      return SkinRgb(channel[0].Of(v), channel[1].Of(v), channel[2].Of(v));
    }
  }
  return 0;
}

}  // namespace

TOmbraBmpRef TOmbraBmp::ReadBmp(const std::string& data, std::size_t& pos) {
  TByteReader in(data, pos);
  const TBmpHeader h = ReadBmpHeader(in);
  const std::vector<TSkinColor> palette = ReadPalette(in, h);

  const std::uint64_t rowBytes = (static_cast<std::uint64_t>(h.Width) * h.BitCount + 31) / 32 * 4;
  const std::uint64_t needed = rowBytes * static_cast<std::uint64_t>(h.Height);
  const std::uint64_t pixelBytes = h.ImageSize ? h.ImageSize : needed;
  if (pixelBytes < needed) throw ESkinError("BMP image size smaller than its rows");
  if (pixelBytes > in.Remaining()) throw ESkinError("BMP pixels beyond the end of the record");
  const std::size_t pixelStart = in.Position();
  in.Skip(static_cast<std::size_t>(pixelBytes));

  auto bmp = Create(static_cast<int>(h.Width), static_cast<int>(h.Height));
  const ChannelMask channel[3] = {ChannelMask(h.Masks[0]), ChannelMask(h.Masks[1]), ChannelMask(h.Masks[2])};
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  for (std::int64_t row = 0; row < h.Height; ++row) {
    const std::uint8_t* src = bytes + pixelStart + static_cast<std::size_t>(row * rowBytes);
    const int y = static_cast<int>(h.TopDown ? row : h.Height - 1 - row);
    for (int x = 0; x < h.Width; ++x) bmp->SetPixel(x, y, PixelAt(src, x, h, palette, channel));
  }
  pos = in.Position();
  return bmp;
}

TOmbraBmpRef TOmbraBmp::FromBitmapHandle(void* bitmapHandle) {
  auto bmp = std::make_shared<TOmbraBmp>();
#ifdef _WIN32
  HBITMAP handle = static_cast<HBITMAP>(bitmapHandle);
  BITMAP info{};
  if (!handle || !GetObjectA(handle, sizeof(info), &info)) return bmp;
  bmp->Resize(info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight);
  if (bmp->Width() == 0 || bmp->Height() == 0) return bmp;
  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  header.bmiHeader.biWidth = bmp->Width();
  header.bmiHeader.biHeight = -bmp->Height();  // top-down, as our rows are
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 24;
  header.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, handle, 0, static_cast<UINT>(bmp->Height()), bmp->Bits(), &header, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
#else
  (void)bitmapHandle;
#endif
  return bmp;
}

TOmbraBmpRef TOmbraBmp::LoadFromFile(const std::string& path) {
  std::string data;
  if (!platform::ReadWholeFile(path, data)) throw ESkinError("cannot read " + path);
  std::size_t pos = 0;
  return ReadBmp(data, pos);
}

void TOmbraBmp::WriteBmp(std::string& out) const {
  const std::uint32_t rowBytes = static_cast<std::uint32_t>((Width() * 3 + 3) / 4 * 4);
  const std::uint32_t imageSize = rowBytes * static_cast<std::uint32_t>(Height());
  out += "BM";
  PutU32(out, 54 + imageSize);
  PutU32(out, 0);
  PutU32(out, 54);
  PutU32(out, 40);
  PutU32(out, static_cast<std::uint32_t>(Width()));
  PutU32(out, static_cast<std::uint32_t>(Height()));
  PutU16(out, 1);
  PutU16(out, 24);
  PutU32(out, 0);
  PutU32(out, imageSize);
  PutU32(out, 2835);
  PutU32(out, 2835);
  PutU32(out, 0);
  PutU32(out, 0);
  for (int y = Height() - 1; y >= 0; --y) {
    out.append(reinterpret_cast<const char*>(Row(y)), static_cast<std::size_t>(Width()) * 3);
    out.append(rowBytes - static_cast<std::size_t>(Width()) * 3, '\0');
  }
}

bool TOmbraBmp::SaveToFile(const std::string& path) const {
  std::string out;
  WriteBmp(out);
  return platform::WriteWholeFile(path, out);
}

}  // namespace quillon::skin
