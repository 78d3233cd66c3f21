#include "lzma_outlet.h"

#include <algorithm>

#include "library_codec.h"

namespace za {

bool TZALzmaOutlet::SetWindow(std::uint32_t dictionary) {
  std::uint64_t capacity = std::max<std::uint64_t>(std::min<std::uint64_t>(declared_, dictionary), 1);
  if (capacity > kZAWindowLimit) return false;
  std::uint8_t* buffer = capacity >= declared_ ? output_ : nullptr;
  flushed_ = 0;
  return decoder_.SetWindow(buffer, outputSize_, static_cast<std::size_t>(capacity), dictionary);
}

bool TZALzmaOutlet::Hand(TZACodecOutput& out) {
  std::size_t pos = decoder_.Position();
  if (pos > flushed_) {
    const std::uint8_t* data = decoder_.Window() + flushed_;
    std::size_t n = pos - flushed_;
    if (!out.Write(data, n)) return false;
    out.Count(data, n);
    flushed_ = pos;
    reported_ = false;
  }
  if (pos == decoder_.Capacity()) {
    decoder_.Wrap();
    flushed_ = 0;
  }
  return true;
}

}  // namespace za
