#include "render.h"

namespace gifx {

using namespace gif;

namespace {

// A pixel that is black over black and white over white is the underlay.
void Merge(const ui::Bitmap32& black, const ui::Bitmap32& white, TCanvas& out) {
  out.width = black.width;
  out.height = black.height;
  out.pixels.resize(black.pixels.size());
  for (size_t i = 0; i < black.pixels.size(); ++i) {
    const uint32_t p = black.pixels[i];
    if (p != white.pixels[i]) {
      out.pixels[i] = TRgba{};
      continue;
    }
    out.pixels[i] = {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p), 255};
  }
}

}  // namespace

TCanvas RawFrame(TGIFFrame& frame) {
  const TGIFPicture& picture = frame.Image();
  // The rectangle that stands for the logical screen, placed so that the
  // frame lands on the whole canvas at its own size.
  const ui::Rect screen{-frame.Left(), -frame.Top(), picture.Width(), picture.Height()};
  ui::MemoryCanvas black(frame.Width(), frame.Height(), 0xFF000000u);
  ui::MemoryCanvas white(frame.Width(), frame.Height(), 0xFFFFFFFFu);
  frame.Draw(black, screen, false, true);
  frame.Draw(white, screen, false, true);
  TCanvas out;
  Merge(black.Surface(), white.Surface(), out);
  return out;
}

TComposer::TPass::TPass(TGIFPicture& picture, uint32_t underlay)
    : canvas(picture.Width(), picture.Height(), 0xFF000000u | underlay),
      composer(picture, canvas, {0, 0, picture.Width(), picture.Height()}, picture.PaintOptions,
               picture.BackgroundColor()) {}

TComposer::TComposer(TGIFPicture& picture) : black_(picture, 0x000000), white_(picture, 0xFFFFFF) {}

const TCanvas& TComposer::Show(TGIFFrame& frame, int index) {
  black_.composer.Paint(frame, index);
  white_.composer.Paint(frame, index);
  Merge(black_.canvas.Surface(), white_.canvas.Surface(), shown_);
  return shown_;
}

}  // namespace gifx
