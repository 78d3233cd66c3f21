#pragma once
// How the frames of an animation build on each other on the screen: each
// frame drawn over what its predecessors left, then its disposal applied.
// The painter plays pictures through it, and gifx writes what it composes,
// so both show the same frames.
#include <cstdint>
#include <memory>

#include "gif/painting.h"
#include "gif/picture.h"
#include "ui/bitmap.h"

namespace gif {

class TGIFComposer {
 public:
  // Frames go onto `canvas` at `rect`, which stands for the logical screen.
  // The buffers that the picture's disposals need are made now, from the
  // canvas's content at `rect` (what shows through transparent pixels);
  // with none of them, frames are drawn straight onto the canvas.
  TGIFComposer(const TGIFPicture& picture, ui::Canvas& canvas, ui::Rect rect, TGIFPaintOptions options,
               uint32_t background);
  TGIFComposer(const TGIFComposer&) = delete;
  TGIFComposer& operator=(const TGIFComposer&) = delete;

  // Shows the frame as frame `index` of the animation and applies its
  // disposal to what the next frame will be drawn on. UI thread only, as
  // any drawing.
  void Paint(TGIFFrame& frame, int index);
  // The disposal a frame asks for: its last graphic control's, "keep"
  // without one. Values 4 to 7 are kept as read.
  static int Disposal(const TGIFFrame& frame);

  const ui::MemoryCanvas* SaveBuffer() const { return saveBuffer_.get(); }
  const ui::MemoryCanvas* ComposeBuffer() const { return composeBuffer_.get(); }
  const ui::MemoryCanvas* Underlay() const { return underlay_.get(); }

 private:
  void Compose(TGIFFrame& frame, int index, int disposal);
  void RestoreFrameArea(const TGIFFrame& frame);

  ui::Canvas* canvas_;
  ui::Rect rect_;
  TGIFPaintOptions options_;
  uint32_t background_;
  int previousDisposal_ = dispKeep;
  std::unique_ptr<ui::MemoryCanvas> saveBuffer_, composeBuffer_, underlay_;
};

}  // namespace gif
