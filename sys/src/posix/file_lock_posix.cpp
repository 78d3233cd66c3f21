#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "path_posix.h"
#include "sys/codepage.h"
#include "sys/file_lock.h"

namespace sys {

namespace {

std::uint32_t ReadHolder(int fd) {
  char text[16] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

}  // namespace

FileLock::State FileLock::TryOnce() {
  const std::string path = posix::ToPosixPath(WideToUtf8(name_));
  // A lock file that is there with nobody holding it was left by a holder
  // that never let go: a normal release removes it.
  bool existed = false;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) {
    existed = true;
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return State::Busy;  // removed by its holder just now
  }
  if (fd < 0) {
    lastError_ = errno;
    return State::Failed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    holder_ = error == EWOULDBLOCK ? ReadHolder(fd) : 0;
    ::close(fd);
    if (error == EWOULDBLOCK || error == EINTR) return State::Busy;
    lastError_ = error;
    return State::Failed;
  }
  // The holder before may have removed the file between our open and our
  // lock: the lock is then on a file nobody else will ever open.
  struct stat held, named;
  if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    ::close(fd);
    holder_ = 0;
    return State::Busy;
  }
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%u\n", static_cast<unsigned>(::getpid()));
  // The id is for the message of the one who waits; the lock holds without it.
  const bool noted = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text, static_cast<std::size_t>(n), 0) == n;
  static_cast<void>(noted);
  handle_ = fd;
  holder_ = 0;
  inherited_ = existed;
  return State::Held;
}

void FileLock::Release() {
  if (handle_ == kNoHandle) return;
  // Removed while still locked, so that whoever opened it meanwhile finds,
  // once it has the lock, that the name no longer leads to it.
  ::unlink(posix::ToPosixPath(WideToUtf8(name_)).c_str());
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

bool FolderRefusesFiles(int error) {
  return error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM || error == EROFS;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool ProcessRuns(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace sys
