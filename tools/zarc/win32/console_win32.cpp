#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "../console.h"
#include "sys/codepage.h"

namespace zarc {

namespace {

// Ctrl-C at the prompt ends the program; the console it shares with the
// shell must not stay without echo.
HANDLE g_input = nullptr;
DWORD g_saved = 0;

BOOL WINAPI OnControl(DWORD) {
  if (g_input) SetConsoleMode(g_input, g_saved);
  return FALSE;  // and on to the default handler, which ends the program
}

// One line typed at the console, without its line end; false at the end of
// input (Ctrl-Z at the start of a line) or on a read error.
bool ReadConsoleLine(HANDLE input, std::string& line) {
  std::u16string text;
  bool ended = false, got = false;
  for (;;) {
    wchar_t buffer[256];
    DWORD read = 0;
    if (!ReadConsoleW(input, buffer, sizeof buffer / sizeof buffer[0], &read, nullptr) || read == 0) break;
    got = true;
    std::size_t n = read;
    for (std::size_t i = 0; i < n; ++i) {
      if (buffer[i] == L'\n') {
        ended = true;
        break;
      }
      // Ctrl-Z at the start of a line is the console's end of input.
      if (buffer[i] == 0x1A && text.empty()) {
        got = ended = false;
        break;
      }
      text.push_back(static_cast<char16_t>(buffer[i]));
    }
    if (ended || !got) break;
  }
  if (!text.empty() && text.back() == u'\r') text.pop_back();
  line = sys::WideToUtf8(text);
  return ended || got;
}

}  // namespace

char PathSeparator() { return '\\'; }

bool NamesIgnoreCase() { return true; }

bool NtfsFileTimes() { return true; }

// An administrator is no superuser of Unix owners: the blocks' ids name no
// account here.
bool RestoresOwnersByDefault() { return false; }

// Making a file on Windows costs far more than writing a small one.
std::uint64_t SmallestFileMadeAhead() { return 0; }

void SetBinaryOutput() { _setmode(_fileno(stdout), _O_BINARY); }

void SetBinaryInput() { _setmode(_fileno(stdin), _O_BINARY); }

// Standard input is always spooled: a redirected file's name is not worth
// the handle-to-path calls for what a copy costs.
bool SeekableInputName(std::u16string&) { return false; }

bool ReadLine(const std::string& prompt, std::string& line) {
  line.clear();
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  DWORD mode;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  return GetConsoleMode(input, &mode) && ReadConsoleLine(input, line);
}

bool IsTerminal(StdStream stream) {
  if (stream == StdStream::Error) return _isatty(2) != 0;
  if (stream == StdStream::Output) return _isatty(1) != 0;
  // _isatty holds for the NUL device too; only a console can be asked.
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool ReadSecretLine(const std::string& prompt, std::string& line) {
  line.clear();
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved;
  if (!GetConsoleMode(input, &saved)) return false;
  g_saved = saved;
  g_input = input;
  SetConsoleCtrlHandler(OnControl, TRUE);
  // Line input stays on, so editing keys work as at any other prompt.
  SetConsoleMode(input, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                            ENABLE_PROCESSED_INPUT);
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  bool got = ReadConsoleLine(input, line);
  // The Enter that ended the line was not echoed either.
  std::fputc('\n', stderr);
  SetConsoleMode(input, saved);
  SetConsoleCtrlHandler(OnControl, FALSE);
  g_input = nullptr;
  return got;
}

}  // namespace zarc

int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) {
    std::wstring w(argv[i]);
    args.emplace_back(w.begin(), w.end());
  }
  return zarc::Main(args);
}
