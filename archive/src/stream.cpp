#include "archive/stream.h"

#include <algorithm>
#include <cstring>

#include "archive/errors.h"

namespace za {

namespace {

std::int64_t SeekTo(std::int64_t& position, std::int64_t offset, TZASeekOrigin origin, std::int64_t size) {
  std::int64_t base = origin == TZASeekOrigin::soBeginning ? 0 : origin == TZASeekOrigin::soCurrent ? position : size;
  if (base < 0 || offset < -base) return -1;
  position = base + offset;
  return position;
}

std::int64_t ReadSpan(const std::uint8_t* data, std::int64_t size, std::int64_t& position, void* buffer,
                      std::int64_t count) {
  if (count <= 0 || position >= size) return 0;
  std::int64_t n = std::min(count, size - position);
  std::memcpy(buffer, data + position, static_cast<std::size_t>(n));
  position += n;
  return n;
}

}  // namespace

std::int64_t TZAStream::Size() {
  std::int64_t pos = Seek(0, TZASeekOrigin::soCurrent);
  std::int64_t size = Seek(0, TZASeekOrigin::soEnd);
  Seek(pos, TZASeekOrigin::soBeginning);
  return size;
}

std::int64_t TZAStream::Peek(std::int64_t position, void* buffer, std::int64_t count) {
  const std::int64_t at = Position();
  if (at < 0 || Seek(position, TZASeekOrigin::soBeginning) < 0) return -1;
  const std::int64_t n = Read(buffer, count);
  Seek(at, TZASeekOrigin::soBeginning);
  return n;
}

void TZAStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError();
}

void TZAStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError();
}

std::int64_t TZAStream::CopyFrom(TZAStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 20)) + 1);
  std::int64_t done = 0;
  while (done < count) {
    std::int64_t n = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    done += n;
  }
  return done;
}

// ---- memory

std::int64_t TZAMemoryStream::Read(void* buffer, std::int64_t count) {
  return ReadSpan(data_.data(), Size(), position_, buffer, count);
}

std::int64_t TZAMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<std::size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TZAMemoryStream::Seek(std::int64_t offset, TZASeekOrigin origin) {
  return SeekTo(position_, offset, origin, Size());
}

void TZAMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  if (position_ > size) position_ = size;
}

// ---- buffer view

std::int64_t TZABufferStream::Read(void* buffer, std::int64_t count) {
  return ReadSpan(data_, Size(), position_, buffer, count);
}

std::int64_t TZABufferStream::Seek(std::int64_t offset, TZASeekOrigin origin) {
  return SeekTo(position_, offset, origin, Size());
}

void TZABufferStream::SetSize(std::int64_t) { throw EWriteError(); }

// ---- null

std::int64_t TNullStream::Write(const void*, std::int64_t count) {
  if (count <= 0) return 0;
  position_ += count;
  if (position_ > size_) size_ = position_;
  return count;
}

std::int64_t TNullStream::Seek(std::int64_t offset, TZASeekOrigin origin) {
  return SeekTo(position_, offset, origin, size_);
}

// ---- file

bool ZAOpenFile(sys::WideFile& file, std::u16string_view fileName, std::uint16_t mode) {
  if (mode == fmCreate) return file.Create(fileName, sys::FileShare::Exclusive);
  sys::FileAccess access = (mode & 3) == fmOpenWrite       ? sys::FileAccess::Write
                           : (mode & 3) == fmOpenReadWrite ? sys::FileAccess::ReadWrite
                                                           : sys::FileAccess::Read;
  sys::FileShare share;
  switch (mode & 0xF0) {
    case fmShareExclusive: share = sys::FileShare::Exclusive; break;
    case fmShareDenyWrite: share = sys::FileShare::DenyWrite; break;
    case fmShareDenyRead: share = sys::FileShare::DenyRead; break;
    case fmShareDenyNone: share = sys::FileShare::DenyNone; break;
    default: share = sys::FileShare::Exclusive; break;  // compatibility mode
  }
  return file.Open(fileName, access, share);
}

TZAFileStream::TZAFileStream(std::u16string_view fileName, std::uint16_t mode) : fileName_(fileName) {
  if (!ZAOpenFile(file_, fileName, mode)) {
    std::u16string name(fileName);
    if (mode == fmCreate) {
      EFCreateError e(u"Cannot create file \"" + name + u"\"");
      e.SystemError = file_.LastError();
      throw e;
    }
    EFOpenError e(u"Cannot open file \"" + name + u"\"");
    e.SystemError = file_.LastError();
    throw e;
  }
}

