#include "gif/animator.h"

#include <algorithm>
#include <cmath>

#include "ui/application.h"

namespace gif {

namespace {

// (a x 100) / b rounded to nearest, halves away from zero.
int64_t Percent(int64_t a, int64_t b) {
  const int64_t n = a * 100;
  return n >= 0 ? (n + b / 2) / b : -((-n + b / 2) / b);
}

}  // namespace

TGIFAnimator::TGIFAnimator(TGIFPicture& picture, ui::Canvas& canvas, ui::Rect rect, TGIFPaintOptions options,
                           int speed)
    : picture_(&picture),
      canvas_(&canvas),
      rect_(rect),
      options_(options),
      speed_(speed),
      clock_(picture.Clock ? picture.Clock : &TAnimationClock::System()),
      onAnimationStart_(picture.OnAnimationStart),
      onFrameBegin_(picture.OnFrameBegin),
      onFrameEnd_(picture.OnFrameEnd),
      onLoopRestart_(picture.OnLoopRestart),
      onAnimationEnd_(picture.OnAnimationEnd),
      composer_(picture, canvas, rect, options, picture.BackgroundColor()) {
  if (options.Has(ptAnimate) && options.Has(ptThreaded) && picture.Images().Count() > 1 && speed >= 0)
    wake_ = std::make_unique<TWakeEvent>();
}

TGIFAnimator::~TGIFAnimator() {
  Stop();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TGIFAnimator::Start() {
  if (!Threaded() || thread_.joinable() || finished_) return;
  thread_ = std::thread([this] {
    Execute();
    bool freeSelf;
    {
      std::lock_guard guard(endLock_);
      finished_ = true;
      freeSelf = detached_;
    }
    if (freeSelf) delete this;
  });
}

void TGIFAnimator::Stop() {
  stopped_ = true;
  gate_.Close();
  if (wake_) wake_->Set();
}

bool TGIFAnimator::Detach() {
  std::lock_guard guard(endLock_);
  picture_ = nullptr;
  if (finished_ || !thread_.joinable()) return false;
  detached_ = true;
  thread_.detach();
  return true;
}

bool TGIFAnimator::InCallOnThisThread() const {
  return callsOnUiThread_ > 0 && (!Threaded() || ui::Application::Instance().OnUiThread());
}

bool TGIFAnimator::Synchronize(const std::function<void()>& call) {
  if (stopped_) return false;
  const auto counted = [this, &call] {
    struct TCount {
      std::atomic<int>& n;
      explicit TCount(std::atomic<int>& c) : n(c) { ++n; }
      ~TCount() { --n; }
    } count(callsOnUiThread_);
    call();
  };
  if (!Threaded()) {
    counted();
    return true;
  }
  return ui::RunOnUiThread(counted, gate_);
}

void TGIFAnimator::Hook(const TGIFPicture::TPainterEvent& event) {
  if (event && !stopped_) Synchronize([this, &event] { event(*this); });
}

void TGIFAnimator::Execute() {
  try {
    Body();
  } catch (...) {
    stopped_ = true;
    gate_.Close();
    error_ = std::current_exception();
  }
  ActiveFrame = -1;
  if (error_ && Threaded()) ReportError();
  if (!Threaded()) finished_ = true;
}

void TGIFAnimator::ReportError() {
  // The painter's thread is no place for an error: the UI thread shows it as
  // it shows any error that ends an event handler.
  ui::QueueOnUiThread([error = error_] {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      ui::Application::Instance().ShowException(e);
    } catch (...) {
    }
  });
}

void TGIFAnimator::Body() {
  const bool threaded = Threaded();
  if (options_.Has(ptCheckCanvas)) watchedCanvas_ = canvas_;
  ActiveFrame = 0;
  Hook(onAnimationStart_);
  started_ = false;
  int loops = 1;
  int loopPoint = ActiveFrame;
  bool loopSeen = false;
  int delay = threaded ? 0 : 1;
  int64_t delayStart = clock_->Now();
  int64_t previousInterval = 0;

  while ((loops != 0 || options_.Has(ptLoopForever)) && !stopped_) {
    ActiveFrame = loopPoint;
    if (started_) Hook(onLoopRestart_);
    // Hooks may set any frame; the picture is only read while not stopped.
    while (!stopped_ && ActiveFrame >= 0 && ActiveFrame < picture_->Images().Count()) {
      TGIFFrame& frame = picture_->Images()[ActiveFrame];
      if (frame.Empty()) break;
      if (delay > 0) {
        // The next frame is rendered before its delay, so rendering counts
        // against the delay rather than adding to it.
        frame.Bitmap();
        const int64_t now = clock_->Now();
        int64_t interval = 0;
        // Kept apart from the interval: a late painter computes -1 and
        // below, which must mean "no wait", never "wait for ever".
        bool endless = false;
        if (speed_ > 0) {
          // Half of the time spent outside the last wait is made up for.
          const int64_t used = ((now - delayStart) - previousInterval) / 2;
          interval = Percent(int64_t{delay} * DelayUnitMs - used, speed_);
          previousInterval = interval;
        } else if (threaded) {
          endless = true;
        } else {
          interval = int64_t{MaximumDelay} * DelayUnitMs;
        }
        delayStart = now;
        if (threaded) {
          // Without a wake event (negative speed) the frames follow at once.
          if (wake_ && (interval > 0 || endless) && clock_->Wait(wake_.get(), endless ? kInfinite : interval)) {
            previousInterval = 0;
            delayStart = clock_->Now();
          }
        } else {
          interval = std::max<int64_t>(interval, 1);
          ui::Application& application = ui::Application::Instance();
          while (interval > 0 && !stopped_) {
            const int64_t before = clock_->Now();
            clock_->Wait(nullptr, std::min<int64_t>(interval, 100));
            interval -= clock_->Now() - before;
            application.ProcessMessages();
            if (application.Terminated()) Stop();
          }
        }
      } else {
        std::this_thread::yield();
      }
      if (stopped_) break;
      Hook(onFrameBegin_);
      if (stopped_) break;

      for (const auto& extension : frame.Extensions()) {
        const auto* loop = dynamic_cast<const TGIFLoopExtension*>(extension.get());
        if (!loop || loopSeen) continue;
        loopSeen = true;
        loops = loop->Loops;
        if ((loops == 0 || options_.Has(ptLoopForever)) && threaded) loops = -1;
        loopPoint = ActiveFrame;
      }

      PaintFrame(frame);
      if (stopped_) break;

      delay = DefaultDelay;
      if (const auto* gce = frame.GraphicControlExtension; gce && gce->Delay() > 0) {
        delay = std::max<int>(gce->Delay(), MinimumDelay);
        if (!threaded) delay = std::min(delay, MaximumDelay);
      }
      const int shown = ActiveFrame;
      Hook(onFrameEnd_);
      if (stopped_) break;
      if (ActiveFrame == shown) ++ActiveFrame;
      if (!options_.Has(ptAnimate)) break;
    }
    if (loops > 0) --loops;
    if (!options_.Has(ptAnimate) || !options_.Has(ptLoop)) break;
  }
  ActiveFrame = -1;
  Hook(onAnimationEnd_);
}

void TGIFAnimator::PaintFrame(TGIFFrame& frame) {
  Synchronize([this, &frame] {
    if (options_.Has(ptCheckCanvas) && !ui::Canvas::Alive(watchedCanvas_)) {
      Stop();
      return;
    }
    composer_.Paint(frame, ActiveFrame);
    started_ = true;
  });
}

}  // namespace gif
