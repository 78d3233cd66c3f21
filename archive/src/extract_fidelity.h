#pragma once
// What extraction keeps of an entry beyond its data when the component's
// fidelity options ask for it: exact times, folder times, symbolic links
// and owners.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive/items.h"
#include "sys/wide_file.h"

namespace za {

// The entry's times as they are given to its file: from its time blocks
// where `exact` and it has them, else from the MS-DOS fields as local time.
struct TZATimesToSet {
  std::optional<sys::FileTime> Modified, Accessed;
};
// `localAccessed` stands for an access time the central blocks lack.
TZATimesToSet ZATimesOf(const TDirItem& item, bool exact, std::optional<sys::FileTime> localAccessed = {});

// Gives the file the entry's last-write (and access) time. Nothing when it
// did; else the system's error, or 0 when all the entry gives is an MS-DOS
// date and time that is no valid moment.
std::optional<int> ZASetOutputTimes(sys::WideFile& file, const TDirItem& item, bool exact,
                                    std::optional<sys::FileTime> localAccessed = {});

// Whether a link at `name` (below the destination, "\" between
// components) with the text `target` points inside the destination:
// neither absolute nor climbing above it, and not through another link
// (one of `links`, the batch's, or one on disk below `destDir`) that a ".."
// after it would lead out of.
bool ZALinkStaysInside(std::u16string_view name, std::u16string_view target, const std::u16string& destDir,
                       const std::set<std::u16string>& links);

// "a\\\\b" as "a\\b": the empty components of a stored name.
std::u16string ZADropEmptyComponents(std::u16string_view name);

// The state of one batch of extraction for these options.
class TZAFidelityBatch {
 public:
  // The batch's link entries, by their names below the destination.
  std::set<std::u16string> Links;
  // A folder the batch made or found for the folder entry `name`; its time
  // is set once every entry is written, deepest folder first, as writing
  // into a folder changes its time.
  void NoteFolder(std::u16string path, std::u16string name, const TZATimesToSet& times);
  // `notSet` hears of each folder whose time could not be set: the
  // system's error, or 0 when the entry's time is no valid moment.
  void SetFolderTimes(const std::function<void(const std::u16string& name, int error)>& notSet);

 private:
  struct Folder {
    std::u16string Path, Name;
    TZATimesToSet Times;
  };
  std::vector<Folder> folders_;
};

}  // namespace za
