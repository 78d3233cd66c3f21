// POSIX stand-in for folder listings by wide names.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "path_posix.h"
#include "sys/codepage.h"
#include "sys/dos_time.h"
#include "sys/wide_dir.h"
#include "sys/wide_file.h"

namespace sys {

namespace {

std::string NativeName(std::u16string_view name) { return posix::ToPosixPath(WideToUtf8(name)); }

FileTime TimeOf(const struct timespec& t) {
  return FileTime{static_cast<std::int64_t>(t.tv_sec), static_cast<std::uint32_t>(t.tv_nsec)};
}

bool Fill(const std::string& path, std::u16string_view name, WideDirEntry& entry, bool keepLinks) {
  struct stat st, link;
  bool isLink = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  if (keepLinks && isLink) {
    std::u16string target;
    if (!WideReadLink(name, target)) return false;
    entry.IsLink = true;
    entry.LinkTarget = std::move(target);
    entry.Size = 0;
    entry.UnixMode = link.st_mode & 0xFFFF;
    // Hidden by a leading dot, as WideGetAttributes tells it of a file.
    std::size_t slash = path.find_last_of('/');
    entry.Attributes = path.compare(slash == std::string::npos ? 0 : slash + 1, 1, ".") == 0 ? 0x22 : 0x20;
    entry.Modified = TimeOf(link.st_mtim);
    entry.Accessed = TimeOf(link.st_atim);
    entry.User = link.st_uid;
    entry.Group = link.st_gid;
    struct tm tm;
    time_t t = link.st_mtim.tv_sec;
    std::uint32_t dos = localtime_r(&t, &tm) ? DosDateTimeOf(tm) : 0;
    entry.DosDateTime = dos ? static_cast<std::int32_t>(dos) : -1;
    return true;
  }
  if (stat(path.c_str(), &st) != 0) return false;
  entry.LinkedFolder = S_ISDIR(st.st_mode) && isLink;
  entry.Size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  entry.UnixMode = st.st_mode & 0xFFFF;
  entry.Modified = TimeOf(st.st_mtim);
  entry.Accessed = TimeOf(st.st_atim);
  entry.User = st.st_uid;
  entry.Group = st.st_gid;
  // Attributes and time through the same rules as the rest of the backend.
  entry.Attributes = WideGetAttributes(name);
  entry.DosDateTime = WideGetDosDateTime(name);
  return entry.Attributes != kInvalidAttributes;
}

}  // namespace

bool WideListDirectory(std::u16string_view folder, std::vector<WideDirEntry>& entries, int& error,
                       std::u16string_view prefix, bool keepLinks) {
  entries.clear();
  std::string path = NativeName(folder);
  DIR* dir = opendir(path.empty() ? "." : path.c_str());
  if (!dir) {
    error = errno;
    return false;
  }
  std::u16string base(folder);
  if (!base.empty() && base.back() != u'/' && base.back() != u'\\') base += u'/';
  const std::string start = WideToUtf8(prefix);
  while (dirent* d = readdir(dir)) {
    std::string_view n = d->d_name;
    if (n == "." || n == ".." || n.substr(0, start.size()) != start) continue;
    WideDirEntry entry;
    entry.Name = Utf8ToWide(n);
    std::u16string full = base + entry.Name;
    // A dangling link or a file gone meanwhile is passed over.
    if (Fill(NativeName(full), full, entry, keepLinks)) entries.push_back(std::move(entry));
  }
  closedir(dir);
  return true;
}

bool WideStat(std::u16string_view name, WideDirEntry& entry, bool keepLinks) {
  std::u16string_view n = name;
  std::size_t cut = n.find_last_of(u"/\\");
  entry.Name = cut == std::u16string_view::npos ? n : n.substr(cut + 1);
  return Fill(NativeName(name), name, entry, keepLinks);
}

}  // namespace sys
