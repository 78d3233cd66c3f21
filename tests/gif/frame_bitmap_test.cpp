// Frame bitmaps, masks and drawing, against pixels worked out by hand. The
// test pictures use the writer's grey maps: entry i is (i, i, i) in a map of
// 256 entries.
#include <gtest/gtest.h>

#include "gif/picture.h"
#include "test_support.h"

namespace gif::testing {
namespace {

constexpr uint32_t Grey(int level) { return 0xFF000000u | uint32_t(level) * 0x010101u; }

// A picture of one frame of the given size and place in its screen.
std::unique_ptr<TGIFPicture> OneFrame(unsigned screenW, unsigned screenH, TImage image,
                                      const std::vector<uint8_t>& pixels, int transparentIndex = -1,
                                      int colors = 256) {
  TGifBuilder b;
  b.Header(screenW, screenH, colors);
  if (transparentIndex >= 0) b.GraphicControl(0x01, 0, static_cast<uint8_t>(transparentIndex));
  b.Image(image, pixels).Trailer();
  TLoaded loaded = Load(b.Bytes_());
  EXPECT_EQ(loaded.error, "");
  return std::move(loaded.picture);
}

// The bounding box of the pixels that differ from `fill`.
ui::Rect Drawn(const ui::Bitmap32& surface, uint32_t fill) {
  int left = surface.width, top = surface.height, right = -1, bottom = -1;
  for (int y = 0; y < surface.height; ++y)
    for (int x = 0; x < surface.width; ++x)
      if (surface.At(x, y) != fill) {
        left = std::min(left, x), top = std::min(top, y);
        right = std::max(right, x), bottom = std::max(bottom, y);
      }
  return right < 0 ? ui::Rect{} : ui::Rect{left, top, right - left + 1, bottom - top + 1};
}

TEST(FrameBitmap, CopiesTheIndicesWithTheFramesPaletteAndMasksTransparentPixels) {
  // 17 wide: the mask's rows take 4 bytes.
  std::vector<uint8_t> pixels(17 * 3, 40);
  pixels[0] = 200;       // transparent, top-left
  pixels[17 + 16] = 200; // transparent, end of row 1
  auto picture = OneFrame(17, 3, {.width = 17, .height = 3, .localColors = 256}, pixels, 200);
  TGIFFrame& frame = picture->Images()[0];
  const ui::Bitmap8* bitmap = frame.Bitmap();
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->pixels, pixels);
  EXPECT_EQ(bitmap->colorCount, 256);
  EXPECT_EQ(bitmap->colors[40], 0x282828u);
  ASSERT_TRUE(frame.HasMask());
  const ui::Mask1& mask = *frame.Mask();
  EXPECT_EQ(mask.RowBytes(), 4);
  const std::vector<uint8_t> bits(mask.Bits().begin(), mask.Bits().end());
  EXPECT_EQ(bits, (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0}));
  EXPECT_EQ(frame.Bitmap(), bitmap) << "rendered once";

  // Drawn transparently over black: the masked pixels stay black.
  ui::MemoryCanvas canvas(17, 3, 0xFF000000u);
  frame.Draw(canvas, {0, 0, 17, 3}, false, true);
  EXPECT_EQ(canvas.Surface().At(0, 0), 0xFF000000u);
  EXPECT_EQ(canvas.Surface().At(1, 0), Grey(40));
  EXPECT_EQ(canvas.Surface().At(16, 1), 0xFF000000u);
  frame.Draw(canvas, {0, 0, 17, 3}, false, false);
  EXPECT_EQ(canvas.Surface().At(0, 0), Grey(200)) << "opaque when not drawn transparently";
}

TEST(FrameBitmap, ATransparentFrameWithoutTransparentPixelsIsDrawnOpaque) {
  std::vector<uint8_t> pixels(4 * 4, 90);
  auto picture = OneFrame(4, 4, {.width = 4, .height = 4}, pixels, 7);
  TGIFFrame& frame = picture->Images()[0];
  EXPECT_TRUE(frame.Transparent);
  EXPECT_FALSE(frame.HasMask());
  ui::MemoryCanvas canvas(4, 4, 0xFF0000FFu);
  frame.Draw(canvas, {0, 0, 4, 4}, false, true);
  EXPECT_EQ(Drawn(canvas.Surface(), Grey(90)), ui::Rect{});
}

