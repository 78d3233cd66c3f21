#pragma once
// Where an entry's data lies. Every reader of entry data (the decoder,
// reading ahead, the copying of an old entry into a new archive) finds it
// here, so that all of them read the same bytes and refuse the same
// entries.
#include <cstdint>
#include <utility>
#include <vector>

#include "archive/dir_manager.h"
#include "archive/items.h"
#include "archive/records.h"
#include "archive/stream.h"

namespace za {

struct TZAEntrySpan {
  LocalFileHeader Local;
  std::int64_t Start = 0;      // where the data begins in the stream
  std::uint64_t Packed = 0;    // its size, cut where the central directory begins
  std::uint64_t Declared = 0;  // its size as the directory gives it
  // The data runs into another entry's local header, or the entry shares its
  // local header with another: how small archives unpack to terabytes.
  bool Overlaps = false;

  bool HasSignature() const { return Local.Signature == kLocalHeaderSignature; }
  bool Clamped() const { return Packed != Declared; }
};

class TZAEntryReader {
 public:
  // Whether the archive is read volume by volume: offsets then count within
  // the volume that holds each local header, and the directory's position
  // does not compare with them.
  void SetVolumes(bool volumes) { volumes_ = volumes; }
  // Forgets the layout taken of a directory that is gone or changed.
  void Forget();

  // The volume that holds an entry's local header (0 for one stream).
  std::uint32_t EntryVolume(const TZADirManager& dir, const TDirItem& entry) const;
  // The volume of an entry's local header as the directory gives it,
  // whether or not volumes are read.
  static std::uint32_t GivenVolume(const TZADirManager& dir, const TDirItem& entry);
  // Where the data of `entry`, one of `dir`'s, must end: the next entry's
  // local header (or -1: no bound, 0: it shares its local header with
  // another entry).
  std::int64_t DataLimit(const TZADirManager& dir, const TDirItem& entry);

  // Reads the local header of `entry`, one of `dir`'s, from `stream`, which is on the
  // volume that holds it, and leaves the stream where the data begins.
  // `nameAndExtra`, when given, gets the local name and extra field. A
  // header that cannot be reached or read raises EReadError.
  TZAEntrySpan Find(TZAStream& stream, const TZADirManager& dir, const TDirItem& entry,
                    std::vector<std::uint8_t>* nameAndExtra = nullptr);
  // The same for an archive in one stream, found without moving the
  // stream or what it shows: a look ahead of the entry the batch is at,
  // whose bytes stay shown for it.
  TZAEntrySpan Look(TZAStream& stream, const TZADirManager& dir, const TDirItem& entry);

  // The key an entry's local header is sorted by: its volume, then its
  // offset.
  static std::uint64_t StartKey(std::uint32_t volume, std::uint64_t offset);

 private:
  // The data's size, cut where the central directory begins, and whether
  // it runs into another entry's.
  void Bound(TZAEntrySpan& span, const TZADirManager& dir, const TDirItem& entry);

  bool volumes_ = false;
  std::uint64_t StartKey(const TZADirManager& dir, const TDirItem& entry) const {
    return StartKey(EntryVolume(dir, entry), entry.LocalOffset());
  }
  // Takes the layout of `dir`: whether its entries lie in the order of their
  // local headers, else the sorted starts.
  void Survey(const TZADirManager& dir);
  // Sets starts_ to the keys of the entries with data, in the directory's
  // order.
  void TakeStarts(const TZADirManager& dir);
  // The limit of the entry at `index` of a directory in order; `start` is
  // its own key.
  std::int64_t LimitInOrder(const TZADirArray& items, std::int32_t index, std::uint64_t start) const;
  const TZADirManager* startsOf_ = nullptr;
  // An archive written in one go has its local headers in the order of the
  // directory, each after the one before: the next entry with data is then
  // the bound, and nothing need be kept for a million entries.
  bool inOrder_ = false;
  // Otherwise the local header offsets with their volumes, sorted: one word
  // each.
  std::vector<std::uint64_t> starts_;
  std::size_t next_ = 0;  // in starts_: after the last one found
};

}  // namespace za
