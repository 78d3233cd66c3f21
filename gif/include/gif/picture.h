#pragma once
// The picture's object model: a header with the logical screen and the global
// colour map, then the frames in stream order, each with the extension blocks
// read before it and its fully decoded colour indices.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gif/colormap.h"
#include "gif/errors.h"
#include "gif/extensions.h"
#include "gif/item.h"
#include "gif/painting.h"
#include "gif/stream.h"
#include "ui/bitmap.h"
#include "ui/picture.h"
#include "ui/raster.h"

namespace gif {

// Sizes above these fail the load instead of exhausting memory. A frame's
// 16-bit fields allow 65535 x 65535 (4 GiB of indices); no real picture needs
// more than a quarter gigapixel per frame or a gigapixel for all its frames.
inline constexpr uint64_t MaxFramePixels = uint64_t{1} << 28;
inline constexpr uint64_t MaxPicturePixels = uint64_t{1} << 30;

// The 16-bit sizes as read; widened so that a logical screen adjusted to
// cover its frames can pass 65535.
struct LogicalScreenDescriptor {
  uint32_t ScreenWidth = 0;
  uint32_t ScreenHeight = 0;
  uint8_t PackedFields = 0;  // bit 7 global map, 4-6 colour resolution - 1, 3 sorted, 0-2 size
  uint8_t BackgroundColorIndex = 0;
  uint8_t AspectRatio = 0;
};

class TGIFHeader final : public TGIFItem {
 public:
  explicit TGIFHeader(TGIFPicture& image);

  void LoadFromStream(TStream& stream) override;
  void Clear();

  int Width() const { return static_cast<int>(Descriptor.ScreenWidth); }
  int Height() const { return static_cast<int>(Descriptor.ScreenHeight); }
  uint8_t BackgroundColorIndex() const { return Descriptor.BackgroundColorIndex; }
  uint8_t AspectRatio() const { return Descriptor.AspectRatio; }
  int ColorResolution() const { return ((Descriptor.PackedFields >> 4) & 0x07) + 1; }
  TGIFGlobalColorMap& ColorMap() { return colorMap_; }
  const TGIFGlobalColorMap& ColorMap() const { return colorMap_; }

  std::array<char, 6> Signature{};  // "GIF" and the version, as read
  LogicalScreenDescriptor Descriptor;

 private:
  TGIFGlobalColorMap colorMap_;
};

// Owning list of items; deleting an entry frees it.
template <class T>
class TGIFList : public TPersistent {
 public:
  explicit TGIFList(TGIFPicture& image) : image_(&image) {}
  TGIFList(const TGIFList&) = delete;
  TGIFList& operator=(const TGIFList&) = delete;

