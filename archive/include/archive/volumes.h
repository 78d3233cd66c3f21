#pragma once
// Multi-volume archives: the names of split volumes, and the streams that
// read an archive spread over several files as the loader and the decoder
// expect to read one.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/stream.h"

namespace za {

// Split volumes are named in one of two schemes, chosen by
// SpanningOptions.AdvancedNaming:
//
//  off (Info-ZIP, PKZIP): the set takes the name of its last volume,
//    "name.zip"; the volumes before it replace that extension with ".z"
//    and the volume's number counted from 1 in at least two digits:
//    "name.z01", "name.z02", ... "name.z99", "name.z100". The archive is
//    opened by the last name (the one with the end record); a name such as
//    "name.z03" or a self-extractor "name.exe" leads to "name.zip".
//
//  on (7-Zip and others): every volume carries its number counted from 1,
//    in at least three digits, behind the full name: "name.zip.001",
//    "name.zip.002", ... The archive may be opened by any of them, the
//    first and the last included. 7-Zip cuts one archive into pieces at
//    arbitrary bytes, so its end record reports a single disk and its
//    offsets count from the start of "name.zip.001"; a set whose end record
//    reports several disks is read volume by volume instead.

// The stem of a numbered volume name ("x.zip" of "x.zip.004") and its
// number (4); false when `fileName` does not end in a dot and three or more
// digits.
bool ZANumberedVolume(std::u16string_view fileName, std::u16string& stem, std::uint32_t& number);
// "stem.001" for volume 0: number + 1 in at least three digits.
std::u16string ZANumberedVolumeName(std::u16string_view stem, std::int32_t volume);
// The last volume of the ".z01" scheme that `fileName` belongs to: the name
// itself, or with ".zip" for an extension ".zNN" or ".exe".
std::u16string ZALastSplitVolumeName(std::u16string_view fileName);
// Volume `volume` of the ".z01" scheme whose last volume is `lastName`.
std::u16string ZASplitVolumeName(std::u16string_view lastName, std::int32_t volume, std::int32_t lastVolume);
// Whether the extension part of the name contains ".exe", ignoring case.
bool ZAHasExeExtension(std::u16string_view fileName);

// The volumes of an archive written volume by volume (split files, spanned
// disks) as one stream: positions are those of the current volume, and a
// read that runs off its end goes on from the start of the next volume, as
// long as each such read delivers data. Volumes are opened one at a time
// through `open`, which may ask the user and raise; only reading is possible.
class TZAVolumeStream : public TZAStream {
 public:
  using Opener = std::function<std::unique_ptr<TZAStream>(std::int32_t volume)>;
  explicit TZAVolumeStream(Opener open) : open_(std::move(open)) {}

  // Makes `volume` the current one (opening it unless it is open already);
  // a volume beyond the last one is refused with EReadError.
  void Select(std::int32_t volume);
  // Takes a volume that is already open as the current one.
  void Attach(std::int32_t volume, std::unique_ptr<TZAStream> stream);
  std::int32_t Volume() const { return volume_; }
  std::int32_t LastVolume() const { return last_; }
  void SetLastVolume(std::int32_t last) { last_ = last; }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t) override;

 private:
  Opener open_;
  std::unique_ptr<TZAStream> current_;
  std::int32_t volume_ = -1;
  std::int32_t last_ = 0;
};

// Pieces of one archive cut at arbitrary bytes, read as the whole: one
// stream over their concatenation, each piece opened when it is read.
class TZAJoinedStream : public TZAStream {
 public:
  using Opener = std::function<std::unique_ptr<TZAStream>(std::int32_t piece)>;
  // `sizes` are the pieces' sizes, in order.
  TZAJoinedStream(Opener open, std::vector<std::int64_t> sizes);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
  std::int64_t Size() override { return starts_.back(); }
  void SetSize(std::int64_t) override;

 private:
  Opener open_;
  std::vector<std::int64_t> starts_;  // piece i covers [starts_[i], starts_[i + 1])
  std::unique_ptr<TZAStream> current_;
  std::int32_t piece_ = -1;
  std::int64_t position_ = 0;
};

}  // namespace za
