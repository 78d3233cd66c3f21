#include "gif/colormap.h"

#include <algorithm>

#include "gif/errors.h"
#include "gif/picture.h"
#include "reader.h"

namespace gif {

void TGIFColorMap::ReportWarning(int severity, const std::string& message) const {
  image_->Warning(this, severity, message);
}

TGIFColor TGIFColorMap::Color(int index) const {
  if (index < 0 || index >= count_) {
    ReportWarning(WarningSeverity, messages::BadColorIndex);
    if (count_ == 0) throw EGIFError(messages::EmptyColorTable);
    index = 0;
  }
  return entries_[static_cast<size_t>(index)];
}

uint32_t TGIFColorMap::SysColor(int index) const { return ToSysColor(Color(index)); }

void TGIFColorMap::Grow(int count) {
  if (count < Capacity()) return;
  int capacity = count <= 16 ? 16 : (count + 31) / 32 * 32;
  capacity = std::min(capacity, MaxColors);
  entries_.resize(static_cast<size_t>(std::max(capacity, Capacity())));
}

int TGIFColorMap::Add(TGIFColor color) {
  if (count_ >= MaxColors) throw EGIFError(messages::ColorTableOverflow);
  Grow(count_ + 1);
  entries_[static_cast<size_t>(count_)] = color;
  return count_++;
}

void TGIFColorMap::Delete(int index) {
  if (index < 0 || index >= count_) throw EGIFError(messages::BadColorIndex);
  entries_.erase(entries_.begin() + index);
  entries_.push_back({});
  --count_;
}

void TGIFColorMap::Clear() {
  entries_.clear();
  count_ = 0;
  Optimized = false;
}

int TGIFColorMap::BitsPerPixel() const {
  if (count_ == 0) return 0;
  int bits = 1;
  while ((1 << bits) < count_) ++bits;
  return bits;
}

void TGIFColorMap::LoadFromStream(TStream& stream, int count) {
  count = std::clamp(count, 0, MaxColors);
  uint8_t bytes[MaxColors * 3];
  detail::ReadExact(stream, {bytes, static_cast<size_t>(count) * 3});
  Clear();
  Grow(count);
  for (int i = 0; i < count; ++i)
    entries_[static_cast<size_t>(i)] = {bytes[i * 3], bytes[i * 3 + 1], bytes[i * 3 + 2]};
  count_ = count;
}

}  // namespace gif
