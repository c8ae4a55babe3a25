// JPEG decoding (see jpeg_picture.h). libjpeg reports fatal errors through a callback that must
// not return; it jumps back here with longjmp, so the decoding function holds no objects with
// destructors between setjmp and the end of the decoder's life.
#include "ui/jpeg_picture.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

extern "C" {
#include <jpeglib.h>
}

namespace quillon::ui {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnFatalError(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

void OnMessage(j_common_ptr) {}  // warnings are not shown

// Fills picture; false with errors.message set on failure.
bool Decode(const unsigned char* data, unsigned long size, TPictureData& picture, ErrorManager& errors) {
  jpeg_decompress_struct info;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnFatalError;
  errors.base.output_message = OnMessage;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  picture.width = static_cast<int>(info.output_width);
  picture.height = static_cast<int>(info.output_height);
  picture.pixels.assign(static_cast<size_t>(picture.Stride()) * static_cast<size_t>(picture.height), 0);
  while (info.output_scanline < info.output_height) {
    unsigned char* row = picture.pixels.data() + static_cast<size_t>(info.output_scanline) * picture.Stride();
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(&info, rows, 1);
    for (int x = 0; x < picture.width; ++x) std::swap(row[3 * x], row[3 * x + 2]);  // RGB -> BGR
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

TPictureData DecodeJpeg(const void* data, std::size_t size) {
  if (size == 0) throw EInvalidGraphic("JPEG error: no data");
  TPictureData picture;
  ErrorManager errors;
  std::memset(errors.message, 0, sizeof errors.message);
  // The picture's buffer is allocated inside Decode; the jump lands in Decode's own frame, so the
  // vector's state is always consistent when we get back here.
  if (!Decode(static_cast<const unsigned char*>(data), static_cast<unsigned long>(size), picture, errors))
    throw EInvalidGraphic(std::string("JPEG error: ") + errors.message);
  return picture;
}

}  // namespace quillon::ui
