// JPEG decoding with libjpeg into a 24-bit device-independent bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillon::ui {

class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Top-down rows of blue, green, red bytes, each row padded to a multiple of 4 bytes, ready for
// the device-independent bitmap functions.
struct TPictureData {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  int Stride() const { return (width * 3 + 3) & ~3; }
  bool Empty() const { return width == 0 || height == 0; }
};

// Raises EInvalidGraphic (with libjpeg's message) for data that is not a readable JPEG.
TPictureData DecodeJpeg(const void* data, std::size_t size);

}  // namespace quillon::ui
