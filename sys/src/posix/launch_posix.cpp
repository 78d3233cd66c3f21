#include "launch_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "../common/command_line.h"
#include "path_posix.h"

namespace sys::posix {
namespace {

// Windows' answers.
constexpr std::uint32_t kExecStarted = 33;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::int32_t kShellStarted = 42;
constexpr std::int32_t kShellFileNotFound = 2;
constexpr std::int32_t kShellAccessDenied = 5;
constexpr std::int32_t kShellNoAssociation = 31;

bool IsScript(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char head[2] = {};
  bool script = std::fread(head, 1, 2, f) == 2 && head[0] == '#' && head[1] == '!';
  std::fclose(f);
  return script;
}

// Windows starts a program whatever its permission bits; a file unpacked
// from an archive has none, so a script counts as a program here too.
bool IsProgram(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return access(path.c_str(), X_OK) == 0 || IsScript(path);
}

std::string FindProgram(const std::string& windowsPath) {
  std::string path = ToPosixPath(windowsPath);
  if (IsProgram(path)) return path;
  if (IsProgram(path + ".exe")) return path + ".exe";
  return {};
}

// A started child; a handle released before its end leaves a thread to
// reap it, so that no zombie stays for the program's lifetime.
class PosixProcess final : public Process {
 public:
  explicit PosixProcess(pid_t pid) : pid_(pid) {}
  ~PosixProcess() override {
    if (status_ || Reap(WNOHANG)) return;
    std::thread([pid = pid_] {
      int ignored = 0;
      while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
  std::optional<std::uint32_t> ExitStatus() override {
    if (!status_) Reap(WNOHANG);
    return status_;
  }

 private:
  bool Reap(int flags) {
    int status = 0;
    pid_t r;
    while ((r = waitpid(pid_, &status, flags)) < 0 && errno == EINTR) {
    }
    if (r != pid_) return false;
    // A program killed by a signal ends with the status a shell reports.
    status_ = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return true;
  }
  pid_t pid_;
  std::optional<std::uint32_t> status_;
};

// Starts the program without waiting for it; true once it runs. The child
// is handed over in `process`, or else left to a reaper.
bool Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
           std::unique_ptr<Process>* process) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(pipefd[0]);
    close(pipefd[1]);
    return false;
  }
  if (child == 0) {
    close(pipefd[0]);
    setsid();
    if (directory.empty() || chdir(directory.c_str()) == 0) execv(program.c_str(), argv.data());
    char failed = 1;
    (void)!write(pipefd[1], &failed, 1);
    _exit(127);
  }
  close(pipefd[1]);
  // The child writes only when exec failed; a successful exec closes the
  // pipe (close-on-exec), so the read sees its end.
  char failed = 0;
  ssize_t n;
  while ((n = read(pipefd[0], &failed, 1)) < 0 && errno == EINTR) {
  }
  close(pipefd[0]);
  auto started = std::make_unique<PosixProcess>(child);
  if (n > 0) {
    started->ExitStatus();
    return false;
  }
  if (process) *process = std::move(started);
  return true;
}

}  // namespace

std::uint32_t WinExec(const std::string& commandLine, std::unique_ptr<Process>* process) {
  std::string program;
  std::string rest;
  if (!commandLine.empty() && commandLine.front() == '"') {
    size_t end = commandLine.find('"', 1);
    program = FindProgram(commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1));
    rest = end == std::string::npos ? "" : commandLine.substr(end + 1);
  } else {
    // "C:\Documents and Settings\x.exe a" tries "C:\Documents", then
    // "C:\Documents and", ... as CreateProcess does.
    for (size_t pos = 0;; ++pos) {
      pos = commandLine.find(' ', pos);
      std::string prefix = commandLine.substr(0, pos);
      program = FindProgram(prefix);
      if (!program.empty()) {
        rest = pos == std::string::npos ? "" : commandLine.substr(pos);
        break;
      }
      if (pos == std::string::npos) break;
    }
  }
  if (program.empty()) return kErrorFileNotFound;
  std::vector<std::string> args{program};
  for (std::string& a : SplitArguments(rest)) args.push_back(std::move(a));
  if (access(program.c_str(), X_OK) != 0) {
    args.insert(args.begin(), "/bin/sh");
    return Spawn("/bin/sh", args, {}, process) ? kExecStarted : kErrorFileNotFound;
  }
  return Spawn(program, args, {}, process) ? kExecStarted : kErrorFileNotFound;
}

std::int32_t ShellExecute(const std::string& verb, const std::string& file, const std::string& parameters,
                          const std::string& directory, std::unique_ptr<Process>* process) {
  const std::string path = ToPosixPath(file);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return kShellFileNotFound;
  if (!verb.empty() && verb != "open") return kShellNoAssociation;
  size_t dot = path.find_last_of("./");
  if (dot == std::string::npos || path[dot] != '.') return kShellNoAssociation;
  std::string variable = "ROVEND_ASSOCIATION_";
  for (char c : path.substr(dot + 1)) variable += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const char* handler = std::getenv(variable.c_str());
  if (!handler || !*handler) return kShellNoAssociation;
  std::vector<std::string> args{handler, path};
  for (std::string& a : SplitArguments(parameters)) args.push_back(std::move(a));
  return Spawn(handler, args, ToPosixPath(directory), process) ? kShellStarted : kShellAccessDenied;
}

}  // namespace sys::posix
