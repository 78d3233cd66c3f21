#pragma once
// The unattended mode for deployment tools: the program's command line, its
// exit statuses and its log.
#include <string>
#include <vector>

namespace sys {
class System;
}

namespace app {

// Exit statuses. The installer's own numbers where Windows Installer has
// one, so that deployment tools read them as they read an installation's.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRestartRequired = 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
inline constexpr int kExitCapicomFailed = 1603;     // ERROR_INSTALL_FAILURE
inline constexpr int kExitBadCommandLine = 1639;    // ERROR_INVALID_COMMAND_LINE
inline constexpr int kExitUnpackingFailed = 10;
inline constexpr int kExitCertificatesFailed = 11;
inline constexpr int kExitZoneFailed = 12;
inline constexpr int kExitLogFailed = 13;

struct UnattendedOptions {
  bool capicom = true;
  bool certificates = true;
  bool zone = true;
  std::string log;  // no log when empty
};

struct CommandLine {
  enum class Kind { Window, Help, Quiet, Bad } kind = Kind::Window;
  UnattendedOptions options;
  std::string error;  // for Bad: what is wrong, in the program's language
  bool quiet = false;  // /quiet was given: no box even for a bad command line
};

// The arguments after the program's name, in UTF-8. Switches begin with "/"
// or "-" and compare without case, as Windows programs' do.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage shown by "/?".
extern const char kUsage[];

// One UTF-8 line per step, to a file the administrator named; each line is
// on disk before the next step begins, so a run that is stopped leaves what
// it did.
class UnattendedLog {
 public:
  UnattendedLog(sys::System& system, std::string path) : system_(system), path_(std::move(path)) {}
  // False when the file cannot be written; nothing is logged without a path.
  bool Write(const std::string& line);

 private:
  sys::System& system_;
  std::string path_;
  std::string text_;
};

// Runs the program as the command line asks; returns the exit status.
int RunFromCommandLine(sys::System& system, const CommandLine& command);

}  // namespace app
