#include "ui/raster.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "ui/application.h"
#include "ui/bitmap.h"
#include "ui/synchronise.h"

namespace ui {
namespace {

TEST(Placement, MultiplyDivideRoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(3, 64, 32), 6);
  EXPECT_EQ(MulDiv(1, 3, 2), 2);    // 1.5
  EXPECT_EQ(MulDiv(-1, 3, 2), -2);  // -1.5
  EXPECT_EQ(MulDiv(5, 1, 3), 2);    // 1.67
  EXPECT_EQ(MulDiv(4, 1, 3), 1);    // 1.33
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(1 << 30, 8, 1), -1);  // outside 32 bits
}

TEST(Placement, APartOfTheScreenScalesWithItsEdges) {
  // A 27 x 27 frame at 3, 2 of a 32 x 32 picture drawn into 64 x 64.
  EXPECT_EQ(PlaceInside({0, 0, 64, 64}, {3, 2, 27, 27}, 32, 32), (Rect{6, 4, 54, 54}));
  EXPECT_EQ(PlaceInside({10, 20, 32, 32}, {3, 2, 27, 27}, 32, 32), (Rect{13, 22, 27, 27}));
  // Shrunk to a third: 10 x 1/3 = 3.33 and 20 x 1/3 = 6.67.
  EXPECT_EQ(PlaceInside({0, 0, 10, 10}, {10, 10, 10, 10}, 30, 30), (Rect{3, 3, 4, 4}));
}

TEST(Placement, TilesStartInsideTheDestination) {
  const auto origins = TileOrigins({5, 5, 64, 20}, 32, 16);
  const std::vector<std::pair<int, int>> expected = {{5, 5}, {37, 5}, {5, 21}, {37, 21}};
  EXPECT_EQ(origins, expected);
  EXPECT_TRUE(TileOrigins({0, 0, 10, 10}, 0, 5).empty());
  EXPECT_EQ(TileOrigins({0, 0, 65, 1}, 32, 32).size(), 3u);
}

TEST(Mask1, RowsArePaddedTo16BitsWithTheLeftmostPixelHigh) {
  EXPECT_EQ(Mask1::Stride(1), 2);
  EXPECT_EQ(Mask1::Stride(16), 2);
  EXPECT_EQ(Mask1::Stride(17), 4);
  Mask1 mask(17, 2);
  EXPECT_EQ(mask.Bits().size(), 8u);
  mask.Set(0, 0);
  mask.Set(16, 1);
  EXPECT_EQ(mask.Bits()[0], 0x80);
  EXPECT_EQ(mask.Bits()[4 + 2], 0x80);
  EXPECT_TRUE(mask.Test(16, 1));
  EXPECT_FALSE(mask.Test(15, 1));
}

TEST(WebPalette, EntriesAreMultiplesOf51) {
  const auto palette = WebPalette();
  ASSERT_EQ(palette.size(), 216u);
  EXPECT_EQ(palette[0], 0x000000u);
  EXPECT_EQ(palette[36 * 1 + 6 * 2 + 3], 0x336699u);
  EXPECT_EQ(palette[215], 0xFFFFFFu);
}

ColorTable Table(std::initializer_list<std::uint32_t> colors) {
  ColorTable table{};
  std::copy(colors.begin(), colors.end(), table.begin());
  return table;
}

TEST(WebDitherer, PaletteColoursPassUnchanged) {
  WebDitherer ditherer(4);
  const ColorTable table = Table({0x336699, 0xFF0033});
  const std::uint8_t row[4] = {0, 1, 1, 0};
  std::uint8_t out[4];
  for (int y = 0; y < 3; ++y) {
    ditherer.DitherRow(row, table, -1, out);
    EXPECT_EQ(out[0], 36 * 1 + 6 * 2 + 3);
    EXPECT_EQ(out[1], 36 * 5 + 0 + 1);
    EXPECT_EQ(out[3], out[0]);
  }
}

TEST(WebDitherer, SpreadsTheErrorForwardAndDownAlternatingDirection) {
  // Greys, worked by hand (level = (v + 3) / 51, error = v - 51 x level):
  // row 0, left to right, 100 48 100:
  //   x0: 100 -> level 2, error -2; x1 gets 7 x -2 = -14.
  //   x1: 48 + (-14 + 8) / 16 = 48 (truncated toward zero) -> level 1,
  //       error -3; x2 gets -21.
  //   x2: 100 + (-21 + 8) / 16 = 100 -> level 2, error -2.
  //   Sums for row 1: x0 = 5(-2) + 3(-3) = -19, x1 = 1(-2) + 5(-3) + 3(-2)
  //   = -23, x2 = 1(-3) + 5(-2) = -13.
  // row 1, right to left, 45 20 20:
  //   x2: 20 + (-13 + 8) / 16 = 20 -> level 0, error 20; x1 gets 140.
  //   x1: 20 + (117 + 8) / 16 = 27 -> level 0, error 27; x0 gets 189.
  //   x0: 45 + (170 + 8) / 16 = 56 -> level 1.
  const ColorTable table = Table({0x646464, 0x303030, 0x2D2D2D, 0x141414});
  WebDitherer ditherer(3);
  std::uint8_t out[3];
  const std::uint8_t row0[3] = {0, 1, 0}, row1[3] = {2, 3, 3};
  constexpr int grey = 36 + 6 + 1;
  ditherer.DitherRow(row0, table, -1, out);
  EXPECT_EQ(out[0], 2 * grey);
  EXPECT_EQ(out[1], 1 * grey);
  EXPECT_EQ(out[2], 2 * grey);
  ditherer.DitherRow(row1, table, -1, out);
  EXPECT_EQ(out[0], 1 * grey);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);

  // 48 is the first value that rounds up: (48 + 3) / 51 = 1, error -3.
  // The skipped middle pixel takes no error and passes none on, so the
  // third pixel sees only what the first sent it from the row above (none).
  WebDitherer skipping(3);
  const ColorTable dark = Table({0x303030, 0x2F2F2F});
  const std::uint8_t mixed[3] = {1, 0, 1};
  skipping.DitherRow(mixed, dark, 0, out);
  EXPECT_EQ(out[0], 0);  // 47 -> level 0, error 47
  EXPECT_EQ(out[1], 0);  // skipped
  EXPECT_EQ(out[2], 0);  // 47 again: the error of 47 x 7 went into the skipped pixel
  const std::uint8_t light[3] = {0, 0, 0};
  WebDitherer plain(3);
  plain.DitherRow(light, dark, -1, out);
  EXPECT_EQ(out[0], grey);  // 48 -> level 1
}

