#include "source_paths.h"

#include <vector>

#include "paths.h"
#include "sys/codepage.h"

namespace za {

// "a/./b/../c" as "a/c", separators as "/"; ".." never climbs above the
// start (a stored name must not lead out of where it is extracted).
std::u16string ZANormalizePath(std::u16string_view path) {
  std::u16string s = paths::Slashed(path);
  std::size_t drive = paths::DriveLength(s);
  std::u16string head = s.substr(0, drive);
  bool rooted = drive < s.size() && s[drive] == u'/';
  std::vector<std::u16string_view> parts;
  std::u16string_view rest = std::u16string_view(s).substr(drive);
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find(u'/', start);
    if (end == std::u16string_view::npos) end = rest.size();
    std::u16string_view part = rest.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::u16string out = head;
  if (rooted) out += u'/';
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += u'/';
    out += parts[i];
  }
  return out;
}

std::u16string ZAJoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string s(folder);
  if (!s.empty() && !paths::IsSeparator(s.back())) s += u'/';
  s += name;
  return s;
}

bool ZALowerEqual(std::u16string_view a, std::u16string_view b) { return sys::WideLower(a) == sys::WideLower(b); }

// `path` below `folder` (both normalised): the rest, or none.
bool ZAPathBelow(std::u16string_view path, std::u16string_view folder, std::u16string& rest) {
  if (folder.empty() || folder == u"/") {
    rest = folder.empty() ? std::u16string(path) : std::u16string(path.substr(path.empty() ? 0 : 1));
    return !folder.empty() ? (!path.empty() && path[0] == u'/') : true;
  }
  if (path.size() <= folder.size() || path[folder.size()] != u'/') return false;
  // Windows names ignore case; a POSIX folder whose case differs is another
  // folder, but taking it as the same only shortens a stored path.
  if (!ZALowerEqual(path.substr(0, folder.size()), folder)) return false;
  rest = path.substr(folder.size() + 1);
  return true;
}

}  // namespace za
