#pragma once
// 32-bit pictures and the surface they are drawn on, shared by every backend.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ui/geometry.h"

namespace ui {

struct Bitmap8;
class Mask1;

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

// Where pictures draw, and the block transfers that take GDI's place.
// Coordinates are those of the surface; drawing is clipped to ClipRect().
// Every change of the surface is passed on through onChange.
class Canvas {
 public:
  Canvas();
  Canvas(const Canvas&);
  Canvas& operator=(const Canvas&) = default;
  virtual ~Canvas();

  virtual Rect ClipRect() const = 0;
  // Narrows drawing to `clip` within the surface.
  virtual void SetClipRect(Rect clip) = 0;
  // Blends a premultiplied bitmap with its top-left corner at (x, y).
  virtual void DrawBitmap(int x, int y, const Bitmap32& bitmap) = 0;
  // The transfers below stretch with the nearest source pixel when the
  // sizes differ. Copies the part `from` of `source` into `dest` as it is.
  virtual void CopyBitmap(Rect dest, const Bitmap32& source, Rect from) = 0;
  // Draws an 8-bit picture into `dest`, opaque; through `mask` when given,
  // where a set bit keeps the surface's pixel.
  virtual void DrawBitmap8(Rect dest, const Bitmap8& source, const Mask1* mask) = 0;
  // Fills with an opaque colour 0x00RRGGBB, the layout of the pixels.
  virtual void FillRect(Rect area, std::uint32_t rgb) = 0;
  // Reads the surface at `area` into the whole of `into`, made opaque;
  // pixels of `into` that fall outside the surface are left as they were.
  virtual void ReadPixels(Rect area, Bitmap32& into) const = 0;

  std::function<void()> onChange;
  // Whether the canvas still exists: painters that outlive a paint check
  // it before they draw again.
  static bool Alive(const Canvas* canvas);

 protected:
  void Changed() const {
    if (onChange) onChange();
  }
};

// A canvas over 32-bit pixel rows that someone else holds: a Bitmap32, or
// the back buffer of a native window.
class PixelCanvas : public Canvas {
 public:
  PixelCanvas(std::uint32_t* pixels, int width, int height);
  Rect ClipRect() const override { return clip_; }
  void SetClipRect(Rect clip) override;
  void DrawBitmap(int x, int y, const Bitmap32& bitmap) override;
  void CopyBitmap(Rect dest, const Bitmap32& source, Rect from) override;
  void DrawBitmap8(Rect dest, const Bitmap8& source, const Mask1* mask) override;
  void FillRect(Rect area, std::uint32_t rgb) override;
  void ReadPixels(Rect area, Bitmap32& into) const override;
  int Width() const { return width_; }
  int Height() const { return height_; }

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
  // The pixels themselves, for filling the surface wholesale; its size stays.
  Bitmap32& Surface() { return *surface_; }

 private:
  MemoryCanvas(std::unique_ptr<Bitmap32> surface);
  std::unique_ptr<Bitmap32> surface_;
};

}  // namespace ui
