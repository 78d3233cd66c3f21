#pragma once
// The contents of a folder by wide (UTF-16) names, for adding files to an
// archive. Names may use "\" or "/" as separators, as in wide_file.h.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sys/wide_file.h"

namespace sys {

struct WideDirEntry {
  std::u16string Name;           // the last component only
  std::uint32_t Attributes = 0;  // Windows' bits, as WideGetAttributes gives them
  std::uint64_t Size = 0;
  std::int32_t DosDateTime = 0;  // last-write time, local MS-DOS date and time; -1 when unknown
  // Last-write and last-access times in UTC, as exact as the system keeps
  // them; zero when unknown.
  FileTime Modified, Accessed;
  // Owner and group where the system keeps them as numbers (POSIX).
  std::uint32_t User = 0, Group = 0;
  // A symbolic link, described as the link itself (its own times, no size,
  // UnixMode with the link type) and `LinkTarget` its text; only from a
  // listing asked to keep links.
  bool IsLink = false;
  std::u16string LinkTarget;
  // The Unix file type and permission bits (st_mode) where the system has
  // them; 0 on Windows.
  std::uint32_t UnixMode = 0;
  // A folder reached through a link (a symbolic link or a junction): walking
  // into it could lead back up the tree, so a walk passes it by.
  bool LinkedFolder = false;
};

// The entries of `folder` without "." and "..", in no particular order;
// false (with the system's error code) when the folder cannot be read.
// With `prefix`, only the names that begin with it: the others are not
// looked at, which in a large folder is most of the work. With `keepLinks`
// a symbolic link is described as itself rather than as what it points to;
// without, a dangling one is passed over.
bool WideListDirectory(std::u16string_view folder, std::vector<WideDirEntry>& entries, int& error,
                       std::u16string_view prefix = {}, bool keepLinks = false);

// Size, attributes and time of one file or folder; false when it is not there.
bool WideStat(std::u16string_view name, WideDirEntry& entry, bool keepLinks = false);

}  // namespace sys
