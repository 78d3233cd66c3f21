#pragma once
// 32-bit pictures and the surface they are drawn on, shared by every backend.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ui/geometry.h"

namespace ui {

// Top-down rows of premultiplied pixels, 0xAARRGGBB (B, G, R, A in memory),
// the layout of a 32-bit Windows DIB section with alpha.
struct Bitmap32 {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  Bitmap32() = default;
  Bitmap32(int w, int h, std::uint32_t fill = 0)
      : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}
  std::uint32_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Straight (not premultiplied) colour and alpha to a premultiplied pixel.
std::uint32_t Premultiply(int r, int g, int b, int a);

// Where pictures draw. Coordinates are those of the surface; drawing is
// clipped to ClipRect().
class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual Rect ClipRect() const = 0;
  // Blends a premultiplied bitmap with its top-left corner at (x, y).
  virtual void DrawBitmap(int x, int y, const Bitmap32& bitmap) = 0;
};

// A canvas over 32-bit pixel rows that someone else holds: a Bitmap32, or
// the back buffer of a native window.
class PixelCanvas : public Canvas {
 public:
  PixelCanvas(std::uint32_t* pixels, int width, int height);
  Rect ClipRect() const override { return clip_; }
  // Narrows drawing to `clip` within the surface.
  void SetClipRect(Rect clip);
  void DrawBitmap(int x, int y, const Bitmap32& bitmap) override;

 private:
  std::uint32_t* pixels_;
  int width_, height_;
  Rect clip_;
};

// A canvas with a surface of its own: the headless backend's, and tests'.
class MemoryCanvas final : public PixelCanvas {
 public:
  MemoryCanvas(int width, int height, std::uint32_t fill);
  const Bitmap32& Surface() const { return *surface_; }

 private:
  MemoryCanvas(std::unique_ptr<Bitmap32> surface);
  std::unique_ptr<Bitmap32> surface_;
};

}  // namespace ui
