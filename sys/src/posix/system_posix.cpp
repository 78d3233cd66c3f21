// The POSIX stand-in for the Windows system services: shell folders from the
// environment (XDG), administrators = effective uid 0, processes from /proc,
// folders through the file system.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "../common/stdio_text_file.h"
#include "io_posix.h"
#include "launch_posix.h"
#include "path_posix.h"
#include "registry_posix.h"
#include "resources_posix.h"
#include "working_files_posix.h"
#include "sys/system.h"

namespace sys {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// $XDG_<name> if set and absolute, else $HOME/<fallback>.
std::string XdgFolder(const char* variable, const char* fallback) {
  std::string value = Env(variable);
  if (!value.empty() && value.front() == '/') return value;
  std::string home = Env("HOME");
  if (home.empty()) return {};
  return home + "/" + fallback;
}

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

class PosixSystem final : public System {
 public:
  std::string GetSpecialFolder(int folder) override {
    std::string path;
    switch (folder) {
      case 26:  // application data
        path = XdgFolder("XDG_DATA_HOME", ".local/share");
        break;
      case 28:  // local application data
        path = XdgFolder("XDG_CACHE_HOME", ".cache");
        break;
      case 5:  // documents
        path = XdgFolder("XDG_DOCUMENTS_DIR", "Documents");
        break;
      case 16:  // desktop
        path = XdgFolder("XDG_DESKTOP_DIR", "Desktop");
        break;
      case 40:  // profile
        path = Env("HOME");
        break;
      case 36:  // the Windows folder: only where the environment names one
        path = Env("WINDIR");
        break;
      case 37:  // the system folder
        path = Env("WINDIR");
        if (!path.empty()) path += "/system32";
        break;
      default:
        return {};
    }
    path = StripTrailingSeparators(posix::ToPosixPath(path));
    // The shell's buffer holds 260 characters and a NUL.
    if (path.size() > 261) path.resize(261);
    return path;
  }

  bool IsUserAnAdmin() override { return geteuid() == 0; }

  void FillProcessList(ProcessList* list) override {
    if (!list) return;
    DIR* proc = opendir("/proc");
    if (!proc) return;
    std::vector<long> pids;
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      long pid = std::strtol(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && pid > 0) pids.push_back(pid);
    }
    closedir(proc);
    std::sort(pids.begin(), pids.end());
    // Like the process-status route: the full path of the main module, and a
    // process whose module cannot be read (another user's) is left out.
    for (long pid : pids) {
      std::string link = "/proc/" + std::to_string(pid) + "/exe";
      char buffer[4096];
      ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
      if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) continue;
      list->emplace_back(buffer, static_cast<size_t>(n));
    }
  }

  std::uint32_t GetTickCount() override {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }

  bool DeleteFolder(const std::string& path) override {
    std::string target = StripTrailingSeparators(posix::ToPosixPath(path));
    if (target.empty() || target == "/") return false;
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return false;
    std::error_code error;
    std::filesystem::remove_all(target, error);  // does not follow symbolic links
    return !error;
  }

  bool RemoveLink(const std::string& path) override { return posix::RemoveLink(path); }

  std::unique_ptr<HeldFile> HoldFile(const std::string& path) override { return posix::HoldFile(path); }

  std::unique_ptr<HeldFolder> HoldFolder(const std::string& path) override { return posix::HoldFolder(path); }

  bool CreateFolder(const std::string& path) override {
    std::string target = StripTrailingSeparators(posix::ToPosixPath(path));
    return !target.empty() && mkdir(target.c_str(), 0777) == 0;
  }

  bool CopyFile(const std::string& existing, const std::string& target, bool failIfExists) override {
    std::error_code error;
    auto options = failIfExists ? std::filesystem::copy_options::none
                                : std::filesystem::copy_options::overwrite_existing;
    return std::filesystem::copy_file(posix::ToPosixPath(existing), posix::ToPosixPath(target), options, error) &&
           !error;
  }

  std::int32_t ShellExecute(void*, const std::string& verb, const std::string& file,
                            const std::string& parameters, const std::string& directory, int,
                            std::unique_ptr<Process>* process) override {
    return posix::ShellExecute(verb, file, parameters, directory, process);
  }

  std::uint32_t WinExec(const std::string& commandLine, int, std::unique_ptr<Process>* process) override {
    return posix::WinExec(commandLine, process);
  }

  std::unique_ptr<TextFile> OpenTextFile(const std::string& path, int& error) override {
    std::FILE* file = std::fopen(posix::ToPosixPath(path).c_str(), "rb");
    error = file ? 0 : errno;
    if (file) {
      struct stat st;
      if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        error = EISDIR;
        return nullptr;
      }
    }
    return file ? std::make_unique<StdioTextFile>(file) : nullptr;
  }

  bool ForceFolders(const std::string& path) override {
    std::string target = StripTrailingSeparators(posix::ToPosixPath(path));
    if (target.empty()) return false;
    std::error_code error;
    std::filesystem::create_directories(target, error);
    return !error && std::filesystem::is_directory(target);
  }

  int WriteNewFile(const std::string& path, std::span<const std::uint8_t> data) override {
    const std::string target = posix::ToPosixPath(path);
    // Never into what is there: a link or a second name of another file in
    // its place would have us write elsewhere. The name is removed and a new
    // file made, which fails should something come back in between.
    int fd = -1;
    for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
      struct stat st;
      if (lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return EISDIR;
      if (unlink(target.c_str()) != 0 && errno != ENOENT) return errno;
      fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    int error = 0;
    auto size = static_cast<std::int64_t>(data.size());
    if (posix::TransferAll(size, error, [&](std::int64_t at, std::size_t n) {
          return write(fd, data.data() + at, n);
        }) != size) {
      close(fd);
      return error ? error : EIO;
    }
    return close(fd) == 0 ? 0 : errno;
  }

  std::string ErrorMessage(int code) override { return std::strerror(code); }

  std::optional<std::span<const std::uint8_t>> FindModuleResource(const std::string& type,
                                                                   const std::string& name) override {
    return posix::FindRegisteredResource(type, name);
  }

  RegistryKey OpenUserKey(const std::string& path, bool create) override { return registry_.Open(path, create); }
  bool SetDwordValue(RegistryKey key, const std::string& name, std::uint32_t data) override {
    return registry_.SetDword(key, name, data);
  }
  void CloseUserKey(RegistryKey key) override { registry_.Close(key); }

 private:
  posix::FileRegistry registry_;
};

}  // namespace

System& Platform() {
  static PosixSystem system;
  return system;
}

}  // namespace sys
