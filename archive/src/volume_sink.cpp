#include "volume_sink.h"

#include <algorithm>
#include <limits>

#include "sys/wide_file.h"

namespace za {

namespace {

constexpr std::uint64_t kUnbounded = std::numeric_limits<std::uint64_t>::max();
// What the commit writes comes in large pieces that pass the buffer by:
// it gathers only records written one by one (the directory's).
constexpr std::size_t kVolumeBuffer = 1 << 16;
// Room for a local header and a little data at the least.
constexpr std::int64_t kSmallestCutVolume = 64;

std::unique_ptr<TZAStream> Reopen(const std::u16string& name) {
  auto file = std::make_unique<TZAFileStream>(name, fmOpenReadWrite);
  file->Seek(0, TZASeekOrigin::soEnd);
  return file;
}

}  // namespace

TZAVolumeSink::TZAVolumeSink(const TZATransaction& transaction, std::u16string folder, TZAShape shape,
                             TZAVolumeDisks* disks)
    : transaction_(transaction), folder_(std::move(folder)), shape_(shape), disks_(disks) {}

TZAVolumeSink::~TZAVolumeSink() {
  last_.reset();
  lastFile_.reset();
  backFile_.reset();
  for (const Volume& v : volumes_)
    if (!v.File.empty()) sys::WideDeleteFile(v.File);
}

// ---- the layout

std::uint64_t TZAVolumeSink::EndOf(std::size_t index) const {
  if (index + 1 < volumes_.size()) return volumes_[index + 1].Start;
  const Volume& v = volumes_[index];
  const std::uint64_t room = v.Limit > v.Base ? v.Limit - v.Base : 0;
  return v.Start > kUnbounded - room ? kUnbounded : v.Start + room;
}

std::size_t TZAVolumeSink::IndexAt(std::uint64_t at) const {
  if (volumes_.empty() || at >= volumes_.back().Start) return volumes_.empty() ? 0 : volumes_.size() - 1;
  auto after = std::upper_bound(volumes_.begin(), volumes_.end(), at,
                                [](std::uint64_t p, const Volume& v) { return p < v.Start; });
  return static_cast<std::size_t>(after - volumes_.begin()) - 1;
}

std::uint64_t TZAVolumeSink::OffsetAt(std::uint64_t at) const {
  const Volume& v = volumes_[IndexAt(at)];
  return v.Base + (at - v.Start);
}

std::uint64_t TZAVolumeSink::RoomAt(std::uint64_t at) const {
  const Volume& v = volumes_[IndexAt(at)];
  const std::uint64_t used = v.Base + (at - v.Start);
  return v.Limit > used ? v.Limit - used : 0;
}

void TZAVolumeSink::Extend(std::uint64_t at) {
  while (at >= EndOf(volumes_.size() - 1)) NewVolume(EndOf(volumes_.size() - 1));
}

void TZAVolumeSink::NewVolume(std::uint64_t start) {
  const std::int32_t volume = static_cast<std::int32_t>(volumes_.size());
  std::int64_t limit = volume == 0 ? shape_.First : shape_.Size;
  if (disks_ && volume > 0) {
    // A disk is taken out once its volume is complete: that volume is
    // never written again.
    CloseLast();
    disks_->Complete(volume - 1, volumes_.back().File);
    volumes_.back().File.clear();
  }
  // Disk numbers are 16-bit in the end record and the central headers.
  if (shape_.KeepRecords && volumes_.size() >= 0xFFFF) throw Exception(u"Too many volumes for a split archive");
  if (disks_ && volume > 0) disks_->Begin(volume, limit);
  if (shape_.KeepRecords) limit = std::max(limit, kSmallestCutVolume);
  // Only a record at the very start shows that nothing lies in front of
  // the set: bytes that come first are a stub.
  const bool signature = volume == 0 && shape_.Signature && startsWithRecord_;
  volumes_.push_back({start, signature ? 4u : 0u, plain_ ? kUnbounded : static_cast<std::uint64_t>(limit), u""});
}

void TZAVolumeSink::BeginRecord(std::uint64_t at, std::uint64_t size) {
  if (!shape_.KeepRecords) return;
  if (volumes_.empty()) {
    startsWithRecord_ = at == 0;
    NewVolume(0);
  }
  Extend(at);
  const Volume& v = volumes_.back();
  const std::uint64_t used = v.Base + (at - v.Start);
  if (used > 0 && size > (v.Limit > used ? v.Limit - used : 0)) NewVolume(at);
}

void TZAVolumeSink::KeepPlain() {
  plain_ = true;
  if (volumes_.empty()) return;
  Volume& v = volumes_.front();
  v.Limit = kUnbounded;
  if (v.Base == 0) return;
  v.Base = 0;
  if (v.File.empty()) return;
  // The signature slot goes: the volume is copied without it.
  CloseBack();
  if (!last_ || lastIndex_ != 0) {
    CloseLast();
    lastFile_ = Reopen(v.File);
  } else {
    last_->Flush();
  }
  last_.reset();
  std::unique_ptr<TZAStream> to;
  std::u16string name;
  try {
    name = transaction_.CreateTemp(folder_, to);
  } catch (...) {
    failure_ = std::current_exception();
    throw;
  }
  auto out = std::make_unique<TZAOutput>(*to, kVolumeBuffer);
  const std::int64_t size = lastFile_->Size();
  lastFile_->SetPosition(4);
  try {
    ZACopyBytes(*lastFile_, static_cast<std::uint64_t>(std::max<std::int64_t>(size - 4, 0)),
                [&](const std::uint8_t* data, std::size_t n) { out->Write(data, n); });
  } catch (...) {
    out.reset();
    to.reset();
    sys::WideDeleteFile(name);
    throw;
  }
  lastFile_.reset();
  sys::WideDeleteFile(v.File);
  v.File = name;
  lastFile_ = std::move(to);
  last_ = std::move(out);
  lastIndex_ = 0;
}

// ---- the files

// Volumes are put on their disk once all are written (Finish): a sync
// per volume while entries are still being written holds up the commit,
// and with it the work done ahead. A spanned volume leaves at once.
void TZAVolumeSink::CloseLast() {
  if (!last_) return;
  last_->Flush();
  if (disks_) ZAFlushFile(*lastFile_);
  last_.reset();
  lastFile_.reset();
}

void TZAVolumeSink::CloseBack() { backFile_.reset(); }

TZAStream& TZAVolumeSink::FileFor(std::size_t index, std::uint64_t offset) {
  Volume& v = volumes_[index];
  if (!last_ || index > lastIndex_) {
    // A volume is begun after those before it are written: the one written
    // so far is complete but for patches.
    CloseLast();
    if (backFile_ && backIndex_ == index) CloseBack();
    if (v.File.empty()) {
      try {
        v.File = transaction_.CreateTemp(folder_, lastFile_);
      } catch (...) {
        failure_ = std::current_exception();
        throw EWriteError();
      }
      last_ = std::make_unique<TZAOutput>(*lastFile_, kVolumeBuffer);
      if (v.Base == 4) {
        std::uint8_t signature[4];
        PutU32(signature, kDataDescriptorSignature);
        last_->Write(signature, sizeof signature);
      }
    } else {
      lastFile_ = Reopen(v.File);
      last_ = std::make_unique<TZAOutput>(*lastFile_, kVolumeBuffer);
    }
    lastIndex_ = index;
  }
  if (index == lastIndex_) return *lastFile_;
  if (!backFile_ || backIndex_ != index) {
    CloseBack();
    backFile_ = Reopen(v.File);
    backIndex_ = index;
  }
  backFile_->SetPosition(static_cast<std::int64_t>(offset));
  return *backFile_;
}

std::int64_t TZAVolumeSink::Write(const void* data, std::int64_t count) {
  auto* p = static_cast<const std::uint8_t*>(data);
  for (std::int64_t left = count; left > 0;) {
    if (volumes_.empty()) NewVolume(position_);
    Extend(position_);
    const std::size_t index = IndexAt(position_);
    const std::uint64_t offset = OffsetAt(position_);
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(left),
                                                                     EndOf(index) - position_));
    TZAStream& file = FileFor(index, offset);
    if (index == lastIndex_) {
      // Bytes of the newest volume go through its buffer; a patch of what
      // it holds already goes in place.
      std::uint64_t end = last_->Position();
      if (offset < end) {
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, end - offset));
        last_->Patch(offset, p, k);
        p += k;
        n -= k;
        left -= static_cast<std::int64_t>(k);
        position_ += k;
      }
      // Nothing seeks past the end, but if it did the gap reads as zeros.
      for (std::uint64_t gap = offset > end ? offset - end : 0; gap > 0;) {
        static const std::uint8_t kZeros[512] = {};
        const std::size_t z = static_cast<std::size_t>(std::min<std::uint64_t>(gap, sizeof kZeros));
        last_->Write(kZeros, z);
        gap -= z;
      }
      if (n > 0) last_->Write(p, n);
    } else if (file.Write(p, static_cast<std::int64_t>(n)) != static_cast<std::int64_t>(n)) {
      error_ = file.LastError();
      return count - left;
    }
    p += n;
    left -= static_cast<std::int64_t>(n);
    position_ += n;
    size_ = std::max(size_, position_);
  }
  return count;
}