std::int64_t TZAFileStream::ReadDirect(void* buffer, std::int64_t count) {
  return TZAFileStream::Peek(position_, buffer, count);
}

std::int64_t TZAFileStream::Peek(std::int64_t position, void* buffer, std::int64_t count) {
  if (filePosition_ != position && file_.Seek(position, sys::SeekOrigin::Begin) < 0) {
    filePosition_ = -1;
    return -1;
  }
  std::int64_t n = file_.Read(buffer, count);
  filePosition_ = n < 0 ? -1 : position + n;
  return n;
}

bool TZAFileStream::Viewing(std::int64_t count) {
  if (view_.Mapped() && position_ >= view_.Offset() &&
      position_ - view_.Offset() <= static_cast<std::int64_t>(view_.Size()) - count)
    return true;
  if (viewFailed_ || count > kViewPiece) return false;
  std::int64_t size = Size();
  if (size < 0 || position_ > size || count > size - position_) return false;
  // A cut-short file was read into zeros: it is read again, so that its end
  // is found as a read finds it.
  if (view_.Lost()) return false;
  std::int64_t length = std::min(size - position_, kViewPiece);
  if (view_.Map(file_, position_, static_cast<std::size_t>(length))) return true;
  viewFailed_ = true;
  return false;
}

const std::uint8_t* TZAFileStream::View(std::int64_t count) {
  if (count <= 0 || !viewed_ || !Viewing(count)) return nullptr;
  viewing_ = true;
  const std::uint8_t* at = view_.Data() + (position_ - view_.Offset());
  position_ += count;
  return at;
}

std::int64_t TZAFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (viewing_ && count <= kWindow / 4 && Viewing(count) && !view_.Lost()) {
    std::memcpy(buffer, view_.Data() + (position_ - view_.Offset()), static_cast<std::size_t>(count));
    position_ += count;
    return count;
  }
  // Larger reads go straight to the file: copying them through the window
  // would only add a copy.
  const bool inside = position_ >= windowStart_ && position_ - windowStart_ < windowLength_;
  if (count > kWindow / 4) {
    if (inside) windowFill_ = kShortFill;
    std::int64_t n = ReadDirect(buffer, count);
    if (n < 0) return 0;
    position_ += n;
    return n;
  }
  // Short of what was asked, the window ends where the file did.
  bool inWindow = inside && (count <= windowLength_ - (position_ - windowStart_) || windowLength_ < windowAsked_);
  if (!inWindow) {
    // Reads that run on past the window are small ones in a row.
    if (windowLength_ > 0 && position_ >= windowStart_ && position_ - windowStart_ <= windowLength_)
      windowFill_ = kWindow;
    if (!window_) window_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(kWindow));
    windowLength_ = 0;
    windowAsked_ = std::max(windowFill_, count);
    std::int64_t n = ReadDirect(window_.get(), windowAsked_);
    if (n <= 0) return 0;
    windowStart_ = position_;
    windowLength_ = n;
  }
  std::int64_t n = std::min(count, windowLength_ - (position_ - windowStart_));
  std::memcpy(buffer, window_.get() + (position_ - windowStart_), static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TZAFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  size_ = -1;
  windowLength_ = 0;
  view_.Unmap();
  if (filePosition_ != position_ && file_.Seek(position_, sys::SeekOrigin::Begin) < 0) {
    filePosition_ = -1;
    return 0;
  }
  std::int64_t n = file_.Write(buffer, count);
  filePosition_ = n < 0 ? -1 : position_ + n;
  if (n < 0) return 0;
  position_ += n;
  return n;
}

std::int64_t TZAFileStream::Seek(std::int64_t offset, TZASeekOrigin origin) {
  return SeekTo(position_, offset, origin, origin == TZASeekOrigin::soEnd ? Size() : 0);
}

std::int64_t TZAFileStream::Size() {
  if (size_ < 0) size_ = file_.Size();
  return size_;
}

void TZAFileStream::SetSize(std::int64_t size) {
  size_ = -1;
  Forget();
  if (!file_.Truncate(size)) throw EWriteError();
  if (position_ > size) position_ = size;
}

}  // namespace za
