// The painter, played in virtual time: the test clock advances by each wait
// at once, unless the wait is long (or endless), which blocks for real until
// the painter is woken. This thread is the UI thread and serves the
// painter's drawing steps.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "gif/animator.h"
#include "gif/picture.h"
#include "test_support.h"
#include "ui/application.h"
#include "ui/headless.h"
#include "ui/synchronise.h"

namespace gif::testing {
namespace {

constexpr uint32_t Grey(int level) { return 0xFF000000u | uint32_t(level) * 0x010101u; }

class TTestClock final : public TAnimationClock {
 public:
  int64_t Now() override { return now_; }
  bool Wait(TWakeEvent* wake, int64_t ms) override {
    {
      std::lock_guard guard(lock_);
      waits_.push_back(ms);
    }
    if (ms == kInfinite || ms >= blockFrom) {
      const bool woken = wake && wake->Wait(kInfinite);
      std::lock_guard guard(lock_);
      wokenWaits_.push_back(ms);
      return woken;
    }
    if (wake && wake->TryWait()) return true;
    now_ += ms;
    return false;
  }
  // Time that passes outside the painter's waits, as a busy UI thread takes.
  void Advance(int64_t ms) { now_ += ms; }
  std::vector<int64_t> Waits() {
    std::lock_guard guard(lock_);
    return waits_;
  }
  std::vector<int64_t> WokenWaits() {
    std::lock_guard guard(lock_);
    return wokenWaits_;
  }
  int64_t blockFrom = INT64_MAX;

 private:
  std::atomic<int64_t> now_{0};
  std::mutex lock_;
  std::vector<int64_t> waits_, wokenWaits_;
};

struct TFrameShown {
  int frame;
  int64_t at;
  bool operator==(const TFrameShown&) const = default;
};

// Serves the UI thread until `done` holds; gives up after a while so that a
// fault shows as a failure rather than a hang.
template <class Predicate>
bool Serve(Predicate done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    ui::Application::Instance().ProcessMessages();
    ui::WaitForSynchronisedCall(5);
  }
  return true;
}

struct TFrameSpec {
  uint16_t delay = 0;
  int disposal = 0;
  bool gce = true;
  uint8_t level = 0;  // the grey every pixel shows
  int transparentIndex = -1;
};

// An animation on a 4 x 4 screen whose frames fill it with one grey each;
// the looping block, when wanted, goes before frame `loopAt`.
std::vector<uint8_t> Animation(const std::vector<TFrameSpec>& frames, int loops = -1, int loopAt = 0,
                               TImage place = {.width = 4, .height = 4}) {
  TGifBuilder b;
  b.Header(4, 4);
  for (size_t i = 0; i < frames.size(); ++i) {
    const TFrameSpec& f = frames[i];
    if (loops >= 0 && static_cast<int>(i) == loopAt) b.Loop(static_cast<uint16_t>(loops));
    if (f.gce)
      b.GraphicControl(static_cast<uint8_t>(f.disposal << 2 | (f.transparentIndex >= 0 ? 1 : 0)), f.delay,
                       static_cast<uint8_t>(std::max(f.transparentIndex, 0)));
    b.Image(place, std::vector<uint8_t>(size_t{place.width} * place.height, f.level));
  }
  return b.Trailer().Take();
}

class Painter : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application::Instance();
    ui::headless::Reset();
  }

  // Loads and hooks the picture: every frame begun is recorded with its time.
  TGIFPicture& Picture(const std::vector<uint8_t>& bytes) {
    loaded_ = Load(bytes);
    EXPECT_EQ(loaded_.error, "");
    TGIFPicture& picture = *loaded_.picture;
    picture.Clock = &clock_;
    picture.OnFrameBegin = [this](TGIFAnimator& painter) {
      shown_.push_back({painter.ActiveFrame, clock_.Now()});
    };
    picture.OnAnimationEnd = [this](TGIFAnimator&) { ended_ = true; };
    return picture;
  }

  std::vector<int> Frames() const {
    std::vector<int> frames;
    for (const auto& s : shown_) frames.push_back(s.frame);
    return frames;
  }

  TTestClock clock_;
  TLoaded loaded_;
  std::vector<TFrameShown> shown_;
  bool ended_ = false;
  ui::MemoryCanvas canvas_{8, 8, 0xFF0000FFu};
};