TEST(FrameBitmap, PlacesTheFrameByItsOffsetScaledToTheRectangle) {
  // The spinner's layout: 27 x 27 at 3, 2 of 32 x 32, drawn into 64 x 64.
  std::vector<uint8_t> pixels(27 * 27, 250);
  auto picture = OneFrame(32, 32, {.left = 3, .top = 2, .width = 27, .height = 27}, pixels);
  ui::MemoryCanvas canvas(64, 64, 0xFF000000u);
  picture->Images()[0].Draw(canvas, {0, 0, 64, 64}, false, true);
  EXPECT_EQ(Drawn(canvas.Surface(), 0xFF000000u), (ui::Rect{6, 4, 54, 54}));
  EXPECT_EQ(canvas.Surface().At(6, 4), Grey(250));
  EXPECT_EQ(canvas.Surface().At(59, 57), Grey(250));
}

TEST(FrameBitmap, TilesUnscaledFromTheRectanglesCorner) {
  // A 2 x 2 frame at 1, 0 of a 4 x 2 screen, tiled over 8 x 2 and over 7 x 3.
  auto picture = OneFrame(4, 2, {.left = 1, .width = 2, .height = 2}, {10, 20, 30, 40});
  TGIFFrame& frame = picture->Images()[0];
  ui::MemoryCanvas canvas(10, 4, 0xFF000000u);
  frame.Draw(canvas, {1, 1, 8, 2}, true, true);
  const ui::Bitmap32& s = canvas.Surface();
  EXPECT_EQ(s.At(2, 1), Grey(10));
  EXPECT_EQ(s.At(3, 2), Grey(40));
  EXPECT_EQ(s.At(6, 1), Grey(10)) << "second tile, 4 further";
  EXPECT_EQ(s.At(7, 2), Grey(40));
  EXPECT_EQ(s.At(4, 1), 0xFF000000u);
  EXPECT_EQ(s.At(8, 1), 0xFF000000u);

  ui::MemoryCanvas small(10, 4, 0xFF000000u);
  frame.Draw(small, {0, 0, 6, 3}, true, true);
  EXPECT_EQ(small.Surface().At(5, 0), Grey(10)) << "a tile cut at the rectangle";
  EXPECT_EQ(small.Surface().At(6, 0), 0xFF000000u);
  EXPECT_EQ(small.Surface().At(1, 2), Grey(10)) << "the second row of tiles starts inside";
  EXPECT_EQ(small.Surface().At(1, 3), 0xFF000000u) << "and is cut at the bottom";
}

TEST(FrameBitmap, DithersToTheFixedPaletteAndLeavesTransparentPixelsOut) {
  // Grey 48 rounds up to level 1; the transparent pixel in between takes no
  // error, and is masked.
  auto picture = OneFrame(3, 1, {.width = 3, .height = 1}, {48, 5, 48}, 5);
  picture->PaintOptions = TGIFPaintOptions().Without(ptAutoDither);
  ASSERT_TRUE(picture->Dithering());
  TGIFFrame& frame = picture->Images()[0];
  const ui::Bitmap8* bitmap = frame.Bitmap();
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->colorCount, 216);
  EXPECT_EQ(bitmap->colors[43], 0x333333u);
  EXPECT_EQ(bitmap->pixels, (std::vector<uint8_t>{43, 0, 43}));
  ASSERT_TRUE(frame.HasMask());
  EXPECT_TRUE(frame.Mask()->Test(1, 0));
  EXPECT_EQ(frame.Palette()->size(), 216u);
}

TEST(FrameBitmap, DitheringLooksUpOnlyTheOpaquePixels) {
  // A map of two entries and the transparent index 3 past it, as encoders
  // often write: no warning, since a transparent pixel's colour is never used.
  auto picture = OneFrame(4, 1, {.width = 4, .height = 1}, {0, 1, 3, 3}, 3, 2);
  std::vector<std::string> warnings;
  picture->OnParseWarning = [&](const TPersistent*, int, const std::string& message) { warnings.push_back(message); };
  picture->PaintOptions = TGIFPaintOptions().Without(ptAutoDither);
  TGIFFrame& frame = picture->Images()[0];
  ASSERT_NE(frame.Bitmap(), nullptr);
  EXPECT_EQ(warnings, std::vector<std::string>{});
  EXPECT_EQ(frame.Bitmap()->pixels[1], 215) << "white";
  ASSERT_TRUE(frame.HasMask());
  EXPECT_TRUE(frame.Mask()->Test(2, 0) && frame.Mask()->Test(3, 0));

  // An opaque pixel past the map still warns, once.
  auto opaque = OneFrame(4, 1, {.width = 4, .height = 1}, {0, 2, 3, 2}, 3, 2);
  opaque->OnParseWarning = picture->OnParseWarning;
  opaque->PaintOptions = picture->PaintOptions;
  ASSERT_NE(opaque->Images()[0].Bitmap(), nullptr);
  EXPECT_EQ(warnings, std::vector<std::string>{"Invalid color index"});
}

