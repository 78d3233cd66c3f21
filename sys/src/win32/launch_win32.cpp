#include "launch_win32.h"

#include "scoped_handle.h"
#include "wide_path_win32.h"

namespace sys::win32 {
namespace {

class Win32Process final : public Process {
 public:
  explicit Win32Process(HANDLE handle) : handle_(handle) {}
  std::optional<std::uint32_t> ExitStatus() override {
    // The signal, not GetExitCodeProcess alone: a program may end with the
    // value that also means "still running" (259).
    if (WaitForSingleObject(handle_.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD status = 0;
    if (!GetExitCodeProcess(handle_.get(), &status)) return std::nullopt;
    return status;
  }

 private:
  ScopedHandle handle_;
};

}  // namespace

std::uint32_t WinExec(const std::string& commandLine, int show, std::unique_ptr<Process>* process) {
  // What WinExec itself does, keeping the process handle it would close.
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION started = {};
  std::wstring line = Wide(commandLine);  // CreateProcessW may write into it
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    // WinExec's answers are the DOS-era codes below 32; anything else it
    // reports as a bad format.
    const DWORD error = GetLastError();
    return error < 32 ? error : ERROR_BAD_FORMAT;
  }
  CloseHandle(started.hThread);
  if (process)
    *process = std::make_unique<Win32Process>(started.hProcess);
  else
    CloseHandle(started.hProcess);
  return 33;
}

std::int32_t ShellExecute(HWND window, const std::string& verb, const std::string& file,
                          const std::string& parameters, const std::string& directory, int show,
                          std::unique_ptr<Process>* process) {
  const std::wstring wideVerb = Wide(verb), wideFile = Wide(file), wideParameters = Wide(parameters),
                     wideDirectory = Wide(directory);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  // ShellExecute shows no error boxes of its own either.
  info.fMask = SEE_MASK_FLAG_NO_UI | (process ? SEE_MASK_NOCLOSEPROCESS : 0);
  info.hwnd = window;
  info.lpVerb = verb.empty() ? nullptr : wideVerb.c_str();
  info.lpFile = wideFile.c_str();
  info.lpParameters = parameters.empty() ? nullptr : wideParameters.c_str();
  info.lpDirectory = directory.empty() ? nullptr : wideDirectory.c_str();
  info.nShow = show;
  const BOOL ok = ShellExecuteExW(&info);
  auto result = static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(info.hInstApp));
  if (!ok && result > 32) result = SE_ERR_ACCESSDENIED;  // a failure never reads as a launch
  if (ok && result <= 32) result = 33;
  if (info.hProcess) {
    if (ok && process)
      *process = std::make_unique<Win32Process>(info.hProcess);
    else
      CloseHandle(info.hProcess);
  }
  return result;
}

}  // namespace sys::win32
