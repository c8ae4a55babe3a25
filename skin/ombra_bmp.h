// TOmbraBmp: the skin engine's 24-bit bitmap and the pixel operations that painting, regions and
// animations are built from.
//
// Invariants:
//  1. Pixels are 3 bytes in the order blue, green, red; rows are top-down and Stride is 3 x width
//     rounded up to a multiple of 4, so the memory is exactly a top-down device-independent bitmap
//     and the Windows build hands it to GDI without conversion (the pixel memory there is a DIB
//     section with a memory device context kept selected on it, see gdi_surface.h).
//  2. Width and height are never negative and never exceed kMaxBitmapSide; a bitmap of zero width
//     or height holds no pixel memory and counts as "no image" wherever an image is optional.
//  3. Every operation clips against both bitmaps: no coordinate, however far outside, reads or
//     writes outside the pixel memory.
// Bitmaps are shared between a skin source and its objects through std::shared_ptr: the use count
// is the reference count, and releasing the last reference frees the bitmap.
// Not thread-safe; the skin engine runs on the user-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillon::skin {

// A colour as the skin stores it: red + 256 x green + 65536 x blue.
using TSkinColor = std::uint32_t;
constexpr TSkinColor SkinRgb(int r, int g, int b) {
  return static_cast<TSkinColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(TSkinColor c) {
  return static_cast<int>(c & 0xFF);
}
constexpr int GreenOf(TSkinColor c) {
  return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int BlueOf(TSkinColor c) {
  return static_cast<int>((c >> 16) & 0xFF);
}
inline constexpr TSkinColor kSkinBlack = 0;
inline constexpr TSkinColor kSkinWhite = 0xFFFFFF;

// Any failure of the skin loader or the bitmap reader; a load that raises it is abandoned.
class ESkinError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Neither side of a bitmap may be longer, and no bitmap may hold more pixels: a damaged header
// must not make the loader reserve gigabytes.
inline constexpr int kMaxBitmapSide = 16384;
inline constexpr std::int64_t kMaxBitmapPixels = 16 * 1024 * 1024;

// A rectangle with exclusive right and bottom edges.
struct TSkinRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const TSkinRect&) const = default;
};
TSkinRect Intersect(const TSkinRect& a, const TSkinRect& b);

// The pixel memory: width, height, Stride, pixel size and a pointer to each row.
class TOmbraRGB {
 public:
  static constexpr int PixelSize = 3;
  TOmbraRGB() = default;
  virtual ~TOmbraRGB();
  TOmbraRGB(const TOmbraRGB&) = delete;
  TOmbraRGB& operator=(const TOmbraRGB&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }
  std::uint8_t* Row(int y) { return rows_[static_cast<std::size_t>(y)]; }
  const std::uint8_t* Row(int y) const { return rows_[static_cast<std::size_t>(y)]; }
  std::uint8_t* Bits() { return bits_; }
  const std::uint8_t* Bits() const { return bits_; }

  // The colour at (x, y); black outside the bitmap.
  TSkinColor Pixel(int x, int y) const;
  // Ignored outside the bitmap.
  void SetPixel(int x, int y, TSkinColor c);
  void Fill(TSkinColor c);
  void FillRect(TSkinRect r, TSkinColor c);

  // Platform data tied to the pixel memory (the DIB section and its device context on Windows).
  struct PlatformData;
  PlatformData* Platform() const { return platform_; }

 protected:
  // Replaces the pixel memory with a blank (black) one; throws ESkinError on bad sizes.
  void Allocate(int width, int height);

 private:
  void FreeMemory();
  int width_ = 0, height_ = 0, stride_ = 0;
  std::uint8_t* bits_ = nullptr;
  std::vector<std::uint8_t*> rows_;
  std::vector<std::uint8_t> memory_;  // the portable build's pixel memory
  PlatformData* platform_ = nullptr;
};

// The memory device context kept selected on the bitmap (an HDC), or nullptr where the platform
// has none or the bitmap is empty.
void* MemoryDc(const TOmbraRGB& bitmap);

class TOmbraBmp;
using TOmbraBmpRef = std::shared_ptr<TOmbraBmp>;

class TOmbraBmp : public TOmbraRGB {
 public:
  TOmbraBmp() = default;
  TOmbraBmp(int width, int height) { Allocate(width, height); }
  // A copy of another bitmap's pixels (the name is not copied).
  explicit TOmbraBmp(const TOmbraBmp& other);
  TOmbraBmp& operator=(const TOmbraBmp&) = delete;

  static TOmbraBmpRef Create(int width, int height) { return std::make_shared<TOmbraBmp>(width, height); }
  // Reads one BMP file from data at pos (pos moves past its last pixel byte); throws ESkinError.
  static TOmbraBmpRef ReadBmp(const std::string& data, std::size_t& pos);
  static TOmbraBmpRef LoadFromFile(const std::string& path);
  // A copy of any bitmap handle (an HBITMAP, any colour depth), converted to 24 bits; Windows
  // only (elsewhere, and for a handle that is not a bitmap, an empty bitmap).
  static TOmbraBmpRef FromBitmapHandle(void* bitmapHandle);
  // Appends this bitmap as an uncompressed 24-bit BMP file (bottom-up rows, 40-byte header).
  void WriteBmp(std::string& out) const;
  bool SaveToFile(const std::string& path) const;

  void Resize(int width, int height) { Allocate(width, height); }

  std::string Name;  // the [Images] key

  // Copies the whole image to (x, y) of target.
  void Draw(TOmbraRGB& target, int x, int y) const;
  // Scales the whole image to w x h by dropping or repeating rows and columns.
  void StretchDraw(TOmbraRGB& target, int x, int y, int w, int h) const;
  // Repeats the image from (x, y) right and down over w x h (built by doubling, so a large area
  // costs a logarithmic number of block copies).
  void TileDraw(TOmbraRGB& target, int x, int y, int w, int h) const;
  // Draws the whole image leaving out every pixel of exactly the key colour.
  void DrawTransparent(TOmbraRGB& target, int x, int y, TSkinColor key) const;
  void TileDrawTransparent(TOmbraRGB& target, int x, int y, int w, int h, TSkinColor key) const;
  void StretchDrawTransparent(TOmbraRGB& target, int x, int y, int w, int h, TSkinColor key) const;

  // Every maximal horizontal run of pixels that differ from key, row by row, as 1-pixel-high
  // rectangles; at most kMaxKeyRuns (further runs are left out, so the region is a subset).
  std::vector<TSkinRect> KeyRuns(TSkinColor key) const;
  static constexpr std::size_t kMaxKeyRuns = 10000;
};

// Copies the inclusive rectangle (left, top, right, bottom) of source to (x, y) of target; rows
// and columns beyond either image are cut off.
void CopyRect(const TOmbraRGB& source, TOmbraRGB& target, TSkinRect inclusive, int x, int y);
// first := (1 - t) first + t second per channel (t clamped to 0..1, halves rounded to even), then
// copied into target; nothing when the sizes differ.
void Blend(TOmbraBmp& first, const TOmbraBmp& second, double t, TOmbraBmp& target);
// target := from with d = round(extent x t) columns or rows of to slid in from one side
// (0 left, 1 right, 2 top, 3 bottom); nothing when the sizes differ.
void Slide(const TOmbraBmp& from, const TOmbraBmp& to, int direction, double t, TOmbraBmp& target);

}  // namespace quillon::skin
