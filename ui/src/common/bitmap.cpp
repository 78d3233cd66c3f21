#include "ui/bitmap.h"

#include <algorithm>

namespace ui {

std::uint32_t Premultiply(int r, int g, int b, int a) {
  auto scale = [a](int c) { return static_cast<std::uint32_t>((c * a + 127) / 255); };
  return (static_cast<std::uint32_t>(a) << 24) | (scale(r) << 16) | (scale(g) << 8) | scale(b);
}

PixelCanvas::PixelCanvas(std::uint32_t* pixels, int width, int height)
    : pixels_(pixels), width_(width), height_(height), clip_{0, 0, width, height} {}

void PixelCanvas::SetClipRect(Rect clip) {
  int left = std::max(clip.left, 0), top = std::max(clip.top, 0);
  int right = std::min(clip.right(), width_), bottom = std::min(clip.bottom(), height_);
  clip_ = {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

void PixelCanvas::DrawBitmap(int x, int y, const Bitmap32& bitmap) {
  const int left = std::max(x, clip_.left), top = std::max(y, clip_.top);
  const int right = std::min(x + bitmap.width, clip_.right());
  const int bottom = std::min(y + bitmap.height, clip_.bottom());
  for (int dy = top; dy < bottom; ++dy) {
    std::uint32_t* row = pixels_ + static_cast<size_t>(dy) * width_;
    for (int dx = left; dx < right; ++dx) {
      const std::uint32_t src = bitmap.At(dx - x, dy - y);
      const std::uint32_t alpha = src >> 24;
      if (alpha == 0) continue;
      if (alpha == 255) {
        row[dx] = src;
        continue;
      }
      // Premultiplied "over": dst = src + dst * (1 - alpha).
      const std::uint32_t inverse = 255 - alpha;
      const std::uint32_t dst = row[dx];
      std::uint32_t out = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        std::uint32_t c = ((src >> shift) & 0xFF) + (((dst >> shift) & 0xFF) * inverse + 127) / 255;
        out |= std::min<std::uint32_t>(c, 255) << shift;
      }
      row[dx] = out;
    }
  }
}

MemoryCanvas::MemoryCanvas(int width, int height, std::uint32_t fill)
    : MemoryCanvas(std::make_unique<Bitmap32>(width, height, fill)) {}

MemoryCanvas::MemoryCanvas(std::unique_ptr<Bitmap32> surface)
    : PixelCanvas(surface->pixels.data(), surface->width, surface->height), surface_(std::move(surface)) {}

}  // namespace ui
