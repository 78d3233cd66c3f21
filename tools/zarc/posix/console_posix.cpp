#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "../console.h"
#include "sys/codepage.h"

namespace zarc {

namespace {

// Kept where a signal handler can reach it: Ctrl-C at the prompt must not
// leave the shell without echo.
struct termios g_saved;
volatile sig_atomic_t g_echoOff = 0;
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];

void RestoreEcho() {
  if (g_echoOff) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  g_echoOff = 0;
}

void OnSignal(int signal) {
  RestoreEcho();
  // The default action now, so the program ends as the signal meant.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(signal, &dfl, nullptr);
  raise(signal);
}

}  // namespace

bool IsTerminal(StdStream stream) {
  int fd = stream == StdStream::Input ? STDIN_FILENO : stream == StdStream::Output ? STDOUT_FILENO : STDERR_FILENO;
  return isatty(fd) == 1;
}

char PathSeparator() { return '/'; }

bool NamesIgnoreCase() { return false; }

bool NtfsFileTimes() { return false; }

bool RestoresOwnersByDefault() { return geteuid() == 0; }

// Here a file is made in about the time its few bytes take to write, and
// files made on another thread meet the batch's own in the kernel's locks:
// a million small entries took as long with the helpers as without, for
// two fifths more processor time. A file made while a larger entry
// inflates, or while a slow disk holds its writes, costs the batch nothing.
std::uint64_t SmallestFileMadeAhead() { return 4096; }

void SetBinaryOutput() {}

void SetBinaryInput() {}

bool SeekableInputName(std::u16string& name) {
  struct stat st;
  if (fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode) || lseek(STDIN_FILENO, 0, SEEK_CUR) < 0) return false;
  name = u"/dev/fd/0";
  return true;
}

namespace {

// One line from standard input, read a byte at a time so that nothing
// behind the line is taken from a shared input. Without its line end.
bool ReadInputLine(std::string& line) {
  line.clear();
  bool ended = false, got = false;
  for (;;) {
    char c;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got = true;
    if (c == '\n') {
      ended = true;
      break;
    }
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // A last line without its end still counts; nothing at all is the end.
  return ended || got;
}

}  // namespace

bool ReadLine(const std::string& prompt, std::string& line) {
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  return ReadInputLine(line);
}

bool ReadSecretLine(const std::string& prompt, std::string& line) {
  line.clear();
  struct termios quiet;
  bool echoOff = tcgetattr(STDIN_FILENO, &g_saved) == 0;
  if (echoOff) {
    struct sigaction handler {};
    handler.sa_handler = OnSignal;
    sigemptyset(&handler.sa_mask);
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
      sigaction(kSignals[i], &handler, &g_previous[i]);
    quiet = g_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    // TCSANOW rather than TCSAFLUSH: what was typed ahead is the answer.
    g_echoOff = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  bool got = ReadInputLine(line);
  // The Enter that ended the line was not echoed either.
  std::fputc('\n', stderr);
  if (echoOff) {
    RestoreEcho();
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
      sigaction(kSignals[i], &g_previous[i], nullptr);
  }
  return got;
}

}  // namespace zarc

int main(int argc, char** argv) {
  // Without TZ the C library looks at /etc/localtime again at every local
  // time it converts, two calls per extracted file; named, the zone is
  // read once. The zone is the same one.
  if (!std::getenv("TZ") && access("/etc/localtime", R_OK) == 0) setenv("TZ", ":/etc/localtime", 0);
  // Buffers of a few hundred KiB come and go with every entry, often freed
  // on another thread than made them. Given back to the system at each
  // free, every one came back as fresh pages, a fault per page: a quarter
  // of the faults of extracting a hundred Zstandard or LZMA entries. Kept,
  // the peak of a test or an extraction of the mixed tree stays as it was,
  // and that of its creation grows by a buffer or two (under 1 MB).
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(sys::Utf8ToWide(argv[i]));
  return zarc::Main(args);
}
