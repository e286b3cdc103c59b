#include "app/Jpeg.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include "zip/Exception.h"

namespace quv {

namespace {

// libjpeg's default error handler ends the process; this one jumps back to
// the decoder, which then reports the failure as an exception.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, err->message);
  std::longjmp(err->jump, 1);
}

// Plain C-style code only between setjmp and longjmp: nothing with a
// destructor lives here.
HBITMAP Decode(const unsigned char* data, unsigned long size, char* message) {
  jpeg_decompress_struct info{};
  ErrorManager err{};
  HBITMAP volatile bitmap = nullptr;
  info.err = jpeg_std_error(&err.base);
  err.base.error_exit = OnError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    if (bitmap) DeleteObject(bitmap);
    lstrcpynA(message, err.message, JMSG_LENGTH_MAX);
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGR;  // the byte order of a Windows DIB
  jpeg_start_decompress(&info);

  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = static_cast<LONG>(info.output_width);
  bmi.bmiHeader.biHeight = -static_cast<LONG>(info.output_height);  // top-down rows
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 24;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    jpeg_destroy_decompress(&info);
    lstrcpynA(message, "Out of system resources", JMSG_LENGTH_MAX);
    return nullptr;
  }
  const std::size_t stride = (static_cast<std::size_t>(info.output_width) * 3 + 3) & ~std::size_t{3};
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = static_cast<JSAMPROW>(bits) + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return bitmap;
}

}  // namespace

HBITMAP LoadJpegResource(HINSTANCE instance, const char* name) {
  HRSRC res = FindResourceA(instance, name, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL mem = res ? LoadResource(instance, res) : nullptr;
  const void* data = mem ? LockResource(mem) : nullptr;
  if (!data) throw Exception(std::string("Resource ") + name + " not found");
  char message[JMSG_LENGTH_MAX] = {};
  HBITMAP bitmap = Decode(static_cast<const unsigned char*>(data), SizeofResource(instance, res), message);
  if (!bitmap) throw Exception(std::string("JPEG error: ") + message);
  return bitmap;
}

}  // namespace quv
