// Drawing costs: rendering frame bitmaps (plain and dithered), drawing a
// cached frame through its mask, and composing one cycle of the window's
// spinner. Rendering happens once per frame; drawing and composing happen
// for every frame shown, on the UI thread.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>

#include "gif/animator.h"
#include "gif/picture.h"
#include "gif_writer.h"
#include "ui/bitmap.h"

using namespace gif;

namespace {

std::vector<uint8_t> ReadPicture(const char* name) {
  std::ifstream file(std::string(ROVEND_SOURCE_DIR) + "/resources/pictures/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::unique_ptr<TGIFPicture> Load(const std::vector<uint8_t>& bytes) {
  auto picture = std::make_unique<TGIFPicture>();
  TMemoryStream stream(bytes);
  picture->LoadFromStream(stream);
  return picture;
}

// A 1000 x 1000 frame of smooth colour with a transparent stripe.
const std::vector<uint8_t>& LargeFrame() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> pixels(1000 * 1000);
    for (int y = 0; y < 1000; ++y)
      for (int x = 0; x < 1000; ++x) pixels[y * 1000 + x] = x % 97 == 0 ? 255 : static_cast<uint8_t>((x + y) / 8);
    testing::TGifBuilder b;
    b.Header(1000, 1000).GraphicControl(0x01, 0, 255).Image({.width = 1000, .height = 1000}, pixels);
    return b.Trailer().Take();
  }();
  return bytes;
}

void Render(benchmark::State& state, const std::vector<uint8_t>& bytes, bool dither) {
  auto picture = Load(bytes);
  if (dither) picture->PaintOptions = TGIFPaintOptions().Without(ptAutoDither);
  int64_t pixels = 0;
  for (auto _ : state) {
    for (const auto& frame : picture->Images()) {
      frame->FreeBitmap();
      benchmark::DoNotOptimize(frame->Bitmap());
      pixels += frame->Width() * frame->Height();
    }
  }
  state.counters["pixels/s"] = benchmark::Counter(static_cast<double>(pixels), benchmark::Counter::kIsRate);
}

void BM_RenderLarge(benchmark::State& state) { Render(state, LargeFrame(), false); }
void BM_RenderLargeDithered(benchmark::State& state) { Render(state, LargeFrame(), true); }
void BM_RenderBanner(benchmark::State& state) { Render(state, ReadPicture("banner.gif"), false); }
void BM_RenderSpinner(benchmark::State& state) { Render(state, ReadPicture("spinner.gif"), false); }

void BM_DrawBannerThroughMask(benchmark::State& state) {
  auto picture = Load(ReadPicture("banner.gif"));
  ui::MemoryCanvas canvas(354, 185, 0xFFF0F0F0u);
  canvas.SetClipRect({24, 32, 289, 65});
  for (auto _ : state) picture->Draw(canvas, 24, 32);
  state.SetItemsProcessed(state.iterations());
}

// Virtual time: the painter never waits.
class TNoWait final : public TAnimationClock {
 public:
  int64_t Now() override { return now_; }
  bool Wait(TWakeEvent*, int64_t ms) override {
    now_ += ms;
    return false;
  }

 private:
  int64_t now_ = 0;
};

void BM_ComposeSpinnerCycle(benchmark::State& state) {
  auto picture = Load(ReadPicture("spinner.gif"));
  TNoWait clock;
  picture->Clock = &clock;
  picture->SpeedPercent = 1 << 30;
  picture->PaintOptions = TGIFPaintOptions().Without(ptThreaded).Without(ptLoop).With(ptDirect);
  ui::MemoryCanvas canvas(354, 185, 0xFFF0F0F0u);
  int64_t frames = 0;
  for (auto _ : state) {
    picture->Draw(canvas, 304, 40);
    picture->StopAllPainters();
    frames += picture->Images().Count();
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_RenderLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderLargeDithered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderBanner)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderSpinner)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawBannerThroughMask)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeSpinnerCycle)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
