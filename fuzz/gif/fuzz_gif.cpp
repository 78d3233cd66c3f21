// Loads a GIF from memory, which decodes every frame, then reads back what a
// viewer would: every pixel, its colour, the frame's place and timing.
#include <cstddef>
#include <cstdint>

#include "gif/picture.h"

using namespace rovend::gif;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TGIFPicture picture;
  // Inputs of a few bytes can claim frames of a quarter gigapixel; filling
  // those would leave no time for anything else.
  picture.PixelLimit = uint64_t{1} << 22;
  size_t warnings = 0;
  picture.OnParseWarning = [&warnings](const TPersistent*, int, const std::string&) { ++warnings; };
  TMemoryStream stream({data, size});
  bool loaded = true;
  try {
    picture.LoadFromStream(stream);
  } catch (const EGIFError&) {
    loaded = false;
    if (stream.Position() != 0) __builtin_trap();  // a failed load must put the stream back
  }
  volatile uint32_t sink = 0;
  for (const auto& frame : picture.Images()) {
    for (uint8_t index : frame->Pixels()) sink = sink + index;
    const TGIFColorMap& map = frame->ActiveColorMap();
    if (!map.Empty() && !frame->Empty()) sink = sink + map.SysColor(frame->Pixels()[0]);
    if (frame->GraphicControlExtension) sink = sink + frame->GraphicControlExtension->Delay();
    if (loaded && (frame->Left() + frame->Width() > picture.Width() ||
                   frame->Top() + frame->Height() > picture.Height()))
      __builtin_trap();  // the logical screen must cover every frame
  }
  return 0;
}
