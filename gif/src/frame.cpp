#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gif/lzw.h"
#include "gif/picture.h"
#include "reader.h"

namespace gif {

namespace {
constexpr uint8_t kIntroducer = 0x21;
constexpr uint8_t kSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
}  // namespace

TGIFFrame::TGIFFrame(TGIFPicture& image) : TGIFItem(image), colorMap_(image), extensions_(image) {}

TGIFFrame::~TGIFFrame() { ReleasePixels(); }

void TGIFFrame::ReleasePixels() {
  Image().pixelsInUse_ -= pixelCount_;
  pixels_.reset();
  pixelCount_ = 0;
  partial_ = false;
  decoded_ = 0;
  fill_ = 0;
}

uint8_t* TGIFFrame::AllocatePixels(uint64_t held) {
  ReleasePixels();
  FreeBitmap();
  const uint64_t count = uint64_t{Descriptor.Width} * Descriptor.Height;
  if (count > MaxFramePixels) throw EGIFError(messages::FrameTooLarge);
  const uint64_t limit = Image().PixelLimit;
  if (count > limit - std::min(limit, Image().pixelsInUse_))
    throw EGIFError(messages::PictureTooLarge + std::to_string(limit) + " pixels in all");
  if (count == 0) return nullptr;
  held = std::min(held, count);
  pixels_ = std::make_unique_for_overwrite<uint8_t[]>(held + detail::PixelSlack);
  pixelCount_ = static_cast<size_t>(count);
  partial_ = held < count;
  decoded_ = static_cast<size_t>(held);
  Image().pixelsInUse_ += count;
  return pixels_.get();
}

void TGIFFrame::KeepDecoded(size_t count, uint8_t fill) {
  decoded_ = std::min(count, decoded_);
  fill_ = fill;
}

namespace {

// Where row y of an interlaced frame of `height` rows stands in the stream:
// every 8th row from 0 first, then every 8th from 4, every 4th from 2,
// every 2nd from 1.
size_t StreamRow(size_t y, size_t height) {
  const size_t pass0 = (height + 7) / 8, pass1 = (height + 3) / 8, pass2 = (height + 1) / 4;
  if (y % 8 == 0) return y / 8;
  if (y % 8 == 4) return pass0 + y / 8;
  if (y % 4 == 2) return pass0 + pass1 + y / 4;
  return pass0 + pass1 + pass2 + y / 2;
}

}  // namespace

void TGIFFrame::ForEachRow(const std::function<void(int y, const uint8_t* bytes)>& row) const {
  if (Empty()) return;
  const size_t width = static_cast<size_t>(Width()), height = static_cast<size_t>(Height());
  std::lock_guard guard(pixelsLock_);
  if (!partial_) {
    const uint8_t* pixels = pixels_.get();
    for (size_t y = 0; y < height; ++y) row(static_cast<int>(y), pixels + y * width);
    return;
  }
  // Held pixels are in stream order, which interlacing shuffles by rows.
  const bool interlaced = Interlaced() && height > 1;
  std::vector<uint8_t> mixed;
  for (size_t y = 0; y < height; ++y) {
    const size_t start = (interlaced ? StreamRow(y, height) : y) * width;
    if (start >= decoded_) {
      row(static_cast<int>(y), nullptr);
    } else if (start + width <= decoded_) {
      row(static_cast<int>(y), pixels_.get() + start);
    } else {
      mixed.assign(pixels_.get() + start, pixels_.get() + decoded_);
      mixed.resize(width, fill_);
      row(static_cast<int>(y), mixed.data());
    }
  }
}

std::span<const uint8_t> TGIFFrame::Pixels() const {
  std::lock_guard guard(pixelsLock_);
  if (partial_) {
    // Asked for the whole buffer: now it costs its size.
    auto whole = std::make_unique_for_overwrite<uint8_t[]>(pixelCount_ + detail::PixelSlack);
    const size_t width = static_cast<size_t>(Width());
    ForEachRow([&](int y, const uint8_t* bytes) {
      uint8_t* to = whole.get() + static_cast<size_t>(y) * width;
      if (bytes)
        std::memcpy(to, bytes, width);
      else
        std::memset(to, fill_, width);
    });
    pixels_ = std::move(whole);
    partial_ = false;
  }
  return {pixels_.get(), pixelCount_};
}

void TGIFFrame::Clear() {
  extensions_.Clear();
  colorMap_.Clear();
  ReleasePixels();
  FreeBitmap();
  palette_.reset();
  Transparent = false;
  GraphicControlExtension = nullptr;
  Descriptor = {};
}

const TGIFColorMap& TGIFFrame::ActiveColorMap() const {
  if (!colorMap_.Empty()) return colorMap_;
  if (!Image().Header().ColorMap().Empty()) return Image().Header().ColorMap();
  return colorMap_;
}

uint8_t TGIFFrame::TransparentColorIndex() const {
  return GraphicControlExtension ? GraphicControlExtension->TransparentColorIndex() : 0;
}

void TGIFFrame::LoadFromStream(TStream& stream) {
  Clear();
  extensions_.LoadFromStream(stream, *this);
  const int next = detail::PeekByte(stream);
  if (next < 0 || next == kTrailer || next == 0) return;

  uint8_t d[10];
  detail::ReadExact(stream, d);
  Descriptor = {d[0], detail::GetU16(d + 1), detail::GetU16(d + 3), detail::GetU16(d + 5),
                detail::GetU16(d + 7), d[9]};
  if (Descriptor.Width == 0 || Descriptor.Height == 0) {
    // The logical screen has not been widened yet, so its size fits 16 bits.
    Descriptor.Width = static_cast<uint16_t>(Image().Header().Width());
    Descriptor.Height = static_cast<uint16_t>(Image().Header().Height());
    ReportWarning(WarningSeverity, messages::ImageExceedsScreen);
  }
  if (Descriptor.PackedFields & 0x80)
    colorMap_.LoadFromStream(stream, 2 << (Descriptor.PackedFields & 0x07));
  DecodeRaster(*this, stream);
}

void TGIFExtensionList::LoadFromStream(TStream& stream, TGIFFrame& parent) {
  uint8_t b;
  if (!detail::ReadByte(stream, b)) return;
  while (b != kSeparator && b != kTrailer) {
    if (b != kIntroducer) {
      ReportWarning(WarningSeverity, messages::BadExtensionIntroducer);
      break;
    }
    const TGIFExtensionClass* cls = FindExtensionClass(stream);
    if (!cls) throw EGIFError(messages::UnknownExtension);
    detail::StepBack(stream);
    std::unique_ptr<TGIFExtension> extension = cls->Create(parent);
    extension->LoadFromStream(stream);
    Add(std::move(extension));
    if (!detail::ReadByte(stream, b)) return;
  }
  detail::StepBack(stream);
}

void TGIFExtensionList::Delete(int index) {
  TGIFFrame& frame = (*this)[index].Frame();
  const bool wasReference = &(*this)[index] == frame.GraphicControlExtension;
  TGIFList::Delete(index);
  if (!wasReference) return;
  frame.GraphicControlExtension = nullptr;
  for (const auto& extension : items_)
    if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(extension.get())) {
      frame.GraphicControlExtension = gce;
      break;
    }
}

void TGIFFrameList::LoadFromStream(TStream& stream, TGIFPicture& parent) {
  // Zero bytes between blocks are padding some writers leave; skip them.
  const auto nextBlock = [&stream](uint8_t& b) {
    do {
      if (!detail::ReadByte(stream, b)) return false;
    } while (b == 0);
    return true;
  };
  uint8_t b;
  if (!nextBlock(b)) return;
  while (b != kTrailer) {
    detail::StepBack(stream);
    if (b != kIntroducer && b != kSeparator) {
      ReportWarning(WarningSeverity, messages::UnknownBlock);
      return;
    }
    auto frame = std::make_unique<TGIFFrame>(parent);
    frame->LoadFromStream(stream);
    Add(std::move(frame));
    const int64_t size = stream.Size();
    parent.Progress(TProgressStage::psRunning,
                    size > 0 ? static_cast<int>(stream.Position() * 100 / size) : 100);
    if (!nextBlock(b)) return;
  }
  detail::StepBack(stream);
}

void TGIFTrailer::LoadFromStream(TStream& stream) {
  uint8_t b;
  if (detail::ReadByte(stream, b) && b != kTrailer) ReportWarning(WarningSeverity, messages::BadTrailer);
}

}  // namespace gif