TEST_F(Painter, TheSpinnerCyclesEvery840MillisecondsForEver) {
  std::vector<TFrameSpec> frames;
  for (int i = 0; i < 6; ++i) frames.push_back({.delay = uint16_t(i < 5 ? 10 : 20), .disposal = i < 5 ? 1 : 0,
                                                .level = uint8_t(10 * i)});
  TGIFPicture& picture = Picture(Animation(frames, 0));
  picture.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return shown_.size() >= 19; }));
  const std::vector<TFrameShown> firstCycle = {{0, 0}, {1, 120}, {2, 240}, {3, 360}, {4, 480}, {5, 600}, {0, 840}};
  EXPECT_EQ(std::vector<TFrameShown>(shown_.begin(), shown_.begin() + 7), firstCycle);
  EXPECT_EQ(shown_[12], (TFrameShown{0, 1680}));
  EXPECT_EQ(shown_[18], (TFrameShown{0, 2520}));
  EXPECT_FALSE(ended_);
  EXPECT_EQ(picture.PainterCount(), 1);
  // The painter drew into the picture's own bitmap, which draws copy.
  ASSERT_NE(picture.OwnBitmap(), nullptr);
  ui::MemoryCanvas copy(4, 4, 0);
  picture.Draw(copy, 0, 0);
  EXPECT_EQ(copy.Surface().pixels, picture.OwnBitmap()->pixels);
  picture.StopAllPainters();
  EXPECT_EQ(picture.PainterCount(), 0);
  EXPECT_EQ(picture.OwnBitmap(), nullptr);
}

TEST_F(Painter, LoopCountsAndTheLoopPoint) {
  // Count 2 on the first frame: two plays, ending on the last frame.
  TGIFPicture& twice = Picture(Animation({{.delay = 5, .level = 10}, {.delay = 5, .level = 20},
                                          {.delay = 5, .level = 30}}, 2));
  twice.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return ended_; }));
  EXPECT_EQ(Frames(), (std::vector<int>{0, 1, 2, 0, 1, 2}));
  EXPECT_EQ(twice.DrawPainter(), nullptr) << "gone once ended";
  EXPECT_EQ(twice.OwnBitmap()->At(0, 0), Grey(30));

  // Without a looping block: once. A block on the third frame: every
  // repetition starts there.
  shown_.clear();
  ended_ = false;
  TGIFPicture& once = Picture(Animation({{.level = 1}, {.level = 2}}));
  once.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return ended_; }));
  EXPECT_EQ(Frames(), (std::vector<int>{0, 1}));

  shown_.clear();
  TGIFPicture& third = Picture(Animation({{.level = 1}, {.level = 2}, {.level = 3}, {.level = 4}}, 0, 2));
  third.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return shown_.size() >= 9; }));
  const std::vector<int> frames = Frames();
  EXPECT_EQ(std::vector<int>(frames.begin(), frames.begin() + 9), (std::vector<int>{0, 1, 2, 3, 2, 3, 2, 3, 2}));
}

TEST_F(Painter, DelaysDefaultRiseToTheMinimumAndFollowTheSpeed) {
  // No graphic control: 10 units; 1 unit: raised to 3; 5000 units threaded.
  TGIFPicture& picture = Picture(Animation({{.gce = false, .level = 1}, {.delay = 1, .level = 2},
                                            {.delay = 5000, .level = 3}, {.level = 4}}));
  picture.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return ended_; }));
  EXPECT_EQ(clock_.Waits(), (std::vector<int64_t>{120, 36, 60000}));

  // At half speed every wait doubles.
  shown_.clear();
  ended_ = false;
  TTestClock slow;
  TGIFPicture& half = Picture(Animation({{.delay = 10, .level = 1}, {.delay = 10, .level = 2}, {.level = 3}}));
  half.Clock = &slow;
  half.SpeedPercent = 50;
  half.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return ended_; }));
  EXPECT_EQ(slow.Waits(), (std::vector<int64_t>{240, 240}));

  // A negative speed has no wake event to wait on: the frames follow at once.
  ended_ = false;
  TTestClock none;
  TGIFPicture& fast = Picture(Animation({{.delay = 10, .level = 1}, {.delay = 10, .level = 2}, {.level = 3}}));
  fast.Clock = &none;
  fast.SpeedPercent = -1;
  fast.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return ended_; }));
  EXPECT_TRUE(none.Waits().empty());
}

