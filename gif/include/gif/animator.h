#pragma once
// The painter that plays an animated picture. Threaded, it times the frames
// and renders the next one on its own thread and has every drawing step run
// on the UI thread; otherwise it plays inside the draw call.
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "gif/composer.h"
#include "gif/painting.h"
#include "gif/picture.h"
#include "ui/bitmap.h"
#include "ui/synchronise.h"

namespace gif {

class TGIFAnimator {
 public:
  // Made by TGIFPicture's draw, which owns it; a threaded painter waits for
  // Start.
  TGIFAnimator(TGIFPicture& picture, ui::Canvas& canvas, ui::Rect rect, TGIFPaintOptions options, int speed);
  ~TGIFAnimator();
  TGIFAnimator(const TGIFAnimator&) = delete;
  TGIFAnimator& operator=(const TGIFAnimator&) = delete;

  // Threaded: starts the thread; nothing otherwise.
  void Start();
  // Any thread: asks the painter to end and wakes it from its delay; a
  // drawing step still waiting for the UI thread is withdrawn.
  void Stop();
  // The body: plays the picture until it ends or is stopped.
  void Execute();

  // The frame being played; -1 when idle. Hooks may change it.
  int ActiveFrame = -1;

  bool Threaded() const { return options_.Has(ptThreaded); }
  bool Stopped() const { return stopped_; }
  // At least one frame painted.
  bool Started() const { return started_; }
  // The body has returned.
  bool Finished() const { return finished_; }
  ui::Canvas* Canvas() const { return canvas_; }
  ui::Rect Rect() const { return rect_; }
  TGIFPaintOptions Options() const { return options_; }
  // The off-screen buffers, present only for the disposals that need them.
  const ui::MemoryCanvas* SaveBuffer() const { return composer_.SaveBuffer(); }
  const ui::MemoryCanvas* ComposeBuffer() const { return composer_.ComposeBuffer(); }
  const ui::MemoryCanvas* Underlay() const { return composer_.Underlay(); }

 private:
  friend class TGIFPicture;
  void Body();
  // Runs a drawing step or hook on the UI thread; false when it was
  // skipped because the painter is being stopped.
  bool Synchronize(const std::function<void()>& call);
  void Hook(const TGIFPicture::TPainterEvent& event);
  void PaintFrame(TGIFFrame& frame);
  void ReportError();
  // Whether the UI thread is inside one of this painter's drawing steps
  // right now, where waiting for the painter would wait on ourselves.
  bool InCallOnThisThread() const;
  // The picture lets go of a painter it cannot wait for: the painter then
  // frees itself when its thread ends. False when the thread has already
  // ended, and the caller frees it.
  bool Detach();

  TGIFPicture* picture_;
  ui::Canvas* canvas_;
  ui::Rect rect_;
  TGIFPaintOptions options_;
  int speed_;
  TAnimationClock* clock_;
  TGIFPicture::TPainterEvent onAnimationStart_, onFrameBegin_, onFrameEnd_, onLoopRestart_, onAnimationEnd_;
  TGIFComposer composer_;
  const ui::Canvas* watchedCanvas_ = nullptr;
  std::unique_ptr<TWakeEvent> wake_;
  ui::UiCallGate gate_;

  std::atomic<bool> stopped_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::mutex endLock_;  // finishing against detaching
  bool detached_ = false;
  std::atomic<int> callsOnUiThread_{0};
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace gif
