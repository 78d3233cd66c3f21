#include "compose.h"

namespace rovend::gifx {

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

const TCanvas& TComposer::Show(const TGIFFrame& frame, std::vector<std::string>& notes) {
  if (FrameDisposal(frame) == dispPrevious) saved_ = canvas_;
  const TGIFColorMap& map = frame.ActiveColorMap();
  // Indices past the map show entry 0, as the engine's own lookups do.
  TRgba palette[256];
  bool outside = false;
  for (int i = 0; i < 256; ++i) {
    if (map.Empty()) {
      palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 255};
    } else {
      const TGIFColor c = map.Data()[i < map.Count() ? i : 0];
      palette[i] = {c.Red, c.Green, c.Blue, 255};
    }
  }
  if (map.Empty()) notes.push_back("no colour map: shown as grey levels");
  const bool transparent = frame.Transparent;
  const uint8_t key = frame.TransparentColorIndex();
  const auto pixels = frame.Pixels();
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x) {
      const uint8_t index = pixels[static_cast<size_t>(y) * frame.Width() + x];
      if (transparent && index == key) continue;
      if (!map.Empty() && index >= map.Count()) outside = true;
      canvas_.pixels[static_cast<size_t>(frame.Top() + y) * canvas_.width + frame.Left() + x] = palette[index];
    }
  if (outside) notes.push_back("colour indices past the colour map: shown with entry 0");
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

}  // namespace rovend::gifx
