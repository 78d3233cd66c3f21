// Test payload only: a stand-in for the programs the setup starts
// (certmgr.exe, msiexec.exe). It appends its command line, as the system
// passed it, to %ROVEND_STANDIN_LOG%\<name>.log (%TEMP%\rovend-<name>.log
// when that is not set), then stays alive for
// %ROVEND_STANDIN_SLEEP_<name>% milliseconds (so that an installer can be
// seen running) and exits with the status %ROVEND_STANDIN_STATUS_<name>% (0
// when it is not set), so that tests can play a failed import or install.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
  return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring name = module;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  name = name.substr(0, name.rfind(L'.'));
  std::wstring folder = Env(L"ROVEND_STANDIN_LOG");
  std::wstring log = folder.empty() ? Env(L"TEMP") + L"\\rovend-" + name + L".log" : folder + L"\\" + name + L".log";
  {
    HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      std::string line = Utf8(GetCommandLineW()) + "\n";
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
    }
  }
  std::wstring sleep = Env((L"ROVEND_STANDIN_SLEEP_" + name).c_str());
  if (!sleep.empty()) Sleep(static_cast<DWORD>(_wtoi(sleep.c_str())));
  // Read as unsigned, so that 4294967295 ends the program with -1.
  return static_cast<int>(wcstoul(Env((L"ROVEND_STANDIN_STATUS_" + name).c_str()).c_str(), nullptr, 10));
}
