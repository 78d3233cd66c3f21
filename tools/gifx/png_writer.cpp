#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace gifx {

namespace {
struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

std::string WritePng(const std::string& path, const TCanvas& canvas) {
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return "cannot create " + path + ": " + std::strerror(errno);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return "out of memory";
  }
  // libpng reports its failures by jumping back here; nothing with a
  // destructor may be created between here and the end.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "cannot write " + path;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width), static_cast<png_uint_32>(canvas.height), 8,
               PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < canvas.height; ++y) {
    auto* row = reinterpret_cast<png_const_bytep>(&canvas.pixels[static_cast<size_t>(y) * canvas.width]);
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  // A full disk shows only when the buffered rest is written out.
  errno = 0;
  bool written = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  int error = errno;
  if (std::fclose(file.release()) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) return "cannot write " + path + (error ? std::string(": ") + std::strerror(error) : std::string());
  return "";
}

}  // namespace gifx
