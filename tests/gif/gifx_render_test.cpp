// gifx shows the frames the program's painter shows: its composed frames
// are the painter's, pixel for pixel, for every disposal and every disposal
// that may precede it; where gifx leaves a pixel clear the painter shows
// what lay under the picture.
#include <gtest/gtest.h>

#include "gif/animator.h"
#include "gif/picture.h"
#include "render.h"
#include "test_support.h"

namespace gif::testing {
namespace {

class TInstantClock final : public TAnimationClock {
 public:
  int64_t Now() override { return now_; }
  bool Wait(TWakeEvent*, int64_t ms) override {
    now_ += ms > 0 ? ms : 0;
    return false;
  }

 private:
  int64_t now_ = 0;
};

// A 6 x 5 screen: a full frame, then two small ones that overlap it and each
// other, with the disposals given, and a last frame that shows what they
// left. Frame 1 has a transparent pixel.
Bytes Sequence(int first, int second) {
  TGifBuilder b;
  b.Header(6, 5, 16, 3);
  b.GraphicControl(0, 1, 0).Image({.width = 6, .height = 5}, Bytes(30, 9));
  b.GraphicControl(static_cast<uint8_t>(first << 2 | 1), 1, 15)
      .Image({.left = 1, .top = 1, .width = 3, .height = 2}, Bytes{4, 15, 4, 4, 4, 4});
  b.GraphicControl(static_cast<uint8_t>(second << 2), 1, 0)
      .Image({.left = 2, .top = 2, .width = 3, .height = 3}, Bytes(9, 12));
  b.GraphicControl(0, 1, 0).Image({.left = 5, .top = 0, .width = 1, .height = 1}, Bytes{1});
  return b.Trailer().Take();
}

// What the painter shows after each frame, on a black canvas.
std::vector<ui::Bitmap32> Played(TGIFPicture& picture) {
  TInstantClock clock;
  picture.Clock = &clock;
  picture.PaintOptions = picture.PaintOptions.Without(ptThreaded).Without(ptLoop).With(ptDirect);
  ui::MemoryCanvas canvas(picture.Width(), picture.Height(), 0xFF000000u);
  std::vector<ui::Bitmap32> shown;
  picture.OnFrameEnd = [&](TGIFAnimator&) { shown.push_back(canvas.Surface()); };
  picture.Draw(canvas, {0, 0, picture.Width(), picture.Height()});
  picture.OnFrameEnd = nullptr;
  return shown;
}

TEST(GifxRender, ComposedFramesAreThePaintersForEveryDisposal) {
  for (int first = 0; first <= 4; ++first)
    for (int second = 0; second <= 4; ++second) {
      SCOPED_TRACE(::testing::Message() << "disposals " << first << ", " << second);
      const Bytes gif = Sequence(first, second);
      TLoaded played = Load(gif), loaded = Load(gif);
      ASSERT_EQ(played.error + loaded.error, "");
      TGIFPicture& composed = *loaded.picture;
      const auto expected = Played(*played.picture);
      ASSERT_EQ(expected.size(), 4u);
      gifx::TComposer composer(composed);
      for (int i = 0; i < 4; ++i) {
        const gifx::TCanvas& got = composer.Show(composed.Images()[i], i);
        ASSERT_EQ(got.pixels.size(), expected[i].pixels.size());
        for (size_t k = 0; k < got.pixels.size(); ++k) {
          const gifx::TRgba c = got.pixels[k];
          const uint32_t argb = c.a ? 0xFF000000u | uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b : 0xFF000000u;
          ASSERT_EQ(argb, expected[i].pixels[k]) << "frame " << i << ", pixel " << k;
        }
      }
    }
}

TEST(GifxRender, SequencesOfDifferentDisposalsEndDifferently) {
  // The cases above tell the disposals apart: "background", "previous",
  // "keep", and "previous" after "background" each leave another screen.
  std::vector<Bytes> last;
  for (auto [first, second] : {std::pair{1, 1}, {2, 1}, {3, 1}, {2, 3}, {1, 3}}) {
    TLoaded loaded = Load(Sequence(first, second));
    TGIFPicture& picture = *loaded.picture;
    gifx::TComposer composer(picture);
    Bytes screen;
    for (int i = 0; i < 4; ++i)
      for (const auto& c : composer.Show(picture.Images()[i], i).pixels) screen.insert(screen.end(), {c.r, c.a});
    for (const auto& other : last) EXPECT_NE(screen, other) << first << ", " << second;
    last.push_back(screen);
  }
}

TEST(GifxRender, RawFrameIsTheFrameAloneWithItsTransparentPixelsClear) {
  TLoaded loaded = Load(Sequence(1, 1));
  TGIFPicture& picture = *loaded.picture;
  const gifx::TCanvas raw = gifx::RawFrame(picture.Images()[1]);
  ASSERT_EQ(raw.width, 3);
  ASSERT_EQ(raw.height, 2);
  EXPECT_EQ(raw.pixels[1].a, 0);
  EXPECT_EQ(raw.pixels[0].a, 255);
  EXPECT_EQ(raw.pixels[0].r, picture.Header().ColorMap().Data()[4].Red);
}

}  // namespace
}  // namespace gif::testing
