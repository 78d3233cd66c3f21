// The picture's draw operation and its painters: a single frame is drawn at
// once; an animation is played by a painter into the picture's own bitmap
// (or straight onto the target with ptDirect), which later draws copy.
#include <algorithm>

#include "flag_scope.h"
#include "gif/animator.h"
#include "gif/picture.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/display.h"
#include "ui/synchronise.h"

namespace gif {

// Waits for the thread of a stopped painter and frees it, unless this
// thread is inside one of its drawing steps and would wait on itself: such a
// painter is left to end and free itself.
void TGIFPicture::ReleasePainter(std::unique_ptr<TGIFAnimator> painter) {
  if (painter && painter->InCallOnThisThread() && painter->Detach()) painter.release();
}

void TGIFPicture::Draw(ui::Canvas& canvas, int x, int y) { Draw(canvas, ui::Rect{x, y, Width(), Height()}); }

void TGIFPicture::Draw(ui::Canvas& canvas, ui::Rect rect) {
  if (inDraw_ || images_.Empty()) return;
  detail::TFlagScope drawing(inDraw_);
  // Drawing happens on the UI thread: make sure the application knows it
  // before a painter's thread asks.
  ui::Application::Instance();
  const bool tile = PaintOptions.Has(ptTile), transparent = PaintOptions.Has(ptTransparent);
  const bool direct = PaintOptions.Has(ptDirect);
  if (images_.Count() == 1 || !PaintOptions.Has(ptAnimate)) {
    const int index = FixedFrame >= 0 && FixedFrame < images_.Count() ? FixedFrame : 0;
    images_[index].Draw(canvas, rect, tile, transparent);
    return;
  }
  if (ownBitmap_ && !direct) {
    DrawOwnBitmap(canvas, rect);
    return;
  }

  std::lock_guard lock(painterLock_);
  ReapPainters();
  if (drawPainter_ && drawPainter_->Canvas() == &canvas && drawPainter_->Rect() == rect) return;
  StopDrawing();
  ui::Canvas* target = &canvas;
  ui::Rect targetRect = rect;
  if (!direct) {
    ownBitmap_ = std::make_unique<ui::MemoryCanvas>(Width(), Height(), 0xFF000000u | BackgroundColor());
    canvas.ReadPixels(rect, ownBitmap_->Surface());
    ownBitmap_->onChange = [this] {
      if (onChange) onChange();
    };
    target = ownBitmap_.get();
    targetRect = {0, 0, Width(), Height()};
  }
  TGIFAnimator* painter = CreatePainter(*target, targetRect, PaintOptions);
  drawPainter_ = painter;
  if (painter) {
    painter->Start();
    // The first frame is painted through this thread: serve the painter's
    // calls, one at a time, until it is there.
    while (!direct && !painter->Started() && !painter->Stopped() && !painter->Finished())
      if (!ui::ServiceSynchronisedCalls(1)) ui::WaitForSynchronisedCall(10);
  }
  if (!direct) DrawOwnBitmap(canvas, rect);
}

void TGIFPicture::DrawOwnBitmap(ui::Canvas& canvas, ui::Rect rect) {
  if (!ownBitmap_) return;
  const ui::Bitmap32& bitmap = ownBitmap_->Surface();
  const ui::Rect whole{0, 0, bitmap.width, bitmap.height};
  if (!PaintOptions.Has(ptTile)) {
    canvas.CopyBitmap(rect, bitmap, whole);
    return;
  }
  const ui::Rect clip = canvas.ClipRect();
  canvas.SetClipRect(ui::Intersect(clip, rect));
  for (const auto& [x, y] : ui::TileOrigins(rect, Width(), Height()))
    canvas.CopyBitmap({x, y, bitmap.width, bitmap.height}, bitmap, whole);
  canvas.SetClipRect(clip);
}

TGIFAnimator* TGIFPicture::CreatePainter(ui::Canvas& canvas, ui::Rect rect, TGIFPaintOptions options) {
  std::lock_guard lock(painterLock_);
  if (images_.Empty() || rect.width <= 0 || rect.height <= 0) {
    drawPainter_ = nullptr;
    return nullptr;
  }
  if (images_.Count() == 1) options = options.Without(ptThreaded).Without(ptAnimate);
  TGIFAnimator* painter =
      painters_.emplace_back(std::make_unique<TGIFAnimator>(*this, canvas, rect, options, SpeedPercent)).get();
  if (options.Has(ptThreaded)) return painter;
  // Played inside this call; its error is the caller's.
  painter->Execute();
  const std::exception_ptr error = painter->error_;
  std::erase_if(painters_, [painter](const auto& p) { return p.get() == painter; });
  if (error) std::rethrow_exception(error);
  return nullptr;
}

void TGIFPicture::ReapPainters() {
  for (auto it = painters_.begin(); it != painters_.end();) {
    if ((*it)->Threaded() && (*it)->Finished()) {
      if (drawPainter_ == it->get()) drawPainter_ = nullptr;
      it = painters_.erase(it);
    } else {
      ++it;
    }
  }
}

void TGIFPicture::StopDrawing() {
  std::lock_guard lock(painterLock_);
  if (drawPainter_) {
    drawPainter_->Stop();
    if (drawPainter_->Threaded()) {
      auto it = std::find_if(painters_.begin(), painters_.end(),
                             [this](const auto& p) { return p.get() == drawPainter_; });
      std::unique_ptr<TGIFAnimator> painter = std::move(*it);
      painters_.erase(it);
      ReleasePainter(std::move(painter));
    }
    drawPainter_ = nullptr;
  }
  ownBitmap_.reset();
}

void TGIFPicture::StopAllPainters() {
  std::lock_guard lock(painterLock_);
  for (const auto& painter : painters_) painter->Stop();
  // A painter that plays without a thread is running further up this very
  // call stack; it ends there once it sees that it was stopped.
  std::vector<std::unique_ptr<TGIFAnimator>> stopped;
  for (auto it = painters_.begin(); it != painters_.end();) {
    if ((*it)->Threaded()) {
      stopped.push_back(std::move(*it));
      it = painters_.erase(it);
    } else {
      ++it;
    }
  }
  drawPainter_ = nullptr;
  for (auto& painter : stopped) ReleasePainter(std::move(painter));
  ownBitmap_.reset();
}

TGIFAnimator* TGIFPicture::DrawPainter() {
  std::lock_guard lock(painterLock_);
  ReapPainters();
  return drawPainter_;
}

int TGIFPicture::PainterCount() {
  std::lock_guard lock(painterLock_);
  ReapPainters();
  return static_cast<int>(painters_.size());
}

const ui::Bitmap32* TGIFPicture::OwnBitmap() const { return ownBitmap_ ? &ownBitmap_->Surface() : nullptr; }

uint32_t TGIFPicture::BackgroundColor() const {
  if (PaintBackgroundColor) return *PaintBackgroundColor & 0x00FFFFFFu;
  const TGIFColorMap& map = header_.ColorMap();
  if (!map.Empty()) {
    const TGIFColor c = map.Color(header_.BackgroundColorIndex());
    return static_cast<uint32_t>(c.Red) << 16 | static_cast<uint32_t>(c.Green) << 8 | c.Blue;
  }
  return ui::PixelColor(ui::kSystemColor | 5);  // the window colour
}

}  // namespace gif
