// POSIX stand-in for files by wide names: UTF-16 -> UTF-8, "\" -> "/".
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "cache_fill_posix.h"
#include "io_posix.h"
#include "path_posix.h"
#include "sys/codepage.h"
#include "sys/dos_time.h"
#include "sys/wide_file.h"

namespace sys {

namespace {

std::string NativeName(std::u16string_view name) { return posix::ToPosixPath(WideToUtf8(name)); }

int Fd(std::intptr_t h) { return static_cast<int>(h); }

bool NoWriteBits(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

std::uint32_t DosFromTime(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  return DosDateTimeOf(tm);
}

// A descriptor as WideFile keeps it (-1: none), errno kept on failure.
std::intptr_t OpenFd(const std::string& path, int flags, int& error) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) error = errno;
  return fd;
}

// The stand-in drive for removable media, and the disk in it.
std::mutex g_removableLock;
std::string g_removableFolder;  // with a trailing "/", or empty
std::string g_diskFolder;        // the same, resolved, while a capacity is set
std::int64_t g_diskCapacity = -1;

std::int64_t UsedOnDisk(const std::string& folder) {
  std::int64_t used = 0;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    struct stat st;
    if (lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) used += st.st_size;
  }
  return used;
}

// Whether the disk in the stand-in drive has room for `count` more bytes at
// the position of `fd`; files elsewhere always have.
bool RoomOnDisk(int fd, std::int64_t count) {
  std::string folder;
  std::int64_t capacity;
  {
    std::lock_guard<std::mutex> lock(g_removableLock);
    if (g_diskCapacity < 0) return true;
    folder = g_diskFolder;
    capacity = g_diskCapacity;
  }
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return true;
  if (std::string(target, static_cast<std::size_t>(n)).compare(0, folder.size(), folder) != 0) return true;
  struct stat st;
  off_t at = lseek(fd, 0, SEEK_CUR);
  if (fstat(fd, &st) != 0 || at < 0) return true;
  std::int64_t after = std::max<std::int64_t>(st.st_size, static_cast<std::int64_t>(at) + count);
  return UsedOnDisk(folder) - st.st_size + after <= capacity;
}
// mktime of the local time `tm` that `dos` packs. mktime looks at the zone
// again on every call, and a million entries of one archive share a few
// times; the last answer is kept with the zone it was given in, as TZ may
// be changed meanwhile.
time_t CachedMktime(std::uint32_t dos, struct tm& tm) {
  thread_local struct {
    bool valid = false;
    std::uint32_t dos = 0;
    bool zoneSet = false;
    std::string zone;
    time_t t = 0;
  } last;
  const char* zone = std::getenv("TZ");
  if (last.valid && last.dos == dos && last.zoneSet == (zone != nullptr) && (!zone || last.zone == zone)) return last.t;
  time_t t = mktime(&tm);
  last.valid = t != static_cast<time_t>(-1);
  last.dos = dos;
  last.zoneSet = zone != nullptr;
  last.zone = zone ? zone : "";
  last.t = t;
  return t;
}

}  // namespace

bool WideFile::Open(std::u16string_view name, FileAccess access, FileShare) {
  Close();
  std::string path = NativeName(name);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    lastError_ = errno;
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    lastError_ = EISDIR;
    return false;
  }
  if (access != FileAccess::Read && NoWriteBits(st)) {
    lastError_ = EACCES;  // a read-only file, as on Windows
    return false;
  }
  int flags = access == FileAccess::Read ? O_RDONLY : access == FileAccess::Write ? O_WRONLY : O_RDWR;
  handle_ = OpenFd(path, flags, lastError_);
  return IsOpen();
}

bool WideFile::Create(std::u16string_view name, FileShare) {
  Close();
  std::string path = NativeName(name);
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || NoWriteBits(st))) {
    lastError_ = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    return false;
  }
  handle_ = OpenFd(path, O_RDWR | O_CREAT | O_TRUNC, lastError_);
  return IsOpen();
}

bool WideFile::CreateNew(std::u16string_view name) {
  Close();
  handle_ = OpenFd(NativeName(name), O_RDWR | O_CREAT | O_EXCL, lastError_);
  return IsOpen();
}

void WideFile::Close() {
  if (handle_ != kNoHandle) {
    ::close(Fd(handle_));
    handle_ = kNoHandle;
  }
}

std::int64_t WideFile::Read(void* buffer, std::int64_t count) {
  auto* p = static_cast<char*>(buffer);
  return posix::TransferAll(count, lastError_,
                            [&](std::int64_t at, std::size_t n) { return ::read(Fd(handle_), p + at, n); });
}

