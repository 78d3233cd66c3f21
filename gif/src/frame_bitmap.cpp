// Frame bitmaps: a frame's colour indices as an 8-bit bitmap with its
// palette and transparency mask, or dithered to the fixed palette, and the
// drawing of a frame into the rectangle that stands for the logical screen.
#include <algorithm>
#include <new>

#include "gif/picture.h"
#include "gif/registration.h"
#include "flag_scope.h"

namespace gif {

namespace {

uint32_t Rgb(TGIFColor c) { return static_cast<uint32_t>(c.Red) << 16 | static_cast<uint32_t>(c.Green) << 8 | c.Blue; }

TGIFPaletteRef PaletteOf(const TGIFColorMap& map) {
  auto palette = std::make_shared<TGIFPalette>(static_cast<size_t>(map.Count()));
  for (int i = 0; i < map.Count(); ++i) (*palette)[i] = Rgb(map.Data()[i]);
  return palette;
}

TGIFPaletteRef WebPaletteRef() {
  static const TGIFPaletteRef palette =
      std::make_shared<const TGIFPalette>(ui::WebPalette().begin(), ui::WebPalette().end());
  return palette;
}

}  // namespace

bool TGIFPicture::Dithering() const {
  return PaintOptions.Has(ptDither) && (!PaintOptions.Has(ptAutoDither) || LowColorDisplay());
}

TGIFPaletteRef TGIFPicture::Palette() {
  std::lock_guard guard(renderLock_);
  // A frame without a map asks the picture, which asks its first frame: with
  // no map anywhere that request comes back here.
  if (paletteInProgress_) throw EGIFError(messages::NoColorTable);
  detail::TFlagScope inProgress(paletteInProgress_);
  if (palette_) return palette_;
  if (Dithering()) return WebPaletteRef();
  if (header_.ColorMap().Empty()) return images_.Empty() ? nullptr : images_[0].Palette();
  palette_ = PaletteOf(header_.ColorMap());
  return palette_;
}

TGIFPaletteRef TGIFFrame::Palette() {
  std::lock_guard guard(Image().renderLock_);
  if (bitmap_ && bitmapPalette_) return bitmapPalette_;
  if (palette_) return palette_;
  if (Image().Dithering()) return WebPaletteRef();
  if (colorMap_.Empty()) return Image().Palette();
  palette_ = PaletteOf(colorMap_);
  return palette_;
}

void TGIFFrame::FreeBitmap() {
  std::lock_guard guard(Image().renderLock_);
  bitmap_.reset();
  bitmapPalette_.reset();
  mask_.reset();
  maskNeeded_ = true;
}

const ui::Bitmap8* TGIFFrame::Bitmap() {
  std::lock_guard guard(Image().renderLock_);
  if (!bitmap_ && !Empty()) Render();
  return bitmap_.get();
}

bool TGIFFrame::HasMask() {
  std::lock_guard guard(Image().renderLock_);
  if (maskNeeded_ && Transparent && !Empty()) {
    bitmap_.reset();
    bitmapPalette_.reset();
    Render();
  }
  return mask_ != nullptr;
}

void TGIFFrame::Render() {
  TGIFPicture& picture = Image();
  try {
    picture.Progress(TProgressStage::psStarting, 0, messages::Rendering);
    const bool dither = picture.Dithering();
    TGIFPaletteRef palette = dither ? WebPaletteRef() : Palette();
    std::unique_ptr<ui::Bitmap8> bitmap;
    std::unique_ptr<ui::Mask1> mask;
    const bool masking = maskNeeded_ && Transparent && !mask_;
    try {
      bitmap = std::make_unique<ui::Bitmap8>(Width(), Height());
      if (masking) mask = std::make_unique<ui::Mask1>(Width(), Height());
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory(messages::DibMemory);
    }
    if (palette) bitmap->SetColors(*palette);
    maskNeeded_ = false;
    RenderRows(*bitmap, mask.get(), dither);
    if (mask) {
      const auto bits = mask->Bits();
      if (std::any_of(bits.begin(), bits.end(), [](uint8_t b) { return b != 0; })) mask_ = std::move(mask);
    }
    bitmap_ = std::move(bitmap);
    bitmapPalette_ = palette;
  } catch (const EAbort&) {
    picture.Progress(TProgressStage::psEnding, 0, messages::Rendering);
    return;
  } catch (...) {
    picture.Progress(TProgressStage::psEnding, 0, messages::Rendering);
    throw;
  }
  picture.Progress(TProgressStage::psEnding, 100, messages::Rendering);
}

void TGIFFrame::RenderRows(ui::Bitmap8& bitmap, ui::Mask1* mask, bool dither) {
  const int width = Width(), height = Height();
  const int transparentIndex = Transparent ? TransparentColorIndex() : -1;
  ui::ColorTable colors{};
  if (dither) {
    const TGIFColorMap& map = ActiveColorMap();
    if (map.Empty()) throw EGIFError(messages::NoColorTable);
    // Indices past the map show its first entry, with one warning per
    // frame rather than one per pixel. Transparent pixels are never looked
    // up, so their index may lie past the map, as encoders often put it.
    colors.fill(Rgb(map.Data()[0]));
    for (int i = 0; i < map.Count(); ++i) colors[i] = Rgb(map.Data()[i]);
    const auto pixels = Pixels();
    const bool outside = std::any_of(pixels.begin(), pixels.end(), [&map, transparentIndex](uint8_t index) {
      return index >= map.Count() && index != transparentIndex;
    });
    if (outside) ReportWarning(WarningSeverity, messages::BadColorIndex);
  }
  ui::WebDitherer ditherer(dither ? width : 0);
  const uint8_t* pixels = Pixels().data();
  for (int y = 0; y < height; ++y) {
    const uint8_t* source = pixels + static_cast<size_t>(y) * width;
    uint8_t* row = bitmap.Row(y);
    if (dither)
      ditherer.DitherRow(source, colors, transparentIndex, row);
    else
      std::copy_n(source, width, row);
    if (mask && transparentIndex >= 0) {
      for (int x = 0; x < width; ++x)
        if (source[x] == transparentIndex) mask->Set(x, y);
    }
    if (y % 32 == 31) Image().Progress(TProgressStage::psRunning, (y + 1) * 100 / height, messages::Rendering);
  }
}

void TGIFFrame::Draw(ui::Canvas& canvas, ui::Rect dest, bool tile, bool transparent) {
  std::lock_guard guard(Image().renderLock_);
  const bool masked = transparent && Transparent && HasMask();
  const ui::Bitmap8* bitmap = Bitmap();
  if (!bitmap) return;
  const ui::Mask1* mask = masked ? mask_.get() : nullptr;
  const int screenWidth = Image().Width(), screenHeight = Image().Height();
  if (!tile) {
    canvas.DrawBitmap8(ui::PlaceInside(dest, {Left(), Top(), Width(), Height()}, screenWidth, screenHeight),
                       *bitmap, mask);
    return;
  }
  // Tiles reach no further than the destination.
  const ui::Rect clip = canvas.ClipRect();
  canvas.SetClipRect(ui::Intersect(clip, dest));
  for (const auto& [x, y] : ui::TileOrigins(dest, screenWidth, screenHeight))
    canvas.DrawBitmap8({x + Left(), y + Top(), Width(), Height()}, *bitmap, mask);
  canvas.SetClipRect(clip);
}

}  // namespace gif