TEST_F(Painter, ALatePainterThatComputesMinusOneGoesOnAtOnce) {
  // 242 ms spent outside the first wait: half of it, 121, is made up for
  // against the next frame's 120 ms, which leaves an interval of exactly -1.
  TGIFPicture& picture = Picture(Animation({{.delay = 10, .level = 1}, {.delay = 10, .level = 2}, {.level = 3}}));
  picture.OnFrameEnd = [this](TGIFAnimator& painter) {
    if (painter.ActiveFrame == 0) clock_.Advance(242);
  };
  picture.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return ended_; })) << "the painter froze";
  EXPECT_EQ(Frames(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(clock_.Waits(), (std::vector<int64_t>{120})) << "no wait for frame 1, the usual one for frame 2";
}

TEST_F(Painter, WithoutAThreadItPlaysInsideTheDrawWithCappedDelays) {
  TGIFPicture& picture = Picture(Animation({{.delay = 5000, .level = 1}, {.delay = 2, .level = 2}}, 0));
  picture.PaintOptions = TGIFPaintOptions().Without(ptThreaded);
  picture.Draw(canvas_, 0, 0);
  // Loop count 0 plays once here; the first frame waits one unit, the
  // second 1000 units in steps of at most 100 ms.
  EXPECT_TRUE(ended_);
  EXPECT_EQ(Frames(), (std::vector<int>{0, 1}));
  const auto waits = clock_.Waits();
  ASSERT_EQ(waits.size(), 1u + 120u);
  EXPECT_EQ(waits[0], 12);
  EXPECT_EQ(waits[1], 100);
  EXPECT_EQ(picture.PainterCount(), 0);
}

TEST_F(Painter, SpeedZeroHoldsTheFrameUntilStopped) {
  TGIFPicture& picture = Picture(Animation({{.delay = 10, .level = 1}, {.level = 2}}, 0));
  picture.SpeedPercent = 0;
  picture.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return !clock_.Waits().empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ui::Application::Instance().ProcessMessages();
  EXPECT_EQ(Frames(), (std::vector<int>{0}));
  EXPECT_EQ(clock_.Waits(), (std::vector<int64_t>{kInfinite}));
  picture.StopAllPainters();
  EXPECT_EQ(clock_.WokenWaits(), (std::vector<int64_t>{kInfinite}));
  EXPECT_EQ(Frames(), (std::vector<int>{0}));
}

TEST_F(Painter, StoppingDuringALongDelayEndsItAtOnce) {
  clock_.blockFrom = 1000;
  TGIFPicture& picture = Picture(Animation({{.delay = 5000, .level = 1}, {.level = 2}}, 0));
  picture.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return !clock_.Waits().empty(); }));
  picture.StopDrawing();
  EXPECT_EQ(clock_.WokenWaits(), (std::vector<int64_t>{60000}));
  EXPECT_EQ(picture.PainterCount(), 0);
}

TEST_F(Painter, StoppingNeverWaitsOnAPainterThatWaitsForTheUiThread) {
  // The painter's next step waits in the UI thread's queue, which this
  // thread does not serve while it destroys the picture.
  TGIFPicture& picture = Picture(Animation({{.delay = 10, .level = 1}, {.level = 2}}, 0));
  picture.Draw(canvas_, 0, 0);
  ASSERT_EQ(Frames(), (std::vector<int>{0}));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  loaded_.picture.reset();
  ui::Application::Instance().ProcessMessages();
  EXPECT_EQ(Frames(), (std::vector<int>{0})) << "the withdrawn step never ran";
}

TEST_F(Painter, AHookMayDestroyThePictureItIsCalledFor) {
  TGIFPicture& picture = Picture(Animation({{.delay = 2, .level = 1}, {.level = 2}}, 0));
  picture.OnFrameEnd = [this](TGIFAnimator& painter) {
    if (painter.ActiveFrame == 1) loaded_.picture.reset();
  };
  picture.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return loaded_.picture == nullptr; }));
  ui::Application::Instance().ProcessMessages();
  EXPECT_EQ(Frames(), (std::vector<int>{0, 1}));
}

