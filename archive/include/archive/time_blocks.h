#pragma once
// The extra blocks that keep an entry's exact times and its Unix owner,
// read and written: the NTFS block (0x000A), the extended time stamp
// (0x5455), the old Info-ZIP Unix block (0x5855) and the Unix owner block
// (0x7875). A block that is cut short or malformed gives nothing.
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/items.h"
#include "sys/wide_file.h"

namespace za {

struct TZAEntryTimes {
  std::optional<sys::FileTime> Modified, Accessed;
  // The step of the modification time: 100 for the NTFS block, a second
  // for the Unix ones; 0 when no block gives one.
  std::uint32_t ResolutionNs = 0;
};

// The most precise modification time the blocks give (NTFS, then the
// extended time stamp, then the old Unix block), and an access time.
TZAEntryTimes ZAReadEntryTimes(const TZAExtraFields& blocks);

// zip keeps the access time of the extended time stamp in the local header
// only; the central copy keeps the flag that says it is there.
bool ZAAccessTimeIsLocal(const TZAExtraFields& central);
// The access time of the extended time stamp in a local extra field as it
// stands in the archive (untrusted bytes).
std::optional<sys::FileTime> ZALocalAccessTime(const std::uint8_t* extra, std::size_t size);

struct TZAEntryOwner {
  std::uint32_t User = 0, Group = 0;
};
// From the Unix owner block, else from the old Unix block's ids.
std::optional<TZAEntryOwner> ZAReadEntryOwner(const TZAExtraFields& blocks);

// The data of the blocks as written. The extended time stamp of a local
// header carries both times; the central directory's copy only the
// modification time, under the same flags, as zip writes it.
std::vector<std::uint8_t> ZAExtendedTimeBlock(const sys::FileTime& modified, const sys::FileTime* accessed);
std::vector<std::uint8_t> ZACentralExtendedTimeBlock(const std::uint8_t* local, std::size_t size);
std::vector<std::uint8_t> ZANtfsTimeBlock(const sys::FileTime& modified, const sys::FileTime& accessed);
std::vector<std::uint8_t> ZAUnixOwnerBlock(const TZAEntryOwner& owner);

// An entry made on Unix with the link type in its mode: its data is the
// link's text.
bool ZAIsLinkEntry(const TDirItem& item);

// Whether `a` is later than `b` once both are cut to `resolutionNs`.
bool ZALaterAt(const sys::FileTime& a, const sys::FileTime& b, std::uint32_t resolutionNs);

}  // namespace za
