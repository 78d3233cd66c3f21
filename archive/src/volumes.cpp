#include "archive/volumes.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "archive/errors.h"
#include "paths.h"

namespace za {

namespace {

// Where the extension of the file-name part starts (at its dot), or npos.
std::size_t ExtensionStart(std::u16string_view fileName) {
  std::size_t dot = fileName.find_last_of(u'.');
  if (dot == std::u16string_view::npos || dot < paths::NameStart(fileName)) return std::u16string_view::npos;
  return dot;
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool AllDigits(std::u16string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::u16string Numbered(std::u16string_view base, const char* format, std::int64_t number) {
  char digits[24];
  std::snprintf(digits, sizeof digits, format, static_cast<long long>(number));
  std::u16string name(base);
  for (const char* d = digits; *d; ++d) name.push_back(static_cast<char16_t>(*d));
  return name;
}

}  // namespace

bool ZANumberedVolume(std::u16string_view fileName, std::u16string& stem, std::uint32_t& number) {
  std::size_t dot = ExtensionStart(fileName);
  if (dot == std::u16string_view::npos) return false;
  std::u16string_view digits = fileName.substr(dot + 1);
  // Nine digits at most: a volume number is a 32-bit count.
  if (digits.size() < 3 || digits.size() > 9 || !AllDigits(digits)) return false;
  std::uint32_t n = 0;
  for (char16_t c : digits) n = n * 10 + static_cast<std::uint32_t>(c - u'0');
  if (n == 0) return false;
  stem = fileName.substr(0, dot);
  number = n;
  return true;
}

std::u16string ZANumberedVolumeName(std::u16string_view stem, std::int32_t volume) {
  return Numbered(std::u16string(stem) + u'.', "%03lld", static_cast<std::int64_t>(volume) + 1);
}

std::u16string ZALastSplitVolumeName(std::u16string_view fileName) {
  std::size_t dot = ExtensionStart(fileName);
  if (dot == std::u16string_view::npos) return std::u16string(fileName);
  std::u16string_view ext = fileName.substr(dot + 1);
  bool zNumber = ext.size() >= 3 && Lower(ext[0]) == u'z' && AllDigits(ext.substr(1));
  bool exe = ext.size() == 3 && Lower(ext[0]) == u'e' && Lower(ext[1]) == u'x' && Lower(ext[2]) == u'e';
  if (!zNumber && !exe) return std::u16string(fileName);
  return std::u16string(fileName.substr(0, dot)) + u".zip";
}

std::u16string ZASplitVolumeName(std::u16string_view lastName, std::int32_t volume, std::int32_t lastVolume) {
  if (volume >= lastVolume) return std::u16string(lastName);
  std::size_t dot = ExtensionStart(lastName);
  std::u16string_view base = dot == std::u16string_view::npos ? lastName : lastName.substr(0, dot);
  return Numbered(std::u16string(base) + u".z", "%02lld", static_cast<std::int64_t>(volume) + 1);
}

bool ZAHasExeExtension(std::u16string_view fileName) {
  std::size_t dot = ExtensionStart(fileName);
  if (dot == std::u16string_view::npos) return false;
  std::u16string ext(fileName.substr(dot));
  std::transform(ext.begin(), ext.end(), ext.begin(), Lower);
  return ext.find(u".exe") != std::u16string::npos;
}

// ---- TZAVolumeStream

void TZAVolumeStream::Select(std::int32_t volume) {
  if (volume == volume_ && current_) return;
  if (volume < 0 || volume > last_) throw EReadError();
  // A disk is taken out of the drive for the next one: the file the current
  // volume came from is closed before another is asked for.
  current_.reset();
  volume_ = -1;
  current_ = open_(volume);
  volume_ = volume;
  current_->SetPosition(0);
}

void TZAVolumeStream::Attach(std::int32_t volume, std::unique_ptr<TZAStream> stream) {
  current_ = std::move(stream);
  volume_ = volume;
}

std::int64_t TZAVolumeStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || !current_) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t done = 0;
  bool moved = false;
  for (;;) {
    std::int64_t n = current_->Read(out + done, count - done);
    done += n;
    // A volume that gives nothing at its start ends the read: the archive
    // is cut short there.
    if (done == count || (moved && n == 0) || volume_ >= last_) return done;
    Select(volume_ + 1);
    moved = true;
  }
}

std::int64_t TZAVolumeStream::Seek(std::int64_t offset, TZASeekOrigin origin) {
  return current_ ? current_->Seek(offset, origin) : -1;
}

std::int64_t TZAVolumeStream::Size() { return current_ ? current_->Size() : 0; }

void TZAVolumeStream::SetSize(std::int64_t) { throw EWriteError(); }

// ---- TZAJoinedStream

TZAJoinedStream::TZAJoinedStream(Opener open, std::vector<std::int64_t> sizes) : open_(std::move(open)) {
  starts_.reserve(sizes.size() + 1);
  starts_.push_back(0);
  for (std::int64_t size : sizes) starts_.push_back(starts_.back() + std::max<std::int64_t>(size, 0));
}

std::int64_t TZAJoinedStream::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count && position_ < Size()) {
    // The piece that holds the position: the last one starting at or before it.
    auto at = std::upper_bound(starts_.begin(), starts_.end(), position_) - starts_.begin() - 1;
    std::int32_t piece = static_cast<std::int32_t>(at);
    if (piece != piece_ || !current_) {
      current_.reset();
      piece_ = -1;
      current_ = open_(piece);
      piece_ = piece;
    }
    std::int64_t within = position_ - starts_[at];
    std::int64_t want = std::min(count - done, starts_[at + 1] - position_);
    if (current_->Seek(within, TZASeekOrigin::soBeginning) != within) break;
    std::int64_t n = current_->Read(out + done, want);
    done += n;
    position_ += n;
    if (n < want) break;  // the piece is shorter than it was
  }
  return done;
}

std::int64_t TZAJoinedStream::Seek(std::int64_t offset, TZASeekOrigin origin) {
  std::int64_t base = origin == TZASeekOrigin::soBeginning ? 0 : origin == TZASeekOrigin::soCurrent ? position_ : Size();
  if (offset < -base || offset > std::numeric_limits<std::int64_t>::max() - base) return -1;
  position_ = base + offset;
  return position_;
}

void TZAJoinedStream::SetSize(std::int64_t) { throw EWriteError(); }

}  // namespace za
