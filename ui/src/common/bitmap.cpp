#include "ui/bitmap.h"

#include <algorithm>
#include <mutex>
#include <unordered_set>

#include "ui/raster.h"

namespace ui {
namespace {

// Canvases that exist, so that a painter can tell whether the canvas it was
// given is still there before it draws on it again.
struct LiveCanvases {
  std::mutex lock;
  std::unordered_set<const Canvas*> set;
};

LiveCanvases& Live() {
  static LiveCanvases live;
  return live;
}

// Source coordinate of a destination pixel when `length` destination pixels
// show `sourceLength` source pixels.
inline int Sample(int offset, int length, int sourceLength) {
  return static_cast<int>(static_cast<int64_t>(offset) * sourceLength / length);
}

}  // namespace

Canvas::Canvas() {
  std::lock_guard guard(Live().lock);
  Live().set.insert(this);
}

Canvas::Canvas(const Canvas& other) : Canvas() { onChange = other.onChange; }

Canvas::~Canvas() {
  std::lock_guard guard(Live().lock);
  Live().set.erase(this);
}

bool Canvas::Alive(const Canvas* canvas) {
  std::lock_guard guard(Live().lock);
  return Live().set.count(canvas) != 0;
}

std::uint32_t Premultiply(int r, int g, int b, int a) {
  auto scale = [a](int c) { return static_cast<std::uint32_t>((c * a + 127) / 255); };
  return (static_cast<std::uint32_t>(a) << 24) | (scale(r) << 16) | (scale(g) << 8) | scale(b);
}

PixelCanvas::PixelCanvas(std::uint32_t* pixels, int width, int height)
    : pixels_(pixels), width_(width), height_(height), clip_{0, 0, width, height} {}

void PixelCanvas::SetClipRect(Rect clip) { clip_ = Intersect(clip, {0, 0, width_, height_}); }

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
  Changed();
}

void PixelCanvas::CopyBitmap(Rect dest, const Bitmap32& source, Rect from) {
  if (IsEmpty(dest) || IsEmpty(from)) return;
  const Rect visible = Intersect(dest, clip_);
  // Destination pixels whose source lies outside `source` are left alone.
  for (int dy = visible.top; dy < visible.bottom(); ++dy) {
    const int sy = from.top + Sample(dy - dest.top, dest.height, from.height);
    if (sy < 0 || sy >= source.height) continue;
    std::uint32_t* row = pixels_ + static_cast<size_t>(dy) * width_;
    const std::uint32_t* src = source.pixels.data() + static_cast<size_t>(sy) * source.width;
    if (from.width == dest.width) {
      const int shift = from.left - dest.left;
      const int left = std::max(visible.left, -shift), right = std::min(visible.right(), source.width - shift);
      if (left < right) std::copy(src + left + shift, src + right + shift, row + left);
      continue;
    }
    for (int dx = visible.left; dx < visible.right(); ++dx) {
      const int sx = from.left + Sample(dx - dest.left, dest.width, from.width);
      if (sx >= 0 && sx < source.width) row[dx] = src[sx];
    }
  }
  Changed();
}

void PixelCanvas::DrawBitmap8(Rect dest, const Bitmap8& source, const Mask1* mask) {
  if (IsEmpty(dest) || source.width <= 0 || source.height <= 0) return;
  if (mask && (mask->Width() != source.width || mask->Height() != source.height)) mask = nullptr;
  std::array<std::uint32_t, 256> opaque;
  for (int i = 0; i < 256; ++i) opaque[i] = 0xFF000000u | source.colors[i];
  const Rect visible = Intersect(dest, clip_);
  std::vector<int> columns(static_cast<size_t>(std::max(visible.width, 0)));
  for (int dx = visible.left; dx < visible.right(); ++dx)
    columns[dx - visible.left] = Sample(dx - dest.left, dest.width, source.width);
  for (int dy = visible.top; dy < visible.bottom(); ++dy) {
    const int sy = Sample(dy - dest.top, dest.height, source.height);
    const std::uint8_t* src = source.Row(sy);
    std::uint32_t* row = pixels_ + static_cast<size_t>(dy) * width_ + visible.left;
    for (int i = 0; i < visible.width; ++i) {
      const int sx = columns[i];
      if (mask && mask->Test(sx, sy)) continue;
      row[i] = opaque[src[sx]];
    }
  }
  Changed();
}

void PixelCanvas::FillRect(Rect area, std::uint32_t rgb) {
  const Rect visible = Intersect(area, clip_);
  for (int dy = visible.top; dy < visible.bottom(); ++dy)
    std::fill_n(pixels_ + static_cast<size_t>(dy) * width_ + visible.left, visible.width,
                0xFF000000u | (rgb & 0x00FFFFFFu));
  if (!IsEmpty(visible)) Changed();
}

void PixelCanvas::ReadPixels(Rect area, Bitmap32& into) const {
  if (IsEmpty(area) || into.width <= 0 || into.height <= 0) return;
  for (int y = 0; y < into.height; ++y) {
    const int sy = area.top + Sample(y, into.height, area.height);
    if (sy < 0 || sy >= height_) continue;
    const std::uint32_t* row = pixels_ + static_cast<size_t>(sy) * width_;
    for (int x = 0; x < into.width; ++x) {
      const int sx = area.left + Sample(x, into.width, area.width);
      if (sx >= 0 && sx < width_) into.At(x, y) = row[sx] | 0xFF000000u;
    }
  }
}

MemoryCanvas::MemoryCanvas(int width, int height, std::uint32_t fill)
    : MemoryCanvas(std::make_unique<Bitmap32>(width, height, fill)) {}

MemoryCanvas::MemoryCanvas(std::unique_ptr<Bitmap32> surface)
    : PixelCanvas(surface->pixels.data(), surface->width, surface->height), surface_(std::move(surface)) {}

}  // namespace ui