  TGIFPicture& Image() const { return *image_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  T& operator[](int index) const { return *items_.at(static_cast<size_t>(index)); }
  T& Add(std::unique_ptr<T> item) { return *items_.emplace_back(std::move(item)); }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  void Clear() { items_.clear(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  void ReportWarning(int severity, const std::string& message) const;

 protected:
  std::vector<std::unique_ptr<T>> items_;

 private:
  TGIFPicture* image_;
};

class TGIFExtensionList final : public TGIFList<TGIFExtension> {
 public:
  using TGIFList::TGIFList;
  // Reads the extension blocks up to the frame's image descriptor.
  void LoadFromStream(TStream& stream, TGIFFrame& parent);
  void Delete(int index);
};

// A palette as drawing uses it: entries 0x00RRGGBB.
using TGIFPalette = std::vector<uint32_t>;
using TGIFPaletteRef = std::shared_ptr<const TGIFPalette>;

struct ImageDescriptor {
  uint8_t Separator = 0x2C;
  uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
  uint8_t PackedFields = 0;  // bit 7 local map, 6 interlaced, 5 sorted, 0-2 size
};

class TGIFFrame final : public TGIFItem {
 public:
  explicit TGIFFrame(TGIFPicture& image);
  ~TGIFFrame() override;

  // Reads the extensions, the image descriptor, the local map and the raster.
  void LoadFromStream(TStream& stream) override;
  void Clear();

  int Left() const { return Descriptor.Left; }
  int Top() const { return Descriptor.Top; }
  int Width() const { return Descriptor.Width; }
  int Height() const { return Descriptor.Height; }
  bool Interlaced() const { return (Descriptor.PackedFields & 0x40) != 0; }
  // No pixels: the frame may carry extensions only.
  bool Empty() const { return pixelCount_ == 0 || Width() == 0 || Height() == 0; }

  TGIFLocalColorMap& ColorMap() { return colorMap_; }
  const TGIFLocalColorMap& ColorMap() const { return colorMap_; }
  // The local map when it has entries, else the global one when that has
  // entries, else the (empty) local map.
  const TGIFColorMap& ActiveColorMap() const;
  TGIFExtensionList& Extensions() { return extensions_; }
  const TGIFExtensionList& Extensions() const { return extensions_; }

  // Set by every graphic control extension of the frame with its transparency
  // bit; delay and transparent index come from the first one read.
  bool Transparent = false;
  TGIFGraphicControlExtension* GraphicControlExtension = nullptr;
  uint8_t TransparentColorIndex() const;

  // Colour indices, rows top to bottom, width x height bytes. A frame whose
  // data decodes to fewer pixels than it declares holds only those until
  // its pixels are first asked for here (see ForEachRow).
  std::span<const uint8_t> Pixels() const;
  // Every row top to bottom, without making the whole buffer: `bytes` is
  // null for a row that is all FillIndex().
  void ForEachRow(const std::function<void(int y, const uint8_t* bytes)>& row) const;
  // The index of the pixels that the data did not reach.
  uint8_t FillIndex() const { return fill_; }
  // For the decoder: replaces the pixel buffer with an uninitialised one
  // for `held` of the frame's width x height pixels (plus a few bytes of
  // slack the decoder may scribble on), within the picture's size limits,
  // which count every pixel the frame declares.
  uint8_t* AllocatePixels(uint64_t held);
  // For the decoder, when it held fewer pixels than the frame has: the
  // first `count` of them, in stream order, are decoded; the rest are
  // `fill`.
  void KeepDecoded(size_t count, uint8_t fill);

  ImageDescriptor Descriptor;

  // The frame as drawing uses it: an 8-bit bitmap whose colour table is the
  // frame's palette, and a mask when some pixel is transparent. Both are
  // rendered on first use and kept until the frame is cleared. Null for an
  // empty frame, and after a rendering that a progress listener aborted.
  const ui::Bitmap8* Bitmap();
  // Renders again while the mask is still wanted; whether there is one.
  bool HasMask();
  const ui::Mask1* Mask() const { return mask_.get(); }
  // The bitmap's palette once rendered; else the local map's, or on the
  // dithered path the fixed palette, or the picture's.
  TGIFPaletteRef Palette();
  // Draws into `dest`, which stands for the whole logical screen: scaled
  // to it, or unscaled in every tile of the screen's size laid over it.
  void Draw(ui::Canvas& canvas, ui::Rect dest, bool tile, bool transparent);
  void FreeBitmap();

 private:
  void ReleasePixels();
  void Render();
  void RenderRows(ui::Bitmap8& bitmap, ui::Mask1* mask, bool dither);

  TGIFLocalColorMap colorMap_;
  TGIFExtensionList extensions_;
  // Every pixel, or (partial_) the first decoded_ of them in stream order.
  mutable std::unique_ptr<uint8_t[]> pixels_;
  size_t pixelCount_ = 0;
  mutable bool partial_ = false;
  size_t decoded_ = 0;
  uint8_t fill_ = 0;
  mutable std::recursive_mutex pixelsLock_;

  std::unique_ptr<ui::Bitmap8> bitmap_;
  TGIFPaletteRef bitmapPalette_;
  std::unique_ptr<ui::Mask1> mask_;
  bool maskNeeded_ = true;
  TGIFPaletteRef palette_;
};

class TGIFFrameList final : public TGIFList<TGIFFrame> {
 public:
  using TGIFList::TGIFList;
  // Reads frames up to the trailer byte, which it leaves for the trailer.
  void LoadFromStream(TStream& stream, TGIFPicture& parent);
};

// The terminating 0x3B.
class TGIFTrailer final : public TGIFItem {
 public:
  using TGIFItem::TGIFItem;
  void LoadFromStream(TStream& stream) override;
};

enum class TProgressStage { psStarting, psRunning, psEnding };

class TGIFAnimator;

// A GIF picture: the parsed stream, and its display as a picture of the
// window toolkit. One frame is simply drawn; several are played by a
// painter (TGIFAnimator) that has every drawing step run on the UI thread.
class TGIFPicture : public TPersistent, public ui::Picture {
 public:
  using TParseWarningEvent =
      std::function<void(const TPersistent* sender, int severity, const std::string& message)>;
  using TProgressEvent =
      std::function<void(TGIFPicture& sender, TProgressStage stage, int percent, const std::string& message)>;
  using TPainterEvent = std::function<void(TGIFAnimator& painter)>;

  TGIFPicture();
  ~TGIFPicture() override;
  TGIFPicture(const TGIFPicture&) = delete;
  TGIFPicture& operator=(const TGIFPicture&) = delete;

  // Replaces the content with the GIF read from the stream's position. On
  // failure raises EGIFError, keeps the frames read before the failing one and
  // puts the stream back where reading began.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& name);
  // Stops every painter first, as loading does.
  void Clear();
  // Widens the logical screen to cover every frame.
  void AdjustLogicalScreen();

  bool Empty() const { return images_.Empty(); }
  int Width() const override { return header_.Width(); }
  int Height() const override { return header_.Height(); }
  TGIFHeader& Header() { return header_; }
  const TGIFHeader& Header() const { return header_; }
  TGIFFrameList& Images() { return images_; }
  const TGIFFrameList& Images() const { return images_; }

  // Pixels all frames may hold together; a caller that knows its pictures are
  // small may lower it. A frame never holds more than MaxFramePixels.
  uint64_t PixelLimit = MaxPicturePixels;

  // Tolerable defects; without a handler they are dropped.
  TParseWarningEvent OnParseWarning;
  // Also warn of damaged image data that decoding otherwise passes over
  // without a word: a code size of 0 or above 8, data that does not begin
  // with a clear code, codes past the decoder's table, and data that ends
  // before the frame's last pixel. The pixels are the same either way. Off
  // by default; a tool that judges files turns it on.
  bool WarnOfDamagedData = false;
  // Loading, and rendering of frame bitmaps; rendering may report from a
  // painter's thread.
  TProgressEvent OnProgress;
  void Warning(const TPersistent* sender, int severity, const std::string& message) const;

  // --- display -------------------------------------------------------------
  // Draws at the picture's size with its top-left corner at (x, y).
  void Draw(ui::Canvas& canvas, int x, int y) override;
  // Draws the logical screen into `rect`. UI thread only.
  void Draw(ui::Canvas& canvas, ui::Rect rect);
  // Stops the painter that drawing started, waits for it, and frees the
  // picture's own bitmap.
  void StopDrawing();
  // Stops every painter, waits for them, and frees the picture's own bitmap.
  void StopAllPainters();

  TGIFPaintOptions PaintOptions;
  int SpeedPercent = 100;
  std::optional<uint32_t> PaintBackgroundColor;  // 0x00RRGGBB
  int FixedFrame = -1;
  // The painters' clock; null for the system's.
  TAnimationClock* Clock = nullptr;
  // Called through the UI thread when the painter is threaded; each may
  // change the painter's ActiveFrame.
  TPainterEvent OnAnimationStart, OnFrameBegin, OnFrameEnd, OnLoopRestart, OnAnimationEnd;

  // Frames are dithered to the fixed palette: ptDither, and either
  // ptAutoDither is off or the display has few colours.
  bool Dithering() const;
  // The picture's palette: the global map's, else the first frame's.
  TGIFPaletteRef Palette();
  // The colour painters fill with: PaintBackgroundColor, else the global
  // map's background entry, else the system's window colour.
  uint32_t BackgroundColor() const;
  // The painter drawing started, while it runs; and how many painters run.
  TGIFAnimator* DrawPainter();
  int PainterCount();
  // The picture's own bitmap, which an animation paints into; null when
  // none is playing that way.
  const ui::Bitmap32* OwnBitmap() const;

 private:
  friend class TGIFFrame;
  friend class TGIFFrameList;
  friend class TGIFAnimator;
  void Progress(TProgressStage stage, int percent, const char* message = messages::Loading);
  TGIFAnimator* CreatePainter(ui::Canvas& canvas, ui::Rect rect, TGIFPaintOptions options);
  void DrawOwnBitmap(ui::Canvas& canvas, ui::Rect rect);
  // Joins and frees painters whose thread has ended. Under painterLock_.
  void ReapPainters();
  static void ReleasePainter(std::unique_ptr<TGIFAnimator> painter);

  uint64_t pixelsInUse_ = 0;  // all frames' pixel buffers, against MaxPicturePixels
  TGIFHeader header_;
  TGIFFrameList images_;

  // Frame bitmaps and palettes are made on demand by the UI thread and by a
  // painter rendering ahead; one lock for all of them.
  std::recursive_mutex renderLock_;
  bool paletteInProgress_ = false;
  TGIFPaletteRef palette_;

  std::recursive_mutex painterLock_;
  std::vector<std::unique_ptr<TGIFAnimator>> painters_;
  TGIFAnimator* drawPainter_ = nullptr;
  std::unique_ptr<ui::MemoryCanvas> ownBitmap_;
  bool inDraw_ = false;
};

template <class T>
void TGIFList<T>::ReportWarning(int severity, const std::string& message) const {
  image_->Warning(this, severity, message);
}

}  // namespace gif
