#pragma once
// Frames as the setup program's GIF engine draws them, as RGBA pictures:
// composed onto the logical screen by the engine's own composition, or
// alone. Where the program shows what lies under the picture, the pictures
// are clear.
#include <cstdint>
#include <memory>
#include <vector>

#include "gif/composer.h"
#include "gif/picture.h"
#include "ui/bitmap.h"

namespace gifx {

struct TRgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
};

struct TCanvas {
  int width = 0, height = 0;
  std::vector<TRgba> pixels;
};

// The frame alone at its own size, drawn by the engine. Raises what the
// engine raises (a frame without any colour map).
TCanvas RawFrame(gif::TGIFFrame& frame);

// Plays the frames once, in order, as the painter plays them with the
// picture's paint options.
class TComposer {
 public:
  explicit TComposer(gif::TGIFPicture& picture);
  // Shows frame `index` and answers the screen as shown.
  const TCanvas& Show(gif::TGIFFrame& frame, int index);

 private:
  // The same frames over a black and over a white underlay: a pixel that
  // differs shows the underlay.
  struct TPass {
    TPass(gif::TGIFPicture& picture, uint32_t underlay);
    ui::MemoryCanvas canvas;
    gif::TGIFComposer composer;
  };
  TPass black_, white_;
  TCanvas shown_;
};

}  // namespace gifx
