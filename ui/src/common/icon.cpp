#include "ui/icon.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ui {
namespace {

// Little-endian reads that refuse to run past the data.
class Cursor {
 public:
  explicit Cursor(std::span<const std::uint8_t> data) : data_(data) {}
  bool Has(size_t offset, size_t size) const {
    return offset <= data_.size() && size <= data_.size() - offset;
  }
  std::uint32_t U16(size_t offset) const {
    Need(offset, 2);
    return data_[offset] | (data_[offset + 1] << 8);
  }
  std::uint32_t U32(size_t offset) const {
    Need(offset, 4);
    return U16(offset) | (U16(offset + 2) << 16);
  }
  std::int32_t I32(size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
  const std::uint8_t* At(size_t offset, size_t size) const {
    Need(offset, size);
    return data_.data() + offset;
  }

 private:
  void Need(size_t offset, size_t size) const {
    if (!Has(offset, size)) throw PictureError("Icon data is truncated");
  }
  std::span<const std::uint8_t> data_;
};

constexpr int kMaxIconSide = 256;

}  // namespace

// ICONDIR (6 bytes), ICONDIRENTRY (16 bytes each), then each image as a
// BITMAPINFOHEADER whose height counts the colour rows and the AND-mask rows.
IconPicture::IconPicture(std::span<const std::uint8_t> data) {
  Cursor in(data);
  if (in.U16(0) != 0 || in.U16(2) != 1) throw PictureError("Not an icon");
  count_ = static_cast<int>(in.U16(4));
  if (count_ == 0) throw PictureError("Icon holds no image");
  const std::uint32_t size = in.U32(6 + 8);
  const std::uint32_t offset = in.U32(6 + 12);
  if (!in.Has(offset, size) || size < 40) throw PictureError("Icon image lies outside the data");
  Cursor image(data.subspan(offset, size));
  const std::uint32_t headerSize = image.U32(0);
  const std::int32_t width = image.I32(4);
  const std::int32_t doubledHeight = image.I32(8);
  const std::uint32_t bitCount = image.U16(14);
  const std::uint32_t compression = image.U32(16);
  if (headerSize < 40 || compression != 0) throw PictureError("Unsupported icon image");
  if (width <= 0 || width > kMaxIconSide || doubledHeight <= 0 || doubledHeight / 2 > kMaxIconSide)
    throw PictureError("Unsupported icon size");
  if (bitCount != 32 && bitCount != 24) throw PictureError("Unsupported icon colour depth");
  const int height = doubledHeight / 2;
  const size_t colorStride = ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
  const size_t maskStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
  const size_t colorBytes = colorStride * height;
  const std::uint8_t* colors = image.At(headerSize, colorBytes);
  // 32-bit images with alpha may leave out the mask; 24-bit ones need it.
  const bool hasMask = image.Has(headerSize + colorBytes, maskStride * height);
  if (bitCount == 24 && !hasMask) throw PictureError("Icon image lacks its mask");
  const std::uint8_t* mask = hasMask ? image.At(headerSize + colorBytes, maskStride * height) : nullptr;

  image_ = Bitmap32(width, height);
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;  // rows are stored bottom-up
    const std::uint8_t* line = colors + colorStride * row;
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* px = line + x * (bitCount / 8);
      int alpha = bitCount == 32 ? px[3] : 255;
      if (bitCount == 24 && (mask[maskStride * row + x / 8] & (0x80 >> (x % 8)))) alpha = 0;
      image_.At(x, y) = Premultiply(px[2], px[1], px[0], alpha);
    }
  }
}

// Bilinear resampling of premultiplied pixels: colours at the edges do not
// bleed into the clear surround.
void IconPicture::Scale(int num, int den) {
  shown_ = Bitmap32();
  if (num == den || num <= 0 || den <= 0 || image_.width == 0 || image_.height == 0) return;
  const int w = std::max(1, image_.width * num / den), h = std::max(1, image_.height * num / den);
  Bitmap32 out(w, h);
  const auto channel = [](std::uint32_t p, int shift) { return static_cast<double>((p >> shift) & 0xFF); };
  for (int y = 0; y < h; ++y) {
    const double sy = std::clamp((y + 0.5) * image_.height / h - 0.5, 0.0, image_.height - 1.0);
    const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, image_.height - 1);
    const double fy = sy - y0;
    for (int x = 0; x < w; ++x) {
      const double sx = std::clamp((x + 0.5) * image_.width / w - 0.5, 0.0, image_.width - 1.0);
      const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, image_.width - 1);
      const double fx = sx - x0;
      std::uint32_t pixel = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const double top = channel(image_.At(x0, y0), shift) * (1 - fx) + channel(image_.At(x1, y0), shift) * fx;
        const double bottom = channel(image_.At(x0, y1), shift) * (1 - fx) + channel(image_.At(x1, y1), shift) * fx;
        pixel |= static_cast<std::uint32_t>(std::lround(top * (1 - fy) + bottom * fy)) << shift;
      }
      out.At(x, y) = pixel;
    }
  }
  shown_ = std::move(out);
}

}  // namespace ui
