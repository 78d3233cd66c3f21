#pragma once
// The raster layer every backend shares, in place of GDI's bitmaps and
// palettes: 8-bit pictures with a colour table, 1-bit transparency masks,
// placement of a part of a picture inside a destination rectangle, and the
// fixed 216-colour palette with error-diffusion dithering for displays of 8
// bits per pixel or fewer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ui/geometry.h"

namespace ui {

// Colour table entries are 0x00RRGGBB.
using ColorTable = std::array<std::uint32_t, 256>;

// Top-down rows of one colour index per pixel.
struct Bitmap8 {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  ColorTable colors{};  // entries past colorCount stay zero
  int colorCount = 0;

  Bitmap8() = default;
  Bitmap8(int w, int h)
      : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h)) {}
  std::uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width; }
  const std::uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * width; }
  // Copies up to 256 entries; the rest of the table is cleared.
  void SetColors(std::span<const std::uint32_t> table);
};

// One bit per pixel, rows padded to 16 bits, the leftmost pixel in the most
// significant bit of a row's first byte. A set bit marks a transparent pixel.
class Mask1 {
 public:
  Mask1() = default;
  Mask1(int width, int height);
  static int Stride(int width) { return (width + 15) / 16 * 2; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int RowBytes() const { return stride_; }
  std::span<const std::uint8_t> Bits() const { return bits_; }
  std::uint8_t* Row(int y) { return bits_.data() + static_cast<size_t>(y) * stride_; }
  const std::uint8_t* Row(int y) const { return bits_.data() + static_cast<size_t>(y) * stride_; }
  bool Test(int x, int y) const { return (Row(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }
  void Set(int x, int y) { Row(y)[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7)); }

 private:
  int width_ = 0, height_ = 0, stride_ = 0;
  std::vector<std::uint8_t> bits_;
};

// Windows' MulDiv: number x numerator / denominator in 64 bits, rounded to
// nearest with halves away from zero; -1 for a zero denominator or a result
// outside 32 bits.
int MulDiv(int number, int numerator, int denominator);

// Where `part`, given in a screen of screenWidth x screenHeight, lands when
// that whole screen is drawn into `dest`. Each edge is one multiply-divide,
// so neighbouring parts share their edges exactly.
Rect PlaceInside(Rect dest, Rect part, int screenWidth, int screenHeight);

// The top-left corners of tiles of tileWidth x tileHeight laid over `dest`
// from its top-left corner, every tile that starts inside it.
std::vector<std::pair<int, int>> TileOrigins(Rect dest, int tileWidth, int tileHeight);

// The part of `r` that lies inside `bounds`; empty rectangles have no size.
Rect Intersect(Rect r, Rect bounds);
inline bool IsEmpty(Rect r) { return r.width <= 0 || r.height <= 0; }

// The fixed palette: entry 36 i + 6 j + k is (51 i, 51 j, 51 k).
inline constexpr int kWebPaletteSize = 216;
std::span<const std::uint32_t> WebPalette();

// Floyd-Steinberg error diffusion into the fixed palette, row by row. Rows
// alternate direction, the first left to right; 7/16 of a pixel's error goes
// on along the row, 3, 5 and 1 sixteenths to the row below (behind, under,
// ahead). A pixel takes (sum of the weighted errors + 8) / 16, each channel
// clamped to 0..255, and maps to the level (value + 3) / 51 per channel.
class WebDitherer {
 public:
  explicit WebDitherer(int width);
  // Dithers the next row of colour indices looked up in `table`. Pixels
  // whose index is `skipIndex` (-1 for none) take no part: they get index 0,
  // and the error that reached them is dropped.
  void DitherRow(const std::uint8_t* indices, const ColorTable& table, int skipIndex, std::uint8_t* out);

 private:
  int width_;
  int row_ = 0;
  // Weighted error sums per channel for this row and the next, with one
  // spare pixel on each side so that the edges need no test.
  std::vector<int> current_, next_;
};

}  // namespace ui
