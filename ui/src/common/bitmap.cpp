#include "ui/bitmap.h"

#include <algorithm>

namespace ui {

std::uint32_t Premultiply(int r, int g, int b, int a) {
  auto scale = [a](int c) { return static_cast<std::uint32_t>((c * a + 127) / 255); };
  return (static_cast<std::uint32_t>(a) << 24) | (scale(r) << 16) | (scale(g) << 8) | scale(b);
}

MemoryCanvas::MemoryCanvas(int width, int height, std::uint32_t fill)
    : surface_(width, height, fill), clip_{0, 0, width, height} {}

void MemoryCanvas::SetClipRect(Rect clip) {
  int left = std::max(clip.left, 0), top = std::max(clip.top, 0);
  int right = std::min(clip.right(), surface_.width), bottom = std::min(clip.bottom(), surface_.height);
  clip_ = {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

void MemoryCanvas::DrawBitmap(int x, int y, const Bitmap32& bitmap) {
  const int left = std::max(x, clip_.left), top = std::max(y, clip_.top);
  const int right = std::min(x + bitmap.width, clip_.right());
  const int bottom = std::min(y + bitmap.height, clip_.bottom());
  for (int dy = top; dy < bottom; ++dy) {
    for (int dx = left; dx < right; ++dx) {
      const std::uint32_t src = bitmap.At(dx - x, dy - y);
      const std::uint32_t inverse = 255 - (src >> 24);
      std::uint32_t& dst = surface_.At(dx, dy);
      std::uint32_t out = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        std::uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        std::uint32_t c = s + (d * inverse + 127) / 255;
        out |= std::min<std::uint32_t>(c, 255) << shift;
      }
      dst = out;
    }
  }
}

}  // namespace ui
