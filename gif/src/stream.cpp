#include "gif/stream.h"

#include <algorithm>
#include <cstring>

#include "gif/errors.h"

namespace gif {

TMemoryStream::TMemoryStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}

TMemoryStream::TMemoryStream(std::vector<uint8_t> bytes) : owned_(std::move(bytes)), bytes_(owned_) {}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  const auto size = static_cast<int64_t>(bytes_.size());
  if (position_ >= size || count == 0) return 0;
  const size_t n = std::min(count, static_cast<size_t>(size - position_));
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

void TMemoryStream::SetPosition(int64_t position) { position_ = std::max<int64_t>(position, 0); }

namespace {
constexpr size_t kWindowSize = 64 * 1024;
}

TFileStream::TFileStream(const std::string& name) {
  if (!file_.open(name, std::ios::in | std::ios::binary))
    throw EFOpenError("Cannot open file \"" + name + "\"");
  const auto end = file_.pubseekoff(0, std::ios::end, std::ios::in);
  if (end == std::streampos(-1)) throw EFOpenError("Cannot open file \"" + name + "\"");
  size_ = static_cast<int64_t>(end);
  file_.pubseekpos(0, std::ios::in);
  window_.resize(kWindowSize);
}

bool TFileStream::Fill() {
  if (position_ >= size_) return false;
  if (file_.pubseekpos(position_, std::ios::in) == std::streampos(-1)) return false;
  windowStart_ = position_;
  windowLength_ = static_cast<size_t>(file_.sgetn(reinterpret_cast<char*>(window_.data()),
                                                  static_cast<std::streamsize>(window_.size())));
  return windowLength_ > 0;
}

size_t TFileStream::Read(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const bool inside = position_ >= windowStart_ &&
                        position_ < windowStart_ + static_cast<int64_t>(windowLength_);
    if (!inside && !Fill()) break;
    const auto offset = static_cast<size_t>(position_ - windowStart_);
    const size_t n = std::min(count - done, windowLength_ - offset);
    std::memcpy(out + done, window_.data() + offset, n);
    done += n;
    position_ += static_cast<int64_t>(n);
  }
  return done;
}

void TFileStream::SetPosition(int64_t position) { position_ = std::max<int64_t>(position, 0); }

}  // namespace gif