std::int64_t WideFile::Write(const void* buffer, std::int64_t count) {
  if (!RoomOnDisk(Fd(handle_), count)) {
    lastError_ = ENOSPC;
    return -1;
  }
  const auto* p = static_cast<const char*>(buffer);
  auto whole = [&] {
    return posix::TransferAll(count, lastError_,
                              [&](std::int64_t at, std::size_t n) { return ::write(Fd(handle_), p + at, n); });
  };
  if (!freshPages_ || count < posix::CacheFill::kTimedFrom) return whole();
  posix::CacheFill& fill = posix::CacheFill::Process();
  if (fill.Paged()) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return posix::TransferAll(count, lastError_, [&](std::int64_t at, std::size_t n) {
      return ::write(Fd(handle_), p + at, std::min(n, page));
    });
  }
  timespec start{}, end{};
  bool timed = clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start) == 0;
  std::int64_t done = whole();
  if (timed && done > 0 && clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end) == 0)
    fill.Note(done, (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec));
  return done;
}

std::int64_t WideFile::Seek(std::int64_t offset, SeekOrigin origin) {
  int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(Fd(handle_), static_cast<off_t>(offset), whence);
  if (r < 0) {
    lastError_ = errno;
    return -1;
  }
  return r;
}

std::int64_t WideFile::Size() {
  struct stat st;
  if (fstat(Fd(handle_), &st) != 0) {
    lastError_ = errno;
    return -1;
  }
  return st.st_size;
}