std::int64_t TZAVolumeSink::Seek(std::int64_t offset, TZASeekOrigin origin) {
  std::int64_t base = origin == TZASeekOrigin::soBeginning ? 0
                      : origin == TZASeekOrigin::soCurrent ? static_cast<std::int64_t>(position_)
                                                           : static_cast<std::int64_t>(size_);
  if (base + offset < 0) return -1;
  position_ = static_cast<std::uint64_t>(base + offset);
  return static_cast<std::int64_t>(position_);
}

void TZAVolumeSink::SetSize(std::int64_t size) {
  const std::uint64_t at = static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
  // Volumes begun at or after the cut go; the first stays whatever it holds.
  while (volumes_.size() > 1 && volumes_.back().Start >= at) {
    const std::size_t index = volumes_.size() - 1;
    if (last_ && lastIndex_ == index) {
      last_.reset();
      lastFile_.reset();
    }
    if (backFile_ && backIndex_ == index) backFile_.reset();
    if (!volumes_.back().File.empty()) sys::WideDeleteFile(volumes_.back().File);
    volumes_.pop_back();
  }
  if (!volumes_.empty() && !volumes_.back().File.empty()) {
    const std::size_t index = volumes_.size() - 1;
    const Volume& v = volumes_.back();
    const std::uint64_t keep = v.Base + (at > v.Start ? at - v.Start : 0);
    if (!last_ || lastIndex_ != index) {
      CloseBack();
      CloseLast();
      lastFile_ = Reopen(v.File);
      last_ = std::make_unique<TZAOutput>(*lastFile_, kVolumeBuffer);
      lastIndex_ = index;
    }
    last_->Truncate(keep);
  }
  size_ = at;
  position_ = std::min(position_, at);
}

std::vector<std::u16string> TZAVolumeSink::Finish() {
  CloseBack();
  CloseLast();
  if (!disks_)
    for (const Volume& v : volumes_)
      if (!v.File.empty()) ZAFlushFile(*Reopen(v.File));
  if (disks_ && !volumes_.empty()) {
    disks_->Complete(static_cast<std::int32_t>(volumes_.size()) - 1, volumes_.back().File);
    volumes_.back().File.clear();
  }
  std::vector<std::u16string> names;
  names.reserve(volumes_.size());
  for (Volume& v : volumes_) names.push_back(std::move(v.File));
  volumes_.clear();
  return names;
}

}  // namespace za
