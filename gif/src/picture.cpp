#include "gif/picture.h"

#include <algorithm>
#include <cctype>

#include "gif/animator.h"
#include "reader.h"

namespace gif {

void TGIFItem::ReportWarning(int severity, const std::string& message) const {
  image_->Warning(this, severity, message);
}

TGIFHeader::TGIFHeader(TGIFPicture& image) : TGIFItem(image), colorMap_(image) {}

void TGIFHeader::Clear() {
  Signature = {};
  Descriptor = {};
  colorMap_.Clear();
}

namespace {
bool IsSignature(const uint8_t* bytes) {
  return std::toupper(bytes[0]) == 'G' && std::toupper(bytes[1]) == 'I' && std::toupper(bytes[2]) == 'F';
}
}  // namespace

void TGIFHeader::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t signature[6];
  detail::ReadExact(stream, signature);
  if (!IsSignature(signature)) {
    // Some containers put a 4-byte length before the GIF.
    stream.SetPosition(start + 4);
    detail::ReadExact(stream, signature);
    if (!IsSignature(signature)) throw EGIFError(messages::BadSignature);
  }
  std::copy(std::begin(signature), std::end(signature), Signature.begin());

  uint8_t d[7];
  detail::ReadExact(stream, d);
  Descriptor = {detail::GetU16(d), detail::GetU16(d + 2), d[4], d[5], d[6]};
  if (Descriptor.PackedFields & 0x80)
    colorMap_.LoadFromStream(stream, 2 << (Descriptor.PackedFields & 0x07));
  else
    colorMap_.Clear();
}

TGIFPicture::TGIFPicture() : header_(*this), images_(*this) {}

TGIFPicture::~TGIFPicture() {
  StopAllPainters();
  images_.Clear();
}

void TGIFPicture::Clear() {
  StopAllPainters();
  images_.Clear();
  header_.Clear();
  std::lock_guard guard(renderLock_);
  palette_.reset();
}

void TGIFPicture::Warning(const TPersistent* sender, int severity, const std::string& message) const {
  if (OnParseWarning) OnParseWarning(sender, severity, message);
}

void TGIFPicture::Progress(TProgressStage stage, int percent, const char* message) {
  if (OnProgress) OnProgress(*this, stage, percent, message);
}

void TGIFPicture::AdjustLogicalScreen() {
  for (const auto& frame : images_) {
    header_.Descriptor.ScreenWidth =
        std::max<uint32_t>(header_.Descriptor.ScreenWidth, uint32_t{frame->Descriptor.Left} + frame->Descriptor.Width);
    header_.Descriptor.ScreenHeight =
        std::max<uint32_t>(header_.Descriptor.ScreenHeight, uint32_t{frame->Descriptor.Top} + frame->Descriptor.Height);
  }
}

void TGIFPicture::LoadFromStream(TStream& stream) {
  Progress(TProgressStage::psStarting, 0);
  Clear();
  const int64_t start = stream.Position();
  try {
    header_.LoadFromStream(stream);
    images_.LoadFromStream(stream, *this);
    AdjustLogicalScreen();
    TGIFTrailer(*this).LoadFromStream(stream);
  } catch (...) {
    stream.SetPosition(start);
    Progress(TProgressStage::psEnding, 0);
    throw;
  }
  Progress(TProgressStage::psEnding, 100);
}

void TGIFPicture::LoadFromFile(const std::string& name) {
  TFileStream stream(name);
  LoadFromStream(stream);
}

}  // namespace gif