bool WideFile::Truncate(std::int64_t size) {
  if (ftruncate(Fd(handle_), static_cast<off_t>(size)) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool WideFile::Flush() {
  if (fsync(Fd(handle_)) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool WideFile::SetDosDateTime(std::uint32_t dosDateTime) {
  std::uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  struct tm tm {};
  tm.tm_year = static_cast<int>((date >> 9) + 80);
  tm.tm_mon = static_cast<int>(((date >> 5) & 15)) - 1;
  tm.tm_mday = static_cast<int>(date & 31);
  tm.tm_hour = static_cast<int>(time >> 11);
  tm.tm_min = static_cast<int>((time >> 5) & 63);
  tm.tm_sec = static_cast<int>((time & 31) * 2);
  tm.tm_isdst = -1;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59) {
    lastError_ = EINVAL;  // FileSetDate refuses an invalid date too
    return false;
  }
  time_t t = CachedMktime(dosDateTime, tm);
  if (t == static_cast<time_t>(-1)) {
    lastError_ = EINVAL;
    return false;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // last access stays
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  if (futimens(Fd(handle_), times) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

namespace {

struct timespec Spec(const FileTime* t) {
  struct timespec s {};
  if (!t) {
    s.tv_nsec = UTIME_OMIT;
    return s;
  }
  s.tv_sec = static_cast<time_t>(t->Seconds);
  s.tv_nsec = static_cast<long>(t->Nanoseconds % 1000000000u);
  return s;
}

}  // namespace

bool WideFile::SetTimes(const FileTime* modified, const FileTime* accessed) {
  struct timespec times[2] = {Spec(accessed), Spec(modified)};
  if (futimens(Fd(handle_), times) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool WideGetFileTime(std::u16string_view name, FileTime& modified) {
  struct stat st;
  if (stat(NativeName(name).c_str(), &st) != 0) return false;
  modified = FileTime{static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::uint32_t>(st.st_mtim.tv_nsec)};
  return true;
}

bool WideSetFileTimes(std::u16string_view name, const FileTime* modified, const FileTime* accessed, int* error) {
  struct timespec times[2] = {Spec(accessed), Spec(modified)};
  if (utimensat(AT_FDCWD, NativeName(name).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0) return true;
  if (error) *error = errno;
  return false;
}

bool WideCreateSymbolicLink(std::u16string_view name, std::u16string_view target, int* error) {
  // The text as it was stored, "\" and all: it is not a path of ours.
  if (::symlink(WideToUtf8(target).c_str(), NativeName(name).c_str()) == 0) return true;
  if (error) *error = errno;
  return false;
}

bool WideReadLink(std::u16string_view name, std::u16string& target) {
  std::string path = NativeName(name);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  std::string text(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
  ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
  if (n < 0) return false;
  text.resize(static_cast<std::size_t>(n));
  target = Utf8ToWide(text);
  return true;
}

bool WideSetOwner(std::u16string_view name, std::uint32_t user, std::uint32_t group, int* error) {
  if (::lchown(NativeName(name).c_str(), static_cast<uid_t>(user), static_cast<gid_t>(group)) == 0) return true;
  if (error) *error = errno;
  return false;
}

bool WideSystemHasLinks() { return true; }

bool WideFileExists(std::u16string_view name) {
  struct stat st;
  return stat(NativeName(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool WideDirectoryExists(std::u16string_view name) {
  struct stat st;
  return stat(NativeName(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WideIsLink(std::u16string_view name) {
  struct stat st;
  return lstat(NativeName(name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool WideCreateDirectory(std::u16string_view name, int* error) {
  std::string path = NativeName(name);
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  int reason = errno;
  // A file in the place of the folder: that it is no folder is the reason.
  struct stat st;
  if (reason == EEXIST && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) reason = ENOTDIR;
  if (error) *error = reason;
  return false;
}

bool WideRemoveDirectory(std::u16string_view name) { return ::rmdir(NativeName(name).c_str()) == 0; }

bool WideDeleteFile(std::u16string_view name) {
  std::string path = NativeName(name);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool WideReplaceFile(std::u16string_view from, std::u16string_view to) {
  return ::rename(NativeName(from).c_str(), NativeName(to).c_str()) == 0;
}

std::uint32_t WideGetAttributes(std::u16string_view name) {
  struct stat st;
  std::string path = NativeName(name);
  if (stat(path.c_str(), &st) != 0) return kInvalidAttributes;
  std::uint32_t attr = S_ISDIR(st.st_mode) ? 0x10 : 0x20;
  if (NoWriteBits(st)) attr |= 0x01;
  std::size_t slash = path.find_last_of('/');
  std::string_view base = slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
  if (!base.empty() && base[0] == '.' && base != "." && base != "..") attr |= 0x02;
  return attr;
}

namespace {

// The mode that `attributes` give a file of mode `st`.
mode_t ModeFor(const struct stat& st, std::uint32_t attributes) {
  mode_t mode = st.st_mode & 07777;
  // Zip tools on Unix keep the file's mode in the upper half, its type bits
  // telling it apart from other uses of those bits. Only a regular file's or
  // a folder's permissions are taken (a link's are always 0777), and never
  // set-user-id, set-group-id or sticky, as unzip does without -K.
  std::uint32_t unixType = (attributes >> 16) & 0170000;
  if (unixType == 0100000 || unixType == 0040000)
    mode = static_cast<mode_t>((attributes >> 16) & 0777);
  else if (attributes & 0x01)
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else if (NoWriteBits(st))
    mode |= S_IWUSR;
  return mode;
}

}  // namespace

bool WideSetAttributes(std::u16string_view name, std::uint32_t attributes) {
  std::string path = NativeName(name);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  mode_t mode = ModeFor(st, attributes);
  return mode == (st.st_mode & 07777) || chmod(path.c_str(), mode) == 0;
}

bool WideFile::SetAttributes(std::uint32_t attributes) {
  struct stat st;
  if (fstat(Fd(handle_), &st) != 0) {
    lastError_ = errno;
    return false;
  }
  mode_t mode = ModeFor(st, attributes);
  if (mode != (st.st_mode & 07777) && fchmod(Fd(handle_), mode) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

std::int32_t WideGetDosDateTime(std::u16string_view name) {
  struct stat st;
  if (stat(NativeName(name).c_str(), &st) != 0) return -1;
  std::uint32_t v = DosFromTime(st.st_mtime);
  return v == 0 ? -1 : static_cast<std::int32_t>(v);
}


void WideSetRemovableFolder(std::u16string_view folder, std::int64_t capacity) {
  std::string path = NativeName(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  char resolved[PATH_MAX];
  std::string disk = !path.empty() && realpath(path.c_str(), resolved) ? std::string(resolved) + "/" : path;
  std::lock_guard<std::mutex> lock(g_removableLock);
  g_removableFolder = std::move(path);
  g_diskFolder = std::move(disk);
  g_diskCapacity = g_removableFolder.empty() ? -1 : capacity;
}

bool WideIsRemovableDrive(std::u16string_view path) {
  std::string folder;
  {
    // Asked once per extracted file: without a stand-in drive no name is
    // converted.
    std::lock_guard<std::mutex> lock(g_removableLock);
    if (g_removableFolder.empty()) return false;
    folder = g_removableFolder;
  }
  return NativeName(path).compare(0, folder.size(), folder) == 0;
}

std::int64_t WideFreeSpace(std::u16string_view folder) {
  struct statvfs s;
  std::string p = NativeName(folder);
  if (p.empty()) p.push_back('.');
  {
    std::unique_lock<std::mutex> lock(g_removableLock);
    std::string under = p.back() == '/' ? p : p + "/";
    if (g_diskCapacity >= 0 && under.compare(0, g_removableFolder.size(), g_removableFolder) == 0) {
      std::int64_t capacity = g_diskCapacity;
      std::string disk = g_diskFolder;
      lock.unlock();
      return std::max<std::int64_t>(capacity - UsedOnDisk(disk), 0);
    }
  }
  if (statvfs(p.c_str(), &s) != 0) return -1;
  return static_cast<std::int64_t>(s.f_bavail) * static_cast<std::int64_t>(s.f_frsize);
}

std::u16string WideTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string p = tmp && *tmp ? tmp : "/tmp";
  if (p.back() != '/') p += '/';
  return Utf8ToWide(p);
}

std::u16string WideCurrentDirectory() {
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return {};
  return Utf8ToWide(buf);
}

}  // namespace sys
