// Loads a GIF from memory, which decodes every frame, then reads back what a
// viewer would: every pixel, its colour, the frame's place and timing. Then
// draws it as the window would, plain, tiled and dithered, and plays it
// through once in virtual time.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "gif/animator.h"
#include "gif/picture.h"
#include "ui/bitmap.h"

using namespace gif;

namespace {

// Time passes as the painter waits, without waiting.
class TVirtualClock final : public TAnimationClock {
 public:
  int64_t Now() override { return now_; }
  bool Wait(TWakeEvent*, int64_t ms) override {
    if (ms > 0) now_ += ms;
    return false;
  }

 private:
  int64_t now_ = 0;
};

void Show(TGIFPicture& picture) {
  // Rendering is linear in the pixels; large frames only cost runs.
  uint64_t pixels = 0;
  for (const auto& frame : picture.Images()) pixels += frame->Pixels().size();
  if (pixels > (uint64_t{1} << 16)) return;
  ui::MemoryCanvas canvas(48, 40, 0xFF000000u);
  TVirtualClock clock;
  picture.Clock = &clock;
  // Every delay down to one wait of a millisecond: the timing is not what
  // is looked for here.
  picture.SpeedPercent = 1 << 30;
  const TGIFPaintOptions played = TGIFPaintOptions().Without(ptThreaded).Without(ptLoop).With(ptDirect);
  // The dithered rendering last: frames keep the bitmap they were first
  // rendered with.
  for (const TGIFPaintOptions options :
       {played, played.With(ptTile), played.Without(ptTransparent), played.Without(ptAutoDither)}) {
    if (!options.Has(ptAutoDither))
      for (const auto& frame : picture.Images()) frame->FreeBitmap();
    picture.PaintOptions = options;
    try {
      picture.Draw(canvas, {3, 2, 40, 33});
      for (const auto& frame : picture.Images()) frame->Draw(canvas, {-5, 1, 50, 20}, options.Has(ptTile), true);
    } catch (const EGIFError&) {
      // Dithering, or a picture without any colour map, needs a colour map.
    }
    picture.StopAllPainters();
  }
}

}  // namespace

// Loads and answers whether the load went through; a failed load must put
// the stream back.
bool Load(TGIFPicture& picture, const uint8_t* data, size_t size) {
  TMemoryStream stream({data, size});
  try {
    picture.LoadFromStream(stream);
    return true;
  } catch (const EGIFError&) {
    if (stream.Position() != 0) __builtin_trap();
    return false;
  }
}

// The frame's rows as they are read without the whole buffer being made.
std::vector<uint8_t> Rows(const TGIFFrame& frame) {
  std::vector<uint8_t> out;
  frame.ForEachRow([&](int, const uint8_t* row) {
    if (row)
      out.insert(out.end(), row, row + frame.Width());
    else
      out.insert(out.end(), static_cast<size_t>(frame.Width()), frame.FillIndex());
  });
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TGIFPicture picture;
  // Inputs of a few bytes can claim frames of a quarter gigapixel; reading
  // all of those would leave no time for anything else.
  picture.PixelLimit = uint64_t{1} << 22;
  picture.WarnOfDamagedData = true;
  size_t warnings = 0;
  picture.OnParseWarning = [&warnings](const TPersistent*, int, const std::string&) { ++warnings; };
  const bool loaded = Load(picture, data, size);
  // Warning of damage changes no pixel; the rows read piecemeal are the
  // whole buffer's.
  TGIFPicture quiet;
  quiet.PixelLimit = picture.PixelLimit;
  if (Load(quiet, data, size) != loaded || quiet.Images().Count() != picture.Images().Count()) __builtin_trap();
  for (int i = 0; i < picture.Images().Count(); ++i) {
    const TGIFFrame& frame = picture.Images()[i];
    const std::vector<uint8_t> rows = Rows(frame);
    if (rows != Rows(quiet.Images()[i])) __builtin_trap();
    const auto pixels = frame.Pixels();
    if (!std::equal(rows.begin(), rows.end(), pixels.begin(), pixels.end())) __builtin_trap();
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
  Show(picture);
  return 0;
}
