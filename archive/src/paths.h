#pragma once
// Splitting of names and paths. Three separator sets are in use, and each
// caller names the one it means: stored names use "/", names handed to
// events use "\" (with a drive's ":"), and paths from a user or the file
// system may use either.
#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace za::paths {

// "\" and a drive's ":": names as events and search records show them.
inline constexpr std::u16string_view kEventCuts = u"\\:";
// "\", "/" and ":": file names on either system.
inline constexpr std::u16string_view kAnyCuts = u"\\/:";
// "\" and "/": folder separators on either system, no drive.
inline constexpr std::u16string_view kSeparators = u"\\/";
inline constexpr std::u16string_view kBackslash = u"\\";

inline bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Where the name part starts: after the last of `cuts`, or 0.
inline std::size_t NameStart(std::u16string_view path, std::u16string_view cuts = kAnyCuts) {
  std::size_t cut = path.find_last_of(cuts);
  return cut == std::u16string_view::npos ? 0 : cut + 1;
}

// The part after the last of `cuts` (all of `path` when there is none).
inline std::u16string_view NamePart(std::u16string_view path, std::u16string_view cuts = kAnyCuts) {
  return path.substr(NameStart(path, cuts));
}

// The part up to and with the last of `cuts` (empty when there is none).
inline std::u16string_view FolderPart(std::u16string_view path, std::u16string_view cuts = kAnyCuts) {
  return path.substr(0, NameStart(path, cuts));
}

// A stored folder entry's name ends with "/".
inline bool EndsWithSlash(std::u16string_view name) { return !name.empty() && name.back() == u'/'; }

inline bool EndsWithSeparator(std::u16string_view path) { return !path.empty() && IsSeparator(path.back()); }

// `name` without one trailing "\" or "/".
inline std::u16string_view WithoutTrailingSeparator(std::u16string_view name) {
  if (EndsWithSeparator(name)) name.remove_suffix(1);
  return name;
}

// A drive letter with its colon ("C:") or a share ("\\server\share") at the
// start; `separators` are the ones a share may be written with.
inline std::size_t DriveLength(std::u16string_view path, std::u16string_view separators = kSeparators) {
  auto separator = [&](char16_t c) { return separators.find(c) != std::u16string_view::npos; };
  if (path.size() >= 2 && path[1] == u':' &&
      ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')))
    return 2;
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {
    std::size_t server = path.find_first_of(separators, 2);
    if (server == std::u16string_view::npos) return path.size();
    std::size_t share = path.find_first_of(separators, server + 1);
    return share == std::u16string_view::npos ? path.size() : share;
  }
  return 0;
}

inline bool IsAbsolute(std::u16string_view path) {
  return DriveLength(path) > 0 || (!path.empty() && IsSeparator(path[0]));
}

inline std::u16string Backslashed(std::u16string_view name) {
  std::u16string s(name);
  std::replace(s.begin(), s.end(), u'/', u'\\');
  return s;
}

inline std::u16string Slashed(std::u16string_view name) {
  std::u16string s(name);
  std::replace(s.begin(), s.end(), u'\\', u'/');
  return s;
}

}  // namespace za::paths
