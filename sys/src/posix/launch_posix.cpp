#include "launch_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
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

// Starts the program without waiting for it; a grandchild, so that no
// zombie is left behind for the program's own lifetime.
bool Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& directory) {
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
    if (fork() != 0) _exit(0);
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
      char failed = 1;
      (void)!write(pipefd[1], &failed, 1);
      _exit(127);
    }
    execv(program.c_str(), argv.data());
    char failed = 1;
    (void)!write(pipefd[1], &failed, 1);
    _exit(127);
  }
  close(pipefd[1]);
  int status = 0;
  waitpid(child, &status, 0);
  // The grandchild writes only when exec failed; a successful exec closes
  // the pipe (close-on-exec), so the read sees its end.
  char failed = 0;
  ssize_t n = read(pipefd[0], &failed, 1);
  close(pipefd[0]);
  return n <= 0;
}

}  // namespace

std::uint32_t WinExec(const std::string& commandLine) {
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
    return Spawn("/bin/sh", args, {}) ? kExecStarted : kErrorFileNotFound;
  }
  return Spawn(program, args, {}) ? kExecStarted : kErrorFileNotFound;
}

std::int32_t ShellExecute(const std::string& verb, const std::string& file, const std::string& parameters,
                          const std::string& directory) {
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
  return Spawn(handler, args, ToPosixPath(directory)) ? kShellStarted : kShellAccessDenied;
}

}  // namespace sys::posix