TEST(PixelCanvas, StretchesEightBitPicturesThroughTheirMask) {
  Bitmap8 picture(2, 2);
  picture.SetColors(std::vector<std::uint32_t>{0xFF0000, 0x00FF00, 0x0000FF});
  picture.pixels = {0, 1, 2, 0};
  Mask1 mask(2, 2);
  mask.Set(1, 1);
  MemoryCanvas canvas(6, 4, 0xFF808080u);
  canvas.DrawBitmap8({1, 0, 4, 4}, picture, &mask);
  const Bitmap32& s = canvas.Surface();
  EXPECT_EQ(s.At(0, 0), 0xFF808080u);
  EXPECT_EQ(s.At(1, 0), 0xFFFF0000u);
  EXPECT_EQ(s.At(2, 1), 0xFFFF0000u);
  EXPECT_EQ(s.At(3, 0), 0xFF00FF00u);
  EXPECT_EQ(s.At(1, 3), 0xFF0000FFu);
  EXPECT_EQ(s.At(4, 3), 0xFF808080u);  // masked: the canvas shows through
  EXPECT_EQ(s.At(5, 0), 0xFF808080u);

  int changes = 0;
  canvas.onChange = [&] { ++changes; };
  canvas.SetClipRect({0, 0, 2, 4});
  canvas.DrawBitmap8({0, 0, 6, 4}, picture, nullptr);
  EXPECT_EQ(s.At(1, 0), 0xFFFF0000u);
  EXPECT_EQ(s.At(2, 0), 0xFFFF0000u) << "outside the clip";
  EXPECT_EQ(changes, 1);
}

TEST(PixelCanvas, CopiesAndReadsBlocksThatReachPastTheSurface) {
  MemoryCanvas canvas(4, 4, 0xFF000000u);
  Bitmap32 block(2, 2, 0xFF112233u);
  block.At(1, 1) = 0xFF445566u;
  canvas.CopyBitmap({3, 3, 2, 2}, block, {0, 0, 2, 2});
  EXPECT_EQ(canvas.Surface().At(3, 3), 0xFF112233u);
  canvas.CopyBitmap({0, 0, 2, 2}, block, {1, 1, 2, 2});  // source partly outside
  EXPECT_EQ(canvas.Surface().At(0, 0), 0xFF445566u);
  EXPECT_EQ(canvas.Surface().At(1, 1), 0xFF000000u);
  canvas.FillRect({-1, -1, 2, 2}, 0x0000FF);
  EXPECT_EQ(canvas.Surface().At(0, 0), 0xFF0000FFu);

  Bitmap32 read(3, 3, 0x12345678u);
  canvas.ReadPixels({2, 2, 3, 3}, read);
  EXPECT_EQ(read.At(1, 1), 0xFF112233u);
  EXPECT_EQ(read.At(2, 2), 0x12345678u);  // past the surface: left as it was
}

TEST(Canvas, KnowsWhichCanvasesExist) {
  const Canvas* gone;
  {
    MemoryCanvas canvas(1, 1, 0);
    EXPECT_TRUE(Canvas::Alive(&canvas));
    gone = &canvas;
  }
  EXPECT_FALSE(Canvas::Alive(gone));
}

TEST(SynchronisedCalls, RunOnTheUiThreadAndCarryTheirErrorsBack) {
  Application::Instance();  // this thread is the UI thread
  UiCallGate gate;
  std::thread::id ranOn;
  std::atomic<int> done{0};
  std::string error;
  std::thread worker([&] {
    RunOnUiThread([&] { ranOn = std::this_thread::get_id(); }, gate);
    try {
      RunOnUiThread([] { throw std::runtime_error("inside"); }, gate);
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    done = 1;
  });
  while (!done) {
    if (!ServiceSynchronisedCalls()) WaitForSynchronisedCall(5);
  }
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(error, "inside");
  bool ranHere = false;
  EXPECT_TRUE(RunOnUiThread([&] { ranHere = true; }, gate));
  EXPECT_TRUE(ranHere);
}

TEST(SynchronisedCalls, ClosingTheGateWithdrawsAWaitingCall) {
  // The UI thread never serves the queue here: without the gate the worker
  // would wait for ever, and a UI thread waiting for the worker with it.
  Application::Instance();
  UiCallGate gate;
  std::atomic<bool> ran{false};
  std::atomic<int> answer{-1};
  std::thread worker([&] { answer = RunOnUiThread([&] { ran = true; }, gate) ? 1 : 0; });
  while (answer == -1 && !gate.Closed()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate.Close();
  }
  worker.join();
  EXPECT_EQ(answer, 0);
  ServiceSynchronisedCalls();
  EXPECT_FALSE(ran) << "a withdrawn call never runs";
  EXPECT_FALSE(RunOnUiThread([&] { ran = true; }, gate));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace ui
