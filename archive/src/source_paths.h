#pragma once
// The paths of files added from disk, as the updater compares and stores
// them: normalised with "/" separators, joined, and tested for lying below
// a folder.
#include <string>
#include <string_view>

namespace za {

// "a/./b/../c" as "a/c", separators as "/"; ".." never climbs above the
// start (a stored name must not lead out of where it is extracted).
std::u16string ZANormalizePath(std::u16string_view path);
// `name` in `folder`, with a "/" between unless the folder ends in one.
std::u16string ZAJoinPath(std::u16string_view folder, std::u16string_view name);
// Equal but for case, as Windows compares names.
bool ZALowerEqual(std::u16string_view a, std::u16string_view b);
// `path` below `folder` (both normalised): the rest, or false.
bool ZAPathBelow(std::u16string_view path, std::u16string_view folder, std::u16string& rest);

}  // namespace za
