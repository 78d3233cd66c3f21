#include "ui/raster.h"

#include <algorithm>
#include <limits>

namespace ui {

void Bitmap8::SetColors(std::span<const std::uint32_t> table) {
  colors.fill(0);
  colorCount = static_cast<int>(std::min<size_t>(table.size(), colors.size()));
  std::copy_n(table.begin(), colorCount, colors.begin());
}

Mask1::Mask1(int width, int height)
    : width_(width), height_(height), stride_(Stride(width)),
      bits_(static_cast<size_t>(stride_) * static_cast<size_t>(height)) {}

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  int64_t product = static_cast<int64_t>(number) * numerator;
  int64_t divisor = denominator;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  const int64_t half = divisor / 2;
  const int64_t result = product >= 0 ? (product + half) / divisor : -((-product + half) / divisor);
  if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min()) return -1;
  return static_cast<int>(result);
}

Rect PlaceInside(Rect dest, Rect part, int screenWidth, int screenHeight) {
  if (screenWidth <= 0 || screenHeight <= 0) return dest;
  const int left = dest.left + MulDiv(part.left, dest.width, screenWidth);
  const int top = dest.top + MulDiv(part.top, dest.height, screenHeight);
  const int right = dest.left + MulDiv(part.left + part.width, dest.width, screenWidth);
  const int bottom = dest.top + MulDiv(part.top + part.height, dest.height, screenHeight);
  return {left, top, right - left, bottom - top};
}

std::vector<std::pair<int, int>> TileOrigins(Rect dest, int tileWidth, int tileHeight) {
  std::vector<std::pair<int, int>> origins;
  if (tileWidth <= 0 || tileHeight <= 0 || IsEmpty(dest)) return origins;
  for (int64_t y = dest.top; y < dest.bottom(); y += tileHeight)
    for (int64_t x = dest.left; x < dest.right(); x += tileWidth)
      origins.emplace_back(static_cast<int>(x), static_cast<int>(y));
  return origins;
}

Rect Intersect(Rect r, Rect bounds) {
  const int left = std::max(r.left, bounds.left), top = std::max(r.top, bounds.top);
  const int right = std::min(r.right(), bounds.right()), bottom = std::min(r.bottom(), bounds.bottom());
  return {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

std::span<const std::uint32_t> WebPalette() {
  static const std::array<std::uint32_t, kWebPaletteSize> palette = [] {
    std::array<std::uint32_t, kWebPaletteSize> p{};
    for (std::uint32_t r = 0; r < 6; ++r)
      for (std::uint32_t g = 0; g < 6; ++g)
        for (std::uint32_t b = 0; b < 6; ++b) p[36 * r + 6 * g + b] = (51 * r) << 16 | (51 * g) << 8 | 51 * b;
    return p;
  }();
  return palette;
}

WebDitherer::WebDitherer(int width)
    : width_(std::max(width, 0)),
      current_(3 * (static_cast<size_t>(width_) + 2)),
      next_(3 * (static_cast<size_t>(width_) + 2)) {}

void WebDitherer::DitherRow(const std::uint8_t* indices, const ColorTable& table, int skipIndex,
                            std::uint8_t* out) {
  const bool leftToRight = row_++ % 2 == 0;
  const int step = leftToRight ? 1 : -1;
  std::fill(next_.begin(), next_.end(), 0);
  for (int i = 0; i < width_; ++i) {
    const int x = leftToRight ? i : width_ - 1 - i;
    if (indices[x] == skipIndex) {
      out[x] = 0;
      continue;
    }
    const std::uint32_t color = table[indices[x]];
    int level[3];
    int error[3];
    for (int c = 0; c < 3; ++c) {
      const int channel = static_cast<int>((color >> (16 - 8 * c)) & 0xFF);
      // Truncated toward zero, not floored: small negative sums add nothing.
      const int value = std::clamp(channel + (current_[3 * (x + 1) + c] + 8) / 16, 0, 255);
      level[c] = (value + 3) / 51;
      error[c] = value - level[c] * 51;
    }
    out[x] = static_cast<std::uint8_t>(36 * level[0] + 6 * level[1] + level[2]);
    const int ahead = 3 * (x + 1 + step), here = 3 * (x + 1), behind = 3 * (x + 1 - step);
    for (int c = 0; c < 3; ++c) {
      current_[ahead + c] += 7 * error[c];
      next_[behind + c] += 3 * error[c];
      next_[here + c] += 5 * error[c];
      next_[ahead + c] += error[c];
    }
  }
  current_.swap(next_);
}

}  // namespace ui
