#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "scoped_handle.h"
#include "sys/file_lock.h"
#include "wide_path_win32.h"

namespace sys {

namespace {

std::uint32_t ReadHolder(const std::wstring& name) {
  // Every share flag: the holder has the file open for writing and deletion.
  win32::ScopedHandle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  char text[16] = {};
  DWORD n = 0;
  if (!ReadFile(file.get(), text, sizeof text - 1, &n, nullptr) || n == 0) return 0;
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

}  // namespace

FileLock::State FileLock::TryOnce() {
  const std::wstring name = win32::NativeWide(name_);
  // No write sharing makes the lock: a second opener for writing is refused
  // until this handle closes, and closing it (also by the process's end)
  // deletes the file.
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A file whose holder just closed it is refused while its deletion is
    // pending.
    const bool pending =
        error == ERROR_ACCESS_DENIED && GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (error == ERROR_SHARING_VIOLATION || pending) {
      holder_ = ReadHolder(name);
      return State::Busy;
    }
    lastError_ = static_cast<int>(error);
    return State::Failed;
  }
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%lu\r\n", static_cast<unsigned long>(GetCurrentProcessId()));
  DWORD written = 0;
  // The id is for the message of the one who waits; the lock holds without it.
  SetEndOfFile(h);
  WriteFile(h, text, static_cast<DWORD>(n), &written, nullptr);
  handle_ = reinterpret_cast<std::intptr_t>(h);
  holder_ = 0;
  inherited_ = true;
  return State::Held;
}

void FileLock::Release() {
  if (handle_ == kNoHandle) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNoHandle;
}

bool FolderRefusesFiles(int error) {
  return error == ERROR_PATH_NOT_FOUND || error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
         error == ERROR_NETWORK_ACCESS_DENIED;
}

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessRuns(std::uint32_t pid) {
  if (pid == 0) return false;
  win32::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  return !GetExitCodeProcess(process.get(), &code) || code == STILL_ACTIVE;
}

}  // namespace sys
