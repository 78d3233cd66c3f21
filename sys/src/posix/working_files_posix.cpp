#include "working_files_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "path_posix.h"

namespace sys::posix {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

class PosixHeldFile final : public HeldFile {
 public:
  PosixHeldFile(int folder, int file) : folder_(folder), file_(file) {}
  std::int64_t Read(std::span<std::uint8_t> buffer) override {
    ssize_t n;
    while ((n = read(file_.get(), buffer.data(), buffer.size())) < 0 && errno == EINTR) {
    }
    return n;
  }

 private:
  FileDescriptor folder_;
  FileDescriptor file_;
};

class PosixHeldFolder final : public HeldFolder {
 public:
  explicit PosixHeldFolder(int folder) : folder_(folder) {}

 private:
  FileDescriptor folder_;
};

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::unique_ptr<HeldFile> HoldFile(const std::string& path) {
  const std::string target = ToPosixPath(path);
  const std::size_t cut = target.find_last_of('/');
  if (cut == std::string::npos || cut + 1 == target.size()) return nullptr;
  const std::string folderPath = cut == 0 ? "/" : WithoutTrailingSeparators(target.substr(0, cut));
  FileDescriptor folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) return nullptr;
  FileDescriptor file(openat(folder.get(), target.c_str() + cut + 1, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (file.get() < 0 || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  return std::make_unique<PosixHeldFile>(folder.release(), file.release());
}

std::unique_ptr<HeldFolder> HoldFolder(const std::string& path) {
  const std::string target = WithoutTrailingSeparators(ToPosixPath(path));
  FileDescriptor folder(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) return nullptr;
  return std::make_unique<PosixHeldFolder>(folder.release());
}

bool RemoveLink(const std::string& path) {
  const std::string target = WithoutTrailingSeparators(ToPosixPath(path));
  struct stat st;
  return lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && unlink(target.c_str()) == 0;
}

}  // namespace sys::posix
