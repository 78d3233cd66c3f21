#include "entry_reader.h"

#include <algorithm>
#include <functional>
#include <limits>

#include "archive/errors.h"

namespace za {

namespace {

// Entries without data take no part: nothing of theirs is read, and a
// folder entry's offset is left uncorrected behind an added stub. Entries
// added by a running update have no local header yet.
bool HasStoredData(const TDirItem& item) { return item.PackedSize() > 0 && !item.IsNew; }

}  // namespace

void TZAEntryReader::Forget() {
  starts_.clear();
  startsOf_ = nullptr;
}

std::uint32_t TZAEntryReader::EntryVolume(const TZADirManager& dir, const TDirItem& entry) const {
  return volumes_ ? GivenVolume(dir, entry) : 0;
}

std::uint32_t TZAEntryReader::GivenVolume(const TZADirManager& dir, const TDirItem& entry) {
  if (entry.Header.DiskNumberStart != 0xFFFF) return entry.Header.DiskNumberStart;
  return dir.HasZip64End ? std::uint32_t{entry.Zip64DiskStart} : 0;
}

// The volume in the top 16 bits, the offset in the low 48. No volume of a
// real set and no offset in a real file reaches those bounds: a value past
// one is held at it, and such an entry cannot be read at all, so whatever
// it bounds lies past the end of the file already.
std::uint64_t TZAEntryReader::StartKey(std::uint32_t volume, std::uint64_t offset) {
  constexpr std::uint64_t kOffsets = (std::uint64_t{1} << 48) - 1;
  return (std::uint64_t{std::min<std::uint32_t>(volume, 0xFFFF)} << 48) | std::min(offset, kOffsets);
}

void TZAEntryReader::Survey(const TZADirManager& dir) {
  const TZADirArray& items = dir.Items;
  starts_.clear();
  next_ = 0;
  startsOf_ = &dir;
  const TZAHeaderOrder& loaded = dir.HeaderOrder;
  const bool known = loaded.Known && loaded.Changes == items.Changes();
  inOrder_ = !known || (volumes_ ? loaded.ByVolume : loaded.ByOffset);
  // Not known from the loader: walked here, by the keys this reader uses.
  TZAHeaderOrder walked;
  for (std::int32_t i = 0; i < items.Count() && inOrder_ && !known; ++i) {
    const TDirItem& item = items.GetItem(i);
    if (!HasStoredData(item)) continue;
    const std::uint64_t key = StartKey(dir, item);
    walked.Take(key, key);
    inOrder_ = walked.ByOffset;
  }
  if (inOrder_) return;
  TakeStarts(dir);
  std::sort(starts_.begin(), starts_.end());
}

void TZAEntryReader::TakeStarts(const TZADirManager& dir) {
  const TZADirArray& items = dir.Items;
  starts_.clear();
  for (std::int32_t i = 0; i < items.Count(); ++i)
    if (HasStoredData(items.GetItem(i))) starts_.push_back(StartKey(dir, items.GetItem(i)));
}

std::int64_t TZAEntryReader::LimitInOrder(const TZADirArray& items, std::int32_t index, std::uint64_t start) const {
  // The entries without data between two that have it are passed over by
  // the entry in front of them alone: a batch in order walks each once.
  const TDirItem* entries = &items.GetItem(0);
  for (std::int32_t j = index + 1; j < items.Count(); ++j) {
    const TDirItem& next = entries[j];
    if (!HasStoredData(next)) continue;
    std::uint64_t key = StartKey(*startsOf_, next);
    if ((key >> 48) != (start >> 48)) return -1;
    return static_cast<std::int64_t>(key & ((std::uint64_t{1} << 48) - 1));
  }
  return -1;
}

std::int64_t TZAEntryReader::DataLimit(const TZADirManager& dir, const TDirItem& item) {
  // A directory rebuilt from local headers may hold headers found inside
  // other entries' data; only a central directory is held to this rule.
  if (dir.Rebuilt) return -1;
  const TZADirArray& items = dir.Items;
  if (!HasStoredData(item)) return -1;
  // Only a local header on the same volume bounds an entry's data (data
  // that runs on into the next volume has no header of that volume in
  // front of it).
  if (startsOf_ != &dir) Survey(dir);
  const std::uint64_t start = StartKey(dir, item);
  if (inOrder_) {
    // The entry is one of the directory's, found by where it lies; a copy
    // of one is found through the starts, taken once it is asked for.
    const TDirItem* entries = &items.GetItem(0);
    std::less<const TDirItem*> before;
    if (!before(&item, entries) && before(&item, entries + items.Count()))
      return LimitInOrder(items, static_cast<std::int32_t>(&item - entries), start);
    if (starts_.empty()) TakeStarts(dir);
  }
  // A batch mostly goes through the entries in the order of their local
  // headers: the one after the last found is tried before a search.
  auto range = std::make_pair(starts_.begin() + static_cast<std::ptrdiff_t>(next_), starts_.end());
  if (next_ < starts_.size() && starts_[next_] == start && (next_ == 0 || starts_[next_ - 1] != start)) {
    range.second = range.first + 1;
    while (range.second != starts_.end() && *range.second == start) ++range.second;
  } else {
    range = std::equal_range(starts_.begin(), starts_.end(), start);
  }
  next_ = static_cast<std::size_t>(range.second - starts_.begin());
  if (range.second - range.first > 1) return 0;
  if (range.second == starts_.end() || (*range.second >> 48) != (start >> 48)) return -1;
  return static_cast<std::int64_t>(*range.second & ((std::uint64_t{1} << 48) - 1));
}

TZAEntrySpan TZAEntryReader::Find(TZAStream& stream, const TZADirManager& dir, const TDirItem& entry,
                                  std::vector<std::uint8_t>* nameAndExtra) {
  std::uint64_t offset = entry.LocalOffset();
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
      stream.Seek(static_cast<std::int64_t>(offset), TZASeekOrigin::soBeginning) < 0)
    throw EReadError();
  TZAEntrySpan span;
  constexpr std::int64_t kHeader = LocalFileHeader::kSize;
  // Where the stream shows its bytes, the header is parsed where it lies;
  // bytes lost under the view are read again, as a read finds them.
  const std::uint8_t* shown = nameAndExtra || volumes_ ? nullptr : stream.View(kHeader);
  if (shown && !stream.ViewLost()) {
    span.Local.Parse(shown);
  } else {
    if (shown) stream.Seek(static_cast<std::int64_t>(offset), TZASeekOrigin::soBeginning);
    std::uint8_t raw[LocalFileHeader::kSize];
    stream.ReadBuffer(raw, sizeof raw);
    span.Local.Parse(raw);
  }
  std::int64_t skip = static_cast<std::int64_t>(span.Local.NameLength) + span.Local.ExtraLength;
  if (nameAndExtra) {
    nameAndExtra->resize(static_cast<std::size_t>(skip));
    if (skip > 0) stream.ReadBuffer(nameAndExtra->data(), skip);
  } else if (volumes_) {
    // The name and extra field may run on into the next volume: they are
    // read through rather than sought over.
    std::uint8_t discard[512];
    for (std::int64_t n; skip > 0; skip -= n) {
      n = std::min<std::int64_t>(skip, sizeof discard);
      stream.ReadBuffer(discard, n);
    }
  } else {
    // One seek to where the data begins, which is then known.
    span.Start = static_cast<std::int64_t>(offset) + kHeader + skip;
    stream.Seek(span.Start, TZASeekOrigin::soBeginning);
  }
  if (nameAndExtra || volumes_) span.Start = stream.Position();
  Bound(span, dir, entry);
  return span;
}

