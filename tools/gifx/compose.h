#pragma once
// Composes the frames of an animation onto the logical screen the way a
// viewer shows them: transparency, then each frame's disposal.
#include <cstdint>
#include <string>
#include <vector>

#include "gif/picture.h"

namespace gifx {

struct TRgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
};

struct TCanvas {
  int width = 0, height = 0;
  std::vector<TRgba> pixels;
};

// The disposal the player applies after a frame: that of its last graphic
// control extension, 0 without one.
uint8_t FrameDisposal(const gif::TGIFFrame& frame);

// The frame alone, as stored: its own size, transparent pixels left clear.
TCanvas RawFrame(const gif::TGIFFrame& frame, std::vector<std::string>& notes);

class TComposer {
 public:
  explicit TComposer(const gif::TGIFPicture& picture);
  // Draws the frame onto the screen and answers the screen as shown; notes
  // what could not be shown faithfully.
  const TCanvas& Show(const gif::TGIFFrame& frame, std::vector<std::string>& notes);
  // Applies the frame's disposal, before the next frame is shown.
  void Dispose(const gif::TGIFFrame& frame);

 private:
  TCanvas canvas_;
  TCanvas saved_;
};

}  // namespace gifx