TEST_F(Painter, OnePainterPerRectangle) {
  TGIFPicture& picture = Picture(Animation({{.delay = 10, .level = 1}, {.delay = 10, .level = 2}}, 0));
  picture.Draw(canvas_, 0, 0);
  TGIFAnimator* first = picture.DrawPainter();
  ASSERT_NE(first, nullptr);
  picture.Draw(canvas_, 0, 0);
  picture.Draw(canvas_, 2, 2);  // the own bitmap is drawn wherever asked
  EXPECT_EQ(picture.DrawPainter(), first);
  EXPECT_EQ(picture.PainterCount(), 1);
  EXPECT_EQ(canvas_.Surface().At(3, 3), picture.OwnBitmap()->At(1, 1));

  // Painting straight onto the canvas: the same rectangle keeps the
  // painter, another one starts a new painter.
  picture.StopAllPainters();
  picture.PaintOptions = TGIFPaintOptions().With(ptDirect);
  picture.Draw(canvas_, {0, 0, 4, 4});
  TGIFAnimator* direct = picture.DrawPainter();
  ASSERT_NE(direct, nullptr);
  picture.Draw(canvas_, {0, 0, 4, 4});
  EXPECT_EQ(picture.DrawPainter(), direct);
  picture.Draw(canvas_, {4, 4, 4, 4});
  EXPECT_EQ(picture.PainterCount(), 1);
  EXPECT_EQ(picture.DrawPainter()->Rect(), (ui::Rect{4, 4, 4, 4}));
  EXPECT_EQ(picture.OwnBitmap(), nullptr);
}

TEST_F(Painter, WithCanvasCheckingItEndsQuietlyWhenItsCanvasIsGone) {
  TGIFPicture& picture = Picture(Animation({{.delay = 10, .level = 1}, {.delay = 10, .level = 2}}, 0));
  picture.PaintOptions = TGIFPaintOptions().With(ptDirect).With(ptCheckCanvas);
  auto canvas = std::make_unique<ui::MemoryCanvas>(4, 4, 0);
  picture.Draw(*canvas, {0, 0, 4, 4});
  ASSERT_TRUE(Serve([&] { return shown_.size() >= 2; }));
  canvas.reset();
  ASSERT_TRUE(Serve([&] { return ended_ || picture.PainterCount() == 0; }));
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
}

TEST_F(Painter, BuffersExistOnlyForTheDisposalsThatNeedThem) {
  TGIFPicture& keep = Picture(Animation({{.disposal = 1, .level = 1}, {.disposal = 1, .level = 2}}));
  keep.PaintOptions = TGIFPaintOptions().Without(ptClearOnLoop).With(ptDirect);
  keep.Draw(canvas_, {0, 0, 4, 4});
  const TGIFAnimator* painter = keep.DrawPainter();
  ASSERT_NE(painter, nullptr);
  EXPECT_EQ(painter->SaveBuffer(), nullptr);
  EXPECT_EQ(painter->Underlay(), nullptr);
  keep.StopAllPainters();

  TGIFPicture& back = Picture(Animation({{.disposal = 2, .level = 1}, {.disposal = 1, .level = 2}}));
  back.PaintOptions = TGIFPaintOptions().With(ptDirect);
  back.Draw(canvas_, {0, 0, 4, 4});
  painter = back.DrawPainter();
  ASSERT_NE(painter, nullptr);
  EXPECT_NE(painter->SaveBuffer(), nullptr);
  EXPECT_NE(painter->ComposeBuffer(), nullptr);
  EXPECT_NE(painter->Underlay(), nullptr);
}

// Plays the frames of a 4 x 4 screen straight onto a 12 x 12 canvas at
// (6, 5), step by step, and answers what the canvas showed after each.
class Composition : public Painter {
 protected:
  std::vector<ui::Bitmap32> Play(const std::vector<uint8_t>& bytes, TGIFPaintOptions options) {
    std::vector<ui::Bitmap32> shots;
    TGIFPicture& picture = Picture(bytes);
    picture.PaintOptions = options.With(ptDirect);
    picture.OnFrameEnd = [&](TGIFAnimator&) { shots.push_back(screen_.Surface()); };
    picture.Draw(screen_, {6, 5, 4, 4});
    EXPECT_TRUE(Serve([&] { return ended_; }));
    return shots;
  }
  uint32_t At(const ui::Bitmap32& shot, int x, int y) { return shot.At(6 + x, 5 + y); }
  ui::MemoryCanvas screen_{12, 12, 0xFF0000FFu};
};

TEST_F(Composition, UndefinedDisposalsKeepTheFrame) {
  // A 2 x 2 frame at 0, 0 with disposal 5, then "previous" after it, then
  // a frame at 2, 2: what the first two drew stays.
  TGifBuilder b;
  b.Header(4, 4);
  b.GraphicControl(5 << 2, 1, 0).Image({.width = 2, .height = 2}, std::vector<uint8_t>(4, 50));
  b.GraphicControl(3 << 2, 1, 0).Image({.left = 2, .width = 2, .height = 2}, std::vector<uint8_t>(4, 60));
  b.GraphicControl(1 << 2, 1, 0).Image({.left = 2, .top = 2, .width = 2, .height = 2}, std::vector<uint8_t>(4, 70));
  const auto shots = Play(b.Trailer().Take(), TGIFPaintOptions());
  ASSERT_EQ(shots.size(), 3u);
  EXPECT_EQ(At(shots[2], 0, 0), Grey(50));
  EXPECT_EQ(At(shots[2], 2, 0), Grey(60));
  EXPECT_EQ(At(shots[2], 3, 3), Grey(70));
  EXPECT_EQ(At(shots[2], 0, 3), 0xFF0000FFu);
}

