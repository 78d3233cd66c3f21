#include "gif/composer.h"

namespace gif {

namespace {

// Disposal values with a meaning; the rest are drawn as "keep".
bool Defined(int disposal) { return disposal >= dispUnspecified && disposal <= dispPrevious; }

std::unique_ptr<ui::MemoryCanvas> Buffer(ui::Rect rect, uint32_t fill) {
  return std::make_unique<ui::MemoryCanvas>(rect.width, rect.height, 0xFF000000u | fill);
}

}  // namespace

int TGIFComposer::Disposal(const TGIFFrame& frame) {
  int disposal = dispKeep;
  for (const auto& extension : frame.Extensions())
    if (const auto* gce = dynamic_cast<const TGIFGraphicControlExtension*>(extension.get()))
      disposal = gce->Disposal();
  return disposal;
}

TGIFComposer::TGIFComposer(const TGIFPicture& picture, ui::Canvas& canvas, ui::Rect rect,
                           TGIFPaintOptions options, uint32_t background)
    : canvas_(&canvas), rect_(rect), options_(options), background_(background) {
  bool restores = options.Has(ptClearOnLoop), previous = false;
  for (const auto& frame : picture.Images())
    for (const auto& extension : frame->Extensions())
      if (const auto* gce = dynamic_cast<const TGIFGraphicControlExtension*>(extension.get())) {
        restores |= gce->Disposal() == dispBackground;
        previous |= gce->Disposal() == dispPrevious;
      }
  if (restores && options.Has(ptTransparent)) {
    underlay_ = Buffer(rect, background_);
    canvas.ReadPixels(rect, underlay_->Surface());
  }
  if (restores || previous) {
    saveBuffer_ = Buffer(rect, background_);
    canvas.ReadPixels(rect, saveBuffer_->Surface());
    composeBuffer_ = Buffer(rect, background_);
  }
}

void TGIFComposer::Paint(TGIFFrame& frame, int index) {
  const int disposal = Disposal(frame);
  if (saveBuffer_)
    Compose(frame, index, disposal);
  else
    frame.Draw(*canvas_, rect_, options_.Has(ptTile), options_.Has(ptTransparent));
  previousDisposal_ = disposal;
}

void TGIFComposer::Compose(TGIFFrame& frame, int index, int asked) {
  const bool clearFirst = options_.Has(ptClearOnLoop) && index == 0;
  // Undefined disposals, and "previous" after one, are drawn as "keep":
  // there is no state of theirs to go back to.
  int disposal = asked;
  if (!Defined(disposal) || (disposal == dispPrevious && !Defined(previousDisposal_))) disposal = dispKeep;
  const ui::Rect full{0, 0, rect_.width, rect_.height};
  ui::MemoryCanvas* target = saveBuffer_.get();
  bool toScreen = true;
  if (disposal == dispPrevious) {
    if (previousDisposal_ == dispUnspecified || previousDisposal_ == dispKeep) {
      // Drawn on the canvas only: the saved state stays as it was before.
      target = nullptr;
      toScreen = false;
    } else {
      composeBuffer_->CopyBitmap(full, saveBuffer_->Surface(), full);
      target = composeBuffer_.get();
    }
  }
  if (clearFirst) RestoreFrameArea(frame);
  const bool tile = options_.Has(ptTile), transparent = options_.Has(ptTransparent);
  if (target)
    frame.Draw(*target, full, tile, transparent);
  else
    frame.Draw(*canvas_, rect_, tile, transparent);
  if (toScreen) canvas_->CopyBitmap(rect_, target->Surface(), full);
  if (disposal == dispBackground) RestoreFrameArea(frame);
}

void TGIFComposer::RestoreFrameArea(const TGIFFrame& frame) {
  // In the buffers' own coordinates, wherever on the canvas they stand.
  const ui::Rect full{0, 0, rect_.width, rect_.height};
  const ui::Rect part{frame.Left(), frame.Top(), frame.Width(), frame.Height()};
  const int screenWidth = frame.Image().Width(), screenHeight = frame.Image().Height();
  const auto restore = [this](ui::Rect area) {
    if (options_.Has(ptTransparent) && underlay_)
      saveBuffer_->CopyBitmap(area, underlay_->Surface(), area);
    else
      saveBuffer_->FillRect(area, background_);
  };
  if (!options_.Has(ptTile)) {
    restore(ui::PlaceInside(full, part, screenWidth, screenHeight));
    return;
  }
  for (const auto& [x, y] : ui::TileOrigins(full, screenWidth, screenHeight))
    restore({x + part.left, y + part.top, part.width, part.height});
}

}  // namespace gif