TEST(FrameBitmap, PalettesFallBackFromLocalToGlobalAndFailWithoutAny) {
  auto local = OneFrame(2, 1, {.width = 2, .height = 1, .localColors = 2}, {0, 1}, -1, 0);
  EXPECT_EQ(*local->Images()[0].Palette(), (TGIFPalette{0x000000, 0xFFFFFF}));
  EXPECT_EQ(*local->Palette(), (TGIFPalette{0x000000, 0xFFFFFF})) << "the first frame's";

  auto none = OneFrame(2, 1, {.width = 2, .height = 1}, {0, 1}, -1, 0);
  EXPECT_THROW(
      {
        try {
          none->Images()[0].Bitmap();
        } catch (const EGIFError& e) {
          EXPECT_STREQ(e.what(), "No global or local color table defined");
          throw;
        }
      },
      EGIFError);
  none->PaintOptions = TGIFPaintOptions().Without(ptAutoDither);
  EXPECT_THROW(none->Images()[0].Bitmap(), EGIFError) << "dithering needs a colour map too";
}

TEST(FrameBitmap, ReportsRenderingProgressAndStopsQuietlyOnAbort) {
  std::vector<uint8_t> pixels(5 * 70, 1);
  auto picture = OneFrame(5, 70, {.width = 5, .height = 70}, pixels);
  std::vector<std::pair<TProgressStage, int>> reports;
  picture->OnProgress = [&](TGIFPicture&, TProgressStage stage, int percent, const std::string& message) {
    EXPECT_EQ(message, "Rendering...");
    reports.emplace_back(stage, percent);
  };
  picture->Images()[0].Bitmap();
  using enum TProgressStage;
  const std::vector<std::pair<TProgressStage, int>> expected = {
      {psStarting, 0}, {psRunning, 45}, {psRunning, 91}, {psEnding, 100}};
  EXPECT_EQ(reports, expected);

  auto aborted = OneFrame(5, 70, {.width = 5, .height = 70}, pixels);
  reports.clear();
  aborted->OnProgress = [&](TGIFPicture&, TProgressStage stage, int percent, const std::string&) {
    reports.emplace_back(stage, percent);
    if (stage == psRunning) throw EAbort();
  };
  EXPECT_EQ(aborted->Images()[0].Bitmap(), nullptr);
  EXPECT_EQ(reports.back(), std::make_pair(psEnding, 0));
  ui::MemoryCanvas canvas(5, 70, 0xFF000000u);
  aborted->Draw(canvas, 0, 0);  // nothing to draw, and no error
  EXPECT_EQ(Drawn(canvas.Surface(), 0xFF000000u), ui::Rect{});
}

TEST(FrameBitmap, ASingleFramePictureDrawsItsFixedFrameWithoutAPainter) {
  TGifBuilder b;
  b.Header(2, 1).Image({.width = 2, .height = 1}, std::vector<uint8_t>{10, 10});
  b.Image({.width = 2, .height = 1}, std::vector<uint8_t>{20, 20}).Trailer();
  TLoaded loaded = Load(b.Bytes_());
  TGIFPicture& picture = *loaded.picture;
  picture.PaintOptions = TGIFPaintOptions().Without(ptAnimate);
  ui::MemoryCanvas canvas(2, 1, 0);
  picture.Draw(canvas, 0, 0);
  EXPECT_EQ(canvas.Surface().At(0, 0), Grey(10));
  picture.FixedFrame = 1;
  picture.Draw(canvas, 0, 0);
  EXPECT_EQ(canvas.Surface().At(0, 0), Grey(20));
  picture.FixedFrame = 2;  // outside: the first
  picture.Draw(canvas, 0, 0);
  EXPECT_EQ(canvas.Surface().At(0, 0), Grey(10));
  EXPECT_EQ(picture.PainterCount(), 0);
}

}  // namespace
}  // namespace gif::testing
