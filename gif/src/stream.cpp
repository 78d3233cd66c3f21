#include "gif/stream.h"

#include <algorithm>
#include <cstring>

#include "gif/errors.h"
#include "sys/codepage.h"

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

TFileStream::TFileStream(std::u16string_view name) {
  const auto fail = [this, name] {
    EFOpenError e("Cannot open file \"" + sys::WideToUtf8(name) + "\"");
    e.SystemError = file_.LastError();
    throw e;
  };
  if (!file_.Open(name, sys::FileAccess::Read, sys::FileShare::DenyWrite)) fail();
  size_ = file_.Size();
  if (size_ < 0) fail();
  window_.resize(kWindowSize);
}

TFileStream::TFileStream(const std::string& name) : TFileStream(sys::Utf8ToWide(name)) {}

bool TFileStream::Fill() {
  if (position_ >= size_) return false;
  if (file_.Seek(position_, sys::SeekOrigin::Begin) != position_) return false;
  const int64_t got = file_.Read(window_.data(), static_cast<int64_t>(window_.size()));
  if (got <= 0) return false;
  windowStart_ = position_;
  windowLength_ = static_cast<size_t>(got);
  return true;
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
