#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/setup.h"
#include "sys/codepage.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The wide command line: a log's path may hold any name.
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; argv && i < count; ++i)
    args.push_back(sys::WideToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  if (argv) LocalFree(argv);
  return app::RunSetup(args);
}