TEST_F(Composition, RestoringUsesTheBuffersOwnCoordinates) {
  // Disposal 2 on a 2 x 2 frame at 1, 1: after it the canvas under the
  // frame shows again, at the painter's rectangle, not at the canvas origin.
  TGifBuilder b;
  b.Header(4, 4);
  b.GraphicControl(2 << 2, 1, 0).Image({.left = 1, .top = 1, .width = 2, .height = 2}, std::vector<uint8_t>(4, 50));
  b.GraphicControl(1 << 2, 1, 0).Image({.width = 1, .height = 1}, std::vector<uint8_t>(1, 60));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) screen_.FillRect({x, y, 1, 1}, uint32_t(10 * x + y));
  const ui::Bitmap32 before = screen_.Surface();
  const auto shots = Play(b.Trailer().Take(), TGIFPaintOptions().Without(ptClearOnLoop));
  ASSERT_EQ(shots.size(), 2u);
  EXPECT_EQ(At(shots[0], 1, 1), Grey(50));
  EXPECT_EQ(At(shots[1], 1, 1), At(before, 1, 1)) << "restored from what the canvas showed";
  EXPECT_EQ(At(shots[1], 2, 2), At(before, 2, 2));
  EXPECT_EQ(At(shots[1], 0, 0), Grey(60));
  EXPECT_EQ(shots[1].At(1, 1), before.At(1, 1)) << "the canvas origin is untouched";

  // "Previous" after "background": drawn from the saved state.
  TGifBuilder p;
  p.Header(4, 4);
  p.GraphicControl(2 << 2, 1, 0).Image({.width = 4, .height = 4}, std::vector<uint8_t>(16, 50));
  p.GraphicControl(3 << 2, 1, 0).Image({.width = 1, .height = 1}, std::vector<uint8_t>(1, 60));
  p.GraphicControl(1 << 2, 1, 0).Image({.left = 3, .width = 1, .height = 1}, std::vector<uint8_t>(1, 70));
  ended_ = false;
  const ui::Bitmap32 start = screen_.Surface();
  const auto previous = Play(p.Trailer().Take(), TGIFPaintOptions().Without(ptClearOnLoop));
  ASSERT_EQ(previous.size(), 3u);
  EXPECT_EQ(At(previous[1], 0, 0), Grey(60));
  EXPECT_EQ(At(previous[1], 1, 1), At(start, 1, 1));
  EXPECT_EQ(At(previous[2], 0, 0), At(start, 0, 0)) << "the previous frame is gone again";
  EXPECT_EQ(At(previous[2], 3, 0), Grey(70));
}

TEST_F(Painter, AnErrorEndsThePainterAndIsShownOnTheUiThread) {
  // No colour map anywhere, and dithering on: the first frame cannot be
  // rendered.
  TGifBuilder b;
  b.Header(4, 4, 0);
  b.GraphicControl(0, 10, 0).Image({.width = 4, .height = 4}, std::vector<uint8_t>(16, 1));
  b.GraphicControl(0, 10, 0).Image({.width = 4, .height = 4}, std::vector<uint8_t>(16, 2));
  TGIFPicture& picture = Picture(b.Trailer().Take());
  picture.PaintOptions = TGIFPaintOptions().Without(ptAutoDither);
  picture.Draw(canvas_, 0, 0);
  ASSERT_TRUE(Serve([&] { return !ui::headless::ShownDialogs().empty(); }));
  EXPECT_EQ(ui::headless::ShownDialogs()[0].text, "No global or local color table defined.");
  EXPECT_TRUE(Serve([&] { return picture.PainterCount() == 0; }));

  // Without a thread the error is the draw's.
  picture.StopAllPainters();
  picture.PaintOptions = TGIFPaintOptions().Without(ptAutoDither).Without(ptThreaded);
  EXPECT_THROW(picture.Draw(canvas_, 0, 0), EGIFError);
}

}  // namespace
}  // namespace gif::testing