TZAEntrySpan TZAEntryReader::Look(TZAStream& stream, const TZADirManager& dir, const TDirItem& entry) {
  std::uint64_t offset = entry.LocalOffset();
  std::uint8_t raw[LocalFileHeader::kSize];
  if (volumes_ || offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
      stream.Peek(static_cast<std::int64_t>(offset), raw, sizeof raw) != static_cast<std::int64_t>(sizeof raw))
    throw EReadError();
  TZAEntrySpan span;
  span.Local.Parse(raw);
  span.Start = static_cast<std::int64_t>(offset + sizeof raw) + span.Local.NameLength + span.Local.ExtraLength;
  Bound(span, dir, entry);
  return span;
}

void TZAEntryReader::Bound(TZAEntrySpan& span, const TZADirManager& dir, const TDirItem& entry) {
  span.Declared = entry.PackedSize();
  span.Packed = span.Declared;
  // Reading never runs into the central directory (of an archive in one
  // stream: volume by volume, offsets do not compare).
  if (!volumes_) {
    std::int64_t room = std::max<std::int64_t>(dir.DirectoryStart - span.Start, 0);
    if (span.Packed > static_cast<std::uint64_t>(room)) span.Packed = static_cast<std::uint64_t>(room);
  }
  std::int64_t limit = DataLimit(dir, entry);
  span.Overlaps = limit == 0 || (limit > 0 && (span.Start > limit ||
                                               span.Packed > static_cast<std::uint64_t>(limit - span.Start)));
}

}  // namespace za
