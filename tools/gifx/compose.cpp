#include "compose.h"

namespace gifx {

using namespace gif;

uint8_t FrameDisposal(const TGIFFrame& frame) {
  uint8_t disposal = 0;
  for (const auto& extension : frame.Extensions())
    if (const auto* gce = dynamic_cast<const TGIFGraphicControlExtension*>(extension.get()))
      disposal = gce->Disposal();
  return disposal;
}

TComposer::TComposer(const TGIFPicture& picture) {
  canvas_.width = picture.Width();
  canvas_.height = picture.Height();
  canvas_.pixels.assign(static_cast<size_t>(canvas_.width) * static_cast<size_t>(canvas_.height), TRgba{});
}

namespace {

// The frame's colours as RGBA. Indices past the map show entry 0, as the
// engine's own lookups do.
struct TPalette {
  explicit TPalette(const TGIFFrame& frame) {
    const TGIFColorMap& map = frame.ActiveColorMap();
    empty = map.Empty();
    count = map.Count();
    for (int i = 0; i < 256; ++i) {
      if (empty) {
        colors[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 255};
      } else {
        const TGIFColor c = map.Data()[i < count ? i : 0];
        colors[i] = {c.Red, c.Green, c.Blue, 255};
      }
    }
  }
  // Draws the frame's pixels through `put(x, y, colour)`, transparent ones
  // left out, and notes what could not be shown faithfully.
  template <class Put>
  void Draw(const TGIFFrame& frame, std::vector<std::string>& notes, Put put) const {
    if (empty) notes.push_back("no colour map: shown as grey levels");
    const bool transparent = frame.Transparent;
    const uint8_t key = frame.TransparentColorIndex();
    const auto pixels = frame.Pixels();
    bool outside = false;
    for (int y = 0; y < frame.Height(); ++y)
      for (int x = 0; x < frame.Width(); ++x) {
        const uint8_t index = pixels[static_cast<size_t>(y) * frame.Width() + x];
        if (transparent && index == key) continue;
        if (!empty && index >= count) outside = true;
        put(x, y, colors[index]);
      }
    if (outside) notes.push_back("colour indices past the colour map: shown with entry 0");
  }

  TRgba colors[256];
  bool empty;
  int count;
};

}  // namespace

TCanvas RawFrame(const TGIFFrame& frame, std::vector<std::string>& notes) {
  TCanvas canvas;
  canvas.width = frame.Width();
  canvas.height = frame.Height();
  canvas.pixels.assign(static_cast<size_t>(canvas.width) * static_cast<size_t>(canvas.height), TRgba{});
  TPalette(frame).Draw(frame, notes, [&](int x, int y, TRgba c) {
    canvas.pixels[static_cast<size_t>(y) * canvas.width + x] = c;
  });
  return canvas;
}

const TCanvas& TComposer::Show(const TGIFFrame& frame, std::vector<std::string>& notes) {
  if (FrameDisposal(frame) == dispPrevious) saved_ = canvas_;
  TPalette(frame).Draw(frame, notes, [&](int x, int y, TRgba c) {
    canvas_.pixels[static_cast<size_t>(frame.Top() + y) * canvas_.width + frame.Left() + x] = c;
  });
  return canvas_;
}

void TComposer::Dispose(const TGIFFrame& frame) {
  switch (FrameDisposal(frame)) {
    case dispBackground:
      for (int y = 0; y < frame.Height(); ++y)
        for (int x = 0; x < frame.Width(); ++x)
          canvas_.pixels[static_cast<size_t>(frame.Top() + y) * canvas_.width + frame.Left() + x] = TRgba{};
      break;
    case dispPrevious:
      if (!saved_.pixels.empty()) canvas_ = saved_;
      break;
    default:
      break;
  }
}

}  // namespace gifx
